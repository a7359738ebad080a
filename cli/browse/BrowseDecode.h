// BrowseDecode.h - the explorer's decoder: one run of the program over the
// data on a thread of its own, feeding the index while the screen is live.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "BrowseIndex.h"
#include "CommandLine.h"

struct VLBrowseDecoder {
    VLBrowseIndex* index;
    VLProgram* program;
    const VLFile* layout;
    const VLFile* data;
    std::atomic<bool> stop;  // set by the screen: the run ends at the next member
    // Set before the index is marked finished, read after.
    bool reported;           // a report stopped the run
    std::string report;      // its text as standard error would show it (excerpt and message)
    std::string message;     // its last line: the message alone
    std::thread thread;
};

// Runs the whole program into the index on the calling thread (tests) ...
void VLBrowseDecodeRun(VLBrowseDecoder* decoder);
// ... or on a new thread; VLBrowseDecodeJoin stops it and waits for it.
void VLBrowseDecodeStart(VLBrowseDecoder* decoder);
void VLBrowseDecodeJoin(VLBrowseDecoder* decoder);
