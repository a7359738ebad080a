// Arena.cpp - bump allocation, the assertion handler and text comparison.
//
// Every record of a token list, a compiled program or a runtime comes from an
// arena: allocation is a pointer bump, and a whole compilation or run is
// released at once (the command line never releases; tests and fuzz targets do).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Vellum.h"

struct VLArenaBlock {
    VLArenaBlock* next;
    size_t size;
};

// Blocks start small (a short layout needs little) and double up to 1 MiB.
enum : size_t { VLArenaFirstBlockSize = 1 << 14, VLArenaBlockSize = 1 << 20, VLArenaAlignment = 16 };

void VLAssertFailed(const char* expression, const char* file, int line) {
    fflush(stdout);
    fprintf(stderr, "Internal error: assertion '%s' failed at %s:%d\n", expression, file, line);
    abort();
}

static size_t VLAlignUp(size_t n) { return (n + VLArenaAlignment - 1) & ~size_t(VLArenaAlignment - 1); }

// Opens a block large enough for one allocation of `size` bytes; large
// allocations get a block of their own so the current block keeps its room.
static void* VLArenaAllocSlow(VLArena* arena, size_t size) {
    size_t header = VLAlignUp(sizeof(VLArenaBlock));
    size_t regular = VLArenaFirstBlockSize;
    if (arena->blocks) regular = arena->blocks->size * 2 < VLArenaBlockSize ? arena->blocks->size * 2 : VLArenaBlockSize;
    size_t blockSize = size + header > regular ? size + header : regular;
    VLArenaBlock* block = static_cast<VLArenaBlock*>(calloc(1, blockSize));
    if (!block) {
        fflush(stdout);
        fprintf(stderr, "Out of memory (%zu bytes requested).\n", size);
        exit(-1);
    }
    block->size = blockSize;
    arena->totalBytes += blockSize;
    char* start = reinterpret_cast<char*>(block) + header;
    if (blockSize == regular || !arena->blocks) {
        block->next = arena->blocks;
        arena->blocks = block;
        arena->cursor = start + size;
        arena->limit = reinterpret_cast<char*>(block) + blockSize;
    } else {
        // A dedicated block: link it behind the current one.
        block->next = arena->blocks->next;
        arena->blocks->next = block;
    }
    return start;
}

void* VLArenaAlloc(VLArena* arena, size_t size) {
    size = VLAlignUp(size ? size : 1);
    if (size_t(arena->limit - arena->cursor) >= size && arena->cursor) {
        void* result = arena->cursor;
        arena->cursor += size;
        return result;  // blocks come zeroed from calloc and are never reused
    }
    return VLArenaAllocSlow(arena, size);
}

void VLArenaRelease(VLArena* arena) {
    VLArenaBlock* block = arena->blocks;
    while (block) {
        VLArenaBlock* next = block->next;
        free(block);
        block = next;
    }
    *arena = VLArena{};
}

bool VLStringEquals(VLString a, VLString b) {
    return a.length == b.length && (a.length == 0 || memcmp(a.chars, b.chars, a.length) == 0);
}

bool VLStringEqualsText(VLString a, const char* text) {
    size_t n = strlen(text);
    return a.length == n && (n == 0 || memcmp(a.chars, text, n) == 0);
}
