// BrowseModel.cpp - the explorer's tree over the index: visible lines, folds,
// arrays shown in steps, selection and scrolling, line and path texts, jumps
// to an offset and searches.
//
// A line is named by its event (member, struct begin, print) or its array
// node ("more"), so lines cost no memory: the visible list is never built.
// The next line follows the events, stepping over a folded struct or the
// hidden rest of an array by its node's end event; the previous line walks
// back over events, where the end event of a folded struct or of an array
// with hidden elements stands for the whole of it. Either takes a few steps
// whatever the size of the file.
#include "BrowseModel.h"

#include <cstring>

#include "Display.h"

void VLBrowseModelInit(VLBrowseModel* model, const VLBrowseIndex* index, const VLProgram* program,
                       const uint8_t* data, uint64_t dataSize) {
    model->index = index;
    model->program = program;
    model->data = data;
    model->dataSize = dataSize;
    VLBrowseReaderInit(&model->reader, index);
    model->instructions.clear();
    for (const VLInstructionChunk* chunk = program->instructions.first; chunk; chunk = chunk->next)
        for (uint32_t place = 0; place < chunk->count; ++place) model->instructions.push_back(&chunk->items[place]);
    model->folds.clear();
    model->shown.clear();
    model->rows = 1;
    model->report.clear();
    model->top = {VLBrowseLineKind_None, 0, VLBrowseNone};
    model->selected = model->top;
}

static const VLInstruction* VLInstructionOf(const VLBrowseModel* model, uint32_t number) {
    VL_ASSERT(number < model->instructions.size());
    return model->instructions[number];
}

static const VLBrowseNode* VLNode(const VLBrowseModel* model, uint32_t node) {
    return VLBrowseNodeAt(model->index, node);
}

static VLBrowseEvent VLEventAt(VLBrowseModel* model, uint64_t number) {
    return VLBrowseDecode(&model->reader, number);
}

// ---------------------------------------------------------------------------
// Folds and steps
// ---------------------------------------------------------------------------

bool VLBrowseIsFolded(const VLBrowseModel* model, uint32_t node) {
    auto found = model->folds.find(node);
    if (found != model->folds.end()) return found->second;
    return VLNode(model, node)->depth >= VLBrowseFoldDepth;
}

void VLBrowseSetFolded(VLBrowseModel* model, uint32_t node, bool folded) {
    bool initially = VLNode(model, node)->depth >= VLBrowseFoldDepth;
    if (folded == initially) model->folds.erase(node);
    else model->folds[node] = folded;
}

uint64_t VLBrowseShownCount(const VLBrowseModel* model, uint32_t array) {
    auto found = model->shown.find(array);
    return found != model->shown.end() ? found->second : VLBrowseArrayStep;
}

// Position of an array's child (a member event or a struct node) within the array.
static uint64_t VLPositionIn(const VLBrowseModel* model, uint32_t array, uint32_t elementIndex) {
    return uint64_t(elementIndex) - VLNode(model, array)->index;
}

// ---------------------------------------------------------------------------
// Lines
// ---------------------------------------------------------------------------

static VLBrowseLine VLLine(uint8_t kind, uint64_t event, uint32_t node) { return {kind, event, node}; }
static const VLBrowseLine VLNoLine = {VLBrowseLineKind_None, 0, VLBrowseNone};

// The line after the last decoded one: the report or nothing once the run has
// ended, "decoding" while it goes on.
static VLBrowseLine VLTailLine(const VLBrowseModel* model) {
    if (!VLBrowseFinished(model->index)) return VLLine(VLBrowseLineKind_Pending, 0, VLBrowseNone);
    if (!model->report.empty()) return VLLine(VLBrowseLineKind_Report, 0, VLBrowseNone);
    return VLNoLine;
}

