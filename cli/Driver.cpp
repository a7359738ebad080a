// Driver.cpp - the program's top-level control flow: the command-line options,
// loading the layout and data files, and the straight line from tokenizing
// through compiling to the two passes. Every stage that fails ends the run
// with its message and the matching exit status.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "CommandLine.h"
#include "browse/Browse.h"
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
    bool mapped;  // file.data is a read-only mapping of the file (munmap, not free)
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

// Reads what a stream that cannot be sought (a pipe, a terminal, a socket)
// delivers up to its end, in growing blocks. Reaching `sizeLimit` bytes stops
// the reading: the result is TooLarge with the size so far.
static VLLoadResult VLLoadStream(FILE* file, const char* path, uint32_t extraBytes, uint64_t sizeLimit) {
    VLLoadResult result = {VLLoadStatus_Failed, {path, 0, nullptr, nullptr}, false};
    size_t capacity = size_t(1) << 16, size = 0;
    char* data = static_cast<char*>(malloc(capacity));
    while (data) {
        if (capacity - size < size_t(extraBytes) + 2) {
            char* grown = capacity <= SIZE_MAX / 2 ? static_cast<char*>(realloc(data, capacity * 2)) : nullptr;
            if (!grown) break;
            data = grown;
            capacity *= 2;
        }
        size_t got = fread(data + size, 1, capacity - size - extraBytes - 1, file);
        size += got;
        if (uint64_t(size) >= sizeLimit) {
            result.status = VLLoadStatus_TooLarge;
            result.file.size = size;
            break;
        }
        if (got == 0) {
            if (ferror(file)) break;
            memset(data + size, 0, size_t(extraBytes) + 1);
            result.status = VLLoadStatus_Loaded;
            result.file.size = size;
            result.file.data = data;
            return result;
        }
    }
    free(data);
    return result;
}

