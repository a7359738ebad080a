// BrowseDecode.cpp - the explorer's decoder: runs the compiled program over the
// data once, with the text output's notion of what is shown, and appends one
// index event per shown step. The report that stops a run is kept as text (the
// lines standard error would get) for the status line and the tree's last line.
#include "BrowseDecode.h"

// Element number of the struct level `fromTop` levels below the innermost one
// (2 for a scalar, 3 for a struct just pushed); 0 when there is no such level.
static uint32_t VLElementNumber(const VLRuntime* runtime, uint32_t fromTop) {
    if (runtime->stackCount < fromTop) return 0;
    uint32_t entry = runtime->stackCount - fromTop;
    return entry < VLMaxNesting ? runtime->arrayIndices[entry] : 0;
}

// The type index of a struct just pushed, read as it stood before the push.
static uint32_t VLPushedTypeIndex(const VLInstruction* push, VLRuntime* runtime) {
    VLLocation location = push->pushFrame.typeIndex;
    if (location.kind == VLLocationKind_None) return VLBrowseNone;
    if (location.kind == VLLocationKind_Local) location.depth += 1;
    int64_t value = *VLResolveLocation(runtime, location);
    return value < 0 || value >= int64_t(VLBrowseNone) ? VLBrowseNone : uint32_t(value);
}

// One shown step into the index; false ends the run (stop asked, index full).
static bool VLIndexStep(VLBrowseDecoder* decoder, VLRuntime* runtime, const VLInstruction* instruction) {
    VLBrowseIndex* index = decoder->index;
    switch (instruction->type) {
    case VLInstructionType_ScalarMemberU:  // a member: where its bytes are
    case VLInstructionType_ScalarMemberS:
    case VLInstructionType_ScalarMemberF: {
        const auto& scalar = instruction->scalarExport;
        bool isArray = scalar.arrayCount.kind != VLLocationKind_None;
        int64_t address = *VLResolveLocation(runtime, scalar.address);
        int64_t size = *VLResolveLocation(runtime, scalar.size);
        return VLBrowseAppendMember(index, instruction->index, isArray, isArray ? VLElementNumber(runtime, 2) : 0, 0,
                                    uint64_t(address), size > 0 ? uint64_t(size) : 0);
    }
    case VLInstructionType_PushFrame: {  // a struct instance begins
        bool isArray = instruction->pushFrame.arrayCount.kind != VLLocationKind_None;
        return VLBrowseAppendStructBegin(index, instruction->index, VLPushedTypeIndex(instruction, runtime), isArray,
                                         isArray ? VLElementNumber(runtime, 3) : 0, 0);
    }
    case VLInstructionType_PopFrame: return VLBrowseAppendStructEnd(index);
    case VLInstructionType_Print: {  // print output, with its value when one is given
        bool hasValue = instruction->print.value.kind != VLLocationKind_None;
        int64_t value = hasValue ? *VLResolveLocation(runtime, instruction->print.value) : 0;
        return VLBrowseAppendPrint(index, instruction->index, hasValue, value);
    }
    default: return true;
    }
}

static bool VLDecodeVisitor(void* context, VLRuntime* runtime, const VLRuntimeResult* result) {
    auto* decoder = static_cast<VLBrowseDecoder*>(context);
    if (decoder->stop.load(std::memory_order_relaxed)) return false;
    return VLIndexStep(decoder, runtime, result->instruction);
}

void VLBrowseDecodeRun(VLBrowseDecoder* decoder) {
    VLArena arena = {};
    VLRuntime runtime;
    VLRuntimeInit(&runtime, decoder->program, reinterpret_cast<const uint8_t*>(decoder->data->data),
                  decoder->data->size, &arena);
    uint64_t stepsLeft = UINT64_MAX;
    for (;;) {
        if (decoder->stop.load(std::memory_order_relaxed) || decoder->index->full) break;
        VLRuntimeResult result = VLRuntimeRun(&runtime, &stepsLeft, VLRuntimeShow_All, VLDecodeVisitor, decoder);
        if (!result.instruction) break;
        if (result.flags) {
            VLWriter err;
            VLWriterInitMemory(&err);
            VLPrintRunReports(&result, decoder->layout, decoder->data, &err);
            decoder->report.assign(err.buffer, err.used);
            VLWriterFree(&err);
            std::string text = decoder->report;
            while (!text.empty() && text.back() == '\n') text.pop_back();
            size_t lineStart = text.rfind('\n');
            decoder->message = lineStart == std::string::npos ? text : text.substr(lineStart + 1);
            decoder->reported = true;
            break;
        }
        // Otherwise the visitor declined a step: the screen asked to stop or
        // the index is full (checked above).
    }
    if (decoder->index->full && !decoder->reported)
        decoder->message = "The explorer's index is full; the members after this point are not shown.";
    VLArenaRelease(&arena);
    VLBrowseFinish(decoder->index);
}

void VLBrowseDecodeStart(VLBrowseDecoder* decoder) {
    decoder->thread = std::thread(VLBrowseDecodeRun, decoder);
}

void VLBrowseDecodeJoin(VLBrowseDecoder* decoder) {
    decoder->stop.store(true);
    if (decoder->thread.joinable()) decoder->thread.join();
}
