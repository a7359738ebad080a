// FuzzSupport.cpp - one in-process run of the program for the fuzz targets:
// the same stages and reports as the command line (invalid-token excerpts,
// the compile error's excerpt, both passes), with output formatted in full
// and then discarded, and every record of the run released at the end.
// A layout may carry files for its include statements after its own text.
// Compiled programs are also run twice more, once an instruction at a time
// and once through the runtime's run loop, and the two must show the front
// end the same things: the run loop's shortcuts (decoded chunks, fused
// instructions) may never change what a layout does.
#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "CommandLine.h"

// What a step shows the front end: the instruction, the report, and the
// values the display and the reports read right after it.
struct VLFuzzEvent {
    uint32_t index;
    uint32_t flags;
    int64_t address, size, count, element;
    uint32_t elementCount, pathStep;
    uint32_t stackCount;
    uint32_t arrayIndex;    // the element number the display shows
    int64_t operands[2];    // scalar: address and size; print: the value; push: type index
};

static bool VLFuzzShown(const VLRuntime* runtime, const VLRuntimeResult& result) {
    if (!result.instruction) return false;
    if (result.flags) return true;
    if (runtime->membersHidden != 0) return false;
    int32_t type = result.instruction->type;
    return VLIsMemberKind(type) || type == VLInstructionType_PushFrame || type == VLInstructionType_PopFrame ||
           type == VLInstructionType_Print;
}

static VLFuzzEvent VLFuzzEventOf(VLRuntime* runtime, const VLRuntimeResult& result) {
    const VLInstruction* instruction = result.instruction;
    VLFuzzEvent event = {instruction->index, result.flags, result.address, result.size, result.count,
                         result.element, result.elementCount, result.pathStep, runtime->stackCount,
                         0, {0, 0}};
    if (runtime->stackCount >= 2 && runtime->stackCount - 2 < VLMaxNesting)
        event.arrayIndex = runtime->arrayIndices[runtime->stackCount - 2];
    if (VLIsMemberKind(instruction->type)) {
        event.operands[0] = *VLResolveLocation(runtime, instruction->scalarExport.address);
        event.operands[1] = *VLResolveLocation(runtime, instruction->scalarExport.size);
    } else if (instruction->type == VLInstructionType_Print) {
        event.operands[0] = *VLResolveLocation(runtime, instruction->print.value);
    }
    return event;
}

static bool VLFuzzSameEvent(const VLFuzzEvent& a, const VLFuzzEvent& b) {
    return a.index == b.index && a.flags == b.flags && a.address == b.address && a.size == b.size &&
           a.count == b.count && a.element == b.element && a.elementCount == b.elementCount &&
           a.pathStep == b.pathStep && a.stackCount == b.stackCount && a.arrayIndex == b.arrayIndex &&
           a.operands[0] == b.operands[0] && a.operands[1] == b.operands[1];
}

// Runs `program` over the data for at most `steps` steps, by single steps or
// through the run loop, and lists what the front end would be shown.
static std::vector<VLFuzzEvent> VLFuzzEvents(const VLProgram* program, const uint8_t* data,
                                             size_t dataSize, uint64_t steps, bool singleSteps) {
    std::vector<VLFuzzEvent> events;
    VLArena arena{};
    VLRuntime runtime;
    VLRuntimeInit(&runtime, program, data, dataSize, &arena);
    uint64_t stepsLeft = steps;
    for (;;) {
        VLRuntimeResult result;
        if (singleSteps) {
            if (stepsLeft == 0) break;
            --stepsLeft;
            result = VLRuntimeStep(&runtime);
        } else {
            result = VLRuntimeRun(&runtime, &stepsLeft);
        }
        if (!result.instruction) break;
        if (!VLFuzzShown(&runtime, result)) continue;
        events.push_back(VLFuzzEventOf(&runtime, result));
        if (result.flags) break;
    }
    VLArenaRelease(&arena);
    return events;
}

static void VLFuzzPrintEvent(const char* label, const VLFuzzEvent& e) {
    fprintf(stderr, "  %s: instruction %u flags %#x address %lld size %lld count %lld element %lld/%u step %u "
                    "frames %u index %u operands %lld %lld\n",
            label, e.index, e.flags, static_cast<long long>(e.address), static_cast<long long>(e.size),
            static_cast<long long>(e.count), static_cast<long long>(e.element), e.elementCount, e.pathStep,
            e.stackCount, e.arrayIndex, static_cast<long long>(e.operands[0]),
            static_cast<long long>(e.operands[1]));
}

// Aborts (a finding) when single steps and the run loop disagree.
static void VLFuzzCompareRunLoops(const VLProgram* program, const uint8_t* data, size_t dataSize) {
    std::vector<VLFuzzEvent> single = VLFuzzEvents(program, data, dataSize, VLFuzzStepLimit, true);
    std::vector<VLFuzzEvent> loop = VLFuzzEvents(program, data, dataSize, VLFuzzStepLimit, false);
    size_t n = single.size() < loop.size() ? single.size() : loop.size();
    for (size_t i = 0; i <= n; ++i) {
        bool differ = i < n ? !VLFuzzSameEvent(single[i], loop[i]) : single.size() != loop.size();
        if (!differ) continue;
        fprintf(stderr, "Single steps and the run loop differ at shown event %zu (of %zu and %zu):\n", i,
                single.size(), loop.size());
        if (i < single.size()) VLFuzzPrintEvent("single", single[i]);
        if (i < loop.size()) VLFuzzPrintEvent("loop  ", loop[i]);
        abort();
    }
}

