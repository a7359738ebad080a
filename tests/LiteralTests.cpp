// LiteralTests.cpp - number literals in every notation, and quoted literals
// converted to integers through a compile context, with their messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Compiler.h"
#include "TestSupport.h"

namespace {

// --------------------------------------------------------------------------
// Number literals
// --------------------------------------------------------------------------
VLScanner ScannerAt(const char* text) {
    VLScanner scanner = {};
    scanner.position.cursor = text;
    scanner.current = *text;
    scanner.lineCount = 1;
    return scanner;  // no linesTail and no arena: a trial never records or allocates
}

struct NumberCase {
    const char* text;
    uint32_t base;     // 0: not a number
    uint64_t value;
    uint32_t length;   // characters of the literal, separators included
};

TEST(NumberLiteral, EveryNotation) {
    const NumberCase cases[] = {
        // decimal
        {"7", VLNumberBase_Decimal, 7, 1},
        {"1'000'000", VLNumberBase_Decimal, 1000000, 9},
        {"1''2", VLNumberBase_Decimal, 12, 4},
        {"9''", VLNumberBase_Decimal, 9, 3},
        {"12abc", VLNumberBase_Decimal, 12, 2},
        {"18446744073709551615", VLNumberBase_Decimal, UINT64_MAX, 20},
        {"18446744073709551616", VLNumberBase_Decimal, 0, 20},
        {"18446744073709551626", VLNumberBase_Decimal, 10, 20},
        // octal
        {"0", VLNumberBase_Octal, 0, 1},
        {"017", VLNumberBase_Octal, 15, 3},
        {"0'7", VLNumberBase_Octal, 7, 3},
        {"0'", VLNumberBase_Octal, 0, 2},
        {"09", VLNumberBase_Octal, 0, 1},
        {"078", VLNumberBase_Octal, 7, 2},
        {"01777777777777777777777", VLNumberBase_Octal, UINT64_MAX, 23},
        {"02000000000000000000000", VLNumberBase_Octal, 0, 23},
        // binary
        {"0b1010", VLNumberBase_Binary, 10, 6},
        {"0B11", VLNumberBase_Binary, 3, 4},
        {"0b'1'0", VLNumberBase_Binary, 2, 6},
        {"0b102", VLNumberBase_Binary, 2, 4},
        {"0b1''", VLNumberBase_Binary, 1, 5},
        // hexadecimal
        {"0x'FF", VLNumberBase_Hex, 255, 5},
        {"0X1f", VLNumberBase_Hex, 31, 4},
        {"0xdeadBEEF", VLNumberBase_Hex, 0xdeadbeef, 10},
        {"0x1g", VLNumberBase_Hex, 1, 3},
        {"0xFFFFFFFFFFFFFFFF", VLNumberBase_Hex, UINT64_MAX, 18},
        {"0x1FFFFFFFFFFFFFFFF", VLNumberBase_Hex, UINT64_MAX, 19},
        {"0x10000000000000000", VLNumberBase_Hex, 0, 19},
        // not numbers
        {"", VLNumberBase_None, 0, 0},
        {"a1", VLNumberBase_None, 0, 0},
        {"'1", VLNumberBase_None, 0, 0},
        {"-1", VLNumberBase_None, 0, 0},
        {"0x", VLNumberBase_None, 0, 0},
        {"0X", VLNumberBase_None, 0, 0},
        {"0xg", VLNumberBase_None, 0, 0},
        {"0x ", VLNumberBase_None, 0, 0},
        {"0x\n1", VLNumberBase_None, 0, 0},
        {"0x'", VLNumberBase_None, 0, 0},
        {"0x''g", VLNumberBase_None, 0, 0},
        {"0b", VLNumberBase_None, 0, 0},
        {"0b2", VLNumberBase_None, 0, 0},
        {"0b'", VLNumberBase_None, 0, 0},
        {"0B9", VLNumberBase_None, 0, 0},
    };
    for (const NumberCase& c : cases) {
        VLScanner scanner = ScannerAt(c.text);
        VLNumberResult result = VLScanNumber(&scanner);
        EXPECT_EQ(result.base, c.base) << c.text;
        if (c.base == VLNumberBase_None) continue;
        EXPECT_EQ(result.value, c.value) << c.text;
        // The scanner stands on the literal's last character.
        EXPECT_EQ(scanner.position.offset, c.length - 1) << c.text;
        EXPECT_EQ(scanner.position.cursor, c.text + c.length - 1) << c.text;
    }
}

TEST(NumberLiteral, TokensCarryTheirValueAndTheRestScansOn) {
    struct Case {
        const char* text;
        std::vector<std::pair<int32_t, uint64_t>> tokens;  // type, number value
    };
    const Case cases[] = {
        {"09", {{VLTokenType_Number, 0}, {VLTokenType_Number, 9}}},
        {"0x", {{VLTokenType_Invalid, 0}, {VLTokenType_Identifier, 0}}},
        {"0b2", {{VLTokenType_Invalid, 0}, {VLTokenType_Identifier, 0}}},
        {"0b1010+0x'FF", {{VLTokenType_Number, 10}, {VLTokenType_Punctuation, 0}, {VLTokenType_Number, 255}}},
        {"0''8", {{VLTokenType_Number, 0}, {VLTokenType_Number, 8}}},
        {"1'000'000;", {{VLTokenType_Number, 1000000}, {VLTokenType_Punctuation, 0}}},
    };
    for (const Case& c : cases) {
        VLArena arena = {};
        VLScanResult scanned = VLTokenize(c.text, &arena);
        const VLToken* token = scanned.tokens;
        for (size_t i = 0; i < c.tokens.size(); ++i, token = token->next) {
            ASSERT_NE(token, nullptr) << c.text << " token " << i;
            EXPECT_EQ(token->type, c.tokens[i].first) << c.text << " token " << i;
            if (token->type == VLTokenType_Number) {
                EXPECT_EQ(token->number.value, c.tokens[i].second) << c.text << " token " << i;
            }
        }
        EXPECT_EQ(token, nullptr) << c.text;
        VLArenaRelease(&arena);
    }
}

TEST(NumberLiteral, BaseIsRecordedOnTheToken) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"0b1", VLNumberBase_Binary}, {"0", VLNumberBase_Octal},
        {"5", VLNumberBase_Decimal},  {"0xa", VLNumberBase_Hex},
    };
    for (const auto& [text, base] : cases) {
        VLArena arena = {};
        VLScanResult scanned = VLTokenize(text, &arena);
        ASSERT_NE(scanned.tokens, nullptr) << text;
        EXPECT_EQ(scanned.tokens->number.base, base) << text;
        VLArenaRelease(&arena);
    }
}