VLBrowseLine VLBrowseVisibleLine(VLBrowseModel* model, uint64_t number) {
    VLBrowseEvent event = VLEventAt(model, number);
    VLBrowseLine line = VLNoLine;
    uint32_t child = VLBrowseNone;  // the node on the way up (VLBrowseNone: the event itself)
    uint32_t parent = event.parent;
    switch (event.kind) {
    case VLBrowseEventKind_Member: line = VLLine(VLBrowseLineKind_Member, number, VLBrowseNone); break;
    case VLBrowseEventKind_Print: line = VLLine(VLBrowseLineKind_Print, number, VLBrowseNone); break;
    case VLBrowseEventKind_StructBegin:
        line = VLLine(VLBrowseLineKind_Struct, number, event.node);
        child = event.node;
        break;
    default: return VLNoLine;  // array begins and ends have no line
    }
    // The outermost folded struct or hidden array part above the event wins.
    while (parent != VLBrowseNone) {
        const VLBrowseNode* up = VLNode(model, parent);
        if (up->kind == VLBrowseNodeKind_Struct) {
            if (VLBrowseIsFolded(model, parent)) line = VLLine(VLBrowseLineKind_Struct, up->beginEvent, parent);
        } else {
            uint32_t element = child == VLBrowseNone ? event.index : VLNode(model, child)->index;
            if (VLPositionIn(model, parent, element) >= VLBrowseShownCount(model, parent))
                line = VLLine(VLBrowseLineKind_More, up->beginEvent, parent);
        }
        child = parent;
        parent = up->parent;
    }
    return line;
}

// The first line at or after event `number` (array begins and ends have none).
static VLBrowseLine VLLineFrom(VLBrowseModel* model, uint64_t number) {
    for (;; ++number) {
        if (number >= VLBrowseEventCount(model->index)) return VLTailLine(model);
        VLBrowseEvent event = VLEventAt(model, number);
        if (event.kind == VLBrowseEventKind_ArrayBegin || event.kind == VLBrowseEventKind_ArrayEnd ||
            event.kind == VLBrowseEventKind_StructEnd)
            continue;
        return VLBrowseVisibleLine(model, number);
    }
}

VLBrowseLine VLBrowseFirstLine(VLBrowseModel* model) { return VLLineFrom(model, 0); }

VLBrowseLine VLBrowseNextLine(VLBrowseModel* model, VLBrowseLine line) {
    uint64_t end;
    switch (line.kind) {
    case VLBrowseLineKind_Member:
    case VLBrowseLineKind_Print: return VLLineFrom(model, line.event + 1);
    case VLBrowseLineKind_Struct:
        if (!VLBrowseIsFolded(model, line.node)) return VLLineFrom(model, line.event + 1);
        end = VLBrowseNodeEnd(model->index, line.node);
        return end == VLBrowseOpen ? VLTailLine(model) : VLLineFrom(model, end + 1);
    case VLBrowseLineKind_More:
        end = VLBrowseNodeEnd(model->index, line.node);
        return end == VLBrowseOpen ? VLTailLine(model) : VLLineFrom(model, end + 1);
    default: return VLNoLine;
    }
}

VLBrowseLine VLBrowsePreviousLine(VLBrowseModel* model, VLBrowseLine line) {
    uint64_t number;
    switch (line.kind) {
    case VLBrowseLineKind_Member:
    case VLBrowseLineKind_Print:
    case VLBrowseLineKind_Struct: number = line.event; break;
    case VLBrowseLineKind_More:
        number = VLBrowseElementEvent(model->index, line.node, VLBrowseShownCount(model, line.node));
        if (number == VLBrowseOpen) return VLNoLine;
        break;
    case VLBrowseLineKind_Report:
    case VLBrowseLineKind_Pending: number = VLBrowseEventCount(model->index); break;
    default: return VLNoLine;
    }
    while (number > 0) {
        --number;
        VLBrowseEvent event = VLEventAt(model, number);
        switch (event.kind) {
        case VLBrowseEventKind_Member:
        case VLBrowseEventKind_Print:
        case VLBrowseEventKind_StructBegin: return VLBrowseVisibleLine(model, number);
        case VLBrowseEventKind_StructEnd:  // a folded struct stands for its whole body
            if (VLBrowseIsFolded(model, event.node))
                return VLBrowseVisibleLine(model, VLNode(model, event.node)->beginEvent);
            break;
        case VLBrowseEventKind_ArrayEnd:  // so does the hidden rest of an array
            if (VLBrowseArrayCount(model->index, event.node) > VLBrowseShownCount(model, event.node)) {
                uint64_t hidden = VLBrowseElementEvent(model->index, event.node,
                                                       VLBrowseShownCount(model, event.node));
                return VLBrowseVisibleLine(model, hidden);
            }
            break;
        default: break;
        }
    }
    return VLNoLine;
}

