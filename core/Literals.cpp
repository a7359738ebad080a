// Literals.cpp - integer constants written in the layout text.
//
// Owns the number-literal grammar the scanner runs as its third trial (binary,
// octal, decimal and hexadecimal notation with ' as a digit separator, values
// wrapping modulo 2^64) and the conversion of quoted character literals to
// integers (up to eight bytes, the first character in the lowest byte), with
// the messages that conversion records through the compiler's error recording.
#include "Compiler.h"

// Value of `c` as a digit of `radix` (2, 8, 10 or 16), or -1.
static int VLDigitValue(char c, uint32_t radix) {
    int value = -1;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    return value >= 0 && uint32_t(value) < radix ? value : -1;
}

// digits := (digit | "'")*, standing on the first candidate character.
// Accumulates digits of `radix` until the next character is neither a digit of
// that radix nor a separator, leaving the scanner on the last one taken. A
// current character that is no digit and no separator, or a run without any
// digit, makes the whole candidate no number.
static VLNumberResult VLScanDigits(VLScanner* scanner, uint32_t radix, uint32_t base) {
    uint64_t value = 0;
    uint32_t digits = 0;
    for (;;) {
        char c = scanner->current;
        if (c != '\'') {
            int digit = VLDigitValue(c, radix);
            if (digit < 0) return VLNumberResult{VLNumberBase_None, 0};
            value = value * radix + uint64_t(digit);
            digits += 1;
        }
        char ahead[2] = {0, 0};
        VLPeek(scanner, 2, ahead);
        if (ahead[1] != '\'' && VLDigitValue(ahead[1], radix) < 0) break;
        VLAdvance(scanner);
    }
    if (digits == 0) return VLNumberResult{VLNumberBase_None, 0};
    return VLNumberResult{base, value};
}

// number := [1-9] [0-9']*
//         | "0" [bB] [01']+ | "0" [xX] [0-9a-fA-F']+   (at least one digit)
//         | "0" [0-7']*
VLNumberResult VLScanNumber(VLScanner* scanner) {
    char ahead[2] = {0, 0};
    VLPeek(scanner, 2, ahead);
    if (ahead[0] >= '1' && ahead[0] <= '9') return VLScanDigits(scanner, 10, VLNumberBase_Decimal);
    if (ahead[0] != '0') return VLNumberResult{VLNumberBase_None, 0};
    bool binary = ahead[1] == 'b' || ahead[1] == 'B';
    bool hex = ahead[1] == 'x' || ahead[1] == 'X';
    if (!binary && !hex) return VLScanDigits(scanner, 8, VLNumberBase_Octal);
    VLAdvance(scanner);
    VLAdvance(scanner);
    if (VLHasReachedEnd(scanner)) return VLNumberResult{VLNumberBase_None, 0};
    return binary ? VLScanDigits(scanner, 2, VLNumberBase_Binary) : VLScanDigits(scanner, 16, VLNumberBase_Hex);
}

// ---------------------------------------------------------------------------
// Quoted literals
// ---------------------------------------------------------------------------
enum VLQuotedEvent : uint32_t {
    VLQuotedEvent_None = 0,
    VLQuotedEvent_TooLarge = 1,          // a ninth character; decoding stops
    VLQuotedEvent_UnexpectedEscape = 2,  // backslash before a character with no escape meaning
};

struct VLQuotedDecoder {
    uint64_t value;
    uint32_t decoded;   // characters stored in value
    bool pending;       // a backslash waits for its escape character
};

// Feeds one content character to the decoder. Pure: the caller reports the event.
static VLQuotedEvent VLDecodeQuoted(VLQuotedDecoder* decoder, char c) {
    if (decoder->decoded == 8) return VLQuotedEvent_TooLarge;
    uint8_t byte = uint8_t(c);
    if (decoder->pending) {
        decoder->pending = false;
        switch (c) {
            case '\\': byte = 92; break;
            case 'n': byte = 10; break;
            case 'r': byte = 13; break;
            case 't': byte = 9; break;
            case '0': byte = 0; break;
            default: return VLQuotedEvent_UnexpectedEscape;
        }
    } else if (c == '\\') {
        decoder->pending = true;
        return VLQuotedEvent_None;
    }
    decoder->value |= uint64_t(byte) << (8 * decoder->decoded);
    decoder->decoded += 1;
    return VLQuotedEvent_None;
}

// Converts the content of a quoted literal token to an integer, reporting at
// the compiler's current token. A ninth character reports and keeps the first
// eight; an escape without meaning reports and decodes nothing; a trailing
// unpaired backslash reports and makes the result invalid.
VLStringIntegerResult VLStringToInteger(VLContext* ctx, const VLToken* token) {
    VL_ASSERT(token->type == VLTokenType_String);
    VLQuotedDecoder decoder = {};
    const char* chars = token->string.contentFirst;
    for (uint32_t i = 0; i < token->string.length; ++i) {
        VLQuotedEvent event = VLDecodeQuoted(&decoder, chars[i]);
        if (event == VLQuotedEvent_TooLarge) {
            VLRecordError(ctx, ctx->token, "String is too large to be interpreted as integer.");
            return VLStringIntegerResult{1, decoder.value};
        }
        if (event == VLQuotedEvent_UnexpectedEscape) {
            VLReportError(ctx, nullptr, "Unexpected \\%c, only \\n, \\r, \\\\, \\0 and \\t allowed.", chars[i]);
        }
    }
    if (decoder.pending) {
        VLRecordError(ctx, ctx->token, "Unexpected trailing \\.");
        return VLStringIntegerResult{0, decoder.value};
    }
    return VLStringIntegerResult{1, decoder.value};
}

bool VLAcceptConstant(VLContext* ctx, int64_t* value) {
    if (VLIsStopped(ctx) || !ctx->token) return false;
    VLToken* token = ctx->token;
    if (token->type == VLTokenType_Number) {
        *value = int64_t(token->number.value);
        VLConsume(ctx);
        return true;
    }
    if (token->type != VLTokenType_String) return false;
    VLStringIntegerResult converted = VLStringToInteger(ctx, token);
    if (!converted.valid) return false;
    *value = int64_t(converted.value);
    VLConsume(ctx);
    return true;
}
