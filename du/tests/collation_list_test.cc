// The list of installed collations: install, check, removal, shadowing of an
// id by a newer install, the caller's cache word, the failures, and the
// services as the databank kernel reaches them.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "dk/record_access_services.h"
#include "du/databank_services.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"
#include "storage_fixture.h"

namespace {

using CollationList = StorageTest;

// The translation a lookup through the cache word finds for byte 'a'.
uint8_t TranslationOfA(int32_t* base, int32_t id, int32_t* cache, int32_t* status) {
  int32_t block = 0;
  *status = FindCollationBlock(base, id, cache, &block);
  return block == 0 ? 0 : CollationTableOf(base, block)['a'];
}

Table MapA(uint8_t to) {
  Table t = IdentityTable();
  t['a'] = to;
  return t;
}

TEST_F(CollationList, InstallCheckAndRemove) {
  EXPECT_EQ(Call(XL_CHECK, 7), XL_NO_COLLATION);
  EXPECT_EQ(Install(7, CaseFoldTable()), 0);
  EXPECT_EQ(Call(XL_CHECK, 7), 0);
  EXPECT_EQ(Call(3, 7), 0);  // any function but 1 and 2 only checks
  EXPECT_EQ(Call(XL_CHECK, 8), XL_NO_COLLATION);
  // The block holds its id and the table's bytes as given.
  EXPECT_EQ(sqlpool_word(base_, Head() + COLL_ID), 7);
  EXPECT_EQ(CollationTableOf(base_, Head())['q'], 'Q');
  EXPECT_EQ(Call(XL_REMOVE, 7), 0);
  EXPECT_EQ(Head(), 0);
  EXPECT_EQ(Call(XL_REMOVE, 7), XL_NO_COLLATION);
  EXPECT_EQ(Call(XL_CHECK, 7), XL_NO_COLLATION);
}

TEST_F(CollationList, SecondInstallShadowsTheFirstUntilRemoved) {
  ASSERT_EQ(Install(7, MapA('1')), 0);
  ASSERT_EQ(Install(7, MapA('2')), 0);
  int32_t status = 0;
  EXPECT_EQ(TranslationOfA(base_, 7, nullptr, &status), '2');
  ASSERT_EQ(Call(XL_REMOVE, 7), 0);
  EXPECT_EQ(TranslationOfA(base_, 7, nullptr, &status), '1');
  ASSERT_EQ(Call(XL_REMOVE, 7), 0);
  TranslationOfA(base_, 7, nullptr, &status);
  EXPECT_EQ(status, XL_NO_COLLATION);
}

// Removal takes the block with the id out of the list wherever it stands;
// the blocks before and after it stay installed.
TEST_F(CollationList, RemovalKeepsTheOtherCollations) {
  for (int32_t id : {1, 2, 3}) ASSERT_EQ(Install(id, MapA(static_cast<uint8_t>('0' + id))), 0);
  ASSERT_EQ(Call(XL_REMOVE, 2), 0);
  int32_t status = 0;
  EXPECT_EQ(TranslationOfA(base_, 1, nullptr, &status), '1');
  EXPECT_EQ(TranslationOfA(base_, 3, nullptr, &status), '3');
  EXPECT_EQ(Call(XL_CHECK, 2), XL_NO_COLLATION);
  ASSERT_EQ(Call(XL_REMOVE, 1), 0);  // the oldest, at the end of the list
  EXPECT_EQ(Call(XL_CHECK, 3), 0);
  EXPECT_EQ(sqlpool_word(base_, Head() + COLL_NEXT), 0);
}

TEST_F(CollationList, CacheWordKeepsItsBlockWhileItIsInstalled) {
  ASSERT_EQ(Install(7, MapA('1')), 0);
  int32_t cache = 0, status = 0;
  EXPECT_EQ(TranslationOfA(base_, 7, &cache, &status), '1');
  const int32_t first = cache;
  EXPECT_NE(first, 0);
  // A newer install does not move a caller that already found its block.
  ASSERT_EQ(Install(7, MapA('2')), 0);
  EXPECT_EQ(TranslationOfA(base_, 7, &cache, &status), '1');
  EXPECT_EQ(cache, first);
  int32_t fresh = 0;
  EXPECT_EQ(TranslationOfA(base_, 7, &fresh, &status), '2');
  // Once its block is gone, the cache word is not trusted: the lookup goes
  // to what is installed now.
  ASSERT_EQ(Call(XL_REMOVE, 7), 0);     // the newer
  ASSERT_EQ(Call(XL_REMOVE, 7), 0);     // the cached one
  ASSERT_EQ(Install(9, MapA('9')), 0);  // may reuse the freed words
  TranslationOfA(base_, 7, &cache, &status);
  EXPECT_EQ(status, XL_NO_COLLATION);
  // A cache word naming a block of another id is not taken either.
  int32_t other = Head();
  EXPECT_EQ(TranslationOfA(base_, 9, &other, &status), '9');
  TranslationOfA(base_, 7, &other, &status);
  EXPECT_EQ(status, XL_NO_COLLATION);
  // Nor one that names no block at all.
  int32_t wild = 2147483000;
  EXPECT_EQ(TranslationOfA(base_, 9, &wild, &status), '9');
  EXPECT_EQ(wild, Head());
}

TEST_F(CollationList, FailuresLeaveTheListAsItWas) {
  ASSERT_EQ(Install(1, IdentityTable()), 0);
  const int32_t head = Head();
  const std::vector<uint8_t> short_table(255, 'x'), long_table(257, 'x');
  int32_t status = 0;
  XLInstallTable(base_, &status, XL_INSTALL, 2, short_table);
  EXPECT_EQ(status, XL_BAD_ARGUMENT);
  XLInstallTable(base_, &status, XL_INSTALL, 2, long_table);
  EXPECT_EQ(status, XL_BAD_ARGUMENT);
  EXPECT_EQ(Head(), head);
  EXPECT_EQ(Call(XL_REMOVE, 2), XL_NO_COLLATION);
  EXPECT_EQ(Head(), head);
}

TEST_F(CollationList, WithoutSystemBlock) {
  int32_t status = 0;
  XLInstallTable(nullptr, &status, XL_CHECK, 1, {});
  EXPECT_EQ(status, XL_NO_SYSTEM_BLOCK);
  for (int32_t sys : {0, 5, 2147483000}) {
    base_[sqlpool::RESERV] = sys;
    EXPECT_EQ(Install(1, IdentityTable()), XL_NO_SYSTEM_BLOCK) << sys;
    int32_t block = 0;
    EXPECT_EQ(FindCollationBlock(base_, 1, nullptr, &block), XL_NO_SYSTEM_BLOCK);
  }
}

// A list whose links were damaged ends the walk instead of leading a reader
// out of the storage or round a circle.
TEST_F(CollationList, DamagedLinksEndTheWalk) {
  ASSERT_EQ(Install(1, IdentityTable()), 0);
  ASSERT_EQ(Install(2, IdentityTable()), 0);
  const int32_t newest = Head();
  sqlpool_word(base_, newest + COLL_NEXT) = newest;  // a circle
  EXPECT_EQ(Call(XL_CHECK, 1), XL_NO_COLLATION);
  sqlpool_word(base_, newest + COLL_NEXT) = -40;
  EXPECT_EQ(Call(XL_CHECK, 1), XL_NO_COLLATION);
  EXPECT_EQ(Call(XL_CHECK, 2), 0);
}

// Other collations come and go while lookups run: a removed block is not
// given back while a walk may still stand on it, so a lookup of a collation
// that stays installed always finds it and its table.
TEST_F(CollationList, LookupsFindTheirCollationWhileOthersComeAndGo) {
  ASSERT_EQ(Install(1000, MapA('A')), 0);
  constexpr int kChangers = 2, kReaders = 2, kRounds = 100000;
  std::vector<int32_t> enq(enqdeq_size(kChangers + kReaders) / 4 + 1);
  ASSERT_EQ(enqdeq_init(enq.data(), kChangers + kReaders, nullptr, base_, 0), 0);
  std::atomic<int> changers_left{kChangers}, failures{0};
  std::vector<std::thread> threads;
  for (int c = 0; c < kChangers; ++c) {
    threads.emplace_back([&, c] {
      enqdeq_attach(enq.data(), c + 1);
      for (int i = 0; i < kRounds; ++i) {
        if (Install(2000 + c, MapA('B')) != 0 || Call(XL_REMOVE, 2000 + c) != 0) ++failures;
      }
      --changers_left;
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      enqdeq_attach(enq.data(), kChangers + r + 1);
      while (changers_left > 0) {
        int32_t status = 0;
        if (TranslationOfA(base_, 1000, nullptr, &status) != 'A' || status != 0) ++failures;
        if (Call(XL_CHECK, 1000) != 0) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Head() != 0 && Call(XL_CHECK, 2000) == XL_NO_COLLATION, true);
}

class SmallStorage : public StorageTest {
 protected:
  SmallStorage() : StorageTest(20000, 20000) {}
};

TEST_F(SmallStorage, ExhaustedStorageAnswers11002) {
  int32_t status = 0, installed = 0;
  while ((status = Install(installed, IdentityTable())) == 0) ++installed;
  EXPECT_EQ(status, SQLPOOL_EXHAUSTED_ERROR);
  EXPECT_GT(installed, 10);
  // Everything installed before is still there.
  EXPECT_EQ(Call(XL_CHECK, 0), 0);
  EXPECT_EQ(Call(XL_CHECK, installed - 1), 0);
}

struct CapturingServices : HostServices {
  std::vector<std::string> lines;
  void write_output(StatusPair* status, int, const char* area, int count) override {
    if (status != nullptr) set_success(status);
    for (int i = 0; i < (count < 0 ? -count : count); ++i) {
      lines.emplace_back(area);
      area += lines.back().size() + 1;
    }
  }
};

class KernelServices : public StorageTest {
 protected:
  KernelServices() : previous_(InstallHostServices(&capture_)) {}
  ~KernelServices() override {
    DUInstallDatabankServices(nullptr);
    InstallHostServices(previous_);
  }
  bool Logged(const std::string& name) {
    for (const auto& line : capture_.lines)
      if (line.find(name) != std::string::npos) return true;
    return false;
  }
  CapturingServices capture_;

 private:
  HostServices* previous_;
};

TEST_F(KernelServices, UninstalledServicesAnswerAnErrorAndNameThemselves) {
  DUInstallDatabankServices(nullptr);
  int32_t status = 0, length = 5, cache = 0;
  DKXLInstallTable(&status, XL_CHECK, 1, {});
  EXPECT_EQ(status, DK_RECORD_ACCESS_ABSENT);
  EXPECT_TRUE(Logged("XLInstallTable"));
  std::vector<uint8_t> target(4), source{0, 'a'};
  DKXLConvertValue(&status, 3, &cache, target, 0, &length, 4, source, 0, 2);
  EXPECT_EQ(status, DK_RECORD_ACCESS_ABSENT);
  EXPECT_EQ(length, 0);
  EXPECT_TRUE(Logged("XLConvertValue"));
  // A table with a missing member counts as not installed for that member.
  DKRecordAccessServices half{};
  DKInstallRecordAccessServices(&half);
  DKXLInstallTable(&status, XL_CHECK, 1, {});
  EXPECT_EQ(status, DK_RECORD_ACCESS_ABSENT);
  DKInstallRecordAccessServices(nullptr);
}

TEST_F(KernelServices, InstalledServicesWorkOnTheStorage) {
  DUInstallDatabankServices(base_);
  int32_t status = 0;
  DKXLInstallTable(&status, XL_CHECK, 30, {});
  EXPECT_EQ(status, XL_NO_COLLATION);
  const Table fold = CaseFoldTable();
  DKXLInstallTable(&status, XL_INSTALL, 30, fold);
  ASSERT_EQ(status, 0);
  DKXLInstallTable(&status, XL_CHECK, 30, {});
  EXPECT_EQ(status, 0);
  std::vector<uint8_t> target(4, 'x'), source{0, 'a', 'b'};
  int32_t cache = 0, length = 0;
  DKXLConvertValue(&status, -30, &cache, target, 0, &length, 4, source, 0, 3);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(target, (std::vector<uint8_t>{0xFF, 0xFF ^ 'A', 0xFF ^ 'B', 0xFF ^ ' '}));
  EXPECT_TRUE(capture_.lines.empty());
}

}  // namespace
