// Includes.cpp - the layout files of one run: the layout and every file its
// include statements name. The compiler asks for a file through the loader
// here; each file is found, read and tokenized once. An included file is
// named by its path joined to the folder of the file that includes it (the
// current folder for a layout read from standard input), and is known by its
// device and inode, so that one file reached by two paths is one file. The
// invalid tokens of an included file are listed as the layout's own are.
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

#include "CommandLine.h"

// Layout texts are scanned with 32-bit offsets, so a layout must stay below 4 GiB.
static const uint64_t VLIncludedSizeLimit = uint64_t(1) << 32;

// A file's identity (the index of VLLayoutSources holds identified files
// only: not the layout read from standard input) and what loading it gave.
struct VLLayoutSourceState {
    uint64_t device;
    uint64_t inode;
    VLToken* tokens;
    const char* message;  // why the file cannot be compiled, or null
};

static void VLIndexSource(VLLayoutSources* sources, uint32_t number);

void VLLayoutSourcesInit(VLLayoutSources* sources, const VLFile* layout, VLArena* arena, VLWriter* err) {
    *sources = VLLayoutSources{};
    sources->arena = arena;
    sources->err = err;
    sources->capacity = 4;
    sources->files = static_cast<VLFile*>(calloc(sources->capacity, sizeof(VLFile)));
    sources->states = static_cast<VLLayoutSourceState*>(calloc(sources->capacity, sizeof(VLLayoutSourceState)));
    VL_ASSERT(sources->files && sources->states);
    sources->files[0] = *layout;
    sources->files[0].sources = nullptr;
    struct stat status;
    bool standardInput = strcmp(layout->path, "<stdin>") == 0;  // as the driver names it
    sources->count = 1;
    if (!standardInput && stat(layout->path, &status) == 0) {
        sources->states[0] = {uint64_t(status.st_dev), uint64_t(status.st_ino), nullptr, nullptr};
        VLIndexSource(sources, 0);
    }
}

void VLLayoutSourcesFree(VLLayoutSources* sources) {
    for (uint32_t i = 1; i < sources->count; ++i) free(sources->files[i].data);
    free(sources->files);
    free(sources->states);
    free(sources->identities);
    *sources = VLLayoutSources{};
}

// An arena text made by a format with one string and one number.
static const char* VLArenaMessage(VLArena* arena, const char* format, const char* name,
                                  unsigned long long number = 0) {
    int length = snprintf(nullptr, 0, format, name, number);
    char* text = VLArenaNew<char>(arena, size_t(length) + 1);
    snprintf(text, size_t(length) + 1, format, name, number);
    return text;
}

// The path of an included file: as written when absolute, otherwise joined
// to the folder of the including file's path.
static const char* VLIncludedPath(VLArena* arena, const char* including, VLString path) {
    size_t folder = 0;
    if (path.length == 0 || path.chars[0] != '/') {
        const char* slash = strrchr(including, '/');
        if (slash) folder = size_t(slash - including) + 1;
    }
    char* text = VLArenaNew<char>(arena, folder + path.length + 1);
    memcpy(text, including, folder);
    memcpy(text + folder, path.chars, path.length);
    return text;
}

static uint32_t VLIdentityHash(uint64_t device, uint64_t inode) {
    uint64_t mixed = (inode ^ (device * 0x9E3779B97F4A7C15u)) * 0xBF58476D1CE4E5B9u;
    return uint32_t(mixed >> 32);
}

// The slot of the index where (device, inode) is, or the free slot where it would go.
static uint32_t VLIdentitySlot(const VLLayoutSources* sources, uint64_t device, uint64_t inode) {
    uint32_t mask = sources->identityCapacity - 1;
    uint32_t slot = VLIdentityHash(device, inode) & mask;
    for (;;) {
        uint32_t entry = sources->identities[slot];
        if (entry == 0) return slot;
        const VLLayoutSourceState* state = &sources->states[entry - 1];
        if (state->device == device && state->inode == inode) return slot;
        slot = (slot + 1) & mask;
    }
}

