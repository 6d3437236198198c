// Crashes during a stream of committing transactions, applied beside them by
// the background threads: the power cut at chosen points of the stream (the
// unsynced data dropped or kept, in whole pages), and a real server process
// killed with SIGKILL at random points. After the restart every transaction whose
// commit was reported done is there in full, nothing else is visible (the
// one transaction whose commit was under way may be there whole), and the
// check of every page of both databanks passes.
//
// The suite kills a short series; scripts/dk_kill_series.sh runs a long one
// (DK_KILL_ROUNDS kills, DK_KILL_SECONDS at most, DK_KILL_SEED to repeat one,
// DK_KILL_KEEP a directory that keeps the files of each checked round as the
// kill left them).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <iterator>
#include <mutex>
#include <random>
#include <set>

#include "dk/background_threads.h"
#include "dk/databank_verification.h"
#include "dk/tests/pass_through_file_system.h"
#include "dk/tests/restart_fixture.h"

namespace {

// The transactions of the stream, each a function of its number t alone, so
// that the rows after transactions 0..m are known without replaying them.
// Table 70 (2048-byte pages): t inserts six rows, updates the first row of
// t - 3 and deletes the rows of t - 8. Table 71 (16384-byte leaves under
// 2048-byte index pages): t inserts three rows and deletes those of t - 12.
// Inserts go to the right of each tree and deletes take from the left, so
// pages split and merge all along.
struct Stream {
  struct TableShape {
    int32_t tbl, key, length, rows, kept;  // rows a transaction inserts, transactions kept
  };
  static constexpr TableShape kTables[2] = {{70, 8, 200, 6, 8}, {71, 8, 1000, 3, 12}};
  static constexpr int32_t kUpdateDistance = 3;  // table 70 only

  // The table's letter, t in six base-36 digits (0-9 before a-z, as the
  // bytes sort: 36^6 passes every transaction number, so the keys of later
  // transactions sort after those of earlier ones however long a series
  // runs), and the row's digit.
  static std::string Key(const TableShape& s, int32_t t, int32_t i) {
    std::string key = s.tbl == 70 ? "a" : "b";
    for (int64_t weight = 36LL * 36 * 36 * 36 * 36; weight > 0; weight /= 36)
      key += "0123456789abcdefghijklmnopqrstuvwxyz"[t / weight % 36];
    return key + std::to_string(i % 10);
  }
  static std::string Row(const TableShape& s, int32_t t, int32_t i, int32_t writer) {
    std::string row = Key(s, t, i) + "w" + std::to_string(writer) + ".";
    row.resize(static_cast<size_t>(s.length), static_cast<char>('a' + writer % 26));
    return row;
  }
  // Who last wrote row i of transaction s once transactions up to m ran.
  static int32_t Writer(const TableShape& sh, int32_t s, int32_t i, int32_t m) {
    return sh.tbl == 70 && i == 0 && s + kUpdateDistance <= m ? s + kUpdateDistance : s;
  }
  // The rows of a table after transactions 0..m, in key order.
  static std::vector<std::string> Rows(const TableShape& sh, int32_t m) {
    std::vector<std::string> rows;
    for (int32_t s = std::max(0, m - sh.kept + 1); s <= m; ++s)
      for (int32_t i = 0; i < sh.rows; ++i) rows.push_back(Row(sh, s, i, Writer(sh, s, i, m)));
    return rows;
  }
  struct Change {
    int32_t table;  // index in kTables
    int32_t code;
    std::string row;
  };
  static std::vector<Change> Changes(int32_t t) {
    std::vector<Change> c;
    for (int32_t n = 0; n < 2; ++n) {
      const TableShape& sh = kTables[n];
      for (int32_t i = 0; i < sh.rows; ++i) c.push_back({n, 1, Row(sh, t, i, t)});
      if (sh.tbl == 70 && t >= kUpdateDistance)
        c.push_back({n, 2, Row(sh, t - kUpdateDistance, 0, t)});
      if (t >= sh.kept) {
        const int32_t s = t - sh.kept;
        for (int32_t i = 0; i < sh.rows; ++i) c.push_back({n, 4, Row(sh, s, i, Writer(sh, s, i, t))});
      }
    }
    return c;
  }
};

int32_t EnvNumber(const char* name, int32_t otherwise) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<int32_t>(std::strtol(v, nullptr, 10)) : otherwise;
}

class ServerProcess;

class CommitCrashTest : public RestartCrashTest {
 protected:
  void SetUp() override {
    // A server process opens the databanks the test made.
    if (std::getenv("DK_CRASH_DIR")) return PageTest::SetUp();
    RestartCrashTest::SetUp();
    for (const Stream::TableShape& sh : Stream::kTables)
      CreateTable(sh.tbl, sh.key, sh.length, sh.length > 500 ? 16384 : 2048, 2048);
    area_[BP_CHECK_OPTION] = 2;  // a crash found at an open checks every page
  }

