// FuzzSupport.cpp - one in-process run of the program for the fuzz targets.
#include "FuzzSupport.h"

#include "CommandLine.h"

void VLFuzzRunLayout(const std::string& layout, const uint8_t* data, size_t dataSize, bool runPasses) {
    VLArena arena{};
    VLScanResult scan = VLTokenize(layout.c_str(), &arena);
    if (!scan.invalidTokens) {
        VLProgram program = VLCompile(scan.tokens, &arena);
        if (!VLErrorIsValid(&program.error) && runPasses) {
            VLFile layoutFile{"fuzz.vlt", layout.size(), const_cast<char*>(layout.c_str())};
            VLFile dataFile{"fuzz.bin", dataSize, reinterpret_cast<char*>(const_cast<uint8_t*>(data))};
            VLRunOptions options{};
            options.stepLimit = VLFuzzStepLimit;
            VLWriter out, err;
            VLWriterInitNull(&out);
            VLWriterInitNull(&err);
            VLRunPasses(&program, &layoutFile, &dataFile, &options, &out, &err);
            VLWriterFree(&out);
            VLWriterFree(&err);
        }
    }
    VLArenaRelease(&arena);
}
