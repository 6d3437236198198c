// DSLoadTableDesc: runs the thread's STM_MOS_TABLEX statement row by row and
// writes the table's description list into the thread's CDITCB. Every word
// goes through one bounded writer, so a description past the 1250 words of
// CDITCB (or past 32 packed-decimal parts of an entry) ends in an error with
// nothing written beyond the area.
#include "kernel/table_description.h"

#include <string>
#include <utility>
#include <vector>

#include "kernel/control_blocks.h"
#include "kernel/statement_columns.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "platform/numeric_services.h"

namespace {

struct Loader {
  int32_t* base;
  int32_t sys;
  int32_t thr;
  int32_t stm;
  int32_t usr;
  int32_t list;     // CDITCB
  int32_t end = 0;  // the list's end, a word offset from `list`
  int32_t status = 0;
  std::string kind_text;  // column 13; a null column keeps the previous text

  void Put(int32_t at, int32_t value) {
    if (status != 0) return;
    if (at < 0 || at >= CDITCB_WORDS) {
      status = DESC_TOO_LARGE;
      return;
    }
    Wd(base, list, at) = value;
  }
  int32_t Int(int32_t n) {
    int32_t st = 0, v = 0;
    DSGetColInt(base, &st, stm, n, &v);
    return v;
  }
  bool Null(int32_t n) {
    uint8_t* f = nullptr;
    int32_t len = 0;
    return StatementField(base, stm, true, n, &f, &len) != 0 || f[0] == 255;
  }
  // The text of column n, or `previous` when it is null.
  std::string Text(int32_t n, std::string previous = {}) {
    uint8_t* f = nullptr;
    int32_t len = 0;
    if (StatementField(base, stm, true, n, &f, &len) != 0 || f[0] == 255) return previous;
    return std::string(reinterpret_cast<const char*>(f + 1), len - 1);
  }
  static bool Begins(const std::string& text, const char* literal) {
    return text.rfind(literal, 0) == 0;
  }
  int32_t Pc() { return Wd(base, stm, STM_PC); }

  // One run of the statement on the thread's own session, its TP cut for the run.
  bool Run() {
    int32_t result[1 + RVEC_WORDS] = {};
    const int32_t tp = Wd(base, usr, USR_TP);
    Wd(base, usr, USR_TP) = 0;
    UpDAMAE2(base, result, stm, usr);
    Wd(base, usr, USR_TP) = tp;
    status = result[0];
    return status == 0;
  }
  void Header(int32_t ixtype, int32_t table, int32_t lid, int32_t keylen, int32_t reclen,
              int32_t constraint) {
    Put(DESC_IXTYPE, ixtype);
    Put(DESC_TABLE, table);
    Put(DESC_LID, lid);
    Put(DESC_TYPE, 1);
    Put(DESC_KEYLEN, keylen);
    Put(DESC_RECLEN, reclen);
    Put(DESC_SIX, 3);
    Put(DESC_CONSTRAINT, constraint);
  }
  bool IndexEntry(int32_t lid, int32_t keylen, int32_t reclen, int32_t trailing);
};

// An index or constraint: this row and the k - 1 rows after it are its key
// columns. Returns false when the load ends (error, or no further row).
bool Loader::IndexEntry(int32_t lid, int32_t keylen, int32_t reclen, int32_t trailing) {
  int32_t kind;
  if (Begins(kind_text, "FOREIGN KEY")) {
    kind = Begins(Text(26), "NO ACTION") ? DESC_KIND_FK_NO_ACTION : DESC_KIND_FOREIGN_KEY;
  } else if (Begins(kind_text, "UNIQUE")) {
    kind = DESC_KIND_UNIQUE;
  } else if (Begins(kind_text, "INDEX")) {
    kind = Begins(Text(17), "YES") ? DESC_KIND_INDEX_YES : DESC_KIND_INDEX;
  } else {
    status = DESC_UNKNOWN_KIND;
    return false;
  }
  const bool foreign = kind == DESC_KIND_FK_NO_ACTION || kind == DESC_KIND_FOREIGN_KEY;
  const int32_t e = end;
  Put(e, kind);
  Put(e + IXE_NUMBER, Int(8));
  Put(e + IXE_LID, lid);
  Put(e + IXE_TYPE, 2);
  Put(e + IXE_KEYLEN, Int(9));
  Put(e + IXE_ENTRYLEN, Int(11));
  Put(e + IXE_FK_TABLE, foreign ? Int(14) : 0);
  Put(e + IXE_FK_INDEX, foreign ? (Begins(Text(16), "PRIMARY KEY") ? Int(14) : Int(15)) : 0);
  Put(e + IXE_DIRTY, Begins(Text(25), "YES") ? 0 : 1);
  Put(e + IXE_CONSTRAINT, Int(8));
  int32_t k = Int(10);
  int32_t at = e + IXE_PARTS;
  auto part = [&](int32_t offset, int32_t length, int32_t marker) {
    Put(at, offset);
    Put(at + 1, length);
    Put(at + 2, marker);
    at += 3;
  };
  std::vector<std::pair<int32_t, int32_t>> decimals;
  bool more = true;
  for (;;) {
    int32_t marker = Begins(Text(18), "YES") ? 0 : -1;
    if (!Null(19) && Int(19) != 0) marker = marker == -1 ? -Int(19) : Int(19);
    part(Int(21), Int(22), marker);
    if (!Null(23)) {
      if (decimals.size() == DESC_MAX_DECIMAL_PARTS && status == 0) status = DESC_TOO_LARGE;
      int32_t st = 0, high = 0, low = 0;
      DSGetColInt64(base, &st, stm, 24, &high, &low);
      decimals.emplace_back(Int(23), decimal_bytes_of_int(low));
    }
    if (status != 0) return false;
    if (--k <= 0) break;
    if (!Run()) return false;
    // Fewer key-column rows than announced: the entry ends with what came.
    if (Pc() == 0) {
      more = false;
      break;
    }
  }
  part(0, keylen, 1);
  if (trailing != 0) part(trailing, reclen - trailing, 2);
  for (auto it = decimals.rbegin(); it != decimals.rend(); ++it) part(it->first, it->second, 2);
  // c counts word 10 through the entry's end word, both included.
  Put(e + IXE_COUNT, at + 1 - (e + IXE_COUNT));
  Put(at, DESC_END);
  end = at + 1;
  return status == 0 && more;
}

}  // namespace