  // Both databanks written and closed (close mark 1).
  void CloseDatabanks() {
    StopBackground();
    reused_ = {};
    for (int32_t did : {5, 2}) {
      int32_t rq[4] = {1, 0, did, -1};
      DKCallEntry(12, rq, nullptr);
      ASSERT_EQ(rq[0], 0) << did;
    }
    open_.clear();
  }
  // Closed, then a power cut that keeps what was written: the stream starts
  // from files wholly on disk.
  void MakeDurable() {
    CloseDatabanks();
    fault_.Crash({[this](const std::string&, int64_t) { return fault_.page_bytes(); }, nullptr});
  }

  // Both databanks made durable and kept aside, so that each round of a test
  // starts from them again (PutBack).
  void SaveDurable() {
    MakeDurable();
    std::filesystem::create_directory(dir_ + "/saved");
    for (const char* name : {"trans", "tables"})
      std::filesystem::copy_file(Path(name), dir_ + "/saved/" + name + ".dbf");
  }
  void PutBack() {
    for (const char* name : {"trans", "tables"})
      std::filesystem::copy_file(dir_ + "/saved/" + name + ".dbf", Path(name),
                                 std::filesystem::copy_options::overwrite_existing);
  }

  // Opens the databanks (the restart) and the stream's tables for commits.
  int32_t Resume() {
    area_[BP_CHECK_OPTION] = 2;
    if (int32_t rc = Reopen()) return rc;
    for (int n = 0; n < 2; ++n) {
      const Stream::TableShape& sh = Stream::kTables[n];
      bool opened = false;
      tables_[n] = OpenTable(sh.tbl, sh.key, sh.length, &opened);
      if (tables_[n].entry == 0) return -50;
    }
    // The write and read sets: work tables marked dropped, so that the open
    // after a crash gives their pages back.
    reused_ = {DroppedSet(), DroppedSet()};
    return 0;
  }
  int32_t DroppedSet() {
    int32_t b[CRT_WORDS] = {};
    b[RQ_DID] = 5;
    b[RQ_TYPE] = 10 * kKindSet + 3;
    b[RQ_TBL] = -1;
    b[RQ_INDEX_PAGE_SIZE] = 2048;
    b[RQ_DATA_PAGE_SIZE] = kCommitSetPageSize;
    DKCRT1(b);
    EXPECT_EQ(b[RQ_STATUS], 0);
    return b[RQ_TABLE];
  }

  // The stream's tables opened in this process, with the work tables of
  // its transactions.
  void OpenStreamTables() {
    for (int n = 0; n < 2; ++n) {
      const Stream::TableShape& sh = Stream::kTables[n];
      bool opened = false;
      tables_[n] = OpenTable(sh.tbl, sh.key, sh.length, &opened);
      ASSERT_NE(tables_[n].entry, 0);
    }
    reused_ = {DroppedSet(), DroppedSet()};
  }

  // The rows transactions 0..first - 1 leave, committed in one transaction
  // beside two background threads (started once a process: an ENQ/DEQ
  // index attaches once): the stream goes on from transaction `first`.
  void StartStreamAt(int32_t first) {
    ASSERT_NO_FATAL_FAILURE(OpenStreamTables());
    StartBackground(2);
    std::vector<Stream::Change> rows;
    for (int32_t n = 0; n < 2; ++n)
      for (const std::string& row : Stream::Rows(Stream::kTables[n], first - 1))
        rows.push_back({n, 1, row});
    ASSERT_EQ(CommitStreamChanges(rows), 0) << Logged();
  }

  // Commits transaction t; the status of its end (of its begin, or of a
  // step of filling its write set, when those fail).
  int32_t CommitTransaction(int32_t t) { return CommitStreamChanges(Stream::Changes(t)); }
  int32_t CommitStreamChanges(const std::vector<Stream::Change>& changes) {
    const Began began = Begin();
    if (began.rc != 0) return began.rc;
    std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
    int32_t rc = 0;
    for (int32_t set : {reused_.write, reused_.read}) {
      b[SETRQ_TABLE] = set;
      b[SETRQ_TBL] = -1;
      if (rc == 0) rc = DKDXT0(b);
    }
    std::vector<std::vector<int32_t>> records = {Header(0, {{db_, kUseWritten}})};
    for (const Stream::Change& c : changes)
      records.push_back(Change(c.code, tables_[c.table], c.row));
    for (const std::vector<int32_t>& r : records) {
      if (rc != 0) break;
      b[SETRQ_TABLE] = reused_.write;
      b[SETRQ_LENGTH] = static_cast<int32_t>(r.size());
      std::copy(r.begin(), r.end(), b.begin() + SETRQ_RECORD);
      rc = DKAXR0(b);
    }
    if (rc == 0) return End(began.tss, reused_);
    End(began.tss, reused_, kEndAbort);
    return rc;
  }

