// Expressions.cpp - integer expressions: terms, operators and operands.
//
// An expression is read into a list of terms (an operand with the prefix
// operators written before it and the binary operator written after it),
// then reduced by precedence: constant parts fold at compile time through the
// shared operator rules, the rest is emitted into new slots. Operand code
// (member fetches, the file size, has_type, sizeof) is emitted while the
// tokens are read, so every operand's slot holds its value before the
// operator instructions emitted by the reduction run.
#include <cstring>

#include "Compiler.h"

static const char VLExpectedIntegerExpression[] = "Expected integer expression.";

enum { VLParenthesisPrecedence = 11, VLPrefixPrecedence = 11 };

// Table value of a binary operator (higher binds tighter); 0 for a code that
// is no binary operator.
static uint32_t VLBinaryPrecedence(uint32_t op) {
    switch (op) {
        case VLCode("*"): case VLCode("/"): case VLCode("%"): return 10;
        case VLCode("+"): case VLCode("-"): return 9;
        case VLCode("<<"): case VLCode(">>"): return 8;
        case VLCode("<"): case VLCode("<="): case VLCode(">"): case VLCode(">="): return 7;
        case VLCode("=="): case VLCode("!="): return 6;
        case VLCode("&"): return 5;
        case VLCode("^"): return 4;
        case VLCode("|"): return 3;
        case VLCode("&&"): return 2;
        case VLCode("||"): return 1;
        default: return 0;
    }
}

static VLOperatorValue VLSymbolValue(VLLocation location) {
    VLOperatorValue value;
    memset(&value, 0, sizeof value);
    value.type = VL_OperatorValueType_Symbol;
    value.location = location;
    return value;
}

static VLOperatorValue VLConstantValue(int64_t constant) {
    VLOperatorValue value;
    memset(&value, 0, sizeof value);
    value.type = VL_OperatorValueType_Constant;
    value.constant = constant;
    return value;
}

// ---------------------------------------------------------------------------
// The term list
// ---------------------------------------------------------------------------

// Expression records are scratch: a finished expression's records go to free
// lists in the context and are reused (zeroed) by the next expression, so a
// long layout does not hold one set per expression it compiled.
template <class T>
static T* VLTakeRecord(VLContext* ctx, T** freeList) {
    T* record = *freeList;
    if (!record) return VLArenaNew<T>(ctx->arena);
    *freeList = record->next;
    memset(record, 0, sizeof *record);  // as the arena hands out records
    return record;
}

static void VLFreeUnaryOperators(VLContext* ctx, VLUnaryOperatorEntry* entry) {
    while (entry) {
        VLUnaryOperatorEntry* next = entry->next;
        entry->next = ctx->freeUnaryOperators;
        ctx->freeUnaryOperators = entry;
        entry = next;
    }
}

static void VLFreeTerm(VLContext* ctx, VLExpressionTerm* term) {
    VLFreeUnaryOperators(ctx, term->unaryOperators);
    term->next = ctx->freeTerms;
    ctx->freeTerms = term;
}

void VLReleaseExpression(VLContext* ctx, VLExpression* expression) {
    VLExpressionTerm* sentinel = &expression->termsSentinel;
    for (VLExpressionTerm* term = sentinel->next; term != sentinel;) {
        VLExpressionTerm* next = term->next;
        VLFreeTerm(ctx, term);
        term = next;
    }
    expression->next = ctx->freeExpressions;
    ctx->freeExpressions = expression;
}

static VLExpressionTerm* VLAppendTerm(VLContext* ctx, VLExpression* expression) {
    VLExpressionTerm* sentinel = &expression->termsSentinel;
    VLExpressionTerm* term = VLTakeRecord(ctx, &ctx->freeTerms);
    term->prev = sentinel->prev;
    term->next = sentinel;
    sentinel->prev->next = term;
    sentinel->prev = term;
    return term;
}

static void VLRemoveTerm(VLExpressionTerm* term) {
    term->prev->next = term->next;
    term->next->prev = term->prev;
}

VLExpression* VLStartExpression(VLContext* ctx) {
    VLExpression* expression = VLTakeRecord(ctx, &ctx->freeExpressions);
    expression->termsSentinel.next = &expression->termsSentinel;
    expression->termsSentinel.prev = &expression->termsSentinel;
    expression->stoppedAtStart = VLIsStopped(ctx);
    VLAppendTerm(ctx, expression);
    return expression;
}

