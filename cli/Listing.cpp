// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "CommandLine.h"

void VLPrintOperand(VLWriter* out, VLLocation location, VLRuntime* runtime) { VL_ASSERT(!"not built yet"); }
void VLPrintInstruction(VLWriter* out, const VLInstruction* instruction, uint32_t indent, VLRuntime* runtime) { VL_ASSERT(!"not built yet"); }
