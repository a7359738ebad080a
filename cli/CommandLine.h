// CommandLine.h - the command-line front end: output streams, loaded files,
// the driver, the two passes, member display, diagnostics and the listing.
//
// Everything the front end prints goes through a VLWriter, so that the
// program, the tests and the fuzz targets choose where output goes (a file,
// a memory buffer, or nowhere).
#pragma once

#include <cstdarg>
#include <cstdio>

#include "Vellum.h"

// ---------------------------------------------------------------------------
// Output. A writer collects text in a large buffer and writes it in big blocks
// to its file (or keeps it in memory when captureMemory is set, or drops it
// when both are absent).
// ---------------------------------------------------------------------------
struct VLWriter {
    FILE* file;          // destination, or null
    char* buffer;
    size_t used;
    size_t capacity;
    bool captureMemory;  // keep everything in buffer (tests); never flushed to a file
    VLWriter* flushFirst;  // flushed before this writer writes (keeps stdout ahead of stderr)
    bool failed;         // a write to the file failed; later output is dropped
    uint64_t flushed;    // bytes handed on by VLWriterFlush so far (written or dropped)
    uint32_t style;      // VLWriterStyle: what this stream's reader is shown beyond the fixed texts
};
enum VLWriterStyle : uint32_t {
    VLWriterStyle_Hints = 1,  // hint lines and report context (a person reads: a terminal or -explain)
    VLWriterStyle_Color = 2,  // labels and marks in colour
};
void VLWriterInitFile(VLWriter* writer, FILE* file, size_t capacity);
void VLWriterInitMemory(VLWriter* writer);  // captures output in memory
void VLWriterInitNull(VLWriter* writer);    // discards output
void VLWriterFree(VLWriter* writer);
void VLWrite(VLWriter* writer, const char* chars, size_t length);
void VLWriteChar(VLWriter* writer, char c);
void VLWriteRepeat(VLWriter* writer, char c, size_t count);
void VLWriteText(VLWriter* writer, const char* text);  // NUL-terminated
void VLWritef(VLWriter* writer, const char* format, ...) __attribute__((format(printf, 2, 3)));
void VLWritefList(VLWriter* writer, const char* format, va_list args);  // VLWritef with a va_list
void VLWriterFlush(VLWriter* writer);
// Room for `length` more bytes at buffer + used (flushing or growing first); the
// caller writes there and adds to `used` what it wrote.
char* VLWriterReserve(VLWriter* writer, size_t length);

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------
struct VLFile {
    const char* path;  // as given on the command line
    uint64_t size;
    char* data;        // null when loading failed
    // A layout that included files: every layout file of the run by the
    // number its tokens carry (sources[0] is the layout). Null otherwise.
    const VLFile* sources;
};
// Reads a whole file; extraBytes (1 for the layout) are allocated after the
// content and set to NUL.
VLFile VLLoadFile(const char* path, uint32_t extraBytes);

// ---------------------------------------------------------------------------
// Layout files: the layout and the files its include statements name
// ---------------------------------------------------------------------------
struct VLLayoutSourceState;
struct VLLayoutSources {
    VLFile* files;    // by file number; files[0] is the layout (its contents stay the caller's)
    VLLayoutSourceState* states;  // what the loader knows of each file
    uint32_t count;
    uint32_t capacity;
    uint32_t* identities;         // hash index of files by device and inode: number + 1, 0 free
    uint32_t identityCapacity;    // a power of two, kept above twice count
    VLArena* arena;   // tokens, names and messages of included files
    VLWriter* err;    // where the invalid tokens of an included file are listed
};
void VLLayoutSourcesInit(VLLayoutSources* sources, const VLFile* layout, VLArena* arena, VLWriter* err);
// Frees the included files' contents and the tables (the arena's records stay).
void VLLayoutSourcesFree(VLLayoutSources* sources);
// The loader VLCompile calls for include statements, over these sources.
VLIncludeLoader VLLayoutIncludeLoader(VLLayoutSources* sources);