// A prefix operator goes to a term without operand (nearest the operand at
// the head); a binary operator closes a term that has one and opens the next.
bool VLPushOperator(VLContext* ctx, VLExpression* expression, uint32_t op) {
    VLExpressionTerm* last = expression->termsSentinel.prev;
    if (last->value.type == VL_OperatorValueType_None) {
        if (VLUnaryKindOfOperator(op) == 0) return false;
        VLUnaryOperatorEntry* entry = VLTakeRecord(ctx, &ctx->freeUnaryOperators);
        entry->op = op;
        entry->precedence = expression->nesting + VLPrefixPrecedence;
        entry->next = last->unaryOperators;
        last->unaryOperators = entry;
        return true;
    }
    uint32_t precedence = VLBinaryPrecedence(op);
    if (last->binaryOperator.op != 0 || precedence == 0) return false;
    last->binaryOperator.op = op;
    last->binaryOperator.precedence = precedence + expression->nesting;
    VLAppendTerm(ctx, expression);
    return true;
}

// Reads tokens into the term list until one fits no term. Constant
// expressions take no other operands than constants.
// expression := { prefix } operand { binary { prefix } operand }, with "(" ")" anywhere
static void VLParseTerms(VLContext* ctx, VLExpression* expression, bool allowOperands) {
    while (ctx->token && !VLIsStopped(ctx)) {
        VLExpressionTerm* last = expression->termsSentinel.prev;
        uint32_t op = VLOperatorCode(ctx->token);
        if (op != 0) {
            bool accepted = VLPushOperator(ctx, expression, op);
            ctx->lastOperator = ctx->token;  // for the error of an operand left out
            VLConsume(ctx);
            if (!accepted) return;
            continue;
        }
        if (VLAcceptPunctuation(ctx, VLCode("("))) {
            expression->nesting += VLParenthesisPrecedence;
            continue;
        }
        if (expression->nesting > 0 && VLAcceptPunctuation(ctx, VLCode(")"))) {
            expression->nesting -= VLParenthesisPrecedence;
            continue;
        }
        VLLocation location;
        int64_t constant = 0;
        VLOperatorValue value;
        if (allowOperands && VLParseOperand(ctx, &location)) value = VLSymbolValue(location);
        else if (VLParseConstant(ctx, &constant)) value = VLConstantValue(constant);
        else return;
        if (last->value.type != VL_OperatorValueType_None) return;  // two operands in a row
        last->value = value;
    }
}

void VLParseExpressionTerms(VLContext* ctx, VLExpression* expression) {
    VLParseTerms(ctx, expression, true);
}

// ---------------------------------------------------------------------------
// Reduction
// ---------------------------------------------------------------------------

// The error of an expression, or an operand position, without a value. When
// the expression stopped right after a name it could not resolve, the error
// says so in its detail.
static void VLRecordNoValue(VLContext* ctx) {
    VLError replaced = ctx->speculativeParse.error;  // an error among the terms (an unknown enumeration value)
    VLRecordError(ctx, nullptr, VLExpectedIntegerExpression);
    VLToken* name = ctx->unresolvedName;
    if (name && name->next == ctx->token) {
        VLNoteErrorDetail(ctx, VLErrorDetail_UnknownName, name);
    } else if (replaced.detail == VLErrorDetail_UnknownEnumValue && replaced.subject->next == ctx->token) {
        VLNoteErrorDetail(ctx, VLErrorDetail_UnknownEnumValue, replaced.subject);
        if (ctx->lastStoredError) ctx->lastStoredError->enumeration = replaced.enumeration;
    } else if (ctx->lastOperator && ctx->lastOperator->next == ctx->token) {
        VLNoteErrorDetail(ctx, VLErrorDetail_MissingOperand, ctx->lastOperator);
    }
}

// An operand position left empty (after a binary operator, or after prefix
// operators only) is reported, and taken as 0 so the reduction can finish.
static VLOperatorValue VLRequireOperand(VLContext* ctx, VLOperatorValue value) {
    if (value.type != VL_OperatorValueType_None) return value;
    if (!VLIsStopped(ctx)) VLRecordNoValue(ctx);
    return VLConstantValue(0);
}

static VLOperatorValue VLApplyPrefixOperator(VLContext* ctx, VLOperatorValue operand, uint32_t op) {
    int32_t kind = VLUnaryKindOfOperator(op);
    VL_ASSERT(kind != 0);
    operand = VLRequireOperand(ctx, operand);
    if (operand.type == VL_OperatorValueType_Constant) {
        return VLConstantValue(VLEvaluateUnary(kind, operand.constant));
    }
    VLLocation result = VLNewSlot(ctx);
    VLEmitUnary(ctx, kind, result, operand.location);
    return VLSymbolValue(result);
}

