// Passes.cpp - the run stage: the -debug listing, then two runs of the compiled
// program over the data. The measuring pass lets the member display learn its
// column widths (and, with -debug, prints the execution trace); the printing
// pass prints members, print output and the report that ends a run.
#include <cstdlib>
#include <cstring>

#include "CommandLine.h"
#include "output/Events.h"

static void VLWriteString(VLWriter* writer, VLString text) {
    VLWrite(writer, text.chars, text.length);
}

// The static listing: every instruction, struct bodies indented one level.
static void VLPrintListing(const VLProgram* program, VLWriter* out) {
    uint32_t depth = 0;
    for (const VLInstructionChunk* chunk = program->instructions.first; chunk; chunk = chunk->next) {
        for (uint32_t place = 0; place < chunk->count; ++place) {
            const VLInstruction* instruction = &chunk->items[place];
            if (instruction->type == VLInstructionType_EndStructDefinition && depth > 0) --depth;
            VLWritef(out, "%4u  ", instruction->index);
            VLWriteRepeat(out, ' ', size_t(depth) * 4);
            VLPrintInstruction(out, instruction, 0, nullptr);
            VLWriteChar(out, '\n');
            if (instruction->type == VLInstructionType_StartStructDefinition) ++depth;
        }
    }
    VLWriteChar(out, '\n');
}

// One trace line for the instruction about to run, with the operands' values;
// `depth` follows the frames pushed and popped.
static void VLTraceInstruction(VLRuntime* runtime, uint32_t* depth, VLWriter* out) {
    const VLInstruction* instruction = &runtime->position.chunk->items[runtime->position.place];
    if (instruction->type == VLInstructionType_PopFrame && *depth > 0) --*depth;
    VLWritef(out, "%4u  ", instruction->index);
    VLPrintInstruction(out, instruction, *depth, runtime);
    VLWriteChar(out, '\n');
    if (instruction->type == VLInstructionType_PushFrame) ++*depth;
}

// What an array-count report is about: the member's name and, for scalar
// members, its size expression (struct members record no source range).
struct VLCountSubject {
    VLString name;
    const VLToken* first;
    const VLToken* following;
};

static VLCountSubject VLCountSubjectOf(const VLInstruction* instruction) {
    if (instruction->type == VLInstructionType_PushFrame)
        return {instruction->pushFrame.name, nullptr, nullptr};
    VL_ASSERT(VLIsMemberKind(instruction->type));
    const auto& member = instruction->scalarExport;
    return {member.name, member.sizeFirst, member.sizeEnd};
}

// The layout text of a value-of-member path: its first token through the last
// token before `end` (the end of the list when `end` is absent).
static VLString VLPathText(const VLToken* first, const VLToken* end) {
    if (!first) return {0, nullptr};
    const VLToken* last = first;
    while (last->next && last->next != end) last = last->next;
    if (last->end.offset < first->start.offset) return {0, nullptr};
    return {last->end.offset - first->start.offset + 1, first->start.cursor};
}

static void VLReportIndexOutOfRange(const VLRuntimeResult* result, const VLFile* layout,
                                    VLWriter* err) {
    const auto& fetch = result->instruction->fetch;
    VLPrintRangeLocation(err, layout, fetch.first, fetch.end);
    VLString path = VLPathText(fetch.first, fetch.end);
    VLWritef(err, "Reference to element %lli of ", static_cast<long long>(result->element));
    if (path.length) {
        VLWriteChar(err, '\'');
        VLWriteString(err, path);
        VLWriteChar(err, '\'');
    } else {
        VLWriteText(err, "a member");
    }
    VLWritef(err, " which has %u element(s) (step %u of the path).\n", result->elementCount,
             result->pathStep + 1);
}

