// BrowseScreen.cpp - the explorer's screen: the panes drawn from the model,
// the keys, the help screen and the prompts, and the loop that runs them while
// the decoder fills the index.
//
// The screen has a title line, the tree pane, the hex pane (beside the tree
// on wide terminals, below it on narrow ones) and the status line. Every draw
// function is a function of the model, the screen state and the window size;
// a resize only draws again. The program is in one of a few states (the tree,
// the help screen, the offset prompt, the search prompt), each with its own
// draw and key functions. The keys are one table: the key switch looks actions
// up in it and the help screen lists it, so the two cannot drift apart.
#include <curses.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "Browse.h"
#include "BrowseDecode.h"
#include "BrowseModel.h"

// ---------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------

enum VLBrowseAction {
    VLBrowseAction_None,
    VLBrowseAction_Down,          // next line; hex pane: next row
    VLBrowseAction_Up,            // previous line; hex pane: previous row
    VLBrowseAction_PageDown,
    VLBrowseAction_PageUp,
    VLBrowseAction_Home,
    VLBrowseAction_End,
    VLBrowseAction_Toggle,        // fold or unfold; a "more" line shows more
    VLBrowseAction_Open,          // unfold; hex pane: next byte
    VLBrowseAction_Close,         // fold; hex pane: previous byte
    VLBrowseAction_GoTo,          // offset prompt
    VLBrowseAction_Search,        // search prompt
    VLBrowseAction_NextMatch,
    VLBrowseAction_PreviousMatch,
    VLBrowseAction_Focus,         // tree pane or hex pane
    VLBrowseAction_Help,
    VLBrowseAction_Quit,
};

struct VLBrowseKeyBinding {
    VLBrowseAction action;
    int keys[4];        // 0 ends the list
    const char* label;  // as the help screen names the keys
    const char* help;
};

static const VLBrowseKeyBinding VLBrowseKeys[] = {
    {VLBrowseAction_Down, {KEY_DOWN, 'j', 0, 0}, "Down  j", "next line (hex pane: next row)"},
    {VLBrowseAction_Up, {KEY_UP, 'k', 0, 0}, "Up  k", "previous line (hex pane: previous row)"},
    {VLBrowseAction_PageDown, {KEY_NPAGE, 0, 0, 0}, "PgDn", "one screen down"},
    {VLBrowseAction_PageUp, {KEY_PPAGE, 0, 0, 0}, "PgUp", "one screen up"},
    {VLBrowseAction_Home, {KEY_HOME, 0, 0, 0}, "Home", "first line (hex pane: first byte)"},
    {VLBrowseAction_End, {KEY_END, 0, 0, 0}, "End", "last member, once decoded (hex pane: last byte)"},
    {VLBrowseAction_Toggle, {'\n', '\r', KEY_ENTER, ' '}, "Enter  Space", "fold or unfold; on \"more\": show more"},
    {VLBrowseAction_Open, {KEY_RIGHT, 'l', 0, 0}, "Right  l", "unfold (hex pane: next byte)"},
    {VLBrowseAction_Close, {KEY_LEFT, 'h', 0, 0}, "Left  h", "fold, or fold the enclosing struct (hex pane: previous byte)"},
    {VLBrowseAction_GoTo, {'g', 0, 0, 0}, "g", "go to an offset: 1234, 0x4D2 or 4D2h"},
    {VLBrowseAction_Search, {'/', 0, 0, 0}, "/", "search names and values"},
    {VLBrowseAction_NextMatch, {'n', 0, 0, 0}, "n", "next match"},
    {VLBrowseAction_PreviousMatch, {'N', 0, 0, 0}, "N", "previous match"},
    {VLBrowseAction_Focus, {'\t', 0, 0, 0}, "Tab", "move between the tree and the hex pane"},
    {VLBrowseAction_Help, {'?', 0, 0, 0}, "?", "this help"},
    {VLBrowseAction_Quit, {'q', 0, 0, 0}, "q", "quit"},
};

static VLBrowseAction VLActionOfKey(int key) {
    for (const VLBrowseKeyBinding& binding : VLBrowseKeys)
        for (int code : binding.keys)
            if (code != 0 && code == key) return binding.action;
    return VLBrowseAction_None;
}

// ---------------------------------------------------------------------------
// Screen state and geometry
// ---------------------------------------------------------------------------

