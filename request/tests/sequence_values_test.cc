// Sequence values over the catalog's sequence table in the databank kernel:
// values in and outside the session's transaction and dictionary work, the
// reserved block's end read back from the catalog row after the session's
// own work was rolled back, block boundaries and limits, a restart after
// the server entries are gone, and the errors.
#include "request/sequence_values.h"

#include <gtest/gtest.h>

#include <optional>

#include "dict/new_ids.h"
#include "dict/tests/lookup_fixture.h"
#include "interp/request_services.h"
#include "kernel/system_block.h"
#include "kernel/hash_lists.h"
#include "kernel/sessions.h"
#include "kernel/upper_services.h"
#include "platform/packed_decimal.h"
#include "request/transaction_requests.h"

namespace {

struct SequenceRowValues {
  int32_t id;
  int64_t increment, minimum, maximum;
  std::optional<int64_t> current, block_end;
  bool cycle = false;
};

class SequenceValuesTest : public CatalogRowsTest {
 protected:
  void SetUp() override {
    SetUpCatalog({11, 32});
    if (HasFatalFailure()) return;
    ASSERT_EQ(CreateSysLists(base_, sys_), 0);
    ASSERT_NE(W(sys_ + SYS_GSEQ_LIST), 0);
    ASSERT_EQ(Begin(1), 0);
    for (const SequenceRowValues& s : {SequenceRowValues{141, 1, 1, 2147483647, 500, 500},
                                       SequenceRowValues{7, 1, 1, 505, std::nullopt, 0},
                                       SequenceRowValues{8, -5, -100, -1, std::nullopt, 0}})
      ASSERT_EQ(AddSequence(s), 0) << s.id;
    ASSERT_EQ(End(END_CLIENT_COMMIT), 0);
  }

  int32_t AddSequence(const SequenceRowValues& s) {
    std::vector<CatalogValue> v = {{SEQUENCES_SEQUENCE_ID, 0, s.id, nullptr},
                                   {SEQUENCES_INCREMENT, 0, s.increment, nullptr},
                                   {SEQUENCES_MINIMUM_VALUE, 0, s.minimum, nullptr},
                                   {SEQUENCES_MAXIMUM_VALUE, 0, s.maximum, nullptr},
                                   {SEQUENCES_CYCLE_OPTION, 1, 0, s.cycle ? "YES" : "NO "}};
    if (s.current) v.push_back({SEQUENCES_CURRENT_VALUE, 0, *s.current, nullptr});
    if (s.block_end) v.push_back({SEQUENCES_BLOCK_END, 0, *s.block_end, nullptr});
    return InsertValues(32, v);
  }

  // Next (kind 1) or current (kind 2) values; the status, the value in *value.
  int32_t Value(int32_t kind, int32_t sequence, int32_t count, int32_t* value) {
    int32_t block[2] = {kind, usr_};
    const int32_t rc = DSSeqValue(base_, block, sequence, count, value);
    EXPECT_EQ(block[0], rc);
    return rc;
  }
  int32_t Next(int32_t sequence, int32_t count = 1) {
    int32_t v = 0;
    const int32_t rc = Value(1, sequence, count, &v);
    EXPECT_EQ(rc, 0) << sequence;
    return rc == 0 ? v : rc;
  }

  // The row's current value and block end as a fresh transaction reads it.
  std::pair<int64_t, int64_t> Stored(int32_t sequence) {
    EXPECT_EQ(Begin(1), 0);
    const CatalogValue key[] = {{SEQUENCES_SEQUENCE_ID, 0, sequence, nullptr}};
    std::vector<uint8_t> row;
    EXPECT_EQ(ReadRow(32, key, &row), 0);
    EXPECT_EQ(End(END_CLIENT_COMMIT), 0);
    if (row.empty()) return {-1, -1};
    auto read = [&](int32_t offset) -> int64_t {
      if (row[offset] == 255) return INT64_MIN;
      int32_t v = 0;
      EXPECT_EQ(decimal_to_int(&v, ConstByteSpan(row.data(), row.size()), {offset, 11, 0, 0}),
                kDecimalOk);
      return v;
    };
    return {read(SEQUENCES_CURRENT_VALUE), read(SEQUENCES_BLOCK_END)};
  }

