// The merge of a bulk load's runs into one sorted chain of data pages
// (DKMRG1), in passes of at most the fan-in runs each, through a tree of
// losers over the runs' current records; and the chain reader and writer
// the merge and the index build share. Of records with equal keys the one
// of the earlier run stays: it arrived first.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/bulk_load.h"
#include "dk/control_area.h"
#include "dk/error_log.h"
#include "dk/page_entries.h"
#include "dk/page_tree.h"
#include "dk/table_cursor.h"

namespace {

constexpr int32_t kIndexDKMRG1 = 42;
constexpr int32_t kMaxFanIn = (kControlPageSize / 4 - 4) / 4;  // 1020 run heads
// The merge keeps a copy of one page per run it reads.
constexpr int64_t kMergeMemory = int64_t{32} << 20;
constexpr int64_t kMaxChainPages = int64_t{1} << 24;

int32_t Report(int32_t rc, int32_t value, int32_t databank) {
  ReportPageError(kIndexDKMRG1, rc, rc == -43 || rc == -76 ? 2 : 3, value, databank);
  return rc;
}

}  // namespace

ChainReader::ChainReader(const LoadTable& t, int32_t first, bool consume)
    : t_(t), next_(first), consume_(consume) {}

int32_t ChainReader::Load(int32_t page) {
  const int32_t size = t_.data_size, length = t_.record_length;
  if (!TreePageNumber(page, size)) return Report(-65, page, t_.databank);
  int32_t rq[REQ_WORDS] = {t_.databank, page, size, 0, -1, 0};
  int32_t b = DKGET0(rq, consume_ ? GET_UPDATE : GET_SHARED);
  if (b < 0) return b;
  const uint8_t* p = PageBytes(b);
  const int32_t count = ChainPageSound(t_, p) ? ChainPageRecords(t_, p) : -1;
  image_.resize(static_cast<size_t>(std::max(count, 0)) * static_cast<size_t>(length));
  int32_t rc = count < 0 ? -65 : 0;
  if (t_.method == 0 && count > 0)  // fixed entries: the records as they lie
    std::memcpy(image_.data(), p + kPageHeaderBytes, image_.size());
  for (int32_t i = 0; t_.method != 0 && i < count && rc == 0; ++i)
    rc =
        ChainRecord(t_, p, i, image_.data() + static_cast<size_t>(i) * static_cast<size_t>(length));
  if (rc != 0) {
    DKPUT0(consume_ ? PUT_UNCHANGED : PUT_END_SHARED, b);
    return Report(-65, page, t_.databank);
  }
  used_ = count * length;
  next_ = PageWord(p, 3);
  if (consume_)
    DKFRE0(rq, b);
  else
    DKPUT0(PUT_END_SHARED, b);
  if (next_ != 0 && TreePageNumber(next_, size) && DKCPR0(size, 5) >= 2) {
    int32_t prq[REQ_WORDS] = {t_.databank, next_, size, 0, -1, 0};
    DKGET0(prq, GET_PREFETCH);
  }
  position_ = 0;
  return 0;
}

int32_t ChainReader::Next() {
  if (started_) position_ += t_.record_length;
  started_ = true;
  for (int64_t n = 0; position_ + t_.record_length > used_; ++n) {
    if (next_ == 0 || n > kMaxChainPages) return n > kMaxChainPages ? -65 : kStatusEnd;
    if (int32_t rc = Load(next_)) return rc;
  }
  return 0;
}

void ChainReader::FreeRest() {
  if (consume_) FreeChain(t_.databank, next_, t_.data_size);
  next_ = 0;
}

int32_t ChainWriter::Append(const uint8_t* record) {
  int32_t appended = buffer_ > 0 ? AppendToChainPage(t_, PageBytes(buffer_), record) : 1;
  if (appended <= 0) return appended;
  int32_t page = 0;
  int32_t b = NewChainPage(t_, t_.record_length, &page);
  if (b < 0) return b;
  if (buffer_ > 0) {
    PageWords(buffer_)[3] = page;
    DKPUT0(PUT_CHANGED, buffer_);
  }
  if (first_ == 0) first_ = page;
  buffer_ = b;
  int32_t rc = AppendToChainPage(t_, PageBytes(b), record);
  return rc <= 0 ? rc : -67;
}

void ChainWriter::Finish() {
  if (buffer_ > 0) DKPUT0(PUT_CHANGED, buffer_);
  buffer_ = 0;
}