// Applies the operators by precedence. Prefix operators of a term apply while
// they bind at least as tightly as the term's binary operator; a term then
// combines with the previous one while the previous operator binds at least
// as tightly as its own (so equal precedences associate to the left).
VLOperatorValue VLReduceExpression(VLContext* ctx, VLExpression* expression) {
    VLOperatorValue none;
    memset(&none, 0, sizeof none);
    if (VLIsStopped(ctx) || expression->nesting != 0) return none;
    VLExpressionTerm* sentinel = &expression->termsSentinel;
    VLExpressionTerm* current = sentinel->next;
    while (current != sentinel) {
        while (current->unaryOperators &&
               current->unaryOperators->precedence >= current->binaryOperator.precedence) {
            VLUnaryOperatorEntry* entry = current->unaryOperators;
            current->unaryOperators = entry->next;
            current->value = VLApplyPrefixOperator(ctx, current->value, entry->op);
            entry->next = nullptr;
            VLFreeUnaryOperators(ctx, entry);
        }
        VLExpressionTerm* previous = current->prev;
        if (current->unaryOperators || previous == sentinel ||
            previous->binaryOperator.precedence < current->binaryOperator.precedence) {
            current = current->next;
            continue;
        }
        VLOperatorValue left = VLRequireOperand(ctx, previous->value);
        VLOperatorValue right = VLRequireOperand(ctx, current->value);
        previous->value = VLApplyBinaryOperator(ctx, left, previous->binaryOperator.op, right);
        previous->binaryOperator = current->binaryOperator;
        VLRemoveTerm(current);
        VLFreeTerm(ctx, current);
        current = previous;
    }
    VL_ASSERT(sentinel->next != sentinel && sentinel->next == sentinel->prev);
    return sentinel->next->value;
}

// True when the expression has no value at all: a parenthesis still open, or
// a single empty term without prefix operators.
static bool VLHasNoValue(const VLExpression* expression) {
    const VLExpressionTerm* first = expression->termsSentinel.next;
    return expression->nesting != 0 ||
           (first == expression->termsSentinel.prev && first->value.type == VL_OperatorValueType_None &&
            !first->unaryOperators);
}

// Reduces an expression whose terms have been read. An expression begun after
// its attempt had failed records nothing. When an error arose among its own
// terms (an unknown enumeration value, a literal that does not convert) it is
// not reduced, but an expression without any value still reports so in that
// error's place. Returns None when nothing is to be stored.
static VLOperatorValue VLFinishExpression(VLContext* ctx, VLExpression* expression) {
    VLOperatorValue none;
    memset(&none, 0, sizeof none);
    if (expression->stoppedAtStart || ctx->speculativeParse.matched ||
        VLErrorIsValid(&ctx->output.error)) {
        return none;
    }
    if (VLErrorIsValid(&ctx->speculativeParse.error)) {
        if (VLHasNoValue(expression)) VLRecordNoValue(ctx);
        return none;
    }
    VLOperatorValue value = VLReduceExpression(ctx, expression);
    if (value.type == VL_OperatorValueType_None) VLRecordNoValue(ctx);
    return value;
}

void VLEvaluateInto(VLContext* ctx, VLExpression* expression, VLLocation destination) {
    VLOperatorValue value = VLFinishExpression(ctx, expression);
    if (VLIsStopped(ctx)) return;
    if (value.type == VL_OperatorValueType_Symbol) {
        VLEmitUnary(ctx, VLInstructionType_Copy, destination, value.location);
    } else if (value.type == VL_OperatorValueType_Constant) {
        VLEmitLoadConstant(ctx, destination, static_cast<uint64_t>(value.constant));
    }
}

// The expression's temporaries are free again afterwards; the destination,
// taken by the caller beforehand, stays taken.
VLLocation VLCompileExpressionInto(VLContext* ctx, VLLocation destination) {
    uint32_t savedSlots = VLSlotCounter(ctx);
    VLExpression* expression = VLStartExpression(ctx);
    VLParseTerms(ctx, expression, true);
    VLEvaluateInto(ctx, expression, destination);
    VLReleaseExpression(ctx, expression);
    VLSetSlotCounter(ctx, savedSlots);
    return destination;
}

