// TypeTests.cpp - struct types, categories, member declarations and
// enumerations, checked on compiled layouts: the emitted call and member
// sequences, the member-flags words, the name hash and the type table, the
// category table, enumeration values, and the messages of these parts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Compiler.h"
#include "TestSupport.h"

namespace {

// Compiles a layout text and keeps everything for the test's lifetime.
struct Compiled {
    VLArena arena = {};
    std::string text;
    VLProgram program = {};
    std::vector<VLInstruction*> code;

    explicit Compiled(std::string source) : text(std::move(source)) {
        VLScanResult scan = VLTokenize(text.c_str(), &arena);
        program = VLCompile(scan.tokens, &arena);
        for (uint32_t i = 0; i < program.instructions.totalCount; ++i) {
            code.push_back(VLInstructionPointer(&program.instructions, i));
        }
    }
    ~Compiled() { VLArenaRelease(&arena); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;

    bool Ok() const { return !VLErrorIsValid(&program.error); }
    std::string Error() const {
        if (!VLErrorIsValid(&program.error)) return "";
        return std::string(program.error.message, program.error.length);
    }
    // Text of the error's token, "<end>" at the end of the token list.
    std::string ErrorToken() const {
        if (!program.error.token) return "<end>";
        VLString s = VLTokenText(program.error.token);
        return std::string(s.chars, s.length);
    }
    // The instructions of one kind, in order.
    std::vector<VLInstruction*> OfKind(int32_t kind) const {
        std::vector<VLInstruction*> found;
        for (VLInstruction* instruction : code) {
            if (instruction->type == kind) found.push_back(instruction);
        }
        return found;
    }
    VLInstruction* FirstScalar() const {
        for (VLInstruction* instruction : code) {
            if (instruction->type >= VLInstructionType_ScalarMemberU &&
                instruction->type <= VLInstructionType_ScalarMemberF)
                return instruction;
        }
        return nullptr;
    }
    VLTypeDefinition* Type(const char* name) const {
        VLContext ctx{};
        ctx.output = program;
        return VLFindType(&ctx, VLString{uint32_t(strlen(name)), name});
    }
};

std::string Name(VLString s) { return std::string(s.chars ? s.chars : "", s.length); }
std::string TokenText(const VLToken* token) {
    return token ? Name(VLTokenText(token)) : std::string("<null>");
}

// A compact text for a location: l(5) in the innermost frame, l+1(5) one
// frame out, g(1) in the global frame, - for none.
std::string Where(VLLocation location) {
    switch (location.kind) {
    case VLLocationKind_Local:
        return location.depth ? "l+" + std::to_string(location.depth) + "(" +
                                    std::to_string(location.index) + ")"
                              : "l(" + std::to_string(location.index) + ")";
    case VLLocationKind_Global:
        return "g" + (location.depth ? std::to_string(location.depth) : std::string()) + "(" +
               std::to_string(location.index) + ")";
    default:
        return "-";
    }
}

// One line per instruction, in the shape the tests below expect.
std::string Describe(const VLInstruction* in) {
    const char* binary[] = {"+", "-", "*", "/", "%", "<", "<=", "==", ">", ">=", "!=",
                            "<<", ">>", "&", "|", "^", "&&", "||"};
    std::string d = Where(in->destination);
    switch (in->type) {
    case VLInstructionType_LoadConstant:
        return d + " <- " + std::to_string(int64_t(in->constant.value));
    case VLInstructionType_Copy:
        return d + " <- " + Where(in->unary.operand);
    case VLInstructionType_PushFrame:
        return "push type " + Where(in->pushFrame.typeIndex) + " count " +
               Where(in->pushFrame.memberCount) + " array " + Where(in->pushFrame.arrayCount) +
               " member " + std::to_string(in->pushFrame.memberIndex) + " '" +
               Name(in->pushFrame.name) + "'";
    case VLInstructionType_PopFrame: return "pop";
    case VLInstructionType_StartStructDefinition:
        return "struct " + Name(in->structDefinition.name) + " end " +
               std::to_string(in->structDefinition.endIndex);
    case VLInstructionType_EndStructDefinition: return "end";
    case VLInstructionType_SetArrayIndex: return "index " + Where(in->arrayIndex.value);
    case VLInstructionType_ScalarMemberU:
    case VLInstructionType_ScalarMemberS:
    case VLInstructionType_ScalarMemberF: {
        const char* kind = in->type == VLInstructionType_ScalarMemberU   ? "u"
                           : in->type == VLInstructionType_ScalarMemberS ? "s"
                                                                         : "f";
        char flags[16];
        snprintf(flags, sizeof flags, "%#x", in->scalarExport.flags);
        return std::string("scalar-") + kind + " " + Name(in->scalarExport.name) + " #" +
               std::to_string(in->scalarExport.appearIndex) + " at " +
               Where(in->scalarExport.address) + " size " + Where(in->scalarExport.size) +
               " array " + Where(in->scalarExport.arrayCount) + " flags " + flags;
    }
    case VLInstructionType_Goto:
        if (in->jump.target.kind != VLLocationKind_None) return "goto [" + Where(in->jump.target) + "]";
        if (in->jump.condition.kind != VLLocationKind_None)
            return "if " + Where(in->jump.condition) + " goto " + std::to_string(in->jump.targetIndex);
        return "goto " + std::to_string(in->jump.targetIndex);
    case VLInstructionType_HideMembers: return "hide";
    case VLInstructionType_ShowMembers: return "show";
    case VLInstructionType_FetchStartOfType:
    case VLInstructionType_FetchMemberCountOfType:
    case VLInstructionType_FetchTypeIndex:
    case VLInstructionType_HasType: {
        const char* names[] = {"fetch-start", "fetch-count", "fetch-index", "has-type"};
        return d + " <- " + names[in->type - VLInstructionType_FetchStartOfType] + " " +
               std::to_string(in->typeLookup.categoryIndex) + " [" + Where(in->typeLookup.key) + "]";
    }
    default:
        if (in->type >= VLInstructionType_FirstBinary && in->type <= VLInstructionType_LastBinary) {
            return d + " <- " + Where(in->binary.left) + " " +
                   binary[in->type - VLInstructionType_FirstBinary] + " " + Where(in->binary.right);
        }
        return "kind " + std::to_string(in->type);
    }
}

std::vector<std::string> DescribeRange(const Compiled& c, uint32_t first, uint32_t end) {
    std::vector<std::string> lines;
    for (uint32_t i = first; i < end && i < c.code.size(); ++i) lines.push_back(Describe(c.code[i]));
    return lines;
}

// --------------------------------------------------------------------------
// The name hash and the type table
// --------------------------------------------------------------------------

TEST(TypeTable, HashBuckets) {
    struct Case {
        const char* name;
        uint32_t bucket;
    } cases[] = {
        {"a", 97}, {"ab", 36}, {"ba", 37}, {"abc", 74}, {"Header", 149}, {"zm", 97}, {"", 0},
        // Bytes above 127 count as negative numbers; the low 8 bits agree
        // with the unsigned sum: 2 * 0xC3 + 0xA9 = 559 -> 47.
        {"\xC3\xA9", 47},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VLHashName(uint32_t(strlen(c.name)), c.name), c.bucket) << c.name;
    }
}

TEST(TypeTable, LookupByNameAcrossChunksAndCollisions) {
    // 70 definitions need a second chunk of the table; a and zm share bucket 97.
    std::string text;
    for (int i = 0; i < 68; ++i) text += "struct T" + std::to_string(i) + " { };\n";
    text += "struct a { u(1) x; };\nstruct zm { u(1) y; u(1) z; };\n";
    Compiled c(text);
    ASSERT_TRUE(c.Ok()) << c.Error();
    EXPECT_EQ(c.program.typeCount, 70u);
    EXPECT_EQ(c.program.types.totalCount, 70u);
    ASSERT_NE(c.program.types.first, c.program.types.last);
    EXPECT_EQ(c.program.types.first->count, 64u);
    for (uint32_t i : {0u, 63u, 64u, 67u}) {
        VLTypeDefinition* type = VLTypeAt(&c.program.types, i);
        ASSERT_NE(type, nullptr);
        EXPECT_EQ(type->index, i);
        EXPECT_EQ(Name(type->name), "T" + std::to_string(i));
    }
    EXPECT_EQ(VLTypeAt(&c.program.types, 70), nullptr);

    VLTypeDefinition* a = c.Type("a");
    VLTypeDefinition* zm = c.Type("zm");
    ASSERT_TRUE(a && zm);
    EXPECT_EQ(a->memberCount, 1u);
    EXPECT_EQ(zm->memberCount, 2u);
    EXPECT_EQ(c.program.typeBuckets[97], zm);  // the later definition heads the chain
    EXPECT_EQ(zm->next, a);
    EXPECT_EQ(c.Type("b"), nullptr);
}

TEST(TypeTable, LaterDefinitionHidesEarlierForLaterReferences) {
    Compiled c(
        "struct A { u(1) x; };\n"
        "struct B { A first; };\n"
        "struct A { u(1) x; u(1) y; };\n"
        "struct C { A second; };\n");
    ASSERT_TRUE(c.Ok()) << c.Error();
    std::vector<VLInstruction*> pushes = c.OfKind(VLInstructionType_PushFrame);
    ASSERT_EQ(pushes.size(), 2u);
    // Each push-frame is preceded by the member count and the type index.
    for (size_t i = 0; i < 2; ++i) {
        uint32_t at = pushes[i]->index;
        EXPECT_EQ(c.code[at - 2]->constant.value, i == 0 ? 1u : 2u);
        EXPECT_EQ(c.code[at - 1]->constant.value, i == 0 ? 0u : 2u);
    }
}

// --------------------------------------------------------------------------
// Struct headers, parameters and categories
// --------------------------------------------------------------------------

TEST(StructHeader, ParametersAndBody) {
    std::string sixteen = "struct P(";
    for (int i = 0; i < 16; ++i) sixteen += std::string(i ? ", " : "") + "var p" + std::to_string(i);
    sixteen += ") { u(1) x; };";
    Compiled c(sixteen);
    ASSERT_TRUE(c.Ok()) << c.Error();
    VLTypeDefinition* p = c.Type("P");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->parameterCount, 16u);
    EXPECT_EQ(Name(p->parameters[0]), "p0");
    EXPECT_EQ(Name(p->parameters[15]), "p15");
    ASSERT_NE(p->startInstruction, nullptr);
    EXPECT_EQ(p->startInstruction->index, 0u);
    EXPECT_EQ(Name(p->startInstruction->structDefinition.name), "P");
    EXPECT_EQ(c.code[p->startInstruction->structDefinition.endIndex]->type,
              VLInstructionType_EndStructDefinition);
}

