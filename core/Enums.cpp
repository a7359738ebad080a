// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

void VLParseEnum(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
bool VLParseEnumValue(VLContext* ctx, int64_t* value) { VL_ASSERT(!"not built yet"); }
VLEnum* VLFindEnum(const VLContext* ctx, VLString name) { VL_ASSERT(!"not built yet"); }
