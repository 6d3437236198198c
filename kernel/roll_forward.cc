// DSTabScan1 and DSTabScan2: the roll-forward of a databank from the log.
// The log the databank kernel writes holds each committed transaction's
// records together, ended by its commit record (type 21, the write set's
// header): a transaction is the records since the previous commit record.
#include "kernel/roll_forward.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "dk/background_threads.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/control_words.h"
#include "dk/databank_file.h"
#include "dk/request.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "kernel/control_blocks.h"
#include "kernel/databank_control.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"

namespace {

constexpr int32_t kReadNext = 34, kReadPrevious = 35, kRootPage = 51;
constexpr int32_t kOpenTable = 45, kCloseTable = 13, kCreateTable = 16, kDropTable = 24;
constexpr int32_t kTooManyTables = -14, kNoSuchTable = -50, kRecordSkipped = -67;
constexpr char kNoLower[] = "0000000000000000";
constexpr char kNoUpper[] = "9999999999999999";

// The entry routine of a table-bound record type; 0 for none.
int32_t EntryCode(int32_t type) {
  switch (type) {
    case 1:
      return 38;  // insert
    case 2:
      return 55;  // update
    case 4:
      return 20;  // delete
    case 5:
      return 22;
    case 6:
      return 41;
    case 7:
      return 18;
    case 10:
      return 3;
    case 11:
      return 17;
    case 23:
      return 56;
    case 24:
      return 4;
    default:
      return 0;
  }
}

std::atomic<size_t> g_kept_words{size_t{1} << 20};

bool PassedOver(int32_t type) {
  return (type >= 12 && type <= 21) || type == 25 || type == 26;
}

struct OpenTable {
  int32_t handle = 0;  // -1: the table does not exist
  int32_t skipped = 0;
};

struct Scan {
  Scan(int32_t* b, int32_t l, int32_t* block) : base(b), lid(l), reader{block} {}
  int32_t* base;
  int32_t lid;
  LogReader reader;
  std::unordered_map<int32_t, OpenTable> tables;
  std::vector<int32_t> request;  // the redo request
  int32_t redone = 0;
  bool bad_type_reported = false;

  // Opens the table of a record with the kind and the key and record
  // lengths it carries.
  int32_t Open(const int32_t* rec, OpenTable* t) {
    const int32_t tbl = rec[LOGREC_TBL];
    for (int attempt = 0; attempt < 2; ++attempt) {
      int32_t b[CRT_WORDS] = {};
      b[RQ_STATUS] = 3;
      b[RQ_DID] = lid;
      b[OPT_KIND] = rec[LOGREC_KIND];
      b[RQ_TBL] = tbl;
      b[RQ_KEY_LENGTH] = rec[RQ_KEY_LENGTH];
      b[RQ_RECORD_LENGTH] = rec[RQ_RECORD_LENGTH];
      DKEXE1(kOpenTable, b);
      const int32_t rc = b[RQ_STATUS];
      if (rc == 0) {
        t->handle = b[RQ_TABLE];
        return 0;
      }
      if (rc == kTooManyTables && attempt == 0) {
        // Room made by closing the open tables; their entries (and the
        // caller's *t) stay, so skipped records are still reported once.
        CloseHandles();
        continue;
      }
      if (rc == kNoSuchTable) {
        t->handle = -1;
        return 0;
      }
      if (rc == kRecordSkipped) {
        ++t->skipped;
        return 1;
      }
      // Held by another user in a mode that excludes the redo.
      if (rc > 0) return DCB_IN_USE;
      return rc - DK_ERROR_BIAS;
    }
    return 0;
  }

  // Closes every open table (to be opened again when needed); the first
  // close error, reported.
  int32_t CloseHandles() {
    int32_t first = 0;
    for (auto& [tbl, t] : tables) {
      if (t.handle <= 0) continue;
      const int32_t rc = CloseTable(t.handle, tbl);
      t.handle = 0;
      if (rc != 0 && first == 0) {
        first = rc;
        DSErrRep2("DSTabScan", 9, rc, SEV_ERROR, &tbl, 1);
      }
    }
    return first;
  }

  // Closes every open table and reports the tables whose records were
  // skipped, each once; the first close error.
  int32_t CloseAll() {
    const int32_t first = CloseHandles();
    for (auto& [tbl, t] : tables) {
      if (t.skipped > 0)
        DSErrRep2("DSTabScan", 9, t.handle == -1 ? RFW_SKIPPED_NO_TABLE : RFW_SKIPPED_RECORDS,
                  SEV_WARNING, &tbl, 1);
    }
    tables.clear();
    return first;
  }