  // After the restart: the transactions present are 0..m for one m between
  // `low` and `high`; m, or -2 with *what saying what is there instead.
  int32_t PresentUpTo(int32_t low, int32_t high, std::string* what) {
    std::vector<std::string> rows[2];
    for (int n = 0; n < 2; ++n) {
      const Stream::TableShape& sh = Stream::kTables[n];
      rows[n] = TableRows(sh.tbl, sh.key, sh.length);
    }
    for (int32_t m = high; m >= low; --m) {
      if (rows[0] == Stream::Rows(Stream::kTables[0], m) &&
          rows[1] == Stream::Rows(Stream::kTables[1], m))
        return m;
    }
    // Against transactions 0..high: the rows missing and those too many.
    *what = "transactions 0.." + std::to_string(low) + " to 0.." + std::to_string(high) +
            " expected";
    for (int n = 0; n < 2; ++n) {
      const std::vector<std::string> want = Stream::Rows(Stream::kTables[n], high);
      std::vector<std::string> missing, extra;
      std::set_difference(want.begin(), want.end(), rows[n].begin(), rows[n].end(),
                          std::back_inserter(missing));
      std::set_difference(rows[n].begin(), rows[n].end(), want.begin(), want.end(),
                          std::back_inserter(extra));
      *what += "; table " + std::to_string(Stream::kTables[n].tbl) + " missing";
      for (const std::string& r : missing) *what += " " + r.substr(0, 16);
      *what += ", too many";
      for (const std::string& r : extra) *what += " " + r.substr(0, 16);
    }
    return -2;
  }

  // The errors logged, one line each.
  std::string Logged() {
    std::string text;
    for (const LogRecord& r : log_.records) {
      for (const std::string& l : r.lines) text += l + " | ";
      text += "\n";
    }
    return text;
  }

  // The files made durable and kept aside (PutBack), then a stream of
  // `count` transactions run to its end from them by `whole`.
  void RunWholeStream(int32_t count, ServerProcess* whole);
  // The restart after a round of a stream of `count` transactions that
  // `server` ran: every transaction it reported done is there in full,
  // nothing else is (but the one whose commit was under way, whole), and
  // both databanks check sound.
  void ReopenAndCheck(const ServerProcess& server, int32_t count);
  // Streams of `count` transactions cut by the power (`rounds` points among
  // the changes from `from` of them on), or ended in a write of a TRANS set
  // data page cut short (among the writes from `from` on).
  void PowerCuts(int32_t count, int rounds, double from);
  void WritesCutShort(int32_t count, int rounds, double from);

  // The restart's ends of the commit set's last data page at its last sound
  // record, among the errors logged.
  int EndedAtSoundRecord() {
    int ended = 0;
    for (const LogRecord& r : log_.records)
      ended += r.lines.size() > 1 &&
               r.lines[1].find("-16205 in function DKRST1") != std::string::npos;
    return ended;
  }

  // Both files copied into `where` (DK_KILL_KEEP), over the last ones.
  void KeepFiles(const std::string& where) {
    std::filesystem::create_directories(where);
    for (const char* name : {"trans", "tables"})
      if (std::filesystem::exists(Path(name)))
        std::filesystem::copy_file(Path(name), where + "/" + name + ".dbf",
                                   std::filesystem::copy_options::overwrite_existing);
  }

  // The check of every page of both databanks, as after a crash.
  void ExpectVerified() {
    for (int32_t entry : {db_, trans_}) {
      int32_t request[VED_WORDS] = {2, entry};
      EXPECT_EQ(DKVED0(request), 0) << area_[entry + DBE_DID];
      EXPECT_TRUE(DKUnitsReachedTwice(entry).empty()) << area_[entry + DBE_DID];
    }
  }

  Table tables_[2];
};

// -- Every write of a commit-set page, checked as it is written -------------

// Passes every call on to another file system and checks each write of a
// set's data page (word 1 -41; the commit set's and the write sets'): the write covers the
// used end (word 2), and the records from word 4 to it chain soundly (each
// record n, its words, n again), both in the image handed to the write and
// in that image once the write returned (a buffer changed while written).
class PageCheckingFileSystem : public PassThroughFileSystem {
 public:
  // `exit_on_fault`: a server process ends at once (exit 7) on the first
  // fault, before the page reaches its file.
  PageCheckingFileSystem(FileSystem& base, bool exit_on_fault)
      : PassThroughFileSystem(base), exit_on_fault_(exit_on_fault) {}

  int Open(const std::string& path, Create create, bool writable, int* handle) override {
    const int rc = base_.Open(path, create, writable, handle);
    std::lock_guard<std::mutex> hold(mutex_);
    if (rc == 0 && path.ends_with("trans.dbf")) trans_handles_.insert(*handle);
    return rc;
  }
  int Close(int handle) override {
    {
      std::lock_guard<std::mutex> hold(mutex_);
      trans_handles_.erase(handle);
    }
    return base_.Close(handle);
  }