// ---------------------------------------------------------------------------
// Driver
// ---------------------------------------------------------------------------
// The whole program: options, loading, tokenizing, compiling, running.
// Returns the exit status: 0 (the run went to its end), 1 (the layout was
// rejected), 2 (a report stopped the run), -1 (a file could not be opened) or
// -2 (usage).
int VLCommandLineMain(int argc, char** argv, VLWriter* out, VLWriter* err);
// The stages' failure reports. Each returns true when it reported: the
// invalid tokens of a scan with their excerpts, in text order (the first 100,
// then a count of the rest), or a compile error's excerpt and "ERROR" line.
bool VLReportInvalidTokens(const VLScanResult* scan, const VLFile* layout, VLWriter* err);
bool VLReportCompileError(const VLProgram* program, const VLFile* layout, VLWriter* err);

// ---------------------------------------------------------------------------
// Passes and run-time reports
// ---------------------------------------------------------------------------
enum VLOutputFormat : uint32_t {
    VLOutputFormat_Text = 0,    // member lines in columns
    VLOutputFormat_Ndjson = 1,  // one JSON object per member (-ndjson)
    VLOutputFormat_Json = 2,    // one JSON document (-json)
};
struct VLSelection;  // cli/output/Events.h
struct VLRunOptions {
    uint32_t debug;      // print the listing and the trace
    uint64_t stepLimit;  // 0: none; -limit and the fuzz harnesses set one
    uint32_t reportStepLimit;  // 1: a run that reaches stepLimit is reported (-limit); 0: it just stops
    uint32_t format;     // VLOutputFormat
    VLSelection* selection;  // -select patterns; null: everything
};
// Returns true when a report stopped the printing pass.
bool VLRunPasses(VLProgram* program, const VLFile* layout, const VLFile* data,
                 const VLRunOptions* options, VLWriter* out, VLWriter* err);

// ---------------------------------------------------------------------------
// Member display
// ---------------------------------------------------------------------------
struct VLColumns {
    uint32_t current;
    uint32_t widths[64];
};
void VLPrintColumn(VLColumns* columns, VLWriter* out, const char* text, uint32_t length);  // out null: measure only
void VLPrintStructHeader(const VLInstruction* pushFrame, VLRuntime* runtime, VLWriter* out);
void VLPrintStructEnd(VLColumns* columns, VLWriter* out);
void VLPrintMember(VLInstruction* member, VLRuntime* runtime, VLColumns* columns, VLWriter* out);

// ---------------------------------------------------------------------------
// Diagnostics
// ---------------------------------------------------------------------------
void VLPrintTokenLocation(VLWriter* err, const VLFile* layout, const VLToken* token);
// The file a token comes from: the layout or a file it included.
const VLFile* VLSourceOfToken(const VLFile* layout, const VLToken* token);
void VLPrintRangeLocation(VLWriter* err, const VLFile* layout, const VLToken* first,
                          const VLToken* following);

// ---------------------------------------------------------------------------
// Hints and report context for a person (Hints.cpp, ReportContext.cpp). They
// are written only to a writer whose style has VLWriterStyle_Hints; the fixed
// texts before them never change.
// ---------------------------------------------------------------------------
bool VLWantsHints(const VLWriter* writer);
// `text` in the colour given as an SGR parameter ("1;31") when the writer is coloured.
void VLWriteColored(VLWriter* writer, const char* text, const char* color);
void VLWriteHint(VLWriter* writer, const char* format, ...) __attribute__((format(printf, 2, 3)));
void VLWriteCompileHints(const VLProgram* program, VLWriter* err);
// After an invalid token's excerpt; `commentHinted` keeps the comment hint to once per listing.
void VLWriteInvalidTokenHints(const VLToken* token, bool* commentHinted, VLWriter* err);
// After the no-members warning: why nothing was shown.
void VLWriteNoMembersHint(const VLProgram* program, bool reported, VLWriter* err);
// After a run-time report: where it stopped (member, struct, bytes, layout
// location) and what the report's numbers mean.
// After the step-limit report: where the run was.
void VLWriteStepLimitHint(VLRuntime* runtime, const VLProgram* program, VLString structPath, VLWriter* err);
// `path` names the member (or the struct) the run stopped at; empty when the run follows no paths.
void VLWriteReportContext(const VLRuntimeResult* result, VLRuntime* runtime, const VLProgram* program,
                          const VLFile* layout, const VLFile* data, VLString path, VLWriter* err);

// ---------------------------------------------------------------------------
// Listing
// ---------------------------------------------------------------------------
void VLPrintOperand(VLWriter* out, VLLocation location, VLRuntime* runtime);
void VLPrintInstruction(VLWriter* out, const VLInstruction* instruction, uint32_t indent,
                        VLRuntime* runtime);