  // The server entries gone, as after a restart.
  void ForgetServerEntries() { W(sys_ + SYS_GSEQ_LIST) = HashListCreate(base_, 40, 1, 0); }
};

TEST_F(SequenceValuesTest, OutsideATransactionTheBlockEndIsWrittenBeforeTheFirstValue) {
  EXPECT_EQ(Next(141), 501);
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{500}, int64_t{1500}));
  EXPECT_EQ(Next(141), 502);
  int32_t v = 0;
  EXPECT_EQ(Value(SEQ_CURRENT, 141, 1, &v), 0);
  EXPECT_EQ(v, 502);
  // A count below 1 takes one value.
  EXPECT_EQ(Next(141, 0), 503);
  EXPECT_EQ(Next(7, -2), 1);
  EXPECT_EQ(Next(141), 504);
}

TEST_F(SequenceValuesTest, TheBlockEndOutlivesTheSessionsRolledBackTransaction) {
  ASSERT_EQ(Begin(1), 0);
  // A change of the session's own, in the same table.
  ASSERT_EQ(AddSequence({9, 1, 1, 100, std::nullopt, 0}), 0);
  EXPECT_EQ(Next(141), 501);
  EXPECT_EQ(Next(7), 1);
  // The session's transaction is still open and still holds its row.
  const CatalogValue key[] = {{SEQUENCES_SEQUENCE_ID, 0, 9, nullptr}};
  std::vector<uint8_t> row;
  EXPECT_EQ(ReadRow(32, key, &row), 0);
  ASSERT_EQ(End(END_ROLLBACK), 0);
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{500}, int64_t{1500}));
  EXPECT_EQ(Stored(7), std::make_pair(int64_t{0}, int64_t{505}));
  ASSERT_EQ(Begin(1), 0);
  EXPECT_EQ(ReadRow(32, key, &row), 100);  // rolled back
  ASSERT_EQ(End(END_CLIENT_COMMIT), 0);
  EXPECT_EQ(Next(141), 502);
}

TEST_F(SequenceValuesTest, TheBlockEndOutlivesRolledBackDictionaryWork) {
  Protocol(21);  // the work ends its own transaction
  ASSERT_EQ(BegWork(), 0);
  int32_t first = 0;
  int32_t block[2] = {0, usr_};
  // The dictionary's new ids come through its service table.
  ASSERT_EQ(DDNewIds(base_, block, 3, &first), 0);
  EXPECT_EQ(first, 501);
  ASSERT_EQ(EndWork(1), 0);
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{500}, int64_t{1500}));
  EXPECT_EQ(Next(141), 504);
}

TEST_F(SequenceValuesTest, SessionsShareTheValuesAndKeepTheirOwnCurrentValue) {
  const int32_t other = users_[1];
  auto next_of = [&](int32_t usr, int32_t count) {
    int32_t block[2] = {1, usr}, v = 0;
    EXPECT_EQ(DSSeqValue(base_, block, 141, count, &v), 0) << usr;
    return v;
  };
  auto current_of = [&](int32_t usr) {
    int32_t block[2] = {SEQ_CURRENT, usr}, v = 0;
    EXPECT_EQ(DSSeqValue(base_, block, 141, 1, &v), 0) << usr;
    return v;
  };
  EXPECT_EQ(next_of(usr_, 1), 501);
  EXPECT_EQ(next_of(other, 3), 502);  // 502 .. 504
  EXPECT_EQ(next_of(usr_, 1), 505);
  EXPECT_EQ(current_of(usr_), 505);
  EXPECT_EQ(current_of(other), 502);
  // One server entry, used by both sessions, each with one entry of its own.
  const int32_t list = W(sys_ + SYS_GSEQ_LIST);
  const int32_t entry = W(HashListHead(base_, list, HashListBucket(base_, list, 141)));
  ASSERT_NE(entry, 0);
  EXPECT_EQ(W(entry + SEQE_ID), 141);
  EXPECT_EQ(W(entry + SEQE_NEXT), 0);
  EXPECT_EQ(W(entry + SEQE_USE_COUNT), 2);
  for (int32_t usr : {usr_, other}) {
    const int32_t s = W(usr + USR_SEQUENCE_LCB);
    ASSERT_NE(s, 0);
    EXPECT_EQ(W(s + SEQS_NEXT), 0);
  }
  EXPECT_EQ(Stored(141).second, 1500);
}

