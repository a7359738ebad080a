// Driver.cpp - the program's top-level control flow: the command-line options,
// loading the layout and data files, and the straight line from tokenizing
// through compiling to the two passes. Every stage that fails ends the run
// with its message and the matching exit status.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "CommandLine.h"
#include "output/Events.h"

static const char* const VLVersionText = "0.2.1";

// The usage text, split where the program's name goes.
static const char* const VLUsageHead =
    "\n"
    "=== Vellum - Structured Binary Editor ===\n"
    "Usage\n"
    "  ";
static const char* const VLUsageTail =
    " -data <binary-file> -layout <layout-file> [-debug] [-version]  Displays file content "
    "with specified layout.\n"
    "\n"
    "    -layout <layout-file>  The binary layout file (.vlt-file). See examples and README for "
    "format.\n"
    "    -data <data-file>      The binary content file.\n"
    "    -debug                 Prints instructions, can be useful for debugging but very "
    "verbose.\n"
    "    -test                  Writes \"test.bin\" in current folder, containing "
    "0,1,2,3..,255 in binary form - nice file for tests.\n"
    "    -version               Prints the version\n";

// Layout texts are scanned with 32-bit offsets, so a layout must stay below 4 GiB.
static const uint64_t VLLayoutSizeLimit = uint64_t(1) << 32;

enum VLLoadStatus {
    VLLoadStatus_Loaded,
    VLLoadStatus_Failed,    // cannot be opened, measured or read
    VLLoadStatus_TooLarge,  // readable, but larger than the caller accepts
};

struct VLLoadResult {
    VLLoadStatus status;
    VLFile file;
};

// A buffer for a file's contents. Buffers of many megabytes are aligned to,
// and asked to be backed by, 2 MiB pages where the system offers them: reading
// the file touches every page, and one fault per 2 MiB instead of one per
// 4 KiB makes loading a large file several times faster.
static char* VLAllocateFileBuffer(size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const size_t hugePage = size_t(1) << 21;
    if (size >= 8 * hugePage && size <= SIZE_MAX - hugePage) {
        size_t rounded = (size + hugePage - 1) & ~(hugePage - 1);
        void* buffer = aligned_alloc(hugePage, rounded);
        if (buffer) madvise(buffer, rounded, MADV_HUGEPAGE);  // only advice: a refusal leaves ordinary pages
        return static_cast<char*>(buffer);
    }
#endif
    return static_cast<char*>(malloc(size));
}

// Reads a file whole. A file of `sizeLimit` bytes or more is measured but not
// read. Directories and unreadable files fail the probe read of their first
// byte (their reported length means nothing); pipes fail to measure.
static VLLoadResult VLLoadFileLimited(const char* path, uint32_t extraBytes, uint64_t sizeLimit) {
    VLLoadResult result = {VLLoadStatus_Failed, {path, 0, nullptr}};
    FILE* file = fopen(path, "rb");
    if (!file) return result;
    bool readable = !(fgetc(file) == EOF && ferror(file));
    auto length = decltype(ftello(file))(-1);
    if (readable && fseeko(file, 0, SEEK_END) == 0) length = ftello(file);
    if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) {
        fclose(file);
        return result;
    }
    uint64_t size = uint64_t(length);
    if (size >= sizeLimit || size > SIZE_MAX - extraBytes - 1) {
        fclose(file);
        if (size >= sizeLimit) result.status = VLLoadStatus_TooLarge;
        result.file.size = size;
        return result;
    }
    // One spare byte, so that even an empty file gets a buffer (no buffer
    // means "not loaded").
    char* data = VLAllocateFileBuffer(size_t(size) + extraBytes + 1);
    bool ok = data != nullptr;
    if (ok && size > 0) ok = fread(data, 1, size_t(size), file) == size;
    fclose(file);
    if (!ok) {
        free(data);
        return result;
    }
    memset(data + size, 0, size_t(extraBytes) + 1);
    result.status = VLLoadStatus_Loaded;
    result.file.size = size;
    result.file.data = data;
    return result;
}

