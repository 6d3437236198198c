// Databank file I/O against real files in a scratch directory, with the
// fault-injecting file system where a failure must be provoked.
#include "platform/databank_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <barrier>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "platform/host_services.h"

namespace {

namespace fs = std::filesystem;

struct Services : HostServices {
  std::vector<std::string> lines;
  uint32_t buffering = 0;
  bool have_buffering = false;
  void write_output(StatusPair* status, int, const char* area, int count) override {
    set_success(status);
    if (count < 0) lines.emplace_back(area);
    for (int i = 0; i < count; ++i, area += lines.back().size() + 1) lines.emplace_back(area);
  }
  bool reg_get_version_dword(const char*, const char* name, uint32_t* value) override {
    if (!have_buffering || strcmp(name, "IoBuffering") != 0) return false;
    *value = buffering;
    return true;
  }
};

int32_t Step(int32_t os) {
  return (os >> 16) & 0xFFF;
}
int32_t Class(int32_t os) {
  return static_cast<int32_t>(static_cast<uint32_t>(os) >> 28);
}
int32_t Code(int32_t os) {
  return os & 0xFFFF;
}

class DatabankIo : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/dbio-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    StatusPair st;
    mdr_set_default_path(&st, dir_.c_str(), static_cast<int32_t>(dir_.size()));
    previous_ = InstallHostServices(&services_);
  }
  void TearDown() override {
    CloseAll();
    mdr_install_file_system(nullptr);
    InstallHostServices(previous_);
    EXPECT_EQ(mdr_open_file_count(), 0);
    fs::remove_all(dir_);
  }
  // Opens `name` (blank-padded as callers pass it) with `mode`; returns the
  // request block.
  std::vector<int32_t> Open(const std::string& name, int32_t mode, int32_t blocks = 0) {
    std::string padded = name;
    padded.resize(kIoNameLength, ' ');
    std::vector<int32_t> rq = {mode, 0, 0, blocks, 0};
    mdrdmo(rq.data(), padded.c_str());
    if (rq[IO_RC] == 0) open_.push_back(rq[IO_FILE_ID]);
    return rq;
  }
  int32_t Close(int32_t id, int32_t remove = 0) {
    std::erase(open_, id);
    int32_t rq[IO_REQUEST_WORDS] = {remove, 0, id, 0, 0};
    mdrdmc(rq);
    return rq[IO_RC];
  }
  void Touch(const std::string& leaf, const std::string& text = "x") {
    std::ofstream(dir_ + "/" + leaf) << text;
  }
  void CloseAll() {
    while (!open_.empty()) Close(open_.back());
  }
  std::string dir_;
  Services services_;
  FaultFileSystem faults_{PosixFileSystem()};
  HostServices* previous_ = nullptr;
  std::vector<int32_t> open_;
};

TEST_F(DatabankIo, NamesAreFoundInTheDefaultPath) {
  struct Case {
    std::vector<std::string> present;
    std::string name;
    int32_t mode;
    std::string opened;  // leaf of the file opened, empty for a failure
    int32_t rc;
  } cases[] = {
      {{"DATA.DBF"}, "DATA", 0, "DATA.DBF", 0},
      {{"data.dbf"}, "data", 0, "data.dbf", 0},
      {{"data.dbf"}, "DATA", 0, "data.dbf", 0},  // names compare without case
      {{"DATA.X", "DATA.DBF"}, "DATA.X", 0, "DATA.X", 0},
      {{"DATA.DBF"}, "DATA.X", 0, "", -2},  // an extension is searched as it stands
      {{}, "DATA", 0, "", -2},
      {{}, "NEW", IO_CREATE_NEW, "NEW.dbf", 0},
      {{"sub/IN.DBF"}, "sub/IN", 1, "sub/IN.DBF", 0},
  };
  fs::create_directory(dir_ + "/sub");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& p : c.present) Touch(p);
    std::vector<int32_t> rq = Open(c.name, c.mode, 1);
    EXPECT_EQ(rq[IO_RC], c.rc);
    if (c.rc == 0) {
      EXPECT_EQ(rq[IO_OS_STATUS], -1);
      ASSERT_GT(rq[IO_FILE_ID], 0);
      EXPECT_EQ(std::string(mdr_file_name(rq[IO_FILE_ID])),
                fs::path(dir_ + "/" + c.opened).lexically_normal().string());
      EXPECT_EQ(Close(rq[IO_FILE_ID], 1), 0);
    } else {
      EXPECT_EQ(rq[IO_FILE_ID], 0);
      EXPECT_EQ(Class(rq[IO_OS_STATUS]), 6);
      EXPECT_EQ(Step(rq[IO_OS_STATUS]), 26);
      EXPECT_EQ(Code(rq[IO_OS_STATUS]), ENOENT);
    }
    for (const auto& p : c.present) fs::remove(dir_ + "/" + p);
  }
}

