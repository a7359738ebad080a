// ErrorFacts.cpp - what is known about the compilation's error beyond its
// message: the names close to an unknown one, a definition of it further down
// the text, another struct that has a member of that name, the assignment a
// statement was meant to be, and the bracket that nothing closes. The
// compiler notes the kind of error and its token as it records it
// (VLNoteErrorDetail); the lookups here run once, for the error that is
// reported, and fill the error record. Wording them is the front end's part.
#include <cstring>

#include "Compiler.h"

// ---------------------------------------------------------------------------
// Names that are close
// ---------------------------------------------------------------------------

enum { VLDistanceNameLimit = 64 };  // longer names are never compared

static char VLLowerCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Optimal string alignment distance over three rolling rows.
uint32_t VLNameDistance(VLString a, VLString b) {
    if (a.length > VLDistanceNameLimit || b.length > VLDistanceNameLimit) return UINT32_MAX;
    uint32_t rows[3][VLDistanceNameLimit + 1];
    uint32_t* before = rows[0];  // row i - 2
    uint32_t* previous = rows[1];
    uint32_t* current = rows[2];
    for (uint32_t j = 0; j <= b.length; ++j) previous[j] = j;
    for (uint32_t i = 1; i <= a.length; ++i) {
        current[0] = i;
        char ca = VLLowerCase(a.chars[i - 1]);
        for (uint32_t j = 1; j <= b.length; ++j) {
            char cb = VLLowerCase(b.chars[j - 1]);
            uint32_t best = previous[j - 1] + (ca == cb ? 0 : 1);
            if (previous[j] + 1 < best) best = previous[j] + 1;
            if (current[j - 1] + 1 < best) best = current[j - 1] + 1;
            if (i > 1 && j > 1 && ca == VLLowerCase(b.chars[j - 2]) && VLLowerCase(a.chars[i - 2]) == cb &&
                before[j - 2] + 1 < best)
                best = before[j - 2] + 1;
            current[j] = best;
        }
        uint32_t* oldest = before;
        before = previous;
        previous = current;
        current = oldest;
    }
    return previous[b.length];
}

// Short names allow fewer edits: one in a name of three to five letters, two
// from six on, none (a difference of case only) below three.
static uint32_t VLAllowedEdits(uint32_t length) { return length < 3 ? 0 : length < 6 ? 1 : 2; }

bool VLNameIsClose(VLString name, VLString candidate) {
    if (candidate.length == 0 || VLStringEquals(name, candidate)) return false;
    return VLNameDistance(name, candidate) <= VLAllowedEdits(name.length);
}

// The closest candidate seen so far; ties keep the first.
struct VLNearest {
    VLString name;
    VLString best;
    uint32_t distance;
};

static void VLConsider(VLNearest* nearest, VLString candidate) {
    if (!VLNameIsClose(nearest->name, candidate)) return;
    uint32_t distance = VLNameDistance(nearest->name, candidate);
    if (nearest->best.length && distance >= nearest->distance) return;
    nearest->best = candidate;
    nearest->distance = distance;
}

static VLString VLText(const char* text) { return VLString{uint32_t(strlen(text)), text}; }

void VLNoteExpectedWords(VLError* error, const VLMessageParts* parts) {
    if (error->detail != VLErrorDetail_None) return;
    error->detail = VLErrorDetail_ExpectedWord;
    error->subject = error->token;
    if (!error->token || error->token->type != VLTokenType_Identifier) return;
    VLNearest nearest = {VLTokenText(error->token), {0, nullptr}, 0};
    for (uint32_t i = 0; i < parts->count; ++i) VLConsider(&nearest, VLText(parts->words[i]));
    error->candidate = nearest.best;
}

// ---------------------------------------------------------------------------
// What each kind of error looks up
// ---------------------------------------------------------------------------

static bool VLIsIdentifier(const VLToken* token, VLString name) {
    return token && token->type == VLTokenType_Identifier && VLStringEquals(VLTokenText(token), name);
}

static bool VLIsAssignmentOperator(const VLToken* token) {
    if (!token || token->type != VLTokenType_Punctuation) return false;
    switch (token->punctuation.code) {
        case VLCode("="): case VLCode("+="): case VLCode("-="): case VLCode("*="): case VLCode("/="):
        case VLCode("%="): case VLCode("&="): case VLCode("|="): case VLCode("^="): case VLCode("<<="):
        case VLCode(">>="):
            return true;
        default:
            return false;
    }
}

