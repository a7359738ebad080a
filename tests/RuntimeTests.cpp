// RuntimeTests.cpp - the step machine run on hand-assembled programs.
//
// Programs are assembled directly into a VLProgram's instruction chunks (no
// compiler involved), in the shapes the compiler emits: struct bodies between
// start and end instructions, calls through push-frame / return number / goto
// / pop-frame, element loops around members. The tests step them and look at
// slots, the member tree and the result flags.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

// ---------------------------------------------------------------------------
// Assembler
// ---------------------------------------------------------------------------

VLLocation None() { return VLLocation{VLLocationKind_None, 0, 0}; }
VLLocation L(uint32_t index, uint32_t depth = 0) { return VLLocation{VLLocationKind_Local, depth, index}; }
VLLocation G(uint32_t index, uint32_t depth = 0) { return VLLocation{VLLocationKind_Global, depth, index}; }
VLLocation Cursor() { return G(1); }

struct Assembly {
    VLArena arena;
    VLProgram program;
};

VLInstruction* Append(Assembly* a, int32_t type) {
    VLInstructionList* list = &a->program.instructions;
    if (!list->last || list->last->count == VLInstructionChunkCapacity) {
        VLInstructionChunk* chunk = VLArenaNew<VLInstructionChunk>(&a->arena);
        if (list->last) list->last->next = chunk;
        else list->first = chunk;
        list->last = chunk;
    }
    VLInstruction* instruction = &list->last->items[list->last->count++];
    memset(instruction, 0, sizeof *instruction);
    instruction->type = type;
    instruction->index = list->totalCount++;
    return instruction;
}

uint32_t Next(const Assembly* a) { return a->program.instructions.totalCount; }

VLInstruction* Load(Assembly* a, VLLocation destination, int64_t value) {
    VLInstruction* i = Append(a, VLInstructionType_LoadConstant);
    i->destination = destination;
    i->constant.value = uint64_t(value);
    return i;
}

VLInstruction* Unary(Assembly* a, int32_t type, VLLocation destination, VLLocation operand) {
    VLInstruction* i = Append(a, type);
    i->destination = destination;
    i->unary.operand = operand;
    return i;
}

VLInstruction* Binary(Assembly* a, int32_t type, VLLocation destination, VLLocation left, VLLocation right) {
    VLInstruction* i = Append(a, type);
    i->destination = destination;
    i->binary.left = left;
    i->binary.right = right;
    return i;
}

VLInstruction* Goto(Assembly* a, uint32_t target, VLLocation condition = None()) {
    VLInstruction* i = Append(a, VLInstructionType_Goto);
    i->jump.targetIndex = target;
    i->jump.condition = condition;
    return i;
}

// Members are assembled as referenced (a path may read them, so their values
// are kept) unless a test says otherwise.
VLInstruction* Scalar(Assembly* a, int32_t type, uint32_t appearIndex, VLLocation size, uint32_t flags = 0,
                      VLLocation arrayCount = None(), uint32_t referenced = 1) {
    VLInstruction* i = Append(a, type);
    i->scalarExport.referenced = referenced;
    i->scalarExport.appearIndex = appearIndex;
    i->scalarExport.address = Cursor();
    i->scalarExport.size = size;
    i->scalarExport.flags = flags;
    i->scalarExport.arrayCount = arrayCount;
    return i;
}

VLInstruction* Lookup(Assembly* a, int32_t type, VLLocation destination, uint32_t category, VLLocation key) {
    VLInstruction* i = Append(a, type);
    i->destination = destination;
    i->typeLookup.categoryIndex = category;
    i->typeLookup.key = key;
    return i;
}

struct Step {
    uint32_t memberIndex;
    VLLocation element;
};

VLInstruction* Fetch(Assembly* a, VLLocation destination, std::initializer_list<Step> steps) {
    VLInstruction* i = Append(a, VLInstructionType_ValueOfMember);
    i->destination = destination;
    i->fetch.path = VLArenaNew<VLPathStep>(&a->arena, VLMaxPathSteps);  // room for steps added later
    for (const Step& step : steps) {
        i->fetch.path[i->fetch.pathCount].memberIndex = step.memberIndex;
        i->fetch.path[i->fetch.pathCount].arrayIndex = step.element;
        ++i->fetch.pathCount;
    }
    return i;
}

// A struct body: start-struct-definition ... end-struct-definition.
uint32_t BeginStruct(Assembly* a) { return Append(a, VLInstructionType_StartStructDefinition)->index; }
void EndStruct(Assembly* a, uint32_t start) {
    uint32_t end = Append(a, VLInstructionType_EndStructDefinition)->index;
    VLInstructionPointer(&a->program.instructions, start)->structDefinition.endIndex = end;
}

// The call sequence of one struct instance, using caller slots `scratch` and
// `scratch` + 1 for member count and type index. Returns the push-frame.
struct Call {
    uint32_t start;            // the type's start-struct-definition
    uint32_t memberCount;
    uint32_t typeIndex;
    uint32_t memberIndex;      // appearance number in the enclosing instance
    VLLocation arrayCount;     // None: not an array
    uint32_t detached;
    uint32_t referenced = 1;   // 0: no path names the member (its instances are pooled)
};
VLInstruction* EmitCall(Assembly* a, const Call& call, uint32_t scratch) {
    Load(a, L(scratch), call.memberCount);
    Load(a, L(scratch + 1), call.typeIndex);
    VLInstruction* push = Append(a, VLInstructionType_PushFrame);
    push->pushFrame.typeIndex = L(scratch + 1);
    push->pushFrame.memberCount = L(scratch);
    push->pushFrame.memberIndex = call.memberIndex;
    push->pushFrame.arrayCount = call.arrayCount;
    push->pushFrame.detached = call.detached;
    push->pushFrame.referenced = call.referenced;
    VLInstruction* ret = Load(a, L(0), 0);
    VLInstruction* go = Goto(a, call.start);
    ret->constant.value = go->index;
    Append(a, VLInstructionType_PopFrame);
    return push;
}

// Element loop around a member: `counter` := 0; set-array-index; body; count
// check. `body` emits the member (and its cursor advance).
template <class Body>
void EmitElementLoop(Assembly* a, uint32_t counter, VLLocation count, uint32_t temp, Body body) {
    uint32_t loopStart = Load(a, L(counter), 0)->index;
    VLInstruction* index = Append(a, VLInstructionType_SetArrayIndex);
    index->arrayIndex.value = L(counter);
    body();
    if (count.kind == VLLocationKind_None) return;
    Load(a, L(temp), 1);
    Binary(a, VLInstructionType_Add, L(counter), L(counter), L(temp));
    Binary(a, VLInstructionType_Less, L(temp + 1), L(counter), count);
    Goto(a, loopStart, L(temp + 1));
}

// u(size) member number `appear`, read at the cursor, cursor advanced.
void EmitByteMember(Assembly* a, int32_t type, uint32_t appear, uint32_t sizeSlot, int64_t size,
                    uint32_t flags = 0, VLLocation arrayCount = None(), uint32_t referenced = 1) {
    Load(a, L(sizeSlot), size);
    Scalar(a, type, appear, L(sizeSlot), flags, arrayCount, referenced);
    Binary(a, VLInstructionType_Add, Cursor(), Cursor(), L(sizeSlot));
}

// ---------------------------------------------------------------------------
// Running
// ---------------------------------------------------------------------------

class RuntimeTest : public ::testing::Test {
protected:
    Assembly a{};
    VLArena runArena{};
    VLRuntime rt{};
    std::vector<uint8_t> data;

    void TearDown() override {
        VLArenaRelease(&runArena);
        VLArenaRelease(&a.arena);
    }

    // Forgets the program and the run, for tests that go through a table of programs.
    void Reset() {
        VLArenaRelease(&runArena);
        VLArenaRelease(&a.arena);
        a = Assembly{};
    }

    void Start(std::vector<uint8_t> bytes = {}) {
        data = std::move(bytes);
        VLRuntimeInit(&rt, &a.program, data.data(), data.size(), &runArena);
    }

    // Steps until the program ends, a step sets flags, or an instruction of
    // kind `stopAt` has run. Returns the last result.
    VLRuntimeResult Run(int32_t stopAt = -1, uint64_t limit = 100000000) {
        VLRuntimeResult result{};
        for (uint64_t n = 0; n < limit; ++n) {
            result = VLRuntimeStep(&rt);
            if (!result.instruction || result.flags || result.instruction->type == stopAt) return result;
        }
        ADD_FAILURE() << "program did not stop";
        return result;
    }

    int64_t Slot(VLLocation location) { return *VLResolveLocation(&rt, location); }
};

// ---------------------------------------------------------------------------
// Basics: empty programs, end of program, locations, frames
// ---------------------------------------------------------------------------

TEST_F(RuntimeTest, EmptyProgramsEndAtOnce) {
    Start();  // no chunk at all
    EXPECT_TRUE(VLRuntimeHasEnded(&rt));
    EXPECT_EQ(VLRuntimeStep(&rt).instruction, nullptr);

    a.program.instructions.first = a.program.instructions.last = VLArenaNew<VLInstructionChunk>(&a.arena);
    Start();  // one empty chunk, as the compiler leaves it
    EXPECT_TRUE(VLRuntimeHasEnded(&rt));
    VLRuntimeResult result = VLRuntimeStep(&rt);
    EXPECT_EQ(result.instruction, nullptr);
    EXPECT_EQ(result.flags, 0u);
}

TEST_F(RuntimeTest, StepsAfterTheEndChangeNothing) {
    Load(&a, G(2), 7);
    Start();
    EXPECT_EQ(VLRuntimeStep(&rt).instruction->index, 0u);
    EXPECT_TRUE(VLRuntimeHasEnded(&rt));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(VLRuntimeStep(&rt).instruction, nullptr);
    EXPECT_EQ(Slot(G(2)), 7);
    EXPECT_EQ(rt.stackCount, 1u);
}

TEST_F(RuntimeTest, FreshRuntimeStartsAtTheFirstInstructionWithOneClearedFrame) {
    Load(&a, G(2), 1);
    Start({1, 2, 3});
    EXPECT_EQ(rt.stackCount, 1u);
    EXPECT_EQ(rt.frames->parent, nullptr);
    EXPECT_EQ(rt.currentMember, nullptr);
    EXPECT_EQ(rt.dataSize, 3u);
    EXPECT_EQ(rt.position.chunk, a.program.instructions.first);
    EXPECT_EQ(rt.position.place, 0u);
    for (int64_t slot : rt.frames->slots) EXPECT_EQ(slot, 0);
}