TEST_F(DatabankIo, OpenErrorsGiveTheirCodes) {
  Touch("HELD.DBF", "keep me");
  std::vector<int32_t> first = Open("HELD", IO_OPEN_READ_WRITE);
  ASSERT_EQ(first[IO_RC], 0);
  // A second open of a held file, also one that would empty it, is refused
  // and leaves the file as it was.
  EXPECT_EQ(Open("HELD", IO_OPEN_READ_ONLY)[IO_RC], -4);
  EXPECT_EQ(Open("HELD", IO_CREATE_ALWAYS, 4)[IO_RC], -4);
  EXPECT_EQ(fs::file_size(dir_ + "/HELD.DBF"), 7u);
  EXPECT_EQ(Open("HELD", IO_CREATE_NEW, 4)[IO_RC], -3);  // already there
  EXPECT_EQ(Open("HELD", 7)[IO_RC], -9);                 // no such mode
  EXPECT_EQ(Open("", 0)[IO_RC], -1);
  EXPECT_EQ(Open(std::string(250, 'n'), IO_CREATE_NEW, 1)[IO_RC], -1);  // path too long
  EXPECT_EQ(Open("NOFILE", IO_OPEN_READ_WRITE)[IO_RC], -2);
  EXPECT_EQ(Open("nodir/X", IO_CREATE_NEW, 1)[IO_RC], -2);
  EXPECT_FALSE(fs::exists(dir_ + "/NOFILE.dbf"));
}

TEST_F(DatabankIo, FailedCreateLeavesNoFile) {
  FaultFileSystem& faults = faults_;
  mdr_install_file_system(&faults);
  faults.SetDiskFull(true);
  for (int32_t mode : {IO_CREATE_NEW, IO_CREATE_ALWAYS, IO_CREATE_TEMPORARY}) {
    // The removal of the failed file is interrupted too, and made again.
    faults.Interrupt(FaultFileSystem::Op::kRemove, 2);
    std::vector<int32_t> rq = Open("FULL", mode, 16);
    EXPECT_EQ(rq[IO_RC], -6) << mode;
    EXPECT_EQ(Step(rq[IO_OS_STATUS]), 39);
    EXPECT_EQ(Code(rq[IO_OS_STATUS]), ENOSPC);
    EXPECT_FALSE(fs::exists(dir_ + "/FULL.dbf")) << mode;
  }
  faults.SetDiskFull(false);
  std::vector<int32_t> rq = Open("TEMP", IO_CREATE_TEMPORARY, 3);
  ASSERT_EQ(rq[IO_RC], 0);
  EXPECT_EQ(fs::file_size(dir_ + "/TEMP.dbf"), 3u * 2048);
  EXPECT_EQ(Close(rq[IO_FILE_ID]), 0);
  EXPECT_FALSE(fs::exists(dir_ + "/TEMP.dbf"));  // deleted on close
}

