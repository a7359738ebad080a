// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "CommandLine.h"

void VLRunPasses(VLProgram* program, const VLFile* layout, const VLFile* data, const VLRunOptions* options, VLWriter* out, VLWriter* err) { VL_ASSERT(!"not built yet"); }