void DSLoadTableDesc(int32_t* base, int32_t* status, int32_t* open) {
  const int32_t sys = KernelSys(base);
  if (sys == 0) {
    *status = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t thr = CurrentThread();
  if (!InStorage(base, thr, THR_WORDS)) {
    *status = KERNEL_NO_THREAD;
    Wd(base, sys, SYS_RVEC) = *status;
    return;
  }
  Loader l{base,
           sys,
           thr,
           Wd(base, thr, THR_STM_MOS_TABLEX),
           thr + THR_USR_START,
           Wd(base, thr, THR_CDITCB),
           0,
           0,
           {}};
  if (!InStorage(base, l.list, CDITCB_WORDS)) {
    *status = KERNEL_BAD_PARAMETER;
    Wd(base, sys, SYS_RVEC) = *status;
    return;
  }
  const int32_t table = open[OPEN_TABLE];
  if (open[OPEN_LID] == OPEN_FIXED_LID) {
    l.Header(1, table, open[OPEN_LID], open[OPEN_KEYLEN], open[OPEN_RECLEN], table + 1);
    l.Put(DESC_HEADER_WORDS, DESC_END);
    open[OPEN_DESCRIPTION] = l.list;
    *status = 0;
    return;
  }
  DSSetParInt(base, &l.status, l.stm, 1, table);
  if (l.status == 0) {
    Wd(base, l.stm, STM_PC) = 2;
    l.Run();
  }
  if (l.status != 0) {
    *status = l.status;
    Wd(base, sys, SYS_RVEC) = *status;
    return;
  }
  const int32_t keylen = l.Int(1), reclen = l.Int(3), lid = l.Int(4), constraint = l.Int(6);
  // A table without a trailing part holds NULL there; a start outside the
  // record would describe bytes the record does not have.
  const int32_t trailing = l.Null(7) ? 0 : l.Int(7);
  if (trailing < 0 || trailing > reclen) {
    *status = DESC_TOO_LARGE;
    Wd(base, sys, SYS_RVEC) = *status;
    return;
  }
  open[OPEN_KEYLEN] = keylen;
  open[OPEN_RECLEN] = reclen;
  open[OPEN_LID] = lid;
  open[OPEN_DESCRIPTION] = l.list;
  l.Header(Loader::Begins(l.Text(5), "PRIMARY KEY") ? 1 : 2, table, lid, keylen, reclen,
           constraint);
  l.end = DESC_HEADER_WORDS;
  int32_t lob = -1, lob_count = 0;
  while (l.status == 0 && l.Pc() != 0) {
    l.kind_text = l.Text(13, l.kind_text);
    if (Loader::Begins(l.kind_text, "LOBCOLUMNS")) {
      if (lob < 0) lob = l.end;
      l.Put(lob + 3 + 2 * lob_count, l.Int(20));
      l.Put(lob + 4 + 2 * lob_count, l.Int(21));
      ++lob_count;
    } else if (Loader::Begins(l.kind_text, "REFERENCE")) {
      l.Put(l.end, DESC_KIND_REFERENCE);
      l.Put(l.end + 1, l.Int(15));
      l.Put(l.end + 2, l.Int(14));
      l.Put(l.end + 3, Loader::Begins(l.Text(16), "PRIMARY KEY") ? table : l.Int(8));
      l.end += REFERENCE_WORDS;
    } else if (!l.IndexEntry(lid, keylen, reclen, trailing)) {
      break;
    }
    if (l.status == 0) l.Run();
  }
  if (l.status == 0) {
    if (lob >= 0) {
      l.Put(lob, DESC_KIND_LOB);
      l.Put(lob + 1, lob_count);
      l.Put(lob + 2, lob_count);
      l.Put(lob + 3 + 2 * lob_count, DESC_END);
    } else {
      l.Put(l.end, DESC_END);
    }
  }
  *status = l.status;
  if (*status != 0) Wd(base, sys, SYS_RVEC) = *status;
}