TEST(StructHeader, CategoryTableNewestFirstWithinEachCategory) {
    Compiled c(
        "struct (K, 1) A { u(1) a; };\n"
        "struct (L, 1) C { u(1) c; };\n"
        "struct (K, 1) B { u(1) b; };\n"
        "struct (K, 'x') D { u(1) d; };\n"
        "struct (L, Lo + 4) E { u(1) e; };\n"
        "enum { Lo = 2 };\n");
    // E's key names a value that is declared only later: not a constant there.
    EXPECT_EQ(c.Error(), "Expected integer expression.");

    Compiled d(
        "enum { Lo = 2 };\n"
        "struct (K, 1) A { u(1) a; };\n"
        "struct (L, 1) C { u(1) c; };\n"
        "struct (K, 1) B { u(1) b; };\n"
        "struct (K, 'x') D { u(1) d; };\n"
        "struct (L, Lo + 4) E { u(1) e; };\n");
    ASSERT_TRUE(d.Ok()) << d.Error();
    struct Entry {
        uint32_t category;
        int64_t key;
        const char* type;
    } expected[] = {{0, 'x', "D"}, {0, 1, "B"}, {0, 1, "A"}, {1, 6, "E"}, {1, 1, "C"}};
    ASSERT_EQ(d.program.categoryEntryCount, 5u);
    for (size_t i = 0; i < 5; ++i) {
        const VLCategoryEntry& entry = d.program.categoryEntries[i];
        EXPECT_EQ(entry.categoryIndex, expected[i].category) << i;
        EXPECT_EQ(entry.key, expected[i].key) << i;
        EXPECT_EQ(Name(entry.type->name), expected[i].type) << i;
    }
    // The runtime takes the first entry that matches: for key 1 of K, the later B.
}

