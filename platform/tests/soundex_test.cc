// SOUNDEX keys: known Daitch-Mokotoff codes and the rules that decide between
// letter groups, situations and repeated codes.
#include "platform/soundex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace std::string_literals;

namespace {

std::string soundex(const std::string& text) {
  uint8_t out[10];
  std::memset(out, 0xEE, sizeof out);
  ConstByteSpan in(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  mdr_soundex(out, 1, in, 0, static_cast<int32_t>(text.size()));
  EXPECT_EQ(out[0], 0xEE);
  EXPECT_EQ(out[7], 0);
  EXPECT_EQ(out[8], 0xEE);
  return std::string(reinterpret_cast<char*>(out + 1));
}

TEST(Soundex, KnownKeys) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "000000"},           {"MOSKOWITZ", "645740"},  {"moskowitz", "645740"},
      {"PETERS", "739400"},     {"AUERBACH", "097500"},   {"KOHN", "560000"},
      {"SCHWARZ", "479400"},    {"S-C h.warz", "479400"},  // ignored bytes do not break a group
      {"KOHN\0XYZ"s, "560000"},                            // NUL ends the text
      {"TD", "300000"},                                    // same code twice in a row: one digit
      {"TAD", "330000"},                                   // a vowel between them: both
      {"CELL", "480000"},                                  // C before E codes as S
      {"MCE", "650000"},                                   // ... but not after a lone 6
      {"BCE", "740000"},        {"STOLZ", "284000"},       // ST at the start
      {"EUFRAT", "179300"},     {"AI", "000000"},         {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "075375"},
      {"1234 !?", "000000"},
  };
  for (const auto& [text, key] : cases) EXPECT_EQ(soundex(text), key) << text;
}

// Groups that are begun but not completed: the named fall-backs (ST, SHT
// before C, R or S; D, T before R or T; SH, SZ, TS, ZS before C; the ST of
// STSC; the first T of TTC) and the prefixes no fall-back names (SCHTS,
// SCHTC, SCHTSC, ZHDZ, TTSC), which fall back to their longest complete group.
TEST(Soundex, UnfinishedGroupsFallBack) {
  const std::pair<std::string, std::string> cases[] = {
      {"STCA", "250000"},  // ST, then C before a vowel
      {"STRA", "290000"},    {"STSA", "240000"}, {"SHTRA", "290000"}, {"DRA", "390000"},
      {"TRA", "390000"},     {"TTA", "300000"},  {"SHCA", "450000"},  {"SZCA", "450000"},
      {"TSCA", "450000"},    {"ZSCA", "450000"}, {"SHCE", "400000"},  // SH, then C before E codes
                                                                      // 4: written once
      {"STSCA", "240000"},                                            // ST, then SC
      {"TTCA", "340000"},                                             // T, then TC
      {"SCHTSA", "240000"},                                           // SCHT, then S
      {"SCHTCA", "250000"},                                           // SCHT, then C
      {"SCHTSCA", "240000"},                                          // SCHT, then SC
      {"ZHDZA", "240000"},                                            // ZHD, then Z
      {"TTSCA", "450000"},                                            // TTS, then C
      {"SCHTSCH", "200000"}, {"STRZ", "200000"}, {"TTCH", "400000"},
  };
  for (const auto& [text, key] : cases) EXPECT_EQ(soundex(text), key) << text;
}

// The situation of a group is decided by the byte right behind it.
TEST(Soundex, SituationLooksAtTheNextByte) {
  EXPECT_EQ(soundex("BAHA"), "750000");   // H before a vowel codes 5
  EXPECT_EQ(soundex("BAH-A"), "700000");  // ... but not before a hyphen
  EXPECT_EQ(soundex("BAHB"), "770000");   // nor before a consonant
}

TEST(Soundex, NegativeLengthIsEmpty) {
  const uint8_t kohn[] = {'K', 'O', 'H', 'N'};
  uint8_t out[7];
  mdr_soundex(out, 0, kohn, 0, -4);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "000000");
  mdr_soundex(out, 0, kohn, 2, 100);  // cut to the text's area: "HN"
  EXPECT_STREQ(reinterpret_cast<char*>(out), "560000");
  uint8_t small[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  mdr_soundex(small, 2, kohn, 0, 4);  // the key would not fit: nothing written
  for (uint8_t b : small) EXPECT_EQ(b, 1);
}

}  // namespace