  // From now on the n-th write of a set data page of the TRANS databank
  // longer than 4096 bytes puts only its first `boundaries` x 4096 bytes into
  // the file (fewer when the write is shorter) and ends the process (exit
  // 9): what a SIGKILL does to a buffered write it meets between two
  // page-cache pages of the file.
  void TearNthTransPageWrite(int n, int boundaries) {
    std::lock_guard<std::mutex> hold(mutex_);
    tear_at_ = trans_page_writes_ + n;
    tear_boundaries_ = boundaries;
  }
  // The writes that a tear counts, made so far.
  int trans_page_writes() {
    std::lock_guard<std::mutex> hold(mutex_);
    return trans_page_writes_;
  }

  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count,
              size_t* done) override {
    const auto* words = static_cast<const int32_t*>(buffer);
    const bool checked = count >= 16 && offset % 2048 == 0 && words[1] == kSetDataMark;
    std::vector<int32_t> before;
    if (checked) {
      before.assign(words, words + count / 4);
      Check(offset, before, "as handed to the write");
    }
    if (checked && count > kCachePage) {
      std::lock_guard<std::mutex> hold(mutex_);
      if (trans_handles_.count(handle) != 0 && ++trans_page_writes_ == tear_at_) {
        const size_t kept =
            std::min<size_t>(static_cast<size_t>(tear_boundaries_) * kCachePage,
                             (count - 1) / kCachePage * kCachePage);
        base_.WriteAt(handle, offset, buffer, kept, done);
        std::_Exit(9);
      }
    }
    const int rc = base_.WriteAt(handle, offset, buffer, count, done);
    if (checked) {
      std::lock_guard<std::mutex> hold(mutex_);
      ++pages_;
      if (!std::equal(before.begin(), before.end(), words)) {
        ++changed_while_written_;
        if (exit_on_fault_) {
          const auto* after = words;
          int32_t first = 0;
          while (before[first] == after[first]) ++first;
          std::fprintf(stderr,
                       "page at byte %lld changed while written: word %d %d -> %d, used end %d -> "
                       "%d\n",
                       static_cast<long long>(offset), first, before[first], after[first],
                       before[SETDATA_END], after[SETDATA_END]);
          std::_Exit(8);
        }
      }
    }
    return rc;
  }

  // The faults found, one line each; the data pages written.
  std::vector<std::string> faults() {
    std::lock_guard<std::mutex> hold(mutex_);
    return faults_;
  }
  int pages() {
    std::lock_guard<std::mutex> hold(mutex_);
    return pages_;
  }
  int changed_while_written() {
    std::lock_guard<std::mutex> hold(mutex_);
    return changed_while_written_;
  }

 private:
  void Check(int64_t offset, const std::vector<int32_t>& w, const char* when) {
    const auto size = static_cast<int32_t>(w.size());
    const int32_t end = w[SETDATA_END];
    std::string fault;
    if (end < SETDATA_FIRST || end > size) {
      fault = "used end " + std::to_string(end) + " outside the " + std::to_string(size) +
              " words written";
    } else {
      for (int32_t p = SETDATA_FIRST; p < end && fault.empty(); p += w[p]) {
        const int32_t n = w[p];
        if (n < 2 || p + n > end || w[p + n - 1] != n)
          fault = "record at word " + std::to_string(p) + ": length " + std::to_string(n) +
                  ", used end " + std::to_string(end);
      }
    }
    if (fault.empty()) return;
    if (exit_on_fault_) {
      std::fprintf(stderr, "page at byte %lld %s: %s\n", static_cast<long long>(offset), when,
                   fault.c_str());
      std::_Exit(7);
    }
    std::lock_guard<std::mutex> hold(mutex_);
    faults_.push_back("page at byte " + std::to_string(offset) + " " + when + ": " + fault);
  }

  static constexpr size_t kCachePage = 4096;
  const bool exit_on_fault_;
  std::mutex mutex_;
  std::vector<std::string> faults_;
  int pages_ = 0;
  int changed_while_written_ = 0;
  std::set<int> trans_handles_;
  int trans_page_writes_ = 0;
  int tear_at_ = 0;
  int tear_boundaries_ = 1;
};

// -- The server process ------------------------------------------------------

// What a power cut keeps of what was not synced, by number: nothing, all of
// it, every other 64K block, or the TRANS databank's pages alone. Whole
// blocks of 64K hold whole pages of every size: a page write is either on
// disk or not, never torn (pages are written in place and carry no check
// sum, so a torn one cannot be told from a sound one).
FaultFileSystem::CrashPlan Plan(FaultFileSystem& fs, int number) {
  const int64_t page = fs.page_bytes();
  const int64_t block = 65536 / page;
  switch (number % 4) {
    case 1:
      return {[page](const std::string&, int64_t) { return page; }, nullptr};
    case 2:
      return {[page, block](const std::string&, int64_t p) { return p / block % 2 ? page : 0; },
              nullptr};
    case 3:
      return {[page](const std::string& path, int64_t) {
                return path.ends_with("trans.dbf") ? page : 0;
              },
              nullptr};
    default:
      return {};
  }
}

// What the server process writes to its pipe: two words, a kind and a value.
enum Message : int32_t { kCommitted, kPresent, kChanges, kTearable, kEnded };