  int32_t RedoRecord(const int32_t* rec, int32_t length) {
    const int32_t type = rec[LOGREC_TYPE];
    const size_t words = std::max<size_t>(length, CRT_WORDS);
    std::fill(request.begin(), request.begin() + std::min(request.size(), words), 0);
    if (request.size() < words + 256) request.resize(words + 256, 0);
    std::copy(rec, rec + length, request.begin());
    request[RQ_STATUS] = 0;
    if (type == 9) {
      DKEXE1(kCreateTable, request.data());
      if (request[RQ_STATUS] < 0) return request[RQ_STATUS] - DK_ERROR_BIAS;
      if (request[RQ_STATUS] == 0) CloseTable(request[RQ_TABLE], request[RQ_TBL]);
      ++redone;
      return 0;
    }
    const int32_t tbl = rec[LOGREC_TBL];
    OpenTable& t = tables[tbl];
    if (t.handle == 0) {
      const int32_t rc = Open(request.data(), &t);
      if (rc < 0) return rc;
      if (rc > 0) return 0;
    }
    if (t.handle == -1) {
      ++t.skipped;
      return 0;
    }
    int32_t code = EntryCode(type);
    if (type == 8) code = kDropTable;
    if (type == 3) return 0;
    if (code == 0 || rec[LOGREC_KIND] == 6) {
      if (!bad_type_reported) DSErrRep2("DSTabScan", 9, RFW_BAD_RECORD_TYPE, SEV_ERROR, &type, 1);
      bad_type_reported = true;
      return 0;
    }
    request[RQ_TABLE] = t.handle;
    DKEXE1(code, request.data());
    const int32_t rc = request[RQ_STATUS];
    if (rc == kRecordSkipped) {
      ++t.skipped;
      return 0;
    }
    if (rc < 0) return rc - DK_ERROR_BIAS;
    if (type == 8) {
      CloseTable(t.handle, tbl);
      tables.erase(tbl);
    }
    ++redone;
    return 0;
  }

  // Redoes the transaction whose first record follows position (page, word).
  int32_t Redo(int32_t page, int32_t word) {
    reader.block[SETRQ_PAGE] = page;
    reader.block[SETRQ_POSITION] = word;
    for (;;) {
      const int32_t rc = reader.Next();
      if (rc != 0) return rc < 0 ? rc : 0;
      const int32_t* rec = reader.Record();
      const int32_t type = rec[LOGREC_TYPE];
      if (type == LOGREC_COMMIT) return 0;
      if (reader.Length() <= LOGREC_TBL || rec[LOGREC_LID] != lid || PassedOver(type)) continue;
      if (const int32_t r = RedoRecord(rec, reader.Length()); r != 0) return r;
    }
  }

  // The records of the pending transaction kept as they were read (each
  // its length, then its words), while they fit; a transaction larger than
  // that is read again from its first record at its commit.
  std::vector<int32_t> kept;
  bool overflow = false;

  void Keep(const int32_t* rec, int32_t length) {
    if (overflow) return;
    if (kept.size() + length + 1 > g_kept_words.load(std::memory_order_relaxed)) {
      overflow = true;
      kept.clear();
      return;
    }
    kept.push_back(length);
    kept.insert(kept.end(), rec, rec + length);
  }

  int32_t RedoKept() {
    for (size_t at = 0; at < kept.size();) {
      const int32_t length = kept[at];
      if (const int32_t r = RedoRecord(kept.data() + at + 1, length); r != 0) return r;
      at += 1 + static_cast<size_t>(length);
    }
    return 0;
  }

  void Rewind() {
    reader.block[SETRQ_PAGE] = 0;
    reader.block[SETRQ_POSITION] = 0;
  }
  // The next record: false at the end of the log or on a read error (in
  // *status).
  bool NextRecord(int32_t* status) {
    const int32_t rc = reader.Next();
    if (rc == 0) return true;
    *status = rc < 0 ? rc : 0;
    return false;
  }
  // The scan's end: every table closed; the failure or the count redone.
  int32_t Finish(int32_t status) {
    const int32_t closed = CloseAll();
    return status != 0 ? status : closed != 0 ? closed : redone;
  }

