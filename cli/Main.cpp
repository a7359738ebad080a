// Main.cpp - the process entry point: standard output and standard error
// through buffered writers, then the driver.
#include "CommandLine.h"

int main(int argc, char** argv) {
    VLWriter out, err;
    VLWriterInitFile(&out, stdout, 1 << 20);
    VLWriterInitFile(&err, stderr, 1 << 12);
    // Each stream flushes the other before it writes, so where both reach one
    // terminal or file, everything appears in the order it was written.
    err.flushFirst = &out;
    out.flushFirst = &err;
    int status = VLCommandLineMain(argc, argv, &out, &err);
    VLWriterFlush(&out);
    VLWriterFlush(&err);
    VLWriterFree(&out);
    VLWriterFree(&err);
    return status;
}
