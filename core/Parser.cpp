// Parser.cpp - the statement compiler: VLCompile and everything it shares.
//
// Owns the compile context's life, the token primitives every compiler file
// uses, error recording (one destination rule, the placeholder for attempts
// that fail before consuming a token, messages kept as parts until one is
// reported, then written in two passes),
// attempts and the choice of the error among them, slots, scopes, and every
// statement: breakpoint, print, assert, var, assignments, if / else if /
// else, while, do, for, the closing brace, default, layout, typedef and
// include (the included file's tokens are compiled in place, each file once).
// Statements are recognised by trying their forms in turn on the same tokens;
// each form emits its instructions as it parses.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "Compiler.h"

static const char VLPlaceholderMessage[] = "Speculative early out - should never be printed out.";

// ---------------------------------------------------------------------------
// Error recording
// ---------------------------------------------------------------------------

// The destination rule: inside a statement the error belongs to the current
// attempt (replacing what it held; dropped once the statement matched);
// outside one the first error of the compilation stands.
static bool VLErrorWouldBeDropped(const VLContext* ctx) {
    if (ctx->speculativeParse.firstToken) return ctx->speculativeParse.matched != 0;
    return VLErrorIsValid(&ctx->output.error);
}

// An error with its message and no detail yet.
static VLError VLMakeError(VLToken* token, uint64_t length, const char* message) {
    VLError error{};
    error.token = token;
    error.length = length;
    error.message = message;
    return error;
}

static void VLStoreError(VLContext* ctx, VLToken* token, uint64_t length, const char* message) {
    ctx->lastStoredError = nullptr;
    if (VLErrorWouldBeDropped(ctx)) return;
    VLError error = VLMakeError(token, length, message);
    if (ctx->speculativeParse.firstToken) {
        ctx->speculativeParse.error = error;
        ctx->speculativeParse.errorParts.form = VLMessageForm_Text;
        ctx->lastStoredError = &ctx->speculativeParse.error;
    } else {
        ctx->output.error = error;
        ctx->lastStoredError = &ctx->output.error;
    }
}

void VLNoteErrorDetail(VLContext* ctx, uint32_t detail, VLToken* subject) {
    if (!ctx->lastStoredError) return;
    ctx->lastStoredError->detail = detail;
    ctx->lastStoredError->subject = subject;
}

// Stores an error given as parts by the destination rule; `fill` writes the
// items or arguments after form, count and format are set. Inside a statement
// the parts go straight into the attempt's record (most attempts' errors are
// never reported); outside one the error becomes the compilation's error and
// is written out at once.
template <class Fill>
static void VLStoreErrorParts(VLContext* ctx, VLToken* token, uint32_t form, const char* format, Fill fill) {
    ctx->lastStoredError = nullptr;
    if (VLErrorWouldBeDropped(ctx)) return;
    VLMessageParts outside;
    bool speculative = ctx->speculativeParse.firstToken != nullptr;
    VLMessageParts* parts = speculative ? &ctx->speculativeParse.errorParts : &outside;
    parts->form = form;
    parts->count = 0;
    parts->format = format;
    fill(parts);
    VLError error = VLMakeError(token, 0, format);
    if (speculative) {
        ctx->speculativeParse.error = error;
        ctx->lastStoredError = &ctx->speculativeParse.error;
    } else {
        VLWriteErrorText(ctx, &error, parts);
        ctx->output.error = error;
        ctx->lastStoredError = &ctx->output.error;
    }
}

void VLRecordError(VLContext* ctx, VLToken* token, const char* message) {
    VLStoreError(ctx, token ? token : ctx->token, strlen(message), message);
}

// Takes the arguments of a format as data. The formats are the compiler's own
// texts; the conversions they use are %s, %.*s, %u, %d, %c and %%.
static void VLCaptureArguments(VLMessageParts* parts, const char* format, va_list arguments) {
    for (const char* c = strchr(format, '%'); c; c = strchr(c + 1, '%')) {
        ++c;
        if (*c == '%') continue;
        VL_ASSERT(parts->count < VLMaxMessageArguments);
        VLMessageArgument* argument = &parts->arguments[parts->count++];
        if (c[0] == '.' && c[1] == '*') {
            argument->number = va_arg(arguments, int);
            c += 2;
            VL_ASSERT(*c == 's');
            argument->text = va_arg(arguments, const char*);
            continue;
        }
        switch (*c) {
            case 's': argument->text = va_arg(arguments, const char*); break;
            case 'u': argument->number = va_arg(arguments, unsigned); break;
            case 'd': argument->number = va_arg(arguments, int); break;
            case 'c': argument->number = va_arg(arguments, int); break;
            default: VL_ASSERT(!"unsupported conversion in an error format");
        }
    }
}