enum VLBrowseState {
    VLBrowseState_Tree,
    VLBrowseState_Help,
    VLBrowseState_GoTo,
    VLBrowseState_Search,
};

enum VLBrowsePair : short {
    VLBrowsePair_Selected = 1,
    VLBrowsePair_Member = 2,
    VLBrowsePair_Parent = 3,
    VLBrowsePair_Bar = 4,
    VLBrowsePair_Report = 5,
    VLBrowsePair_Cursor = 6,
};

struct VLBrowseScreen {
    VLBrowseModel model;
    VLBrowseDecoder* decoder;
    const VLFile* data;
    VLBrowseState state;
    bool colors;
    bool unicode;
    bool hexFocus;
    uint64_t hexCursor;
    uint64_t hexTop;      // first byte of the hex pane, a multiple of bytesPerRow
    std::string input;    // text typed at a prompt
    std::string message;  // shown on the status line until the next key
    VLBrowseSearch search;
    bool searching;
    bool pendingEnd;      // End pressed while the run is still being decoded
    bool awaitingStart;   // -select: the screen moves to its first member once decoded
    uint64_t seenEvents;
    bool seenFinished;
    // Geometry, from the window size.
    int height, width;
    int treeRow, treeRows, treeCols;
    int hexRow, hexCol, hexRows, hexCols;
    int bytesPerRow, addressDigits;
    int statusRow;
    bool sideBySide;
};

static int VLHexDigitsOf(uint64_t value) {
    int digits = 1;
    while (value >>= 4) ++digits;
    return digits;
}

// Splits the window: tree and hex side by side from 100 columns, the hex pane
// below the tree on narrower terminals; a report takes a line above the status.
static void VLLayoutPanes(VLBrowseScreen* screen) {
    getmaxyx(stdscr, screen->height, screen->width);
    int digits = VLHexDigitsOf(screen->data->size ? screen->data->size - 1 : 0);
    screen->addressDigits = digits < 4 ? 4 : digits;
    int statusRows = screen->model.report.empty() ? 1 : 2;
    screen->statusRow = screen->height - 1;
    int body = screen->height - 1 - statusRows;
    if (body < 2) body = 2;
    screen->treeRow = 1;
    screen->sideBySide = screen->width >= 100;
    if (screen->sideBySide) {
        screen->bytesPerRow = screen->width >= 140 ? 16 : 8;
        screen->hexCols = screen->addressDigits + 2 + screen->bytesPerRow * 4 + 1;
        screen->treeCols = screen->width - screen->hexCols - 1;
        screen->treeRows = body;
        screen->hexRow = 1;
        screen->hexCol = screen->treeCols + 1;
        screen->hexRows = body;
    } else {
        screen->bytesPerRow = screen->width >= screen->addressDigits + 2 + 16 * 4 + 1 ? 16 : 8;
        screen->hexCols = screen->width;
        screen->hexRows = body / 3 < 2 ? 2 : body / 3;
        screen->treeRows = body - screen->hexRows - 1;
        if (screen->treeRows < 1) screen->treeRows = 1;
        screen->treeCols = screen->width;
        screen->hexRow = 1 + screen->treeRows + 1;
        screen->hexCol = 0;
    }
    screen->model.rows = uint32_t(screen->treeRows);
}

static std::string VLNumberText(uint64_t value) { return std::to_string(value); }

static std::string VLOffsetText(uint64_t value) {
    char text[48];
    snprintf(text, sizeof text, "0x%llX (%llu)", static_cast<unsigned long long>(value),
             static_cast<unsigned long long>(value));
    return text;
}

// Writes `text` at the cursor within `columns` display columns (one per code
// point: the explorer's texts are single-width) and pads the rest with spaces.
static void VLPutCut(const std::string& text, int columns) {
    int used = 0;
    size_t bytes = 0;
    while (bytes < text.size() && used < columns) {
        size_t length = 1;
        unsigned char lead = static_cast<unsigned char>(text[bytes]);
        if (lead >= 0xF0) length = 4;
        else if (lead >= 0xE0) length = 3;
        else if (lead >= 0xC0) length = 2;
        if (bytes + length > text.size()) break;
        bytes += length;
        used += 1;
    }
    addnstr(text.data(), int(bytes));
    for (; used < columns; ++used) addch(' ');
}

static attr_t VLAttribute(const VLBrowseScreen* screen, VLBrowsePair pair, attr_t plain) {
    return screen->colors ? COLOR_PAIR(pair) : plain;
}

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

