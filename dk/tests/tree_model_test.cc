// A table's tree against a std::map: long random runs of inserts, updates
// and deletes through the dispatcher, with the whole tree read and checked
// page by page every few thousand operations, point checks of present and
// absent keys, and the level count rising as the table fills and falling as
// it empties again.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <map>
#include <random>

#include "dk/compression.h"
#include "dk/tests/table_fixture.h"

namespace {

struct Shape {
  const char* name;
  int32_t key, length, data_size, index_size;
  int32_t keys;        // size of the key space: keys collide, so duplicates and misses come up
  int32_t fill;        // records held at the full point
  int32_t levels;      // levels the tree reaches at least
  int32_t method = 0;  // compression method
  int32_t mode = 0;    // write mode: a TSS, -2 or 0; 1: each request picks one
  bool work = false;   // on a work databank
};

void PrintTo(const Shape& s, std::ostream* out) {
  *out << s.name;
}

class TreeModelTest : public TableTest, public ::testing::WithParamInterface<Shape> {
 protected:
  void Shape() override {
    TableTest::Shape();
    // Pools that hold the whole tree: swapping out is the bufferpool's to
    // test, and each swap-out waits for the disk.
    params_.pages[PG_2K] = 700;
    params_.pages[PG_16K] = 300;
  }
};

std::string KeyOf(uint32_t n, int32_t key_length) {
  // Big-endian digits then filler, so byte order is number order and every
  // byte of longer keys takes part.
  std::string k(static_cast<size_t>(key_length), '\0');
  for (int32_t i = 0; i < key_length; ++i)
    k[static_cast<size_t>(i)] =
        static_cast<char>(i < 4 ? (n >> (8 * (3 - i))) & 0xFF : (n * 7 + i) & 0xFF);
  return k;
}

// The bytes after the key: a stretch that differs from version to version,
// of a length that varies too, then a run of one byte, so compressed forms
// come in many lengths.
std::string RecordFor(uint32_t n, int32_t key_length, int32_t length, uint32_t version) {
  std::string r = KeyOf(n, key_length);
  r.resize(static_cast<size_t>(length));
  int32_t rest = length - key_length;
  int32_t varied = rest > 0 ? static_cast<int32_t>(version * 2654435761u % (rest + 1)) : 0;
  for (int32_t i = 0; i < rest; ++i)
    r[static_cast<size_t>(key_length + i)] =
        static_cast<char>(i < varied ? (version * 31 + i * 7) & 0xFF : version & 0xFF);
  return r;
}

int32_t StoredLength(const std::string& r, int32_t method) {
  if (method == 0) return 0;
  std::vector<uint8_t> out(static_cast<size_t>(CompressedSizeBound(r.size())) + 16);
  int32_t n = 0;
  DKCompress(ByteSpan(out), 0, &n,
             ConstByteSpan(reinterpret_cast<const uint8_t*>(r.data()), r.size()), 0,
             static_cast<int32_t>(r.size()), method);
  return n;
}

TEST_P(TreeModelTest, RandomOperationsAgreeWithAMap) {
  const ::Shape s = GetParam();
  if (s.work) area_[db_ + DBE_KIND] = DBK_WORK;
  Table t = CreateTable(40, s.key, s.length, s.data_size, s.index_size, nullptr, s.method);
  std::map<std::string, std::string> model;
  std::mt19937 rng(1234);
  int32_t highest = 0, lowest_after = 1 << 30;
  auto verify = [&] {
    TreeShape tree = ReadTree(t);
    ASSERT_EQ(tree.records.size(), model.size());
    auto it = model.begin();
    for (const std::string& r : tree.records) ASSERT_EQ(r, (it++)->second);
    for (int i = 0; i < 50; ++i) {
      uint32_t n = rng() % s.keys;
      auto m = model.find(KeyOf(n, s.key));
      std::string probe = m != model.end() ? m->second : RecordFor(n, s.key, s.length, 0);
      ASSERT_EQ(Check(t, probe), m != model.end() ? 0 : kStatusCheck) << n;
      if (m != model.end() && s.length > s.key) {
        probe.back() ^= 1;
        ASSERT_EQ(Check(t, probe), kStatusCheck) << n;
      }
    }
  };
  // Grow to the fill point with mostly inserts, then churn, then empty.
  const int phases[3][3] = {{70, 15, 15}, {34, 33, 33}, {10, 10, 80}};
  const int lengths[3] = {s.fill * 2, s.fill * 2, s.fill * 8};
  uint32_t version = 0;
  for (int phase = 0; phase < 3; ++phase) {
    for (int op = 0; op < lengths[phase]; ++op) {
      uint32_t n = rng() % s.keys;
      std::string key = KeyOf(n, s.key);
      std::string record = RecordFor(n, s.key, s.length, ++version);
      int roll = static_cast<int>(rng() % 100);
      const int32_t mode = s.mode != 1 ? s.mode : std::array<int32_t, 3>{0, 9, -2}[rng() % 3];
      bool present = model.count(key) != 0;
      if (roll < phases[phase][0]) {
        ASSERT_EQ(Insert(t, record, mode), present ? kStatusDuplicate : 0) << op;
        if (!present) model[key] = record;
      } else if (roll < phases[phase][0] + phases[phase][1]) {
        // The stored length the caller knows, or now and then one too long,
        // which makes the update walk again when the record does not fit.
        int32_t before = present ? StoredLength(model[key], s.method) : 0;
        if (op % 5 == 0) before = s.length + 128;
        ASSERT_EQ(Update(t, record, mode, before), present ? 0 : kStatusNotFound) << op;
        if (present) model[key] = record;
      } else {
        ASSERT_EQ(Delete(t, record, mode), present ? 0 : kStatusNotFound) << op;
        model.erase(key);
      }
      int32_t levels = Levels(t);
      highest = std::max(highest, levels);
      if (op % 2500 == 2499) {
        ASSERT_NO_FATAL_FAILURE(verify());
      }
    }
    ASSERT_NO_FATAL_FAILURE(verify());
  }
  // Emptying the table takes the levels away one by one: the last record
  // goes from a one-level tree.
  for (auto it = model.begin(); it != model.end(); it = model.erase(it)) {
    lowest_after = std::min(lowest_after, Levels(t));
    ASSERT_EQ(Delete(t, it->second, s.mode), 0);
  }
  EXPECT_EQ(Levels(t), 0);
  EXPECT_GE(highest, s.levels);
  // Reorganisations count where their kind of databank says.
  EXPECT_GT(area_[s.work ? BP_WORK_REORGS : BP_CAREFUL_REORGS], 0);
  EXPECT_EQ(area_[s.work ? BP_CAREFUL_REORGS : BP_WORK_REORGS], 0);
  EXPECT_EQ(lowest_after, 1);
  ASSERT_NO_FATAL_FAILURE(verify());
  // Every page the tree took is free again once what names them is on disk:
  // the chunk holds only its bitmap page and the header.
  Flush();
  // Releases that swap-outs handed to the databank run at its next
  // allocation; run them here.
  int32_t chain = area_[db_ + DBE_RELEASES];
  area_[db_ + DBE_RELEASES] = 0;
  if (chain != 0) RunReleaseChain(db_, chain);
  int32_t used = 0;
  for (int32_t unit = 2; unit < 4000; ++unit) used += InUse(unit);
  EXPECT_EQ(used, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, TreeModelTest,
    ::testing::Values(
        // Small pages and long entries make many levels from few records.
        ::Shape{"Records100On2K", 16, 100, 2048, 2048, 6000, 3000, 3},
        ::Shape{"ShortRecordsOn2K", 4, 12, 2048, 2048, 40000, 12000, 2},
        ::Shape{"KeyIsTheRecord", 24, 24, 2048, 2048, 20000, 8000, 3},
        ::Shape{"LongKeysOn16K", 600, 900, 16384, 16384, 3000, 1500, 3},
        ::Shape{"Records3000On16K", 40, 3000, 16384, 2048, 1500, 600, 3},
        ::Shape{"RunLengthOn2K", 60, 200, 2048, 2048, 6000, 3000, 3, 1},
        ::Shape{"BackReferenceOn2K", 60, 200, 2048, 2048, 6000, 3000, 3, 2},
        ::Shape{"RunLength3000On16K", 40, 3000, 16384, 2048, 3000, 1500, 3, 1},
        ::Shape{"BackReference3000On16K", 40, 3000, 16384, 2048, 3000, 1500, 3, 2},
        // Leaves of a transaction's write set move to new places.
        ::Shape{"Records100InAWriteSet", 16, 100, 2048, 2048, 6000, 3000, 3, 0, 9},
        ::Shape{"BackReferenceInAWriteSet", 60, 200, 2048, 2048, 6000, 3000, 3, 2, 9},
        ::Shape{"Records3000InAWriteSet", 40, 3000, 16384, 2048, 1500, 600, 3, 0, 9},
        // A work databank: no write sets, pages freed at once.
        ::Shape{"Records100OnAWorkDatabank", 16, 100, 2048, 2048, 6000, 3000, 3, 0, 9, true},
        ::Shape{"RunLengthOnAWorkDatabank", 60, 200, 2048, 2048, 6000, 3000, 3, 1, -2, true},
        ::Shape{"Records100WrittenAtOnce", 16, 100, 2048, 2048, 6000, 3000, 3, 0, -2},
        // Each request in a write mode of its own: a transaction's, at once,
        // or neither, on the same pages.
        ::Shape{"Records100InMixedModes", 16, 100, 2048, 2048, 6000, 3000, 3, 0, 1},
        ::Shape{"BackReferenceInMixedModes", 60, 200, 2048, 2048, 6000, 3000, 3, 2, 1}),
    [](const ::testing::TestParamInfo<::Shape>& info) { return std::string(info.param.name); });

}  // namespace
