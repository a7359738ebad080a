// FuzzGenerator.h - the structure-aware layout generator of FuzzStructured,
// shared with the FuzzShow tool that turns a fuzz input back into a layout
// file and a data file (to reproduce a finding or make a golden case of it).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// One structured fuzz input taken apart: the layout the steering bytes
// describe, the data bytes (a view into the input) and whether the run asks
// for the -debug listing and trace.
struct VLFuzzCase {
    std::string layout;
    const uint8_t* data;
    size_t dataSize;
    bool debug;
};

// Input format: byte 0 and 1 give the data length (little-endian, taken modulo
// what is left), byte 2 the options (bit 0: debug), then the steering bytes;
// the data is the tail of the input. Short inputs still give a layout (the
// generator reads zeros past the steering bytes and then ends every list).
VLFuzzCase VLFuzzSplitStructured(const uint8_t* bytes, size_t size);
