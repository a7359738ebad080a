// NdjsonSink.cpp - -ndjson: one JSON object per line for every shown member,
// print and the report that stops a run, written as the events arrive (one
// pass, nothing kept).
//
//     {"path":"Bitmap.file.signature","offset":0,"size":2,"type":"string","value":"BM","text":"\"BM\""}
//     {"print":"\"magic\"","value":256}
//     {"report":"Assertion triggered!","path":"Bitmap.info","offset":14}
//
// Struct members have no line of their own; their members' paths carry them.
#include "Events.h"

static void VLNdjsonStructBegin(void*, const VLStructEvent*) {}
static void VLNdjsonStructEnd(void*, const VLStructEvent*) {}

static void VLNdjsonMember(void* context, const VLMemberEvent* event) {
    VLNdjsonSink* sink = static_cast<VLNdjsonSink*>(context);
    VLWriteJsonMember(sink->out, event, {1, "{"}, {2, "}\n"});
    if (!sink->started) {  // a reader sees the first line at once, however long the run takes
        sink->started = true;
        VLWriterFlush(sink->out);
    }
}

static void VLNdjsonPrint(void* context, const VLPrintEvent* event) {
    VLNdjsonSink* sink = static_cast<VLNdjsonSink*>(context);
    VLWriteText(sink->out, "{\"print\":");
    VLWriteJsonString(sink->out, event->message.chars, event->message.length);
    if (event->hasValue) VLWritef(sink->out, ",\"value\":%lld", static_cast<long long>(event->value));
    VLWrite(sink->out, "}\n", 2);
}

static void VLNdjsonReport(void* context, const VLReportEvent* event) {
    VLNdjsonSink* sink = static_cast<VLNdjsonSink*>(context);
    VLWriteChar(sink->out, '{');
    VLWriteJsonReportFields(sink->out, event, "report");
    VLWrite(sink->out, "}\n", 2);
}

static void VLNdjsonEnd(void* context, const VLRunEndEvent* event) {
    VLNdjsonSink* sink = static_cast<VLNdjsonSink*>(context);
    if (event->members == 0)
        VLWriteText(sink->err, "WARNING No members exported, this can be due to missing 'layout' or "
                               "because type had no members.\n");
}

VLOutputSink VLMakeNdjsonSink(VLNdjsonSink* sink, VLWriter* out, VLWriter* err) {
    *sink = VLNdjsonSink{out, err, false};
    VLOutputSink output = {};
    output.context = sink;
    output.passes = 1;
    output.needsPaths = true;
    output.structBegin = VLNdjsonStructBegin;
    output.member = VLNdjsonMember;
    output.structEnd = VLNdjsonStructEnd;
    output.print = VLNdjsonPrint;
    output.report = VLNdjsonReport;
    output.end = VLNdjsonEnd;
    return output;
}
