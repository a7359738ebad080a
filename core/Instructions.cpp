// Instructions.cpp - the instruction list and the operator rules.
//
// Owns appending to the chunked instruction list (VLAppendInstruction is the
// only code that touches chunks and totalCount; every VLEmit... goes through
// it), lookup by number, the continue-after arithmetic of jumps, and the
// meaning of every unary and binary operator. Compile-time folding and the
// runtime both evaluate operators through VLEvaluateUnary/VLEvaluateBinary,
// which compute on unsigned 64-bit values and convert back, so wrap-around,
// division by zero and the minimum divided by -1 are settled in one place.
#include <cstring>

#include "Compiler.h"

// ---------------------------------------------------------------------------
// The list
// ---------------------------------------------------------------------------

// Walks the chunks to the one that holds instruction `number`; the number
// must be below totalCount.
VLInstructionPosition VLInstructionAt(const VLInstructionList* list, uint32_t number) {
    VL_ASSERT(number < list->totalCount);
    VLInstructionChunk* chunk = list->first;
    while (chunk && number >= chunk->count) {
        number -= chunk->count;
        chunk = chunk->next;
    }
    VL_ASSERT(chunk != nullptr);
    return VLInstructionPosition{chunk, number};
}

VLInstruction* VLInstructionPointer(const VLInstructionList* list, uint32_t number) {
    VLInstructionPosition position = VLInstructionAt(list, number);
    return &position.chunk->items[position.place];
}

VLInstruction* VLAppendInstruction(VLContext* ctx, const VLInstruction* instruction) {
    VLInstructionList* list = &ctx->output.instructions;
    VL_ASSERT(list->last != nullptr);
    if (list->last->count == VLInstructionChunkCapacity) {
        VLInstructionChunk* chunk = VLArenaNew<VLInstructionChunk>(ctx->arena);
        list->last->next = chunk;
        list->last = chunk;
    }
    VLInstruction* slot = &list->last->items[list->last->count];
    *slot = *instruction;
    slot->index = list->totalCount;
    list->last->count += 1;
    list->totalCount += 1;
    return slot;
}

uint32_t VLContinueAfterLast(const VLContext* ctx) {
    // A jump to T resumes at T + 1, so "continue with whatever is appended
    // next" names the instruction appended last. Before any instruction the
    // unsigned wrap gives 0xFFFFFFFF, whose successor is instruction 0.
    return ctx->output.instructions.totalCount - 1;
}

// ---------------------------------------------------------------------------
// Emit helpers: each builds a zeroed record, fills its kind's fields and
// appends it.
// ---------------------------------------------------------------------------

VLInstruction* VLEmit(VLContext* ctx, int32_t type) {
    VL_ASSERT(type >= 0 && type < VLInstructionType_Count);
    VLInstruction instruction;
    memset(&instruction, 0, sizeof instruction);
    instruction.type = type;
    return VLAppendInstruction(ctx, &instruction);
}

VLInstruction* VLEmitGoto(VLContext* ctx, uint32_t target) {
    VLInstruction* jump = VLEmit(ctx, VLInstructionType_Goto);
    jump->jump.targetIndex = target;
    return jump;
}

VLInstruction* VLEmitConditionalGoto(VLContext* ctx, VLLocation condition, uint32_t target) {
    VLInstruction* jump = VLEmitGoto(ctx, target);
    jump->jump.condition = condition;
    return jump;
}

VLInstruction* VLEmitLoadConstant(VLContext* ctx, VLLocation destination, uint64_t value) {
    VLInstruction* load = VLEmit(ctx, VLInstructionType_LoadConstant);
    load->destination = destination;
    load->constant.value = value;
    return load;
}

VLInstruction* VLEmitUnary(VLContext* ctx, int32_t type, VLLocation destination, VLLocation operand) {
    VL_ASSERT(type >= VLInstructionType_FirstUnary && type <= VLInstructionType_LastUnary);
    VLInstruction* unary = VLEmit(ctx, type);
    unary->destination = destination;
    unary->unary.operand = operand;
    return unary;
}

VLInstruction* VLEmitBinary(VLContext* ctx, int32_t type, VLLocation destination, VLLocation left,
                            VLLocation right) {
    VL_ASSERT(type >= VLInstructionType_FirstBinary && type <= VLInstructionType_LastBinary);
    VLInstruction* binary = VLEmit(ctx, type);
    binary->destination = destination;
    binary->binary.left = left;
    binary->binary.right = right;
    return binary;
}

// ---------------------------------------------------------------------------
// Operators
// ---------------------------------------------------------------------------

// The operator code of each kind (0 for the kinds that are no operator), from
// the instruction set.
static constexpr uint32_t VLOperatorCodes[] = {
#define VL_OPERATOR_CODE(name, shape, words, suffix, run, shown, op) VLCode(op),
    VL_INSTRUCTION_SET(VL_OPERATOR_CODE)
#undef VL_OPERATOR_CODE
};
static_assert(sizeof VLOperatorCodes / sizeof VLOperatorCodes[0] == VLInstructionType_Count,
              "one operator code per instruction type");

// The kind among first..last whose operator has `code`; 0 when none.
static int32_t VLKindOfOperator(uint32_t code, int32_t first, int32_t last) {
    if (code == 0) return 0;
    for (int32_t kind = first; kind <= last; ++kind) {
        if (VLOperatorCodes[kind] == code) return kind;
    }
    return 0;
}

