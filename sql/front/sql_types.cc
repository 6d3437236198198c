// SQL type codes: storage lengths, the numbering maps as tables indexed by
// code, and the compiler's small numeric services (literal scan, literal
// values for estimates, clamped division, decimal adapters).
#include "sql/front/sql_types.h"

#include <cmath>
#include <cstring>

#include "platform/datetime.h"
#include "platform/decimal_text.h"
#include "platform/number_text.h"
#include "platform/numeric_services.h"
#include "platform/packed_decimal.h"
#include "platform/server_clock.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"

namespace {

constexpr const char* kTypeTexts[36] = {
    "",
    "INT(%d)",
    "FLOAT(%d)",
    "NUMERIC(%d,%d)",
    "CHAR(%d)",
    "",
    "",
    "",
    "VARCHAR(%d)",
    "",
    "DATE",
    "TIME(%d)",
    "TIMESTAMP(%d)",
    "INTERVAL YEAR(%d)",
    "INTERVAL MONTH(%d)",
    "INTERVAL DAY(%d)",
    "INTERVAL HOUR(%d)",
    "INTERVAL MINUTE(%d)",
    "INTERVAL SECOND(%d,%d)",
    "INTERVAL YEAR(%d) TO MONTH",
    "INTERVAL DAY(%d) TO HOUR",
    "INTERVAL DAY(%d) TO MINUTE",
    "INTERVAL DAY(%d) TO SECOND(%d)",
    "INTERVAL HOUR(%d) TO MINUTE",
    "INTERVAL HOUR(%d) TO SECOND(%d)",
    "INTERVAL MINUTE(%d) TO SECOND(%d)",
    "",
    "",
    "",
    "BINARY(%d)",
    "VARBINARY(%d)",
    "BLOB(%d)",
    "CLOB(%d)",
    "NCLOB(%d)",
    "NCHAR(%d)",
    "NCHAR VARYING(%d)",
};

// Catalog data type number -> type code.
constexpr int32_t kCatalogTypes[36] = {0,  4,  3,  1,  2,  8,  1,  1,  2,  2,  2,  3,
                                       10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                       22, 23, 24, 25, 1,  29, 30, 31, 32, 33, 34, 35};

// Client codes by type code: flag clear, flag set.
constexpr int32_t kClientByType[36][2] = {
    {0, 0},   {3, 28},  {4, 4},   {2, 2},   {1, 1},   {31, 31}, {0, 0},   {0, 0},   {11, 11},
    {5, 5},   {12, 12}, {13, 13}, {14, 14}, {15, 15}, {16, 16}, {17, 17}, {18, 18}, {19, 19},
    {20, 20}, {21, 21}, {22, 22}, {23, 23}, {24, 24}, {25, 25}, {26, 26}, {27, 27}, {0, 0},
    {0, 0},   {3, 28},  {34, 34}, {35, 35}, {37, 37}, {38, 38}, {41, 41}, {39, 39}, {40, 40},
};
// Client codes by variant 200 to 208.
constexpr int32_t kClientByVariant[9][2] = {{6, 29},  {6, 29}, {7, 30},  {8, 8},  {9, 9},
                                            {10, 10}, {2, 2},  {31, 31}, {32, 33}};

int32_t ClampToInt(int64_t v) {
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(v);
}

}  // namespace

const char* SqlTypeText(int32_t code) {
  return code >= 0 && code < 36 ? kTypeTexts[code] : "";
}

int32_t qctyplen(int32_t code, int32_t n, int32_t second) {
  switch (code) {
    case kSqlTypeChar:
    case kSqlTypeVarchar:
    case kSqlTypeBinary:
    case kSqlTypeVarbinary:
      return qcbinlen(n);
    case kSqlTypeBlob:
    case kSqlTypeClob:
    case kSqlTypeNclob:
      // The two words form the 64-bit size: `second` high, n low.
      return decimal_bytes_of_int64(second, n) + 12;
    case kSqlTypeNchar:
    case kSqlTypeNcharVarying:
      return qcnchlen(n);
    default:
      return qcdeclen(n);
  }
}

int32_t qcdeclen(int32_t n) {
  return n / 2 + 2;
}
int32_t qcbinlen(int32_t n) {
  return ClampToInt(int64_t{n} + 1);
}
int32_t qcnchlen(int32_t n) {
  return ClampToInt(3 * int64_t{n} + 1);
}