TEST(StructHeader, NoCategoriesGiveAnEmptyTable) {
    Compiled c("struct A { u(1) a; };\nlayout A;\n");
    ASSERT_TRUE(c.Ok()) << c.Error();
    EXPECT_EQ(c.program.categoryEntryCount, 0u);
    EXPECT_EQ(c.program.categoryEntries, nullptr);
}

// --------------------------------------------------------------------------
// Compile errors of types, members and enumerations
// --------------------------------------------------------------------------

struct ErrorCase {
    const char* name;
    std::string layout;
    const char* message;
    const char* token;  // text of the error token; null: not checked
};

std::string Parameters(int count) {
    std::string list;
    for (int i = 0; i < count; ++i) list += std::string(i ? ", " : "") + "var p" + std::to_string(i);
    return list;
}

TEST(TypeErrors, MessagesAndTokens) {
    const ErrorCase cases[] = {
        {"seventeen parameters", "struct P(" + Parameters(17) + ") { };", "Too many parameters.", ")"},
        {"empty parameter list", "struct X() { };", "Expected identifier var", ")"},
        {"inconsistent category",
         "struct (Packet, 1) Ping(var n) { u(1) a; };\nstruct (Packet, 2) Pong { u(1) b; };",
         "Inconsistent parameter count for category, 1 was previously recorded but trying to add "
         "type with 0.",
         "u"},
        {"unknown type", "struct S { Nope x; };", "Expected 'type' or 'category[identifier]'.", "Nope"},
        {"unknown category", "struct S { u(1) kind; Packet[kind] body; };",
         "Unrecognized category Packet.", "body"},
        {"unknown category at layout", "struct S { };\nlayout Nope[0];", "Unrecognized category Nope.",
         nullptr},
        {"too many arguments", "struct T(var a) { };\nstruct S { T(1, 2) x; };",
         "Invalid number of parameters, got 2 expected 1.", "x"},
        {"too few arguments", "struct T(var a, var b) { };\nstruct S { T(1) x; };",
         "Invalid number of parameters, got 1 expected 2.", "x"},
        {"argument list left out", "struct T(var a) { };\nstruct S { T x; };",
         "Invalid number of parameters, got 0 expected 1.", "x"},
        {"category arguments", "struct (C, 1) T(var a) { };\nstruct S { C[1] x; };",
         "Invalid number of parameters, got 0 expected 1.", "x"},
        {"display twice", "struct S { u(4, hex, hex) x; };", "Display type specified multiple times.", ")"},
        {"display twice mixed", "struct S { u(4, hex, binary) x; };",
         "Display type specified multiple times.", ")"},
        {"byte order twice", "struct S { u(4, little, big) x; };", "Byte order specified multiple times.",
         ")"},
        {"array start", "struct S { u(4) a b[2]; };", "Expected start of array declaration.", "b"},
        {"unknown modifier", "struct S { u(4, wide) x; };",
         "Expected identifier binary, octal, hex, little or big", "wide"},
        {"unknown primitive in typedef", "typedef x(4) T;",
         "Expected identifier u, s, f, raw, string or hidden", "x"},
        {"enumeration byte order word", "enum E { A };\nstruct S { E(1, hex) x; };",
         "Expected identifier little or big", "hex"},
        {"unknown name as array count", "struct S { u(1) x[y]; };", "Expected integer expression.", "]"},
        {"unknown enum value", "enum Color { Red };\nstruct S { u(1 + Color.Purple) x; };",
         "Expected enum value of Color.", ")"},
        {"enum without brace", "enum Color ;", "Expected punctuation {", ";"},
        {"enum value not identifier", "enum Color { 5 };", "Expected identifier.", "5"},
        {"enum unterminated", "enum Color { A", "Expected identifier.", "<end>"},
        {"enum without semicolon", "enum Color { A }\nstruct S { };", "Expected punctuation ;", "struct"},
    };
    for (const ErrorCase& c : cases) {
        Compiled compiled(c.layout);
        EXPECT_EQ(compiled.Error(), c.message) << c.name;
        if (c.token) {
            EXPECT_EQ(compiled.ErrorToken(), c.token) << c.name;
        }
    }
}