// --------------------------------------------------------------------------
// Quoted literals as integers
// --------------------------------------------------------------------------

// A compile context standing on the first token of a text, outside any
// statement, so that errors go straight into output.error.
struct QuotedContext {
    VLArena arena = {};
    VLContext ctx = {};
    VLToken* first = nullptr;

    explicit QuotedContext(const char* text) {
        first = VLTokenize(text, &arena).tokens;
        ctx.arena = &arena;
        ctx.token = first;
        // Formatted messages are only formatted once a token was consumed.
        ctx.speculativeParse.tokenCount = 1;
    }
    // A quoted-literal token with the given content followed by one more
    // token. The scanner pairs every backslash, so content that ends in an
    // unpaired one can only be made by hand.
    QuotedContext(const char* content, size_t length) {
        handMade.type = VLTokenType_String;
        handMade.string.quote = '\'';
        handMade.string.length = uint32_t(length);
        handMade.string.contentFirst = content;
        handMade.string.contentLast = content + length - 1;
        handMade.next = &after;
        after.type = VLTokenType_Identifier;
        first = &handMade;
        ctx.arena = &arena;
        ctx.token = first;
        ctx.speculativeParse.tokenCount = 1;
    }
    VLToken handMade = {};
    VLToken after = {};
    ~QuotedContext() { VLArenaRelease(&arena); }
    QuotedContext(const QuotedContext&) = delete;
    QuotedContext& operator=(const QuotedContext&) = delete;

    std::string Error() const {
        return ctx.output.error.message ? std::string(ctx.output.error.message) : std::string();
    }
};

const char* const kTooLarge = "String is too large to be interpreted as integer.";
const char* const kTrailing = "Unexpected trailing \\.";

struct QuotedCase {
    const char* text;
    uint32_t valid;
    uint64_t value;
    std::string error;  // empty: none
};

