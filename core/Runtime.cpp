// Runtime.cpp - the step machine that runs a compiled program over the data.
//
// Owns everything a run keeps: the frames of 64 value slots (recycled through
// a free list), the scratch cell, location resolution, the member tree and
// the execution of every instruction kind. VLRuntimeStep runs one instruction
// (the trace needs every one); VLRuntimeRun runs a stretch of them in one
// loop until an instruction the front end must see.
//
// The member tree keeps what member paths can read and nothing else: the
// compiler marks every member that some path names as referenced. A referenced
// member gets element records (created as elements are reached, refilled when
// reached again); any other member keeps only its element count, which decides
// the array reports. An instance that no path can reach (the layout root, a
// sizeof instance, a struct member no path names) lives in a record reused by
// every instance at its frame level: nothing outlives its pop-frame there.
//
// Failures come back as result flags with the values that explain them; the
// front end decides what to print. Nothing here stops the process on account
// of a layout or its data.
#include <cstring>

#include "Vellum.h"

// The global frame plus one frame per struct level that arrayIndices can track.
enum : uint32_t { VLMaxStackCount = VLMaxNesting + 1 };
// Element records a member array gets when its first element is reached: at
// least the minimum, at most the maximum (see VLFirstCapacity); further
// records are added geometrically as higher elements are reached.
enum : uint32_t { VLMinFirstCapacity = 8, VLMaxFirstCapacity = 1u << 24 };

static_assert((VLInstructionChunkCapacity & (VLInstructionChunkCapacity - 1)) == 0,
              "instruction numbers split into chunk and place by shifting");
enum : uint32_t { VLChunkShift = 8 };
static_assert(1u << VLChunkShift == VLInstructionChunkCapacity, "shift matches the chunk capacity");

// ---------------------------------------------------------------------------
// Locations
// ---------------------------------------------------------------------------

// Walks `count` frames outward from the innermost one; null past the global frame.
static VLRuntimeFrame* VLFrameOutward(VLRuntime* runtime, uint32_t count) {
    VLRuntimeFrame* frame = runtime->frames;
    while (count && frame) {
        frame = frame->parent;
        --count;
    }
    return frame;
}

// The general case of VLSlot: frames further out, kind None, slot numbers past
// the frame and frames that do not exist (the last three denote the scratch cell).
static int64_t* VLSlotSlow(VLRuntime* runtime, VLLocation location) {
    if (location.index >= VLFrameSlotCount) return &runtime->scratch;
    VLRuntimeFrame* frame;
    if (location.kind == VLLocationKind_Local) {
        frame = VLFrameOutward(runtime, location.depth);
    } else if (location.kind == VLLocationKind_Global) {
        if (location.depth >= runtime->stackCount) return &runtime->scratch;
        frame = VLFrameOutward(runtime, runtime->stackCount - location.depth - 1);
    } else {
        return &runtime->scratch;
    }
    return frame ? &frame->slots[location.index] : &runtime->scratch;
}

// The slot a location denotes. The innermost frame and the global frame at
// depth 0 are nearly every operand and are answered with two tests.
static inline int64_t* VLSlot(VLRuntime* runtime, const VLLocation& location) {
    if (location.index < VLFrameSlotCount && location.depth == 0) {
        if (location.kind == VLLocationKind_Local) return &runtime->frames->slots[location.index];
        if (location.kind == VLLocationKind_Global) return &runtime->globalFrame->slots[location.index];
    }
    return VLSlotSlow(runtime, location);
}

static inline int64_t VLValue(VLRuntime* runtime, const VLLocation& location) {
    return *VLSlot(runtime, location);
}

// The front end's and the listing's view of a slot; also answers for a
// runtime record put together by hand, without a global frame of its own.
int64_t* VLResolveLocation(VLRuntime* runtime, VLLocation location) {
    if (!runtime->frames) return &runtime->scratch;
    if (!runtime->globalFrame) return VLSlotSlow(runtime, location);
    return VLSlot(runtime, location);
}

