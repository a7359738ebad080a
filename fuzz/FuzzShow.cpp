// FuzzShow.cpp - turns one fuzz input back into files: the layout and the
// data that the input stands for, so that a finding can be run with the
// command line, reduced by hand and kept as a golden case.
// usage: FuzzShow structured|program INPUT [OUTDIR]
// Without OUTDIR the layout is printed; with it, OUTDIR receives l.vlt, d.bin
// and an args line for tests/run_case.sh.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "FuzzGenerator.h"

static bool VLFuzzWriteFile(const std::string& path, const void* bytes, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return false;
    bool ok = size == 0 || fwrite(bytes, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

int main(int argc, char** argv) {
    if (argc < 3 || (strcmp(argv[1], "structured") != 0 && strcmp(argv[1], "program") != 0)) {
        fprintf(stderr, "usage: %s structured|program INPUT [OUTDIR]\n", argv[0]);
        return 2;
    }
    FILE* file = fopen(argv[2], "rb");
    if (!file) {
        fprintf(stderr, "cannot open %s\n", argv[2]);
        return 2;
    }
    std::vector<uint8_t> input;
    for (int c; (c = fgetc(file)) != EOF;) input.push_back(uint8_t(c));
    fclose(file);
    VLFuzzCase split{};
    if (strcmp(argv[1], "structured") == 0) {
        split = VLFuzzSplitStructured(input.data(), input.size());
    } else {
        // The FuzzProgram format: layout, "\n%%\n", data.
        std::string text(input.begin(), input.end());
        size_t at = text.find("\n%%\n");
        split.layout = text.substr(0, at);
        size_t dataStart = at == std::string::npos ? input.size() : at + 4;
        split.data = input.data() + dataStart;
        split.dataSize = input.size() - dataStart;
        split.debug = split.layout.compare(0, 8, "//-debug") == 0;
    }
    if (argc < 4) {
        fwrite(split.layout.data(), 1, split.layout.size(), stdout);
        fprintf(stdout, "-- %zu data bytes%s\n", split.dataSize, split.debug ? ", -debug" : "");
        return 0;
    }
    std::string dir = argv[3];
    std::string args = std::string("-layout l.vlt -data d.bin") + (split.debug ? " -debug" : "") + "\n";
    bool ok = VLFuzzWriteFile(dir + "/l.vlt", split.layout.data(), split.layout.size()) &&
              VLFuzzWriteFile(dir + "/d.bin", split.data, split.dataSize) &&
              VLFuzzWriteFile(dir + "/args", args.data(), args.size());
    if (!ok) fprintf(stderr, "cannot write into %s\n", argv[3]);
    return ok ? 0 : 1;
}
