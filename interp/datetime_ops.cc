// DATE, TIME, TIMESTAMP and INTERVAL instructions over the platform's
// datetime routines: interval arithmetic (DTA), differences (DTD), interval
// casts (DTT), the statement's current date and time (DTC), day and week
// numbers (DTW), text in and out (TDC, TCD), numbers to intervals (TDN),
// field extraction (TND), the conversions between DATE, TIME and TIMESTAMP
// (TDD) and a DATE's day number (CVI). Every value operand is checked against the storage before
// a routine sees it.
#include <algorithm>
#include <climits>
#include <cstring>

#include "interp/run_state.h"
#include "interp/varying.h"
#include "platform/datetime.h"
#include "platform/interval.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

constexpr int32_t kDatetimeTextErrorBase = -10320;
constexpr int32_t kIntervalErrorBase = -10330;
constexpr int32_t kTimestampDigits = 16;
constexpr int32_t kMaxDigits = 23;  // YYYYMMDDHHMMSS and nine fraction digits

// A packed decimal operand (offset, precision) that lies inside the storage.
bool Fits(const Run& run, int32_t offset, int32_t precision) {
  return precision >= 1 && precision <= kDecimalMaxPrecision &&
         run.fits(offset, decimal_bytes(precision));
}

value_descriptor Value(int32_t offset, int32_t precision, int32_t type, int32_t scale = -1) {
  return value_descriptor{offset, precision, scale, type};
}

// Fails with base + rc for a negative status; true when it failed.
bool Failed(Run& run, int32_t rc, int32_t base) {
  if (rc >= 0) return false;
  run.fail(base + rc);
  return true;
}

// The run whose clock a text parse reads (a literal of another datetime type
// is merged into the current date and time).
thread_local const Run* clock_run = nullptr;
void RunClock(char out[16]) {
  CurrentTimestamp(*clock_run, out);
}

// DTA: the datetime (op2, precision op3) plus or minus the interval (op4,
// precision op5); op1 names the types and the operation.
void AddInterval(Run& run) {
  struct Mode {
    int32_t type, interval, operation;
  };
  static constexpr Mode kModes[] = {
      {kTypeDate, kTypeYearMonth, kIntervalAdd},
      {kTypeDate, kTypeDayTime, kIntervalAdd},
      {kTypeDate, kTypeYearMonth, kIntervalSubtract},
      {kTypeDate, kTypeDayTime, kIntervalSubtract},
      {kTypeTime, kTypeDayTime, kIntervalAdd},
      {kTypeTime, kTypeDayTime, kIntervalSubtract},
      {kTypeTimestamp, kTypeYearMonth, kIntervalAdd},
      {kTypeTimestamp, kTypeDayTime, kIntervalAdd},
      {kTypeTimestamp, kTypeYearMonth, kIntervalSubtract},
      {kTypeTimestamp, kTypeDayTime, kIntervalSubtract},
  };
  const int32_t mode = run.op(1);
  if (mode < 1 || mode > 10 || !Fits(run, run.op(2), run.op(3)) || !Fits(run, run.op(4), run.op(5)))
    return run.fail(kErrBadOperand);
  const Mode& m = kModes[mode - 1];
  const int32_t rc =
      datetime_add_interval(run.bytes(), Value(run.op(2), run.op(3), m.type), run.bytes(),
                            Value(run.op(4), run.op(5), m.interval), m.operation);
  if (Failed(run, rc, kDecimalErrorBase)) return;
  run.next();
}

// DTD: the interval (op2, precision op3, scale op4) := first (op5, op6) -
// second (op7, op8); op1 names the operands' type and the interval's kind.
void Difference(Run& run) {
  struct Code {
    int32_t type, interval;
  };
  static constexpr Code kCodes[] = {{kTypeDate, kTypeYearMonth},
                                    {kTypeDate, kTypeDayTime},
                                    {kTypeTime, kTypeDayTime},
                                    {kTypeTimestamp, kTypeYearMonth},
                                    {kTypeTimestamp, kTypeDayTime}};
  const int32_t code = run.op(1);
  if (code < 1 || code > 5 || !Fits(run, run.op(2), run.op(3)) ||
      !Fits(run, run.op(5), run.op(6)) || !Fits(run, run.op(7), run.op(8)))
    return run.fail(kErrBadOperand);
  const Code& c = kCodes[code - 1];
  const int32_t rc = datetime_difference(
      run.bytes(), Value(run.op(2), run.op(3), c.interval, run.op(4)), run.bytes(),
      Value(run.op(5), run.op(6), c.type), run.bytes(), Value(run.op(7), run.op(8), c.type));
  if (Failed(run, rc, kDecimalErrorBase)) return;
  run.next();
}