// The reports of a step that failed, in their fixed order, to standard error.
static void VLPrintReports(const VLRuntimeResult* result, const VLFile* layout,
                           const VLFile* data, VLWriter* err) {
    VLInstruction* instruction = result->instruction;
    uint32_t flags = result->flags;
    if (flags & VLRuntimeResultFlag_AssertionFailed) {
        VLPrintTokenLocation(err, layout, instruction->assertion.token);
        VLWriteText(err, "Assertion triggered!\n");
    }
    if (flags & VLRuntimeResultFlag_InvalidAddress) {
        const auto& member = instruction->scalarExport;
        VLPrintRangeLocation(err, layout, member.placementFirst, member.placementLast);
        VLWriteText(err, "Invalid address of member '");
        VLWriteString(err, member.name);
        VLWritef(err, "' (specified address is %lli, size of file is %llu)\n",
                 static_cast<long long>(result->address),
                 static_cast<unsigned long long>(data->size));
    }
    if (flags & VLRuntimeResultFlag_InvalidSize) {
        const auto& member = instruction->scalarExport;
        VLPrintRangeLocation(err, layout, member.sizeFirst, member.sizeEnd);
        VLWriteText(err, "Invalid size of primitive '");
        VLWriteString(err, member.name);
        VLWritef(err, "' (specified size is %lli)\n", static_cast<long long>(result->size));
    }
    if (flags & VLRuntimeResultFlag_InvalidArrayCount) {
        // The rejected count comes with the result: a struct member's frame is
        // already pushed, so its count location no longer reads as it did.
        VLCountSubject subject = VLCountSubjectOf(instruction);
        VLPrintRangeLocation(err, layout, subject.first, subject.following);
        VLWriteText(err, "Invalid array count of '");
        VLWriteString(err, subject.name);
        VLWritef(err, "' (specified count is %lli).\n", static_cast<long long>(result->count));
    }
    if (flags & VLRuntimeResultFlag_IndexOutOfRange) VLReportIndexOutOfRange(result, layout, err);
    if (flags & VLRuntimeResultFlag_UnknownType) {
        const auto& lookup = instruction->typeLookup;
        VLPrintRangeLocation(err, layout, lookup.first, lookup.end);
        if (lookup.categoryName.length)
            VLWritef(err, "No type registered in category %u ('%.*s') for key %lli.\n", lookup.categoryIndex,
                     int(lookup.categoryName.length), lookup.categoryName.chars,
                     static_cast<long long>(result->count));
        else
            VLWritef(err, "No type registered in category %u for key %lli.\n", lookup.categoryIndex,
                     static_cast<long long>(result->count));
    }
    if (flags & VLRuntimeResultFlag_NestingTooDeep)
        VLWritef(err, "Struct instances nested deeper than %u levels.\n", unsigned(VLMaxNesting));
    if (flags & VLRuntimeResultFlag_ElementOutOfRange) {
        VLCountSubject subject = VLCountSubjectOf(instruction);
        VLPrintRangeLocation(err, layout, subject.first, subject.following);
        VLWritef(err, "Element %lli of '", static_cast<long long>(result->element));
        VLWriteString(err, subject.name);
        VLWritef(err, "' is beyond its array count %u.\n", result->elementCount);
    }
    if (flags & (VLRuntimeResultFlag_NoFinalByte | VLRuntimeResultFlag_ValueTooLarge)) {
        const auto& member = instruction->scalarExport;
        VLPrintRangeLocation(err, layout, member.sizeFirst, member.sizeEnd);
        VLWriteText(err, "Variable-length integer '");
        VLWriteString(err, member.name);
        uint64_t left = data->size - uint64_t(result->address);  // the member starts inside the data
        if ((flags & VLRuntimeResultFlag_NoFinalByte) && left < uint64_t(result->size))
            VLWritef(err, "' has no final byte before the end of the data (%llu byte(s) left).\n",
                     static_cast<unsigned long long>(left));
        else if (flags & VLRuntimeResultFlag_NoFinalByte)
            VLWritef(err, "' has no final byte within its bound of %lli byte(s).\n",
                     static_cast<long long>(result->size));
        else
            VLWriteText(err, "' needs more than 64 bits.\n");
    }
    if (flags & VLRuntimeResultFlag_MemoryLimit) {
        VLString name = VLCountSubjectOf(instruction).name;
        VLWritef(err, "Member records of one run are limited to %llu MiB; the run stops ",
                 static_cast<unsigned long long>(VLRuntimeMemoryLimit >> 20));
        if (name.length) {
            VLWriteText(err, "at member '");
            VLWriteString(err, name);
            VLWriteText(err, "'.\n");
        } else {
            VLWriteText(err, "here.\n");
        }
    }
}

// ---------------------------------------------------------------------------
// The member-event stream
// ---------------------------------------------------------------------------

// A pass's view of the run: the sink, the path builder and the selection it
// keeps up to date, and the structs open now (with, under a selection,
// whether the sink has been given their begin yet).
struct VLEventStream {
    VLOutputSink* sink;
    VLPathBuilder* paths;     // null: paths not followed
    VLSelection* selection;   // null: everything goes to the sink
    VLRuntime* runtime;
    VLWriter* out;            // print output of a text pass with -debug
    uint64_t members;         // members shown
    uint64_t selected;        // members handed to the sink
    VLStructEvent* open;      // open structs, innermost last
    bool* delivered;          // per open struct: the sink has its begin
    uint32_t depth;
    uint32_t capacity;
    bool printing;            // the last pass: prints and reports go to the sink
    bool stopped;             // the sink ended the run (goOn)
};

