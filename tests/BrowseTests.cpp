// BrowseTests.cpp - the explorer without a terminal: the index (events, nodes,
// arrays, element lookup, the member at an offset), the tree model (lines in
// both directions, folds, arrays in steps, reveal, paths, search) and the
// decoder (reports), over small layouts compiled here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "BrowseDecode.h"
#include "BrowseModel.h"

namespace {

// A layout compiled and run into a fresh index; the model over it.
struct Explorer {
    VLArena arena = {};
    VLProgram program = {};
    std::string layoutText;
    std::vector<uint8_t> bytes;
    VLFile layout = {};
    VLFile data = {};
    VLBrowseIndex index;
    VLBrowseDecoder decoder;
    VLBrowseModel model;

    Explorer(const std::string& text, std::vector<uint8_t> content, uint64_t stepLimit = 0)
        : layoutText(text), bytes(std::move(content)) {
        layout.path = "l.vlt";
        layout.data = layoutText.data();
        layout.size = layoutText.size();
        data.path = "d.bin";
        data.data = reinterpret_cast<char*>(bytes.data());
        data.size = bytes.size();
        VLScanResult scan = VLTokenize(layoutText.c_str(), &arena);
        program = VLCompile(scan.tokens, &arena);
        EXPECT_FALSE(VLErrorIsValid(&program.error)) << program.error.message;
        EXPECT_TRUE(VLBrowseIndexInit(&index));
        VLRunOptions options = {};
        options.stepLimit = stepLimit;
        options.reportStepLimit = stepLimit ? 1 : 0;
        VLBrowseDecoderInit(&decoder, &index, &program, &layout, &data, &options, nullptr);
        VLBrowseDecodeRun(&decoder);
        VLBrowseModelInit(&model, &index, &program, bytes.data(), bytes.size());
        model.report = decoder.message;
        model.rows = 10;
        VLBrowseSettle(&model);
    }
    ~Explorer() {
        VLBrowseIndexFree(&index);
        VLArenaRelease(&arena);
    }

    // Every line from the first on, as text.
    std::vector<std::string> Lines() {
        std::vector<std::string> texts;
        for (VLBrowseLine line = VLBrowseFirstLine(&model); line.kind != VLBrowseLineKind_None;
             line = VLBrowseNextLine(&model, line))
            texts.push_back(VLBrowseLineText(&model, line, false));
        return texts;
    }
    std::string Selected() { return VLBrowseLineText(&model, model.selected, false); }
    std::string SelectedPath() { return VLBrowsePathText(&model, model.selected); }
};

std::vector<uint8_t> Counting(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(i);
    return bytes;
}

const char* const Nested = R"(
struct Point { u(1) x; u(1) y; };
struct Shape { u(1) kind; Point corner; Point points[2]; };
struct File { u(2, hex) magic; Shape shapes[3]; u(1) tail[3]; };
layout File;
)";

// Walking the lines forward, then backward from the last, gives the same lines.
void ExpectWalksAgree(Explorer* explorer) {
    std::vector<VLBrowseLine> forward;
    for (VLBrowseLine line = VLBrowseFirstLine(&explorer->model); line.kind != VLBrowseLineKind_None;
         line = VLBrowseNextLine(&explorer->model, line))
        forward.push_back(line);
    ASSERT_FALSE(forward.empty());
    size_t at = forward.size() - 1;
    for (VLBrowseLine line = forward.back(); line.kind != VLBrowseLineKind_None;
         line = VLBrowsePreviousLine(&explorer->model, line)) {
        ASSERT_LT(at, forward.size()) << "more lines backward than forward";
        ASSERT_TRUE(VLBrowseLineEquals(line, forward[at]))
            << "line " << at << ": " << VLBrowseLineText(&explorer->model, line, false) << " against "
            << VLBrowseLineText(&explorer->model, forward[at], false);
        if (at-- == 0) break;
    }
    EXPECT_EQ(at, size_t(-1)) << "fewer lines backward than forward";
}

}  // namespace