// Run in a process of its own by the tests below (it is skipped otherwise):
// opens the databanks in DK_CRASH_DIR (the restart after the last crash),
// finds there transactions 0..m for an m from DK_CRASH_LOW to DK_CRASH_HIGH
// (ending with 6 when it finds anything else) and commits transactions from
// m + 1 on, DK_CRASH_COUNT of them (or until it is killed). It writes m, and
// each number once its commit is reported done. With DK_CRASH_CUT the power
// is cut after that many changes of the stream and, once a commit fails,
// the files are left as plan DK_CRASH_PLAN says. With DK_CRASH_TEAR the
// process ends in the middle of that write of a TRANS set data page (see
// TearNthTransPageWrite; DK_CRASH_TEAR_PAGES the 4096-byte pages it keeps).
// A stream that ends writes the changes it made and the writes a tear
// counts. A set data page written unsound ends it with 7; a restart that
// fails ends it with 3, its answer and the errors logged on stderr.
TEST_F(CommitCrashTest, ChildCommits) {
  const char* dir = std::getenv("DK_CRASH_DIR");
  if (!dir) GTEST_SKIP() << "a process the crash tests start";
  const int fd = EnvNumber("DK_CRASH_FD", -1);
  const int32_t count = EnvNumber("DK_CRASH_COUNT", INT32_MAX);
  const int cut = EnvNumber("DK_CRASH_CUT", -1);
  auto send = [fd](Message kind, int32_t value) {
    const int32_t m[2] = {kind, value};
    if (write(fd, m, sizeof m) != sizeof m) std::_Exit(5);
  };
  std::filesystem::remove_all(dir_);
  dir_ = dir;
  // Every set data page written, the restart's included, is checked whole.
  static PageCheckingFileSystem checking(fault_, true);
  mdr_install_file_system(&checking);
  if (const int32_t rc = Resume(); rc != 0) {
    std::fprintf(stderr, "restart: %d\n%s", rc, Logged().c_str());
    std::_Exit(3);
  }
  std::string what;
  const int32_t present =
      PresentUpTo(EnvNumber("DK_CRASH_LOW", -1), EnvNumber("DK_CRASH_HIGH", -1), &what);
  if (present < -1) {
    // Transactions 0..m for an earlier m: a commit reported done is lost
    // (10); anything else is half visible (6).
    std::string earlier;
    const bool lost = PresentUpTo(-1, EnvNumber("DK_CRASH_LOW", -1), &earlier) >= -1;
    std::fprintf(stderr, "%s\n", what.c_str());
    std::_Exit(lost ? 10 : 6);
  }
  send(kEnded, EndedAtSoundRecord());
  send(kPresent, present);
  DKOverlapUnits(EnvNumber("DK_CRASH_OVERLAP", 1) != 0);
  StartBackground(2);
  const int before = fault_.changes();
  const int tearable = checking.trans_page_writes();
  if (cut >= 0) fault_.CutPowerAfter(cut);
  if (const int tear = EnvNumber("DK_CRASH_TEAR", 0); tear > 0)
    checking.TearNthTransPageWrite(tear, EnvNumber("DK_CRASH_TEAR_PAGES", 1));
  for (int32_t t = present + 1; t - present <= count; ++t) {
    int32_t rc = -1;
    try {
      // While the background has every transaction entry in hand, a begin
      // is refused (-84) and the client tries again.
      for (int tries = 0; (rc = CommitTransaction(t)) == -84 && tries < 10000; ++tries)
        usleep(200);
    } catch (const ServerException&) {
    }
    if (rc != 0 && cut < 0) {
      std::fprintf(stderr, "transaction %d: %d\n%s", t, rc, Logged().c_str());
      std::_Exit(4);
    }
    if (rc != 0) break;
    send(kCommitted, t);
  }
  const int32_t changes = fault_.changes() - before;
  if (cut < 0) {
    StopBackground();
  } else {
    // The server ends: threads that an internal error left waiting stay so.
    int32_t rc = 0;
    DKStopBackground(&rc);
    for (int i = 0; i < 50 && background_running_ > 0; ++i) usleep(10000);
    for (std::thread& t : threads_) t.detach();
    threads_.clear();
    fault_.Crash(Plan(fault_, EnvNumber("DK_CRASH_PLAN", 0)));
  }
  send(kChanges, changes);
  send(kTearable, checking.trans_page_writes() - tearable);
  std::_Exit(0);
}