// Order of lines along the tree, for scrolling decisions.
static uint64_t VLLineOrder(VLBrowseModel* model, VLBrowseLine line) {
    switch (line.kind) {
    case VLBrowseLineKind_Member:
    case VLBrowseLineKind_Print:
    case VLBrowseLineKind_Struct: return line.event;
    case VLBrowseLineKind_More: {
        uint64_t number = VLBrowseElementEvent(model->index, line.node, VLBrowseShownCount(model, line.node));
        return number == VLBrowseOpen ? VLNode(model, line.node)->beginEvent : number;
    }
    default: return UINT64_MAX;
    }
}

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

static std::string VLText(VLString text) { return std::string(text.chars, text.length); }

static const VLTypeDefinition* VLTypeOfNode(const VLBrowseModel* model, const VLBrowseNode* node) {
    return VLTypeAt(&model->program->types, node->typeIndex);
}

uint32_t VLBrowseLineDepth(VLBrowseModel* model, VLBrowseLine line) {
    switch (line.kind) {
    case VLBrowseLineKind_Struct: return VLNode(model, line.node)->depth;
    case VLBrowseLineKind_More: return VLNode(model, line.node)->depth + 1;
    case VLBrowseLineKind_Member:
    case VLBrowseLineKind_Print: {
        VLBrowseEvent event = VLEventAt(model, line.event);
        return event.parent == VLBrowseNone ? 0 : VLNode(model, event.parent)->depth + 1;
    }
    default: return 0;
    }
}

// The struct header of a struct node, as the text output writes it.
static std::string VLStructText(VLBrowseModel* model, uint32_t node) {
    const VLBrowseNode* record = VLNode(model, node);
    const VLInstruction* push = VLInstructionOf(model, record->instruction);
    const VLTypeDefinition* type = VLTypeOfNode(model, record);
    VLString typeName = type ? type->name : VLString{1, "?"};
    char buffer[VLNameTextLimit + 1];
    uint32_t length = VLFormatStructHeader(typeName, push->pushFrame.name, record->isElement != 0, record->index,
                                           buffer);
    return std::string(buffer, length);
}

static std::string VLMemberName(const VLInstruction* instruction, bool isArray, uint32_t index) {
    char buffer[VLNameTextLimit + 1];
    uint32_t length = VLFormatMemberName(instruction->scalarExport.name, isArray, 0, index, buffer);
    return std::string(buffer, length);
}

// The value column's text of a member event, from its bytes or its value source.
static std::string VLValueText(VLBrowseModel* model, const VLInstruction* instruction, const VLBrowseEvent* event) {
    const auto& scalar = instruction->scalarExport;
    VLMemberBytes bytes = {model->data, model->dataSize, event->offset, event->size};
    int32_t type = instruction->type;
    uint32_t flags = scalar.flags;
    uint8_t scratch[8];
    if (event->hasValueSource) {
        type = event->source.type;
        flags = event->source.flags;
        bytes.size = event->source.size;
        if (event->source.isInline) {
            for (uint32_t i = 0; i < 8; ++i) scratch[i] = uint8_t(event->source.value >> (8 * i));
            bytes = {scratch, 8, 0, event->source.size};
        }
    }
    char buffer[VLValueTextLimit + 1];
    uint32_t length = VLFormatValue(type, flags, scalar.enumeration, &bytes, buffer);
    return std::string(buffer, length);
}

