// SQL type codes and value lengths: the small integer every phase, the
// dictionary and the definition statements use for a data type, the storage
// length of a value of each code, the maps between the type codes and the
// catalog's, the host variables' and the clients' numberings, and the small
// conversion services the compiler shares (literal scan, estimates, division).
#pragma once

#include <cstdint>

struct SqlCompileCtx;

// SqlTypeCode values (5, 6, 7, 9, 26, 27 and 28 are not used).
enum SqlTypeCode : int32_t {
  kSqlTypeInt = 1,
  kSqlTypeFloat = 2,
  kSqlTypeDecimal = 3,
  kSqlTypeChar = 4,
  kSqlTypeVarchar = 8,
  kSqlTypeDate = 10,
  kSqlTypeTime = 11,
  kSqlTypeTimestamp = 12,
  kSqlTypeIntervalFirst = 13,  // INTERVAL YEAR
  kSqlTypeIntervalLast = 25,   // INTERVAL MINUTE TO SECOND
  kSqlTypeBinary = 29,
  kSqlTypeVarbinary = 30,
  kSqlTypeBlob = 31,
  kSqlTypeClob = 32,
  kSqlTypeNclob = 33,
  kSqlTypeNchar = 34,
  kSqlTypeNcharVarying = 35,
};

// The text form of a type code as the statement printer writes it ("INT(%d)");
// an empty text for a code that is not used.
const char* SqlTypeText(int32_t code);

// Storage length in bytes of a value of the code with length n (and, for the
// large objects, the high word of a 64-bit length).
int32_t qctyplen(int32_t code, int32_t n, int32_t second);
int32_t qcdeclen(int32_t n);
int32_t qcbinlen(int32_t n);
int32_t qcnchlen(int32_t n);
// Decimal digits of v (1 below 10, negative values included), and the packed
// decimal length of that many digits.
int32_t qcdigits(int32_t v);
int32_t qcdecdig(int32_t v);
// 10 to 25 give 1 to 16, every other code 0.
int32_t qctypmap16(int32_t code);
// The type code of a catalog data type number (0 to 35; others give 0).
int32_t qctyptab(int32_t number);
// The type code of a host-variable kind; 0 for a kind without one.
int32_t HostKindTypeCode(int32_t kind);
// The client type code of a type descriptor (type code, length, scale,
// variant), negated when the value may be null.
int32_t ClientTypeCode(const int32_t* descriptor, int32_t nullable, int32_t type_flag);

// Writes value right-aligned in 11 characters and a terminating 0; a failed
// conversion is internal error -19205.
void qqcois(SqlCompileCtx* ctx, char* buffer, int32_t value);

// Checks a numeric literal: status 0 with its digit count and scale (-1 with
// an exponent), 1 when it is no number, -8 for a length below 1.
void qclitscan(int32_t* status, int32_t* digits, int32_t* scale, const char* text, int32_t length);

// The value of a literal as a double for estimates; a numeric value (codes 1,
// 2, 3, 5) that overflows gives 1.7e37, one that cannot be read is internal
// error -19231; other codes read their first 8 bytes (blank padded) as a
// base-256 number.
double qcnstd(SqlCompileCtx* ctx, const uint8_t* value, int32_t length, int32_t code);

// a / b for cost arithmetic, clamped to +-1.7e37.
double qcfdiv(double a, double b);
constexpr double kCostHuge = 1.7e37;

// Adapters over the packed decimal conversions; each returns the converter's
// result and stores it in *status. The value is written to `out` (a packed
// decimal area of at least 24 bytes) with the given precision and scale.
int32_t qcnumchk(uint8_t* out, int32_t* status, int32_t precision, int32_t scale, const char* text,
                 int32_t length);
int32_t qcnumcv2(uint8_t* out, int32_t* status, int32_t precision, int32_t scale, int32_t value);
int32_t qcnumcv3(uint8_t* value, int32_t* status, int32_t precision, int32_t scale,
                 int32_t to_precision, int32_t to_scale);

// The converter's code and class for a value of a type code: 33 date, 34
// time, 35 timestamp, 36 to 48 the interval codes 13 to 25, negated for the
// reverse direction; class 1 date, 2 time, 3 timestamp, 4 year-month and 5
// day-time intervals. Other type codes give code 0 and class 0.
int32_t DatetimeConversion(int32_t type_code, bool reverse, int32_t* value_class);
// qcnumcvt: converts a datetime or interval value through the record-access
// converter (DSCallGuarded); the converter's status goes to *status.
void qcnumcvt(uint8_t* out, const uint8_t* value, int32_t* status, int32_t type_code, bool reverse);
// The current-time provider the datetime conversions receive: the session's
// simulated time when the calling thread's channel has a user, else the local
// time; 16 digits.
void QcCurrentTime(char text[16]);

// The integer value of a counted decimal text (rounded down); on failure the
// value is -1 and the status -1.
void qctxtint(int32_t* status, int32_t* value, const char* text, int32_t length);

// Byte-wise three-way comparison of two zero-terminated strings.
int32_t qcstrcmp(const char* a, const char* b);