TEST_F(SequenceValuesTest, BlocksEndExactlyWhereTheirEndSays) {
  EXPECT_EQ(Next(141, 1000), 501);  // 501 .. 1500: the whole first block
  EXPECT_EQ(Stored(141).second, 1500);
  EXPECT_EQ(Next(141), 1501);  // the next block
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{1500}, int64_t{2500}));
  EXPECT_EQ(Next(141, 999), 1502);  // up to 2500, no write
  EXPECT_EQ(Stored(141).second, 2500);
  EXPECT_EQ(Next(141, 2500), 2501);  // a block of the count asked
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{2500}, int64_t{5000}));
  int32_t v = 0;
  EXPECT_EQ(Value(SEQ_CURRENT, 141, 1, &v), 0);
  EXPECT_EQ(v, 2501);
}

TEST_F(SequenceValuesTest, ARestartGoesOnAfterTheWrittenBlockEnd) {
  EXPECT_EQ(Next(141), 501);
  EXPECT_EQ(Next(141), 502);
  ForgetServerEntries();
  EXPECT_EQ(Next(141), 1501);  // 503 .. 1500 may have been handed out
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{1500}, int64_t{2500}));
}

TEST_F(SequenceValuesTest, TheLimitEndsTheSequence) {
  for (int32_t k = 1; k <= 505; ++k) ASSERT_EQ(Next(7), k);
  EXPECT_EQ(Stored(7).second, 505);
  int32_t v = -3;
  EXPECT_EQ(Value(1, 7, 1, &v), SEQ_NO_FURTHER_VALUE);
  EXPECT_EQ(Value(1, 7, 1, &v), SEQ_NO_FURTHER_VALUE);
  EXPECT_EQ(v, -3);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), SEQ_NO_FURTHER_VALUE);
  EXPECT_EQ(Value(SEQ_CURRENT, 7, 1, &v), 0);
  EXPECT_EQ(v, 505);
  // Descending from the greatest value: -1, -6, ..., -96, then no more.
  for (int32_t k = 0; k < 20; ++k) ASSERT_EQ(Next(8), -1 - 5 * k);
  EXPECT_EQ(Stored(8).second, -100);
  EXPECT_EQ(Value(1, 8, 1, &v), SEQ_NO_FURTHER_VALUE);
}

TEST_F(SequenceValuesTest, TheStatementRuntimeTakesOneValueAtATime) {
  RequestInstallRuntimeServices();
  const auto f = interp::RequestServices().sequence_value;
  ASSERT_NE(f, nullptr);
  int32_t v = 0;
  EXPECT_EQ(f(base_, usr_, SEQ_CURRENT, 7, &v), SEQ_NO_CURRENT_VALUE);
  EXPECT_EQ(f(base_, usr_, 1, 7, &v), 0);
  EXPECT_EQ(v, 1);
  EXPECT_EQ(f(base_, usr_, 1, 7, &v), 0);
  EXPECT_EQ(f(base_, usr_, SEQ_CURRENT, 7, &v), 0);
  EXPECT_EQ(v, 2);
  interp::DAInstallRequestServices(nullptr);
}

