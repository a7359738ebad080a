// Events.h - the member-event stream: what a run shows, as events delivered
// to an output sink, and the member paths that name what was shown.
//
// The run stage (cli/Passes.cpp) turns the runtime's visitor steps into six
// kinds of event (struct begin, member, struct end, print, report, end of
// run) and hands them to a sink: a record of function pointers with a context
// pointer, in the manner of the writers below. The text columns
// (TextSink.cpp), NDJSON (NdjsonSink.cpp) and the JSON document
// (JsonSink.cpp) are sinks; so can be anything else that wants the decoded
// values. The path builder (Path.cpp) follows the events and names the
// current member in the path notation of docs/JSON.md; the selection
// (Select.cpp) decides which events a sink is given at all.
#pragma once

#include "CommandLine.h"
#include "Display.h"

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

// A struct member that begins or ends (a root is a struct member without a
// name).
struct VLStructEvent {
    const VLInstruction* pushFrame;  // the push-frame that began it
    const VLTypeDefinition* type;    // its type; null when the frame names none
    VLString name;                   // member name; empty for a root
    bool isArray;
    uint32_t index;                  // element number when isArray
    int64_t offset;                  // the cursor where the struct began
    int64_t size;                    // struct end only: bytes the cursor advanced
    VLString path;                   // its path (empty when the run follows no paths)
    uint32_t occurrence;             // of its name in the enclosing instance (when paths are followed)
};

// One shown scalar member.
struct VLMemberEvent {
    VLInstruction* instruction;  // its member instruction (VLIsMemberKind)
    VLMemberBytes bytes;         // where its bytes are: address, size and the data
    bool isArray;
    uint32_t index;              // element number when isArray
    VLString path;               // its path (empty when the run follows no paths)
    VLValueSource value;         // what its value is formatted and decoded from (may point into itself)
    uint32_t occurrence;         // of its name in the enclosing instance (when paths are followed)
};

// Output of a `print` statement.
struct VLPrintEvent {
    VLString message;  // the text as the text output prints it (a quoted literal keeps its quotes)
    bool hasValue;
    int64_t value;
};

// The report that stopped the run; the excerpts are already on standard error.
struct VLReportEvent {
    const VLRuntimeResult* result;  // null: the run reached the -limit of instructions
    VLString message;  // the report lines without their excerpts, joined by line breaks
    VLString path;     // the member (or struct) the run stopped at, in path notation
    int64_t offset;    // the rejected address, or the cursor where the run stopped
};

// The end of a pass over the data.
struct VLRunEndEvent {
    uint32_t pass;        // from 0
    bool lastPass;        // the printing pass (every pass of a one-pass sink)
    bool reported;        // a report stopped this pass
    uint64_t members;     // members the whole run showed (selection aside)
    uint64_t selected;    // members handed to the sink
};

// ---------------------------------------------------------------------------
// The sink
// ---------------------------------------------------------------------------
//
// The run stage calls the sink's functions in the order of the data. For
//
//     struct Point { u(1) x; u(1) y; };
//     struct Shape { u(1) kind; print("kind", kind); Point corners[2]; };
//     layout Shape;
//
// the calls of one pass are
//
//     structBegin {type Shape, name "", offset 0}             path "Shape"
//     member      {u(1) kind, address 0}                      path "Shape.kind"
//     print       {"\"kind\"", value}
//     structBegin {type Point, name "corners", index 0, offset 1}  path "Shape.corners[0]"
//     member      {x, address 1}                              path "Shape.corners[0].x"
//     member      {y, address 2}                              path "Shape.corners[0].y"
//     structEnd   {type Point, name "corners", index 0, size 2}
//     structBegin ... corners[1] ... structEnd
//     structEnd   {type Shape, name "", size 5}
//     end         {pass 0, lastPass, reported false, members 5}
//
// A report that stops the run comes instead of the rest, followed by `end`
// (open structs get no structEnd: the sink closes what it keeps open).
// A sink of two passes (`passes` 2: the text columns, which measure before
// they print) sees the sequence twice: the first time without print and
// report events (and without struct events unless paths are followed), the
// second time whole. A report event without an instruction (result null)
// is a run cut short by -limit. With a selection, the sink sees only
// the selected members, the structs that hold them (begins delayed until the
// first selected event inside) and the prints inside selected structs.
//
// Paths: while the run follows paths (the JSON sinks and any selection ask
// for it), every struct and member event carries its path.
//
// Memory: every event record and every text it points to (names, messages,
// the path) belongs to the caller and is valid only during the call; a sink
// copies what it keeps. The data bytes and the instructions live as long as
// the run. The sink owns its context.
struct VLOutputSink {
    void* context;
    uint32_t passes;      // 1, or 2 for a sink that measures before it prints
    bool needsPaths;      // the path builder must follow the events
    void (*structBegin)(void* context, const VLStructEvent* event);
    void (*member)(void* context, const VLMemberEvent* event);
    void (*structEnd)(void* context, const VLStructEvent* event);
    void (*print)(void* context, const VLPrintEvent* event);
    void (*report)(void* context, const VLReportEvent* event);
    void (*end)(void* context, const VLRunEndEvent* event);
    // Null: the run goes to its end. Otherwise asked before each event; false
    // ends the run there, as if the data ended (an explorer that quits).
    bool (*goOn)(void* context);
    // The struct and member events carry their occurrence numbers but no
    // path texts (unless needsPaths or a selection asks for them): cheaper
    // for a sink that keeps the numbers only. A report still has its path.
    bool needsOccurrences;
};