  // Reading mode 9: a backup's copy of the databank's log records holds
  // committed work only, in order: every record is redone in one pass.
  int32_t RunOnePass() {
    Rewind();
    int32_t status = 0;
    while (NextRecord(&status)) {
      const int32_t* rec = reader.Record();
      const int32_t length = reader.Length();
      if (length <= LOGREC_TBL || rec[LOGREC_LID] != lid || PassedOver(rec[LOGREC_TYPE])) continue;
      if ((status = RedoRecord(rec, length)) != 0) break;
    }
    return Finish(status);
  }

  int32_t Run(const char* lower, const char* upper) {
    const bool low_bound = std::memcmp(lower, kNoLower, COMMIT_KEY_BYTES) != 0;
    const bool high_bound = std::memcmp(upper, kNoUpper, COMMIT_KEY_BYTES) != 0;
    bool pending = false;
    int32_t first_page = 0, first_word = 0;
    Rewind();
    int32_t status = 0;
    for (;;) {
      const int32_t page = reader.block[SETRQ_PAGE], word = reader.block[SETRQ_POSITION];
      if (!NextRecord(&status)) break;
      const int32_t* rec = reader.Record();
      const int32_t length = reader.Length();
      if (rec[LOGREC_TYPE] != LOGREC_COMMIT) {
        if (length <= LOGREC_LID || rec[LOGREC_LID] != lid) continue;
        if (!pending) {
          pending = true;
          first_page = page;
          first_word = word;
          kept.clear();
          overflow = false;
        }
        if (length > LOGREC_TBL && !PassedOver(rec[LOGREC_TYPE])) Keep(rec, length);
        continue;
      }
      if (!pending) continue;
      pending = false;
      const char* key = reinterpret_cast<const char*>(rec + LOGREC_COMMIT_KEY);
      const bool has_key = length >= LOGREC_COMMIT_KEY + COMMIT_KEY_BYTES / 4;
      const bool in_range =
          (!low_bound || (has_key && std::memcmp(key, lower, COMMIT_KEY_BYTES) >= 0)) &&
          (!high_bound || (has_key && std::memcmp(key, upper, COMMIT_KEY_BYTES) <= 0));
      if (!in_range) continue;
      if (!overflow) {
        if ((status = RedoKept()) != 0) break;
        continue;
      }
      const int32_t here_page = reader.block[SETRQ_PAGE], here_word = reader.block[SETRQ_POSITION];
      if ((status = Redo(first_page, first_word)) != 0) break;
      reader.block[SETRQ_PAGE] = here_page;
      reader.block[SETRQ_POSITION] = here_word;
    }
    return Finish(status);
  }
};

void Fail(int32_t* base, int32_t* request, int32_t status, int32_t lid) {
  request[RFW_MODE] = status;
  const int32_t usr = request[RFW_USR];
  if (!InStorage(base, usr, USR_WORDS)) return;
  Wd(base, usr, USR_RVEC_RCODE) = status;
  Wd(base, usr, USR_RVEC_LID) = lid;
  Wd(base, usr, USR_RVEC_SEQNO) = -1;
  Wd(base, usr, USR_RVEC_BITVEC) = RVEC_MASK_DATABANK;
}

// The databank's DCB, held alone unless it is the system databank; 0 or
// the failure.
int32_t HeldAlone(int32_t* base, int32_t lid, int32_t* did) {
  int32_t rq[OPD_WORDS] = {5, lid};
  DSOpenDcb(base, rq);
  if (rq[OPD_KIND] != 0 || rq[OPD_DCB] == 0) return rq[OPD_KIND] < 0 ? rq[OPD_KIND] : DCB_NO_ROW;
  *did = rq[OPD_DID];
  if (lid != 1 && Wd(base, rq[OPD_DCB], DCB_ACCESS_MODE) != 1) return DCB_NOT_EXCLUSIVE;
  return 0;
}

// A root-page request (DKROO1) on the databank `entry` of logical id
// `lid`: the answer, the header words in `roo`.
int32_t RootPage(int32_t code, int32_t entry, int32_t lid, int32_t* roo, int32_t seqno = -1,
                 int32_t stamp = 0) {
  std::memset(roo, 0, sizeof(int32_t) * ROO_WORDS);
  roo[ROO_CODE] = code;
  roo[ROO_DATABANK] = entry;
  roo[ROO_OTHER_DID] = lid;
  roo[ROO_STAMP] = stamp;
  roo[ROO_SEQNO] = seqno;
  DKEXE1(kRootPage, roo);
  return roo[ROO_CODE];
}

int32_t RootFailure(int32_t rc) {
  return rc < 0 ? rc - DK_ERROR_BIAS : DCB_NO_ROW;
}

// Where the log comes from and what it says of the databank.
struct LogChoice {
  int32_t lid = LOG_LID;
  bool one_pass = false;  // reading mode 9: a backup's copy, redone in one pass
  int32_t stamp = 0;      // the restore time stamp the log records for the databank
};

// Steps 3 to 5: the databank's root, the log's, and their sequence check.
// 0 or the failure; *set_back false when the root must stay as it is.
int32_t ChooseLog(int32_t* base, const int32_t* request, bool limited, int32_t did,
                  int32_t* seqno, LogChoice* log, bool* set_back) {
  const int32_t mode = request[RFW_MODE], lid = request[RFW_LID];
  int32_t roo[ROO_WORDS];
  if (int32_t rc = RootPage(1, did, lid, roo); rc != 0) return RootFailure(rc);
  const int32_t own = roo[ROO_STAMP];
  *seqno = roo[ROO_SEQNO];
  if (!limited && mode != 0) {
    log->lid = request[RFW_LOG_LID];
    int32_t log_did = 0;
    if (int32_t rc = HeldAlone(base, log->lid, &log_did)) return rc;
    if (int32_t rc = RootPage(1, log_did, log->lid, roo); rc != 0) return RootFailure(rc);
    if (roo[ROO_DID] == LOG_LID) {
      // A copy of the LOG databank: its own restore directory.
      const int32_t rc = RootPage(14, log_did, lid, roo);
      if (rc < 0) return rc - DK_ERROR_BIAS;
      log->stamp = roo[ROO_STAMP];
    } else {
      // A backup's copy of the records: its header carries the stamp.
      log->one_pass = true;
      log->stamp = roo[ROO_STAMP];
    }
  } else {
    int32_t rq[OPD_WORDS] = {5, LOG_LID};
    DSOpenDcb(base, rq);
    if (rq[OPD_KIND] != 0 || rq[OPD_DCB] == 0) return rq[OPD_KIND] < 0 ? rq[OPD_KIND] : DCB_NO_ROW;
    const int32_t rc = RootPage(4, rq[OPD_DID], lid, roo);
    if (rc < 0) return rc - DK_ERROR_BIAS;
    log->stamp = roo[ROO_STAMP];
  }
  // The log matches the databank in the states the databank kernel's own
  // open accepts: the databank's stamp is the log's or one past it.
  const bool matches = log->stamp == own || log->stamp == own - 1;
  const bool ahead = limited && log->stamp == own + 1;
  const bool accepted = limited ? ahead || (matches && mode >= 1) : matches;
  if (!accepted) return RFW_SEQUENCE_MISMATCH;
  *set_back = !ahead;
  return 0;
}

void RollForward(int32_t* base, int32_t* request, bool limited) {
  if (KernelSys(base) == 0) {
    request[RFW_MODE] = KERNEL_NOT_STARTED;
    return;
  }
  const int32_t lid = request[RFW_LID];
  int32_t did = 0;
  int32_t rc = HeldAlone(base, lid, &did);
  if (rc != 0) return Fail(base, request, rc, lid);
  request[RFW_DID] = did;
  LogChoice log;
  int32_t seqno = -1;
  bool set_back = true;
  if ((rc = ChooseLog(base, request, limited, did, &seqno, &log, &set_back)) != 0)
    return Fail(base, request, rc, rc == RFW_SEQUENCE_MISMATCH ? lid : log.lid);
  const int32_t words = LogBlockWords();
  int32_t block = 0;
  DSGetMemRaw(base, &block, 4 * words);
  if (block == 0) return Fail(base, request, SQLPOOL_EXHAUSTED_ERROR, lid);
  int32_t* b = &Wd(base, block, 0);
  std::memset(b, 0, 4 * static_cast<size_t>(words));
  bool borrowed = false;
  rc = log.one_pass ? OpenSet(b, 4, log.lid, BACKUP_COPY_TABLE, &borrowed)
                    : OpenLog(b, 4, log.lid, &borrowed);
  if (rc != 0) {
    DSGetMem(base, &block, 0);
    return Fail(base, request, rc, log.lid);
  }
  // The databank is marked as being rolled forward: its sequence number
  // written again (the caller's, word 4, when it names one).
  int32_t roo[ROO_WORDS];
  const int32_t mark = request[RFW_SEQNO] > 0 ? request[RFW_SEQNO] : seqno;
  rc = RootPage(12, did, lid, roo, mark);
  char lower[COMMIT_KEY_BYTES], upper[COMMIT_KEY_BYTES];
  if (limited) {
    std::memcpy(lower, request + RFW_LOWER_KEY, COMMIT_KEY_BYTES);
    std::memcpy(upper, request + RFW_UPPER_KEY, COMMIT_KEY_BYTES);
  } else {
    std::memcpy(lower, kNoLower, COMMIT_KEY_BYTES);
    std::memcpy(upper, kNoUpper, COMMIT_KEY_BYTES);
  }
  int32_t status = rc < 0 ? rc - DK_ERROR_BIAS : rc > 0 ? DCB_NO_ROW : 0;
  if (status == 0) {
    Scan scan(base, lid, b);
    scan.request.assign(LOG_BUFFER_WORDS + 256, 0);
    status = log.one_pass ? scan.RunOnePass() : scan.Run(lower, upper);
  }
  // The root is set back: the databank's stamp one past the log's, which
  // the next open of the databank brings the log's record up to.
  if (status >= 0 && set_back) {
    rc = RootPage(3, did, lid, roo, -1, log.stamp);
    if (rc != 0) status = RootFailure(rc);
  }
  const int32_t closed = borrowed ? 0 : CloseTable(b[SETRQ_TABLE], b[SETRQ_TBL]);
  DSGetMem(base, &block, 0);
  const int32_t result = status < 0 ? status : closed != 0 ? closed : status;
  if (result < 0) return Fail(base, request, result, lid);
  request[RFW_MODE] = result;
}

}  // namespace

