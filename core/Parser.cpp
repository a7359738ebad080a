// Placeholder: replaced by the real implementation.
#include <cstdarg>
#include "Compiler.h"

VLProgram VLCompile(VLToken* firstToken, VLArena* arena) { VL_ASSERT(!"not built yet"); }
bool VLIsStopped(const VLContext* ctx) { VL_ASSERT(!"not built yet"); }
void VLConsume(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
uint32_t VLExpectKeyword(VLContext* ctx, std::initializer_list<const char*> words) { VL_ASSERT(!"not built yet"); }
uint32_t VLExpectPunctuation(VLContext* ctx, std::initializer_list<uint32_t> codes) { VL_ASSERT(!"not built yet"); }
uint32_t VLAcceptPunctuation(VLContext* ctx, uint32_t code) { VL_ASSERT(!"not built yet"); }
VLString VLExpectIdentifier(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
VLString VLAcceptIdentifier(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
int VLAcceptWord(VLContext* ctx, const char* word) { VL_ASSERT(!"not built yet"); }
bool VLIsPunctuation(const VLToken* token, uint32_t code) { VL_ASSERT(!"not built yet"); }
bool VLTokenIs(const VLToken* token, const char* word) { VL_ASSERT(!"not built yet"); }
void VLReportError(VLContext* ctx, VLToken* token, const char* format, ...) { VL_ASSERT(!"not built yet"); }
void VLRecordError(VLContext* ctx, VLToken* token, const char* message) { VL_ASSERT(!"not built yet"); }
void VLBeginAttempt(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
void VLEndAttempt(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
VLLocation VLNewSlot(VLContext* ctx) { VL_ASSERT(!"not built yet"); }
uint32_t VLSlotCounter(const VLContext* ctx) { VL_ASSERT(!"not built yet"); }
void VLSetSlotCounter(VLContext* ctx, uint32_t counter) { VL_ASSERT(!"not built yet"); }
VLLocation VLLocal(uint32_t depth, uint32_t index) { VL_ASSERT(!"not built yet"); }
VLLocation VLGlobal(uint32_t depth, uint32_t index) { VL_ASSERT(!"not built yet"); }
VLLocation VLCursorLocation() { VL_ASSERT(!"not built yet"); }
VLString VLCopyString(VLContext* ctx, VLString text) { VL_ASSERT(!"not built yet"); }
