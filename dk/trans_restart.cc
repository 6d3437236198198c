// The restart of the TRANS databank at its open (DKRST1): the committed
// transactions that the commit set still holds become records of the restart
// sets of the databanks they change, in commit order through a restart
// directory, and the commit set is emptied. The databanks' own opens replay
// those sets (DKRSD1).
#include <optional>
#include <set>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/commit_write_set.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/databank_operations.h"
#include "dk/databank_restart.h"
#include "dk/error_log.h"
#include "dk/in_doubt_transactions.h"
#include "dk/request.h"
#include "dk/set_pages.h"
#include "dk/set_requests.h"
#include "dk/set_table.h"
#include "dk/table_cursor.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "dk/transactions.h"
#include "platform/enqdeq.h"

namespace {

constexpr int32_t kPrepared = 6;       // a distributed transaction that was prepared
constexpr int32_t kPreparedSet = 167;  // TRANS set of prepared write sets
constexpr int32_t kLogSet = 3;         // the LOG databank's restart set
constexpr int32_t kAppendMode = 1;     // the order value the appended pages join
constexpr int32_t kLogged = 3;         // databank type of a logged databank

// Directory record: the key (class word, number most significant byte
// first), then the positions of the group's first record and header.
constexpr int32_t DIR_CLASS = 0, DIR_NUMBER = 1, DIR_FIRST_PAGE = 2, DIR_FIRST_POS = 3,
                  DIR_HEADER_PAGE = 4, DIR_HEADER_POS = 5, DIR_WORDS = 6;
constexpr int32_t kDirKeyBytes = 8, kDirRecordBytes = 4 * DIR_WORDS;

int32_t Index() {
  static const int32_t index = dkset::RoutineIndex("DKRST1");
  return index;
}

// A corrupt or ambiguous commit set ends the server: severity 7.
int32_t Corrupt(int32_t value) {
  DKReportError(Index(), -72, DK_SEV_INTERNAL, &value, LoadWord(BP_TRANS_ENTRY));
  return -72;
}

struct Group {
  int32_t id = 0;
  int32_t first_page = 0, first_pos = 0;
  int32_t header_page = 0, header_pos = 0;
  std::set<int32_t> pages;
  int32_t records = 0;  // its header included
  std::vector<int32_t> header;
  int32_t Word(int32_t w) const {
    return static_cast<size_t>(w) < header.size() ? header[static_cast<size_t>(w)] : 0;
  }
};

struct Restart {
  int32_t commit_set = 0;
  int32_t directory = 0;
  int32_t highest = 0;  // the highest restart stamp met so far
  int32_t records = 0;  // records in the commit set, a bound of every walk
  std::optional<Group> open, held;
  bool first_closed = false;
  std::vector<int32_t> set_block;
  std::set<int32_t> dids;  // restart sets that took records
};

std::vector<int32_t> NewSetBlock(int32_t table) {
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  b[SETRQ_TABLE] = table;
  b[SETRQ_TBL] = Bufferpool()[table + TBE_TBL];
  return b;
}

void PutBigEndian(int32_t* word, uint32_t value) {
  auto* bytes = reinterpret_cast<uint8_t*>(word);
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t GetBigEndian(const int32_t* word) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(word);
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         bytes[3];
}

// Enters a group in the directory. A key there already (two groups of one
// number) is an ambiguous commit set.
int32_t Enter(Restart* r, const Group& g, int32_t first_page, int32_t first_pos) {
  const int32_t kind = g.Word(WSH_KIND);
  std::vector<int32_t> rq(RQ_RECORD + DIR_WORDS, 0);
  rq[RQ_TABLE] = r->directory;
  rq[RQ_TBL] = -1;
  rq[RQ_RECORD_LENGTH] = kDirRecordBytes;
  int32_t* rec = rq.data() + RQ_RECORD;
  // Committed groups are replayed in commit order whatever their commit
  // kind; prepared ones (numbered by prepare number) after them.
  rec[DIR_CLASS] = kind == kPrepared ? kPrepared : 0;
  PutBigEndian(rec + DIR_NUMBER,
               static_cast<uint32_t>(kind == kPrepared ? g.Word(WSH_PREPARE) : g.Word(WSH_COMMIT)));
  rec[DIR_FIRST_PAGE] = first_page;
  rec[DIR_FIRST_POS] = first_pos;
  rec[DIR_HEADER_PAGE] = g.header_page;
  rec[DIR_HEADER_POS] = g.header_pos;
  DKCallEntry(38, rq.data(), nullptr);  // DKINS1
  if (rq[RQ_STATUS] > 0) return Corrupt(g.Word(WSH_COMMIT));
  return rq[RQ_STATUS];
}

bool Wanted(const Restart& r, const Group& g) {
  const int32_t kind = g.Word(WSH_KIND);
  return kind != kKindNotReplayed && (kind == kPrepared || g.Word(WSH_COMMIT) > r.highest);
}

// Its pages all there, and its records: a page can reach its file in the
// middle of the group's append (a swap-out of the pool) and the group's later
// pages before that page again, so that the records behind the earlier
// image's end are missing although every page is found. A header without a
// count (0) is judged by its pages alone.
bool Complete(const Group& g, int32_t pages, int32_t records) {
  return g.header.size() > static_cast<size_t>(WSH_PAGES) && pages == g.Word(WSH_PAGES) &&
         (g.Word(WSH_RECORDS) == 0 || records == g.Word(WSH_RECORDS));
}

// A group closed by its header. The first one of the set is held back: it
// may be the tail of a group that began at the end of the ring.
int32_t Close(Restart* r, Group& g) {
  if (!r->first_closed) {
    r->first_closed = true;
    r->held = std::move(g);
    return 0;
  }
  if (!Complete(g, static_cast<int32_t>(g.pages.size()), g.records)) return 0;
  if (Wanted(*r, g)) {
    if (int32_t rc = Enter(r, g, g.first_page, g.first_pos)) return rc;
  }
  r->highest = std::max(r->highest, g.Word(WSH_STAMP));
  return 0;
}

// A kill can cut a write of a commit-set data page short at a page-cache
// boundary: the page's start (its used end among it) is the new image, the
// rest the previous one, zeros behind that image's used end. Every group
// reported committed lies whole in the previous image, since its own write
// returned before the report and later writes change no word before its end
// but in place; the records from the first unsound one on, and all on later
// pages, were appended after that image was written, so their groups were
// never reported. The set ends there, which leaves the group being appended
// without its header.
//
// The commit set is a ring: the pages behind the one being filled hold older
// records, which stay; only the page cut short ends at its first unsound
// record. Every page the ring takes again has its empty image written first,
// so the earlier image of such a page holds no records either.
int32_t EndTornPage(Restart* r) {
  std::vector<int32_t> b = NewSetBlock(r->commit_set);
  b[SETRQ_RC] = 1;
  const int32_t rc = DKEndSetAtSoundRecord(b);
  if (rc <= 0) return rc;
  const int32_t page = b[SETRQ_PAGE];
  DKReportError(Index(), -65, DK_SEV_INFO, &page, LoadWord(BP_TRANS_ENTRY));
  return 0;
}

// Reads the commit set from its start and fills the directory.
int32_t Scan(Restart* r) {
  std::vector<int32_t>& b = r->set_block;
  b[SETRQ_PAGE] = 0;
  b[SETRQ_POSITION] = 0;
  b[SETRQ_RC] = 2;
  for (;;) {
    const int32_t rc = DKGXN0(b);
    if (rc == SET_END) break;
    if (rc < 0) return rc;
    b[SETRQ_RC] = 0;
    ++r->records;
    const int32_t length = b[SETRQ_LENGTH];
    const int32_t* rec = b.data() + SETRQ_RECORD;
    const int32_t id = length > 1 ? rec[1] : 0;
    if (r->open && r->open->id != id) r->open.reset();  // abandoned: no header
    if (!r->open) {
      r->open.emplace();
      r->open->id = id;
      r->open->first_page = b[SETRQ_PAGE];
      r->open->first_pos = b[SETRQ_POSITION];
    }
    r->open->pages.insert(b[SETRQ_PAGE]);
    ++r->open->records;
    if (length < 1 || rec[WS_CODE] != kCodeHeader) continue;
    r->open->header.assign(rec, rec + length);
    r->open->header_page = b[SETRQ_PAGE];
    r->open->header_pos = b[SETRQ_POSITION];
    Group g = std::move(*r->open);
    r->open.reset();
    if (int32_t e = Close(r, g)) return e;
  }
  if (!r->held) return 0;
  // The group still open at the end is the head of the held-back one when it
  // carries its number: one group that wrapped around the ring.
  const Group& h = *r->held;
  int32_t first_page = h.first_page, first_pos = h.first_pos;
  auto pages = static_cast<int32_t>(h.pages.size());
  int32_t records = h.records;
  if (r->open && r->open->id == h.id) {
    first_page = r->open->first_page;
    first_pos = r->open->first_pos;
    pages += static_cast<int32_t>(r->open->pages.size());
    records += r->open->records;
  }
  if (Complete(h, pages, records) && Wanted(*r, h)) return Enter(r, h, first_page, first_pos);
  return 0;
}

// Appends one record to the restart set `tbl` under the restart's order value.
int32_t Append(Restart* r, const int32_t* record, int32_t length, int32_t tbl) {
  std::vector<int32_t> b(static_cast<size_t>(SetRequestBlockWords()), 0);
  if (length < 1 || static_cast<size_t>(SETRQ_RECORD + length) > b.size()) return Corrupt(length);
  b[SETRQ_RC] = kAppendMode;
  b[SETRQ_LENGTH] = length;
  std::copy(record, record + length, b.begin() + SETRQ_RECORD);
  if (int32_t rc = DKAppendRestartRecord(b, tbl, -1)) return rc;
  r->dids.insert(tbl);
  return 0;
}

// True when the header's databank list names `did` as a logged databank.
bool Logged(const std::vector<int32_t>& header, int32_t did) {
  for (size_t at = WSH_DATABANKS; at + WSH_ENTRY_WORDS <= header.size(); at += WSH_ENTRY_WORDS) {
    if (header[at + WSHE_DATABANK] < 0) break;
    if (header[at + WSHE_DID] == did && header[at + WSHE_TYPE] == kLogged) return true;
  }
  return false;
}

// Hands one record of a replayed group on to the restart sets it belongs in.
// *done is set at the group's header.
int32_t Distribute(Restart* r, const std::vector<int32_t>& header, const int32_t* rec,
                   int32_t length, bool* to_log, bool* done) {
  const int32_t code = rec[WS_CODE];
  *done = code == kCodeHeader;
  if (header[WSH_KIND] == kPrepared) return Append(r, rec, length, kPreparedSet);
  std::vector<int32_t> copy(rec, rec + length);
  if (code == kCodeHeader) {
    if (!*to_log) return 0;
    copy[1] = header[WSH_COMMIT];
    return Append(r, copy.data(), length, kLogSet);
  }
  if (code >= kCodeHeader && code != 23 && code != 24) return 0;
  if (length <= WSR_TBL || rec[WSR_DID] < 1) return Corrupt(code);
  const int32_t did = rec[WSR_DID];
  if (int32_t rc = Append(r, rec, length, did)) return rc;
  if (!Logged(header, did)) return 0;
  copy[1] = header[WSH_COMMIT];
  *to_log = true;
  return Append(r, copy.data(), length, kLogSet);
}

// A replayed commit that decided a prepared transaction marks its group in
// set 167 decided: the end that decided it may not have marked it before
// the crash, and the open re-creates every undecided group in doubt, whose
// second commit would apply it twice.
int32_t MarkDecision(const std::vector<int32_t>& header) {
  if (header[WSH_KIND] == kPrepared || header.size() <= static_cast<size_t>(WSH_START) ||
      header[WSH_START] <= 0)
    return 0;
  return DKMarkPreparedDecided(header[WSH_PREPARE], header[WSH_START]);
}

// Replays one group from its first record to its header, continuing at the
// start of the set when the end comes first.
int32_t ReplayGroup(Restart* r, const int32_t* entry) {
  std::vector<int32_t>& b = r->set_block;
  b[SETRQ_PAGE] = entry[DIR_HEADER_PAGE];
  b[SETRQ_POSITION] = entry[DIR_HEADER_POS];
  b[SETRQ_RC] = 2;
  int32_t rc = DKGXN0(b);
  if (rc < 0) return rc;
  const int32_t* rec = b.data() + SETRQ_RECORD;
  if (rc > 0 || b[SETRQ_LENGTH] <= WSH_PAGES || rec[WS_CODE] != kCodeHeader)
    return Corrupt(entry[DIR_HEADER_PAGE]);
  const std::vector<int32_t> header(rec, rec + b[SETRQ_LENGTH]);
  b[SETRQ_PAGE] = entry[DIR_FIRST_PAGE];
  b[SETRQ_POSITION] = entry[DIR_FIRST_POS];
  b[SETRQ_RC] = 2;
  bool to_log = false, wrapped = false;
  for (int32_t read = 0; read <= r->records; ++read) {
    rc = DKGXN0(b);
    if (rc == SET_END && !wrapped) {
      wrapped = true;
      b[SETRQ_PAGE] = 0;
      b[SETRQ_POSITION] = 0;
      b[SETRQ_RC] = 2;
      rc = DKGXN0(b);
    }
    if (rc < 0) return rc;
    if (rc > 0) break;
    b[SETRQ_RC] = 0;
    const int32_t length = b[SETRQ_LENGTH];
    if (length < 2 || rec[1] != header[WSH_GROUP]) break;
    bool done = false;
    if (int32_t e = Distribute(r, header, rec, length, &to_log, &done)) return e;
    if (done) return MarkDecision(header);
  }
  return Corrupt(header[WSH_GROUP]);
}

// Replays the directory in key order. Committed groups at or below the
// highest stamp are secured already (the stamp is that of a later flush);
// prepared ones carry prepare numbers and are always replayed.
int32_t ReplayDirectory(Restart* r) {
  std::vector<int32_t> cur(static_cast<size_t>(CursorBlockWords(kDirRecordBytes)) + 1, 0);
  cur[CUR_TABLE] = r->directory;
  cur[CUR_TBL] = -1;
  cur[CUR_KEY_LENGTH] = kDirKeyBytes;
  cur[CUR_RECORD_LENGTH] = kDirRecordBytes;
  for (int32_t mode = FET_FROM_KEY;; mode = FET_NEXT) {
    cur[CUR_STATUS] = mode;
    DKCallEntry(27, cur.data(), nullptr);  // DKFET1
    if (cur[CUR_STATUS] == kStatusEnd) return 0;
    if (cur[CUR_STATUS] != 0) return cur[CUR_STATUS];
    const int32_t* entry = cur.data() + CUR_RECORD;
    if (entry[DIR_CLASS] != kPrepared &&
        static_cast<int64_t>(GetBigEndian(entry + DIR_NUMBER)) < r->highest)
      continue;
    if (int32_t rc = ReplayGroup(r, entry)) return rc;
  }
}

int32_t Run(Restart* r) {
  int32_t* a = Bufferpool();
  const int32_t trans = LoadWord(BP_TRANS_ENTRY);
  int32_t c[CRT_WORDS] = {};
  c[RQ_DID] = 2;
  c[RQ_TYPE] = 13;  // kind 1, dropped: its pages go at its close
  c[RQ_TBL] = -1;
  c[RQ_KEY_LENGTH] = kDirKeyBytes;
  c[RQ_RECORD_LENGTH] = kDirRecordBytes;
  DKCRT1(c);
  if (c[RQ_STATUS] != 0) return c[RQ_STATUS];
  r->directory = c[RQ_TABLE];
  r->set_block = NewSetBlock(r->commit_set);
  int32_t rc = EndTornPage(r);
  if (rc == 0) rc = Scan(r);
  if (rc == 0) rc = ReplayDirectory(r);
  int32_t close[CRT_WORDS] = {-22, 0, 2, 0, r->directory, -1};
  DKCLT1(close);
  if (rc != 0) return rc;
  // The restart sets are on disk before the commit set goes, and so are
  // the bitmap pages that hold their pages in use.
  int32_t pag[PAGREQ_WORDS] = {trans, 0, 0, 0, -1, 0, kAppendMode, 0};
  if (DKPAG0(pag, PAG_WRITE_SET) != 0 || DKPAG0(pag, PAG_FLUSH) != 0)
    return pag[PAGREQ_RC] != 0 ? pag[PAGREQ_RC] : -44;
  if (a[trans + DBE_ERROR] != 0) return a[trans + DBE_ERROR];
  std::vector<int32_t> drop = NewSetBlock(r->commit_set);
  DKResetCommitSetRing();
  return DKDRS1(drop);
}

}  // namespace

