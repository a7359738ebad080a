// FuzzProgram.cpp - the whole program: the input is split into a layout and a
// data file at the first "\n%%\n" (no separator: all layout, empty data),
// compiled and run through both passes with output discarded. A layout that
// begins with the comment "//-debug" also gets the listing and the trace.
#include <cstring>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const char* text = reinterpret_cast<const char*>(bytes);
    static const char separator[] = "\n%%\n";
    size_t split = size;
    for (size_t i = 0; i + 4 <= size; ++i) {
        if (memcmp(text + i, separator, 4) == 0) {
            split = i;
            break;
        }
    }
    std::string layout(text, split);
    size_t dataStart = split + 4 <= size ? split + 4 : size;
    bool debug = layout.compare(0, 8, "//-debug") == 0;
    VLFuzzRunLayout(layout, bytes + dataStart, size - dataStart, true, debug);
    return 0;
}
