// The message and severity texts of result codes, read from the catalog by
// the thread's two prepared message statements (THR STM_MOS_MESSAGE and
// STM_MOS_SEVERITY), with the kernel's own texts when the thread has none.
#pragma once

#include <cstdint>

namespace interp {

inline constexpr int32_t kPackedNative = -14043;  // the native code of a packed SQLSTATE
inline constexpr int32_t kNoMessageLine = 94;

// block: {status out, parameter, code, argument}. banner: 26 bytes, text:
// 40 bytes. Status 0, -14002 (kernel not initialised), -18515 (no thread)
// or -19024 (the severity statement failed).
void DSMosSeverity(int32_t* base, int32_t* block, char* banner, char* text, int32_t* severity);

// block: {line number in / status out, parameter, code, argument}; the
// 80-byte line. Status 0 for a line, 94 for none, -14002, -18515.
void DSMosMessage(int32_t* base, int32_t* block, char* line);

// The message text of `code` (-14043 for a packed SQLSTATE): its lines, each
// up to its last non-blank, a blank before every line after the first that
// does not begin with one. Empty for code 0.
void MessageText(int32_t* base, int32_t code, char* out, int32_t capacity, int32_t* length);

}  // namespace interp
