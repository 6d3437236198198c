// Definition records: the length of each kind's record, names cut and
// padded, the table types kinds 6 and 9 accept, the direct kernel requests
// outside a transaction, descriptions shorter than their counts, and a
// copy's state record written once for each change.
#include "du/definition_records.h"

#include "du/tests/record_access_fixture.h"
#include "du/transactions.h"

namespace {

// Answers the table requests the model does not know (DKMOT1) with 0.
void Dispatch(int32_t code, int32_t* b) {
  if (code == 41) {
    ++KernelModel::Current()->sent[code];
    b[0] = 0;
    return;
  }
  KernelModel::Dispatch(code, b);
}

class DefinitionRecordTest : public RecordAccessTest {
 protected:
  DefinitionRecordTest() {
    DUInstallKernelDispatcher(&Dispatch);
    record_.assign(static_cast<size_t>(DurecWords(64)), 0);
    for (int32_t k = 0; k < 6; ++k) record_[DUREC_LID + k] = 100 + k;
    record_[DUREC_TYPE] = 11;
  }
  // The record written, or the status when none was.
  int32_t Write(int32_t kind, const std::vector<int32_t>& desc) {
    const int32_t appends = kernel_.Sent(DK_APS1);
    record_[DUREC_STATUS] = kind;
    DUWriteDefRecord(base_, record_.data(), usr_, desc);
    written_ = kernel_.Sent(DK_APS1) > appends ? kernel_.last_appended : std::vector<int32_t>{};
    return record_[DUREC_STATUS];
  }
  std::vector<int32_t> record_;
  std::vector<int32_t> written_;
};

TEST_F(DefinitionRecordTest, EachKindHasItsLength) {
  ASSERT_EQ(Begin(1), 0);
  const int32_t tn = W(Tp() + TP_TRANSACTION_NUMBER);
  std::vector<int32_t> desc(60, 0);
  desc[0] = 2;  // two bytes, two triples
  const std::pair<int32_t, size_t> lengths[] = {
      {6, 13},  {9, 13},   {7, 17},  {8, 10}, {10, 14}, {11, 19}, {12, 102},
      {13, 10}, {14, 10},  {15, 9},  {16, 6}, {17, 6},  {25, 6},  {18, 36},
      {19, 36}, {20, 100}, {23, 22}, {26, 6},
  };
  for (auto [kind, length] : lengths) {
    ASSERT_EQ(Write(kind, desc), 0) << kind;
    ASSERT_EQ(written_.size(), length) << kind;
    EXPECT_EQ(written_[0], kind);
    if (kind != 34) {
      EXPECT_EQ(written_[1], tn);
    }
  }
  // Kind 34 carries nothing and appends nothing.
  written_.clear();
  const int32_t appends = kernel_.Sent(DK_APS1);
  ASSERT_EQ(Write(34, desc), 0);
  EXPECT_TRUE(written_.empty());
  EXPECT_EQ(kernel_.Sent(DK_APS1), appends);
  // Identity words follow the transaction number.
  ASSERT_EQ(Write(6, desc), 0);
  EXPECT_EQ(std::vector<int32_t>(written_.begin() + 2, written_.begin() + 8),
            (std::vector<int32_t>{100, 11, 102, 103, 104, 105}));
  // A copy's record: its databank and SEQNO, two zero words.
  desc[0] = 7;
  desc[1] = 3;
  ASSERT_EQ(Write(16, desc), 0);
  EXPECT_EQ(std::vector<int32_t>(written_.begin() + 2, written_.end()),
            (std::vector<int32_t>{7, 3, 0, 0}));
  // An unknown kind.
  EXPECT_EQ(Write(5, desc), DU_BAD_ARGUMENT);
}

// A copy's state record (16 offline, 17 online) is appended unless the
// write set's last state record for that copy (databank and SEQNO) is of
// the same kind: applied twice, the second would find the copy in that
// state already and fail a commit that waits for its records.
TEST_F(DefinitionRecordTest, CopyStateRecordIsWrittenOncePerChange) {
  ASSERT_EQ(Begin(1), 0);
  const struct {
    int32_t kind, id, seqno;
    bool appended;
  } steps[] = {
      {16, 7, 3, true},  {16, 7, 3, false}, {16, 7, 4, true}, {16, 8, 3, true},
      {17, 7, 3, true},  {17, 7, 3, false}, {16, 7, 3, true}, {16, 7, 3, false},
      {16, 7, 4, false}, {17, 7, 4, true},
  };
  int n = 0;
  for (const auto& s : steps) {
    SCOPED_TRACE(n++);
    const int32_t appends = kernel_.Sent(DK_APS1);
    ASSERT_EQ(Write(s.kind, {s.id, s.seqno}), 0);
    EXPECT_EQ(kernel_.Sent(DK_APS1), appends + (s.appended ? 1 : 0));
  }
  const auto& ws = kernel_.queues[W(Tp() + TP_WS_QTBL)].records;
  EXPECT_EQ(ws.size(), 6u);
}

// A state record that a rollback to a mark took out of the write set no
// longer counts: the same change made again after the rollback is appended,
// and a record kept before the mark still makes its like add nothing.
TEST_F(DefinitionRecordTest, CopyStateRecordTakenOutByARollbackIsWrittenAgain) {
  ASSERT_EQ(Begin(1), 0);
  auto appended = [&](int32_t kind, int32_t id, int32_t seqno) {
    const int32_t appends = kernel_.Sent(DK_APS1);
    EXPECT_EQ(Write(kind, {id, seqno}), 0);
    return kernel_.Sent(DK_APS1) > appends;
  };
  EXPECT_TRUE(appended(16, 7, 3));
  DUWriteMark(base_, usr_, 5);
  EXPECT_TRUE(appended(16, 8, 1));
  EXPECT_TRUE(appended(17, 7, 3));
  DSTransRollbackDk(base_, usr_, 5);
  ASSERT_EQ(W(usr_ + USR_TRV_COND), 0);
  EXPECT_TRUE(appended(16, 8, 1));
  EXPECT_FALSE(appended(16, 7, 3));
  EXPECT_TRUE(appended(17, 7, 3));
}

TEST_F(DefinitionRecordTest, NamesAreCutAndPadded) {
  ASSERT_EQ(Begin(1), 0);
  for (int32_t kind : {12, 20}) {
    const size_t name_at = kind == 12 ? 6 : 4;
    std::vector<int32_t> desc(1 + 100, 0);
    desc[0] = 400;
    std::memset(desc.data() + 1, 'n', 400);
    ASSERT_EQ(Write(kind, desc), 0);
    const char* name = reinterpret_cast<const char*>(written_.data() + name_at);
    EXPECT_EQ(std::string(name, 384), std::string(384, 'n'));
    EXPECT_EQ(written_.size(), name_at + 96);
    desc.assign(1 + 2, 0);
    desc[0] = 5;
    std::memcpy(desc.data() + 1, "short", 5);
    ASSERT_EQ(Write(kind, desc), 0);
    name = reinterpret_cast<const char*>(written_.data() + name_at);
    EXPECT_EQ(std::string(name, 384), "short" + std::string(379, ' '));
    // A length the description does not hold.
    desc[0] = 9;
    EXPECT_EQ(Write(kind, desc), DU_BAD_ARGUMENT);
    EXPECT_TRUE(written_.empty());
  }
}

TEST_F(DefinitionRecordTest, TypesKindsSixAndNineRefuse) {
  ASSERT_EQ(Begin(1), 0);
  for (int32_t type : {15, 31, 0, 52, 132, -11}) {
    record_[DUREC_TYPE] = type;
    EXPECT_EQ(Write(6, {}), DU_TYPE_REFUSED) << type;
    EXPECT_EQ(Write(9, {}), DU_TYPE_REFUSED) << type;
  }
  for (int32_t type : {11, 13, 24, 61, 111, 124}) {
    record_[DUREC_TYPE] = type;
    EXPECT_EQ(Write(9, {}), 0) << type;
  }
}

TEST_F(DefinitionRecordTest, OutsideATransactionTheKernelChangesAtOnce) {
  EXPECT_EQ(Write(8, {}), 0);
  EXPECT_EQ(kernel_.Sent(41), 1);
  EXPECT_TRUE(written_.empty());
  // Kinds 6 and 9: open, modify, close.
  const int32_t opens = kernel_.Sent(DK_OPT1);
  EXPECT_EQ(Write(6, {}), 0);
  EXPECT_EQ(kernel_.Sent(DK_OPT1), opens + 1);
  EXPECT_EQ(kernel_.Sent(41), 2);
  EXPECT_EQ(kernel_.Sent(DK_CLT1), 1);
  kernel_.fail[DK_OPT1] = 1;  // the table is there
  EXPECT_EQ(Write(9, {}), DU_TABLE_PRESENT);
  // Other kinds need the transaction.
  EXPECT_EQ(Write(34, {}), DU_NO_TRANSACTION);
}

TEST_F(DefinitionRecordTest, FailedAppendLeavesTheTransactionFailed) {
  ASSERT_EQ(Begin(1), 0);
  kernel_.fail[DK_APS1] = -30;
  EXPECT_EQ(Write(26, std::vector<int32_t>(4, 0)), -30 - 16140);
  EXPECT_EQ(W(Tp() + TP_TRANSACTION_STATE), 2);
}

}  // namespace
