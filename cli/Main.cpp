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
    // Results that could not be written are a failure, never a silent success.
    if (out.failed) {
        VLWriteText(&err, "Failed to write standard output\n");
        if (status == 0) status = -1;
    }
    VLWriterFlush(&err);
    VLWriterFree(&out);
    VLWriterFree(&err);
    return status;
}
