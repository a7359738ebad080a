// ScannerTests.cpp - tokens, positions, comments, brackets, invalid tokens,
// line records and line-ending styles, operator codes, and scanning of large
// or hostile texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// Tokenizes a text (which may hold NUL bytes: the scanner sees it up to the
// first one) and keeps the arena for the test's lifetime.
struct Scanned {
    VLArena arena = {};
    std::string text;
    VLScanResult result = {};
    std::vector<VLToken*> tokens;
    std::vector<VLToken*> invalid;

    explicit Scanned(std::string source) : text(std::move(source)) {
        result = VLTokenize(text.c_str(), &arena);
        for (VLToken* t = result.tokens; t; t = t->next) tokens.push_back(t);
        for (VLToken* t = result.invalidTokens; t; t = t->invalid.nextInvalid) invalid.push_back(t);
    }
    ~Scanned() { VLArenaRelease(&arena); }
    Scanned(const Scanned&) = delete;
    Scanned& operator=(const Scanned&) = delete;

    std::string Text(size_t i) const {
        VLString s = VLTokenText(tokens.at(i));
        return std::string(s.chars, s.length);
    }
    // "I:abc P:<<= N:12 S:'x' X:#": kind letter and text of every token.
    std::string Summary() const {
        static const char kinds[] = "XISNP";
        std::string out;
        for (size_t i = 0; i < tokens.size(); ++i) {
            if (i) out += ' ';
            out += kinds[tokens[i]->type];
            out += ':';
            out += Text(i);
        }
        return out;
    }
};

// --------------------------------------------------------------------------
// Token kinds and texts
// --------------------------------------------------------------------------
struct KindCase {
    const char* name;
    std::string text;
    const char* summary;
};

TEST(Scanner, TokenKindsAndBoundaries) {
    const KindCase cases[] = {
        {"empty", "", ""},
        {"identifiers", "_a1 Z_9 abc", "I:_a1 I:Z_9 I:abc"},
        {"longest punctuator first", "a<<=b", "I:a P:<<= I:b"},
        {"two-character shift", "a<<b", "I:a P:<< I:b"},
        {"no => punctuator", "=>", "P:= P:>"},
        {"shift then assign", ">>==", "P:>>= P:="},
        {"triple less", "<<<", "P:<< P:<"},
        {"number then identifier", "12abc", "N:12 I:abc"},
        {"octal zero then decimal", "09", "N:0 N:9"},
        {"hex prefix without digit", "0x", "X:0 I:x"},
        {"binary prefix with bad digit", "0b2", "X:0 I:b2"},
        {"hex prefix before blank", "0x ;", "X:0 I:x P:;"},
        {"digits in identifier", "a12 3", "I:a12 N:3"},
        {"characters that start nothing", "#:~`\\", "X:# X:: X:~ X:` X:\\"},
        {"control bytes", "\x01\x7f", "X:\x01 X:\x7f"},
        {"high bytes", "\x80\xff" "a", "X:\x80 X:\xff I:a"},
        {"empty single-quoted", "''", "S:''"},
        {"empty double-quoted", "\"\"", "S:\"\""},
        {"other quote inside", "\"a'b\"", "S:\"a'b\""},
        {"escaped quote inside", "'a\\'b'", "S:'a\\'b'"},
        {"escaped backslash does not escape", "'\\\\'x", "S:'\\\\' I:x"},
        {"unterminated at line end", "'ab\nx", "X:' I:ab I:x"},
        {"unterminated at text end", "\"ab", "X:\" I:ab"},
        {"quote starting next line closes", "'ab\n'", "S:'ab\n'"},
        {"quote later on next line does not close", "'ab\n x'", "X:' I:ab I:x X:'"},
        {"escaped line break then quote", "'a\\\n'", "S:'a\\\n'"},
        {"NUL ends the text", std::string("a b\0c d", 7), "I:a I:b"},
        {"dollar and at", "$@?", "P:$ P:@ P:?"},
    };
    for (const KindCase& c : cases) {
        Scanned s(c.text);
        EXPECT_EQ(s.Summary(), c.summary) << c.name;
    }
}