TEST_F(DatabankIo, ExtendGrowsByAtLeast128Units) {
  FaultFileSystem& faults = faults_;
  mdr_install_file_system(&faults);
  std::vector<int32_t> rq = Open("EXT", IO_CREATE_NEW, 2);
  ASSERT_EQ(rq[IO_RC], 0);
  const std::string path = dir_ + "/EXT.dbf";
  struct Case {
    int32_t end, bytes, rc;
    uintmax_t size;
  } cases[] = {
      {2, 0, 128, 130 * 2048},
      {130, 2048, 128, 258 * 2048},
      {258, 300 * 2048, 300, 558 * 2048},
      {558, 300 * 2048 + 100, 300, 858 * 2048},
      {858, -1, -9, 858 * 2048},
      {100, 0, 128, 858 * 2048},  // a stale end never cuts the file short
  };
  for (const Case& c : cases) {
    int32_t x[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], c.end, c.bytes};
    mdrdmx(x);
    EXPECT_EQ(x[IO_RC], c.rc) << c.end;
    EXPECT_EQ(fs::file_size(path), c.size) << c.end;
  }
  faults.SetDiskFull(true);
  int32_t x[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 858, 0};
  mdrdmx(x);
  EXPECT_EQ(x[IO_RC], -6);
  EXPECT_EQ(fs::file_size(path), 858u * 2048);
  int32_t t[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 5, 0};
  mdrdmt(t);  // shrinking needs no space
  EXPECT_EQ(t[IO_RC], 0);
  EXPECT_EQ(fs::file_size(path), 5u * 2048);
}

TEST_F(DatabankIo, WholeUnitsRoundTripAgainstAModel) {
  std::vector<int32_t> rq = Open("RT", IO_CREATE_NEW, 64);
  ASSERT_EQ(rq[IO_RC], 0);
  std::vector<char> model(64 * 2048, 0);
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) {
    int32_t block = static_cast<int32_t>(rng() % 60), units = 1 + static_cast<int32_t>(rng() % 4);
    std::vector<char> data(units * 2048);
    for (char& ch : data) ch = static_cast<char>(rng());
    int32_t w[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], block, units * 2048};
    mdrdmw(w, data.data());
    ASSERT_EQ(w[IO_RC], 0);
    ASSERT_EQ(w[IO_OS_STATUS], -1);
    memcpy(&model[block * 2048], data.data(), data.size());
  }
  std::vector<char> back(64 * 2048);
  int32_t r[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 0, 64 * 2048};
  mdrdmr(r, back.data());
  ASSERT_EQ(r[IO_RC], 0);
  EXPECT_EQ(back, model);
  mdrdma(r);  // a finished request is left as it is
  EXPECT_EQ(r[IO_RC], 0);
  // Offsets past 2^31 bytes: block 1100000 is 2.25 GB into the file.
  char unit[2048];
  memset(unit, 0x5a, sizeof unit);
  int32_t far[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 1100000, 2048};
  mdrdmw(far, unit);
  ASSERT_EQ(far[IO_RC], 0);
  char got[2048] = {};
  int32_t farr[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 1100000, 2048};
  mdrdmr(farr, got);
  EXPECT_EQ(farr[IO_RC], 0);
  EXPECT_EQ(memcmp(unit, got, sizeof got), 0);
}