// The cursor (the global frame's second slot: where the next member is read).
static inline int64_t VLCursorOf(VLRuntime* runtime) {
    return VLSlotValue(runtime, VLLocation{VLLocationKind_Global, 0, 1});
}

// Gives the sink the begins it has not had of the open structs (a selected
// event inside them follows).
static void VLDeliverOpenStructs(VLEventStream* stream) {
    for (uint32_t i = 0; i < stream->depth; ++i) {
        if (stream->delivered[i]) continue;
        stream->delivered[i] = true;
        if (stream->paths) stream->open[i].path = {stream->paths->levels[i + 1].prefixLength, stream->paths->text};
        stream->sink->structBegin(stream->sink->context, &stream->open[i]);
    }
}

static void VLStreamStructBegin(VLEventStream* stream, const VLInstruction* pushFrame) {
    VLRuntime* runtime = stream->runtime;
    if (stream->depth == stream->capacity) {
        stream->capacity = stream->capacity ? 2 * stream->capacity : 16;
        stream->open = static_cast<VLStructEvent*>(realloc(stream->open, sizeof(VLStructEvent) * stream->capacity));
        stream->delivered = static_cast<bool*>(realloc(stream->delivered, sizeof(bool) * stream->capacity));
        VL_ASSERT(stream->open && stream->delivered);
    }
    VLStructEvent* event = &stream->open[stream->depth];
    bool isArray = pushFrame->pushFrame.arrayCount.kind != VLLocationKind_None;
    *event = VLStructEvent{pushFrame, VLPushedType(pushFrame, runtime), pushFrame->pushFrame.name, isArray,
                           isArray ? VLElementIndex(runtime, 3) : 0, VLCursorOf(runtime), 0, {0, ""}, 0};
    if (stream->paths) {
        VLPathEnterStruct(stream->paths, event);
        event->path = VLPathText(stream->paths);
        event->occurrence = stream->paths->lastOccurrence;
    }
    if (!stream->selection) {  // everything is shown: the begin goes to the sink at once
        stream->delivered[stream->depth++] = true;
        stream->sink->structBegin(stream->sink->context, event);
        return;
    }
    VLString name = stream->depth == 0 && event->type ? event->type->name : event->name;
    bool whole = VLSelectEnter(stream->selection, name, stream->paths->lastOccurrence, isArray, event->index);
    stream->delivered[stream->depth++] = false;
    if (whole) VLDeliverOpenStructs(stream);
}

static void VLStreamStructEnd(VLEventStream* stream) {
    if (stream->depth == 0) return;  // a frame the stream never saw begin
    stream->depth--;
    VLStructEvent* event = &stream->open[stream->depth];
    event->size = VLCursorOf(stream->runtime) - event->offset;
    if (stream->paths) {
        event->path = VLPathStructText(stream->paths);
        VLPathLeaveStruct(stream->paths);
    }
    if (stream->selection) VLSelectLeave(stream->selection);
    if (stream->delivered[stream->depth]) stream->sink->structEnd(stream->sink->context, event);
}

static inline void VLStreamMember(VLEventStream* stream, VLInstruction* instruction) {
    VLRuntime* runtime = stream->runtime;
    bool isArray = instruction->scalarExport.arrayCount.kind != VLLocationKind_None;
    VLMemberEvent event;  // filled field by field: the value source needs no clearing
    event.instruction = instruction;
    event.bytes = VLBytesOfMember(instruction, runtime);
    event.isArray = isArray;
    event.index = isArray ? VLElementIndex(runtime, 2) : 0;
    event.path = {0, ""};
    event.occurrence = 0;
    VLValueSourceOf(instruction, runtime, &event.bytes, &event.value);
    ++stream->members;
    if (stream->paths) {
        VLPathAddMember(stream->paths, &event);
        event.path = VLPathText(stream->paths);
        event.occurrence = stream->paths->lastOccurrence;
    }
    if (stream->selection) {
        if (!VLSelectMember(stream->selection, instruction->scalarExport.name, stream->paths->lastOccurrence,
                            isArray, event.index))
            return;
        VLDeliverOpenStructs(stream);
    }
    ++stream->selected;
    stream->sink->member(stream->sink->context, &event);
}