TEST(Scanner, EveryPunctuatorHasItsPackedCode) {
    const char* punctuators[] = {
        "<<=", ">>=", "^=", "|=", "&=", "%=", "/=", "*=", "-=", "+=", "||", "&&", "==", "!=",
        "<<",  ">>",  "<=", ">=", "=",  "|",  "&",  "!",  "@",  "%",  "?",  ",",  ".",  "{",
        "}",   "(",   ")",  "[",  "]",  "+",  "/",  "*",  "-",  "<",  ">",  "^",  ";",  "$",
    };
    for (const char* p : punctuators) {
        // Surrounded by identifiers so the punctuator stands alone. Brackets
        // are scanned in pairs so that no closer turns invalid.
        std::string text = std::string("a ") + p + " b";
        if (std::string(p) == ")") text = "( a ) b";
        if (std::string(p) == "]") text = "[ a ] b";
        if (std::string(p) == "}") text = "{ a } b";
        Scanned s(text);
        VLToken* found = nullptr;
        for (size_t i = 0; i < s.tokens.size(); ++i)
            if (s.Text(i) == p) found = s.tokens[i];
        ASSERT_NE(found, nullptr) << p;
        EXPECT_EQ(found->type, VLTokenType_Punctuation) << p;
        EXPECT_EQ(found->punctuation.code, VLCode(p)) << p;
    }
    EXPECT_EQ(VLCode("("), 0x28u);
    EXPECT_EQ(VLCode("<="), 0x3D3Cu);
    EXPECT_EQ(VLCode("<<="), 0x3D3C3Cu);
}

// Every text of up to three characters drawn from the punctuators' characters
// (and one that starts no token) splits as a walk over the punctuator list,
// longest first, would split it.
TEST(Scanner, PunctuatorsSplitLongestFirst) {
    const char* const table[] = {
        "<<=", ">>=", "^=", "|=", "&=", "%=", "/=", "*=", "-=", "+=", "||", "&&", "==", "!=",
        "<<",  ">>",  "<=", ">=", "=",  "|",  "&",  "!",  "@",  "%",  "?",  ",",  ".",  "{",
        "}",   "(",   ")",  "[",  "]",  "+",  "/",  "*",  "-",  "<",  ">",  "^",  ";",  "$",
    };
    const std::string alphabet = "<>=^|&%/*-+!@?,.{}()[];$#";
    auto expectedSplit = [&](const std::string& text) {
        std::vector<std::string> pieces;
        for (size_t at = 0; at < text.size();) {
            size_t length = 1;
            for (const char* entry : table) {
                if (text.compare(at, strlen(entry), entry) == 0) {
                    length = strlen(entry);
                    break;
                }
            }
            pieces.push_back(text.substr(at, length));
            at += length;
        }
        return pieces;
    };
    std::vector<std::string> texts;
    for (char a : alphabet) {
        texts.push_back(std::string(1, a));
        for (char b : alphabet) {
            texts.push_back(std::string{a, b});
            for (char c : alphabet) texts.push_back(std::string{a, b, c});
        }
    }
    int checked = 0;
    for (const std::string& text : texts) {
        // "//" and "/*" open comments, which is not what this test is about.
        if (text.find("//") != std::string::npos || text.find("/*") != std::string::npos) continue;
        Scanned s(text);
        std::vector<std::string> got;
        for (size_t i = 0; i < s.tokens.size(); ++i) {
            got.push_back(s.Text(i));
            if (s.tokens[i]->type == VLTokenType_Punctuation) {
                EXPECT_EQ(s.tokens[i]->punctuation.code, VLCode(got.back().c_str())) << text;
            }
        }
        EXPECT_EQ(got, expectedSplit(text)) << text;
        ++checked;
    }
    EXPECT_GT(checked, 15000);
}

