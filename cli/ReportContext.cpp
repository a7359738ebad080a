// ReportContext.cpp - the lines after a run-time report for a person: where
// the run stopped (the member, the struct it belongs to, its bytes against
// the size of the data, the place in the layout) and what the report's
// numbers come to (how far a member runs past the end of the data, the
// element an array stopped at, the values an assertion compared). Written
// only when the diagnostics stream asks for hints; the report's own lines
// come first and stay as they are.
#include "CommandLine.h"

static int VLLength(VLString text) { return int(text.length); }

static bool VLIsPunctuation(const VLToken* token, uint32_t code) {
    return token && token->type == VLTokenType_Punctuation && token->punctuation.code == code;
}

// Every kind the front end shows as a member line records its member in scalarExport.
static bool VLIsScalar(const VLInstruction* instruction) { return VLIsMemberKind(instruction->type); }

// The struct whose body holds an instruction, or null at the top level.
static const VLTypeDefinition* VLStructOf(const VLProgram* program, uint32_t index) {
    for (const VLTypeChunk* chunk = program->types.first; chunk; chunk = chunk->next) {
        for (uint32_t i = 0; i < chunk->count; ++i) {
            const VLTypeDefinition* type = &chunk->items[i];
            const VLInstruction* start = type->startInstruction;
            if (start && start->index < index && index < start->structDefinition.endIndex) return type;
        }
    }
    return nullptr;
}

// The name token of a scalar member: the first identifier of its name after
// the type part, within its declaration.
static const VLToken* VLScalarNameToken(const VLInstruction* instruction) {
    const auto& member = instruction->scalarExport;
    for (const VLToken* token = member.sizeEnd; token && !VLIsPunctuation(token, VLCode(";")); token = token->next) {
        if (token->type == VLTokenType_Identifier && VLStringEquals(VLTokenText(token), member.name)) return token;
    }
    return member.sizeFirst;
}

// Where in the layout the report's instruction comes from.
static const VLToken* VLSourceToken(const VLInstruction* instruction) {
    if (VLIsScalar(instruction)) return VLScalarNameToken(instruction);
    switch (instruction->type) {
        case VLInstructionType_PushFrame: return instruction->pushFrame.nameToken;
        case VLInstructionType_Assert: return instruction->assertion.token;
        case VLInstructionType_ValueOfMember: return instruction->fetch.first;
        case VLInstructionType_FetchStartOfType:
        case VLInstructionType_FetchMemberCountOfType:
        case VLInstructionType_FetchTypeIndex: return instruction->typeLookup.first;
        default: return nullptr;
    }
}

static int64_t VLValueAt(VLRuntime* runtime, VLLocation location) { return *VLResolveLocation(runtime, location); }

// Element number of the member being declared in the innermost frame.
static uint32_t VLCurrentElement(const VLRuntime* runtime) {
    uint32_t entry = runtime->stackCount >= 2 ? runtime->stackCount - 2 : 0;
    return entry < VLMaxNesting ? runtime->arrayIndices[entry] : 0;
}

// "-0x3" or "0xfd": addresses the way the report context shows them.
static void VLWriteAddress(VLWriter* err, int64_t address) {
    if (address < 0) VLWritef(err, "-0x%llx", static_cast<unsigned long long>(-(address + 1)) + 1);
    else VLWritef(err, "0x%llx", static_cast<unsigned long long>(address));
}

// The word that declares a member of this kind, as the layout writes it.
static const char* VLMemberWord(const VLInstruction* instruction) {
    const auto& member = instruction->scalarExport;
    switch (instruction->type) {
        case VLInstructionType_ScalarMemberS: return "s";
        case VLInstructionType_ScalarMemberF: return "f";
        case VLInstructionType_ZStringMember: return "zstring";
        case VLInstructionType_ULebMember: return "uleb";
        case VLInstructionType_SLebMember: return "sleb";
        case VLInstructionType_VlqMember: return "vlq";
        case VLInstructionType_ShowMember: return "show";
        default: break;
    }
    if (member.flags & VLMemberFlag_Raw) return "raw";
    return VLDisplayTypeOf(member.flags) == VLDisplayType_String ? "string" : "u";
}

