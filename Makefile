# Thin wrapper over CMake: `make demo` builds Vellum and decodes a bundled example,
# `make test` builds everything and runs all tests.
BUILD ?= build
SANBUILD ?= build-sanitize
GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test sanitize-test clean

all: build

build:
	cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd examples/bmp && ../../$(BUILD)/vellum -layout bmp.vlt -data sample.bmp

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize-test:
	cmake -S . -B $(SANBUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DVELLUM_SANITIZE=ON >/dev/null
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SANBUILD)
