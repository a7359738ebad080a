// Arena.cpp - bump allocation, the assertion handler and text comparison.
//
// Every record of a token list, a compiled program or a runtime comes from an
// arena: allocation is a pointer bump, and a whole compilation or run is
// released at once (the command line releases only the runs; tests and fuzz
// targets release everything). An arena can also be reset and filled again
// from the same blocks: on this kind of machine a page touched for the first
// time costs far more than clearing it again.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "Vellum.h"

struct VLArenaBlock {
    VLArenaBlock* next;
    size_t size;  // of the whole block, header included
    size_t used;  // bytes handed out after the header, once the block is no longer the newest
    bool mapped;  // mapped by VLAllocateBlock rather than taken from calloc
};

// Blocks start small (a short layout needs little) and double up to 2 MiB.
enum : size_t { VLArenaFirstBlockSize = 1 << 14, VLArenaBlockSize = 1 << 21, VLArenaAlignment = 16 };

void VLAssertFailed(const char* expression, const char* file, int line) {
    fflush(stdout);
    fprintf(stderr, "Internal error: assertion '%s' failed at %s:%d\n", expression, file, line);
    abort();
}

static size_t VLAlignUp(size_t n) { return (n + VLArenaAlignment - 1) & ~size_t(VLArenaAlignment - 1); }

static size_t VLBlockHeader() { return VLAlignUp(sizeof(VLArenaBlock)); }

// Records how much of the newest block has been handed out (or is still
// waiting to be zeroed from an earlier use), before it stops being the newest.
static void VLCloseNewestBlock(VLArena* arena) {
    VLArenaBlock* block = arena->blocks;
    if (!block) return;
    char* start = reinterpret_cast<char*>(block) + VLBlockHeader();
    char* end = reinterpret_cast<uintptr_t>(arena->dirty) > reinterpret_cast<uintptr_t>(arena->cursor) ? arena->dirty
                                                                                                     : arena->cursor;
    block->used = size_t(end - start);
}

// Fresh zeroed memory for a block; `*mapped` tells how to give it back.
// Full-size blocks are mapped aligned to 2 MiB and asked to be backed by
// 2 MiB pages where the system offers them: a large compilation or run fills
// tens of such blocks, and one fault per 2 MiB page instead of one per 4 KiB
// page takes most of the time of touching fresh memory away. Such a block is
// used from start to end, so the larger page wastes nothing. Smaller and
// dedicated blocks (possibly huge and mostly untouched) keep ordinary pages,
// zeroed by the system as they are touched; so does any block the mapping
// cannot provide.
static void* VLAllocateBlock(size_t blockSize, bool* mapped) {
    *mapped = false;
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (blockSize == VLArenaBlockSize) {
        // Map one page more than needed, then unmap what lies before the
        // aligned start and after the block's end.
        size_t span = blockSize + VLArenaBlockSize;
        void* region = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (region != MAP_FAILED) {
            uintptr_t start = reinterpret_cast<uintptr_t>(region);
            uintptr_t aligned = (start + VLArenaBlockSize - 1) & ~uintptr_t(VLArenaBlockSize - 1);
            if (aligned > start) munmap(region, aligned - start);
            size_t tail = start + span - (aligned + blockSize);
            if (tail) munmap(reinterpret_cast<void*>(aligned + blockSize), tail);
            void* block = reinterpret_cast<void*>(aligned);
            madvise(block, blockSize, MADV_HUGEPAGE);  // only advice: a refusal leaves ordinary pages
            *mapped = true;
            return block;
        }
    }
#endif
    return calloc(1, blockSize);
}

static void VLFreeBlock(VLArenaBlock* block) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (block->mapped) {
        munmap(block, block->size);
        return;
    }
#endif
    free(block);
}