TEST(Scanner, QuotedLiteralContent) {
    struct Case {
        const char* text;
        char quote;
        uint32_t length;
        int firstOffset;  // offset of contentFirst from the text
        int lastOffset;   // offset of contentLast
    };
    const Case cases[] = {
        {"''", '\'', 0, 1, 0},
        {"\"\"", '"', 0, 1, 0},
        {"'ab'", '\'', 2, 1, 2},
        {"  \"x\\\"y\"", '"', 4, 3, 6},
        {"'a\r\n'", '\'', 3, 1, 3},
    };
    for (const Case& c : cases) {
        Scanned s(c.text);
        ASSERT_EQ(s.tokens.size(), 1u) << c.text;
        const VLToken* t = s.tokens[0];
        EXPECT_EQ(t->type, VLTokenType_String) << c.text;
        EXPECT_EQ(t->string.quote, uint8_t(c.quote)) << c.text;
        EXPECT_EQ(t->string.length, c.length) << c.text;
        EXPECT_EQ(t->string.contentFirst, s.text.c_str() + c.firstOffset) << c.text;
        EXPECT_EQ(t->string.contentLast, s.text.c_str() + c.lastOffset) << c.text;
    }
}

// --------------------------------------------------------------------------
// Positions
// --------------------------------------------------------------------------
struct PositionCase {
    const char* name;
    const char* text;
    size_t token;
    uint32_t offset, line, column, byteColumn;           // start
    uint32_t endOffset, endLine, endColumn, endByteColumn;  // end (last character)
};

TEST(Scanner, TokenPositions) {
    const PositionCase cases[] = {
        {"first token", "abc", 0, 0, 0, 0, 0, 2, 0, 2, 2},
        {"after blanks", "  ab", 0, 2, 0, 2, 2, 3, 0, 3, 3},
        {"tab at column 3", "abc\tx", 1, 4, 0, 8, 4, 4, 0, 8, 4},
        {"tab at column 0", "\tx", 0, 1, 0, 8, 1, 1, 0, 8, 1},
        {"tab at column 7", "1234567\tx", 1, 8, 0, 8, 8, 8, 0, 8, 8},
        {"tab at column 8", "12345678\tx", 1, 9, 0, 16, 9, 9, 0, 16, 9},
        {"two tabs", "\t\tx", 0, 2, 0, 16, 2, 2, 0, 16, 2},
        {"tab inside comment", "/*\t*/x", 0, 5, 0, 10, 5, 5, 0, 10, 5},
        {"after LF", "a\nbc", 1, 2, 1, 0, 0, 3, 1, 1, 1},
        {"after CR LF", "a\r\nb", 1, 3, 1, 0, 0, 3, 1, 0, 0},
        {"after LF CR", "a\n\rb", 1, 3, 1, 0, 0, 3, 1, 0, 0},
        {"after two CRs", "a\r\rb", 1, 3, 2, 0, 0, 3, 2, 0, 0},
        {"after LF LF CR", "a\n\n\rb", 1, 4, 2, 0, 0, 4, 2, 0, 0},
        {"column resets per line", "\tx\n\ty", 1, 4, 1, 8, 1, 4, 1, 8, 1},
        {"string across a break", "x '\n'", 1, 2, 0, 2, 2, 4, 1, 0, 0},
        {"punctuator end", "a <<= b", 1, 2, 0, 2, 2, 4, 0, 4, 4},
        {"invalid token", "a # b", 1, 2, 0, 2, 2, 2, 0, 2, 2},
        {"number with trailing separators", "1'' x", 0, 0, 0, 0, 0, 2, 0, 2, 2},
    };
    for (const PositionCase& c : cases) {
        Scanned s(c.text);
        ASSERT_GT(s.tokens.size(), c.token) << c.name;
        const VLToken* t = s.tokens[c.token];
        EXPECT_EQ(t->start.cursor, s.text.c_str() + c.offset) << c.name;
        EXPECT_EQ(t->start.offset, c.offset) << c.name;
        EXPECT_EQ(t->start.line, c.line) << c.name;
        EXPECT_EQ(t->start.column, c.column) << c.name;
        EXPECT_EQ(t->start.byteColumn, c.byteColumn) << c.name;
        EXPECT_EQ(t->end.cursor, s.text.c_str() + c.endOffset) << c.name;
        EXPECT_EQ(t->end.offset, c.endOffset) << c.name;
        EXPECT_EQ(t->end.line, c.endLine) << c.name;
        EXPECT_EQ(t->end.column, c.endColumn) << c.name;
        EXPECT_EQ(t->end.byteColumn, c.endByteColumn) << c.name;
        EXPECT_EQ(VLTokenText(t).length, c.endOffset - c.offset + 1) << c.name;
    }
}