// ---------------------------------------------------------------------------
// Lifecycle and position
// ---------------------------------------------------------------------------

// The chunk table: chunk k holds instructions k * capacity and on. The
// instruction list fills a chunk before it opens the next, which the table
// relies on.
static void VLBuildChunkTable(VLRuntime* runtime, const VLInstructionList* list) {
    uint32_t count = 0;
    for (const VLInstructionChunk* chunk = list->first; chunk; chunk = chunk->next) ++count;
    runtime->chunkCount = count;
    if (count == 0) return;
    runtime->chunks = VLArenaNew<VLInstructionChunk*>(runtime->arena, count);
    uint32_t k = 0;
    uint64_t total = 0;
    for (VLInstructionChunk* chunk = list->first; chunk; chunk = chunk->next) {
        VL_ASSERT(!chunk->next || chunk->count == VLInstructionChunkCapacity);
        runtime->chunks[k++] = chunk;
        total += chunk->count;
    }
    VL_ASSERT(total == list->totalCount);
}

void VLRuntimeInit(VLRuntime* runtime, const VLProgram* program, const uint8_t* data,
                   uint64_t dataSize, VLArena* arena) {
    *runtime = VLRuntime{};
    runtime->arena = arena;
    runtime->frames = VLArenaNew<VLRuntimeFrame>(arena);
    runtime->globalFrame = runtime->frames;
    runtime->stackCount = 1;
    runtime->types = &program->types;
    runtime->categoryEntryCount = program->categoryEntryCount;
    runtime->categoryEntries = program->categoryEntries;
    runtime->instructions = &program->instructions;
    runtime->position = VLInstructionPosition{program->instructions.first, 0};
    runtime->data = data;
    runtime->dataSize = dataSize;
    runtime->instancePool = VLArenaNew<VLRuntimeMember>(arena, VLMaxNesting);
    VLBuildChunkTable(runtime, &program->instructions);
}

bool VLRuntimeHasEnded(const VLRuntime* runtime) {
    const VLInstructionPosition& position = runtime->position;
    return !position.chunk || position.place >= position.chunk->count;
}

// Where a run loop stands: the next instruction and the end of its chunk.
// `next` == `end` means the chunk is used up (the next one follows); a null
// chunk means the program has ended.
struct VLCursor {
    VLInstructionChunk* chunk;
    VLInstruction* next;
    VLInstruction* end;
};

static VLCursor VLCursorAt(VLInstructionPosition position) {
    if (!position.chunk || position.place >= position.chunk->count) return VLCursor{nullptr, nullptr, nullptr};
    VLInstruction* items = position.chunk->items;
    return VLCursor{position.chunk, items + position.place, items + position.chunk->count};
}

// Moves past a used-up chunk; false when the program has ended.
static bool VLCursorReady(VLCursor* cursor) {
    while (cursor->next == cursor->end) {
        if (!cursor->chunk || !cursor->chunk->next) {
            *cursor = VLCursor{nullptr, nullptr, nullptr};
            return false;
        }
        cursor->chunk = cursor->chunk->next;
        cursor->next = cursor->chunk->items;
        cursor->end = cursor->next + cursor->chunk->count;
    }
    return true;
}

static VLInstructionPosition VLPositionOf(VLCursor cursor) {
    VLCursorReady(&cursor);
    if (!cursor.chunk) return VLInstructionPosition{nullptr, 0};
    return VLInstructionPosition{cursor.chunk, uint32_t(cursor.next - cursor.chunk->items)};
}

