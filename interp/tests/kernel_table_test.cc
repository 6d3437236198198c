// Programs over a table of the databank kernel itself, made and changed
// through record access by the program's own INS and DEL, against a
// std::map of what the table should hold: inserts of keys already there and
// deletes of absent keys branch, and a scan sees every row once, in key
// order, before and after the commit.
#include <list>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "du/tests/descriptions.h"
#include "du/tests/kernel_fixture.h"
#include "interp/machine.h"
#include "interp/program_layout.h"
#include "interp/record_services.h"
#include "platform/thread_slots.h"
#include "tools/zasm/zasm.h"

namespace {

constexpr int32_t kTable = 130, kKey = 8, kLen = 24;

std::vector<std::string> g_seen;

void NotedGetRow(int32_t* base, int32_t* rec, int32_t usr, int32_t work) {
  DUGetRow(base, rec, usr, work);
  if (rec[DUREC_STATUS] == 0)
    g_seen.emplace_back(reinterpret_cast<const char*>(rec + DUREC_RECORD), kLen);
}

constexpr const char* kProgram = R"(field T table 130 key 8 reclen 24
code
  BEG
ins: INS T, dup
  END 1
dup: END 2
del: GUR T, none
  DEL T, none
  END 1
none: END 2
scan: IGN T
loop: GNR T, done
  JMC loop
done: END 1
)";

class ProgramsOverKernelTables : public KernelRecordAccessTest {
 protected:
  void SetUp() override {
    KernelRecordAccessTest::SetUp();
    if (HasFatalFailure()) return;
    StatusPair st{};
    mdr_tls_init(&st);
    DSGetMem(base_, &thr_, THR_BYTES);
    mdr_tls_set(&st, thr_, TLS_SLOT_THR);
    CreateDescribedTable(kTable, Description(kLid, kKey, kLen, 0, {}, {}));
    services_ = interp::DefaultRecordServices();
    services_.get_row = NotedGetRow;
    interp::DAInstallRecordServices(&services_);
    std::string error;
    ASSERT_TRUE(zasm::Assemble(kProgram, "table.zasm", &asm_, &error)) << error;
    storage_.assign(asm_.words.begin() + asm_.words[interp::kDescStorageOffset], asm_.words.end());
  }
  void TearDown() override {
    interp::DAInstallRecordServices(nullptr);
    StatusPair st{};
    mdr_tls_set(&st, 0, TLS_SLOT_THR);
    KernelRecordAccessTest::TearDown();
  }
  int32_t* Block() { return storage_.data() + asm_.fields.at("T") / 4; }
  // Opens the table in the current transaction and binds the program's
  // record block to it.
  void Bind() {
    // Each open keeps its own block: the fixture closes them all at the end.
    tables_.push_back(Record(kTable, 3, kKey, kLen));
    ASSERT_EQ(Open(tables_.back()), 0);
    std::copy(tables_.back().begin(), tables_.back().begin() + DUREC_RECORD, Block());
  }
  // One run from `label` as a statement of its own; the return code.
  int32_t RunAt(const char* label) {
    NextCursorOrder(usr_);
    int32_t pos = asm_.labels.at(label);
    return RunFrom(&pos);
  }
  // One run from *pos, which it advances; the return code.
  int32_t RunFrom(int32_t* pos) {
    int32_t rvec[12] = {};
    char name[128];
    std::memset(name, ' ', sizeof name);
    const int32_t start = asm_.words[interp::kDescProgramStart];
    const int32_t at = asm_.words[interp::kDescStorageOffset];
    interp::DAMAE2(base_, rvec, asm_.words.data() + start, at - start, storage_.data(),
                   static_cast<int32_t>(storage_.size()), pos, name, usr_);
    return rvec[0];
  }
  void SetRow(const std::string& row) {
    std::memcpy(reinterpret_cast<char*>(Block() + DUREC_RECORD), row.data(), row.size());
  }
  std::vector<std::string> Scan() {
    g_seen.clear();
    EXPECT_EQ(RunAt("scan"), 1);
    return g_seen;
  }
  static std::vector<std::string> Rows(const std::map<std::string, std::string>& m) {
    std::vector<std::string> rows;
    for (const auto& [k, r] : m) rows.push_back(r);
    return rows;
  }

  interp::RecordServiceTable services_{};
  zasm::Assembly asm_;
  std::vector<int32_t> storage_;
  std::list<std::vector<int32_t>> tables_;
  int32_t thr_ = 0;
};

TEST_F(ProgramsOverKernelTables, InsertsDeletesAndScansMatchAMap) {
  std::mt19937 rng(22);
  std::map<std::string, std::string> model;
  auto key = [&] {
    const uint64_t k = rng() % 150;
    std::string s(kKey, '\0');
    for (int i = 0; i < kKey; ++i) s[i] = static_cast<char>(k >> (56 - 8 * i));
    return s;
  };
  ASSERT_EQ(Begin(1), 0);
  Bind();
  for (int n = 0; n < 200; ++n) {
    const std::string k = key();
    const std::string row = k + std::string(kLen - kKey, static_cast<char>('a' + n % 26));
    SetRow(row);
    const int32_t rc = RunAt("ins");
    if (model.count(k) != 0) {
      EXPECT_EQ(rc, 2) << n;  // the duplicate key branches
    } else {
      EXPECT_EQ(rc, 1) << n;
      model[k] = row;
    }
  }
  for (int n = 0; n < 60; ++n) {
    const std::string k = key();
    SetRow(k);
    EXPECT_EQ(RunAt("del"), model.erase(k) != 0 ? 1 : 2) << n;
  }
  EXPECT_EQ(Scan(), Rows(model));
  EXPECT_EQ(End(END_AFTER_SUCCESS), 0);
  ASSERT_EQ(Begin(1), 0);
  Bind();
  EXPECT_EQ(Scan(), Rows(model));

  // A channel that asks its request to give way after every record
  // instruction: each run ends with -16234 and is counted, and the resumed
  // runs together still see every row once.
  int32_t cha = 0;
  DSGetMem(base_, &cha, CHA_BYTES);
  W(usr_ + USR_CHA) = cha;
  W(cha + CHA_REQNO) = 3;
  W(cha + CHA_INTERRUPT_MODE) = 1;
  W(cha + CHA_INTERRUPT_REQNO) = 3;
  g_seen.clear();
  NextCursorOrder(usr_);
  int32_t pos = asm_.labels.at("scan"), requeues = 0, rc = 0;
  const int32_t before = W(sys_ + SYS_REQUEUE_COUNT);
  for (int runs = 0; runs < 1000 && (rc = RunFrom(&pos)) == interp::kErrRequeue; ++runs) ++requeues;
  EXPECT_EQ(rc, 1);
  // After every GNR (the last one too) and every JMC.
  EXPECT_EQ(requeues, 2 * static_cast<int32_t>(model.size()) + 1);
  EXPECT_EQ(W(sys_ + SYS_REQUEUE_COUNT), before + requeues);
  EXPECT_EQ(g_seen, Rows(model));
  W(usr_ + USR_CHA) = 0;
}

}  // namespace

namespace {

// An assembled table field is as long as the record block record access
// reads, the spare word behind the row included.
TEST(RecordBlock, AssembledBlocksHoldWhatRecordAccessReads) {
  for (int32_t length : {0, 1, 3, 4, 5, 24, 117, 4000})
    EXPECT_EQ(interp::RecordBlockBytes(length), 4 * DurecWords(length)) << length;
}

}  // namespace
