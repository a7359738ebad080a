// Passes.cpp - the run stage: the -debug listing, then two runs of the compiled
// program over the data. The measuring pass lets the member display learn its
// column widths (and, with -debug, prints the execution trace); the printing
// pass prints members, print output and the report that ends a run.
#include "CommandLine.h"

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

// What a pass shows, and the count of member lines (the no-members warning).
struct VLPassShow {
    VLColumns* columns;
    VLWriter* display;  // null in the measuring pass
    VLWriter* out;
    bool printing;
    uint64_t exported;
};

// The front end's part of a step that ran while members are shown: a header,
// the end of a struct, a member line or print output.
static void VLShowStep(VLPassShow* show, VLRuntime* runtime, const VLInstruction* instruction) {
    if (VLIsMemberKind(instruction->type)) {  // one exported member line
        VLPrintMember(const_cast<VLInstruction*>(instruction), runtime, show->columns, show->display);
        ++show->exported;
        return;
    }
    switch (instruction->type) {
    case VLInstructionType_PushFrame:  // a struct member begins: its header line
        VLPrintStructHeader(instruction, runtime, show->display);
        break;
    case VLInstructionType_PopFrame:  // a struct member ends: back to the first column
        VLPrintStructEnd(show->columns, show->display);
        break;
    case VLInstructionType_Print:  // the message, and the value when one is given
        if (!show->printing) break;
        VLWriteString(show->out, instruction->print.message);
        if (instruction->print.value.kind != VLLocationKind_None)
            VLWritef(show->out, " %lli",
                     static_cast<long long>(*VLResolveLocation(runtime, instruction->print.value)));
        VLWriteChar(show->out, '\n');
        break;
    default:  // nothing to show
        break;
    }
}

// The run loop hands every step to show straight to VLShowStep and runs on;
// member lines, by far the most frequent, go first.
static bool VLShowVisitor(void* context, VLRuntime* runtime, const VLRuntimeResult* result) {
    VLPassShow* show = static_cast<VLPassShow*>(context);
    VLInstruction* instruction = result->instruction;
    if (VLIsMemberKind(instruction->type)) {
        VLPrintMember(instruction, runtime, show->columns, show->display);
        ++show->exported;
    } else {
        VLShowStep(show, runtime, instruction);
    }
    return true;
}

// One pass over the data with a fresh runtime whose records come from
// `arena`. The measuring pass (`printing` false) prints nothing but the
// trace; the printing pass prints members, print output, reports and the
// no-members warning.
static bool VLRunPass(VLProgram* program, const VLFile* data, const VLFile* layout,
                      const VLRunOptions* options, VLColumns* columns, bool printing,
                      VLArena* arena, VLWriter* out, VLWriter* err) {
    VLRuntime runtime;
    VLRuntimeInit(&runtime, program, reinterpret_cast<const uint8_t*>(data->data), data->size, arena);
    VLPassShow show = {columns, printing ? out : nullptr, out, printing, 0};
    bool trace = options->debug && !printing;
    uint64_t stepsLeft = options->stepLimit ? options->stepLimit : UINT64_MAX;
    uint32_t depth = 0;
    bool reported = false;
    for (;;) {
        // The trace shows every instruction before it runs, so it goes one
        // step at a time; otherwise the runtime runs on, handing what there
        // is to show to VLShowStep, until a report or the end.
        VLRuntimeResult result;
        if (trace) {
            if (stepsLeft == 0 || VLRuntimeHasEnded(&runtime)) break;
            VLTraceInstruction(&runtime, &depth, out);
            --stepsLeft;
            result = VLRuntimeStep(&runtime);
        } else {
            // The measuring pass sees only members: struct headers and print
            // output are not measured, and every member line starts at the
            // first column anyway.
            uint32_t kinds = printing ? VLRuntimeShow_All : VLRuntimeShow_Members;
            result = VLRuntimeRun(&runtime, &stepsLeft, kinds, VLShowVisitor, &show);
        }
        VLInstruction* instruction = result.instruction;
        if (!instruction) {
            if (stepsLeft == 0 && options->reportStepLimit && !VLRuntimeHasEnded(&runtime)) {
                if (printing) {
                    VLWritef(err, "Run stopped after %llu instructions.\n",
                             static_cast<unsigned long long>(options->stepLimit));
                    VLWriteStepLimitHint(&runtime, program, err);
                }
                reported = true;
            }
            break;
        }
        if (result.flags) {
            if (printing) {
                VLPrintReports(&result, layout, data, err);
                VLWriteReportContext(&result, &runtime, program, layout, data, err);
            }
            reported = true;
            break;
        }
        if (runtime.membersHidden == 0) VLShowStep(&show, &runtime, instruction);
    }
    if (printing && show.exported == 0) {
        VLWriteText(out, "WARNING No members exported, this can be due to missing 'layout' or "
                         "because type had no members.\n");
        VLWriteNoMembersHint(program, reported, err);
    }
    return reported;
}

bool VLRunPasses(VLProgram* program, const VLFile* layout, const VLFile* data,
                 const VLRunOptions* options, VLWriter* out, VLWriter* err) {
    if (options->debug) VLPrintListing(program, out);
    VLColumns columns = {};
    // The measuring pass's records are never read again: the printing pass
    // gets the same memory, already mapped, instead of fresh pages.
    VLArena arena = {};
    bool reported = false;
    for (int pass = 0; pass < 2; ++pass) {
        if (options->debug) VLWriteChar(out, '\n');
        if (pass == 1) VLArenaReset(&arena);
        reported = VLRunPass(program, data, layout, options, &columns, pass == 1, &arena, out, err);
    }
    VLArenaRelease(&arena);
    return reported;
}