// --------------------------------------------------------------------------
// Comments and blanks
// --------------------------------------------------------------------------
TEST(Scanner, CommentsAndBlanks) {
    const KindCase cases[] = {
        {"nested block comment", "/* a /* b */ c */ x", "I:x"},
        {"line comment at end without break", "a // note", "I:a"},
        {"line comment then next line", "a // c\nb", "I:a I:b"},
        {"line comment ended by CR LF", "a // c\r\nb", "I:a I:b"},
        {"line comments back to back", "//\n//\nx", "I:x"},
        {"unterminated block comment", "a /* b", "I:a"},
        {"unterminated nested block comment", "a /* /* */ b", "I:a"},
        {"empty block comment", "/**/x", "I:x"},
        {"slash-star-slash does not close", "a /*/ b */ c", "I:a I:c"},
        {"comment markers in block comment", "/* // */x", "I:x"},
        {"block comment in line comment", "// /*\nx", "I:x"},
        {"division is no comment", "a/b", "I:a P:/ I:b"},
        {"divide-assign is no comment", "a/=b", "I:a P:/= I:b"},
        {"separated slashes", "a/ /b", "I:a P:/ P:/ I:b"},
        {"comment right after token", "a/**/b", "I:a I:b"},
        {"every blank character", "a \t\n\v\f\r b", "I:a I:b"},
        {"comment inside string is text", "'/*' x", "S:'/*' I:x"},
        {"lone slash at end", "a /", "I:a P:/"},
        {"star slash outside comment", "*/", "P:* P:/"},
    };
    for (const KindCase& c : cases) {
        Scanned s(c.text);
        EXPECT_EQ(s.Summary(), c.summary) << c.name;
    }
}

// --------------------------------------------------------------------------
// Brackets and invalid tokens
// --------------------------------------------------------------------------
TEST(Scanner, BracketPairing) {
    struct Case {
        const char* name;
        const char* text;      // brackets only, no blanks
        const char* matches;   // per token: index of the match, '-' none, 'X' invalid
    };
    const Case cases[] = {
        {"paren then square closer", "(]", "-X"},
        {"extra closer", "())", "10X"},
        {"all kinds nested", "([{}])", "543210"},
        {"siblings", "()[]{}", "103254"},
        {"crossed", "{(})", "-3X1"},
        {"closer first", ")(", "X-"},
        {"open at end", "((", "--"},
        {"mismatch keeps the stack", "(]]))", "3XX0X"},
    };
    for (const Case& c : cases) {
        Scanned s(c.text);
        ASSERT_EQ(s.tokens.size(), strlen(c.matches)) << c.name;
        for (size_t i = 0; i < s.tokens.size(); ++i) {
            const VLToken* t = s.tokens[i];
            char want = c.matches[i];
            if (want == 'X') {
                EXPECT_EQ(t->type, VLTokenType_Invalid) << c.name << " token " << i;
                continue;
            }
            EXPECT_EQ(t->type, VLTokenType_Punctuation) << c.name << " token " << i;
            if (want == '-') EXPECT_EQ(t->punctuation.match, nullptr) << c.name << " token " << i;
            else EXPECT_EQ(t->punctuation.match, s.tokens[want - '0']) << c.name << " token " << i;
        }
    }
}

