// FuzzGenerator.cpp - turns fuzz input bytes into a layout that compiles more
// often than not, so that fuzzing spends its time in the runtime and the
// display rather than in the compiler's first error.
//
// The generator keeps a model of what the layout has declared so far (types
// with their parameters and members, categories with their keys, enumerations
// with their values, typedefs, the locals and parameters in scope) and draws
// every choice from the steering bytes: names refer to things that exist,
// argument lists have the right length, member paths walk through struct
// members of named types and end on a scalar. Sizes, counts, placements and
// conditions mix constants (small, boundary and huge values) with values read
// from the data, so the data decides sizes, array counts, recursion and
// category choices. Every list and every nesting is bounded, and the input
// running out selects the shortest choice everywhere, so generation ends.
#include "FuzzGenerator.h"

#include <vector>

struct VLFuzzReader {
    const uint8_t* bytes;
    size_t size;
    size_t at;
};

// The next steering byte reduced to 0..range-1; 0 once the bytes are used up.
static unsigned VLFuzzTake(VLFuzzReader* r, unsigned range) {
    unsigned byte = r->at < r->size ? r->bytes[r->at++] : 0;
    return range ? byte % range : 0;
}

// True one time in `n` (never once the steering bytes are used up).
static bool VLFuzzChance(VLFuzzReader* r, unsigned n) { return VLFuzzTake(r, n) == n - 1; }

enum VLFuzzMemberKind { VLFuzzMember_Scalar, VLFuzzMember_Struct, VLFuzzMember_Category };

struct VLFuzzMemberInfo {
    std::string name;
    VLFuzzMemberKind kind;
    int type;  // VLFuzzMember_Struct: index into the generator's types
};

struct VLFuzzTypeInfo {
    std::string name;
    int parameters;
    std::vector<VLFuzzMemberInfo> members;
};

struct VLFuzzCategoryInfo {
    int parameters;
    std::vector<std::string> keys;  // key constants as written
};

struct VLFuzzEnumInfo {
    bool named;
    bool anonymous;
    int values;
};

// Bounds that keep one layout small and below the compiler's per-body limits.
enum : int {
    VLFuzzMaxTopLevel = 14,
    VLFuzzMaxBodyStatements = 28,
    VLFuzzMaxBlockDepth = 3,
    VLFuzzMaxExpressionDepth = 3,
    VLFuzzMaxOperands = 7,      // per expression, so temporaries stay well below 64 slots
    VLFuzzMaxKeptSlots = 36,    // slots a body keeps (locals, loop conditions, parameters)
    VLFuzzMaxTypedefs = 10,
};

struct VLFuzzGenerator {
    VLFuzzReader reader;
    std::string text;
    std::vector<VLFuzzTypeInfo> types;
    std::vector<VLFuzzCategoryInfo> categories;
    std::vector<VLFuzzEnumInfo> enums;
    int typedefs;
    int current;                      // type whose body is open, or -1
    std::vector<std::string> locals;  // in scope in the open body
    int localCounter;
    int statementsLeft;               // in the open body
    int keptSlots;                    // slots the open body keeps for good
    int operandsLeft;                 // in the expression being generated
    int blockDepth;                   // blocks open around the statement being generated
};

static void VLFuzzExpression(VLFuzzGenerator* g, int depth, bool constantOnly);

static std::string VLFuzzNumber(int n) { return std::to_string(n); }

// A name made of a prefix and a number; now and then padded far beyond the
// widths that names and header lines are shown in.
static std::string VLFuzzName(VLFuzzGenerator* g, const char* prefix, int number) {
    std::string name = prefix + VLFuzzNumber(number);
    if (VLFuzzChance(&g->reader, 24)) name += "_" + std::string(120 + 20 * VLFuzzTake(&g->reader, 16), 'w');
    return name;
}

