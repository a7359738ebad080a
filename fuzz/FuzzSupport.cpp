// FuzzSupport.cpp - one in-process run of the program for the fuzz targets:
// the same stages and reports as the command line (invalid-token excerpts,
// the compile error's excerpt, both passes), with output formatted in full
// and then discarded, and every record of the run released at the end.
#include "FuzzSupport.h"

#include "CommandLine.h"

void VLFuzzRunLayout(const std::string& layout, const uint8_t* data, size_t dataSize, bool runPasses,
                     bool debug) {
    VLArena arena{};
    VLWriter out, err;
    VLWriterInitNull(&out);
    VLWriterInitNull(&err);
    VLFile layoutFile{"fuzz.vlt", layout.size(), const_cast<char*>(layout.c_str())};
    VLScanResult scan = VLTokenize(layout.c_str(), &arena);
    if (scan.invalidTokens) {
        for (const VLToken* token = scan.invalidTokens; token; token = token->invalid.nextInvalid)
            VLPrintTokenLocation(&err, &layoutFile, token);
    } else {
        VLProgram program = VLCompile(scan.tokens, &arena);
        if (VLErrorIsValid(&program.error)) {
            VLPrintTokenLocation(&err, &layoutFile, program.error.token);
            VLWrite(&err, program.error.message, size_t(program.error.length));
        } else if (runPasses) {
            VLFile dataFile{"fuzz.bin", dataSize, reinterpret_cast<char*>(const_cast<uint8_t*>(data))};
            VLRunOptions options{};
            options.debug = debug;
            options.stepLimit = debug ? VLFuzzTraceStepLimit : VLFuzzStepLimit;
            VLRunPasses(&program, &layoutFile, &dataFile, &options, &out, &err);
        }
    }
    VLWriterFree(&out);
    VLWriterFree(&err);
    VLArenaRelease(&arena);
}