// Numbers, literals, enumeration values, operators and parentheses only.
int64_t VLParseConstantExpression(VLContext* ctx) {
    VLExpression* expression = VLStartExpression(ctx);
    VLParseTerms(ctx, expression, false);
    VLOperatorValue value = VLFinishExpression(ctx, expression);
    VLReleaseExpression(ctx, expression);
    return value.type == VL_OperatorValueType_Constant ? value.constant : 0;
}

// ---------------------------------------------------------------------------
// Operands
// ---------------------------------------------------------------------------

bool VLParseConstant(VLContext* ctx, int64_t* value) {
    if (VLIsStopped(ctx)) return false;
    if (VLAcceptConstant(ctx, value)) return true;
    if (VLIsStopped(ctx)) return false;
    return VLParseEnumValue(ctx, value);
}

// A new slot written by one instruction of the given kind (no operands).
static VLLocation VLEmitIntoNewSlot(VLContext* ctx, int32_t type) {
    VLLocation slot = VLNewSlot(ctx);
    VLEmit(ctx, type)->destination = slot;
    return slot;
}

// After "has_type": the key goes to a new slot k, which then receives 1 when
// a type is registered under (category, key).
// "(" category "," expression ")"
static VLLocation VLParseHasType(VLContext* ctx) {
    VLExpectPunctuation(ctx, {VLCode("(")});
    VLToken* nameToken = ctx->token;
    VLString name = VLExpectIdentifier(ctx);
    VLExpectPunctuation(ctx, {VLCode(",")});
    VLLocation key = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, key);
    VLCategory* category = VLIsStopped(ctx) ? nullptr : VLFindCategory(ctx, name, nameToken);
    VLInstruction* test = VLEmit(ctx, VLInstructionType_HasType);
    test->destination = key;
    test->typeLookup.categoryIndex = category ? category->index : 0;
    test->typeLookup.key = key;
    VLExpectPunctuation(ctx, {VLCode(")")});
    return key;
}

// After "sizeof": the instance is decoded with its output hidden, from the
// current address (or the placement), and the distance the cursor moved is
// the size. The cursor is then put back where it was before the sizeof,
// placement included; the measured instance stays outside the member tree.
// "(" [ "@" "(" expression ")" ] type-instance ")"
static VLLocation VLParseSizeof(VLContext* ctx) {
    VLExpectPunctuation(ctx, {VLCode("(")});
    VLLocation result = VLNewSlot(ctx);
    uint32_t savedSlots = VLSlotCounter(ctx);
    VLLocation cursor = VLCursorLocation();
    VLEmit(ctx, VLInstructionType_HideMembers);
    VLLocation before = {};
    bool placed = VLIsPunctuation(ctx->token, VLCode("@")) && !VLIsStopped(ctx);
    if (placed) {
        before = VLNewSlot(ctx);
        VLEmitUnary(ctx, VLInstructionType_Copy, before, cursor);
    }
    VLParsePlacement(ctx, false);
    VLLocation start = VLNewSlot(ctx);
    VLEmitUnary(ctx, VLInstructionType_Copy, start, cursor);
    VLTypeInstance instance = VLParseTypeInstance(ctx);
    if (instance.pushFrame) instance.pushFrame->pushFrame.detached = 1;
    VLEmit(ctx, VLInstructionType_ShowMembers);
    VLEmitBinary(ctx, VLInstructionType_Subtract, result, cursor, start);
    VLEmitUnary(ctx, VLInstructionType_Copy, cursor, placed ? before : start);
    VLSetSlotCounter(ctx, savedSlots);
    VLExpectPunctuation(ctx, {VLCode(")")});
    return result;
}

enum VLPathResult { VLPath_NotFound, VLPath_Found, VLPath_Rejected };

// A member that a path names keeps its records at run time.
static void VLMarkReferenced(VLInstruction* member) {
    VL_ASSERT(member != nullptr);
    if (member->type == VLInstructionType_PushFrame) member->pushFrame.referenced = 1;
    else member->scalarExport.referenced = 1;
}