// --------------------------------------------------------------------------
// Emitted sequences
// --------------------------------------------------------------------------

TEST(MemberCode, ExternalPlacementHiddenSignedArray) {
    Compiled c("struct S { @(external 16) hidden s(2, big) v[3]; };");
    ASSERT_TRUE(c.Ok()) << c.Error();
    std::vector<std::string> expected = {
        "struct S end 16",
        "l(2) <- g(1)",  // E := cursor
        "g(1) <- 16",    // cursor := 16
        "hide",
        "l(3) <- 0",  // I := 0 (L = 4)
        "index l(3)",
        "l(4) <- 3",  // N := 3
        "l(5) <- 2",  // Z := 2
        "scalar-s v #0 at g(1) size l(5) array l(4) flags 0x1000",
        "g(1) <- g(1) + l(5)",
        "l(6) <- 1",  // K := 1
        "l(3) <- l(3) + l(6)",
        "l(7) <- l(3) < l(4)",
        "if l(7) goto 4",
        "g(1) <- l(2)",  // cursor := E
        "show",
        "end",
    };
    EXPECT_EQ(DescribeRange(c, 0, c.program.instructions.totalCount), expected);
}

TEST(MemberCode, StructCallWithArgumentsInOrder) {
    Compiled c(
        "struct T(var a, var b) { u(1) x; };\n"
        "struct S { T(7, 9) t; };\n");
    ASSERT_TRUE(c.Ok()) << c.Error();
    // T's parameters keep slots 2 and 3 of the level-0 counter, so S's slots start at 4.
    std::vector<std::string> expected = {
        "struct S end 20",
        "l(4) <- 0",
        "index l(4)",
        "l(5) <- 7",  // evaluate a
        "l(6) <- 9",  // evaluate b
        "l(7) <- 1",  // member count of T
        "l(8) <- 0",  // index of T
        "push type l(8) count l(7) array - member 0 't'",
        "l(2) <- l+1(5)",  // copy a
        "l(3) <- l+1(6)",  // copy b
        "l(0) <- 18",      // return after the goto
        "goto 0",          // into T's body
        "pop",
        "end",
    };
    EXPECT_EQ(DescribeRange(c, 7, c.program.instructions.totalCount), expected);
}