void SetRollForwardKeep(int32_t words) {
  g_kept_words.store(static_cast<size_t>(std::max(words, 0)), std::memory_order_relaxed);
}

int32_t LogBlockWords() {
  return std::max(LOG_BLOCK_BYTES / 4, SetRequestBlockWords());
}

int32_t LogReader::Next(bool backwards) {
  block[SETRQ_RC] = 0;
  block[SETRQ_LENGTH] = LOG_BUFFER_WORDS;
  DKEXE1(backwards ? kReadPrevious : kReadNext, block);
  const int32_t rc = block[SETRQ_RC];
  if (rc > 0) return 1;
  if (rc < 0) return rc - DK_ERROR_BIAS;
  return 0;
}

int32_t LogReader::Length() const {
  return std::clamp(block[SETRQ_LENGTH], 0, LOG_BUFFER_WORDS);
}

int32_t OpenLog(int32_t* block, int32_t access, int32_t lid, bool* borrowed) {
  return OpenSet(block, access, lid, LOG_TABLE, borrowed);
}

int32_t OpenSet(int32_t* block, int32_t access, int32_t lid, int32_t tbl, bool* borrowed) {
  int32_t b[CRT_WORDS] = {};
  b[RQ_STATUS] = access;
  b[RQ_DID] = lid;
  b[OPT_KIND] = LOG_TABLE_KIND;
  b[RQ_TBL] = tbl;
  DKEXE1(kOpenTable, b);
  *borrowed = false;
  int32_t table = b[RQ_TABLE];
  if (b[RQ_STATUS] == kStatusModeConflict && tbl == LOG_TABLE) {
    // The databank kernel holds the log it writes alone: its own entry is
    // read, and stays open.
    const int32_t* a = Bufferpool();
    const int32_t own = a == nullptr ? 0 : LoadWord(BP_LOG_TABLE);
    const int32_t databank = own > 0 ? a[own + TBE_DATABANK] : 0;
    if (own <= 0 || a[own + TBE_TBL] != LOG_TABLE || !DKIsDatabankEntry(databank) ||
        a[databank + DBE_DID] != lid)
      return RFW_LOG_NOT_OPENED;
    table = own;
    *borrowed = true;
  } else if (b[RQ_STATUS] != 0) {
    return RFW_LOG_NOT_OPENED;
  }
  block[SETRQ_TABLE] = table;
  block[SETRQ_TBL] = tbl;
  block[SETRQ_PAGE] = 0;
  block[SETRQ_POSITION] = 0;
  return 0;
}

int32_t CloseTable(int32_t table, int32_t tbl) {
  int32_t b[CRT_WORDS] = {};
  b[RQ_TABLE] = table;
  b[RQ_TBL] = tbl;
  DKEXE1(kCloseTable, b);
  return b[RQ_STATUS] < 0 ? b[RQ_STATUS] - DK_ERROR_BIAS : 0;
}

void DSTabScan1(int32_t* base, int32_t* request) {
  RollForward(base, request, false);
}

void DSTabScan2(int32_t* base, int32_t* request) {
  RollForward(base, request, true);
}
