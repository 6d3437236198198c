// The scroll position of a statement's fetch: parameter 7 of its section,
// a packed decimal of precision 10.
#pragma once

#include <cstdint>

inline constexpr int32_t FETCH_NO_POSITION = -19057;
inline constexpr int32_t FETCH_POSITION_PARAMETER = 7;
inline constexpr int32_t FETCH_POSITION_BYTES = 7;
inline constexpr int32_t FETCH_CONVERSION_BIAS = 10300;  // a conversion failure r is r - 10300

// Reads the position into *position: 0, -19057 (the section has 6
// parameters or fewer), or a conversion failure.
int32_t DSGetFetchPos2(int32_t* base, int32_t usr, int32_t stm, int32_t* position);
// With a step: the position moved by it (never below 1) and stored back,
// in *position. With step 0: the position's seven bytes taken from the
// request's last two words, *request_words then two less.
int32_t DSGetFetchPos(int32_t* base, int32_t step, int32_t usr, int32_t stm,
                      const int32_t* request, int32_t* request_words, int32_t* position);