// Records an identified file in the index, which doubles when half full.
static void VLIndexSource(VLLayoutSources* sources, uint32_t number) {
    if (2 * (sources->count + 1) > sources->identityCapacity) {
        uint32_t* old = sources->identities;
        uint32_t oldCapacity = sources->identityCapacity;
        sources->identityCapacity = oldCapacity ? oldCapacity * 2 : 64;
        sources->identities = static_cast<uint32_t*>(calloc(sources->identityCapacity, sizeof(uint32_t)));
        VL_ASSERT(sources->identities);
        for (uint32_t i = 0; i < oldCapacity; ++i) {
            if (!old[i]) continue;
            const VLLayoutSourceState* state = &sources->states[old[i] - 1];
            sources->identities[VLIdentitySlot(sources, state->device, state->inode)] = old[i];
        }
        free(old);
    }
    const VLLayoutSourceState* state = &sources->states[number];
    sources->identities[VLIdentitySlot(sources, state->device, state->inode)] = number + 1;
}

static uint32_t VLFindSource(const VLLayoutSources* sources, const struct stat* status) {
    if (!sources->identityCapacity) return UINT32_MAX;
    uint32_t entry = sources->identities[VLIdentitySlot(sources, uint64_t(status->st_dev), uint64_t(status->st_ino))];
    return entry ? entry - 1 : UINT32_MAX;
}

static uint32_t VLAddSource(VLLayoutSources* sources) {
    if (sources->count == sources->capacity) {
        sources->capacity *= 2;
        sources->files = static_cast<VLFile*>(realloc(sources->files, sources->capacity * sizeof(VLFile)));
        sources->states = static_cast<VLLayoutSourceState*>(
            realloc(sources->states, sources->capacity * sizeof(VLLayoutSourceState)));
        VL_ASSERT(sources->files && sources->states);
    }
    uint32_t number = sources->count++;
    sources->files[number] = VLFile{};
    sources->states[number] = VLLayoutSourceState{};
    return number;
}

static VLIncludedFile VLIncludedFileOf(const VLLayoutSources* sources, uint32_t number) {
    const VLLayoutSourceState* state = &sources->states[number];
    return {number, state->tokens, sources->files[number].path, state->message};
}

// Reads and tokenizes a file met for the first time; a file with invalid
// tokens has them listed and keeps the message that rejects it.
static VLIncludedFile VLLoadSource(VLLayoutSources* sources, const char* path, const struct stat* status) {
    VLIncludedFile failed = {0, nullptr, path, nullptr};
    if (uint64_t(status->st_size) >= VLIncludedSizeLimit) {
        failed.message = VLArenaMessage(sources->arena,
                                        "Included file %s is too large (%llu bytes); layout files must be "
                                        "smaller than 4 GiB.",
                                        path, static_cast<unsigned long long>(status->st_size));
        return failed;
    }
    VLFile file = VLLoadFile(path, 1);
    if (!file.data) {
        failed.message = VLArenaMessage(sources->arena, "Failed to open included file %s.", path);
        return failed;
    }
    uint32_t number = VLAddSource(sources);
    sources->files[number] = file;
    VLLayoutSourceState* state = &sources->states[number];
    *state = {uint64_t(status->st_dev), uint64_t(status->st_ino), nullptr, nullptr};
    VLIndexSource(sources, number);
    VLScanResult scan = VLTokenize(file.data, sources->arena, number);
    if (VLReportInvalidTokens(&scan, &sources->files[number], sources->err))
        state->message = VLArenaMessage(sources->arena, "Invalid tokens in included file %s.", path);
    else
        state->tokens = scan.tokens;
    return VLIncludedFileOf(sources, number);
}

static VLIncludedFile VLLoadIncluded(void* context, uint32_t includingFile, VLString path) {
    VLLayoutSources* sources = static_cast<VLLayoutSources*>(context);
    VL_ASSERT(includingFile < sources->count);
    const char* name = VLIncludedPath(sources->arena, sources->files[includingFile].path, path);
    struct stat status;
    if (stat(name, &status) != 0)
        return {0, nullptr, name, VLArenaMessage(sources->arena, "Failed to open included file %s.", name)};
    uint32_t known = VLFindSource(sources, &status);
    if (known != UINT32_MAX) return VLIncludedFileOf(sources, known);
    return VLLoadSource(sources, name, &status);
}

VLIncludeLoader VLLayoutIncludeLoader(VLLayoutSources* sources) {
    return {VLLoadIncluded, sources, sources->files[0].path};
}
