// TextSink.cpp - the text output as a sink of the member-event stream: struct
// header lines, member lines in right-aligned columns, print lines and the
// no-members warning. It takes two passes: the first only measures the
// columns, the second prints with those widths (the lines themselves are
// built in Display.cpp; the member event goes straight to VLPrintTextMember
// there, the hot path of the text output).
#include "Events.h"

static void VLWriteString(VLWriter* writer, VLString text) { VLWrite(writer, text.chars, text.length); }

static void VLTextStructBegin(void* context, const VLStructEvent* event) {
    VLTextSink* sink = static_cast<VLTextSink*>(context);
    if (sink->printing) VLPrintStructHeaderLine(event->type, event->name, event->isArray, event->index, sink->out);
}

static void VLTextStructEnd(void* context, const VLStructEvent*) {
    VLTextSink* sink = static_cast<VLTextSink*>(context);
    VLPrintStructEnd(&sink->columns, sink->printing ? sink->out : nullptr);
}

static void VLTextPrint(void* context, const VLPrintEvent* event) {
    VLTextSink* sink = static_cast<VLTextSink*>(context);
    VLWriteString(sink->out, event->message);
    if (event->hasValue) VLWritef(sink->out, " %lli", static_cast<long long>(event->value));
    VLWriteChar(sink->out, '\n');
}

static void VLTextReport(void*, const VLReportEvent*) {}  // standard error has it already

static void VLTextEnd(void* context, const VLRunEndEvent* event) {
    VLTextSink* sink = static_cast<VLTextSink*>(context);
    if (!event->lastPass) {
        sink->printing = true;
        return;
    }
    if (event->members == 0)
        VLWriteText(sink->out, "WARNING No members exported, this can be due to missing 'layout' or "
                               "because type had no members.\n");
}

VLOutputSink VLMakeTextSink(VLTextSink* sink, VLWriter* out) {
    *sink = VLTextSink{};
    sink->out = out;
    VLOutputSink output = {};
    output.context = sink;
    output.passes = 2;
    output.structBegin = VLTextStructBegin;
    output.member = VLPrintTextMember;  // the member line, in Display.cpp
    output.structEnd = VLTextStructEnd;
    output.print = VLTextPrint;
    output.report = VLTextReport;
    output.end = VLTextEnd;
    return output;
}
