// FuzzSupport.h - what the fuzz targets share: running one layout over one
// data buffer through the whole program, in process, with output discarded
// and every record released afterwards.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Steps allowed per pass: layouts may loop by design, the harness may not.
// With the trace every step also formats a line, so the budget is smaller.
enum : uint64_t { VLFuzzStepLimit = 200000, VLFuzzTraceStepLimit = 20000 };

// Tokenizes, compiles and (when compilation succeeds and runPasses is set)
// runs both passes over the data, with the listing and trace when `debug` is
// set; returns nothing, crashes on defects only.
void VLFuzzRunLayout(const std::string& layout, const uint8_t* data, size_t dataSize, bool runPasses,
                     bool debug = false);