// A block of `blockSize` bytes: the first spare block when it is large enough
// (its handed-out part still to be zeroed: `*dirty` bytes), else a new one.
// Spare blocks too small for the request are freed: runs that allocate alike
// (the two passes) take them back in the order they were made.
static VLArenaBlock* VLTakeBlock(VLArena* arena, size_t blockSize, size_t* dirty) {
    while (arena->spare) {
        VLArenaBlock* block = arena->spare;
        arena->spare = block->next;
        if (block->size >= blockSize) {
            *dirty = block->used;
            arena->totalBytes += block->size;
            return block;
        }
        VLFreeBlock(block);
    }
    bool mapped;
    VLArenaBlock* block = static_cast<VLArenaBlock*>(VLAllocateBlock(blockSize, &mapped));
    if (!block) {
        fflush(stdout);
        fprintf(stderr, "Out of memory (%zu bytes requested).\n", blockSize);
        exit(-1);
    }
    block->size = blockSize;
    block->mapped = mapped;
    arena->totalBytes += blockSize;
    *dirty = 0;
    return block;
}

// Opens a block large enough for one allocation of `size` bytes; large
// allocations get a block of their own so the current block keeps its room.
static void* VLArenaAllocSlow(VLArena* arena, size_t size) {
    size_t header = VLBlockHeader();
    size_t regular = VLArenaFirstBlockSize;
    if (arena->blocks) regular = arena->blocks->size * 2 < VLArenaBlockSize ? arena->blocks->size * 2 : VLArenaBlockSize;
    size_t blockSize = size + header > regular ? size + header : regular;
    size_t dirty;
    VLArenaBlock* block = VLTakeBlock(arena, blockSize, &dirty);
    char* start = reinterpret_cast<char*>(block) + header;
    if (blockSize == regular || !arena->blocks) {
        VLCloseNewestBlock(arena);
        block->next = arena->blocks;
        arena->blocks = block;
        arena->cursor = start + size;
        arena->limit = reinterpret_cast<char*>(block) + block->size;
        arena->dirty = start + dirty;
        memset(start, 0, size < dirty ? size : dirty);
    } else {
        // A dedicated block: link it behind the current one; it is handed out whole.
        block->next = arena->blocks->next;
        arena->blocks->next = block;
        block->used = block->size - header;
        memset(start, 0, size < dirty ? size : dirty);
    }
    return start;
}

void* VLArenaAlloc(VLArena* arena, size_t size) {
    size = VLAlignUp(size ? size : 1);
    if (size_t(arena->limit - arena->cursor) >= size && arena->cursor) {
        char* result = arena->cursor;
        arena->cursor += size;
        // New blocks come zeroed from calloc; a block kept by a reset is
        // zeroed again as far as it had been handed out.
        if (reinterpret_cast<uintptr_t>(result) < reinterpret_cast<uintptr_t>(arena->dirty)) {
            size_t stale = size_t(arena->dirty - result);
            memset(result, 0, size < stale ? size : stale);
        }
        return result;
    }
    return VLArenaAllocSlow(arena, size);
}

static void VLFreeBlocks(VLArenaBlock* block) {
    while (block) {
        VLArenaBlock* next = block->next;
        VLFreeBlock(block);
        block = next;
    }
}

void VLArenaRelease(VLArena* arena) {
    VLFreeBlocks(arena->blocks);
    VLFreeBlocks(arena->spare);
    *arena = VLArena{};
}

// Keeps the blocks of regular size, oldest first, behind any spare blocks
// not used since the last reset; dedicated blocks (possibly huge and mostly
// untouched) are freed, since zeroing them again would touch all their pages.
void VLArenaReset(VLArena* arena) {
    VLCloseNewestBlock(arena);
    VLArenaBlock* kept = nullptr;  // oldest first, built by pushing the newest-first list
    for (VLArenaBlock* block = arena->blocks; block;) {
        VLArenaBlock* next = block->next;
        if (block->size <= VLArenaBlockSize) {
            block->next = kept;
            kept = block;
        } else {
            VLFreeBlock(block);
        }
        block = next;
    }
    VLArenaBlock** tail = &kept;
    while (*tail) tail = &(*tail)->next;
    *tail = arena->spare;
    VLArena reset = {};
    reset.spare = kept;
    *arena = reset;
}

bool VLStringEquals(VLString a, VLString b) {
    return a.length == b.length && (a.length == 0 || memcmp(a.chars, b.chars, a.length) == 0);
}

bool VLStringEqualsText(VLString a, const char* text) {
    size_t n = strlen(text);
    return a.length == n && (n == 0 || memcmp(a.chars, text, n) == 0);
}
