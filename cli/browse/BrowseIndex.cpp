// BrowseIndex.cpp - the explorer's index of decoded members: the event log,
// the node records and the block records, their writer and their readers
// (sequential decoding, array elements by number, the member at an offset).
//
// An event is a kind byte, then the kind's numbers as variable-length
// integers (7 bits a byte, lowest first):
//   member: instruction, offset minus the previous member's end (zigzag),
//           size, the element number when an array element;
//   print:  where its message is in the text area, its length, the value
//           (zigzag) when one was given;
//   member with a value source: as a member, then the formatter kind, the
//           flags, and either 1 and the value or 0, then the size formatted;
//   begin and end events: nothing (their node record holds the rest).
// The kind byte keeps the kind in its low three bits, "element number or
// value follows" in bit 3 and the occurrence in the high four bits (15: a
// variable-length occurrence follows).
#include "BrowseIndex.h"

#include <sys/mman.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "Vellum.h"

enum : size_t {
    VLBrowseLogReserve = size_t(1) << 37,    // event bytes
    VLBrowseNodeReserve = size_t(1) << 37,   // node records
    VLBrowseBlockReserve = size_t(1) << 34,  // block records
    VLBrowseTextReserve = size_t(1) << 32,   // print messages
};
enum : uint8_t { VLBrowseFlagBit = 8, VLBrowseOccurrenceEscape = 15 };

// ---------------------------------------------------------------------------
// Areas
// ---------------------------------------------------------------------------

static bool VLBrowseAreaInit(VLBrowseArea* area, size_t reserve) {
    // Smaller reservations when the system refuses a large one.
    for (; reserve >= (size_t(1) << 24); reserve >>= 2) {
        void* base = mmap(nullptr, reserve, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                          -1, 0);
        if (base == MAP_FAILED) continue;
#ifdef MADV_HUGEPAGE
        madvise(base, reserve, MADV_HUGEPAGE);  // fewer first-touch faults as the area fills
#endif
        *area = {static_cast<char*>(base), reserve, 0};
        return true;
    }
    *area = {};
    return false;
}

static void VLBrowseAreaFree(VLBrowseArea* area) {
    if (area->base) munmap(area->base, area->reserved);
    *area = {};
}

// Room for `bytes` more at the end of the area; null when it is full. The
// prefaulting thread reads `used`, so it is stored atomically.
static char* VLBrowseAreaPush(VLBrowseArea* area, size_t bytes) {
    size_t used = area->used;
    if (area->reserved - used < bytes) return nullptr;
    std::atomic_ref<size_t>(area->used).store(used + bytes, std::memory_order_relaxed);
    return area->base + used;
}

// Pages of an area from `*ready` up to `ahead` bytes past its end are mapped
// writable; the contents are not touched, so the writer may be filling them
// at the same time. Returns true when it mapped any.
static bool VLPrefaultArea(VLBrowseArea* area, size_t* ready, size_t ahead) {
#ifdef MADV_POPULATE_WRITE
    size_t used = std::atomic_ref<size_t>(area->used).load(std::memory_order_relaxed);
    size_t target = used + ahead < area->reserved ? used + ahead : area->reserved;
    if (*ready < used) *ready = used & ~(size_t(1 << 21) - 1);
    if (*ready >= target) return false;
    size_t length = target - *ready;
    if (madvise(area->base + *ready, length, MADV_POPULATE_WRITE) != 0) return false;
    *ready = target;
    return true;
#else
    (void)area, (void)ready, (void)ahead;
    return false;
#endif
}