// Makes the instruction after number `target` the next one to run: jumps,
// skips and returns all continue after their target. The arithmetic is on 32
// bits, so the target 0xFFFFFFFF (a loop that starts before the first
// instruction) continues at instruction 0, and the last instruction as target
// ends the program.
static void VLContinueAfter(const VLRuntime* runtime, uint32_t target, VLCursor* cursor) {
    uint32_t number = target + 1;
    uint32_t total = runtime->instructions->totalCount;
    VL_ASSERT(number <= total);
    if (number == total) {
        *cursor = VLCursor{nullptr, nullptr, nullptr};
        return;
    }
    VLInstructionChunk* chunk = runtime->chunks[number >> VLChunkShift];
    *cursor = VLCursor{chunk, chunk->items + (number & (VLInstructionChunkCapacity - 1)),
                       chunk->items + chunk->count};
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

static void VLPushFrame(VLRuntime* runtime) {
    VLRuntimeFrame* frame = runtime->freeFrames;
    if (frame) {
        runtime->freeFrames = frame->parent;
        memset(frame->slots, 0, sizeof frame->slots);
    } else {
        frame = VLArenaNew<VLRuntimeFrame>(runtime->arena);
    }
    frame->parent = runtime->frames;
    runtime->frames = frame;
    ++runtime->stackCount;
}

// Removes the innermost frame, clears its element number and keeps the frame
// for the next push.
static void VLPopFrame(VLRuntime* runtime) {
    VL_ASSERT(runtime->stackCount > 1);
    VLRuntimeFrame* frame = runtime->frames;
    runtime->frames = frame->parent;
    --runtime->stackCount;
    runtime->arrayIndices[runtime->stackCount - 1] = 0;
    frame->parent = runtime->freeFrames;
    runtime->freeFrames = frame;
}

// Element number set by the body running in the innermost frame; the global
// frame has no entry (no member is declared there).
static uint32_t VLCurrentElement(const VLRuntime* runtime) {
    return runtime->stackCount >= 2 ? runtime->arrayIndices[runtime->stackCount - 2] : 0;
}

// ---------------------------------------------------------------------------
// Member tree
// ---------------------------------------------------------------------------

static constexpr uint32_t VLFilledInstance = VLRuntimeMemberFlag_IsNested | VLRuntimeMemberFlag_IsSet;

// First use of a member in its instance: fixes the element count, 1 for a
// member that is no array. A count below 1 or beyond 32 bits is reported and
// the member keeps one element.
static void VLSetUpMemberArray(VLRuntime* runtime, VLRuntimeMemberArray* array,
                               VLLocation countLocation, VLRuntimeResult* result) {
    uint32_t count = 1;
    if (countLocation.kind != VLLocationKind_None) {
        int64_t requested = VLValue(runtime, countLocation);
        if (requested > 0 && uint64_t(requested) <= UINT32_MAX) {
            count = uint32_t(requested);
        } else {
            result->flags |= VLRuntimeResultFlag_InvalidArrayCount;
            result->count = requested;
        }
    }
    array->arrayCount = count;
}

// Reports an element number that is not below the array's count; true when
// the element exists.
static bool VLElementExists(const VLRuntimeMemberArray* array, uint32_t element,
                            VLRuntimeResult* result) {
    if (element < array->arrayCount) return true;
    result->flags |= VLRuntimeResultFlag_ElementOutOfRange;
    result->element = element;
    result->elementCount = array->arrayCount;
    return false;
}

// Room for an array's first records: one per byte of data left after the
// cursor (elements that each read at least one byte cannot be more), within
// the minimum and maximum. An array whose count fits the data thus gets its
// records in one piece, without copies; a count far beyond the data gets
// records only as elements are actually read.
static uint64_t VLFirstCapacity(VLRuntime* runtime) {
    int64_t cursor = runtime->globalFrame->slots[1];
    uint64_t remaining = cursor >= 0 && uint64_t(cursor) < runtime->dataSize
                             ? runtime->dataSize - uint64_t(cursor)
                             : 0;
    if (remaining < VLMinFirstCapacity) return VLMinFirstCapacity;
    return remaining < VLMaxFirstCapacity ? remaining : uint64_t(VLMaxFirstCapacity);
}

// Makes room for element `element` (below arrayCount). Records come from the
// arena, first as many as VLFirstCapacity allows, then doubling, never more
// than the count, so memory follows the elements actually reached rather than
// the declared count. Moving the records is safe: a record that the running
// chain points to (currentMember and its parents) belongs to an array of an
// enclosing instance, and such arrays only grow while their own instance is
// the current one.
static void VLGrowElements(VLRuntime* runtime, VLRuntimeMemberArray* array, uint32_t element) {
    uint64_t capacity = array->capacity ? uint64_t(array->capacity) * 2 : VLFirstCapacity(runtime);
    if (capacity <= element) capacity = uint64_t(element) + 1;
    if (capacity > array->arrayCount) capacity = array->arrayCount;
    VLRuntimeMember* elements = VLArenaNew<VLRuntimeMember>(runtime->arena, size_t(capacity));
    if (array->capacity) memcpy(elements, array->elements, sizeof(VLRuntimeMember) * array->capacity);
    array->elements = elements;
    array->capacity = uint32_t(capacity);
}

// The record of an existing element (below arrayCount), created if needed.
static VLRuntimeMember* VLElementRecord(VLRuntime* runtime, VLRuntimeMemberArray* array,
                                        uint32_t element) {
    VL_ASSERT(element < array->arrayCount);
    if (element >= array->capacity) VLGrowElements(runtime, array, element);
    return &array->elements[element];
}

// Member array `memberIndex` of the instance whose body is running.
static VLRuntimeMemberArray* VLCurrentMemberArray(VLRuntime* runtime, uint32_t memberIndex) {
    VLRuntimeMember* current = runtime->currentMember;
    VL_ASSERT(current && (current->flags & VLRuntimeMemberFlag_IsNested));
    VL_ASSERT(memberIndex < current->nestedType.memberCount);
    return &current->nestedType.members[memberIndex];
}

// Empties member arrays for a new instance. Only elements below an array's
// count can have been written, so only those are cleared. A struct record
// keeps its member arrays (flags IsNested without IsSet: not filled, storage
// kept) so that filling it again costs no new memory; a scalar record is zeroed.
static void VLEmptyMemberArrays(VLRuntimeMemberArray* arrays, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        VLRuntimeMemberArray* array = &arrays[i];
        uint32_t used = array->arrayCount < array->capacity ? array->arrayCount : array->capacity;
        for (uint32_t e = 0; e < used; ++e) {
            VLRuntimeMember* record = &array->elements[e];
            if (record->flags & VLRuntimeMemberFlag_IsNested) record->flags = VLRuntimeMemberFlag_IsNested;
            else *record = VLRuntimeMember{};
        }
        array->arrayCount = 0;
    }
}

