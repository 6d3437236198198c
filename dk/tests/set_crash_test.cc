// Sets whose pages go to disk from a transaction's write set or by a flush of
// the databank while the power is cut at every changing call: whatever a
// crash keeps of the pages not synced, a list page on disk names only data
// pages that reached disk, and the root names only list pages that did.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dk/tests/set_fixture.h"

namespace {

struct Case {
  const char* what;
  int32_t data_size;
  int32_t mode;       // of the appends: a transaction (its write set) or 0
  int32_t code;       // the DKPAG0 code that writes them; 0: reads of other
                      // pages, whose misses swap the changed pages out
  int32_t words;      // record length
  int32_t per_round;  // records appended before each write
};

class SetCrashTest : public SetTableTest {
 protected:
  void Shape() override {
    SetTableTest::Shape();
    params_.counts[3] = 2000;  // a table entry for each run
  }

  struct Run {
    int32_t entry = 0;
    int32_t root_page = 0;
    int32_t root_word = 0;
    int changes = 0;  // changing calls of the last write
  };

  // A new file with a new set: one round of appends written whole, then a
  // second round written with the power cut after `cut` changing calls
  // (never when negative). The databank entry is released without writing.
  Run Appends(const Case& c, const std::string& name, int cut) {
    Run run;
    run.entry = Create(name, 600, 40 + static_cast<int32_t>(open_.size() % 100));
    const int32_t t = MakeSet(c.data_size, 2048, kTbl + next_tbl_++, 0, run.entry);
    run.root_page = area_[t + TBE_ROOT_PAGE];
    run.root_word = area_[t + TBE_ROOT_WORD];
    int32_t seed = 1;
    for (int round = 0; round < 2; ++round) {
      for (int32_t i = 0; i < c.per_round; ++i)
        EXPECT_EQ(Append(t, Record(c.words, seed++), c.mode, c.data_size).rc, 0);
      if (round == 1 && cut >= 0) fault_.CutPowerAfter(cut);
      const int before = fault_.changes();
      int32_t rc = 0;
      if (c.code != 0) {
        int32_t pag[PAGREQ_WORDS] = {run.entry, 0, 0, 0, -1, 0, c.mode, 0};
        rc = DKPAG0(pag, c.code);
      } else {
        for (int32_t page = 200; page < 580; ++page) {
          const int32_t b = Get(run.entry, page, 2048, GET_SHARED);
          if (b > 0) DKPUT0(PUT_END_SHARED, b);
        }
      }
      if (cut < 0) {
        EXPECT_EQ(rc, 0);
      }
      run.changes = fault_.changes() - before;
    }
    ReleaseDatabank(run.entry, false);
    return run;
  }

  // The set as the file holds it: every list page the root record and the
  // list chain name is a list page of the set, and every entry in use names a
  // data page whose list page word names that list page.
  ::testing::AssertionResult OnDiskListsNameOnlyPagesOnDisk(const std::string& name, const Run& r,
                                                            int32_t data_size) {
    int32_t list = FileWord(name, r.root_page, r.root_word + 1 + SETROOT_FIRST_LIST);
    for (int steps = 0; list != 0; ++steps) {
      if (steps > 100) return ::testing::AssertionFailure() << "list chain without end";
      if (FileWord(name, list, SETLIST_MARK) != kSetListMark ||
          FileWord(name, list, SETLIST_DATA_SIZE) != data_size)
        return ::testing::AssertionFailure() << "list page " << list << " is not on disk";
      const int32_t last = FileWord(name, list, SETLIST_LAST);
      if (last < SETLIST_FIRST - 1 || last >= 512)
        return ::testing::AssertionFailure() << "list page " << list << " word 5 " << last;
      for (int32_t slot = SETLIST_FIRST; slot <= last; ++slot) {
        const int32_t data = FileWord(name, list, slot);
        if (data <= 0 || FileWord(name, data, SETDATA_MARK) != kSetDataMark ||
            FileWord(name, data, SETDATA_LIST) != list)
          return ::testing::AssertionFailure()
                 << "list page " << list << " slot " << slot << " names page " << data
                 << ", which is not on disk";
        const int32_t used = FileWord(name, data, SETDATA_END);
        if (used < SETDATA_FIRST || used >= data_size / 4)
          return ::testing::AssertionFailure() << "data page " << data << " used end " << used;
      }
      list = FileWord(name, list, SETLIST_NEXT);
    }
    return ::testing::AssertionSuccess();
  }

  int32_t next_tbl_ = 0;
};

TEST_F(SetCrashTest, AListPageOnDiskNeverNamesADataPageThatDidNotReachDisk) {
  const Case cases[] = {
      {"write set, 2K data pages", 2048, 7, PAG_WRITE_SET, 150, 10},
      {"write set, 16K data pages", 16384, 7, PAG_WRITE_SET, 1500, 5},
      {"flush, 2K data pages", 2048, 0, PAG_FLUSH, 150, 10},
      {"flush, 16K data pages", 16384, 0, PAG_FLUSH, 1500, 5},
      {"swap-outs, 2K data pages", 2048, 0, 0, 150, 10},
  };
  // Keep no unsynced page, every one, or every other one.
  const FaultFileSystem::CrashPlan plans[] = {
      {},
      {[this](const std::string&, int64_t) { return fault_.page_bytes(); }, nullptr},
      {[this](const std::string&, int64_t page) { return page % 2 == 0 ? fault_.page_bytes() : 0; },
       nullptr},
      {[this](const std::string&, int64_t page) { return page % 2 == 1 ? fault_.page_bytes() : 0; },
       nullptr},
  };
  int n = 0;
  for (const Case& c : cases) {
    const int calls = Appends(c, "whole" + std::to_string(n++), -1).changes;
    ASSERT_GT(calls, 1) << c.what;
    for (int cut = 0; cut <= calls; ++cut) {
      for (size_t plan = 0; plan < std::size(plans); ++plan) {
        SCOPED_TRACE(testing::Message() << c.what << ", cut " << cut << ", plan " << plan);
        const std::string name = "cut" + std::to_string(n++);
        const Run r = Appends(c, name, cut);
        fault_.Crash(plans[plan]);
        ASSERT_TRUE(OnDiskListsNameOnlyPagesOnDisk(name, r, c.data_size));
      }
    }
  }
}

}  // namespace
