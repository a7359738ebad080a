// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

VLNumberResult VLScanNumber(VLScanner* scanner) { VL_ASSERT(!"not built yet"); }
VLStringIntegerResult VLStringToInteger(VLContext* ctx, const VLToken* token) { VL_ASSERT(!"not built yet"); }
bool VLAcceptConstant(VLContext* ctx, int64_t* value) { VL_ASSERT(!"not built yet"); }
