// Types.cpp - struct types and categories: the struct header, the type table
// with its name hash, categories and the category table the runtime searches,
// type references, and the call sequence that instantiates a type (arguments,
// push-frame, parameter copies, return number, jump into the body, pop-frame).
// Also the members of a struct and their lookup by name, the lookup of `var`
// locals, and the hash indexes that keep name lookups in long lists (members,
// categories, enumerations) from growing with the list.
#include "Compiler.h"

// ---------------------------------------------------------------------------
// The type table
// ---------------------------------------------------------------------------

uint32_t VLHashName(uint32_t length, const char* chars) {
    // Each byte, taken as a signed 8-bit number, is weighted by the count of
    // bytes from it to the end of the name. Only the low 8 bits are kept, so
    // unsigned arithmetic (which wraps without undefined behaviour) gives the
    // same bucket.
    uint64_t sum = 0;
    uint64_t counter = length;
    for (uint32_t i = 0; i < length; ++i) {
        sum += uint64_t(int64_t(int8_t(chars[i]))) * counter;
        --counter;
    }
    return uint32_t(sum & 0xFF);
}

VLTypeDefinition* VLTypeAt(const VLTypeList* list, uint32_t index) {
    for (VLTypeChunk* chunk = list->first; chunk; chunk = chunk->next) {
        if (index < chunk->count) return &chunk->items[index];
        index -= chunk->count;
    }
    return nullptr;
}

// Appends a zeroed definition to the chunked list; a full (or missing) last
// chunk is followed by a new one of 64 definitions. Definitions never move.
static VLTypeDefinition* VLAppendType(VLContext* ctx) {
    VLTypeList* list = &ctx->output.types;
    if (!list->last || list->last->count == VLTypeChunkCapacity) {
        VLTypeChunk* chunk = VLArenaNew<VLTypeChunk>(ctx->arena);
        if (list->last) list->last->next = chunk;
        else list->first = chunk;
        list->last = chunk;
    }
    VLTypeDefinition* type = &list->last->items[list->last->count++];
    type->index = list->totalCount++;
    ctx->output.typeCount = list->totalCount;
    return type;
}

