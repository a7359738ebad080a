// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

void VLRuntimeInit(VLRuntime* runtime, const VLProgram* program, const uint8_t* data, uint64_t dataSize, VLArena* arena) { VL_ASSERT(!"not built yet"); }
bool VLRuntimeHasEnded(const VLRuntime* runtime) { VL_ASSERT(!"not built yet"); }
VLRuntimeResult VLRuntimeStep(VLRuntime* runtime) { VL_ASSERT(!"not built yet"); }
int64_t* VLResolveLocation(VLRuntime* runtime, VLLocation location) { VL_ASSERT(!"not built yet"); }