std::string VLBrowseLineText(VLBrowseModel* model, VLBrowseLine line, bool unicode) {
    std::string text(size_t(VLBrowseLineDepth(model, line)) * 2, ' ');
    switch (line.kind) {
    case VLBrowseLineKind_Struct:
        text += VLBrowseIsFolded(model, line.node) ? (unicode ? "\u25b8 " : "+ ") : (unicode ? "\u25be " : "- ");
        text += VLStructText(model, line.node);
        break;
    case VLBrowseLineKind_Member: {
        VLBrowseEvent event = VLEventAt(model, line.event);
        const VLInstruction* instruction = VLInstructionOf(model, event.instruction);
        text += "  ";
        text += VLMemberName(instruction, event.hasIndex, event.index);
        text += " = ";
        text += VLValueText(model, instruction, &event);
        break;
    }
    case VLBrowseLineKind_More: {
        uint64_t count = VLBrowseArrayCount(model->index, line.node);
        uint64_t hidden = count - VLBrowseShownCount(model, line.node);
        text += unicode ? "  \u2026 " : "  ... ";
        text += std::to_string(hidden) + " more";
        if (VLBrowseNodeEnd(model->index, line.node) == VLBrowseOpen) text += " so far";
        break;
    }
    case VLBrowseLineKind_Print: {
        VLBrowseEvent event = VLEventAt(model, line.event);
        text += "  print: " + std::string(VLBrowseText(model->index, &event), event.textLength);
        if (event.hasValue) text += " " + std::to_string(event.value);
        break;
    }
    case VLBrowseLineKind_Report: text = "! " + model->report; break;
    case VLBrowseLineKind_Pending: text = unicode ? "\u2026 decoding" : "... decoding"; break;
    default: break;
    }
    return text;
}

// One step of a path: ".name", the occurrence "#k" when not the first, and
// "[i]" for an array element.
static void VLPathStep(std::string* path, VLString name, uint32_t occurrence, bool isElement, uint32_t index) {
    *path += '.';
    *path += VLText(name);
    if (occurrence) {
        *path += '#';
        *path += std::to_string(occurrence);
    }
    if (isElement) {
        *path += '[';
        *path += std::to_string(index);
        *path += ']';
    }
}

// The path of a struct node: the root type's name, then a step per struct below it.
static std::string VLNodePath(VLBrowseModel* model, uint32_t node) {
    std::vector<uint32_t> chain;
    for (uint32_t at = node; at != VLBrowseNone; at = VLNode(model, at)->parent)
        if (VLNode(model, at)->kind == VLBrowseNodeKind_Struct) chain.push_back(at);
    std::string path;
    for (size_t i = chain.size(); i-- > 0;) {
        const VLBrowseNode* record = VLNode(model, chain[i]);
        if (i == chain.size() - 1) {
            const VLTypeDefinition* type = VLTypeOfNode(model, record);
            path = type ? VLText(type->name) : "?";
            continue;
        }
        const VLInstruction* push = VLInstructionOf(model, record->instruction);
        VLPathStep(&path, push->pushFrame.name, record->occurrence, record->isElement != 0, record->index);
    }
    return path;
}

std::string VLBrowsePathText(VLBrowseModel* model, VLBrowseLine line) {
    switch (line.kind) {
    case VLBrowseLineKind_Struct: return VLNodePath(model, line.node);
    case VLBrowseLineKind_Member: {
        VLBrowseEvent event = VLEventAt(model, line.event);
        std::string path = event.parent == VLBrowseNone ? std::string() : VLNodePath(model, event.parent);
        const VLInstruction* instruction = VLInstructionOf(model, event.instruction);
        VLPathStep(&path, instruction->scalarExport.name, event.occurrence, event.hasIndex, event.index);
        return path;
    }
    case VLBrowseLineKind_More: {
        const VLBrowseNode* array = VLNode(model, line.node);
        std::string path = array->parent == VLBrowseNone ? std::string() : VLNodePath(model, array->parent);
        const VLInstruction* instruction = VLInstructionOf(model, array->instruction);
        VLString name = array->kind == VLBrowseNodeKind_StructArray ? instruction->pushFrame.name
                                                                     : instruction->scalarExport.name;
        VLPathStep(&path, name, 0, false, 0);
        uint64_t first = uint64_t(array->index) + VLBrowseShownCount(model, line.node);
        return path + "[" + std::to_string(first) + "...]";
    }
    case VLBrowseLineKind_Print: {
        VLBrowseEvent event = VLEventAt(model, line.event);
        return event.parent == VLBrowseNone ? std::string() : VLNodePath(model, event.parent);
    }
    default: return std::string();
    }
}

