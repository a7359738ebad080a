// Runtime.cpp - the step machine that runs a compiled program over the data.
//
// Owns everything a run keeps: the frames of 64 value slots (recycled through
// a free list), the scratch cell, location resolution, the member tree (one
// record per struct instance, per member array and per element reached) and
// the execution of every instruction kind, one instruction per VLRuntimeStep.
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

// The slot a location denotes. Local and Global at depth 0 are the common
// cases and are answered without walking the frame chain. Kind None, a slot
// number past the frame and a frame that does not exist denote the scratch cell.
static inline int64_t* VLSlot(VLRuntime* runtime, VLLocation location) {
    if (location.index >= VLFrameSlotCount) return &runtime->scratch;
    VLRuntimeFrame* frame;
    if (location.kind == VLLocationKind_Local) {
        if (location.depth == 0) return &runtime->frames->slots[location.index];
        frame = VLFrameOutward(runtime, location.depth);
    } else if (location.kind == VLLocationKind_Global) {
        if (location.depth == 0 && runtime->globalFrame)
            return &runtime->globalFrame->slots[location.index];
        if (location.depth >= runtime->stackCount) return &runtime->scratch;
        frame = VLFrameOutward(runtime, runtime->stackCount - location.depth - 1);
    } else {
        return &runtime->scratch;
    }
    return frame ? &frame->slots[location.index] : &runtime->scratch;
}

static inline int64_t VLValue(VLRuntime* runtime, VLLocation location) {
    return *VLSlot(runtime, location);
}

int64_t* VLResolveLocation(VLRuntime* runtime, VLLocation location) {
    if (!runtime->frames) return &runtime->scratch;
    return VLSlot(runtime, location);
}

// ---------------------------------------------------------------------------
// Lifecycle and position
// ---------------------------------------------------------------------------

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
}

bool VLRuntimeHasEnded(const VLRuntime* runtime) {
    const VLInstructionPosition& position = runtime->position;
    return !position.chunk || position.place >= position.chunk->count;
}

// Makes the instruction after number `target` the next one to run: jumps,
// skips and returns all continue after their target. The arithmetic is on 32
// bits, so the target 0xFFFFFFFF (a loop that starts before the first
// instruction) continues at instruction 0, and the last instruction as target
// ends the program. Targets in or after the current chunk are found from the
// current chunk (skips over struct bodies, loop back-edges within a chunk);
// only a jump back into an earlier chunk searches from the start of the list.
static void VLContinueAfter(VLRuntime* runtime, uint32_t target) {
    uint32_t number = target + 1;
    uint32_t total = runtime->instructions->totalCount;
    VL_ASSERT(number <= total);
    if (number == total) {
        runtime->position = VLInstructionPosition{nullptr, 0};
        return;
    }
    VLInstructionChunk* chunk = runtime->position.chunk;
    if (number < chunk->items[0].index) {
        runtime->position = VLInstructionAt(runtime->instructions, number);
        return;
    }
    while (chunk && number - chunk->items[0].index >= chunk->count) chunk = chunk->next;
    VL_ASSERT(chunk);
    runtime->position = VLInstructionPosition{chunk, number - chunk->items[0].index};
}