// Aborts (a finding) when the reports of a layout that never ran are out of
// proportion to its text. Each excerpt is at most two lines of the text's
// length plus a file name and position; a listing of a few hundred of them is
// the most any layout may produce before it runs, whatever its shape.
static void VLFuzzCheckReportSize(const VLWriter* err, size_t layoutSize) {
    uint64_t bound = 256 * (uint64_t(layoutSize) + 64) + 65536;
    if (err->flushed + err->used <= bound) return;
    fprintf(stderr, "Reports of %llu bytes for a layout of %zu bytes that never ran (at most %llu expected).\n",
            static_cast<unsigned long long>(err->flushed + err->used), layoutSize,
            static_cast<unsigned long long>(bound));
    abort();
}

// The files a fuzz layout may include: its text may end with files of its
// own, each after a line "//@file NAME" (NAME relative to the layout's folder).
// An include names one as the command line would, joined to the folder of the
// including file; each is tokenized once, when first included.
struct VLFuzzIncludes {
    VLArena* arena;
    std::vector<std::string> names;  // [0] the layout itself
    std::vector<std::string> texts;
    std::vector<VLFile> files;
    std::vector<VLToken*> tokens;
    std::vector<bool> loaded;
    std::vector<const char*> messages;
};

static const char VLFuzzFileMarker[] = "\n//@file ";

// Splits the layout's own text from the files that follow it.
static void VLFuzzSplitFiles(const std::string& layout, VLFuzzIncludes* includes) {
    size_t at = layout.find(VLFuzzFileMarker);
    includes->names.push_back("fuzz.vlt");
    includes->texts.push_back(layout.substr(0, at));
    while (at != std::string::npos) {
        size_t nameStart = at + sizeof VLFuzzFileMarker - 1;
        size_t nameEnd = layout.find('\n', nameStart);
        if (nameEnd == std::string::npos) nameEnd = layout.size();
        size_t next = layout.find(VLFuzzFileMarker, nameEnd);
        includes->names.push_back(layout.substr(nameStart, nameEnd - nameStart));
        includes->texts.push_back(nameEnd < layout.size() ? layout.substr(nameEnd + 1, next - nameEnd - 1) : "");
        at = next;
    }
    for (size_t i = 0; i < includes->names.size(); ++i) {
        includes->files.push_back({includes->names[i].c_str(), includes->texts[i].size(),
                                   const_cast<char*>(includes->texts[i].c_str()), nullptr});
        includes->tokens.push_back(nullptr);
        includes->loaded.push_back(i == 0);
        includes->messages.push_back(nullptr);
    }
}

static VLIncludedFile VLFuzzLoadIncluded(void* context, uint32_t includingFile, VLString path) {
    VLFuzzIncludes* includes = static_cast<VLFuzzIncludes*>(context);
    const std::string& including = includes->names[includingFile];
    size_t slash = including.rfind('/');
    std::string name = (slash == std::string::npos ? "" : including.substr(0, slash + 1)) +
                       std::string(path.chars, path.length);
    for (uint32_t i = 0; i < includes->names.size(); ++i) {
        if (includes->names[i] != name) continue;
        if (!includes->loaded[i]) {
            includes->loaded[i] = true;
            VLScanResult scan = VLTokenize(includes->texts[i].c_str(), includes->arena, i);
            if (scan.invalidTokens) includes->messages[i] = "Invalid tokens in included file.";
            else includes->tokens[i] = scan.tokens;
        }
        return {i, includes->tokens[i], includes->names[i].c_str(), includes->messages[i]};
    }
    return {0, nullptr, "", "Failed to open included file."};
}

void VLFuzzRunLayout(const std::string& layout, const uint8_t* data, size_t dataSize, bool runPasses,
                     bool debug) {
    VLArena arena{};
    VLWriter out, err;
    VLWriterInitNull(&out);
    VLWriterInitNull(&err);
    // Every other input also gets the hints and colour of a terminal.
    if (layout.size() & 1) err.style = VLWriterStyle_Hints | VLWriterStyle_Color;
    VLFuzzIncludes includes;
    includes.arena = &arena;
    VLFuzzSplitFiles(layout, &includes);
    VLFile layoutFile = includes.files[0];
    layoutFile.sources = includes.files.data();
    VLIncludeLoader loader = {VLFuzzLoadIncluded, &includes, "fuzz.vlt"};
    VLScanResult scan = VLTokenize(includes.texts[0].c_str(), &arena);
    bool ran = false;
    if (!VLReportInvalidTokens(&scan, &layoutFile, &err)) {
        VLProgram program = VLCompile(scan.tokens, &arena, &loader);
        if (!VLReportCompileError(&program, &layoutFile, &err) && runPasses) {
            ran = true;
            VLFile dataFile{"fuzz.bin", dataSize, reinterpret_cast<char*>(const_cast<uint8_t*>(data))};
            VLRunOptions options{};
            options.debug = debug;
            options.stepLimit = debug ? VLFuzzTraceStepLimit : VLFuzzStepLimit;
            VLRunPasses(&program, &layoutFile, &dataFile, &options, &out, &err);
            VLFuzzCompareRunLoops(&program, data, dataSize);
        }
    }
    if (!ran) VLFuzzCheckReportSize(&err, layout.size());
    VLWriterFree(&out);
    VLWriterFree(&err);
    VLArenaRelease(&arena);
}