bool VLBrowseLineRange(VLBrowseModel* model, VLBrowseLine line, uint64_t* offset, uint64_t* size) {
    if (line.kind == VLBrowseLineKind_Member) {
        VLBrowseEvent event = VLEventAt(model, line.event);
        *offset = event.offset;
        *size = event.size;
        return true;
    }
    if (line.kind != VLBrowseLineKind_Struct || VLBrowseNodeEnd(model->index, line.node) == VLBrowseOpen)
        return false;
    const VLBrowseNode* node = VLNode(model, line.node);
    *offset = node->offset;
    *size = node->size;
    return true;
}

bool VLBrowseParentRange(VLBrowseModel* model, VLBrowseLine line, uint64_t* offset, uint64_t* size) {
    uint32_t parent = VLBrowseNone;
    if (line.kind == VLBrowseLineKind_Member || line.kind == VLBrowseLineKind_Print)
        parent = VLEventAt(model, line.event).parent;
    else if (line.kind == VLBrowseLineKind_Struct || line.kind == VLBrowseLineKind_More)
        parent = VLNode(model, line.node)->parent;
    while (parent != VLBrowseNone && VLNode(model, parent)->kind != VLBrowseNodeKind_Struct)
        parent = VLNode(model, parent)->parent;
    if (parent == VLBrowseNone || VLBrowseNodeEnd(model->index, parent) == VLBrowseOpen) return false;
    *offset = VLNode(model, parent)->offset;
    *size = VLNode(model, parent)->size;
    return true;
}

// ---------------------------------------------------------------------------
// Selection, scrolling, folding
// ---------------------------------------------------------------------------

VLBrowseLine VLBrowseLineAtRow(VLBrowseModel* model, uint32_t row) {
    VLBrowseLine line = model->top;
    for (uint32_t i = 0; i < row && line.kind != VLBrowseLineKind_None; ++i) line = VLBrowseNextLine(model, line);
    return line;
}

// Whether `line` is among the first `rows` lines from the top.
static bool VLOnScreen(VLBrowseModel* model, VLBrowseLine line) {
    VLBrowseLine at = model->top;
    for (uint32_t i = 0; i < model->rows && at.kind != VLBrowseLineKind_None; ++i) {
        if (VLBrowseLineEquals(at, line)) return true;
        at = VLBrowseNextLine(model, at);
    }
    return false;
}

// Scrolls so that the selection is on screen, at the nearest edge.
static void VLKeepSelectionVisible(VLBrowseModel* model) {
    uint8_t topKind = model->top.kind;
    if (topKind == VLBrowseLineKind_None || topKind == VLBrowseLineKind_Pending) {
        model->top = VLBrowseFirstLine(model);
        if (model->top.kind == VLBrowseLineKind_None) model->top = model->selected;
    }
    if (VLLineOrder(model, model->selected) < VLLineOrder(model, model->top)) {
        model->top = model->selected;
        return;
    }
    if (VLOnScreen(model, model->selected)) return;
    VLBrowseLine top = model->selected;
    for (uint32_t i = 1; i < model->rows; ++i) {
        VLBrowseLine previous = VLBrowsePreviousLine(model, top);
        if (previous.kind == VLBrowseLineKind_None) break;
        top = previous;
    }
    model->top = top;
}