// A member path from the struct being defined: each step names a member (with
// an optional element number, element 0 without one); a member of named
// struct type continues with "." and the next name; a primitive member ends
// the path with a value-of-member into a new slot. The members of a path that
// is found are marked referenced: only such members keep their values at run time.
// name [ "[" expression "]" ] { "." name [ "[" expression "]" ] }
static VLPathResult VLParseMemberPath(VLContext* ctx, VLTypeDefinition* type, VLString name,
                                      VLToken* first, VLLocation* location) {
    VLInstruction fetch;
    memset(&fetch, 0, sizeof fetch);
    fetch.type = VLInstructionType_ValueOfMember;
    VLMember* steps[VLMaxPathSteps];
    VLPathStep path[VLMaxPathSteps];
    VLToken* nameToken = first;
    for (;;) {
        VLMember* member = VLFindMember(ctx, type, name);
        VLLocation element = VLNewSlot(ctx);
        if (VLAcceptPunctuation(ctx, VLCode("["))) {
            VLCompileExpressionInto(ctx, element);
            VLExpectPunctuation(ctx, {VLCode("]")});
        } else {
            VLEmitLoadConstant(ctx, element, 0);
        }
        if (!member || VLIsStopped(ctx)) return VLPath_NotFound;
        if (fetch.fetch.pathCount == VLMaxPathSteps) {
            VLRecordError(ctx, nameToken, "Member path too long (at most 16 steps).");
            return VLPath_Rejected;
        }
        steps[fetch.fetch.pathCount] = member;
        path[fetch.fetch.pathCount++] = VLPathStep{member->appearIndex, element};
        if (!member->isNested) break;
        if (member->typeReference.kind != VLTypeReference_Type) return VLPath_NotFound;
        type = member->typeReference.type;
        VLExpectPunctuation(ctx, {VLCode(".")});
        nameToken = ctx->token;
        name = VLExpectIdentifier(ctx);
        if (VLIsStopped(ctx)) return VLPath_NotFound;
    }
    fetch.destination = VLNewSlot(ctx);
    fetch.fetch.first = first;
    fetch.fetch.end = ctx->token;
    // The steps live out of line, so that every instruction is not sized for the longest path.
    fetch.fetch.path = VLArenaNew<VLPathStep>(ctx->arena, fetch.fetch.pathCount);
    memcpy(fetch.fetch.path, path, fetch.fetch.pathCount * sizeof path[0]);
    *location = VLAppendInstruction(ctx, &fetch)->destination;
    for (uint32_t i = 0; i < fetch.fetch.pathCount; ++i) VLMarkReferenced(steps[i]->instruction);
    return VLPath_Found;
}

// A name inside a struct body: a var local, then a parameter, then a member
// path. When none fits, the cursor returns to the name and whatever the path
// search recorded is dropped, so the name can still be an enumeration value.
static bool VLParseName(VLContext* ctx, VLLocation* location) {
    VLTypeDefinition* type = ctx->typeDefinitionBeingParsed;
    if (!type) return false;
    VLToken* first = ctx->token;
    VLString name = VLAcceptIdentifier(ctx);
    if (name.length == 0) return false;
    VLLocalVariable* local = VLFindLocalVariable(type->locals, name);
    if (local) {
        *location = local->location;
        return true;
    }
    for (uint32_t i = 0; i < type->parameterCount; ++i) {
        if (VLStringEquals(type->parameters[i], name)) {
            *location = VLLocal(0, i + 2);
            return true;
        }
    }
    VLPathResult path = VLParseMemberPath(ctx, type, name, first, location);
    if (path == VLPath_Found) return true;
    if (path == VLPath_Rejected) {
        *location = VLLocation{};
        return true;  // the error stands; the expression stops here
    }
    ctx->token = first;
    ctx->speculativeParse.error = VLError{};
    return false;
}

// "current_address" "(" ")" | "@" | "size_of_file" | "has_type" ... | "sizeof" ... | name
bool VLParseOperand(VLContext* ctx, VLLocation* location) {
    if (VLIsStopped(ctx) || !ctx->token) return false;
    if (VLAcceptWord(ctx, "current_address")) {
        VLExpectPunctuation(ctx, {VLCode("(")});
        VLExpectPunctuation(ctx, {VLCode(")")});
        *location = VLCursorLocation();
        return true;
    }
    if (VLAcceptPunctuation(ctx, VLCode("@"))) {
        *location = VLCursorLocation();
        return true;
    }
    if (VLAcceptWord(ctx, "size_of_file")) {
        *location = VLEmitIntoNewSlot(ctx, VLInstructionType_SizeOfFile);
        return true;
    }
    if (VLAcceptWord(ctx, "has_type")) {
        *location = VLParseHasType(ctx);
        return true;
    }
    if (VLAcceptWord(ctx, "sizeof")) {
        *location = VLParseSizeof(ctx);
        return true;
    }
    return VLParseName(ctx, location);
}