// A member's type as declared: u(4), s(2), f(8), raw(16), string(5), zstring(64) or Enum(1).
static void VLWriteScalarKind(const VLInstruction* instruction, int64_t size, VLWriter* err) {
    const auto& member = instruction->scalarExport;
    if (member.enumeration) VLWrite(err, member.enumeration->name.chars, member.enumeration->name.length);
    else VLWriteText(err, VLMemberWord(instruction));
    if (instruction->type != VLInstructionType_ShowMember) VLWritef(err, "(%lld)", static_cast<long long>(size));
}

// The type a failed push-frame was to instantiate (its frame was not pushed).
static const VLTypeDefinition* VLTypeOfPush(const VLInstruction* instruction, VLRuntime* runtime) {
    VLLocation location = instruction->pushFrame.typeIndex;
    if (location.kind == VLLocationKind_None || !runtime->types) return nullptr;
    int64_t index = VLValueAt(runtime, location);
    if (index < 0 || index > int64_t(UINT32_MAX)) return nullptr;
    return VLTypeAt(runtime->types, uint32_t(index));
}

// The first context line: "in PATH (KIND in struct S, bytes A..B, file is N bytes) at FILE(L,C)".
static void VLWriteLocationLine(const VLRuntimeResult* result, VLRuntime* runtime, const VLProgram* program,
                                const VLFile* layout, const VLFile* data, VLString path, VLWriter* err) {
    const VLInstruction* instruction = result->instruction;
    const VLTypeDefinition* owner = VLStructOf(program, instruction->index);
    VLWriteText(err, "in ");
    bool scalar = VLIsScalar(instruction);
    bool push = instruction->type == VLInstructionType_PushFrame;
    VLString name = scalar ? instruction->scalarExport.name : push ? instruction->pushFrame.name : VLString{};
    bool separator = true;  // whether ", " goes before the place in the data
    if (path.length) {
        VLWrite(err, path.chars, path.length);
        VLWriteText(err, " (");
        if (!name.length && owner) {  // a report about the struct itself: its type first
            VLWritef(err, "struct %.*s", VLLength(owner->name), owner->name.chars);
            owner = nullptr;
            separator = false;
        }
    } else {
        if (name.length) VLWritef(err, "'%.*s'", VLLength(name), name.chars);
        else if (owner) VLWritef(err, "struct %.*s", VLLength(owner->name), owner->name.chars);
        else VLWriteText(err, "the layout's top level");
        VLWriteText(err, " (");
    }
    if (scalar) {
        int64_t size = result->flags & VLRuntimeResultFlag_InvalidSize
                           ? result->size
                           : VLValueAt(runtime, instruction->scalarExport.size);
        VLWriteScalarKind(instruction, size, err);
        if (owner) VLWritef(err, " in struct %.*s", VLLength(owner->name), owner->name.chars);
        int64_t address = VLValueAt(runtime, instruction->scalarExport.address);
        if (size > 0) {
            VLWriteText(err, ", bytes ");
            VLWriteAddress(err, address);
            VLWriteText(err, "..");
            int64_t last;  // the last byte; a size near 2^63 can put it out of range
            if (__builtin_add_overflow(address, size - 1, &last)) VLWriteText(err, "(beyond 0x7fffffffffffffff)");
            else VLWriteAddress(err, last);
        } else {
            VLWriteText(err, ", at byte ");
            VLWriteAddress(err, address);
        }
    } else {
        if (push) {
            const VLTypeDefinition* type = VLTypeOfPush(instruction, runtime);
            if (type) VLWritef(err, "%.*s", VLLength(type->name), type->name.chars);
            else VLWriteText(err, "struct");
            if (owner) VLWritef(err, " in struct %.*s", VLLength(owner->name), owner->name.chars);
        } else if (path.length) {
            separator = owner == nullptr;  // the struct was named first
        } else {
            separator = false;  // the struct or the top level is named before the parenthesis
        }
        VLWriteText(err, separator ? ", at byte " : "at byte ");
        VLWriteAddress(err, VLValueAt(runtime, VLLocation{VLLocationKind_Global, 0, 1}));
    }
    VLWriteText(err, ", file is ");
    VLWriteAddress(err, int64_t(data->size));
    VLWriteText(err, " bytes)");
    const VLToken* token = VLSourceToken(instruction);
    if (token)
        VLWritef(err, " at %s(%u,%u)", VLSourceOfToken(layout, token)->path, token->start.line + 1u,
                 token->start.column + 1u);
    VLWriteChar(err, '\n');
}

