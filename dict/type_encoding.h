// The reverse of DDTypeCode: how the inserting statements (a domain, a
// routine parameter, a changed column) store a dictionary type code as its
// type and qualifier words and the numeric parameters of their statement.
// Parameters are numbered as the domain insert numbers them; the parameter
// and column statements use the same groups at their own positions.
#pragma once

#include <cstdint>
#include <optional>

struct DDTypeInput {
  int32_t code = 0;
  int32_t length_high = 0;  // the two-word length of the large objects
  int32_t length = 0;
  int32_t precision = 0;
  int32_t scale = 0;
  int32_t leading = 0;  // datetime or interval precision
  int32_t interval_length = 0;
  int32_t character_set = 0;   // the caller's value for P2; 0 = the default
  int32_t default_length = 0;  // characters of the default text; below 1 none
};

inline constexpr int32_t DD_DEFAULT_MAX = 400;

struct DDTypeParams {
  int32_t type_entry = 0;       // into the type-word table
  int32_t qualifier_entry = 0;  // 0: the qualifier parameter is NULL
  // p[n] is parameter Pn; an empty one is NULL. P15 holds the length of the
  // default text as stored (0: an empty text).
  std::optional<int64_t> p[18];
};

// 0, or DD_KIND_OUTSIDE (-19089) for a code outside 1 to 35 with nothing
// filled in.
int32_t DDEncodeType(const DDTypeInput& in, DDTypeParams* out);