// Reads a whole file; "-" is standard input. A file of `sizeLimit` bytes or
// more is measured but not read. Directories and unreadable files fail the
// probe read of their first byte (their reported length means nothing); a
// file that cannot be sought (a pipe, standard input from a pipe) is read as
// a stream to its end.
static VLLoadResult VLLoadFileLimited(const char* path, uint32_t extraBytes, uint64_t sizeLimit) {
    bool standardInput = strcmp(path, "-") == 0;
    // Excerpts and messages name standard input as "<stdin>".
    VLLoadResult result = {VLLoadStatus_Failed, {standardInput ? "<stdin>" : path, 0, nullptr, nullptr}, false};
    FILE* file = standardInput ? stdin : fopen(path, "rb");
    if (!file) return result;
    if (lseek(fileno(file), 0, SEEK_CUR) < 0 && errno == ESPIPE) {
        result = VLLoadStream(file, result.file.path, extraBytes, sizeLimit);
        if (!standardInput) fclose(file);
        return result;
    }
    bool readable = !(fgetc(file) == EOF && ferror(file));
    auto length = decltype(ftello(file))(-1);
    if (readable && fseeko(file, 0, SEEK_END) == 0) length = ftello(file);
    if (length < 0 || fseeko(file, 0, SEEK_SET) != 0) {
        if (!standardInput) fclose(file);
        return result;
    }
    uint64_t size = uint64_t(length);
    if (size >= sizeLimit || size > SIZE_MAX - extraBytes - 1) {
        if (!standardInput) fclose(file);
        if (size >= sizeLimit) result.status = VLLoadStatus_TooLarge;
        result.file.size = size;
        return result;
    }
    // One spare byte, so that even an empty file gets a buffer (no buffer
    // means "not loaded").
    char* data = VLAllocateFileBuffer(size_t(size) + extraBytes + 1);
    bool ok = data != nullptr;
    if (ok && size > 0) ok = fread(data, 1, size_t(size), file) == size;
    if (!standardInput) fclose(file);
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

// The explorer's data: a regular file is mapped rather than read, so that the
// first screen does not wait for a large file to be read whole (the decoder
// reads the pages as it reaches them). Anything else is loaded as usual.
static VLLoadResult VLMapOrLoadFile(const char* path) {
#if defined(__linux__)
    if (strcmp(path, "-") != 0) {
        FILE* file = fopen(path, "rb");
        off_t length = file ? lseek(fileno(file), 0, SEEK_END) : -1;
        if (file && length > 0 && uint64_t(length) <= SIZE_MAX) {
            void* data = mmap(nullptr, size_t(length), PROT_READ, MAP_PRIVATE, fileno(file), 0);
            fclose(file);
            if (data != MAP_FAILED) return {VLLoadStatus_Loaded, {path, uint64_t(length), static_cast<char*>(data), nullptr}, true};
        } else if (file) {
            fclose(file);
        }
    }
#endif
    return VLLoadFileLimited(path, 0, UINT64_MAX);
}

static void VLReleaseFile(VLLoadResult* load) {
#if defined(__linux__)
    if (load->mapped) {
        munmap(load->file.data, size_t(load->file.size));
        return;
    }
#endif
    free(load->file.data);
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

// The command-line options: one row each, from which the parser's switch and
// the -help text are made. Columns: identifier, spelling, what follows the
// option (VLOptionArgument), argument name for -help, and the -help line.
// The options of the usage text come first; their help lines are that text's.
#define VL_OPTIONS(X)                                                                           \
    X(Layout, "-layout", Path, "<layout-file>", nullptr)                                        \
    X(Data, "-data", Path, "<data-file>", nullptr)                                              \
    X(Debug, "-debug", None, "", nullptr)                                                       \
    X(Test, "-test", None, "", nullptr)                                                         \
    X(Version, "-version", None, "", nullptr)                                                   \
    X(VersionLong, "--version", None, "", "Same as -version.")                                  \
    X(Help, "-help", None, "", "Prints this help (also --help and -h) and ends.")               \
    X(HelpLong, "--help", None, "", nullptr)                                                    \
    X(HelpShort, "-h", None, "", nullptr)                                                       \
    X(Limit, "-limit", Number, "<N>",                                                           \
      "Stops the run after N instructions with a report (exit status 2).")                      \
    X(Explain, "-explain", None, "",                                                            \
      "Adds hints to errors and reports, as on a terminal, without colour.")                    \
    X(Color, "-color", Joined, "<when>",                                                        \
      "Colours diagnostics: always, never or auto (on a terminal unless NO_COLOR is set).")        \
    X(Ndjson, "-ndjson", None, "", "Writes one JSON object per line for each member (docs/JSON.md).") \
    X(Json, "-json", None, "", "Writes the run as one JSON document (docs/JSON.md).")          \
    X(Select, "-select", Text, "<PATH>",                                                        \
      "Shows only the members at or below PATH, e.g. Tar.entries[*].name (repeatable).")       \
    X(Browse, "-browse", None, "",                                                              \
      "Explores the decoded file in the terminal (with -select: starting at PATH).")

enum VLOptionId : uint32_t {
#define VL_OPTION_ID(id, spelling, argument, argumentName, help) VLOptionId_##id,
    VL_OPTIONS(VL_OPTION_ID)
#undef VL_OPTION_ID
    VLOptionId_Count
};

enum VLOptionArgument : uint32_t {
    VLOptionArgument_None,    // a switch
    VLOptionArgument_Path,    // the next argument is a file path ("-" for standard input)
    VLOptionArgument_Number,  // the next argument is a decimal number
    VLOptionArgument_Joined,  // "-option=value" in one argument
    VLOptionArgument_Text,    // the next argument is a text (a member path)
};

struct VLOptionRow {
    const char* spelling;
    uint32_t argument;     // VLOptionArgument
    const char* argumentName;
    const char* help;      // null: described by the usage text, or an alias shown elsewhere
};

static const VLOptionRow VLOptionRows[] = {
#define VL_OPTION_ROW(id, spelling, argument, argumentName, help) \
    {spelling, VLOptionArgument_##argument, argumentName, help},
    VL_OPTIONS(VL_OPTION_ROW)
#undef VL_OPTION_ROW
};
static_assert(sizeof VLOptionRows / sizeof VLOptionRows[0] == VLOptionId_Count);

// The row an argument names: the exact spelling, or "spelling=value" for
// joined options (`*value` then points after the "="). Null for none.
static const VLOptionRow* VLFindOption(const char* argument, const char** value) {
    for (const VLOptionRow& row : VLOptionRows) {
        size_t length = strlen(row.spelling);
        if (strncmp(argument, row.spelling, length) != 0) continue;
        if (row.argument == VLOptionArgument_Joined && argument[length] == '=') {
            *value = argument + length + 1;
            return &row;
        }
        if (row.argument != VLOptionArgument_Joined && argument[length] == '\0') return &row;
    }
    return nullptr;
}

static VLOptionId VLOptionIdOf(const VLOptionRow* row) { return VLOptionId(row - VLOptionRows); }

// When diagnostics are coloured: -color=auto (the default) colours a terminal.
enum VLColorChoice { VLColorChoice_Auto, VLColorChoice_Always, VLColorChoice_Never };

struct VLOptions {
    const char* layoutPath;
    const char* dataPath;
    bool debug;
    bool versionPrinted;
    bool help;
    bool invalid;         // a value could not be used; the usage text follows
    uint64_t stepLimit;   // 0: none
    uint32_t format;      // VLOutputFormat: the last of -json and -ndjson given
    VLSelection selection;  // -select patterns
    bool explain;         // hints without a terminal
    VLColorChoice color;
    bool browse;
};

// The value of -color=; false for a text that is none of the three.
static bool VLParseColorChoice(const char* value, VLColorChoice* choice) {
    if (strcmp(value, "always") == 0) *choice = VLColorChoice_Always;
    else if (strcmp(value, "never") == 0) *choice = VLColorChoice_Never;
    else if (strcmp(value, "auto") == 0) *choice = VLColorChoice_Auto;
    else return false;
    return true;
}

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

// Takes the decimal number after an option; false (with a message) when the
// arguments ran out or the next one is no positive number below 2^64.
static bool VLTakeNumber(int argc, char** argv, int* at, const char* option, uint64_t* number,
                         VLWriter* err) {
    if (*at + 1 >= argc) {
        VLWritef(err, "Expected number after %s, got end of parameters.\n", option);
        return false;
    }
    *at += 1;
    const char* text = argv[*at];
    uint64_t value = 0;
    bool ok = *text != '\0';
    for (const char* c = text; ok && *c; ++c) {
        unsigned digit = unsigned(*c - '0');
        if (digit > 9 || value > (UINT64_MAX - digit) / 10) ok = false;
        else value = value * 10 + digit;
    }
    if (!ok || value == 0) {
        VLWritef(err, "Expected a positive number after %s, got \"%s\".\n", option, text);
        return false;
    }
    *number = value;
    return true;
}

// Takes the member path after -select and adds it to the selection; false
// (with a message) when the arguments ran out or the text is no path.
static bool VLTakeSelection(int argc, char** argv, int* at, const char* option, VLSelection* selection,
                            VLWriter* err) {
    if (*at + 1 >= argc) {
        VLWritef(err, "Expected member path after %s, got end of parameters.\n", option);
        return false;
    }
    *at += 1;
    const char* error = nullptr;
    if (VLSelectionAdd(selection, argv[*at], &error)) return true;
    VLWritef(err, "Invalid member path after %s, \"%s\": %s.\n", option, argv[*at], error);
    return false;
}

// Examines the arguments after the program name in order.
static VLOptions VLParseOptions(int argc, char** argv, VLWriter* out, VLWriter* err) {
    VLOptions options = {};
    for (int at = 1; at < argc; ++at) {
        const char* argument = argv[at];
        const char* value = nullptr;
        const VLOptionRow* row = VLFindOption(argument, &value);
        if (!row) {
            VLWritef(err, "Ignoring unknown directive \"%s\".\n", argument);
            continue;
        }
        switch (VLOptionIdOf(row)) {
        case VLOptionId_Layout:
            if (!VLTakePath(argc, argv, &at, row->spelling, &options.layoutPath, err)) return options;
            break;
        case VLOptionId_Data:
            if (!VLTakePath(argc, argv, &at, row->spelling, &options.dataPath, err)) return options;
            break;
        case VLOptionId_Debug:
            options.debug = true;
            break;
        case VLOptionId_Browse:
            options.browse = true;
            break;
        case VLOptionId_Version:
        case VLOptionId_VersionLong:
            if (!options.versionPrinted) VLWritef(out, "Version %s\n", VLVersionText);
            options.versionPrinted = true;
            break;
        case VLOptionId_Test:
            VLWriteTestFile(err);
            break;
        case VLOptionId_Help:
        case VLOptionId_HelpLong:
        case VLOptionId_HelpShort:
            options.help = true;
            break;
        case VLOptionId_Limit:
            if (!VLTakeNumber(argc, argv, &at, row->spelling, &options.stepLimit, err)) {
                options.invalid = true;
                return options;
            }
            break;
        case VLOptionId_Ndjson:
            options.format = VLOutputFormat_Ndjson;
            break;
        case VLOptionId_Json:
            options.format = VLOutputFormat_Json;
            break;
        case VLOptionId_Select:
            if (!VLTakeSelection(argc, argv, &at, row->spelling, &options.selection, err)) {
                options.invalid = true;
                return options;
            }
            break;
        case VLOptionId_Explain:
            options.explain = true;
            break;
        case VLOptionId_Color:
            if (!VLParseColorChoice(value, &options.color))
                VLWritef(err, "Ignoring unknown directive \"%s\".\n", argument);
            break;
        case VLOptionId_Count:
            VL_ASSERT(false);
        }
    }
    return options;
}

// The usage text, naming the program as it was started.
static void VLPrintUsage(const char* program, VLWriter* writer) {
    VLWriteText(writer, VLUsageHead);
    VLWriteText(writer, program);
    VLWriteText(writer, VLUsageTail);
}

// -help: the usage text, then one line for each option it does not describe.
static void VLPrintHelp(const char* program, VLWriter* out) {
    VLPrintUsage(program, out);
    VLWriteText(out, "\n  More options:\n"
                     "    -layout - or -data -   Reads that file from standard input (a pipe is read to its end).\n");
    for (const VLOptionRow& row : VLOptionRows) {
        if (!row.help) continue;
        char name[64];
        const char* joiner = row.argument == VLOptionArgument_Joined ? "=" : " ";
        snprintf(name, sizeof name, "%s%s%s", row.spelling, *row.argumentName ? joiner : "", row.argumentName);
        VLWritef(out, "    %-22s %s\n", name, row.help);
    }
    VLWriteText(out, "\n  Exit status: 0 the run went to its end, 1 the layout was rejected, 2 a report\n"
                     "  stopped the run, 255 a file could not be read, 254 usage.\n");
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
    bool commentHinted = false;
    for (const VLToken* token = scan->invalidTokens; token; token = token->invalid.nextInvalid) {
        if (listed < VLInvalidTokensListed) {
            VLPrintTokenLocation(err, layout, token);
            VLWriteInvalidTokenHints(token, &commentHinted, err);
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
    VLWriteColored(err, "ERROR", "1;31");
    VLWritef(err, " %.*s\n", static_cast<int>(program->error.length), program->error.message);
    VLWriteCompileHints(program, err);
    return true;
}

// Tokenizes, compiles and runs a loaded layout over loaded data. Returns the
// exit status: 0 when the run went to its end, 1 when the layout was rejected
// (nothing ran), 2 when a report stopped the run (the output is partial).
static int VLRunLayout(const VLFile* layout, const VLFile* data, VLOptions* given,
                       VLWriter* out, VLWriter* err) {
    VLArena arena = {};
    int status = 1;
    VLLayoutSources sources;
    VLLayoutSourcesInit(&sources, layout, &arena, err);
    VLScanResult scan = VLTokenize(layout->data, &arena);
    if (!VLReportInvalidTokens(&scan, layout, err)) {
        VLIncludeLoader loader = VLLayoutIncludeLoader(&sources);
        VLProgram program = VLCompile(scan.tokens, &arena, &loader);
        VLFile source = *layout;  // the layout, with the files it included for messages
        if (sources.count > 1) source.sources = sources.files;
        if (!VLReportCompileError(&program, &source, err)) {
            VLSelection* selection = given->selection.patternCount ? &given->selection : nullptr;
            if (given->browse) {
                // The explorer shows everything; a selection is where it starts.
                VLRunOptions options = {0, given->stepLimit, 1, VLOutputFormat_Text, nullptr};
                status = VLBrowseMain(&program, &source, data, &options, selection, out, err);
            } else {
                VLRunOptions options = {given->debug ? 1u : 0u, given->stepLimit, 1, given->format, selection};
                status = VLRunPasses(&program, &source, data, &options, out, err) ? 2 : 0;
            }
        }
    }
    VLLayoutSourcesFree(&sources);
    // Nothing is read after this point; releasing keeps repeated runs in one
    // process (tests, fuzzing) from accumulating memory.
    VLArenaRelease(&arena);
    return status;
}

// Whether a writer's file is a terminal (memory and null writers are not).
static bool VLIsTerminal(const VLWriter* writer) {
    return writer->file && !writer->captureMemory && isatty(fileno(writer->file));
}

// Hints for a person: on a terminal, or asked for with -explain. Colour on a
// terminal unless NO_COLOR is set (to anything but the empty text) or the
// terminal is dumb; -color=always and -color=never decide alone.
static uint32_t VLDiagnosticStyle(const VLOptions* options, const VLWriter* err) {
    bool terminal = VLIsTerminal(err);
    uint32_t style = terminal || options->explain ? uint32_t(VLWriterStyle_Hints) : 0u;
    bool color = options->color == VLColorChoice_Always;
    if (options->color == VLColorChoice_Auto && terminal) {
        const char* noColor = getenv("NO_COLOR");
        const char* term = getenv("TERM");
        color = !(noColor && noColor[0]) && !(term && strcmp(term, "dumb") == 0);
    }
    return style | (color ? uint32_t(VLWriterStyle_Color) : 0u);
}

static int VLRunOptionsGiven(VLOptions* given, int argc, char** argv, VLWriter* out, VLWriter* err);

int VLCommandLineMain(int argc, char** argv, VLWriter* out, VLWriter* err) {
    VLOptions options = VLParseOptions(argc, argv, out, err);
    err->style = VLDiagnosticStyle(&options, err);
    int status = VLRunOptionsGiven(&options, argc, argv, out, err);
    VLSelectionFree(&options.selection);
    return status;
}

// The program once the options are examined.
static int VLRunOptionsGiven(VLOptions* given, int argc, char** argv, VLWriter* out, VLWriter* err) {
    VLOptions& options = *given;
    const char* program = argc > 0 && argv[0] ? argv[0] : "vellum";
    if (options.help) {
        VLPrintHelp(program, out);
        return 0;
    }
    if (options.invalid || !options.layoutPath || !options.dataPath) {
        if (options.versionPrinted && !options.invalid) return 0;
        VLPrintUsage(program, err);
        return -2;
    }
    if (strcmp(options.layoutPath, "-") == 0 && strcmp(options.dataPath, "-") == 0) {
        VLWriteText(err, "Standard input (\"-\") can be read for -layout or for -data, not both.\n");
        return -2;
    }
    VLLoadResult layout = VLLoadFileLimited(options.layoutPath, 1, VLLayoutSizeLimit);
    VLLoadResult data = options.browse ? VLMapOrLoadFile(options.dataPath)
                                       : VLLoadFileLimited(options.dataPath, 0, UINT64_MAX);
    bool layoutLoaded = VLCheckLoaded(&layout, err);
    bool dataLoaded = VLCheckLoaded(&data, err);
    int status = -1;
    if (layoutLoaded && dataLoaded) {
        status = VLRunLayout(&layout.file, &data.file, &options, out, err);
    }
    free(layout.file.data);
    VLReleaseFile(&data);
    return status;
}