TEST(Scanner, InvalidTokensAreListedInTextOrderAndStayInTheMainList) {
    Scanned s("a # (] \x90 0x 'q\n]");
    EXPECT_EQ(s.Summary(), "I:a X:# P:( X:] X:\x90 X:0 I:x X:' I:q X:]");
    ASSERT_EQ(s.invalid.size(), 6u);
    const size_t mainIndex[] = {1, 3, 4, 5, 7, 9};
    for (size_t i = 0; i < s.invalid.size(); ++i) {
        EXPECT_EQ(s.invalid[i], s.tokens[mainIndex[i]]) << i;
        EXPECT_EQ(s.invalid[i]->end.offset, s.invalid[i]->start.offset) << i;
    }
    EXPECT_EQ(s.invalid.back()->invalid.nextInvalid, nullptr);

    Scanned clean("a (b) 'c'");
    EXPECT_EQ(clean.result.invalidTokens, nullptr);
}

TEST(Scanner, ThousandsOfUnmatchedBrackets) {
    const int n = 20000;
    Scanned opens(std::string(n, '(') + std::string(n, ']'));
    ASSERT_EQ(opens.tokens.size(), size_t(2 * n));
    EXPECT_EQ(opens.invalid.size(), size_t(n));
    for (int i = 0; i < n; ++i) EXPECT_EQ(opens.tokens[i]->punctuation.match, nullptr);

    Scanned closers(std::string(n, '}'));
    EXPECT_EQ(closers.invalid.size(), size_t(n));

    Scanned nested(std::string(n, '[') + std::string(n, ']'));
    EXPECT_EQ(nested.invalid.size(), 0u);
    EXPECT_EQ(nested.tokens[0]->punctuation.match, nested.tokens[2 * n - 1]);
    EXPECT_EQ(nested.tokens[n - 1]->punctuation.match, nested.tokens[n]);
}

// --------------------------------------------------------------------------
// Lines and line endings
// --------------------------------------------------------------------------
TEST(Scanner, LineCountAndEolType) {
    struct Case {
        const char* name;
        std::string text;
        uint32_t lineCount;
        uint32_t eolType;
    };
    const Case cases[] = {
        {"empty", "", 1, VLEolType_None},
        {"only blanks and comments", "  /* x */ // y", 1, VLEolType_None},
        {"LF", "a\nb", 2, VLEolType_LF},
        {"CR LF", "a\r\nb", 2, VLEolType_CRLF},
        {"CR", "a\rb", 2, VLEolType_CR},
        {"LF CR is one break", "a\n\rb", 2, VLEolType_LFCR},
        {"tie goes to the earlier style", "a\nb\r\nc", 3, VLEolType_LF},
        {"tie CR LF before CR", "a\rb\r\nc", 3, VLEolType_CRLF},
        {"majority wins", "a\r\nb\rc\rd", 4, VLEolType_CR},
        {"LF CR LF", "\n\r\n", 3, VLEolType_LF},
        {"breaks inside a block comment", "/*\n\n*/", 3, VLEolType_LF},
        {"break ending a line comment", "// x\n", 2, VLEolType_LF},
        {"trailing break", "a\n", 2, VLEolType_LF},
        {"break in a failed string trial counted once", "'ab\ncd", 2, VLEolType_LF},
        {"break inside a string", "'ab\r\n'", 2, VLEolType_CRLF},
        {"breaks after NUL ignored", std::string("a\0\n\n", 4), 1, VLEolType_None},
    };
    for (const Case& c : cases) {
        Scanned s(c.text);
        EXPECT_EQ(s.result.lineCount, c.lineCount) << c.name;
        EXPECT_EQ(s.result.eolType, c.eolType) << c.name;
        uint32_t records = 1;
        for (VLLine* l = s.result.firstLine.next; l; l = l->next) ++records;
        EXPECT_EQ(records, c.lineCount) << c.name;
    }
}