TEST_F(SequenceValuesTest, AFailingWriteBackHandsOutNothing) {
  EXPECT_EQ(Next(141), 501);
  // The row goes; the values of the block written go on.
  ASSERT_EQ(Begin(1), 0);
  const CatalogValue key[] = {{SEQUENCES_SEQUENCE_ID, 0, 141, nullptr}};
  std::vector<uint8_t> row;
  ASSERT_EQ(ReadRow(32, key, &row), 0);
  auto& r = RecordOf(32);
  DUDEL1(base_, r.data(), usr_);
  ASSERT_EQ(r[DUREC_STATUS], 0);
  ASSERT_EQ(End(END_CLIENT_COMMIT), 0);
  EXPECT_EQ(Next(141, 999), 502);  // up to 1500
  int32_t v = -3;
  EXPECT_EQ(Value(1, 141, 1, &v), SEQ_NOT_FOUND);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), SEQ_NOT_FOUND);
  EXPECT_EQ(v, -3);
  EXPECT_EQ(Value(SEQ_CURRENT, 141, 1, &v), 0);
  EXPECT_EQ(v, 502);
  // The row back: the next block follows on from the last value given.
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(AddSequence({141, 1, 1, 2147483647, 7, 7}), 0);
  ASSERT_EQ(End(END_CLIENT_COMMIT), 0);
  EXPECT_EQ(Next(141), 1501);
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{1500}, int64_t{2500}));
}

TEST_F(SequenceValuesTest, Errors) {
  int32_t v = -3;
  struct Case {
    int32_t kind, sequence, count, status;
  };
  for (const Case& c : {Case{SEQ_CURRENT, 141, 1, SEQ_NO_CURRENT_VALUE},
                        Case{1, 7, 2, SEQ_MANY_REFUSED},
                        Case{1, 4242, 1, SEQ_NOT_FOUND}}) {
    W(usr_ + USR_RVEC_RCODE) = 0;
    EXPECT_EQ(Value(c.kind, c.sequence, c.count, &v), c.status) << c.sequence;
    EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), c.status) << c.sequence;
    EXPECT_EQ(v, -3);
  }
  // A session outside the word storage: nothing is read or written.
  for (int32_t bad : {-4, 1 << 30}) {
    int32_t block[2] = {1, bad};
    EXPECT_EQ(DSSeqValue(base_, block, 141, 1, &v), -19039) << bad;
  }
  EXPECT_EQ(v, -3);
  // Another session has taken no value: no current value of its own.
  EXPECT_EQ(Next(141), 501);
  int32_t other = 0;
  DSGetMem(base_, &other, USR_WORDS * 4);
  int32_t block[2] = {SEQ_CURRENT, other};
  EXPECT_EQ(DSSeqValue(base_, block, 141, 1, &v), SEQ_NO_CURRENT_VALUE);
}

}  // namespace

namespace {

// The server entry of a sequence, 0 when none is loaded.
int32_t ServerEntry(int32_t* base, int32_t sys, int32_t sequence) {
  const int32_t list = Wd(base, sys, SYS_GSEQ_LIST);
  for (int32_t e = sqlpool_word(base, HashListHead(base, list, HashListBucket(base, list, sequence)));
       e != 0; e = Wd(base, e, SEQE_NEXT))
    if (Wd(base, e, SEQE_ID) == sequence) return e;
  return 0;
}

TEST_F(SequenceValuesTest, TheLastSessionLettingGoWritesTheValuesBack) {
  const int32_t other = users_[1];
  int32_t block[2] = {1, other}, v = 0;
  EXPECT_EQ(Next(141), 501);
  ASSERT_EQ(DSSeqValue(base_, block, 141, 1, &v), 0);
  EXPECT_EQ(Next(141), 503);
  EXPECT_EQ(Next(7), 1);
  const int32_t entry = ServerEntry(base_, sys_, 141);
  ASSERT_NE(entry, 0);
  EXPECT_EQ(W(entry + SEQE_USE_COUNT), 2);
  // The first session to let go writes nothing: the other still uses it.
  EXPECT_EQ(DSSeqRelease(base_, usr_), 0);
  EXPECT_EQ(W(usr_ + USR_SEQUENCE_LCB), 0);
  EXPECT_EQ(W(entry + SEQE_USE_COUNT), 1);
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{500}, int64_t{1500}));
  // Sequence 7 had this session alone: its values are written back.
  EXPECT_EQ(Stored(7), std::make_pair(int64_t{1}, int64_t{1}));
  // The last one, through the kernel's session clean-up (whose other steps
  // meet services the fixture does not install).
  KernelUpperServices services = kernel_services_;
  services.seq_release = DSSeqRelease;
  KernelInstallUpperServices(&services);
  SessionCleanup(base_, other, 2);
  KernelInstallUpperServices(&kernel_services_);
  EXPECT_EQ(W(other + USR_SEQUENCE_LCB), 0);
  EXPECT_EQ(W(entry + SEQE_USE_COUNT), 0);
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{503}, int64_t{503}));
  // A restart goes on right after the last value, no gap.
  ForgetServerEntries();
  EXPECT_EQ(Next(141), 504);
  EXPECT_EQ(Next(7), 2);
  int32_t current = 0;
  EXPECT_EQ(Value(SEQ_CURRENT, 141, 1, &current), 0);
  EXPECT_EQ(current, 504);
  // Without the request interface's entry the kernel still frees the chain
  // (nothing is written back).
  EXPECT_EQ(SessionCleanup(base_, usr_, 2), KERNEL_SERVICE_ABSENT);
  EXPECT_EQ(W(usr_ + USR_SEQUENCE_LCB), 0);
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{503}, int64_t{1503}));
}

