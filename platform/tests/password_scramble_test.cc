// Password scramble: a fixed mapping (stored passwords depend on it), in
// which every one of the 18 bytes of password and ident name counts.
#include "platform/password_scramble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

std::string hex(const uint8_t* b, int n) {
  static const char d[] = "0123456789abcdef";
  std::string s;
  for (int i = 0; i < n; ++i) s += {d[b[i] >> 4], d[b[i] & 15]};
  return s;
}

void padded(uint8_t out[kPasswordBytes], const char* text) {
  std::memset(out, ' ', kPasswordBytes);
  std::memcpy(out, text, std::strlen(text));
}

std::string stored(const char* password, const char* ident) {
  uint8_t p[kPasswordBytes], i[kPasswordBytes], s[kPasswordBytes];
  padded(p, password);
  padded(i, ident);
  mdr_password_scramble_ident(s, p, i);
  return hex(s, kPasswordBytes);
}

TEST(PasswordScramble, FixedValues) {
  // The block value checked with Python's three-argument pow over the same
  // polynomial and prime.
  uint8_t block[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  mdr_password_scramble(block);
  EXPECT_EQ(hex(block, 8), "6daf959c83074fc8");
  // Stored passwords must keep verifying: this value may never change.
  EXPECT_EQ(stored("secret", "ALICE"), "f15b5a4b381474c5255c426e25399b8c193a");
}

TEST(PasswordScrambleIdent, EveryByteOfPasswordAndNameCounts) {
  std::set<std::string> seen;
  uint8_t p[kPasswordBytes], i[kPasswordBytes], s[kPasswordBytes];
  padded(p, "abcdefghijklmnopqr");
  padded(i, "IDENT");
  mdr_password_scramble_ident(s, p, i);
  seen.insert(hex(s, kPasswordBytes));
  for (int k = 0; k < kPasswordBytes; ++k) {
    uint8_t q[kPasswordBytes];
    std::memcpy(q, p, kPasswordBytes);
    q[k] ^= 1;
    mdr_password_scramble_ident(s, q, i);
    seen.insert(hex(s, kPasswordBytes));
    uint8_t j[kPasswordBytes];
    std::memcpy(j, i, kPasswordBytes);
    j[k] ^= 0x40;
    mdr_password_scramble_ident(s, p, j);
    seen.insert(hex(s, kPasswordBytes));
  }
  EXPECT_EQ(seen.size(), 1u + 2u * kPasswordBytes);
  // Swapping password and name, or a password equal to the name, does not
  // collide with another pair.
  EXPECT_NE(stored("ALICE", "BOB"), stored("BOB", "ALICE"));
  EXPECT_NE(stored("ALICE", "ALICE"), stored("BOB", "BOB"));
}

}  // namespace