// A server process running ChildCommits.
class ServerProcess {
 public:
  // Starts it with the given DK_CRASH_ settings; false when it could not be.
  bool Start(const std::vector<std::pair<std::string, int32_t>>& settings,
             const std::string& dir) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    // What the process makes of its own goes into the test's directory,
    // which the test removes: a process killed early leaves it there.
    const std::string scratch = dir + "/scratch";
    std::filesystem::create_directories(scratch);
    pid_ = fork();
    if (pid_ < 0) return false;
    if (pid_ == 0) {
      close(fds[0]);
      setenv("DK_CRASH_DIR", dir.c_str(), 1);
      setenv("DK_TEST_SCRATCH", scratch.c_str(), 1);
      setenv("DK_CRASH_FD", std::to_string(fds[1]).c_str(), 1);
      for (const auto& [name, value] : settings)
        setenv(("DK_CRASH_" + name).c_str(), std::to_string(value).c_str(), 1);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      execl("/proc/self/exe", "dk_tests", "--gtest_filter=CommitCrashTest.ChildCommits",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    fd_ = fds[0];
    return true;
  }
  // Reads reported commits until `count` came or `wait_ms` passed; with
  // `kill_delay_us` 0 or more it then waits so long and kills the process,
  // else it reads to the end and waits for the process to end.
  void Run(int count, int wait_ms, int kill_delay_us) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (reports_ < count && std::chrono::steady_clock::now() < until) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      if (!Read()) break;
    }
    if (kill_delay_us >= 0) {
      usleep(static_cast<useconds_t>(kill_delay_us));
      kill(pid_, SIGKILL);
    }
    while (Read()) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    close(fd_);
    exit_ = WIFSIGNALED(status) ? (WTERMSIG(status) == SIGKILL ? -1 : 128 + WTERMSIG(status))
                                : WEXITSTATUS(status);
  }
  // What the process found after its restart, -2 when it did not get so far.
  int32_t present() const { return present_; }
  int32_t last() const { return last_; }  // the last transaction reported done, -1: none
  int reports() const { return reports_; }
  int changes() const { return changes_; }  // of a stream that ended
  int tearable() const { return tearable_; }  // writes a tear counts, of a stream that ended
  int ended() const { return ended_; }  // pages its restart ended at their last sound record
  int exit_status() const { return exit_; }  // -1 when it was killed

 private:
  bool Read() {
    int32_t m[2];
    if (read(fd_, m, sizeof m) != sizeof m) return false;
    if (m[0] == kPresent) present_ = m[1];
    if (m[0] == kChanges) changes_ = m[1];
    if (m[0] == kTearable) tearable_ = m[1];
    if (m[0] == kEnded) ended_ = m[1];
    if (m[0] == kCommitted) {
      last_ = m[1];
      ++reports_;
    }
    return true;
  }
  pid_t pid_ = -1;
  int fd_ = -1;
  int32_t present_ = -2, last_ = -1;
  int reports_ = 0, changes_ = -1, tearable_ = -1, ended_ = 0, exit_ = 0;
};

void CommitCrashTest::RunWholeStream(int32_t count, ServerProcess* whole) {
  SaveDurable();
  ASSERT_TRUE(whole->Start({{"COUNT", count}}, dir_));
  whole->Run(count, 30000, -1);
  ASSERT_EQ(whole->exit_status(), 0);
  ASSERT_EQ(whole->last(), count - 1);
}

void CommitCrashTest::ReopenAndCheck(const ServerProcess& server, int32_t count) {
  log_.records.clear();
  ASSERT_EQ(Reopen(), 0) << Logged();
  std::string what;
  const int32_t m = PresentUpTo(server.last(), std::min(server.last() + 1, count - 1), &what);
  ASSERT_GE(m, -1) << what;
  ExpectVerified();
}

// -- The power cut -------------------------------------------------------------

void CommitCrashTest::PowerCuts(int32_t count, int rounds, double from) {
  ServerProcess whole;
  ASSERT_NO_FATAL_FAILURE(RunWholeStream(count, &whole));
  const int changes = whole.changes();
  ASSERT_GT(changes, 50);
  const int first = static_cast<int>(changes * from), span = changes - first;
  std::mt19937 random(static_cast<uint32_t>(EnvNumber("DK_CRASH_SEED", 17)));
  for (int round = 0; round < rounds; ++round) {
    const int cut = first + round * span / rounds +
                    static_cast<int>(random() % static_cast<uint32_t>(span / rounds));
    SCOPED_TRACE("power cut after " + std::to_string(cut) + " of " + std::to_string(changes) +
                 ", plan " + std::to_string(round % 4));
    PutBack();
    ServerProcess server;
    ASSERT_TRUE(server.Start({{"COUNT", count}, {"CUT", cut}, {"PLAN", round}}, dir_));
    server.Run(count, 30000, -1);
    ASSERT_EQ(server.exit_status(), 0);
    ASSERT_NO_FATAL_FAILURE(ReopenAndCheck(server, count));
    CloseDatabanks();
  }
}

TEST_F(CommitCrashTest, CommitsReportedDoneSurviveAPowerCutAtAnyPoint) {
  PowerCuts(30, 24, 0);
}

// -- A write cut short by the end of the process ----------------------------

