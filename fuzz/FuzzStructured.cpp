// FuzzStructured.cpp - layouts built by the structure-aware generator
// (FuzzGenerator.cpp) from the input bytes, run over the input's tail as the
// data file, now and then with the -debug listing and trace.
#include "FuzzGenerator.h"
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    VLFuzzCase input = VLFuzzSplitStructured(bytes, size);
    VLFuzzRunLayout(input.layout, input.data, input.dataSize, true, input.debug);
    return 0;
}