static void VLStreamPrint(VLEventStream* stream, const VLInstruction* instruction) {
    if (!stream->printing) return;
    if (stream->selection) {
        if (!VLSelectInside(stream->selection)) return;
        VLDeliverOpenStructs(stream);
    }
    VLPrintEvent event = {instruction->print.message, instruction->print.value.kind != VLLocationKind_None, 0};
    if (event.hasValue) event.value = *VLResolveLocation(stream->runtime, instruction->print.value);
    stream->sink->print(stream->sink->context, &event);
}

// The front end's part of a step that ran while members are shown: a struct
// begins or ends, a member is shown, a print prints.
static void VLShowStep(VLEventStream* stream, const VLInstruction* instruction) {
    if (VLIsMemberKind(instruction->type)) {  // one shown member
        VLStreamMember(stream, const_cast<VLInstruction*>(instruction));
        return;
    }
    switch (instruction->type) {
    case VLInstructionType_PushFrame:  // a struct member begins
        VLStreamStructBegin(stream, instruction);
        break;
    case VLInstructionType_PopFrame:  // a struct member ends
        VLStreamStructEnd(stream);
        break;
    case VLInstructionType_Print:  // the message, and the value when one is given
        VLStreamPrint(stream, instruction);
        break;
    default:  // nothing to show
        break;
    }
}

// The run loop hands every step to show straight to VLShowStep and runs on;
// members, by far the most frequent, go first.
static bool VLShowVisitor(void* context, VLRuntime* runtime, const VLRuntimeResult* result) {
    VLEventStream* stream = static_cast<VLEventStream*>(context);
    (void)runtime;
    if (stream->sink->goOn && !stream->sink->goOn(stream->sink->context)) {
        stream->stopped = true;
        return false;
    }
    VLInstruction* instruction = result->instruction;
    if (VLIsMemberKind(instruction->type))
        VLStreamMember(stream, instruction);
    else
        VLShowStep(stream, instruction);
    return true;
}

// The member or struct a report stopped the run at, in path notation: the
// member of the failing instruction, or the struct whose body was running.
static VLString VLReportPath(VLEventStream* stream, const VLRuntimeResult* result, char* buffer,
                             uint32_t capacity) {
    if (!stream->paths) return {0, ""};
    const VLInstruction* instruction = result->instruction;
    bool isArray = false;
    if (instruction->type == VLInstructionType_PushFrame)
        isArray = instruction->pushFrame.arrayCount.kind != VLLocationKind_None;
    else if (VLIsMemberKind(instruction->type))
        isArray = instruction->scalarExport.arrayCount.kind != VLLocationKind_None;
    uint32_t index = isArray ? VLElementIndex(stream->runtime, 2) : 0;
    VLPathWriteTexts(stream->paths);
    return {VLPathOfPending(stream->paths, instruction, isArray, index, buffer, capacity), buffer};
}

static void VLIgnoreStruct(void*, const VLStructEvent*) {}
static void VLIgnoreMember(void*, const VLMemberEvent*) {}
static void VLIgnorePrint(void*, const VLPrintEvent*) {}
static void VLIgnoreReport(void*, const VLReportEvent*) {}
static void VLIgnoreEnd(void*, const VLRunEndEvent*) {}

// Where a run that followed no paths stopped, as a path: the program runs
// again from the start over the same data, following paths into a sink that
// keeps nothing, to the same report (or, for -limit, the same step count),
// and the path of the member or struct it stops at is copied to `buffer`.
// Only a stop explained to a person pays for this second run; the run itself
// stays without paths.
static VLString VLLocateStop(const VLProgram* program, const VLFile* data, uint64_t stepLimit, char* buffer,
                             uint32_t capacity) {
    VLOutputSink sink = {nullptr, 1, true, VLIgnoreStruct, VLIgnoreMember, VLIgnoreStruct,
                         VLIgnorePrint, VLIgnoreReport, VLIgnoreEnd, nullptr, false};
    VLPathBuilder paths = {};
    VLPathInit(&paths, program);
    VLArena arena = {};
    VLRuntime runtime;
    VLRuntimeInit(&runtime, program, reinterpret_cast<const uint8_t*>(data->data), data->size, &arena);
    VLEventStream stream = {};
    stream.sink = &sink;
    stream.paths = &paths;
    stream.runtime = &runtime;
    uint64_t stepsLeft = stepLimit ? stepLimit : UINT64_MAX;
    VLString path = {0, buffer};
    for (;;) {
        VLRuntimeResult result = VLRuntimeRun(&runtime, &stepsLeft, VLRuntimeShow_All, VLShowVisitor, &stream);
        if (!result.instruction) {
            VLString text = VLPathStructText(&paths);
            path.length = text.length < capacity ? text.length : capacity;
            memcpy(buffer, text.chars, path.length);
            break;
        }
        if (result.flags) {
            path = VLReportPath(&stream, &result, buffer, capacity);
            break;
        }
        if (runtime.membersHidden == 0) VLShowStep(&stream, result.instruction);
    }
    free(stream.open);
    free(stream.delivered);
    VLPathFree(&paths);
    VLArenaRelease(&arena);
    return path;
}

