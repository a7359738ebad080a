// JsonSink.cpp - -json: the whole run as one JSON document, written as the
// events arrive (one pass; only the open structs' nesting is kept).
//
//     {"layout":"bmp.vlt","data":"sample.bmp","size":82,
//      "root":{"name":"Bitmap","path":"Bitmap","type":"Bitmap","offset":0,"members":[
//        {"name":"file","path":"Bitmap.file","type":"FileHeader","offset":0,"members":[
//          {"name":"signature","path":"Bitmap.file.signature","offset":0,"size":2,...},
//          ...],"size":14},
//        ...],"size":82},
//      "report":null}
//
// A struct node's "size" follows its members, since it is known only at its
// end. Top-level prints before the first root go into "prints", every
// top-level print or root after it into "more"; both are left out when empty.
#include <cstdio>
#include <cstring>

#include "Events.h"

static void VLWriteString(VLWriter* writer, VLString text) { VLWrite(writer, text.chars, text.length); }

// Starts an item of the open list.
static void VLJsonItem(VLJsonSink* sink) {
    if (sink->needComma) VLWriteChar(sink->out, ',');
    sink->needComma = true;
}

// Before an item at the top level: the list it belongs to is opened (a root
// before any other becomes "root").
static void VLJsonTopItem(VLJsonSink* sink, bool isRoot) {
    if (sink->rootsBegun == 0 && isRoot) {
        if (sink->topPrints) VLWriteChar(sink->out, ']');
        sink->topPrints = false;
        VLWriteText(sink->out, ",\"root\":");
        sink->needComma = false;
        return;
    }
    if (sink->rootsBegun == 0 && !sink->topPrints) {
        VLWriteText(sink->out, ",\"prints\":[");
        sink->topPrints = true;
        sink->needComma = false;
    } else if (sink->rootsBegun > 0 && !sink->moreOpen) {
        VLWriteText(sink->out, ",\"more\":[");
        sink->moreOpen = true;
        sink->needComma = false;
    }
    VLJsonItem(sink);
}

// The fields a node starts with: "name" (a root: its type's name), "index"
// for an array element.
static void VLJsonNodeName(VLJsonSink* sink, VLString name, bool isArray, uint32_t index) {
    VLWriteText(sink->out, "{\"name\":\"");
    VLWriteString(sink->out, name);
    VLWriteChar(sink->out, '"');
    if (isArray) VLWritef(sink->out, ",\"index\":%u", index);
}

static void VLJsonStructBegin(void* context, const VLStructEvent* event) {
    VLJsonSink* sink = static_cast<VLJsonSink*>(context);
    VLString typeName = event->type ? event->type->name : VLString{0, ""};
    bool root = sink->depth == 0;
    if (root) {
        VLJsonTopItem(sink, true);
        sink->rootsBegun++;
    } else if (sink->needComma) {
        VLWriteChar(sink->out, ',');
    }
    VLString name = root ? typeName : event->name;
    // Names and paths are identifiers joined by punctuation: nothing to escape.
    size_t room = 128 + name.length + event->path.length + typeName.length;
    char* start = VLWriterReserve(sink->out, room);
    char* cursor = start;
    memcpy(cursor, "{\"name\":\"", 9);
    cursor += 9;
    VLPutText(cursor, name.chars, name.length);
    cursor += name.length;
    *cursor++ = '"';
    if (event->isArray) {
        memcpy(cursor, ",\"index\":", 9);
        cursor = VLPutDecimal(cursor + 9, event->index);
    }
    if (event->path.length) {
        memcpy(cursor, ",\"path\":\"", 9);
        cursor += 9;
        VLPutText(cursor, event->path.chars, event->path.length);
        cursor += event->path.length;
        *cursor++ = '"';
    }
    memcpy(cursor, ",\"type\":", 8);
    cursor += 8;
    if (event->type) {
        *cursor++ = '"';
        VLPutText(cursor, typeName.chars, typeName.length);
        cursor += typeName.length;
        *cursor++ = '"';
    } else {
        memcpy(cursor, "null", 4);
        cursor += 4;
    }
    memcpy(cursor, ",\"offset\":", 10);
    cursor += 10;
    if (event->offset < 0) *cursor++ = '-';
    cursor = VLPutDecimal(cursor, event->offset < 0 ? ~uint64_t(event->offset) + 1 : uint64_t(event->offset));
    memcpy(cursor, ",\"members\":[", 12);
    cursor += 12;
    sink->out->used += size_t(cursor - start);
    sink->needComma = false;
    sink->depth++;
}

