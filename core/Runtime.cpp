// Runtime.cpp - the step machine that runs a compiled program over the data.
//
// Owns everything a run keeps: the frames of 64 value slots (recycled through
// a free list), the scratch cell, location resolution, the member tree and
// the execution of every instruction kind: each kind's meaning is one helper
// (VLRun<helper>, named by the instruction set) that both loops use; for
// members and struct pushes the run loop calls the helpers' common part
// (VLReadMember, VLEnterInstance) with decoded operands. VLRuntimeStep runs
// one instruction (the trace needs every one); VLRuntimeRun runs a stretch of them in one
// loop until an instruction the front end must see, or hands such steps to a
// visitor and runs on. Chunks of instructions that run often are decoded once
// into a compact form (operands resolved to a frame and a slot, the fixed
// patterns of members and loops fused) that the run loop executes without
// looking at the instruction records.
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
// Variable-length integers
// ---------------------------------------------------------------------------

// Groups of 7 bits, the final byte's high bit clear. LEB128 puts the low
// group first; a signed one extends the final group's top bit. The base-128
// form of vlq puts the high group first.
VLVarint VLDecodeVarint(int32_t type, const uint8_t* bytes, uint64_t available) {
    VLVarint number = {VLVarintStatus_NoFinalByte, 0, 0};
    uint64_t length = 0;
    while (length < available && (bytes[length] & 0x80)) ++length;
    if (length == available) return number;
    number.length = ++length;
    number.status = VLVarintStatus_Done;
    if (type == VLInstructionType_VlqMember) {
        for (uint64_t i = 0; i < length; ++i) {
            if (number.value >> 57) number.status = VLVarintStatus_TooLarge;
            number.value = number.value << 7 | (bytes[i] & 0x7F);
        }
        return number;
    }
    bool isSigned = type == VLInstructionType_SLebMember;
    bool negative = isSigned && (bytes[length - 1] & 0x40);
    uint64_t fill = negative ? 0x7F : 0;  // what groups past the value's top must hold
    for (uint64_t i = 0; i < length; ++i) {
        uint64_t group = bytes[i] & 0x7F;
        uint64_t shift = 7 * i;
        if (shift >= 64) {
            if (group != fill) number.status = VLVarintStatus_TooLarge;
            continue;
        }
        number.value |= group << shift;
        // The group's bits from 64 on (from 63 on when signed: the sign bit) repeat the top.
        uint64_t top = (isSigned ? 63 : 64) - shift;
        if (top < 7 && (group >> top) != (fill >> top)) number.status = VLVarintStatus_TooLarge;
    }
    if (negative && 7 * length < 64) number.value |= ~uint64_t(0) << (7 * length);
    return number;
}

// ---------------------------------------------------------------------------
// Lifecycle and position
// ---------------------------------------------------------------------------

// One decoded instruction of a hot chunk. Operands are slot numbers, plus
// VLGlobalOperand for the global frame; only instructions whose every operand
// lies in the innermost or the global frame are decoded into their own code,
// the others run from their instruction record (VLOp_Plain).
struct VLOp {
    uint8_t code;     // VLOpCode
    uint8_t d, a, b;  // destination and operands
    uint32_t number;  // jump target; the kind for VLOp_Unary and VLOp_Binary
    int64_t value;    // the constant of VLOp_Load
};
static_assert(sizeof(VLOp) == 16, "four decoded instructions per cache line");

enum : uint8_t { VLGlobalOperand = 64, VLSlotMask = 63 };

enum VLOpCode : uint8_t {
    VLOp_ChunkEnd,  // past the chunk's last instruction (no step)
    VLOp_Plain,     // run from the instruction record
    VLOp_Nothing,   // invalid, breakpoint: no effect
    VLOp_Load,
    VLOp_Copy,
    VLOp_Unary,
    VLOp_Add,
    VLOp_Less,
    VLOp_Binary,
    VLOp_SetArrayIndex,
    VLOp_Scalar,    // a: address, b: size, d: VLMemberShapeFlag, number: appearance number
    VLOp_PushFrame,
    VLOp_PopFrame,
    VLOp_Skip,
    VLOp_Return,
    VLOp_Goto,
    VLOp_GotoIf,
    VLOp_SizeOfFile,
    // Pairs: this op and the next one run in one go (two steps). The next op
    // keeps its own code, so a jump to it runs it alone.
    VLOp_LoadThenIndex,   // the element counter's load, then set-array-index
    VLOp_LoadThenScalar,  // the size's load, then the scalar member
    VLOp_LoadThenAdd,     // a constant's load, then an add
    VLOp_LessThenGotoIf,  // a loop's test, then its conditional jump
    VLOp_LoadThenGoto,    // the return number's load, then the call's jump
    VLOp_LoadThenLoad,    // two loads of constants
    // Runs of a member (three and five steps): the size's load, the scalar
    // member (handed to the visitor) and the cursor advance; before them the
    // element counter's load and set-array-index.
    VLOp_ScalarRun,
    VLOp_MemberRun,
};

// VLOp_PushFrame: a is the member count's operand, d the VLMemberShapeFlag, number the member index.

// A chunk runs from its records until it has run as many instructions as it
// holds; then it is decoded. Code that runs once (the top level stepping over
// struct definitions) is never decoded, loops are after a few rounds.
enum : uint32_t { VLDecodeHeat = VLInstructionChunkCapacity };

struct VLRuntimeView {
    VLInstructionChunk** chunks;  // chunk k holds instructions k * capacity and on
    VLOp** ops;                   // decoded chunks (capacity + 1 ops), null until hot
    uint32_t* heat;               // instructions run from records, per chunk
    uint32_t chunkCount;
};