// A number literal: mostly small, sometimes a boundary value, in any notation.
static void VLFuzzNumberLiteral(VLFuzzGenerator* g) {
    static const char* const kBoundaries[] = {
        "0", "1", "2", "3", "4", "7", "8", "16", "255", "256", "0x7F", "0x80", "0xFFFF", "65536",
        "0x7FFFFFFF", "0x80000000", "0xFFFFFFFF", "0x100000000", "0x7FFFFFFFFFFFFFFF",
        "0x8000000000000000", "0xFFFFFFFFFFFFFFFF", "1'000'000", "0b1010", "017", "0x'FF", "2147483648",
        "1099511627776", "18446744073709551616"};
    VLFuzzReader* r = &g->reader;
    if (VLFuzzChance(r, 4)) g->text += kBoundaries[VLFuzzTake(r, sizeof kBoundaries / sizeof *kBoundaries)];
    else g->text += VLFuzzNumber(int(VLFuzzTake(r, 16)));
}

// A member path that ends on a scalar, starting in the open body: through
// struct members of named types, with element numbers now and then. Writes
// nothing and returns false when no such path exists within five steps.
static bool VLFuzzMemberPath(VLFuzzGenerator* g, int depth) {
    VLFuzzReader* r = &g->reader;
    size_t start = g->text.size();
    int type = g->current;
    for (int step = 0; step < 5; ++step) {
        std::vector<const VLFuzzMemberInfo*> candidates;
        for (const VLFuzzMemberInfo& member : g->types[size_t(type)].members) {
            if (member.kind == VLFuzzMember_Scalar) candidates.push_back(&member);
            if (member.kind == VLFuzzMember_Struct && step < 4 && !g->types[size_t(member.type)].members.empty())
                candidates.push_back(&member);
        }
        if (candidates.empty()) break;
        const VLFuzzMemberInfo* member = candidates[VLFuzzTake(r, unsigned(candidates.size()))];
        if (step) g->text += ".";
        g->text += member->name;
        if (VLFuzzChance(r, 3)) {
            g->text += "[";
            VLFuzzExpression(g, depth + 1, false);
            g->text += "]";
        }
        if (member->kind == VLFuzzMember_Scalar) return true;
        type = member->type;
    }
    g->text.resize(start);
    return false;
}

// A reference to an enumeration value that exists.
static bool VLFuzzEnumValue(VLFuzzGenerator* g) {
    VLFuzzReader* r = &g->reader;
    if (g->enums.empty()) return false;
    unsigned index = VLFuzzTake(r, unsigned(g->enums.size()));
    const VLFuzzEnumInfo& info = g->enums[index];
    if (info.values == 0) return false;
    std::string value = "E" + VLFuzzNumber(int(index)) + "V" + VLFuzzNumber(int(VLFuzzTake(r, unsigned(info.values))));
    if (info.named && (!info.anonymous || VLFuzzChance(r, 2))) g->text += "E" + VLFuzzNumber(int(index)) + ".";
    g->text += value;
    return true;
}

// A type instance for sizeof or a member: a type or a category reference with
// an argument list of the right length. `allowCurrent` admits the open body's
// own type (recursion). Returns the type chosen, or -1 for a category.
static int VLFuzzTypeInstance(VLFuzzGenerator* g, int depth, bool allowCurrent) {
    VLFuzzReader* r = &g->reader;
    int parameters = 0;
    int chosen = -1;
    int typeCount = int(g->types.size());
    if (!allowCurrent && g->current >= 0) typeCount = g->current;  // the open type is the last one
    if (!g->categories.empty() && (typeCount == 0 || VLFuzzChance(r, 3))) {
        unsigned category = VLFuzzTake(r, unsigned(g->categories.size()));
        const VLFuzzCategoryInfo& info = g->categories[category];
        g->text += "C" + VLFuzzNumber(int(category)) + "[";
        if (!info.keys.empty() && !VLFuzzChance(r, 3)) g->text += info.keys[VLFuzzTake(r, unsigned(info.keys.size()))];
        else VLFuzzExpression(g, depth + 1, false);
        g->text += "]";
        parameters = info.parameters;
    } else {
        chosen = int(VLFuzzTake(r, unsigned(typeCount)));
        g->text += g->types[size_t(chosen)].name;
        parameters = g->types[size_t(chosen)].parameters;
    }
    if (parameters) {
        g->text += "(";
        for (int i = 0; i < parameters; ++i) {
            if (i) g->text += ", ";
            VLFuzzExpression(g, depth + 1, false);
        }
        g->text += ")";
    }
    return chosen;
}