// A SIGKILL that meets a buffered write between two page-cache pages of the
// file ends the write there: the file keeps the write's first pages and, after
// them, what the previous write of the page left. Here the process ends so in
// its n-th write of a TRANS set data page, for writes spread over a stream,
// keeping one to three 4096-byte pages of it. After the restart every
// transaction reported done is there in full, nothing else is, both
// databanks check sound, and the restart ended the commit set's last data
// page at its last sound record wherever the cut left it unsound.
void CommitCrashTest::WritesCutShort(int32_t count, int rounds, double from) {
  ServerProcess whole;
  ASSERT_NO_FATAL_FAILURE(RunWholeStream(count, &whole));
  const int writes = whole.tearable();
  ASSERT_GT(writes, 20);
  const int first = static_cast<int>(writes * from);
  int cut_short = 0, ended_at_sound_record = 0;
  for (int round = 0; round < rounds; ++round) {
    const int n = first + 1 + round * (writes - first) / rounds;
    SCOPED_TRACE("write " + std::to_string(n) + " of " + std::to_string(writes) + " cut after " +
                 std::to_string(round % 3 + 1) + " pages");
    PutBack();
    ServerProcess server;
    ASSERT_TRUE(server.Start({{"COUNT", count}, {"TEAR", n}, {"TEAR_PAGES", round % 3 + 1}}, dir_));
    server.Run(count, 30000, -1);
    // The background's timing may leave a stream with fewer such writes.
    ASSERT_TRUE(server.exit_status() == 9 || server.exit_status() == 0) << server.exit_status();
    cut_short += server.exit_status() == 9;
    ASSERT_NO_FATAL_FAILURE(ReopenAndCheck(server, count));
    ended_at_sound_record += EndedAtSoundRecord();
    CloseDatabanks();
  }
  EXPECT_GT(cut_short, rounds / 2);
  // Whether a cut leaves a record unsound depends on where in the page the
  // cut falls and on what the page held before; a few rounds may all fall
  // where the page keeps whole records, which proves nothing either way.
  if (rounds >= 12) {
    EXPECT_GT(ended_at_sound_record, 0);
  }
  std::printf("writes cut short %d, commit-set pages ended at their last sound record %d\n",
              cut_short, ended_at_sound_record);
}

TEST_F(CommitCrashTest, CommitsReportedDoneSurviveAWriteCutShortByTheKill) {
  WritesCutShort(30, 24, 0);
}

// Transactions after which the commit set's ring went round (about 1,000
// data pages, two list pages, have been filled after some 4,900).
constexpr int32_t kRingTurns = 6000;

// The commit set is a ring that takes its pages again once what they hold
// is secured: a stream long enough for it to go round more than once, cut by
// the power and by a write cut short in its later part, where the pages the
// restart reads hold the last commits before older ones.
TEST_F(CommitCrashTest, CommitsReportedDoneSurviveAPowerCutOnceTheCommitSetRingTurned) {
  PowerCuts(kRingTurns, 3, 0.85);
}

TEST_F(CommitCrashTest, CommitsReportedDoneSurviveAWriteCutShortOnceTheCommitSetRingTurned) {
  WritesCutShort(kRingTurns, 3, 0.85);
}

// Commits with two background threads applying them (the commit set's ring
// goes round, taking its pages again), every commit-set page write checked
// whole.
TEST_F(CommitCrashTest, CommitSetPagesAreSoundWhenWritten) {
  const int32_t count = EnvNumber("DK_PAGE_CHECK_TRANSACTIONS", kRingTurns);
  PageCheckingFileSystem checking(fault_, false);
  mdr_install_file_system(&checking);
  ASSERT_NO_FATAL_FAILURE(OpenStreamTables());
  StartBackground(2);
  for (int32_t t = 0; t < count; ++t) {
    int32_t rc = -84;
    for (int tries = 0; (rc = CommitTransaction(t)) == -84 && tries < 10000; ++tries)
      usleep(200);
    ASSERT_EQ(rc, 0) << "transaction " << t << "\n" << Logged();
  }
  StopBackground();
  std::string what;
  // The background may not have applied the last commits yet: a prefix.
  EXPECT_GE(PresentUpTo(-1, count - 1, &what), -1) << what;
  ExpectVerified();
  mdr_install_file_system(&fault_);
  EXPECT_GT(checking.pages(), 0);
  EXPECT_EQ(checking.changed_while_written(), 0);
  for (const std::string& f : checking.faults()) ADD_FAILURE() << f;
  std::printf("commit-set data pages written %d\n", checking.pages());
  // Read from its first page the ring's order numbers jump back at most once,
  // where the last commits meet the oldest ones still there; by now the ring
  // went round (once cut back, it reads in order again).
  std::vector<int32_t> b(SETRQ_RECORD + SetMaxRecordWords(kCommitSetPageSize), 0);
  b[SETRQ_TABLE] = area_[BP_COMMIT_SET_TBL];
  b[SETRQ_TBL] = 10;
  b[SETRQ_RC] = 2;
  int32_t previous = 0, jumps = 0;
  while (DKGXN0(b) == 0) {
    jumps += b[SETRQ_RECORD + 1] < previous;
    previous = b[SETRQ_RECORD + 1];
    b[SETRQ_RC] = 0;
  }
  EXPECT_LE(jumps, 1);
  if (count >= kRingTurns) {
    EXPECT_TRUE(jumps == 1 || area_[BP_COMMIT_SET_TRIM_COUNT] > 0);
  }
}

