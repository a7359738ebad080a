// browse.cpp - timings of the terminal explorer's work without a terminal:
// the first screen's lines, End to the last member, and the keys at several
// places of the file, on the same index and decoder thread as -browse.
//
// usage: browse LAYOUT DATA [--no-prefault]   (one line of figures per measurement)
// Built by bench/browse.sh against the Release libraries.
#include <sys/mman.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "BrowseDecode.h"
#include "BrowseModel.h"

using Clock = std::chrono::steady_clock;
static Clock::time_point start;

static double Since(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

// Processor time of the whole process so far (user + system), in seconds: on
// a shared machine the wall time also counts other programs' turns.
static double ProcessorTime() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The lines of one screen from the top, formatted as the screen formats them.
static void DrawLines(VLBrowseModel* model, uint32_t rows) {
    VLBrowseSettle(model);
    VLBrowseLine line = model->top;
    size_t bytes = 0;
    for (uint32_t row = 0; row < rows && line.kind != VLBrowseLineKind_None; ++row) {
        bytes += VLBrowseLineText(model, line, true).size();
        line = VLBrowseNextLine(model, line);
    }
    bytes += VLBrowsePathText(model, model->selected).size();
    if (bytes == 0) fprintf(stderr, "empty screen\n");
}

// Times one key's work on the model and the screen lines it redraws; returns milliseconds.
template <class Work> static double Key(VLBrowseModel* model, Work work) {
    auto from = Clock::now();
    work();
    DrawLines(model, model->rows);
    return Since(from) * 1000.0;
}

int main(int argc, char** argv) {
    bool prefault = !(argc == 4 && strcmp(argv[3], "--no-prefault") == 0);
    if (argc != 3 && prefault) {
        fprintf(stderr, "usage: browse LAYOUT DATA [--no-prefault]\n");
        return 2;
    }
    start = Clock::now();
    VLFile layout = VLLoadFile(argv[1], 1);
    // The data as -browse has it: mapped, not read.
    FILE* file = fopen(argv[2], "rb");
    if (!layout.data || !file) return 1;
    fseeko(file, 0, SEEK_END);
    VLFile data = {argv[2], uint64_t(ftello(file)), nullptr, nullptr};
    data.data = static_cast<char*>(mmap(nullptr, data.size, PROT_READ, MAP_PRIVATE, fileno(file), 0));
    fclose(file);
    VLArena arena = {};
    VLScanResult scan = VLTokenize(layout.data, &arena);
    VLProgram program = VLCompile(scan.tokens, &arena);
    VLBrowseIndex index;
    VLBrowseIndexInit(&index);
    VLBrowseDecoder decoder;
    VLRunOptions options = {};
    VLBrowseDecoderInit(&decoder, &index, &program, &layout, &data, &options, nullptr);
    decoder.prefaultPages = prefault;
    VLBrowseDecodeStart(&decoder);
    VLBrowseModel model;
    VLBrowseModelInit(&model, &index, &program, reinterpret_cast<const uint8_t*>(data.data), data.size);
    model.rows = 50;

    // First screen: as soon as 50 lines are decoded (as the screen waits for them).
    while (!VLBrowseFinished(&index) && VLBrowseEventCount(&index) < 4096)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    DrawLines(&model, model.rows);
    printf("first-screen %.3f s (processor %.3f s)\n", Since(start), ProcessorTime());

    // End: pressed at once; answered when the run is decoded.
    auto endPressed = Clock::now();
    while (!VLBrowseEnd(&model)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    DrawLines(&model, model.rows);
    double endTime = Since(start);
    printf("end %.3f s (from start; processor %.3f s) %s\n", endTime, ProcessorTime(),
           VLBrowsePathText(&model, model.selected).c_str());
    (void)endPressed;
    printf("decoding thread: %.3f s of processor time\n", decoder.seconds);

    uint64_t events = VLBrowseEventCount(&index);
    uint64_t members = 0;
    {
        VLBrowseReader reader;
        VLBrowseReaderInit(&reader, &index);
        for (uint64_t n = 0; n < events; ++n)
            if (VLBrowseDecode(&reader, n).kind == VLBrowseEventKind_Member) ++members;
    }
    printf("index %llu bytes, %llu members, %.2f bytes per member (log %llu, nodes %llu, blocks %llu)\n",
           static_cast<unsigned long long>(VLBrowseIndexBytes(&index)), static_cast<unsigned long long>(members),
           double(VLBrowseIndexBytes(&index)) / double(members ? members : 1),
           static_cast<unsigned long long>(index.log.used), static_cast<unsigned long long>(index.nodes.used),
           static_cast<unsigned long long>(index.blocks.used));

    // Keys at the end, in the middle and at the start: the slowest of each.
    double worst[8] = {};
    const char* names[8] = {"Down", "Up", "PgDn", "PgUp", "Enter (fold)", "Enter (more)", "g offset", "search n"};
    VLBrowseSearch search = {};
    for (int place = 0; place < 3; ++place) {
        uint64_t offset = place == 0 ? data.size - 1 : place == 1 ? data.size / 2 : 0;
        VLBrowseGoToOffset(&model, offset);
        double times[8];
        times[0] = Key(&model, [&] { VLBrowseMove(&model, 1); });
        times[1] = Key(&model, [&] { VLBrowseMove(&model, -1); });
        times[2] = Key(&model, [&] { VLBrowseMove(&model, 49); });
        times[3] = Key(&model, [&] { VLBrowseMove(&model, -49); });
        times[4] = Key(&model, [&] { VLBrowseFoldSelected(&model, false, false); });
        // A "more" line: the root array's, stepped ten times larger.
        times[5] = Key(&model, [&] {
            uint32_t array = 1;
            if (VLBrowseNodeCount(&index) > 1 && VLBrowseNodeAt(&index, array)->kind != VLBrowseNodeKind_Struct) {
                model.shown.erase(array);
                uint64_t hidden = VLBrowseElementEvent(&index, array, VLBrowseShownCount(&model, array));
                if (hidden != VLBrowseOpen) {
                    VLBrowseSelect(&model, VLBrowseVisibleLine(&model, hidden));
                    VLBrowseFoldSelected(&model, true, true);
                }
            }
        });
        times[6] = Key(&model, [&] { VLBrowseGoToOffset(&model, offset / 3 * 2); });
        times[7] = Key(&model, [&] {
            VLBrowseSearchBegin(&model, &search, "kind", true);
            while (!VLBrowseSearchStep(&model, &search, 100000)) {}
        });
        for (int k = 0; k < 8; ++k)
            if (times[k] > worst[k]) worst[k] = times[k];
    }
    for (int k = 0; k < 8; ++k) printf("key %-14s %.2f ms\n", names[k], worst[k]);
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    double peak = double(usage.ru_maxrss) * 1024.0;
    printf("peak RSS %.1f MB, %.2f bytes per member beyond the data file\n", peak / 1e6,
           (peak - double(data.size)) / double(members ? members : 1));
    if (!VLBrowseDecodeJoin(&decoder)) return 1;
    VLBrowseIndexFree(&index);
    return 0;
}
