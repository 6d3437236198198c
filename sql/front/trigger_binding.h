// The triggers of the table an INSERT, UPDATE or DELETE changes, collected
// when its target is bound: one trigger node each, in the order the
// dictionary gives them, on QueryBlockState's trigger list.
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// Trigger node (14 words).
constexpr int32_t kTriggerWords = 14;
constexpr int32_t TRG_ID = 0;
constexpr int32_t TRG_TIMING = 1;      // 1 BEFORE, 2 INSTEAD OF, 3 AFTER
constexpr int32_t TRG_LEVEL = 2;       // 1 ROW, 0 STATEMENT
constexpr int32_t TRG_FLAGS = 3;       // the dictionary's three flags (3-5)
constexpr int32_t TRG_ORDER = 6;
constexpr int32_t TRG_VALUE = 7;
constexpr int32_t TRG_EVENT = 8;       // 1 INSERT, 2 UPDATE, 3 DELETE
constexpr int32_t TRG_TABLE = 9;
constexpr int32_t TRG_OLD_TABLE = 10;  // transition-table references (0 unused)
constexpr int32_t TRG_NEW_TABLE = 11;
constexpr int32_t TRG_OLD_ROW = 12;    // the bound target reference (0 unused)
constexpr int32_t TRG_NEW_ROW = 13;

// Step of the binding of a table reference `ref` (its dictionary
// attributes in its words): under flag 8, 9 or 10 in the statement's own
// block, for a table with triggers, outside compile mode 6.
// `attributes_current` false: the reference's attributes may be older than
// the table's triggers (a table read by a stored view), so the dictionary
// is asked whatever they say.
void SemCollectTriggers(SqlCompileCtx* ctx, int32_t ref, bool attributes_current = true);
