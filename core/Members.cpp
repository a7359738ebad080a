// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

void VLParseMemberDeclaration(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
VLPlacement VLParsePlacement(VLContext* ctx, bool allowSavedCursor) { VL_ASSERT(!"not built yet"); }
VLPrimitiveSpec VLParsePrimitiveSpec(VLContext* ctx, VLLocation size) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLEmitPrimitiveMember(VLContext* ctx, const VLPlacement* placement, VLLocation size, uint32_t savedSlotCount, const VLPrimitiveSpec* spec, VLString name, VLEnum* enumeration) { VL_ASSERT(!"not built yet"); }
VLTypedef* VLFindTypedef(const VLContext* ctx, VLString name) { VL_ASSERT(!"not built yet"); }
