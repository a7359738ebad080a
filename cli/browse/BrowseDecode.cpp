// BrowseDecode.cpp - the explorer's decoder: a sink of the member-event stream
// that appends each event to the index. The run counts the occurrence
// numbers the index keeps, without writing path texts; a -select PATH is
// followed alongside to find where the screen starts. The report that stops
// a run is kept for the status line and the tree's last line.
#include "BrowseDecode.h"

#include <time.h>

#include <chrono>

static VLBrowseDecoder* VLDecoderOf(void* context) { return static_cast<VLBrowseDecoder*>(context); }

// The event just appended (the last one), as the start when the selection
// takes it and no start was found before.
static void VLTakeStart(VLBrowseDecoder* decoder, bool selected) {
    if (!selected || decoder->startEvent.load(std::memory_order_relaxed) != VLBrowseOpen) return;
    decoder->startEvent.store(decoder->index->events - 1, std::memory_order_release);
}

static void VLDecodeStructBegin(void* context, const VLStructEvent* event) {
    VLBrowseDecoder* decoder = VLDecoderOf(context);
    uint32_t type = event->type ? event->type->index : VLBrowseNone;
    uint64_t offset = event->offset > 0 ? uint64_t(event->offset) : 0;
    if (!VLBrowseAppendStructBegin(decoder->index, event->pushFrame->index, type, event->isArray, event->index,
                                   event->occurrence, offset))
        return;
    if (decoder->start) {
        // A root is selected by its type's name, as the stream selects it.
        VLString name = decoder->depth == 0 && event->type ? event->type->name : event->name;
        VLTakeStart(decoder, VLSelectEnter(decoder->start, name, event->occurrence, event->isArray, event->index));
    }
    decoder->depth++;
}

static void VLDecodeStructEnd(void* context, const VLStructEvent* event) {
    VLBrowseDecoder* decoder = VLDecoderOf(context);
    VLBrowseAppendStructEnd(decoder->index, event->size > 0 ? uint64_t(event->size) : 0);
    if (decoder->depth > 0) {
        decoder->depth--;
        if (decoder->start) VLSelectLeave(decoder->start);
    }
}

static void VLDecodeMember(void* context, const VLMemberEvent* event) {
    VLBrowseDecoder* decoder = VLDecoderOf(context);
    // The value source is kept only where it differs from the member's bytes
    // read as declared: computed and variable-length values, texts without
    // their NUL, flags decided at run time.
    const VLValueSource& source = event->value;
    const VLInstruction* instruction = event->instruction;
    VLBrowseValue value = {};
    bool plain = source.type == instruction->type && source.flags == instruction->scalarExport.flags &&
                 source.bytes->data == event->bytes.data && source.bytes->address == event->bytes.address &&
                 source.bytes->size == event->bytes.size;
    if (!plain) {
        value.type = source.type;
        value.flags = source.flags;
        value.isInline = source.bytes->data != event->bytes.data;
        value.size = source.bytes->size;
        if (value.isInline)
            for (uint32_t i = 0; i < 8; ++i) value.value |= uint64_t(source.scratch[i]) << (8 * i);
    }
    if (!VLBrowseAppendMember(decoder->index, instruction->index, event->isArray, event->index, event->occurrence,
                              event->bytes.address, event->bytes.size, plain ? nullptr : &value))
        return;
    if (decoder->start)
        VLTakeStart(decoder, VLSelectMember(decoder->start, event->instruction->scalarExport.name, event->occurrence,
                                            event->isArray, event->index));
}

static void VLDecodePrint(void* context, const VLPrintEvent* event) {
    VLBrowseDecoder* decoder = VLDecoderOf(context);
    VLBrowseAppendPrint(decoder->index, event->message.chars, event->message.length, event->hasValue, event->value);
}

