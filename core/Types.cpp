// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

uint32_t VLHashName(uint32_t length, const char* chars) { VL_ASSERT(!"not built yet"); }
VLTypeDefinition* VLTypeAt(const VLTypeList* list, uint32_t index) { VL_ASSERT(!"not built yet"); }
VLTypeDefinition* VLParseStructHeader(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
VLTypeDefinition* VLFindType(const VLContext* ctx, VLString name) { VL_ASSERT(!"not built yet"); }
VLTypeReference VLParseTypeReference(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
VLCategory* VLFindCategory(VLContext* ctx, VLString name) { VL_ASSERT(!"not built yet"); }
VLTypeInstance VLParseTypeInstance(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
VLInstruction* VLEmitPushFrame(VLContext* ctx, const VLTypeReference* reference) { VL_ASSERT(!"not built yet"); }
void VLEmitTypeCall(VLContext* ctx, const VLTypeReference* reference) { VL_ASSERT(!"not built yet"); }
VLLocalVariable* VLFindLocalVariable(VLLocalVariable* list, VLString name) { VL_ASSERT(!"not built yet"); }
void VLCloseStructBody(VLContext* ctx, VLTypeDefinition* type) { VL_ASSERT(!"not built yet"); }
void VLBuildCategoryTable(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