// DTT: the value (op1, precision op2) cast in place to precision op3 and
// scale op4 of qualifier op5.
void CastInterval(Run& run) {
  const int32_t type = interval_qualifier_info(run.op(5));
  if (type < 1 || !Fits(run, run.op(1), run.op(2)) || !Fits(run, run.op(1), run.op(3)))
    return run.fail(kErrBadOperand);
  value_descriptor d = Value(run.op(1), run.op(2), type);
  const int32_t rc = datetime_cast(run.bytes(), &d, run.op(3), run.op(4), run.op(5));
  if (Failed(run, rc, kIntervalErrorBase)) return;
  run.next();
}

// Leading digits of the text (at most 23).
int32_t DigitRun(const uint8_t* text, int32_t length) {
  int32_t n = 0;
  while (n < std::min(length, kMaxDigits) && text[n] >= '0' && text[n] <= '9') ++n;
  return n;
}

// DTC: the DATE, TIME or TIMESTAMP (op1 1, 2, 3) at op2 (precision op3) from
// the statement's shared date-time value (op4, length op5). The statement's
// prologue stores the time there once (SDT), so that every current date and
// time of one statement is the same instant; a value that holds no time yet
// takes the clock now, in the same form.
void CurrentDatetime(Run& run) {
  const int32_t type = run.op(1), shared = run.op(4), n = run.op(5);
  if (type < kTypeDate || type > kTypeTimestamp || !Fits(run, run.op(2), run.op(3)) ||
      n < kTimestampDigits || !run.fits(shared, int64_t{n} + 1))
    return run.fail(kErrBadOperand);
  uint8_t* text = run.at(shared);
  int32_t digits = DigitRun(text + 1, n);
  if (text[0] != 0 || digits < 14) {
    char now[kTimestampDigits];
    CurrentTimestamp(run, now);
    text[0] = 0;
    std::memset(text + 1, ' ', static_cast<size_t>(n));
    std::memcpy(text + 1, now, kTimestampDigits);
    digits = DigitRun(text + 1, n);
    if (digits < 14) return run.fail(kDecimalErrorBase + kDateTimeBadText);
  }
  const int32_t rc = datetime_from_digits(run.bytes(), Value(run.op(2), run.op(3), type),
                                          run.bytes(), shared + 1, digits);
  if (Failed(run, rc, kDecimalErrorBase)) return;
  run.next();
}

// DTW: op1 1 day of the year, 2 ISO week, 3 day of the week (1 Sunday .. 7
// Saturday) of the DATE (op2 1) or TIMESTAMP (op2 3) at op5 (precision op6)
// into the decimal at op3 (precision op4).
void DayNumber(Run& run) {
  const int32_t code = run.op(1), type = run.op(2);
  const value_descriptor out{run.op(3), run.op(4)};
  if (code < 1 || code > 3 || (type != kTypeDate && type != kTypeTimestamp) ||
      !Fits(run, out.offset, out.precision) || !Fits(run, run.op(5), run.op(6)))
    return run.fail(kErrBadOperand);
  const value_descriptor source = Value(run.op(5), run.op(6), type);
  DateTimeFields f;
  int32_t rc = datetime_decode_fields(&f, run.bytes(), source);
  if (rc == kDecimalNull) {
    decimal_set_null(run.bytes(), out);
    return run.next();
  }
  if (Failed(run, rc, kDecimalErrorBase)) return;
  const int64_t day = day_number(f.year, f.month, f.day);
  int32_t value = 0;
  if (code == 1) {
    value = static_cast<int32_t>(day - day_number(f.year, 1, 1) + 1);
  } else if (code == 2) {
    rc = datetime_week(&value, run.bytes(), source, 0);
    if (Failed(run, rc, kDecimalErrorBase)) return;
  } else {
    value = static_cast<int32_t>((day + 1) % 7 + 1);  // day 0 is a Monday
  }
  if (Failed(run, int_to_decimal(run.bytes(), out, value), kDecimalErrorBase)) return;
  run.next();
}

