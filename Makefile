# Thin wrapper over CMake: `make demo` builds Vellum and decodes a bundled example,
# `make test` builds everything and runs all tests.
BUILD ?= build
SANBUILD ?= build-sanitize
GEN := $(shell command -v ninja >/dev/null 2>&1 && echo "-G Ninja")
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build demo test sanitize-test clean

all: build

# GoogleTest is required by the test targets only: `make demo` works without it.
REQUIRE_GTEST ?= OFF

build:
	cmake -S . -B $(BUILD) $(GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLUM_REQUIRE_GTEST=$(REQUIRE_GTEST) >/dev/null
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	cd examples/bmp && ../../$(BUILD)/vellum -layout bmp.vlt -data sample.bmp

test: REQUIRE_GTEST = ON
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

sanitize-test:
	cmake -S . -B $(SANBUILD) $(GEN) -DCMAKE_BUILD_TYPE=Debug -DVELLUM_SANITIZE=ON -DVELLUM_REQUIRE_GTEST=ON >/dev/null
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ctest --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD) $(SANBUILD)