int32_t DKRST1(int32_t* result, std::vector<int32_t>* dids) {
  Restart r;
  r.commit_set = LoadWord(BP_COMMIT_SET_TBL);
  const int32_t trans = LoadWord(BP_TRANS_ENTRY);
  int32_t rc = 0;
  if (!dkset::IsTableEntry(r.commit_set) || !DKIsDatabankEntry(trans)) {
    int32_t value = r.commit_set;
    DKReportError(Index(), -43, DK_SEV_ERROR, &value, 0);
    rc = -43;
  } else {
    rc = Run(&r);
  }
  if (dids) dids->assign(r.dids.begin(), r.dids.end());
  if (result) *result = rc;
  return rc;
}

namespace {

// The open entry of a DID other than a shadow, 0 when none.
int32_t OpenEntryOf(int32_t did) {
  int32_t* a = Bufferpool();
  EnqdeqGuard guard(a + BP_LOCK_DATABANK_HASH);
  const int32_t e = DKHMI0(LoadWord(BP_DATABANK_HASH), did);
  if (!DKIsDatabankEntry(e) || a[e + DBE_CHANNEL] == 0 || a[e + DBE_KIND] == DBT_SHADOW) return 0;
  return e;
}

int32_t Replay(int32_t entry, int32_t did) {
  int32_t request[RSD_WORDS] = {-1, entry, did, -1};
  return DKRSD1(request);
}

// The restart sets, the LOG databank's and set 167 are written as the commit
// set is: every record on them that anyone relies on was in an image of its
// page whose write returned (the records a commit owes its copies before it
// is secured; a group handed on before the commit set that held it is
// emptied; a prepared write set before the prepare answers), and their
// pages change only by appends and in place. A kill that cut the write of
// one of their data pages short left the records behind that image's used
// end unsound or gone, and nobody relied on them: each such set ends at its
// first unsound record, before this restart appends to any of them. Each
// end is reported (-65, information) with its page.
int32_t EndTornSets(int32_t trans) {
  std::vector<int32_t> tbls;
  int32_t nte[NTE_WORDS] = {};
  nte[NTE_DATABANK] = trans;
  for (DKNTE1(nte); nte[NTE_STATUS] == 0 && nte[NTE_DATABANK] == trans; DKNTE1(nte)) {
    const int32_t type = nte[NTE_TYPE];
    // Sets that are not work tables (those go with the check) nor dropped;
    // the commit set ends in DKRST1.
    if (nte[NTE_TBL] > 0 && nte[NTE_TBL] != 10 && type / 10 % 10 == kKindSet && type % 10 < 2)
      tbls.push_back(nte[NTE_TBL]);
  }
  if (nte[NTE_STATUS] < 0) return nte[NTE_STATUS];
  for (int32_t tbl : tbls) {
    int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, tbl};
    DKOPT1(open);
    if (open[RQ_STATUS] != 0) return open[RQ_STATUS];
    std::vector<int32_t> b = NewSetBlock(open[RQ_TABLE]);
    const int32_t rc = DKEndSetAtSoundRecord(b);
    if (rc > 0) {
      const int32_t page = b[SETRQ_PAGE];
      DKReportError(Index(), -65, DK_SEV_INFO, &page, trans);
    }
    // Out of the table hash again, as a replay leaves it: an append then
    // opens a section of its own, rather than joining one settled before.
    open[RQ_STATUS] = -22;
    DKCLT1(open);
    if (rc < 0) return rc;
  }
  return 0;
}

}  // namespace