// Formats only when the message can be seen: an attempt that has consumed no
// token and is not the statement's last one records the placeholder instead,
// because a later attempt always takes its place. Otherwise the format and its
// arguments are kept as parts.
void VLReportError(VLContext* ctx, VLToken* token, const char* format, ...) {
    if (!token) token = ctx->token;
    if (VLErrorWouldBeDropped(ctx)) return;
    const VLSpeculativeParse* speculative = &ctx->speculativeParse;
    if (speculative->firstToken && speculative->tokenCount == 0 && !speculative->finalAttempt) {
        VLStoreError(ctx, token, strlen(VLPlaceholderMessage), VLPlaceholderMessage);
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    VLStoreErrorParts(ctx, token, VLMessageForm_Format, format,
                      [&](VLMessageParts* parts) { VLCaptureArguments(parts, format, arguments); });
    va_end(arguments);
}

// A message written in two passes: measured with a null buffer, then written
// into an allocation of exactly that size.
struct VLMessageBuilder {
    char* buffer;
    uint64_t length;
};

static void VLAppendText(VLMessageBuilder* builder, const char* text, size_t length) {
    if (builder->buffer) memcpy(builder->buffer + builder->length, text, length);
    builder->length += length;
}

// The separator before item i of n: none first, " or " before the last,
// `between` otherwise.
static void VLAppendSeparator(VLMessageBuilder* builder, size_t i, size_t n, const char* between) {
    if (i == 0) return;
    const char* separator = i + 1 == n ? " or " : between;
    VLAppendText(builder, separator, strlen(separator));
}

// "Expected identifier a, b or c"
static void VLWriteKeywordMessage(VLMessageBuilder* builder, const VLMessageParts* parts) {
    const char prefix[] = "Expected identifier ";
    VLAppendText(builder, prefix, sizeof prefix - 1);
    for (uint32_t i = 0; i < parts->count; ++i) {
        VLAppendSeparator(builder, i, parts->count, ", ");
        VLAppendText(builder, parts->words[i], strlen(parts->words[i]));
    }
}

// "Expected punctuation , or )": each code written as its characters, lowest byte first.
static void VLWritePunctuationMessage(VLMessageBuilder* builder, const VLMessageParts* parts) {
    const char prefix[] = "Expected punctuation ";
    VLAppendText(builder, prefix, sizeof prefix - 1);
    for (uint32_t i = 0; i < parts->count; ++i) {
        VLAppendSeparator(builder, i, parts->count, " ");
        for (uint32_t code = parts->codes[i]; code != 0; code >>= 8) {
            char c = char(code & 0xFF);
            VLAppendText(builder, &c, 1);
        }
    }
}

// The text of a %s or %.*s argument: as printf takes it, up to the precision
// (none when negative) and never past a NUL.
static size_t VLArgumentTextLength(const VLMessageArgument* argument, bool hasPrecision) {
    if (!hasPrecision || argument->number < 0) return strlen(argument->text);
    const void* nul = memchr(argument->text, '\0', size_t(argument->number));
    return nul ? size_t(static_cast<const char*>(nul) - argument->text) : size_t(argument->number);
}

// A format with its captured arguments, converted as printf converts them.
static void VLWriteFormattedMessage(VLMessageBuilder* builder, const VLMessageParts* parts) {
    uint32_t next = 0;
    for (const char* c = parts->format; *c; ++c) {
        if (*c != '%') {
            VLAppendText(builder, c, 1);
            continue;
        }
        ++c;
        if (*c == '%') {
            VLAppendText(builder, c, 1);
            continue;
        }
        VL_ASSERT(next < parts->count);
        const VLMessageArgument* argument = &parts->arguments[next++];
        bool hasPrecision = c[0] == '.' && c[1] == '*';
        if (hasPrecision) c += 2;
        char digits[24];
        int length = 0;
        switch (*c) {
            case 's':
                VLAppendText(builder, argument->text, VLArgumentTextLength(argument, hasPrecision));
                break;
            case 'u':
                length = snprintf(digits, sizeof digits, "%u", unsigned(argument->number));
                VLAppendText(builder, digits, size_t(length));
                break;
            case 'd':
                length = snprintf(digits, sizeof digits, "%d", int(argument->number));
                VLAppendText(builder, digits, size_t(length));
                break;
            case 'c':
                digits[0] = char(static_cast<unsigned char>(argument->number));
                VLAppendText(builder, digits, 1);
                break;
            default: VL_ASSERT(!"unsupported conversion in an error format");
        }
    }
}

void VLWriteErrorText(VLContext* ctx, VLError* error, const VLMessageParts* parts) {
    void (*write)(VLMessageBuilder*, const VLMessageParts*) = nullptr;
    switch (parts->form) {
        case VLMessageForm_Text: return;
        case VLMessageForm_Format: write = VLWriteFormattedMessage; break;
        case VLMessageForm_Keywords: write = VLWriteKeywordMessage; break;
        case VLMessageForm_Punctuation: write = VLWritePunctuationMessage; break;
        default: VL_ASSERT(!"unknown message form");
    }
    VLMessageBuilder measure = {nullptr, 0};
    write(&measure, parts);
    VL_ASSERT(measure.length > 0);
    // A formatted text keeps a terminating NUL (the arena's zero) after its bytes.
    size_t extra = parts->form == VLMessageForm_Format ? 1 : 0;
    VLMessageBuilder fill = {VLArenaNew<char>(ctx->arena, measure.length + extra), 0};
    write(&fill, parts);
    VL_ASSERT(fill.length == measure.length);
    error->message = fill.buffer;
    error->length = fill.length;
    if (parts->form == VLMessageForm_Keywords) VLNoteExpectedWords(error, parts);
}

// An expected-item message: the current token matched none of the items.
static void VLRecordExpected(VLContext* ctx, uint32_t form, const void* items, size_t count) {
    VL_ASSERT(count > 0 && count <= VLMaxMessageItems);
    const char* prefix = form == VLMessageForm_Keywords ? "Expected identifier " : "Expected punctuation ";
    VLStoreErrorParts(ctx, ctx->token, form, prefix, [&](VLMessageParts* parts) {
        parts->count = uint32_t(count);
        if (form == VLMessageForm_Keywords) memcpy(parts->words, items, count * sizeof parts->words[0]);
        else memcpy(parts->codes, items, count * sizeof parts->codes[0]);
    });
}

// ---------------------------------------------------------------------------
// Token primitives
// ---------------------------------------------------------------------------

// A first compilation that ran out of slot numbers stops as well: it is
// compiled again with per-body numbering, so going on would be wasted work
// (and nested operands would nest without bound).
bool VLIsStopped(const VLContext* ctx) {
    return ctx->speculativeParse.matched || VLErrorIsValid(&ctx->speculativeParse.error) ||
           VLErrorIsValid(&ctx->output.error) || ctx->slotOverflow;
}

void VLConsume(VLContext* ctx) {
    if (!ctx->token) return;
    ctx->token = ctx->token->next;
    ctx->speculativeParse.tokenCount += 1;
}

bool VLIsPunctuation(const VLToken* token, uint32_t code) {
    return token && token->type == VLTokenType_Punctuation && token->punctuation.code == code;
}

// Compares byte by byte, stopping at the first difference: most comparisons
// (a keyword against an unrelated word) end on the first character.
bool VLTokenIs(const VLToken* token, const char* word) {
    if (!token || token->start.cursor[0] != word[0]) return false;
    VLString text = VLTokenText(token);
    for (uint32_t i = 0; i < text.length; ++i) {
        if (word[i] == '\0' || word[i] != text.chars[i]) return false;
    }
    return word[text.length] == '\0';
}

uint32_t VLExpectKeyword(VLContext* ctx, std::initializer_list<const char*> words) {
    if (VLIsStopped(ctx)) return 0;
    uint32_t number = 1;
    for (const char* word : words) {
        if (VLTokenIs(ctx->token, word)) {
            VLConsume(ctx);
            return number;
        }
        ++number;
    }
    VLRecordExpected(ctx, VLMessageForm_Keywords, words.begin(), words.size());
    return 0;
}

uint32_t VLExpectPunctuation(VLContext* ctx, std::initializer_list<uint32_t> codes) {
    if (VLIsStopped(ctx)) return 0;
    for (uint32_t code : codes) {
        if (VLIsPunctuation(ctx->token, code)) {
            VLConsume(ctx);
            return code;
        }
    }
    VLRecordExpected(ctx, VLMessageForm_Punctuation, codes.begin(), codes.size());
    return 0;
}

uint32_t VLAcceptPunctuation(VLContext* ctx, uint32_t code) {
    if (VLIsStopped(ctx) || !VLIsPunctuation(ctx->token, code)) return 0;
    VLConsume(ctx);
    return code;
}

VLString VLAcceptIdentifier(VLContext* ctx) {
    if (VLIsStopped(ctx) || !ctx->token || ctx->token->type != VLTokenType_Identifier) {
        return VLString{0, nullptr};
    }
    VLString text = VLTokenText(ctx->token);
    VLConsume(ctx);
    return text;
}

VLString VLExpectIdentifier(VLContext* ctx) {
    if (VLIsStopped(ctx)) return VLString{0, nullptr};
    VLString text = VLAcceptIdentifier(ctx);
    if (text.length == 0) VLRecordError(ctx, nullptr, "Expected identifier.");
    return text;
}

int VLAcceptWord(VLContext* ctx, const char* word) {
    if (VLIsStopped(ctx) || !VLTokenIs(ctx->token, word)) return 0;
    VLConsume(ctx);
    return 1;
}

VLString VLCopyString(VLContext* ctx, VLString text) {
    if (text.length == 0) return VLString{0, nullptr};
    char* copy = VLArenaNew<char>(ctx->arena, text.length);
    memcpy(copy, text.chars, text.length);
    return VLString{text.length, copy};
}

// ---------------------------------------------------------------------------
// Attempts
// ---------------------------------------------------------------------------

void VLBeginAttempt(VLContext* ctx) {
    ctx->speculativeParse.savedEnums = ctx->output.enums;
    ctx->speculativeParse.tokenCount = 0;
}

// A failed attempt is backed out (cursor and enumerations) and its error kept
// when it got at least as far as the best so far: ties go to the later one.
void VLEndAttempt(VLContext* ctx) {
    VLSpeculativeParse* speculative = &ctx->speculativeParse;
    if (!VLErrorIsValid(&speculative->error)) {
        speculative->matched = 1;
        return;
    }
    ctx->token = speculative->firstToken;
    if (ctx->output.enums != speculative->savedEnums) {
        ctx->output.enums = speculative->savedEnums;
        VLReindexEnums(ctx);
    }
    if (speculative->tokenCount >= speculative->bestTokenCount) {
        speculative->bestError = speculative->error;
        speculative->bestErrorParts = speculative->errorParts;
        speculative->bestTokenCount = speculative->tokenCount;
    }
    speculative->error = VLError{};
}

typedef void (*VLStatementParser)(VLContext* ctx);

// Runs one statement form as an attempt, unless an earlier form matched.
static void VLAttempt(VLContext* ctx, VLStatementParser parse, bool final = false) {
    if (ctx->speculativeParse.matched) return;
    ctx->speculativeParse.finalAttempt = final;
    VLBeginAttempt(ctx);
    parse(ctx);
    VLEndAttempt(ctx);
}

// A form that begins with `keyword` (and is not the statement's last) runs
// only when the statement begins with that word. Otherwise it would fail on
// the first token without effect, and an error recorded before any token is
// consumed never becomes the reported one: the last attempt, which always
// runs, ties or beats it.
static void VLAttemptKeyword(VLContext* ctx, const char* keyword, VLStatementParser parse) {
    if (!VLTokenIs(ctx->token, keyword)) return;
    VLAttempt(ctx, parse);
}

// ---------------------------------------------------------------------------
// Slots
// ---------------------------------------------------------------------------

VLLocation VLLocal(uint32_t depth, uint32_t index) { return VLLocation{VLLocationKind_Local, depth, index}; }

VLLocation VLGlobal(uint32_t depth, uint32_t index) { return VLLocation{VLLocationKind_Global, depth, index}; }

VLLocation VLCursorLocation() { return VLGlobal(0, 1); }

uint32_t VLSlotCounter(const VLContext* ctx) { return ctx->stacks[ctx->stackIndex]; }

void VLSetSlotCounter(VLContext* ctx, uint32_t counter) { ctx->stacks[ctx->stackIndex] = counter; }

// Records the frame-capacity error straight into the compilation's error, so
// that no attempt can replace or drop it: a slot number past the frame must
// never reach the runtime.
static void VLReportFrameFull(VLContext* ctx) {
    if (VLErrorIsValid(&ctx->output.error)) return;
    const char* message = ctx->typeDefinitionBeingParsed
                              ? "Too many values in one struct body (a frame holds 64 slots)."
                              : "Too many values at the top level (a frame holds 64 slots).";
    ctx->output.error = VLMakeError(ctx->token, strlen(message), message);
}

// Hands out the next slot number of the current frame level. A number past
// the frame's 64 slots marks the first compilation for a second one with
// per-body numbering; in that second compilation it is an error.
static uint32_t VLTakeSlotNumber(VLContext* ctx) {
    uint32_t number = ctx->stacks[ctx->stackIndex] + 2;
    ctx->stacks[ctx->stackIndex] += 1;
    if (number >= VLFrameSlotCount) {
        if (ctx->slotsPerBody) VLReportFrameFull(ctx);
        else ctx->slotOverflow = 1;
    }
    return number;
}

VLLocation VLNewSlot(VLContext* ctx) { return VLLocal(0, VLTakeSlotNumber(ctx)); }

// ---------------------------------------------------------------------------
// Scopes
// ---------------------------------------------------------------------------

static VLScope* VLPushScope(VLContext* ctx, uint32_t type) {
    VLScope* scope = ctx->freeScopes;
    if (scope) ctx->freeScopes = scope->next;
    else scope = VLArenaNew<VLScope>(ctx->arena);
    *scope = VLScope{};
    scope->type = type;
    scope->next = ctx->scopes;
    ctx->scopes = scope;
    return scope;
}

static void VLPopScope(VLContext* ctx) {
    VLScope* scope = ctx->scopes;
    VL_ASSERT(scope != nullptr);
    ctx->scopes = scope->next;
    scope->next = ctx->freeScopes;
    ctx->freeScopes = scope;
}

static bool VLIsIfChainScope(const VLScope* scope) {
    return scope && scope->type >= VL_ScopeType_If && scope->type <= VL_ScopeType_Else;
}

// ---------------------------------------------------------------------------
// Statements allowed everywhere
// ---------------------------------------------------------------------------

static const char VLUnmatchedParenthesis[] = "Expected ) to close this (.";

// "breakpoint" "(" ")" ";"
static void VLParseBreakpoint(VLContext* ctx) {
    VLExpectKeyword(ctx, {"breakpoint"});
    VLExpectPunctuation(ctx, {VLCode("(")});
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (!VLIsStopped(ctx)) VLEmit(ctx, VLInstructionType_Breakpoint);
}

// The message of a print without a string literal: the source text from the
// "(" through its matching ")".
static VLString VLParenthesisedText(const VLToken* open) {
    const VLToken* close = open->punctuation.match;
    return VLString{close->end.offset - open->start.offset + 1, open->start.cursor};
}

// "print" "(" ( string [ "," expression ] | expression ) ")" ";"
static void VLParsePrint(VLContext* ctx) {
    uint32_t savedSlots = VLSlotCounter(ctx);
    if (!VLExpectKeyword(ctx, {"print"})) return;
    VLToken* open = ctx->token;
    if (!VLExpectPunctuation(ctx, {VLCode("(")})) return;
    VLString message;
    bool hasValue = true;
    if (ctx->token && ctx->token->type == VLTokenType_String) {
        message = VLCopyString(ctx, VLTokenText(ctx->token));
        VLConsume(ctx);
        hasValue = VLAcceptPunctuation(ctx, VLCode(",")) != 0;
    } else if (!ctx->token) {
        message = VLCopyString(ctx, VLString{3, "???"});
    } else if (!open->punctuation.match) {
        VLRecordError(ctx, open, VLUnmatchedParenthesis);
        return;
    } else {
        message = VLCopyString(ctx, VLParenthesisedText(open));
    }
    VLLocation value = {};
    if (hasValue) {
        value = VLNewSlot(ctx);
        VLCompileExpressionInto(ctx, value);
    }
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (!VLIsStopped(ctx)) {
        VLInstruction* print = VLEmit(ctx, VLInstructionType_Print);
        print->print.message = message;
        print->print.value = value;
    }
    VLSetSlotCounter(ctx, savedSlots);
}

// "assert" "(" expression ")" ";"
static void VLParseAssert(VLContext* ctx) {
    uint32_t savedSlots = VLSlotCounter(ctx);
    VLToken* keyword = ctx->token;
    if (!VLExpectKeyword(ctx, {"assert"})) return;
    VLExpectPunctuation(ctx, {VLCode("(")});
    VLLocation condition = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, condition);
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (!VLIsStopped(ctx)) {
        VLInstruction* assertion = VLEmit(ctx, VLInstructionType_Assert);
        assertion->assertion.condition = condition;
        assertion->assertion.token = keyword;
    }
    VLSetSlotCounter(ctx, savedSlots);
}

