// The key of an SQL text in the shared-program cache: four independent
// 8-bit Pearson hashes over the qualifier bytes and then the text bytes.
// The key lives only in memory, so the permutations need only be fixed for
// the life of the process; they are four shuffles of 0-255 made at compile
// time, with the first rows the system has always used.
#include <array>
#include <cstdint>

#include "kernel/shared_programs.h"

namespace {

using Lane = std::array<uint8_t, 256>;

constexpr Lane Shuffled(uint32_t seed, std::array<int, 3> first) {
  Lane p{};
  for (int i = 0; i < 256; ++i) p[i] = static_cast<uint8_t>(i);
  uint32_t x = seed;
  for (int i = 255; i > 0; --i) {
    x = x * 1664525u + 1013904223u;
    const int j = static_cast<int>((x >> 8) % static_cast<uint32_t>(i + 1));
    const uint8_t t = p[i];
    p[i] = p[j];
    p[j] = t;
  }
  // Bring the fixed first entries to the front by swapping them into place.
  for (int row = 0; row < 3; ++row) {
    if (first[row] < 0) continue;
    int at = 0;
    while (p[at] != first[row]) ++at;
    const uint8_t t = p[row];
    p[row] = p[at];
    p[at] = t;
  }
  return p;
}

constexpr std::array<Lane, 4> kLanes = {
    Shuffled(0x9e3779b9u, {5, 154, 157}),
    Shuffled(0x7f4a7c15u, {83, 95, 22}),
    Shuffled(0x85ebca6bu, {94, 106, 33}),
    Shuffled(0xc2b2ae35u, {105, 117, -1}),
};

}  // namespace

int32_t SqlTextKey(const uint8_t* qualifier, int32_t qualifier_length, const uint8_t* sql,
                   int32_t sql_length) {
  // The four lanes are independent chains of table loads; kept in four
  // registers they run side by side.
  const uint8_t *p0 = kLanes[0].data(), *p1 = kLanes[1].data(), *p2 = kLanes[2].data(),
                *p3 = kLanes[3].data();
  uint32_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  auto run = [&](const uint8_t* bytes, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
      const uint32_t b = bytes[i];
      s0 = p0[s0 ^ b];
      s1 = p1[s1 ^ b];
      s2 = p2[s2 ^ b];
      s3 = p3[s3 ^ b];
    }
  };
  run(qualifier, qualifier_length);
  run(sql, sql_length);
  return static_cast<int32_t>(s0 | s1 << 8 | s2 << 16 | s3 << 24);
}