TEST(MemberCode, CategoryMemberFetchesTypeAtRunTime) {
    Compiled c(
        "struct (Packet, 1) Ping { u(1) a; };\n"
        "struct (Other, 1) Pong { u(1) b; };\n"
        "struct (Other, 2) Pang { u(1) b; };\n"
        "struct File(var k) { Other[k] body[2]; };\n");
    ASSERT_TRUE(c.Ok()) << c.Error();
    VLTypeDefinition* file = c.Type("File");
    ASSERT_NE(file, nullptr);
    uint32_t start = file->startInstruction->index;
    // The array count is compiled ahead of the member, then the selector;
    // the selector's slot stays taken until the declaration ends.
    std::vector<std::string> got = DescribeRange(c, start, start + 17);
    std::vector<std::string> want = {
        "struct File end " + std::to_string(start + 16),
        "l(3) <- 0",
        "index l(3)",
        "l(4) <- 2",          // N
        "l(5) <- l(2)",       // selector := k
        "l(6) <- fetch-count 1 [l(5)]",
        "l(7) <- fetch-index 1 [l(5)]",
        "push type l(7) count l(6) array l(4) member 0 'body'",
        "l(0) <- " + std::to_string(start + 10),
        "l(2) <- fetch-start 1 [l+1(5)]",
        "goto [l(2)]",
        "pop",
        "l(6) <- 1",
        "l(3) <- l(3) + l(6)",
        "l(7) <- l(3) < l(4)",
        "if l(7) goto " + std::to_string(start + 1),
        "end",
    };
    EXPECT_EQ(got, want);
    ASSERT_NE(file->members, nullptr);
    EXPECT_EQ(file->members->isNested, 1u);
    EXPECT_EQ(file->members->typeReference.kind, uint32_t(VLTypeReference_Category));
    EXPECT_EQ(Name(file->members->typeReference.categoryName), "Other");
}

TEST(MemberCode, SelfReferenceGetsTheFinalMemberCount) {
    Compiled c(
        "struct N { u(1) a; N child; u(1) b; };\n"
        "struct M { N n; };\n");
    ASSERT_TRUE(c.Ok()) << c.Error();
    std::vector<VLInstruction*> pushes = c.OfKind(VLInstructionType_PushFrame);
    ASSERT_EQ(pushes.size(), 2u);
    for (VLInstruction* push : pushes) {
        // The member count is loaded two instructions before the push-frame.
        VLInstruction* count = c.code[push->index - 2];
        ASSERT_EQ(count->type, VLInstructionType_LoadConstant);
        EXPECT_EQ(count->constant.value, 3u);
        EXPECT_EQ(push->pushFrame.memberIndex, push == pushes[0] ? 1u : 0u);
    }
    VLTypeDefinition* n = c.Type("N");
    EXPECT_EQ(n->pendingMemberCounts, nullptr);
    // Members newest first, numbered in declaration order.
    std::vector<std::string> members;
    for (VLMember* m = n->members; m; m = m->next) {
        members.push_back(Name(m->name) + "#" + std::to_string(m->appearIndex) +
                          (m->isNested ? "*" : ""));
    }
    EXPECT_EQ(members, (std::vector<std::string>{"b#2", "child#1*", "a#0"}));
}

