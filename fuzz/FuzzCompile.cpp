// FuzzCompile.cpp - layout text alone through the scanner and the compiler.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    std::string layout(reinterpret_cast<const char*>(bytes), size);
    VLFuzzRunLayout(layout, nullptr, 0, false);
    return 0;
}