TEST_F(DatabankIo, TransferFailuresAndBadRequests) {
  FaultFileSystem& faults = faults_;
  mdr_install_file_system(&faults);
  std::vector<int32_t> rq = Open("BAD", IO_CREATE_NEW, 2);
  ASSERT_EQ(rq[IO_RC], 0);
  const int32_t id = rq[IO_FILE_ID];
  char buffer[4096] = {};
  struct Case {
    const char* what;
    int32_t id, block, count;
    bool write;
    int fail;  // errno injected, 0 for none
    int32_t cls, step;
  } cases[] = {
      {"write fails", id, 0, 2048, true, EIO, 6, 35},
      {"read fails", id, 0, 2048, false, EIO, 6, 34},
      {"read past the end", id, 1, 4096, false, 0, 6, 0},
      {"file id 0", 0, 0, 2048, false, 0, 14, 32},
      {"file id -1", -1, 0, 2048, true, 0, 14, 33},
      {"file id too large", 99999, 0, 2048, false, 0, 14, 32},
      {"file id never used", id + 1, 0, 2048, false, 0, 14, 32},
      {"negative block", id, -1, 2048, false, 0, 14, 32},
      {"negative count", id, 0, -5, true, 0, 14, 33},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.fail && c.write) faults.FailNthWrite(1, c.fail);
    if (c.fail && !c.write) faults.FailNthRead(1, c.fail);
    int32_t t[IO_REQUEST_WORDS] = {0, 0, c.id, c.block, c.count};
    c.write ? mdrdmw(t, buffer) : mdrdmr(t, buffer);
    EXPECT_EQ(t[IO_RC], -9);
    EXPECT_EQ(Class(t[IO_OS_STATUS]), c.cls);
    EXPECT_EQ(Step(t[IO_OS_STATUS]), c.step);
  }
  ASSERT_FALSE(services_.lines.empty());
  EXPECT_EQ(services_.lines.back(),
            "Error in mdrdmr: I/O incomplete, 2048 bytes read or written, expected 4096");
  int32_t wrong_close[IO_REQUEST_WORDS] = {0, 0, 12345, 0, 0};
  mdrdmc(wrong_close);
  EXPECT_EQ(wrong_close[IO_RC], -9);
  int32_t pending[IO_REQUEST_WORDS] = {5, 0, id, 0, 0};
  mdrdma(pending);  // never a handle of ours
  EXPECT_EQ(pending[IO_RC], -9);
  // After the failures the file still works.
  int32_t w[IO_REQUEST_WORDS] = {0, 0, id, 0, 2048};
  mdrdmw(w, buffer);
  EXPECT_EQ(w[IO_RC], 0);
  // A file opened for reading refuses writes.
  ASSERT_EQ(Close(id), 0);
  std::vector<int32_t> ro = Open("BAD", IO_OPEN_READ_ONLY);
  ASSERT_EQ(ro[IO_RC], 0);
  int32_t rw[IO_REQUEST_WORDS] = {0, 0, ro[IO_FILE_ID], 0, 2048};
  mdrdmw(rw, buffer);
  EXPECT_EQ(rw[IO_RC], -9);
}

TEST_F(DatabankIo, UnsyncedWritesAreLostOnlyWhenCached) {
  for (bool cached : {true, false}) {
    SCOPED_TRACE(cached ? "cached" : "write-through");
    services_.have_buffering = cached;
    services_.buffering = 2;
    FaultFileSystem faults(PosixFileSystem());
    mdr_install_file_system(&faults);
    std::vector<int32_t> rq = Open("CRASH", IO_CREATE_ALWAYS, 1);
    ASSERT_EQ(rq[IO_RC], 0);
    char unit[2048];
    memset(unit, 'a', sizeof unit);
    int32_t w[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 0, 2048};
    mdrdmw(w, unit);
    ASSERT_EQ(w[IO_RC], 0);
    // The new end of a write-through file survives too, so that pages which
    // record it never point past the end of the file after a crash.
    int32_t x[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 1, 0};
    mdrdmx(x);
    ASSERT_EQ(x[IO_RC], 128);
    ASSERT_EQ(Close(rq[IO_FILE_ID]), 0);
    faults.DropUnsyncedData();
    // The cached mode does not even sync the new file's directory entry.
    EXPECT_EQ(fs::exists(dir_ + "/CRASH.dbf"), !cached);
    std::ifstream in(dir_ + "/CRASH.dbf", std::ios::binary);
    std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(content,
              cached ? std::string() : std::string(2048, 'a') + std::string(128 * 2048, 0));
    mdr_install_file_system(nullptr);
  }
}