TEST(BrowseIndex, NodesArraysAndElements) {
    Explorer e(Nested, Counting(64));
    // File, shapes array, 3 Shapes each with corner, points array and 2 points, tail array.
    uint32_t nodes = VLBrowseNodeCount(&e.index);
    ASSERT_EQ(nodes, 1u + 1u + 3u * (1u + 1u + 1u + 2u) + 1u);
    const VLBrowseNode* shapes = VLBrowseNodeAt(&e.index, 1);
    EXPECT_EQ(shapes->kind, VLBrowseNodeKind_StructArray);
    EXPECT_EQ(VLBrowseArrayCount(&e.index, 1), 3u);
    // Element 2 of the shapes: its begin event is a struct begin of element number 2.
    VLBrowseReader reader;
    VLBrowseReaderInit(&reader, &e.index);
    uint64_t number = VLBrowseElementEvent(&e.index, 1, 2);
    ASSERT_NE(number, VLBrowseOpen);
    VLBrowseEvent event = VLBrowseDecode(&reader, number);
    EXPECT_EQ(event.kind, VLBrowseEventKind_StructBegin);
    EXPECT_EQ(VLBrowseNodeAt(&e.index, event.node)->index, 2u);
    EXPECT_EQ(VLBrowseElementEvent(&e.index, 1, 3), VLBrowseOpen);
    // Struct ranges: shape 1 covers bytes 2 + 7 .. 2 + 14.
    const VLBrowseNode* shape = VLBrowseNodeAt(&e.index, event.node);
    EXPECT_EQ(shape->offset, 2u + 14u);
    EXPECT_EQ(shape->size, 7u);
    // The scalar array's elements follow its begin event one by one.
    uint32_t tail = nodes - 1;
    EXPECT_EQ(VLBrowseNodeAt(&e.index, tail)->kind, VLBrowseNodeKind_ScalarArray);
    event = VLBrowseDecode(&reader, VLBrowseElementEvent(&e.index, tail, 1));
    EXPECT_EQ(event.kind, VLBrowseEventKind_Member);
    EXPECT_EQ(event.index, 1u);
    EXPECT_EQ(event.offset, 24u);
}

TEST(BrowseIndex, DecodesAcrossBlocksInAnyOrder) {
    // 3 000 one-byte members: many blocks; decoding backward, forward and at
    // random gives each member its own offset.
    Explorer e("struct F { u(1) b[3000]; };\nlayout F;\n", Counting(3000));
    VLBrowseReader reader;
    VLBrowseReaderInit(&reader, &e.index);
    uint64_t count = VLBrowseEventCount(&e.index);
    ASSERT_EQ(count, 3000u + 4u);  // struct and array begin and end
    for (uint64_t number = count - 2; number-- > 2;) {
        VLBrowseEvent event = VLBrowseDecode(&reader, number);
        ASSERT_EQ(event.kind, VLBrowseEventKind_Member);
        ASSERT_EQ(event.offset, number - 2);
        ASSERT_EQ(event.index, number - 2);
    }
    for (uint64_t number : {2000u, 5u, 1999u, 129u, 128u, 127u, 2999u}) {
        VLBrowseEvent event = VLBrowseDecode(&reader, number);
        EXPECT_EQ(event.offset, number - 2);
    }
}

TEST(BrowseIndex, MemberAtOffset) {
    // `hidden` leaves a gap that only the struct covers; placements read out of order.
    Explorer e(R"(
struct Inner { u(2) a; hidden u(2) gap; u(2) b; };
struct F { u(1) head; Inner inner; @(20) u(4) late; @(10) u(2) early; };
layout F;
)",
               Counting(32));
    VLBrowseReader reader;
    VLBrowseReaderInit(&reader, &e.index);
    struct Case {
        uint64_t offset;
        const char* path;  // empty: nothing covers it
    };
    const Case cases[] = {
        {0, "F.head"}, {2, "F.inner.a"}, {3, "F.inner"}, {5, "F.inner.b"},
        {11, "F.early"}, {23, "F.late"}, {8, "F"}, {24, ""}, {31, ""},
    };
    for (const Case& c : cases) {
        bool found = VLBrowseGoToOffset(&e.model, c.offset);
        if (!*c.path) {
            EXPECT_FALSE(found) << c.offset;
            continue;
        }
        ASSERT_TRUE(found) << c.offset;
        EXPECT_EQ(e.SelectedPath(), c.path) << c.offset;
    }
}