int32_t qcdigits(int32_t v) {
  int32_t digits = 1;
  while (v >= 10) {
    v /= 10;
    ++digits;
  }
  return digits;
}
int32_t qcdecdig(int32_t v) {
  return qcdigits(v) / 2 + 2;
}

int32_t qctypmap16(int32_t code) {
  return code >= kSqlTypeDate && code <= kSqlTypeIntervalLast ? code - 9 : 0;
}

int32_t qctyptab(int32_t number) {
  return number >= 0 && number < 36 ? kCatalogTypes[number] : kCatalogTypes[0];
}

int32_t HostKindTypeCode(int32_t kind) {
  switch (kind) {
    case 1:
      return kSqlTypeChar;
    case 2:
      return kSqlTypeDecimal;
    case 3:
      return kSqlTypeInt;
    case 4:
      return kSqlTypeFloat;
    case 11:
      return kSqlTypeVarchar;
    case 37:
      return kSqlTypeBlob;
    case 38:
      return kSqlTypeClob;
    default:
      return 0;
  }
}

int32_t ClientTypeCode(const int32_t* descriptor, int32_t nullable, int32_t type_flag) {
  int32_t set = type_flag != 0 ? 1 : 0;
  int32_t variant = descriptor[3];
  int32_t code = 0;
  if (variant >= 200 && variant <= 208) {
    code = kClientByVariant[variant - 200][set];
  } else if (descriptor[0] >= 0 && descriptor[0] < 36) {
    code = kClientByType[descriptor[0]][set];
  }
  return nullable != 0 ? -code : code;
}

void qqcois(SqlCompileCtx* ctx, char* buffer, int32_t value) {
  ByteSpan area(reinterpret_cast<uint8_t*>(buffer), 12);
  if (mdr_int_to_text(area, 0, 11, value) != 0) qcinterr(ctx, "QCO: qqcois", -19205);
  buffer[11] = 0;
}

void qclitscan(int32_t* status, int32_t* digits, int32_t* scale, const char* text, int32_t length) {
  *digits = 0;
  *scale = 0;
  if (length < 1) {
    *status = -8;
    return;
  }
  // Classes: 0 digit, 1 point, 2 sign, 3 exponent marker, 4 end, 5 blank,
  // 6 anything else. States: 0 start, 1 after a sign, 2 integer digits,
  // 3 point without digits before, 4 fraction digits (or point after
  // digits), 5 exponent marker, 6 exponent sign, 7 exponent digits,
  // 8 trailing blanks; -1 fails, 9 accepts.
  static constexpr int8_t kNext[9][7] = {
      {2, 3, 1, -1, -1, 0, -1},    {2, 3, -1, -1, -1, -1, -1}, {2, 4, -1, 5, 9, 8, -1},
      {4, -1, -1, -1, -1, -1, -1}, {4, -1, -1, 5, 9, 8, -1},   {7, -1, 6, -1, -1, -1, -1},
      {7, -1, -1, -1, -1, -1, -1}, {7, -1, -1, -1, 9, 8, -1},  {-1, -1, -1, -1, 9, 8, -1},
  };
  int32_t state = 0;
  int32_t total = 0;
  int32_t after_point = 0;
  bool exponent = false;
  for (int32_t i = 0; i <= length; ++i) {
    int32_t cls = 6;
    if (i == length) {
      cls = 4;
    } else {
      char c = text[i];
      if (c >= '0' && c <= '9')
        cls = 0;
      else if (c == '.')
        cls = 1;
      else if (c == '+' || c == '-')
        cls = 2;
      else if (c == 'E' || c == 'e')
        cls = 3;
      else if (c == ' ')
        cls = 5;
    }
    if (cls == 0 && state <= 4) {
      ++total;
      if (state >= 3) ++after_point;
    }
    if (cls == 3) exponent = true;
    state = kNext[state][cls];
    if (state < 0) {
      *status = 1;
      return;
    }
    if (state == 9) break;
  }
  *status = 0;
  *digits = total;
  *scale = exponent ? -1 : after_point;
}