TEST_F(RuntimeTest, LocationsResolveToTheirFrameOrTheScratchCell) {
    // Three frames: global (0), then 1 and 2 (innermost).
    for (int i = 0; i < 2; ++i) Append(&a, VLInstructionType_PushFrame);
    Start();
    Run();
    ASSERT_EQ(rt.stackCount, 3u);
    VLRuntimeFrame* inner = rt.frames;
    VLRuntimeFrame* middle = inner->parent;
    VLRuntimeFrame* global = middle->parent;
    struct Case {
        VLLocation location;
        int64_t* expected;
    } cases[] = {
        {L(5), &inner->slots[5]},
        {L(5, 1), &middle->slots[5]},
        {L(63, 2), &global->slots[63]},
        {L(5, 3), &rt.scratch},          // past the global frame
        {G(1), &global->slots[1]},
        {G(7, 1), &middle->slots[7]},
        {G(7, 2), &inner->slots[7]},
        {G(7, 3), &rt.scratch},          // no such frame
        {L(64), &rt.scratch},            // slot numbers stop at 63
        {G(1000, 1), &rt.scratch},
        {L(UINT32_MAX, UINT32_MAX), &rt.scratch},
        {None(), &rt.scratch},
        {VLLocation{7, 0, 3}, &rt.scratch},  // unknown kind
    };
    for (const Case& c : cases)
        EXPECT_EQ(VLResolveLocation(&rt, c.location), c.expected)
            << "kind " << c.location.kind << " depth " << c.location.depth << " index " << c.location.index;
}

TEST_F(RuntimeTest, ScratchCellKeepsWhatWasWrittenToIt) {
    Load(&a, None(), 41);
    Load(&a, L(70), 1);  // out of the frame: also the scratch cell
    Binary(&a, VLInstructionType_Add, G(2), None(), L(64));
    Start();
    Run();
    EXPECT_EQ(Slot(G(2)), 2);
    EXPECT_EQ(rt.scratch, 1);
}

TEST_F(RuntimeTest, FramesAreRecycledClearedAndForgetTheirElementNumber) {
    Append(&a, VLInstructionType_PushFrame);
    Load(&a, L(4), 99);
    Load(&a, L(2), 5);
    Append(&a, VLInstructionType_SetArrayIndex)->arrayIndex.value = L(2);
    Append(&a, VLInstructionType_PopFrame);
    uint32_t second = Append(&a, VLInstructionType_PushFrame)->index;
    Start();
    Run(VLInstructionType_SetArrayIndex);
    VLRuntimeFrame* first = rt.frames;
    EXPECT_EQ(rt.arrayIndices[0], 5u);
    Run(VLInstructionType_PopFrame);
    EXPECT_EQ(rt.stackCount, 1u);
    EXPECT_EQ(rt.freeFrames, first);
    EXPECT_EQ(rt.arrayIndices[0], 0u);
    VLRuntimeResult result = VLRuntimeStep(&rt);
    EXPECT_EQ(result.instruction->index, second);
    EXPECT_EQ(rt.frames, first);  // the same frame again
    EXPECT_EQ(rt.freeFrames, nullptr);
    EXPECT_EQ(rt.frames->slots[4], 0);
    EXPECT_EQ(rt.frames->parent, rt.globalFrame);
}

TEST_F(RuntimeTest, ElementNumberInTheGlobalFrameIsIgnored) {
    Load(&a, G(2), 9);
    Append(&a, VLInstructionType_SetArrayIndex)->arrayIndex.value = G(2);
    Start();
    EXPECT_EQ(Run().flags, 0u);
    for (uint32_t entry : rt.arrayIndices) EXPECT_EQ(entry, 0u);
}

// ---------------------------------------------------------------------------
// Operators
// ---------------------------------------------------------------------------

TEST_F(RuntimeTest, UnaryOperatorsAtRunTime) {
    struct Case {
        int32_t kind;
        int64_t operand;
        int64_t expected;
    } cases[] = {
        {VLInstructionType_Negate, 5, -5},
        {VLInstructionType_Negate, INT64_MIN, INT64_MIN},
        {VLInstructionType_LogicalNot, 7, 0},
        {VLInstructionType_LogicalNot, 0, 1},
        {VLInstructionType_BitwiseNot, 0, -1},
        {VLInstructionType_BitwiseNot, 0x0F, ~int64_t(0x0F)},
        {VLInstructionType_Abs, -5, 5},
        {VLInstructionType_Abs, 5, 5},
        {VLInstructionType_Abs, INT64_MIN, INT64_MIN},
        {VLInstructionType_Copy, -123456789, -123456789},
    };
    for (const Case& c : cases) {
        Load(&a, L(2), c.operand);
        Unary(&a, c.kind, L(3), L(2));
    }
    Start();
    for (const Case& c : cases) {
        VLRuntimeStep(&rt);
        VLRuntimeResult result = VLRuntimeStep(&rt);
        EXPECT_EQ(result.flags, 0u);
        EXPECT_EQ(Slot(L(3)), c.expected) << "kind " << c.kind << " operand " << c.operand;
        EXPECT_EQ(Slot(L(3)), VLEvaluateUnary(c.kind, c.operand));
    }
}

TEST_F(RuntimeTest, BinaryOperatorsAtRunTime) {
    struct Case {
        int32_t kind;
        int64_t left, right, expected;
    } cases[] = {
        {VLInstructionType_Add, 2, 3, 5},
        {VLInstructionType_Add, INT64_MAX, 1, INT64_MIN},
        {VLInstructionType_Subtract, INT64_MIN, 1, INT64_MAX},
        {VLInstructionType_Multiply, -4, 6, -24},
        {VLInstructionType_Multiply, INT64_MAX, 2, -2},
        {VLInstructionType_Divide, 7, -2, -3},
        {VLInstructionType_Divide, -7, 2, -3},
        {VLInstructionType_Divide, 10, 0, 0},
        {VLInstructionType_Divide, INT64_MIN, -1, INT64_MIN},
        {VLInstructionType_Modulo, 7, -2, 1},
        {VLInstructionType_Modulo, -7, 2, -1},
        {VLInstructionType_Modulo, 10, 0, 0},
        {VLInstructionType_Modulo, INT64_MIN, -1, 0},
        {VLInstructionType_Less, -1, 1, 1},
        {VLInstructionType_Less, 1, 1, 0},
        {VLInstructionType_LessEqual, 1, 1, 1},
        {VLInstructionType_LessEqual, 2, -2, 0},
        {VLInstructionType_Equal, -3, -3, 1},
        {VLInstructionType_Equal, -3, 3, 0},
        {VLInstructionType_Greater, 0, -1, 1},
        {VLInstructionType_Greater, INT64_MIN, INT64_MAX, 0},
        {VLInstructionType_GreaterEqual, 4, 4, 1},
        {VLInstructionType_GreaterEqual, 3, 4, 0},
        {VLInstructionType_NotEqual, 3, 4, 1},
        {VLInstructionType_NotEqual, 4, 4, 0},
        {VLInstructionType_ShiftLeft, 1, 64, 1},
        {VLInstructionType_ShiftLeft, 1, 65, 2},
        {VLInstructionType_ShiftLeft, 1, -1, INT64_MIN},
        {VLInstructionType_ShiftRight, -8, 1, -4},
        {VLInstructionType_ShiftRight, INT64_MIN, 63, -1},
        {VLInstructionType_BitwiseAnd, 0xF0F, 0x0FF, 0x00F},
        {VLInstructionType_BitwiseOr, 0xF00, 0x00F, 0xF0F},
        {VLInstructionType_BitwiseXor, 0xFF0, 0x0FF, 0xF0F},
        {VLInstructionType_LogicalAnd, 5, 0, 0},
        {VLInstructionType_LogicalAnd, 5, -2, 1},
        {VLInstructionType_LogicalOr, 0, -3, 1},
        {VLInstructionType_LogicalOr, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Load(&a, L(2), c.left);
        Load(&a, L(3), c.right);
        Binary(&a, c.kind, L(4), L(2), L(3));
    }
    Start();
    for (const Case& c : cases) {
        VLRuntimeStep(&rt);
        VLRuntimeStep(&rt);
        VLRuntimeResult result = VLRuntimeStep(&rt);
        EXPECT_EQ(result.flags, 0u);
        EXPECT_EQ(Slot(L(4)), c.expected) << "kind " << c.kind << " " << c.left << ", " << c.right;
        EXPECT_EQ(Slot(L(4)), VLEvaluateBinary(c.kind, c.left, c.right));
    }
}

TEST_F(RuntimeTest, DestinationMayBeAnOperand) {
    Load(&a, L(2), 5);
    Binary(&a, VLInstructionType_Multiply, L(2), L(2), L(2));
    Unary(&a, VLInstructionType_Negate, L(2), L(2));
    Start();
    Run();
    EXPECT_EQ(Slot(L(2)), -25);
}

TEST_F(RuntimeTest, SizeOfFileAndHiddenRegions) {
    Append(&a, VLInstructionType_SizeOfFile)->destination = G(2);
    Append(&a, VLInstructionType_HideMembers);
    Append(&a, VLInstructionType_HideMembers);
    Append(&a, VLInstructionType_ShowMembers);
    Append(&a, VLInstructionType_Breakpoint);
    Append(&a, VLInstructionType_ShowMembers);
    Append(&a, VLInstructionType_Print);
    Append(&a, VLInstructionType_Invalid);
    Start(std::vector<uint8_t>(1234));
    EXPECT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    EXPECT_EQ(Slot(G(2)), 1234);
    EXPECT_EQ(rt.membersHidden, 1);
    EXPECT_EQ(Run().instruction, nullptr);
    EXPECT_EQ(rt.membersHidden, 0);
}

// ---------------------------------------------------------------------------
// Jumps
// ---------------------------------------------------------------------------

TEST_F(RuntimeTest, ConditionalGotoJumpsOnlyOnNonZero) {
    struct Case {
        int64_t condition;
        int64_t expected;
    } cases[] = {{0, 1}, {5, 2}, {-1, 2}};
    for (const Case& c : cases) {
        Reset();
        Load(&a, L(2), c.condition);
        Goto(&a, 3, L(2));      // taken: continue after 3
        Load(&a, G(3), 1);
        Goto(&a, 4);
        Load(&a, G(3), 2);
        Start();
        Run();
        EXPECT_EQ(Slot(G(3)), c.expected) << "condition " << c.condition;
    }
}

TEST_F(RuntimeTest, ComputedGotoAndLoopFromBeforeTheFirstInstruction) {
    // A loop whose first instruction is instruction 0 jumps to 0xFFFFFFFF.
    Binary(&a, VLInstructionType_Add, G(2), G(2), G(3));  // 0: g2 += g3 (0 on the first pass)
    Load(&a, G(3), 1);                                      // 1
    Load(&a, G(5), 3);                                      // 2
    Binary(&a, VLInstructionType_Less, G(4), G(2), G(5));   // 3: g4 = g2 < 3
    Goto(&a, UINT32_MAX, G(4));                             // 4
    Load(&a, L(6), 7);                                      // 5
    VLInstruction* computed = Goto(&a, 0);                  // 6: continues after the slot's 7
    computed->jump.target = L(6);
    Load(&a, G(7), 1);                                      // 7: skipped
    Load(&a, G(8), 1);                                      // 8
    Start();
    Run();
    EXPECT_EQ(Slot(G(2)), 3);
    EXPECT_EQ(Slot(G(7)), 0);
    EXPECT_EQ(Slot(G(8)), 1);
}

TEST_F(RuntimeTest, JumpsAcrossChunksAndToTheLastInstruction) {
    // 600 instructions over three chunks: forward into the third chunk,
    // back into the first, and finally to the last instruction (the end).
    Goto(&a, 520);                                 // 0
    uint32_t back = Load(&a, G(3), 1)->index;      // 1
    Goto(&a, 599);                                 // 2
    while (Next(&a) < 521) Load(&a, G(2), 100);
    Load(&a, G(4), 1);                             // 521
    Goto(&a, back - 1);                            // 522
    while (Next(&a) < 599) Load(&a, G(2), 200);
    Load(&a, G(5), 1);                             // 599: skipped by the jump to 599
    ASSERT_EQ(a.program.instructions.totalCount, 600u);
    Start();
    uint32_t steps = 0;
    while (VLRuntimeStep(&rt).instruction) ++steps;
    EXPECT_EQ(steps, 5u);
    EXPECT_EQ(Slot(G(2)), 0);
    EXPECT_EQ(Slot(G(3)), 1);
    EXPECT_EQ(Slot(G(4)), 1);
    EXPECT_EQ(Slot(G(5)), 0);
    EXPECT_TRUE(VLRuntimeHasEnded(&rt));
}

TEST_F(RuntimeTest, StructBodyIsSkippedInSequenceAndReturnsAfterTheCall) {
    uint32_t start = BeginStruct(&a);
    Load(&a, G(2), 11);  // runs only when called
    EndStruct(&a, start);
    EmitCall(&a, {start, 0, 0, 0, None(), 0}, 2);
    Load(&a, G(3), 22);
    Start();
    VLRuntimeResult result = VLRuntimeStep(&rt);
    EXPECT_EQ(result.instruction->type, VLInstructionType_StartStructDefinition);
    EXPECT_EQ(rt.position.place, 3u);  // past the end-struct-definition
    EXPECT_EQ(Run(VLInstructionType_EndStructDefinition).flags, 0u);
    EXPECT_EQ(Slot(G(2)), 11);
    EXPECT_EQ(rt.currentMember, nullptr);  // back out of the root instance
    EXPECT_EQ(VLRuntimeStep(&rt).instruction->type, VLInstructionType_PopFrame);
    Run();
    EXPECT_EQ(Slot(G(3)), 22);
    EXPECT_EQ(rt.stackCount, 1u);
}

// ---------------------------------------------------------------------------
// Scalar members
// ---------------------------------------------------------------------------

// Runs one scalar member as member 0 of a root instance over `bytes`.
struct ScalarRun {
    VLRuntimeResult result;
    const VLRuntimeMember* record;  // element 0 of member 0
};

class ScalarTest : public RuntimeTest {
protected:
    ScalarRun RunScalar(std::vector<uint8_t> bytes, int32_t kind, int64_t address, int64_t size,
                        uint32_t flags = 0) {
        Reset();
        uint32_t start = BeginStruct(&a);
        Load(&a, Cursor(), address);
        EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, kind, 0, 3, size, flags); });
        Append(&a, VLInstructionType_Breakpoint);
        EndStruct(&a, start);
        EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
        Start(std::move(bytes));
        ScalarRun run{};
        run.result = Run(VLInstructionType_Breakpoint);
        const VLRuntimeMemberArray& member = rt.currentMember->nestedType.members[0];
        run.record = member.capacity ? &member.elements[0] : nullptr;
        return run;
    }
};