static void VLDrawTitle(VLBrowseScreen* screen) {
    std::string title = " vellum  " + std::string(screen->data->path) + "  " + VLNumberText(screen->data->size) +
                        " bytes";
    uint64_t events = VLBrowseEventCount(screen->model.index);
    if (!VLBrowseFinished(screen->model.index)) title += "  decoding: " + VLNumberText(events) + " events";
    title += "  (? help, q quit)";
    attron(VLAttribute(screen, VLBrowsePair_Bar, A_REVERSE));
    move(0, 0);
    VLPutCut(title, screen->width);
    attroff(VLAttribute(screen, VLBrowsePair_Bar, A_REVERSE));
}

static void VLDrawTree(VLBrowseScreen* screen) {
    VLBrowseModel* model = &screen->model;
    VLBrowseLine line = model->top;
    for (int row = 0; row < screen->treeRows; ++row) {
        move(screen->treeRow + row, 0);
        if (line.kind == VLBrowseLineKind_None) {
            VLPutCut("", screen->treeCols);
            continue;
        }
        bool selected = VLBrowseLineEquals(line, model->selected);
        attr_t attribute = 0;
        if (selected)
            attribute = screen->hexFocus ? A_UNDERLINE : VLAttribute(screen, VLBrowsePair_Selected, A_REVERSE);
        else if (line.kind == VLBrowseLineKind_Report)
            attribute = VLAttribute(screen, VLBrowsePair_Report, A_BOLD);
        attron(attribute);
        VLPutCut(VLBrowseLineText(model, line, screen->unicode), screen->treeCols);
        attroff(attribute);
        line = VLBrowseNextLine(model, line);
    }
}

// Moves the hex pane so that byte `offset` is on it (a third from the top
// when it has to move).
static void VLHexFollow(VLBrowseScreen* screen, uint64_t offset) {
    uint64_t row = uint64_t(screen->bytesPerRow);
    uint64_t span = uint64_t(screen->hexRows) * row;
    if (offset >= screen->hexTop && offset - screen->hexTop < span) return;
    uint64_t start = offset - offset % row;
    uint64_t back = uint64_t(screen->hexRows / 3) * row;
    screen->hexTop = start > back ? start - back : 0;
}

static void VLDrawHex(VLBrowseScreen* screen) {
    VLBrowseModel* model = &screen->model;
    uint64_t memberOffset = 0, memberSize = 0, parentOffset = 0, parentSize = 0;
    bool member = VLBrowseLineRange(model, model->selected, &memberOffset, &memberSize);
    bool parent = VLBrowseParentRange(model, model->selected, &parentOffset, &parentSize);
    if (!screen->sideBySide) {
        move(screen->hexRow - 1, 0);
        for (int i = 0; i < screen->width; ++i) addch(ACS_HLINE);
    }
    for (int row = 0; row < screen->hexRows; ++row) {
        int y = screen->hexRow + row;
        if (screen->sideBySide) mvaddch(y, screen->treeCols, ACS_VLINE);
        move(y, screen->hexCol);
        uint64_t start = screen->hexTop + uint64_t(row) * uint64_t(screen->bytesPerRow);
        if (start >= screen->data->size) {
            VLPutCut("", screen->hexCols);
            continue;
        }
        char address[24];
        snprintf(address, sizeof address, "%0*llX  ", screen->addressDigits, static_cast<unsigned long long>(start));
        addstr(address);
        std::string ascii;
        for (int column = 0; column < screen->bytesPerRow; ++column) {
            uint64_t offset = start + uint64_t(column);
            if (offset >= screen->data->size) {
                addstr("   ");
                continue;
            }
            unsigned char byte = static_cast<unsigned char>(screen->data->data[offset]);
            attr_t attribute = 0;
            if (screen->hexFocus && offset == screen->hexCursor)
                attribute = VLAttribute(screen, VLBrowsePair_Cursor, A_REVERSE | A_BOLD) | A_BOLD;
            else if (member && offset >= memberOffset && offset - memberOffset < memberSize)
                attribute = VLAttribute(screen, VLBrowsePair_Member, A_REVERSE);
            else if (parent && offset >= parentOffset && offset - parentOffset < parentSize)
                attribute = VLAttribute(screen, VLBrowsePair_Parent, A_UNDERLINE);
            char pair[4];
            snprintf(pair, sizeof pair, "%02X", byte);
            attron(attribute);
            addstr(pair);
            attroff(attribute);
            addch(' ');
            ascii += byte >= 0x20 && byte < 0x7F ? char(byte) : '.';
        }
        addch(' ');
        addstr(ascii.c_str());  // the screen was erased: nothing to pad
    }
}