// A local of the struct being defined; its slot stays taken (a for loop gives
// it back at its closing brace).
// "var" identifier [ "=" expression ] ";"
static void VLParseVar(VLContext* ctx) {
    VLToken* keyword = ctx->token;
    if (!VLExpectKeyword(ctx, {"var"})) return;
    VLTypeDefinition* type = ctx->typeDefinitionBeingParsed;
    if (!type) {
        VLRecordError(ctx, keyword, "Local variables (var) are only allowed inside a struct body.");
        return;
    }
    VLString name = VLExpectIdentifier(ctx);
    if (VLIsStopped(ctx)) return;
    VLLocalVariable* local = VLArenaNew<VLLocalVariable>(ctx->arena);
    local->name = VLCopyString(ctx, name);
    local->location = VLNewSlot(ctx);
    local->next = type->locals;
    type->locals = local;
    if (VLAcceptPunctuation(ctx, VLCode("="))) {
        VLCompileExpressionInto(ctx, local->location);
        VLExpectPunctuation(ctx, {VLCode(";")});
    } else {
        VLExpectPunctuation(ctx, {VLCode(";")});
        if (!VLIsStopped(ctx)) VLEmitLoadConstant(ctx, local->location, 0);
    }
}

// ---------------------------------------------------------------------------
// Assignments
// ---------------------------------------------------------------------------