TEST_F(ScalarTest, ByteOrderSignExtensionAndWidth) {
    const std::vector<uint8_t> ff8(8, 0xFF);
    std::vector<uint8_t> sixteen;
    for (int i = 1; i <= 16; ++i) sixteen.push_back(uint8_t(i));
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int32_t kind;
        int64_t size;
        uint32_t flags;
        uint64_t expected;
    } cases[] = {
        {"u2 little", {0x01, 0x02}, VLInstructionType_ScalarMemberU, 2, 0, 0x0201},
        {"u2 big", {0x01, 0x02}, VLInstructionType_ScalarMemberU, 2, VLMemberFlag_BigEndian, 0x0102},
        {"s1 0x80", {0x80}, VLInstructionType_ScalarMemberS, 1, 0, uint64_t(-128)},
        {"u1 0x80", {0x80}, VLInstructionType_ScalarMemberU, 1, 0, 128},
        {"s1 0x7F", {0x7F}, VLInstructionType_ScalarMemberS, 1, 0, 127},
        {"s8 all FF", ff8, VLInstructionType_ScalarMemberS, 8, 0, uint64_t(-1)},
        {"u8 all FF", ff8, VLInstructionType_ScalarMemberU, 8, 0, UINT64_MAX},
        {"s2 big 80 00", {0x80, 0x00}, VLInstructionType_ScalarMemberS, 2, VLMemberFlag_BigEndian, uint64_t(-32768)},
        {"s2 little 80 00", {0x80, 0x00}, VLInstructionType_ScalarMemberS, 2, 0, 0x80},
        {"s3 little FE FF FF", {0xFE, 0xFF, 0xFF}, VLInstructionType_ScalarMemberS, 3, 0, uint64_t(-2)},
        {"s7 big", {0x80, 0, 0, 0, 0, 0, 1}, VLInstructionType_ScalarMemberS, 7, VLMemberFlag_BigEndian,
         0xFF80000000000001ull},
        {"u16 first 8 bytes", sixteen, VLInstructionType_ScalarMemberU, 16, 0, 0x0807060504030201ull},
        {"u16 big first 8 bytes", sixteen, VLInstructionType_ScalarMemberU, 16, VLMemberFlag_BigEndian,
         0x0102030405060708ull},
        {"s9 not extended", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0xFF}, VLInstructionType_ScalarMemberS,
         9, 0, 0x80FFFFFFFFFFFFFFull},
        {"f4 bits unconverted", {0x00, 0x00, 0x80, 0xBF}, VLInstructionType_ScalarMemberF, 4, 0, 0xBF800000ull},
        {"raw flags ignored but byte order", {0x12, 0x34}, VLInstructionType_ScalarMemberU, 2,
         VLMemberFlag_Raw | VLMemberFlag_BigEndian | 3, 0x1234},
    };
    for (const Case& c : cases) {
        ScalarRun run = RunScalar(c.bytes, c.kind, 0, c.size, c.flags);
        EXPECT_EQ(run.result.flags, 0u) << c.what;
        ASSERT_NE(run.record, nullptr) << c.what;
        EXPECT_EQ(run.record->flags, uint32_t(VLRuntimeMemberFlag_IsSet)) << c.what;
        EXPECT_EQ(run.record->value, c.expected) << c.what;
    }
}

TEST_F(ScalarTest, AddressAndSizeChecks) {
    struct Case {
        int64_t address, size;
        uint32_t dataSize;
        uint32_t flags;
        int64_t reportedAddress, reportedSize;
    } cases[] = {
        {0, 4, 4, 0, 0, 0},  // ends exactly at the end of the data
        {1, 4, 4, VLRuntimeResultFlag_InvalidAddress, 1, 0},
        {-1, 1, 4, VLRuntimeResultFlag_InvalidAddress, -1, 0},
        {0, 0, 4, VLRuntimeResultFlag_InvalidSize, 0, 0},
        {0, -3, 4, VLRuntimeResultFlag_InvalidSize, 0, -3},
        {-1, 0, 4, VLRuntimeResultFlag_InvalidSize | VLRuntimeResultFlag_InvalidAddress, -1, 0},
        {5, 0, 4, VLRuntimeResultFlag_InvalidSize | VLRuntimeResultFlag_InvalidAddress, 5, 0},
        {4, 0, 4, VLRuntimeResultFlag_InvalidSize, 0, 0},  // size 0 at the end still fits
        {INT64_MAX, 8, 4, VLRuntimeResultFlag_InvalidAddress, INT64_MAX, 0},
        {INT64_MAX, INT64_MAX, 4, VLRuntimeResultFlag_InvalidAddress, INT64_MAX, 0},
        {2, INT64_MAX, 4, VLRuntimeResultFlag_InvalidAddress, 2, 0},
        {INT64_MIN, INT64_MIN, 4, VLRuntimeResultFlag_InvalidSize | VLRuntimeResultFlag_InvalidAddress,
         INT64_MIN, INT64_MIN},
        {0, 1, 0, VLRuntimeResultFlag_InvalidAddress, 0, 0},  // empty data
    };
    for (const Case& c : cases) {
        ScalarRun run = RunScalar(std::vector<uint8_t>(c.dataSize, 0xAB), VLInstructionType_ScalarMemberU,
                                  c.address, c.size);
        std::string what = "address " + std::to_string(c.address) + " size " + std::to_string(c.size);
        EXPECT_EQ(run.result.flags, c.flags) << what;
        ASSERT_NE(run.result.instruction, nullptr) << what;
        if (c.flags) {
            EXPECT_EQ(run.result.instruction->type, VLInstructionType_ScalarMemberU) << what;
            if (c.flags & VLRuntimeResultFlag_InvalidAddress) {
                EXPECT_EQ(run.result.address, c.reportedAddress) << what;
            }
            if (c.flags & VLRuntimeResultFlag_InvalidSize) {
                EXPECT_EQ(run.result.size, c.reportedSize) << what;
            }
            EXPECT_EQ(run.record, nullptr) << what;  // nothing stored
            EXPECT_EQ(rt.currentMember->nestedType.members[0].arrayCount, 0u) << what;
        }
    }
}