// The line a line stands for now that folds or the index changed.
static VLBrowseLine VLCurrentLine(VLBrowseModel* model, VLBrowseLine line) {
    switch (line.kind) {
    case VLBrowseLineKind_Member:
    case VLBrowseLineKind_Print:
    case VLBrowseLineKind_Struct: return VLBrowseVisibleLine(model, line.event);
    case VLBrowseLineKind_More: {
        uint64_t shown = VLBrowseShownCount(model, line.node);
        if (VLBrowseArrayCount(model->index, line.node) > shown) {
            uint64_t number = VLBrowseElementEvent(model->index, line.node, shown);
            if (number != VLBrowseOpen) return VLBrowseVisibleLine(model, number);
        }
        return VLBrowseVisibleLine(model, VLNode(model, line.node)->beginEvent);
    }
    case VLBrowseLineKind_None: return VLBrowseFirstLine(model);
    case VLBrowseLineKind_Pending:
    case VLBrowseLineKind_Report: {
        // The tail moves as the index grows: the line at the decoded end now.
        VLBrowseLine tail = VLTailLine(model);
        if (tail.kind != VLBrowseLineKind_None) return tail;
        VLBrowseLine last = VLBrowsePreviousLine(model, VLLine(VLBrowseLineKind_Pending, 0, VLBrowseNone));
        return last.kind != VLBrowseLineKind_None ? last : VLBrowseFirstLine(model);
    }
    default: return line;
    }
}

void VLBrowseSettle(VLBrowseModel* model) {
    if (VLBrowseEventCount(model->index) == 0) {
        model->top = model->selected = VLTailLine(model);
        return;
    }
    // Nothing was shown yet (no line, or only the decoding line): the first line.
    uint8_t topKind = model->top.kind;
    if (topKind == VLBrowseLineKind_None || topKind == VLBrowseLineKind_Pending || model->selected.kind == VLBrowseLineKind_None) {
        model->top = model->selected = VLBrowseFirstLine(model);
    }
    model->top = VLCurrentLine(model, model->top);
    model->selected = VLCurrentLine(model, model->selected);
    VLKeepSelectionVisible(model);
}

void VLBrowseSelect(VLBrowseModel* model, VLBrowseLine line) {
    if (line.kind == VLBrowseLineKind_None) return;
    model->selected = line;
    VLKeepSelectionVisible(model);
}

// The line `lines` lines after `line` (before it when negative), stopping at
// the first or last line.
static VLBrowseLine VLBrowseStep(VLBrowseModel* model, VLBrowseLine line, int64_t lines) {
    for (; lines > 0; --lines) {
        VLBrowseLine next = VLBrowseNextLine(model, line);
        if (next.kind == VLBrowseLineKind_None) break;
        line = next;
    }
    for (; lines < 0; ++lines) {
        VLBrowseLine previous = VLBrowsePreviousLine(model, line);
        if (previous.kind == VLBrowseLineKind_None) break;
        line = previous;
    }
    return line;
}

void VLBrowseMove(VLBrowseModel* model, int64_t lines) {
    VLBrowseSelect(model, VLBrowseStep(model, model->selected, lines));
}

void VLBrowseScroll(VLBrowseModel* model, int64_t lines) {
    VLBrowseLine top = VLBrowseStep(model, model->top, lines);
    model->top = top;
    if (!VLOnScreen(model, model->selected)) {
        // The selection follows to the nearest line still on screen.
        if (VLLineOrder(model, model->selected) < VLLineOrder(model, top)) model->selected = top;
        else model->selected = VLBrowseLineAtRow(model, model->rows - 1);
        if (model->selected.kind == VLBrowseLineKind_None) model->selected = top;
    }
}

void VLBrowseHome(VLBrowseModel* model) {
    VLBrowseLine first = VLBrowseFirstLine(model);
    if (first.kind == VLBrowseLineKind_None) return;
    model->top = first;
    model->selected = first;
}

bool VLBrowseEnd(VLBrowseModel* model) {
    if (!VLBrowseFinished(model->index)) return false;
    uint64_t number = VLBrowseEventCount(model->index);
    while (number > 0) {
        --number;
        VLBrowseEvent event = VLEventAt(model, number);
        if (event.kind == VLBrowseEventKind_Member || event.kind == VLBrowseEventKind_Print ||
            event.kind == VLBrowseEventKind_StructBegin) {
            VLBrowseSelect(model, VLBrowseReveal(model, number));
            break;
        }
    }
    VLBrowseLine tail = VLTailLine(model);
    if (tail.kind == VLBrowseLineKind_Report) VLBrowseSelect(model, tail);
    return true;
}