static void VLDrawStatus(VLBrowseScreen* screen) {
    VLBrowseModel* model = &screen->model;
    if (!model->report.empty()) {
        attron(VLAttribute(screen, VLBrowsePair_Report, A_BOLD));
        move(screen->statusRow - 1, 0);
        VLPutCut("! " + model->report, screen->width);
        attroff(VLAttribute(screen, VLBrowsePair_Report, A_BOLD));
    }
    std::string text;
    if (screen->state == VLBrowseState_GoTo) {
        text = "Go to offset: " + screen->input + "_";
    } else if (screen->state == VLBrowseState_Search) {
        text = "Search: " + screen->input + "_";
    } else if (!screen->message.empty()) {
        text = screen->message;
    } else {
        text = VLBrowsePathText(model, model->selected);
        uint64_t offset, size;
        if (VLBrowseLineRange(model, model->selected, &offset, &size))
            text += "  at " + VLOffsetText(offset) + " size " + VLOffsetText(size);
        if (screen->hexFocus) text += "  cursor " + VLOffsetText(screen->hexCursor);
        text += "  file " + VLNumberText(screen->data->size) + " bytes";
    }
    attron(VLAttribute(screen, VLBrowsePair_Bar, A_REVERSE));
    move(screen->statusRow, 0);
    VLPutCut(text, screen->width);
    attroff(VLAttribute(screen, VLBrowsePair_Bar, A_REVERSE));
}

static void VLDrawHelp(VLBrowseScreen* screen) {
    erase();
    VLDrawTitle(screen);
    int row = 2;
    mvaddstr(row++, 2, "Keys");
    row++;
    for (const VLBrowseKeyBinding& binding : VLBrowseKeys) {
        if (row >= screen->height - 2) break;
        move(row++, 4);
        VLPutCut(binding.label, 14);
        VLPutCut(binding.help, screen->width - 20 > 0 ? screen->width - 20 : 0);
    }
    if (row < screen->height - 2) mvaddstr(row + 1, 2, "Mouse: a click selects, the wheel scrolls.");
    move(screen->height - 1, 0);
    attron(VLAttribute(screen, VLBrowsePair_Bar, A_REVERSE));
    VLPutCut("Any key returns to the tree.", screen->width);
    attroff(VLAttribute(screen, VLBrowsePair_Bar, A_REVERSE));
}

static void VLDraw(VLBrowseScreen* screen) {
    VLLayoutPanes(screen);
    if (screen->state == VLBrowseState_Help) {
        VLDrawHelp(screen);
        refresh();
        return;
    }
    erase();
    if (screen->height < 6 || screen->width < 30) {
        mvaddstr(0, 0, "Terminal too small");
        refresh();
        return;
    }
    VLBrowseSettle(&screen->model);
    uint64_t offset, size;
    if (screen->hexFocus) VLHexFollow(screen, screen->hexCursor);
    else if (VLBrowseLineRange(&screen->model, screen->model.selected, &offset, &size)) VLHexFollow(screen, offset);
    VLDrawTitle(screen);
    VLDrawTree(screen);
    VLDrawHex(screen);
    VLDrawStatus(screen);
    refresh();
}

// ---------------------------------------------------------------------------
// Keys of each state
// ---------------------------------------------------------------------------

// Moves the hex cursor by `delta` bytes (clamped to the file) and lets the
// tree follow it.
static void VLHexMove(VLBrowseScreen* screen, int64_t delta) {
    uint64_t size = screen->data->size;
    if (size == 0) return;
    uint64_t cursor = screen->hexCursor;
    if (delta < 0) cursor = uint64_t(-delta) > cursor ? 0 : cursor - uint64_t(-delta);
    else cursor = uint64_t(delta) > size - 1 - cursor ? size - 1 : cursor + uint64_t(delta);
    screen->hexCursor = cursor;
    VLBrowseGoToOffset(&screen->model, cursor);
}