// The members whose size the data decides: the value kept, the bytes taken
// (which the cursor advance adds) and the reports, at the edges of 64 bits
// and of the bound.
TEST_F(ScalarTest, MeasuredMembersTakeTheirBytes) {
    std::vector<uint8_t> ten(9, 0xFF), eleven(10, 0x80);
    ten.push_back(0x01);      // 2^64 - 1
    eleven.push_back(0x00);   // zero padding past 64 bits
    std::vector<uint8_t> tooLarge(9, 0xFF);
    tooLarge.push_back(0x02);
    std::vector<uint8_t> smallest(9, 0x80);
    smallest.push_back(0x7F);  // sleb -2^63
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int32_t kind;
        int64_t bound;
        uint32_t flags;       // the report expected
        uint64_t value;
        int64_t cursor;       // after the member (no report)
    } cases[] = {
        {"uleb one byte", {0x7F, 0xFF}, VLInstructionType_ULebMember, 10, 0, 127, 1},
        {"uleb three", {0xE5, 0x8E, 0x26}, VLInstructionType_ULebMember, 3, 0, 624485, 3},
        {"uleb ten", ten, VLInstructionType_ULebMember, 10, 0, UINT64_MAX, 10},
        {"uleb eleven padded", eleven, VLInstructionType_ULebMember, 11, 0, 0, 11},
        {"uleb tenth group 2", tooLarge, VLInstructionType_ULebMember, 10, VLRuntimeResultFlag_ValueTooLarge, 0, 0},
        {"uleb bound too small", {0x80, 0x80, 0x01}, VLInstructionType_ULebMember, 2,
         VLRuntimeResultFlag_NoFinalByte, 0, 0},
        {"uleb data too short", {0x80, 0x80}, VLInstructionType_ULebMember, 5, VLRuntimeResultFlag_NoFinalByte, 0, 0},
        {"uleb bound 0", {0x01}, VLInstructionType_ULebMember, 0, VLRuntimeResultFlag_InvalidSize, 0, 0},
        {"sleb -1", {0x7F}, VLInstructionType_SLebMember, 4, 0, uint64_t(-1), 1},
        {"sleb 63", {0x3F}, VLInstructionType_SLebMember, 4, 0, 63, 1},
        {"sleb 64 needs two", {0xC0, 0x00}, VLInstructionType_SLebMember, 4, 0, 64, 2},
        {"sleb -123456", {0xC0, 0xBB, 0x78}, VLInstructionType_SLebMember, 4, 0, uint64_t(-123456), 3},
        {"sleb smallest", smallest, VLInstructionType_SLebMember, 10, 0, 0x8000000000000000ull, 10},
        {"sleb tenth group 1", ten, VLInstructionType_SLebMember, 10, VLRuntimeResultFlag_ValueTooLarge, 0, 0},
        {"vlq one byte", {0x00}, VLInstructionType_VlqMember, 4, 0, 0, 1},
        {"vlq 81 00", {0x81, 0x00}, VLInstructionType_VlqMember, 4, 0, 128, 2},
        {"vlq nine groups", std::vector<uint8_t>{0x81, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00},
         VLInstructionType_VlqMember, 9, 0, 1ull << 56, 9},
        {"vlq ten groups too large", std::vector<uint8_t>{0x82, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x00},
         VLInstructionType_VlqMember, 10, VLRuntimeResultFlag_ValueTooLarge, 0, 0},
        {"zstring with NUL", {'a', 'b', 0, 'c'}, VLInstructionType_ZStringMember, 8, 0, 0x6261, 3},
        {"zstring bound", {'a', 'b', 'c', 'd'}, VLInstructionType_ZStringMember, 2, 0, 0x6261, 2},
        {"zstring end of data", {'a', 'b'}, VLInstructionType_ZStringMember, 8, 0, 0x6261, 2},
    };
    for (const Case& c : cases) {
        ScalarRun run = RunScalar(c.bytes, c.kind, 0, c.bound);
        EXPECT_EQ(run.result.flags, c.flags) << c.what;
        if (c.flags) {
            EXPECT_EQ(run.record, nullptr) << c.what;
            continue;
        }
        ASSERT_NE(run.record, nullptr) << c.what;
        EXPECT_EQ(run.record->value, c.value) << c.what;
        EXPECT_EQ(*VLResolveLocation(&rt, Cursor()), c.cursor) << c.what;
    }
}

// ---------------------------------------------------------------------------
// Member tree, arrays and paths
// ---------------------------------------------------------------------------

// struct S { u(1) v; };  struct R { S items[count]; u(1) after; [fetch] };
// `count` sits in global slot 10; the fetches come from `fetches`.
class TreeTest : public RuntimeTest {
protected:
    uint32_t sStart = 0, rStart = 0;

    template <class Fetches>
    void Build(Fetches fetches) {
        sStart = BeginStruct(&a);
        EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1); });
        EndStruct(&a, sStart);

        rStart = BeginStruct(&a);
        Unary(&a, VLInstructionType_Copy, L(20), G(10));
        EmitElementLoop(&a, 2, L(20), 6, [&] { EmitCall(&a, {sStart, 1, 0, 0, L(20), 0}, 3); });
        EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 1, 3, 1); });
        fetches();
        Append(&a, VLInstructionType_Breakpoint);
        EndStruct(&a, rStart);
        EmitCall(&a, {rStart, 2, 1, 0, None(), 0}, 2);
    }

    void StartWithCount(int64_t count, std::vector<uint8_t> bytes) {
        Start(std::move(bytes));
        *VLResolveLocation(&rt, G(10)) = count;
    }
};

TEST_F(TreeTest, ThreeInstancesGetTheirOwnRecords) {
    Build([] {});
    StartWithCount(3, {10, 20, 30, 40});
    VLRuntimeResult result = Run(VLInstructionType_Breakpoint);
    ASSERT_EQ(result.flags, 0u);
    const VLRuntimeMember* root = rt.currentMember;
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->flags, uint32_t(VLRuntimeMemberFlag_IsNested | VLRuntimeMemberFlag_IsSet));
    EXPECT_EQ(root->parent, nullptr);
    ASSERT_EQ(root->nestedType.memberCount, 2u);
    const VLRuntimeMemberArray& items = root->nestedType.members[0];
    ASSERT_EQ(items.arrayCount, 3u);
    for (uint32_t e = 0; e < 3; ++e) {
        const VLRuntimeMember& item = items.elements[e];
        EXPECT_EQ(item.flags, uint32_t(VLRuntimeMemberFlag_IsNested | VLRuntimeMemberFlag_IsSet));
        EXPECT_EQ(item.parent, root);
        ASSERT_EQ(item.nestedType.memberCount, 1u);
        EXPECT_EQ(item.nestedType.members[0].arrayCount, 1u);
        EXPECT_EQ(item.nestedType.members[0].elements[0].value, 10u * (e + 1));
    }
    EXPECT_NE(items.elements[0].nestedType.members, items.elements[1].nestedType.members);
    EXPECT_EQ(root->nestedType.members[1].elements[0].value, 40u);
    EXPECT_EQ(Run().instruction, nullptr);
    EXPECT_EQ(rt.stackCount, 1u);
}

TEST_F(TreeTest, PathsFindValuesOrReportWhatIsMissing) {
    // Each fetch writes g(11); it starts at 777 so a failed fetch shows.
    struct Case {
        const char* what;
        std::vector<Step> path;
        int64_t element0;  // loaded into L(30) before the fetch
        int64_t element1;  // loaded into L(31)
        uint32_t flags;
        int64_t value;
        int64_t element;
        uint32_t elementCount;
        uint32_t pathStep;
    } cases[] = {
        {"third instance", {{0, L(30)}, {0, L(31)}}, 2, 0, 0, 30, 0, 0, 0},
        {"first instance", {{0, L(30)}, {0, L(31)}}, 0, 0, 0, 10, 0, 0, 0},
        {"scalar after the array", {{1, L(30)}}, 0, 0, 0, 40, 0, 0, 0},
        {"element -1", {{0, L(30)}, {0, L(31)}}, -1, 0, VLRuntimeResultFlag_IndexOutOfRange, 777, -1, 3, 0},
        {"element = count", {{0, L(30)}, {0, L(31)}}, 3, 0, VLRuntimeResultFlag_IndexOutOfRange, 777, 3, 3, 0},
        {"huge element", {{0, L(30)}, {0, L(31)}}, INT64_MAX, 0, VLRuntimeResultFlag_IndexOutOfRange, 777,
         INT64_MAX, 3, 0},
        {"inner element 1 of 1", {{0, L(30)}, {0, L(31)}}, 1, 1, VLRuntimeResultFlag_IndexOutOfRange, 777, 1, 1, 1},
        {"scalar element 1 of 1", {{1, L(30)}}, 1, 0, VLRuntimeResultFlag_IndexOutOfRange, 777, 1, 1, 0},
        {"through a scalar", {{1, L(30)}, {0, L(31)}}, 0, 0, VLRuntimeResultFlag_IndexOutOfRange, 777, 0, 1, 0},
        {"ends on a struct", {{0, L(30)}}, 1, 0, VLRuntimeResultFlag_IndexOutOfRange, 777, 1, 3, 0},
        {"member index past the type", {{5, L(30)}}, 0, 0, VLRuntimeResultFlag_IndexOutOfRange, 777, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Reset();
        Build([&] {
            Load(&a, L(30), c.element0);
            Load(&a, L(31), c.element1);
            VLInstruction* fetch = Fetch(&a, G(11), {});
            for (const Step& s : c.path) fetch->fetch.path[fetch->fetch.pathCount++] = {s.memberIndex, s.element};
        });
        StartWithCount(3, {10, 20, 30, 40});
        *VLResolveLocation(&rt, G(11)) = 777;
        VLRuntimeResult result = Run(VLInstructionType_Breakpoint);
        EXPECT_EQ(result.flags, c.flags) << c.what;
        EXPECT_EQ(Slot(G(11)), c.value) << c.what;
        if (c.flags) {
            EXPECT_EQ(result.instruction->type, VLInstructionType_ValueOfMember) << c.what;
            EXPECT_EQ(result.element, c.element) << c.what;
            EXPECT_EQ(result.elementCount, c.elementCount) << c.what;
            EXPECT_EQ(result.pathStep, c.pathStep) << c.what;
        }
    }
}

TEST_F(TreeTest, PathsIntoMembersNotReadYet) {
    // R { S items[4] (loop stopped after 2 elements); u(1) after; } with the
    // fetch placed between the two: items[2] exists but has not been read,
    // and member 1 has not been reached.
    struct Case {
        const char* what;
        std::vector<Step> path;
        uint32_t flags;
        int64_t value;
        int64_t element;
        uint32_t elementCount;
        uint32_t pathStep;
    } cases[] = {
        {"member not reached", {{1, L(30)}}, VLRuntimeResultFlag_IndexOutOfRange, 777, 0, 0, 0},
        {"instance not read yet", {{0, L(31)}, {0, L(30)}}, VLRuntimeResultFlag_IndexOutOfRange, 777, 2, 4, 0},
        {"instance read", {{0, L(32)}, {0, L(30)}}, 0, 20, 0, 0, 0},
    };
    for (const Case& c : cases) {
        Reset();
        sStart = BeginStruct(&a);
        EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1); });
        EndStruct(&a, sStart);
        rStart = BeginStruct(&a);
        Load(&a, L(20), 4);
        // Elements 0 and 1 only: the loop's bound is 2, the declared count 4.
        Load(&a, L(21), 2);
        EmitElementLoop(&a, 2, L(21), 6, [&] { EmitCall(&a, {sStart, 1, 0, 0, L(20), 0}, 3); });
        Load(&a, L(30), 0);
        Load(&a, L(31), 2);
        Load(&a, L(32), 1);
        VLInstruction* fetch = Fetch(&a, G(11), {});
        for (const Step& s : c.path) fetch->fetch.path[fetch->fetch.pathCount++] = {s.memberIndex, s.element};
        Append(&a, VLInstructionType_Breakpoint);
        EndStruct(&a, rStart);
        EmitCall(&a, {rStart, 2, 1, 0, None(), 0}, 2);
        Start({10, 20, 30});
        *VLResolveLocation(&rt, G(11)) = 777;
        VLRuntimeResult result = Run(VLInstructionType_Breakpoint);
        EXPECT_EQ(result.flags, c.flags) << c.what;
        EXPECT_EQ(Slot(G(11)), c.value) << c.what;
        EXPECT_EQ(result.element, c.element) << c.what;
        EXPECT_EQ(result.elementCount, c.elementCount) << c.what;
        EXPECT_EQ(result.pathStep, c.pathStep) << c.what;
    }
}