static void VLFuzzOperand(VLFuzzGenerator* g, int depth, bool constantOnly) {
    VLFuzzReader* r = &g->reader;
    --g->operandsLeft;
    unsigned choice = VLFuzzTake(r, constantOnly ? 4 : 14);
    bool inBody = g->current >= 0;
    switch (choice) {
    case 0:  // a number
    case 1:
        VLFuzzNumberLiteral(g);
        return;
    case 2: {  // a quoted literal of up to eight characters
        static const char* const kQuoted[] = {"'A'", "'ab'", "\"PK\"", "'\\n'", "'\\0'", "''", "'ABCDEFGH'", "'\\\\'"};
        g->text += kQuoted[VLFuzzTake(r, 8)];
        return;
    }
    case 3:  // an enumeration value
        if (!VLFuzzEnumValue(g)) VLFuzzNumberLiteral(g);
        return;
    case 4:  // the cursor
        g->text += VLFuzzChance(r, 2) ? "current_address()" : "@";
        return;
    case 5:  // the file size
        g->text += "size_of_file";
        return;
    case 6:  // a local or a parameter
        if (inBody) {
            int parameters = g->types[size_t(g->current)].parameters;
            unsigned count = unsigned(g->locals.size()) + unsigned(parameters);
            if (count) {
                unsigned pick = VLFuzzTake(r, count);
                g->text += pick < g->locals.size() ? g->locals[pick] : "p" + VLFuzzNumber(int(pick - g->locals.size()));
                return;
            }
        }
        VLFuzzNumberLiteral(g);
        return;
    case 7:  // a member read before
    case 8:
    case 9:
        if (inBody && depth < VLFuzzMaxExpressionDepth && VLFuzzMemberPath(g, depth)) return;
        VLFuzzNumberLiteral(g);
        return;
    case 10: {  // the size of a type measured on the data
        bool self = VLFuzzChance(r, 8);
        bool other = g->current != 0 || !g->categories.empty();
        if (!g->types.empty() && depth < VLFuzzMaxExpressionDepth && (self || other)) {
            g->text += "sizeof(";
            if (VLFuzzChance(r, 4)) {
                g->text += "@(";
                VLFuzzExpression(g, depth + 1, false);
                g->text += ") ";
            }
            VLFuzzTypeInstance(g, depth + 1, self);
            g->text += ")";
            return;
        }
        VLFuzzNumberLiteral(g);
        return;
    }
    case 11:  // a category test
        if (!g->categories.empty() && depth < VLFuzzMaxExpressionDepth) {
            unsigned category = VLFuzzTake(r, unsigned(g->categories.size()));
            g->text += "has_type(C" + VLFuzzNumber(int(category)) + ", ";
            VLFuzzExpression(g, depth + 1, false);
            g->text += ")";
            return;
        }
        VLFuzzNumberLiteral(g);
        return;
    default:  // a parenthesised expression
        if (depth < VLFuzzMaxExpressionDepth) {
            g->text += "(";
            VLFuzzExpression(g, depth + 1, constantOnly);
            g->text += ")";
            return;
        }
        VLFuzzNumberLiteral(g);
        return;
    }
}