static void VLJsonStructEnd(void* context, const VLStructEvent* event) {
    VLJsonSink* sink = static_cast<VLJsonSink*>(context);
    VL_ASSERT(sink->depth > 0);
    char* start = VLWriterReserve(sink->out, 40);
    char* cursor = start;
    memcpy(cursor, "],\"size\":", 9);
    cursor += 9;
    if (event->size < 0) *cursor++ = '-';
    cursor = VLPutDecimal(cursor, event->size < 0 ? ~uint64_t(event->size) + 1 : uint64_t(event->size));
    *cursor++ = '}';
    sink->out->used += size_t(cursor - start);
    sink->depth--;
    sink->needComma = true;
}

static void VLJsonMember(void* context, const VLMemberEvent* event) {
    VLJsonSink* sink = static_cast<VLJsonSink*>(context);
    VLString name = event->instruction->scalarExport.name;
    if (name.length > VLNameTextLimit) {  // a long name: written on its own
        VLJsonItem(sink);
        VLJsonNodeName(sink, name, event->isArray, event->index);
        VLWriteJsonMember(sink->out, event, {1, ","}, {1, "}"});
        return;
    }
    // The node's head (the comma before it, name and index) built here and
    // written with the member's fields in one piece.
    char head[VLNameTextLimit + 48];
    char* cursor = head;
    if (sink->needComma) *cursor++ = ',';
    sink->needComma = true;
    memcpy(cursor, "{\"name\":\"", 9);
    cursor += 9;
    VLPutText(cursor, name.chars, name.length);
    cursor += name.length;
    *cursor++ = '"';
    if (event->isArray) {
        memcpy(cursor, ",\"index\":", 9);
        cursor = VLPutDecimal(cursor + 9, event->index);
    }
    *cursor++ = ',';
    VLWriteJsonMember(sink->out, event, {uint32_t(cursor - head), head}, {1, "}"});
    if (!sink->started) {  // a reader sees the document begin at once, however long the run takes
        sink->started = true;
        VLWriterFlush(sink->out);
    }
}

static void VLJsonPrint(void* context, const VLPrintEvent* event) {
    VLJsonSink* sink = static_cast<VLJsonSink*>(context);
    if (sink->depth == 0) VLJsonTopItem(sink, false);
    else VLJsonItem(sink);
    VLWriteText(sink->out, "{\"print\":");
    VLWriteJsonString(sink->out, event->message.chars, event->message.length);
    if (event->hasValue) VLWritef(sink->out, ",\"value\":%lld", static_cast<long long>(event->value));
    VLWriteChar(sink->out, '}');
}

// Closes what is open (struct nodes cut short by a report get "size": null)
// and the top-level lists, and gives "root" null when no root began.
static void VLJsonCloseAll(VLJsonSink* sink) {
    for (; sink->depth > 0; sink->depth--) VLWriteText(sink->out, "],\"size\":null}");
    if (sink->topPrints) VLWriteChar(sink->out, ']');
    if (sink->rootsBegun == 0) VLWriteText(sink->out, ",\"root\":null");
    if (sink->moreOpen) VLWriteChar(sink->out, ']');
    sink->topPrints = sink->moreOpen = false;
}

static void VLJsonReport(void* context, const VLReportEvent* event) {
    VLJsonSink* sink = static_cast<VLJsonSink*>(context);
    VLJsonCloseAll(sink);
    VLWriteText(sink->out, ",\"report\":{");
    VLWriteJsonReportFields(sink->out, event, "message");
    VLWriteText(sink->out, "}}\n");
    sink->finished = true;
}

static void VLJsonEnd(void* context, const VLRunEndEvent* event) {
    VLJsonSink* sink = static_cast<VLJsonSink*>(context);
    if (!sink->finished) {
        VLJsonCloseAll(sink);
        VLWriteText(sink->out, ",\"report\":null}\n");
        sink->finished = true;
    }
    if (event->members == 0)
        VLWriteText(sink->err, "WARNING No members exported, this can be due to missing 'layout' or "
                               "because type had no members.\n");
}

VLOutputSink VLMakeJsonSink(VLJsonSink* sink, VLWriter* out, VLWriter* err, const VLFile* layout,
                            const VLFile* data) {
    *sink = VLJsonSink{};
    sink->out = out;
    sink->err = err;
    // The head is known before the run: written at once.
    VLWriteText(out, "{\"layout\":");
    VLWriteJsonString(out, layout->path, strlen(layout->path));
    VLWriteText(out, ",\"data\":");
    VLWriteJsonString(out, data->path, strlen(data->path));
    VLWritef(out, ",\"size\":%llu", static_cast<unsigned long long>(data->size));
    VLOutputSink output = {};
    output.context = sink;
    output.passes = 1;
    output.needsPaths = true;
    output.structBegin = VLJsonStructBegin;
    output.member = VLJsonMember;
    output.structEnd = VLJsonStructEnd;
    output.print = VLJsonPrint;
    output.report = VLJsonReport;
    output.end = VLJsonEnd;
    return output;
}
