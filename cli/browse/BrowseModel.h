// BrowseModel.h - the explorer's tree as the screen sees it: which lines are
// visible (folds, arrays shown in steps), the selection and the top line, the
// texts of a line and of its path, jumps to an offset and searches. Nothing
// here draws; every function is a function of the index, the data and the
// model's own state, so the whole explorer but the drawing is unit-testable.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "BrowseIndex.h"
#include "Vellum.h"

enum VLBrowseLineKind : uint8_t {
    VLBrowseLineKind_None = 0,     // no line (before the first, after the last)
    VLBrowseLineKind_Member = 1,   // a scalar member
    VLBrowseLineKind_Struct = 2,   // a struct instance, folded or not
    VLBrowseLineKind_More = 3,     // "... N more" after the elements shown of an array
    VLBrowseLineKind_Print = 4,    // print output
    VLBrowseLineKind_Report = 5,   // the report that stopped the run (the last line)
    VLBrowseLineKind_Pending = 6,  // the run goes on (the last line while decoding)
};

struct VLBrowseLine {
    uint8_t kind;    // VLBrowseLineKind
    uint64_t event;  // member, struct (its begin), print
    uint32_t node;   // struct, more (the array)
};

inline bool VLBrowseLineEquals(VLBrowseLine a, VLBrowseLine b) {
    return a.kind == b.kind && a.event == b.event && a.node == b.node;
}

enum : uint64_t {
    VLBrowseArrayStep = 100,   // elements shown at first, and the factor of each further step is 10
    VLBrowseFoldDepth = 2,     // structs at this depth and below start folded
};

struct VLBrowseModel {
    const VLBrowseIndex* index;
    const VLProgram* program;
    const uint8_t* data;
    uint64_t dataSize;
    VLBrowseReader reader;
    std::vector<const VLInstruction*> instructions;  // by number
    std::unordered_map<uint32_t, bool> folds;        // struct node: folded, where it differs from the start
    std::unordered_map<uint32_t, uint64_t> shown;    // array node: elements shown, where not the first step
    VLBrowseLine top;       // first line of the tree pane
    VLBrowseLine selected;
    uint32_t rows;          // lines of the tree pane
    std::string report;     // the report's message when the run stopped with one (set once finished)
};

void VLBrowseModelInit(VLBrowseModel* model, const VLBrowseIndex* index, const VLProgram* program,
                       const uint8_t* data, uint64_t dataSize);

// Lines in display order.
VLBrowseLine VLBrowseFirstLine(VLBrowseModel* model);
VLBrowseLine VLBrowseNextLine(VLBrowseModel* model, VLBrowseLine line);
VLBrowseLine VLBrowsePreviousLine(VLBrowseModel* model, VLBrowseLine line);
// The line standing for an event: its own, or the folded struct or "more"
// line that hides it.
VLBrowseLine VLBrowseVisibleLine(VLBrowseModel* model, uint64_t event);

// Texts. The line text is the indentation, the fold marker and the member as
// the text output shows it; the path uses the member path notation.
std::string VLBrowseLineText(VLBrowseModel* model, VLBrowseLine line, bool unicode);
std::string VLBrowsePathText(VLBrowseModel* model, VLBrowseLine line);
uint32_t VLBrowseLineDepth(VLBrowseModel* model, VLBrowseLine line);

// Bytes of a line (member or struct); false when it covers none (yet).
bool VLBrowseLineRange(VLBrowseModel* model, VLBrowseLine line, uint64_t* offset, uint64_t* size);
// Bytes of the struct the line lies in; false for the root's own lines.
bool VLBrowseParentRange(VLBrowseModel* model, VLBrowseLine line, uint64_t* offset, uint64_t* size);

// Folding. A struct line folds and unfolds; a "more" line shows the next step.
bool VLBrowseIsFolded(const VLBrowseModel* model, uint32_t node);
void VLBrowseSetFolded(VLBrowseModel* model, uint32_t node, bool folded);
uint64_t VLBrowseShownCount(const VLBrowseModel* model, uint32_t array);
// Unfolds (`open`) or folds the selected line: a folded struct opens, an open
// one closes, a member folds its struct; a "more" line shows the next step.
void VLBrowseFoldSelected(VLBrowseModel* model, bool open, bool toggle);
// Makes an event's line visible (unfolding its structs, showing enough of its
// arrays) and returns the line.
VLBrowseLine VLBrowseReveal(VLBrowseModel* model, uint64_t event);

// Selection and scrolling.
void VLBrowseSelect(VLBrowseModel* model, VLBrowseLine line);
void VLBrowseMove(VLBrowseModel* model, int64_t lines);
void VLBrowseScroll(VLBrowseModel* model, int64_t lines);  // the selection stays when still visible
void VLBrowseHome(VLBrowseModel* model);
// The last member revealed and selected (the report line when there is one);
// false while the run is still being decoded.
bool VLBrowseEnd(VLBrowseModel* model);
// The line `row` lines below the top line (None past the last line).
VLBrowseLine VLBrowseLineAtRow(VLBrowseModel* model, uint32_t row);
// Lines again after folds changed or the index grew: the top and the
// selection stand for what they stood for, the selection stays on screen.
void VLBrowseSettle(VLBrowseModel* model);

// Selects the innermost member covering `offset`; false when none does.
bool VLBrowseGoToOffset(VLBrowseModel* model, uint64_t offset);
// Parses an offset as typed at the prompt: decimal, or hexadecimal with "0x"
// before or "h" after; false when the text is none of these.
bool VLBrowseParseOffset(const char* text, uint64_t* offset);

// Search over member names and value texts (ASCII letters compared without
// case), in steps so that the screen stays live on large files.
struct VLBrowseSearch {
    std::string text;
    bool forward;
    bool active;        // a search is under way
    uint64_t next;      // event examined next
    uint64_t start;     // where it began (it ends when it comes round to it)
    uint64_t examined;  // events examined so far
    uint64_t found;     // VLBrowseOpen: not found (after it ended)
    std::vector<int8_t> nameMatches;  // per instruction: -1 unknown, 0 no, 1 yes
};
void VLBrowseSearchBegin(VLBrowseModel* model, VLBrowseSearch* search, const std::string& text, bool forward);
// Examines up to `budget` events; returns true when the search has ended
// (found: the match is selected; else search->found is VLBrowseOpen).
// While the run is being decoded, a search that reaches the decoded end waits
// there (returns false) instead of going round.
bool VLBrowseSearchStep(VLBrowseModel* model, VLBrowseSearch* search, uint64_t budget);
// Whether an event matches the search text (names and value texts).
bool VLBrowseEventMatches(VLBrowseModel* model, VLBrowseSearch* search, const VLBrowseEvent* event);