// Runs a compiled program over the data and hands what it shows to `sink`
// (as many passes as the sink asks for; paths followed when it needs them,
// options->selection is set or hints are shown). Reports go to `err` with
// their excerpts and to the sink; -debug's listing and trace go to
// `debugOut`. Returns true when a report stopped the last pass. (VLRunPasses
// makes the sink of options->format and calls this.)
bool VLRunSink(VLProgram* program, const VLFile* layout, const VLFile* data, const VLRunOptions* options,
               VLOutputSink* sink, VLWriter* debugOut, VLWriter* err);

// ---------------------------------------------------------------------------
// Member paths
// ---------------------------------------------------------------------------
//
// The path of a member: the root type's name, `.name` for each struct member
// on the way and for the member itself, `[i]` after an array member's name
// for element i. A name reached again in the same struct instance (a member
// read once per loop iteration, one name declared in two branches) carries
// its occurrence number right after the name, from the second on: `#1`,
// `#2`, ... ("Pcap.packet#3.data" is in the fourth `packet`). An array
// member counts one occurrence per declaration reached, not per element.
// Roots count the same way by their type's name.
struct VLPathLevel {
    uint32_t prefixLength;  // path text of the struct this level stands for
    uint32_t stamp;         // marks this level's counters (older stamps read as 0)
    const VLTypeDefinition* type;
    // The struct's own step, kept while no texts are written (countOnly).
    VLString name;
    uint32_t occurrence;
    uint32_t index;
    bool isArray;
};

struct VLPathCounter {
    uint32_t stamp;
    uint32_t count;
};

struct VLPathBuilder {
    char* text;            // the current path; the struct prefixes are its beginnings
    uint32_t length;       // of the current member's or struct's path
    uint32_t capacity;
    VLPathLevel* levels;   // [0] is the top level (roots), then one per open struct
    uint32_t depth;        // open structs
    uint32_t levelCapacity;
    VLPathCounter** counters;      // per level: one counter per name slot
    uint32_t* counterCapacity;     // per level
    uint32_t nextStamp;
    uint32_t* nameSlots;   // per instruction number: the name's slot in its type
    uint32_t instructionCount;
    uint32_t typeCount;
    uint32_t lastOccurrence;  // occurrence of the last member or struct added
    bool countOnly;           // occurrences only: texts are written on demand (VLPathWriteTexts)
};

// Prepares a builder for the program's members (name slots for every member
// declaration). Release with VLPathFree.
void VLPathInit(VLPathBuilder* paths, const VLProgram* program);
void VLPathFree(VLPathBuilder* paths);
void VLPathReset(VLPathBuilder* paths);  // back to the top level, counters empty (a new pass)
// The builder follows the events: a struct begins (its path becomes current),
// a struct ends (its parent's path becomes current), a member is shown (its
// path becomes current).
void VLPathEnterStruct(VLPathBuilder* paths, const VLStructEvent* event);
void VLPathLeaveStruct(VLPathBuilder* paths);
void VLPathAddMember(VLPathBuilder* paths, const VLMemberEvent* event);
inline VLString VLPathText(const VLPathBuilder* paths) { return {paths->length, paths->text}; }
// The path text of the innermost open struct (the top level: empty).
VLString VLPathStructText(const VLPathBuilder* paths);
// A builder that counts occurrences only (countOnly set after VLPathInit)
// leaves the texts empty as it follows the events; this writes the open
// structs' texts, for VLPathStructText and VLPathOfPending to read until the
// next event. Nothing to do for a builder that writes texts.
void VLPathWriteTexts(VLPathBuilder* paths);
// The path the member or struct member of `instruction` would get as element
// `index` (isArray) if it were shown now, without counting it: the member a
// report stopped at. Written to `buffer` (at most `capacity` bytes, cut there);
// returns the length.
uint32_t VLPathOfPending(const VLPathBuilder* paths, const VLInstruction* instruction, bool isArray,
                         uint32_t index, char* buffer, uint32_t capacity);