TEST_F(SequenceValuesTest, ACyclingSequenceStartsAgainInABlockOfItsOwn) {
  ASSERT_EQ(Begin(1), 0);
  SequenceRowValues up{10, 2, 1, 7, std::nullopt, 0};
  up.cycle = true;
  SequenceRowValues down{11, -3, -8, -1, std::nullopt, 0};
  down.cycle = true;
  ASSERT_EQ(AddSequence(up), 0);
  ASSERT_EQ(AddSequence(down), 0);
  ASSERT_EQ(End(END_CLIENT_COMMIT), 0);
  std::vector<int32_t> got;
  for (int k = 0; k < 9; ++k) got.push_back(Next(10));
  EXPECT_EQ(got, (std::vector<int32_t>{1, 3, 5, 7, 1, 3, 5, 7, 1}));
  // Each new round wrote its block first: a restart goes on after it.
  EXPECT_EQ(Stored(10), std::make_pair(int64_t{-1}, int64_t{7}));
  ForgetServerEntries();
  EXPECT_EQ(Next(10), 1);  // 3 .. 7 may have been handed out
  got.clear();
  for (int k = 0; k < 4; ++k) got.push_back(Next(11));
  EXPECT_EQ(got, (std::vector<int32_t>{-1, -4, -7, -1}));
}