// An expression of a few operands: prefix operators now and then, binary
// operators of every precedence.
static void VLFuzzExpression(VLFuzzGenerator* g, int depth, bool constantOnly) {
    static const char* const kBinary[] = {"+", "-", "*", "/", "%", "<", "<=", "==", ">", ">=",
                                          "!=", "<<", ">>", "&", "|", "^", "&&", "||"};
    static const char* const kUnary[] = {"-", "!", "abs ", "- -"};
    VLFuzzReader* r = &g->reader;
    if (depth == 0) g->operandsLeft = VLFuzzMaxOperands;
    if (VLFuzzChance(r, 6)) g->text += kUnary[VLFuzzTake(r, 4)];
    VLFuzzOperand(g, depth, constantOnly);
    unsigned more = depth < VLFuzzMaxExpressionDepth ? VLFuzzTake(r, 3) : 0;
    for (unsigned i = 0; i < more && g->operandsLeft > 0; ++i) {
        g->text += std::string(" ") + kBinary[VLFuzzTake(r, 18)] + " ";
        VLFuzzOperand(g, depth + 1, constantOnly);
    }
}

// A size: mostly a usual width, sometimes read from the data, now and then
// odd, zero, negative or large.
static void VLFuzzSize(VLFuzzGenerator* g) {
    static const char* const kSizes[] = {"1", "2", "4", "8", "1", "2", "4", "3", "16", "5"};
    static const char* const kBadSizes[] = {"0", "-1", "200", "0x7FFFFFFFFFFFFFFF", "0x8000000000000000"};
    VLFuzzReader* r = &g->reader;
    if (VLFuzzChance(r, 6)) VLFuzzExpression(g, 1, false);
    else if (VLFuzzChance(r, 20)) g->text += kBadSizes[VLFuzzTake(r, 5)];
    else g->text += kSizes[VLFuzzTake(r, 10)];
}

// endian(expression): a byte order the data decides, as often as not from a
// condition on what was read.
static void VLFuzzByteOrder(VLFuzzGenerator* g) {
    g->text += "endian(";
    VLFuzzExpression(g, 1, false);
    g->text += ")";
}

// kind ( size {, modifier} ); repeated modifiers only now and then.
static void VLFuzzPrimitive(VLFuzzGenerator* g) {
    static const char* const kKinds[] = {"u", "s", "f", "raw", "string", "hidden", "u", "s"};
    static const char* const kModifiers[] = {"hex", "binary", "octal", "big", "little", "endian"};
    VLFuzzReader* r = &g->reader;
    g->text += kKinds[VLFuzzTake(r, 8)];
    g->text += "(";
    VLFuzzSize(g);
    unsigned count = VLFuzzTake(r, 3);
    bool display = false, order = false;
    for (unsigned i = 0; i < count; ++i) {
        unsigned modifier = VLFuzzTake(r, 6);
        bool isOrder = modifier >= 3;
        if ((isOrder ? order : display) && !VLFuzzChance(r, 64)) continue;
        (isOrder ? order : display) = true;
        g->text += ", ";
        if (modifier == 5) VLFuzzByteOrder(g);
        else g->text += kModifiers[modifier];
    }
    g->text += ")";
}

// A member whose size the data decides: zstring, or a variable-length number
// with a display word now and then; the bound is a size like any other.
static void VLFuzzMeasured(VLFuzzGenerator* g) {
    static const char* const kKinds[] = {"zstring", "uleb", "sleb", "vlq"};
    static const char* const kDisplays[] = {", hex", ", binary", ", octal"};
    VLFuzzReader* r = &g->reader;
    unsigned kind = VLFuzzTake(r, 4);
    g->text += kKinds[kind];
    g->text += "(";
    if (VLFuzzChance(r, 3)) g->text += kind == 0 ? "16" : VLFuzzChance(r, 2) ? "10" : "11";
    else VLFuzzSize(g);
    if (kind > 0 && VLFuzzChance(r, 4)) g->text += kDisplays[VLFuzzTake(r, 3)];
    g->text += ")";
}

