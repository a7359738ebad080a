// BrowseIndex.h - the explorer's index of decoded members.
//
// The decoder appends one event per step of the run (a member, a struct
// instance beginning or ending, an array beginning or ending, print output)
// while the screen is live; the screen reads every event below the published
// count at any time. Events are packed into a byte log of a few bytes each
// (numbers as variable-length integers, offsets as the distance from the end
// of the previous member), with a block record every VLBrowseBlockEvents
// events so that any event is decoded from at most that many predecessors.
// Struct instances and arrays are the index's nodes: one fixed record each,
// with the events where they begin and end, their parent, and the bytes they
// cover, so that folded parts are skipped in one step and paths are walked up
// without decoding. Values are never stored: a member's text is formatted
// from the data bytes when a line is drawn.
//
// One thread writes (VLBrowseAppend...), any number read: the writer stores
// a record completely before it publishes the counts that make it visible.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

enum : uint32_t { VLBrowseNone = UINT32_MAX };
enum : uint64_t { VLBrowseOpen = UINT64_MAX, VLBrowseBlockEvents = 128 };

enum VLBrowseEventKind : uint8_t {
    VLBrowseEventKind_Member = 0,       // a scalar member
    VLBrowseEventKind_StructBegin = 1,  // a struct instance begins (node)
    VLBrowseEventKind_StructEnd = 2,
    VLBrowseEventKind_ArrayBegin = 3,   // the first element of an array member follows (node)
    VLBrowseEventKind_ArrayEnd = 4,
    VLBrowseEventKind_Print = 5,        // print output
    VLBrowseEventKind_MemberValue = 6,  // a scalar member whose value is not its bytes as declared (decoded as Member)
};

// A member's value where it is not its bytes read as its instruction declares
// them: a computed or variable-length value (eight bytes holding it), a text
// without its NUL, flags decided at run time.
struct VLBrowseValue {
    int32_t type;      // formatter kind (VLInstructionType_ScalarMemberU, S or F)
    uint32_t flags;    // VLMemberFlags as they were at the step
    bool isInline;      // the value itself (`value`) rather than data bytes
    uint64_t value;
    uint64_t size;     // bytes formatted: from the member's offset, or of `value`
};

enum VLBrowseNodeKind : uint8_t {
    VLBrowseNodeKind_Struct = 0,
    VLBrowseNodeKind_ScalarArray = 1,  // elements are member events, one after the other
    VLBrowseNodeKind_StructArray = 2,  // elements are struct nodes
};

// A struct instance or an array. Fields marked "at its end" are valid once
// endEvent is set (read it with VLBrowseNodeEnd).
struct VLBrowseNode {
    uint64_t beginEvent;
    uint64_t endEvent;     // the end event; VLBrowseOpen while open (written atomically)
    uint64_t offset;       // struct: where it began; array: its first byte (at its end)
    uint64_t size;         // struct: bytes the run advanced in it; array: to its last byte (at its end)
    uint32_t instruction;  // push-frame (struct, struct array) or scalar (scalar array) instruction number
    uint32_t parent;       // enclosing node; VLBrowseNone for the root
    uint32_t index;        // struct: its element number (when an array element); array: first element's
    uint32_t typeIndex;    // struct: its type; array: elements so far (written atomically)
    uint32_t occurrence;   // occurrence of its name within the parent instance (0: the first)
    uint8_t depth;         // struct nesting: 0 for the root; an array has its parent's depth
    uint8_t kind;          // VLBrowseNodeKind
    uint8_t isElement;     // struct: it is an element of an array node
    uint8_t reserved;
};

// One decoded event.
struct VLBrowseEvent {
    uint64_t number;
    uint8_t kind;          // VLBrowseEventKind
    bool hasIndex;         // member: an array element
    bool hasValue;         // print: a value was given
    uint32_t instruction;  // member: instruction number
    uint32_t node;         // begin/end events: the node
    uint32_t parent;       // the node the event lies in (for a begin: the new node's parent)
    uint32_t index;        // member: element number
    uint32_t occurrence;   // member: occurrence of its name within the parent instance
    uint64_t offset;       // member
    uint64_t size;         // member
    int64_t value;         // print
    uint64_t text;         // print: where its message is in the text area
    uint32_t textLength;
    bool hasValueSource;   // member: `source` says how its value is formatted
    VLBrowseValue source;
};

// Where block k of the log starts and what the decoder knew there.
struct VLBrowseBlock {
    uint64_t logPosition;   // byte of the block's first event
    uint64_t previousEnd;   // end of the last member before the block
    uint64_t minOffset;     // smallest member offset within the block (UINT64_MAX: none)
    uint64_t maxEnd;        // largest member end within the block
    uint32_t nextNode;      // ordinal of the first node the block creates
    uint32_t container;     // node open before the block's first event (VLBrowseNone: none)
};

// An address range reserved at once and filled from the start; it never
// moves, so readers keep pointers into it while the writer appends.
struct VLBrowseArea {
    char* base;
    size_t reserved;
    size_t used;
};