TEST_F(SequenceValuesTest, DefinitionStatementsDescribeAndResetASequence) {
  EXPECT_EQ(Next(7), 1);
  EXPECT_EQ(Next(7), 2);
  int32_t block[2] = {0, usr_};
  DSSeqState st;
  EXPECT_EQ(DSSeqInit(base_, block, 7, &st), 0);
  EXPECT_EQ(block[0], 0);
  EXPECT_EQ(st.current, 2);
  EXPECT_EQ(st.minimum, 1);
  EXPECT_EQ(st.maximum, 505);
  EXPECT_EQ(st.increment, 1);
  EXPECT_EQ(st.flag, -1);
  EXPECT_EQ(st.value, 505);  // the block end, cut at the bound
  EXPECT_EQ(st.exhausted, 0);
  // Described without use: loaded from the catalog.
  EXPECT_EQ(DSSeqInit(base_, block, 8, &st), 0);
  EXPECT_EQ(st.increment, -5);
  EXPECT_EQ(st.current, 4);  // before the greatest value -1
  EXPECT_EQ(DSSeqInit(base_, block, 4242, &st), SEQ_NOT_FOUND);
  // Reset: 100 is the last value handed out; written back at once.
  block[0] = 0;
  EXPECT_EQ(DSSeqReset(base_, block, 7, 100, 0), 0);
  EXPECT_EQ(Stored(7), std::make_pair(int64_t{100}, int64_t{100}));
  int32_t v = 0;
  EXPECT_EQ(Value(SEQ_CURRENT, 7, 1, &v), 0);
  EXPECT_EQ(v, 100);
  EXPECT_EQ(Next(7), 101);
  // Marked exhausted, then reset again.
  block[0] = 0;
  EXPECT_EQ(DSSeqReset(base_, block, 7, 0, 1), 0);
  EXPECT_EQ(Value(1, 7, 1, &v), SEQ_NO_FURTHER_VALUE);
  block[0] = 0;
  EXPECT_EQ(DSSeqInit(base_, block, 7, &st), SEQ_NO_FURTHER_VALUE);
  EXPECT_EQ(st.exhausted, 1);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), SEQ_NO_FURTHER_VALUE);
  block[0] = SEQ_RESET_LOAD;  // only loads: nothing changes
  EXPECT_EQ(DSSeqReset(base_, block, 7, 5, 0), 0);
  EXPECT_EQ(Value(1, 7, 1, &v), SEQ_NO_FURTHER_VALUE);
  block[0] = 0;
  EXPECT_EQ(DSSeqReset(base_, block, 7, 5, 0), 0);
  EXPECT_EQ(Next(7), 6);
  EXPECT_EQ(W(ServerEntry(base_, sys_, 7) + SEQE_MODE), 1);  // the reset's mode cleared
  block[0] = 0;
  EXPECT_EQ(DSSeqReset(base_, block, 4242, 5, 0), SEQ_NOT_FOUND);
  EXPECT_EQ(block[0], SEQ_NOT_FOUND);
}

}  // namespace

namespace {

// The least (greatest) value of a sequence at the end of the 32-bit range
// is its first: the value before it does not fit a word.
TEST_F(SequenceValuesTest, TheFirstValueMayBeTheEndOfTheRange) {
  ASSERT_EQ(Begin(1), 0);
  ASSERT_EQ(AddSequence({60, 1, INT32_MIN, INT32_MIN + 2, std::nullopt, 0}), 0);
  ASSERT_EQ(AddSequence({61, -1, INT32_MAX - 2, INT32_MAX, std::nullopt, 0}), 0);
  ASSERT_EQ(AddSequence({62, 1, INT32_MIN, INT32_MIN + 1, std::nullopt, 0, true}), 0);
  ASSERT_EQ(End(END_CLIENT_COMMIT), 0);
  EXPECT_EQ(Next(60), INT32_MIN);
  EXPECT_EQ(Next(61), INT32_MAX);
  EXPECT_EQ(Next(61), INT32_MAX - 1);
  // The reserved block reached the limit: after a restart nothing is left.
  EXPECT_EQ(Stored(60), std::make_pair(int64_t{INT32_MIN}, int64_t{INT32_MIN} + 2));
  ForgetServerEntries();
  int32_t v = 0;
  EXPECT_EQ(Value(1, 60, 1, &v), SEQ_NO_FURTHER_VALUE);
  // A cycling one starts again at its least value.
  EXPECT_EQ(Next(62), INT32_MIN);
  EXPECT_EQ(Next(62), INT32_MIN + 1);
  EXPECT_EQ(Next(62), INT32_MIN);
}

}  // namespace

namespace {

// A request for more values than are left takes none and leaves the rest.
TEST_F(SequenceValuesTest, ARequestPastTheLimitLeavesTheValuesThatAreLeft) {
  int32_t v = -3;
  EXPECT_EQ(Value(1, SEQ_MANY_ALLOWED, INT32_MAX, &v), SEQ_NO_FURTHER_VALUE);
  EXPECT_EQ(v, -3);
  EXPECT_EQ(Next(SEQ_MANY_ALLOWED), 501);
  EXPECT_EQ(Next(SEQ_MANY_ALLOWED, 10), 502);
  EXPECT_EQ(Next(SEQ_MANY_ALLOWED), 512);
}

}  // namespace

