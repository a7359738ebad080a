// FuzzStructured.cpp - builds syntactically plausible layouts from the input
// bytes, so that fuzzing reaches deep into the runtime and the display: struct
// bodies with members of every form, arrays, placements, categories, enums,
// typedefs, expressions with member paths, control flow. The input's first
// 512 bytes steer the generator; the rest is the data file.
#include <string>

#include "FuzzSupport.h"

struct VLFuzzReader {
    const uint8_t* bytes;
    size_t size;
    size_t at;
};

static unsigned VLFuzzTake(VLFuzzReader* r, unsigned range) {
    unsigned byte = r->at < r->size ? r->bytes[r->at++] : 0;
    return range ? byte % range : 0;
}

struct VLFuzzLayout {
    std::string text;
    int typeCount;       // T0 .. T(typeCount-1) defined so far
    int memberCount;     // members m0 .. declared in the open body
    int enumCount;
    int typedefCount;
    int categoryCount;
    int depth;           // open blocks in the body
};

static const char* const kPrimitives[] = {"u", "s", "f", "raw", "string", "hidden"};
static const char* const kModifiers[] = {"hex", "binary", "octal", "big", "little"};
static const char* const kBinary[] = {"+", "-", "*", "/", "%", "<", "<=", "==", ">", ">=", "!=",
                                      "<<", ">>", "&", "|", "^", "&&", "||"};
static const char* const kUnary[] = {"-", "!", "abs "};
static const char* const kAssign[] = {"=", "+=", "-=", "*=", "/=", "%=", "<<=", ">>=", "&=", "|=", "^="};

static void VLFuzzExpression(VLFuzzReader* r, VLFuzzLayout* l, int depth);

static void VLFuzzOperand(VLFuzzReader* r, VLFuzzLayout* l, int depth) {
    switch (VLFuzzTake(r, 10)) {
        case 0: l->text += std::to_string(VLFuzzTake(r, 256)); break;
        case 1: l->text += "@"; break;
        case 2: l->text += "size_of_file"; break;
        case 3:
            if (l->memberCount) l->text += "m" + std::to_string(VLFuzzTake(r, l->memberCount));
            else l->text += "1";
            break;
        case 4:
            if (l->memberCount) {
                l->text += "m" + std::to_string(VLFuzzTake(r, l->memberCount)) + "[" +
                           std::to_string(VLFuzzTake(r, 4)) + "]";
                if (VLFuzzTake(r, 2)) l->text += ".m" + std::to_string(VLFuzzTake(r, 4));
            } else {
                l->text += "0x10";
            }
            break;
        case 5:
            if (l->typeCount) l->text += "sizeof(T" + std::to_string(VLFuzzTake(r, l->typeCount)) + ")";
            else l->text += "current_address()";
            break;
        case 6:
            if (l->categoryCount) {
                l->text += "has_type(C" + std::to_string(VLFuzzTake(r, l->categoryCount)) + ", ";
                VLFuzzOperand(r, l, depth + 1);
                l->text += ")";
            } else {
                l->text += "'ab'";
            }
            break;
        case 7:
            if (l->enumCount) l->text += "E" + std::to_string(VLFuzzTake(r, l->enumCount)) + ".V" +
                                         std::to_string(VLFuzzTake(r, 3));
            else l->text += "0b101";
            break;
        case 8:
            if (depth < 4) {
                l->text += "(";
                VLFuzzExpression(r, l, depth + 1);
                l->text += ")";
            } else {
                l->text += "7";
            }
            break;
        default: l->text += "v" + std::to_string(VLFuzzTake(r, 3)); break;
    }
}

static void VLFuzzExpression(VLFuzzReader* r, VLFuzzLayout* l, int depth) {
    if (VLFuzzTake(r, 6) == 0) l->text += kUnary[VLFuzzTake(r, 3)];
    VLFuzzOperand(r, l, depth);
    unsigned more = depth < 4 ? VLFuzzTake(r, 3) : 0;
    for (unsigned i = 0; i < more; ++i) {
        l->text += std::string(" ") + kBinary[VLFuzzTake(r, 18)] + " ";
        VLFuzzOperand(r, l, depth + 1);
    }
}

static void VLFuzzPrimitive(VLFuzzReader* r, VLFuzzLayout* l) {
    l->text += kPrimitives[VLFuzzTake(r, 6)];
    l->text += "(";
    if (VLFuzzTake(r, 4) == 0) VLFuzzExpression(r, l, 2);
    else l->text += std::to_string(1 + VLFuzzTake(r, 9));
    unsigned modifiers = VLFuzzTake(r, 3);
    for (unsigned i = 0; i < modifiers; ++i) l->text += std::string(", ") + kModifiers[VLFuzzTake(r, 5)];
    l->text += ")";
}

