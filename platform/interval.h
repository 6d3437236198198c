// INTERVAL values: year-month intervals held as a signed packed decimal of
// months, day-time intervals as seconds with up to 9 fraction digits. Also the
// qualifier codes, precision rules and text format programs that DATE, TIME
// and TIMESTAMP share (platform/datetime.h).
#pragma once

#include <cstdint>

#include "platform/bytes.h"
#include "platform/packed_decimal.h"

// Value type codes (word 3 of a value descriptor).
constexpr int32_t kTypeDate = 1;
constexpr int32_t kTypeTime = 2;
constexpr int32_t kTypeTimestamp = 3;
constexpr int32_t kTypeYearMonth = 4;  // stored in months
constexpr int32_t kTypeDayTime = 5;    // stored in seconds

// Result codes of the datetime and interval routines beyond the decimal ones.
constexpr int32_t kDateTimeFractionCut = 2;
constexpr int32_t kDateTimeBadOperation = -6;
constexpr int32_t kDateTimeInvalid = -7;
constexpr int32_t kDateTimeTypesDoNotFit = -8;
constexpr int32_t kDateTimeBadText = -9;

// Qualifier codes; 33..48 ask for the typed-literal text of 1..16.
enum : int32_t {
  kQualDate = 1,
  kQualTime = 2,
  kQualTimestamp = 3,
  kQualYear = 4,
  kQualMonth = 5,
  kQualDay = 6,
  kQualHour = 7,
  kQualMinute = 8,
  kQualSecond = 9,
  kQualYearToMonth = 10,
  kQualDayToHour = 11,
  kQualDayToMinute = 12,
  kQualDayToSecond = 13,
  kQualHourToMinute = 14,
  kQualHourToSecond = 15,
  kQualMinuteToSecond = 16,
};
constexpr int32_t kQualLiteralForm = 32;
constexpr int32_t kDefaultLeadingPrecision = 2;
constexpr int32_t kDefaultFractionalPrecision = 6;

// Value type of the qualifier (1..5); -5 outside 1..16 (33..48 accepted).
int32_t interval_qualifier_info(int32_t qualifier);
// Digits that converting the qualifier's leading field into the stored unit
// can add (years 2, days 5, hours 4, minutes 2, months and seconds 0).
int32_t interval_digits_after_leading(int32_t qualifier);
// True for the qualifiers that carry seconds (and so a fraction).
bool interval_has_seconds(int32_t qualifier);

// Precision rules. With *precision and *scale both -1 they are computed from
// the fractional and leading precisions; with those both -1, the reverse.
// 0, or -5 for a qualifier outside 1..16.
int32_t interval_precision(int32_t qualifier, int32_t* fraction, int32_t* leading,
                           int32_t* precision, int32_t* scale);

// True when the descriptor's precision is 1..45 and the value's bytes lie
// inside the area; every routine that takes a value checks this first (-5).
bool value_fits(ConstByteSpan area, const value_descriptor& d);

// The value with its sign: whole months or seconds, and nanoseconds. Either
// output may be null. 0, 1 null, -5 bad precision, exponent or area.
int32_t interval_decode(double* value, int32_t* nanos, ConstByteSpan area,
                        const value_descriptor& d);
// Writes the signed value; 0, 2 fraction digits cut, -2/-3 overflow (nothing
// written), -5 bad precision.
int32_t interval_encode(ByteSpan area, const value_descriptor& d, double value, int32_t nanos);

// A number (a decimal of any exponent) to a single-field interval; unit 4
// years .. 9 seconds, 10 nanoseconds. The integer part must stay below 10^L
// of the unit's qualifier (-2 / -3); fraction digits past the ninth are
// dropped.
int32_t interval_from_number(ByteSpan target_area, const value_descriptor& target,
                             ConstByteSpan source_area, const value_descriptor& source,
                             int32_t unit);

// --- Format programs ----------------------------------------------------------
// One program per qualifier drives both the parsing and the writing of text.

struct DateTimeFields {
  int32_t negative = 0;
  int32_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int32_t nanos = 0;
  double leading = 0;  // the leading field of an interval, whole
};

// Parses text with the program of qualifier (1..16). 0, 2 when the fraction
// had more than `fraction` digits (they are dropped), -9 on a mismatch.
int32_t format_program_parse(int32_t qualifier, int32_t fraction, const uint8_t* text,
                             int32_t length, DateTimeFields* fields);
// Writes the fields with the program into out (no terminator); returns the
// length, or -1 when it exceeds room.
int32_t format_program_write(int32_t qualifier, int32_t fraction, const DateTimeFields& fields,
                             char* out, int32_t room);

// Splits a stored interval into the fields of the qualifier (the leading
// field takes the whole rest) and the reverse, with the checks of interval
// text: the leading field below 10^L (-2/-3), the others in range (-7).
void interval_split(int32_t qualifier, double value, int32_t nanos, DateTimeFields* fields);
int32_t interval_from_fields(ByteSpan area, const value_descriptor& d, int32_t qualifier,
                             const DateTimeFields& fields);

// The qualifier words of the typed-literal form (after the closing quote),
// from the value's precision and scale; returns the length written.
int32_t interval_qualifier_text(int32_t qualifier, int32_t leading, int32_t fraction, char* out);
