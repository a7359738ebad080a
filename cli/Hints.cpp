// Hints.cpp - the lines after a diagnostic that say what is wrong and how to
// fix it, for a person at a terminal (or any reader with -explain): the hints
// after a compile error, worded from the facts the compiler recorded on the
// error (VLErrorDetail and the lookups of ErrorFacts.cpp); after an invalid
// token; after the no-members warning. Also the colour of labels. Every
// hint line starts with "hint: " and follows the fixed text it explains,
// which stays as it is.
#include <cstdarg>
#include <cstring>

#include "CommandLine.h"

bool VLWantsHints(const VLWriter* writer) { return (writer->style & VLWriterStyle_Hints) != 0; }

void VLWriteColored(VLWriter* writer, const char* text, const char* color) {
    if (!(writer->style & VLWriterStyle_Color)) {
        VLWriteText(writer, text);
        return;
    }
    VLWritef(writer, "\x1b[%sm%s\x1b[0m", color, text);
}

void VLWriteHint(VLWriter* writer, const char* format, ...) {
    VLWriteColored(writer, "hint:", "1;36");
    VLWriteChar(writer, ' ');
    va_list args;
    va_start(args, format);
    VLWritefList(writer, format, args);
    va_end(args);
    VLWriteChar(writer, '\n');
}

// ---------------------------------------------------------------------------
// Words from other languages
// ---------------------------------------------------------------------------

// A word that other languages or formats use where Vellum has its own form.
struct VLForeignWord {
    const char* word;
    const char* vellum;  // the Vellum form
    const char* what;    // what the word means there
};

static const VLForeignWord VLForeignWords[] = {
    {"uint8_t", "u(1)", "a 1-byte unsigned number"},    {"u8", "u(1)", "a 1-byte unsigned number"},
    {"byte", "u(1)", "a byte"},                         {"uchar", "u(1)", "a 1-byte unsigned number"},
    {"bool", "u(1)", "a 1-byte flag"},                  {"uint16_t", "u(2)", "a 2-byte unsigned number"},
    {"u16", "u(2)", "a 2-byte unsigned number"},        {"ushort", "u(2)", "a 2-byte unsigned number"},
    {"word", "u(2)", "a 2-byte unsigned number"},       {"uint32_t", "u(4)", "a 4-byte unsigned number"},
    {"u32", "u(4)", "a 4-byte unsigned number"},        {"uint", "u(4)", "a 4-byte unsigned number"},
    {"unsigned", "u(4)", "a 4-byte unsigned number"},   {"dword", "u(4)", "a 4-byte unsigned number"},
    {"uint64_t", "u(8)", "an 8-byte unsigned number"},  {"u64", "u(8)", "an 8-byte unsigned number"},
    {"qword", "u(8)", "an 8-byte unsigned number"},     {"int8_t", "s(1)", "a 1-byte signed number"},
    {"i8", "s(1)", "a 1-byte signed number"},           {"char", "s(1)", "a 1-byte number"},
    {"int16_t", "s(2)", "a 2-byte signed number"},      {"i16", "s(2)", "a 2-byte signed number"},
    {"short", "s(2)", "a 2-byte signed number"},        {"int32_t", "s(4)", "a 4-byte signed number"},
    {"i32", "s(4)", "a 4-byte signed number"},          {"int", "s(4)", "a 4-byte signed number"},
    {"long", "s(4)", "a 4-byte signed number (s(8) for 8 bytes)"},
    {"int64_t", "s(8)", "an 8-byte signed number"},     {"i64", "s(8)", "an 8-byte signed number"},
    {"float", "f(4)", "a 4-byte floating-point number"}, {"f32", "f(4)", "a 4-byte floating-point number"},
    {"double", "f(8)", "an 8-byte floating-point number"}, {"f64", "f(8)", "an 8-byte floating-point number"},
    {"class", "struct", "a record type"},
};

// Words that begin a top-level statement: met inside a struct body, they mean the body is still open.
static const char* const VLTopLevelWords[] = {"layout", "struct", "enum", "typedef", "default"};