// An array count: a few elements, one read from the data, or now and then a
// boundary (zero, negative, beyond 32 bits, far beyond the data).
static void VLFuzzArrayCount(VLFuzzGenerator* g) {
    static const char* const kCounts[] = {"1", "2", "3", "5", "12"};
    static const char* const kBadCounts[] = {"0", "-1", "0x80000000", "1099511627776", "0xFFFFFFFF", "0x100000000"};
    VLFuzzReader* r = &g->reader;
    if (VLFuzzChance(r, 3)) VLFuzzExpression(g, 1, false);
    else if (VLFuzzChance(r, 16)) g->text += kBadCounts[VLFuzzTake(r, 6)];
    else g->text += kCounts[VLFuzzTake(r, 5)];
}

// [ @( [external] expression ) ] [ hidden ] type-part name [ [ count ] ] ;
static void VLFuzzMember(VLFuzzGenerator* g) {
    VLFuzzReader* r = &g->reader;
    VLFuzzTypeInfo& type = g->types[size_t(g->current)];
    unsigned placement = VLFuzzTake(r, 10);
    if (placement <= 1) {
        g->text += placement ? "@(external " : "@(";
        VLFuzzExpression(g, 1, false);
        g->text += ") ";
    }
    if (VLFuzzChance(r, 10)) g->text += "hidden ";
    VLFuzzMemberInfo info{VLFuzzName(g, "m", int(type.members.size())), VLFuzzMember_Scalar, -1};
    unsigned kind = VLFuzzTake(r, 10);
    std::vector<unsigned> namedEnums;
    for (unsigned i = 0; i < g->enums.size(); ++i)
        if (g->enums[i].named) namedEnums.push_back(i);
    // A struct member; its own type (recursion) mostly where a condition can end it.
    bool self = VLFuzzChance(r, g->blockDepth ? 3 : 24);
    bool other = g->current != 0 || !g->categories.empty();
    if (kind <= 1 && (self || other)) {
        int chosen = VLFuzzTypeInstance(g, 1, self);
        info.kind = chosen >= 0 ? VLFuzzMember_Struct : VLFuzzMember_Category;
        info.type = chosen;
    } else if (kind == 2 && !namedEnums.empty()) {
        g->text += "E" + VLFuzzNumber(int(namedEnums[VLFuzzTake(r, unsigned(namedEnums.size()))])) + "(";
        VLFuzzSize(g);
        unsigned order = VLFuzzTake(r, 4);
        if (order == 3) {
            g->text += ", ";
            VLFuzzByteOrder(g);
            g->text += ")";
        } else {
            g->text += order == 0 ? ")" : order == 1 ? ", big)" : ", little)";
        }
    } else if (kind == 3 && g->typedefs) {
        g->text += "D" + VLFuzzNumber(int(VLFuzzTake(r, unsigned(g->typedefs))));
    } else if (kind == 4) {
        VLFuzzMeasured(g);
    } else {
        VLFuzzPrimitive(g);
    }
    g->text += " " + info.name;
    if (VLFuzzChance(r, 4)) {
        g->text += "[";
        VLFuzzArrayCount(g);
        g->text += "]";
    }
    g->text += ";\n";
    type.members.push_back(info);
}

static void VLFuzzBlock(VLFuzzGenerator* g, int depth);

static std::string VLFuzzNewLocal(VLFuzzGenerator* g) {
    std::string name = "v" + VLFuzzNumber(g->localCounter++);
    g->locals.push_back(name);
    ++g->keptSlots;
    return name;
}