TEST_F(RuntimeTest, UnreadScalarElementReadsAsZero) {
    // u(1) b[count] with the loop stopped after element 0; b[element] exists, unread.
    struct Case {
        int64_t count, element;
    } cases[] = {{4, 3}, {100, 50}};
    for (const Case& c : cases) {
    Reset();
    uint32_t start = BeginStruct(&a);
    Load(&a, L(20), c.count);
    Load(&a, L(21), 1);
    EmitElementLoop(&a, 2, L(21), 6, [&] {
        EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
    });
    Load(&a, L(30), c.element);
    Fetch(&a, G(11), {{0, L(30)}});
    Append(&a, VLInstructionType_Breakpoint);
    EndStruct(&a, start);
    EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
    Start({9, 9, 9, 9});
    *VLResolveLocation(&rt, G(11)) = 777;
    EXPECT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u) << c.count;
    EXPECT_EQ(Slot(G(11)), 0) << c.count;
    }
}

TEST_F(RuntimeTest, ScalarArrayElementsAndCursor) {
    // u(1) b[4] over 01 02 03 04 then element values and cursor.
    uint32_t start = BeginStruct(&a);
    Load(&a, L(20), 4);
    EmitElementLoop(&a, 2, L(20), 6, [&] {
        EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
    });
    Append(&a, VLInstructionType_Breakpoint);
    EndStruct(&a, start);
    EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
    Start({1, 2, 3, 4, 5});
    EXPECT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    const VLRuntimeMemberArray& b = rt.currentMember->nestedType.members[0];
    ASSERT_EQ(b.arrayCount, 4u);
    for (uint32_t e = 0; e < 4; ++e) EXPECT_EQ(b.elements[e].value, e + 1);
    EXPECT_EQ(Slot(Cursor()), 4);
}

// ---------------------------------------------------------------------------
// Array counts and element numbers
// ---------------------------------------------------------------------------

TEST_F(RuntimeTest, InvalidArrayCountsKeepOneElement) {
    struct Case {
        int64_t count;
        bool structMember;
    } cases[] = {
        {0, false}, {-1, false}, {0x100000000ll, false}, {INT64_MIN, false},
        {0, true}, {-5, true}, {0x1FFFFFFFFll, true},
    };
    for (const Case& c : cases) {
        Reset();
        uint32_t inner = BeginStruct(&a);
        EndStruct(&a, inner);
        uint32_t start = BeginStruct(&a);
        Load(&a, L(20), c.count);
        if (c.structMember)
            EmitElementLoop(&a, 2, None(), 0, [&] { EmitCall(&a, {inner, 0, 0, 0, L(20), 0}, 3); });
        else
            EmitElementLoop(&a, 2, None(), 0, [&] {
                EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
            });
        EndStruct(&a, start);
        EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
        Start({0x5A});
        const VLRuntimeMember* root = nullptr;
        VLRuntimeResult result{};
        while ((result = VLRuntimeStep(&rt)).instruction && !result.flags)
            if (rt.currentMember && !root) root = rt.currentMember;
        std::string what = std::to_string(c.count) + (c.structMember ? " struct" : " scalar");
        EXPECT_EQ(result.flags, uint32_t(VLRuntimeResultFlag_InvalidArrayCount)) << what;
        EXPECT_EQ(result.count, c.count) << what;
        ASSERT_NE(root, nullptr);
        const VLRuntimeMemberArray& member = root->nestedType.members[0];
        EXPECT_EQ(member.arrayCount, 1u) << what;
        if (c.structMember) {
            EXPECT_EQ(result.instruction->type, VLInstructionType_PushFrame) << what;
            EXPECT_EQ(rt.stackCount, 3u) << what;  // the instance is still entered
            EXPECT_EQ(rt.currentMember, &member.elements[0]) << what;
        } else {
            EXPECT_EQ(member.elements[0].value, 0x5Au) << what;  // the value is still stored
        }
    }
}

TEST_F(RuntimeTest, ElementPastTheFixedCountIsReported) {
    // The count is 2 when element 0 is read and 3 when element 2 is reached.
    for (bool structMember : {false, true}) {
        Reset();
        uint32_t inner = BeginStruct(&a);
        EndStruct(&a, inner);
        uint32_t start = BeginStruct(&a);
        Load(&a, L(20), 2);
        Load(&a, L(21), 3);
        EmitElementLoop(&a, 2, L(21), 6, [&] {
            if (structMember) EmitCall(&a, {inner, 0, 0, 0, L(20), 0}, 3);
            else EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
            Load(&a, L(20), 3);  // a later evaluation of the count grows
        });
        EndStruct(&a, start);
        EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
        Start({1, 2, 3});
        VLRuntimeResult result = Run();
        EXPECT_EQ(result.flags, uint32_t(VLRuntimeResultFlag_ElementOutOfRange)) << structMember;
        EXPECT_EQ(result.element, 2) << structMember;
        EXPECT_EQ(result.elementCount, 2u) << structMember;
        EXPECT_EQ(rt.stackCount, 2u) << structMember;  // nothing pushed
        const VLRuntimeMemberArray& member = rt.currentMember->nestedType.members[0];
        EXPECT_EQ(member.arrayCount, 2u);
        EXPECT_LE(member.capacity, 2u);
        if (!structMember) {
            EXPECT_EQ(Slot(Cursor()), 2);
        }
    }
}

TEST_F(RuntimeTest, HugeArrayOverTinyFileAllocatesOnlyWhatIsReached) {
    uint32_t start = BeginStruct(&a);
    Load(&a, L(20), 2000000000);
    EmitElementLoop(&a, 2, L(20), 6, [&] {
        EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
    });
    EndStruct(&a, start);
    EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
    Start(std::vector<uint8_t>(10, 7));
    VLRuntimeResult result{};
    const VLRuntimeMember* root = nullptr;
    while ((result = VLRuntimeStep(&rt)).instruction && !result.flags) root = rt.currentMember;
    EXPECT_EQ(result.flags, uint32_t(VLRuntimeResultFlag_InvalidAddress));
    EXPECT_EQ(result.address, 10);
    ASSERT_NE(root, nullptr);
    const VLRuntimeMemberArray& member = root->nestedType.members[0];
    EXPECT_EQ(member.arrayCount, 2000000000u);
    EXPECT_EQ(member.capacity, 10u);
    for (uint32_t e = 0; e < 10; ++e) EXPECT_EQ(member.elements[e].value, 7u);
    EXPECT_LE(runArena.totalBytes, uint64_t(2) << 20);
}

TEST_F(RuntimeTest, RecordsThatReadNoDataStopAtTheMemoryLimit) {
    // u(1) b[2^31] kept for a path, every element read at address 0, and the
    // same as an array of struct instances whose body reads address 0: the
    // elements never run out of data, so the run's memory limit ends them.
    for (bool structs : {false, true}) {
        Reset();
        uint32_t inner = BeginStruct(&a);
        Load(&a, Cursor(), 0);
        EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1); });
        EndStruct(&a, inner);
        uint32_t start = BeginStruct(&a);
        Load(&a, L(20), int64_t(1) << 31);
        EmitElementLoop(&a, 2, L(20), 6, [&] {
            if (structs) {
                EmitCall(&a, {inner, 1, 0, 0, L(20), 0}, 10);
            } else {
                Load(&a, Cursor(), 0);
                EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
            }
        });
        EndStruct(&a, start);
        EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
        Start({9});
        rt.memoryLimit = runArena.totalBytes + (uint64_t(4) << 20);
        VLRuntimeResult result = Run();
        EXPECT_EQ(result.flags, uint32_t(VLRuntimeResultFlag_MemoryLimit)) << structs;
        ASSERT_NE(result.instruction, nullptr);
        EXPECT_EQ(result.instruction->type,
                  structs ? VLInstructionType_PushFrame : VLInstructionType_ScalarMemberU);
        EXPECT_LE(runArena.totalBytes, rt.memoryLimit) << structs;
        EXPECT_GT(rt.currentMember->nestedType.members[0].capacity, 5000u) << structs;
    }
}

TEST_F(RuntimeTest, FirstRecordsFollowTheDataLeft) {
    // u(1) b[count] placed at `cursor`, only element 0 read: the records made
    // for the array cover the data left, within 8 and 2^24 and the count.
    struct Case {
        int64_t count;
        uint64_t dataSize;  // claimed; only the first byte is read
        int64_t cursor;
        uint32_t capacity;
    } cases[] = {
        {2000000000, 10, 0, 10},
        {5000, 5000, 0, 5000},
        {5000, 100, 0, 100},
        {5000, 100, 98, 8},
        {3, 100, 0, 3},
        {1, 100, 0, 1},
        {2000000000, uint64_t(1) << 30, 0, 1u << 24},
    };
    for (const Case& c : cases) {
        Reset();
        uint32_t start = BeginStruct(&a);
        Load(&a, Cursor(), c.cursor);
        Load(&a, L(20), c.count);
        Load(&a, L(21), 1);
        EmitElementLoop(&a, 2, L(21), 6, [&] {
            EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
        });
        Append(&a, VLInstructionType_Breakpoint);
        EndStruct(&a, start);
        EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
        Start(std::vector<uint8_t>(100, 1));
        rt.dataSize = c.dataSize;
        ASSERT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u) << c.count;
        EXPECT_EQ(rt.currentMember->nestedType.members[0].capacity, c.capacity)
            << c.count << " over " << c.dataSize << " at " << c.cursor;
    }
}

TEST_F(RuntimeTest, ElementRecordsGrowAndKeepEarlierValues) {
    // u(1) b[1000] whose element e is read at e & 15 of a 16-byte file: the
    // records grow from 16 to 1000 as elements are reached.
    uint32_t start = BeginStruct(&a);
    Load(&a, L(20), 1000);
    Load(&a, L(9), 15);
    EmitElementLoop(&a, 2, L(20), 6, [&] {
        Binary(&a, VLInstructionType_BitwiseAnd, Cursor(), L(2), L(9));
        EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
    });
    Append(&a, VLInstructionType_Breakpoint);
    EndStruct(&a, start);
    EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
    std::vector<uint8_t> bytes(16);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7);
    Start(bytes);
    ASSERT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    const VLRuntimeMemberArray& member = rt.currentMember->nestedType.members[0];
    EXPECT_EQ(member.capacity, 1000u);
    for (uint32_t e = 0; e < 1000; ++e) ASSERT_EQ(member.elements[e].value, uint8_t((e & 15) * 7)) << e;
}