int32_t DKRestartTrans(int32_t entry) {
  int32_t* a = Bufferpool();
  if (int32_t rc = EndTornSets(entry)) return rc;
  int32_t open[CRT_WORDS] = {3, 0, 2, kKindSet, 0, 10};
  // A TRANS databank without a commit set has nothing committed to hand on.
  if (!DKTransHasTable(10)) return Replay(entry, 2);
  DKOPT1(open);
  if (open[RQ_STATUS] == -50) return Replay(entry, 2);
  if (open[RQ_STATUS] != 0) return open[RQ_STATUS];
  DKResetCommitSetRing();
  StoreWord(BP_COMMIT_SET_TBL, open[RQ_TABLE]);
  std::vector<int32_t> dids;
  int32_t rc = DKRST1(nullptr, &dids);
  if (rc != 0) {
    // The open fails: nothing may go on committing into this commit set.
    DKForgetCommitSet();
    return rc;
  }
  if (int32_t r = Replay(entry, 2)) return r;
  const int32_t sysdb = LoadWord(BP_SYSDB_ENTRY);
  if (DKIsDatabankEntry(sysdb) && a[sysdb + DBE_DID] == 1 && a[sysdb + DBE_CHANNEL] != 0) {
    if (int32_t r = Replay(sysdb, 1)) return r;
  }
  // Databanks open already would otherwise not see the commits handed on to
  // them until their next open.
  for (int32_t did : dids) {
    if (did == 1 || did == 2 || did == kPreparedSet) continue;
    if (const int32_t e = OpenEntryOf(did)) {
      if (int32_t r = DKReplayAtOpen(e)) return r;
    }
  }
  return 0;
}

void DKForgetCommitSet() {
  const int32_t table = LoadWord(BP_COMMIT_SET_TBL);
  StoreWord(BP_COMMIT_SET_TBL, 0);
  DKResetCommitSetRing();
  if (!dkset::IsTableEntry(table) || Bufferpool()[table + TBE_TBL] != 10) return;
  int32_t close[CRT_WORDS] = {-22, 0, 2, 0, table, 10};
  DKCLT1(close);
}