// Makes `record` a fresh struct instance with `memberCount` unread members. A
// record filled again with the same member count keeps its member arrays and
// element storage, emptied, so a member read over and over in a loop costs no
// new memory.
static void VLFillInstance(VLRuntime* runtime, VLRuntimeMember* record, uint32_t memberCount,
                           VLRuntimeMember* parent) {
    bool reuse = (record->flags & VLRuntimeMemberFlag_IsNested) &&
                 record->nestedType.memberCount == memberCount;
    if (reuse) {
        VLEmptyMemberArrays(record->nestedType.members, memberCount);
    } else {
        record->nestedType.members =
            memberCount ? VLArenaNew<VLRuntimeMemberArray>(runtime->arena, memberCount) : nullptr;
        record->nestedType.memberCount = memberCount;
    }
    record->flags = VLFilledInstance;
    record->parent = parent;
}

// The record of an instance that no path can reach: the pool's record for the
// frame level being pushed, its member arrays emptied (and enlarged when the
// type has more members than any before it at this level).
static VLRuntimeMember* VLPooledInstance(VLRuntime* runtime, uint32_t memberCount,
                                         VLRuntimeMember* parent) {
    uint32_t level = runtime->stackCount - 1;
    VL_ASSERT(level < VLMaxNesting);
    VLRuntimeMember* record = &runtime->instancePool[level];
    VL_ASSERT(record != parent);
    uint32_t* capacity = &runtime->instancePoolCapacity[level];
    if (memberCount > *capacity) {
        record->nestedType.members = VLArenaNew<VLRuntimeMemberArray>(runtime->arena, memberCount);
        *capacity = memberCount;
    } else {
        VLEmptyMemberArrays(record->nestedType.members, memberCount);
    }
    record->nestedType.memberCount = memberCount;
    record->flags = VLFilledInstance;
    record->parent = parent;
    return record;
}