// "@" | local-name
static bool VLParseAssignmentTarget(VLContext* ctx, VLLocation* target) {
    if (VLIsStopped(ctx)) return false;
    if (VLAcceptPunctuation(ctx, VLCode("@"))) {
        *target = VLCursorLocation();
        return true;
    }
    VLToken* at = ctx->token;
    VLString name = VLAcceptIdentifier(ctx);
    VLTypeDefinition* type = ctx->typeDefinitionBeingParsed;
    VLLocalVariable* local = name.length && type ? VLFindLocalVariable(type->locals, name) : nullptr;
    if (local) {
        *target = local->location;
        return true;
    }
    VLString text = at ? VLTokenText(at) : VLString{0, ""};
    VLReportError(ctx, at, "Expected local variable or @, got '%.*s'.", int(text.length), text.chars);
    return false;
}

// The binary operator of a compound assignment: its code without the "=".
static uint32_t VLOperatorOfCompound(uint32_t code) {
    return code > 0xFFFF ? code & 0xFFFF : code & 0xFF;
}

// The source of a compound assignment is not parenthesised: the target is the
// expression's first operand and the operator its first binary operator, so
// x -= a - b computes x - a - b.
// target ( "<<=" | ">>=" | "^=" | "|=" | "&=" | "%=" | "/=" | "*=" | "-=" | "+=" | "=" ) expression
static void VLParseAssignment(VLContext* ctx) {
    uint32_t savedSlots = VLSlotCounter(ctx);
    VLLocation target;
    if (!VLParseAssignmentTarget(ctx, &target)) return;
    uint32_t op = VLExpectPunctuation(
        ctx, {VLCode("<<="), VLCode(">>="), VLCode("^="), VLCode("|="), VLCode("&="), VLCode("%="),
              VLCode("/="), VLCode("*="), VLCode("-="), VLCode("+="), VLCode("=")});
    if (op == VLCode("=")) {
        VLCompileExpressionInto(ctx, target);
    } else if (op != 0) {
        VLExpression* expression = VLStartExpression(ctx);
        VLExpressionTerm* first = expression->termsSentinel.next;
        first->value.type = VL_OperatorValueType_Symbol;
        first->value.location = target;
        VLPushOperator(ctx, expression, VLOperatorOfCompound(op));
        VLParseExpressionTerms(ctx, expression);
        VLEvaluateInto(ctx, expression, target);
        VLReleaseExpression(ctx, expression);
    }
    VLSetSlotCounter(ctx, savedSlots);
}

// assignment ";"
static void VLParseAssignmentStatement(VLContext* ctx) {
    VLParseAssignment(ctx);
    VLExpectPunctuation(ctx, {VLCode(";")});
}

// ---------------------------------------------------------------------------
// Blocks
// ---------------------------------------------------------------------------