// ---------------------------------------------------------------------------
// Selection (-select PATH)
// ---------------------------------------------------------------------------
//
// A pattern is a path in which `[*]` stands for any element and `#*` for any
// occurrence; a name without `[...]` matches an array member's every element
// (they lie below it), a name without `#` only occurrence 0 (`#0` is the
// same). A member is selected when its path or the path of a struct holding
// it matches a pattern.
struct VLSelectStep {
    VLString name;
    int64_t occurrence;  // -1: any
    int64_t index;       // -1: any element (or not an array)
    bool indexGiven;     // `[i]` or `[*]` was written: the member must be an array
};

struct VLSelectPattern {
    const char* text;    // as given on the command line
    VLSelectStep* steps;
    uint32_t stepCount;
    uint64_t matched;    // members selected through this pattern
};

struct VLSelection {
    VLSelectPattern* patterns;
    uint32_t patternCount;
    // Per open struct level ([0] the top level): for each pattern, the steps
    // matched so far, VLSelectAll when a struct on the way matched it whole,
    // VLSelectNone when it can no longer match below.
    uint16_t* states;
    uint32_t depth;
    uint32_t levelCapacity;
};

enum : uint16_t { VLSelectNone = 0xFFFF, VLSelectAll = 0xFFFE };

// Parses one -select PATH and adds it. Returns false (nothing added) when the
// text is no path; `error` then says why.
bool VLSelectionAdd(VLSelection* selection, const char* text, const char** error);
void VLSelectionFree(VLSelection* selection);
void VLSelectionReset(VLSelection* selection);  // a new pass: back to the top level, counts kept
// Follows a struct that begins (with its occurrence); returns true when the
// struct is selected whole.
bool VLSelectEnter(VLSelection* selection, VLString name, uint32_t occurrence, bool isArray, uint32_t index);
void VLSelectLeave(VLSelection* selection);
// True when the current struct is selected whole.
bool VLSelectInside(const VLSelection* selection);
// True when a member of the current struct is selected; counts it for the
// patterns that select it.
bool VLSelectMember(VLSelection* selection, VLString name, uint32_t occurrence, bool isArray, uint32_t index);

// ---------------------------------------------------------------------------
// Sinks
// ---------------------------------------------------------------------------

// The text columns: member lines, struct headers, print lines (see Display.cpp).
struct VLTextSink {
    VLColumns columns;
    VLWriter* out;
    bool printing;  // the second pass
};
VLOutputSink VLMakeTextSink(VLTextSink* sink, VLWriter* out);
void VLPrintTextMember(void* context, const VLMemberEvent* event);  // Display.cpp

// One JSON object per line (NdjsonSink.cpp); the no-members warning goes to `err`.
struct VLNdjsonSink {
    VLWriter* out;
    VLWriter* err;
    bool started;  // the first line has been handed on (at once; the rest in large blocks)
};
VLOutputSink VLMakeNdjsonSink(VLNdjsonSink* sink, VLWriter* out, VLWriter* err);

// One JSON document (JsonSink.cpp); its head (layout and data paths, data
// size) is written when the sink is made.
struct VLJsonSink {
    VLWriter* out;
    VLWriter* err;
    uint32_t depth;        // open struct nodes
    uint32_t rootsBegun;   // roots seen at the top level
    bool topPrints;        // "prints" list open (top-level prints before the first root)
    bool moreOpen;         // "more" list open (top-level items after the first root)
    bool needComma;        // the next item of the open list needs a comma before it
    bool finished;         // the document is closed
    bool started;          // the first member has been handed on (at once; the rest in large blocks)
};
VLOutputSink VLMakeJsonSink(VLJsonSink* sink, VLWriter* out, VLWriter* err, const VLFile* layout,
                            const VLFile* data);

// ---------------------------------------------------------------------------
// JSON values (JsonValue.cpp): the parts both JSON sinks write
// ---------------------------------------------------------------------------

// A JSON string of arbitrary bytes, quotes included: valid UTF-8 stays as it
// is, `"` `\` and control characters take JSON escapes, and every byte that is
// not part of valid UTF-8 becomes \udcXX (XX its value, 80 to ff), which no
// valid text produces, so the bytes can always be recovered.
void VLWriteJsonString(VLWriter* out, const char* chars, uint64_t length);
// The decimal digits of a number at `to` (at most 20); returns their end.
char* VLPutDecimal(char* to, uint64_t value);
// The fields of a member between `before` and `after`: "path", "offset",
// "size", "type", "display"/"enum" where they apply, "value", "names" for an
// enumeration, and "text". An event without a path gets no "path" field.
void VLWriteJsonMember(VLWriter* out, const VLMemberEvent* event, VLString before, VLString after);
// The fields of a report: "report" (or `messageKey`), "path", "offset".
void VLWriteJsonReportFields(VLWriter* out, const VLReportEvent* event, const char* messageKey);