// The name in a definition of `name` after `from`: a struct header (with or
// without a category), a named enumeration, or a typedef (its name before the ";").
static VLToken* VLFindLaterType(const VLToken* from, VLString name) {
    for (const VLToken* token = from; token; token = token->next) {
        if (VLTokenIs(token, "struct")) {
            VLToken* next = token->next;
            if (VLIsPunctuation(next, VLCode("(")) && next->punctuation.match) next = next->punctuation.match->next;
            if (VLIsIdentifier(next, name)) return next;
        } else if (VLTokenIs(token, "enum")) {
            if (VLIsIdentifier(token->next, name)) return token->next;
        } else if (VLTokenIs(token, "typedef")) {
            VLToken* last = nullptr;
            for (VLToken* t = token->next; t && !VLIsPunctuation(t, VLCode(";")); t = t->next) last = t;
            if (VLIsIdentifier(last, name)) return last;
        }
    }
    return nullptr;
}

// The category name in a later header "struct" "(" name "," ...
static VLToken* VLFindLaterCategory(const VLToken* from, VLString name) {
    for (const VLToken* token = from; token; token = token->next) {
        if (VLTokenIs(token, "struct") && VLIsPunctuation(token->next, VLCode("(")) &&
            VLIsIdentifier(token->next->next, name))
            return token->next->next;
    }
    return nullptr;
}

static bool VLIsParameter(const VLTypeDefinition* type, VLString name) {
    for (uint32_t i = 0; i < type->parameterCount; ++i) {
        if (VLStringEquals(type->parameters[i], name)) return true;
    }
    return false;
}

// Whether a struct has a member, a local or a parameter of that name.
static bool VLStructHasName(const VLContext* ctx, const VLTypeDefinition* type, VLString name) {
    return VLFindMember(ctx, type, name) || VLFindLocalVariable(type->locals, name) || VLIsParameter(type, name);
}

static void VLConsiderStructNames(VLNearest* nearest, const VLTypeDefinition* type) {
    for (const VLLocalVariable* local = type->locals; local; local = local->next) VLConsider(nearest, local->name);
    for (uint32_t i = 0; i < type->parameterCount; ++i) VLConsider(nearest, type->parameters[i]);
    for (const VLMember* member = type->members; member; member = member->next) VLConsider(nearest, member->name);
}

static void VLConsiderTypeNames(const VLContext* ctx, VLNearest* nearest) {
    for (const VLTypeChunk* chunk = ctx->output.types.first; chunk; chunk = chunk->next) {
        for (uint32_t i = 0; i < chunk->count; ++i) VLConsider(nearest, chunk->items[i].name);
    }
    for (const VLTypedef* entry = ctx->output.typedefs; entry; entry = entry->next) VLConsider(nearest, entry->name);
    for (const VLEnum* enumeration = ctx->output.enums; enumeration; enumeration = enumeration->next) {
        if (!enumeration->anonymous) VLConsider(nearest, enumeration->name);
    }
    for (const VLCategory* category = ctx->categories; category; category = category->next)
        VLConsider(nearest, category->name);
    for (const char* word : {"u", "s", "f", "raw", "string", "hidden", "zstring", "uleb", "sleb", "vlq"})
        VLConsider(nearest, VLText(word));
}

// An identifier where a type was expected, followed by an assignment: the
// statement was meant as an assignment to a member, a parameter or a name
// that was never declared.
static void VLClassifyAssignment(const VLContext* ctx, VLError* error, VLString name) {
    const VLTypeDefinition* type = ctx->typeDefinitionBeingParsed;
    if (!type || !VLIsAssignmentOperator(error->subject->next)) return;
    if (VLFindMember(ctx, type, name)) error->detail = VLErrorDetail_AssignToMember;
    else if (VLIsParameter(type, name)) error->detail = VLErrorDetail_AssignToParameter;
    else error->detail = VLErrorDetail_AssignToUnknown;
}

static void VLFindUnknownTypeFacts(VLContext* ctx, VLError* error, VLString name) {
    VLClassifyAssignment(ctx, error, name);
    if (error->detail != VLErrorDetail_UnknownType) return;
    VLNearest nearest = {name, {0, nullptr}, 0};
    VLConsiderTypeNames(ctx, &nearest);
    error->candidate = nearest.best;
    error->definedLater = VLFindLaterType(error->subject->next, name);
}