VLFile VLLoadFile(const char* path, uint32_t extraBytes) {
    return VLLoadFileLimited(path, extraBytes, UINT64_MAX).file;
}

// Writes the sample data file: the 256 byte values in order.
static void VLWriteTestFile(VLWriter* err) {
    unsigned char bytes[256];
    for (int i = 0; i < 256; ++i) bytes[i] = static_cast<unsigned char>(i);
    FILE* file = fopen("test.bin", "wb");
    bool ok = file != nullptr;
    if (ok) ok = fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
    if (file && fclose(file) != 0) ok = false;
    if (!ok) VLWriteText(err, "Failed to write test.bin\n");
}

struct VLOptions {
    const char* layoutPath;
    const char* dataPath;
    bool debug;
    bool versionPrinted;
    uint32_t format;         // VLOutputFormat: the last of -json and -ndjson given
    VLSelection selection;   // -select patterns
    bool badSelection;       // a -select PATH was no path
};

// Takes the path after "-layout" or "-data"; returns false when the arguments
// ran out (examination stops there).
static bool VLTakePath(int argc, char** argv, int* at, const char* option, const char** path,
                       VLWriter* err) {
    if (*at + 1 >= argc) {
        VLWritef(err, "Expected file after %s, got end of parameters.\n", option);
        return false;
    }
    *at += 1;
    if (*path)
        VLWritef(err, "\"%s\" already specified, ignoring %s.\n", option, argv[*at]);
    else
        *path = argv[*at];
    return true;
}

// Examines the arguments after the program name in order.
static VLOptions VLParseOptions(int argc, char** argv, VLWriter* out, VLWriter* err) {
    VLOptions options = {};
    for (int at = 1; at < argc; ++at) {
        const char* argument = argv[at];
        if (strcmp(argument, "-layout") == 0) {
            if (!VLTakePath(argc, argv, &at, "-layout", &options.layoutPath, err)) break;
        } else if (strcmp(argument, "-data") == 0) {
            if (!VLTakePath(argc, argv, &at, "-data", &options.dataPath, err)) break;
        } else if (strcmp(argument, "-debug") == 0) {
            options.debug = true;
        } else if (strcmp(argument, "-version") == 0) {
            if (!options.versionPrinted) VLWritef(out, "Version %s\n", VLVersionText);
            options.versionPrinted = true;
        } else if (strcmp(argument, "-test") == 0) {
            VLWriteTestFile(err);
        } else if (strcmp(argument, "-ndjson") == 0) {
            options.format = VLOutputFormat_Ndjson;
        } else if (strcmp(argument, "-json") == 0) {
            options.format = VLOutputFormat_Json;
        } else if (strcmp(argument, "-select") == 0) {
            if (at + 1 >= argc) {
                VLWriteText(err, "Expected path after -select, got end of parameters.\n");
                options.badSelection = true;
                break;
            }
            const char* error = nullptr;
            if (!VLSelectionAdd(&options.selection, argv[++at], &error)) {
                VLWritef(err, "Invalid -select path \"%s\": %s.\n", argv[at], error);
                options.badSelection = true;
            }
        } else {
            VLWritef(err, "Ignoring unknown directive \"%s\".\n", argument);
        }
    }
    return options;
}

// Reports a file that could not be loaded; returns true when it was.
static bool VLCheckLoaded(const VLLoadResult* load, VLWriter* err) {
    if (load->status == VLLoadStatus_Loaded) return true;
    if (load->status == VLLoadStatus_TooLarge)
        VLWritef(err, "Layout file %s is too large (%llu bytes); layout files must be smaller than 4 GiB.\n",
                 load->file.path, static_cast<unsigned long long>(load->file.size));
    else
        VLWritef(err, "Failed to open %s\n", load->file.path);
    return false;
}