static void VLFuzzStatement(VLFuzzGenerator* g, int depth) {
    static const char* const kAssign[] = {"=", "+=", "-=", "*=", "/=", "%=", "<<=", ">>=", "&=", "|=", "^="};
    VLFuzzReader* r = &g->reader;
    --g->statementsLeft;
    bool nest = depth < VLFuzzMaxBlockDepth;
    bool keep = g->keptSlots < VLFuzzMaxKeptSlots;
    // Counted from the top, so that steering bytes running out choose a member.
    switch (19 - VLFuzzTake(r, 20)) {
    case 0:  // var [= expression]
        if (!keep) break;
        if (VLFuzzChance(r, 4)) {
            g->text += "var " + VLFuzzNewLocal(g) + ";\n";
        } else {
            g->text += "var ";
            size_t at = g->text.size();
            VLFuzzExpression(g, 0, false);  // the initializer cannot name the new local
            std::string initializer = g->text.substr(at);
            g->text.resize(at);
            g->text += VLFuzzNewLocal(g) + " = " + initializer + ";\n";
        }
        return;
    case 1:  // assignment to a local or the cursor
    case 2:
        if (g->locals.empty() || VLFuzzChance(r, 3)) g->text += "@ ";
        else g->text += g->locals[VLFuzzTake(r, unsigned(g->locals.size()))] + " ";
        g->text += kAssign[VLFuzzTake(r, 11)];
        g->text += " ";
        VLFuzzExpression(g, 0, false);
        g->text += ";\n";
        return;
    case 3:  // if, else if, else
    case 4:
        if (!nest) break;
        g->text += "if (";
        VLFuzzExpression(g, 0, false);
        g->text += ") {\n";
        VLFuzzBlock(g, depth + 1);
        g->text += "}";
        for (int i = 0; i < 2 && VLFuzzChance(r, 3); ++i) {
            g->text += " else if (";
            VLFuzzExpression(g, 0, false);
            g->text += ") {\n";
            VLFuzzBlock(g, depth + 1);
            g->text += "}";
        }
        if (VLFuzzChance(r, 3)) {
            g->text += " else {\n";
            VLFuzzBlock(g, depth + 1);
            g->text += "}";
        }
        g->text += "\n";
        return;
    case 5:  // while: counted, or on any condition
        if (!nest || g->keptSlots + 2 > VLFuzzMaxKeptSlots) break;
        if (!VLFuzzChance(r, 4)) {
            std::string counter = VLFuzzNewLocal(g);
            g->text += "var " + counter + " = 0;\nwhile (" + counter + " < " + VLFuzzNumber(int(VLFuzzTake(r, 6))) + ") {\n";
            ++g->keptSlots;
            VLFuzzBlock(g, depth + 1);
            g->text += counter + " += 1;\n}\n";
        } else {
            g->text += "while (";
            VLFuzzExpression(g, 0, false);
            g->text += ") {\n";
            ++g->keptSlots;
            VLFuzzBlock(g, depth + 1);
            g->text += "}\n";
        }
        return;
    case 6:  // do ... while
        if (!nest || !keep) break;
        g->text += "do {\n";
        VLFuzzBlock(g, depth + 1);
        g->text += "} while (";
        VLFuzzExpression(g, 0, false);
        g->text += ");\n";
        ++g->keptSlots;
        return;
    case 7: {  // for: its locals end with the loop
        if (!nest || g->keptSlots + 2 > VLFuzzMaxKeptSlots) break;
        size_t localsBefore = g->locals.size();
        int keptBefore = g->keptSlots;
        if (VLFuzzChance(r, 5)) {
            g->text += "for (; ";
            VLFuzzExpression(g, 0, false);
            g->text += ";) {\n";
        } else {
            std::string counter = VLFuzzNewLocal(g);
            g->text += "for (var " + counter + " = 0; " + counter + " < ";
            VLFuzzExpression(g, 0, false);
            g->text += "; " + counter + " += 1) {\n";
        }
        ++g->keptSlots;
        VLFuzzBlock(g, depth + 1);
        g->text += "}\n";
        g->locals.resize(localsBefore);
        g->keptSlots = keptBefore;
        return;
    }
    case 8:  // print
        switch (VLFuzzTake(r, 3)) {
        case 0:
            g->text += "print(\"p\\\"q\");\n";
            return;
        case 1:
            g->text += "print(\"value\", ";
            VLFuzzExpression(g, 0, false);
            g->text += ");\n";
            return;
        default:  // parenthesised, so that it never starts with a quoted literal
            g->text += "print((";
            VLFuzzExpression(g, 0, false);
            g->text += "));\n";
            return;
        }
    case 9:  // assert
        g->text += "assert(";
        VLFuzzExpression(g, 0, false);
        g->text += ");\n";
        return;
    case 10:  // breakpoint
        g->text += "breakpoint();\n";
        return;
    case 11: {  // show [(display)] name = expression; a member that paths can name
        static const char* const kDisplays[] = {"show ", "show ", "show(hex) ", "show(binary) ", "show(octal) "};
        VLFuzzTypeInfo& type = g->types[size_t(g->current)];
        VLFuzzMemberInfo info{VLFuzzName(g, "m", int(type.members.size())), VLFuzzMember_Scalar, -1};
        g->text += kDisplays[VLFuzzTake(r, 5)] + info.name + " = ";
        VLFuzzExpression(g, 0, false);
        g->text += ";\n";
        type.members.push_back(info);
        return;
    }
    default:
        break;
    }
    VLFuzzMember(g);
}

