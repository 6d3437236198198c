// Programs over record access itself (its fetch against the model of the
// databank kernel that record access's own tests use): a scan loop sees
// every row the transaction should see once, in key order, its own inserts,
// updates and deletes merged in; and so do runs that give way after every
// record instruction and are resumed.
#include <map>
#include <string>
#include <vector>

#include "du/record_operations.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "interp/record_services.h"
#include "interp/tests/record_access_program.h"
#include "platform/thread_slots.h"
#include "tools/zasm/zasm.h"

namespace {

constexpr int32_t kTbl = 7, kKey = 4, kLen = 12;

std::vector<std::string> g_seen;

// Record access's DUGetRow, with each row it delivers noted.
void NotedGetRow(int32_t* base, int32_t* rec, int32_t usr, int32_t work) {
  DUGetRow(base, rec, usr, work);
  if (rec[DUREC_STATUS] == 0)
    g_seen.emplace_back(reinterpret_cast<const char*>(rec + DUREC_RECORD), kLen);
}

class ProgramOverRecordAccess : public ProgramOverRecordAccessTest {
 protected:
  ProgramOverRecordAccess() : ProgramOverRecordAccessTest(NotedGetRow) {
    g_seen.clear();
    std::string error;
    EXPECT_TRUE(zasm::Assemble(R"(field T table 7 key 4 reclen 12
code
  BEG
  IGN T
loop: GNR T, done
  JMC loop
done: END 1
)",
                               "scan.zasm", &asm_, &error))
        << error;
    storage_.assign(asm_.words.begin() + asm_.words[interp::kDescStorageOffset], asm_.words.end());
    int32_t* rec = storage_.data() + asm_.fields.at("T") / 4;
    rec[DUREC_TBL] = kTbl;
    rec[DUREC_MERGE] = 2;
  }
  void Run() {
    const int32_t start = asm_.words[interp::kDescProgramStart];
    const int32_t at = asm_.words[interp::kDescStorageOffset];
    char name[128];
    std::memset(name, ' ', sizeof name);
    interp::DAMAE2(base_, rvec_, asm_.words.data() + start, at - start, storage_.data(),
                   static_cast<int32_t>(storage_.size()), &pos_, name, usr_);
  }
  static std::string Key(int n) {
    return std::string{'k', static_cast<char>('a' + n / 26), static_cast<char>('a' + n % 26), '.'};
  }
  // Stored rows 0..39, the transaction's insert of 40, update of 5, delete of 9.
  std::vector<std::string> Fill() {
    std::map<std::string, std::string> visible;
    for (int n = 0; n < 40; ++n) {
      const std::string row = Key(n) + std::string(kLen - kKey, 's');
      kernel_.rows[kTbl][Key(n)] = row;
      visible[Key(n)] = row;
    }
    const std::string inserted = Key(40) + std::string(kLen - kKey, 'i');
    const std::string updated = Key(5) + std::string(kLen - kKey, 'u');
    kernel_.writes[kTbl][Key(40)] = {0, inserted, 0};
    kernel_.writes[kTbl][Key(5)] = {0, updated, 0};
    kernel_.writes[kTbl][Key(9)] = {1, Key(9) + std::string(kLen - kKey, 's'), 0};
    visible[Key(40)] = inserted;
    visible[Key(5)] = updated;
    visible.erase(Key(9));
    std::vector<std::string> rows;
    for (const auto& [k, r] : visible) rows.push_back(r);
    return rows;
  }

  zasm::Assembly asm_;
  std::vector<int32_t> storage_;
  int32_t pos_ = 2;
  int32_t rvec_[12] = {};
};

TEST_F(ProgramOverRecordAccess, ScanSeesWhatTheTransactionSeesOnce) {
  const std::vector<std::string> expected = Fill();
  Run();
  EXPECT_EQ(rvec_[interp::kStateAction], interp::kActionEnd) << rvec_[0];
  EXPECT_EQ(rvec_[interp::kStateReturnCode], 1);
  EXPECT_EQ(g_seen, expected);
}

TEST_F(ProgramOverRecordAccess, ResumedRunsStillSeeEachRowOnce) {
  const std::vector<std::string> expected = Fill();
  W(cha_ + CHA_INTERRUPT_MODE) = 1;
  W(cha_ + CHA_INTERRUPT_REQNO) = 3;
  int32_t requeues = 0;
  for (int runs = 0; runs < 1000; ++runs) {
    Run();
    if (rvec_[0] != interp::kErrRequeue) break;
    ++requeues;
  }
  EXPECT_EQ(rvec_[interp::kStateAction], interp::kActionEnd) << rvec_[0];
  EXPECT_GT(requeues, 40);
  EXPECT_EQ(g_seen, expected);
}

}  // namespace