// Compiles the condition into a new slot c, negated, and returns the
// conditional goto on c that leaves the block (its target is patched at the
// block's end). The counter is put back: c is only read by that goto.
// "if" "(" expression ")" "{"
static VLInstruction* VLParseIfHeader(VLContext* ctx) {
    uint32_t savedSlots = VLSlotCounter(ctx);
    if (!VLExpectKeyword(ctx, {"if"})) return nullptr;
    VLExpectPunctuation(ctx, {VLCode("(")});
    VLLocation condition = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, condition);
    if (!VLIsStopped(ctx)) VLEmitUnary(ctx, VLInstructionType_LogicalNot, condition, condition);
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLExpectPunctuation(ctx, {VLCode("{")});
    VLInstruction* exitJump = nullptr;
    if (!VLIsStopped(ctx)) exitJump = VLEmitConditionalGoto(ctx, condition, 0);
    VLSetSlotCounter(ctx, savedSlots);
    return exitJump;
}

// Opens an if block.
// "if" "(" expression ")" "{"
static void VLParseIf(VLContext* ctx) {
    VLInstruction* conditionalGoto = VLParseIfHeader(ctx);
    if (conditionalGoto) VLPushScope(ctx, VL_ScopeType_If)->conditionalGoto = conditionalGoto;
}

// Tried only right after the "}" of an if or else-if block.
// "else" ( "if" "(" expression ")" "{" | "{" )
static void VLParseElse(VLContext* ctx) {
    if (!VLExpectKeyword(ctx, {"else"})) return;
    if (VLTokenIs(ctx->token, "if")) {
        VLInstruction* conditionalGoto = VLParseIfHeader(ctx);
        if (conditionalGoto) VLPushScope(ctx, VL_ScopeType_ElseIf)->conditionalGoto = conditionalGoto;
        return;
    }
    VLExpectKeyword(ctx, {"{"});
    if (!VLIsStopped(ctx)) VLPushScope(ctx, VL_ScopeType_Else);
}

// The condition slot stays taken for the whole loop.
// "while" "(" expression ")" "{"
static void VLParseWhile(VLContext* ctx) {
    uint32_t loopStart = VLContinueAfterLast(ctx);
    if (!VLExpectKeyword(ctx, {"while"})) return;
    VLExpectPunctuation(ctx, {VLCode("(")});
    if (VLIsStopped(ctx)) return;
    VLLocation condition = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, condition);
    VLInstruction* exitJump = nullptr;
    if (!VLIsStopped(ctx)) {
        VLEmitUnary(ctx, VLInstructionType_LogicalNot, condition, condition);
        exitJump = VLEmitConditionalGoto(ctx, condition, 0);
    }
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLExpectPunctuation(ctx, {VLCode("{")});
    if (VLIsStopped(ctx)) return;
    VLScope* scope = VLPushScope(ctx, VL_ScopeType_While);
    scope->loopStart = loopStart;
    scope->conditionalGoto = exitJump;
}

// The condition is compiled by the closing brace.
// "do" "{"
static void VLParseDo(VLContext* ctx) {
    VLExpectKeyword(ctx, {"do"});
    VLExpectPunctuation(ctx, {VLCode("{")});
    if (VLIsStopped(ctx)) return;
    VLPushScope(ctx, VL_ScopeType_Do)->loopStart = VLContinueAfterLast(ctx);
}

// The increment clause is skipped here and compiled at the closing brace;
// every slot taken from the "for" on is given back there.
// "for" "(" ( ";" | var-statement ) expression ";" [ assignment ] ")" "{"
static void VLParseFor(VLContext* ctx) {
    uint32_t savedSlots = VLSlotCounter(ctx);
    if (!VLExpectKeyword(ctx, {"for"})) return;
    VLToken* open = ctx->token;
    VLExpectPunctuation(ctx, {VLCode("(")});
    if (VLIsStopped(ctx)) return;
    if (!open->punctuation.match) {
        VLRecordError(ctx, open, VLUnmatchedParenthesis);
        return;
    }
    VLLocalVariable* savedLocals = ctx->typeDefinitionBeingParsed->locals;
    if (!VLAcceptPunctuation(ctx, VLCode(";"))) VLParseVar(ctx);
    if (VLIsStopped(ctx)) return;
    uint32_t loopStart = VLContinueAfterLast(ctx);
    VLLocation condition = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, condition);
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (VLIsStopped(ctx)) return;
    VLEmitUnary(ctx, VLInstructionType_LogicalNot, condition, condition);
    VLInstruction* exitJump = VLEmitConditionalGoto(ctx, condition, 0);
    VLToken* increment = nullptr;
    if (!VLAcceptPunctuation(ctx, VLCode(")"))) increment = ctx->token;
    ctx->token = open->punctuation.match->next;
    VLExpectPunctuation(ctx, {VLCode("{")});
    if (VLIsStopped(ctx)) return;
    VLScope* scope = VLPushScope(ctx, VL_ScopeType_For);
    scope->savedSlotCount = savedSlots;
    scope->loopStart = loopStart;
    scope->conditionalGoto = exitJump;
    scope->increment = increment;
    scope->savedLocals = savedLocals;
}

// ---------------------------------------------------------------------------
// Closing a scope. N is the instruction count at the brace; jump targets
// name the instruction after which execution continues.
// ---------------------------------------------------------------------------

// "}" ";"
static void VLCloseStruct(VLContext* ctx) {
    VLExpectPunctuation(ctx, {VLCode("}")});
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (VLIsStopped(ctx)) return;
    VLTypeDefinition* type = ctx->typeDefinitionBeingParsed;
    VLInstruction* end = VLEmit(ctx, VLInstructionType_EndStructDefinition);
    if (type->startInstruction) type->startInstruction->structDefinition.endIndex = end->index;
    VLCloseStructBody(ctx, type);
    ctx->typeDefinitionBeingParsed = nullptr;
    VLPopScope(ctx);
    if (ctx->slotsPerBody) ctx->stacks[0] = ctx->savedTopLevelSlots;
}

// Closes an if chain whose last block just ended: every if and else-if
// block's exit goto jumps to the chain's end E.
static void VLCloseIfChain(VLContext* ctx, uint32_t chainEnd) {
    for (;;) {
        VLScope* scope = ctx->scopes;
        VL_ASSERT(VLIsIfChainScope(scope));
        bool chainStart = scope->type == VL_ScopeType_If;
        if (scope->type != VL_ScopeType_Else) scope->exitGoto->jump.targetIndex = chainEnd;
        VLPopScope(ctx);
        if (chainStart) return;
    }
}

