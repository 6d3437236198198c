// The session's diagnostics area as conditions raised in programs fill it.
#pragma once

#include <cstdint>
#include <string>

#include "interp/conditions.h"
#include "platform/bytes.h"

namespace interp {

// Records `value` (a native code, a packed SQLSTATE, or for raise kinds 1, 3
// and 4 of a user condition: recorded as -14044) whose SQLSTATE is `state`.
// Mode 0 replaces the area's records, 1 adds in front of them (nothing when
// record 1 already holds this code). `trigger` not 0: the program runs as
// that trigger, and a second record (-14703) names it. A record found no
// storage for is not recorded. Every record filled, new or reused, keeps
// nothing of the condition it held before.
void DSAddCondition(int32_t* base, int32_t usr, int32_t value, int32_t kind, int32_t mode,
                    const char* state, int32_t trigger);

}  // namespace interp

namespace interp {

// GET DIAGNOSTICS: ops are the item code, the condition number's storage
// offset and precision (offset 0: statement information), the target's
// offset and length and, for the character form, the offset of the
// delivered length (-1 none). `program_type` is the running program's.
// Returns 0, -14651 (a bad condition number), -10311 (a value longer than
// its target), -16183 (an unknown item), -19077 (an operand outside the
// storage) or -19040 for items whose catalog or message services are not
// reachable from here yet.
int32_t DSGetDiagnostics(int32_t* base, int32_t usr, ByteSpan storage, const int32_t ops[6],
                         bool character, int32_t program_type, ConditionSite& site,
                         const ConditionRun& run);

}  // namespace interp

namespace interp {

// The record numbered `number` of the session's area (0 none).
int32_t DSFindDiagRecord(int32_t* base, int32_t usr, int32_t number);

// The two names (trailing blanks dropped) of catalog object `id` (and
// `second`) of `kind` through the request service table's entry, else the
// kernel's own look-ups: 0 found, 1 none, or the failure.
int32_t DSCatalogNames(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t second,
                       std::string* first, std::string* other);

// The most substitution text a diagnostics record delivers.
inline constexpr int32_t kDiagTextMax = 588;

// One record for the client. block: [0] condition number in, the next
// number out (0 after the last record); [1] the session (0: the system's
// return vector); [2] the native code out (-14043 for a packed SQLSTATE).
// *position, *length and `text` (at least 588 bytes) out: the substitution
// text without item letters, or the log record reference of the return
// vector for record 1 without text and without records.
void DSGetDiagRecord(int32_t* base, int32_t* block, int32_t* position, int32_t* length,
                     char* text);

}  // namespace interp
