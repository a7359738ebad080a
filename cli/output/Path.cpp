// Path.cpp - the member path builder: follows the struct and member events of
// a run and keeps the path of the current member as text, with the occurrence
// numbers counted per struct instance.
//
// The text holds the path of the innermost open struct followed by the
// current member's last step; each open struct remembers where its own path
// ends, so a member costs one short append. Occurrences are counted per name:
// every member declaration of a type gets the slot of the first declaration
// of its name in that type (worked out once from the program), and each open
// struct keeps one counter per slot, marked with the struct's stamp so that a
// new instance starts from zero without clearing anything.
#include <cstdlib>
#include <cstring>

#include "Events.h"

static void* VLGrowArray(void* array, uint32_t* capacity, uint32_t needed, size_t itemSize) {
    uint32_t grown = *capacity ? *capacity : 8;
    while (grown < needed) grown *= 2;
    void* larger = realloc(array, grown * itemSize);
    VL_ASSERT(larger != nullptr);
    memset(static_cast<char*>(larger) + size_t(*capacity) * itemSize, 0, size_t(grown - *capacity) * itemSize);
    *capacity = grown;
    return larger;
}

// ---------------------------------------------------------------------------
// Name slots
// ---------------------------------------------------------------------------

struct VLNameSlotEntry {
    const VLTypeDefinition* type;  // null: free
    VLString name;
    uint32_t slot;
};

static uint32_t VLNameSlotHash(const VLTypeDefinition* type, VLString name) {
    return VLHashName(name.length, name.chars) * 31u + type->index;
}

// The entry of (type, name) in an open-addressing table of `mask` + 1 entries.
static VLNameSlotEntry* VLFindNameSlot(VLNameSlotEntry* table, uint32_t mask, const VLTypeDefinition* type,
                                       VLString name) {
    for (uint32_t at = VLNameSlotHash(type, name) & mask;; at = (at + 1) & mask) {
        VLNameSlotEntry* entry = &table[at];
        if (!entry->type || (entry->type == type && VLStringEquals(entry->name, name))) return entry;
    }
}

// Every member instruction gets the appearance number of the first member of
// its name in its type. Member lists run newest first, so the last write of a
// name is its first declaration.
static void VLComputeNameSlots(VLPathBuilder* paths, const VLProgram* program) {
    uint64_t memberTotal = 0;
    for (uint32_t i = 0; i < program->types.totalCount; ++i) memberTotal += VLTypeAt(&program->types, i)->memberCount;
    uint32_t size = 16;
    while (size < 2 * memberTotal) size *= 2;
    VLNameSlotEntry* table = static_cast<VLNameSlotEntry*>(calloc(size, sizeof(VLNameSlotEntry)));
    VL_ASSERT(table != nullptr);
    for (uint32_t i = 0; i < program->types.totalCount; ++i) {
        const VLTypeDefinition* type = VLTypeAt(&program->types, i);
        for (const VLMember* member = type->members; member; member = member->next) {
            VLNameSlotEntry* entry = VLFindNameSlot(table, size - 1, type, member->name);
            *entry = {type, member->name, member->appearIndex};
        }
    }
    for (uint32_t i = 0; i < program->types.totalCount; ++i) {
        const VLTypeDefinition* type = VLTypeAt(&program->types, i);
        for (const VLMember* member = type->members; member; member = member->next) {
            if (!member->instruction || member->instruction->index >= paths->instructionCount) continue;
            paths->nameSlots[member->instruction->index] = VLFindNameSlot(table, size - 1, type, member->name)->slot;
        }
    }
    free(table);
}

void VLPathInit(VLPathBuilder* paths, const VLProgram* program) {
    *paths = VLPathBuilder{};
    paths->instructionCount = program->instructions.totalCount;
    paths->typeCount = program->types.totalCount;
    paths->nameSlots = static_cast<uint32_t*>(calloc(paths->instructionCount + 1, sizeof(uint32_t)));
    VL_ASSERT(paths->nameSlots != nullptr);
    VLComputeNameSlots(paths, program);
    paths->text = static_cast<char*>(VLGrowArray(nullptr, &paths->capacity, 256, 1));
    VLPathReset(paths);
}