void VLBrowsePrefault(VLBrowseIndex* index, const std::atomic<bool>* done) {
    // 4 MiB ahead of the log and the nodes, 512 KiB of the blocks: tens of
    // milliseconds of decoding, and little memory mapped for nothing at the end.
    const size_t ahead = size_t(4) << 20;
    size_t logReady = 0, nodesReady = 0, blocksReady = 0;
    while (!done->load(std::memory_order_acquire)) {
        bool mapped = VLPrefaultArea(&index->log, &logReady, ahead);
        mapped = VLPrefaultArea(&index->nodes, &nodesReady, ahead) || mapped;
        mapped = VLPrefaultArea(&index->blocks, &blocksReady, ahead / 8) || mapped;
        if (!mapped) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

bool VLBrowseIndexInit(VLBrowseIndex* index) {
    index->eventCount.store(0);
    index->nodeCount.store(0);
    index->finished.store(false);
    index->full = false;
    index->events = 0;
    index->nodeTotal = 0;
    index->previousEnd = 0;
    index->openCount = 0;
    index->blockMin = UINT64_MAX;
    index->blockMax = 0;
    index->lastText = nullptr;
    index->lastTextLength = 0;
    index->lastTextAt = 0;
    bool ok = VLBrowseAreaInit(&index->log, VLBrowseLogReserve);
    ok = VLBrowseAreaInit(&index->nodes, VLBrowseNodeReserve) && ok;
    ok = VLBrowseAreaInit(&index->blocks, VLBrowseBlockReserve) && ok;
    ok = VLBrowseAreaInit(&index->texts, VLBrowseTextReserve) && ok;
    if (!ok) VLBrowseIndexFree(index);
    return ok;
}

void VLBrowseIndexFree(VLBrowseIndex* index) {
    VLBrowseAreaFree(&index->log);
    VLBrowseAreaFree(&index->nodes);
    VLBrowseAreaFree(&index->blocks);
    VLBrowseAreaFree(&index->texts);
}

uint64_t VLBrowseIndexBytes(const VLBrowseIndex* index) {
    return index->log.used + index->nodes.used + index->blocks.used + index->texts.used;
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

static VLBrowseNode* VLNodeRecord(const VLBrowseIndex* index, uint32_t node) {
    return reinterpret_cast<VLBrowseNode*>(index->nodes.base) + node;
}

static VLBrowseBlock* VLBlockRecord(const VLBrowseIndex* index, uint64_t block) {
    return reinterpret_cast<VLBrowseBlock*>(index->blocks.base) + block;
}

const VLBrowseNode* VLBrowseNodeAt(const VLBrowseIndex* index, uint32_t node) {
    VL_ASSERT(node < VLBrowseNodeCount(index));
    return VLNodeRecord(index, node);
}

uint64_t VLBrowseNodeEnd(const VLBrowseIndex* index, uint32_t node) {
    VLBrowseNode* record = VLNodeRecord(index, node);
    return std::atomic_ref<uint64_t>(record->endEvent).load(std::memory_order_acquire);
}

uint32_t VLBrowseArrayCount(const VLBrowseIndex* index, uint32_t node) {
    VLBrowseNode* record = VLNodeRecord(index, node);
    return std::atomic_ref<uint32_t>(record->typeIndex).load(std::memory_order_acquire);
}

// ---------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------

static uint64_t VLZigzag(int64_t value) { return (uint64_t(value) << 1) ^ uint64_t(value >> 63); }
static int64_t VLUnzigzag(uint64_t value) { return int64_t(value >> 1) ^ -int64_t(value & 1); }

static uint8_t* VLPutNumber(uint8_t* cursor, uint64_t value) {
    while (value >= 0x80) {
        *cursor++ = uint8_t(value | 0x80);
        value >>= 7;
    }
    *cursor++ = uint8_t(value);
    return cursor;
}

static uint64_t VLGetNumber(const uint8_t** cursor) {
    const uint8_t* at = *cursor;
    uint64_t value = 0;
    for (uint32_t shift = 0;; shift += 7) {
        uint8_t byte = *at++;
        value |= uint64_t(byte & 0x7F) << shift;
        if (!(byte & 0x80) || shift >= 63) break;
    }
    *cursor = at;
    return value;
}

static uint32_t VLInnermost(const VLBrowseIndex* index) {
    return index->openCount ? index->open[index->openCount - 1].node : VLBrowseNone;
}

// Starts a block record before every VLBrowseBlockEvents-th event; false when
// the block area is full.
static bool VLBeginEvent(VLBrowseIndex* index) {
    if (index->full) return false;
    if (index->events % VLBrowseBlockEvents != 0) return true;
    uint64_t number = index->events / VLBrowseBlockEvents;
    if (number > 0) {
        VLBrowseBlock* previous = VLBlockRecord(index, number - 1);
        previous->minOffset = index->blockMin;
        previous->maxEnd = index->blockMax;
    }
    auto* block = reinterpret_cast<VLBrowseBlock*>(VLBrowseAreaPush(&index->blocks, sizeof(VLBrowseBlock)));
    if (!block) {
        index->full = true;
        return false;
    }
    *block = {index->log.used, index->previousEnd, UINT64_MAX, 0, index->nodeTotal, VLInnermost(index)};
    index->blockMin = UINT64_MAX;
    index->blockMax = 0;
    return true;
}

enum : size_t { VLBrowseMaxEventBytes = 64 };  // the longest event: kind byte and at most seven numbers

// Where the next event's bytes go: the end of the log, with room for the
// longest event; null (and the index full) when there is none.
static uint8_t* VLEventPlace(VLBrowseIndex* index) {
    VLBrowseArea* log = &index->log;
    if (log->reserved - log->used < VLBrowseMaxEventBytes) {
        index->full = true;
        return nullptr;
    }
    return reinterpret_cast<uint8_t*>(log->base + log->used);
}

// Takes the `length` bytes written at VLEventPlace into the log and publishes the event.
static bool VLCommitEvent(VLBrowseIndex* index, size_t length) {
    VLBrowseAreaPush(&index->log, length);
    index->events += 1;
    index->eventCount.store(index->events, std::memory_order_release);
    return true;
}

// Appends an event of its kind byte alone (begin and end events) and publishes it.
static bool VLPutKindEvent(VLBrowseIndex* index, uint8_t byte) {
    uint8_t* place = VLEventPlace(index);
    if (!place) return false;
    *place = byte;
    return VLCommitEvent(index, 1);
}

// Appends an event of `length` bytes (at most VLBrowseMaxEventBytes) and publishes it.
static bool VLPutEvent(VLBrowseIndex* index, const uint8_t* bytes, size_t length) {
    uint8_t* place = VLEventPlace(index);
    if (!place) return false;
    memcpy(place, bytes, length);
    return VLCommitEvent(index, length);
}

static uint8_t VLKindByte(uint8_t kind, bool flag, uint32_t occurrence) {
    uint32_t small = occurrence < VLBrowseOccurrenceEscape ? occurrence : uint32_t(VLBrowseOccurrenceEscape);
    uint32_t flagBit = flag ? uint32_t(VLBrowseFlagBit) : 0u;
    return uint8_t(kind | flagBit | (small << 4));
}

// Widens the innermost open node's range by a member's bytes.
static void VLCover(VLBrowseIndex* index, uint64_t offset, uint64_t end) {
    if (index->openCount == 0) return;
    VLBrowseOpenNode* open = &index->open[index->openCount - 1];
    if (offset < open->minOffset) open->minOffset = offset;
    if (end > open->maxEnd) open->maxEnd = end;
}

// Opens a node and appends its begin event.
static bool VLOpenNode(VLBrowseIndex* index, uint8_t kind, uint32_t instruction, uint32_t elementIndex,
                       uint32_t typeIndex, uint32_t occurrence, bool isElement, uint64_t offset) {
    if (index->openCount == VLBrowseMaxOpen || index->nodeTotal == VLBrowseNone - 1 || !VLBeginEvent(index)) {
        index->full = true;
        return false;
    }
    auto* node = reinterpret_cast<VLBrowseNode*>(VLBrowseAreaPush(&index->nodes, sizeof(VLBrowseNode)));
    if (!node) {
        index->full = true;
        return false;
    }
    uint32_t parent = VLInnermost(index);
    uint8_t depth = 0;
    if (parent != VLBrowseNone) {
        const VLBrowseNode* up = VLNodeRecord(index, parent);
        depth = uint8_t(up->depth + (kind == VLBrowseNodeKind_Struct ? 1 : 0));
    }
    *node = {index->events, VLBrowseOpen, offset, 0, instruction, parent, elementIndex, typeIndex, occurrence,
             depth, kind, uint8_t(isElement ? 1 : 0), 0};
    uint32_t ordinal = index->nodeTotal++;
    index->open[index->openCount++] = {ordinal, kind, UINT64_MAX, 0};
    index->nodeCount.store(index->nodeTotal, std::memory_order_release);
    uint8_t eventKind = kind == VLBrowseNodeKind_Struct ? VLBrowseEventKind_StructBegin : VLBrowseEventKind_ArrayBegin;
    return VLPutKindEvent(index, VLKindByte(eventKind, false, 0));
}

// Closes the innermost open node: its range (a struct's as the run gives it,
// an array's from its members), its end event, its parent's range.
static bool VLCloseNode(VLBrowseIndex* index, uint64_t structSize) {
    VL_ASSERT(index->openCount > 0);
    if (!VLBeginEvent(index)) return false;
    VLBrowseOpenNode open = index->open[--index->openCount];
    VLBrowseNode* node = VLNodeRecord(index, open.node);
    if (node->kind == VLBrowseNodeKind_Struct) {
        if (structSize == UINT64_MAX)  // the run stopped inside: as far as its members reach
            structSize = open.minOffset != UINT64_MAX && open.maxEnd > node->offset ? open.maxEnd - node->offset : 0;
        node->size = structSize;
        uint64_t end = node->offset + structSize < node->offset ? UINT64_MAX : node->offset + structSize;
        if (open.minOffset != UINT64_MAX) VLCover(index, open.minOffset, open.maxEnd);
        if (structSize) VLCover(index, node->offset, end);
    } else if (open.minOffset == UINT64_MAX) {
        node->offset = index->previousEnd;
        node->size = 0;
    } else {
        node->offset = open.minOffset;
        node->size = open.maxEnd - open.minOffset;
        VLCover(index, open.minOffset, open.maxEnd);
    }
    uint64_t endEvent = index->events;
    uint8_t kind = node->kind == VLBrowseNodeKind_Struct ? VLBrowseEventKind_StructEnd : VLBrowseEventKind_ArrayEnd;
    if (!VLPutKindEvent(index, VLKindByte(kind, false, 0))) return false;
    std::atomic_ref<uint64_t>(node->endEvent).store(endEvent, std::memory_order_release);
    return true;
}

static bool VLInnermostIsArray(const VLBrowseIndex* index) {
    return index->openCount && index->open[index->openCount - 1].kind != VLBrowseNodeKind_Struct;
}

// Before a member or a struct: continues the open array when the event is its
// next element, closes it otherwise, and opens a new array for the first
// element of another.
static bool VLPlaceElement(VLBrowseIndex* index, uint8_t arrayKind, uint32_t instruction, bool isArray,
                           uint32_t element) {
    if (VLInnermostIsArray(index)) {
        VLBrowseNode* array = VLNodeRecord(index, VLInnermost(index));
        uint32_t count = array->typeIndex;
        if (isArray && array->kind == arrayKind && array->instruction == instruction &&
            uint64_t(element) == uint64_t(array->index) + count) {
            std::atomic_ref<uint32_t>(array->typeIndex).store(count + 1, std::memory_order_release);
            return true;
        }
        if (!VLCloseNode(index, 0)) return false;
    }
    if (!isArray) return true;
    if (!VLOpenNode(index, arrayKind, instruction, element, 0, 0, false, 0)) return false;
    VLBrowseNode* array = VLNodeRecord(index, VLInnermost(index));
    std::atomic_ref<uint32_t>(array->typeIndex).store(1, std::memory_order_release);
    return true;
}

bool VLBrowseAppendMember(VLBrowseIndex* index, uint32_t instruction, bool isArray, uint32_t element,
                          uint32_t occurrence, uint64_t offset, uint64_t size, const VLBrowseValue* value) {
    if (index->full) return false;
    // Most members are no elements and lie directly in a struct: nothing to place.
    if ((isArray || VLInnermostIsArray(index)) &&
        !VLPlaceElement(index, VLBrowseNodeKind_ScalarArray, instruction, isArray, element))
        return false;
    if (!VLBeginEvent(index)) return false;
    uint8_t* start = VLEventPlace(index);  // written in place: members are most events
    if (!start) return false;
    uint8_t* cursor = start;
    *cursor++ = VLKindByte(value ? VLBrowseEventKind_MemberValue : VLBrowseEventKind_Member, isArray, occurrence);
    cursor = VLPutNumber(cursor, instruction);
    cursor = VLPutNumber(cursor, VLZigzag(int64_t(offset - index->previousEnd)));
    cursor = VLPutNumber(cursor, size);
    if (isArray) cursor = VLPutNumber(cursor, element);
    if (occurrence >= VLBrowseOccurrenceEscape) cursor = VLPutNumber(cursor, occurrence);
    if (value) {
        cursor = VLPutNumber(cursor, uint32_t(value->type));
        cursor = VLPutNumber(cursor, value->flags);
        *cursor++ = value->isInline ? 1 : 0;
        if (value->isInline) cursor = VLPutNumber(cursor, value->value);
        cursor = VLPutNumber(cursor, value->size);
    }
    uint64_t end = offset + size < offset ? UINT64_MAX : offset + size;
    if (size > 0) {
        VLCover(index, offset, end);
        if (offset < index->blockMin) index->blockMin = offset;
        if (end > index->blockMax) index->blockMax = end;
    }
    index->previousEnd = end;
    return VLCommitEvent(index, size_t(cursor - start));
}

bool VLBrowseAppendStructBegin(VLBrowseIndex* index, uint32_t instruction, uint32_t typeIndex, bool isArray,
                               uint32_t element, uint32_t occurrence, uint64_t offset) {
    if (index->full || !VLPlaceElement(index, VLBrowseNodeKind_StructArray, instruction, isArray, element))
        return false;
    return VLOpenNode(index, VLBrowseNodeKind_Struct, instruction, isArray ? element : 0, typeIndex, occurrence,
                      isArray, offset);
}

bool VLBrowseAppendStructEnd(VLBrowseIndex* index, uint64_t size) {
    if (index->full) return false;
    if (VLInnermostIsArray(index) && !VLCloseNode(index, 0)) return false;
    if (index->openCount == 0) return true;  // an end without its begin: nothing to close
    return VLCloseNode(index, size);
}

// Stores a message in the text area once: a print in a loop gives the same
// text again and again. Returns its place; UINT64_MAX when the area is full.
static uint64_t VLStoreText(VLBrowseIndex* index, const char* text, uint32_t length) {
    if (index->lastText && length == index->lastTextLength &&
        memcmp(index->texts.base + index->lastTextAt, text, length) == 0)
        return index->lastTextAt;
    char* place = VLBrowseAreaPush(&index->texts, length);
    if (!place) return UINT64_MAX;
    memcpy(place, text, length);
    index->lastText = place;
    index->lastTextLength = length;
    index->lastTextAt = uint64_t(place - index->texts.base);
    return index->lastTextAt;
}

bool VLBrowseAppendPrint(VLBrowseIndex* index, const char* message, uint32_t length, bool hasValue, int64_t value) {
    if (index->full) return false;
    if (VLInnermostIsArray(index) && !VLCloseNode(index, 0)) return false;
    if (!VLBeginEvent(index)) return false;
    uint64_t text = VLStoreText(index, message, length);
    if (text == UINT64_MAX) {
        index->full = true;
        return false;
    }
    uint8_t bytes[40];
    uint8_t* cursor = bytes;
    *cursor++ = VLKindByte(VLBrowseEventKind_Print, hasValue, 0);
    cursor = VLPutNumber(cursor, text);
    cursor = VLPutNumber(cursor, length);
    if (hasValue) cursor = VLPutNumber(cursor, VLZigzag(value));
    return VLPutEvent(index, bytes, size_t(cursor - bytes));
}

void VLBrowseFinish(VLBrowseIndex* index) {
    while (index->openCount > 0 && !index->full) VLCloseNode(index, UINT64_MAX);
    if (index->events > 0) {  // the last block's member range (the others got theirs as the next began)
        VLBrowseBlock* last = VLBlockRecord(index, (index->events - 1) / VLBrowseBlockEvents);
        last->minOffset = index->blockMin;
        last->maxEnd = index->blockMax;
    }
    index->finished.store(true, std::memory_order_release);
}

// ---------------------------------------------------------------------------
// Readers
// ---------------------------------------------------------------------------

void VLBrowseReaderInit(VLBrowseReader* reader, const VLBrowseIndex* index) {
    *reader = {index, 0, 0, 0, 0, VLBrowseNone};
}

static void VLSeekBlock(VLBrowseReader* reader, uint64_t block) {
    const VLBrowseBlock* record = VLBlockRecord(reader->index, block);
    reader->next = block * VLBrowseBlockEvents;
    reader->logPosition = record->logPosition;
    reader->previousEnd = record->previousEnd;
    reader->nextNode = record->nextNode;
    reader->container = record->container;
}

// Decodes the event at the reader's position and steps past it.
static VLBrowseEvent VLDecodeNext(VLBrowseReader* reader) {
    const VLBrowseIndex* index = reader->index;
    const uint8_t* cursor = reinterpret_cast<const uint8_t*>(index->log.base) + reader->logPosition;
    VLBrowseEvent event = {};
    event.number = reader->next;
    uint8_t byte = *cursor++;
    event.kind = byte & 7;
    bool flag = (byte & VLBrowseFlagBit) != 0;
    uint32_t occurrence = byte >> 4;
    event.parent = reader->container;
    event.node = VLBrowseNone;
    bool hasSource = event.kind == VLBrowseEventKind_MemberValue;
    if (hasSource) event.kind = VLBrowseEventKind_Member;
    switch (event.kind) {
    case VLBrowseEventKind_Member: {  // instruction, offset, size, element, occurrence, value source
        event.instruction = uint32_t(VLGetNumber(&cursor));
        event.offset = reader->previousEnd + uint64_t(VLUnzigzag(VLGetNumber(&cursor)));
        event.size = VLGetNumber(&cursor);
        event.hasIndex = flag;
        if (flag) event.index = uint32_t(VLGetNumber(&cursor));
        if (occurrence == VLBrowseOccurrenceEscape) occurrence = uint32_t(VLGetNumber(&cursor));
        event.occurrence = occurrence;
        event.hasValueSource = hasSource;
        if (hasSource) {
            event.source.type = int32_t(VLGetNumber(&cursor));
            event.source.flags = uint32_t(VLGetNumber(&cursor));
            event.source.isInline = *cursor++ != 0;
            if (event.source.isInline) event.source.value = VLGetNumber(&cursor);
            event.source.size = VLGetNumber(&cursor);
        }
        uint64_t end = event.offset + event.size;
        reader->previousEnd = end < event.offset ? UINT64_MAX : end;
        break;
    }
    case VLBrowseEventKind_StructBegin:  // a new node inside the current one
    case VLBrowseEventKind_ArrayBegin:
        event.node = reader->nextNode++;
        reader->container = event.node;
        break;
    case VLBrowseEventKind_StructEnd:  // back to the parent
    case VLBrowseEventKind_ArrayEnd:
        event.node = reader->container;
        reader->container = VLNodeRecord(index, event.node)->parent;
        event.parent = reader->container;
        break;
    case VLBrowseEventKind_Print:  // message, value
        event.text = VLGetNumber(&cursor);
        event.textLength = uint32_t(VLGetNumber(&cursor));
        event.hasValue = flag;
        if (flag) event.value = VLUnzigzag(VLGetNumber(&cursor));
        break;
    default:
        VL_ASSERT(!"event kind");
    }
    reader->logPosition = size_t(cursor - reinterpret_cast<const uint8_t*>(index->log.base));
    reader->next += 1;
    return event;
}

VLBrowseEvent VLBrowseDecode(VLBrowseReader* reader, uint64_t number) {
    VL_ASSERT(number < VLBrowseEventCount(reader->index));
    if (number < reader->next || number - reader->next >= VLBrowseBlockEvents)
        VLSeekBlock(reader, number / VLBrowseBlockEvents);
    while (reader->next < number) VLDecodeNext(reader);
    return VLDecodeNext(reader);
}

// The element of `array` that node `node` lies in, or VLBrowseNone when it lies
// outside the array.
static uint32_t VLElementOf(const VLBrowseIndex* index, uint32_t array, uint32_t node) {
    while (node != VLBrowseNone) {
        uint32_t parent = VLNodeRecord(index, node)->parent;
        if (parent == array) return node;
        if (parent == VLBrowseNone || parent < array) return VLBrowseNone;
        node = parent;
    }
    return VLBrowseNone;
}

uint64_t VLBrowseElementEvent(const VLBrowseIndex* index, uint32_t array, uint64_t position) {
    const VLBrowseNode* record = VLBrowseNodeAt(index, array);
    if (position >= VLBrowseArrayCount(index, array)) return VLBrowseOpen;
    if (record->kind == VLBrowseNodeKind_ScalarArray) return record->beginEvent + 1 + position;
    // Nodes are numbered in event order, so the elements' positions rise with
    // the node number: the first node whose element is at `position` or later.
    uint32_t low = array + 1, high = VLBrowseNodeCount(index);
    while (low < high) {
        uint32_t middle = low + (high - low) / 2;
        uint32_t element = VLElementOf(index, array, middle);
        bool before = element != VLBrowseNone && VLNodeRecord(index, element)->index - record->index < position;
        if (before) low = middle + 1;
        else high = middle;
    }
    if (low >= VLBrowseNodeCount(index)) return VLBrowseOpen;
    return VLNodeRecord(index, low)->beginEvent;
}

// The first member of block `block` (its events below `limit`) covering `offset`.
static uint64_t VLFindInBlock(VLBrowseReader* reader, uint64_t block, uint64_t limit, uint64_t offset) {
    uint64_t first = block * VLBrowseBlockEvents;
    uint64_t last = first + VLBrowseBlockEvents < limit ? first + VLBrowseBlockEvents : limit;
    for (uint64_t number = first; number < last; ++number) {
        VLBrowseEvent event = VLBrowseDecode(reader, number);
        if (event.kind == VLBrowseEventKind_Member && event.offset <= offset && offset - event.offset < event.size)
            return number;
    }
    return VLBrowseOpen;
}

uint64_t VLBrowseFindOffset(VLBrowseReader* reader, uint64_t offset) {
    const VLBrowseIndex* index = reader->index;
    bool finished = VLBrowseFinished(index);
    uint64_t count = VLBrowseEventCount(index);
    uint64_t blocks = (count + VLBrowseBlockEvents - 1) / VLBrowseBlockEvents;
    // Ranges are complete for every block when the index is finished, and for
    // all but the last one while it grows.
    uint64_t complete = finished ? blocks : count / VLBrowseBlockEvents;
    for (uint64_t block = 0; block < blocks; ++block) {
        if (block < complete) {
            const VLBrowseBlock* record = VLBlockRecord(index, block);
            if (record->minOffset > offset || record->maxEnd <= offset) continue;
        }
        uint64_t found = VLFindInBlock(reader, block, count, offset);
        if (found != VLBrowseOpen) return found;
    }
    // No member covers it: the deepest struct whose range does (the first of equals).
    uint32_t nodes = VLBrowseNodeCount(index), best = VLBrowseNone;
    for (uint32_t node = 0; node < nodes; ++node) {
        const VLBrowseNode* record = VLNodeRecord(index, node);
        if (record->kind != VLBrowseNodeKind_Struct || VLBrowseNodeEnd(index, node) == VLBrowseOpen) continue;
        if (record->offset > offset || offset - record->offset >= record->size) continue;
        if (best == VLBrowseNone || record->depth > VLNodeRecord(index, best)->depth) best = node;
    }
    return best == VLBrowseNone ? VLBrowseOpen : VLNodeRecord(index, best)->beginEvent;
}