// An invalid address: where the member lies against the data.
static void VLWriteAddressHint(const VLRuntimeResult* result, VLRuntime* runtime, uint64_t dataSize, VLWriter* err) {
    const VLInstruction* instruction = result->instruction;
    int64_t size = VLValueAt(runtime, instruction->scalarExport.size);
    int64_t address = result->address;
    if (address < 0) {
        VLWriteHint(err, "the address is negative: the member starts %llu byte(s) before the start of the data",
                    static_cast<unsigned long long>(-(address + 1)) + 1);
    } else if (uint64_t(address) < dataSize) {
        uint64_t past = uint64_t(address) + uint64_t(size) - dataSize;
        VLWriteHint(err, "the member's %lld bytes start inside the data but end %llu byte(s) past its end",
                    static_cast<long long>(size), static_cast<unsigned long long>(past));
    } else if (uint64_t(address) == dataSize) {
        VLWriteHint(err, "the member starts right at the end of the data: no byte of it is there");
    } else {
        VLWriteHint(err, "the member starts %llu byte(s) past the end of the data",
                    static_cast<unsigned long long>(uint64_t(address) - dataSize));
    }
}

// An array member: the element at which the run stopped, and the count.
static void VLWriteElementHint(const VLRuntimeResult* result, VLRuntime* runtime, VLWriter* err) {
    const VLInstruction* instruction = result->instruction;
    VLLocation count{};
    VLString name{};
    if (VLIsScalar(instruction)) {
        count = instruction->scalarExport.arrayCount;
        name = instruction->scalarExport.name;
    } else if (instruction->type == VLInstructionType_PushFrame) {
        count = instruction->pushFrame.arrayCount;
        name = instruction->pushFrame.name;
    }
    if (count.kind == VLLocationKind_None || (result->flags & VLRuntimeResultFlag_InvalidArrayCount)) return;
    int64_t element = result->flags & VLRuntimeResultFlag_ElementOutOfRange ? result->element
                                                                             : int64_t(VLCurrentElement(runtime));
    VLWriteHint(err, "it stopped at element %lld of the array '%.*s'", static_cast<long long>(element),
                VLLength(name), name.chars);
}

// An operand of a simple comparison: a number or quoted literal (a
// constant), or names joined by ".".
static const VLToken* VLSkipOperand(const VLToken* token, bool* constant) {
    if (!token) return nullptr;
    if (token->type == VLTokenType_Number || token->type == VLTokenType_String) {
        *constant = true;
        return token->next;
    }
    if (token->type != VLTokenType_Identifier) return nullptr;
    *constant = false;
    token = token->next;
    while (VLIsPunctuation(token, VLCode(".")) && token->next && token->next->type == VLTokenType_Identifier)
        token = token->next->next;
    return token;
}

static bool VLIsComparison(const VLToken* token) {
    if (!token || token->type != VLTokenType_Punctuation) return false;
    switch (token->punctuation.code) {
        case VLCode("=="): case VLCode("!="): case VLCode("<"): case VLCode("<="): case VLCode(">"):
        case VLCode(">="):
            return true;
        default:
            return false;
    }
}

static void VLWriteOperandValue(VLWriter* err, const VLToken* first, const VLToken* end, int64_t value,
                                bool* written) {
    VLString text = {end ? end->start.offset - first->start.offset : 0, first->start.cursor};
    while (text.length && (text.chars[text.length - 1] == ' ' || text.chars[text.length - 1] == '\t')) --text.length;
    VLWritef(err, "%s%.*s is %lld", *written ? ", " : "", VLLength(text), text.chars, static_cast<long long>(value));
    if (value < 0 || value > 9) VLWritef(err, " (0x%llx)", static_cast<unsigned long long>(value));
    *written = true;
}