// "}" of an if, else-if or else block (the brace is consumed directly). The
// chain stays open while the word "else" follows.
static void VLCloseIfBlock(VLContext* ctx) {
    VLScope* scope = ctx->scopes;
    VLConsume(ctx);
    uint32_t braceCount = ctx->output.instructions.totalCount;
    uint32_t chainEnd = braceCount - 1;
    if (scope->type != VL_ScopeType_Else) {
        scope->conditionalGoto->jump.targetIndex = braceCount;
        scope->exitGoto = VLEmitGoto(ctx, braceCount);
        chainEnd = braceCount;
    }
    if (VLTokenIs(ctx->token, "else")) return;
    if (scope->type == VL_ScopeType_If) VLPopScope(ctx);  // its goto continues right after itself
    else VLCloseIfChain(ctx, chainEnd);
}

// "}"; the increment clause (an assignment up to the for's ")") is compiled
// here, before the jump back.
static void VLCloseFor(VLContext* ctx) {
    VLScope* scope = ctx->scopes;
    VLExpectPunctuation(ctx, {VLCode("}")});
    if (VLIsStopped(ctx)) return;
    if (scope->increment) {
        VLToken* afterBrace = ctx->token;
        ctx->token = scope->increment;
        VLParseAssignment(ctx);
        VLExpectPunctuation(ctx, {VLCode(")")});
        if (VLIsStopped(ctx)) return;
        ctx->token = afterBrace;
    }
    VLInstruction* back = VLEmitGoto(ctx, scope->loopStart);
    scope->conditionalGoto->jump.targetIndex = back->index;
    VLSetSlotCounter(ctx, scope->savedSlotCount);
    // The loop's locals lose their names with their slots.
    ctx->typeDefinitionBeingParsed->locals = scope->savedLocals;
    VLPopScope(ctx);
}

// "}"
static void VLCloseWhile(VLContext* ctx) {
    VLScope* scope = ctx->scopes;
    VLExpectPunctuation(ctx, {VLCode("}")});
    if (VLIsStopped(ctx)) return;
    VLInstruction* back = VLEmitGoto(ctx, scope->loopStart);
    scope->conditionalGoto->jump.targetIndex = back->index;
    VLPopScope(ctx);
}

// The condition is used unnegated: the loop repeats while it holds. Its slot
// stays taken.
// "}" "while" "(" expression ")" ";"
static void VLCloseDo(VLContext* ctx) {
    VLScope* scope = ctx->scopes;
    VLExpectPunctuation(ctx, {VLCode("}")});
    VLExpectKeyword(ctx, {"while"});
    VLExpectPunctuation(ctx, {VLCode("(")});
    if (VLIsStopped(ctx)) return;
    VLLocation condition = VLNewSlot(ctx);
    VLCompileExpressionInto(ctx, condition);
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (VLIsStopped(ctx)) return;
    VLEmitConditionalGoto(ctx, condition, scope->loopStart);
    VLPopScope(ctx);
}

// Closes the innermost scope; each kind has its own closer above.
// "}" ...
static void VLParseCloseScope(VLContext* ctx) {
    VLScope* scope = ctx->scopes;
    if (!scope) {
        VLToken* brace = ctx->token;
        VLExpectPunctuation(ctx, {VLCode("}")});
        VLRecordError(ctx, brace, "Unexpected end of scope.");
        return;
    }
    switch (scope->type) {
        case VL_ScopeType_Struct: VLCloseStruct(ctx); break;
        case VL_ScopeType_If:
        case VL_ScopeType_ElseIf:
        case VL_ScopeType_Else: VLCloseIfBlock(ctx); break;
        case VL_ScopeType_For: VLCloseFor(ctx); break;
        case VL_ScopeType_While: VLCloseWhile(ctx); break;
        case VL_ScopeType_Do: VLCloseDo(ctx); break;
        default: VL_ASSERT(!"unknown scope type");
    }
}

// ---------------------------------------------------------------------------
// Top-level statements
// ---------------------------------------------------------------------------

// The byte order takes effect as soon as its word has matched; zero counts
// are empty for the members compiled after the statement.
// "default" "(" ( "endianess" "=" ( "little" | "big" ) | "zero_counts" "=" "empty" ) ")" ";"
static void VLParseDefault(VLContext* ctx) {
    VLExpectKeyword(ctx, {"default"});
    VLExpectPunctuation(ctx, {VLCode("(")});
    if (VLAcceptWord(ctx, "zero_counts")) {
        VLExpectPunctuation(ctx, {VLCode("=")});
        VLExpectKeyword(ctx, {"empty"});
        VLExpectPunctuation(ctx, {VLCode(")")});
        VLExpectPunctuation(ctx, {VLCode(";")});
        if (!VLIsStopped(ctx)) ctx->zeroCountsEmpty = 1;
        return;
    }
    VLExpectKeyword(ctx, {"endianess"});
    VLExpectPunctuation(ctx, {VLCode("=")});
    uint32_t order = VLExpectKeyword(ctx, {"little", "big"});
    if (order != 0) ctx->defaultBigEndian = order - 1;
    VLExpectPunctuation(ctx, {VLCode(")")});
    VLExpectPunctuation(ctx, {VLCode(";")});
}

// A root to decode: the call sequence of the referenced type, with an empty
// name, no array count and member number 0.
// "layout" type-reference ";"
static void VLParseLayout(VLContext* ctx) {
    if (!VLExpectKeyword(ctx, {"layout"})) return;
    VLTypeReference reference = VLParseTypeReference(ctx);
    if (reference.kind != VLTypeReference_None && !VLIsStopped(ctx)) {
        VLEmitPushFrame(ctx, &reference);
        VLEmitTypeCall(ctx, &reference);
    }
    VLExpectPunctuation(ctx, {VLCode(";")});
}

// The size is compiled here, into a global slot that stays taken; members
// declared through the typedef read it from there (a zstring or a number of
// groups from a copy, which the member replaces by the bytes it took).
// "typedef" ( primitive-type | zstring-or-number-type ) identifier ";"
static void VLParseTypedef(VLContext* ctx) {
    if (!VLExpectKeyword(ctx, {"typedef"})) return;
    VL_ASSERT(ctx->stackIndex == 0);
    VLLocation size = VLGlobal(0, VLTakeSlotNumber(ctx));
    VLPrimitiveSpec spec = VLMeasuredMayFollow(ctx) ? VLParseMeasuredSpec(ctx, size) : VLParsePrimitiveSpec(ctx, size);
    VLString name = VLExpectIdentifier(ctx);
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (VLIsStopped(ctx)) return;
    VLTypedef* record = VLArenaNew<VLTypedef>(ctx->arena);
    record->name = VLCopyString(ctx, name);
    record->spec = spec;
    record->size = size;
    record->next = ctx->output.typedefs;
    ctx->output.typedefs = record;
}

