// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "CommandLine.h"

VLFile VLLoadFile(const char* path, uint32_t extraBytes) { VL_ASSERT(!"not built yet"); }
int VLCommandLineMain(int argc, char** argv, VLWriter* out, VLWriter* err) { VL_ASSERT(!"not built yet"); }