TEST_F(RuntimeTest, StructArrayGrowthKeepsInstancesAndParents) {
    // struct S { u(1) v; }; struct R { S s[20] (element e at e & 3); fetch s[17].v; }
    uint32_t inner = BeginStruct(&a);
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1); });
    EndStruct(&a, inner);
    uint32_t start = BeginStruct(&a);
    Load(&a, L(20), 20);
    Load(&a, L(9), 3);
    EmitElementLoop(&a, 2, L(20), 6, [&] {
        Binary(&a, VLInstructionType_BitwiseAnd, Cursor(), L(2), L(9));
        EmitCall(&a, {inner, 1, 0, 0, L(20), 0}, 3);
    });
    Load(&a, L(30), 17);
    Load(&a, L(31), 0);
    Fetch(&a, G(11), {{0, L(30)}, {0, L(31)}});
    Append(&a, VLInstructionType_Breakpoint);
    EndStruct(&a, start);
    EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
    Start({100, 101, 102, 103});
    ASSERT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    EXPECT_EQ(Slot(G(11)), 101);
    const VLRuntimeMember* root = rt.currentMember;
    const VLRuntimeMemberArray& s = root->nestedType.members[0];
    EXPECT_EQ(s.capacity, 20u);  // 8, 16, 20
    for (uint32_t e = 0; e < 20; ++e) {
        EXPECT_EQ(s.elements[e].parent, root);
        EXPECT_EQ(s.elements[e].nestedType.members[0].elements[0].value, 100u + (e & 3));
    }
    EXPECT_EQ(Run().instruction, nullptr);
    EXPECT_EQ(rt.currentMember, nullptr);
}

TEST_F(RuntimeTest, RereadMemberIsRefilledWithoutNewMemory) {
    // struct S { u(1) v; u(1) w; };  struct R { while (g2 < 200) { S s; g2 += 1; } }
    // Each pass refills s; in the steady state no memory is taken.
    uint32_t inner = BeginStruct(&a);
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1); });
    Binary(&a, VLInstructionType_GreaterEqual, L(4), G(2), G(5));
    Goto(&a, Next(&a) + 5, L(4));  // skip w once g2 >= g5
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 1, 3, 1); });
    EndStruct(&a, inner);
    uint32_t start = BeginStruct(&a);
    uint32_t loop = Load(&a, L(8), 1)->index;
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitCall(&a, {inner, 2, 0, 0, None(), 0}, 3); });
    Append(&a, VLInstructionType_Breakpoint);
    Load(&a, Cursor(), 0);
    Binary(&a, VLInstructionType_Add, G(2), G(2), L(8));
    Binary(&a, VLInstructionType_Less, L(9), G(2), G(6));
    Goto(&a, loop - 1, L(9));
    EndStruct(&a, start);
    EmitCall(&a, {start, 1, 0, 0, None(), 0}, 40);  // global slots 2, 5 and 6 are the test's
    Start({5, 6});
    *VLResolveLocation(&rt, G(5)) = 1;    // w is read on the first pass only
    *VLResolveLocation(&rt, G(6)) = 200;  // passes
    ASSERT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    const VLRuntimeMember* s = &rt.currentMember->nestedType.members[0].elements[0];
    EXPECT_EQ(s->nestedType.members[1].arrayCount, 1u);  // first pass: w read
    ASSERT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    s = &rt.currentMember->nestedType.members[0].elements[0];
    EXPECT_EQ(s->nestedType.members[0].elements[0].value, 5u);
    EXPECT_EQ(s->nestedType.members[1].arrayCount, 0u);  // refilled: w not read this time
    const char* cursor = runArena.cursor;
    uint64_t total = runArena.totalBytes;
    while (true) {
        VLRuntimeResult result = Run(VLInstructionType_Breakpoint);
        ASSERT_EQ(result.flags, 0u);
        if (!result.instruction) break;
    }
    EXPECT_EQ(runArena.cursor, cursor);
    EXPECT_EQ(runArena.totalBytes, total);
    EXPECT_EQ(Slot(G(2)), 200);
}

TEST_F(RuntimeTest, RefilledInstanceForgetsEveryElementOfItsArrays) {
    // struct S { u(1) b[4] (g6 elements read); fetch b[2] into g11; }
    // struct R { S s; (again with g6 = 1) }: the second fill reads b[0] only,
    // so b[2] exists but is unread and must read as 0, not as the old value.
    uint32_t inner = BeginStruct(&a);
    Load(&a, L(20), 4);
    Unary(&a, VLInstructionType_Copy, L(21), G(6));
    EmitElementLoop(&a, 2, L(21), 6, [&] {
        EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1, 0, L(20));
    });
    Load(&a, L(30), 2);
    Fetch(&a, G(11), {{0, L(30)}});
    Append(&a, VLInstructionType_Breakpoint);
    EndStruct(&a, inner);
    uint32_t start = BeginStruct(&a);
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitCall(&a, {inner, 1, 0, 0, None(), 0}, 3); });
    Load(&a, G(6), 1);
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitCall(&a, {inner, 1, 0, 0, None(), 0}, 3); });
    EndStruct(&a, start);
    EmitCall(&a, {start, 1, 0, 0, None(), 0}, 40);
    Start({1, 2, 3, 4, 5, 6, 7, 8});
    *VLResolveLocation(&rt, G(6)) = 4;
    ASSERT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    EXPECT_EQ(Slot(G(11)), 3);
    const VLRuntimeMember* first = rt.currentMember;
    ASSERT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    EXPECT_EQ(rt.currentMember, first);  // the same record, refilled
    EXPECT_EQ(Slot(G(11)), 0);
    const VLRuntimeMemberArray& b = first->nestedType.members[0];
    EXPECT_EQ(b.elements[0].value, 5u);
    for (uint32_t e = 1; e < 4; ++e) EXPECT_EQ(b.elements[e].flags, 0u) << e;
}

// ---------------------------------------------------------------------------
// Nesting
// ---------------------------------------------------------------------------

TEST_F(RuntimeTest, NestingDeeperThanSixteenLevelsIsReported) {
    for (int i = 0; i < 17; ++i) Append(&a, VLInstructionType_PushFrame);
    Start();
    for (int i = 0; i < 16; ++i) ASSERT_EQ(VLRuntimeStep(&rt).flags, 0u);
    EXPECT_EQ(rt.stackCount, 17u);
    VLRuntimeFrame* innermost = rt.frames;
    VLRuntimeResult result = VLRuntimeStep(&rt);
    EXPECT_EQ(result.flags, uint32_t(VLRuntimeResultFlag_NestingTooDeep));
    EXPECT_EQ(rt.stackCount, 17u);
    EXPECT_EQ(rt.frames, innermost);
}

TEST_F(RuntimeTest, RecursiveStructStopsAtTheNestingLimit) {
    // struct T { u(1) v; T next; };  layout T;
    uint32_t start = BeginStruct(&a);
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1); });
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitCall(&a, {start, 2, 0, 1, None(), 0}, 3); });
    EndStruct(&a, start);
    EmitCall(&a, {start, 2, 0, 0, None(), 0}, 2);
    Start(std::vector<uint8_t>(100, 1));
    VLRuntimeResult result = Run();
    EXPECT_EQ(result.flags, uint32_t(VLRuntimeResultFlag_NestingTooDeep));
    EXPECT_EQ(result.instruction->type, VLInstructionType_PushFrame);
    EXPECT_EQ(rt.stackCount, 17u);
    EXPECT_EQ(Slot(Cursor()), 16);  // one member read per level
    int depth = 0;
    for (const VLRuntimeMember* m = rt.currentMember; m; m = m->parent) ++depth;
    EXPECT_EQ(depth, 16);
}

TEST_F(RuntimeTest, MeasuredInstanceLeavesTheEnclosingMembersAlone) {
    // struct S { u(1) v; };  struct R { u(1) first; sizeof(S) into g(11); fetch first; }
    uint32_t inner = BeginStruct(&a);
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1); });
    EndStruct(&a, inner);
    uint32_t start = BeginStruct(&a);
    EmitElementLoop(&a, 2, None(), 0, [&] { EmitByteMember(&a, VLInstructionType_ScalarMemberU, 0, 3, 1); });
    Append(&a, VLInstructionType_HideMembers);
    Unary(&a, VLInstructionType_Copy, L(10), Cursor());
    EmitCall(&a, {inner, 1, 0, 0, None(), 1}, 11);
    Binary(&a, VLInstructionType_Subtract, G(11), Cursor(), L(10));
    Unary(&a, VLInstructionType_Copy, Cursor(), L(10));
    Append(&a, VLInstructionType_ShowMembers);
    Load(&a, L(30), 0);
    Fetch(&a, G(12), {{0, L(30)}});
    Append(&a, VLInstructionType_Breakpoint);
    EndStruct(&a, start);
    EmitCall(&a, {start, 1, 0, 0, None(), 0}, 2);
    Start({0x11, 0x22});
    ASSERT_EQ(Run(VLInstructionType_Breakpoint).flags, 0u);
    EXPECT_EQ(Slot(G(11)), 1);
    EXPECT_EQ(Slot(G(12)), 0x11);
    const VLRuntimeMember* root = rt.currentMember;
    ASSERT_EQ(root->nestedType.members[0].arrayCount, 1u);
    EXPECT_EQ(root->nestedType.members[0].elements[0].flags, uint32_t(VLRuntimeMemberFlag_IsSet));
    EXPECT_EQ(root->nestedType.members[0].elements[0].value, 0x11u);
    EXPECT_EQ(Run().instruction, nullptr);
}

// ---------------------------------------------------------------------------
// Type lookups and assertions
// ---------------------------------------------------------------------------