// The report of a failed step: excerpts and messages to standard error as
// always, and the messages alone with the path to the sink.
static void VLStreamReport(VLEventStream* stream, const VLRuntimeResult* result, const VLProgram* program,
                           const VLFile* layout, const VLFile* data, VLWriter* err) {
    char pathText[4096];
    VLString path = VLReportPath(stream, result, pathText, sizeof pathText);
    VLPrintReports(result, layout, data, err);
    if (VLWantsHints(err)) {
        char locatedText[4096];
        // A run stopped by the memory limit is not run again: that would need the memory twice.
        VLString located = path;
        if (!stream->paths && !(result->flags & VLRuntimeResultFlag_MemoryLimit))
            located = VLLocateStop(program, data, 0, locatedText, sizeof locatedText);
        VLWriteReportContext(result, stream->runtime, program, layout, data, located, err);
    }
    VLWriter messages;
    VLWriterInitMemory(&messages);
    VLPrintReports(result, nullptr, data, &messages);  // no layout: no excerpts
    uint32_t length = uint32_t(messages.used);
    while (length && messages.buffer[length - 1] == '\n') --length;
    VLReportEvent event = {result, {length, messages.buffer}, path, VLCursorOf(stream->runtime)};
    if (result->flags & VLRuntimeResultFlag_InvalidAddress) event.offset = result->address;
    stream->sink->report(stream->sink->context, &event);
    VLWriterFree(&messages);
}

// The report of a run cut short by -limit, which has no instruction of its own.
static void VLStreamStepLimit(VLEventStream* stream, uint64_t stepLimit, VLWriter* err) {
    char message[96];
    int length = snprintf(message, sizeof message, "Run stopped after %llu instructions.",
                          static_cast<unsigned long long>(stepLimit));
    VLWrite(err, message, size_t(length));
    VLWriteChar(err, '\n');
    if (stream->paths) VLPathWriteTexts(stream->paths);
    VLString path = stream->paths ? VLPathStructText(stream->paths) : VLString{0, ""};
    VLReportEvent event = {nullptr, {uint32_t(length), message}, path, VLCursorOf(stream->runtime)};
    stream->sink->report(stream->sink->context, &event);
}

// One pass over the data with a fresh runtime whose records come from
// `arena`. Passes before the last show the sink their members (and, when
// paths are followed, their structs) but nothing else; with -debug the first
// prints the trace. The last pass also gives the sink prints and the report.
static bool VLRunPass(VLProgram* program, const VLFile* data, const VLFile* layout,
                      const VLRunOptions* options, VLEventStream* stream, uint32_t pass, VLArena* arena,
                      VLWriter* debugOut, VLWriter* err) {
    VLRuntime runtime;
    VLRuntimeInit(&runtime, program, reinterpret_cast<const uint8_t*>(data->data), data->size, arena);
    stream->runtime = &runtime;
    stream->members = stream->selected = 0;
    stream->depth = 0;
    stream->printing = pass + 1 == stream->sink->passes;
    stream->stopped = false;
    if (stream->paths) VLPathReset(stream->paths);
    if (stream->selection) VLSelectionReset(stream->selection);
    bool trace = options->debug && pass == 0;
    uint64_t stepsLeft = options->stepLimit ? options->stepLimit : UINT64_MAX;
    uint32_t depth = 0;
    bool reported = false;
    // A measuring pass that follows no paths needs to see members only:
    // struct headers and print output are not measured, and every member
    // line starts at the first column anyway.
    uint32_t kinds = stream->printing || stream->paths ? VLRuntimeShow_All : VLRuntimeShow_Members;
    for (;;) {
        // The trace shows every instruction before it runs, so it goes one
        // step at a time; otherwise the runtime runs on, handing what there
        // is to show to VLShowStep, until a report or the end.
        VLRuntimeResult result;
        if (trace) {
            if (stepsLeft == 0 || VLRuntimeHasEnded(&runtime)) break;
            VLTraceInstruction(&runtime, &depth, debugOut);
            --stepsLeft;
            result = VLRuntimeStep(&runtime);
        } else {
            result = VLRuntimeRun(&runtime, &stepsLeft, kinds, VLShowVisitor, stream);
        }
        VLInstruction* instruction = result.instruction;
        if (stream->stopped) break;  // the sink ended the run (it has seen the step already)
        if (!instruction) {
            if (stepsLeft == 0 && options->reportStepLimit && !VLRuntimeHasEnded(&runtime)) {
                if (stream->printing) {
                    VLStreamStepLimit(stream, options->stepLimit, err);
                    if (VLWantsHints(err)) {
                        char pathText[4096];
                        VLString path = stream->paths ? VLPathStructText(stream->paths)
                                                      : VLLocateStop(program, data, options->stepLimit, pathText,
                                                                     sizeof pathText);
                        VLWriteStepLimitHint(&runtime, program, path, err);
                    }
                }
                reported = true;
            }
            break;
        }
        if (result.flags) {
            if (stream->printing) VLStreamReport(stream, &result, program, layout, data, err);
            reported = true;
            break;
        }
        if (runtime.membersHidden == 0) VLShowStep(stream, instruction);
    }
    VLRunEndEvent end = {pass, stream->printing, reported, stream->members, stream->selected};
    stream->sink->end(stream->sink->context, &end);
    if (stream->printing && stream->members == 0) VLWriteNoMembersHint(program, reported, err);
    return reported;
}

