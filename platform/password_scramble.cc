// Password scramble. The 8-byte core is a sparse high-degree polynomial over
// the integers modulo the prime 2^64 - 59, a classic one-way function: computing
// it is cheap, finding a preimage needs root-finding of a degree-2^24 polynomial.
// The constants are this system's own and must never change: stored passwords
// depend on them.
#include "platform/password_scramble.h"

namespace {

using u64 = uint64_t;
using u128 = unsigned __int128;

constexpr u64 kPrime = 0xFFFFFFFFFFFFFFC5ull;  // 2^64 - 59
constexpr u64 kHighExponent1 = (1ull << 24) + 17;
constexpr u64 kHighExponent2 = (1ull << 24) + 3;
// Coefficients of x^(2^24+3), x^3, x^2, x and the constant term.
constexpr u64 kCoefficients[5] = {
    0xB5E3C7A1954F2D67ull, 0x6A09E667F3BCC908ull, 0x3C6EF372FE94F82Bull,
    0x9E3779B97F4A7C15ull, 0x510E527FADE682D1ull,
};
// Whitening words of the 18-byte scramble: the chain start, one per input
// block, one per output block.
constexpr u64 kChainStart = 0x1F83D9ABFB41BD6Bull;
constexpr u64 kBlockWhite[3] = {0x5BE0CD19137E2179ull, 0xCBBB9D5DC1059ED8ull,
                                0x629A292A367CD507ull};
constexpr u64 kOutputWhite[3] = {0x9159015A3070DD17ull, 0x152FECD8F70E5939ull,
                                 0x67332667FFC00B31ull};
constexpr uint8_t kTailFill[6] = {0x8E, 0xB4, 0x4A, 0x87, 0x68, 0x58};

u64 mul_mod(u64 a, u64 b) {
  return static_cast<u64>((u128{a} * b) % kPrime);
}
u64 add_mod(u64 a, u64 b) {
  return static_cast<u64>((u128{a} + b) % kPrime);
}

u64 pow_mod(u64 base, u64 exponent) {
  u64 result = 1;
  while (exponent) {
    if (exponent & 1) result = mul_mod(result, base);
    base = mul_mod(base, base);
    exponent >>= 1;
  }
  return result;
}

u64 scramble_word(u64 x) {
  x %= kPrime;
  u64 x2 = mul_mod(x, x);
  u64 x3 = mul_mod(x2, x);
  u64 r = pow_mod(x, kHighExponent1);
  r = add_mod(r, mul_mod(kCoefficients[0], pow_mod(x, kHighExponent2)));
  r = add_mod(r, mul_mod(kCoefficients[1], x3));
  r = add_mod(r, mul_mod(kCoefficients[2], x2));
  r = add_mod(r, mul_mod(kCoefficients[3], x));
  return add_mod(r, kCoefficients[4]);
}

u64 load_block(const uint8_t* b) {
  u64 v = 0;
  for (int i = 0; i < 8; ++i) v = (v << 8) | b[i];
  return v;
}

void store_block(uint8_t* b, u64 v) {
  for (int i = 7; i >= 0; --i) {
    b[i] = static_cast<uint8_t>(v);
    v >>= 8;
  }
}

}  // namespace

void mdr_password_scramble(uint8_t block[8]) {
  store_block(block, scramble_word(load_block(block)));
}

void mdr_password_scramble_ident(uint8_t stored[kPasswordBytes],
                                 const uint8_t password[kPasswordBytes],
                                 const uint8_t ident[kPasswordBytes]) {
  // Three 8-byte blocks: bytes 0..7, 8..15, and 16..17 followed by fill.
  uint8_t combined[24];
  for (int i = 0; i < kPasswordBytes; ++i) combined[i] = password[i] ^ ident[i];
  for (int i = 0; i < 6; ++i) combined[kPasswordBytes + i] = kTailFill[i];
  // The mixing keeps the ident name in every block twice: once in the XOR and
  // once through the name's own chain, so two idents with the same password
  // (or an ident whose password equals its name) never share a stored form.
  u64 chain = kChainStart;
  for (int j = 0; j < 3; ++j)
    chain = scramble_word(load_block(ident + (j < 2 ? 8 * j : 10)) ^ chain);
  for (int j = 0; j < 3; ++j) {
    chain = scramble_word(load_block(combined + 8 * j) ^ chain ^ kBlockWhite[j]);
  }
  // Every output block is drawn from the final chain, which depends on all 18
  // bytes, so no part of the stored form can be attacked on its own.
  uint8_t out[24];
  for (int j = 0; j < 3; ++j) {
    store_block(out + 8 * j, scramble_word(chain ^ load_block(combined + 8 * j) ^ kOutputWhite[j]));
  }
  for (int i = 0; i < kPasswordBytes; ++i) stored[i] = out[i];
}