// Extensions of one file racing each other: in every round all threads
// extend from the same stale end to targets a few units apart and write a
// block in the last unit of their own target. No extension may cut off a
// block another thread has already written and been told is there.
TEST_F(DatabankIo, RacingExtensionsNeverCutAnAcknowledgedWrite) {
  services_.have_buffering = true;
  services_.buffering = 2;  // no syncs: the race is about the end alone
  std::vector<int32_t> rq = Open("RACE", IO_CREATE_NEW, 1);
  ASSERT_EQ(rq[IO_RC], 0);
  const int32_t id = rq[IO_FILE_ID];
  constexpr int kThreads = 8, kRounds = 150, kStep = 64;
  std::barrier<> round_start(kThreads);
  std::vector<std::map<int32_t, int32_t>> written(kThreads);  // unit -> round
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(t);
      std::vector<int32_t> block(512);
      for (int r = 0; r < kRounds; ++r) {
        round_start.arrive_and_wait();
        const int32_t last = r * kStep + kIoMinExtendBlocks + t + kThreads * (rng() % 8);
        int32_t x[IO_REQUEST_WORDS] = {0, 0, id, last + 1 - kIoMinExtendBlocks, 0};
        mdrdmx(x);
        std::fill(block.begin(), block.end(), t * 100000 + r);
        int32_t w[IO_REQUEST_WORDS] = {0, 0, id, last, 2048};
        mdrdmw(w, block.data());
        if (x[IO_RC] != kIoMinExtendBlocks || w[IO_RC] != 0) ++failures;
        written[t][last] = r;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  int lost = 0;
  std::vector<int32_t> back(512);
  for (int t = 0; t < kThreads; ++t) {
    for (auto [unit, round] : written[t]) {
      int32_t r[IO_REQUEST_WORDS] = {0, 0, id, unit, 2048};
      mdrdmr(r, back.data());
      if (r[IO_RC] != 0 || back[0] != t * 100000 + round || back[511] != back[0]) ++lost;
    }
  }
  EXPECT_EQ(lost, 0) << "acknowledged blocks cut off or overwritten";
}

// The exact-end request is the only one that shortens a file; extensions
// that find the file long enough leave it alone.
TEST_F(DatabankIo, OnlyTheExactEndShortensAFile) {
  std::vector<int32_t> rq = Open("END", IO_CREATE_NEW, 300);
  ASSERT_EQ(rq[IO_RC], 0);
  const std::string path = dir_ + "/END.dbf";
  struct Case {
    bool exact;
    int32_t block, bytes;
    uintmax_t size;
  } cases[] = {
      {false, 0, 0, 300 * 2048},          // 128 units from block 0 are there
      {false, 172, 0, 300 * 2048},        // exactly up to the end
      {false, 173, 0, 301 * 2048},        // one unit past it
      {true, 200, 0, 200 * 2048},         // cut
      {true, 200, 0, 200 * 2048},         // already there
      {true, 250, 0, 250 * 2048},         // lengthened
      {false, 0, 200 * 2048, 250 * 2048}  // 200 units from 0: there
  };
  for (const Case& c : cases) {
    int32_t x[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], c.block, c.bytes};
    c.exact ? mdrdmt(x) : mdrdmx(x);
    EXPECT_GE(x[IO_RC], 0);
    EXPECT_EQ(fs::file_size(path), c.size) << c.block;
  }
}

// A write-through file whose new end failed to reach disk: a later request
// that finds that end already there must not report it as done, since its
// caller goes on to record the end in pages that point past a file a crash
// leaves shorter.
TEST_F(DatabankIo, AnEndThatDidNotReachDiskIsNeverReportedAsThere) {
  FaultFileSystem& faults = faults_;
  mdr_install_file_system(&faults);
  struct Case {
    const char* what;
    bool exact;
    int32_t block;
  } cases[] = {
      {"extension to the same end", false, 1},
      {"extension from a stale end", false, 0},
      {"exact end already there", true, 129},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<int32_t> rq = Open("SYNC", IO_CREATE_ALWAYS, 1);
    ASSERT_EQ(rq[IO_RC], 0);
    faults.CutPowerAfter(1);  // the allocation reaches the file, its sync fails
    int32_t first[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 1, 0};
    mdrdmx(first);
    ASSERT_EQ(first[IO_RC], -9);
    EXPECT_EQ(Step(first[IO_OS_STATUS]), 37);
    int32_t again[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], c.block, 0};
    c.exact ? mdrdmt(again) : mdrdmx(again);
    EXPECT_EQ(again[IO_RC], -9);
    EXPECT_EQ(Step(again[IO_OS_STATUS]), 37);
    EXPECT_EQ(Code(again[IO_OS_STATUS]), EIO);
    ASSERT_EQ(Close(rq[IO_FILE_ID]), 0);
    faults.Crash({});
    EXPECT_EQ(fs::file_size(dir_ + "/SYNC.dbf"), 2048u);
  }
}

