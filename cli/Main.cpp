// Main.cpp - the process entry point: standard output and standard error
// through buffered writers, then the driver.
#include "CommandLine.h"

int main(int argc, char** argv) {
    VLWriter out, err;
    VLWriterInitFile(&out, stdout, 1 << 20);
    VLWriterInitFile(&err, stderr, 1 << 12);
    err.flushFirst = &out;  // diagnostics appear after the output that preceded them
    int status = VLCommandLineMain(argc, argv, &out, &err);
    VLWriterFlush(&out);
    VLWriterFlush(&err);
    VLWriterFree(&out);
    VLWriterFree(&err);
    return status;
}
