// Diagnostics.cpp - excerpts of the layout text for messages about it. The
// single-token form names the file, line and column and underlines one token;
// the range form names the line (and the file, when an include brought it)
// and underlines a run of tokens. Both print the line again and the marks
// under it, on the writer given (standard error).
#include <cstdio>
#include <cstring>

#include "CommandLine.h"

// One line of the layout text: from `first` up to its line break or the end
// of the file, whichever comes first.
struct VLTextLine {
    const char* first;
    uint64_t length;
};

// The line holding a token's first character. Only the file's bytes are
// searched, so a line never runs past the text.
static VLTextLine VLLineOfToken(const VLFile* layout, const VLToken* token) {
    uint64_t tokenOffset = token->start.offset;
    VL_ASSERT(tokenOffset <= layout->size && token->start.byteColumn <= tokenOffset);
    uint64_t lineOffset = tokenOffset - token->start.byteColumn;
    const char* first = layout->data + lineOffset;
    uint64_t length = 0;
    uint64_t room = layout->size - lineOffset;
    while (length < room && first[length] != '\n' && first[length] != '\r') ++length;
    return {first, length};
}

// The file a token comes from: the layout's own text or one it included.
const VLFile* VLSourceOfToken(const VLFile* layout, const VLToken* token) {
    if (!layout->sources || token->file == 0) return layout;
    return &layout->sources[token->file];
}

// Writes a piece of the layout as a "%.*s" conversion would: up to `length`
// bytes, stopping early at a NUL byte.
static void VLWriteExcerpt(VLWriter* err, const char* chars, uint64_t length) {
    const void* nul = memchr(chars, 0, size_t(length));
    if (nul) length = uint64_t(static_cast<const char*>(nul) - chars);
    VLWrite(err, chars, size_t(length));
}

// Writes `count` marks, none when the count is not positive; red on a coloured stream.
static void VLWriteMarks(VLWriter* err, int64_t count) {
    if (count <= 0) return;
    bool color = (err->style & VLWriterStyle_Color) != 0;
    if (color) VLWriteText(err, "\x1b[31m");
    VLWriteRepeat(err, '~', size_t(count));
    if (color) VLWriteText(err, "\x1b[0m");
}

// Display width of a piece of line from `column` on, with tab stops every 8.
static uint64_t VLColumnAfter(const char* chars, uint64_t length, uint64_t column) {
    for (uint64_t i = 0; i < length; ++i)
        column = chars[i] == '\t' ? (column / 8 + 1) * 8 : column + 1;
    return column;
}

void VLPrintTokenLocation(VLWriter* err, const VLFile* layout, const VLToken* token) {
    if (!layout) return;  // the message alone is wanted
    if (!token) {
        VLWriteText(err, "<end of data>\n");
        return;
    }
    layout = VLSourceOfToken(layout, token);
    VLTextLine line = VLLineOfToken(layout, token);
    uint64_t skipped = 0;
    while (skipped < line.length && (line.first[skipped] == ' ' || line.first[skipped] == '\t'))
        ++skipped;
    unsigned lineNumber = token->start.line + 1u;
    unsigned columnNumber = token->start.column + 1u;
    int prefixWidth = snprintf(nullptr, 0, "%s(%u,%u): ", layout->path, lineNumber, columnNumber);
    VLWritef(err, "%s(%u,%u): ", layout->path, lineNumber, columnNumber);
    VLWriteExcerpt(err, line.first + skipped, line.length - skipped);
    VLWriteChar(err, '\n');
    // The marker stands under the token in the trimmed line (by byte column).
    int64_t indent = int64_t(prefixWidth) + int64_t(token->start.byteColumn) - int64_t(skipped);
    if (indent > 0) VLWriteRepeat(err, ' ', size_t(indent));
    VLWriteMarks(err, int64_t(token->end.column) - int64_t(token->start.column) + 1);
    VLWriteChar(err, '\n');
}

void VLPrintRangeLocation(VLWriter* err, const VLFile* layout, const VLToken* first,
                          const VLToken* following) {
    if (!layout) return;  // the message alone is wanted
    if (!first) {
        VLWriteChar(err, '\n');
        return;
    }
    VLTextLine line = VLLineOfToken(VLSourceOfToken(layout, first), first);
    unsigned lineNumber = first->start.line + 1u;
    // A line of an included file is named with its file.
    const char* path = VLSourceOfToken(layout, first)->path;
    int prefixWidth = first->file ? snprintf(nullptr, 0, "%s(%u): ", path, lineNumber)
                                  : snprintf(nullptr, 0, "%u: ", lineNumber);
    if (first->file) VLWritef(err, "%s(%u): ", path, lineNumber);
    else VLWritef(err, "%u: ", lineNumber);
    VLWriteExcerpt(err, line.first, line.length);
    VLWriteChar(err, '\n');
    VLWriteRepeat(err, ' ', size_t(prefixWidth) + first->start.column);
    // Marks run up to the following token's last column; a range that runs to
    // the end of the text is marked to the end of its line.
    int64_t endColumn;
    if (following) {
        endColumn = following->end.column;
    } else {
        uint64_t tokenInLine = first->start.byteColumn;
        if (tokenInLine > line.length) tokenInLine = line.length;
        endColumn = int64_t(VLColumnAfter(line.first + tokenInLine, line.length - tokenInLine,
                                          first->start.column));
    }
    VLWriteMarks(err, endColumn - int64_t(first->start.column));
    VLWriteChar(err, '\n');
}