void VLPathFree(VLPathBuilder* paths) {
    for (uint32_t i = 0; i < paths->levelCapacity; ++i) free(paths->counters[i]);
    free(paths->counters);
    free(paths->counterCapacity);
    free(paths->levels);
    free(paths->nameSlots);
    free(paths->text);
    *paths = VLPathBuilder{};
}

// Level `depth` made ready for a struct of `type` (the top level counts roots
// by type number): a fresh stamp and room for a counter per slot.
static void VLOpenLevel(VLPathBuilder* paths, uint32_t depth, const VLTypeDefinition* type) {
    if (depth >= paths->levelCapacity) {
        uint32_t capacity = paths->levelCapacity;
        paths->levels = static_cast<VLPathLevel*>(VLGrowArray(paths->levels, &capacity, depth + 1, sizeof(VLPathLevel)));
        capacity = paths->levelCapacity;
        paths->counters = static_cast<VLPathCounter**>(
            VLGrowArray(paths->counters, &capacity, depth + 1, sizeof(VLPathCounter*)));
        capacity = paths->levelCapacity;
        paths->counterCapacity = static_cast<uint32_t*>(
            VLGrowArray(paths->counterCapacity, &capacity, depth + 1, sizeof(uint32_t)));
        paths->levelCapacity = capacity;
    }
    uint32_t slots = depth == 0 ? paths->typeCount : (type ? type->memberCount : 0);
    if (slots > paths->counterCapacity[depth])
        paths->counters[depth] = static_cast<VLPathCounter*>(
            VLGrowArray(paths->counters[depth], &paths->counterCapacity[depth], slots, sizeof(VLPathCounter)));
    VLPathLevel* level = &paths->levels[depth];
    level->stamp = ++paths->nextStamp;
    level->type = type;
}

void VLPathReset(VLPathBuilder* paths) {
    paths->depth = 0;
    paths->length = 0;
    VLOpenLevel(paths, 0, nullptr);
    paths->levels[0].prefixLength = 0;
}

// The counter of `slot` at the current level, zero when the level has not
// counted it yet (a slot beyond the room made for the level's type gets room).
static VLPathCounter* VLCounterOf(VLPathBuilder* paths, uint32_t slot) {
    uint32_t depth = paths->depth;
    if (slot >= paths->counterCapacity[depth])
        paths->counters[depth] = static_cast<VLPathCounter*>(
            VLGrowArray(paths->counters[depth], &paths->counterCapacity[depth], slot + 1, sizeof(VLPathCounter)));
    VLPathCounter* counter = &paths->counters[depth][slot];
    uint32_t stamp = paths->levels[depth].stamp;
    if (counter->stamp != stamp) *counter = {stamp, 0};
    return counter;
}

// Occurrence of a name: a member that is no array, or the first element of
// an array, starts a new one; later elements belong to the last.
static uint32_t VLCountOccurrence(VLPathCounter* counter, bool isArray, uint32_t index) {
    if (!isArray || index == 0 || counter->count == 0) return counter->count++;
    return counter->count - 1;
}

static inline uint32_t VLPutDigits(char* to, uint64_t value) { return uint32_t(VLPutDecimal(to, value) - to); }

// One step written at `to`: ".name", "#k" from the second occurrence on,
// "[i]" for an array element (no dot before a root's name). Room: the name
// plus 46 bytes.
static inline uint32_t VLPutStep(char* to, bool root, VLString name, uint32_t occurrence, bool isArray,
                                 uint32_t index) {
    char* cursor = to;
    if (!root) *cursor++ = '.';
    VLPutText(cursor, name.chars, name.length);
    cursor += name.length;
    if (occurrence) {
        *cursor++ = '#';
        cursor += VLPutDigits(cursor, occurrence);
    }
    if (isArray) {
        *cursor++ = '[';
        cursor += VLPutDigits(cursor, index);
        *cursor++ = ']';
    }
    return uint32_t(cursor - to);
}

static char* VLRoomAfterPrefix(VLPathBuilder* paths, uint32_t prefix, uint32_t extra) {
    if (uint64_t(prefix) + extra + 48 > paths->capacity)
        paths->text = static_cast<char*>(VLGrowArray(paths->text, &paths->capacity, prefix + extra + 48, 1));
    return paths->text + prefix;
}