TEST(MemberCode, HiddenPrimitiveAndPrefix) {
    Compiled c("struct S { hidden(1) pad; hidden u(1) arr[2]; };");
    ASSERT_TRUE(c.Ok()) << c.Error();
    std::vector<std::string> expected = {
        "struct S end 20",
        "l(2) <- 0",
        "index l(2)",
        "l(3) <- 1",
        "hide",
        "scalar-u pad #0 at g(1) size l(3) array - flags 0",
        "show",
        "g(1) <- g(1) + l(3)",
        "hide",  // the prefix brackets the counter and the loop too
        "l(2) <- 0",
        "index l(2)",
        "l(3) <- 2",
        "l(4) <- 1",
        "scalar-u arr #1 at g(1) size l(4) array l(3) flags 0",
        "g(1) <- g(1) + l(4)",
        "l(5) <- 1",
        "l(2) <- l(2) + l(5)",
        "l(6) <- l(2) < l(3)",
        "if l(6) goto 9",
        "show",
        "end",
    };
    std::vector<std::string> got = DescribeRange(c, 0, c.program.instructions.totalCount);
    EXPECT_EQ(got, expected);
}

TEST(MemberCode, ArrayDetectionStaysInsideTheDeclaration) {
    Compiled c(
        "struct Pt { u(1) x; };\n"
        "struct S { u(1) a; u(1) b[2]; Pt p; Pt q[a]; u(1) c; };\n");
    ASSERT_TRUE(c.Ok()) << c.Error();
    std::vector<VLInstruction*> scalars = c.OfKind(VLInstructionType_ScalarMemberU);
    ASSERT_EQ(scalars.size(), 4u);  // x, a, b, c
    EXPECT_EQ(scalars[1]->scalarExport.arrayCount.kind, VLLocationKind_None);
    EXPECT_EQ(scalars[2]->scalarExport.arrayCount.kind, VLLocationKind_Local);
    EXPECT_EQ(scalars[3]->scalarExport.arrayCount.kind, VLLocationKind_None);
    std::vector<VLInstruction*> pushes = c.OfKind(VLInstructionType_PushFrame);
    ASSERT_EQ(pushes.size(), 2u);
    EXPECT_EQ(pushes[0]->pushFrame.arrayCount.kind, VLLocationKind_None);
    EXPECT_EQ(pushes[1]->pushFrame.arrayCount.kind, VLLocationKind_Local);
    EXPECT_EQ(pushes[1]->pushFrame.memberIndex, 3u);
}

TEST(MemberCode, PlacementAndSizeTokenRanges) {
    Compiled d("enum { base = 0 };\nstruct S { @(base + 16) u(4 * 2, hex) x; string(4) s; };");
    ASSERT_TRUE(d.Ok()) << d.Error();
    std::vector<VLInstruction*> scalars = d.OfKind(VLInstructionType_ScalarMemberU);
    ASSERT_EQ(scalars.size(), 2u);
    EXPECT_EQ(TokenText(scalars[0]->scalarExport.placementFirst), "base");
    EXPECT_EQ(TokenText(scalars[0]->scalarExport.placementLast), ")");
    EXPECT_EQ(TokenText(scalars[0]->scalarExport.sizeFirst), "4");
    EXPECT_EQ(TokenText(scalars[0]->scalarExport.sizeEnd), ",");
    EXPECT_EQ(scalars[1]->scalarExport.placementFirst, nullptr);
    EXPECT_EQ(scalars[1]->scalarExport.placementLast, nullptr);
    EXPECT_EQ(TokenText(scalars[1]->scalarExport.sizeEnd), ")");
}

TEST(MemberCode, TypedefMembersReadTheirSizeFromTheGlobalSlot) {
    Compiled c("typedef s(4, hex, big) Handle;\nstruct S { Handle h; Handle k[2]; };\n");
    ASSERT_TRUE(c.Ok()) << c.Error();
    ASSERT_NE(c.program.typedefs, nullptr);
    VLLocation size = c.program.typedefs->size;
    EXPECT_EQ(size.kind, VLLocationKind_Global);
    std::vector<VLInstruction*> scalars = c.OfKind(VLInstructionType_ScalarMemberS);
    ASSERT_EQ(scalars.size(), 2u);
    for (VLInstruction* scalar : scalars) {
        EXPECT_EQ(Where(scalar->scalarExport.size), Where(size));
        EXPECT_EQ(scalar->scalarExport.flags, 0x1003u);
        EXPECT_EQ(TokenText(scalar->scalarExport.sizeFirst), "4");
    }
}

// --------------------------------------------------------------------------
// Member-flags words
// --------------------------------------------------------------------------

