// OutputTests.cpp - the member-event stream and its JSON parts: the events a
// sink receives for compiled layouts (order, paths with occurrences, struct
// offsets and sizes, selection delaying struct begins, reports), -select
// patterns, and JSON strings of arbitrary bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Events.h"
#include "TestSupport.h"

namespace {

std::string Text(VLString text) { return std::string(text.chars, text.length); }

// A sink that writes each event as one line of text.
struct Recorder {
    std::vector<std::string> events;
    std::vector<uint32_t> occurrences;  // of every struct begin and member
};

void RecordBegin(void* context, const VLStructEvent* event) {
    static_cast<Recorder*>(context)->occurrences.push_back(event->occurrence);
    static_cast<Recorder*>(context)->events.push_back("begin " + Text(event->path) + " @" +
                                                      std::to_string(event->offset));
}
void RecordMember(void* context, const VLMemberEvent* event) {
    static_cast<Recorder*>(context)->occurrences.push_back(event->occurrence);
    static_cast<Recorder*>(context)->events.push_back("member " + Text(event->path) + " @" +
                                                      std::to_string(event->bytes.address));
}
void RecordEnd(void* context, const VLStructEvent* event) {
    static_cast<Recorder*>(context)->events.push_back("end " + Text(event->path) + " size " +
                                                      std::to_string(event->size));
}
void RecordPrint(void* context, const VLPrintEvent* event) {
    static_cast<Recorder*>(context)->events.push_back("print " + Text(event->message) + " " +
                                                      std::to_string(event->value));
}
void RecordReport(void* context, const VLReportEvent* event) {
    static_cast<Recorder*>(context)->events.push_back("report " + Text(event->message) + " at " +
                                                      Text(event->path) + " @" + std::to_string(event->offset));
}
void RecordRunEnd(void* context, const VLRunEndEvent* event) {
    static_cast<Recorder*>(context)->events.push_back("run end " + std::to_string(event->members) + "/" +
                                                      std::to_string(event->selected) +
                                                      (event->reported ? " reported" : ""));
}

struct StreamRun {
    std::vector<std::string> events;
    std::vector<uint32_t> occurrences;
    std::string err;
    bool reported;
};

// Compiles `layout` and runs it over `data` into a recording sink (one that
// asks for occurrence numbers without path texts when `occurrencesOnly`).
StreamRun Record(const char* layout, const std::string& data, std::vector<const char*> selects = {},
                 bool occurrencesOnly = false) {
    std::string text = layout;
    VLArena arena = {};
    VLScanResult scan = VLTokenize(text.c_str(), &arena);
    VLProgram program = VLCompile(scan.tokens, &arena);
    EXPECT_FALSE(VLErrorIsValid(&program.error)) << program.error.message;
    VLSelection selection = {};
    for (const char* pattern : selects) {
        const char* error = nullptr;
        EXPECT_TRUE(VLSelectionAdd(&selection, pattern, &error)) << pattern;
    }
    VLFile layoutFile = {"l.vlt", text.size(), text.data(), nullptr};
    VLFile dataFile = {"d.bin", data.size(), const_cast<char*>(data.data()), nullptr};
    VLRunOptions options = {0, 0, 0, VLOutputFormat_Ndjson, selects.empty() ? nullptr : &selection};
    Recorder recorder;
    VLOutputSink sink = {&recorder, 1, true, RecordBegin, RecordMember, RecordEnd, RecordPrint, RecordReport,
                         RecordRunEnd, nullptr, false};
    if (occurrencesOnly) {
        sink.needsPaths = false;
        sink.needsOccurrences = true;
    }
    VLWriter err;
    VLWriterInitMemory(&err);
    bool reported = VLRunSink(&program, &layoutFile, &dataFile, &options, &sink, &err, &err);
    StreamRun run = {recorder.events, recorder.occurrences, std::string(err.buffer, err.used), reported};
    VLWriterFree(&err);
    VLSelectionFree(&selection);
    VLArenaRelease(&arena);
    return run;
}

using Events = std::vector<std::string>;

// ---------------------------------------------------------------------------
// The stream
// ---------------------------------------------------------------------------

TEST(EventStream, TheWorkedExampleOfTheSinkRecord) {
    StreamRun run = Record(
        "struct Point { u(1) x; u(1) y; };\n"
        "struct Shape { u(1) kind; print(\"kind\", kind); Point corners[2]; };\n"
        "layout Shape;\n",
        std::string("\x07\x01\x02\x03\x04", 5));
    EXPECT_EQ(run.events, (Events{"begin Shape @0", "member Shape.kind @0", "print \"kind\" 7",
                                  "begin Shape.corners[0] @1", "member Shape.corners[0].x @1",
                                  "member Shape.corners[0].y @2", "end Shape.corners[0] size 2",
                                  "begin Shape.corners[1] @3", "member Shape.corners[1].x @3",
                                  "member Shape.corners[1].y @4", "end Shape.corners[1] size 2",
                                  "end Shape size 5", "run end 5/5"}));
    EXPECT_FALSE(run.reported);
}

TEST(EventStream, OccurrencesCountPerNameAndStructInstance) {
    // `b` in a loop, an array in a loop (one occurrence per declaration
    // reached), one name in two branches, a second root of the same type.
    StreamRun run = Record(
        "struct Inner { u(1) b; u(1) b; };\n"
        "struct Outer {\n"
        "    var i = 0;\n"
        "    while (i < 2) { Inner in; u(1) pair[2]; i = i + 1; }\n"
        "    if (i == 2) { u(1) tag; } else { s(1) tag; }\n"
        "    if (i != 2) { u(1) tag; } else { s(1) tag; }\n"
        "};\n"
        "layout Outer;\n"
        "layout Outer;\n",
        std::string(2 * 10, '\0'));
    EXPECT_EQ(run.events,
              (Events{"begin Outer @0", "begin Outer.in @0", "member Outer.in.b @0", "member Outer.in.b#1 @1",
                      "end Outer.in size 2", "member Outer.pair[0] @2", "member Outer.pair[1] @3",
                      "begin Outer.in#1 @4", "member Outer.in#1.b @4", "member Outer.in#1.b#1 @5",
                      "end Outer.in#1 size 2", "member Outer.pair#1[0] @6", "member Outer.pair#1[1] @7",
                      "member Outer.tag @8", "member Outer.tag#1 @9", "end Outer size 10",
                      "begin Outer#1 @10", "begin Outer#1.in @10", "member Outer#1.in.b @10",
                      "member Outer#1.in.b#1 @11", "end Outer#1.in size 2", "member Outer#1.pair[0] @12",
                      "member Outer#1.pair[1] @13", "begin Outer#1.in#1 @14", "member Outer#1.in#1.b @14",
                      "member Outer#1.in#1.b#1 @15", "end Outer#1.in#1 size 2", "member Outer#1.pair#1[0] @16",
                      "member Outer#1.pair#1[1] @17", "member Outer#1.tag @18", "member Outer#1.tag#1 @19",
                      "end Outer#1 size 10", "run end 20/20"}));
}

TEST(EventStream, OccurrencesWithoutPathTextsAreTheSameNumbers) {
    // A sink that asks for occurrences only gets the numbers the paths
    // carry, no path texts, and still the path of the report that stops the
    // run (deep inside, after occurrences above it).
    const char* layout =
        "struct Inner { u(1) b; u(1) b; };\n"
        "struct Outer {\n"
        "    var i = 0;\n"
        "    while (i < 3) { Inner in; u(1) pair[2]; i = i + 1; }\n"
        "    if (i == 3) { u(1) tag; } else { s(1) tag; }\n"
        "    Inner in;\n"
        "};\n"
        "layout Outer;\n"
        "layout Outer;\n";
    StreamRun paths = Record(layout, std::string(2 * 15, '\0'));
    StreamRun counted = Record(layout, std::string(2 * 15, '\0'), {}, true);
    EXPECT_EQ(counted.occurrences, paths.occurrences);
    EXPECT_EQ(counted.occurrences.size(), 2u * 20u);
    EXPECT_EQ(paths.events[2], "member Outer.in.b @0");
    EXPECT_EQ(counted.events[2], "member  @0");
    std::string cut(2 * 15 - 1, '\0');
    const char* report =
        "report Invalid address of member 'b' (specified address is 29, size of file is 29) at Outer#1.in#3.b#1 @29";
    Events stopped = Record(layout, cut, {}, true).events;
    ASSERT_GE(stopped.size(), 2u);
    EXPECT_EQ(stopped[stopped.size() - 2], report);
    stopped = Record(layout, cut).events;
    EXPECT_EQ(stopped[stopped.size() - 2], report);
}

TEST(EventStream, PlacedStructsHiddenMembersAndSizeof) {
    // A placed struct reports where it was placed (the cursor goes on from
    // its end); hidden members and the instance sizeof measures produce no
    // events and take no occurrence.
    StreamRun run = Record(
        "struct Pair { u(1) a; u(1) b; };\n"
        "struct Top { hidden u(1) skip; hidden Pair p; var n = sizeof(Pair); @(6) Pair p; u(1) skip; };\n"
        "layout Top;\n",
        std::string(9, '\0'));
    EXPECT_EQ(run.events, (Events{"begin Top @0", "begin Top.p @6", "member Top.p.a @6", "member Top.p.b @7",
                                  "end Top.p size 2", "member Top.skip @8", "end Top size 9", "run end 3/3"}));
}

TEST(EventStream, ReportsNameTheMemberTheRunStoppedAt) {
    // A scalar out of the data: its own path and rejected address; the
    // struct's begin stays without an end.
    StreamRun run = Record("struct Row { u(1) n; u(4) value[n]; };\nstruct T { Row rows[2]; };\nlayout T;\n",
                           std::string("\x01\x00\x00\x00\x00\x01\x00", 7));
    EXPECT_EQ(run.events,
              (Events{"begin T @0", "begin T.rows[0] @0", "member T.rows[0].n @0", "member T.rows[0].value[0] @1",
                      "end T.rows[0] size 5", "begin T.rows[1] @5", "member T.rows[1].n @5",
                      "report Invalid address of member 'value' (specified address is 6, size of file is 7) at "
                      "T.rows[1].value[0] @6",
                      "run end 3/3 reported"}));
    EXPECT_TRUE(run.reported);
    EXPECT_NE(run.err.find("Invalid address of member 'value'"), std::string::npos);

    // An assertion: the struct whose body was running, at the cursor.
    run = Record("struct T { u(1) a; u(1) a; assert(a == 9); };\nlayout T;\n", std::string("\x01\x02", 2));
    EXPECT_EQ(run.events.back(), "run end 2/2 reported");
    EXPECT_EQ(run.events[run.events.size() - 2], "report Assertion triggered! at T @2");
}

TEST(EventStream, SelectionDelaysStructBeginsUntilSomethingInsideIsShown) {
    const char* layout =
        "struct Point { u(1) x; u(1) y; };\n"
        "struct Shape { u(1) kind; print(\"kind\", kind); Point corners[3]; };\n"
        "layout Shape;\n";
    std::string data("\x07\x01\x02\x03\x04\x05\x06", 7);
    EXPECT_EQ(Record(layout, data, {"Shape.corners[1].y"}).events,
              (Events{"begin Shape @0", "begin Shape.corners[1] @3", "member Shape.corners[1].y @4",
                      "end Shape.corners[1] size 2", "end Shape size 7", "run end 7/1"}));
    // A struct selected whole shows its prints; a wildcard takes every element.
    EXPECT_EQ(Record(layout, data, {"Shape", "Shape.corners[*].x"}).events.size(), 17u);
    EXPECT_EQ(Record(layout, data, {"Shape.corners[*].x", "Shape.corners#*[2]"}).events,
              (Events{"begin Shape @0", "begin Shape.corners[0] @1", "member Shape.corners[0].x @1",
                      "end Shape.corners[0] size 2", "begin Shape.corners[1] @3", "member Shape.corners[1].x @3",
                      "end Shape.corners[1] size 2", "begin Shape.corners[2] @5", "member Shape.corners[2].x @5",
                      "member Shape.corners[2].y @6", "end Shape.corners[2] size 2", "end Shape size 7",
                      "run end 7/4"}));
    // `#0` is the first occurrence; `#1` of a name met once selects nothing
    // and is named in a warning; the run still reports as a full run would.
    StreamRun run = Record(layout, data, {"Shape.kind#0", "Shape.kind#1"});
    EXPECT_EQ(run.events, (Events{"begin Shape @0", "member Shape.kind @0", "end Shape size 7", "run end 7/1"}));
    EXPECT_EQ(run.err, "WARNING -select Shape.kind#1 selects no member.\n");
}

// ---------------------------------------------------------------------------
// Selection patterns
// ---------------------------------------------------------------------------

TEST(Selection, PatternsAndTheirMistakes) {
    struct Case {
        const char* text;
        const char* error;  // null: accepted
    } cases[] = {
        {"Tar", nullptr},
        {"Tar.entries[3].name", nullptr},
        {"Pcap.packet#3.data", nullptr},
        {"Pcap.packet#*[*].x#0", nullptr},
        {"Tar#1.a", nullptr},
        {"", "a name is missing"},
        {"Tar.", "a name is missing"},
        {"Tar..a", "a name is missing"},
        {"Tar.a[", "'[' must be followed by a number or '*' and ']'"},
        {"Tar.a[1", "'[' must be followed by a number or '*' and ']'"},
        {"Tar.a[-1]", "'[' must be followed by a number or '*' and ']'"},
        {"Tar.a[99999999999]", "'[' must be followed by a number or '*' and ']'"},
        {"Tar.a#", "'#' must be followed by a number or '*'"},
        {"Tar.a[1]x", "unexpected characters after a step"},
        {"Tar.a]", "unexpected characters after a step"},
        {"Tar[0].a", "the root has no element number"},
    };
    for (const Case& c : cases) {
        VLSelection selection = {};
        const char* error = nullptr;
        bool added = VLSelectionAdd(&selection, c.text, &error);
        EXPECT_EQ(added, c.error == nullptr) << c.text;
        if (c.error) {
            EXPECT_STREQ(error, c.error) << c.text;
        }
        EXPECT_EQ(selection.patternCount, added ? 1u : 0u);
        VLSelectionFree(&selection);
    }
}

// ---------------------------------------------------------------------------
// JSON strings
// ---------------------------------------------------------------------------

std::string JsonString(const std::string& bytes) {
    VLWriter out;
    VLWriterInitMemory(&out);
    VLWriteJsonString(&out, bytes.data(), bytes.size());
    std::string text(out.buffer, out.used);
    VLWriterFree(&out);
    return text;
}

TEST(JsonString, ValidUtf8StaysAndEveryOtherByteIsEscapedLosslessly) {
    struct Case {
        std::string bytes;
        std::string json;
    } cases[] = {
        {"plain", "\"plain\""},
        {std::string("a\0b", 3), "\"a\\u0000b\""},
        {"\"\\/", "\"\\\"\\\\/\""},
        {"\t\n\r\b\f\x01\x1f\x7f", "\"\\t\\n\\r\\b\\f\\u0001\\u001f\x7f\""},
        {"\xc3\xa9", "\"\xc3\xa9\""},                  // two bytes
        {"\xe2\x82\xac", "\"\xe2\x82\xac\""},          // three
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},  // four
        {"\xf4\x8f\xbf\xbf", "\"\xf4\x8f\xbf\xbf\""},  // U+10FFFF, the last
        {"\xff\xfe", "\"\\udcff\\udcfe\""},
        {"\xc0\x80", "\"\\udcc0\\udc80\""},            // overlong NUL
        {"\xe0\x80\xaf", "\"\\udce0\\udc80\\udcaf\""},  // overlong three-byte form
        {"\xed\xa0\x80", "\"\\udced\\udca0\\udc80\""},  // an encoded surrogate
        {"\xf4\x90\x80\x80", "\"\\udcf4\\udc90\\udc80\\udc80\""},  // above U+10FFFF
        {"\x80x", "\"\\udc80x\""},                     // a lone continuation byte
        {"\xe2\x82", "\"\\udce2\\udc82\""},            // cut short at the end
        {"\xc3(", "\"\\udcc3(\""},                     // a lead byte without its continuation
    };
    for (const Case& c : cases) EXPECT_EQ(JsonString(c.bytes), c.json) << c.json;
}

TEST(JsonString, LongTextsKeepSequencesWholeAcrossPieces) {
    // Written in pieces of about 4 KiB: a sequence across a piece boundary
    // stays one character, whatever the boundary's place.
    for (size_t before = 4090; before <= 4100; ++before) {
        std::string bytes = std::string(before, 'a') + "\xf0\x9f\x98\x80" + "\xe2\x82\xac" + std::string(5000, 'b');
        EXPECT_EQ(JsonString(bytes), "\"" + bytes + "\"") << before;
    }
    std::string invalid(10000, '\xff');
    std::string expected = "\"";
    for (size_t i = 0; i < invalid.size(); ++i) expected += "\\udcff";
    EXPECT_EQ(JsonString(invalid), expected + "\"");
}

}  // namespace
