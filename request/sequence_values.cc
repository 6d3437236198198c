// Sequence values: the server entry of a sequence is loaded from its
// catalog row on first use and linked into its SYS GSEQ_LIST bucket; values
// are handed out of a reserved block whose end is written back to the row
// (in a transaction of its own) before any value of it is given, so a
// restart never hands out a value twice.
#include "request/sequence_values.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "catalog_gen.h"
#include "du/record_access_words.h"
#include "du/record_operations.h"
#include "du/tables.h"
#include "du/transactions.h"
#include "interp/transaction_end.h"
#include "kernel/control_blocks.h"
#include "kernel/hash_lists.h"
#include "kernel/sessions.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "platform/enqdeq.h"
#include "platform/packed_decimal.h"

namespace {

constexpr int32_t kEndCommit = 1962, kEndRollback = 87, kRetry = -10001;
constexpr int32_t kUpdateMode = 3;

// The catalog row of a sequence, opened for one read or update.
class SequenceRow {
 public:
  SequenceRow(int32_t* base, int32_t usr)
      : base_(base), usr_(usr),
        r_(static_cast<size_t>(DurecWords(std::max(SEQUENCES_RECLEN, 64))), 0) {
    r_[DUREC_ACCESS_MODE] = kUpdateMode;
    r_[DUREC_TNAME] = SEQ_CATALOG_TABLE;
    r_[DUREC_KEYLEN] = SEQUENCES_KEYLEN;
    r_[DUREC_RECLEN] = SEQUENCES_RECLEN;
    r_[DUREC_TYPE] = 1;
    int32_t pb[2] = {0, usr};
    int32_t open[OPB_WORDS] = {OPEN_BASE};
    DSOpenTableDcb(base, pb, r_.data(), open);
    status_ = pb[0];
    opened_ = status_ == 0;
  }
  ~SequenceRow() {
    if (!opened_) return;
    int32_t pb[2] = {0, usr_};
    int32_t close[CLB_WORDS] = {CLOSE_TABLE};
    DSCloseTableRefs(base_, pb, r_.data(), close);
  }
  int32_t status() const { return status_; }

  // Reads the row of `sequence`: 0, SEQ_NOT_FOUND or the failure.
  int32_t Read(int32_t sequence) {
    std::memset(Row(), 0, static_cast<size_t>(SEQUENCES_RECLEN));
    if (PutInt(SEQUENCES_SEQUENCE_ID, sequence) != 0) return SEQ_NOT_FOUND;
    DSSetCursorOrder(base_, usr_, DSNextCursorOrder(base_, usr_));
    r_[DUREC_STATUS] = 0;
    DUReadRowByKey(base_, r_.data(), usr_);
    if (r_[DUREC_STATUS] == 100) return SEQ_NOT_FOUND;
    return r_[DUREC_STATUS];
  }
  // Replaces the current value and block end of the row Read read.
  int32_t Update(int32_t current, int32_t block_end) {
    r_[DUREC_STATUS] = 0;
    DUPrepareForUpdate(base_, r_.data(), usr_);
    if (r_[DUREC_STATUS] != 0) return r_[DUREC_STATUS];
    PutInt(SEQUENCES_CURRENT_VALUE, current);
    PutInt(SEQUENCES_BLOCK_END, block_end);
    DURowOp1(base_, r_.data(), usr_);
    return r_[DUREC_STATUS];
  }
  // An integer column of the row read; `absent` when it is NULL.
  int64_t Int(int32_t offset, int64_t absent) {
    if (Row()[offset] == 255) return absent;
    int32_t v = 0;
    if (decimal_to_int(&v, ConstByteSpan(Row(), static_cast<size_t>(SEQUENCES_RECLEN)),
                       {offset, 11, 0, 0}) != kDecimalOk)
      return absent;
    return v;
  }
  bool Cycles() { return std::memcmp(Row() + SEQUENCES_CYCLE_OPTION, "\0YES", 4) == 0; }

 private:
  uint8_t* Row() { return reinterpret_cast<uint8_t*>(r_.data() + DUREC_RECORD); }
  int32_t PutInt(int32_t offset, int32_t v) {
    const auto u = static_cast<uint64_t>(static_cast<int64_t>(v));
    return int64_to_decimal(ByteSpan(Row(), static_cast<size_t>(SEQUENCES_RECLEN)),
                            {offset, 11, 0, 0}, static_cast<int32_t>(u >> 32),
                            static_cast<int32_t>(u & 0xffffffffu)) == kDecimalOk
               ? 0
               : SEQ_NOT_FOUND;
  }

