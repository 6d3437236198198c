// The four operations on packed decimals: the first operand is replaced by
// first (op) second in its own precision. Results are always truncated
// towards zero, never rounded.
#pragma once

#include <cstdint>

#include "platform/packed_decimal.h"

enum : int32_t { kDecimalAdd = 1, kDecimalSubtract = 2, kDecimalMultiply = 3, kDecimalDivide = 4 };
// Mode 1 cuts silently; mode 2 reports a cut of nonzero digits as -1.
enum : int32_t { kDecimalSilent = 1, kDecimalReportCut = 2 };

// Results: 0; -1 digits lost (mode 2); 1 an operand is null; -2/-3 overflow;
// -4 division by zero; -5 bad precision, operation or mode; -6 a digit
// nibble above 9 in an operand. On every result but 0 and -1 the first
// operand is left null.
int32_t decimal_arith(ByteSpan a_area, const value_descriptor& a, ConstByteSpan b_area,
                      const value_descriptor& b, int32_t operation, int32_t mode);
