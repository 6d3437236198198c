// A small kernel control area for page tests: header words, databank and
// table entries, one pool per page size, an ENQ/DEQ area with the test thread
// attached, and a fault-injecting file system over a scratch directory.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/table_entries.h"
#include "dk/tests/kernel_fixture.h"
#include "dk/tests/pass_through_file_system.h"
#include "platform/databank_io.h"
#include "platform/enqdeq.h"
#include "platform/file_system.h"

// Passes every call on to another file system and lets a test look at the
// pool, or act on other threads, just before a write reaches the file, and
// learn when it has.
class HookedFileSystem : public PassThroughFileSystem {
 public:
  explicit HookedFileSystem(FileSystem& base) : PassThroughFileSystem(base) {}
  std::function<void(int64_t offset)> before_write, after_write;

  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count, size_t* done) override {
    if (before_write) before_write(offset);
    const int rc = base_.WriteAt(handle, offset, buffer, count, done);
    if (after_write) after_write(offset);
    return rc;
  }
};

class PageTest : public KernelTest {
 protected:
  static constexpr int32_t kThreads = 16;

  // Pools of 300 2K pages (two partitions), 24 16K and 21 64K pages.
  virtual void Shape() {
    params_.pages[PG_2K] = 300;
    params_.pages[PG_16K] = 24;
    params_.pages[PG_64K] = 21;
  }

  void SetUp() override {
    Shape();
    // Built afresh for each test (so every thread index may attach again),
    // always in the same words: the process keeps using its last ENQ/DEQ
    // area after the test, so the words must outlive every test.
    ASSERT_LE(enqdeq_size(kThreads), int64_t{4} * kEnqWords);
    ASSERT_EQ(enqdeq_init(enq_, kThreads, nullptr, nullptr, 0), 0);
    ASSERT_EQ(enqdeq_attach(enq_, 1), 0);
    KernelTest::SetUp();
    area_ = Bufferpool();
    // DK_TEST_SCRATCH names where the scratch directory goes (/tmp when
    // unset): a test that runs the test program as a process of its own
    // keeps what a killed process leaves inside its own directory.
    const char* scratch = std::getenv("DK_TEST_SCRATCH");
    std::string tmpl = std::string(scratch ? scratch : "/tmp") + "/bpool_test_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir_ = tmpl;
    previous_fs_ = mdr_install_file_system(&fault_);
  }

  int32_t Pages(int32_t page_size) { return area_[FindPool(page_size) + PART_PAGES]; }

  void TearDown() override {
    for (int32_t e : open_)
      if (area_[e + DBE_DID] != 0) ReleaseDatabank(e, false);
    mdr_install_file_system(previous_fs_);
    std::filesystem::remove_all(dir_);
    KernelTest::TearDown();
  }

  std::string Path(const std::string& name) { return dir_ + "/" + name + ".dbf"; }

  void FillNames(int32_t* request, const std::string& name) {
    std::string path = Path(name);
    char* file = reinterpret_cast<char*>(request + CRD_FILE);
    std::memset(file, ' ', 256);
    std::memcpy(file, path.data(), path.size());
    char* kept = reinterpret_cast<char*>(request + CRD_NAME);
    std::memset(kept, ' ', DBE_NAME_BYTES);
    std::memcpy(kept, name.data(), name.size());
  }

  // Creates a databank file of `units` units; returns the entry.
  int32_t Create(const std::string& name, int32_t units, int32_t did = 5, int32_t seqno = 3) {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = -2;
    rq[CRD_UNITS] = units;
    rq[CRD_DID] = did;
    rq[CRD_SEQNO] = seqno;
    rq[CRD_TYPE] = 9;
    FillNames(rq.data(), name);
    EXPECT_EQ(DKCRD1(rq.data()), 0);
    open_.push_back(rq[CRD_UNITS]);
    return rq[CRD_UNITS];
  }

  // Opens an existing file; returns the result code, the entry in *entry.
  int32_t Open(const std::string& name, int32_t did, int32_t* seqno, int32_t* entry,
               int32_t mode = 0) {
    std::vector<int32_t> rq(CRD_WORDS, 0);
    rq[CRD_MODE] = mode;
    rq[CRD_DID] = did;
    rq[CRD_SEQNO] = *seqno;
    rq[CRD_TYPE] = 9;
    FillNames(rq.data(), name);
    int32_t rc = DKCRD1(rq.data());
    if (rc == 0) {
      *entry = rq[CRD_UNITS];
      *seqno = rq[CRD_SEQNO];
      open_.push_back(*entry);
    }
    return rc;
  }

  // Closes as the kernel's close does: pages out, close mark, file closed.
  void Close(int32_t entry) {
    int32_t pag[PAGREQ_WORDS] = {entry, 0, 0, 0, -1, 0, 0, 0};
    EXPECT_EQ(DKPAG0(pag, 1), 0);
    EXPECT_EQ(WriteCloseMark(entry), 0);
    ReleaseDatabank(entry, true);
  }