// ---------------------------------------------------------------------------
// Include files
// ---------------------------------------------------------------------------

// The text "a.vlt -> b.vlt -> ... -> name": the layout, every file being
// compiled through an include (outermost first), then `name`.
static const char* VLIncludeChainText(VLContext* ctx, const char* name) {
    const char* arrow = " -> ";
    size_t length = strlen(ctx->includeLoader->layoutName) + strlen(arrow) + strlen(name);
    uint32_t depth = 0;
    for (const VLIncludeFrame* frame = ctx->includeFrames; frame; frame = frame->next, ++depth)
        length += strlen(frame->name) + strlen(arrow);
    const char** names = VLArenaNew<const char*>(ctx->arena, depth + 2);
    names[0] = ctx->includeLoader->layoutName;
    uint32_t at = depth;
    for (const VLIncludeFrame* frame = ctx->includeFrames; frame; frame = frame->next) names[at--] = frame->name;
    names[depth + 1] = name;
    const char prefix[] = "Include cycle: ";
    char* text = VLArenaNew<char>(ctx->arena, sizeof prefix + length + 1);
    char* end = text + snprintf(text, sizeof prefix, "%s", prefix);
    for (uint32_t i = 0; i < depth + 2; ++i) end += sprintf(end, "%s%s", i ? arrow : "", names[i]);
    strcpy(end, ".");
    return text;
}

// The state of a file number, with room made for it. File numbers are small:
// the front end numbers files from 0 as it meets them.
static uint8_t* VLFileStateOf(VLContext* ctx, uint32_t file) {
    VL_ASSERT(file < (1u << 24));
    if (file >= ctx->fileStateCount) {
        uint32_t count = ctx->fileStateCount ? ctx->fileStateCount : 64;
        while (count <= file) count *= 2;
        uint8_t* grown = VLArenaNew<uint8_t>(ctx->arena, count);
        if (ctx->fileStateCount) memcpy(grown, ctx->fileStates, ctx->fileStateCount);
        ctx->fileStates = grown;
        ctx->fileStateCount = count;
        grown[0] = VLFileState_Open;  // the layout itself is compiled throughout
    }
    return &ctx->fileStates[file];
}

// Tried only when a string follows the word, so a layout's own name
// "include" keeps every meaning it has. The file's tokens come next, then the
// statements after this one; a file compiled before is not compiled again.
// A file is compiled the same wherever it is included: it starts with the
// language's defaults, and its default statements end with it.
// "include" string ";"
static void VLParseInclude(VLContext* ctx) {
    VLExpectKeyword(ctx, {"include"});
    VLToken* path = ctx->token;
    VLConsume(ctx);
    VLExpectPunctuation(ctx, {VLCode(";")});
    if (VLIsStopped(ctx)) return;
    const VLIncludeLoader* loader = ctx->includeLoader;
    if (!loader) {
        VLRecordError(ctx, path, "Include files are not available here.");
        return;
    }
    VLIncludedFile included = loader->load(loader->context, path->file,
                                           VLString{path->string.length, path->string.contentFirst});
    if (included.message) {
        VLRecordError(ctx, path, included.message);
        return;
    }
    uint8_t* state = VLFileStateOf(ctx, included.file);
    if (*state == VLFileState_Open) {
        VLRecordError(ctx, path, VLIncludeChainText(ctx, included.name));
        return;
    }
    if (*state == VLFileState_Compiled) return;
    if (!included.tokens) {
        *state = VLFileState_Compiled;
        return;
    }
    *state = VLFileState_Open;
    VLIncludeFrame* frame = VLArenaNew<VLIncludeFrame>(ctx->arena);
    frame->file = included.file;
    frame->name = included.name;
    frame->resume = ctx->token;
    frame->last = included.tokens;
    while (frame->last->next) frame->last = frame->last->next;
    frame->next = ctx->includeFrames;
    frame->savedBigEndian = ctx->defaultBigEndian;
    frame->savedZeroCountsEmpty = ctx->zeroCountsEmpty;
    ctx->includeFrames = frame;
    ctx->token = included.tokens;
    ctx->defaultBigEndian = 0;  // every file starts with the language's defaults
    ctx->zeroCountsEmpty = 0;
}

// An include inside a struct body: the form is known, its place is not.
// "include" string
static void VLParseMisplacedInclude(VLContext* ctx) {
    VLToken* keyword = ctx->token;
    VLExpectKeyword(ctx, {"include"});
    VLConsume(ctx);
    VLRecordError(ctx, keyword, "An include statement stands at the top level, outside struct bodies.");
}

// The include forms are candidates only where a quoted path follows the word.
static bool VLIncludeMayFollow(const VLContext* ctx) {
    return VLTokenIs(ctx->token, "include") && ctx->token->next && ctx->token->next->type == VLTokenType_String;
}

static void VLReportOpenScopes(VLContext* ctx, VLToken* token, const char* end);

// The tokens of the current file have run out. An included file must close
// what it opened (an error at its last token otherwise); then it counts as
// compiled and the including file goes on after its include statement.
// Returns false when the layout's own tokens ended or an error was reported.
static bool VLLeaveIncludedFile(VLContext* ctx) {
    VLIncludeFrame* frame = ctx->includeFrames;
    if (!frame) return false;
    if (ctx->scopes) {
        VLReportOpenScopes(ctx, frame->last, "the included file");
        return false;
    }
    *VLFileStateOf(ctx, frame->file) = VLFileState_Compiled;
    ctx->defaultBigEndian = frame->savedBigEndian;
    ctx->zeroCountsEmpty = frame->savedZeroCountsEmpty;
    ctx->token = frame->resume;
    ctx->includeFrames = frame->next;
    return true;
}

// ---------------------------------------------------------------------------
// The statement loop
// ---------------------------------------------------------------------------

// The else form is only a candidate right after the "}" of an if or else-if
// block: that scope is still innermost and already has its exit goto.
static bool VLElseMayFollow(const VLContext* ctx) {
    const VLScope* scope = ctx->scopes;
    return scope && (scope->type == VL_ScopeType_If || scope->type == VL_ScopeType_ElseIf) &&
           scope->exitGoto != nullptr;
}

