// Output.cpp - buffered writers: all of Vellum's output goes through one large
// buffer per stream and reaches the file in big blocks.
#include <cstdlib>
#include <cstring>

#include "CommandLine.h"

static void VLWriterGrow(VLWriter* writer, size_t needed) {
    size_t capacity = writer->capacity ? writer->capacity : 4096;
    while (capacity < needed) capacity *= 2;
    char* buffer = static_cast<char*>(realloc(writer->buffer, capacity));
    VL_ASSERT(buffer != nullptr);
    writer->buffer = buffer;
    writer->capacity = capacity;
}

void VLWriterInitFile(VLWriter* writer, FILE* file, size_t capacity) {
    *writer = VLWriter{};
    writer->file = file;
    VLWriterGrow(writer, capacity ? capacity : 1 << 16);
}

void VLWriterInitMemory(VLWriter* writer) {
    *writer = VLWriter{};
    writer->captureMemory = true;
    VLWriterGrow(writer, 4096);
}

void VLWriterInitNull(VLWriter* writer) {
    *writer = VLWriter{};
    VLWriterGrow(writer, 1 << 16);
}

void VLWriterFree(VLWriter* writer) {
    free(writer->buffer);
    *writer = VLWriter{};
}

// Hands the buffer to the file. A short write or a failed flush (a full disk,
// a closed terminal) marks the writer failed: the rest of the output is
// dropped rather than written with a gap, and the process reports it at exit.
void VLWriterFlush(VLWriter* writer) {
    if (writer->captureMemory) return;
    if (writer->file && writer->used && !writer->failed) {
        if (fwrite(writer->buffer, 1, writer->used, writer->file) != writer->used) writer->failed = true;
        if (fflush(writer->file) != 0) writer->failed = true;
    }
    writer->flushed += writer->used;
    writer->used = 0;
}

// Makes room for `length` more bytes: memory writers grow, file writers flush.
char* VLWriterReserve(VLWriter* writer, size_t length) {
    if (writer->flushFirst && writer->flushFirst->used) VLWriterFlush(writer->flushFirst);
    if (writer->used + length > writer->capacity) {
        if (!writer->captureMemory) VLWriterFlush(writer);
        if (writer->used + length > writer->capacity) VLWriterGrow(writer, writer->used + length);
    }
    return writer->buffer + writer->used;
}

void VLWrite(VLWriter* writer, const char* chars, size_t length) {
    VLWriterReserve(writer, length);
    memcpy(writer->buffer + writer->used, chars, length);
    writer->used += length;
}

void VLWriteChar(VLWriter* writer, char c) {
    VLWriterReserve(writer, 1);
    writer->buffer[writer->used++] = c;
}

void VLWriteRepeat(VLWriter* writer, char c, size_t count) {
    VLWriterReserve(writer, count);
    memset(writer->buffer + writer->used, c, count);
    writer->used += count;
}

void VLWriteText(VLWriter* writer, const char* text) { VLWrite(writer, text, strlen(text)); }

void VLWritefList(VLWriter* writer, const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        VLWriterReserve(writer, size_t(length) + 1);
        vsnprintf(writer->buffer + writer->used, size_t(length) + 1, format, args);
        writer->used += size_t(length);
    }
}

void VLWritef(VLWriter* writer, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VLWritefList(writer, format, args);
    va_end(args);
}
