// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "CommandLine.h"

void VLPrintColumn(VLColumns* columns, VLWriter* out, const char* text, uint32_t length) { VL_ASSERT(!"not built yet"); }
void VLPrintStructHeader(const VLInstruction* pushFrame, VLRuntime* runtime, VLWriter* out) { VL_ASSERT(!"not built yet"); }
void VLPrintStructEnd(VLColumns* columns, VLWriter* out) { VL_ASSERT(!"not built yet"); }
void VLPrintMember(VLInstruction* member, VLRuntime* runtime, VLColumns* columns, VLWriter* out) { VL_ASSERT(!"not built yet"); }