static void VLAdvance(VLInstructionPosition* position) {
    if (++position->place >= position->chunk->count) {
        position->chunk = position->chunk->next;
        position->place = 0;
    }
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

// Room for an array's first records: one per byte of data left after the
// cursor (elements that each read at least one byte cannot be more), within
// the minimum and maximum. An array whose count fits the data thus gets its
// records in one piece, without copies; a count far beyond the data gets
// records only as elements are actually read.
static uint64_t VLFirstCapacity(VLRuntime* runtime) {
    int64_t cursor = *VLSlot(runtime, VLLocation{VLLocationKind_Global, 0, 1});
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

// The record of element `element`, or null with ElementOutOfRange when the
// array does not have that many elements.
static VLRuntimeMember* VLReachElement(VLRuntime* runtime, VLRuntimeMemberArray* array,
                                       uint32_t element, VLRuntimeResult* result) {
    if (element >= array->arrayCount) {
        result->flags |= VLRuntimeResultFlag_ElementOutOfRange;
        result->element = element;
        result->elementCount = array->arrayCount;
        return nullptr;
    }
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

// Makes `record` a fresh struct instance with `memberCount` unread members. A
// record filled again with the same member count keeps its member arrays and
// element storage, emptied, so a member read over and over in a loop costs no
// new memory. Only elements below an array's count can have been written, so
// only those are cleared.
static void VLFillInstance(VLRuntime* runtime, VLRuntimeMember* record, uint32_t memberCount,
                           VLRuntimeMember* parent) {
    bool reuse = (record->flags & VLRuntimeMemberFlag_IsNested) &&
                 record->nestedType.memberCount == memberCount;
    if (reuse) {
        for (uint32_t i = 0; i < memberCount; ++i) {
            VLRuntimeMemberArray* array = &record->nestedType.members[i];
            uint32_t used = array->arrayCount < array->capacity ? array->arrayCount : array->capacity;
            if (used) memset(array->elements, 0, sizeof(VLRuntimeMember) * used);
            array->arrayCount = 0;
        }
    } else {
        record->nestedType.members =
            memberCount ? VLArenaNew<VLRuntimeMemberArray>(runtime->arena, memberCount) : nullptr;
        record->nestedType.memberCount = memberCount;
    }
    record->flags = VLRuntimeMemberFlag_IsNested | VLRuntimeMemberFlag_IsSet;
    record->parent = parent;
}

// ---------------------------------------------------------------------------
// Instructions with more than a line of work
// ---------------------------------------------------------------------------

// Push-frame: creates (or refills) the member record of a struct instance
// when the instruction names a type, then pushes a cleared frame. Too deep a
// nesting and an element past the array's count push nothing.
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
        VLRuntimeMember* record;
        if (push.detached || !parent) {
            // The layout root, or an instance measured by sizeof: a record of
            // its own that takes no place among the enclosing members.
            VL_ASSERT(push.detached || push.memberIndex == 0);
            record = VLArenaNew<VLRuntimeMember>(runtime->arena);
        } else {
            VLRuntimeMemberArray* array = VLCurrentMemberArray(runtime, push.memberIndex);
            if (array->arrayCount == 0) VLSetUpMemberArray(runtime, array, push.arrayCount, result);
            record = VLReachElement(runtime, array, VLCurrentElement(runtime), result);
            if (!record) return;
        }
        VLFillInstance(runtime, record, uint32_t(memberCount), parent);
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

// Scalar member: checks size and placement against the data, reads the value
// and stores it as the current element of its member.
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
    uint64_t value = VLReadScalar(runtime->data + address, size < 8 ? uint32_t(size) : 8,
                                  (member.flags & VLMemberFlag_BigEndian) != 0,
                                  instruction->type == VLInstructionType_ScalarMemberS);
    VLRuntimeMemberArray* array = VLCurrentMemberArray(runtime, member.appearIndex);
    if (array->arrayCount == 0) VLSetUpMemberArray(runtime, array, member.arrayCount, result);
    VLRuntimeMember* record = VLReachElement(runtime, array, VLCurrentElement(runtime), result);
    if (!record) return;
    record->flags = VLRuntimeMemberFlag_IsSet;
    record->value = value;
}

// Value of member: follows the path down from the running instance. Every
// step but the last must land on a struct instance that has been read; the
// last must land on a scalar (an element not read yet gives 0). A step that
// fails reports the element asked for, the elements that exist and the step.
static void VLExecuteValueOfMember(VLRuntime* runtime, const VLInstruction* instruction,
                                   VLRuntimeResult* result) {
    const auto& fetch = instruction->fetch;
    VL_ASSERT(fetch.pathCount >= 1 && fetch.pathCount <= VLMaxPathSteps);
    const VLRuntimeMember* record = runtime->currentMember;
    for (uint32_t step = 0; step < fetch.pathCount; ++step) {
        const VLPathStep& pathStep = fetch.path[step];
        int64_t element = VLValue(runtime, pathStep.arrayIndex);
        const VLRuntimeMemberArray* array = nullptr;
        if (record && record->flags == (VLRuntimeMemberFlag_IsNested | VLRuntimeMemberFlag_IsSet) &&
            pathStep.memberIndex < record->nestedType.memberCount)
            array = &record->nestedType.members[pathStep.memberIndex];
        uint32_t count = array ? array->arrayCount : 0;
        const VLRuntimeMember* next = nullptr;
        bool exists = element >= 0 && uint64_t(element) < count;
        if (exists && uint64_t(element) < array->capacity) next = &array->elements[element];
        bool last = step + 1 == fetch.pathCount;
        bool usable = exists && (last ? !(next && (next->flags & VLRuntimeMemberFlag_IsNested))
                                      : next && (next->flags & VLRuntimeMemberFlag_IsNested));
        if (!usable) {
            result->flags |= VLRuntimeResultFlag_IndexOutOfRange;
            result->element = element;
            result->elementCount = count;
            result->pathStep = step;
            return;
        }
        if (last) {
            *VLSlot(runtime, instruction->destination) = next ? int64_t(next->value) : 0;
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
// One step
// ---------------------------------------------------------------------------

VLRuntimeResult VLRuntimeStep(VLRuntime* runtime) {
    VLRuntimeResult result = {};
    if (VLRuntimeHasEnded(runtime)) return result;
    VLInstruction* instruction = &runtime->position.chunk->items[runtime->position.place];
    result.instruction = instruction;
    switch (instruction->type) {
    case VLInstructionType_Invalid:  // no effect
        break;
    case VLInstructionType_LoadConstant:  // D = the constant
        *VLSlot(runtime, instruction->destination) = int64_t(instruction->constant.value);
        break;
    case VLInstructionType_Negate:      // D = -operand
    case VLInstructionType_LogicalNot:  // D = 1 when the operand is 0, else 0
    case VLInstructionType_BitwiseNot:  // D = all 64 bits of the operand inverted
    case VLInstructionType_Abs:         // D = |operand|
    case VLInstructionType_Copy:        // D = operand
        *VLSlot(runtime, instruction->destination) =
            VLEvaluateUnary(instruction->type, VLValue(runtime, instruction->unary.operand));
        break;
    case VLInstructionType_Add:           // D = left + right, wrapping
    case VLInstructionType_Subtract:      // D = left - right, wrapping
    case VLInstructionType_Multiply:      // D = left * right, wrapping
    case VLInstructionType_Divide:        // D = left / right, truncated
    case VLInstructionType_Modulo:        // D = left % right
    case VLInstructionType_Less:          // D = left < right, signed
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
    case VLInstructionType_PushFrame:  // member record of a struct instance, then a new frame
        VLExecutePushFrame(runtime, instruction, &result);
        break;
    case VLInstructionType_PopFrame:  // drop the innermost frame, keep it for reuse
        VLPopFrame(runtime);
        break;
    case VLInstructionType_StartStructDefinition:  // reached in sequence: skip the body
        VLContinueAfter(runtime, instruction->structDefinition.endIndex);
        return result;
    case VLInstructionType_EndStructDefinition:  // return after the caller's number in slot 0
        VL_ASSERT(runtime->currentMember);
        runtime->currentMember = runtime->currentMember->parent;
        VLContinueAfter(runtime, uint32_t(runtime->frames->slots[0]));
        return result;
    case VLInstructionType_SetArrayIndex:  // element number for the members declared next
        if (runtime->stackCount >= 2)
            runtime->arrayIndices[runtime->stackCount - 2] =
                uint32_t(VLValue(runtime, instruction->arrayIndex.value));
        break;
    case VLInstructionType_ScalarMemberU:  // read an unsigned scalar into the member tree
    case VLInstructionType_ScalarMemberS:  // read a signed scalar, sign-extended
    case VLInstructionType_ScalarMemberF:  // read the bits of a float, unconverted
        VLExecuteScalarMember(runtime, instruction, &result);
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
        VLContinueAfter(runtime, target);
        return result;
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
    case VLInstructionType_Print:  // nothing: the front end prints the message
        break;
    case VLInstructionType_Breakpoint:  // no effect
        break;
    default:  // no such kind: the compiler emits only the kinds above
        VL_ASSERT(!"instruction kind out of range");
        break;
    }
    VLAdvance(&runtime->position);
    return result;
}