namespace {

// Merges consecutive runs into one; `*duplicates` counts the records
// dropped for a key already written.
int32_t MergeGroup(const LoadTable& t, const std::vector<int32_t>& group, int32_t* out,
                   int32_t* duplicates) {
  const int32_t k = t.key_length, n = static_cast<int32_t>(group.size());
  std::vector<ChainReader> readers;
  readers.reserve(group.size());
  for (int32_t first : group) readers.emplace_back(t, first, true);
  std::vector<char> done(group.size(), 0);
  auto fail = [&](int32_t rc, ChainWriter& w) {
    w.Finish();
    FreeChain(t.databank, w.first(), t.data_size);
    for (ChainReader& r : readers) r.FreeRest();
    return rc;
  };
  ChainWriter writer(t);
  for (int32_t i = 0; i < n; ++i) {
    int32_t rc = readers[static_cast<size_t>(i)].Next();
    if (rc < 0) return fail(rc, writer);
    done[static_cast<size_t>(i)] = rc == kStatusEnd;
  }
  auto beats = [&](int32_t a, int32_t b) {
    if (done[static_cast<size_t>(a)] != done[static_cast<size_t>(b)])
      return !done[static_cast<size_t>(a)];
    if (!done[static_cast<size_t>(a)]) {
      int c = CompareLoadKeys(readers[static_cast<size_t>(a)].Record(),
                              readers[static_cast<size_t>(b)].Record(), k);
      if (c != 0) return c < 0;
    }
    return a < b;
  };
  // Tree of losers over n leaves (nodes n .. 2n-1); node 0 holds the winner.
  std::vector<int32_t> tree(static_cast<size_t>(2 * n));
  std::vector<int32_t> winner(static_cast<size_t>(2 * n));
  for (int32_t i = 0; i < n; ++i) winner[static_cast<size_t>(n + i)] = i;
  for (int32_t node = n - 1; node >= 1; --node) {
    int32_t a = winner[static_cast<size_t>(2 * node)],
            b = winner[static_cast<size_t>(2 * node + 1)];
    bool a_wins = beats(a, b);
    winner[static_cast<size_t>(node)] = a_wins ? a : b;
    tree[static_cast<size_t>(node)] = a_wins ? b : a;
  }
  int32_t top = winner[1];
  std::vector<uint8_t> last(static_cast<size_t>(k));
  bool have_last = false;
  while (!done[static_cast<size_t>(top)]) {
    ChainReader& r = readers[static_cast<size_t>(top)];
    if (have_last && std::memcmp(r.Record(), last.data(), static_cast<size_t>(k)) == 0) {
      ++*duplicates;
    } else {
      if (int32_t rc = writer.Append(r.Record())) return fail(rc, writer);
      std::memcpy(last.data(), r.Record(), static_cast<size_t>(k));
      have_last = true;
    }
    int32_t rc = r.Next();
    if (rc < 0) return fail(rc, writer);
    done[static_cast<size_t>(top)] = rc == kStatusEnd;
    int32_t s = top;
    for (int32_t node = (s + n) / 2; node >= 1; node /= 2) {
      int32_t& loser = tree[static_cast<size_t>(node)];
      if (beats(loser, s)) std::swap(loser, s);
    }
    top = s;
  }
  writer.Finish();
  *out = writer.first();
  return 0;
}

// The fan-in of one merge step for pages of `size` bytes.
int32_t FanIn(int32_t size) {
  int32_t pool = FindPool(size);
  int32_t tuning = pool != 0 ? LoadWord(pool + PART_TUNING_FANIN) : 0;
  int64_t by_memory = kMergeMemory / size;
  int32_t f = static_cast<int32_t>(
      std::min<int64_t>({kMaxFanIn, by_memory, tuning > 0 ? tuning : kMaxFanIn}));
  return std::max(f, 2);
}

// The fan-in of each pass: p passes of the smallest f with f^p >= runs.
int32_t PassFanIn(int32_t runs, int32_t limit) {
  if (runs <= limit) return runs;
  auto power_reaches = [runs](int64_t f, int32_t p) {
    int64_t v = 1;
    for (int32_t i = 0; i < p; ++i) {
      v *= f;
      if (v >= runs) return true;
    }
    return false;
  };
  int32_t passes = 2;
  while (!power_reaches(limit, passes)) ++passes;
  int32_t f = 2;
  while (!power_reaches(f, passes)) ++f;
  return f;
}

// Takes over the runs of an ended load: their first pages from the run
// directory; the directory, work and control pages are freed.
int32_t TakeRuns(int32_t* block, const LoadTable& t, std::vector<int32_t>* runs,
                 int32_t* duplicates) {
  const int32_t control = block[LOA_CONTROL], work_size = LoadWord(BP_MAX_PAGE_SIZE);
  if (!TreePageNumber(control, kControlPageSize)) return Report(-43, control, t.databank);
  int32_t rq[REQ_WORDS] = {t.databank, control, kControlPageSize, 0, -1, 0};
  int32_t cb = DKGET0(rq, GET_SHARED);
  if (cb < 0) return cb;
  const int32_t work = PageWords(cb)[CP_WORK_PAGE];
  ReleaseShared(cb);
  if (!TreePageNumber(work, work_size)) return Report(-43, control, t.databank);
  int32_t wrq[REQ_WORDS] = {t.databank, work, work_size, 0, -1, 0};
  int32_t wb = DKGET0(wrq, GET_SHARED);
  if (wb < 0) return wb;
  int32_t state[kLoadStateBytes / 4];
  std::memcpy(state, PageBytes(wb) + work_size - kLoadStateBytes, sizeof state);
  *duplicates = PageWords(wb)[WP_DUPLICATES];
  ReleaseShared(wb);
  if (state[LS_ENDED] != 1 || state[LS_KEY_LENGTH] != t.key_length ||
      state[LS_RECORD_LENGTH] != t.record_length || state[LS_DATA_SIZE] != t.data_size)
    return Report(-43, control, t.databank);
  for (int32_t dir = state[LS_DIR_FIRST], n = 0; dir != 0; ++n) {
    if (!TreePageNumber(dir, kUnitBytes) || n > (1 << 20)) return Report(-65, dir, t.databank);
    int32_t drq[REQ_WORDS] = {t.databank, dir, kUnitBytes, 0, -1, 0};
    int32_t db = DKGET0(drq, GET_SHARED);
    if (db < 0) return db;
    const int32_t* w = PageWords(db);
    if (w[DIR_COUNT] < 0 || w[DIR_COUNT] > kDirEntries) {
      ReleaseShared(db);
      return Report(-65, dir, t.databank);
    }
    runs->insert(runs->end(), w + DIR_FIRST, w + DIR_FIRST + w[DIR_COUNT]);
    dir = w[DIR_NEXT];
    ReleaseShared(db);
  }
  // The runs are the merge's now; the rest of the load goes.
  for (int32_t dir = state[LS_DIR_FIRST]; dir != 0;) {
    int32_t drq[REQ_WORDS] = {t.databank, dir, kUnitBytes, 0, -1, 0};
    int32_t db = DKGET0(drq, GET_UPDATE);
    if (db < 0) break;
    int32_t next = PageWords(db)[DIR_NEXT];
    DKFRE0(drq, db);
    dir = next;
  }
  DKFRE0(wrq, 0);
  DKFRE0(rq, 0);
  block[LOA_CONTROL] = 0;
  return 0;
}

int32_t Merge(int32_t* block) {
  LoadTable t;
  if (int32_t rc = OpenLoadTable(block, kIndexDKMRG1, &t)) return rc;
  block[LOA_CHAIN] = 0;
  if (block[LOA_CONTROL] == 0) {
    block[LOA_DUPLICATES] = 0;
    return 0;
  }
  std::vector<int32_t> runs;
  int32_t duplicates = 0;
  if (int32_t rc = TakeRuns(block, t, &runs, &duplicates)) return rc;
  const int32_t f = PassFanIn(static_cast<int32_t>(runs.size()), FanIn(t.data_size));
  while (runs.size() > 1) {
    std::vector<int32_t> merged;
    for (size_t i = 0; i < runs.size(); i += static_cast<size_t>(f)) {
      std::vector<int32_t> group(runs.begin() + static_cast<std::ptrdiff_t>(i),
                                 runs.begin() + static_cast<std::ptrdiff_t>(std::min(
                                                    runs.size(), i + static_cast<size_t>(f))));
      int32_t out = group[0];
      int32_t rc = group.size() > 1 ? MergeGroup(t, group, &out, &duplicates) : 0;
      if (rc < 0) {
        for (int32_t first : merged) FreeChain(t.databank, first, t.data_size);
        for (size_t j = i + group.size(); j < runs.size(); ++j)
          FreeChain(t.databank, runs[j], t.data_size);
        return rc;
      }
      merged.push_back(out);
    }
    runs.swap(merged);
  }
  block[LOA_CHAIN] = runs.empty() ? 0 : runs[0];
  block[LOA_DUPLICATES] = duplicates;
  return 0;
}

}  // namespace

void DKMRG1(int32_t* block) {
  block[LOA_STATUS] = Merge(block);
}
