// The databank kernel's error reporter and logger: one log record per report,
// with the kernel's return-code texts, the disabling of a databank on a
// databank error, and the end of the server on a fatal or internal error.
#pragma once

#include <cstdint>

// A kernel return code r is known on the SQL side as r - 16140.
constexpr int32_t DK_SQL_ERROR_BASE = 16140;

// Severities of the kernel's own scale.
constexpr int32_t DK_SEV_INFO = 1;
constexpr int32_t DK_SEV_ERROR = 2;
constexpr int32_t DK_SEV_DISABLE = 3;
constexpr int32_t DK_SEV_DISABLE_REPEATED = 4;
constexpr int32_t DK_SEV_FATAL = 5;
constexpr int32_t DK_SEV_FATAL_REPEATED = 6;
constexpr int32_t DK_SEV_INTERNAL = 7;

// Context record of the logger.
constexpr int32_t DKCTX_VALUE = 0;     // a databank entry index or a value
constexpr int32_t DKCTX_OS_ERROR = 4;  // composite OS status, or -1
constexpr int32_t DKCTX_WORDS = 5;

// Reports under routine `index`: `value` points at the value printed for a
// code with a value (or a file name for a code with a file name); `word` is
// the databank entry index or value that the context record carries.
void DKReportError(int32_t index, int32_t rc, int32_t severity, const void* value, int32_t word);
// `context` may be null (no databank, no OS error).
void DKLogError(int32_t index, int32_t rc, int32_t severity, const void* value,
                const int32_t* context);

// The text of a kernel return code ("Unknown error message text..." for
// codes without one).
const char* DKReturnCodeText(int32_t rc);