int32_t VLUnaryKindOfOperator(uint32_t code) {
    return VLKindOfOperator(code, VLInstructionType_FirstUnary, VLInstructionType_LastUnary);
}

int32_t VLBinaryKindOfOperator(uint32_t code) {
    return VLKindOfOperator(code, VLInstructionType_FirstBinary, VLInstructionType_LastBinary);
}

// Two's-complement conversion back from the unsigned computation.
static int64_t VLSigned(uint64_t value) { return static_cast<int64_t>(value); }

int64_t VLEvaluateUnary(int32_t kind, int64_t operand) {
    uint64_t bits = static_cast<uint64_t>(operand);
    switch (kind) {
        case VLInstructionType_Negate: return VLSigned(0 - bits);
        case VLInstructionType_LogicalNot: return operand == 0;
        case VLInstructionType_BitwiseNot: return VLSigned(~bits);
        case VLInstructionType_Abs: return operand < 0 ? VLSigned(0 - bits) : operand;  // abs(min) = min
        case VLInstructionType_Copy: return operand;
        default: VL_ASSERT(!"unary kind out of range"); return 0;
    }
}

// Signed division truncating toward zero. Division by zero gives 0, and the
// minimum divided by -1 gives the minimum (the wrapped quotient).
static int64_t VLDivide(int64_t left, int64_t right) {
    if (right == 0) return 0;
    if (right == -1) return VLSigned(0 - static_cast<uint64_t>(left));
    return left / right;
}

// The remainder of VLDivide: its sign follows the left operand; 0 for a
// divisor of 0 or -1.
static int64_t VLRemainder(int64_t left, int64_t right) {
    if (right == 0 || right == -1) return 0;
    return left % right;
}

int64_t VLEvaluateBinary(int32_t kind, int64_t left, int64_t right) {
    uint64_t a = static_cast<uint64_t>(left);
    uint64_t b = static_cast<uint64_t>(right);
    switch (kind) {
        case VLInstructionType_Add: return VLSigned(a + b);
        case VLInstructionType_Subtract: return VLSigned(a - b);
        case VLInstructionType_Multiply: return VLSigned(a * b);
        case VLInstructionType_Divide: return VLDivide(left, right);
        case VLInstructionType_Modulo: return VLRemainder(left, right);
        case VLInstructionType_Less: return left < right;
        case VLInstructionType_LessEqual: return left <= right;
        case VLInstructionType_Equal: return left == right;
        case VLInstructionType_Greater: return left > right;
        case VLInstructionType_GreaterEqual: return left >= right;
        case VLInstructionType_NotEqual: return left != right;
        case VLInstructionType_ShiftLeft: return VLSigned(a << (b & 63));
        case VLInstructionType_ShiftRight: return left >> (b & 63);  // arithmetic in C++20
        case VLInstructionType_BitwiseAnd: return VLSigned(a & b);
        case VLInstructionType_BitwiseOr: return VLSigned(a | b);
        case VLInstructionType_BitwiseXor: return VLSigned(a ^ b);
        case VLInstructionType_LogicalAnd: return left != 0 && right != 0;
        case VLInstructionType_LogicalOr: return left != 0 || right != 0;
        default: VL_ASSERT(!"binary kind out of range"); return 0;
    }
}

int64_t VLFoldBinary(uint32_t* status, int64_t left, uint32_t op, int64_t right) {
    if (*status != 0) return 0;
    int32_t kind = VLBinaryKindOfOperator(op);
    VL_ASSERT(kind != 0);
    if ((kind == VLInstructionType_Divide || kind == VLInstructionType_Modulo) && right == 0) {
        *status = 1;
        return 0;
    }
    return VLEvaluateBinary(kind, left, right);
}

// The slot that holds an operand: its own for a Symbol; a Constant (or a
// missing operand, taken as 0) is loaded into a new slot first.
static VLLocation VLMaterialize(VLContext* ctx, VLOperatorValue value) {
    if (value.type == VL_OperatorValueType_Symbol) return value.location;
    VLLocation slot = VLNewSlot(ctx);
    int64_t constant = value.type == VL_OperatorValueType_Constant ? value.constant : 0;
    VLEmitLoadConstant(ctx, slot, static_cast<uint64_t>(constant));
    return slot;
}

// Folds two Constants (reporting "Division by zero" and giving 0 when the
// divisor is 0); otherwise emits the operation into a new slot, loading a
// constant operand into a slot of its own first.
VLOperatorValue VLApplyBinaryOperator(VLContext* ctx, VLOperatorValue left, uint32_t op,
                                      VLOperatorValue right) {
    VLOperatorValue result;
    memset(&result, 0, sizeof result);
    if (left.type == VL_OperatorValueType_Constant && right.type == VL_OperatorValueType_Constant) {
        uint32_t status = 0;
        result.type = VL_OperatorValueType_Constant;
        result.constant = VLFoldBinary(&status, left.constant, op, right.constant);
        if (status != 0) VLRecordError(ctx, nullptr, "Division by zero");
        return result;
    }
    int32_t kind = VLBinaryKindOfOperator(op);
    VL_ASSERT(kind != 0);
    VLLocation destination = VLNewSlot(ctx);
    VLLocation leftSlot = VLMaterialize(ctx, left);
    VLLocation rightSlot = VLMaterialize(ctx, right);
    VLEmitBinary(ctx, kind, destination, leftSlot, rightSlot);
    result.type = VL_OperatorValueType_Symbol;
    result.location = destination;
    return result;
}
