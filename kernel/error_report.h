// The message log and the kernel error report: DSLogMsg lays a message out
// in lines of 80 columns under a time stamp and severity tag and hands it to
// the server output; DSErrReport builds the fixed-form report of a kernel
// error from the error text table DSErrText.
#pragma once

#include <cstdint>

#include "platform/status.h"

// Severities of the log and the error report.
inline constexpr int32_t SEV_INFORMATION = 1;
inline constexpr int32_t SEV_WARNING = 2;
inline constexpr int32_t SEV_ERROR = 3;
inline constexpr int32_t SEV_INTERNAL = 4;
inline constexpr int32_t SEV_FATAL = 5;
inline constexpr int32_t SEV_AUDIT = 6;
inline constexpr int32_t SEV_TRACE = 7;
inline constexpr int32_t SEV_ALERT = 8;

// Columns of a log line.
inline constexpr int32_t LOG_LINE_WIDTH = 80;
// Status of DSErrText when the error number has no such line.
inline constexpr int32_t ERRTEXT_NO_LINE = 94;
// DSErrReport flags: the first value is an OS status to describe; list the values.
inline constexpr int32_t ERRREP_OS_STATUS = 1;
inline constexpr int32_t ERRREP_VALUES = 2;

// Writes one log entry. The items are read in order: 0 ends the line, n > 0
// takes the next n bytes of `text`, -n the next n of `values`. Severity 4
// raises the server exception with reason 4 and severity 5 with reason 3.
void DSLogMsg(StatusPair* status, int32_t severity, const char* text, const int32_t* values,
              const int32_t* items, int32_t item_count);
void DSLogMsgShort(StatusPair* status, int32_t severity, const char* text, const int32_t* values,
                   int32_t item);

// Writes one line as it stands (no time stamp, no tag), unprintable bytes
// shown as "^".
void DSLogText(const char* text, int32_t length);

// The kernel error report: a header line ("ZAVOR/DB server error -11002 in
// function DSGETM"), the error's text lines, and optionally the text of the
// OS status in values[0] (flag 1) and the values themselves (flag 2).
void DSErrReport(const char* routine, int32_t routine_length, int32_t error, int32_t severity,
                 const int32_t* values, int32_t value_count, int32_t flags);
void DSErrRep(const char* routine, int32_t routine_length, int32_t error, int32_t severity);
void DSErrRep2(const char* routine, int32_t routine_length, int32_t error, int32_t severity,
               const int32_t* values, int32_t value_count);

// Writes line request[0] (1 or 2) of the text of error request[2] as 80
// blank-padded characters at area + position; request[1] and request[3] must
// be 1. request[0] becomes 0, or 94 when there is no such line (*length 0).
void DSErrText(int32_t* request, char* area, int32_t position, int32_t* length);

// Keeps the first error of a sequence of calls: mode 0 copies the result
// vector of session `usr` into `vector` when vector[0] is 0; mode 1 copies
// `vector` into the session's result vector when vector[0] is not 0.
void DSErrParm(int32_t mode, int32_t* base, int32_t usr, int32_t* vector);