VLBrowseLine VLBrowseReveal(VLBrowseModel* model, uint64_t number) {
    VLBrowseEvent event = VLEventAt(model, number);
    uint32_t child = event.kind == VLBrowseEventKind_StructBegin ? event.node : VLBrowseNone;
    for (uint32_t parent = event.parent; parent != VLBrowseNone; parent = VLNode(model, parent)->parent) {
        const VLBrowseNode* up = VLNode(model, parent);
        if (up->kind == VLBrowseNodeKind_Struct) {
            VLBrowseSetFolded(model, parent, false);
        } else {
            uint32_t element = child == VLBrowseNone ? event.index : VLNode(model, child)->index;
            uint64_t position = VLPositionIn(model, parent, element);
            if (position >= VLBrowseShownCount(model, parent)) model->shown[parent] = position + 1;
        }
        child = parent;
    }
    VLBrowseLine line = VLBrowseVisibleLine(model, number);
    model->top = VLCurrentLine(model, model->top);
    return line;
}

// The struct node a line lies in (for folding from a member line).
static uint32_t VLEnclosingStruct(VLBrowseModel* model, VLBrowseLine line) {
    uint32_t parent = VLBrowseNone;
    if (line.kind == VLBrowseLineKind_Member || line.kind == VLBrowseLineKind_Print)
        parent = VLEventAt(model, line.event).parent;
    else if (line.kind == VLBrowseLineKind_Struct || line.kind == VLBrowseLineKind_More)
        parent = VLNode(model, line.node)->parent;
    while (parent != VLBrowseNone && VLNode(model, parent)->kind != VLBrowseNodeKind_Struct)
        parent = VLNode(model, parent)->parent;
    return parent;
}

void VLBrowseFoldSelected(VLBrowseModel* model, bool open, bool toggle) {
    VLBrowseLine line = model->selected;
    if (line.kind == VLBrowseLineKind_More) {
        if (!open && !toggle) {
            uint32_t parent = VLEnclosingStruct(model, line);
            if (parent == VLBrowseNone) return;
            VLBrowseSetFolded(model, parent, true);
            model->selected = VLBrowseVisibleLine(model, VLNode(model, parent)->beginEvent);
            VLBrowseSettle(model);
            return;
        }
        // The next step: ten times as many elements, the selection on the first new one.
        uint64_t shown = VLBrowseShownCount(model, line.node);
        uint64_t count = VLBrowseArrayCount(model->index, line.node);
        model->shown[line.node] = shown * 10 < count ? shown * 10 : count;
        uint64_t number = VLBrowseElementEvent(model->index, line.node, shown);
        if (number != VLBrowseOpen) model->selected = VLBrowseVisibleLine(model, number);
        VLBrowseSettle(model);
        return;
    }
    if (line.kind == VLBrowseLineKind_Struct) {
        bool folded = VLBrowseIsFolded(model, line.node);
        if (toggle || folded == open) {
            VLBrowseSetFolded(model, line.node, !folded);
            VLBrowseSettle(model);
            return;
        }
        if (open) return;  // already open
    }
    if (open) return;
    // Fold from inside: the enclosing struct folds and is selected.
    uint32_t parent = VLEnclosingStruct(model, line);
    if (parent == VLBrowseNone) return;
    VLBrowseSetFolded(model, parent, true);
    model->selected = VLBrowseVisibleLine(model, VLNode(model, parent)->beginEvent);
    VLBrowseSettle(model);
}

// ---------------------------------------------------------------------------
// Offsets and searches
// ---------------------------------------------------------------------------

bool VLBrowseGoToOffset(VLBrowseModel* model, uint64_t offset) {
    uint64_t number = VLBrowseFindOffset(&model->reader, offset);
    if (number == VLBrowseOpen) return false;
    VLBrowseSelect(model, VLBrowseReveal(model, number));
    return true;
}

bool VLBrowseParseOffset(const char* text, uint64_t* offset) {
    while (*text == ' ') ++text;
    size_t length = strlen(text);
    while (length > 0 && text[length - 1] == ' ') --length;
    if (length == 0) return false;
    int base = 10;
    if (length > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
        length -= 2;
    } else if (text[length - 1] == 'h' || text[length - 1] == 'H') {
        base = 16;
        length -= 1;
    }
    if (length == 0) return false;
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') digit = uint32_t(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = uint32_t(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = uint32_t(c - 'A' + 10);
        else return false;
        if (value > (UINT64_MAX - digit) / uint64_t(base)) return false;
        value = value * uint64_t(base) + digit;
    }
    *offset = value;
    return true;
}

