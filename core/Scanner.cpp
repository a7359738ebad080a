// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

VLString VLTokenText(const VLToken* token) { VL_ASSERT(!"not built yet"); }
VLScanResult VLTokenize(const char* text, VLArena* arena) { VL_ASSERT(!"not built yet"); }
bool VLHasReachedEnd(const VLScanner* scanner) { VL_ASSERT(!"not built yet"); }
void VLAdvance(VLScanner* scanner) { VL_ASSERT(!"not built yet"); }
void VLPeek(const VLScanner* scanner, uint32_t count, char* buffer) { VL_ASSERT(!"not built yet"); }
void VLSkipBlanks(VLScanner* scanner) { VL_ASSERT(!"not built yet"); }
uint32_t VLOperatorCode(const VLToken* token) { VL_ASSERT(!"not built yet"); }
