// DATE, TIME and TIMESTAMP values, stored as positive packed decimals of their
// digit strings (YYYYMMDD, HHMMSS.f, YYYYMMDDHHMMSS.f) so that they sort as
// bytes: encoding and decoding, calendar arithmetic with intervals,
// differences, ISO weeks, EXTRACT, casts, text, and the time stamp text
// advance used by backup and statement code.
#pragma once

#include <cstdint>

#include "platform/interval.h"
#include "platform/packed_decimal.h"

// --- Calendar ---------------------------------------------------------------
// Proleptic Gregorian; day 0 is 0001-01-01, a Monday.

bool is_leap_year(int64_t year);
int32_t days_in_month(int64_t year, int32_t month);
int64_t day_number(int64_t year, int32_t month, int32_t day);
void date_of_day_number(int64_t days, int64_t* year, int32_t* month, int32_t* day);

// --- Encoding -----------------------------------------------------------------
// Decoders check sign, exponent and precision (-5 otherwise; 1 for null), not
// field ranges. Encoders write (precision + 4) / 2 bytes and do not check
// field ranges; TIME and TIMESTAMP give 2 when nonzero fraction digits did not
// fit the fractional precision (precision - 6, precision - 14).

int32_t date_decode(int32_t* year, int32_t* month, int32_t* day, ConstByteSpan area,
                    const value_descriptor& d);
int32_t time_decode(int32_t* hour, int32_t* minute, int32_t* second, int32_t* nanos,
                    ConstByteSpan area, const value_descriptor& d);
int32_t timestamp_decode(int32_t* year, int32_t* month, int32_t* day, int32_t* hour,
                         int32_t* minute, int32_t* second, int32_t* nanos, ConstByteSpan area,
                         const value_descriptor& d);
int32_t date_encode(ByteSpan area, const value_descriptor& d, int32_t year, int32_t month,
                    int32_t day);
int32_t time_encode(ByteSpan area, const value_descriptor& d, int32_t hour, int32_t minute,
                    int32_t second, int32_t nanos);
int32_t timestamp_encode(ByteSpan area, const value_descriptor& d, int32_t year, int32_t month,
                         int32_t day, int32_t hour, int32_t minute, int32_t second, int32_t nanos);

// All fields of a DATE, TIME or TIMESTAMP (the absent ones 0); 1 null, -5 bad.
int32_t datetime_decode_fields(DateTimeFields* f, ConstByteSpan area, const value_descriptor& d);
int32_t datetime_encode_fields(ByteSpan area, const value_descriptor& d, const DateTimeFields& f);

// YYYYMMDDHHMMSS and up to 9 fraction digits (length at least 14) into the
// fields the type needs. -5 for a short text or bad type, -9 for a non-digit.
int32_t datetime_from_digits(ByteSpan area, const value_descriptor& d, ConstByteSpan digits,
                             int32_t offset, int32_t length);

// Carries nanoseconds into seconds, seconds into minutes, minutes into hours
// (negative values borrow) and hours into days; returns the day carry.
int32_t time_normalize(int32_t* hour, int32_t* minute, int32_t* second, int32_t* nanos);

// --- Arithmetic ---------------------------------------------------------------

constexpr int32_t kIntervalAdd = 1;
constexpr int32_t kIntervalSubtract = 2;

// Adds (1) or subtracts (2) the interval; the datetime is replaced in place.
// -3 / -2 when the year leaves 1..9999, -7 for a day that does not exist.
int32_t datetime_add_interval(ByteSpan area, const value_descriptor& datetime,
                              ConstByteSpan interval_area, const value_descriptor& interval,
                              int32_t operation);
// first - second as an interval of the output descriptor's kind.
int32_t datetime_difference(ByteSpan out_area, const value_descriptor& out,
                            ConstByteSpan first_area, const value_descriptor& first,
                            ConstByteSpan second_area, const value_descriptor& second);
// ISO 8601 week of a DATE or TIMESTAMP; mode must be 0.
int32_t datetime_week(int32_t* week, ConstByteSpan area, const value_descriptor& d, int32_t mode);

// EXTRACT field codes.
enum : int32_t {
  kExtractYear = 1,
  kExtractMonth = 2,
  kExtractDay = 3,
  kExtractHour = 4,
  kExtractMinute = 5,
  kExtractSecond = 6,
  kExtractFraction = 7,
};
int32_t datetime_extract(ByteSpan out_area, const value_descriptor& out, ConstByteSpan area,
                         const value_descriptor& source, int32_t field, int32_t source_qualifier);

// Merge field bits.
enum : int32_t {
  kMergeYear = 64,
  kMergeMonth = 32,
  kMergeDay = 16,
  kMergeHour = 8,
  kMergeMinute = 4,
  kMergeSecond = 2,
  kMergeFraction = 1,
  kMergeDate = 64 + 32 + 16,
  kMergeTime = 8 + 4 + 2 + 1,
};
int32_t datetime_merge(ByteSpan target_area, const value_descriptor& target, int32_t keep,
                       int32_t take, ConstByteSpan source_area, const value_descriptor& source);

// Changes the precision of a TIME or TIMESTAMP, or the qualifier and precision
// of an interval, in place; *d receives the new precision and scale.
int32_t datetime_cast(ByteSpan area, value_descriptor* d, int32_t precision, int32_t fraction,
                      int32_t qualifier);

// --- Text ---------------------------------------------------------------------

// Writes the value blank-padded into the field; qualifier + 32 asks for the
// typed-literal form. -1 when the field is too short, 2 when fraction digits
// were left out, 1 for null (nothing written), -8 for a qualifier of another
// type.
int32_t datetime_to_text(ByteSpan out_area, int32_t out_offset, int32_t out_length,
                         ConstByteSpan area, const value_descriptor& d, int32_t qualifier);

// Writes the current date and time as 16 digits YYYYMMDDhhmmssff.
using CurrentTimeRoutine = void (*)(char out[16]);

// Parses plain text with the target's qualifier, or a typed literal (DATE'..',
// TIME'..', TIMESTAMP'..', INTERVAL'..' qualifier) converted to the target.
int32_t datetime_from_text(ByteSpan area, const value_descriptor& target, ConstByteSpan text,
                           int32_t offset, int32_t length, int32_t qualifier,
                           CurrentTimeRoutine now);

// Advances the 16-character time stamp text YYYYMMDDhhmmssff by n hundredths
// (n = 0: the current local time). A field that is not a number gives 16
// blanks.
void DSTimestampAdd(char out[16], int32_t n, const char in[16]);