void VLPathEnterStruct(VLPathBuilder* paths, const VLStructEvent* event) {
    bool root = paths->depth == 0;
    VLString name = event->name;
    uint32_t slot;
    if (root) {
        name = event->type ? event->type->name : VLString{0, ""};
        slot = event->type ? event->type->index : 0;
    } else {
        slot = event->pushFrame->index < paths->instructionCount ? paths->nameSlots[event->pushFrame->index] : 0;
    }
    uint32_t occurrence = VLCountOccurrence(VLCounterOf(paths, slot), event->isArray, event->index);
    paths->lastOccurrence = occurrence;
    if (paths->countOnly) {  // the step is kept for VLPathWriteTexts
        VLOpenLevel(paths, paths->depth + 1, event->type);
        VLPathLevel* level = &paths->levels[++paths->depth];
        level->prefixLength = 0;
        level->name = name;
        level->occurrence = occurrence;
        level->index = event->index;
        level->isArray = event->isArray;
        return;
    }
    uint32_t prefix = paths->levels[paths->depth].prefixLength;
    char* at = VLRoomAfterPrefix(paths, prefix, name.length);
    paths->length = prefix + VLPutStep(at, root, name, occurrence, event->isArray, event->index);
    VLOpenLevel(paths, paths->depth + 1, event->type);
    paths->depth++;
    paths->levels[paths->depth].prefixLength = paths->length;
}

void VLPathLeaveStruct(VLPathBuilder* paths) {
    VL_ASSERT(paths->depth > 0);
    paths->depth--;
    paths->length = paths->levels[paths->depth].prefixLength;
}

void VLPathAddMember(VLPathBuilder* paths, const VLMemberEvent* event) {
    const VLInstruction* instruction = event->instruction;
    uint32_t slot = instruction->index < paths->instructionCount ? paths->nameSlots[instruction->index] : 0;
    uint32_t occurrence = VLCountOccurrence(VLCounterOf(paths, slot), event->isArray, event->index);
    paths->lastOccurrence = occurrence;
    if (paths->countOnly) return;
    VLString name = instruction->scalarExport.name;
    uint32_t prefix = paths->levels[paths->depth].prefixLength;
    char* at = VLRoomAfterPrefix(paths, prefix, name.length);
    paths->length = prefix + VLPutStep(at, paths->depth == 0, name, occurrence, event->isArray, event->index);
}

void VLPathWriteTexts(VLPathBuilder* paths) {
    if (!paths->countOnly) return;
    uint32_t length = 0;
    for (uint32_t depth = 1; depth <= paths->depth; ++depth) {
        VLPathLevel* level = &paths->levels[depth];
        char* at = VLRoomAfterPrefix(paths, length, level->name.length);
        length += VLPutStep(at, depth == 1, level->name, level->occurrence, level->isArray, level->index);
        level->prefixLength = length;
    }
    paths->length = length;
}

VLString VLPathStructText(const VLPathBuilder* paths) {
    return {paths->levels[paths->depth].prefixLength, paths->text};
}

uint32_t VLPathOfPending(const VLPathBuilder* paths, const VLInstruction* instruction, bool isArray,
                         uint32_t index, char* buffer, uint32_t capacity) {
    VLString name = {0, ""};
    if (instruction->type == VLInstructionType_PushFrame) name = instruction->pushFrame.name;
    else if (VLIsMemberKind(instruction->type))
        name = instruction->scalarExport.name;
    uint32_t prefix = paths->levels[paths->depth].prefixLength;
    uint64_t length = prefix;
    char step[VLNameTextLimit + 48];
    uint32_t stepLength = 0;
    if (name.length && name.length <= VLNameTextLimit) {
        uint32_t slot = instruction->index < paths->instructionCount ? paths->nameSlots[instruction->index] : 0;
        const VLPathCounter* counters = paths->counters[paths->depth];
        uint32_t count = slot < paths->counterCapacity[paths->depth] &&
                                 counters[slot].stamp == paths->levels[paths->depth].stamp
                             ? counters[slot].count
                             : 0;
        uint32_t occurrence = (!isArray || index == 0 || count == 0) ? count : count - 1;
        stepLength = VLPutStep(step, paths->depth == 0, name, occurrence, isArray, index);
    }
    length = prefix < capacity ? prefix : capacity;
    memcpy(buffer, paths->text, length);
    uint32_t room = capacity - uint32_t(length);
    uint32_t take = stepLength < room ? stepLength : room;
    memcpy(buffer + length, step, take);
    return uint32_t(length) + take;
}