// TDC: the datetime or interval of qualifier op1 at op2 (precision op3,
// fraction digits op4) := the text at op5 (maximum op6, length field op7).
void FromText(Run& run) {
  const int32_t q = run.op(1), t = run.op(5), max = run.op(6);
  const int32_t type = interval_qualifier_info(q);
  if (type < 1 || !Fits(run, run.op(2), run.op(3)) || max < 0 || !run.fits(t, int64_t{max} + 1))
    return run.fail(kErrBadOperand);
  const value_descriptor target = Value(run.op(2), run.op(3), type, run.op(4));
  int32_t n = 0;
  const int32_t lrc = run.at(t)[0] == 255 ? 1 : ReadLength(run, run.op(7), max, &n);
  if (lrc == 1) {
    decimal_set_null(run.bytes(), target);
    return run.next();
  }
  if (Failed(run, lrc, kLengthFieldErrorBase)) return;
  clock_run = &run;
  const int32_t rc = datetime_from_text(run.bytes(), target, run.bytes(), t + 1, n, q, RunClock);
  clock_run = nullptr;
  if (Failed(run, rc, kDatetimeTextErrorBase)) return;
  run.next();
}

// TCD: the text at op2 (maximum op3, length field op4) := the value of
// qualifier op1 (+32: the typed-literal form) at op6 (precision op7, op5
// fraction digits), blank padded; the length field gets the text's length.
void ToText(Run& run) {
  const int32_t q = run.op(1), t = run.op(2), max = run.op(3), lf = run.op(4);
  const int32_t type = interval_qualifier_info(q);
  if (type < 1 || max < 0 || !run.fits(t, int64_t{max} + 1) || !Fits(run, run.op(6), run.op(7)))
    return run.fail(kErrBadOperand);
  const value_descriptor source = Value(run.op(6), run.op(7), type, run.op(5));
  if (run.at(run.op(6))[0] == 255)
    return SetVaryingNull(run, t, max, lf) ? run.next() : run.fail(kErrBadOperand);
  const int32_t rc = datetime_to_text(run.bytes(), t + 1, max, run.bytes(), source, q);
  if (rc == kDecimalNull)
    return SetVaryingNull(run, t, max, lf) ? run.next() : run.fail(kErrBadOperand);
  if (Failed(run, rc, kDatetimeTextErrorBase)) return;
  run.at(t)[0] = 0;
  const int32_t length = mdr_find_byte(run.bytes(), t + 1, -max, ' ');
  if (Failed(run, WriteLength(run, lf, max, length), kDecimalErrorBase)) return;
  run.next();
}

// TDN: the interval of qualifier op1 at op2 (precision op3, scale op4) := the
// number at op5 (precision op6) in the qualifier's unit. Only single-field
// intervals take a number.
void NumberToInterval(Run& run) {
  const int32_t q = run.op(1);
  const int32_t type = interval_qualifier_info(q);
  if (type < 1 || !Fits(run, run.op(2), run.op(3)) || !Fits(run, run.op(5), run.op(6)))
    return run.fail(kErrBadOperand);
  if (q < kQualYear || q > kQualSecond)
    return run.fail(kIntervalErrorBase + kDateTimeTypesDoNotFit);
  const int32_t rc = interval_from_number(run.bytes(), Value(run.op(2), run.op(3), type, run.op(4)),
                                          run.bytes(), value_descriptor{run.op(5), run.op(6)}, q);
  if (Failed(run, rc, kIntervalErrorBase)) return;
  run.next();
}

