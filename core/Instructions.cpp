// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

VLInstructionPosition VLInstructionAt(const VLInstructionList* list, uint32_t number) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLInstructionPointer(const VLInstructionList* list, uint32_t number) { VL_ASSERT(!"not built yet"); }
int64_t VLEvaluateUnary(int32_t kind, int64_t operand) { VL_ASSERT(!"not built yet"); }
int64_t VLEvaluateBinary(int32_t kind, int64_t left, int64_t right) { VL_ASSERT(!"not built yet"); }
int32_t VLUnaryKindOfOperator(uint32_t code) { VL_ASSERT(!"not built yet"); }
int32_t VLBinaryKindOfOperator(uint32_t code) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLAppendInstruction(VLContext* ctx, const VLInstruction* instruction) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLEmit(VLContext* ctx, int32_t type) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLEmitGoto(VLContext* ctx, uint32_t target) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLEmitConditionalGoto(VLContext* ctx, VLLocation condition, uint32_t target) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLEmitLoadConstant(VLContext* ctx, VLLocation destination, uint64_t value) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLEmitUnary(VLContext* ctx, int32_t type, VLLocation destination, VLLocation operand) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLEmitBinary(VLContext* ctx, int32_t type, VLLocation destination, VLLocation left, VLLocation right) { VL_ASSERT(!"not built yet"); }
uint32_t VLContinueAfterLast(const VLContext* ctx) { VL_ASSERT(!"not built yet"); }
int64_t VLFoldBinary(uint32_t* status, int64_t left, uint32_t op, int64_t right) { VL_ASSERT(!"not built yet"); }
VLOperatorValue VLApplyBinaryOperator(VLContext* ctx, VLOperatorValue left, uint32_t op, VLOperatorValue right) { VL_ASSERT(!"not built yet"); }