TEST(BrowseModel, FirstLinesFoldBelowTheSecondLevel) {
    Explorer e(Nested, Counting(64));
    std::vector<std::string> lines = e.Lines();
    std::vector<std::string> want = {
        "- File",
        "    magic = 1 00h",
        "  - Shape (.shapes[0])",
        "      kind = 2",
        "    + Point (.corner)",
        "    + Point (.points[0])",
        "    + Point (.points[1])",
        "  - Shape (.shapes[1])",
    };
    ASSERT_GE(lines.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(lines[i], want[i]) << i;
    EXPECT_EQ(lines.back(), "    tail[2] = 25");
    ExpectWalksAgree(&e);
}

TEST(BrowseModel, LargeArraysShowInSteps) {
    Explorer e("struct R { u(1) a; u(1) b; };\nstruct F { R rows[1500]; u(1) bytes[250]; u(1) last; };\nlayout F;\n",
               Counting(3251));
    std::vector<std::string> lines = e.Lines();
    // Root, 100 rows of 3 lines, "more", 100 bytes, "more", last.
    ASSERT_EQ(lines.size(), 1u + 300u + 1u + 100u + 1u + 1u);
    EXPECT_EQ(lines[301], "    ... 1400 more");
    EXPECT_EQ(lines[402], "    ... 150 more");
    EXPECT_EQ(lines.back(), "    last = 178");  // byte 3250
    ExpectWalksAgree(&e);

    // Enter on the rows' "more" line: ten times as many, the selection on the first new one.
    VLBrowseSelect(&e.model, VLBrowseVisibleLine(&e.model, VLBrowseElementEvent(&e.index, 1, 100)));
    EXPECT_EQ(e.Selected(), "    ... 1400 more");
    EXPECT_EQ(e.SelectedPath(), "F.rows[100...]");
    VLBrowseFoldSelected(&e.model, true, true);
    EXPECT_EQ(e.Selected(), "  - R (.rows[100])");
    EXPECT_EQ(e.Lines().size(), 1u + 3000u + 1u + 100u + 1u + 1u);
    ExpectWalksAgree(&e);
}

TEST(BrowseModel, FoldUnfoldAndMoves) {
    Explorer e(Nested, Counting(64));
    VLBrowseHome(&e.model);
    VLBrowseMove(&e.model, 2);
    EXPECT_EQ(e.Selected(), "  - Shape (.shapes[0])");
    VLBrowseFoldSelected(&e.model, false, false);  // Left on an open struct folds it
    EXPECT_EQ(e.Selected(), "  + Shape (.shapes[0])");
    VLBrowseMove(&e.model, 1);
    EXPECT_EQ(e.Selected(), "  - Shape (.shapes[1])");
    ExpectWalksAgree(&e);
    VLBrowseMove(&e.model, 2);  // the folded corner of shape 1
    VLBrowseFoldSelected(&e.model, true, false);  // Right unfolds it
    VLBrowseMove(&e.model, 1);
    EXPECT_EQ(e.Selected(), "        x = 10");
    EXPECT_EQ(e.SelectedPath(), "File.shapes[1].corner.x");
    VLBrowseFoldSelected(&e.model, false, false);  // Left on a member folds its struct and selects it
    EXPECT_EQ(e.Selected(), "    + Point (.corner)");
    ExpectWalksAgree(&e);
    VLBrowseMove(&e.model, -100);
    EXPECT_EQ(e.Selected(), "- File");
}

TEST(BrowseModel, RevealAndEnd) {
    Explorer e("struct R { u(1) a; u(1) b; };\nstruct F { R rows[1500]; };\nlayout F;\n", Counting(3000));
    // The last member sits in a hidden part of the array: End shows it.
    ASSERT_TRUE(VLBrowseEnd(&e.model));
    EXPECT_EQ(e.Selected(), "      b = 183");
    EXPECT_EQ(e.SelectedPath(), "F.rows[1499].b");
    // The line above it is its struct, and the screen ends with it.
    VLBrowseMove(&e.model, -2);
    EXPECT_EQ(e.Selected(), "  - R (.rows[1499])");
    EXPECT_EQ(VLBrowseLineText(&e.model, VLBrowseLineAtRow(&e.model, 9), false), "      b = 183");
    ExpectWalksAgree(&e);
    // Going to an offset inside the hidden rest reveals up to that element.
    VLBrowseHome(&e.model);
    e.model.shown.clear();
    ASSERT_TRUE(VLBrowseGoToOffset(&e.model, 2 * 700 + 1));
    EXPECT_EQ(e.SelectedPath(), "F.rows[700].b");
    EXPECT_EQ(VLBrowseShownCount(&e.model, 1), 701u);
    ExpectWalksAgree(&e);
}

TEST(BrowseModel, LazyIndexShowsWhatIsDecoded) {
    // An index filled by hand, as the decoder does, read while it grows.
    Explorer e("struct R { u(1) a; };\nstruct F { R rows[3]; };\nlayout F;\n", Counting(3));
    VLBrowseIndex growing;
    ASSERT_TRUE(VLBrowseIndexInit(&growing));
    VLBrowseModel model;
    VLBrowseModelInit(&model, &growing, &e.program, e.bytes.data(), e.bytes.size());
    model.rows = 10;
    // The instruction numbers of the root push, the rows push and the member.
    uint32_t rootPush = VLBrowseNodeAt(&e.index, 0)->instruction;
    uint32_t rowPush = VLBrowseNodeAt(&e.index, 2)->instruction;
    VLBrowseReader reader;
    VLBrowseReaderInit(&reader, &e.index);
    uint32_t member = VLBrowseDecode(&reader, 3).instruction;
    uint32_t type = VLBrowseNodeAt(&e.index, 0)->typeIndex, rowType = VLBrowseNodeAt(&e.index, 2)->typeIndex;

    VLBrowseSettle(&model);
    EXPECT_EQ(model.selected.kind, VLBrowseLineKind_Pending);
    ASSERT_TRUE(VLBrowseAppendStructBegin(&growing, rootPush, type, false, 0, 0, 0));
    ASSERT_TRUE(VLBrowseAppendStructBegin(&growing, rowPush, rowType, true, 0, 0, 0));
    ASSERT_TRUE(VLBrowseAppendMember(&growing, member, false, 0, 0, 0, 1));
    VLBrowseSettle(&model);
    EXPECT_EQ(VLBrowseLineText(&model, model.selected, false), "- F");
    EXPECT_FALSE(VLBrowseEnd(&model));  // not before the run is decoded
    std::vector<std::string> texts;
    for (VLBrowseLine line = VLBrowseFirstLine(&model); line.kind != VLBrowseLineKind_None;
         line = VLBrowseNextLine(&model, line))
        texts.push_back(VLBrowseLineText(&model, line, false));
    EXPECT_EQ(texts, (std::vector<std::string>{"- F", "  - R (.rows[0])", "      a = 0", "... decoding"}));
    ASSERT_TRUE(VLBrowseAppendStructEnd(&growing, 1));
    ASSERT_TRUE(VLBrowseAppendStructBegin(&growing, rowPush, rowType, true, 1, 0, 1));
    ASSERT_TRUE(VLBrowseAppendMember(&growing, member, false, 0, 0, 1, 1));
    VLBrowseFinish(&growing);
    EXPECT_EQ(VLBrowseArrayCount(&growing, 1), 2u);
    ASSERT_TRUE(VLBrowseEnd(&model));
    EXPECT_EQ(VLBrowseLineText(&model, model.selected, false), "      a = 1");
    EXPECT_EQ(VLBrowsePathText(&model, model.selected), "F.rows[1].a");
    VLBrowseIndexFree(&growing);
}

TEST(BrowseModel, IndexStaysCompact) {
    // The records layout of the benchmark: well under 24 bytes per member.
    std::string layout = "struct Record { u(4) id; u(2) kind; s(2) delta; f(4) value; };\n"
                         "struct File { Record records[size_of_file / 12]; };\nlayout File;\n";
    Explorer e(layout, Counting(12 * 20000));
    double perMember = double(VLBrowseIndexBytes(&e.index)) / (4.0 * 20000);
    EXPECT_LT(perMember, 24.0);
    EXPECT_EQ(VLBrowseArrayCount(&e.index, 1), 20000u);
}

TEST(BrowseModel, SearchNamesAndValues) {
    Explorer e(Nested, Counting(64));
    VLBrowseSearch search = {};
    VLBrowseSearchBegin(&e.model, &search, "CORNER", true);  // names, without case
    ASSERT_TRUE(VLBrowseSearchStep(&e.model, &search, 1000));
    EXPECT_EQ(e.SelectedPath(), "File.shapes[0].corner");
    VLBrowseSearchBegin(&e.model, &search, "corner", true);  // n: the next one
    ASSERT_TRUE(VLBrowseSearchStep(&e.model, &search, 1000));
    EXPECT_EQ(e.SelectedPath(), "File.shapes[1].corner");
    VLBrowseSearchBegin(&e.model, &search, "corner", false);  // N: back
    ASSERT_TRUE(VLBrowseSearchStep(&e.model, &search, 1000));
    EXPECT_EQ(e.SelectedPath(), "File.shapes[0].corner");
    VLBrowseSearchBegin(&e.model, &search, "corner", false);  // N again: round to the last
    ASSERT_TRUE(VLBrowseSearchStep(&e.model, &search, 1000));
    EXPECT_EQ(e.SelectedPath(), "File.shapes[2].corner");
    VLBrowseSearchBegin(&e.model, &search, "1 00h", true);  // a value text
    ASSERT_TRUE(VLBrowseSearchStep(&e.model, &search, 1000));
    EXPECT_EQ(e.SelectedPath(), "File.magic");
    VLBrowseSearchBegin(&e.model, &search, "nowhere", true);
    ASSERT_TRUE(VLBrowseSearchStep(&e.model, &search, 1000));
    EXPECT_EQ(search.found, VLBrowseOpen);
    EXPECT_EQ(e.SelectedPath(), "File.magic");
    // A small budget takes several steps.
    VLBrowseSearchBegin(&e.model, &search, "tail", true);
    int steps = 1;
    while (!VLBrowseSearchStep(&e.model, &search, 3)) ++steps;
    EXPECT_GT(steps, 3);
    EXPECT_EQ(e.SelectedPath(), "File.tail[0]");
}

TEST(BrowseModel, ParseOffset) {
    struct Case {
        const char* text;
        bool ok;
        uint64_t value;
    };
    const Case cases[] = {
        {"1234", true, 1234}, {"0x4D2", true, 0x4D2}, {"4d2h", true, 0x4D2}, {" 16 ", true, 16},
        {"0X10", true, 16},   {"", false, 0},         {"h", false, 0},       {"0x", false, 0},
        {"12a", false, 0},    {"18446744073709551616", false, 0}, {"FFFFFFFFFFFFFFFFh", true, UINT64_MAX},
    };
    for (const Case& c : cases) {
        uint64_t value = 0;
        EXPECT_EQ(VLBrowseParseOffset(c.text, &value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(BrowseDecode, ReportIsTheLastLine) {
    Explorer e("struct F { u(1) a; assert(a == 7); u(1) b; };\nlayout F;\n", Counting(4));
    EXPECT_TRUE(e.decoder.reported);
    EXPECT_EQ(e.decoder.message, "Assertion triggered!");
    std::vector<std::string> lines = e.Lines();
    EXPECT_EQ(lines, (std::vector<std::string>{"- F", "    a = 0", "! Assertion triggered!"}));
    ASSERT_TRUE(VLBrowseEnd(&e.model));
    EXPECT_EQ(e.model.selected.kind, VLBrowseLineKind_Report);
    ExpectWalksAgree(&e);
}

TEST(BrowseDecode, ReportAfterAnArray) {
    Explorer e("struct Entry { u(1) kind; u(1) length; };\n"
               "struct File { u(2, hex) magic; Entry entries[3]; assert(magic == 0); u(1) never; };\nlayout File;\n",
               Counting(16));
    std::vector<std::string> lines = e.Lines();
    ASSERT_EQ(lines.size(), 12u);
    EXPECT_EQ(lines.back(), "! Assertion triggered!");
    ExpectWalksAgree(&e);
}

TEST(BrowseModel, ValuesNotReadAsDeclared) {
    // A text without its NUL, a variable-length number and a computed value
    // show as the text output shows them.
    std::vector<uint8_t> bytes = {'h', 'i', 0, 0xE5, 0x8E, 0x26, 7};
    Explorer e("struct F { zstring(8) name; uleb(4) number; u(1) small; show twice = small * 2; };\nlayout F;\n",
               bytes);
    std::vector<std::string> lines = e.Lines();
    EXPECT_EQ(lines, (std::vector<std::string>{"- F", "    name = \"hi\"", "    number = 624 485", "    small = 7",
                                               "    twice = 14"}));
}

TEST(BrowseModel, OccurrencesPrintsAndLimits) {
    // A member read once per loop round: its occurrences in the path; print
    // output as lines of its own, found by search.
    Explorer e("struct F { var i = 0; while (i < 3) { u(1) item; print(\"round\", i); i = i + 1; } };\nlayout F;\n",
               Counting(8));
    std::vector<std::string> lines = e.Lines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[1], "    item = 0");
    EXPECT_EQ(lines[2], "    print: \"round\" 0");
    VLBrowseGoToOffset(&e.model, 2);
    EXPECT_EQ(e.SelectedPath(), "F.item#2");
    VLBrowseSearch search = {};
    VLBrowseHome(&e.model);
    VLBrowseSearchBegin(&e.model, &search, "ROUND", true);
    ASSERT_TRUE(VLBrowseSearchStep(&e.model, &search, 100));
    EXPECT_EQ(e.Selected(), "    print: \"round\" 0");
    ExpectWalksAgree(&e);

    // -limit stops a run that never ends; the tree ends with its report.
    Explorer endless("struct F { u(1) b; while (1) { } };\nlayout F;\n", Counting(4), 1000);
    EXPECT_TRUE(endless.decoder.reported);
    EXPECT_EQ(endless.decoder.message, "Run stopped after 1000 instructions.");
    EXPECT_EQ(endless.Lines().back(), "! Run stopped after 1000 instructions.");
}