// Warns on standard error of every -select PATH that selected nothing.
static void VLWarnUnmatched(const VLSelection* selection, VLWriter* err) {
    for (uint32_t p = 0; p < selection->patternCount; ++p) {
        if (selection->patterns[p].matched) continue;
        VLWritef(err, "WARNING -select %s selects no member.\n", selection->patterns[p].text);
    }
}

bool VLRunSink(VLProgram* program, const VLFile* layout, const VLFile* data, const VLRunOptions* options,
               VLOutputSink* sink, VLWriter* debugOut, VLWriter* err) {
    if (options->debug) VLPrintListing(program, debugOut);
    VLPathBuilder paths = {};
    // A report shown to a person finds its path by a second run (VLLocateStop).
    bool followPaths = sink->needsPaths || options->selection || sink->needsOccurrences;
    if (followPaths) VLPathInit(&paths, program);
    paths.countOnly = followPaths && !sink->needsPaths && !options->selection;
    VLEventStream stream = {};
    stream.sink = sink;
    stream.paths = followPaths ? &paths : nullptr;
    stream.selection = options->selection;
    // The measuring pass's records are never read again: the printing pass
    // gets the same memory, already mapped, instead of fresh pages.
    VLArena arena = {};
    bool reported = false;
    for (uint32_t pass = 0; pass < sink->passes; ++pass) {
        if (options->debug) VLWriteChar(debugOut, '\n');
        if (pass > 0) VLArenaReset(&arena);
        if (stream.selection) {  // the counts of the last pass decide the warnings
            for (uint32_t p = 0; p < stream.selection->patternCount; ++p) stream.selection->patterns[p].matched = 0;
        }
        reported = VLRunPass(program, data, layout, options, &stream, pass, &arena, debugOut, err);
        if (stream.stopped) break;
    }
    if (stream.selection && !stream.stopped) VLWarnUnmatched(stream.selection, err);
    VLArenaRelease(&arena);
    free(stream.open);
    free(stream.delivered);
    if (followPaths) VLPathFree(&paths);
    return reported;
}

bool VLRunPasses(VLProgram* program, const VLFile* layout, const VLFile* data,
                 const VLRunOptions* options, VLWriter* out, VLWriter* err) {
    // The JSON outputs own standard output: the listing and trace go to
    // standard error with them.
    VLWriter* debugOut = options->format == VLOutputFormat_Text ? out : err;
    VLTextSink text;
    VLNdjsonSink ndjson;
    VLJsonSink json;
    VLOutputSink sink;
    switch (options->format) {
        case VLOutputFormat_Ndjson: sink = VLMakeNdjsonSink(&ndjson, out, err); break;
        case VLOutputFormat_Json: sink = VLMakeJsonSink(&json, out, err, layout, data); break;
        default: sink = VLMakeTextSink(&text, out); break;
    }
    return VLRunSink(program, layout, data, options, &sink, debugOut, err);
}