// ---------------------------------------------------------------------------
// Instructions with more than a line of work
// ---------------------------------------------------------------------------

// Push-frame: fills the record of a struct instance when the instruction names
// a type (an element record for a referenced member, else the pool's record;
// the member's element count is checked either way), then pushes a cleared
// frame. Too deep a nesting and an element past the array's count push nothing.
static void VLExecutePushFrame(VLRuntime* runtime, const VLInstruction* instruction,
                               VLRuntimeResult* result) {
    const auto& push = instruction->pushFrame;
    if (runtime->stackCount >= VLMaxStackCount) {
        result->flags |= VLRuntimeResultFlag_NestingTooDeep;
        return;
    }
    if (push.typeIndex.kind != VLLocationKind_None) {
        int64_t memberCount = VLValue(runtime, push.memberCount);
        VL_ASSERT(memberCount >= 0 && uint64_t(memberCount) <= UINT32_MAX);
        VLRuntimeMember* parent = runtime->currentMember;
        VLRuntimeMember* record = nullptr;
        if (push.detached || !parent) {
            // The layout root, or an instance measured by sizeof: no member
            // array holds it, so no path can reach it.
            VL_ASSERT(push.detached || push.memberIndex == 0);
        } else {
            VLRuntimeMemberArray* array = VLCurrentMemberArray(runtime, push.memberIndex);
            if (array->arrayCount == 0) VLSetUpMemberArray(runtime, array, push.arrayCount, result);
            uint32_t element = VLCurrentElement(runtime);
            if (!VLElementExists(array, element, result)) return;
            if (push.referenced) record = VLElementRecord(runtime, array, element);
        }
        if (record) VLFillInstance(runtime, record, uint32_t(memberCount), parent);
        else record = VLPooledInstance(runtime, uint32_t(memberCount), parent);
        runtime->currentMember = record;
    }
    VLPushFrame(runtime);
}

