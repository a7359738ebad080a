// Listing.cpp - the text of one instruction, as the -debug listing and trace
// print it. One table, indexed by instruction type and made from the
// instruction set, gives each type its shape (which operands it shows, in
// what order) and its words; a small printer per shape writes the line. Given a runtime, operands also show their values.
#include "CommandLine.h"

enum VLListingShape : uint8_t {
    VLListingShape_Text,          // the words alone
    VLListingShape_Constant,      // D <- value
    VLListingShape_Unary,         // D, words, operand, suffix
    VLListingShape_Binary,        // D <- left, words, right
    VLListingShape_BinaryValued,  // as Binary, the destination shown as an operand
    VLListingShape_PushFrame,     // push-frame[count]
    VLListingShape_StructStart,   // words and the struct's name
    VLListingShape_ArrayIndex,    // words and a location without value
    VLListingShape_Scalar,        // words(address, size) name[count]
    VLListingShape_Fetch,         // D <- value-of-member[step]...
    VLListingShape_Jump,          // goto / conditional-goto
    VLListingShape_Destination,   // D <- words
    VLListingShape_TypeLookup,    // D <- words category [key]
    VLListingShape_Assert,        // assert(condition)
    VLListingShape_Print,         // print(message value)
    VLListingShape_Show,          // words(address, value) name[count]
};

struct VLListingEntry {
    VLListingShape shape;
    const char* words;
    const char* suffix;
};

// Shapes and words come from the instruction set (VL_INSTRUCTION_SET).
static const VLListingEntry VLListingTable[] = {
#define VL_LISTING_ENTRY(name, shape, words, suffix, run, shown, op) {VLListingShape_##shape, words, suffix},
    VL_INSTRUCTION_SET(VL_LISTING_ENTRY)
#undef VL_LISTING_ENTRY
};
static_assert(sizeof VLListingTable / sizeof VLListingTable[0] == VLInstructionType_Count,
              "one listing entry per instruction type");

// The location's own text, never with a value; unknown kinds print nothing.
static void VLWriteLocationText(VLWriter* out, VLLocation location) {
    switch (location.kind) {
    case VLLocationKind_None:
        VLWritef(out, "?\?\?(%u)", location.index);
        break;
    case VLLocationKind_Local:
        if (location.depth == 0)
            VLWritef(out, "l(%u)", location.index);
        else
            VLWritef(out, "-%u(%u)", location.depth, location.index);
        break;
    case VLLocationKind_Global:
        if (location.depth == 0)
            VLWritef(out, "g(%u)", location.index);
        else
            VLWritef(out, "%u(%u)", location.depth, location.index);
        break;
    default:
        break;
    }
}

void VLPrintOperand(VLWriter* out, VLLocation location, VLRuntime* runtime) {
    VLWriteLocationText(out, location);
    if (runtime)
        VLWritef(out, "=0x%llx",
                 static_cast<unsigned long long>(*VLResolveLocation(runtime, location)));
}

static void VLWriteString(VLWriter* out, VLString text) { VLWrite(out, text.chars, text.length); }

// "D <- ", the destination without its value.
static void VLWriteAssignment(VLWriter* out, const VLInstruction* instruction) {
    VLWriteLocationText(out, instruction->destination);
    VLWriteText(out, " <- ");
}

// "[N]" when the member is an array.
static void VLWriteArrayCount(VLWriter* out, VLLocation arrayCount, VLRuntime* runtime) {
    if (arrayCount.kind == VLLocationKind_None) return;
    VLWriteChar(out, '[');
    VLPrintOperand(out, arrayCount, runtime);
    VLWriteChar(out, ']');
}

// A member: words, its address and the operand given (size or value), the
// name and the count; " endian(B)" when a slot decides its byte order.
static void VLPrintScalar(VLWriter* out, const VLInstruction* instruction, const char* words,
                          VLLocation operand, VLRuntime* runtime) {
    const auto& member = instruction->scalarExport;
    VLWriteText(out, words);
    VLPrintOperand(out, member.address, runtime);
    VLWriteText(out, ", ");
    VLPrintOperand(out, operand, runtime);
    VLWriteText(out, ") ");
    VLWriteString(out, member.name);
    VLWriteArrayCount(out, member.arrayCount, runtime);
    if (instruction->type != VLInstructionType_ShowMember && member.byteOrder.kind != VLLocationKind_None) {
        VLWriteText(out, " endian(");
        VLPrintOperand(out, member.byteOrder, runtime);
        VLWriteChar(out, ')');
    }
}