static void VLDecodeReport(void* context, const VLReportEvent* event) {
    VLBrowseDecoder* decoder = VLDecoderOf(context);
    decoder->reported = true;
    decoder->message.clear();
    for (uint32_t i = 0; i < event->message.length; ++i) {
        char c = event->message.chars[i];
        if (c == '\n') decoder->message += "; ";
        else decoder->message += c;
    }
    decoder->reportPath.assign(event->path.chars, event->path.length);
}

static void VLDecodeEnd(void*, const VLRunEndEvent*) {}

// Asked before every event: the flags are looked at every 1024th time only,
// a quit waits a few microseconds longer.
static bool VLDecodeGoOn(void* context) {
    VLBrowseDecoder* decoder = VLDecoderOf(context);
    if (++decoder->asked & 1023) return true;
    return !decoder->stop.load(std::memory_order_relaxed) && !decoder->index->full;
}

void VLBrowseDecoderInit(VLBrowseDecoder* decoder, VLBrowseIndex* index, VLProgram* program, const VLFile* layout,
                         const VLFile* data, const VLRunOptions* options, VLSelection* start) {
    decoder->index = index;
    decoder->program = program;
    decoder->layout = layout;
    decoder->data = data;
    decoder->options = *options;
    decoder->options.selection = nullptr;
    decoder->options.debug = 0;
    decoder->start = start;
    decoder->stop.store(false);
    decoder->startEvent.store(VLBrowseOpen);
    decoder->reported = false;
    decoder->message.clear();
    decoder->reportPath.clear();
    decoder->errors.clear();
    decoder->depth = 0;
    decoder->asked = 0;
    decoder->prefaultPages = true;
    decoder->seconds = 0;
}

void VLBrowseDecodeRun(VLBrowseDecoder* decoder) {
    VLOutputSink sink = {};
    sink.context = decoder;
    sink.passes = 1;
    sink.needsOccurrences = true;  // the numbers the index keeps; no path texts
    sink.structBegin = VLDecodeStructBegin;
    sink.member = VLDecodeMember;
    sink.structEnd = VLDecodeStructEnd;
    sink.print = VLDecodePrint;
    sink.report = VLDecodeReport;
    sink.end = VLDecodeEnd;
    sink.goOn = VLDecodeGoOn;
    // Standard error belongs to the screen: what the run would write there is kept.
    VLWriter err, debug;
    VLWriterInitMemory(&err);
    VLWriterInitNull(&debug);
    VLRunSink(decoder->program, decoder->layout, decoder->data, &decoder->options, &sink, &debug, &err);
    decoder->errors.assign(err.buffer ? err.buffer : "", err.used);
    VLWriterFree(&err);
    VLWriterFree(&debug);
    if (decoder->index->full && !decoder->reported)
        decoder->message = "The explorer's index is full: the members after this point are not shown.";
    struct timespec cpu;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu) == 0) decoder->seconds = double(cpu.tv_sec) + double(cpu.tv_nsec) / 1e9;
    VLBrowseFinish(decoder->index);
}

// The decoding thread: the run, then the end of the prefaulting.
static void VLDecodeThread(VLBrowseDecoder* decoder) {
    VLBrowseDecodeRun(decoder);
    decoder->decoded.store(true, std::memory_order_release);
}

void VLBrowseDecodeStart(VLBrowseDecoder* decoder) {
    decoder->decoded.store(false);
    if (decoder->prefaultPages) decoder->prefault = std::thread(VLBrowsePrefault, decoder->index, &decoder->decoded);
    decoder->thread = std::thread(VLDecodeThread, decoder);
}

bool VLBrowseDecodeJoin(VLBrowseDecoder* decoder) {
    decoder->stop.store(true);
    if (decoder->thread.joinable()) {
        // The run sees the stop at its next event; a layout that loops
        // without showing anything never gets there.
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
        while (!decoder->decoded.load(std::memory_order_acquire)) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        decoder->thread.join();
    }
    decoder->decoded.store(true);
    if (decoder->prefault.joinable()) decoder->prefault.join();
    return true;
}