TEST_F(RuntimeTest, TypeLookups) {
    // Two types in category 1 (keys 5 and -2) and one in category 0 (key 5).
    VLInstruction* starts[3];
    VLTypeDefinition types[3] = {};
    for (int i = 0; i < 3; ++i) {
        starts[i] = Append(&a, VLInstructionType_Breakpoint);
        types[i].index = uint32_t(i + 4);
        types[i].memberCount = uint32_t(10 + i);
        types[i].startInstruction = starts[i];
    }
    VLCategoryEntry entries[] = {{1, 5, &types[0]}, {1, -2, &types[1]}, {0, 5, &types[2]}, {1, 5, &types[2]}};
    a.program.categoryEntries = entries;
    a.program.categoryEntryCount = 4;
    struct Case {
        int32_t kind;
        uint32_t category;
        int64_t key;
        uint32_t flags;
        int64_t expected;  // 555: destination left alone
    } cases[] = {
        {VLInstructionType_HasType, 1, 5, 0, 1},
        {VLInstructionType_HasType, 1, -2, 0, 1},
        {VLInstructionType_HasType, 1, 7, 0, 0},
        {VLInstructionType_HasType, 2, 5, 0, 0},
        {VLInstructionType_FetchStartOfType, 1, -2, 0, 1},
        {VLInstructionType_FetchStartOfType, 1, 5, 0, 0},  // the first entry wins
        {VLInstructionType_FetchMemberCountOfType, 0, 5, 0, 12},
        {VLInstructionType_FetchTypeIndex, 1, -2, 0, 5},
        {VLInstructionType_FetchStartOfType, 1, 99, VLRuntimeResultFlag_UnknownType, 555},
        {VLInstructionType_FetchMemberCountOfType, 0, -2, VLRuntimeResultFlag_UnknownType, 555},
        {VLInstructionType_FetchTypeIndex, 3, INT64_MIN, VLRuntimeResultFlag_UnknownType, 555},
    };
    uint32_t first = Next(&a);
    for (const Case& c : cases) {
        Load(&a, L(2), c.key);
        Load(&a, L(3), 555);
        Lookup(&a, c.kind, L(3), c.category, L(2));
    }
    Start();
    while (rt.position.place < first) VLRuntimeStep(&rt);  // the three stand-in start instructions
    for (const Case& c : cases) {
        VLRuntimeStep(&rt);
        VLRuntimeStep(&rt);
        VLRuntimeResult result = VLRuntimeStep(&rt);
        std::string what = "kind " + std::to_string(c.kind) + " key " + std::to_string(c.key);
        EXPECT_EQ(result.flags, c.flags) << what;
        EXPECT_EQ(Slot(L(3)), c.expected) << what;
        if (c.flags) {
            EXPECT_EQ(result.count, c.key) << what;
        }
    }
}

TEST_F(RuntimeTest, AssertReportsOnlyAZeroCondition) {
    struct Case {
        int64_t condition;
        uint32_t flags;
    } cases[] = {{1, 0}, {-7, 0}, {INT64_MIN, 0}, {0, VLRuntimeResultFlag_AssertionFailed}};
    for (const Case& c : cases) {
        Load(&a, L(2), c.condition);
        Append(&a, VLInstructionType_Assert)->assertion.condition = L(2);
    }
    Start();
    for (const Case& c : cases) {
        VLRuntimeStep(&rt);
        VLRuntimeResult result = VLRuntimeStep(&rt);
        EXPECT_EQ(result.instruction->type, VLInstructionType_Assert);
        EXPECT_EQ(result.flags, c.flags) << c.condition;
    }
    EXPECT_TRUE(VLRuntimeHasEnded(&rt));  // a step that sets flags still advances
}

// ---------------------------------------------------------------------------
// Compiled layouts: the run loop against single steps, the lean member tree
// ---------------------------------------------------------------------------

// A layout compiled from its text; `ok` when it compiled without error.
struct Compiled {
    std::string text;
    VLArena arena{};
    VLProgram program{};
    bool ok = false;
    explicit Compiled(std::string source) : text(std::move(source)) {
        VLScanResult scan = VLTokenize(text.c_str(), &arena);
        if (scan.invalidTokens) return;
        program = VLCompile(scan.tokens, &arena);
        ok = !VLErrorIsValid(&program.error);
    }
    ~Compiled() { VLArenaRelease(&arena); }
    Compiled(const Compiled&) = delete;
    Compiled& operator=(const Compiled&) = delete;
};

// What the front end sees of one step it is handed: the result and the
// state it reads (the innermost and the global frame, the element numbers).
struct Seen {
    uint32_t index, flags, elementCount, pathStep, stackCount;
    int64_t address, size, count, element;
    int32_t hidden;
    std::vector<int64_t> state;
    bool operator==(const Seen&) const = default;
};

Seen SeenOf(const VLRuntime& rt, const VLRuntimeResult& r) {
    Seen seen{r.instruction->index, r.flags, r.elementCount, r.pathStep, rt.stackCount,
              r.address, r.size, r.count, r.element, rt.membersHidden, {}};
    seen.state.assign(rt.frames->slots, rt.frames->slots + VLFrameSlotCount);
    seen.state.insert(seen.state.end(), rt.globalFrame->slots, rt.globalFrame->slots + VLFrameSlotCount);
    seen.state.insert(seen.state.end(), rt.arrayIndices, rt.arrayIndices + VLMaxNesting);
    return seen;
}

bool IsShownKind(int32_t type) {
    return type == VLInstructionType_PushFrame || type == VLInstructionType_PopFrame ||
           type == VLInstructionType_Print ||
           (type >= VLInstructionType_ScalarMemberU && type <= VLInstructionType_ScalarMemberF);
}

struct Trace {
    std::vector<Seen> seen;
    uint64_t steps = 0;
    VLInstructionPosition end{};
};

// At most `limit` single steps; keeps what the front end would be handed.
Trace BySingleSteps(const VLProgram* program, const std::vector<uint8_t>& data, uint64_t limit) {
    VLArena arena{};
    VLRuntime rt;
    VLRuntimeInit(&rt, program, data.data(), data.size(), &arena);
    Trace trace;
    while (trace.steps < limit) {
        VLRuntimeResult r = VLRuntimeStep(&rt);
        if (!r.instruction) break;
        ++trace.steps;
        if (r.flags || (IsShownKind(r.instruction->type) && rt.membersHidden == 0)) trace.seen.push_back(SeenOf(rt, r));
        if (r.flags) break;
    }
    trace.end = rt.position;
    VLArenaRelease(&arena);
    return trace;
}

// The same through VLRuntimeRun, `limit` steps in all, handed out `slice`
// steps at a time, stopping at the kinds in `show`.
Trace ByRuns(const VLProgram* program, const std::vector<uint8_t>& data, uint64_t limit, uint64_t slice,
             uint32_t show = VLRuntimeShow_All) {
    VLArena arena{};
    VLRuntime rt;
    VLRuntimeInit(&rt, program, data.data(), data.size(), &arena);
    Trace trace;
    while (trace.steps < limit) {
        uint64_t budget = std::min(slice, limit - trace.steps);
        uint64_t left = budget;
        VLRuntimeResult r = VLRuntimeRun(&rt, &left, show);
        trace.steps += budget - left;
        if (!r.instruction) {
            if (left == 0) continue;  // the slice is used up
            break;                    // the program has ended
        }
        EXPECT_TRUE(r.flags || (IsShownKind(r.instruction->type) && rt.membersHidden == 0))
            << "run stopped at instruction " << r.instruction->index;
        trace.seen.push_back(SeenOf(rt, r));
        if (r.flags) break;
    }
    trace.end = rt.position;
    VLArenaRelease(&arena);
    return trace;
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = uint8_t(seed >> 16);
    }
    return bytes;
}

// Layouts whose loops run long enough for their chunks to be decoded, over
// every kind of instruction the decoded form handles and some it leaves to
// the records; with the failures that end a run late.
const char* const kRunLoopLayouts[] = {
    // Records: the member pattern, the element loop, the call sequence.
    "struct Record { u(4) id; u(2) kind; s(2) delta; f(4) value; };\n"
    "struct File { Record records[size_of_file / 12]; };\n"
    "layout File;\n",
    // Operators, locals, while / for / do, if / else, print.
    "struct Calc {\n"
    "    var acc = 1;\n"
    "    for (var i = 0; i < 300; i += 1) {\n"
    "        acc = (acc * 3 + i) % 1000003;\n"
    "        if (acc & 1) { acc = acc ^ (i << 2); } else { acc = -acc + abs(i - 150); }\n"
    "        acc = acc + (i <= 5) + (i == 7) + (i > 290) + (i >= 299) + (i != 3) + !i;\n"
    "        acc = acc + (i >> 1) + (i | 5) + (i && acc) + (i || 0) - i / 7 - acc / (i - 5) + acc % (i - 9);\n"
    "        var k = 0;\n"
    "        while (k < 2) { k += 1; }\n"
    "        do { k -= 1; } while (k > 0);\n"
    "    }\n"
    "    print(\"acc\", acc);\n"
    "    u(1) first;\n"
    "};\n"
    "layout Calc;\n",
    // Paths into referenced members, hidden members, placements, arguments.
    "struct P(var base) { u(1) x; hidden u(1) y; var z = x + base; };\n"
    "struct F {\n"
    "    u(1) junk[50];\n"
    "    P(3) pts[100];\n"
    "    for (var i = 0; i < 100; i += 1) { print(\"x\", pts[i].x + pts[99 - i].y); }\n"
    "    @(external 7) u(2, big) back[4];\n"
    "    @(20) s(1) again[size_of_file - 20];\n"
    "};\n"
    "layout F;\n",
    // Categories, sizeof, a referenced member inside reused instances.
    "struct Head { u(1) id; u(1) kind; };\n"
    "struct (Body, 0) A { u(1) x; u(2) y; };\n"
    "struct (Body, 1) B { u(1) p; u(1) q; u(1) r; };\n"
    "struct Rec { Head head; Body[head.kind % 2] body; print(\"k\", head.kind + sizeof(Head)); };\n"
    "struct F { Rec recs[size_of_file / 5]; };\n"
    "layout F;\n",
    // An array that runs past the end of the data: the report comes late.
    "struct E { u(2) a; u(1) b; };\n"
    "struct F { E items[size_of_file]; };\n"
    "layout F;\n",
    // An assertion that fails after many rounds.
    "struct F { var n = 0; while (n < 1000) { u(1) b; assert(b != 0x11 || n < 200); n += 1; } };\n"
    "layout F;\n",
};

TEST(RunLoop, MatchesSingleStepsOnCompiledLayouts) {
    std::vector<uint8_t> data = Pattern(1500, 7);
    data[900] = 0x11;
    for (const char* layout : kRunLoopLayouts) {
        Compiled compiled(layout);
        ASSERT_TRUE(compiled.ok) << layout;
        Trace single = BySingleSteps(&compiled.program, data, UINT64_MAX);
        Trace run = ByRuns(&compiled.program, data, UINT64_MAX, UINT64_MAX);
        EXPECT_GT(single.steps, 2000u) << "too short to be decoded:\n" << layout;
        EXPECT_EQ(run.steps, single.steps) << layout;
        EXPECT_EQ(run.end.chunk, single.end.chunk) << layout;
        EXPECT_EQ(run.end.place, single.end.place) << layout;
        ASSERT_EQ(run.seen.size(), single.seen.size()) << layout;
        for (size_t i = 0; i < run.seen.size(); ++i)
            ASSERT_TRUE(run.seen[i] == single.seen[i]) << "step result " << i << " differs:\n" << layout;
    }
}