static void VLCompileBodyStatement(VLContext* ctx) {
    if (VLIsPunctuation(ctx->token, VLCode("}"))) {
        VLAttempt(ctx, VLParseCloseScope, true);
        return;
    }
    VLAttempt(ctx, VLParseAssignmentStatement);
    if (VLElseMayFollow(ctx)) VLAttemptKeyword(ctx, "else", VLParseElse);
    VLAttemptKeyword(ctx, "if", VLParseIf);
    VLAttemptKeyword(ctx, "while", VLParseWhile);
    VLAttemptKeyword(ctx, "do", VLParseDo);
    VLAttemptKeyword(ctx, "for", VLParseFor);
    if (VLShowMayFollow(ctx)) VLAttempt(ctx, VLParseShowMember);
    if (VLIncludeMayFollow(ctx)) VLAttempt(ctx, VLParseMisplacedInclude);
    VLAttempt(ctx, VLParseMemberDeclaration, true);
}

// The struct header attempt; returns the definition whose body it opened.
static VLTypeDefinition* VLAttemptStructHeader(VLContext* ctx) {
    if (ctx->speculativeParse.matched || !VLTokenIs(ctx->token, "struct")) return nullptr;
    uint32_t topLevelSlots = ctx->stacks[0];
    VLBeginAttempt(ctx);
    VLTypeDefinition* type = VLParseStructHeader(ctx);
    bool failed = VLErrorIsValid(&ctx->speculativeParse.error) || VLErrorIsValid(&ctx->output.error);
    VLEndAttempt(ctx);
    if (!failed && type) return type;
    ctx->stacks[0] = topLevelSlots;  // a header that opened no body keeps the top-level numbering
    return nullptr;
}

static void VLCompileTopLevelStatement(VLContext* ctx) {
    VLAttemptKeyword(ctx, "default", VLParseDefault);
    VLTypeDefinition* opened = VLAttemptStructHeader(ctx);
    VLAttemptKeyword(ctx, "enum", VLParseEnum);
    VLAttemptKeyword(ctx, "layout", VLParseLayout);
    if (VLIncludeMayFollow(ctx)) VLAttempt(ctx, VLParseInclude);
    VLAttempt(ctx, VLParseTypedef, true);
    if (opened) {
        ctx->typeDefinitionBeingParsed = opened;
        VLPushScope(ctx, VL_ScopeType_Struct);
    }
}

// One statement: its forms are tried in a fixed order on the same tokens; the
// first that succeeds wins, and when none does the error of the attempt that
// got furthest (the later one on a tie) becomes the compilation's error.
static void VLCompileStatement(VLContext* ctx) {
    ctx->speculativeParse = VLSpeculativeParse{};
    ctx->speculativeParse.firstToken = ctx->token;
    VLAttemptKeyword(ctx, "breakpoint", VLParseBreakpoint);
    VLAttemptKeyword(ctx, "print", VLParsePrint);
    VLAttemptKeyword(ctx, "assert", VLParseAssert);
    VLAttemptKeyword(ctx, "var", VLParseVar);
    if (ctx->typeDefinitionBeingParsed) VLCompileBodyStatement(ctx);
    else VLCompileTopLevelStatement(ctx);
    if (!ctx->speculativeParse.matched && !VLErrorIsValid(&ctx->output.error)) {
        VL_ASSERT(VLErrorIsValid(&ctx->speculativeParse.bestError));
        VLError chosen = ctx->speculativeParse.bestError;
        VLWriteErrorText(ctx, &chosen, &ctx->speculativeParse.bestErrorParts);
        ctx->output.error = chosen;
    }
    ctx->speculativeParse = VLSpeculativeParse{};
}

// Tokens that run out inside a struct body or a block leave code that must
// not run (the body's end is unknown): that is an error at `token` (null: the
// end of the token list); `end` names what ended.
static void VLReportOpenScopes(VLContext* ctx, VLToken* token, const char* end) {
    const VLScope* scope = ctx->scopes;
    if (!scope || VLErrorIsValid(&ctx->output.error)) return;
    VLString name = ctx->typeDefinitionBeingParsed ? ctx->typeDefinitionBeingParsed->name
                                                   : VLString{0, ""};
    if (scope->type == VL_ScopeType_Struct) {
        VLReportError(ctx, token, "Struct %.*s is not closed: expected }; before the end of %s.",
                      int(name.length), name.chars, end);
    } else {
        VLReportError(ctx, token, "A block in struct %.*s is not closed: expected } before the end of %s.",
                      int(name.length), name.chars, end);
    }
}

struct VLCompilation {
    VLProgram program;
    bool slotOverflow;
};

static VLCompilation VLRunCompilation(VLToken* firstToken, VLArena* arena, uint32_t slotsPerBody,
                                      const VLIncludeLoader* loader) {
    VLContext ctx = {};
    ctx.arena = arena;
    ctx.includeLoader = loader;
    ctx.slotsPerBody = slotsPerBody;
    ctx.output.arena = arena;
    VLInstructionChunk* chunk = VLArenaNew<VLInstructionChunk>(arena);
    ctx.output.instructions.first = chunk;
    ctx.output.instructions.last = chunk;
    VLTypeChunk* typeChunk = VLArenaNew<VLTypeChunk>(arena);
    ctx.output.types.first = typeChunk;
    ctx.output.types.last = typeChunk;
    ctx.token = firstToken;
    ctx.firstToken = firstToken;
    for (;;) {
        if (!ctx.token && !VLLeaveIncludedFile(&ctx)) break;
        if (VLErrorIsValid(&ctx.output.error) || ctx.slotOverflow) break;
        if (ctx.token) VLCompileStatement(&ctx);
    }
    VLReportOpenScopes(&ctx, nullptr, "the layout");
    // An error at the end of an included file's tokens stands at its last token.
    if (ctx.includeFrames && VLErrorIsValid(&ctx.output.error) && !ctx.output.error.token)
        ctx.output.error.token = ctx.includeFrames->last;
    if (VLErrorIsValid(&ctx.output.error)) VLFindErrorFacts(&ctx);
    VLBuildCategoryTable(&ctx);
    ctx.output.typeCount = ctx.output.types.totalCount;
    return VLCompilation{ctx.output, ctx.slotOverflow != 0};
}

// Slot numbers of the level-0 counter grow across the whole file. A layout
// that would need a slot past the frame's 64 under that numbering is compiled
// again with the counter started afresh at each struct body; only a single
// body (or the top level) that needs more is then rejected.
VLProgram VLCompile(VLToken* firstToken, VLArena* arena, const VLIncludeLoader* loader) {
    VLCompilation compilation = VLRunCompilation(firstToken, arena, 0, loader);
    if (compilation.slotOverflow) compilation = VLRunCompilation(firstToken, arena, 1, loader);
    return compilation.program;
}
