// Scanner.cpp - turns layout text into a linked list of tokens.
//
// Owns character stepping (offset, line, tab-expanded column, byte column and
// the line-ending counters), blank and comment skipping, the four token trials
// (identifier, quoted literal, number, punctuation), bracket pairing, the list
// of invalid tokens and the line records. Trials run on a copy of the scanner
// that records no lines; only the committed scanner crosses line breaks for
// the record, so every line record is made exactly once. Number literals are
// decoded by VLScanNumber (Literals.cpp).
#include <cstring>

#include "Vellum.h"

VLString VLTokenText(const VLToken* token) {
    VL_ASSERT(token->end.offset >= token->start.offset);
    return VLString{token->end.offset - token->start.offset + 1, token->start.cursor};
}

bool VLHasReachedEnd(const VLScanner* scanner) { return scanner->current == '\0'; }

static bool VLIsLineBreak(char c) { return c == '\n' || c == '\r'; }

static bool VLIsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }

static bool VLIsDigit(char c) { return c >= '0' && c <= '9'; }

static bool VLIsBlank(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// Index into eolCounts of the break starting at `first`, followed by `second`,
// and the number of characters the break spans.
static uint32_t VLClassifyBreak(char first, char second, uint32_t* width) {
    *width = 2;
    if (first == '\n' && second == '\r') return 3;  // LF CR
    if (first == '\r' && second == '\n') return 1;  // CR LF
    *width = 1;
    return first == '\n' ? 0 : 2;                   // LF alone, CR alone
}

// Links a line record for the position just reached, when the scanner records lines.
static void VLRecordLine(VLScanner* scanner) {
    if (!scanner->linesTail) return;
    VLLine* line = VLArenaNew<VLLine>(scanner->arena);
    line->start = scanner->position;
    line->token = scanner->currentToken;
    *scanner->linesTail = line;
    scanner->linesTail = &line->next;
    scanner->lineCount += 1;
}

void VLAdvance(VLScanner* scanner) {
    if (VLHasReachedEnd(scanner)) return;
    VLScanPosition* position = &scanner->position;
    char stepped = scanner->current;
    position->cursor += 1;
    position->offset += 1;
    if (VLIsLineBreak(stepped)) {
        uint32_t width = 1;
        uint32_t style = VLClassifyBreak(stepped, *position->cursor, &width);
        if (width == 2) {
            position->cursor += 1;
            position->offset += 1;
        }
        scanner->eolCounts[style] += 1;
        position->line += 1;
        position->column = 0;
        position->byteColumn = 0;
        scanner->current = *position->cursor;
        VLRecordLine(scanner);
        return;
    }
    position->byteColumn += 1;
    position->column += 1;
    if (stepped == '\t' && position->column % 8 != 0) position->column += 8 - position->column % 8;
    scanner->current = *position->cursor;
}

// Steps over `count` characters known to hold no line break, tab or NUL (the
// rest of an identifier, a run of spaces): each moves every column by one.
static void VLStepWithinLine(VLScanner* scanner, uint32_t count) {
    VLScanPosition* position = &scanner->position;
    position->cursor += count;
    position->offset += count;
    position->column += count;
    position->byteColumn += count;
    scanner->current = *position->cursor;
}

void VLPeek(const VLScanner* scanner, uint32_t count, char* buffer) {
    const char* cursor = scanner->position.cursor;
    for (uint32_t i = 0; i < count && cursor[i] != '\0'; ++i) buffer[i] = cursor[i];
}

// The character after the current one, or NUL at the end of the text.
static char VLPeekNext(const VLScanner* scanner) {
    char pair[2] = {0, 0};
    VLPeek(scanner, 2, pair);
    return pair[1];
}

// A copy of the scanner for a trial scan: same position, records no lines.
static VLScanner VLTrialCopy(const VLScanner* scanner) {
    VLScanner trial = *scanner;
    trial.linesTail = nullptr;
    return trial;
}

// Steps over a nestable block comment; the scanner stands on its opening "/*".
// The end of the text inside the comment simply ends it.
static void VLSkipBlockComment(VLScanner* scanner) {
    VLAdvance(scanner);
    VLAdvance(scanner);
    uint32_t depth = 1;
    while (depth > 0 && !VLHasReachedEnd(scanner)) {
        char c = scanner->current;
        char next = VLPeekNext(scanner);
        if (c == '/' && next == '*') {
            VLAdvance(scanner);
            VLAdvance(scanner);
            depth += 1;
        } else if (c == '*' && next == '/') {
            VLAdvance(scanner);
            VLAdvance(scanner);
            depth -= 1;
        } else {
            VLAdvance(scanner);
        }
    }
}

// Steps over a line comment and the line break that ends it. Runs of
// characters that are no tab, line break or NUL are stepped over at once.
static void VLSkipLineComment(VLScanner* scanner) {
    uint32_t line = scanner->position.line;
    while (!VLHasReachedEnd(scanner) && scanner->position.line == line) {
        const char* cursor = scanner->position.cursor;
        uint32_t plain = 0;
        for (char c = cursor[0]; c != '\0' && c != '\t' && !VLIsLineBreak(c); c = cursor[++plain]) {}
        if (plain > 0) VLStepWithinLine(scanner, plain);
        else VLAdvance(scanner);
    }
}

// Blanks, then a comment if one starts there, until neither is left.
void VLSkipBlanks(VLScanner* scanner) {
    for (;;) {
        while (VLIsBlank(scanner->current)) {
            uint32_t spaces = 0;
            while (scanner->position.cursor[spaces] == ' ') ++spaces;
            if (spaces > 0) VLStepWithinLine(scanner, spaces);
            else VLAdvance(scanner);
        }
        if (scanner->current != '/') return;
        char next = VLPeekNext(scanner);
        if (next == '*') VLSkipBlockComment(scanner);
        else if (next == '/') VLSkipLineComment(scanner);
        else return;
    }
}

// ---------------------------------------------------------------------------
// Token trials. Each works on a trial copy standing on the token's first
// character and, on success, leaves it on the token's last character.
// ---------------------------------------------------------------------------

// identifier := (letter | '_') (letter | digit | '_')*
static bool VLTryIdentifier(VLScanner* trial) {
    if (!VLIsLetter(trial->current)) return false;
    const char* cursor = trial->position.cursor;
    uint32_t rest = 0;  // characters after the first; the text's NUL ends the run
    while (VLIsLetter(cursor[rest + 1]) || VLIsDigit(cursor[rest + 1])) ++rest;
    VLStepWithinLine(trial, rest);
    return true;
}

// string := quote (escape | any character but quote)* quote, on one line;
// a quote that starts the following line still closes the literal.
static bool VLTryString(VLScanner* trial) {
    char quote = trial->current;
    if (quote != '\'' && quote != '"') return false;
    uint32_t line = trial->position.line;
    VLAdvance(trial);
    bool escaped = false;
    for (;;) {
        if (VLHasReachedEnd(trial)) return false;
        char c = trial->current;
        if (c == quote && !escaped) return true;
        if (trial->position.line != line) return false;
        escaped = !escaped && c == '\\';
        VLAdvance(trial);
    }
}

// The punctuators, longest first so that the first entry that matches wins.
static constexpr const char* VLPunctuators[] = {
    "<<=", ">>=", "^=", "|=", "&=", "%=", "/=", "*=", "-=", "+=", "||", "&&", "==", "!=",
    "<<",  ">>",  "<=", ">=", "=",  "|",  "&",  "!",  "@",  "%",  "?",  ",",  ".",  "{",
    "}",   "(",   ")",  "[",  "]",  "+",  "/",  "*",  "-",  "<",  ">",  "^",  ";",  "$",
};
enum { VLPunctuatorCount = sizeof VLPunctuators / sizeof VLPunctuators[0] };

// The punctuators grouped by first character, each group in table order (so
// still longest first): group c is entries[start[c]] up to entries[start[c + 1]].
// A punctuator is then found with at most four packed comparisons instead of
// a walk over the whole table.
struct VLPunctuatorIndex {
    uint8_t start[257];
    uint32_t codes[VLPunctuatorCount];
    uint32_t masks[VLPunctuatorCount];  // the low bytes a code occupies
    uint8_t lengths[VLPunctuatorCount];
};

static constexpr VLPunctuatorIndex VLBuildPunctuatorIndex() {
    VLPunctuatorIndex index = {};
    uint32_t filled = 0;
    for (uint32_t c = 0; c < 256; ++c) {
        index.start[c] = uint8_t(filled);
        for (const char* entry : VLPunctuators) {
            if (uint8_t(entry[0]) != c) continue;
            uint32_t length = 0;
            while (entry[length]) ++length;
            index.codes[filled] = VLCode(entry);
            index.masks[filled] = length == 4 ? 0xFFFFFFFFu : (1u << (8 * length)) - 1;
            index.lengths[filled] = uint8_t(length);
            ++filled;
        }
    }
    index.start[256] = uint8_t(filled);
    return index;
}

static constexpr VLPunctuatorIndex VLPunctuatorTable = VLBuildPunctuatorIndex();
static_assert(VLPunctuatorTable.start[256] == VLPunctuatorCount, "every punctuator is indexed");

// Returns the code of the punctuator at the trial position, or 0. The four
// characters ahead are packed like a code (NUL past the end of the text), so
// an entry matches when the code's bytes equal the low bytes of that pack.
static uint32_t VLTryPunctuation(VLScanner* trial) {
    char ahead[4] = {0, 0, 0, 0};
    VLPeek(trial, 4, ahead);
    uint32_t packed = 0;
    for (int i = 0; i < 4; ++i) packed |= uint32_t(uint8_t(ahead[i])) << (8 * i);
    uint32_t first = uint8_t(ahead[0]);
    for (uint32_t i = VLPunctuatorTable.start[first]; i < VLPunctuatorTable.start[first + 1]; ++i) {
        if ((packed & VLPunctuatorTable.masks[i]) != VLPunctuatorTable.codes[i]) continue;
        for (uint32_t step = 1; step < VLPunctuatorTable.lengths[i]; ++step) VLAdvance(trial);
        return VLPunctuatorTable.codes[i];
    }
    return 0;
}

// Records a quoted literal's quote and content; the token's start and end are set.
static void VLSetStringContent(VLToken* token) {
    token->string.quote = uint8_t(*token->start.cursor);
    token->string.length = token->end.offset - token->start.offset - 1;
    token->string.contentFirst = token->start.cursor + 1;
    token->string.contentLast = token->end.cursor - 1;
}

// Runs the trials in order on the token's first character. On success sets
// the token's type, end and kind-specific fields and returns true. The
// characters that can start an identifier, a quoted literal, a number and a
// punctuator are disjoint sets, so only the trial the first character allows
// is run: every other one would fail.
static bool VLScanTokenKind(const VLScanner* scanner, VLToken* token) {
    char first = scanner->current;
    VLScanner trial = VLTrialCopy(scanner);
    if (VLIsLetter(first)) {
        VLTryIdentifier(&trial);  // a letter always starts an identifier
        token->type = VLTokenType_Identifier;
        token->end = trial.position;
        return true;
    }
    if ((first == '\'' || first == '"') && VLTryString(&trial)) {
        token->type = VLTokenType_String;
        token->end = trial.position;
        VLSetStringContent(token);
        return true;
    }
    if (VLIsDigit(first)) {
        VLNumberResult number = VLScanNumber(&trial);
        if (number.base == VLNumberBase_None) return false;
        token->type = VLTokenType_Number;
        token->end = trial.position;
        token->number.base = number.base;
        token->number.value = number.value;
        return true;
    }
    trial = VLTrialCopy(scanner);
    uint32_t code = VLTryPunctuation(&trial);
    if (code != 0) {
        token->type = VLTokenType_Punctuation;
        token->end = trial.position;
        token->punctuation.code = code;
        return true;
    }
    return false;
}

// Moves the committed scanner onto `target`, a position a trial reached from
// the current one, so that line breaks on the way are recorded once.
static void VLCommitTo(VLScanner* scanner, const VLScanPosition* target) {
    if (target->line == scanner->position.line) {
        // No line break on the way: nothing to record, the trial's position is the scanner's.
        scanner->position = *target;
        scanner->current = *target->cursor;
        return;
    }
    while (scanner->position.cursor < target->cursor) {
        VL_ASSERT(!VLHasReachedEnd(scanner));
        VLAdvance(scanner);
    }
    VL_ASSERT(scanner->position.offset == target->offset);
}

static uint32_t VLCloserOf(uint32_t opener) {
    switch (opener) {
        case '(': return ')';
        case '[': return ']';
        case '{': return '}';
        default: return 0;
    }
}

// Pairs brackets through `match`. `open` is the innermost open bracket, the
// others reached through `enclosing`. A closer that does not close the
// innermost bracket becomes an invalid token that names that bracket (for
// messages) and leaves the stack alone.
static void VLPairBracket(VLToken* token, VLToken** open) {
    uint32_t code = token->punctuation.code;
    if (VLCloserOf(code) != 0) {
        token->punctuation.enclosing = *open;
        *open = token;
        return;
    }
    if (code != ')' && code != ']' && code != '}') return;
    VLToken* innermost = *open;
    if (!innermost || VLCloserOf(innermost->punctuation.code) != code) {
        token->type = VLTokenType_Invalid;
        token->punctuation.enclosing = innermost;
        return;
    }
    innermost->punctuation.match = token;
    token->punctuation.match = innermost;
    *open = innermost->punctuation.enclosing;
}

// The most frequent line-ending style; the earlier style wins a tie.
static uint32_t VLEolTypeOf(const uint32_t counts[4]) {
    uint32_t best = VLEolType_None;
    uint32_t bestCount = 0;
    for (uint32_t i = 0; i < 4; ++i) {
        if (counts[i] > bestCount) {
            best = i + 1;
            bestCount = counts[i];
        }
    }
    return best;
}

VLScanResult VLTokenize(const char* text, VLArena* arena, uint32_t file) {
    VLScanResult result = {};
    result.firstLine.start.cursor = text;
    VLScanner scanner = {};
    scanner.position.cursor = text;
    scanner.current = *text;
    scanner.lineCount = 1;
    scanner.linesTail = &result.firstLine.next;
    scanner.arena = arena;

    VLToken** tokensTail = &result.tokens;
    VLToken** invalidTail = &result.invalidTokens;
    VLToken* openBracket = nullptr;
    VLSkipBlanks(&scanner);
    while (!VLHasReachedEnd(&scanner)) {
        VLToken* token = VLArenaNew<VLToken>(arena);
        *tokensTail = token;
        tokensTail = &token->next;
        scanner.currentToken = token;
        token->file = file;
        token->start = scanner.position;

        if (VLScanTokenKind(&scanner, token)) {
            VLCommitTo(&scanner, &token->end);
            if (token->type == VLTokenType_Punctuation) VLPairBracket(token, &openBracket);
        } else {
            token->type = VLTokenType_Invalid;
            token->end = token->start;
        }
        // A token's last character is never blank or NUL, so stepping over it stays on the line.
        VL_ASSERT(!VLIsBlank(scanner.current) && !VLHasReachedEnd(&scanner));
        VLStepWithinLine(&scanner, 1);

        if (token->type == VLTokenType_Invalid) {
            *invalidTail = token;
            invalidTail = &token->invalid.nextInvalid;
        }
        VLSkipBlanks(&scanner);
    }
    result.eolType = VLEolTypeOf(scanner.eolCounts);
    result.lineCount = scanner.lineCount;
    return result;
}

uint32_t VLOperatorCode(const VLToken* token) {
    if (token->type == VLTokenType_Identifier) {
        VLString text = VLTokenText(token);
        return text.length == 3 && memcmp(text.chars, "abs", 3) == 0 ? VLCode("abs") : 0;
    }
    if (token->type != VLTokenType_Punctuation) return 0;
    switch (token->punctuation.code) {
        case VLCode("!"): case VLCode("%"): case VLCode("&"): case VLCode("*"): case VLCode("+"):
        case VLCode("-"): case VLCode("/"): case VLCode("<"): case VLCode(">"): case VLCode("^"):
        case VLCode("|"): case VLCode("&&"): case VLCode("<<"): case VLCode("!="): case VLCode("<="):
        case VLCode("=="): case VLCode(">="): case VLCode(">>"): case VLCode("||"):
            return token->punctuation.code;
        default:
            return 0;
    }
}