static char VLLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Whether `text` contains `needle` (`needle` already in lower case).
static bool VLContains(const char* text, size_t length, const std::string& needle) {
    if (needle.size() > length) return false;
    for (size_t start = 0; start + needle.size() <= length; ++start) {
        size_t i = 0;
        while (i < needle.size() && VLLower(text[start + i]) == needle[i]) ++i;
        if (i == needle.size()) return true;
    }
    return false;
}

void VLBrowseSearchBegin(VLBrowseModel* model, VLBrowseSearch* search, const std::string& text, bool forward) {
    if (text != search->text) {
        search->text.clear();
        for (char c : text) search->text += VLLower(c);
        search->nameMatches.assign(model->instructions.size(), -1);
    }
    search->forward = forward;
    search->active = !search->text.empty();
    uint64_t from = VLLineOrder(model, model->selected);
    uint64_t count = VLBrowseEventCount(model->index);
    if (from >= count) from = count ? count - 1 : 0;
    search->start = from;
    search->next = forward ? from + 1 : (from ? from - 1 : UINT64_MAX);
    search->examined = 0;
    search->found = VLBrowseOpen;
}

// Whether the name of an instruction (member or struct member) matches, cached.
static bool VLNameMatches(VLBrowseModel* model, VLBrowseSearch* search, uint32_t number) {
    int8_t& known = search->nameMatches[number];
    if (known < 0) {
        const VLInstruction* instruction = VLInstructionOf(model, number);
        VLString name = instruction->type == VLInstructionType_PushFrame ? instruction->pushFrame.name
                                                                          : instruction->scalarExport.name;
        known = VLContains(name.chars, name.length, search->text) ? 1 : 0;
    }
    return known == 1;
}

bool VLBrowseEventMatches(VLBrowseModel* model, VLBrowseSearch* search, const VLBrowseEvent* event) {
    switch (event->kind) {
    case VLBrowseEventKind_Member: {
        if (VLNameMatches(model, search, event->instruction)) return true;
        const VLInstruction* instruction = VLInstructionOf(model, event->instruction);
        std::string value = VLValueText(model, instruction, event);
        return VLContains(value.data(), value.size(), search->text);
    }
    case VLBrowseEventKind_StructBegin: {
        const VLBrowseNode* node = VLNode(model, event->node);
        if (VLNameMatches(model, search, node->instruction)) return true;
        const VLTypeDefinition* type = VLTypeOfNode(model, node);
        return type && VLContains(type->name.chars, type->name.length, search->text);
    }
    case VLBrowseEventKind_Print: return VLContains(VLBrowseText(model->index, event), event->textLength, search->text);
    default: return false;
    }
}

bool VLBrowseSearchStep(VLBrowseModel* model, VLBrowseSearch* search, uint64_t budget) {
    if (!search->active) return true;
    for (; budget > 0; --budget) {
        uint64_t count = VLBrowseEventCount(model->index);
        bool finished = VLBrowseFinished(model->index);
        if (search->examined >= count + 1) break;  // came round without a match
        if (search->forward && search->next >= count) {
            if (!finished) return false;  // wait for more events
            search->next = 0;             // round to the start
        }
        if (!search->forward && search->next == UINT64_MAX) {
            if (!finished) return false;
            search->next = count ? count - 1 : 0;
        }
        if (count == 0) break;
        uint64_t number = search->next;
        search->examined += 1;
        search->next = search->forward ? number + 1 : (number ? number - 1 : UINT64_MAX);
        VLBrowseEvent event = VLEventAt(model, number);
        if (VLBrowseEventMatches(model, search, &event)) {
            search->found = number;
            search->active = false;
            VLBrowseSelect(model, VLBrowseReveal(model, number));
            return true;
        }
        if (number == search->start && search->examined > 1) break;
    }
    if (budget > 0) {
        search->active = false;
        return true;
    }
    return false;
}