// The stream goes on past transaction 1,000,000, where the rows' keys of an
// earlier form (the number modulo a million) wrapped and the rows of later
// transactions sorted before those of earlier ones: after the restart the
// tables hold exactly the rows transactions 0..m leave.
TEST_F(CommitCrashTest, TheStreamRunsOnPastAMillionTransactions) {
  constexpr int32_t kFirst = 999990, kCount = 24;
  ASSERT_NO_FATAL_FAILURE(StartStreamAt(kFirst));
  for (int32_t t = kFirst; t < kFirst + kCount; ++t)
    ASSERT_EQ(CommitTransaction(t), 0) << "transaction " << t << "\n" << Logged();
  CloseDatabanks();
  ASSERT_EQ(Reopen(), 0) << Logged();
  std::string what;
  EXPECT_EQ(PresentUpTo(kFirst + kCount - 1, kFirst + kCount - 1, &what), kFirst + kCount - 1)
      << what;
  ExpectVerified();
  EXPECT_LT(Stream::Key(Stream::kTables[0], 999999, 5), Stream::Key(Stream::kTables[0], 1000000, 0));
  EXPECT_LT(Stream::Key(Stream::kTables[1], INT32_MAX - 1, 9),
            Stream::Key(Stream::kTables[1], INT32_MAX, 0));
}

// -- The kill of a real process --------------------------------------------

TEST_F(CommitCrashTest, CommitsReportedDoneSurviveKillsOfTheServer) {
  const int rounds = EnvNumber("DK_KILL_ROUNDS", 6);
  const int seconds = EnvNumber("DK_KILL_SECONDS", 1 << 30);
  const auto seed = static_cast<uint32_t>(EnvNumber("DK_KILL_SEED", 5));
  // DK_KILL_FIRST starts the stream at that transaction (a long series past
  // numbers it would take hours to reach).
  const int32_t first = EnvNumber("DK_KILL_FIRST", 0);
  std::mt19937 random(seed);
  if (first > 0) {
    ASSERT_NO_FATAL_FAILURE(StartStreamAt(first));
  }
  CloseDatabanks();
  // This process's own restarts and closes write pages too: checked alike.
  PageCheckingFileSystem checking(fault_, false);
  mdr_install_file_system(&checking);
  struct Uninstall {
    FileSystem* fs;
    ~Uninstall() { mdr_install_file_system(fs); }
  } uninstall{&fault_};
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  int kills = 0, reported_total = 0, lost = 0, half = 0, ended = 0;
  // Transactions 0..m are on disk for an m from low to high.
  int32_t low = first - 1, high = first - 1;
  for (; kills < rounds && std::chrono::steady_clock::now() < end; ++kills) {
    SCOPED_TRACE("kill " + std::to_string(kills) + ", seed " + std::to_string(seed));
    ServerProcess server;
    const char* keep = std::getenv("DK_KILL_KEEP");
    // Every other process restarts from the last kill itself: the files as
    // that kill left them, for a restart that finds them wrong (exit 6).
    if (keep) KeepFiles(std::string(keep) + "/before-restart");
    ASSERT_TRUE(server.Start(
        {{"LOW", low}, {"HIGH", high}, {"OVERLAP", EnvNumber("DK_KILL_OVERLAP", 1)}}, dir_));
    // Mostly during the stream; now and then during the process's restart.
    const int count = random() % 8 == 0 ? 0 : static_cast<int>(random() % 40);
    const int delay = count == 0 ? static_cast<int>(random() % 60000)
                                 : static_cast<int>(random() % 3000);
    server.Run(count, 20000, delay);
    if (server.exit_status() == 6 || server.exit_status() == 10) {
      // The process found after its restart what no m gives.
      ++(server.exit_status() == 10 ? lost : half);
      ADD_FAILURE() << "the restart after a kill found neither of transactions " << low
                    << " to " << high << (server.exit_status() == 10 ? " (an earlier prefix)" : "");
      break;
    }
    ASSERT_EQ(server.exit_status(), -1)
        << "the server ended by itself (3: its restart failed, see stderr; 7: it wrote a set "
           "data page unsound; 8: a buffer changed while written)";
    reported_total += server.reports();
    ended += server.ended();
    if (server.reports() > 0) {
      low = server.last();
      high = low + 1;
    } else if (server.present() >= -1) {
      low = server.present();
      high = low + 1;
    }
    // Every other round the next process restarts from the kill itself;
    // the others are checked here, and end with the databanks closed.
    if (kills % 2 == 1 && kills + 1 < rounds) continue;
    // The files as the kill left them, for a round that fails.
    if (keep) KeepFiles(keep);
    log_.records.clear();
    ASSERT_EQ(Reopen(), 0) << Logged() << testing::PrintToString(checking.faults());
    ended += EndedAtSoundRecord();
    std::string what;
    const int32_t m = PresentUpTo(low, high, &what);
    if (m < -1) {
      std::string earlier;
      ++(PresentUpTo(-1, low, &earlier) >= -1 ? lost : half);
      ADD_FAILURE() << what;
      break;
    }
    ExpectVerified();
    low = high = m;
    CloseDatabanks();
  }
  for (const std::string& f : checking.faults()) ADD_FAILURE() << f;
  std::printf(
      "kills %d, transactions reported committed %d, lost %d, half-visible %d, commit-set pages "
      "ended at their last sound record %d\n",
      kills, reported_total, lost, half, ended);
}

}  // namespace
