// Reading rows through the transaction cache: the fetch of the next and the
// previous row (DKFNT1, DKFPT1), which delivers the transaction's own change of a row or the
// version of it that the transaction's view sees, and the check of a row
// (DKCHT1), which tells whether the row exists for the transaction.
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/record_routines.h"
#include "dk/table_entries.h"
#include "dk/transaction_cache_internal.h"
#include "dk/transactions.h"

using namespace dktc;

namespace {

constexpr int32_t kMaxRestarts = 1000;

// The reader's side of a walk.
struct Reader {
  int32_t tss = 0;  // 0: no transaction
  int32_t start = 0, view = 0, safe_high = 0, sequence = 0;
  bool dependent = false;
  const uint8_t* row = nullptr;
  int32_t compare = 0;      // key bytes every record must share with the row, 0: none
  bool stop_early = false;  // a record begun before the safe high start ends the walk
};

// The record a walk chose.
struct Held {
  bool any = false;
  bool own = false;
  CacheSuffix suffix;
  int32_t kind = 0;
  int32_t on_disk = 0;
  std::vector<uint8_t> record;
};

void Take(Held* h, CacheCursor& cur, const CacheSuffix& s, int32_t kind, int32_t p, bool own) {
  h->any = true;
  h->own = own;
  h->suffix = s;
  h->kind = kind;
  h->on_disk = p;
  h->record.assign(cur.record(), cur.record() + cur.record_length());
}

int32_t CorruptKind(int32_t routine, int32_t kind) {
  return Report(routine, kRcCorrupt, kind);
}

// A record of another transaction: the candidate rules. 0, or -66. The
// changes of one writer come latest first forward and earliest first
// `backward`; either way the candidate is the writer's earliest change of
// the row when it committed after the view (the row as it was before it),
// else its latest.
int32_t Consider(const Reader& r, CacheCursor& cur, const CacheSuffix& s, int32_t p, Held* h,
                 int32_t routine, bool backward) {
  // An insert deleted again by its own transaction changed nothing.
  if (s.kind == kChangeMarker) return 0;
  const bool after_view = r.tss != 0 && p > r.view;
  const bool held_after = h->any && r.tss != 0 && h->on_disk > r.view;
  if (after_view) {
    const int32_t kind = ReversedKind(s.kind);
    if (kind < 0) return CorruptKind(routine, s.kind);
    if (kind == 0) return 0;
    const bool same_sequence = h->on_disk == p && h->suffix.sequence == s.sequence;
    const bool held_earlier =
        held_after && (h->on_disk < p || (h->on_disk == p && h->suffix.sequence < s.sequence) ||
                       (backward && same_sequence));
    if (!held_earlier) Take(h, cur, s, kind, p, false);
    return 0;
  }
  if (held_after || (h->any && (backward ? h->on_disk > p : h->on_disk >= p))) return 0;
  Take(h, cur, s, s.kind, p, false);
  return 0;
}

// Walks the cache records from the first fetch on; 0 with *h holding the
// record chosen (or none), or a negative code.
int32_t Walk(const Reader& r, CacheCursor& cur, int32_t first_mode, const uint8_t* key, Held* h,
             int32_t routine) {
  const int32_t low = TssLockedWord(BP_LOW_START_TRANS), k = cur.row_key_length();
  int32_t last_start = 0;
  CacheWriter writer;
  int32_t rc = cur.Fetch(first_mode, key);
  while (rc == 0) {
    const CacheSuffix s = cur.suffix();
    const bool stale = s.start < low;
    if (r.compare > 0 && std::memcmp(cur.record(), r.row, static_cast<size_t>(r.compare)) != 0) {
      if (stale) rc = DKDLT0(cur.block());
      break;
    }
    if (h->any && std::memcmp(cur.record(), h->record.data(), static_cast<size_t>(k)) != 0) break;
    if (stale) {
      rc = cur.RemoveAndStep();
      continue;
    }
    if (r.tss != 0 && s.start == r.start) {
      if (s.sequence < r.sequence) {
        // An insert deleted again: the row is not there for the transaction.
        Take(h, cur, s, s.kind == kChangeMarker ? kChangeDelete : s.kind, 0, true);
        return 0;
      }
      if (r.dependent) {
        const int32_t kind = ReversedKind(s.kind);
        if (kind < 0) return CorruptKind(routine, s.kind);
        if (kind > 0) {
          Take(h, cur, s, kind, 0, true);
          return 0;
        }
      }
      rc = cur.Next();
      continue;
    }
    if (r.tss != 0 && s.start < r.safe_high) {
      if (h->any || r.stop_early) break;
      rc = cur.Fetch(FET_AFTER_KEY, cur.RowKeyWith(0xFF).data());
      continue;
    }
    if (s.start != last_start) {
      writer = DKLTS0(s.start);
      last_start = s.start;
    }
    if (writer.on_disk < 0) {
      rc = cur.RemoveAndStep();
      continue;
    }
    if (writer.on_disk > 0) {
      if (int32_t bad = Consider(r, cur, s, writer.on_disk, h, routine, false)) return bad;
    }
    rc = cur.Next();
  }
  return rc < 0 ? rc : 0;
}

using Walker = int32_t (*)(const Reader& r, CacheCursor& cur, int32_t first_mode,
                           const uint8_t* key, Held* h, int32_t routine);

// Runs a walk until its choice still stands: a candidate of another
// transaction that the view sees must still have its writer, else the
// search starts again (counted in word 199).
int32_t Search(Walker walk, const Reader& r, CacheCursor& cur, int32_t first_mode,
               const uint8_t* key, Held* h, int32_t routine) {
  for (int32_t n = 0;; ++n) {
    *h = Held();
    if (int32_t rc = walk(r, cur, first_mode, key, h, routine)) return rc;
    if (!h->any || h->own || (r.tss != 0 && h->on_disk > r.view)) return 0;
    if (DKLTS0(h->suffix.start).on_disk >= 0 || n >= kMaxRestarts) return 0;
    CountWord(BP_TCACHE_RETRIES);
  }
}

// The walk of DKFPT1 from the last record before the search key towards
// smaller keys, where the records of one row come oldest change first.
int32_t WalkBack(const Reader& r, CacheCursor& cur, int32_t first_mode, const uint8_t* key, Held* h,
                 int32_t routine) {
  const int32_t low = TssLockedWord(BP_LOW_START_TRANS), k = cur.row_key_length();
  int32_t last_start = 0;
  CacheWriter writer;
  int32_t rc = cur.FetchBack(first_mode, key);
  while (rc == 0) {
    const CacheSuffix s = cur.suffix();
    if (h->any && std::memcmp(cur.record(), h->record.data(), static_cast<size_t>(k)) != 0) break;
    if (s.start < low) {
      std::vector<uint8_t> at(cur.record(), cur.record() + cur.key_length());
      if (rc = DKDLT0(cur.block()); rc < 0) return rc;
      rc = cur.FetchBack(FET_AFTER_KEY, at.data());
      continue;
    }
    const bool own = r.tss != 0 && s.start == r.start;
    if (own) {
      int32_t kind = s.kind == kChangeMarker ? kChangeDelete : s.kind;
      if (s.sequence >= r.sequence) kind = r.dependent ? ReversedKind(s.kind) : 0;
      if (kind < 0) return CorruptKind(routine, s.kind);
      if (kind > 0) Take(h, cur, s, kind, 0, true);
      rc = cur.Previous();
      continue;
    }
    if (h->any && h->own) break;
    if (r.tss != 0 && s.start < r.safe_high) {
      // The older changes of this row come first backwards: over them to the
      // changes of transactions begun at or after the safe high start.
      std::vector<uint8_t> skip = cur.RowKeyWith(0xFF);
      CacheSuffix bound;
      bound.start = r.safe_high;
      uint8_t suffix[kSuffixBytes];
      DKMakeCacheSuffix(suffix, bound);
      std::memcpy(skip.data() + k, suffix, 4);
      rc = cur.FetchBack(FET_FROM_KEY, skip.data());
      continue;
    }
    if (s.start != last_start) {
      writer = DKLTS0(s.start);
      last_start = s.start;
    }
    if (writer.on_disk < 0) {
      std::vector<uint8_t> at(cur.record(), cur.record() + cur.key_length());
      if (rc = DKDLT0(cur.block()); rc < 0) return rc;
      rc = cur.FetchBack(FET_AFTER_KEY, at.data());
      continue;
    }
    if (writer.on_disk > 0)
      if (int32_t bad = Consider(r, cur, s, writer.on_disk, h, routine, true)) return bad;
    rc = cur.Previous();
  }
  return rc < 0 ? rc : 0;
}

// The request checks of DKFNT1 and DKCHT1 and the reader they describe.
int32_t ReaderOf(const int32_t* block, bool need_tss, int32_t routine, Reader* r) {
  if (int32_t rc = CheckTableEntry(block[TC_TABLE], block[TC_TBL], routine)) return rc;
  r->tss = block[TC_TSS];
  if (r->tss != 0 || need_tss) {
    if (int32_t rc = CheckTss(r->tss, routine)) return rc;
    const int32_t* a = Bufferpool();
    r->start = a[r->tss + TSS_START];
    r->view = a[r->tss + TSS_VIEW];
    r->safe_high = a[r->tss + TSS_SAFE_HIGH];
    r->dependent = a[r->tss + TSS_DEPENDENT] == -1;
  }
  r->sequence = block[TC_SEQUENCE];
  r->row = reinterpret_cast<const uint8_t*>(block + TC_ROW);
  return 0;
}

// Words 1 to 3 of the answer: the place and sequence of an own change.
void Origin(int32_t* block, const Held& h) {
  block[TC_POSITION] = h.own ? h.suffix.position[0] : 0;
  block[TC_POSITION + 1] = h.own ? h.suffix.position[1] : 0;
  block[TC_OWN_SEQUENCE] = h.own ? h.suffix.sequence : 0;
}

// The row of the record chosen into the row area; the answer: 0 the row is
// there, 1 it is deleted, 4 nothing chosen.
int32_t Deliver(int32_t* block, const Held& h, int32_t routine) {
  if (!h.any) return kStatusEnd;
  if (h.kind != kChangeInsert && h.kind != kChangeUpdate && h.kind != kChangeDelete)
    return CorruptKind(routine, h.kind);
  const int32_t k = block[TC_KEY_LENGTH], length = block[TC_RECORD_LENGTH];
  uint8_t* row = reinterpret_cast<uint8_t*>(block + TC_ROW);
  std::memcpy(row, h.record.data(), static_cast<size_t>(k));
  std::memcpy(row + k, h.record.data() + k + kSuffixBytes, static_cast<size_t>(length - k));
  Origin(block, h);
  return h.kind == kChangeDelete ? 1 : 0;
}

// DKFNT1's modes: the fill of the search key, the first fetch, the compare
// length (1: the key length, -1: the word after the key in the row area).
struct FetchMode {
  int32_t mode;
  uint8_t fill;
  int32_t first;
  int32_t compare;
};
constexpr FetchMode kFetchModes[] = {
    {-4, 0xFF, FET_AFTER_KEY, -1}, {-2, 0xFF, FET_AFTER_KEY, 0}, {1, 0, FET_FROM_KEY, 0},
    {2, 0, FET_FROM_KEY, 1},       {4, 0, FET_FROM_KEY, -1},
};

int32_t Fetch(int32_t* block) {
  Reader r;
  if (int32_t rc = ReaderOf(block, false, kIndexDKFNT1, &r)) return rc;
  block[TC_STAMP] = TssLockedWord(BP_COMMITS_SECURED);
  const FetchMode* m = nullptr;
  for (const FetchMode& f : kFetchModes)
    if (f.mode == block[TC_MODE]) m = &f;
  if (!m) return Report(kIndexDKFNT1, kRcMode, block[TC_MODE]);
  CacheCursor cur;
  const int32_t k = block[TC_KEY_LENGTH], length = block[TC_RECORD_LENGTH];
  int32_t rc = DKDPT0(block[TC_TABLE], k, length, false, kIndexDKFNT1, cur.block());
  if (rc != 0) return rc;
  r.compare = m->compare == 1 ? k : 0;
  if (m->compare < 0) {
    r.compare = block[TC_ROW + (k + 3) / 4];
    if (r.compare < 1 || r.compare > k) return Report(kIndexDKFNT1, kRcBadParameter, r.compare);
  }
  r.stop_early = m->mode == 2;
  Held h;
  rc = Search(Walk, r, cur, m->first, cur.KeyOf(r.row, m->fill).data(), &h, kIndexDKFNT1);
  if (rc != 0) return rc;
  return Deliver(block, h, kIndexDKFNT1);
}

// DKFPT1: mode -2 the row before the given key, 1 the row at it or before.
int32_t FetchBack(int32_t* block) {
  Reader r;
  if (int32_t rc = ReaderOf(block, false, kIndexDKFPT1, &r)) return rc;
  block[TC_STAMP] = TssLockedWord(BP_COMMITS_SECURED);
  const int32_t mode = block[TC_MODE];
  CacheCursor cur;
  const int32_t k = block[TC_KEY_LENGTH];
  int32_t rc =
      DKDPT0(block[TC_TABLE], k, block[TC_RECORD_LENGTH], false, kIndexDKFPT1, cur.block());
  if (rc != 0) return rc;
  if (mode != -2 && mode != 1) return Report(kIndexDKFPT1, kRcMode, mode);
  std::vector<uint8_t> key = cur.KeyOf(r.row, mode == 1 ? 0xFF : 0);
  if (mode == 1 && r.tss != 0) {
    CacheSuffix bound;
    bound.start = r.safe_high;
    uint8_t suffix[kSuffixBytes];
    DKMakeCacheSuffix(suffix, bound);
    std::memcpy(key.data() + k, suffix, 4);
  }
  Held h;
  rc = Search(WalkBack, r, cur, mode == 1 ? FET_FROM_KEY : FET_AFTER_KEY, key.data(), &h,
              kIndexDKFPT1);
  if (rc != 0) return rc;
  return Deliver(block, h, kIndexDKFPT1);
}

int32_t Check(int32_t* block) {
  if (block[TC_MODE] != -1) return Report(kIndexDKCHT1, kRcMode, block[TC_MODE]);
  Reader r;
  if (int32_t rc = ReaderOf(block, true, kIndexDKCHT1, &r)) return rc;
  CacheCursor cur;
  const int32_t k = block[TC_KEY_LENGTH];
  int32_t rc = DKDPT0(block[TC_TABLE], k, k, false, kIndexDKCHT1, cur.block());
  if (rc == kNoCache) return 0;
  if (rc == 0) rc = UseCacheLengths(&cur, kIndexDKCHT1);
  if (rc != 0) return rc;
  r.compare = k;
  r.stop_early = true;
  Held h;
  rc = Search(Walk, r, cur, FET_FROM_KEY, cur.KeyOf(r.row, 0).data(), &h, kIndexDKCHT1);
  if (rc != 0) return rc;
  if (!h.any) return 0;
  Origin(block, h);
  if (h.kind == kChangeInsert || h.kind == kChangeUpdate) return kStatusCheck;
  if (h.kind == kChangeDelete) return 1;
  return CorruptKind(kIndexDKCHT1, h.kind);
}

}  // namespace

void DKFNT1(int32_t* block) {
  const int32_t rc = Fetch(block);
  block[TC_MODE] = rc;
}

void DKFPT1(int32_t* block) {
  const int32_t rc = FetchBack(block);
  block[TC_MODE] = rc;
}

void DKCHT1(int32_t* block) {
  block[TC_MODE] = Check(block);
}

void DKFNT1Entry(int32_t* block, void*) {
  DKFNT1(block);
}
void DKFPT1Entry(int32_t* block, void*) {
  DKFPT1(block);
}
void DKCHT1Entry(int32_t* block, void*) {
  DKCHT1(block);
}