TEST(QuotedLiteral, ConversionAndMessages) {
    const QuotedCase cases[] = {
        {"''", 1, 0, ""},
        {"\"\"", 1, 0, ""},
        {"'A'", 1, 0x41, ""},
        {"'AB'", 1, 0x4241, ""},
        {"\"AB\"", 1, 0x4241, ""},
        {"'ABCDEFGH'", 1, 0x4847464544434241, ""},
        {"'ABCDEFGHI'", 1, 0x4847464544434241, kTooLarge},
        {"'ABCDEFGH\\\\'", 1, 0x4847464544434241, kTooLarge},
        {"'ABCDEFG\\n'", 1, 0x0a47464544434241, ""},
        {"'\\n'", 1, 10, ""},
        {"'\\r'", 1, 13, ""},
        {"'\\t'", 1, 9, ""},
        {"'\\0'", 1, 0, ""},
        {"'\\0A'", 1, 0x4100, ""},
        {"'\\\\'", 1, 92, ""},
        {"'\\\\\\\\'", 1, 0x5c5c, ""},
        {"'\\q'", 1, 0, "Unexpected \\q, only \\n, \\r, \\\\, \\0 and \\t allowed."},
        {"'a\\qb'", 1, 0x6261, "Unexpected \\q, only \\n, \\r, \\\\, \\0 and \\t allowed."},
        {"'\\''", 1, 0, "Unexpected \\', only \\n, \\r, \\\\, \\0 and \\t allowed."},
        {"\"\\\"\"", 1, 0, "Unexpected \\\", only \\n, \\r, \\\\, \\0 and \\t allowed."},
        {"'\\\xe9'", 1, 0, "Unexpected \\\xe9, only \\n, \\r, \\\\, \\0 and \\t allowed."},
        {"'\xff\x80'", 1, 0x80ff, ""},
    };
    for (const QuotedCase& c : cases) {
        QuotedContext q(c.text);
        ASSERT_NE(q.first, nullptr) << c.text;
        ASSERT_EQ(q.first->type, VLTokenType_String) << c.text;
        VLStringIntegerResult result = VLStringToInteger(&q.ctx, q.first);
        EXPECT_EQ(result.valid, c.valid) << c.text;
        if (c.valid) { EXPECT_EQ(result.value, c.value) << c.text; }
        EXPECT_EQ(q.Error(), c.error) << c.text;
        if (!c.error.empty()) { EXPECT_EQ(q.ctx.output.error.token, q.first) << c.text; }
    }
}

TEST(QuotedLiteral, UnpairedTrailingBackslash) {
    const std::string contents[] = {"\\", "a\\", "\\\\\\", "\\q\\"};
    for (const std::string& content : contents) {
        QuotedContext q(content.data(), content.size());
        VLStringIntegerResult result = VLStringToInteger(&q.ctx, q.first);
        EXPECT_EQ(result.valid, 0u) << content;
        EXPECT_EQ(q.ctx.output.error.token, q.first) << content;
        if (content != "\\q\\") { EXPECT_EQ(q.Error(), kTrailing) << content; }
    }
    // Not a constant: the token stays for the other operand forms.
    QuotedContext q("a\\", 2);
    int64_t value = 0;
    EXPECT_FALSE(VLAcceptConstant(&q.ctx, &value));
    EXPECT_EQ(q.ctx.token, q.first);
    EXPECT_EQ(q.Error(), kTrailing);
}

TEST(QuotedLiteral, AcceptConstant) {
    struct Case {
        const char* text;
        bool found;
        int64_t value;
        bool consumed;
        bool error;
    };
    const Case cases[] = {
        {"42 x", true, 42, true, false},
        {"0xFFFFFFFFFFFFFFFF x", true, -1, true, false},
        {"'AB' x", true, 0x4241, true, false},
        {"'\\n' x", true, 10, true, false},
        {"'ABCDEFGHI' x", true, 0x4847464544434241, true, true},  // valid, but recorded
        {"x 1", false, 0, false, false},
        {"( 1 )", false, 0, false, false},
    };
    for (const Case& c : cases) {
        QuotedContext q(c.text);
        int64_t value = 0;
        bool found = VLAcceptConstant(&q.ctx, &value);
        EXPECT_EQ(found, c.found) << c.text;
        if (c.found) { EXPECT_EQ(value, c.value) << c.text; }
        EXPECT_EQ(q.ctx.token, c.consumed ? q.first->next : q.first) << c.text;
        EXPECT_EQ(VLErrorIsValid(&q.ctx.output.error), c.error) << c.text;
    }
}

TEST(QuotedLiteral, AcceptConstantDoesNothingWhenStoppedOrAtTheEnd) {
    QuotedContext stopped("7");
    stopped.ctx.output.error.message = "earlier";
    int64_t value = 99;
    EXPECT_FALSE(VLAcceptConstant(&stopped.ctx, &value));
    EXPECT_EQ(value, 99);
    EXPECT_EQ(stopped.ctx.token, stopped.first);

    QuotedContext empty("");
    EXPECT_FALSE(VLAcceptConstant(&empty.ctx, &value));
    EXPECT_FALSE(VLErrorIsValid(&empty.ctx.output.error));
}

}  // namespace