static void VLFuzzMember(VLFuzzReader* r, VLFuzzLayout* l) {
    unsigned placement = VLFuzzTake(r, 8);
    if (placement == 0) {
        l->text += "@(";
        VLFuzzExpression(r, l, 2);
        l->text += ") ";
    } else if (placement == 1) {
        l->text += "@(external ";
        VLFuzzExpression(r, l, 2);
        l->text += ") ";
    }
    if (VLFuzzTake(r, 8) == 0) l->text += "hidden ";
    unsigned kind = VLFuzzTake(r, 6);
    if (kind == 0 && l->typeCount) {
        l->text += "T" + std::to_string(VLFuzzTake(r, l->typeCount));
        if (VLFuzzTake(r, 3) == 0) l->text += "(1)";
    } else if (kind == 1 && l->categoryCount) {
        l->text += "C" + std::to_string(VLFuzzTake(r, l->categoryCount)) + "[";
        VLFuzzExpression(r, l, 2);
        l->text += "]";
    } else if (kind == 2 && l->enumCount) {
        l->text += "E" + std::to_string(VLFuzzTake(r, l->enumCount)) + "(" + std::to_string(1 + VLFuzzTake(r, 4)) +
                   (VLFuzzTake(r, 2) ? ", big)" : ")");
    } else if (kind == 3 && l->typedefCount) {
        l->text += "D" + std::to_string(VLFuzzTake(r, l->typedefCount));
    } else {
        VLFuzzPrimitive(r, l);
    }
    l->text += " m" + std::to_string(l->memberCount++);
    if (VLFuzzTake(r, 4) == 0) {
        l->text += "[";
        VLFuzzExpression(r, l, 2);
        l->text += "]";
    }
    l->text += ";\n";
}

static void VLFuzzStatement(VLFuzzReader* r, VLFuzzLayout* l) {
    switch (VLFuzzTake(r, 12)) {
        case 0:
            l->text += "var v" + std::to_string(VLFuzzTake(r, 3)) + " = ";
            VLFuzzExpression(r, l, 1);
            l->text += ";\n";
            break;
        case 1:
            l->text += (VLFuzzTake(r, 2) ? "@ " : "v" + std::to_string(VLFuzzTake(r, 3)) + " ");
            l->text += kAssign[VLFuzzTake(r, 11)];
            l->text += " ";
            VLFuzzExpression(r, l, 1);
            l->text += ";\n";
            break;
        case 2:
            if (l->depth < 4) {
                l->text += "if (";
                VLFuzzExpression(r, l, 1);
                l->text += ") {\n";
                l->depth++;
            }
            break;
        case 3:
            if (l->depth > 0) {
                l->depth--;
                l->text += "}";
                if (VLFuzzTake(r, 3) == 0) {
                    l->text += " else {\n";
                    l->depth++;
                } else {
                    l->text += "\n";
                }
            }
            break;
        case 4:
            if (l->depth < 4) {
                l->text += "for (var i = 0; i < " + std::to_string(VLFuzzTake(r, 5)) + "; i += 1) {\n";
                l->depth++;
            }
            break;
        case 5:
            if (l->depth < 4) {
                l->text += "while (";
                VLFuzzExpression(r, l, 1);
                l->text += ") {\n";
                l->depth++;
            }
            break;
        case 6:
            l->text += "print(\"p\", ";
            VLFuzzExpression(r, l, 1);
            l->text += ");\n";
            break;
        case 7:
            l->text += "assert(";
            VLFuzzExpression(r, l, 1);
            l->text += ");\n";
            break;
        default: VLFuzzMember(r, l); break;
    }
}

static void VLFuzzTopLevel(VLFuzzReader* r, VLFuzzLayout* l) {
    switch (VLFuzzTake(r, 8)) {
        case 0:
            l->text += VLFuzzTake(r, 2) ? "default(endianess = big);\n" : "default(endianess = little);\n";
            break;
        case 1: {
            l->text += "enum " + std::string(VLFuzzTake(r, 2) ? "anonymous " : "") + "E" +
                       std::to_string(l->enumCount++) + " { ";
            unsigned values = VLFuzzTake(r, 5);
            for (unsigned i = 0; i < values; ++i) {
                l->text += "V" + std::to_string(i);
                if (VLFuzzTake(r, 2)) l->text += " = " + std::to_string(1u << VLFuzzTake(r, 8));
                l->text += ", ";
            }
            l->text += "};\n";
            break;
        }
        case 2:
            l->text += "typedef ";
            VLFuzzPrimitive(r, l);
            l->text += " D" + std::to_string(l->typedefCount++) + ";\n";
            break;
        default: {
            l->text += "struct ";
            if (VLFuzzTake(r, 3) == 0) {
                unsigned category = VLFuzzTake(r, 3);
                if (category >= unsigned(l->categoryCount)) category = l->categoryCount++;
                l->text += "(C" + std::to_string(category) + ", " + std::to_string(VLFuzzTake(r, 4)) + ") ";
            }
            l->text += "T" + std::to_string(l->typeCount);
            if (VLFuzzTake(r, 6) == 0) l->text += "(var p0)";
            l->text += " {\n";
            l->memberCount = 0;
            l->depth = 0;
            unsigned statements = 1 + VLFuzzTake(r, 12);
            for (unsigned i = 0; i < statements; ++i) VLFuzzStatement(r, l);
            while (l->depth > 0) {
                l->text += "}\n";
                l->depth--;
            }
            l->text += "};\n";
            l->typeCount++;
            break;
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    size_t steer = size < 512 ? size : 512;
    VLFuzzReader reader{bytes, steer, 0};
    VLFuzzLayout layout{};
    unsigned statements = 1 + VLFuzzTake(&reader, 10);
    for (unsigned i = 0; i < statements; ++i) VLFuzzTopLevel(&reader, &layout);
    if (layout.typeCount) layout.text += "layout T" + std::to_string(layout.typeCount - 1) + ";\n";
    VLFuzzRunLayout(layout.text, bytes + steer, size - steer, true);
    return 0;
}
