// Select.cpp - the selection of -select PATH: parsing the patterns and
// matching them against the member paths of a run step by step.
//
// Each open struct level keeps, per pattern, how many of its steps the
// structs on the way have matched (or that one matched it whole, or that it
// can no longer match), so a member is matched by comparing its own step with
// one step of each pattern that is still open.
#include <cstdlib>
#include <cstring>

#include "Events.h"

// ---------------------------------------------------------------------------
// Patterns
// ---------------------------------------------------------------------------

static bool VLIsNameChar(char c) { return c && c != '.' && c != '#' && c != '[' && c != ']'; }

// A number or "*" (-1) up to a character that is no digit; false when neither.
static bool VLParseNumberOrStar(const char** cursor, int64_t* value) {
    const char* at = *cursor;
    if (*at == '*') {
        *value = -1;
        *cursor = at + 1;
        return true;
    }
    if (*at < '0' || *at > '9') return false;
    uint64_t number = 0;
    for (; *at >= '0' && *at <= '9'; ++at) {
        number = number * 10 + uint64_t(*at - '0');
        if (number > UINT32_MAX) return false;
    }
    *value = int64_t(number);
    *cursor = at;
    return true;
}

// name [ "#" (number | "*") ] [ "[" (number | "*") "]" ]
static bool VLParseSelectStep(const char** cursor, VLSelectStep* step, const char** error) {
    const char* at = *cursor;
    const char* first = at;
    while (VLIsNameChar(*at)) ++at;
    if (at == first) {
        *error = "a name is missing";
        return false;
    }
    *step = VLSelectStep{{uint32_t(at - first), first}, 0, -1, false};
    if (*at == '#') {
        ++at;
        if (!VLParseNumberOrStar(&at, &step->occurrence)) {
            *error = "'#' must be followed by a number or '*'";
            return false;
        }
    }
    if (*at == '[') {
        ++at;
        if (!VLParseNumberOrStar(&at, &step->index) || *at != ']') {
            *error = "'[' must be followed by a number or '*' and ']'";
            return false;
        }
        ++at;
        step->indexGiven = true;
    }
    *cursor = at;
    return true;
}

bool VLSelectionAdd(VLSelection* selection, const char* text, const char** error) {
    uint32_t stepCount = 1;
    for (const char* c = text; *c; ++c) stepCount += *c == '.';
    VLSelectStep* steps = static_cast<VLSelectStep*>(calloc(stepCount, sizeof(VLSelectStep)));
    VL_ASSERT(steps != nullptr);
    const char* cursor = text;
    for (uint32_t i = 0; i < stepCount; ++i) {
        if (!VLParseSelectStep(&cursor, &steps[i], error)) {
            free(steps);
            return false;
        }
        if (i + 1 < stepCount) {
            if (*cursor != '.') break;
            ++cursor;
        }
    }
    if (*cursor || stepCount >= VLSelectAll) {
        *error = *cursor ? "unexpected characters after a step" : "too many steps";
        free(steps);
        return false;
    }
    if (steps[0].indexGiven) {
        *error = "the root has no element number";
        free(steps);
        return false;
    }
    selection->patterns = static_cast<VLSelectPattern*>(
        realloc(selection->patterns, sizeof(VLSelectPattern) * (selection->patternCount + 1)));
    VL_ASSERT(selection->patterns != nullptr);
    selection->patterns[selection->patternCount++] = VLSelectPattern{text, steps, stepCount, 0};
    // The level states are sized by the pattern count: start them afresh.
    free(selection->states);
    selection->states = nullptr;
    selection->levelCapacity = 0;
    VLSelectionReset(selection);
    return true;
}

void VLSelectionFree(VLSelection* selection) {
    for (uint32_t i = 0; i < selection->patternCount; ++i) free(selection->patterns[i].steps);
    free(selection->patterns);
    free(selection->states);
    *selection = VLSelection{};
}

static uint16_t* VLLevelStates(const VLSelection* selection, uint32_t depth) {
    return selection->states + size_t(depth) * selection->patternCount;
}

void VLSelectionReset(VLSelection* selection) {
    selection->depth = 0;
    if (selection->levelCapacity == 0) {
        selection->levelCapacity = 16;
        selection->states = static_cast<uint16_t*>(
            calloc(size_t(selection->levelCapacity) * (selection->patternCount ? selection->patternCount : 1),
                   sizeof(uint16_t)));
        VL_ASSERT(selection->states != nullptr);
    }
    memset(selection->states, 0, sizeof(uint16_t) * selection->patternCount);  // no step matched yet
}

// ---------------------------------------------------------------------------
// Matching
// ---------------------------------------------------------------------------

static bool VLStepMatches(const VLSelectStep* step, VLString name, uint32_t occurrence, bool isArray,
                          uint32_t index) {
    if (!VLStringEquals(step->name, name)) return false;
    if (step->occurrence >= 0 && uint64_t(step->occurrence) != occurrence) return false;
    if (step->indexGiven && (!isArray || (step->index >= 0 && uint64_t(step->index) != index))) return false;
    return true;
}

bool VLSelectEnter(VLSelection* selection, VLString name, uint32_t occurrence, bool isArray, uint32_t index) {
    uint32_t depth = selection->depth + 1;
    if (depth >= selection->levelCapacity) {
        uint32_t capacity = selection->levelCapacity * 2;
        selection->states = static_cast<uint16_t*>(
            realloc(selection->states, sizeof(uint16_t) * capacity * (selection->patternCount ? selection->patternCount : 1)));
        VL_ASSERT(selection->states != nullptr);
        selection->levelCapacity = capacity;
    }
    const uint16_t* outer = VLLevelStates(selection, selection->depth);
    uint16_t* inner = VLLevelStates(selection, depth);
    bool whole = false;
    for (uint32_t p = 0; p < selection->patternCount; ++p) {
        const VLSelectPattern* pattern = &selection->patterns[p];
        uint16_t state = outer[p];
        if (state != VLSelectAll && state != VLSelectNone) {
            if (!VLStepMatches(&pattern->steps[state], name, occurrence, isArray, index)) state = VLSelectNone;
            else if (uint32_t(state) + 1 == pattern->stepCount) state = VLSelectAll;
            else state = uint16_t(state + 1);
        }
        inner[p] = state;
        whole = whole || state == VLSelectAll;
    }
    selection->depth = depth;
    return whole;
}

void VLSelectLeave(VLSelection* selection) {
    VL_ASSERT(selection->depth > 0);
    selection->depth--;
}

bool VLSelectInside(const VLSelection* selection) {
    const uint16_t* states = VLLevelStates(selection, selection->depth);
    for (uint32_t p = 0; p < selection->patternCount; ++p)
        if (states[p] == VLSelectAll) return true;
    return false;
}

bool VLSelectMember(VLSelection* selection, VLString name, uint32_t occurrence, bool isArray, uint32_t index) {
    const uint16_t* states = VLLevelStates(selection, selection->depth);
    bool selected = false;
    for (uint32_t p = 0; p < selection->patternCount; ++p) {
        VLSelectPattern* pattern = &selection->patterns[p];
        uint16_t state = states[p];
        if (state == VLSelectNone) continue;
        if (state == VLSelectAll ||
            (uint32_t(state) + 1 == pattern->stepCount &&
             VLStepMatches(&pattern->steps[state], name, occurrence, isArray, index))) {
            pattern->matched++;
            selected = true;
        }
    }
    return selected;
}