// The view: chunk k holds instructions k * capacity and on. The instruction
// list fills a chunk before it opens the next, which the table relies on.
static void VLBuildView(VLRuntime* runtime, const VLInstructionList* list) {
    VLRuntimeView* view = VLArenaNew<VLRuntimeView>(runtime->arena);
    runtime->view = view;
    uint32_t count = 0;
    for (const VLInstructionChunk* chunk = list->first; chunk; chunk = chunk->next) ++count;
    view->chunkCount = count;
    if (count == 0) return;
    view->chunks = VLArenaNew<VLInstructionChunk*>(runtime->arena, count);
    view->ops = VLArenaNew<VLOp*>(runtime->arena, count);
    view->heat = VLArenaNew<uint32_t>(runtime->arena, count);
    uint32_t k = 0;
    uint64_t total = 0;
    for (VLInstructionChunk* chunk = list->first; chunk; chunk = chunk->next) {
        VL_ASSERT(!chunk->next || chunk->count == VLInstructionChunkCapacity);
        view->chunks[k++] = chunk;
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
    runtime->memoryLimit = VLRuntimeMemoryLimit;
    VLBuildView(runtime, &program->instructions);
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
    uint32_t number;  // the chunk's number in the view
};

static VLCursor VLCursorAt(VLInstructionPosition position) {
    if (!position.chunk || position.place >= position.chunk->count) return VLCursor{};
    VLInstruction* items = position.chunk->items;
    // Chunks are full but the last, so the first instruction's number tells the chunk's.
    return VLCursor{position.chunk, items + position.place, items + position.chunk->count,
                    items[0].index >> VLChunkShift};
}

// Moves past a used-up chunk; false when the program has ended.
static bool VLCursorReady(VLCursor* cursor) {
    while (cursor->next == cursor->end) {
        if (!cursor->chunk || !cursor->chunk->next) {
            *cursor = VLCursor{};
            return false;
        }
        cursor->chunk = cursor->chunk->next;
        cursor->next = cursor->chunk->items;
        cursor->end = cursor->next + cursor->chunk->count;
        cursor->number += 1;
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
        *cursor = VLCursor{};
        return;
    }
    VLInstructionChunk* chunk = runtime->view->chunks[number >> VLChunkShift];
    *cursor = VLCursor{chunk, chunk->items + (number & (VLInstructionChunkCapacity - 1)),
                       chunk->items + chunk->count, number >> VLChunkShift};
}

// ---------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------

static void VLPushFrame(VLRuntime* runtime) {
    VLRuntimeFrame* frame = runtime->freeFrames;
    if (frame) {
        runtime->freeFrames = frame->parent;
        // Cleared in cache-line pieces: compilers turn one 512-byte clear into
        // a string instruction that is slow to start, and a push is frequent.
        for (uint32_t i = 0; i < VLFrameSlotCount; i += 8) memset(&frame->slots[i], 0, 8 * sizeof(int64_t));
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

// True when `bytes` more of member records keep the run's arena within its
// memory limit; otherwise reports MemoryLimit and nothing is allocated.
static bool VLRecordsFit(VLRuntime* runtime, uint64_t bytes, VLRuntimeResult* result) {
    if (runtime->arena->totalBytes + bytes <= runtime->memoryLimit) return true;
    result->flags |= VLRuntimeResultFlag_MemoryLimit;
    return false;
}

// Makes room for element `element` (below arrayCount). Records come from the
// arena, first as many as VLFirstCapacity allows, then doubling, never more
// than the count, so memory follows the elements actually reached rather than
// the declared count. Moving the records is safe: a record that the running
// chain points to (currentMember and its parents) belongs to an array of an
// enclosing instance, and such arrays only grow while their own instance is
// the current one.
static bool VLGrowElements(VLRuntime* runtime, VLRuntimeMemberArray* array, uint32_t element,
                           VLRuntimeResult* result) {
    uint64_t capacity = array->capacity ? uint64_t(array->capacity) * 2 : VLFirstCapacity(runtime);
    if (capacity <= element) capacity = uint64_t(element) + 1;
    if (capacity > array->arrayCount) capacity = array->arrayCount;
    // Close to the limit, only the records needed now.
    if (runtime->arena->totalBytes + capacity * sizeof(VLRuntimeMember) > runtime->memoryLimit)
        capacity = uint64_t(element) + 1;
    if (!VLRecordsFit(runtime, capacity * sizeof(VLRuntimeMember), result)) return false;
    VLRuntimeMember* elements = VLArenaNew<VLRuntimeMember>(runtime->arena, size_t(capacity));
    if (array->capacity) memcpy(elements, array->elements, sizeof(VLRuntimeMember) * array->capacity);
    array->elements = elements;
    array->capacity = uint32_t(capacity);
    return true;
}

// The record of an existing element (below arrayCount), created if needed;
// null with MemoryLimit when the run has no room for it.
static VLRuntimeMember* VLElementRecord(VLRuntime* runtime, VLRuntimeMemberArray* array,
                                        uint32_t element, VLRuntimeResult* result) {
    VL_ASSERT(element < array->arrayCount);
    if (element >= array->capacity && !VLGrowElements(runtime, array, element, result)) return nullptr;
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
// new memory. False with MemoryLimit (the record left as it was) when new
// member arrays do not fit in the run's memory.
static bool VLFillInstance(VLRuntime* runtime, VLRuntimeMember* record, uint32_t memberCount,
                           VLRuntimeMember* parent, VLRuntimeResult* result) {
    bool reuse = (record->flags & VLRuntimeMemberFlag_IsNested) &&
                 record->nestedType.memberCount == memberCount;
    if (reuse) {
        VLEmptyMemberArrays(record->nestedType.members, memberCount);
    } else {
        if (!VLRecordsFit(runtime, uint64_t(memberCount) * sizeof(VLRuntimeMemberArray), result)) return false;
        record->nestedType.members =
            memberCount ? VLArenaNew<VLRuntimeMemberArray>(runtime->arena, memberCount) : nullptr;
        record->nestedType.memberCount = memberCount;
    }
    record->flags = VLFilledInstance;
    record->parent = parent;
    return true;
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
// Members: what both loops share
// ---------------------------------------------------------------------------

// The helpers of the common case, inlined into both loops whatever the
// compiler's size estimates say (the run loop is large).
#define VL_HOT_PATH static inline __attribute__((always_inline))

// What decides a member's common case, taken from its instruction once: the
// step interpreter reads it from the record, the run loop keeps it in the
// decoded op (number and d), so the helpers below need the record only for
// what is rare.
enum VLMemberShapeFlag : uint8_t {
    VLMemberShape_Referenced = 1,  // a member path names it: its records are kept
    VLMemberShape_Array = 2,       // it has an element count
    VLMemberShape_Detached = 4,    // push-frame: the record belongs to no member array (sizeof)
    VLMemberShape_Typed = 8,       // push-frame: it names a type (an instance record)
    VLMemberShape_MayBeEmpty = 16, // member: a size of 0 is an empty value, no report
    VLMemberShape_Computed = 32,   // member: a computed value (show), no bytes of the data
};
struct VLMemberShape {
    uint32_t memberIndex;  // appearance number within the running instance
    uint8_t flags;         // VLMemberShapeFlag
};

static VLMemberShape VLScalarShape(const VLInstruction* instruction) {
    const auto& member = instruction->scalarExport;
    return {member.appearIndex, uint8_t((member.referenced ? VLMemberShape_Referenced : 0) |
                                        (member.arrayCount.kind != VLLocationKind_None ? VLMemberShape_Array : 0) |
                                        (member.flags & VLMemberFlag_MayBeEmpty ? VLMemberShape_MayBeEmpty : 0) |
                                        (instruction->type == VLInstructionType_ShowMember ? VLMemberShape_Computed : 0))};
}

static VLMemberShape VLPushShape(const VLInstruction* instruction) {
    const auto& push = instruction->pushFrame;
    return {push.memberIndex, uint8_t((push.referenced ? VLMemberShape_Referenced : 0) |
                                      (push.arrayCount.kind != VLLocationKind_None ? VLMemberShape_Array : 0) |
                                      (push.detached ? VLMemberShape_Detached : 0) |
                                      (push.typeIndex.kind != VLLocationKind_None ? VLMemberShape_Typed : 0))};
}

// The first use of a member in its instance fixes its element count: 1 for a
// member that is no array, else the count location's value (from the record).
static void VLFixCount(VLRuntime* runtime, VLMemberShape shape, const VLLocation* countLocation,
                       VLRuntimeMemberArray* array, VLRuntimeResult* result) {
    if (shape.flags & VLMemberShape_Array) VLSetUpMemberArray(runtime, array, *countLocation, result);
    else array->arrayCount = 1;
}

// The element of the running instance's member array that the member being
// read stands for, its count fixed on first use; false (with the report) when
// it does not exist.
static inline bool VLMemberElement(VLRuntime* runtime, VLMemberShape shape, const VLLocation* countLocation,
                                   VLRuntimeMemberArray** array, uint32_t* element, VLRuntimeResult* result) {
    *array = VLCurrentMemberArray(runtime, shape.memberIndex);
    *element = VLCurrentElement(runtime);
    if ((*array)->arrayCount == 0) VLFixCount(runtime, shape, countLocation, *array, result);
    if (*element < (*array)->arrayCount) return true;
    return VLElementExists(*array, *element, result);
}

// Push-frame: fills the record of a struct instance when the instruction names
// a type (an element record for a referenced member, else the pool's record;
// the member's element count is checked either way), then pushes a cleared
// frame. Too deep a nesting and an element past the array's count push nothing.
// `memberCount` is the value of the instruction's member-count location.
// The element record of a referenced struct member, filled as a new instance;
// null when the run has no room for it (MemoryLimit).
static VLRuntimeMember* VLReferencedInstance(VLRuntime* runtime, VLRuntimeMemberArray* array, uint32_t element,
                                             uint32_t memberCount, VLRuntimeMember* parent, VLRuntimeResult* result) {
    VLRuntimeMember* record = VLElementRecord(runtime, array, element, result);
    if (!record || !VLFillInstance(runtime, record, memberCount, parent, result)) return nullptr;
    return record;
}

VL_HOT_PATH void VLEnterInstance(VLRuntime* runtime, const VLInstruction* instruction, VLMemberShape shape,
                                 int64_t memberCount, VLRuntimeResult* result) {
    if (runtime->stackCount >= VLMaxStackCount) {
        result->flags |= VLRuntimeResultFlag_NestingTooDeep;
        return;
    }
    if (shape.flags & VLMemberShape_Typed) {
        VL_ASSERT(memberCount >= 0 && uint64_t(memberCount) <= UINT32_MAX);
        VLRuntimeMember* parent = runtime->currentMember;
        VLRuntimeMember* record = nullptr;
        if ((shape.flags & VLMemberShape_Detached) || !parent) {
            // The layout root, or an instance measured by sizeof: no member
            // array holds it, so no path can reach it.
            VL_ASSERT((shape.flags & VLMemberShape_Detached) || shape.memberIndex == 0);
        } else {
            VLRuntimeMemberArray* array;
            uint32_t element;
            if (!VLMemberElement(runtime, shape, &instruction->pushFrame.arrayCount, &array, &element, result)) return;
            if (shape.flags & VLMemberShape_Referenced) {
                record = VLReferencedInstance(runtime, array, element, uint32_t(memberCount), parent, result);
                if (!record) return;
            }
        }
        if (!record) record = VLPooledInstance(runtime, uint32_t(memberCount), parent);
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

uint32_t VLMemberFlagsNow(VLRuntime* runtime, const VLInstruction* member) {
    const auto& scalar = member->scalarExport;
    if (member->type == VLInstructionType_ShowMember || scalar.byteOrder.kind == VLLocationKind_None)
        return scalar.flags;
    uint32_t flags = scalar.flags & ~uint32_t(VLMemberFlag_BigEndian);
    return VLValue(runtime, scalar.byteOrder) != 0 ? flags | VLMemberFlag_BigEndian : flags;
}

// The value a member path reads from a member just read (kept for referenced
// members only): the first 8 bytes as a number in the member's byte order, a
// variable-length integer's value, a computed value.
static uint64_t VLMemberValueOf(VLRuntime* runtime, const VLInstruction* instruction, int64_t address,
                                int64_t size) {
    switch (instruction->type) {
    case VLInstructionType_ULebMember:
    case VLInstructionType_SLebMember:
    case VLInstructionType_VlqMember:
        return VLDecodeVarint(instruction->type, runtime->data + address, uint64_t(size)).value;
    case VLInstructionType_ShowMember:
        return uint64_t(VLValue(runtime, instruction->scalarExport.value));
    default:
        return VLReadScalar(runtime->data + address, size < 8 ? uint32_t(size) : 8,
                            (VLMemberFlagsNow(runtime, instruction) & VLMemberFlag_BigEndian) != 0,
                            instruction->type == VLInstructionType_ScalarMemberS);
    }
}

// Reports a member's size below 1 and a placement outside the data (the size
// then taken as 0); true when it reported. A member that may be empty is
// read with size 0 anywhere up to the end of the data; a computed one
// reads nothing.
static bool VLPlacementFails(const VLRuntime* runtime, VLMemberShape shape, int64_t address, int64_t size,
                             VLRuntimeResult* result) {
    if (shape.flags & VLMemberShape_Computed) return false;
    if (size == 0 && (shape.flags & VLMemberShape_MayBeEmpty) && address >= 0 && uint64_t(address) <= runtime->dataSize)
        return false;
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
    return true;
}

// Stores the value of a referenced member as the element's record.
static void VLKeepValue(VLRuntime* runtime, const VLInstruction* instruction, VLRuntimeMemberArray* array,
                        uint32_t element, int64_t address, int64_t size, VLRuntimeResult* result) {
    VLRuntimeMember* record = VLElementRecord(runtime, array, element, result);
    if (!record) return;
    record->flags = VLRuntimeMemberFlag_IsSet;
    record->value = VLMemberValueOf(runtime, instruction, address, size);
}

// Scalar member: checks size and placement against the data and the element
// against its member's count; a referenced member also stores the value as
// the current element of its member.
VL_HOT_PATH void VLReadMember(VLRuntime* runtime, const VLInstruction* instruction, VLMemberShape shape,
                              int64_t address, int64_t size, VLRuntimeResult* result) {
    if (size < 1 || address < 0 || uint64_t(size) > runtime->dataSize ||
        uint64_t(address) > runtime->dataSize - uint64_t(size)) {
        if (VLPlacementFails(runtime, shape, address, size, result)) return;
    }
    VLRuntimeMemberArray* array;
    uint32_t element;
    if (!VLMemberElement(runtime, shape, &instruction->scalarExport.arrayCount, &array, &element, result)) return;
    if (shape.flags & VLMemberShape_Referenced) VLKeepValue(runtime, instruction, array, element, address, size, result);
}

// ---------------------------------------------------------------------------
// The meaning of each kind (VLRun<helper> of the instruction set): the step
// interpreter calls them with the record; the run loop calls them for the
// instructions it runs from their records and shares the member helpers above.
// Each takes the instruction, the cursor standing after it (a jump moves it
// to after its target) and the result that failures go into.
// ---------------------------------------------------------------------------

// Value of member: follows the path down from the running instance. Every
// step but the last must land on a filled struct instance; the last must not
// (an element not read yet gives 0). A step that fails reports the element
// asked for, the elements that exist and the step.
static void VLRunValueOfMember(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*,
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

// The type lookups: the type registered under the instruction's category and
// the key in its slot, or null with UnknownType (result count = the key).
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

// No effect (invalid, breakpoint).
static void VLRunNothing(VLRuntime*, const VLInstruction*, VLCursor*, VLRuntimeResult*) {}

// Nothing to run: the front end prints the message and the value.
static void VLRunPrint(VLRuntime*, const VLInstruction*, VLCursor*, VLRuntimeResult*) {}

// D = the constant.
static void VLRunLoadConstant(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*, VLRuntimeResult*) {
    *VLSlot(runtime, instruction->destination) = int64_t(instruction->constant.value);
}

// D = the operator applied to the operand (VLEvaluateUnary).
static void VLRunUnary(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*, VLRuntimeResult*) {
    *VLSlot(runtime, instruction->destination) =
        VLEvaluateUnary(instruction->type, VLValue(runtime, instruction->unary.operand));
}

// D = left operator right (VLEvaluateBinary).
static void VLRunBinary(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*, VLRuntimeResult*) {
    int64_t left = VLValue(runtime, instruction->binary.left);
    int64_t right = VLValue(runtime, instruction->binary.right);
    *VLSlot(runtime, instruction->destination) = VLEvaluateBinary(instruction->type, left, right);
}

// Instance record, then a new frame.
static void VLRunPushFrame(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*,
                           VLRuntimeResult* result) {
    VLMemberShape shape = VLPushShape(instruction);
    int64_t memberCount = (shape.flags & VLMemberShape_Typed) ? VLValue(runtime, instruction->pushFrame.memberCount) : 0;
    VLEnterInstance(runtime, instruction, shape, memberCount, result);
}

// Drop the innermost frame, keep it for reuse.
static void VLRunPopFrame(VLRuntime* runtime, const VLInstruction*, VLCursor*, VLRuntimeResult*) {
    VLPopFrame(runtime);
}

// A struct definition reached in sequence: continue after its end.
static void VLRunSkipDefinition(VLRuntime* runtime, const VLInstruction* instruction, VLCursor* cursor,
                                VLRuntimeResult*) {
    VLContinueAfter(runtime, instruction->structDefinition.endIndex, cursor);
}

// The end of a struct body: back to the enclosing instance, continue after
// the caller's number in slot 0.
static inline uint32_t VLLeaveInstance(VLRuntime* runtime) {
    VL_ASSERT(runtime->currentMember);
    runtime->currentMember = runtime->currentMember->parent;
    return uint32_t(runtime->frames->slots[0]);
}

static void VLRunReturn(VLRuntime* runtime, const VLInstruction*, VLCursor* cursor, VLRuntimeResult*) {
    VLContinueAfter(runtime, VLLeaveInstance(runtime), cursor);
}

// The element number for the members declared next (the global frame has none).
static inline void VLSetElement(VLRuntime* runtime, int64_t element) {
    if (runtime->stackCount >= 2) runtime->arrayIndices[runtime->stackCount - 2] = uint32_t(element);
}

static void VLRunSetArrayIndex(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*, VLRuntimeResult*) {
    VLSetElement(runtime, VLValue(runtime, instruction->arrayIndex.value));
}

// Check (and, when referenced, keep) a scalar of the data.
static void VLRunScalarMember(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*,
                              VLRuntimeResult* result) {
    const auto& member = instruction->scalarExport;
    VLReadMember(runtime, instruction, VLScalarShape(instruction), VLValue(runtime, member.address),
                 VLValue(runtime, member.size), result);
}

// The bytes a zstring takes: through its first NUL, or all that are available.
static uint64_t VLZStringLength(const uint8_t* bytes, uint64_t available) {
    const void* nul = memchr(bytes, 0, size_t(available));
    return nul ? uint64_t(static_cast<const uint8_t*>(nul) - bytes) + 1 : available;
}

// A member whose size the data decides (zstring, uleb, sleb, vlq): its size
// slot holds the bound and receives the bytes taken, never past the end of
// the data. A bound below 1 (unless the member may be empty), a cursor
// outside the data, and a number without its final byte within the bound or
// beyond 64 bits are reported; the member is then not read.
static void VLRunMeasuredMember(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*,
                                VLRuntimeResult* result) {
    const auto& member = instruction->scalarExport;
    int64_t address = VLValue(runtime, member.address);
    int64_t* size = VLSlot(runtime, member.size);
    int64_t bound = *size;
    VLMemberShape shape = VLScalarShape(instruction);
    bool inData = address >= 0 && uint64_t(address) < runtime->dataSize;
    if (bound < 1 || !inData) {
        if (VLPlacementFails(runtime, shape, address, bound < 1 ? bound : 1, result)) return;
        bound = 0;  // an empty value
    }
    uint64_t left = inData ? runtime->dataSize - uint64_t(address) : 0;
    uint64_t available = uint64_t(bound) < left ? uint64_t(bound) : left;
    uint64_t taken = 0;
    if (instruction->type == VLInstructionType_ZStringMember) {
        taken = available ? VLZStringLength(runtime->data + address, available) : 0;
    } else {
        VLVarint number = VLDecodeVarint(instruction->type, runtime->data + address, available);
        if (number.status != VLVarintStatus_Done) {
            result->flags |= number.status == VLVarintStatus_NoFinalByte ? VLRuntimeResultFlag_NoFinalByte
                                                                          : VLRuntimeResultFlag_ValueTooLarge;
            result->size = bound;
            result->address = address;
            return;
        }
        taken = number.length;
    }
    *size = int64_t(taken);
    VLReadMember(runtime, instruction, shape, address, int64_t(taken), result);
}

// A computed value shown as a member of size 0 at the cursor.
static void VLRunShowMember(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*,
                            VLRuntimeResult* result) {
    VLReadMember(runtime, instruction, VLScalarShape(instruction), VLValue(runtime, instruction->scalarExport.address),
                 0, result);
}

// Jump; a conditional one only when its condition is non-zero.
static void VLRunGoto(VLRuntime* runtime, const VLInstruction* instruction, VLCursor* cursor, VLRuntimeResult*) {
    const auto& jump = instruction->jump;
    if (jump.condition.kind != VLLocationKind_None && VLValue(runtime, jump.condition) == 0) return;
    uint32_t target = jump.target.kind != VLLocationKind_None ? uint32_t(VLValue(runtime, jump.target))
                                                              : jump.targetIndex;
    VLContinueAfter(runtime, target, cursor);
}

// D = size of the data in bytes.
static void VLRunSizeOfFile(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*, VLRuntimeResult*) {
    *VLSlot(runtime, instruction->destination) = int64_t(runtime->dataSize);
}

// Members and print output hidden until shown again.
static void VLRunHideMembers(VLRuntime* runtime, const VLInstruction*, VLCursor*, VLRuntimeResult*) {
    ++runtime->membersHidden;
}

// The end of one hidden region.
static void VLRunShowMembers(VLRuntime* runtime, const VLInstruction*, VLCursor*, VLRuntimeResult*) {
    VL_ASSERT(runtime->membersHidden > 0);
    --runtime->membersHidden;
}

// D = number of the type's start instruction.
static void VLRunFetchStartOfType(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*,
                                  VLRuntimeResult* result) {
    if (const VLTypeDefinition* type = VLLookUpType(runtime, instruction, result))
        *VLSlot(runtime, instruction->destination) = type->startInstruction->index;
}

// D = member count of the type.
static void VLRunFetchMemberCountOfType(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*,
                                        VLRuntimeResult* result) {
    if (const VLTypeDefinition* type = VLLookUpType(runtime, instruction, result))
        *VLSlot(runtime, instruction->destination) = type->memberCount;
}

// D = index of the type.
static void VLRunFetchTypeIndex(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*,
                                VLRuntimeResult* result) {
    if (const VLTypeDefinition* type = VLLookUpType(runtime, instruction, result))
        *VLSlot(runtime, instruction->destination) = type->index;
}

// D = 1 when a type is registered under (category, key).
static void VLRunHasType(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*, VLRuntimeResult*) {
    int64_t key = VLValue(runtime, instruction->typeLookup.key);
    *VLSlot(runtime, instruction->destination) = VLFindCategoryEntry(runtime, instruction, key) ? 1 : 0;
}

// Report when the condition is 0.
static void VLRunAssert(VLRuntime* runtime, const VLInstruction* instruction, VLCursor*, VLRuntimeResult* result) {
    if (VLValue(runtime, instruction->assertion.condition) == 0) result->flags |= VLRuntimeResultFlag_AssertionFailed;
}

// ---------------------------------------------------------------------------
// One instruction from its record
// ---------------------------------------------------------------------------

// Contract: runs `instruction` (taken from `cursor`, which already stands after
// it; a jump moves it to after its target); failures go into `result`.
// Returns the VLRuntimeShow kind of the instructions the front end may have
// to see, 0 for the others.
static uint32_t VLExecute(VLRuntime* runtime, const VLInstruction* instruction, VLCursor* cursor,
                          VLRuntimeResult* result) {
    switch (instruction->type) {
#define VL_EXECUTE_CASE(name, shape, words, suffix, run, shown, op)  \
    case VLInstructionType_##name:                               \
        VLRun##run(runtime, instruction, cursor, result);        \
        return VLRuntimeShow_##shown;
        VL_INSTRUCTION_SET(VL_EXECUTE_CASE)
#undef VL_EXECUTE_CASE
    default:  // no such kind: the compiler emits only the kinds of the set
        VL_ASSERT(!"instruction kind out of range");
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Decoded chunks
// ---------------------------------------------------------------------------

// The decoded form of an operand: a slot of the innermost frame or of the
// global frame; false for every other location (they run from the record).
static bool VLNearOperand(VLLocation location, uint8_t* operand) {
    if (location.depth != 0 || location.index >= VLFrameSlotCount) return false;
    if (location.kind == VLLocationKind_Local) {
        *operand = uint8_t(location.index);
        return true;
    }
    if (location.kind == VLLocationKind_Global) {
        *operand = uint8_t(location.index | VLGlobalOperand);
        return true;
    }
    return false;
}

// The op of an instruction that runs from its record.
static VLOp VLPlainOp() {
    VLOp op = {};
    op.code = VLOp_Plain;
    return op;
}

// An op whose operands must all be near: as built, else from the record.
// (Callers work out `near` first: it fills the op's operands.)
static VLOp VLNearOrPlain(VLOp op, bool near) { return near ? op : VLPlainOp(); }

// The decoded form of each run helper (VLDecode<helper>); the helpers without
// one run from the record.
static VLOp VLDecodeNothing(const VLInstruction*) {  // no effect
    VLOp op = {};
    op.code = VLOp_Nothing;
    return op;
}

static VLOp VLDecodeLoadConstant(const VLInstruction* instruction) {  // D = constant
    VLOp op = {};
    op.code = VLOp_Load;
    op.value = int64_t(instruction->constant.value);
    bool near = VLNearOperand(instruction->destination, &op.d);
    return VLNearOrPlain(op, near);
}

static VLOp VLDecodeUnary(const VLInstruction* instruction) {  // D = op operand
    VLOp op = {};
    op.code = instruction->type == VLInstructionType_Copy ? VLOp_Copy : VLOp_Unary;
    op.number = uint32_t(instruction->type);
    bool near = VLNearOperand(instruction->destination, &op.d) &&
                VLNearOperand(instruction->unary.operand, &op.a);
    return VLNearOrPlain(op, near);
}

static VLOp VLDecodeBinary(const VLInstruction* instruction) {  // D = left op right
    int32_t type = instruction->type;
    VLOp op = {};
    op.code = type == VLInstructionType_Add ? VLOp_Add : type == VLInstructionType_Less ? VLOp_Less : VLOp_Binary;
    op.number = uint32_t(type);
    bool near = VLNearOperand(instruction->destination, &op.d) &&
                VLNearOperand(instruction->binary.left, &op.a) &&
                VLNearOperand(instruction->binary.right, &op.b);
    return VLNearOrPlain(op, near);
}

static VLOp VLDecodePushFrame(const VLInstruction* instruction) {  // shape, and the member count's operand
    VLMemberShape shape = VLPushShape(instruction);
    VLOp op = {};
    op.code = VLOp_PushFrame;
    op.d = shape.flags;
    op.number = shape.memberIndex;
    bool near = !(shape.flags & VLMemberShape_Typed) ||
                VLNearOperand(instruction->pushFrame.memberCount, &op.a);
    return VLNearOrPlain(op, near);
}

static VLOp VLDecodePopFrame(const VLInstruction*) {  // the innermost frame changes
    VLOp op = {};
    op.code = VLOp_PopFrame;
    return op;
}

static VLOp VLDecodeSkipDefinition(const VLInstruction* instruction) {  // to after the end
    VLOp op = {};
    op.code = VLOp_Skip;
    op.number = instruction->structDefinition.endIndex;
    return op;
}

static VLOp VLDecodeReturn(const VLInstruction*) {  // through slot 0
    VLOp op = {};
    op.code = VLOp_Return;
    return op;
}

static VLOp VLDecodeSetArrayIndex(const VLInstruction* instruction) {  // element number
    VLOp op = {};
    op.code = VLOp_SetArrayIndex;
    bool near = VLNearOperand(instruction->arrayIndex.value, &op.a);
    return VLNearOrPlain(op, near);
}

static VLOp VLDecodeScalarMember(const VLInstruction* instruction) {  // address, size and the shape
    const auto& member = instruction->scalarExport;
    VLMemberShape shape = VLScalarShape(instruction);
    VLOp op = {};
    op.code = VLOp_Scalar;
    op.d = shape.flags;
    op.number = shape.memberIndex;
    bool near = VLNearOperand(member.address, &op.a) && VLNearOperand(member.size, &op.b);
    return VLNearOrPlain(op, near);
}

static VLOp VLDecodeGoto(const VLInstruction* instruction) {  // fixed targets only
    const auto& jump = instruction->jump;
    if (jump.target.kind != VLLocationKind_None) return VLPlainOp();  // a computed target
    VLOp op = {};
    op.number = jump.targetIndex;
    op.code = VLOp_Goto;
    if (jump.condition.kind == VLLocationKind_None) return op;
    op.code = VLOp_GotoIf;
    bool near = VLNearOperand(jump.condition, &op.a);
    return VLNearOrPlain(op, near);
}

static VLOp VLDecodeSizeOfFile(const VLInstruction* instruction) {  // D = size of the data
    VLOp op = {};
    op.code = VLOp_SizeOfFile;
    bool near = VLNearOperand(instruction->destination, &op.d);
    return VLNearOrPlain(op, near);
}

#define VL_RUNS_FROM_RECORD(run) \
    static VLOp VLDecode##run(const VLInstruction*) { return VLPlainOp(); }
VL_RUNS_FROM_RECORD(ValueOfMember)
VL_RUNS_FROM_RECORD(HideMembers)
VL_RUNS_FROM_RECORD(ShowMembers)
VL_RUNS_FROM_RECORD(FetchStartOfType)
VL_RUNS_FROM_RECORD(FetchMemberCountOfType)
VL_RUNS_FROM_RECORD(FetchTypeIndex)
VL_RUNS_FROM_RECORD(HasType)
VL_RUNS_FROM_RECORD(Assert)
VL_RUNS_FROM_RECORD(Print)
VL_RUNS_FROM_RECORD(MeasuredMember)
VL_RUNS_FROM_RECORD(ShowMember)
#undef VL_RUNS_FROM_RECORD

// Decodes one instruction by its run helper.
static VLOp VLDecode(const VLInstruction* instruction) {
    switch (instruction->type) {
#define VL_DECODE_CASE(name, shape, words, suffix, run, shown, op) \
    case VLInstructionType_##name: return VLDecode##run(instruction);
        VL_INSTRUCTION_SET(VL_DECODE_CASE)
#undef VL_DECODE_CASE
    default: return VLPlainOp();
    }
}

// Marks the pairs that the compiler emits for every member and loop: a load
// followed by set-array-index, a scalar member or an add; a less followed by
// the conditional jump on its result.
// The runs of every member: [load Z; scalar(size Z); add] and, before it,
// [load I; set-array-index I]; the loads must feed the ops that follow them.
static bool VLIsScalarRun(const VLOp* ops, uint32_t i, uint32_t count) {
    return i + 2 < count && ops[i].code == VLOp_Load && ops[i + 1].code == VLOp_Scalar &&
           ops[i + 1].b == ops[i].d && ops[i + 2].code == VLOp_Add;
}

static void VLPairOps(VLOp* ops, uint32_t count) {
    for (uint32_t i = 0; i + 1 < count; ++i) {
        uint8_t next = ops[i + 1].code;
        if (ops[i].code == VLOp_Load) {
            if (next == VLOp_SetArrayIndex && ops[i + 1].a == ops[i].d)
                ops[i].code = VLIsScalarRun(ops, i + 2, count) ? VLOp_MemberRun : VLOp_LoadThenIndex;
            else if (VLIsScalarRun(ops, i, count)) ops[i].code = VLOp_ScalarRun;
            else if (next == VLOp_Scalar) ops[i].code = VLOp_LoadThenScalar;
            else if (next == VLOp_Add) ops[i].code = VLOp_LoadThenAdd;
            else if (next == VLOp_Goto) ops[i].code = VLOp_LoadThenGoto;
            else if (next == VLOp_Load) ops[i].code = VLOp_LoadThenLoad;
        } else if (ops[i].code == VLOp_Less && next == VLOp_GotoIf) {
            ops[i].code = VLOp_LessThenGotoIf;
        }
    }
}

// The decoded ops of chunk `k`, or null while the chunk is not hot. Each call
// counts one instruction run from the chunk's records.
static const VLOp* VLChunkOps(VLRuntime* runtime, uint32_t k) {
    VLRuntimeView* view = runtime->view;
    if (view->ops[k]) return view->ops[k];
    if (++view->heat[k] < VLDecodeHeat) return nullptr;
    const VLInstructionChunk* chunk = view->chunks[k];
    VLOp* ops = VLArenaNew<VLOp>(runtime->arena, chunk->count + 1);
    for (uint32_t i = 0; i < chunk->count; ++i) ops[i] = VLDecode(&chunk->items[i]);
    ops[chunk->count].code = VLOp_ChunkEnd;
    VLPairOps(ops, chunk->count);
    view->ops[k] = ops;
    return ops;
}

// ---------------------------------------------------------------------------
// Running
// ---------------------------------------------------------------------------

VLRuntimeResult VLRuntimeStep(VLRuntime* runtime) {
    VLRuntimeResult result = {};
    VLCursor cursor = VLCursorAt(runtime->position);
    if (!VLCursorReady(&cursor)) return result;
    VLInstruction* instruction = cursor.next++;
    VLExecute(runtime, instruction, &cursor, &result);
    result.instruction = instruction;
    runtime->position = VLPositionOf(cursor);
    return result;
}

// Hands a step the run would stop after to the visitor, with the position
// brought up to date; true when the run goes on (the result is then emptied).
static inline bool VLVisit(VLRuntime* runtime, VLInstructionChunk* chunk, uint32_t place, VLRuntimeVisitor visitor,
                    void* context, VLRuntimeResult* result) {
    if (!visitor) return false;
    if (chunk && place >= chunk->count) {
        chunk = chunk->next;
        place = 0;
    }
    runtime->position = VLInstructionPosition{chunk, place};
    if (!visitor(context, runtime, result)) return false;
    result->instruction = nullptr;
    return true;
}

// Contract: as VLRuntimeStep repeated, stopping after a step that sets flags
// or whose instruction is of a kind in `show` while members are shown (unless
// the visitor takes that step and lets the run go on), at the end, or when
// `*stepsLeft` is used up. Chunks that run often go decoded (operands
// resolved, fixed patterns fused); the others run from their records. The
// position is a chunk and a place in it, as in VLRuntime, so that entering
// and leaving cost little.
VLRuntimeResult VLRuntimeRun(VLRuntime* runtime, uint64_t* stepsLeft, uint32_t show,
                             VLRuntimeVisitor visitor, void* context) {
    VLRuntimeResult result = {};
    VLInstructionChunk* chunk = runtime->position.chunk;
    uint32_t place = runtime->position.place;
    uint64_t left = *stepsLeft;
    const uint32_t total = runtime->instructions->totalCount;
    int64_t* global = runtime->globalFrame->slots;
    bool stop = false;
    while (!stop && left > 0 && chunk && place < chunk->count) {
        uint32_t chunkNumber = chunk->items[0].index >> VLChunkShift;
        const VLOp* ops = VLChunkOps(runtime, chunkNumber);
        if (!ops) {
            // A chunk that is not hot: one instruction from its record.
            VLInstruction* instruction = &chunk->items[place];
            VLCursor cursor = {chunk, instruction + 1, chunk->items + chunk->count, chunkNumber};
            --left;
            uint32_t shown = VLExecute(runtime, instruction, &cursor, &result) & show;
            VLCursorReady(&cursor);
            chunk = cursor.chunk;
            place = chunk ? uint32_t(cursor.next - chunk->items) : 0;
            if (result.flags || (shown && runtime->membersHidden == 0)) {
                result.instruction = instruction;
                stop = result.flags || !VLVisit(runtime, chunk, place, visitor, context, &result);
            }
            continue;
        }
        const VLOp* op = ops + place;
        int64_t* local = runtime->frames->slots;
        uint32_t shown = 0;  // the kind of the op's instruction when the front end may have to see it
#define VL_SLOT(operand) ((operand) & VLGlobalOperand ? global : local)[(operand) & VLSlotMask]
#define VL_INSTRUCTION(decoded) (chunk->items + ((decoded) - ops))
// The step of an op that can neither fail nor be shown: on to the next op.
#define VL_NEXT() \
    {             \
        --left;   \
        ++op;     \
        continue; \
    }
        bool chunkEnd = false;  // past the chunk's last instruction
        bool jumped = false;    // a jump: it continues at instruction number `jumpTo`
        uint32_t jumpTo = 0;
        while (left > 0) {
            switch (op->code) {
            case VLOp_ChunkEnd:  // past the chunk's last instruction (no step): the next chunk
                chunkEnd = true;
                break;
            case VLOp_Nothing:  // no effect
                VL_NEXT();
            case VLOp_Load:  // D = constant
                VL_SLOT(op->d) = op->value;
                VL_NEXT();
            case VLOp_Copy:  // D = operand
                VL_SLOT(op->d) = VL_SLOT(op->a);
                VL_NEXT();
            case VLOp_Unary:  // D = operator applied to the operand
                VL_SLOT(op->d) = VLEvaluateUnary(int32_t(op->number), VL_SLOT(op->a));
                VL_NEXT();
            case VLOp_Add:  // D = left + right, wrapping
                VL_SLOT(op->d) = int64_t(uint64_t(VL_SLOT(op->a)) + uint64_t(VL_SLOT(op->b)));
                VL_NEXT();
            case VLOp_Less:  // D = left < right, signed
                VL_SLOT(op->d) = VL_SLOT(op->a) < VL_SLOT(op->b);
                VL_NEXT();
            case VLOp_Binary: {  // D = left operator right
                int64_t value = VLEvaluateBinary(int32_t(op->number), VL_SLOT(op->a), VL_SLOT(op->b));
                VL_SLOT(op->d) = value;
                VL_NEXT();
            }
            case VLOp_SetArrayIndex:  // element number for the members declared next
                VLSetElement(runtime, VL_SLOT(op->a));
                VL_NEXT();
            case VLOp_SizeOfFile:  // D = size of the data
                VL_SLOT(op->d) = int64_t(runtime->dataSize);
                VL_NEXT();
            case VLOp_LoadThenIndex:  // element counter := constant; element number := it
                VL_SLOT(op->d) = op->value;
                if (left < 2) VL_NEXT();
                --left;
                VLSetElement(runtime, op->value);
                ++op;
                VL_NEXT();
            case VLOp_LoadThenLoad:  // two constants
                VL_SLOT(op->d) = op->value;
                if (left < 2) VL_NEXT();
                --left;
                ++op;
                VL_SLOT(op->d) = op->value;
                VL_NEXT();
            case VLOp_LoadThenGoto:  // return number := constant; then the call's jump
                VL_SLOT(op->d) = op->value;
                if (left < 2) VL_NEXT();
                --left;
                ++op;
                jumpTo = op->number + 1;
                jumped = true;
                break;
            case VLOp_MemberRun:  // I := constant; element number := I; then the scalar run
                if (left < 5) {
                    VL_SLOT(op->d) = op->value;
                    VL_NEXT();
                }
                VL_SLOT(op->d) = op->value;
                VLSetElement(runtime, op->value);
                left -= 2;
                op += 2;
                [[fallthrough]];
            case VLOp_ScalarRun:  // Z := size; the scalar member, handed on; cursor += Z
                if (left < 3) {
                    VL_SLOT(op->d) = op->value;
                    VL_NEXT();
                }
                VL_SLOT(op->d) = op->value;
                left -= 2;
                ++op;
                VLReadMember(runtime, VL_INSTRUCTION(op), VLMemberShape{op->number, op->d}, VL_SLOT(op->a),
                             VL_SLOT(op->b), &result);
                if (result.flags || ((show & VLRuntimeShow_Members) && runtime->membersHidden == 0)) {
                    result.instruction = VL_INSTRUCTION(op);
                    if (result.flags || !VLVisit(runtime, chunk, uint32_t(op - ops) + 1, visitor, context, &result)) {
                        ++op;
                        stop = true;
                        break;
                    }
                }
                ++op;  // the cursor advance
                VL_SLOT(op->d) = int64_t(uint64_t(VL_SLOT(op->a)) + uint64_t(VL_SLOT(op->b)));
                VL_NEXT();
            case VLOp_LoadThenAdd:  // constant := value; D = left + right
                VL_SLOT(op->d) = op->value;
                if (left < 2) VL_NEXT();
                --left;
                ++op;
                VL_SLOT(op->d) = int64_t(uint64_t(VL_SLOT(op->a)) + uint64_t(VL_SLOT(op->b)));
                VL_NEXT();
            case VLOp_LoadThenScalar:  // size := constant; then the scalar member
                VL_SLOT(op->d) = op->value;
                if (left < 2) VL_NEXT();
                --left;
                ++op;
                [[fallthrough]];
            case VLOp_Scalar:  // checked (and kept when referenced); shown
                VLReadMember(runtime, VL_INSTRUCTION(op), VLMemberShape{op->number, op->d}, VL_SLOT(op->a),
                             VL_SLOT(op->b), &result);
                shown = show & VLRuntimeShow_Members;
                break;
            case VLOp_PushFrame:  // a new innermost frame; shown
                VLEnterInstance(runtime, VL_INSTRUCTION(op), VLMemberShape{op->number, op->d},
                                (op->d & VLMemberShape_Typed) ? VL_SLOT(op->a) : 0, &result);
                local = runtime->frames->slots;
                shown = show & VLRuntimeShow_Structs;
                break;
            case VLOp_PopFrame:  // back to the frame below; shown
                VLPopFrame(runtime);
                local = runtime->frames->slots;
                shown = show & VLRuntimeShow_Structs;
                break;
            case VLOp_LessThenGotoIf:  // T = left < right; jump when T is not 0
                VL_SLOT(op->d) = VL_SLOT(op->a) < VL_SLOT(op->b);
                if (left < 2) VL_NEXT();
                --left;
                ++op;
                [[fallthrough]];
            case VLOp_GotoIf:  // conditional jump to after the target
                if (VL_SLOT(op->a) == 0) VL_NEXT();
                [[fallthrough]];
            case VLOp_Goto:  // jump to after the target
            case VLOp_Skip:  // struct definition reached in sequence: after its end
                jumpTo = op->number + 1;
                jumped = true;
                break;
            case VLOp_Return:  // end of a struct body: after the caller's number in slot 0
                jumpTo = VLLeaveInstance(runtime) + 1;
                jumped = true;
                break;
            default: {  // VLOp_Plain: the instruction record runs
                VL_ASSERT(op->code == VLOp_Plain);
                VLInstruction* instruction = VL_INSTRUCTION(op);
                VLCursor cursor = {chunk, instruction + 1, chunk->items + chunk->count, chunkNumber};
                shown = VLExecute(runtime, instruction, &cursor, &result) & show;
                local = runtime->frames->slots;
                if (cursor.chunk != chunk || cursor.next != instruction + 1) {  // it jumped
                    jumpTo = cursor.chunk ? cursor.chunk->items[0].index + uint32_t(cursor.next - cursor.chunk->items)
                                          : total;
                    jumped = true;
                }
                break;
            }
            }
            if (stop) break;   // a member run stopped after its scalar member
            if (chunkEnd) {  // no step was taken
                chunk = chunk->next;
                place = 0;
                break;
            }
            --left;
            if (jumped) {
                // Jumps continue after their target: the arithmetic is on 32 bits,
                // so the target 0xFFFFFFFF continues at instruction 0.
                VL_ASSERT(jumpTo <= total);
                if ((jumpTo >> VLChunkShift) == chunkNumber && jumpTo < total) {
                    op = ops + (jumpTo & (VLInstructionChunkCapacity - 1));
                    jumped = false;
                    continue;
                }
                chunk = jumpTo < total ? runtime->view->chunks[jumpTo >> VLChunkShift] : nullptr;
                place = jumpTo & (VLInstructionChunkCapacity - 1);
                break;
            }
            ++op;
            if (result.flags || (shown && runtime->membersHidden == 0)) {
                result.instruction = VL_INSTRUCTION(op - 1);
                if (result.flags || !VLVisit(runtime, chunk, uint32_t(op - ops), visitor, context, &result)) {
                    stop = true;
                    break;
                }
            }
            shown = 0;
        }
#undef VL_NEXT
#undef VL_INSTRUCTION
#undef VL_SLOT
        if (!chunkEnd && !jumped) place = uint32_t(op - ops);  // stopped, or the steps are used up
    }
    // A place past the chunk's last instruction is the next chunk's first.
    if (chunk && place >= chunk->count) {
        chunk = chunk->next;
        place = 0;
    }
    runtime->position = VLInstructionPosition{chunk, place};
    *stepsLeft = left;
    return result;
}