static void VLStartSearch(VLBrowseScreen* screen, bool forward) {
    if (screen->search.text.empty()) {
        screen->message = "No search yet: / searches.";
        return;
    }
    VLBrowseSearchBegin(&screen->model, &screen->search, screen->search.text, forward);
    screen->searching = true;
}

// The tree state's keys; returns false to quit.
static bool VLTreeKey(VLBrowseScreen* screen, int key) {
    VLBrowseModel* model = &screen->model;
    int64_t page = screen->treeRows > 1 ? screen->treeRows - 1 : 1;
    int64_t hexPage = int64_t(screen->hexRows) * screen->bytesPerRow;
    switch (VLActionOfKey(key)) {
    case VLBrowseAction_Quit: return false;
    case VLBrowseAction_Help: screen->state = VLBrowseState_Help; break;
    case VLBrowseAction_Down:
        if (screen->hexFocus) VLHexMove(screen, screen->bytesPerRow);
        else VLBrowseMove(model, 1);
        break;
    case VLBrowseAction_Up:
        if (screen->hexFocus) VLHexMove(screen, -screen->bytesPerRow);
        else VLBrowseMove(model, -1);
        break;
    case VLBrowseAction_PageDown:
        if (screen->hexFocus) VLHexMove(screen, hexPage);
        else VLBrowseMove(model, page);
        break;
    case VLBrowseAction_PageUp:
        if (screen->hexFocus) VLHexMove(screen, -hexPage);
        else VLBrowseMove(model, -page);
        break;
    case VLBrowseAction_Home:
        if (screen->hexFocus) VLHexMove(screen, -int64_t(screen->hexCursor));
        else VLBrowseHome(model);
        break;
    case VLBrowseAction_End:
        if (screen->hexFocus) {
            VLHexMove(screen, int64_t(screen->data->size));
        } else if (!VLBrowseEnd(model)) {
            screen->pendingEnd = true;
            screen->message = "End: waiting for the run to be decoded ...";
        }
        break;
    case VLBrowseAction_Toggle: VLBrowseFoldSelected(model, true, true); break;
    case VLBrowseAction_Open:
        if (screen->hexFocus) VLHexMove(screen, 1);
        else VLBrowseFoldSelected(model, true, false);
        break;
    case VLBrowseAction_Close:
        if (screen->hexFocus) VLHexMove(screen, -1);
        else VLBrowseFoldSelected(model, false, false);
        break;
    case VLBrowseAction_GoTo:
        screen->state = VLBrowseState_GoTo;
        screen->input.clear();
        break;
    case VLBrowseAction_Search:
        screen->state = VLBrowseState_Search;
        screen->input.clear();
        break;
    case VLBrowseAction_NextMatch: VLStartSearch(screen, true); break;
    case VLBrowseAction_PreviousMatch: VLStartSearch(screen, false); break;
    case VLBrowseAction_Focus: {
        screen->hexFocus = !screen->hexFocus;
        uint64_t offset, size;
        if (screen->hexFocus && VLBrowseLineRange(model, model->selected, &offset, &size))
            screen->hexCursor = offset < screen->data->size ? offset : screen->hexCursor;
        break;
    }
    case VLBrowseAction_None: break;
    }
    return true;
}

// A prompt's keys: text, Backspace, Enter (done) and Escape (cancel).
// Returns true when Enter was pressed.
static bool VLPromptKey(VLBrowseScreen* screen, int key) {
    if (key == 27) {
        screen->state = VLBrowseState_Tree;
        return false;
    }
    if (key == '\n' || key == '\r' || key == KEY_ENTER) {
        screen->state = VLBrowseState_Tree;
        return true;
    }
    if (key == KEY_BACKSPACE || key == 127 || key == 8) {
        if (!screen->input.empty()) screen->input.pop_back();
        return false;
    }
    if (key >= 0x20 && key < 0x7F && screen->input.size() < 200) screen->input += char(key);
    return false;
}

static void VLGoToKey(VLBrowseScreen* screen, int key) {
    if (!VLPromptKey(screen, key)) return;
    uint64_t offset;
    if (!VLBrowseParseOffset(screen->input.c_str(), &offset)) {
        screen->message = "Not an offset: " + screen->input + " (decimal, 0x... or ...h)";
        return;
    }
    if (offset >= screen->data->size) {
        screen->message = "Offset " + VLOffsetText(offset) + " is beyond the end of the file (" +
                          VLNumberText(screen->data->size) + " bytes)";
        return;
    }
    if (screen->hexFocus) screen->hexCursor = offset;
    if (!VLBrowseGoToOffset(&screen->model, offset)) screen->message = "No member covers offset " + VLOffsetText(offset);
}

