// The dump header and the word storage dump: token forms, a decoder that
// restores every segment and compares it with the storage, the listing and
// its checks, the file's permissions and a damaged storage.
#include "kernel/storage_dump.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "kernel/tests/core_fixture.h"

namespace {

uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

// Restores the bytes of one segment's compressed data from `at`; moves `at`
// past the end word. False on a malformed token.
bool Decode(const std::vector<uint8_t>& f, size_t* at, std::vector<uint8_t>* out) {
  for (;;) {
    if (*at + 4 > f.size()) return false;
    const uint32_t n = Le32(&f[*at]);
    *at += 4;
    if (n == 0) return true;
    if (n > 16996 || *at + n > f.size()) return false;
    const size_t end = *at + n;
    while (*at < end) {
      const uint8_t b = f[(*at)++];
      if (b < 0x40) {
        out->insert(out->end(), &f[*at], &f[*at] + b + 1);
        *at += b + 1;
        continue;
      }
      const uint32_t c = f[(*at)++];
      const uint32_t v = (b & 0x3F) * 256 + c;
      if (b < 0x80) {
        out->insert(out->end(), &f[*at], &f[*at] + v + 65);
        *at += v + 65;
      } else if (b < 0xC0) {
        if (out->empty()) return false;
        out->insert(out->end(), v + 3, out->back());
      } else {
        const uint32_t len = ((b >> 2) & 0x0F) + 3, dist = (b & 3) * 256 + c + 1;
        if (dist > out->size()) return false;
        for (uint32_t i = 0; i < len; ++i) out->push_back((*out)[out->size() - dist]);
      }
    }
    if (*at != end) return false;
  }
}

std::vector<uint8_t> RoundTrip(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> packed, back;
  DumpCompress(data.data(), int64_t(data.size()), &packed);
  size_t at = 0;
  EXPECT_TRUE(Decode(packed, &at, &back));
  EXPECT_EQ(at, packed.size());
  return back;
}

TEST(DumpCompress, HundredEqualBytesAreALiteralAndARun) {
  std::vector<uint8_t> data(100, 0x5A), packed;
  DumpCompress(data.data(), 100, &packed);
  EXPECT_EQ(packed, (std::vector<uint8_t>{4, 0, 0, 0, 0x00, 0x5A, 0x80, 0x60, 0, 0, 0, 0}));
  std::vector<uint8_t> none;
  DumpCompress(nullptr, 0, &none);
  EXPECT_EQ(none, (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(DumpCompress, RandomDataRoundTrips) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<uint8_t> data;
    const int pieces = 1 + rng() % 200;
    for (int i = 0; i < pieces; ++i) {
      switch (rng() % 3) {
        case 0:
          data.insert(data.end(), 1 + rng() % 20000, uint8_t(rng()));
          break;
        case 1:
          for (int k = 1 + rng() % 300; k > 0; --k) data.push_back(uint8_t(rng()));
          break;
        default:
          if (!data.empty()) {
            const size_t from = data.size() - 1 - rng() % std::min<size_t>(data.size(), 1200);
            for (int k = 1 + rng() % 40; k > 0; --k) data.push_back(data[from + k % 7]);
          }
      }
    }
    EXPECT_EQ(RoundTrip(data), data) << round;
  }
}

TEST(DumpHeader, FieldsAndTooShortArea) {
  uint8_t area[200];
  std::memset(area, 0xEE, sizeof area);
  int32_t status = 9, length = 151;
  DumpFileHeader(&status, area, &length, "BUFFERPOOLDUMP", 14);
  EXPECT_EQ(status, -1);
  length = 200;
  DumpFileHeader(&status, area, &length, "BUFFERPOOLDUMP", 14);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(length, 152);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(area), 14), "BUFFERPOOLDUMP");
  for (int i = 14; i < 20; ++i) EXPECT_EQ(area[i], 0) << i;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(area + 20), 4), "L006");
  for (int i = 24; i < 36; ++i) EXPECT_EQ(area[i], 0) << i;
  EXPECT_EQ(std::string(reinterpret_cast<char*>(area + 116)), "Windows");
  for (int i = 132; i < 148; ++i) EXPECT_TRUE(isdigit(area[i])) << i;
  EXPECT_EQ(area[152], 0xEE);
}

class SqlPoolDumpTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    path_ = std::filesystem::temp_directory_path() /
            ("sqlpool_" + std::to_string(::getpid()) + ".mdmp");
  }
  void TearDown() override {
    std::filesystem::remove(path_);
    CoreTest::TearDown();
  }
  std::vector<uint8_t> Dump() {
    StatusPair st;
    EXPECT_EQ(DumpSqlPool(&st, base_, path_.c_str()), 0);
    std::ifstream in(path_, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  std::filesystem::path path_;
};

TEST_F(SqlPoolDumpTest, DecoderRestoresEverySegment) {
  for (int i = 0; i < 50; ++i) W(Alloc(40 + 37 * i), 0) = 1000 + i;
  const std::vector<uint8_t> f = Dump();
  ASSERT_GT(f.size(), 160u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(f.data()), 11), "SQLPOOLDUMP");
  EXPECT_EQ(int32_t(Le32(&f[152])), sys_);
  size_t at = 156;
  std::vector<int32_t> indexes;
  for (;;) {
    ASSERT_LE(at + 4, f.size());
    const int32_t n = int32_t(Le32(&f[at]));
    at += 4;
    if (n == 0) break;
    const int32_t index = int32_t(Le32(&f[at]));
    at += 4;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(Decode(f, &at, &bytes)) << index;
    ASSERT_EQ(bytes.size(), 4u * n);
    for (int32_t k = 0; k < n; ++k)
      ASSERT_EQ(int32_t(Le32(&bytes[4 * k])), base_[index - 1 + k]) << index << "+" << k;
    indexes.push_back(index);
  }
  ASSERT_GE(indexes.size(), 4u);
  EXPECT_EQ(indexes[0], 1);
  EXPECT_EQ(indexes[1], base_[sqlpool::POMC + sqlpool::FIRST_EXT]);
  const std::string listing(f.begin() + at, f.end());
  EXPECT_EQ(listing.substr(0, 24), "\r\nWORDS      " +
                                       std::string(11 - std::to_string(base_[0]).size(), ' ') +
                                       std::to_string(base_[0]));
  EXPECT_NE(listing.find("\r\nPOMC                13"), std::string::npos);
  EXPECT_NE(listing.find("\r\nINDEX               61"), std::string::npos);
  EXPECT_EQ(listing.find("faulty"), std::string::npos);
}

TEST_F(SqlPoolDumpTest, FileIsTheOwnersOnly) {
  Dump();
  struct stat s;
  ASSERT_EQ(::stat(path_.c_str(), &s), 0);
  EXPECT_EQ(s.st_mode & 0777, 0600u);
}

TEST_F(SqlPoolDumpTest, FaultyLayoutWordsAreNotedAndDamageIsNotFollowed) {
  base_[sqlpool::NO_POMC] = 4;
  // Class 2's first extent claims to reach far beyond the storage, and
  // class 3's lies outside it.
  const int32_t c2 = sqlpool::POMC + sqlpool::POMC_WORDS, c3 = c2 + sqlpool::POMC_WORDS;
  const int32_t e2 = base_[c2 + sqlpool::FIRST_EXT];
  const int32_t saved = base_[e2];
  base_[e2] = 1 << 30;
  const int32_t saved3 = base_[c3 + sqlpool::FIRST_EXT];
  base_[c3 + sqlpool::FIRST_EXT] = base_[sqlpool::WORDS] + 100;
  const std::vector<uint8_t> f = Dump();
  const std::string text(f.begin(), f.end());
  EXPECT_NE(text.find("\r\nNO_POMC              4 NO_POMC have a faulty value. \r\nValue should be "
                      "          3"),
            std::string::npos);
  base_[e2] = saved;
  base_[c3 + sqlpool::FIRST_EXT] = saved3;
  base_[sqlpool::NO_POMC] = 3;
}

TEST_F(SqlPoolDumpTest, OpenFailureGivesItsStatus) {
  StatusPair st;
  EXPECT_EQ(DumpSqlPool(&st, base_, "/nonexistent-dir/x.mdmp"), -1);
  EXPECT_EQ(st.rc, -21200);
  EXPECT_EQ(uint32_t(st.os_status), 0x500c0000u | ENOENT);
}

}  // namespace