TEST(MemberFlags, ByDeclaration) {
    struct Case {
        const char* prefix;  // top-level statements before the struct
        const char* member;
        int32_t kind;
        uint32_t flags;
    } cases[] = {
        {"", "u(4) x;", VLInstructionType_ScalarMemberU, 0},
        {"", "s(4) x;", VLInstructionType_ScalarMemberS, 0},
        {"", "f(4) x;", VLInstructionType_ScalarMemberF, 0},
        {"", "u(4, hex, big) x;", VLInstructionType_ScalarMemberU, 0x1003},
        {"", "u(4, big, octal) x;", VLInstructionType_ScalarMemberU, 0x1002},
        {"", "s(2, binary) x;", VLInstructionType_ScalarMemberS, 1},
        {"", "raw(8) id;", VLInstructionType_ScalarMemberU, 0x103},
        {"default(endianess = big);", "raw(8) id;", VLInstructionType_ScalarMemberU, 0x103},
        {"", "raw(8, binary, big) id;", VLInstructionType_ScalarMemberU, 0x1101},
        {"default(endianess = big);", "raw(8, binary) id;", VLInstructionType_ScalarMemberU, 0x1101},
        {"", "raw(2, big) id;", VLInstructionType_ScalarMemberU, 0x1103},  // an explicit big is kept
        {"default(endianess = big);", "raw(2, little) id;", VLInstructionType_ScalarMemberU, 0x103},
        {"", "string(4, hex) tag;", VLInstructionType_ScalarMemberU, 4},
        {"default(endianess = big);", "string(4) tag;", VLInstructionType_ScalarMemberU, 4},
        {"default(endianess = big);", "u(2) x;", VLInstructionType_ScalarMemberU, 0x1000},
        {"default(endianess = big);", "u(2, little) x;", VLInstructionType_ScalarMemberU, 0},
        {"default(endianess = big);", "hidden(2, hex) x;", VLInstructionType_ScalarMemberU, 0x1003},
        {"enum Color { Red };", "Color(1) c;", VLInstructionType_ScalarMemberU, 0x103},
        {"enum Color { Red };", "Color(2, big) c;", VLInstructionType_ScalarMemberU, 0x1103},
        {"enum Color { Red }; default(endianess = big);", "Color(2) c;", VLInstructionType_ScalarMemberU,
         0x1103},
        {"enum Color { Red }; default(endianess = big);", "Color(2, little) c;",
         VLInstructionType_ScalarMemberU, 0x103},
        // An enumeration or typedef named like a primitive keyword hides it.
        {"enum u { A };", "u(4) x;", VLInstructionType_ScalarMemberU, 0x103},
        {"typedef s(2) u;", "u x;", VLInstructionType_ScalarMemberS, 0},
    };
    for (const Case& c : cases) {
        std::string text = std::string(c.prefix) + "\nstruct S { " + c.member + " };";
        Compiled compiled(text);
        ASSERT_TRUE(compiled.Ok()) << text << ": " << compiled.Error();
        VLInstruction* scalar = compiled.FirstScalar();
        ASSERT_NE(scalar, nullptr) << text;
        EXPECT_EQ(scalar->type, c.kind) << text;
        EXPECT_EQ(scalar->scalarExport.flags, c.flags) << text;
        bool isEnum = std::string(c.prefix).find("enum") != std::string::npos &&
                      std::string(c.member).find("(") != std::string::npos;
        EXPECT_EQ(scalar->scalarExport.enumeration != nullptr, isEnum) << text;
    }
}

// --------------------------------------------------------------------------
// Enumerations
// --------------------------------------------------------------------------

std::vector<std::pair<std::string, int64_t>> Values(const VLEnum* e) {
    std::vector<std::pair<std::string, int64_t>> values;
    for (VLEnumValue* v = e->values; v; v = v->next) values.emplace_back(Name(v->name), v->value);
    return values;
}

