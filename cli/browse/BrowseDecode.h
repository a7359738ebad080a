// BrowseDecode.h - the explorer's decoder: one run of the program over the
// data on a thread of its own, its member events feeding the index while the
// screen is live.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "BrowseIndex.h"
#include "Events.h"

struct VLBrowseDecoder {
    VLBrowseIndex* index;
    VLProgram* program;
    const VLFile* layout;
    const VLFile* data;
    VLRunOptions options;      // -limit applies; no selection (the explorer shows everything)
    VLSelection* start;        // -select: where the screen starts; null: the first line
    std::atomic<bool> stop;    // set by the screen: the run ends at the next event
    std::atomic<uint64_t> startEvent;  // the first event `start` selects (VLBrowseOpen: none yet)
    // Set before the index is marked finished, read after.
    bool reported;             // a report stopped the run
    std::string message;       // its message (lines joined by "; "), or why the run was cut short
    std::string reportPath;    // the member it stopped at
    std::string errors;        // what standard error got: excerpts and messages
    uint32_t depth;            // open structs (the sink's own count)
    uint32_t asked;            // times the stream asked whether to go on
    std::thread thread;
    std::thread prefault;      // maps index pages ahead of the decoder
    std::atomic<bool> decoded; // the run is over: the prefaulting thread ends
    bool prefaultPages;            // map index pages ahead (VLBrowseDecoderInit: yes)
    double seconds;            // processor time of the decoding thread (once finished; benchmarks)
};

// Prepares a decoder (the index already initialized).
void VLBrowseDecoderInit(VLBrowseDecoder* decoder, VLBrowseIndex* index, VLProgram* program, const VLFile* layout,
                         const VLFile* data, const VLRunOptions* options, VLSelection* start);
// Runs the whole program into the index on the calling thread (tests) ...
void VLBrowseDecodeRun(VLBrowseDecoder* decoder);
// ... or on a new thread; VLBrowseDecodeJoin stops it and waits for it, half
// a second at most: false when the run did not stop (a layout that loops
// without showing anything never looks at the stop flag).
void VLBrowseDecodeStart(VLBrowseDecoder* decoder);
bool VLBrowseDecodeJoin(VLBrowseDecoder* decoder);