// Each excerpt repeats the whole line of its token, so a file that is no
// layout at all (a binary file given as the layout) would print its long lines
// once per stray byte: gigabytes for a megabyte. The listing therefore stops
// after this many excerpts and counts the rest.
enum : uint32_t { VLInvalidTokensListed = 100 };

bool VLReportInvalidTokens(const VLScanResult* scan, const VLFile* layout, VLWriter* err) {
    if (!scan->invalidTokens) return false;
    VLWriteText(err, "Invalid tokens in layout file:\n");
    uint64_t listed = 0, unlisted = 0;
    for (const VLToken* token = scan->invalidTokens; token; token = token->invalid.nextInvalid) {
        if (listed < VLInvalidTokensListed) {
            VLPrintTokenLocation(err, layout, token);
            ++listed;
        } else {
            ++unlisted;
        }
    }
    if (unlisted) VLWritef(err, "... and %llu more invalid tokens.\n", static_cast<unsigned long long>(unlisted));
    return true;
}

bool VLReportCompileError(const VLProgram* program, const VLFile* layout, VLWriter* err) {
    if (!VLErrorIsValid(&program->error)) return false;
    VLPrintTokenLocation(err, layout, program->error.token);
    VLWritef(err, "ERROR %.*s\n", static_cast<int>(program->error.length), program->error.message);
    return true;
}

// Tokenizes, compiles and runs a loaded layout over loaded data. Returns the
// exit status: 0 when the run went to its end, 1 when the layout was rejected
// (nothing ran), 2 when a report stopped the run (the output is partial).
static int VLRunLayout(const VLFile* layout, const VLFile* data, VLOptions* given, VLWriter* out,
                       VLWriter* err) {
    VLArena arena = {};
    int status = 1;
    VLScanResult scan = VLTokenize(layout->data, &arena);
    if (!VLReportInvalidTokens(&scan, layout, err)) {
        VLProgram program = VLCompile(scan.tokens, &arena);
        if (!VLReportCompileError(&program, layout, err)) {
            VLRunOptions options = {given->debug ? 1u : 0u, 0, given->format,
                                    given->selection.patternCount ? &given->selection : nullptr};
            status = VLRunPasses(&program, layout, data, &options, out, err) ? 2 : 0;
        }
    }
    // Nothing is read after this point; releasing keeps repeated runs in one
    // process (tests, fuzzing) from accumulating memory.
    VLArenaRelease(&arena);
    return status;
}

static int VLRunOptionsGiven(VLOptions* given, int argc, char** argv, VLWriter* out, VLWriter* err);

int VLCommandLineMain(int argc, char** argv, VLWriter* out, VLWriter* err) {
    VLOptions options = VLParseOptions(argc, argv, out, err);
    int status = VLRunOptionsGiven(&options, argc, argv, out, err);
    VLSelectionFree(&options.selection);
    return status;
}

static int VLRunOptionsGiven(VLOptions* given, int argc, char** argv, VLWriter* out, VLWriter* err) {
    VLOptions& options = *given;
    if (options.badSelection) return -2;
    if (!options.layoutPath || !options.dataPath) {
        if (options.versionPrinted) return 0;
        VLWriteText(err, VLUsageHead);
        VLWriteText(err, argc > 0 && argv[0] ? argv[0] : "vellum");
        VLWriteText(err, VLUsageTail);
        return -2;
    }
    VLLoadResult layout = VLLoadFileLimited(options.layoutPath, 1, VLLayoutSizeLimit);
    VLLoadResult data = VLLoadFileLimited(options.dataPath, 0, UINT64_MAX);
    bool layoutLoaded = VLCheckLoaded(&layout, err);
    bool dataLoaded = VLCheckLoaded(&data, err);
    int status = -1;
    if (layoutLoaded && dataLoaded) {
        status = VLRunLayout(&layout.file, &data.file, given, out, err);
    }
    free(layout.file.data);
    free(data.file.data);
    return status;
}