// The statements of a block, at least one while the body's budget lasts.
static void VLFuzzBlock(VLFuzzGenerator* g, int depth) {
    VLFuzzReader* r = &g->reader;
    unsigned count = 1 + VLFuzzTake(r, depth == 0 ? 12 : 4);
    g->blockDepth = depth;
    for (unsigned i = 0; i < count && g->statementsLeft > 0; ++i) {
        VLFuzzStatement(g, depth);
        g->blockDepth = depth;
    }
}

// struct [ (Category, key) ] Name [ (var p0, ...) ] { body };
static void VLFuzzStruct(VLFuzzGenerator* g) {
    VLFuzzReader* r = &g->reader;
    int index = int(g->types.size());
    int parameters = VLFuzzChance(r, 5) ? int(1 + VLFuzzTake(r, 2)) : 0;
    g->text += "struct ";
    if (VLFuzzChance(r, 3)) {
        unsigned category = VLFuzzTake(r, unsigned(g->categories.size()) + 1);
        if (category == g->categories.size()) g->categories.push_back(VLFuzzCategoryInfo{parameters, {}});
        VLFuzzCategoryInfo& info = g->categories[category];
        parameters = info.parameters;
        g->text += "(C" + VLFuzzNumber(int(category)) + ", ";
        size_t at = g->text.size();
        VLFuzzExpression(g, 1, true);
        info.keys.push_back(g->text.substr(at));
        g->text += ") ";
    }
    std::string name = VLFuzzName(g, "T", index);
    g->text += name;
    for (int i = 0; i < parameters; ++i) g->text += (i ? ", var p" : "(var p") + VLFuzzNumber(i);
    g->text += parameters ? ") {\n" : " {\n";
    g->types.push_back(VLFuzzTypeInfo{name, parameters, {}});
    g->current = index;
    g->locals.clear();
    g->localCounter = 0;
    g->keptSlots = parameters;
    g->statementsLeft = VLFuzzMaxBodyStatements;
    VLFuzzBlock(g, 0);
    g->text += "};\n";
    g->current = -1;
}