TEST(Scanner, LineRecords) {
    // Each line: offset of its first character and the token current when
    // its break was crossed (index into the token list, -1 none).
    struct Case {
        const char* name;
        const char* text;
        std::vector<std::pair<uint32_t, int>> lines;  // after the first
    };
    const Case cases[] = {
        {"token before the break", "a\nb", {{2, 0}}},
        {"break before any token", "\n\na", {{1, -1}, {2, -1}}},
        {"CR LF pair", "a\r\n\r\nb", {{3, 0}, {5, 0}}},
        {"string across a break", "x '\n' y", {{4, 1}}},
        {"inside a block comment", "a /*\n*/ b\nc", {{5, 0}, {10, 1}}},
        {"failed string trial", "'ab\ncd", {{4, 1}}},
    };
    for (const Case& c : cases) {
        Scanned s(c.text);
        EXPECT_EQ(s.result.firstLine.start.cursor, s.text.c_str()) << c.name;
        EXPECT_EQ(s.result.firstLine.start.offset, 0u) << c.name;
        EXPECT_EQ(s.result.firstLine.token, nullptr) << c.name;
        const VLLine* line = s.result.firstLine.next;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            ASSERT_NE(line, nullptr) << c.name << " line " << i + 1;
            EXPECT_EQ(line->start.offset, c.lines[i].first) << c.name << " line " << i + 1;
            EXPECT_EQ(line->start.cursor, s.text.c_str() + c.lines[i].first) << c.name;
            EXPECT_EQ(line->start.line, uint32_t(i + 1)) << c.name;
            EXPECT_EQ(line->start.column, 0u) << c.name;
            EXPECT_EQ(line->start.byteColumn, 0u) << c.name;
            const VLToken* want = c.lines[i].second < 0 ? nullptr : s.tokens.at(c.lines[i].second);
            EXPECT_EQ(line->token, want) << c.name << " line " << i + 1;
            line = line->next;
        }
        EXPECT_EQ(line, nullptr) << c.name;
    }
}

// --------------------------------------------------------------------------
// Scanner primitives
// --------------------------------------------------------------------------
VLScanner ScannerAt(const char* text, VLLine** linesTail, VLArena* arena) {
    VLScanner scanner = {};
    scanner.position.cursor = text;
    scanner.current = *text;
    scanner.lineCount = 1;
    scanner.linesTail = linesTail;
    scanner.arena = arena;
    return scanner;
}

TEST(Scanner, PeekStopsAtTheEndAndLeavesTheRest) {
    VLScanner scanner = ScannerAt("ab", nullptr, nullptr);
    char buffer[4] = {'w', 'x', 'y', 'z'};
    VLPeek(&scanner, 4, buffer);
    EXPECT_EQ(std::string(buffer, 4), "abyz");
    EXPECT_EQ(scanner.position.offset, 0u);

    VLScanner crlf = ScannerAt("\r\nq", nullptr, nullptr);
    char raw[3] = {};
    VLPeek(&crlf, 3, raw);
    EXPECT_EQ(std::string(raw, 3), "\r\nq");
}

TEST(Scanner, AdvanceAtTheEndChangesNothing) {
    VLScanner scanner = ScannerAt("", nullptr, nullptr);
    EXPECT_TRUE(VLHasReachedEnd(&scanner));
    VLAdvance(&scanner);
    EXPECT_EQ(scanner.position.offset, 0u);
    EXPECT_EQ(scanner.position.column, 0u);
}

TEST(Scanner, AdvanceRecordsLinesOnlyWhenAsked) {
    VLArena arena = {};
    VLLine first = {};
    VLScanner recording = ScannerAt("a\nb\r", &first.next, &arena);
    while (!VLHasReachedEnd(&recording)) VLAdvance(&recording);
    EXPECT_EQ(recording.lineCount, 3u);
    ASSERT_NE(first.next, nullptr);
    EXPECT_EQ(first.next->start.offset, 2u);
    ASSERT_NE(first.next->next, nullptr);
    EXPECT_EQ(first.next->next->start.offset, 4u);
    EXPECT_EQ(recording.eolCounts[0], 1u);
    EXPECT_EQ(recording.eolCounts[2], 1u);

    VLScanner lookAhead = ScannerAt("a\nb\r", nullptr, nullptr);  // no arena: must not allocate
    while (!VLHasReachedEnd(&lookAhead)) VLAdvance(&lookAhead);
    EXPECT_EQ(lookAhead.lineCount, 1u);
    EXPECT_EQ(lookAhead.position.line, 2u);
    VLArenaRelease(&arena);
}