  std::vector<char> FileBytes(const std::string& name) {
    std::ifstream in(Path(name), std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
  }

  // The 2048 bytes of one unit of a file.
  std::vector<char> FileUnit(const std::string& name, int64_t unit) {
    std::vector<char> bytes(kUnitBytes, 0);
    std::ifstream in(Path(name), std::ios::binary);
    in.seekg(unit * kUnitBytes);
    in.read(bytes.data(), kUnitBytes);
    return bytes;
  }

  int64_t FileSize(const std::string& name) {
    return static_cast<int64_t>(std::filesystem::file_size(Path(name)));
  }

  int32_t FileWord(const std::string& name, int64_t unit, int word) {
    std::ifstream in(Path(name), std::ios::binary);
    in.seekg(unit * kUnitBytes + 4 * word);
    int32_t v = INT32_MIN;
    in.read(reinterpret_cast<char*>(&v), 4);
    return in ? v : INT32_MIN;
  }

  // A TRANS databank (DID 2) keeps its tables on the root pages its header's
  // word 4 names: a new file gets its first one.
  void GiveTransRootPage(int32_t entry) {
    int32_t rq[REQ_WORDS] = {entry, 0, 2048, 0, -1, 0};
    ASSERT_EQ(DKHLD0(rq, 0), 0);
    const int32_t root = rq[REQ_PAGE];
    int32_t b = Get(entry, root, 2048, GET_NEW);
    std::memset(PageWords(b) + 1, 0, 2044);
    PageWords(b)[HDR_KIND] = ROOT_PAGE_KIND;
    ASSERT_EQ(WriteUnitPage(entry, root, b), 0);
    b = Get(entry, kHeaderUnit, 2048, GET_UPDATE);
    PageWords(b)[HDR_RESTORE_DIRECTORY] = root;
    ASSERT_EQ(WriteUnitPage(entry, kHeaderUnit, b), 0);
  }

  // A set of TBL `tbl` in the TRANS databank (or that of `did`), closed as
  // after the server stopped: its entry stays in the table hash. Its entry.
  int32_t MakeTransSet(int32_t tbl, int32_t did = 2) {
    int32_t c[CRT_WORDS] = {};
    c[RQ_DID] = did;
    c[RQ_TYPE] = 10 * kKindSet;
    c[RQ_TBL] = tbl;
    c[RQ_INDEX_PAGE_SIZE] = 2048;
    c[RQ_DATA_PAGE_SIZE] = 16384;
    DKCRT1(c);
    EXPECT_EQ(c[RQ_STATUS], 0);
    c[RQ_STATUS] = 0;
    DKCLT1(c);
    return c[RQ_TABLE];
  }

  int32_t Get(int32_t entry, int32_t page, int32_t size, int32_t mode, int32_t* rc = nullptr) {
    int32_t rq[REQ_WORDS] = {entry, page, size, 0, -1, 0};
    int32_t buffer = DKGET0(rq, mode);
    if (rc) *rc = rq[REQ_RC];
    return buffer;
  }

  // Gets a 2048-byte page for update as a data page (word 1 = 5) with `value`
  // in word 100; the caller releases it. 0 when it could not be had.
  int32_t HeldDataPage(int32_t entry, int32_t page, int32_t value) {
    int32_t buffer = Get(entry, page, 2048, GET_UPDATE);
    EXPECT_GT(buffer, 0) << page;
    if (buffer <= 0) return 0;
    PageWords(buffer)[1] = 5;
    PageWords(buffer)[100] = value;
    return buffer;
  }

  // Runs `work` on a thread of its own and gives it `seconds` to end: a call
  // that never returns (a lock it waits for itself, a scan that never ends)
  // stops the test program with a message rather than hanging the suite.
  template <class Work>
  void EndsWithin(int seconds, const char* what, Work work) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    std::thread t([&] {
      enqdeq_attach(enq_, kThreads - 1);
      work();
      std::lock_guard<std::mutex> lock(m);
      done = true;
      cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(m);
    if (!cv.wait_for(lock, std::chrono::seconds(seconds), [&] { return done; })) {
      std::fprintf(stderr, "%s did not end within %d seconds\n", what, seconds);
      std::fflush(stderr);
      std::_Exit(1);
    }
    lock.unlock();
    t.join();
  }

  static constexpr int32_t kEnqWords = (16 * kThreads + 40) / 4;  // enqdeq_size(kThreads) bytes
  static inline int32_t enq_[kEnqWords] = {};
  int32_t* area_ = nullptr;
  std::string dir_;
  FaultFileSystem fault_{PosixFileSystem()};
  FileSystem* previous_fs_ = nullptr;
  std::vector<int32_t> open_;
};