static void VLPrintFetch(VLWriter* out, const VLInstruction* instruction, const char* words,
                         VLRuntime* runtime) {
    VLWriteAssignment(out, instruction);
    VLWriteText(out, words);
    uint32_t count = instruction->fetch.pathCount;
    VL_ASSERT(count <= VLMaxPathSteps);
    for (uint32_t i = 0; i < count; ++i) {
        VLWritef(out, "[%u,", instruction->fetch.path[i].memberIndex);
        VLPrintOperand(out, instruction->fetch.path[i].arrayIndex, runtime);
        VLWriteChar(out, ']');
    }
}

static void VLPrintJump(VLWriter* out, const VLInstruction* instruction, VLRuntime* runtime) {
    if (instruction->jump.condition.kind != VLLocationKind_None) {
        VLWriteText(out, "conditional-goto(");
        VLPrintOperand(out, instruction->jump.condition, runtime);
        VLWriteText(out, ") ");
    } else {
        VLWriteText(out, "goto ");
    }
    if (instruction->jump.target.kind != VLLocationKind_None)
        VLPrintOperand(out, instruction->jump.target, runtime);
    else
        VLWritef(out, "%u", instruction->jump.targetIndex);
}

void VLPrintInstruction(VLWriter* out, const VLInstruction* instruction, uint32_t indent,
                        VLRuntime* runtime) {
    VL_ASSERT(instruction->type >= 0 && instruction->type < VLInstructionType_Count);
    const VLListingEntry* entry = &VLListingTable[instruction->type];
    VLWriteRepeat(out, ' ', size_t(indent) * 4);
    switch (entry->shape) {
    case VLListingShape_Text:  // fixed words
        VLWriteText(out, entry->words);
        break;
    case VLListingShape_Constant:  // the constant as an unsigned number
        VLWriteLocationText(out, instruction->destination);
        VLWriteText(out, entry->words);
        VLWritef(out, "%llu", static_cast<unsigned long long>(instruction->constant.value));
        break;
    case VLListingShape_Unary:  // prefix words, the operand, closing words
        VLWriteLocationText(out, instruction->destination);
        VLWriteText(out, entry->words);
        VLPrintOperand(out, instruction->unary.operand, runtime);
        VLWriteText(out, entry->suffix);
        break;
    case VLListingShape_Binary:  // operator word between the operands
        VLWriteAssignment(out, instruction);
        VLPrintOperand(out, instruction->binary.left, runtime);
        VLWriteText(out, entry->words);
        VLPrintOperand(out, instruction->binary.right, runtime);
        break;
    case VLListingShape_BinaryValued:  // as Binary, but the destination shows its value too
        VLPrintOperand(out, instruction->destination, runtime);
        VLWriteText(out, " <- ");
        VLPrintOperand(out, instruction->binary.left, runtime);
        VLWriteText(out, entry->words);
        VLPrintOperand(out, instruction->binary.right, runtime);
        break;
    case VLListingShape_PushFrame:  // the element count only for arrays
        VLWriteText(out, entry->words);
        VLWriteArrayCount(out, instruction->pushFrame.arrayCount, runtime);
        break;
    case VLListingShape_StructStart:  // the struct's name
        VLWriteText(out, entry->words);
        VLWriteString(out, instruction->structDefinition.name);
        break;
    case VLListingShape_ArrayIndex:  // the index location, never with a value
        VLWriteText(out, entry->words);
        VLWriteLocationText(out, instruction->arrayIndex.value);
        break;
    case VLListingShape_Scalar:  // address, size, name and count of a member
        VLPrintScalar(out, instruction, entry->words, instruction->scalarExport.size, runtime);
        break;
    case VLListingShape_Show:  // address, value, name and count of a computed member
        VLPrintScalar(out, instruction, entry->words, instruction->scalarExport.value, runtime);
        break;
    case VLListingShape_Fetch:  // one bracket per path step
        VLPrintFetch(out, instruction, entry->words, runtime);
        break;
    case VLListingShape_Jump:  // condition, then computed or fixed target
        VLPrintJump(out, instruction, runtime);
        break;
    case VLListingShape_Destination:  // a value without operands
        VLWriteAssignment(out, instruction);
        VLWriteText(out, entry->words);
        break;
    case VLListingShape_TypeLookup:  // category number and key
        VLWriteAssignment(out, instruction);
        VLWritef(out, "%s %u [", entry->words, instruction->typeLookup.categoryIndex);
        VLPrintOperand(out, instruction->typeLookup.key, runtime);
        VLWriteChar(out, ']');
        break;
    case VLListingShape_Assert:  // the condition
        VLWriteText(out, entry->words);
        VLPrintOperand(out, instruction->assertion.condition, runtime);
        VLWriteText(out, entry->suffix);
        break;
    case VLListingShape_Print:  // message and value, the value even when absent
        VLWriteText(out, entry->words);
        VLWriteString(out, instruction->print.message);
        VLWriteChar(out, ' ');
        VLPrintOperand(out, instruction->print.value, runtime);
        VLWriteText(out, entry->suffix);
        break;
    }
}
