// InstructionTests.cpp - the instruction list and the operator rules:
// evaluation of every operator (wrap-around, truncating division, shift
// counts, the minimum and -1, division by zero), operator codes, folding
// status, applying an operator to constants and slots, the emit helpers, and
// chunked appending and lookup.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "Compiler.h"
#include "TestSupport.h"

namespace {

const int64_t kMin = std::numeric_limits<int64_t>::min();
const int64_t kMax = std::numeric_limits<int64_t>::max();

// A context ready for emitting, as compilation starts it.
struct EmitContext {
    VLArena arena = {};
    VLContext ctx = {};
    EmitContext() {
        ctx.arena = &arena;
        ctx.output.arena = &arena;
        VLInstructionChunk* chunk = VLArenaNew<VLInstructionChunk>(&arena);
        ctx.output.instructions.first = chunk;
        ctx.output.instructions.last = chunk;
    }
    ~EmitContext() { VLArenaRelease(&arena); }
    EmitContext(const EmitContext&) = delete;
    EmitContext& operator=(const EmitContext&) = delete;
    VLInstruction* At(uint32_t number) { return VLInstructionPointer(&ctx.output.instructions, number); }
};

bool SameLocation(VLLocation a, VLLocation b) {
    return a.kind == b.kind && a.depth == b.depth && a.index == b.index;
}

struct BinaryCase {
    int32_t kind;
    int64_t left;
    int64_t right;
    int64_t expected;
};

TEST(OperatorRules, BinaryOperatorsOnSigned64BitValues) {
    const BinaryCase cases[] = {
        // wrap-around arithmetic
        {VLInstructionType_Add, kMax, 1, kMin},
        {VLInstructionType_Subtract, kMin, 1, kMax},
        {VLInstructionType_Multiply, kMax, 2, -2},
        {VLInstructionType_Multiply, -3, 4, -12},
        // division truncates toward zero; the remainder follows the left operand
        {VLInstructionType_Divide, 7, -2, -3},
        {VLInstructionType_Divide, -7, 2, -3},
        {VLInstructionType_Modulo, 7, -2, 1},
        {VLInstructionType_Modulo, -7, 2, -1},
        // defined results where C++ has none
        {VLInstructionType_Divide, 5, 0, 0},
        {VLInstructionType_Modulo, 5, 0, 0},
        {VLInstructionType_Divide, kMin, -1, kMin},
        {VLInstructionType_Modulo, kMin, -1, 0},
        {VLInstructionType_Divide, kMin, 1, kMin},
        // signed comparisons give 0 or 1
        {VLInstructionType_Less, -1, 1, 1},
        {VLInstructionType_LessEqual, 2, 2, 1},
        {VLInstructionType_Equal, 3, 4, 0},
        {VLInstructionType_Greater, -5, -6, 1},
        {VLInstructionType_GreaterEqual, -6, -5, 0},
        {VLInstructionType_NotEqual, 3, 3, 0},
        // shift counts are the low 6 bits; right shifts keep the sign
        {VLInstructionType_ShiftLeft, 1, 64, 1},
        {VLInstructionType_ShiftLeft, 1, 65, 2},
        {VLInstructionType_ShiftLeft, 1, -1, kMin},
        {VLInstructionType_ShiftLeft, -1, 63, kMin},
        {VLInstructionType_ShiftRight, -8, 1, -4},
        {VLInstructionType_ShiftRight, kMin, 63, -1},
        {VLInstructionType_ShiftRight, 0xF0, 68, 0x0F},
        // bitwise and logical
        {VLInstructionType_BitwiseAnd, 12, 10, 8},
        {VLInstructionType_BitwiseOr, 12, 10, 14},
        {VLInstructionType_BitwiseXor, 12, 10, 6},
        {VLInstructionType_LogicalAnd, 5, 0, 0},
        {VLInstructionType_LogicalAnd, 5, -1, 1},
        {VLInstructionType_LogicalOr, 0, -3, 1},
        {VLInstructionType_LogicalOr, 0, 0, 0},
    };
    for (const BinaryCase& c : cases) {
        EXPECT_EQ(VLEvaluateBinary(c.kind, c.left, c.right), c.expected)
            << "kind " << c.kind << " left " << c.left << " right " << c.right;
    }
}

TEST(OperatorRules, UnaryOperators) {
    const struct {
        int32_t kind;
        int64_t operand;
        int64_t expected;
    } cases[] = {
        {VLInstructionType_Negate, 5, -5},
        {VLInstructionType_Negate, kMin, kMin},
        {VLInstructionType_LogicalNot, 7, 0},
        {VLInstructionType_LogicalNot, 0, 1},
        {VLInstructionType_BitwiseNot, 0, -1},
        {VLInstructionType_BitwiseNot, 0x0F, -16},
        {VLInstructionType_Abs, -5, 5},
        {VLInstructionType_Abs, 5, 5},
        {VLInstructionType_Abs, kMin, kMin},
        {VLInstructionType_Copy, -9, -9},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VLEvaluateUnary(c.kind, c.operand), c.expected) << "kind " << c.kind;
    }
}

