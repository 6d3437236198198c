// Reading a dictionary statement's result columns as its callers take them:
// integers with their NULLs, texts without their indicator, names blank
// padded to 128 bytes with their length, stored type words turned into
// dictionary type codes, default texts cut at the caller's room.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int32_t DD_NAME_LENGTH = 128;

// Result columns of statement `stm`; the first failure is kept and every
// later read gives its fallback.
class DDColumnReader {
 public:
  DDColumnReader(int32_t* base, int32_t stm) : base_(base), stm_(stm) {}
  bool Null(int32_t n);
  // A NULL integer gives `absent`.
  int32_t Int(int32_t n, int32_t absent);
  // A two-word integer: the high word into *high, the low word returned
  // (0 and 0 for NULL).
  int32_t Int64(int32_t n, int32_t* high);
  // The value bytes behind the indicator; empty for NULL.
  std::string_view Text(int32_t n);
  int32_t status() const { return status_; }

 private:
  const uint8_t* Field(int32_t n, int32_t* length);
  int32_t* base_;
  int32_t stm_;
  int32_t status_ = 0;
};

std::string_view DDTrimmed(std::string_view s);
// The stored word without its trailing blanks is `word`.
bool DDIs(std::string_view stored, std::string_view word);
// The length of a blank-padded 128-byte name without trailing blanks.
int32_t DDNameLength(const char* name);
// `value` blank padded into the 128 bytes of `out`; its length in *length
// (unless nullptr).
void DDCopyName(std::string_view value, char* out, int32_t* length);

// The result columns holding a stored type: type and qualifier words,
// character length (two words), precision, scale, datetime and interval
// precision.
struct DDTypeColumns {
  int32_t type, qualifier, length, precision, scale, datetime, interval;
};
// The dictionary type code, length and scale of the stored type (36 for
// words that name no type).
void DDStoredType(DDColumnReader& c, const DDTypeColumns& at, int32_t* type, int32_t* length,
                  int32_t* scale);

// A default text (three-byte characters) of column n into `text`, at most
// `capacity` characters: its length in characters, -1 when it is NULL.
int32_t DDDefaultText(DDColumnReader& c, int32_t n, uint8_t* text, int32_t capacity);