VLTypeDefinition* VLFindType(const VLContext* ctx, VLString name) {
    VLTypeDefinition* type = ctx->output.typeBuckets[VLHashName(name.length, name.chars)];
    for (; type; type = type->next) {
        if (VLStringEquals(type->name, name)) return type;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Name indexes
// ---------------------------------------------------------------------------

// FNV-1a over the name's bytes, then the owner's address mixed in.
static uint64_t VLNameHash(const void* owner, VLString name) {
    uint64_t hash = 14695981039346656037ull;
    for (uint32_t i = 0; i < name.length; ++i) hash = (hash ^ uint8_t(name.chars[i])) * 1099511628211ull;
    hash ^= uint64_t(reinterpret_cast<uintptr_t>(owner));
    return hash ^ (hash >> 29);
}

// The entry of (owner, name), or the free entry where it would go.
static VLNameEntry* VLNameSlot(const VLNameIndex* index, const void* owner, VLString name) {
    uint32_t mask = index->capacity - 1;
    for (uint32_t i = uint32_t(VLNameHash(owner, name)) & mask;; i = (i + 1) & mask) {
        VLNameEntry* entry = &index->entries[i];
        if (!entry->record || (entry->owner == owner && VLStringEquals(entry->name, name))) return entry;
    }
}

void* VLNameIndexFind(const VLNameIndex* index, const void* owner, VLString name) {
    if (index->capacity == 0) return nullptr;
    return VLNameSlot(index, owner, name)->record;
}

// A table twice the size (64 entries at first) holding the entries of the old one.
static void VLNameIndexGrow(VLContext* ctx, VLNameIndex* index) {
    VLNameIndex grown = {};
    grown.capacity = index->capacity ? index->capacity * 2 : 64;
    grown.entries = VLArenaNew<VLNameEntry>(ctx->arena, grown.capacity);
    for (uint32_t i = 0; i < index->capacity; ++i) {
        const VLNameEntry* old = &index->entries[i];
        if (old->record) *VLNameSlot(&grown, old->owner, old->name) = *old;
    }
    grown.count = index->count;
    *index = grown;
}

void VLNameIndexPut(VLContext* ctx, VLNameIndex* index, const void* owner, VLString name, void* record,
                    bool replace) {
    VL_ASSERT(record != nullptr);
    if ((index->count + 1) * 2 > index->capacity) VLNameIndexGrow(ctx, index);
    VLNameEntry* entry = VLNameSlot(index, owner, name);
    if (entry->record && !replace) return;
    if (!entry->record) index->count += 1;
    *entry = VLNameEntry{owner, name, record};
}

void VLNameIndexClear(VLNameIndex* index) {
    for (uint32_t i = 0; i < index->capacity; ++i) index->entries[i] = VLNameEntry{};
    index->count = 0;
}

// ---------------------------------------------------------------------------
// Categories
// ---------------------------------------------------------------------------

// The category of that name, or null; reports nothing.
static VLCategory* VLLookupCategory(const VLContext* ctx, VLString name) {
    return static_cast<VLCategory*>(VLNameIndexFind(&ctx->categoryIndex, nullptr, name));
}

VLCategory* VLFindCategory(VLContext* ctx, VLString name, VLToken* subject) {
    VLCategory* category = VLLookupCategory(ctx, name);
    if (!category) {
        // The name points into the layout text and is not NUL-terminated.
        VLReportError(ctx, nullptr, "Unrecognized category %.*s.", int(name.length), name.chars);
        VLNoteErrorDetail(ctx, VLErrorDetail_UnknownCategory, subject);
    }
    return category;
}

// The category a reference names, reporting an unknown name only while no
// other error is recorded, so that one statement reports it once.
static VLCategory* VLReferencedCategory(VLContext* ctx, const VLTypeReference* reference) {
    if (VLIsStopped(ctx)) return VLLookupCategory(ctx, reference->categoryName);
    return VLFindCategory(ctx, reference->categoryName, reference->first);
}

// Registers `type` under `key` in the category named `name`, creating the
// category (at the tail, with the next index) on first use. The first type of
// a category fixes its parameter count; a type with another count is refused.
static void VLRegisterInCategory(VLContext* ctx, VLTypeDefinition* type, VLString name,
                                 int64_t key) {
    VLCategory* category = VLLookupCategory(ctx, name);
    if (!category) {
        category = VLArenaNew<VLCategory>(ctx->arena);
        category->index = ctx->categoryCount++;
        category->name = name;
        category->parameterCount = type->parameterCount;
        if (ctx->lastCategory) ctx->lastCategory->next = category;
        else ctx->categories = category;
        ctx->lastCategory = category;
        VLNameIndexPut(ctx, &ctx->categoryIndex, nullptr, name, category, false);
    }
    if (category->parameterCount != type->parameterCount) {
        VLReportError(ctx, nullptr,
                      "Inconsistent parameter count for category, %u was previously recorded but "
                      "trying to add type with %u.",
                      category->parameterCount, type->parameterCount);
        return;
    }
    VLCategoryItem* item = VLArenaNew<VLCategoryItem>(ctx->arena);
    item->type = type;
    item->key = key;
    item->next = category->items;
    category->items = item;
    ctx->categoryEntryCount++;
}

void VLBuildCategoryTable(VLContext* ctx) {
    ctx->output.categoryEntryCount = ctx->categoryEntryCount;
    ctx->output.categoryEntries = nullptr;
    if (ctx->categoryEntryCount == 0) return;
    VLCategoryEntry* entries = VLArenaNew<VLCategoryEntry>(ctx->arena, ctx->categoryEntryCount);
    uint32_t count = 0;
    for (VLCategory* category = ctx->categories; category; category = category->next) {
        for (VLCategoryItem* item = category->items; item; item = item->next) {
            VL_ASSERT(count < ctx->categoryEntryCount);
            entries[count++] = VLCategoryEntry{category->index, item->key, item->type};
        }
    }
    VL_ASSERT(count == ctx->categoryEntryCount);
    ctx->output.categoryEntries = entries;
}

// ---------------------------------------------------------------------------
// The struct header
// ---------------------------------------------------------------------------

// Parses the parameter list after the header's "(": each parameter takes a
// slot of the body's frame (parameter i is slot i + 2); beyond 16 the
// parameter is refused.
// "var" Param { "," "var" Param } ")"
static void VLParseParameters(VLContext* ctx, VLTypeDefinition* type) {
    for (;;) {
        VLExpectKeyword(ctx, {"var"});
        VLString name = VLExpectIdentifier(ctx);
        if (VLIsStopped(ctx)) return;
        VLNewSlot(ctx);
        if (type->parameterCount < VLMaxParameters) {
            type->parameters[type->parameterCount++] = VLCopyString(ctx, name);
        } else {
            VLRecordError(ctx, nullptr, "Too many parameters.");
            return;
        }
        if (VLExpectPunctuation(ctx, {VLCode(")"), VLCode(",")}) != VLCode(",")) return;
    }
}

// Parses one struct header and opens the definition: a new entry of the type
// table (found by name from now on, so the body may name its own type) and
// the start instruction of the body. Returns null when no type name was read.
// "struct" [ "(" Category "," constant-expression ")" ] Name ( "{" | "(" parameters "{" )
VLTypeDefinition* VLParseStructHeader(VLContext* ctx) {
    VLExpectKeyword(ctx, {"struct"});
    bool hasCategory = false;
    VLString categoryName{};
    int64_t key = 0;
    if (VLAcceptPunctuation(ctx, VLCode("("))) {
        hasCategory = true;
        categoryName = VLExpectIdentifier(ctx);
        VLExpectPunctuation(ctx, {VLCode(",")});
        if (!VLIsStopped(ctx)) key = VLParseConstantExpression(ctx);
        VLExpectPunctuation(ctx, {VLCode(")")});
    }
    VLString name = VLExpectIdentifier(ctx);
    uint32_t opener = VLExpectPunctuation(ctx, {VLCode("{"), VLCode("(")});
    if (name.length == 0) return nullptr;

    VLTypeDefinition* type = VLAppendType(ctx);
    type->name = VLCopyString(ctx, name);
    uint32_t bucket = VLHashName(type->name.length, type->name.chars);
    type->next = ctx->output.typeBuckets[bucket];
    ctx->output.typeBuckets[bucket] = type;

    type->startInstruction = VLEmit(ctx, VLInstructionType_StartStructDefinition);
    type->startInstruction->structDefinition.name = type->name;

    if (ctx->slotsPerBody) {
        // The body's frame numbers its slots afresh; the top-level counter
        // comes back when the body closes.
        ctx->savedTopLevelSlots = ctx->stacks[0];
        ctx->stacks[0] = 0;
    }
    if (opener == VLCode("(") && !VLIsStopped(ctx)) {
        VLParseParameters(ctx, type);
        VLExpectPunctuation(ctx, {VLCode("{")});
    }
    if (hasCategory && !VLIsStopped(ctx)) VLRegisterInCategory(ctx, type, categoryName, key);
    return type;
}

void VLCloseStructBody(VLContext* ctx, VLTypeDefinition* type) {
    (void)ctx;
    for (VLInstructionRef* ref = type->pendingMemberCounts; ref; ref = ref->next) {
        VL_ASSERT(ref->instruction->type == VLInstructionType_LoadConstant);
        ref->instruction->constant.value = type->memberCount;
    }
    type->pendingMemberCounts = nullptr;
}

// ---------------------------------------------------------------------------
// Type references and instances
// ---------------------------------------------------------------------------

// Name | Category "[" expression "]"
VLTypeReference VLParseTypeReference(VLContext* ctx) {
    VLTypeReference reference{};
    VLToken* first = ctx->token;
    VLString name = VLExpectIdentifier(ctx);
    if (VLAcceptPunctuation(ctx, VLCode("["))) {
        reference.kind = VLTypeReference_Category;
        reference.categoryName = name;
        reference.categoryNameLast = name.length ? name.chars + name.length - 1 : name.chars;
        reference.selector = VLNewSlot(ctx);
        VLCompileExpressionInto(ctx, reference.selector);
        VLToken* closing = ctx->token;
        VLExpectPunctuation(ctx, {VLCode("]")});
        reference.first = first;
        reference.end = closing;  // the excerpt underlines the name and the key expression
    } else if (name.length > 0) {
        VLTypeDefinition* type = VLFindType(ctx, name);
        if (type) {
            reference.kind = VLTypeReference_Type;
            reference.type = type;
        }
    }
    if (!VLIsStopped(ctx) && reference.kind == VLTypeReference_None) {
        VLRecordError(ctx, first, "Expected 'type' or 'category[identifier]'.");
        VLNoteErrorDetail(ctx, VLErrorDetail_UnknownType, first);
    }
    return reference;
}

// Category lookups carry the reference's name and tokens, so that a key with
// no registered type can be reported with an excerpt.
static void VLSetLookupSource(VLInstruction* lookup, const VLTypeReference* reference) {
    lookup->typeLookup.categoryName = reference->categoryName;
    lookup->typeLookup.first = reference->first;
    lookup->typeLookup.end = reference->end;
}

// The number of arguments a reference expects: the type's parameter count,
// or the category's (0 for an unknown category, which is reported).
static uint32_t VLExpectedArgumentCount(VLContext* ctx, const VLTypeReference* reference) {
    if (reference->kind == VLTypeReference_Type) return reference->type->parameterCount;
    VLCategory* category = VLReferencedCategory(ctx, reference);
    return category ? category->parameterCount : 0;
}

// Compiles the argument list after its "(" into consecutive new slots and
// returns how many arguments were given.
// expression { "," expression } ")"
static uint32_t VLParseArguments(VLContext* ctx) {
    uint32_t count = 0;
    while (!VLIsStopped(ctx)) {
        VLCompileExpressionInto(ctx, VLNewSlot(ctx));
        ++count;
        if (VLExpectPunctuation(ctx, {VLCode(","), VLCode(")")}) != VLCode(",")) break;
    }
    return count;
}

// A type reference with its optional argument list, compiled as a complete
// call: arguments, push-frame, parameter copies, return number, jump into the
// body, pop-frame. A type with parameters must be given exactly that many
// arguments; leaving the list out counts as giving none.
// type-reference [ "(" expression { "," expression } ")" ]
VLTypeInstance VLParseTypeInstance(VLContext* ctx) {
    VLTypeInstance instance{};
    VLToken* first = ctx->token;
    instance.reference = VLParseTypeReference(ctx);
    if (instance.reference.kind == VLTypeReference_None) return instance;

    uint32_t savedCounter = VLSlotCounter(ctx);
    uint32_t expected = VLExpectedArgumentCount(ctx, &instance.reference);
    uint32_t given = 0;
    if (VLAcceptPunctuation(ctx, VLCode("("))) given = VLParseArguments(ctx);
    if (!VLIsStopped(ctx) && given != expected) {
        VLReportError(ctx, nullptr, "Invalid number of parameters, got %u expected %u.", given,
                      expected);
        VLNoteErrorDetail(ctx, VLErrorDetail_ArgumentCount, first);
        if (ctx->lastStoredError) ctx->lastStoredError->namedType = instance.reference.type;
    }

    instance.pushFrame = VLEmitPushFrame(ctx, &instance.reference);
    for (uint32_t i = 0; i < expected; ++i) {
        VLLocation parameter = VLNewSlot(ctx);
        VLEmitUnary(ctx, VLInstructionType_Copy, parameter, VLLocal(1, savedCounter + 2 + i));
    }
    VLEmitTypeCall(ctx, &instance.reference);
    VLSetSlotCounter(ctx, savedCounter);
    return instance;
}

// Emits the first half of a call: the type's member count and index into two
// new slots, the push-frame naming them, and a new compile-time frame level
// (its slot counter starts at 0). A named type whose body is still open gets
// its member count patched when the body closes, so the frame always knows
// every member the body declares.
VLInstruction* VLEmitPushFrame(VLContext* ctx, const VLTypeReference* reference) {
    VL_ASSERT(reference->kind != VLTypeReference_None);
    VL_ASSERT(ctx->stackIndex == 0);
    VLLocation memberCount = VLNewSlot(ctx);
    VLLocation typeIndex = VLNewSlot(ctx);
    if (reference->kind == VLTypeReference_Type) {
        VLTypeDefinition* type = reference->type;
        VLInstruction* load = VLEmitLoadConstant(ctx, memberCount, type->memberCount);
        if (type == ctx->typeDefinitionBeingParsed) {
            VLInstructionRef* pending = VLArenaNew<VLInstructionRef>(ctx->arena);
            pending->instruction = load;
            pending->next = type->pendingMemberCounts;
            type->pendingMemberCounts = pending;
        }
        VLEmitLoadConstant(ctx, typeIndex, type->index);
    } else {
        VLCategory* category = VLReferencedCategory(ctx, reference);
        uint32_t categoryIndex = category ? category->index : 0;
        VLInstruction* fetchCount = VLEmit(ctx, VLInstructionType_FetchMemberCountOfType);
        fetchCount->destination = memberCount;
        fetchCount->typeLookup.categoryIndex = categoryIndex;
        fetchCount->typeLookup.key = reference->selector;
        VLSetLookupSource(fetchCount, reference);
        VLInstruction* fetchIndex = VLEmit(ctx, VLInstructionType_FetchTypeIndex);
        fetchIndex->destination = typeIndex;
        fetchIndex->typeLookup.categoryIndex = categoryIndex;
        fetchIndex->typeLookup.key = reference->selector;
        VLSetLookupSource(fetchIndex, reference);
    }
    VLInstruction* pushFrame = VLEmit(ctx, VLInstructionType_PushFrame);
    pushFrame->pushFrame.typeIndex = typeIndex;
    pushFrame->pushFrame.memberCount = memberCount;
    ctx->stackIndex = 1;
    ctx->stacks[1] = 0;
    return pushFrame;
}

// Emits the second half of a call: the return number into slot 0 of the new
// frame, the jump to the body's start (for a category, the start is fetched
// at run time by the selector, which now sits one frame further out), and the
// pop-frame that runs when the body returns. The compile-time level drops back.
void VLEmitTypeCall(VLContext* ctx, const VLTypeReference* reference) {
    VL_ASSERT(reference->kind != VLTypeReference_None);
    VL_ASSERT(ctx->stackIndex == 1);
    VLInstruction* returnNumber = VLEmitLoadConstant(ctx, VLLocal(0, 0), 0);
    VLInstruction* jump;
    if (reference->kind == VLTypeReference_Type) {
        jump = VLEmitGoto(ctx, reference->type->startInstruction->index);
    } else {
        VLCategory* category = VLReferencedCategory(ctx, reference);
        VLLocation start = VLNewSlot(ctx);
        VLInstruction* fetchStart = VLEmit(ctx, VLInstructionType_FetchStartOfType);
        fetchStart->destination = start;
        fetchStart->typeLookup.categoryIndex = category ? category->index : 0;
        fetchStart->typeLookup.key = reference->selector;
        VLSetLookupSource(fetchStart, reference);
        if (fetchStart->typeLookup.key.kind == VLLocationKind_Local) fetchStart->typeLookup.key.depth++;
        jump = VLEmitGoto(ctx, 0);
        jump->jump.target = start;
    }
    returnNumber->constant.value = jump->index;  // the body's end returns after the goto
    ctx->stacks[1] = 0;
    ctx->stackIndex = 0;
    VLEmit(ctx, VLInstructionType_PopFrame);
}

// ---------------------------------------------------------------------------
// Members
// ---------------------------------------------------------------------------

// A struct with fewer members is searched along its list; from this many on,
// its members are looked up through the member index.
enum { VLIndexedMemberCount = 16 };

void VLAddMember(VLContext* ctx, VLTypeDefinition* type, VLMember* member) {
    member->appearIndex = type->memberCount++;
    member->next = type->members;
    type->members = member;
    if (type->memberCount < VLIndexedMemberCount) return;
    if (type->memberCount == VLIndexedMemberCount) {
        // Index the list as it stands, newest first: the first entry of a name wins.
        for (VLMember* listed = type->members; listed; listed = listed->next) {
            VLNameIndexPut(ctx, &ctx->memberIndex, type, listed->name, listed, false);
        }
        return;
    }
    VLNameIndexPut(ctx, &ctx->memberIndex, type, member->name, member, true);
}

VLMember* VLFindMember(const VLContext* ctx, const VLTypeDefinition* type, VLString name) {
    if (type->memberCount >= VLIndexedMemberCount) {
        return static_cast<VLMember*>(VLNameIndexFind(&ctx->memberIndex, type, name));
    }
    VLMember* member = type->members;
    while (member && !VLStringEquals(member->name, name)) member = member->next;
    return member;
}

// ---------------------------------------------------------------------------
// Locals
// ---------------------------------------------------------------------------

VLLocalVariable* VLFindLocalVariable(VLLocalVariable* list, VLString name) {
    for (; list; list = list->next) {
        if (VLStringEquals(list->name, name)) return list;
    }
    return nullptr;
}