  int32_t* base_;
  int32_t usr_;
  std::vector<int32_t> r_;
  int32_t status_ = 0;
  bool opened_ = false;
};

int32_t Fail(int32_t* base, int32_t usr, int32_t rc) {
  if (rc < 0) Wd(base, usr, USR_RVEC_RCODE) = rc;
  return rc;
}

// Runs `work` on the sequence's row in an internal transaction of the
// session, ended by commit; an end answering -10001 runs it again.
template <class F>
int32_t InTransaction(int32_t* base, int32_t usr, F work) {
  const int32_t atomic = Wd(base, usr, USR_ATOMIC), mark = Wd(base, usr, USR_SET_MARK_FLAG);
  Wd(base, usr, USR_ATOMIC) = 0;
  Wd(base, usr, USR_SET_MARK_FLAG) = 0;
  int32_t rc = 0;
  for (;;) {
    int32_t begin[2] = {BEGIN_MODE_SAVING, usr};
    DSBTR3(base, begin);
    if ((rc = begin[0]) != 0) break;
    rc = work();
    // Its commit is the transaction end request's, XA check included; the
    // check reads the transaction begun here (FTR_START 82, which it lets
    // through), not the session's own, so a session enlisted in an XA
    // branch takes values as any other. A refusal rolls it back.
    if (rc == 0) rc = interp::DSCheckXaBranch(base, usr);
    int32_t end[3] = {rc == 0 ? kEndCommit : kEndRollback, usr, 0};
    DSEndTrans(base, end);
    if (rc == 0) rc = end[0];
    if (rc != kRetry) break;
  }
  Wd(base, usr, USR_ATOMIC) = atomic;
  Wd(base, usr, USR_SET_MARK_FLAG) = mark;
  return rc;
}

int32_t Cut(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

// Loads a new server entry of `sequence` from its catalog row into *entry.
int32_t LoadEntry(int32_t* base, int32_t usr, int32_t sequence, int32_t* entry) {
  int64_t inc = 1, minimum = 1, maximum = INT32_MAX, current = 0, block_end = 0;
  bool cycles = false, taken = false;
  const int32_t rc = InTransaction(base, usr, [&] {
    SequenceRow row(base, usr);
    if (row.status() != 0) return row.status();
    if (const int32_t r = row.Read(sequence)) return r;
    inc = row.Int(SEQUENCES_INCREMENT, 1);
    minimum = row.Int(SEQUENCES_MINIMUM_VALUE, inc < 0 ? INT32_MIN : 1);
    maximum = row.Int(SEQUENCES_MAXIMUM_VALUE, inc < 0 ? -1 : INT32_MAX);
    const int64_t none = INT64_MIN;
    current = row.Int(SEQUENCES_CURRENT_VALUE, none);
    block_end = row.Int(SEQUENCES_BLOCK_END, none);
    taken = current != none;
    cycles = row.Cycles();
    return 0;
  });
  if (rc != 0) return rc;
  if (inc == 0) inc = 1;
  const int64_t range = maximum - minimum + 1;
  if (range > 0 && (inc > range || -inc > range)) inc = (inc > 0 ? 1 : -1) * ((inc > 0 ? inc : -inc) % range);
  if (inc == 0) inc = 1;
  // Values up to a written block end may have been handed out before the
  // server stopped: go on after it.
  if (!taken) {
    current = inc > 0 ? minimum - inc : maximum - inc;
  } else if (block_end != INT64_MIN && (inc > 0 ? block_end > current : block_end < current)) {
    current = block_end;
  }
  DSGetMem(base, entry, SEQE_BYTES);
  if (*entry == 0) return SEQ_STORAGE_EXHAUSTED;
  Wd(base, *entry, SEQE_ID) = sequence;
  Wd(base, *entry, SEQE_INCREMENT) = static_cast<int32_t>(inc);
  Wd(base, *entry, SEQE_MINIMUM) = static_cast<int32_t>(minimum);
  Wd(base, *entry, SEQE_MAXIMUM) = static_cast<int32_t>(maximum);
  Wd(base, *entry, SEQE_CURRENT) = Cut(current);
  Wd(base, *entry, SEQE_BLOCK_END) = Cut(current);
  Wd(base, *entry, SEQE_FRESH) = taken ? 0 : 1;
  Wd(base, *entry, SEQE_FLAG) = cycles ? 1 : 0;
  Wd(base, *entry, SEQE_LEFT) = 0;
  Wd(base, *entry, SEQE_HOLDER) = 0;
  return 0;
}

// The session's entry of `sequence`, 0 when it has none.
int32_t SessionEntry(int32_t* base, int32_t usr, int32_t sequence) {
  for (int32_t e = Wd(base, usr, USR_SEQUENCE_LCB); e != 0; e = Wd(base, e, SEQS_NEXT))
    if (Wd(base, e, SEQS_ID) == sequence) return e;
  return 0;
}

// Takes `count` values of the server entry (bucket held): the first into
// *first.
int32_t TakeValues(int32_t* base, int32_t usr, int32_t entry, int32_t count, int32_t* first) {
  if (Wd(base, entry, SEQE_EXHAUSTED) != 0) return SEQ_NO_FURTHER_VALUE;
  const int64_t inc = Wd(base, entry, SEQE_INCREMENT);
  const int64_t minimum = Wd(base, entry, SEQE_MINIMUM), maximum = Wd(base, entry, SEQE_MAXIMUM);
  const bool fresh = Wd(base, entry, SEQE_FRESH) != 0;
  int64_t current = fresh ? (inc > 0 ? minimum : maximum) - inc : Wd(base, entry, SEQE_CURRENT);
  int64_t last = current + inc * count;
  bool wrapped = false;
  if (last > maximum || last < minimum) {
    // A cycling sequence starts again at its least (greatest) value, in a
    // block of its own.
    if (Wd(base, entry, SEQE_FLAG) == 1) {
      current = inc > 0 ? minimum - inc : maximum - inc;
      last = current + inc * count;
      wrapped = true;
    }
    if (!wrapped || last > maximum || last < minimum) {
      // Only a sequence without a single further value is used up; a
      // request for more values than are left takes none of them.
      const int64_t next = current + inc;
      if (count == 1 || next > maximum || next < minimum)
        Wd(base, entry, SEQE_EXHAUSTED) = 1;
      return SEQ_NO_FURTHER_VALUE;
    }
  }
  const int64_t end = fresh ? current : Wd(base, entry, SEQE_BLOCK_END);
  if (wrapped || (inc > 0 ? last > end : last < end)) {
    // A new block of max(count, 1000) values, bounded by the limit.
    const int64_t size = std::max<int64_t>(count, SEQ_BLOCK);
    int64_t new_end = current + inc * size;
    new_end = std::clamp<int64_t>(new_end, minimum, maximum);
    const int32_t rc = DSSeqSave(base, usr, Wd(base, entry, SEQE_ID), Cut(current),
                                 static_cast<int32_t>(new_end));
    if (rc != 0) return rc;
    Wd(base, entry, SEQE_BLOCK_END) = static_cast<int32_t>(new_end);
    Wd(base, entry, SEQE_LEFT) = static_cast<int32_t>(size);
  }
  Wd(base, entry, SEQE_CURRENT) = static_cast<int32_t>(last);
  Wd(base, entry, SEQE_FRESH) = 0;
  Wd(base, entry, SEQE_LEFT) -= count;
  *first = static_cast<int32_t>(current + inc);
  return 0;
}

// Runs `work` on the server entry of `sequence` under its bucket's
// semaphore: found in the list, or (when `load`) loaded from the catalog
// and linked at the head of its bucket. 1 when it is not there and not to
// be loaded; else the load's failure or what `work` answers.
template <class F>
int32_t WithEntry(int32_t* base, int32_t usr, int32_t sequence, bool load, F work) {
  const int32_t list = Wd(base, KernelSys(base), SYS_GSEQ_LIST);
  if (list == 0) return SEQ_STORAGE_EXHAUSTED;
  const int32_t bucket = HashListBucket(base, list, sequence);
  const int32_t head = HashListHead(base, list, bucket);
  EnqdeqGuard guard(HashListSemaphore(base, list, bucket));
  int32_t entry = 0;
  for (entry = sqlpool_word(base, head); entry != 0; entry = Wd(base, entry, SEQE_NEXT))
    if (Wd(base, entry, SEQE_ID) == sequence) break;
  if (entry == 0) {
    if (!load) return 1;
    if (const int32_t rc = LoadEntry(base, usr, sequence, &entry)) return rc;
    Wd(base, entry, SEQE_NEXT) = sqlpool_word(base, head);
    sqlpool_word(base, head) = entry;
  }
  return work(entry);
}

// Writes the entry's current value as its block end too, so that a later
// load goes on right after the last value handed out.
int32_t WriteBack(int32_t* base, int32_t usr, int32_t entry) {
  const int32_t current = Wd(base, entry, SEQE_CURRENT);
  const int32_t rc = DSSeqSave(base, usr, Wd(base, entry, SEQE_ID), current, current);
  if (rc != 0) return rc;
  Wd(base, entry, SEQE_BLOCK_END) = current;
  Wd(base, entry, SEQE_LEFT) = 0;
  return 0;
}

// -14722 when another session's definition statement holds the entry.
int32_t HeldByOther(int32_t* base, int32_t entry, int32_t usr) {
  const int32_t holder = Wd(base, entry, SEQE_HOLDER);
  return holder != 0 && holder != usr ? SEQ_IN_USE : 0;
}

// Ends every hold of session `usr` (a session leaving between a
// definition's description and its reset must not keep the sequence).
void EndHolds(int32_t* base, int32_t usr) {
  const int32_t list = Wd(base, KernelSys(base), SYS_GSEQ_LIST);
  if (list == 0) return;
  for (int32_t b = 0; b < Wd(base, list, HL_BUCKETS); ++b) {
    EnqdeqGuard guard(HashListSemaphore(base, list, b));
    for (int32_t e = sqlpool_word(base, HashListHead(base, list, b)); e != 0;
         e = Wd(base, e, SEQE_NEXT))
      if (Wd(base, e, SEQE_HOLDER) == usr) {
        Wd(base, e, SEQE_HOLDER) = 0;
        Wd(base, e, SEQE_MODE) = 0;
      }
  }
}

}  // namespace

int32_t DSSeqRelease(int32_t* base, int32_t usr) {
  if (!InStorage(base, usr, USR_WORDS)) return DSBadHandle(base, usr);
  EndHolds(base, usr);
  int32_t first = 0;
  for (int32_t s = Wd(base, usr, USR_SEQUENCE_LCB); s != 0;) {
    const int32_t next = Wd(base, s, SEQS_NEXT);
    const int32_t rc = WithEntry(base, usr, Wd(base, s, SEQS_ID), false, [&](int32_t entry) {
      if (--Wd(base, entry, SEQE_USE_COUNT) > 0) return 0;
      Wd(base, entry, SEQE_USE_COUNT) = 0;
      const bool unwritten = Wd(base, entry, SEQE_CURRENT) != Wd(base, entry, SEQE_BLOCK_END);
      return unwritten ? WriteBack(base, usr, entry) : 0;
    });
    if (rc < 0 && first == 0) first = rc;
    Wd(base, usr, USR_SEQUENCE_LCB) = next;
    DSGetMem(base, &s, 0);
    s = next;
  }
  return Fail(base, usr, first);
}

int32_t DSSeqInit(int32_t* base, int32_t* block, int32_t sequence, DSSeqState* state) {
  const int32_t usr = block[1];
  if (!InStorage(base, usr, USR_WORDS)) return block[0] = DSBadHandle(base, usr);
  const int32_t rc = WithEntry(base, usr, sequence, true, [&](int32_t entry) {
    if (const int32_t held = HeldByOther(base, entry, usr)) return held;
    DSSeqState s;
    s.exhausted = Wd(base, entry, SEQE_EXHAUSTED);
    s.current = Wd(base, entry, SEQE_CURRENT);
    s.minimum = Wd(base, entry, SEQE_MINIMUM);
    s.maximum = Wd(base, entry, SEQE_MAXIMUM);
    s.increment = Wd(base, entry, SEQE_INCREMENT);
    s.flag = Wd(base, entry, SEQE_FLAG) == 1 ? 0 : -1;
    s.value = s.flag == 0 ? s.current : Wd(base, entry, SEQE_BLOCK_END);
    *state = s;
    if (s.exhausted != 0) return SEQ_NO_FURTHER_VALUE;  // nothing to hand out: no hold
    Wd(base, entry, SEQE_MODE) = SEQ_INIT_MODE;
    Wd(base, entry, SEQE_HOLDER) = usr;
    return 0;
  });
  return block[0] = Fail(base, usr, rc);
}

int32_t DSSeqReset(int32_t* base, int32_t* block, int32_t sequence, int32_t value,
                   int32_t count) {
  const int32_t usr = block[1], only_load = block[0] == SEQ_RESET_LOAD;
  if (!InStorage(base, usr, USR_WORDS)) return block[0] = DSBadHandle(base, usr);
  const int32_t rc = WithEntry(base, usr, sequence, true, [&](int32_t entry) {
    if (const int32_t held = HeldByOther(base, entry, usr)) return held;
    int32_t rc = 0;
    Wd(base, entry, SEQE_MODE) = SEQ_RESET_MODE;
    if (!only_load) {
      if (count < 1) {
        Wd(base, entry, SEQE_CURRENT) = value;
        Wd(base, entry, SEQE_FRESH) = 0;
        Wd(base, entry, SEQE_EXHAUSTED) = 0;
      } else {
        Wd(base, entry, SEQE_EXHAUSTED) = 1;
      }
      rc = WriteBack(base, usr, entry);
      if (const int32_t s = SessionEntry(base, usr, sequence); s != 0 && rc == 0)
        Wd(base, s, SEQS_VALUE) = Wd(base, entry, SEQE_CURRENT);
    }
    Wd(base, entry, SEQE_MODE) = 0;
    Wd(base, entry, SEQE_HOLDER) = 0;
    return rc;
  });
  return block[0] = Fail(base, usr, rc);
}

int32_t DSSeqSave(int32_t* base, int32_t usr, int32_t sequence, int32_t current,
                  int32_t block_end) {
  const int32_t rc = InTransaction(base, usr, [&] {
    SequenceRow row(base, usr);
    if (row.status() != 0) return row.status();
    if (const int32_t r = row.Read(sequence)) return r;
    return row.Update(current, block_end);
  });
  return Fail(base, usr, rc);
}

int32_t DSSeqValue(int32_t* base, int32_t* block, int32_t sequence, int32_t count,
                   int32_t* value) {
  const int32_t usr = block[1];
  if (!InStorage(base, usr, USR_WORDS)) return block[0] = DSBadHandle(base, usr);
  if (block[0] == SEQ_CURRENT) {
    const int32_t s = SessionEntry(base, usr, sequence);
    if (s == 0 || Wd(base, s, SEQS_VALID) == 0) return block[0] = Fail(base, usr, SEQ_NO_CURRENT_VALUE);
    *value = Wd(base, s, SEQS_VALUE);
    return block[0] = 0;
  }
  const int32_t kind = block[0];
  if (count < 1) count = 1;
  if (count > 1 && sequence != SEQ_MANY_ALLOWED)
    return block[0] = Fail(base, usr, SEQ_MANY_REFUSED);
  int32_t first = 0;
  const int32_t rc = WithEntry(base, usr, sequence, true, [&](int32_t entry) {
    if (const int32_t held = HeldByOther(base, entry, usr)) return held;
    Wd(base, entry, SEQE_MODE) = kind;
    int32_t rc = TakeValues(base, usr, entry, count, &first);
    if (rc == 0) {
      int32_t s = SessionEntry(base, usr, sequence);
      if (s == 0) {
        DSGetMem(base, &s, SEQS_BYTES);
        if (s == 0) {
          rc = SEQ_STORAGE_EXHAUSTED;
        } else {
          Wd(base, s, SEQS_ID) = sequence;
          Wd(base, s, SEQS_NEXT) = Wd(base, usr, USR_SEQUENCE_LCB);
          Wd(base, usr, USR_SEQUENCE_LCB) = s;
          ++Wd(base, entry, SEQE_USE_COUNT);
        }
      }
      if (s != 0) {
        Wd(base, s, SEQS_VALUE) = first;
        Wd(base, s, SEQS_VALID) = 1;
      }
    }
    return rc;
  });
  if (rc != 0) return block[0] = Fail(base, usr, rc);
  *value = first;
  return block[0] = 0;
}

int32_t DSSeqRuntimeValue(int32_t* base, int32_t usr, int32_t mode, int32_t sequence,
                          int32_t* value) {
  int32_t block[2] = {mode, usr};
  return DSSeqValue(base, block, sequence, 1, value);
}