// What the writer keeps per open node.
struct VLBrowseOpenNode {
    uint32_t node;
    uint8_t kind;          // VLBrowseNodeKind (its record need not be read for it)
    uint64_t minOffset;
    uint64_t maxEnd;
};

enum : uint32_t { VLBrowseMaxOpen = 64 };

struct VLBrowseIndex {
    VLBrowseArea log;
    VLBrowseArea nodes;
    VLBrowseArea blocks;
    VLBrowseArea texts;   // print messages, each stored once
    // Published counts: readers see events, nodes and blocks below them.
    std::atomic<uint64_t> eventCount;
    std::atomic<uint32_t> nodeCount;
    std::atomic<bool> finished;  // no event follows
    bool full;                   // an area ran out: the run was cut short here
    // Writer state.
    uint64_t events;
    uint32_t nodeTotal;
    uint64_t previousEnd;
    uint32_t openCount;
    VLBrowseOpenNode open[VLBrowseMaxOpen];
    uint64_t blockMin, blockMax;  // the current block's member range
    const char* lastText;         // the last message stored (a print in a loop repeats it)
    uint32_t lastTextLength;
    uint64_t lastTextAt;
};

// Reserves the areas (address space only; memory is used as it fills).
// Returns false when the system refuses the reservation.
bool VLBrowseIndexInit(VLBrowseIndex* index);
void VLBrowseIndexFree(VLBrowseIndex* index);
// Maps the areas' pages ahead of the writer, on a thread of its own, until
// `done` is set: the kernel clears fresh pages there rather than on the
// decoder's way (where clearing them is a good part of a large run's time).
void VLBrowsePrefault(VLBrowseIndex* index, const std::atomic<bool>* done);
// Memory the index holds, in bytes.
uint64_t VLBrowseIndexBytes(const VLBrowseIndex* index);

// Writer. Each call appends and publishes; a call after the index became full
// does nothing and returns false. `isArray` members and structs are elements
// of an array: consecutive elements of one instruction with rising numbers
// share one array node, opened and closed here.
bool VLBrowseAppendMember(VLBrowseIndex* index, uint32_t instruction, bool isArray, uint32_t element,
                          uint32_t occurrence, uint64_t offset, uint64_t size, const VLBrowseValue* value = nullptr);
bool VLBrowseAppendStructBegin(VLBrowseIndex* index, uint32_t instruction, uint32_t typeIndex,
                               bool isArray, uint32_t element, uint32_t occurrence, uint64_t offset);
bool VLBrowseAppendStructEnd(VLBrowseIndex* index, uint64_t size);
bool VLBrowseAppendPrint(VLBrowseIndex* index, const char* message, uint32_t length, bool hasValue, int64_t value);
// The message of a print event.
inline const char* VLBrowseText(const VLBrowseIndex* index, const VLBrowseEvent* event) {
    return index->texts.base + event->text;
}
// Closes whatever is open and marks the index finished.
void VLBrowseFinish(VLBrowseIndex* index);

// Readers.
inline uint64_t VLBrowseEventCount(const VLBrowseIndex* index) {
    return index->eventCount.load(std::memory_order_acquire);
}
inline uint32_t VLBrowseNodeCount(const VLBrowseIndex* index) {
    return index->nodeCount.load(std::memory_order_acquire);
}
inline bool VLBrowseFinished(const VLBrowseIndex* index) {
    return index->finished.load(std::memory_order_acquire);
}
const VLBrowseNode* VLBrowseNodeAt(const VLBrowseIndex* index, uint32_t node);
// The node's end event, or VLBrowseOpen while it is open.
uint64_t VLBrowseNodeEnd(const VLBrowseIndex* index, uint32_t node);
// Elements of an array node so far.
uint32_t VLBrowseArrayCount(const VLBrowseIndex* index, uint32_t node);

// Sequential decoding with a position kept between calls: decoding event n+1
// after event n costs one step.
struct VLBrowseReader {
    const VLBrowseIndex* index;
    uint64_t next;          // number of the event the position stands before
    uint64_t logPosition;
    uint64_t previousEnd;
    uint32_t nextNode;
    uint32_t container;
};
void VLBrowseReaderInit(VLBrowseReader* reader, const VLBrowseIndex* index);
// Decodes event `number` (below the published count).
VLBrowseEvent VLBrowseDecode(VLBrowseReader* reader, uint64_t number);

// Event of element `position` (from 0) of an array node; VLBrowseOpen when the
// array has no such element yet.
uint64_t VLBrowseElementEvent(const VLBrowseIndex* index, uint32_t array, uint64_t position);

// The innermost member covering byte `offset`: a member event when a member
// covers it, otherwise the struct-begin event of the deepest struct whose range
// covers it; VLBrowseOpen when nothing does.
uint64_t VLBrowseFindOffset(VLBrowseReader* reader, uint64_t offset);