// A signal that interrupts any file-system call is no I/O error: each call
// is made again. Every routine meets an interruption of each call it makes.
TEST_F(DatabankIo, InterruptedCallsAreMadeAgain) {
  using Op = FaultFileSystem::Op;
  FaultFileSystem& faults = faults_;
  mdr_install_file_system(&faults);
  std::vector<int32_t> rq = Open("INTR", IO_CREATE_NEW, 2);
  ASSERT_EQ(rq[IO_RC], 0);
  const int32_t id = rq[IO_FILE_ID];
  char unit[2048];
  memset(unit, 'i', sizeof unit);
  struct Case {
    const char* what;
    Op op;
    std::function<int32_t()> call;
  } cases[] = {
      {"write", Op::kWrite,
       [&] {
         int32_t w[IO_REQUEST_WORDS] = {0, 0, id, 1, 2048};
         mdrdmw(w, unit);
         return w[IO_RC];
       }},
      {"sync of a write", Op::kSync,
       [&] {
         int32_t w[IO_REQUEST_WORDS] = {0, 0, id, 0, 2048};
         mdrdmw(w, unit);
         return w[IO_RC];
       }},
      {"read", Op::kRead,
       [&] {
         char back[2048];
         int32_t r[IO_REQUEST_WORDS] = {0, 0, id, 1, 2048};
         mdrdmr(r, back);
         return r[IO_RC] == 0 && memcmp(back, unit, sizeof back) != 0 ? 99 : r[IO_RC];
       }},
      {"allocate of an extension", Op::kAllocate,
       [&] {
         int32_t x[IO_REQUEST_WORDS] = {0, 0, id, 2, 0};
         mdrdmx(x);
         return x[IO_RC] == kIoMinExtendBlocks ? 0 : x[IO_RC];
       }},
      {"sync of an extension", Op::kSync,
       [&] {
         int32_t x[IO_REQUEST_WORDS] = {0, 0, id, 130, 0};
         mdrdmx(x);
         return x[IO_RC] == kIoMinExtendBlocks ? 0 : x[IO_RC];
       }},
      {"truncate", Op::kTruncate,
       [&] {
         int32_t t[IO_REQUEST_WORDS] = {0, 0, id, 3, 0};
         mdrdmt(t);
         return t[IO_RC];
       }},
      {"open", Op::kOpen, [&] { return Open("INTR2", IO_CREATE_NEW, 1)[IO_RC]; }},
      {"lock", Op::kLock, [&] { return Open("INTR3", IO_CREATE_NEW, 1)[IO_RC]; }},
      {"truncate of a create", Op::kTruncate,
       [&] { return Open("INTR4", IO_CREATE_ALWAYS, 1)[IO_RC]; }},
      {"allocate of a create", Op::kAllocate,
       [&] { return Open("INTR5", IO_CREATE_NEW, 1)[IO_RC]; }},
      {"sync of a create", Op::kSync, [&] { return Open("INTR6", IO_CREATE_NEW, 1)[IO_RC]; }},
      {"directory sync of a create", Op::kSyncDir,
       [&] { return Open("INTR7", IO_CREATE_NEW, 1)[IO_RC]; }},
      {"remove at close", Op::kRemove, [&] { return Close(open_.back(), 1); }},
      {"directory sync at close", Op::kSyncDir, [&] { return Close(open_.back(), 1); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    faults.Interrupt(c.op, 3);
    EXPECT_EQ(c.call(), 0);
  }
  EXPECT_EQ(fs::file_size(dir_ + "/INTR.dbf"), 3u * 2048);
  EXPECT_FALSE(fs::exists(dir_ + "/INTR6.dbf"));
  EXPECT_FALSE(fs::exists(dir_ + "/INTR7.dbf"));
}

// Transfers that the file system carries out a few bytes at a time still
// move every byte; only the end of the file stops a read short.
TEST_F(DatabankIo, ShortTransfersAreCarriedOn) {
  FaultFileSystem& faults = faults_;
  mdr_install_file_system(&faults);
  std::vector<int32_t> rq = Open("SHORT", IO_CREATE_NEW, 8);
  ASSERT_EQ(rq[IO_RC], 0);
  std::vector<char> data(8 * 2048);
  std::mt19937 rng(3);
  for (char& ch : data) ch = static_cast<char>(rng());
  faults.ShortTransfers(333);
  int32_t w[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 0, 8 * 2048};
  mdrdmw(w, data.data());
  EXPECT_EQ(w[IO_RC], 0);
  std::vector<char> back(8 * 2048);
  int32_t r[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 0, 8 * 2048};
  mdrdmr(r, back.data());
  EXPECT_EQ(r[IO_RC], 0);
  EXPECT_EQ(back, data);
  int32_t past[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 7, 2 * 2048};
  mdrdmr(past, back.data());
  EXPECT_EQ(past[IO_RC], -9);
  ASSERT_FALSE(services_.lines.empty());
  EXPECT_EQ(services_.lines.back(),
            "Error in mdrdmr: I/O incomplete, 2048 bytes read or written, expected 4096");
  // A write torn by the device reports its failure.
  faults.ShortTransfers(0);
  faults.TearNthWrite(1, 1000);
  int32_t torn[IO_REQUEST_WORDS] = {0, 0, rq[IO_FILE_ID], 0, 2048};
  mdrdmw(torn, data.data());
  EXPECT_EQ(torn[IO_RC], -9);
  EXPECT_EQ(Step(torn[IO_OS_STATUS]), 35);
}

// A file that a create reported is there after a crash, and one that a close
// removed stays away; in the cached mode neither is promised.
TEST_F(DatabankIo, CreatesAndRemovesSurviveACrash) {
  for (bool cached : {false, true}) {
    SCOPED_TRACE(cached ? "cached" : "write-through");
    services_.have_buffering = cached;
    services_.buffering = 2;
    FaultFileSystem faults(PosixFileSystem());
    mdr_install_file_system(&faults);
    std::vector<int32_t> gone = Open("GONE", IO_CREATE_NEW, 1);
    ASSERT_EQ(gone[IO_RC], 0);
    ASSERT_EQ(Close(gone[IO_FILE_ID]), 0);
    faults.Crash({});
    ASSERT_EQ(fs::exists(dir_ + "/GONE.dbf"), !cached);
    if (cached) {
      std::ofstream(dir_ + "/GONE.dbf") << "x";  // as if synced some time
    }
    std::vector<int32_t> made = Open("MADE", IO_CREATE_NEW, 1);
    ASSERT_EQ(made[IO_RC], 0);
    std::vector<int32_t> again = Open("GONE", IO_OPEN_READ_WRITE);
    ASSERT_EQ(again[IO_RC], 0);
    ASSERT_EQ(Close(again[IO_FILE_ID], 1), 0);
    ASSERT_EQ(Close(made[IO_FILE_ID]), 0);
    faults.Crash({});
    EXPECT_EQ(fs::exists(dir_ + "/MADE.dbf"), !cached);
    EXPECT_EQ(fs::exists(dir_ + "/GONE.dbf"), cached);
    mdr_install_file_system(nullptr);
    fs::remove(dir_ + "/MADE.dbf");
    fs::remove(dir_ + "/GONE.dbf");
  }
  // A create whose size or directory cannot be made durable fails, names
  // the failed call and leaves no file.
  services_.have_buffering = false;
  FaultFileSystem faults(PosixFileSystem());
  mdr_install_file_system(&faults);
  struct Cut {
    int changes;  // open, truncate, allocate, sync, directory sync
    int32_t step;
  } cuts[] = {{2, 39}, {3, 37}, {4, 37}};
  for (const Cut& c : cuts) {
    SCOPED_TRACE(c.changes);
    faults.CutPowerAfter(c.changes);
    std::vector<int32_t> rq = Open("NODIR", IO_CREATE_NEW, 1);
    EXPECT_EQ(rq[IO_RC], -9);
    EXPECT_EQ(Step(rq[IO_OS_STATUS]), c.step);
    EXPECT_EQ(Code(rq[IO_OS_STATUS]), EIO);
    faults.Crash({});
    EXPECT_FALSE(fs::exists(dir_ + "/NODIR.dbf"));
  }
}

// A file system whose reads wait until released, to hold every request slot.
class GateFileSystem : public FaultFileSystem {
 public:
  using FaultFileSystem::FaultFileSystem;
  int ReadAt(int handle, int64_t offset, void* buffer, size_t count, size_t* done) override {
    {
      std::unique_lock<std::mutex> lock(m);
      ++inside;
      cv.notify_all();
      cv.wait(lock, [&] { return open; });
    }
    return FaultFileSystem::ReadAt(handle, offset, buffer, count, done);
  }
  std::mutex m;
  std::condition_variable cv;
  int inside = 0;
  bool open = false;
};

TEST_F(DatabankIo, TransfersBeyondTheSlotCountWaitInsteadOfFailing) {
  GateFileSystem gate(PosixFileSystem());
  mdr_install_file_system(&gate);
  std::vector<int32_t> rq = Open("MANY", IO_CREATE_NEW, 1);
  ASSERT_EQ(rq[IO_RC], 0);
  const int kThreads = kIoRequestSlots + 8;
  std::vector<std::array<int32_t, IO_REQUEST_WORDS>> blocks(kThreads);
  std::vector<std::vector<char>> buffers(kThreads, std::vector<char>(2048));
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    blocks[i] = {0, 0, rq[IO_FILE_ID], 0, 2048};
    threads.emplace_back([&, i] { mdrdmr(blocks[i].data(), buffers[i].data()); });
  }
  {
    std::unique_lock<std::mutex> lock(gate.m);
    gate.cv.wait(lock, [&] { return gate.inside == kIoRequestSlots; });
    gate.open = true;
    gate.cv.notify_all();
  }
  for (auto& t : threads) t.join();
  for (const auto& b : blocks) EXPECT_EQ(b[IO_RC], 0);
  EXPECT_EQ(gate.inside, kThreads);
  CloseAll();
}

TEST_F(DatabankIo, DumpComesInResumablePieces) {
  std::vector<int32_t> rq = Open("DUMP", IO_CREATE_NEW, 1);
  ASSERT_EQ(rq[IO_RC], 0);
  char small[100];
  int32_t room = sizeof small, piece = 0;
  mdr_dump_io_area(small, &room, &piece);
  EXPECT_EQ(room, 0);
  EXPECT_EQ(piece, 0);

  std::vector<char> big(1 << 20);
  room = static_cast<int32_t>(big.size());
  piece = 0;
  mdr_dump_io_area(big.data(), &room, &piece);
  EXPECT_EQ(piece, 0);
  std::string whole(big.data(), room);
  EXPECT_EQ(whole.rfind("\nDUMP OF I/O AREA:\n\nFile control blocks\n", 0), 0u);
  EXPECT_NE(whole.find("I/O buffering:    Raw I/O (default)\n"), std::string::npos);
  EXPECT_NE(whole.find("DUMP.dbf\n"), std::string::npos);

  std::string pieced;
  piece = 0;
  do {
    char part[400];
    room = sizeof part;
    mdr_dump_io_area(part, &room, &piece);
    ASSERT_TRUE(room > 0 || piece == 0);
    pieced.append(part, room);
  } while (piece != 0);
  EXPECT_EQ(pieced, whole);
  EXPECT_EQ(mdr_system_limit(2), 256);
  EXPECT_EQ(mdr_system_limit(1), 10000);
  EXPECT_LE(mdr_system_limit(4), 2048);
  EXPECT_EQ(mdr_system_limit(3), -1);
}

}  // namespace