namespace {

// A definition statement's description holds the sequence for its session
// until its reset: another session's request takes, describes and resets
// nothing meanwhile.
TEST_F(SequenceValuesTest, ADescriptionHoldsTheSequenceUntilItsReset) {
  const int32_t other = users_[1];
  auto other_next = [&](int32_t sequence) {
    int32_t block[2] = {1, other}, v = -3;
    const int32_t rc = DSSeqValue(base_, block, sequence, 1, &v);
    return rc == 0 ? v : rc;
  };
  EXPECT_EQ(Next(7), 1);
  int32_t block[2] = {0, usr_};
  DSSeqState st;
  ASSERT_EQ(DSSeqInit(base_, block, 7, &st), 0);
  W(other + USR_RVEC_RCODE) = 0;
  EXPECT_EQ(other_next(7), SEQ_IN_USE);
  EXPECT_EQ(W(other + USR_RVEC_RCODE), SEQ_IN_USE);
  int32_t other_block[2] = {0, other};
  EXPECT_EQ(DSSeqInit(base_, other_block, 7, &st), SEQ_IN_USE);
  other_block[0] = 0;
  EXPECT_EQ(DSSeqReset(base_, other_block, 7, 50, 0), SEQ_IN_USE);
  EXPECT_EQ(other_next(8), -1);  // another sequence is not held
  EXPECT_EQ(Next(7), 2);         // the holder's own session goes on
  // The reset ends the hold; the values go on from the one it set.
  block[0] = 0;
  ASSERT_EQ(DSSeqReset(base_, block, 7, 100, 0), 0);
  EXPECT_EQ(other_next(7), 101);
  // A session leaving between its description and its reset lets go.
  block[0] = 0;
  ASSERT_EQ(DSSeqInit(base_, block, 7, &st), 0);
  EXPECT_EQ(other_next(7), SEQ_IN_USE);
  EXPECT_EQ(DSSeqRelease(base_, usr_), 0);
  EXPECT_EQ(other_next(7), 102);
  // A description that fails (no further value) holds nothing.
  block[0] = 0;
  ASSERT_EQ(DSSeqReset(base_, block, 7, 0, 1), 0);  // marked used up
  block[0] = 0;
  EXPECT_EQ(DSSeqInit(base_, block, 7, &st), SEQ_NO_FURTHER_VALUE);
  int32_t other_reset[2] = {0, other};
  EXPECT_EQ(DSSeqReset(base_, other_reset, 7, 200, 0), 0);
  EXPECT_EQ(other_next(7), 201);
}

// The write-back and the load commit a transaction of their own, begun
// here (FTR_START 82), which the transaction end's XA check lets through:
// a session enlisted in an XA branch begun elsewhere gets its values and
// keeps its branch's transaction open as it was.
TEST_F(SequenceValuesTest, AnXaBranchBegunElsewhereTakesValuesAndKeepsItsTransaction) {
  ASSERT_EQ(Begin(1), 0);
  const int32_t tp = W(usr_ + USR_TP);
  ASSERT_NE(tp, 0);
  const int32_t started = W(tp + TP_FTR_START);
  W(usr_ + USR_XAENT) = 1;
  W(tp + TP_FTR_START) = 0;
  EXPECT_EQ(Next(7), 1);  // the entry's load and the first block's write-back
  EXPECT_EQ(Next(7), 2);
  EXPECT_EQ(Next(141), 501);
  EXPECT_EQ(W(usr_ + USR_TP), tp);
  EXPECT_EQ(W(tp + TP_TRANSACTION_STATE), 1);
  EXPECT_EQ(W(tp + TP_FTR_START), 0);
  W(usr_ + USR_XAENT) = 0;
  W(tp + TP_FTR_START) = started;
  ASSERT_EQ(End(END_ROLLBACK), 0);  // the blocks were committed apart
  EXPECT_EQ(Stored(7), std::make_pair(int64_t{0}, int64_t{505}));  // cut at the bound
  EXPECT_EQ(Stored(141), std::make_pair(int64_t{500}, int64_t{1500}));
}

}  // namespace