// TND: the number at op2 (precision op3, scale op4) := field op1 (1 year ..
// 6 second, 7 fraction) of the value of qualifier op5 at op6 (precision op7).
void ExtractField(Run& run) {
  const int32_t q = run.op(5);
  const int32_t type = interval_qualifier_info(q);
  if (type < 1 || !Fits(run, run.op(2), run.op(3)) || !Fits(run, run.op(6), run.op(7)))
    return run.fail(kErrBadOperand);
  const int32_t rc =
      datetime_extract(run.bytes(), value_descriptor{run.op(2), run.op(3), run.op(4)}, run.bytes(),
                       Value(run.op(6), run.op(7), type), run.op(1), q);
  if (Failed(run, rc, kDecimalErrorBase)) return;
  run.next();
}

// TDD: between DATE, TIME and TIMESTAMP by sub-kind op1: 1 TIMESTAMP to
// DATE, 2 TIMESTAMP to TIME, 3 DATE to TIMESTAMP (midnight), 4 TIME to
// TIMESTAMP (today); target op2 (precision op3), source op4 (precision op5).
void ConvertDatetime(Run& run) {
  struct Kind {
    int32_t target, source, take;
  };
  static constexpr Kind kKinds[] = {{kTypeDate, kTypeTimestamp, kMergeDate},
                                    {kTypeTime, kTypeTimestamp, kMergeTime},
                                    {kTypeTimestamp, kTypeDate, kMergeDate},
                                    {kTypeTimestamp, kTypeTime, kMergeTime}};
  const int32_t kind = run.op(1);
  if (kind < 1 || kind > 4 || !Fits(run, run.op(2), run.op(3)) || !Fits(run, run.op(4), run.op(5)))
    return run.fail(kErrBadOperand);
  const Kind& k = kKinds[kind - 1];
  const value_descriptor target = Value(run.op(2), run.op(3), k.target);
  int32_t keep = 0;
  if (kind == 4) {  // the date part is today's
    char now[kTimestampDigits];
    CurrentTimestamp(run, now);
    const int32_t rc = datetime_from_digits(
        run.bytes(), target, ConstByteSpan(reinterpret_cast<const uint8_t*>(now), sizeof now), 0,
        kTimestampDigits);
    if (Failed(run, rc, kDecimalErrorBase)) return;
    keep = kMergeDate;
  }
  const int32_t rc = datetime_merge(run.bytes(), target, keep, k.take, run.bytes(),
                                    Value(run.op(4), run.op(5), k.source));
  if (Failed(run, rc, kDecimalErrorBase)) return;
  run.next();
}

// CVI: storage word op1 + 1 := the day number (days from 0001-01-01) of the
// DATE at op2; the integer -2147483648 for a null date.
void DateToDayNumber(Run& run) {
  constexpr int32_t kDatePrecision = 8;
  const int64_t w = int64_t{run.op(1)} + 1;
  if (!run.words(w, 1) || !Fits(run, run.op(2), kDatePrecision)) return run.fail(kErrBadOperand);
  int32_t year = 0, month = 0, day = 0;
  const int32_t rc =
      date_decode(&year, &month, &day, run.bytes(), Value(run.op(2), kDatePrecision, kTypeDate));
  if (Failed(run, rc, kDecimalErrorBase)) return;
  if (rc == kDecimalNull) {
    run.word(static_cast<int32_t>(w)) = INT32_MIN;
    return run.next();
  }
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > days_in_month(year, month))
    return run.fail(kDecimalErrorBase + kDateTimeInvalid);
  run.word(static_cast<int32_t>(w)) = static_cast<int32_t>(day_number(year, month, day));
  run.next();
}

}  // namespace

void InstallDatetimeOps(Instruction t[]) {
  t[97] = AddInterval;        // DTA
  t[98] = Difference;         // DTD
  t[99] = FromText;           // TDC
  t[100] = ToText;            // TCD
  t[101] = NumberToInterval;  // TDN
  t[102] = ExtractField;      // TND
  t[103] = ConvertDatetime;   // TDD
  t[104] = CurrentDatetime;   // DTC
  t[105] = DayNumber;         // DTW
  t[106] = CastInterval;      // DTT
  t[126] = DateToDayNumber;   // CVI
}

}  // namespace interp