static void VLSearchKey(VLBrowseScreen* screen, int key) {
    if (!VLPromptKey(screen, key) || screen->input.empty()) return;
    VLBrowseSearchBegin(&screen->model, &screen->search, screen->input, true);
    screen->searching = true;
}

static void VLMouse(VLBrowseScreen* screen) {
    MEVENT event;
    if (getmouse(&event) != OK) return;
    VLBrowseModel* model = &screen->model;
#if NCURSES_MOUSE_VERSION > 1
    if (event.bstate & BUTTON4_PRESSED) {
        VLBrowseScroll(model, -3);
        return;
    }
    if (event.bstate & BUTTON5_PRESSED) {
        VLBrowseScroll(model, 3);
        return;
    }
#endif
    if (!(event.bstate & (BUTTON1_PRESSED | BUTTON1_CLICKED))) return;
    int row = event.y - screen->treeRow;
    if (event.x < screen->treeCols && row >= 0 && row < screen->treeRows) {
        VLBrowseLine line = VLBrowseLineAtRow(model, uint32_t(row));
        if (line.kind == VLBrowseLineKind_None) return;
        screen->hexFocus = false;
        if (VLBrowseLineEquals(line, model->selected)) VLBrowseFoldSelected(model, true, true);
        else VLBrowseSelect(model, line);
        return;
    }
    // A byte of the hex pane: its column in the pair area.
    int hexRow = event.y - screen->hexRow;
    int column = event.x - screen->hexCol - screen->addressDigits - 2;
    if (hexRow < 0 || hexRow >= screen->hexRows || column < 0 || column >= screen->bytesPerRow * 3) return;
    uint64_t offset = screen->hexTop + uint64_t(hexRow) * uint64_t(screen->bytesPerRow) + uint64_t(column / 3);
    if (offset >= screen->data->size) return;
    screen->hexFocus = true;
    screen->hexCursor = offset;
    VLBrowseGoToOffset(model, offset);
}

// ---------------------------------------------------------------------------
// The loop
// ---------------------------------------------------------------------------

// Work between keys: the model learns of new events and the end of the run,
// a search goes on, an End waits for the run. Returns true when the screen
// must be drawn again.
static bool VLBackgroundWork(VLBrowseScreen* screen) {
    bool changed = false;
    bool finished = VLBrowseFinished(screen->model.index);
    if (finished && !screen->seenFinished) {
        screen->seenFinished = true;
        if (screen->decoder->reported || !screen->decoder->message.empty())
            screen->model.report = screen->decoder->message;
        else if (VLBrowseEventCount(screen->model.index) == 0)
            screen->model.report = "No members exported: the layout has no 'layout' statement, or its type has no members.";
        changed = true;
    }
    uint64_t events = VLBrowseEventCount(screen->model.index);
    if (events != screen->seenEvents) {
        screen->seenEvents = events;
        changed = true;
    }
    if (screen->awaitingStart) {
        uint64_t startEvent = screen->decoder->startEvent.load(std::memory_order_acquire);
        if (startEvent != VLBrowseOpen) {
            screen->awaitingStart = false;
            VLBrowseSelect(&screen->model, VLBrowseReveal(&screen->model, startEvent));
            changed = true;
        } else if (finished) {
            screen->awaitingStart = false;
            screen->message = "-select selects no member: showing the first line";
            changed = true;
        }
    }
    if (screen->pendingEnd && finished) {
        screen->pendingEnd = false;
        screen->message.clear();
        VLBrowseEnd(&screen->model);
        changed = true;
    }
    if (screen->searching) {
        if (VLBrowseSearchStep(&screen->model, &screen->search, 50000)) {
            screen->searching = false;
            if (screen->search.found == VLBrowseOpen) screen->message = "No match for \"" + screen->search.text + "\"";
            changed = true;
        }
    }
    return changed;
}