double qcnstd(SqlCompileCtx* ctx, const uint8_t* value, int32_t length, int32_t code) {
  if (length < 0) length = 0;
  if (code == kSqlTypeInt || code == kSqlTypeFloat || code == kSqlTypeDecimal || code == 5) {
    // The digits the length holds, counted wide: a huge length names no
    // precision rather than a wrapped one.
    int64_t precision = 2 * int64_t{length} - 3;
    if (precision < 1 || precision > kDecimalMaxPrecision) qcinterr(ctx, "QCO: qcnstd", -19231);
    value_descriptor d;
    d.precision = static_cast<int32_t>(precision);
    double out = 0;
    int32_t rc = decimal_to_double(&out, ConstByteSpan(value, static_cast<size_t>(length)), d);
    if (rc == kDecimalOk || rc == kDecimalDigitsLost) return out;
    if (rc == kDecimalNull) return 0;
    if (rc == kDecimalOverflowPos || rc == kDecimalOverflowNeg) return kCostHuge;
    qcinterr(ctx, "QCO: qcnstd", -19231);
  }
  double v = 0;
  for (int32_t i = 0; i < 8; ++i) v = v * 256 + (i < length ? value[i] : ' ');
  return v;
}

double qcfdiv(double a, double b) {
  double sign = (a < 0) != (b < 0) ? -1.0 : 1.0;
  if (b == 0) return sign * kCostHuge;
  double abs_a = std::fabs(a);
  if (abs_a < 1.0) return a / b;
  if (1.0 / std::fabs(b) >= kCostHuge / abs_a) return sign * kCostHuge;
  return a / b;
}

int32_t qcnumchk(uint8_t* out, int32_t* status, int32_t precision, int32_t scale, const char* text,
                 int32_t length) {
  value_descriptor d{0, precision, scale, 0};
  ConstByteSpan source(reinterpret_cast<const uint8_t*>(text), length > 0 ? length : 0);
  *status = text_to_decimal(ByteSpan(out, kDecimalMaxBytes), d, source, 0, length);
  return *status;
}

int32_t qcnumcv2(uint8_t* out, int32_t* status, int32_t precision, int32_t scale, int32_t value) {
  value_descriptor d{0, precision, scale, 0};
  *status = int_to_decimal(ByteSpan(out, kDecimalMaxBytes), d, value);
  return *status;
}

int32_t qcnumcv3(uint8_t* value, int32_t* status, int32_t precision, int32_t scale,
                 int32_t to_precision, int32_t to_scale) {
  value_descriptor d{0, precision, scale, 0};
  *status = decimal_round(ByteSpan(value, kDecimalMaxBytes), d, to_precision, to_scale);
  return *status;
}

int32_t DatetimeConversion(int32_t type_code, bool reverse, int32_t* value_class) {
  int32_t code = 0;
  *value_class = 0;
  if (type_code >= kSqlTypeDate && type_code <= kSqlTypeTimestamp) {
    code = 33 + type_code - kSqlTypeDate;
    *value_class = 1 + type_code - kSqlTypeDate;
  } else if (type_code >= kSqlTypeIntervalFirst && type_code <= kSqlTypeIntervalLast) {
    code = 36 + type_code - kSqlTypeIntervalFirst;
    bool year_month = type_code == 13 || type_code == 14 || type_code == 19;
    *value_class = year_month ? 4 : 5;
  }
  return reverse ? -code : code;
}

void qcnumcvt(uint8_t* out, const uint8_t* value, int32_t* status, int32_t type_code,
              bool reverse) {
  int32_t value_class = 0;
  int32_t code = DatetimeConversion(type_code, reverse, &value_class);
  sqlsvc::DSCallGuarded(out, value, status, code, value_class, QcCurrentTime);
}

void QcCurrentTime(char text[16]) {
  const SqlKernelServices& k = SqlKernel();
  int32_t increment = 0;
  char stored[16];
  if (k.user_time != nullptr && k.user_time(&increment, stored)) {
    DSTimestampAdd(text, increment, stored);
    return;
  }
  mdr_local_time_text(text);
}

void qctxtint(int32_t* status, int32_t* value, const char* text, int32_t length) {
  double d = 0;
  ConstByteSpan area(reinterpret_cast<const uint8_t*>(text), length > 0 ? length : 0);
  int32_t rc = length > 0 ? text_to_double_checked(&d, area, 0, length) : -1;
  d = std::floor(d);
  if (rc != 0 || !(d >= INT32_MIN && d <= INT32_MAX)) {
    *status = -1;
    *value = -1;
    return;
  }
  *status = 0;
  *value = static_cast<int32_t>(d);
}

int32_t qcstrcmp(const char* a, const char* b) {
  size_t i = 0;
  while (a[i] != 0 && a[i] == b[i]) ++i;
  return static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i]);
}