// A struct further down that declares `name`: a member (a name after a ")"
// or a type name, before ";" or "["), a local ("var" name) or a parameter.
static VLString VLFindLaterStructDeclaring(const VLToken* from, VLString name) {
    VLString owner{0, nullptr};
    const VLToken* bodyEnd = nullptr;  // the "}" of the struct body the walk is in
    const VLToken* previous = nullptr;
    for (const VLToken* token = from; token; previous = token, token = token->next) {
        if (token == bodyEnd) owner = VLString{0, nullptr};
        if (VLTokenIs(token, "struct")) {
            const VLToken* next = token->next;
            if (VLIsPunctuation(next, VLCode("(")) && next->punctuation.match) next = next->punctuation.match->next;
            if (!next || next->type != VLTokenType_Identifier) continue;
            const VLToken* open = next->next;
            while (open && !VLIsPunctuation(open, VLCode("{")) && !VLIsPunctuation(open, VLCode(";")))
                open = open->next;
            if (!VLIsPunctuation(open, VLCode("{"))) continue;
            owner = VLTokenText(next);
            bodyEnd = open->punctuation.match;
            continue;
        }
        if (!owner.length || !previous || !VLIsIdentifier(token, name)) continue;
        const VLToken* next = token->next;
        bool declares = previous->type == VLTokenType_Identifier || VLIsPunctuation(previous, VLCode(")"));
        if (declares && (VLIsPunctuation(next, VLCode(";")) || VLIsPunctuation(next, VLCode("[")) ||
                         VLIsPunctuation(next, VLCode("=")) || VLIsPunctuation(next, VLCode(",")) ||
                         VLIsPunctuation(next, VLCode(")"))))
            return owner;
    }
    return VLString{0, nullptr};
}

// The name of a for loop's local, "for" "(" "var" name, between `first` and
// the error: such a local ends with its loop.
static VLToken* VLFindLoopLocal(VLToken* first, const VLToken* stop, VLString name) {
    VLToken* found = nullptr;
    for (VLToken* token = first; token && token != stop; token = token->next) {
        if (!VLTokenIs(token, "for") || !VLIsPunctuation(token->next, VLCode("("))) continue;
        VLToken* word = token->next->next;
        if (VLTokenIs(word, "var") && VLIsIdentifier(word->next, name)) found = word->next;
    }
    return found;
}

static void VLFindUnknownNameFacts(VLContext* ctx, VLError* error, VLString name) {
    const VLTypeDefinition* current = ctx->typeDefinitionBeingParsed;
    if (!ctx->includeFrames) error->loopLocal = VLFindLoopLocal(ctx->firstToken, error->subject, name);
    VLNearest nearest = {name, {0, nullptr}, 0};
    if (current) VLConsiderStructNames(&nearest, current);
    error->candidate = nearest.best;
    for (const VLTypeChunk* chunk = ctx->output.types.first; chunk; chunk = chunk->next) {
        for (uint32_t i = 0; i < chunk->count; ++i) {
            const VLTypeDefinition* type = &chunk->items[i];
            if (type == current || !VLStructHasName(ctx, type, name)) continue;
            error->otherStruct = type->name;
            return;
        }
    }
    error->otherStruct = VLFindLaterStructDeclaring(error->subject->next, name);
}

static void VLFindUnknownCategoryFacts(VLContext* ctx, VLError* error, VLString name) {
    VLNearest nearest = {name, {0, nullptr}, 0};
    for (const VLCategory* category = ctx->categories; category; category = category->next)
        VLConsider(&nearest, category->name);
    error->candidate = nearest.best;
    error->definedLater = VLFindLaterCategory(error->subject->next, name);
}

static void VLFindEnumValueFacts(VLError* error, VLString name) {
    if (!error->enumeration) return;
    VLNearest nearest = {name, {0, nullptr}, 0};
    for (const VLEnumValue* value = error->enumeration->values; value; value = value->next)
        VLConsider(&nearest, value->name);
    error->candidate = nearest.best;
}

// The last opening bracket before the error's token that the text never
// closes: the innermost of those still open where the error was found.
static VLToken* VLUnclosedBracketBefore(VLToken* first, const VLToken* stop) {
    VLToken* found = nullptr;
    for (VLToken* token = first; token && token != stop; token = token->next) {
        if (token->type != VLTokenType_Punctuation || token->punctuation.match) continue;
        uint32_t code = token->punctuation.code;
        if (code == VLCode("(") || code == VLCode("[") || code == VLCode("{")) found = token;
    }
    return found;
}

void VLFindErrorFacts(VLContext* ctx) {
    VLError* error = &ctx->output.error;
    error->structType = ctx->typeDefinitionBeingParsed;
    // The walk covers the layout's own tokens: an error inside an included
    // file (whose tokens form their own list) gets no bracket.
    if (!ctx->includeFrames) error->openBracket = VLUnclosedBracketBefore(ctx->firstToken, error->token);
    if (!error->subject || error->subject->type != VLTokenType_Identifier) return;
    VLString name = VLTokenText(error->subject);
    switch (error->detail) {
        case VLErrorDetail_UnknownType: VLFindUnknownTypeFacts(ctx, error, name); break;
        case VLErrorDetail_UnknownName: VLFindUnknownNameFacts(ctx, error, name); break;
        case VLErrorDetail_UnknownCategory: VLFindUnknownCategoryFacts(ctx, error, name); break;
        case VLErrorDetail_UnknownEnumValue: VLFindEnumValueFacts(error, name); break;
        default: break;
    }
}