static void VLInitColors(VLBrowseScreen* screen) {
    const char* noColor = getenv("NO_COLOR");
    screen->colors = has_colors() && !(noColor && noColor[0]);
    if (!screen->colors) return;
    start_color();
    use_default_colors();
    init_pair(VLBrowsePair_Selected, COLOR_BLACK, COLOR_CYAN);
    init_pair(VLBrowsePair_Member, COLOR_BLACK, COLOR_YELLOW);
    init_pair(VLBrowsePair_Parent, COLOR_CYAN, -1);
    init_pair(VLBrowsePair_Bar, COLOR_BLACK, COLOR_WHITE);
    init_pair(VLBrowsePair_Report, COLOR_RED, -1);
    init_pair(VLBrowsePair_Cursor, COLOR_WHITE, COLOR_MAGENTA);
}

static void VLRunScreen(VLBrowseScreen* screen) {
    // The first screen shows what it shows decoded: a short wait for the
    // first events avoids drawing an empty tree on a fast start.
    auto start = std::chrono::steady_clock::now();
    while (!VLBrowseFinished(screen->model.index) && VLBrowseEventCount(screen->model.index) < 4096 &&
           std::chrono::steady_clock::now() - start < std::chrono::milliseconds(50))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    VLLayoutPanes(screen);  // the model learns its rows before it moves to a -select start
    VLBackgroundWork(screen);
    VLDraw(screen);
    for (;;) {
        // A search goes on between keys; one that waits for the decoder at
        // the decoded end, like the decoding itself, only needs a look now and then.
        bool finished = VLBrowseFinished(screen->model.index);
        bool waiting = screen->searching && !finished && screen->search.forward &&
                       screen->search.next >= VLBrowseEventCount(screen->model.index);
        timeout(screen->searching && !waiting ? 0 : !finished || screen->searching ? 50 : -1);
        int key = getch();
        if (key == ERR) {
            if (VLBackgroundWork(screen)) VLDraw(screen);
            continue;
        }
        if (key != KEY_RESIZE && key != KEY_MOUSE) screen->message.clear();
        switch (screen->state) {
        case VLBrowseState_Help:
            if (key != KEY_RESIZE && key != KEY_MOUSE) screen->state = VLBrowseState_Tree;
            break;
        case VLBrowseState_GoTo: VLGoToKey(screen, key); break;
        case VLBrowseState_Search: VLSearchKey(screen, key); break;
        case VLBrowseState_Tree:
            if (key == KEY_MOUSE) {
                VLMouse(screen);
                break;
            }
            if (key == 27 && screen->searching) {  // Escape stops a search
                screen->searching = false;
                screen->message = "Search stopped.";
                break;
            }
            if (!VLTreeKey(screen, key)) return;
            break;
        }
        VLBackgroundWork(screen);
        VLDraw(screen);
    }
}

int VLBrowseMain(VLProgram* program, const VLFile* layout, const VLFile* data, const VLRunOptions* options,
                 VLSelection* start, VLWriter* out, VLWriter* err) {
    if (!isatty(0) || !isatty(1)) {
        VLWriteText(err, "-browse needs a terminal\n");
        return 1;
    }
    VLWriterFlush(out);
    VLWriterFlush(err);
    VLBrowseIndex* index = new VLBrowseIndex;
    if (!VLBrowseIndexInit(index)) {
        delete index;
        VLWriteText(err, "-browse could not reserve memory for its index\n");
        return 1;
    }
    VLBrowseDecoder* decoder = new VLBrowseDecoder;
    VLBrowseDecoderInit(decoder, index, program, layout, data, options, start);
    VLBrowseDecodeStart(decoder);

    setlocale(LC_ALL, "");
    VLBrowseScreen* screen = new VLBrowseScreen();
    screen->decoder = decoder;
    screen->data = data;
    screen->state = VLBrowseState_Tree;
    screen->unicode = MB_CUR_MAX > 1;
    screen->awaitingStart = start != nullptr;
    VLBrowseModelInit(&screen->model, index, program, reinterpret_cast<const uint8_t*>(data->data), data->size);
    set_escdelay(25);
    initscr();
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    curs_set(0);
    mousemask(ALL_MOUSE_EVENTS, nullptr);
    mouseinterval(0);
    VLInitColors(screen);
    VLRunScreen(screen);
    endwin();

    if (!VLBrowseDecodeJoin(decoder)) {
        // The run is in a loop that shows nothing and cannot be stopped from
        // outside; it reads the program and the data, so the process ends here.
        fflush(nullptr);
        _exit(0);
    }
    delete screen;
    delete decoder;
    VLBrowseIndexFree(index);
    delete index;
    return 0;
}
