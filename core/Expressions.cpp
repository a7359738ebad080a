// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

VLExpression* VLStartExpression(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
void VLParseExpressionTerms(VLContext* ctx, VLExpression* expression) { VL_ASSERT(!"not built yet"); }
bool VLPushOperator(VLContext* ctx, VLExpression* expression, uint32_t op) { VL_ASSERT(!"not built yet"); }
VLOperatorValue VLReduceExpression(VLContext* ctx, VLExpression* expression) { VL_ASSERT(!"not built yet"); }
void VLEvaluateInto(VLContext* ctx, VLExpression* expression, VLLocation destination) { VL_ASSERT(!"not built yet"); }
VLLocation VLCompileExpressionInto(VLContext* ctx, VLLocation destination) { VL_ASSERT(!"not built yet"); }
int64_t VLParseConstantExpression(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
bool VLParseOperand(VLContext* ctx, VLLocation* location) { VL_ASSERT(!"not built yet"); }
bool VLParseConstant(VLContext* ctx, int64_t* value) { VL_ASSERT(!"not built yet"); }