TEST(Enumerations, DeclaredValues) {
    using V = std::vector<std::pair<std::string, int64_t>>;
    struct Case {
        const char* text;
        const char* name;
        uint32_t anonymous;
        V values;
    } cases[] = {
        {"enum Color { Red, Green, Blue };", "Color", 0, {{"Red", 0}, {"Green", 1}, {"Blue", 2}}},
        {"enum anonymous Color { Red = 5, Green };", "Color", 1, {{"Red", 5}, {"Green", 6}}},
        {"enum { Lo = 1, Mid = Lo << 1, Hi = Mid << 1 };", "", 1, {{"Lo", 1}, {"Mid", 2}, {"Hi", 4}}},
        {"enum Flags { A = 1, B = A + 1, C = Flags.B * 2 };", "Flags", 0, {{"A", 1}, {"B", 2}, {"C", 4}}},
        {"enum E { X = 10, Y, Z = 3, W };", "E", 0, {{"X", 10}, {"Y", 11}, {"Z", 3}, {"W", 4}}},
        {"enum E { P Q R };", "E", 0, {{"P", 0}, {"Q", 1}, {"R", 2}}},
        {"enum E { P, Q, };", "E", 0, {{"P", 0}, {"Q", 1}}},
        {"enum E { };", "E", 0, {}},
        {"enum E { A = 'AB', B = -1, C };", "E", 0, {{"A", 0x4241}, {"B", -1}, {"C", 0}}},
        {"enum E { M = 0x7FFFFFFFFFFFFFFF, N };", "E", 0,
         {{"M", INT64_MAX}, {"N", INT64_MIN}}},  // the implicit value wraps
    };
    for (const Case& c : cases) {
        Compiled compiled(c.text);
        ASSERT_TRUE(compiled.Ok()) << c.text << ": " << compiled.Error();
        ASSERT_NE(compiled.program.enums, nullptr) << c.text;
        EXPECT_EQ(Name(compiled.program.enums->name), c.name) << c.text;
        EXPECT_EQ(compiled.program.enums->anonymous, c.anonymous) << c.text;
        EXPECT_EQ(Values(compiled.program.enums), c.values) << c.text;
    }
}

// The value an expression computes, read from the load-constant that the
// top-level print statement stores into its value slot.
TEST(Enumerations, ValuesInExpressions) {
    struct Case {
        const char* enums;
        const char* expression;
        int64_t value;  // INT64_MIN + 1: the expression has no value
    } cases[] = {
        {"enum Color { Red, Green, Blue };", "Color.Blue", 2},
        {"enum Color { Red, Green, Blue };", "1 + Color.Green * 4", 5},
        {"enum anonymous Color { Red = 5, Green };", "Color.Green", 6},
        {"enum anonymous Color { Red = 5, Green };", "Green", 6},
        {"enum { Lo = 1, Hi = 4 };", "Lo | Hi", 5},
        {"enum E { A = 1 }; enum E { A = 2 };", "E.A", 2},               // the newer E decides
        {"enum { A = 1 }; enum { A = 2 };", "A", 2},                     // the newer anonymous one
        {"enum { A = 7 }; enum Flags { A = 1, B = A + 1 };", "A", 7},    // Flags answers plain names no longer
        {"enum Color { Red, Green, Blue };", "Blue", INT64_MIN + 1},     // named: no plain names
    };
    for (const Case& c : cases) {
        std::string text = std::string(c.enums) + "\nprint(\"v\", " + c.expression + ");";
        Compiled compiled(text);
        if (c.value == INT64_MIN + 1) {
            EXPECT_EQ(compiled.Error(), "Expected integer expression.") << text;
            continue;
        }
        ASSERT_TRUE(compiled.Ok()) << text << ": " << compiled.Error();
        std::vector<VLInstruction*> prints = compiled.OfKind(VLInstructionType_Print);
        ASSERT_EQ(prints.size(), 1u) << text;
        VLInstruction* load = compiled.code[prints[0]->index - 1];
        ASSERT_EQ(load->type, VLInstructionType_LoadConstant) << text;
        EXPECT_EQ(int64_t(load->constant.value), c.value) << text;
    }
}

TEST(Enumerations, FailedStatementLeavesNoEnumeration) {
    // The statement fails after its enumeration record was made; the list is put back.
    Compiled c("enum A { X };\nenum B { Y = };");
    EXPECT_EQ(c.Error(), "Expected integer expression.");
    ASSERT_NE(c.program.enums, nullptr);
    EXPECT_EQ(Name(c.program.enums->name), "A");
    EXPECT_EQ(c.program.enums->next, nullptr);
}

// --------------------------------------------------------------------------
// Repeated compilation: nothing is kept between runs
// --------------------------------------------------------------------------

TEST(TypeTable, CompilationsAreIndependent) {
    const char* text = "struct (K, 1) A { u(1) a; };\nstruct B { K[1] k; };\nlayout B;\n";
    for (int round = 0; round < 3; ++round) {
        Compiled c(text);
        ASSERT_TRUE(c.Ok()) << c.Error();
        EXPECT_EQ(c.program.typeCount, 2u);
        EXPECT_EQ(c.program.categoryEntryCount, 1u);
        EXPECT_EQ(c.Type("B")->index, 1u);
    }
}

}  // namespace