TEST(OperatorRules, OperatorCodesMapToKinds) {
    const struct {
        const char* text;
        int32_t binary;
        int32_t unary;
    } cases[] = {
        {"+", VLInstructionType_Add, 0},
        {"-", VLInstructionType_Subtract, VLInstructionType_Negate},
        {"*", VLInstructionType_Multiply, 0},
        {"/", VLInstructionType_Divide, 0},
        {"%", VLInstructionType_Modulo, 0},
        {"<", VLInstructionType_Less, 0},
        {"<=", VLInstructionType_LessEqual, 0},
        {"==", VLInstructionType_Equal, 0},
        {">", VLInstructionType_Greater, 0},
        {">=", VLInstructionType_GreaterEqual, 0},
        {"!=", VLInstructionType_NotEqual, 0},
        {"<<", VLInstructionType_ShiftLeft, 0},
        {">>", VLInstructionType_ShiftRight, 0},
        {"&", VLInstructionType_BitwiseAnd, 0},
        {"|", VLInstructionType_BitwiseOr, 0},
        {"^", VLInstructionType_BitwiseXor, 0},
        {"&&", VLInstructionType_LogicalAnd, 0},
        {"||", VLInstructionType_LogicalOr, 0},
        {"!", 0, VLInstructionType_LogicalNot},
        {"~", 0, VLInstructionType_BitwiseNot},
        {"abs", 0, VLInstructionType_Abs},
        {"=", 0, 0},
        {"<<=", 0, 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(VLBinaryKindOfOperator(VLCode(c.text)), c.binary) << c.text;
        EXPECT_EQ(VLUnaryKindOfOperator(VLCode(c.text)), c.unary) << c.text;
    }
    EXPECT_EQ(VLCode("<="), 15676u);
    EXPECT_EQ(VLCode("||"), 31868u);
}

TEST(Folding, DivisionByZeroSetsTheStatusAndLaterFoldsComputeNothing) {
    uint32_t status = 0;
    EXPECT_EQ(VLFoldBinary(&status, 7, VLCode("-"), 2), 5);
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(VLFoldBinary(&status, 10, VLCode("%"), 0), 0);
    EXPECT_EQ(status, 1u);
    EXPECT_EQ(VLFoldBinary(&status, 7, VLCode("+"), 2), 0);  // status already set
    status = 0;
    EXPECT_EQ(VLFoldBinary(&status, 10, VLCode("/"), 0), 0);
    EXPECT_EQ(status, 1u);
    status = 0;
    EXPECT_EQ(VLFoldBinary(&status, kMin, VLCode("/"), -1), kMin);
    EXPECT_EQ(VLFoldBinary(&status, kMin, VLCode("%"), -1), 0);
    EXPECT_EQ(status, 0u);
}

VLOperatorValue Constant(int64_t value) {
    VLOperatorValue v = {};
    v.type = VL_OperatorValueType_Constant;
    v.constant = value;
    return v;
}

VLOperatorValue Symbol(VLLocation location) {
    VLOperatorValue v = {};
    v.type = VL_OperatorValueType_Symbol;
    v.location = location;
    return v;
}

TEST(ApplyBinaryOperator, TwoConstantsFoldWithoutCode) {
    EmitContext e;
    VLOperatorValue result = VLApplyBinaryOperator(&e.ctx, Constant(1), VLCode("+"), Constant(2));
    EXPECT_EQ(result.type, uint32_t(VL_OperatorValueType_Constant));
    EXPECT_EQ(result.constant, 3);
    EXPECT_EQ(e.ctx.output.instructions.totalCount, 0u);
    EXPECT_EQ(e.ctx.stacks[0], 0u);
}

TEST(ApplyBinaryOperator, ConstantOperandsAreLoadedAfterTheResultSlotIsTaken) {
    EmitContext e;
    // a + 1 with a in l(7): result l(2), the constant in l(3)
    VLOperatorValue result = VLApplyBinaryOperator(&e.ctx, Symbol(VLLocal(0, 7)), VLCode("+"), Constant(1));
    ASSERT_EQ(e.ctx.output.instructions.totalCount, 2u);
    EXPECT_EQ(e.At(0)->type, VLInstructionType_LoadConstant);
    EXPECT_TRUE(SameLocation(e.At(0)->destination, VLLocal(0, 3)));
    EXPECT_EQ(e.At(0)->constant.value, 1u);
    EXPECT_EQ(e.At(1)->type, VLInstructionType_Add);
    EXPECT_TRUE(SameLocation(e.At(1)->destination, VLLocal(0, 2)));
    EXPECT_TRUE(SameLocation(e.At(1)->binary.left, VLLocal(0, 7)));
    EXPECT_TRUE(SameLocation(e.At(1)->binary.right, VLLocal(0, 3)));
    EXPECT_EQ(result.type, uint32_t(VL_OperatorValueType_Symbol));
    EXPECT_TRUE(SameLocation(result.location, VLLocal(0, 2)));

    // 5 - b: the left constant is loaded first
    VLApplyBinaryOperator(&e.ctx, Constant(5), VLCode("-"), Symbol(VLLocal(0, 9)));
    EXPECT_EQ(e.At(2)->type, VLInstructionType_LoadConstant);
    EXPECT_EQ(e.At(3)->type, VLInstructionType_Subtract);
    EXPECT_TRUE(SameLocation(e.At(3)->binary.left, e.At(2)->destination));
    EXPECT_TRUE(SameLocation(e.At(3)->binary.right, VLLocal(0, 9)));
}

TEST(ApplyBinaryOperator, ConstantDivisionByZeroRecordsTheErrorAndGivesZero) {
    EmitContext e;
    VLOperatorValue result = VLApplyBinaryOperator(&e.ctx, Constant(10), VLCode("/"), Constant(0));
    EXPECT_EQ(result.type, uint32_t(VL_OperatorValueType_Constant));
    EXPECT_EQ(result.constant, 0);
    ASSERT_TRUE(VLErrorIsValid(&e.ctx.output.error));
    EXPECT_EQ(std::string(e.ctx.output.error.message, e.ctx.output.error.length), "Division by zero");
}

TEST(EmitHelpers, FillTheirKindsFields) {
    EmitContext e;
    VLInstruction* jump = VLEmitGoto(&e.ctx, 12);
    EXPECT_EQ(jump->type, VLInstructionType_Goto);
    EXPECT_EQ(jump->jump.targetIndex, 12u);
    EXPECT_EQ(jump->jump.condition.kind, VLLocationKind_None);
    EXPECT_EQ(jump->jump.target.kind, VLLocationKind_None);

    VLInstruction* conditional = VLEmitConditionalGoto(&e.ctx, VLLocal(0, 3), 17);
    EXPECT_TRUE(SameLocation(conditional->jump.condition, VLLocal(0, 3)));
    EXPECT_EQ(conditional->jump.targetIndex, 17u);

    VLInstruction* load = VLEmitLoadConstant(&e.ctx, VLLocal(0, 2), uint64_t(-1));
    EXPECT_EQ(load->constant.value, UINT64_MAX);

    VLInstruction* unary = VLEmitUnary(&e.ctx, VLInstructionType_Abs, VLLocal(0, 4), VLGlobal(0, 1));
    EXPECT_TRUE(SameLocation(unary->unary.operand, VLCursorLocation()));

    VLInstruction* plain = VLEmit(&e.ctx, VLInstructionType_PopFrame);
    EXPECT_EQ(plain->destination.kind, VLLocationKind_None);
    EXPECT_EQ(plain->index, 4u);
    EXPECT_EQ(VLContinueAfterLast(&e.ctx), 4u);
}

TEST(InstructionList, The257thInstructionOpensASecondChunk) {
    EmitContext e;
    std::vector<VLInstruction*> appended;
    for (uint32_t i = 0; i < 257; ++i) appended.push_back(VLEmitLoadConstant(&e.ctx, VLLocal(0, 2), i));
    const VLInstructionList* list = &e.ctx.output.instructions;
    EXPECT_EQ(list->totalCount, 257u);
    ASSERT_NE(list->first->next, nullptr);
    EXPECT_EQ(list->first->count, 256u);
    EXPECT_EQ(list->last, list->first->next);
    EXPECT_EQ(list->last->count, 1u);

    VLInstructionPosition position = VLInstructionAt(list, 256);
    EXPECT_EQ(position.chunk, list->last);
    EXPECT_EQ(position.place, 0u);
    position = VLInstructionAt(list, 255);
    EXPECT_EQ(position.chunk, list->first);
    EXPECT_EQ(position.place, 255u);
    // Addresses never move, and each instruction knows its number.
    for (uint32_t i = 0; i < 257; ++i) {
        EXPECT_EQ(VLInstructionPointer(list, i), appended[i]);
        EXPECT_EQ(appended[i]->index, i);
        EXPECT_EQ(appended[i]->constant.value, i);
    }
}

}  // namespace