// enum [anonymous] [Name] { value [= constant], ... };
static void VLFuzzEnum(VLFuzzGenerator* g) {
    VLFuzzReader* r = &g->reader;
    std::string name = "E" + VLFuzzNumber(int(g->enums.size()));
    VLFuzzEnumInfo info{!VLFuzzChance(r, 5), false, 0};
    info.anonymous = !info.named || VLFuzzChance(r, 3);
    g->text += "enum ";
    if (info.named && info.anonymous) g->text += "anonymous ";
    if (info.named) g->text += name + " ";
    g->text += "{ ";
    bool flags = VLFuzzChance(r, 2);
    int values = int(VLFuzzTake(r, 6));
    for (int i = 0; i < values; ++i) {
        g->text += name + "V" + VLFuzzNumber(i);
        bool valueGiven = flags || VLFuzzChance(r, 3);
        if (flags) {
            g->text += " = " + VLFuzzNumber(1 << VLFuzzTake(r, 10));
        } else if (valueGiven) {
            g->text += " = ";
            VLFuzzExpression(g, 1, true);
        }
        // A value may follow the previous one without a comma, unless that
        // one ends in an expression (which would read the name as an operand).
        g->text += !valueGiven && VLFuzzChance(r, 5) ? " " : ", ";
    }
    g->text += "};\n";
    info.values = values;
    g->enums.push_back(info);
}

// layout Type; or layout Category[key]; (roots take no arguments: their
// parameters read 0).
static void VLFuzzLayoutStatement(VLFuzzGenerator* g) {
    VLFuzzReader* r = &g->reader;
    if (g->types.empty()) return;
    if (!g->categories.empty() && VLFuzzChance(r, 3)) {
        unsigned category = VLFuzzTake(r, unsigned(g->categories.size()));
        const VLFuzzCategoryInfo& info = g->categories[category];
        g->text += "layout C" + VLFuzzNumber(int(category)) + "[";
        if (!info.keys.empty() && !VLFuzzChance(r, 3)) g->text += info.keys[VLFuzzTake(r, unsigned(info.keys.size()))];
        else VLFuzzExpression(g, 0, false);
        g->text += "];\n";
        return;
    }
    g->text += "layout " + g->types[VLFuzzTake(r, unsigned(g->types.size()))].name + ";\n";
}

static void VLFuzzTopLevel(VLFuzzGenerator* g) {
    VLFuzzReader* r = &g->reader;
    // Counted from the top, so that steering bytes running out choose a struct.
    switch (13 - VLFuzzTake(r, 14)) {
    case 0:
        if (VLFuzzChance(r, 3)) g->text += "default(zero_counts = empty);\n";
        else g->text += VLFuzzChance(r, 2) ? "default(endianess = big);\n" : "default(endianess = little);\n";
        return;
    case 1:
    case 2:
        VLFuzzEnum(g);
        return;
    case 3:
        if (g->typedefs >= VLFuzzMaxTypedefs) break;
        g->text += "typedef ";
        if (VLFuzzChance(r, 4)) VLFuzzMeasured(g);
        else VLFuzzPrimitive(g);
        g->text += " D" + VLFuzzNumber(g->typedefs++) + ";\n";
        return;
    case 4:
        VLFuzzLayoutStatement(g);
        return;
    case 5:
        g->text += VLFuzzChance(r, 2) ? "print(\"top\", " : "assert(";
        VLFuzzExpression(g, 1, false);
        g->text += ");\n";
        return;
    default:
        break;
    }
    VLFuzzStruct(g);
}

VLFuzzCase VLFuzzSplitStructured(const uint8_t* bytes, size_t size) {
    VLFuzzCase result{};
    size_t header = size < 3 ? size : 3;
    size_t rest = size - header;
    size_t dataSize = header >= 2 ? (size_t(bytes[0]) | size_t(bytes[1]) << 8) % (rest + 1) : 0;
    result.debug = header == 3 && (bytes[2] & 1);
    result.data = bytes + size - dataSize;
    result.dataSize = dataSize;
    VLFuzzGenerator g{};
    g.reader = VLFuzzReader{bytes + header, rest - dataSize, 0};
    g.current = -1;
    unsigned statements = 1 + VLFuzzTake(&g.reader, VLFuzzMaxTopLevel);
    for (unsigned i = 0; i < statements; ++i) VLFuzzTopLevel(&g);
    if (!g.types.empty()) g.text += "layout " + g.types.back().name + ";\n";
    result.layout = std::move(g.text);
    return result;
}
