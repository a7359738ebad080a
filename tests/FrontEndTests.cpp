// FrontEndTests.cpp - the command line, file loading, diagnostics excerpts,
// the instruction listing and trace, and the two passes with their reports,
// driven through memory writers. Programs for the passes are built by hand so
// that each report can be produced on purpose.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

namespace fs = std::filesystem;

std::string Captured(const VLWriter& writer) { return std::string(writer.buffer, writer.used); }

// Moves into a fresh empty folder for the life of the record, so that
// relative paths (and "test.bin") stay out of the source tree.
struct ScratchFolder {
    fs::path previous;
    fs::path folder;
    ScratchFolder() {
        previous = fs::current_path();
        folder = fs::temp_directory_path() /
                 ("vellum-frontend-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        fs::current_path(folder);
    }
    ~ScratchFolder() {
        fs::current_path(previous);
        fs::remove_all(folder);
    }
};

void WriteFile(const char* path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct MainResult {
    std::string out;
    std::string err;
    int status;
};

MainResult RunMain(std::vector<const char*> arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("vellum"));
    for (const char* argument : arguments) argv.push_back(const_cast<char*>(argument));
    VLWriter out, err;
    VLWriterInitMemory(&out);
    VLWriterInitMemory(&err);
    int status = VLCommandLineMain(int(argv.size()), argv.data(), &out, &err);
    MainResult result = {Captured(out), Captured(err), status};
    VLWriterFree(&out);
    VLWriterFree(&err);
    return result;
}

const char* const kUsage =
    "\n=== Vellum - Structured Binary Editor ===\nUsage\n  vellum -data <binary-file> -layout "
    "<layout-file> [-debug] [-version]  Displays file content with specified layout.\n\n"
    "    -layout <layout-file>  The binary layout file (.vlt-file). See examples and README for format.\n"
    "    -data <data-file>      The binary content file.\n"
    "    -debug                 Prints instructions, can be useful for debugging but very verbose.\n"
    "    -test                  Writes \"test.bin\" in current folder, containing 0,1,2,3..,255 in "
    "binary form - nice file for tests.\n"
    "    -version               Prints the version\n";

// ---------------------------------------------------------------------------
// Command line
// ---------------------------------------------------------------------------

struct OptionCase {
    const char* what;
    std::vector<const char*> arguments;
    std::string out;
    std::string err;
    int status;
};

TEST(CommandLine, OptionsMessagesAndStatus) {
    ScratchFolder scratch;
    const std::string version = "Version 0.2.1\n";
    const OptionCase cases[] = {
        {"nothing given", {}, "", kUsage, -2},
        {"version alone ends quietly", {"-version"}, version, "", 0},
        {"version printed once", {"-version", "-version"}, version, "", 0},
        {"debug alone still needs files", {"-debug", "-debug"}, "", kUsage, -2},
        {"unknown directive, quoted", {"-x", "-Layout"}, "",
         std::string("Ignoring unknown directive \"-x\".\nIgnoring unknown directive \"-Layout\".\n") + kUsage, -2},
        {"data at the end", {"-data"}, "",
         std::string("Expected file after -data, got end of parameters.\n") + kUsage, -2},
        {"layout at the end stops examining", {"-layout"}, "",
         std::string("Expected file after -layout, got end of parameters.\n") + kUsage, -2},
        {"missing path after version", {"-version", "-data"}, version,
         "Expected file after -data, got end of parameters.\n", 0},
        {"path that looks like an option", {"-layout", "-data"}, "", kUsage, -2},
        {"layout twice keeps the first", {"-layout", "a.vlt", "-layout", "b.vlt", "-data", "d.bin"}, "",
         "\"-layout\" already specified, ignoring b.vlt.\nFailed to open a.vlt\nFailed to open d.bin\n", -1},
        {"data twice keeps the first", {"-data", "d.bin", "-data", "e.bin", "-layout", "a.vlt"}, "",
         "\"-data\" already specified, ignoring e.bin.\nFailed to open a.vlt\nFailed to open d.bin\n", -1},
        {"version does not stop loading", {"-version", "-layout", "a.vlt", "-data", "d.bin"}, version,
         "Failed to open a.vlt\nFailed to open d.bin\n", -1},
    };
    for (const OptionCase& c : cases) {
        MainResult result = RunMain(c.arguments);
        EXPECT_EQ(result.out, c.out) << c.what;
        EXPECT_EQ(result.err, c.err) << c.what;
        EXPECT_EQ(result.status, c.status) << c.what;
    }
}

TEST(CommandLine, TestOptionWritesTheByteValuesAndCarriesOn) {
    ScratchFolder scratch;
    WriteFile("test.bin", std::string(300, 'x'));  // a stale, longer file is truncated
    MainResult result = RunMain({"-test", "-version", "-test"});
    EXPECT_EQ(result.out, "Version 0.2.1\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    VLFile written = VLLoadFile("test.bin", 0);
    ASSERT_NE(written.data, nullptr);
    ASSERT_EQ(written.size, 256u);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(uint8_t(written.data[i]), i);
    free(written.data);
}

TEST(CommandLine, UnwritableTestFileIsReportedAndIgnored) {
    ScratchFolder scratch;
    fs::create_directory("test.bin");
    MainResult result = RunMain({"-test"});
    EXPECT_EQ(result.err, std::string("Failed to write test.bin\n") + kUsage);
    EXPECT_EQ(result.status, -2);
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

TEST(Loading, WholeFilesWithTheirExtraBytes) {
    ScratchFolder scratch;
    WriteFile("some.bin", std::string("ab\0c", 4));
    WriteFile("empty.bin", "");
    fs::create_directory("folder");

    VLFile some = VLLoadFile("some.bin", 1);
    ASSERT_NE(some.data, nullptr);
    EXPECT_EQ(some.size, 4u);
    EXPECT_EQ(std::string(some.data, 5), std::string("ab\0c\0", 5));
    EXPECT_STREQ(some.path, "some.bin");

    VLFile empty = VLLoadFile("empty.bin", 1);
    ASSERT_NE(empty.data, nullptr) << "an empty file loads successfully";
    EXPECT_EQ(empty.size, 0u);
    EXPECT_EQ(empty.data[0], '\0');

    EXPECT_EQ(VLLoadFile("missing.bin", 0).data, nullptr);
    EXPECT_EQ(VLLoadFile("folder", 0).data, nullptr);
    EXPECT_EQ(VLLoadFile("folder", 1).data, nullptr);
    free(some.data);
    free(empty.data);
}

TEST(Loading, LargeFileKeepsEveryByteAndItsExtraBytes) {
    // Buffers of many megabytes take another allocation path (large pages).
    ScratchFolder scratch;
    const uint64_t size = (uint64_t(20) << 20) + 3;
    WriteFile("large.bin", "head");
    fs::resize_file("large.bin", size);
    {
        FILE* file = fopen("large.bin", "r+b");
        ASSERT_NE(file, nullptr);
        fseek(file, long(size - 3), SEEK_SET);
        fwrite("end", 1, 3, file);
        fclose(file);
    }
    VLFile large = VLLoadFile("large.bin", 1);
    ASSERT_NE(large.data, nullptr);
    EXPECT_EQ(large.size, size);
    EXPECT_EQ(std::string(large.data, 4), "head");
    EXPECT_EQ(large.data[size / 2], '\0');
    EXPECT_EQ(std::string(large.data + size - 3, 4), std::string("end\0", 4));
    free(large.data);
}

TEST(Output, FailedWriteIsRememberedAndLaterOutputDropped) {
    FILE* full = fopen("/dev/full", "wb");
    if (!full) GTEST_SKIP() << "no /dev/full on this system";
    VLWriter writer;
    VLWriterInitFile(&writer, full, 16);
    VLWriteText(&writer, "a line that does not fit\n");
    VLWriterFlush(&writer);
    EXPECT_TRUE(writer.failed);
    VLWriteText(&writer, "more\n");
    VLWriterFlush(&writer);
    EXPECT_TRUE(writer.failed);
    EXPECT_EQ(writer.used, 0u);
    VLWriterFree(&writer);
    fclose(full);
}

TEST(Loading, FailuresNameEachFileLayoutFirst) {
    ScratchFolder scratch;
    WriteFile("l.vlt", "#");
    WriteFile("d.bin", "x");
    fs::create_directory("folder");
    const OptionCase cases[] = {
        {"both missing", {"-data", "no.bin", "-layout", "no.vlt"}, "",
         "Failed to open no.vlt\nFailed to open no.bin\n", -1},
        {"data missing", {"-layout", "l.vlt", "-data", "no.bin"}, "", "Failed to open no.bin\n", -1},
        {"layout is a folder", {"-layout", "folder", "-data", "d.bin"}, "", "Failed to open folder\n", -1},
        {"data is a folder", {"-layout", "l.vlt", "-data", "folder"}, "", "Failed to open folder\n", -1},
    };
    for (const OptionCase& c : cases) {
        MainResult result = RunMain(c.arguments);
        EXPECT_EQ(result.out, c.out) << c.what;
        EXPECT_EQ(result.err, c.err) << c.what;
        EXPECT_EQ(result.status, c.status) << c.what;
    }
}

TEST(Loading, IncludedFilesByPathAndByIdentity) {
    ScratchFolder scratch;
    fs::create_directories("sub/lib");
    WriteFile("d.bin", "\x01\x02");
    WriteFile("sub/lib/a.vlt", "print(\"a\");\nstruct A { u(1) a; };\n");
    fs::create_symlink("lib/a.vlt", "sub/alias.vlt");
    std::string absolute = (fs::current_path() / "sub/lib/a.vlt").string();
    // One file reached by three paths is compiled once; names are joined to
    // the folder of the layout's path.
    WriteFile("sub/l.vlt", "include \"lib/a.vlt\";\ninclude \"alias.vlt\";\ninclude \"" + absolute +
                               "\";\nlayout A;\n");
    MainResult once = RunMain({"-layout", "sub/l.vlt", "-data", "d.bin"});
    EXPECT_EQ(once.out, "\"a\"\nA\n0h a 1 \n\n");
    EXPECT_EQ(once.err, "");
    EXPECT_EQ(once.status, 0);

    WriteFile("sub/l.vlt", "include \"lib\";\n");
    MainResult folder = RunMain({"-layout", "sub/l.vlt", "-data", "d.bin"});
    EXPECT_EQ(folder.err, "sub/l.vlt(1,9): include \"lib\";\n                        ~~~~~\n"
                          "ERROR Failed to open included file sub/lib.\n");
    EXPECT_EQ(folder.status, 1);

    // An error in the included file names it and its own line.
    WriteFile("sub/lib/a.vlt", "\nstruct A { u(1) a; @(a * 9) u(1) b; };\n");
    WriteFile("sub/l.vlt", "include \"alias.vlt\";\nlayout A;\n");
    MainResult report = RunMain({"-layout", "sub/l.vlt", "-data", "d.bin"});
    EXPECT_EQ(report.err, "sub/alias.vlt(2): struct A { u(1) a; @(a * 9) u(1) b; };\n"
                          "                                       ~~~~~\n"
                          "Invalid address of member 'b' (specified address is 9, size of file is 2)\n");
    EXPECT_EQ(report.status, 2);
}

TEST(Loading, ManyIncludedFilesEachCompiledOnce) {
    // More files than the identity index first holds, each reached by two paths.
    ScratchFolder scratch;
    fs::create_directories("p");
    WriteFile("d.bin", "x");
    std::string layout, expected;
    for (int i = 0; i < 150; ++i) {
        std::string name = "p/i" + std::to_string(i) + ".vlt";
        WriteFile(name.c_str(), "print(\"" + std::to_string(i) + "\");\n");
        layout += "include \"" + name + "\";\ninclude \"./" + name + "\";\n";
        expected += "\"" + std::to_string(i) + "\"\n";
    }
    WriteFile("l.vlt", layout + "include \"p/i7.vlt\";\n");
    MainResult result = RunMain({"-layout", "l.vlt", "-data", "d.bin"});
    EXPECT_EQ(result.out, expected + "WARNING No members exported, this can be due to missing 'layout' or because "
                                     "type had no members.\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

TEST(Loading, LayoutOfFourGibibytesIsRefusedWithoutReadingIt) {
    ScratchFolder scratch;
    {
        std::ofstream("huge.vlt");
    }
    std::error_code error;
    fs::resize_file("huge.vlt", uint64_t(1) << 32, error);  // sparse on the usual file systems
    if (error) GTEST_SKIP() << "cannot make a 4 GiB file here";
    MainResult result = RunMain({"-layout", "huge.vlt", "-data", "missing.bin"});
    EXPECT_EQ(result.err,
              "Layout file huge.vlt is too large (4294967296 bytes); layout files must be smaller "
              "than 4 GiB.\nFailed to open missing.bin\n");
    EXPECT_EQ(result.status, -1);
}

TEST(Loading, IncludedFileOfFourGibibytesIsRefusedWithoutReadingIt) {
    ScratchFolder scratch;
    {
        std::ofstream("huge.vlt");
    }
    std::error_code error;
    fs::resize_file("huge.vlt", uint64_t(1) << 32, error);
    if (error) GTEST_SKIP() << "cannot make a 4 GiB file here";
    WriteFile("l.vlt", "include \"huge.vlt\";\n");
    WriteFile("d.bin", "x");
    MainResult result = RunMain({"-layout", "l.vlt", "-data", "d.bin"});
    EXPECT_EQ(result.err, "l.vlt(1,9): include \"huge.vlt\";\n                    ~~~~~~~~~~\n"
                          "ERROR Included file huge.vlt is too large (4294967296 bytes); layout files must be "
                          "smaller than 4 GiB.\n");
    EXPECT_EQ(result.status, 1);
}

TEST(Driver, InvalidTokensAreListedInTextOrder) {
    ScratchFolder scratch;
    WriteFile("l.vlt", "a # b\n  c ) `\n");
    WriteFile("d.bin", "");
    MainResult result = RunMain({"-layout", "l.vlt", "-data", "d.bin"});
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err,
              "Invalid tokens in layout file:\n"
              "l.vlt(1,3): a # b\n"
              "              ~\n"
              "l.vlt(2,5): c ) `\n"
              "              ~\n"
              "l.vlt(2,7): c ) `\n"
              "                ~\n");
    EXPECT_EQ(result.status, 1);
}

// ---------------------------------------------------------------------------
// Diagnostics
// ---------------------------------------------------------------------------

// The position of byte `offset` of a text, counted the way the scanner does:
// LF, CR, CR LF and LF CR are one break each, tabs stop every 8 columns.
VLScanPosition PositionAt(const std::string& text, size_t offset) {
    VLScanPosition position = {text.data(), 0, 0, 0, 0};
    size_t at = 0;
    while (at < offset) {
        char c = text[at++];
        if (c == '\n' || c == '\r') {
            char other = c == '\n' ? '\r' : '\n';
            if (at < offset && text[at] == other) ++at;
            ++position.line;
            position.column = position.byteColumn = 0;
        } else {
            ++position.byteColumn;
            position.column = c == '\t' ? (position.column / 8 + 1) * 8 : position.column + 1;
        }
    }
    position.cursor = text.data() + offset;
    position.offset = uint32_t(offset);
    return position;
}

VLToken TokenAt(const std::string& text, size_t offset, size_t length) {
    VLToken token = {};
    token.type = VLTokenType_Identifier;
    token.start = PositionAt(text, offset);
    token.end = PositionAt(text, offset + length - 1);
    return token;
}

std::string TokenExcerpt(const std::string& text, const VLToken* token) {
    VLFile file = {"l.vlt", text.size(), const_cast<char*>(text.data()), nullptr};
    VLWriter err;
    VLWriterInitMemory(&err);
    VLPrintTokenLocation(&err, &file, token);
    std::string printed = Captured(err);
    VLWriterFree(&err);
    return printed;
}

std::string RangeExcerpt(const std::string& text, const VLToken* first, const VLToken* following) {
    VLFile file = {"l.vlt", text.size(), const_cast<char*>(text.data()), nullptr};
    VLWriter err;
    VLWriterInitMemory(&err);
    VLPrintRangeLocation(&err, &file, first, following);
    std::string printed = Captured(err);
    VLWriterFree(&err);
    return printed;
}

struct TokenCase {
    const char* what;
    std::string text;
    size_t offset, length;
    std::string expected;
};

TEST(Diagnostics, SingleTokenForm) {
    const TokenCase cases[] = {
        {"leading blanks are trimmed, marker stays under the token", "a;\nb;\n    abc;\n", 10, 3,
         "l.vlt(3,5): abc;\n            ~~~\n"},
        {"first line, first column", "xyz = 1;", 0, 3, "l.vlt(1,1): xyz = 1;\n            ~~~\n"},
        {"tab inside the line: column is expanded, marker goes by bytes", "x\tabc", 2, 3,
         "l.vlt(1,9): x\tabc\n              ~~~\n"},
        {"leading tab is trimmed", "\tabc", 1, 3, "l.vlt(1,9): abc\n            ~~~\n"},
        {"mixed leading blanks", " \t  ab", 4, 2, "l.vlt(1,11): ab\n             ~~\n"},
        {"line ends at a carriage return", "ab\rcd", 3, 2, "l.vlt(2,1): cd\n            ~~\n"},
        {"excerpt stops at the line break", "ab cd\nef", 3, 2, "l.vlt(1,4): ab cd\n               ~~\n"},
        {"last line without break", "a\n  zz", 4, 2, "l.vlt(2,3): zz\n            ~~\n"},
        {"CR LF line ends", "a\r\n b\r\n", 4, 1, "l.vlt(2,2): b\n            ~\n"},
        {"two-digit line and column widen the prefix",
         std::string(11, '\n') + "          q", 21, 1, "l.vlt(12,11): q\n              ~\n"},
    };
    for (const TokenCase& c : cases) {
        VLToken token = TokenAt(c.text, c.offset, c.length);
        EXPECT_EQ(TokenExcerpt(c.text, &token), c.expected) << c.what;
    }
}

TEST(Diagnostics, SingleTokenEdgeCases) {
    EXPECT_EQ(TokenExcerpt("abc", nullptr), "<end of data>\n");

    // A string that closes on the next line ends left of where it starts: no marks.
    std::string text = "  x = \"ab\n\";";
    VLToken string = TokenAt(text, 6, 5);
    EXPECT_EQ(TokenExcerpt(text, &string), "l.vlt(1,7): x = \"ab\n                \n");

    // A NUL inside the line ends the excerpt, as a "%.*s" conversion would.
    std::string withNul("ab\0cd", 5);
    VLToken first = TokenAt(withNul, 0, 2);
    EXPECT_EQ(TokenExcerpt(withNul, &first), "l.vlt(1,1): ab\n            ~~\n");

    // The line end is searched only within the file's size.
    std::string buffer = "ab cd tail";
    VLFile file = {"l.vlt", 5, buffer.data(), nullptr};
    VLToken last = TokenAt(buffer, 3, 2);
    VLWriter err;
    VLWriterInitMemory(&err);
    VLPrintTokenLocation(&err, &file, &last);
    EXPECT_EQ(Captured(err), "l.vlt(1,4): ab cd\n               ~~\n");
    VLWriterFree(&err);
}

struct RangeCase {
    const char* what;
    std::string text;
    size_t firstOffset, firstLength;
    size_t followingOffset, followingLength;
    std::string expected;
};

TEST(Diagnostics, RangeForm) {
    const RangeCase cases[] = {
        {"size followed by its parenthesis: one mark, blanks kept", "  u(4) x;", 4, 1, 5, 1,
         "1:   u(4) x;\n       ~\n"},
        {"five characters followed by a comma", "u(a + b, hex) x;", 2, 1, 7, 1,
         "1: u(a + b, hex) x;\n     ~~~~~\n"},
        {"tab in the leading blanks counts as columns", "a\n\t@(8) u(1) x;", 5, 1, 6, 1,
         "2: \t@(8) u(1) x;\n             ~\n"},
        {"following token on a later line ends left of the first: no marks", "   size\n)", 3, 4, 8, 1,
         "1:    size\n      \n"},
    };
    for (const RangeCase& c : cases) {
        VLToken first = TokenAt(c.text, c.firstOffset, c.firstLength);
        VLToken following = TokenAt(c.text, c.followingOffset, c.followingLength);
        EXPECT_EQ(RangeExcerpt(c.text, &first, &following), c.expected) << c.what;
    }
    EXPECT_EQ(RangeExcerpt("u(1) x;", nullptr, nullptr), "\n");

    // Without a following token the marks run to the end of the first token's line.
    std::string text = "v = a.b\t+ c\nnext";
    VLToken first = TokenAt(text, 4, 1);
    EXPECT_EQ(RangeExcerpt(text, &first, nullptr), "1: v = a.b\t+ c\n       ~~~~~~~\n");
}

// ---------------------------------------------------------------------------
// Listing
// ---------------------------------------------------------------------------

VLLocation Local(uint32_t index, uint32_t depth = 0) { return {VLLocationKind_Local, depth, index}; }
VLLocation Global(uint32_t index, uint32_t depth = 0) { return {VLLocationKind_Global, depth, index}; }
VLLocation NoLocation(uint32_t index = 0) { return {VLLocationKind_None, 0, index}; }
VLString Text(const char* chars) { return {uint32_t(strlen(chars)), chars}; }

VLInstruction Make(int32_t type) {
    VLInstruction instruction = {};
    instruction.type = type;
    return instruction;
}

VLInstruction Constant(VLLocation destination, uint64_t value) {
    VLInstruction instruction = Make(VLInstructionType_LoadConstant);
    instruction.destination = destination;
    instruction.constant.value = value;
    return instruction;
}

VLInstruction Binary(int32_t type, VLLocation destination, VLLocation left, VLLocation right) {
    VLInstruction instruction = Make(type);
    instruction.destination = destination;
    instruction.binary.left = left;
    instruction.binary.right = right;
    return instruction;
}

VLInstruction Unary(int32_t type, VLLocation destination, VLLocation operand) {
    VLInstruction instruction = Make(type);
    instruction.destination = destination;
    instruction.unary.operand = operand;
    return instruction;
}

VLInstruction Scalar(int32_t type, const char* name, VLLocation address, VLLocation size,
                     VLLocation arrayCount) {
    VLInstruction instruction = Make(type);
    instruction.scalarExport.name = Text(name);
    instruction.scalarExport.address = address;
    instruction.scalarExport.size = size;
    instruction.scalarExport.arrayCount = arrayCount;
    return instruction;
}

VLInstruction Jump(VLLocation condition, VLLocation target, uint32_t targetIndex) {
    VLInstruction instruction = Make(VLInstructionType_Goto);
    instruction.jump.condition = condition;
    instruction.jump.target = target;
    instruction.jump.targetIndex = targetIndex;
    return instruction;
}

VLInstruction Lookup(int32_t type, VLLocation destination, uint32_t category, VLLocation key) {
    VLInstruction instruction = Make(type);
    instruction.destination = destination;
    instruction.typeLookup.categoryIndex = category;
    instruction.typeLookup.key = key;
    return instruction;
}

VLInstruction Print(const char* message, VLLocation value) {
    VLInstruction instruction = Make(VLInstructionType_Print);
    instruction.print.message = Text(message);
    instruction.print.value = value;
    return instruction;
}

VLInstruction Assert(VLLocation condition, VLToken* token) {
    VLInstruction instruction = Make(VLInstructionType_Assert);
    instruction.assertion.condition = condition;
    instruction.assertion.token = token;
    return instruction;
}

VLInstruction PushFrame(VLLocation arrayCount) {
    VLInstruction instruction = Make(VLInstructionType_PushFrame);
    instruction.pushFrame.arrayCount = arrayCount;
    return instruction;
}

VLInstruction Fetch(VLLocation destination, std::vector<VLPathStep> steps) {
    VLInstruction instruction = Make(VLInstructionType_ValueOfMember);
    instruction.destination = destination;
    // The steps live out of line; moving the inner vectors keeps their arrays in place.
    static std::vector<std::vector<VLPathStep>> kept;
    kept.push_back(steps);
    instruction.fetch.pathCount = uint32_t(steps.size());
    instruction.fetch.path = kept.back().data();
    return instruction;
}

VLInstruction StructStart(const char* name) {
    VLInstruction instruction = Make(VLInstructionType_StartStructDefinition);
    instruction.structDefinition.name = Text(name);
    return instruction;
}

std::string InstructionText(const VLInstruction& instruction, uint32_t indent = 0,
                            VLRuntime* runtime = nullptr) {
    VLWriter out;
    VLWriterInitMemory(&out);
    VLPrintInstruction(&out, &instruction, indent, runtime);
    std::string printed = Captured(out);
    VLWriterFree(&out);
    return printed;
}

struct ListingCase {
    VLInstruction instruction;
    const char* text;
};

TEST(Listing, InstructionTexts) {
    const ListingCase cases[] = {
        {Make(VLInstructionType_Invalid), "INVALID INSTRUCTION"},
        {Constant(Local(2), 7), "l(2) <- 7"},
        {Constant(Local(2), uint64_t(-1)), "l(2) <- 18446744073709551615"},
        {Unary(VLInstructionType_Negate, Local(3), Local(2)), "l(3) <- -l(2)"},
        {Unary(VLInstructionType_LogicalNot, Local(3), Local(2)), "l(3) <- !l(2)"},
        {Unary(VLInstructionType_BitwiseNot, Local(3), Local(2)), "l(3) <- ~l(2)"},
        {Unary(VLInstructionType_Abs, Local(3), Local(2)), "l(3) <- abs(l(2))"},
        {Unary(VLInstructionType_Copy, Local(3, 1), Global(1)), "-1(3) <- g(1)"},
        {Binary(VLInstructionType_Add, Local(4), Local(2), Global(1)), "l(4) <- l(2) + g(1)"},
        {Binary(VLInstructionType_Subtract, Local(4), Local(2), Local(3)), "l(4) <- l(2) - l(3)"},
        {Binary(VLInstructionType_Multiply, Local(4), Local(2), Local(3)), "l(4) <- l(2) * l(3)"},
        {Binary(VLInstructionType_Divide, Local(4), Local(2), Local(3)), "l(4) <- l(2) / l(3)"},
        {Binary(VLInstructionType_Modulo, Local(4), Local(2), Local(3)), "l(4) <- l(2) % l(3)"},
        {Binary(VLInstructionType_Less, Local(4), Local(2), Local(3)), "l(4) <- l(2) < l(3)"},
        {Binary(VLInstructionType_LessEqual, Local(4), Local(2), Local(3)), "l(4) <- l(2) <= l(3)"},
        {Binary(VLInstructionType_Equal, Local(4), Local(2), Local(3)), "l(4) <- l(2) == l(3)"},
        {Binary(VLInstructionType_Greater, Local(4), Local(2), Local(3)), "l(4) <- l(2) > l(3)"},
        {Binary(VLInstructionType_GreaterEqual, Local(4), Local(2), Local(3)), "l(4) <- l(2) >= l(3)"},
        {Binary(VLInstructionType_NotEqual, Local(4), Local(2), Local(3)), "l(4) <- l(2) != l(3)"},
        {Binary(VLInstructionType_ShiftLeft, Local(4), Local(2), Local(3)), "l(4) <- l(2) << l(3)"},
        {Binary(VLInstructionType_ShiftRight, Local(4), Local(2), Local(3)), "l(4) <- l(2) >> l(3)"},
        {Binary(VLInstructionType_BitwiseAnd, Local(4), Local(2), Local(3)), "l(4) <- l(2) & l(3)"},
        {Binary(VLInstructionType_BitwiseOr, Local(4), Local(2), Local(3)), "l(4) <- l(2) | l(3)"},
        {Binary(VLInstructionType_BitwiseXor, Local(4), Local(2), Local(3)), "l(4) <- l(2) ^ l(3)"},
        {Binary(VLInstructionType_LogicalAnd, Local(4), Local(2), Local(3)), "l(4) <- l(2) && l(3)"},
        {Binary(VLInstructionType_LogicalOr, Local(4), Local(2), Local(3)), "l(4) <- l(2) || l(3)"},
        {PushFrame(NoLocation()), "push-frame"},
        {PushFrame(Local(6)), "push-frame[l(6)]"},
        {Make(VLInstructionType_PopFrame), "pop-frame"},
        {StructStart("Header"), "start struct-definition Header"},
        {Make(VLInstructionType_EndStructDefinition), "end struct-definition"},
        {[] { VLInstruction i = Make(VLInstructionType_SetArrayIndex); i.arrayIndex.value = Local(2); return i; }(),
         "index-l(2)"},
        {Scalar(VLInstructionType_ScalarMemberU, "magic", Global(1), Local(3), NoLocation()),
         "scalar-member-u(g(1), l(3)) magic"},
        {Scalar(VLInstructionType_ScalarMemberS, "values", Global(1), Local(3), Local(5)),
         "scalar-member-s(g(1), l(3)) values[l(5)]"},
        {Scalar(VLInstructionType_ScalarMemberF, "ratio", Global(1), Local(3), NoLocation()),
         "scalar-member-f(g(1), l(3)) ratio"},
        {Fetch(Local(2), {{0, Local(3)}, {2, Local(4)}}), "l(2) <- value-of-member[0,l(3)][2,l(4)]"},
        {Jump(Local(3), NoLocation(), 17), "conditional-goto(l(3)) 17"},
        {Jump(NoLocation(), NoLocation(), 12), "goto 12"},
        {Jump(NoLocation(), Local(5), 0), "goto l(5)"},
        {[] { VLInstruction i = Make(VLInstructionType_SizeOfFile); i.destination = Local(2); return i; }(),
         "l(2) <- size-of-file"},
        {Make(VLInstructionType_HideMembers), "hide-members"},
        {Make(VLInstructionType_ShowMembers), "show-members"},
        {Lookup(VLInstructionType_FetchStartOfType, Local(3), 1, Local(2)), "l(3) <- fetch-start-of-type 1 [l(2)]"},
        {Lookup(VLInstructionType_FetchMemberCountOfType, Local(3), 0, Local(2)),
         "l(3) <- fetch-member-count-of-type 0 [l(2)]"},
        {Lookup(VLInstructionType_FetchTypeIndex, Local(3), 4, Local(2)), "l(3) <- fetch-type-index 4 [l(2)]"},
        {Lookup(VLInstructionType_HasType, Local(3), 1, Local(2)), "l(3) <- has-type 1 [l(2)]"},
        {Assert(Local(2), nullptr), "assert(l(2))"},
        {Print("done", NoLocation()), "print(done ?\?\?(0))"},
        {Print("\"n\"", Local(7)), "print(\"n\" l(7))"},
        {Make(VLInstructionType_Breakpoint), "breakpoint"},
        {Scalar(VLInstructionType_ZStringMember, "name", Global(1), Local(3), NoLocation()),
         "zstring-member(g(1), l(3)) name"},
        {Scalar(VLInstructionType_ULebMember, "sizes", Global(1), Local(3), Local(4)),
         "uleb-member(g(1), l(3)) sizes[l(4)]"},
        {Scalar(VLInstructionType_SLebMember, "delta", Global(1), Local(3), NoLocation()),
         "sleb-member(g(1), l(3)) delta"},
        {Scalar(VLInstructionType_VlqMember, "ticks", Global(1), Local(3), NoLocation()),
         "vlq-member(g(1), l(3)) ticks"},
        {[] {
             VLInstruction i = Scalar(VLInstructionType_ShowMember, "major", Global(1), NoLocation(), NoLocation());
             i.scalarExport.value = Local(6);
             return i;
         }(),
         "show-member(g(1), l(6)) major"},
        {[] {
             VLInstruction i = Scalar(VLInstructionType_ScalarMemberU, "magic", Global(1), Local(3), Local(4));
             i.scalarExport.byteOrder = Local(5);
             return i;
         }(),
         "scalar-member-u(g(1), l(3)) magic[l(4)] endian(l(5))"},
    };
    static_assert(VLInstructionType_ShowMember + 1 == VLInstructionType_Count, "a listing case for every kind");
    for (const ListingCase& c : cases) EXPECT_EQ(InstructionText(c.instruction), c.text) << c.text;
}

TEST(Listing, LocationTexts) {
    const std::pair<VLLocation, const char*> cases[] = {
        {NoLocation(5), "?\?\?(5)"}, {Local(3), "l(3)"},     {Local(5, 2), "-2(5)"},
        {Global(1), "g(1)"},       {Global(5, 3), "3(5)"}, {VLLocation{7, 0, 1}, ""},
    };
    for (const auto& [location, text] : cases) {
        VLWriter out;
        VLWriterInitMemory(&out);
        VLPrintOperand(&out, location, nullptr);
        EXPECT_EQ(Captured(out), text);
        VLWriterFree(&out);
    }
    EXPECT_EQ(InstructionText(Make(VLInstructionType_Breakpoint), 2), "        breakpoint");
}

// A program over a hand-built instruction list, with its own arena.
struct HandProgram {
    VLArena arena = {};
    VLProgram program = {};
    explicit HandProgram(std::vector<VLInstruction> instructions) {
        VLInstructionChunk* chunk = VLArenaNew<VLInstructionChunk>(&arena);
        for (size_t i = 0; i < instructions.size(); ++i) {
            chunk->items[i] = instructions[i];
            chunk->items[i].index = uint32_t(i);
        }
        chunk->count = uint32_t(instructions.size());
        program.instructions = {chunk->count, chunk, chunk};
        program.arena = &arena;
    }
    ~HandProgram() { VLArenaRelease(&arena); }
};

TEST(Listing, TraceShowsValuesBeforeTheStep) {
    HandProgram hand({Make(VLInstructionType_Breakpoint)});
    VLArena arena = {};
    VLRuntime runtime;
    VLRuntimeInit(&runtime, &hand.program, nullptr, 0, &arena);
    *VLResolveLocation(&runtime, Local(2)) = 7;
    *VLResolveLocation(&runtime, Global(1)) = 16;
    *VLResolveLocation(&runtime, Local(3)) = -1;
    *VLResolveLocation(&runtime, Local(4)) = 0;
    *VLResolveLocation(&runtime, Local(5)) = 1;
    const ListingCase cases[] = {
        {Binary(VLInstructionType_Add, Local(4), Local(2), Global(1)), "l(4) <- l(2)=0x7 + g(1)=0x10"},
        {Unary(VLInstructionType_Copy, Local(4), Local(3)), "l(4) <- l(3)=0xffffffffffffffff"},
        {Binary(VLInstructionType_LogicalOr, Local(4), Local(5), Local(6)), "l(4)=0x0 <- l(5)=0x1 || l(6)=0x0"},
        {Scalar(VLInstructionType_ScalarMemberU, "m", Global(1), Local(2), Local(5)),
         "scalar-member-u(g(1)=0x10, l(2)=0x7) m[l(5)=0x1]"},
        {Print("p", NoLocation()), "print(p ?\?\?(0)=0x0)"},
        {[] { VLInstruction i = Make(VLInstructionType_SetArrayIndex); i.arrayIndex.value = Local(2); return i; }(),
         "index-l(2)"},
        {Jump(Local(5), NoLocation(), 3), "conditional-goto(l(5)=0x1) 3"},
        // A frame that does not exist shows the scratch cell.
        {Unary(VLInstructionType_Copy, Local(1), Local(1, 4)), "l(1) <- -4(1)=0x0"},
    };
    for (const ListingCase& c : cases) EXPECT_EQ(InstructionText(c.instruction, 0, &runtime), c.text) << c.text;
    EXPECT_EQ(InstructionText(Make(VLInstructionType_PopFrame), 2, &runtime), "        pop-frame");
    VLArenaRelease(&arena);
}

// ---------------------------------------------------------------------------
// Passes and reports
// ---------------------------------------------------------------------------

struct PassOutput {
    std::string out;
    std::string err;
};

PassOutput RunPasses(VLProgram* program, const std::string& layoutText, const std::string& dataBytes,
                     uint32_t debug = 0, uint64_t stepLimit = 0) {
    VLFile layout = {"l.vlt", layoutText.size(), const_cast<char*>(layoutText.c_str()), nullptr};
    VLFile data = {"d.bin", dataBytes.size(), const_cast<char*>(dataBytes.data()), nullptr};
    VLRunOptions options = {debug, stepLimit, 0, VLOutputFormat_Text, nullptr};
    VLWriter out, err;
    VLWriterInitMemory(&out);
    VLWriterInitMemory(&err);
    VLRunPasses(program, &layout, &data, &options, &out, &err);
    PassOutput result = {Captured(out), Captured(err)};
    VLWriterFree(&out);
    VLWriterFree(&err);
    return result;
}

const char* const kWarning =
    "WARNING No members exported, this can be due to missing 'layout' or because type had no members.\n";

// Tokens of a layout text, with the arena that holds them.
struct LayoutTokens {
    std::string text;
    VLArena arena = {};
    VLScanResult scan = {};
    explicit LayoutTokens(const char* layout) : text(layout) { scan = VLTokenize(text.c_str(), &arena); }
    ~LayoutTokens() { VLArenaRelease(&arena); }
    VLToken* At(size_t number) const {
        VLToken* token = scan.tokens;
        while (number--) token = token->next;
        return token;
    }
};

TEST(Passes, PrintOutputAndTheWarning) {
    HandProgram hand({Constant(Local(2), uint64_t(-42)), Print("\"value\"", Local(2)),
                      Print("\"text\"", NoLocation()), Make(VLInstructionType_HideMembers),
                      Print("\"hidden\"", NoLocation()), Make(VLInstructionType_ShowMembers),
                      Print("\"shown\"", NoLocation())});
    PassOutput result = RunPasses(&hand.program, "", "");
    EXPECT_EQ(result.out, std::string("\"value\" -42\n\"text\"\n\"shown\"\n") + kWarning);
    EXPECT_EQ(result.err, "");

    HandProgram empty({});
    EXPECT_EQ(RunPasses(&empty.program, "", "").out, kWarning);
    EXPECT_EQ(RunPasses(&empty.program, "", "", 1).out, std::string("\n\n\n") + kWarning);
}

TEST(Passes, DebugPrintsListingTraceThenOutput) {
    HandProgram hand({Constant(Local(2), 5), StructStart("S"), Make(VLInstructionType_Breakpoint),
                      Make(VLInstructionType_EndStructDefinition), Print("\"v\"", Local(2))});
    hand.program.instructions.first->items[1].structDefinition.endIndex = 3;
    PassOutput result = RunPasses(&hand.program, "", "", 1);
    EXPECT_EQ(result.out,
              "   0  l(2) <- 5\n"
              "   1  start struct-definition S\n"
              "   2      breakpoint\n"
              "   3  end struct-definition\n"
              "   4  print(\"v\" l(2))\n"
              "\n"
              "\n"
              "   0  l(2) <- 5\n"
              "   1  start struct-definition S\n"
              "   4  print(\"v\" l(2)=0x5)\n"
              "\n"
              "\"v\" 5\n" +
                  std::string(kWarning));
}

TEST(Passes, StepLimitEndsEachPassQuietly) {
    // A jump to number 0 continues at number 1, the jump itself: an endless loop.
    HandProgram hand({Print("\"once\"", NoLocation()), Jump(NoLocation(), NoLocation(), 0)});
    PassOutput result = RunPasses(&hand.program, "", "", 0, 1000);
    EXPECT_EQ(result.out, std::string("\"once\"\n") + kWarning);
    EXPECT_EQ(result.err, "");
}

TEST(Passes, AssertionReportEndsThePrintingPass) {
    LayoutTokens layout("print(\"a\");\n   assert(0);\nprint(\"b\");\n");
    HandProgram hand({Print("\"a\"", NoLocation()), Assert(Local(2), layout.At(5)), Print("\"b\"", NoLocation())});
    PassOutput result = RunPasses(&hand.program, layout.text, "");
    EXPECT_EQ(result.out, std::string("\"a\"\n") + kWarning);
    EXPECT_EQ(result.err, "l.vlt(2,4): assert(0);\n            ~~~~~~\nAssertion triggered!\n");
}

TEST(Passes, ScalarReports) {
    LayoutTokens layout("@(at) u(size) m;");
    // Tokens: @ ( at ) u ( size ) m ;
    VLToken* at = layout.At(2);
    VLToken* placementEnd = layout.At(3);
    VLToken* size = layout.At(6);
    VLToken* sizeEnd = layout.At(7);
    struct Case {
        const char* what;
        int64_t address, size;
        bool array;
        int64_t count;
        std::string err;
    } cases[] = {
        {"address past the data", 3, 2, false, 0,
         "1: @(at) u(size) m;\n     ~~\nInvalid address of member 'm' (specified address is 3, size of file is 4)\n"},
        {"negative address", -1, 1, false, 0,
         "1: @(at) u(size) m;\n     ~~\nInvalid address of member 'm' (specified address is -1, size of file is 4)\n"},
        {"size and address at once", 9, -3, false, 0,
         "1: @(at) u(size) m;\n     ~~\nInvalid address of member 'm' (specified address is 9, size of file is 4)\n"
         "1: @(at) u(size) m;\n           ~~~~\nInvalid size of primitive 'm' (specified size is -3)\n"},
        {"array count of zero", 0, 1, true, 0,
         "1: @(at) u(size) m;\n           ~~~~\nInvalid array count of 'm' (specified count is 0).\n"},
        {"array count beyond 32 bits", 0, 1, true, int64_t(1) << 32,
         "1: @(at) u(size) m;\n           ~~~~\nInvalid array count of 'm' (specified count is 4294967296).\n"},
    };
    for (const Case& c : cases) {
        VLInstruction member =
            Scalar(VLInstructionType_ScalarMemberU, "m", Local(2), Local(3), c.array ? Local(4) : NoLocation());
        member.scalarExport.placementFirst = at;
        member.scalarExport.placementLast = placementEnd;
        member.scalarExport.sizeFirst = size;
        member.scalarExport.sizeEnd = sizeEnd;
        // A root instance holds the member; hidden, so that no header is shown.
        VLInstruction root = PushFrame(NoLocation());
        root.pushFrame.typeIndex = Local(6);
        root.pushFrame.memberCount = Local(7);
        HandProgram hand({Make(VLInstructionType_HideMembers), Constant(Local(2), uint64_t(c.address)),
                          Constant(Local(3), uint64_t(c.size)), Constant(Local(4), uint64_t(c.count)),
                          Constant(Local(7), 1), root, Unary(VLInstructionType_Copy, Local(2), Local(2, 1)),
                          Unary(VLInstructionType_Copy, Local(3), Local(3, 1)),
                          Unary(VLInstructionType_Copy, Local(4), Local(4, 1)), member});
        PassOutput result = RunPasses(&hand.program, layout.text, "abcd");
        EXPECT_EQ(result.out, kWarning) << c.what;
        EXPECT_EQ(result.err, c.err) << c.what;
    }

    // A member without placement has no placement range: an empty excerpt line.
    VLInstruction member = Scalar(VLInstructionType_ScalarMemberU, "far", Local(2), Local(3), NoLocation());
    HandProgram hand({Constant(Local(2), 100), Constant(Local(3), 1), member});
    EXPECT_EQ(RunPasses(&hand.program, layout.text, "").err,
              "\nInvalid address of member 'far' (specified address is 100, size of file is 0)\n");
}

TEST(Passes, ReportsOfLookupsPathsAndNesting) {
    LayoutTokens layout("x = hdr.items[i].v;");
    // Tokens: x = hdr . items [ i ] . v ;
    VLInstruction fetch = Fetch(Local(2), {{0, Local(3)}});
    fetch.fetch.first = layout.At(2);
    fetch.fetch.end = layout.At(10);
    HandProgram path({Constant(Local(3), 5), fetch});
    PassOutput result = RunPasses(&path.program, layout.text, "");
    EXPECT_EQ(result.err,
              "1: x = hdr.items[i].v;\n       ~~~~~~~~~~~~~~\n"
              "Reference to element 5 of 'hdr.items[i].v' which has 0 element(s) (step 1 of the path).\n");
    EXPECT_EQ(result.out, kWarning);

    HandProgram lookup({Constant(Local(3), uint64_t(-7)),
                        Lookup(VLInstructionType_FetchTypeIndex, Local(2), 2, Local(3))});
    EXPECT_EQ(RunPasses(&lookup.program, "", "").err, "\nNo type registered in category 2 for key -7.\n");

    // Frames pushed without end: the runtime stops at its nesting limit.
    std::vector<VLInstruction> deep(VLMaxNesting + 1, PushFrame(NoLocation()));
    deep.insert(deep.begin(), Make(VLInstructionType_HideMembers));
    HandProgram nesting(deep);
    EXPECT_EQ(RunPasses(&nesting.program, "", "").err, "Struct instances nested deeper than 16 levels.\n");
}

}  // namespace

// ---------------------------------------------------------------------------
// Hints: only added lines, and only when asked for
// ---------------------------------------------------------------------------

// The hints only add lines, each starting with "hint: " or (after a run-time
// report) "in ": without them the text is the plain one.
void ExpectOnlyAddedLines(const std::string& plain, const std::string& explained, const char* what) {
    std::string kept;
    bool added = false;
    for (size_t at = 0; at < explained.size();) {
        size_t end = explained.find('\n', at);
        end = end == std::string::npos ? explained.size() : end + 1;
        std::string line = explained.substr(at, end - at);
        bool hint = line.rfind("hint: ", 0) == 0 || line.rfind("in ", 0) == 0;
        if (hint) added = true;
        else kept += line;
        at = end;
    }
    EXPECT_TRUE(added) << what;
    EXPECT_EQ(kept, plain) << what;
}

TEST(Hints, ExplainOnlyAddsLinesAfterTheFixedTexts) {
    ScratchFolder scratch;
    WriteFile("d.bin", std::string("\x01\x02\x03\x04", 4));
    struct Case {
        const char* what;
        const char* layout;
    };
    const Case cases[] = {
        {"unknown type", "struct A { u(1) x; };\nstruct B { a y; };\nlayout B;\n"},
        {"invalid tokens", "# note\nstruct A { u((1) x;\n};\nlayout A;\n"},
        {"report", "struct A { u(1) n; @(n + 8) u(2) far; };\nlayout A;\n"},
        {"assert", "struct A { u(1) n; assert(n == 7); };\nlayout A;\n"},
        {"no layout", "struct A { u(1) n; };\n"},
    };
    for (const Case& c : cases) {
        WriteFile("l.vlt", c.layout);
        MainResult plain = RunMain({"-layout", "l.vlt", "-data", "d.bin"});
        MainResult explained = RunMain({"-layout", "l.vlt", "-data", "d.bin", "-explain"});
        EXPECT_EQ(explained.status, plain.status) << c.what;
        EXPECT_EQ(explained.out, plain.out) << c.what;
        ExpectOnlyAddedLines(plain.err, explained.err, c.what);
        EXPECT_EQ(explained.err.find('\x1b'), std::string::npos) << c.what;  // no colour without a terminal
        MainResult coloured = RunMain({"-layout", "l.vlt", "-data", "d.bin", "-color=always"});
        EXPECT_EQ(coloured.err.find("hint:"), std::string::npos) << c.what;  // colour alone adds no hints
    }
}

TEST(Hints, ColorOptionTakesThreeValues) {
    ScratchFolder scratch;
    WriteFile("d.bin", "x");
    WriteFile("l.vlt", "struct A { Bogus b; };\nlayout A;\n");
    for (const char* option : {"-color=always", "-color=never", "-color=auto"})
        EXPECT_EQ(RunMain({"-layout", "l.vlt", "-data", "d.bin", option}).err.find("Ignoring"), std::string::npos)
            << option;
    MainResult wrong = RunMain({"-layout", "l.vlt", "-data", "d.bin", "-color=sometimes"});
    EXPECT_EQ(wrong.err.rfind("Ignoring unknown directive \"-color=sometimes\".\n", 0), 0u) << wrong.err;
    EXPECT_EQ(wrong.status, 1);
}
