// CompilerTests.cpp - statements and expressions, checked on compiled
// layouts: folded values, the code of non-constant expressions (precedence,
// associativity, prefix operators, operands), assignments, the jump shapes of
// if / else if / else, while, do and for, slot reuse and numbering, names and
// member paths, sizeof and has_type, and the error chosen for a statement
// with its exact message and token. Listings are compared in the -debug
// text, one "number  text" line per instruction.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Compiler.h"
#include "TestSupport.h"

namespace {

struct Compiled {
    VLArena arena = {};
    std::string text;
    VLProgram program = {};

    explicit Compiled(std::string source) : text(std::move(source)) {
        VLScanResult scan = VLTokenize(text.c_str(), &arena);
        EXPECT_EQ(scan.invalidTokens, nullptr) << text;
        program = VLCompile(scan.tokens, &arena);
    }
    ~Compiled() { VLArenaRelease(&arena); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;

    bool Ok() const { return !VLErrorIsValid(&program.error); }
    std::string Error() const {
        return Ok() ? "" : std::string(program.error.message, program.error.length);
    }
    std::string ErrorToken() const {
        if (!program.error.token) return "<end>";
        VLString s = VLTokenText(program.error.token);
        return std::string(s.chars, s.length);
    }
    uint32_t Count() const { return program.instructions.totalCount; }
    VLInstruction* At(uint32_t number) const { return VLInstructionPointer(&program.instructions, number); }
    // "number  text" lines from `from` on, as the listing prints them.
    std::string Listing(uint32_t from = 0) const {
        std::string result;
        for (uint32_t i = from; i < Count(); ++i) {
            VLWriter writer;
            VLWriterInitMemory(&writer);
            VLPrintInstruction(&writer, At(i), 0, nullptr);
            result += std::to_string(i) + "  " + std::string(writer.buffer, writer.used) + "\n";
            VLWriterFree(&writer);
        }
        return result;
    }
    uint32_t MaxSlot() const {
        uint32_t most = 0;
        for (uint32_t i = 0; i < Count(); ++i) {
            const VLInstruction* in = At(i);
            VLLocation locations[] = {in->destination};
            for (VLLocation l : locations) most = l.index > most ? l.index : most;
            if (in->type >= VLInstructionType_FirstUnary && in->type <= VLInstructionType_LastUnary)
                most = in->unary.operand.index > most ? in->unary.operand.index : most;
            if (in->type >= VLInstructionType_FirstBinary && in->type <= VLInstructionType_LastBinary) {
                most = in->binary.left.index > most ? in->binary.left.index : most;
                most = in->binary.right.index > most ? in->binary.right.index : most;
            }
        }
        return most;
    }
};

std::string Text(const VLToken* token) {
    if (!token) return "<end>";
    VLString s = VLTokenText(token);
    return std::string(s.chars, s.length);
}

// ---------------------------------------------------------------------------
// Folding
// ---------------------------------------------------------------------------

TEST(Expressions, ConstantExpressionsFoldToOneLoad) {
    const struct {
        const char* expression;
        int64_t value;
    } cases[] = {
        {"1 + 2 * 3", 7},
        {"(1 + 2) * 3", 9},
        {"2 - 3 - 4", -5},
        {"1 << 2 + 1", 8},
        {"10 - 2 * 3 + 1", 5},
        {"1 | 2 ^ 3 & 4", 3},
        {"6 & 3 == 3", 0},
        {"1 + 2 == 3 && 4 > 3", 1},
        {"0 || 0 && 1", 0},
        {"100 - (10 - (5 - 1))", 94},
        {"2 * (3 + (4 - 1)) % 5", 2},
        {"-2 * 3", -6},
        {"-(2 * 3)", -6},
        {"!0 == 1", 1},
        {"!(2 - 2) + 5", 6},
        {"abs -5", 5},
        {"abs(-5)", 5},
        {"- - 3", 3},
        {"-(3) + 1", -2},
        {"7 / -2", -3},
        {"7 % -2", 1},
        {"-7 % 2", -1},
        {"1 << 64", 1},
        {"1 << 65", 2},
        {"-8 >> 1", -4},
        {"5 && 0", 0},
        {"0 || -3", 1},
        {"!7", 0},
        {"-1 < 1", 1},
        {"'AB'", 0x4241},
        {"0x10 + 0b11 + 017", 16 + 3 + 15},
        {"(-9223372036854775807 - 1) / -1", INT64_MIN},
    };
    for (const auto& c : cases) {
        Compiled compiled(std::string("print(\"v\", ") + c.expression + ");");
        ASSERT_TRUE(compiled.Ok()) << c.expression << ": " << compiled.Error();
        std::string want = "0  l(2) <- " + std::to_string(uint64_t(c.value)) + "\n1  print(\"v\" l(2))\n";
        EXPECT_EQ(compiled.Listing(), want) << c.expression;
    }
}

// ---------------------------------------------------------------------------
// Code of non-constant expressions, inside a body with a = l(2); print's
// value slot is l(3), so temporaries start at l(4).
// ---------------------------------------------------------------------------

TEST(Expressions, NonConstantOperandsEmitCodeByPrecedence) {
    const struct {
        const char* expression;
        const char* code;  // listing from the print's value onwards
    } cases[] = {
        {"a", "l(3) <- l(2)\n"},
        {"a + 1", "l(5) <- 1\nl(4) <- l(2) + l(5)\nl(3) <- l(4)\n"},
        {"1 + 2 + a", "l(5) <- 3\nl(4) <- l(5) + l(2)\nl(3) <- l(4)\n"},
        {"a + 1 + 2", "l(5) <- 1\nl(4) <- l(2) + l(5)\nl(7) <- 2\nl(6) <- l(4) + l(7)\nl(3) <- l(6)\n"},
        {"a - a * 2", "l(5) <- 2\nl(4) <- l(2) * l(5)\nl(6) <- l(2) - l(4)\nl(3) <- l(6)\n"},
        {"a * (1 + 2)", "l(5) <- 3\nl(4) <- l(2) * l(5)\nl(3) <- l(4)\n"},
        {"-a", "l(4) <- -l(2)\nl(3) <- l(4)\n"},
        {"!a", "l(4) <- !l(2)\nl(3) <- l(4)\n"},
        {"abs a", "l(4) <- abs(l(2))\nl(3) <- l(4)\n"},
        {"-a * 2", "l(4) <- -l(2)\nl(6) <- 2\nl(5) <- l(4) * l(6)\nl(3) <- l(5)\n"},
        {"-(a + 1)", "l(5) <- 1\nl(4) <- l(2) + l(5)\nl(6) <- -l(4)\nl(3) <- l(6)\n"},
        {"@", "l(3) <- g(1)\n"},
        {"current_address()", "l(3) <- g(1)\n"},
        {"size_of_file", "l(4) <- size-of-file\nl(3) <- l(4)\n"},
        {"@ + size_of_file", "l(4) <- size-of-file\nl(5) <- g(1) + l(4)\nl(3) <- l(5)\n"},
    };
    for (const auto& c : cases) {
        Compiled compiled(std::string("struct S { var a = 5; print(\"v\", ") + c.expression + "); };");
        ASSERT_TRUE(compiled.Ok()) << c.expression << ": " << compiled.Error();
        // 0 start, 1 a's load; then the code, the print and the end.
        std::string listing = compiled.Listing(2);
        std::string code;
        uint32_t number = 2;
        for (size_t at = 0; c.code[at];) {
            const char* end = strchr(c.code + at, '\n');
            code += std::to_string(number++) + "  " + std::string(c.code + at, end - (c.code + at)) + "\n";
            at = end - c.code + 1;
        }
        code += std::to_string(number) + "  print(\"v\" l(3))\n";
        code += std::to_string(number + 1) + "  end struct-definition\n";
        EXPECT_EQ(listing, code) << c.expression;
    }
}

// ---------------------------------------------------------------------------
// Assignments
// ---------------------------------------------------------------------------

TEST(Assignments, CompoundSourceIsNotParenthesised) {
    Compiled compiled("struct S { var x; x -= 1 + 2; };");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    EXPECT_EQ(compiled.Listing(1),
              "1  l(2) <- 0\n"
              "2  l(4) <- 1\n"
              "3  l(3) <- l(2) - l(4)\n"
              "4  l(6) <- 2\n"
              "5  l(5) <- l(3) + l(6)\n"
              "6  l(2) <- l(5)\n"
              "7  end struct-definition\n");
}

TEST(Assignments, EveryOperatorAndTheCursorAsTarget) {
    const struct {
        const char* op;
        int32_t kind;  // 0: plain assignment
    } cases[] = {
        {"<<=", VLInstructionType_ShiftLeft}, {">>=", VLInstructionType_ShiftRight},
        {"^=", VLInstructionType_BitwiseXor}, {"|=", VLInstructionType_BitwiseOr},
        {"&=", VLInstructionType_BitwiseAnd}, {"%=", VLInstructionType_Modulo},
        {"/=", VLInstructionType_Divide},     {"*=", VLInstructionType_Multiply},
        {"-=", VLInstructionType_Subtract},   {"+=", VLInstructionType_Add},
        {"=", 0},
    };
    for (const auto& c : cases) {
        Compiled compiled(std::string("struct S { @ ") + c.op + " 4; };");
        ASSERT_TRUE(compiled.Ok()) << c.op << ": " << compiled.Error();
        if (c.kind == 0) {
            EXPECT_EQ(compiled.Listing(1), "1  g(1) <- 4\n2  end struct-definition\n") << c.op;
            continue;
        }
        ASSERT_EQ(compiled.Count(), 5u) << c.op;
        EXPECT_EQ(compiled.At(2)->type, c.kind) << c.op;
        EXPECT_EQ(compiled.At(2)->binary.left.kind, VLLocationKind_Global);
        VLInstruction* copy = compiled.At(3);
        EXPECT_EQ(copy->type, VLInstructionType_Copy);
        EXPECT_EQ(copy->destination.kind, VLLocationKind_Global);
        EXPECT_EQ(copy->destination.index, 1u);
    }
}

TEST(Assignments, TheNewestLocalOfANameIsTheTarget) {
    Compiled compiled("struct S { var x; var x; x = 1; };");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    EXPECT_EQ(compiled.Listing(1), "1  l(2) <- 0\n2  l(3) <- 0\n3  l(3) <- 1\n4  end struct-definition\n");
}

// ---------------------------------------------------------------------------
// Statements allowed everywhere
// ---------------------------------------------------------------------------

TEST(Statements, PrintMessagesAndValues) {
    Compiled compiled("print(\"n\"); print('a\\n', 1); print((1 + 2) * 3);");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    EXPECT_EQ(compiled.Listing(),
              "0  print(\"n\" \?\?\?(0))\n"
              "1  l(2) <- 1\n"
              "2  print('a\\n' l(2))\n"
              "3  l(2) <- 9\n"
              "4  print(((1 + 2) * 3) l(2))\n");
}

TEST(Statements, AssertAndBreakpointGiveTheirSlotsBack) {
    Compiled compiled("assert(1); breakpoint(); assert(2 == 2);");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    EXPECT_EQ(compiled.Listing(), "0  l(2) <- 1\n1  assert(l(2))\n2  breakpoint\n3  l(2) <- 1\n4  assert(l(2))\n");
    EXPECT_EQ(Text(compiled.At(1)->assertion.token), "assert");
}

TEST(Statements, EmptyTokenListCompilesToAnEmptyProgram) {
    Compiled compiled("  // nothing\n");
    EXPECT_TRUE(compiled.Ok());
    EXPECT_EQ(compiled.Count(), 0u);
    EXPECT_NE(compiled.program.instructions.last, nullptr);
    EXPECT_EQ(compiled.program.arena, &compiled.arena);
}

TEST(Statements, DefaultByteOrderAppliesToLaterMembers) {
    Compiled compiled("struct A { u(2) x; }; default(endianess = big); struct B { u(2) y; };");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    std::vector<uint32_t> flags;
    for (uint32_t i = 0; i < compiled.Count(); ++i) {
        if (compiled.At(i)->type == VLInstructionType_ScalarMemberU) flags.push_back(compiled.At(i)->scalarExport.flags);
    }
    EXPECT_EQ(flags, (std::vector<uint32_t>{0, VLMemberFlag_BigEndian}));
}

TEST(Statements, TwoLayoutsGiveTwoCallSequencesInOrder) {
    Compiled compiled("struct A { }; struct B { }; layout B; layout A;");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    std::vector<uint32_t> targets;
    for (uint32_t i = 0; i < compiled.Count(); ++i) {
        const VLInstruction* in = compiled.At(i);
        if (in->type == VLInstructionType_Goto) targets.push_back(in->jump.targetIndex);
    }
    // A is 0..1, B is 2..3.
    EXPECT_EQ(targets, (std::vector<uint32_t>{2, 0}));
}

TEST(Statements, TypedefTakesAGlobalSlotThatStays) {
    Compiled compiled("typedef u(4, hex) Handle; typedef s(2) Short; assert(1);");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    EXPECT_EQ(compiled.Listing(), "0  g(2) <- 4\n1  g(3) <- 2\n2  l(4) <- 1\n3  assert(l(4))\n");
    ASSERT_NE(compiled.program.typedefs, nullptr);
    EXPECT_EQ(std::string(compiled.program.typedefs->name.chars, compiled.program.typedefs->name.length), "Short");
    EXPECT_EQ(compiled.program.typedefs->size.kind, VLLocationKind_Global);
    EXPECT_EQ(compiled.program.typedefs->size.index, 3u);
}

// ---------------------------------------------------------------------------
// Jump shapes. Targets name the instruction after which execution continues.
// ---------------------------------------------------------------------------

TEST(ControlFlow, JumpShapes) {
    const struct {
        const char* body;
        const char* listing;  // from instruction 1 (after the start)
    } cases[] = {
        {"if (1) { breakpoint(); }",
         "1  l(2) <- 1\n2  l(2) <- !l(2)\n3  conditional-goto(l(2)) 5\n4  breakpoint\n5  goto 5\n"},
        {"if (1) { breakpoint(); } else { assert(0); }",
         "1  l(2) <- 1\n2  l(2) <- !l(2)\n3  conditional-goto(l(2)) 5\n4  breakpoint\n5  goto 7\n"
         "6  l(2) <- 0\n7  assert(l(2))\n"},
        {"if (1) { } else if (2) { breakpoint(); } else if (3) { } else { breakpoint(); }",
         "1  l(2) <- 1\n2  l(2) <- !l(2)\n3  conditional-goto(l(2)) 4\n4  goto 14\n"
         "5  l(2) <- 2\n6  l(2) <- !l(2)\n7  conditional-goto(l(2)) 9\n8  breakpoint\n9  goto 14\n"
         "10  l(2) <- 3\n11  l(2) <- !l(2)\n12  conditional-goto(l(2)) 13\n13  goto 14\n14  breakpoint\n"},
        {"if (1) { } else if (2) { breakpoint(); }",
         "1  l(2) <- 1\n2  l(2) <- !l(2)\n3  conditional-goto(l(2)) 4\n4  goto 9\n"
         "5  l(2) <- 2\n6  l(2) <- !l(2)\n7  conditional-goto(l(2)) 9\n8  breakpoint\n9  goto 9\n"},
        {"while (1) { breakpoint(); }",
         "1  l(2) <- 1\n2  l(2) <- !l(2)\n3  conditional-goto(l(2)) 5\n4  breakpoint\n5  goto 0\n"},
        {"do { breakpoint(); } while (1);",
         "1  breakpoint\n2  l(2) <- 1\n3  conditional-goto(l(2)) 0\n"},
        {"for (var i = 0; i < 4; i += 1) { breakpoint(); }",
         "1  l(2) <- 0\n2  l(5) <- 4\n3  l(4) <- l(2) < l(5)\n4  l(3) <- l(4)\n5  l(3) <- !l(3)\n"
         "6  conditional-goto(l(3)) 11\n7  breakpoint\n8  l(5) <- 1\n9  l(4) <- l(2) + l(5)\n"
         "10  l(2) <- l(4)\n11  goto 1\n"},
        {"for (; 1;) { }",
         "1  l(2) <- 1\n2  l(2) <- !l(2)\n3  conditional-goto(l(2)) 4\n4  goto 0\n"},
        // Blocks nest; each loop starts after the instruction before it.
        {"var k = 2; while (k) { if (k == 1) { breakpoint(); } k -= 1; }",
         "1  l(2) <- 2\n2  l(3) <- l(2)\n3  l(3) <- !l(3)\n4  conditional-goto(l(3)) 15\n"
         "5  l(6) <- 1\n6  l(5) <- l(2) == l(6)\n7  l(4) <- l(5)\n8  l(4) <- !l(4)\n"
         "9  conditional-goto(l(4)) 11\n10  breakpoint\n11  goto 11\n"
         "12  l(5) <- 1\n13  l(4) <- l(2) - l(5)\n14  l(2) <- l(4)\n15  goto 1\n"},
    };
    for (const auto& c : cases) {
        Compiled compiled(std::string("struct S { ") + c.body + " };");
        ASSERT_TRUE(compiled.Ok()) << c.body << ": " << compiled.Error();
        std::string want = std::string("0  start struct-definition S\n") + c.listing;
        want += std::to_string(compiled.Count() - 1) + "  end struct-definition\n";
        EXPECT_EQ(compiled.Listing(), want) << c.body;
        EXPECT_EQ(compiled.At(0)->structDefinition.endIndex, compiled.Count() - 1) << c.body;
    }
}

TEST(ControlFlow, JumpsAcrossTheChunkBoundary) {
    std::string body = "struct S { while (1) { ";
    for (int i = 0; i < 300; ++i) body += "breakpoint(); ";
    body += "} };";
    Compiled compiled(body);
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    ASSERT_EQ(compiled.Count(), 306u);
    VLInstruction* back = compiled.At(304);
    EXPECT_EQ(back->type, VLInstructionType_Goto);
    EXPECT_EQ(back->jump.targetIndex, 0u);
    EXPECT_EQ(compiled.At(3)->jump.targetIndex, 304u);
    VLInstructionPosition position = VLInstructionAt(&compiled.program.instructions, 304);
    EXPECT_EQ(position.chunk, compiled.program.instructions.first->next);
    EXPECT_EQ(position.place, 48u);
}

// ---------------------------------------------------------------------------
// Slots
// ---------------------------------------------------------------------------

TEST(Slots, LoopConditionsStayTakenAndForGivesEverythingBack) {
    Compiled compiled(
        "struct S { while (1) { } do { } while (1); var a; "
        "for (var i = 0; i < 1; i += 1) { var inner; while (1) { } } var b; };");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    // while: l(2); do tail: l(3); a: l(4); the for takes l(5).. and gives them
    // back, so b gets l(5) again.
    std::vector<uint32_t> loads;
    for (uint32_t i = 0; i < compiled.Count(); ++i) {
        const VLInstruction* in = compiled.At(i);
        if (in->type == VLInstructionType_LoadConstant && in->constant.value == 0) loads.push_back(in->destination.index);
    }
    // a, i, inner, b
    EXPECT_EQ(loads, (std::vector<uint32_t>{4, 5, 7, 5}));
}

TEST(Slots, LocalsOfAForLoopEndWithIt) {
    Compiled outside("struct S { for (var i = 0; i < 2; i += 1) { } var k = 7; print(\"i\", i); };");
    EXPECT_EQ(outside.Error(), "Expected integer expression.");
    Compiled shadow("struct S { var i = 9; for (var i = 0; i < 2; i += 1) { } print(\"i\", i); };");
    ASSERT_TRUE(shadow.Ok()) << shadow.Error();
    const VLInstruction* copy = shadow.At(shadow.Count() - 3);
    EXPECT_EQ(copy->type, VLInstructionType_Copy);
    EXPECT_EQ(copy->unary.operand.index, 2u);  // the outer i
}

TEST(Slots, LongLayoutsAreNumberedPerBody) {
    std::string text;
    for (int i = 0; i < 40; ++i) {
        text += "struct S" + std::to_string(i) + "(var p) { var a = p; var b = a + 1; };\n";
    }
    text += "struct T { S39(5) s; var q = 1; };\nlayout T;\n";
    Compiled compiled(text);
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    EXPECT_LT(compiled.MaxSlot(), 64u);
    // In every body the parameter is slot 2 and the first local slot 3.
    for (uint32_t i = 0; i < compiled.Count(); ++i) {
        const VLInstruction* in = compiled.At(i);
        if (in->type != VLInstructionType_StartStructDefinition || in->structDefinition.name.chars[0] != 'S') continue;
        const VLInstruction* first = compiled.At(i + 1);
        EXPECT_EQ(first->type, VLInstructionType_Copy);
        EXPECT_EQ(first->destination.index, 3u);
        EXPECT_EQ(first->unary.operand.index, 2u);
    }
}

TEST(Slots, ShortLayoutsKeepTheFileWideNumbering) {
    Compiled compiled("struct A(var p) { var a; }; struct B { var b; };");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    // p reserves counter 0 (slot 2), a takes slot 3; B continues with slot 4.
    EXPECT_EQ(compiled.Listing(),
              "0  start struct-definition A\n1  l(3) <- 0\n2  end struct-definition\n"
              "3  start struct-definition B\n4  l(4) <- 0\n5  end struct-definition\n");
}

// ---------------------------------------------------------------------------
// Names, paths and special operands
// ---------------------------------------------------------------------------

TEST(Names, LocalsThenParametersThenMembers) {
    Compiled local("struct S { u(1) x; var x = 3; print(\"v\", x); };");
    ASSERT_TRUE(local.Ok()) << local.Error();
    EXPECT_EQ(local.At(local.Count() - 3)->unary.operand.index, local.At(local.Count() - 4)->destination.index);

    Compiled parameter("struct S(var x) { u(1) x; print(\"v\", x); };");
    ASSERT_TRUE(parameter.Ok()) << parameter.Error();
    const VLInstruction* copy = parameter.At(parameter.Count() - 3);
    EXPECT_EQ(copy->type, VLInstructionType_Copy);
    EXPECT_EQ(copy->unary.operand.index, 2u);
}

TEST(Names, MemberPathsFetchByAppearanceNumber) {
    Compiled compiled(
        "struct H { u(1) count; u(1) kind; };\n"
        "struct S { H hdr; H items[4]; print(\"v\", hdr.count); print(\"w\", items[3].kind); };");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    std::vector<const VLInstruction*> fetches;
    for (uint32_t i = 0; i < compiled.Count(); ++i) {
        if (compiled.At(i)->type == VLInstructionType_ValueOfMember) fetches.push_back(compiled.At(i));
    }
    ASSERT_EQ(fetches.size(), 2u);
    // hdr.count: two loads of 0, then the two-step fetch.
    const VLInstruction* first = fetches[0];
    ASSERT_EQ(first->fetch.pathCount, 2u);
    EXPECT_EQ(first->fetch.path[0].memberIndex, 0u);
    EXPECT_EQ(first->fetch.path[1].memberIndex, 0u);
    const VLInstruction* before = compiled.At(first->index - 1);
    const VLInstruction* twoBefore = compiled.At(first->index - 2);
    EXPECT_EQ(twoBefore->type, VLInstructionType_LoadConstant);
    EXPECT_EQ(before->type, VLInstructionType_LoadConstant);
    EXPECT_EQ(first->fetch.path[0].arrayIndex.index, twoBefore->destination.index);
    EXPECT_EQ(first->fetch.path[1].arrayIndex.index, before->destination.index);
    EXPECT_EQ(Text(first->fetch.first), "hdr");
    EXPECT_EQ(Text(first->fetch.end), ")");
    // items[3].kind: the element number 3 in the first step's slot.
    const VLInstruction* second = fetches[1];
    ASSERT_EQ(second->fetch.pathCount, 2u);
    EXPECT_EQ(second->fetch.path[0].memberIndex, 1u);
    EXPECT_EQ(second->fetch.path[1].memberIndex, 1u);
    bool loadsThree = false;
    for (uint32_t i = 0; i < second->index; ++i) {
        const VLInstruction* in = compiled.At(i);
        if (in->type == VLInstructionType_LoadConstant && in->constant.value == 3 &&
            in->destination.index == second->fetch.path[0].arrayIndex.index)
            loadsThree = true;
    }
    EXPECT_TRUE(loadsThree);
}

TEST(Names, ANameThatIsNoOperandIsTriedAsAnEnumerationValue) {
    Compiled compiled("enum anonymous { Red = 7 };\nstruct S { print(\"v\", Red); };");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    EXPECT_EQ(compiled.At(compiled.Count() - 3)->type, VLInstructionType_LoadConstant);
    EXPECT_EQ(compiled.At(compiled.Count() - 3)->constant.value, 7u);

    Compiled category(
        "struct (K, 1) One { u(1) v; };\nenum anonymous { body = 4 };\n"
        "struct S { K[1] body; print(\"v\", body.v); };");
    EXPECT_EQ(category.Error(), "Expected punctuation )");
    EXPECT_EQ(category.ErrorToken(), ".");
}

TEST(Names, PathsOfMoreThanSixteenStepsAreRejected) {
    std::string text = "struct N0 { u(1) v; };\n";
    for (int i = 1; i <= 17; ++i) {
        text += "struct N" + std::to_string(i) + " { N" + std::to_string(i - 1) + " n; };\n";
    }
    std::string path16 = "n.n.n.n.n.n.n.n.n.n.n.n.n.n.n.v";
    Compiled fits(text + "struct S { N14 n; print(\"v\", " + path16 + "); };");
    EXPECT_TRUE(fits.Ok()) << fits.Error();
    Compiled tooLong(text + "struct S { N15 n; print(\"v\", n." + path16 + "); };");
    EXPECT_EQ(tooLong.Error(), "Member path too long (at most 16 steps).");
    EXPECT_EQ(tooLong.ErrorToken(), "v");
}

TEST(Operands, SizeofMeasuresADetachedInstanceAndRestoresTheCursor) {
    Compiled plain("struct T { u(2) a; };\nstruct S { var n = sizeof(T); };");
    ASSERT_TRUE(plain.Ok()) << plain.Error();
    EXPECT_EQ(plain.Listing(8),
              "8  hide-members\n"
              "9  l(4) <- g(1)\n"
              "10  l(5) <- 1\n"
              "11  l(6) <- 0\n"
              "12  push-frame\n"
              "13  l(0) <- 14\n"
              "14  goto 0\n"
              "15  pop-frame\n"
              "16  show-members\n"
              "17  l(3) <- g(1) - l(4)\n"
              "18  g(1) <- l(4)\n"
              "19  l(2) <- l(3)\n"
              "20  end struct-definition\n");
    EXPECT_EQ(plain.At(12)->pushFrame.detached, 1u);

    Compiled placed("struct T { u(2) a; };\nstruct S { var n = sizeof(@(16) T); };");
    ASSERT_TRUE(placed.Ok()) << placed.Error();
    EXPECT_EQ(placed.Listing(8),
              "8  hide-members\n"
              "9  l(4) <- g(1)\n"
              "10  g(1) <- 16\n"
              "11  l(5) <- g(1)\n"
              "12  l(6) <- 1\n"
              "13  l(7) <- 0\n"
              "14  push-frame\n"
              "15  l(0) <- 16\n"
              "16  goto 0\n"
              "17  pop-frame\n"
              "18  show-members\n"
              "19  l(3) <- g(1) - l(5)\n"
              "20  g(1) <- l(4)\n"
              "21  l(2) <- l(3)\n"
              "22  end struct-definition\n");
}

TEST(Operands, HasTypeLooksUpTheCategory) {
    Compiled compiled("struct (K, 1) One { };\nstruct S { var t = has_type(K, 1 + 1); };");
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    EXPECT_EQ(compiled.Listing(3),
              "3  l(3) <- 2\n4  l(3) <- has-type 0 [l(3)]\n5  l(2) <- l(3)\n6  end struct-definition\n");
    Compiled unknown("struct S { var t = has_type(Nope, 1); };");
    EXPECT_EQ(unknown.Error(), "Unrecognized category Nope.");
    EXPECT_EQ(unknown.ErrorToken(), ")");
}

// ---------------------------------------------------------------------------
// Lookups by name in long lists: members of large structs, many categories,
// many enumerations. The answers are those of a walk over the lists, newest
// first.
// ---------------------------------------------------------------------------

// The value a print statement's expression folded to, or nothing when the
// layout does not compile.
std::string PrintedConstant(const std::string& layout) {
    Compiled compiled(layout);
    if (!compiled.Ok()) return "error: " + compiled.Error();
    for (uint32_t i = 1; i < compiled.Count(); ++i) {
        if (compiled.At(i)->type != VLInstructionType_Print) continue;
        const VLInstruction* load = compiled.At(i - 1);
        if (load->type != VLInstructionType_LoadConstant) return "not constant";
        return std::to_string(int64_t(load->constant.value));
    }
    return "no print";
}

TEST(Lookups, EnumerationNamesAndPlainValuesNewestFirst) {
    const struct {
        const char* enums;
        const char* expression;
        const char* value;
    } cases[] = {
        {"enum Foo { A = 2 }; enum { Foo = 7 };", "Foo", "7"},           // a newer plain value hides the name
        {"enum { Foo = 7 }; enum Foo { A = 2 };", "Foo.A", "2"},         // a newer name hides the value
        {"enum anonymous Foo { Foo = 3 };", "Foo.Foo", "3"},             // one enumeration: its name first
        {"enum { V = 1, V = 2 };", "V", "1"},                            // the first value of a name
        {"enum { K = 5 }; enum E { K = 9, L = K + 1 };", "E.L", "10"},   // the one being declared first
        {"enum { K = 5 }; enum E { K = 9, L = K + 1 };", "K", "5"},      // ...but only while declared
        {"enum E { A = 1, B = E.A + 1 };", "E.B", "2"},
        {"enum E { A = 1 }; enum { E = 4 }; enum E { A = 6 };", "E.A", "6"},
        {"enum E { A = 1 }; enum { Z = 4 };", "Z + E.A", "5"},
        {"enum E { A = 1 };", "1 + E.B", "error: Expected enum value of E."},
    };
    for (const auto& c : cases) {
        std::string layout = std::string(c.enums) + "\nprint(\"v\", " + c.expression + ");";
        EXPECT_EQ(PrintedConstant(layout), c.value) << layout;
    }

    // Hundreds of enumerations, named and plain, each found by its own name.
    std::string many;
    for (int k = 0; k < 300; ++k) {
        many += "enum E" + std::to_string(k) + " { A = " + std::to_string(k) + " };\n";
        many += "enum { V" + std::to_string(k) + " = " + std::to_string(1000 + k) + " };\n";
    }
    for (int k : {0, 1, 150, 299}) {
        std::string n = std::to_string(k);
        EXPECT_EQ(PrintedConstant(many + "print(\"v\", E" + n + ".A);"), n);
        EXPECT_EQ(PrintedConstant(many + "print(\"v\", V" + n + ");"), std::to_string(1000 + k));
    }
}

TEST(Lookups, MembersOfLargeStructsNewestOfAName) {
    // Below and above the member count from which members are looked up by index.
    for (int count : {2, 15, 16, 17, 60}) {
        std::string layout = "struct S {\n    u(1) dup;\n";
        for (int k = 1; k < count - 1; ++k) layout += "    u(1) m" + std::to_string(k) + ";\n";
        layout += "    u(1) dup;\n    var x = dup;\n";
        if (count > 2) layout += "    var y = m1;\n";
        layout += "};";
        Compiled compiled(layout);
        ASSERT_TRUE(compiled.Ok()) << compiled.Error();
        std::vector<uint32_t> named;
        for (uint32_t i = 0; i < compiled.Count(); ++i) {
            const VLInstruction* in = compiled.At(i);
            if (in->type == VLInstructionType_ValueOfMember) named.push_back(in->fetch.path[0].memberIndex);
        }
        ASSERT_EQ(named.size(), count > 2 ? 2u : 1u) << count;
        EXPECT_EQ(named[0], uint32_t(count - 1)) << count;  // the later "dup"
        if (count > 2) {
            EXPECT_EQ(named[1], 1u) << count;
        }
        // A name no member has is no member path.
        Compiled unknown(layout.substr(0, layout.size() - 2) + "var z = nothing; };");
        EXPECT_EQ(unknown.Error(), "Expected integer expression.") << count;
    }
}

TEST(Lookups, ManyCategoriesKeepTheirNumbersAndEntries) {
    std::string layout;
    for (int k = 0; k < 200; ++k) layout += "struct (C" + std::to_string(k) + ", 1) T" + std::to_string(k) + " { };\n";
    layout += "struct (C7, 2) Again { };\n";
    layout += "struct S { var a = has_type(C0, 1); var b = has_type(C199, 1); var c = has_type(C7, 2); };";
    Compiled compiled(layout);
    ASSERT_TRUE(compiled.Ok()) << compiled.Error();
    std::vector<uint32_t> tested;
    for (uint32_t i = 0; i < compiled.Count(); ++i) {
        if (compiled.At(i)->type == VLInstructionType_HasType) tested.push_back(compiled.At(i)->typeLookup.categoryIndex);
    }
    EXPECT_EQ(tested, (std::vector<uint32_t>{0, 199, 7}));
    ASSERT_EQ(compiled.program.categoryEntryCount, 201u);
    // Categories in creation order, each one's types newest first: C7 holds Again, then T7.
    EXPECT_EQ(compiled.program.categoryEntries[7].categoryIndex, 7u);
    EXPECT_EQ(compiled.program.categoryEntries[7].key, 2);
    EXPECT_EQ(compiled.program.categoryEntries[8].categoryIndex, 7u);
    EXPECT_EQ(compiled.program.categoryEntries[8].key, 1);
    EXPECT_EQ(compiled.program.categoryEntries[200].categoryIndex, 199u);

    Compiled mismatch(layout + "\nstruct (C150, 3) P(var p) { };");
    EXPECT_EQ(mismatch.Error(),
              "Inconsistent parameter count for category, 0 was previously recorded but trying to add type with 1.");
}

// ---------------------------------------------------------------------------
// Errors: the statement's chosen error, its exact message and its token
// ---------------------------------------------------------------------------

TEST(Errors, MessageAndTokenOfTheChosenAttempt) {
    const struct {
        const char* layout;
        const char* message;
        const char* token;
    } cases[] = {
        // top level: every attempt fails on the first word, the last one wins
        {"hello;", "Expected identifier typedef", "hello"},
        {"breakpoint;", "Expected punctuation (", ";"},
        // a form led by a keyword counts only when the statement begins with it
        {"print;", "Expected punctuation (", ";"},
        {"struct;", "Expected identifier.", ";"},
        {"enum;", "Expected punctuation {", ";"},
        {"while (1) { }", "Expected identifier typedef", "while"},
        {"struct S { if x; };", "Expected 'type' or 'category[identifier]'.", "if"},
        {"default(endianess = middle);", "Expected identifier little or big", "middle"},
        {"default(endianness = big);", "Expected identifier endianess", "endianness"},
        {"var x = 1;", "Local variables (var) are only allowed inside a struct body.", "var"},
        {"assert x;", "Expected punctuation (", "x"},
        {"assert();", "Expected integer expression.", ")"},
        {"print(\"a\", (1 + 2;", "Expected integer expression.", ";"},
        {"print(\"a\", 1 + );", "Expected integer expression.", ")"},
        {"print(\"a\", -);", "Expected integer expression.", ")"},
        {"print(\"x\", 1 ! 2);", "Expected punctuation )", "2"},
        {"print(\"a\", 10 / 0);", "Division by zero", ")"},
        {"print(\"a\", 10 % (2 - 2));", "Division by zero", ")"},
        {"print(1 + 2;", "Expected ) to close this (.", "("},
        {"layout Nothing;", "Expected 'type' or 'category[identifier]'.", "Nothing"},
        // enumeration values inside expressions
        {"enum Color { Red }; print(\"a\", Color.Purple);", "Expected integer expression.", ")"},
        {"enum Color { Red }; print(\"a\", 1 + Color.Purple);", "Expected enum value of Color.", ")"},
        {"enum Color { Red }; print(\"a\", -Color.Purple);", "Expected enum value of Color.", ")"},
        {"enum Color { Red }; print(\"b\", Red);", "Expected integer expression.", ")"},
        // struct bodies
        // a word that names no local fails as assignment and as member declaration
        // after one token each: the later attempt, the member declaration, wins
        {"struct S { x = 1; };", "Expected 'type' or 'category[identifier]'.", "x"},
        {"struct S { var x; x == 1; };", "Expected 'type' or 'category[identifier]'.", "x"},
        {"struct S { var x; x = 1 2 3; };", "Expected punctuation ;", "3"},
        {"struct S { u(1) a; }\nlayout S;", "Expected punctuation ;", "layout"},
        {"struct S { u(1) a;", "Struct S is not closed: expected }; before the end of the layout.", "<end>"},
        {"struct S { while (1) { u(1) a;", "A block in struct S is not closed: expected } before the end of the layout.",
         "<end>"},
        {"struct S { var x; for (x = 0; 1;) { } };", "Expected identifier var", "x"},
        {"struct S { var x; for (; 1; x == 1) { } };",
         "Expected punctuation <<= >>= ^= |= &= %= /= *= -= += or =", "=="},
        {"struct S { for (; 1;", "Expected ) to close this (.", "("},
        // the increment clause is compiled by the closing brace's attempt,
        // which has consumed the brace: the target's message is reported
        {"struct S { for (; 1; y += 1) { } };", "Expected local variable or @, got 'y'.", "y"},
        {"struct S { for (; 1; 5 += 1) { } };", "Expected local variable or @, got '5'.", "5"},
        {"struct S { do { } while 1; };", "Expected punctuation (", "1"},
        {"struct S { if (1) { } else if (1) x; };", "Expected punctuation {", "x"},
        // else only right after the "}" of an if or else-if block
        {"struct S { if (1) { else { } } };", "Expected 'type' or 'category[identifier]'.", "else"},
        {"struct S { while (1) { } else { } };", "Expected 'type' or 'category[identifier]'.", "else"},
        // a statement that starts with a number never shows the placeholder
        {"struct S { 5; };", "Expected identifier.", "5"},
        {"struct S { @ 5; };", "Expected punctuation (", "5"},
    };
    for (const auto& c : cases) {
        Compiled compiled(c.layout);
        EXPECT_EQ(compiled.Error(), c.message) << c.layout;
        EXPECT_EQ(compiled.ErrorToken(), c.token) << c.layout;
    }
}

TEST(Errors, ABodyNeedingMoreThan62SlotsIsRejectedWhereTheSlotIsTaken) {
    std::string fits = "struct B {\n";
    for (int i = 0; i < 61; ++i) fits += "var v" + std::to_string(i) + " = 1;\n";
    Compiled ok(fits + "print(\"v\", 1); };");
    ASSERT_TRUE(ok.Ok()) << ok.Error();
    EXPECT_EQ(ok.MaxSlot(), 63u);

    Compiled full(fits + "var last = 1; print(\"v\", last); };");
    EXPECT_EQ(full.Error(), "Too many values in one struct body (a frame holds 64 slots).");
    EXPECT_EQ(full.ErrorToken(), "last");

    std::string top;
    for (int i = 0; i < 63; ++i) top += "typedef u(1) T" + std::to_string(i) + ";\n";
    Compiled topLevel(top);
    EXPECT_EQ(topLevel.Error(), "Too many values at the top level (a frame holds 64 slots).");
}

TEST(Errors, DeeplyNestedOperandsStopAtTheFrameLimit) {
    // Every nested operand holds a slot while its inner expression compiles,
    // so nesting ends with the frame-capacity error long before the stack does.
    const int depth = 30000;
    std::string path = "struct S { u(1) a; var x = ";
    for (int i = 0; i < depth; ++i) path += "a[";
    path += "0";
    path += std::string(depth, ']');
    Compiled paths(path + "; };");
    EXPECT_EQ(paths.Error(), "Too many values in one struct body (a frame holds 64 slots).");

    std::string tests = "print(\"x\", ";
    for (int i = 0; i < depth; ++i) tests += "has_type(K, ";
    tests += "0" + std::string(depth, ')') + ");";
    Compiled hasType(tests);
    EXPECT_EQ(hasType.Error(), "Too many values at the top level (a frame holds 64 slots).");
}

TEST(Errors, PlaceholderOnlyForAttemptsThatCannotBeReported) {
    VLArena arena = {};
    VLToken token = {};
    for (uint32_t final : {0u, 1u}) {
        VLContext ctx = {};
        ctx.arena = &arena;
        ctx.speculativeParse.firstToken = &token;
        ctx.speculativeParse.finalAttempt = final;
        // The attempt's message is written out as it would be when reported.
        auto reported = [&ctx]() {
            VLError error = ctx.speculativeParse.error;
            VLWriteErrorText(&ctx, &error, &ctx.speculativeParse.errorParts);
            return std::string(error.message, error.length);
        };
        VLReportError(&ctx, &token, "Unrecognized category %s.", "K");
        EXPECT_EQ(reported(), final ? "Unrecognized category K." : "Speculative early out - should never be printed out.");
        // Once a token is consumed the message is always formatted.
        ctx.speculativeParse.tokenCount = 1;
        VLReportError(&ctx, &token, "Unrecognized category %s.", "K");
        EXPECT_EQ(reported(), "Unrecognized category K.");
    }
    VLArenaRelease(&arena);
}

// A message kept as a format and its arguments is written out as printf
// would have written it, whether it is reported from a statement's attempt or
// straight into the compilation's error.
template <class... Arguments>
void ExpectWrittenAsPrintf(const char* format, Arguments... arguments) {
    char expected[256];
    int length = snprintf(expected, sizeof expected, format, arguments...);
    ASSERT_GT(length, 0);
    VLArena arena = {};
    VLToken token = {};
    VLContext inAttempt = {};
    inAttempt.arena = &arena;
    inAttempt.speculativeParse.firstToken = &token;
    inAttempt.speculativeParse.tokenCount = 1;
    VLReportError(&inAttempt, &token, format, arguments...);
    VLError error = inAttempt.speculativeParse.error;
    VLWriteErrorText(&inAttempt, &error, &inAttempt.speculativeParse.errorParts);
    EXPECT_EQ(std::string(error.message, error.length), std::string(expected, size_t(length))) << format;

    VLContext outside = {};
    outside.arena = &arena;
    VLReportError(&outside, &token, format, arguments...);
    EXPECT_EQ(std::string(outside.output.error.message, outside.output.error.length),
              std::string(expected, size_t(length))) << format;
    EXPECT_EQ(outside.output.error.message[outside.output.error.length], '\0') << format;
    VLArenaRelease(&arena);
}

TEST(Errors, KeptFormatsAreWrittenAsPrintfWritesThem) {
    const char name[] = {'a', 'b', 'c', '\0', 'd'};
    ExpectWrittenAsPrintf("Expected local variable or @, got '%.*s'.", 3, "xyzzy");
    ExpectWrittenAsPrintf("Expected local variable or @, got '%.*s'.", 5, name);  // stops at the NUL
    ExpectWrittenAsPrintf("whole: %.*s!", -1, "all of it");                       // no precision
    ExpectWrittenAsPrintf("Unrecognized category %s.", "K");
    ExpectWrittenAsPrintf("Invalid number of parameters, got %u expected %u.", 0u, 4294967295u);
    ExpectWrittenAsPrintf("%d and %d", -2147483647 - 1, 17);
    ExpectWrittenAsPrintf("Unexpected \\%c, 100%% sure", '\xe9');
    ExpectWrittenAsPrintf("%.*s%c%u%s", 2, "pq", 'r', 7u, "end");
}

TEST(Errors, CompilingTwiceInOneProcessGivesTheSameProgram) {
    const char* text = "struct S { var a = 1; if (a) { a += 2; } };\nlayout S;";
    Compiled first(text);
    Compiled second(text);
    EXPECT_EQ(first.Listing(), second.Listing());
}

}  // namespace

// ---------------------------------------------------------------------------
// Include statements, through a loader that serves texts from memory
// ---------------------------------------------------------------------------

namespace {

// Files by name; a name that is absent fails to load. Each file gets its
// number when first asked for, and is tokenized once.
struct MemoryFiles {
    VLArena* arena;
    std::vector<std::pair<std::string, std::string>> files;  // name, text
    std::vector<std::string> loaded;                          // numbers from 1
    std::vector<VLToken*> tokens;
    std::vector<std::string> requests;                        // "including:path"
    std::string message;