static bool VLEqualsIgnoringCase(VLString text, const char* word) {
    if (text.length != strlen(word)) return false;
    for (uint32_t i = 0; i < text.length; ++i) {
        char c = text.chars[i];
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

static const VLForeignWord* VLFindForeignWord(VLString text) {
    for (const VLForeignWord& entry : VLForeignWords) {
        if (VLEqualsIgnoringCase(text, entry.word)) return &entry;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Compile-error hints
// ---------------------------------------------------------------------------

static int VLLength(VLString text) { return int(text.length); }

static bool VLIsPunctuation(const VLToken* token, uint32_t code) {
    return token && token->type == VLTokenType_Punctuation && token->punctuation.code == code;
}

static unsigned VLLineOf(const VLToken* token) { return token->start.line + 1u; }
static unsigned VLColumnOf(const VLToken* token) { return token->start.column + 1u; }

// "did you mean 'X'?" when the compiler found a close name.
static void VLWriteCandidateHint(const VLError* error, VLWriter* err) {
    if (error->candidate.length)
        VLWriteHint(err, "did you mean '%.*s'?", VLLength(error->candidate), error->candidate.chars);
}

// A foreign word for a type: the Vellum form, with the member's name when it follows.
static void VLWriteForeignTypeHint(const VLForeignWord* foreign, const VLToken* subject, VLWriter* err) {
    VLString word = VLTokenText(subject);
    const VLToken* name = subject->next;
    if (strcmp(foreign->vellum, "struct") == 0) {
        VLWriteHint(err,
                    "'%.*s' is not a Vellum word: a record type is declared with struct, "
                    "e.g. struct Header { u(4) size; };",
                    VLLength(word), word.chars);
        return;
    }
    // Numbers of more than one byte have a byte order: "u(4)" becomes "u(4, big)".
    char big[48] = "";
    if (foreign->vellum[2] != '1')
        snprintf(big, sizeof big, " (%.3s, big) when big-endian)", foreign->vellum);
    VLWriteHint(err, "'%.*s' is not a Vellum type: %s is %s%s", VLLength(word), word.chars, foreign->what,
                foreign->vellum, big);
    if (name && name->type == VLTokenType_Identifier) {
        VLString text = VLTokenText(name);
        VLWriteHint(err, "write: %s %.*s;", foreign->vellum, VLLength(text), text.chars);
    }
    if (VLEqualsIgnoringCase(word, "char")) VLWriteHint(err, "text is string(n): string(16) name; reads 16 characters");
}

static void VLWriteUnknownTypeHints(const VLError* error, VLWriter* err) {
    VLString name = VLTokenText(error->subject);
    if (VLStringEqualsText(name, "else")) {
        VLWriteHint(err, "'else' must come right after the '}' that closes an 'if' or 'else if' block: } else {");
        return;
    }
    for (const char* word : VLTopLevelWords) {
        if (!VLStringEqualsText(name, word) || !error->structType) continue;
        VLString owner = error->structType->name;
        VLWriteHint(err,
                    "'%s' begins a statement of the top level, but struct %.*s is still open here: "
                    "close it with };",
                    word, VLLength(owner), owner.chars);
        return;
    }
    // The user's own definition further down comes first, then a word of
    // another language (and a close name of the layout's, which may be meant).
    if (error->definedLater) {
        VLWriteHint(err, "'%.*s' is defined further down, at line %u; a type must be defined before it is used, "
                         "so move that definition above line %u",
                    VLLength(name), name.chars, VLLineOf(error->definedLater), VLLineOf(error->subject));
        return;
    }
    if (const VLForeignWord* foreign = VLFindForeignWord(name)) {
        VLWriteForeignTypeHint(foreign, error->subject, err);
        VLWriteCandidateHint(error, err);
        return;
    }
    VLWriteHint(err, "'%.*s' names no struct, category, enumeration or typedef defined above", VLLength(name),
                name.chars);
    if (error->candidate.length) VLWriteCandidateHint(error, err);
    else VLWriteHint(err, "a member's type is u(n), s(n), f(n), raw(n), string(n) or a name defined above it");
}

// The statement from the subject to its ";" on the same line, or null.
static VLString VLStatementText(const VLToken* first) {
    const VLToken* last = first;
    while (last->next && last->next->start.line == first->start.line && !VLIsPunctuation(last->next, VLCode(";")))
        last = last->next;
    if (!VLIsPunctuation(last->next, VLCode(";"))) return {0, nullptr};
    last = last->next;
    return {last->end.offset - first->start.offset + 1, first->start.cursor};
}

static void VLWriteAssignmentHints(const VLError* error, VLWriter* err) {
    VLString name = VLTokenText(error->subject);
    VLString owner = error->structType ? error->structType->name : VLString{0, ""};
    if (error->detail == VLErrorDetail_AssignToMember) {
        VLWriteHint(err, "'%.*s' is a member of %.*s: members are read from the data and cannot be assigned",
                    VLLength(name), name.chars, VLLength(owner), owner.chars);
        // The value the statement meant to store, when it is written with "=".
        VLString statement = VLStatementText(error->subject);
        const VLToken* op = error->subject->next;
        VLString value = {0, nullptr};
        if (statement.length && VLIsPunctuation(op, VLCode("=")) && op->next) {
            value.chars = op->next->start.cursor;
            value.length = uint32_t(statement.chars + statement.length - 1 - value.chars);  // without the ";"
            while (value.length && (value.chars[value.length - 1] == ' ' || value.chars[value.length - 1] == '\t'))
                --value.length;
        }
        if (value.length)
            VLWriteHint(err, "for a computed value, declare a local with var: var new_%.*s = %.*s;", VLLength(name),
                        name.chars, VLLength(value), value.chars);
        else
            VLWriteHint(err, "for a computed value, declare a local with var, e.g. var new_%.*s = %.*s + 1;",
                        VLLength(name), name.chars, VLLength(name), name.chars);
    } else if (error->detail == VLErrorDetail_AssignToParameter) {
        VLWriteHint(err, "'%.*s' is a parameter of %.*s: parameters cannot be assigned; copy it into a local "
                         "declared with var, e.g. var left = %.*s;",
                    VLLength(name), name.chars, VLLength(owner), owner.chars, VLLength(name), name.chars);
    } else {
        VLString statement = VLStatementText(error->subject);
        bool plain = VLIsPunctuation(error->subject->next, VLCode("="));
        if (plain && statement.length)
            VLWriteHint(err, "'%.*s' is not declared: a local is declared with var: var %.*s", VLLength(name),
                        name.chars, VLLength(statement), statement.chars);
        else
            VLWriteHint(err, "'%.*s' is not declared: declare the local with var first, e.g. var %.*s = 0;",
                        VLLength(name), name.chars, VLLength(name), name.chars);
    }
}

static void VLWriteUnknownNameHints(const VLError* error, VLWriter* err) {
    VLString name = VLTokenText(error->subject);
    VLString owner = error->structType ? error->structType->name : VLString{0, ""};
    if (error->loopLocal) {
        VLWriteHint(err, "'%.*s' is the local of the for loop at line %u, and a loop's locals end with the loop; "
                         "declare it with var before the loop to use it afterwards",
                    VLLength(name), name.chars, VLLineOf(error->loopLocal));
        return;
    }
    if (error->structType)
        VLWriteHint(err, "'%.*s' names no local, parameter or member of %.*s declared above it", VLLength(name),
                    name.chars, VLLength(owner), owner.chars);
    else
        VLWriteHint(err, "'%.*s' names no enumeration value; names of members exist only inside a struct body",
                    VLLength(name), name.chars);
    if (error->otherStruct.length && error->structType) {
        VLWriteHint(err, "'%.*s' belongs to %.*s; values reach a nested struct through parameters: "
                         "struct %.*s(var %.*s) { ... } and, in %.*s, %.*s(%.*s) name;",
                    VLLength(name), name.chars, VLLength(error->otherStruct), error->otherStruct.chars,
                    VLLength(owner), owner.chars, VLLength(name), name.chars, VLLength(error->otherStruct),
                    error->otherStruct.chars, VLLength(owner), owner.chars, VLLength(name), name.chars);
        return;
    }
    VLWriteCandidateHint(error, err);
}

static void VLWriteUnknownCategoryHints(const VLError* error, VLWriter* err) {
    VLString name = VLTokenText(error->subject);
    if (error->definedLater) {
        VLWriteHint(err, "category '%.*s' gets its first type further down, at line %u; define it before it is used",
                    VLLength(name), name.chars, VLLineOf(error->definedLater));
        return;
    }
    VLWriteHint(err, "no struct header above names the category '%.*s', as in struct (%.*s, 1) Name { ... };",
                VLLength(name), name.chars, VLLength(name), name.chars);
    VLWriteCandidateHint(error, err);
}

static void VLWriteExpectedWordHints(const VLError* error, VLWriter* err) {
    const VLToken* token = error->subject;
    if (token && token->type == VLTokenType_Identifier) {
        VLString text = VLTokenText(token);
        if (VLEqualsIgnoringCase(text, "endianness") || VLEqualsIgnoringCase(text, "endian") ||
            VLEqualsIgnoringCase(text, "byteorder")) {
            VLWriteHint(err, "Vellum spells this word 'endianess': default(endianess = big);");
            return;
        }
    }
    VLWriteCandidateHint(error, err);
}

// An enumeration has no value of that name: its values (the first few) and a close one.
static void VLWriteEnumValueHints(const VLError* error, VLWriter* err) {
    const VLEnum* enumeration = error->enumeration;
    if (!enumeration) return;
    VLString name = VLTokenText(error->subject);
    VLWriteColored(err, "hint:", "1;36");
    VLWritef(err, " %.*s has no value '%.*s'; its values are ", VLLength(enumeration->name), enumeration->name.chars,
             VLLength(name), name.chars);
    enum { Listed = 8 };
    uint32_t count = 0;
    for (const VLEnumValue* value = enumeration->values; value; value = value->next, ++count) {
        if (count == Listed) {
            VLWriteText(err, ", ...");
            break;
        }
        VLWritef(err, "%s%.*s", count ? ", " : "", VLLength(value->name), value->name.chars);
    }
    VLWriteChar(err, '\n');
    VLWriteCandidateHint(error, err);
}

// A struct given another number of arguments than it has parameters: its parameters.
static void VLWriteArgumentCountHints(const VLError* error, VLWriter* err) {
    const VLTypeDefinition* type = error->namedType;
    if (!type) {
        VLWriteHint(err, "every type of a category takes the parameter count of the category's first type");
        return;
    }
    if (type->parameterCount == 0) {
        VLWriteHint(err, "struct %.*s has no parameters: write %.*s without an argument list", VLLength(type->name),
                    type->name.chars, VLLength(type->name), type->name.chars);
        return;
    }
    VLWriteColored(err, "hint:", "1;36");
    VLWritef(err, " struct %.*s is declared with %u parameter%s (", VLLength(type->name), type->name.chars,
             type->parameterCount, type->parameterCount == 1 ? "" : "s");
    for (uint32_t i = 0; i < type->parameterCount; ++i)
        VLWritef(err, "%svar %.*s", i ? ", " : "", VLLength(type->parameters[i]), type->parameters[i].chars);
    VLWritef(err, "): give one value for each, e.g. %.*s(", VLLength(type->name), type->name.chars);
    for (uint32_t i = 0; i < type->parameterCount; ++i) VLWriteText(err, i ? ", 0" : "0");
    VLString member = error->token && error->token->type == VLTokenType_Identifier ? VLTokenText(error->token)
                                                                                   : VLString{4, "name"};
    VLWritef(err, ") %.*s;\n", VLLength(member), member.chars);
}

// The bracket that nothing closes, when the error is found after it. When a
// "}" right before the error closed an inner block instead, that is named too:
// the missing "}" belongs between the two.
static void VLWriteOpenBracketHint(const VLError* error, VLWriter* err) {
    const VLToken* open = error->openBracket;
    char opener = char(open->punctuation.code);
    char closer = opener == '(' ? ')' : opener == '[' ? ']' : '}';
    VLWriteHint(err, "the '%c' at line %u, column %u is never closed: a '%c' is missing", opener, VLLineOf(open),
                VLColumnOf(open), closer);
    const VLToken* before = nullptr;  // the token right before the error's
    for (const VLToken* token = open; token && token != error->token; token = token->next) before = token;
    // "};" where the "}" closed an inner block: the struct's end was meant.
    if (!before || !VLIsPunctuation(before, VLCode("}")) || !before->punctuation.match ||
        !VLIsPunctuation(error->token, VLCode(";")))
        return;
    const VLToken* inner = before->punctuation.match;
    VLWriteHint(err, "the '}' at line %u, column %u closes the '{' at line %u, column %u; does that block need "
                     "its own '}'?",
                VLLineOf(before), VLColumnOf(before), VLLineOf(inner), VLColumnOf(inner));
}

void VLWriteCompileHints(const VLProgram* program, VLWriter* err) {
    if (!VLWantsHints(err) || !VLErrorIsValid(&program->error)) return;
    const VLError* error = &program->error;
    if (error->subject) {
        switch (error->detail) {
            case VLErrorDetail_UnknownType: VLWriteUnknownTypeHints(error, err); break;
            case VLErrorDetail_UnknownName: VLWriteUnknownNameHints(error, err); break;
            case VLErrorDetail_AssignToMember:
            case VLErrorDetail_AssignToParameter:
            case VLErrorDetail_AssignToUnknown: VLWriteAssignmentHints(error, err); break;
            case VLErrorDetail_UnknownCategory: VLWriteUnknownCategoryHints(error, err); break;
            case VLErrorDetail_ExpectedWord: VLWriteExpectedWordHints(error, err); break;
            case VLErrorDetail_UnknownEnumValue: VLWriteEnumValueHints(error, err); break;
            case VLErrorDetail_ArgumentCount: VLWriteArgumentCountHints(error, err); break;
            case VLErrorDetail_MissingOperand: {
                VLString op = VLTokenText(error->subject);
                VLWriteHint(err, "a value is missing after '%.*s'", VLLength(op), op.chars);
                break;
            }
            default: break;
        }
    }
    if (error->openBracket) VLWriteOpenBracketHint(error, err);
}

// ---------------------------------------------------------------------------
// Invalid tokens and the no-members warning
// ---------------------------------------------------------------------------

// Whether only blanks stand before the token on its line.
static bool VLStartsLine(const VLToken* token) {
    const char* first = token->start.cursor - token->start.byteColumn;
    for (const char* c = first; c < token->start.cursor; ++c) {
        if (*c != ' ' && *c != '\t') return false;
    }
    return true;
}

void VLWriteInvalidTokenHints(const VLToken* token, bool* commentHinted, VLWriter* err) {
    if (!VLWantsHints(err)) return;
    char first = token->start.cursor[0];
    if (first == '#' && VLStartsLine(token)) {
        if (!*commentHinted)
            VLWriteHint(err, "comments start with '//' (or /* ... */); '#' starts nothing in a layout");
        *commentHinted = true;
        return;
    }
    if (first != ')' && first != ']' && first != '}') return;
    const VLToken* open = token->punctuation.enclosing;
    if (!open) {
        VLWriteHint(err, "this '%c' closes nothing: no bracket is open here", first);
        return;
    }
    char opener = char(open->punctuation.code);
    char closer = opener == '(' ? ')' : opener == '[' ? ']' : '}';
    VLWriteHint(err, "the '%c' at line %u, column %u is still open here: close it with '%c' before this '%c'", opener,
                VLLineOf(open), VLColumnOf(open), closer, first);
}

// Whether the program decodes anything: a layout statement emits a root push-frame.
static bool VLHasLayoutStatement(const VLProgram* program) {
    for (const VLInstructionChunk* chunk = program->instructions.first; chunk; chunk = chunk->next) {
        for (uint32_t i = 0; i < chunk->count; ++i) {
            const VLInstruction* instruction = &chunk->items[i];
            if (instruction->type == VLInstructionType_PushFrame && instruction->pushFrame.name.length == 0 &&
                !instruction->pushFrame.detached)
                return true;
        }
    }
    return false;
}

void VLWriteNoMembersHint(const VLProgram* program, bool reported, VLWriter* err) {
    if (!VLWantsHints(err)) return;
    if (reported)
        VLWriteHint(err, "the report above stopped the run before its first member, so there was nothing to show");
    else if (!VLHasLayoutStatement(program))
        VLWriteHint(err, "the layout has no 'layout Name;' statement naming the struct to decode");
    else
        VLWriteHint(err, "the struct decoded shows no members (it has none, or they are hidden)");
}