// --------------------------------------------------------------------------
// Operator codes
// --------------------------------------------------------------------------
TEST(Scanner, OperatorCodes) {
    struct Case {
        const char* text;
        uint32_t code;
    };
    const Case cases[] = {
        {"abs", 0x736261},   {"absx", 0},          {"ab", 0},            {"Abs", 0},
        {"!", VLCode("!")},  {"%", VLCode("%")},   {"&", VLCode("&")},   {"*", VLCode("*")},
        {"+", VLCode("+")},  {"-", VLCode("-")},   {"/", VLCode("/")},   {"<", VLCode("<")},
        {">", VLCode(">")},  {"^", VLCode("^")},   {"|", VLCode("|")},   {"&&", VLCode("&&")},
        {"<<", VLCode("<<")}, {"!=", VLCode("!=")}, {"<=", VLCode("<=")}, {"==", VLCode("==")},
        {">=", VLCode(">=")}, {">>", VLCode(">>")}, {"||", VLCode("||")}, {"=", 0},
        {"+=", 0},           {"<<=", 0},           {"@", 0},             {"$", 0},
        {"?", 0},            {",", 0},             {".", 0},             {";", 0},
        {"(", 0},            {"[", 0},             {"{", 0},             {"7", 0},
        {"'abs'", 0},        {"#", 0},
    };
    for (const Case& c : cases) {
        Scanned s(c.text);
        ASSERT_EQ(s.tokens.size(), 1u) << c.text;
        EXPECT_EQ(VLOperatorCode(s.tokens[0]), c.code) << c.text;
    }
}

// --------------------------------------------------------------------------
// Large and hostile texts
// --------------------------------------------------------------------------
std::string Repeat(const char* piece, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(Scanner, LongLinesScanAsOneToken) {
    const size_t n = 100000;
    struct Case {
        const char* name;
        std::string text;
        const char* kinds;  // expected token kind letters
    };
    const Case cases[] = {
        {"identifier", std::string(n, 'a'), "I"},
        {"string", "'" + std::string(n, 'a') + "'", "S"},
        {"escaped string", "'" + std::string(n, '\\') + "'", "S"},
        {"number", std::string(n, '7'), "N"},
        {"separators", "1" + std::string(n, '\''), "N"},
        {"block comment", "/*" + std::string(n, '*') + "*/x", "I"},
        {"deeply nested comments", Repeat("/*", n / 2) + Repeat("*/", n / 2) + "x", "I"},
        {"unclosed nested comments", Repeat("/*", n / 2), ""},
        {"tabs", std::string(n, '\t') + "x", "I"},
        {"unterminated string", "'" + std::string(n, 'a'), "XI"},
    };
    for (const Case& c : cases) {
        Scanned s(c.text);
        std::string kinds;
        for (VLToken* t : s.tokens) kinds += "XISNP"[t->type];
        EXPECT_EQ(kinds, c.kinds) << c.name;
    }
    Scanned tabs(std::string(n, '\t') + "x");
    EXPECT_EQ(tabs.tokens[0]->start.column, uint32_t(8 * n));
    EXPECT_EQ(tabs.tokens[0]->start.byteColumn, uint32_t(n));
}

TEST(Scanner, TenMegabyteLayoutInLinearTime) {
    const std::string line = "struct Chunk_0123456789 { u(4, hex) magic; /* note */ 'ab' } // " +
                             std::string(100, '-') + "\r\n";
    std::string text;
    text.reserve(10 << 20);
    while (text.size() + line.size() <= size_t(10 << 20)) text += line;
    const size_t lines = text.size() / line.size();

    auto started = std::chrono::steady_clock::now();
    Scanned s(text);
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_EQ(s.tokens.size(), lines * 13);
    EXPECT_TRUE(s.invalid.empty());
    EXPECT_EQ(s.result.lineCount, uint32_t(lines + 1));
    EXPECT_EQ(s.result.eolType, VLEolType_CRLF);
    EXPECT_EQ(s.tokens.back()->start.line, uint32_t(lines - 1));
    EXPECT_LT(seconds, 60.0);  // generous: a quadratic scan takes hours
}

// --------------------------------------------------------------------------
// Random texts: invariants against an independent reference
// --------------------------------------------------------------------------

// Line, column and byte column of every character start, counted directly.
struct ReferencePosition {
    bool isStart;  // false for the second character of a CR LF or LF CR pair
    uint32_t line, column, byteColumn;
};

std::vector<ReferencePosition> ReferencePositions(const std::string& text, uint32_t* breaks) {
    std::vector<ReferencePosition> out(text.size() + 1);
    uint32_t line = 0, column = 0, byteColumn = 0;
    *breaks = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        out[i] = {true, line, column, byteColumn};
        if (i == text.size()) break;
        char c = text[i];
        if (c == '\n' || c == '\r') {
            char other = c == '\n' ? '\r' : '\n';
            if (i + 1 < text.size() && text[i + 1] == other) {
                out[i + 1].isStart = false;
                ++i;
                out[i].isStart = false;
            }
            ++line;
            ++*breaks;
            column = byteColumn = 0;
            continue;
        }
        ++byteColumn;
        column = c == '\t' ? (column / 8 + 1) * 8 : column + 1;
    }
    return out;
}

