// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "CommandLine.h"

void VLPrintTokenLocation(VLWriter* err, const VLFile* layout, const VLToken* token) { VL_ASSERT(!"not built yet"); }
void VLPrintRangeLocation(VLWriter* err, const VLFile* layout, const VLToken* first, const VLToken* following) { VL_ASSERT(!"not built yet"); }