// The first min(size, 8) bytes of a scalar as a number: file order is
// little-endian, big endian reverses the bytes, and the signed kind extends
// the sign of a value narrower than 8 bytes.
static uint64_t VLReadScalar(const uint8_t* bytes, uint32_t count, bool bigEndian, bool isSigned) {
    uint64_t value = 0;
    if (bigEndian) {
        for (uint32_t i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    } else {
        for (uint32_t i = count; i-- > 0;) value = (value << 8) | bytes[i];
    }
    if (isSigned && count < 8 && ((value >> (8 * count - 1)) & 1)) value |= ~uint64_t(0) << (8 * count);
    return value;
}

// Scalar member: checks size and placement against the data and the element
// against its member's count; a referenced member also stores the value as
// the current element of its member.
static void VLExecuteScalarMember(VLRuntime* runtime, const VLInstruction* instruction,
                                  VLRuntimeResult* result) {
    const auto& member = instruction->scalarExport;
    int64_t address = VLValue(runtime, member.address);
    int64_t size = VLValue(runtime, member.size);
    if (size < 1) {
        result->flags |= VLRuntimeResultFlag_InvalidSize;
        result->size = size;
        size = 0;
    }
    if (address < 0 || uint64_t(size) > runtime->dataSize ||
        uint64_t(address) > runtime->dataSize - uint64_t(size)) {
        result->flags |= VLRuntimeResultFlag_InvalidAddress;
        result->address = address;
    }
    if (result->flags) return;
    VLRuntimeMemberArray* array = VLCurrentMemberArray(runtime, member.appearIndex);
    if (array->arrayCount == 0) VLSetUpMemberArray(runtime, array, member.arrayCount, result);
    uint32_t element = VLCurrentElement(runtime);
    if (!VLElementExists(array, element, result) || !member.referenced) return;
    VLRuntimeMember* record = VLElementRecord(runtime, array, element);
    record->flags = VLRuntimeMemberFlag_IsSet;
    record->value = VLReadScalar(runtime->data + address, size < 8 ? uint32_t(size) : 8,
                                 (member.flags & VLMemberFlag_BigEndian) != 0,
                                 instruction->type == VLInstructionType_ScalarMemberS);
}

// Value of member: follows the path down from the running instance. Every
// step but the last must land on a filled struct instance; the last must not
// (an element not read yet gives 0). A step that fails reports the element
// asked for, the elements that exist and the step.
static void VLExecuteValueOfMember(VLRuntime* runtime, const VLInstruction* instruction,
                                   VLRuntimeResult* result) {
    const auto& fetch = instruction->fetch;
    VL_ASSERT(fetch.pathCount >= 1 && fetch.pathCount <= VLMaxPathSteps);
    const VLRuntimeMember* record = runtime->currentMember;
    for (uint32_t step = 0; step < fetch.pathCount; ++step) {
        const VLPathStep& pathStep = fetch.path[step];
        int64_t element = VLValue(runtime, pathStep.arrayIndex);
        const VLRuntimeMemberArray* array = nullptr;
        if (record && record->flags == VLFilledInstance && pathStep.memberIndex < record->nestedType.memberCount)
            array = &record->nestedType.members[pathStep.memberIndex];
        uint32_t count = array ? array->arrayCount : 0;
        const VLRuntimeMember* next = nullptr;
        bool exists = element >= 0 && uint64_t(element) < count;
        if (exists && uint64_t(element) < array->capacity) next = &array->elements[element];
        bool filledInstance = next && next->flags == VLFilledInstance;
        bool last = step + 1 == fetch.pathCount;
        if (!exists || filledInstance == last) {
            result->flags |= VLRuntimeResultFlag_IndexOutOfRange;
            result->element = element;
            result->elementCount = count;
            result->pathStep = step;
            return;
        }
        if (last) {
            bool read = next && next->flags == VLRuntimeMemberFlag_IsSet;
            *VLSlot(runtime, instruction->destination) = read ? int64_t(next->value) : 0;
            return;
        }
        record = next;
    }
}

// The first category entry registered under (category, key), or null.
static const VLCategoryEntry* VLFindCategoryEntry(const VLRuntime* runtime,
                                                  const VLInstruction* instruction, int64_t key) {
    uint32_t category = instruction->typeLookup.categoryIndex;
    for (uint32_t i = 0; i < runtime->categoryEntryCount; ++i) {
        const VLCategoryEntry* entry = &runtime->categoryEntries[i];
        if (entry->categoryIndex == category && entry->key == key) return entry;
    }
    return nullptr;
}

// Kinds 38-40: the type registered under the instruction's category and the
// key in its slot, or null with UnknownType (result count = the key).
static const VLTypeDefinition* VLLookUpType(VLRuntime* runtime, const VLInstruction* instruction,
                                            VLRuntimeResult* result) {
    int64_t key = VLValue(runtime, instruction->typeLookup.key);
    const VLCategoryEntry* entry = VLFindCategoryEntry(runtime, instruction, key);
    if (!entry) {
        result->flags |= VLRuntimeResultFlag_UnknownType;
        result->count = key;
        return nullptr;
    }
    VL_ASSERT(entry->type && entry->type->startInstruction);
    return entry->type;
}

// ---------------------------------------------------------------------------
// Running
// ---------------------------------------------------------------------------

// Contract: runs instructions from `position` until one step has run (`single`)
// or, otherwise, until a step sets flags, an instruction the front end must
// see has run while members are shown, the program ends or the budget is
// used up. Every step advances past its instruction (a jump to after its
// target), also a step that sets flags. Returns the last step's result.
template <bool single>
static VLRuntimeResult VLRunSteps(VLRuntime* runtime, uint64_t budget, uint64_t* stepsRun) {
    VLRuntimeResult result = {};
    VLCursor cursor = VLCursorAt(runtime->position);
    uint64_t steps = 0;
    while (steps < budget && VLCursorReady(&cursor)) {
        VLInstruction* instruction = cursor.next++;
        ++steps;
        bool shown = false;  // the front end must see this instruction
        switch (instruction->type) {
        case VLInstructionType_Invalid:  // no effect
            break;
        case VLInstructionType_LoadConstant:  // D = the constant
            *VLSlot(runtime, instruction->destination) = int64_t(instruction->constant.value);
            break;
        case VLInstructionType_Copy:  // D = operand
            *VLSlot(runtime, instruction->destination) = VLValue(runtime, instruction->unary.operand);
            break;
        case VLInstructionType_Negate:      // D = -operand
        case VLInstructionType_LogicalNot:  // D = 1 when the operand is 0, else 0
        case VLInstructionType_BitwiseNot:  // D = all 64 bits of the operand inverted
        case VLInstructionType_Abs:         // D = |operand|
            *VLSlot(runtime, instruction->destination) =
                VLEvaluateUnary(instruction->type, VLValue(runtime, instruction->unary.operand));
            break;
        case VLInstructionType_Add: {  // D = left + right, wrapping (the cursor advance of every member)
            uint64_t left = uint64_t(VLValue(runtime, instruction->binary.left));
            uint64_t right = uint64_t(VLValue(runtime, instruction->binary.right));
            *VLSlot(runtime, instruction->destination) = int64_t(left + right);
            break;
        }
        case VLInstructionType_Less: {  // D = left < right, signed (the test of every element loop)
            int64_t left = VLValue(runtime, instruction->binary.left);
            int64_t right = VLValue(runtime, instruction->binary.right);
            *VLSlot(runtime, instruction->destination) = left < right;
            break;
        }
        case VLInstructionType_Subtract:      // D = left - right, wrapping
        case VLInstructionType_Multiply:      // D = left * right, wrapping
        case VLInstructionType_Divide:        // D = left / right, truncated
        case VLInstructionType_Modulo:        // D = left % right
        case VLInstructionType_LessEqual:     // D = left <= right, signed
        case VLInstructionType_Equal:         // D = left == right
        case VLInstructionType_Greater:       // D = left > right, signed
        case VLInstructionType_GreaterEqual:  // D = left >= right, signed
        case VLInstructionType_NotEqual:      // D = left != right
        case VLInstructionType_ShiftLeft:     // D = left << (right & 63)
        case VLInstructionType_ShiftRight:    // D = left >> (right & 63), sign-propagating
        case VLInstructionType_BitwiseAnd:    // D = left & right
        case VLInstructionType_BitwiseOr:     // D = left | right
        case VLInstructionType_BitwiseXor:    // D = left ^ right
        case VLInstructionType_LogicalAnd:    // D = 1 when both are non-zero
        case VLInstructionType_LogicalOr: {   // D = 1 when either is non-zero
            int64_t left = VLValue(runtime, instruction->binary.left);
            int64_t right = VLValue(runtime, instruction->binary.right);
            *VLSlot(runtime, instruction->destination) = VLEvaluateBinary(instruction->type, left, right);
            break;
        }
        case VLInstructionType_PushFrame:  // instance record, then a new frame
            VLExecutePushFrame(runtime, instruction, &result);
            shown = true;
            break;
        case VLInstructionType_PopFrame:  // drop the innermost frame, keep it for reuse
            VLPopFrame(runtime);
            shown = true;
            break;
        case VLInstructionType_StartStructDefinition:  // reached in sequence: skip the body
            VLContinueAfter(runtime, instruction->structDefinition.endIndex, &cursor);
            break;
        case VLInstructionType_EndStructDefinition:  // return after the caller's number in slot 0
            VL_ASSERT(runtime->currentMember);
            runtime->currentMember = runtime->currentMember->parent;
            VLContinueAfter(runtime, uint32_t(runtime->frames->slots[0]), &cursor);
            break;
        case VLInstructionType_SetArrayIndex:  // element number for the members declared next
            if (runtime->stackCount >= 2)
                runtime->arrayIndices[runtime->stackCount - 2] =
                    uint32_t(VLValue(runtime, instruction->arrayIndex.value));
            break;
        case VLInstructionType_ScalarMemberU:  // check (and, when referenced, keep) an unsigned scalar
        case VLInstructionType_ScalarMemberS:  // the same, sign-extended
        case VLInstructionType_ScalarMemberF:  // the same, the bits of a float unconverted
            VLExecuteScalarMember(runtime, instruction, &result);
            shown = true;
            break;
        case VLInstructionType_ValueOfMember:  // D = value of a member found by its path
            VLExecuteValueOfMember(runtime, instruction, &result);
            break;
        case VLInstructionType_Goto: {  // jump; a conditional one only when its condition is non-zero
            const auto& jump = instruction->jump;
            if (jump.condition.kind != VLLocationKind_None && VLValue(runtime, jump.condition) == 0) break;
            uint32_t target = jump.target.kind != VLLocationKind_None
                                  ? uint32_t(VLValue(runtime, jump.target))
                                  : jump.targetIndex;
            VLContinueAfter(runtime, target, &cursor);
            break;
        }
        case VLInstructionType_SizeOfFile:  // D = size of the data in bytes
            *VLSlot(runtime, instruction->destination) = int64_t(runtime->dataSize);
            break;
        case VLInstructionType_HideMembers:  // members and print output hidden until shown again
            ++runtime->membersHidden;
            break;
        case VLInstructionType_ShowMembers:  // end of one hidden region
            VL_ASSERT(runtime->membersHidden > 0);
            --runtime->membersHidden;
            break;
        case VLInstructionType_FetchStartOfType:  // D = number of the type's start instruction
            if (const VLTypeDefinition* type = VLLookUpType(runtime, instruction, &result))
                *VLSlot(runtime, instruction->destination) = type->startInstruction->index;
            break;
        case VLInstructionType_FetchMemberCountOfType:  // D = member count of the type
            if (const VLTypeDefinition* type = VLLookUpType(runtime, instruction, &result))
                *VLSlot(runtime, instruction->destination) = type->memberCount;
            break;
        case VLInstructionType_FetchTypeIndex:  // D = index of the type
            if (const VLTypeDefinition* type = VLLookUpType(runtime, instruction, &result))
                *VLSlot(runtime, instruction->destination) = type->index;
            break;
        case VLInstructionType_HasType: {  // D = 1 when a type is registered under (category, key)
            int64_t key = VLValue(runtime, instruction->typeLookup.key);
            *VLSlot(runtime, instruction->destination) = VLFindCategoryEntry(runtime, instruction, key) ? 1 : 0;
            break;
        }
        case VLInstructionType_Assert:  // report when the condition is 0
            if (VLValue(runtime, instruction->assertion.condition) == 0)
                result.flags |= VLRuntimeResultFlag_AssertionFailed;
            break;
        case VLInstructionType_Print:  // nothing to run: the front end prints the message
            shown = true;
            break;
        case VLInstructionType_Breakpoint:  // no effect
            break;
        default:  // no such kind: the compiler emits only the kinds above
            VL_ASSERT(!"instruction kind out of range");
            break;
        }
        if (single || result.flags || (shown && runtime->membersHidden == 0)) {
            result.instruction = instruction;
            break;
        }
    }
    runtime->position = VLPositionOf(cursor);
    *stepsRun = steps;
    return result;
}

VLRuntimeResult VLRuntimeStep(VLRuntime* runtime) {
    uint64_t steps;
    return VLRunSteps<true>(runtime, 1, &steps);
}

VLRuntimeResult VLRuntimeRun(VLRuntime* runtime, uint64_t* stepsLeft) {
    uint64_t steps;
    VLRuntimeResult result = VLRunSteps<false>(runtime, *stepsLeft, &steps);
    *stepsLeft -= steps;
    return result;
}