TEST(Scanner, RandomTextsKeepTheirInvariants) {
    const char alphabet[] = "ab_09x'\"\\/*()[]{}<=>!&|#\t \n\r\x80;.";
    uint64_t seed = 0x9e3779b97f4a7c15;
    auto next = [&seed]() {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        return seed;
    };
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        size_t length = next() % 60;
        for (size_t i = 0; i < length; ++i) text += alphabet[next() % (sizeof(alphabet) - 1)];
        Scanned s(text);
        uint32_t breaks = 0;
        std::vector<ReferencePosition> ref = ReferencePositions(text, &breaks);
        ASSERT_EQ(s.result.lineCount, breaks + 1) << text;

        uint32_t records = 0;
        uint32_t previousLineOffset = 0;
        for (const VLLine* l = s.result.firstLine.next; l; l = l->next) {
            ++records;
            EXPECT_GT(l->start.offset, previousLineOffset) << text;
            EXPECT_EQ(l->start.line, records) << text;
            previousLineOffset = l->start.offset;
        }
        EXPECT_EQ(records, breaks) << text;

        const VLToken* invalid = s.result.invalidTokens;
        int64_t previousEnd = -1;
        for (const VLToken* t : s.tokens) {
            const VLScanPosition* ends[2] = {&t->start, &t->end};
            for (const VLScanPosition* p : ends) {
                ASSERT_LE(p->offset, text.size()) << text;
                EXPECT_EQ(p->cursor, s.text.c_str() + p->offset) << text;
                const ReferencePosition& r = ref[p->offset];
                EXPECT_TRUE(r.isStart) << text;
                EXPECT_EQ(p->line, r.line) << text;
                EXPECT_EQ(p->column, r.column) << text;
                EXPECT_EQ(p->byteColumn, r.byteColumn) << text;
            }
            EXPECT_GT(int64_t(t->start.offset), previousEnd) << text;
            EXPECT_GE(t->end.offset, t->start.offset) << text;
            previousEnd = t->end.offset;
            if (t->type == VLTokenType_Invalid) {
                EXPECT_EQ(t, invalid) << text;
                if (invalid) invalid = invalid->invalid.nextInvalid;
            }
            if (t->type == VLTokenType_Punctuation && t->punctuation.match) {
                EXPECT_EQ(t->punctuation.match->punctuation.match, t) << text;
                EXPECT_EQ(t->punctuation.match->type, VLTokenType_Punctuation) << text;
            }
        }
        EXPECT_EQ(invalid, nullptr) << text;
    }
}

}  // namespace