    static VLIncludedFile Load(void* context, uint32_t includingFile, VLString path) {
        MemoryFiles* self = static_cast<MemoryFiles*>(context);
        std::string name(path.chars, path.length);
        self->requests.push_back(std::to_string(includingFile) + ":" + name);
        for (size_t i = 0; i < self->loaded.size(); ++i)
            if (self->loaded[i] == name) return {uint32_t(i + 1), self->tokens[i], self->loaded[i].c_str(), nullptr};
        for (const auto& file : self->files) {
            if (file.first != name) continue;
            self->loaded.push_back(name);
            uint32_t number = uint32_t(self->loaded.size());
            self->tokens.push_back(VLTokenize(file.second.c_str(), self->arena, number).tokens);
            return {number, self->tokens.back(), file.first.c_str(), nullptr};
        }
        self->message = "No file " + name + ".";
        return {0, nullptr, nullptr, self->message.c_str()};
    }
};

struct CompiledWithFiles {
    VLArena arena = {};
    std::string text;
    MemoryFiles files;
    VLProgram program = {};

    CompiledWithFiles(std::string source, std::vector<std::pair<std::string, std::string>> texts)
        : text(std::move(source)) {
        files.arena = &arena;
        files.files = std::move(texts);
        files.loaded.reserve(16);  // names handed out stay in place
        VLIncludeLoader loader = {MemoryFiles::Load, &files, "main.vlt"};
        program = VLCompile(VLTokenize(text.c_str(), &arena).tokens, &arena, &loader);
    }
    ~CompiledWithFiles() { VLArenaRelease(&arena); }
    std::string Error() const {
        return VLErrorIsValid(&program.error) ? std::string(program.error.message, program.error.length) : "";
    }
    // "file:token" of the error's token.
    std::string ErrorAt() const {
        const VLToken* token = program.error.token;
        return token ? std::to_string(token->file) + ":" + Text(token) : "<end>";
    }
};

}  // namespace

TEST(Includes, FilesAreCompiledInPlaceOnceEach) {
    // "b" is named twice and by two files: it is asked for each time but its
    // statements run once, before the statement that follows the first include.
    CompiledWithFiles compiled(
        "include \"a\"; include \"b\"; print(\"main\", 3); layout A;",
        {{"a", "include \"b\"; print(\"a\", 1); struct A { u(1) x; };"},
         {"b", "print(\"b\", 2); include \"b2\";"},
         {"b2", ""}});
    ASSERT_EQ(compiled.Error(), "");
    EXPECT_EQ(compiled.files.requests, (std::vector<std::string>{"0:a", "1:b", "2:b2", "0:b"}));
    std::vector<std::string> prints;
    for (uint32_t i = 0; i < compiled.program.instructions.totalCount; ++i) {
        const VLInstruction* in = VLInstructionPointer(&compiled.program.instructions, i);
        if (in->type == VLInstructionType_Print) prints.emplace_back(in->print.message.chars, in->print.message.length);
    }
    EXPECT_EQ(prints, (std::vector<std::string>{"\"b\"", "\"a\"", "\"main\""}));
}

TEST(Includes, ErrorsAndWhereTheyStand) {
    const struct {
        const char* layout;
        std::vector<std::pair<std::string, std::string>> files;
        const char* message;
        const char* at;  // file number and token text
    } cases[] = {
        {"include \"gone\";", {}, "No file gone.", "0:\"gone\""},
        {"include \"a\";", {{"a", "include \"b\";"}, {"b", "include \"a\";"}},
         "Include cycle: main.vlt -> a -> b -> a.", "2:\"a\""},
        {"include \"a\";", {{"a", "include \"main\";"}, {"main", "include \"a\";"}},
         "Include cycle: main.vlt -> a -> main -> a.", "2:\"a\""},
        // an error inside a file stands at its token; a file that ends early
        // has its error at its own last token, not at the end of the layout
        {"include \"a\"; layout A;", {{"a", "struct A { u(1) x = 1; };"}}, "Expected punctuation ;", "1:="},
        {"include \"a\"; layout A;", {{"a", "struct A { u(1) x"}}, "Expected punctuation ;", "1:x"},
        {"include \"a\"; }; layout A;", {{"a", "struct A { u(1) x;"}},
         "Struct A is not closed: expected }; before the end of the included file.", "1:;"},
        // the form needs the string and the semicolon
        {"include \"a\" layout A;", {{"a", ""}}, "Expected punctuation ;", "0:layout"},
        {"struct A { u(1) x; }; include A;", {}, "Expected identifier typedef", "0:include"},
        {"struct A { u(1) x; include \"a\"; };", {{"a", ""}},
         "An include statement stands at the top level, outside struct bodies.", "0:include"},
        {"struct A { include a; };", {}, "Expected 'type' or 'category[identifier]'.", "0:include"},
    };
    for (const auto& c : cases) {
        CompiledWithFiles compiled(c.layout, c.files);
        EXPECT_EQ(compiled.Error(), c.message) << c.layout;
        EXPECT_EQ(compiled.ErrorAt(), c.at) << c.layout;
    }
}

TEST(Includes, WithoutALoaderTheStatementIsAnError) {
    Compiled compiled("include \"a.vlt\";");
    EXPECT_EQ(compiled.Error(), "Include files are not available here.");
    EXPECT_EQ(compiled.ErrorToken(), "\"a.vlt\"");
}

TEST(Includes, SecondCompilationWithPerBodySlotsAsksAgain) {
    // Enough bodies to need per-body numbering: the first compilation stops
    // inside the included file, the second compiles it (once) to the end.
    std::string bodies;
    for (int i = 0; i < 70; ++i) bodies += "struct S" + std::to_string(i) + " { var v = 1; };\n";
    CompiledWithFiles compiled("include \"many\"; include \"many\";", {{"many", bodies}});
    EXPECT_EQ(compiled.Error(), "");
    EXPECT_EQ(compiled.files.requests, (std::vector<std::string>{"0:many", "0:many", "0:many"}));
    EXPECT_EQ(compiled.program.typeCount, 70u);
}

TEST(Includes, EachFileStartsWithTheLanguageDefaultsAndKeepsItsOwn) {
    CompiledWithFiles compiled(
        "default(endianess = big); include \"a\"; struct M { u(2) m; };",
        {{"a", "struct A { u(2) a; }; default(endianess = big); struct B { u(2) b; };"}});
    ASSERT_EQ(compiled.Error(), "");
    std::string orders;
    for (uint32_t i = 0; i < compiled.program.instructions.totalCount; ++i) {
        const VLInstruction* in = VLInstructionPointer(&compiled.program.instructions, i);
        if (in->type != VLInstructionType_ScalarMemberU) continue;
        orders += std::string(in->scalarExport.name.chars, in->scalarExport.name.length);
        orders += in->scalarExport.flags & VLMemberFlag_BigEndian ? "=big " : "=little ";
    }
    EXPECT_EQ(orders, "a=little b=big m=big ");
}

// ---------------------------------------------------------------------------
// Facts recorded with the compilation's error (for the front end's hints)
// ---------------------------------------------------------------------------

TEST(ErrorFacts, NameDistanceIgnoresCaseAndCountsASwapOnce) {
    struct Row {
        const char* a;
        const char* b;
        uint32_t distance;
    };
    const Row rows[] = {
        {"Entry", "Entyr", 1}, {"length", "lenght", 1}, {"Header", "header", 0}, {"u", "U", 0},
        {"abc", "", 3},        {"kitten", "sitting", 3}, {"Chunk", "Chunks", 1},
    };
    for (const Row& row : rows) {
        VLString a = {uint32_t(strlen(row.a)), row.a}, b = {uint32_t(strlen(row.b)), row.b};
        EXPECT_EQ(VLNameDistance(a, b), row.distance) << row.a << " / " << row.b;
        EXPECT_EQ(VLNameDistance(b, a), row.distance) << row.b << " / " << row.a;
    }
    auto close = [](const char* name, const char* candidate) {
        return VLNameIsClose({uint32_t(strlen(name)), name}, {uint32_t(strlen(candidate)), candidate});
    };
    EXPECT_TRUE(close("Entyr", "Entry"));
    EXPECT_TRUE(close("X", "x"));           // case only: always close
    EXPECT_FALSE(close("x", "y"));          // one edit in a name of one letter is a different name
    EXPECT_FALSE(close("Entry", "Entry"));  // the same name is no suggestion
    EXPECT_FALSE(close("size", "name"));
}

TEST(ErrorFacts, EachKindOfErrorRecordsItsDetailAndLookups) {
    struct Row {
        const char* layout;
        uint32_t detail;
        const char* subject;
        const char* candidate;
        int laterLine;          // line (from 1) of definedLater, 0 for none
        const char* otherStruct;
    };
    const Row rows[] = {
        {"struct Entry { u(1) a; };\nstruct Top { Entyr e; };", VLErrorDetail_UnknownType, "Entyr", "Entry", 0, ""},
        {"struct Top { Entry e; };\nstruct Entry { u(1) a; };", VLErrorDetail_UnknownType, "Entry", "", 2, ""},
        {"typedef u(2) Word;\nstruct Top { word w; };", VLErrorDetail_UnknownType, "word", "Word", 0, ""},
        {"struct Top { uint32_t x; };", VLErrorDetail_UnknownType, "uint32_t", "", 0, ""},
        {"struct Top { u(1) count; count = 5; };", VLErrorDetail_AssignToMember, "count", "", 0, ""},
        {"struct Top { u(1) count; total += count; };", VLErrorDetail_AssignToUnknown, "total", "", 0, ""},
        {"struct Row(var n) { n = 2; };", VLErrorDetail_AssignToParameter, "n", "", 0, ""},
        {"struct Top { u(1) length; u(lenght) x; };", VLErrorDetail_UnknownName, "lenght", "length", 0, ""},
        {"struct Inner { u(count) x; };\nstruct Top { u(1) count; Inner i; };", VLErrorDetail_UnknownName, "count",
         "", 0, "Top"},
        {"struct Top { u(1) count; };\nstruct Inner { u(1) a; u(a + count) x; };", VLErrorDetail_UnknownName,
         "count", "", 0, "Top"},
        {"struct (Kind, 1) A { u(1) a; };\nstruct Top { Knid[1] k; };", VLErrorDetail_UnknownCategory, "Knid", "Kind",
         0, ""},
        {"struct Top { Kind[1] k; };\nstruct (Kind, 1) A { u(1) a; };", VLErrorDetail_UnknownCategory, "Kind", "", 2,
         ""},
        {"struct Top { u(2, Big) x; };", VLErrorDetail_ExpectedWord, "Big", "big", 0, ""},
        {"default(endianness = big);", VLErrorDetail_ExpectedWord, "endianness", "endianess", 0, ""},
        {"struct Top { u(4, hex, hex) x; };", VLErrorDetail_None, "", "", 0, ""},
        {"enum Color { Red, Green };\nstruct Top { u(1 + Color.Gren) x; };", VLErrorDetail_UnknownEnumValue, "Gren",
         "Green", 0, ""},
        {"enum Color { Red, Green };\nstruct Top { u(Color.Blue) x; };", VLErrorDetail_UnknownEnumValue, "Blue", "",
         0, ""},
        {"struct Row(var n) { u(n) x; };\nstruct Top { Row r; };", VLErrorDetail_ArgumentCount, "Row", "", 0, ""},
        {"struct Top { u(1) a; u(a * ) x; };", VLErrorDetail_MissingOperand, "*", "", 0, ""},
    };
    for (const Row& row : rows) {
        Compiled compiled(std::string(row.layout) + "\nlayout Top;\n");
        const VLError& error = compiled.program.error;
        ASSERT_TRUE(VLErrorIsValid(&error)) << row.layout;
        EXPECT_EQ(error.detail, row.detail) << row.layout;
        EXPECT_EQ(error.subject ? Text(error.subject) : "", row.subject) << row.layout;
        EXPECT_EQ(std::string(error.candidate.chars ? error.candidate.chars : "", error.candidate.length),
                  row.candidate)
            << row.layout;
        EXPECT_EQ(error.definedLater ? int(error.definedLater->start.line) + 1 : 0, row.laterLine) << row.layout;
        EXPECT_EQ(std::string(error.otherStruct.chars ? error.otherStruct.chars : "", error.otherStruct.length),
                  row.otherStruct)
            << row.layout;
    }
}

TEST(ErrorFacts, TheInnermostBracketThatNothingClosesBeforeTheError) {
    // The "}" of line 4 closes the if's "{": the struct's stays open.
    Compiled block("struct Top { u(1) a;\nif (a == 0) {\n  u(1) b;\n};\nlayout Top;\n");
    ASSERT_NE(block.program.error.openBracket, nullptr);
    EXPECT_EQ(block.program.error.openBracket->start.line, 0u);
    EXPECT_EQ(block.program.error.openBracket->start.column, 11u);
    EXPECT_EQ(block.program.error.structType->name.length, 3u);
    // The records the detail is about.
    Compiled color("enum Color { Red };\nstruct Top { u(Color.Blue) x; };\nlayout Top;\n");
    ASSERT_NE(color.program.error.enumeration, nullptr);
    EXPECT_EQ(color.program.error.enumeration->name.length, 5u);
    Compiled row("struct Row(var n) { u(n) x; };\nstruct Top { Row(1, 2) r; };\nlayout Top;\n");
    ASSERT_NE(row.program.error.namedType, nullptr);
    EXPECT_EQ(row.program.error.namedType->parameterCount, 1u);
    // A for loop's local used after the loop.
    Compiled loop("struct Top { for (var i = 0; i < 2; i += 1) { u(1) x; } u(i) y; };\nlayout Top;\n");
    EXPECT_EQ(loop.program.error.detail, uint32_t(VLErrorDetail_UnknownName));
    EXPECT_EQ(Text(loop.program.error.loopLocal), "i");
    // Brackets that are closed, even after the error, are not named.
    Compiled closed("struct Top { u(1) a; u(1 +) b; };\nlayout Top;\n");
    EXPECT_EQ(closed.program.error.openBracket, nullptr);
}

TEST(ErrorFacts, AnInvalidCloserNamesTheBracketItCouldNotClose) {
    VLArena arena = {};
    VLScanResult scan = VLTokenize("a ( b }\n) }", &arena);
    const VLToken* brace = scan.invalidTokens;
    ASSERT_NE(brace, nullptr);
    EXPECT_EQ(Text(brace->punctuation.enclosing), "(");
    const VLToken* stray = brace->invalid.nextInvalid;
    ASSERT_NE(stray, nullptr);
    EXPECT_EQ(stray->punctuation.enclosing, nullptr);  // nothing open any more
    VLArenaRelease(&arena);
}