static bool VLSameLocation(VLLocation a, VLLocation b) {
    return a.kind == b.kind && a.depth == b.depth && a.index == b.index;
}

// assert "(" A op B ")" where A and B are names or constants: the values the
// comparison saw. They still stand in the slots the comparison read.
static void VLWriteAssertValues(const VLRuntimeResult* result, VLRuntime* runtime, const VLProgram* program,
                                VLWriter* err) {
    const VLInstruction* assertion = result->instruction;
    const VLToken* open = assertion->assertion.token ? assertion->assertion.token->next : nullptr;
    if (!VLIsPunctuation(open, VLCode("(")) || assertion->index == 0) return;
    bool leftConstant = false, rightConstant = false;
    const VLToken* op = VLSkipOperand(open->next, &leftConstant);
    if (!VLIsComparison(op)) return;
    const VLToken* close = VLSkipOperand(op->next, &rightConstant);
    if (!close || close != open->punctuation.match) return;
    // The comparison writes a temporary that a copy then moves to the condition.
    VLLocation condition = assertion->assertion.condition;
    const VLInstruction* compare = VLInstructionPointer(&program->instructions, assertion->index - 1);
    if (compare && compare->type == VLInstructionType_Copy && compare->index > 0 &&
        VLSameLocation(compare->destination, condition)) {
        condition = compare->unary.operand;
        compare = VLInstructionPointer(&program->instructions, compare->index - 1);
    }
    if (!compare || compare->type < VLInstructionType_Less || compare->type > VLInstructionType_NotEqual) return;
    if (!VLSameLocation(compare->destination, condition)) return;
    if (leftConstant && rightConstant) return;
    VLWriteColored(err, "hint:", "1;36");
    VLWriteText(err, " the comparison saw ");
    bool written = false;
    if (!leftConstant) VLWriteOperandValue(err, open->next, op, VLValueAt(runtime, compare->binary.left), &written);
    if (!rightConstant) VLWriteOperandValue(err, op->next, close, VLValueAt(runtime, compare->binary.right), &written);
    VLWriteChar(err, '\n');
}

void VLWriteReportContext(const VLRuntimeResult* result, VLRuntime* runtime, const VLProgram* program,
                          const VLFile* layout, const VLFile* data, VLString path, VLWriter* err) {
    if (!VLWantsHints(err) || !result->instruction) return;
    VLWriteLocationLine(result, runtime, program, layout, data, path, err);
    if (result->flags & VLRuntimeResultFlag_InvalidAddress) VLWriteAddressHint(result, runtime, data->size, err);
    if (result->flags & VLRuntimeResultFlag_AssertionFailed) VLWriteAssertValues(result, runtime, program, err);
    VLWriteElementHint(result, runtime, err);
}

void VLWriteStepLimitHint(VLRuntime* runtime, const VLProgram* program, VLString structPath, VLWriter* err) {
    if (!VLWantsHints(err) || !runtime->position.chunk || runtime->position.place >= runtime->position.chunk->count)
        return;
    const VLInstruction* next = &runtime->position.chunk->items[runtime->position.place];
    const VLTypeDefinition* owner = VLStructOf(program, next->index);
    VLWriteColored(err, "hint:", "1;36");
    if (structPath.length) VLWritef(err, " it stopped in %.*s", VLLength(structPath), structPath.chars);
    else VLWriteText(err, " it stopped");
    if (owner) VLWritef(err, " (struct %.*s)", VLLength(owner->name), owner->name.chars);
    else if (!structPath.length) VLWriteText(err, " at the top level");
    VLWriteText(err, " at byte ");
    VLWriteAddress(err, VLValueAt(runtime, VLLocation{VLLocationKind_Global, 0, 1}));
    VLWriteText(err, "; a loop whose condition never turns false is the usual cause, "
                     "a larger -limit the other remedy\n");
}