// A step budget cuts the run exactly where single steps stop, also inside
// the pairs the decoded form runs in one go.
// Stopping only at members (the measuring pass) skips the other kinds and
// nothing else.
TEST(RunLoop, StopsOnlyAtTheKindsAskedFor) {
    std::vector<uint8_t> data = Pattern(1500, 13);
    for (const char* layout : kRunLoopLayouts) {
        Compiled compiled(layout);
        ASSERT_TRUE(compiled.ok) << layout;
        Trace single = BySingleSteps(&compiled.program, data, UINT64_MAX);
        Trace members = ByRuns(&compiled.program, data, UINT64_MAX, UINT64_MAX, VLRuntimeShow_Members);
        std::vector<Seen> expected;
        for (const Seen& seen : single.seen) {
            int32_t type = VLInstructionPointer(&compiled.program.instructions, seen.index)->type;
            if (seen.flags || (type >= VLInstructionType_ScalarMemberU && type <= VLInstructionType_ScalarMemberF))
                expected.push_back(seen);
        }
        EXPECT_EQ(members.steps, single.steps) << layout;
        EXPECT_TRUE(members.seen == expected) << layout;
    }
}

TEST(RunLoop, StepBudgetsStopAtTheSameStep) {
    std::vector<uint8_t> data = Pattern(1500, 11);
    for (const char* layout : {kRunLoopLayouts[0], kRunLoopLayouts[2], kRunLoopLayouts[3]}) {
        Compiled compiled(layout);
        ASSERT_TRUE(compiled.ok) << layout;
        for (uint64_t limit : {1ull, 2ull, 37ull, 5001ull, 5002ull, 12345ull}) {
            for (uint64_t slice : {1ull, 2ull, 3ull, 7ull, 1000ull}) {
                Trace single = BySingleSteps(&compiled.program, data, limit);
                Trace run = ByRuns(&compiled.program, data, limit, slice);
                std::string what = "limit " + std::to_string(limit) + " slice " + std::to_string(slice);
                EXPECT_EQ(run.steps, single.steps) << what;
                EXPECT_EQ(run.end.chunk, single.end.chunk) << what;
                EXPECT_EQ(run.end.place, single.end.place) << what;
                EXPECT_TRUE(run.seen == single.seen) << what;
            }
        }
    }
}

// Print values of a whole run, in order.
std::vector<int64_t> PrintedValues(const VLProgram* program, const std::vector<uint8_t>& data,
                                   VLArena* arena, uint32_t* flags) {
    VLRuntime rt;
    VLRuntimeInit(&rt, program, data.data(), data.size(), arena);
    std::vector<int64_t> values;
    uint64_t left = UINT64_MAX;
    *flags = 0;
    for (;;) {
        VLRuntimeResult r = VLRuntimeRun(&rt, &left, VLRuntimeShow_All);
        if (!r.instruction) break;
        *flags = r.flags;
        if (r.flags) break;
        if (r.instruction->type == VLInstructionType_Print)
            values.push_back(*VLResolveLocation(&rt, r.instruction->print.value));
    }
    return values;
}

TEST(MemberTree, MembersNoPathNamesKeepNoRecordsPerElement) {
    struct Case {
        const char* layout;
        bool grows;  // a path names the array: its element records are kept
    } cases[] = {
        {"struct P { u(1) x; u(1) y; };\n"
         "struct F { P pts[size_of_file / 2 - 1]; u(1) tail[2]; };\n"
         "layout F;\n",
         false},
        {"struct F { u(1) b[size_of_file]; };\n"
         "layout F;\n",
         false},
        {"struct P { u(1) x; u(1) y; };\n"
         "struct F { P pts[size_of_file / 2 - 1]; u(1) last; print(\"v\", pts[0].x); };\n"
         "layout F;\n",
         true},
    };
    for (const Case& c : cases) {
        Compiled compiled(c.layout);
        ASSERT_TRUE(compiled.ok) << c.layout;
        uint64_t bytes[2];
        size_t sizes[2] = {2000, 200000};
        for (int i = 0; i < 2; ++i) {
            VLArena arena{};
            uint32_t flags;
            PrintedValues(&compiled.program, Pattern(sizes[i], 3), &arena, &flags);
            EXPECT_EQ(flags, 0u) << c.layout;
            bytes[i] = arena.totalBytes;
            VLArenaRelease(&arena);
        }
        if (c.grows) EXPECT_GT(bytes[1], bytes[0] + 100000) << c.layout;
        else EXPECT_EQ(bytes[1], bytes[0]) << c.layout;
    }
}

TEST(MemberTree, PathsReadTheirElementsAmongMembersNoPathNames) {
    std::vector<uint8_t> data = Pattern(2000, 5);
    struct Case {
        const char* layout;
        std::vector<int64_t> expected;
    } cases[] = {
        // pts[1].x after 100 unread bytes and many unnamed siblings.
        {"struct P { u(1) x; u(1) y; };\n"
         "struct F { u(1) junk[100]; P other[300]; P pts[50]; P more[200];\n"
         "    print(\"a\", pts[1].x); print(\"b\", pts[49].y); };\n"
         "layout F;\n",
         {data[100 + 600 + 2], data[100 + 600 + 99]}},
        // A member read by a path inside instances that no path reaches.
        {"struct Head { u(1) id; u(1) kind; };\n"
         "struct Rec { Head head; u(1) body; print(\"k\", head.kind); };\n"
         "struct F { Rec recs[4]; };\n"
         "layout F;\n",
         {data[1], data[4], data[7], data[10]}},
        // A struct element read again after its instance was filled anew.
        {"struct In { u(1) v; };\n"
         "struct Mid { In ins[3]; print(\"m\", ins[2].v); };\n"
         "struct F { Mid mids[3]; };\n"
         "layout F;\n",
         {data[2], data[5], data[8]}},
    };
    for (const Case& c : cases) {
        Compiled compiled(c.layout);
        ASSERT_TRUE(compiled.ok) << c.layout;
        VLArena arena{};
        uint32_t flags;
        EXPECT_EQ(PrintedValues(&compiled.program, data, &arena, &flags), c.expected) << c.layout;
        EXPECT_EQ(flags, 0u) << c.layout;
        VLArenaRelease(&arena);
    }
}

// Members no path names still fix their element count on first reach and
// report exactly as kept members do.
TEST(MemberTree, ReportsOfMembersNoPathNames) {
    std::vector<uint8_t> data = Pattern(100, 9);
    struct Case {
        const char* layout;
        uint32_t flags;
        int64_t count;    // InvalidArrayCount
        int64_t element;  // ElementOutOfRange
        uint32_t elementCount;
    } cases[] = {
        {"struct F { var n = 0; u(1) a[n]; };\nlayout F;\n", VLRuntimeResultFlag_InvalidArrayCount, 0, 0, 0},
        {"struct E { u(1) v; };\nstruct F { E e[0 - 2]; };\nlayout F;\n",
         VLRuntimeResultFlag_InvalidArrayCount, -2, 0, 0},
        {"struct F { u(1) a[@ + 2]; };\nlayout F;\n", VLRuntimeResultFlag_ElementOutOfRange, 0, 2, 2},
        {"struct E { u(1) v; };\nstruct F { E e[@ + 3]; };\nlayout F;\n",
         VLRuntimeResultFlag_ElementOutOfRange, 0, 3, 3},
    };
    for (const Case& c : cases) {
        Compiled compiled(c.layout);
        ASSERT_TRUE(compiled.ok) << c.layout;
        for (bool single : {true, false}) {
            Trace trace = single ? BySingleSteps(&compiled.program, data, UINT64_MAX)
                                 : ByRuns(&compiled.program, data, UINT64_MAX, UINT64_MAX);
            ASSERT_FALSE(trace.seen.empty()) << c.layout;
            const Seen& last = trace.seen.back();
            EXPECT_EQ(last.flags, c.flags) << c.layout;
            if (c.flags == VLRuntimeResultFlag_InvalidArrayCount) {
                EXPECT_EQ(last.count, c.count) << c.layout;
            }
            if (c.flags == VLRuntimeResultFlag_ElementOutOfRange) {
                EXPECT_EQ(last.element, c.element) << c.layout;
                EXPECT_EQ(last.elementCount, c.elementCount) << c.layout;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Arena reset: the printing pass takes the measuring pass's memory again
// ---------------------------------------------------------------------------

// Allocations of these sizes (the last ones larger than a regular block),
// every byte written non-zero.
std::vector<unsigned char*> FillArena(VLArena* arena, const std::vector<size_t>& sizes) {
    std::vector<unsigned char*> blocks;
    for (size_t size : sizes) {
        auto* p = static_cast<unsigned char*>(VLArenaAlloc(arena, size));
        for (size_t i = 0; i < size; ++i) EXPECT_EQ(p[i], 0) << "allocation of " << size << " not zeroed";
        memset(p, 0xA5, size);
        blocks.push_back(p);
    }
    return blocks;
}

TEST(ArenaReset, HandsOutTheSameMemoryZeroedAgain) {
    std::vector<size_t> sizes;
    for (int i = 0; i < 3000; ++i) sizes.push_back(size_t(16 + (i * 37) % 900));
    sizes.push_back(3 << 20);  // a block of its own
    VLArena arena{};
    std::vector<unsigned char*> first = FillArena(&arena, sizes);
    uint64_t firstBytes = arena.totalBytes;
    VLArenaReset(&arena);
    EXPECT_EQ(arena.totalBytes, 0u);
    std::vector<unsigned char*> second = FillArena(&arena, sizes);  // checks every byte is zero
    EXPECT_EQ(arena.totalBytes, firstBytes);
    // The same sequence of requests gets the same places (blocks reused oldest first).
    for (size_t i = 0; i + 1 < sizes.size(); ++i) ASSERT_EQ(second[i], first[i]) << i;
    VLArenaRelease(&arena);
}

TEST(ArenaReset, FullSizeBlocksAreZeroedReusedAndReleased) {
    // Ten megabytes in small pieces: past the growing blocks into several
    // full-size ones (which may come from another allocation path).
    std::vector<size_t> sizes(10000, 1008);
    VLArena arena{};
    std::vector<unsigned char*> first = FillArena(&arena, sizes);
    EXPECT_GE(arena.totalBytes, uint64_t(8) << 20);
    VLArenaReset(&arena);
    std::vector<unsigned char*> second = FillArena(&arena, sizes);  // checks every byte is zero
    for (size_t i = 0; i < sizes.size(); ++i) ASSERT_EQ(second[i], first[i]) << i;
    VLArenaRelease(&arena);
    EXPECT_EQ(arena.blocks, nullptr);
}

TEST(ArenaReset, ZeroesWhatAnEarlierUseWroteAfterAShorterOne) {
    VLArena arena{};
    std::vector<size_t> many(2000, 64), few(10, 64), more(3000, 48);
    FillArena(&arena, many);
    VLArenaReset(&arena);
    FillArena(&arena, few);  // writes little: the rest of the block stays to be zeroed
    VLArenaReset(&arena);
    FillArena(&arena, more);  // checks every byte is zero
    VLArenaReset(&arena);
    FillArena(&arena, {1 << 21, 100, 5 << 20});  // other sizes than before
    VLArenaRelease(&arena);
    EXPECT_EQ(arena.blocks, nullptr);
    EXPECT_EQ(arena.spare, nullptr);
}

}  // namespace
