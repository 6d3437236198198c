// The fault-injecting file system as a crash stand-in: random writes, size
// changes, syncs and reopens against a model of what each file holds and what
// of it was synced; after the "crash" exactly the synced state and the pages
// the crash chose to keep must be there. Then the directory entries, and the
// injected failures, interruptions, short and torn transfers and power cuts.
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Create = FileSystem::Create;
using Op = FaultFileSystem::Op;

class FaultFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/faultfs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  // The whole content of `path` as the base file system sees it.
  std::vector<char> Content(const std::string& path) {
    FileSystem& base = PosixFileSystem();
    int h = -1;
    EXPECT_EQ(base.Open(path, Create::kOpenExisting, false, &h), 0) << path;
    int64_t size = 0;
    EXPECT_EQ(base.Size(h, &size), 0);
    std::vector<char> data(static_cast<size_t>(size));
    size_t done = 0;
    EXPECT_EQ(base.ReadAt(h, 0, data.data(), data.size(), &done), 0);
    EXPECT_EQ(done, data.size());
    base.Close(h);
    return data;
  }

  std::string dir_;
};

constexpr int64_t kPage = 512;

// A file as the model sees it: what it holds, what its last sync left, and
// the pages changed since.
struct ModelFile {
  std::string path;
  int handle = -1;
  std::vector<char> now, synced;
  std::set<int64_t> touched;

  void Touch(int64_t from, int64_t to) {
    for (int64_t p = from / kPage; from < to && p <= (to - 1) / kPage; ++p) touched.insert(p);
  }
  // What a crash that keeps kept(page) bytes of each changed page leaves.
  std::vector<char> AfterCrash(const std::function<int64_t(int64_t)>& kept) const {
    const int64_t synced_size = static_cast<int64_t>(synced.size());
    std::vector<std::pair<int64_t, int64_t>> keep;  // page, bytes
    int64_t end = synced_size;
    for (int64_t p : touched) {
      const int64_t start = p * kPage;
      const int64_t here = std::clamp<int64_t>(static_cast<int64_t>(now.size()) - start, 0, kPage);
      const int64_t k = std::clamp<int64_t>(kept(p), 0, here);
      if (k > 0) end = std::max(end, start + k);
      keep.emplace_back(p, k);
    }
    std::vector<char> out = synced;
    out.resize(static_cast<size_t>(end), 0);
    for (auto [p, k] : keep)
      for (int64_t at = p * kPage; at < std::min(end, (p + 1) * kPage); ++at)
        out[at] = at - p * kPage < k ? now[at] : at < synced_size ? synced[at] : 0;
    return out;
  }
};

TEST_F(FaultFileSystemTest, CrashKeepsWhatWasSyncedAndTheChosenPages) {
  FaultFileSystem faults(PosixFileSystem(), kPage);
  std::mt19937 rng(2024);
  std::vector<ModelFile> files(3);
  for (size_t i = 0; i < files.size(); ++i) {
    files[i].path = dir_ + "/f" + std::to_string(i);
    ASSERT_EQ(faults.Open(files[i].path, Create::kCreateNew, true, &files[i].handle), 0);
  }
  ASSERT_EQ(faults.SyncDirectory(dir_), 0);
  auto grow_to = [](std::vector<char>& v, int64_t end) {
    if (static_cast<int64_t>(v.size()) < end) v.resize(static_cast<size_t>(end), 0);
  };
  for (int crash = 0; crash < 12; ++crash) {
    SCOPED_TRACE(crash);
    for (int step = 0; step < 200; ++step) {
      ModelFile& f = files[rng() % files.size()];
      const unsigned op = rng() % 20;
      if (op < 12) {  // write, often over synced bytes, sometimes past the end
        const int64_t offset = rng() % 40000;
        std::vector<char> data(1 + rng() % 5000);
        for (char& c : data) c = static_cast<char>(rng());
        size_t done = 0;
        ASSERT_EQ(faults.WriteAt(f.handle, offset, data.data(), data.size(), &done), 0);
        ASSERT_EQ(done, data.size());
        grow_to(f.now, offset + static_cast<int64_t>(data.size()));
        std::copy(data.begin(), data.end(), f.now.begin() + offset);
        f.Touch(offset, offset + static_cast<int64_t>(data.size()));
      } else if (op < 15) {
        ASSERT_EQ(faults.SyncData(f.handle), 0);
        f.synced = f.now;
        f.touched.clear();
      } else if (op < 17) {  // cut or lengthen
        const int64_t size = rng() % 45000;
        ASSERT_EQ(faults.Truncate(f.handle, size), 0);
        f.Touch(size, static_cast<int64_t>(f.now.size()));
        f.now.resize(static_cast<size_t>(size), 0);
      } else if (op < 18) {
        const int64_t offset = rng() % 40000, length = 1 + rng() % 8000;
        ASSERT_EQ(faults.Allocate(f.handle, offset, length), 0);
        grow_to(f.now, offset + length);
      } else {  // close and open again, which syncs nothing
        ASSERT_EQ(faults.Close(f.handle), 0);
        ASSERT_EQ(faults.Open(f.path, op == 18 ? Create::kOpenExisting : Create::kOpenAlways, true,
                              &f.handle),
                  0);
      }
    }
    // The crash loses everything unsynced, keeps all of it, or keeps, loses
    // and tears pages at random.
    const int how = crash % 3;
    const unsigned seed = static_cast<unsigned>(rng());
    auto kept = [how, seed](const std::string& path, int64_t page) -> int64_t {
      if (how < 2) return how == 0 ? 0 : kPage;
      const size_t h = std::hash<std::string>()(path) ^ (seed + static_cast<size_t>(page) * 7919);
      return h % 3 == 0 ? 0 : h % 3 == 1 ? kPage : static_cast<int64_t>(h % kPage);
    };
    std::vector<std::vector<char>> expected;
    for (ModelFile& f : files) {
      ASSERT_EQ(Content(f.path), f.now) << f.path;
      std::vector<int64_t> pages = faults.UnsyncedPages(f.path);
      EXPECT_EQ(std::set<int64_t>(pages.begin(), pages.end()), f.touched) << f.path;
      expected.push_back(f.AfterCrash([&](int64_t page) { return kept(f.path, page); }));
      ASSERT_EQ(faults.Close(f.handle), 0);
    }
    faults.Crash({kept, nullptr});
    for (size_t i = 0; i < files.size(); ++i) {
      ModelFile& f = files[i];
      EXPECT_EQ(Content(f.path), expected[i]) << f.path;
      f.now = f.synced = expected[i];
      f.touched.clear();
      ASSERT_EQ(faults.Open(f.path, Create::kOpenExisting, true, &f.handle), 0);
    }
  }
  for (ModelFile& f : files) faults.Close(f.handle);
}

TEST_F(FaultFileSystemTest, DirectoryEntriesSurviveOnlyWhenSynced) {
  struct Case {
    const char* what;
    bool old_file;      // the name held a synced file before
    bool create;        // a file is created under the name
    bool remove;        // and the name removed
    bool sync_dir;      // the directory is synced afterwards
    bool keep_entries;  // the crash keeps unsynced entries
    const char* after;  // content after the crash, nullptr when no file
  } cases[] = {
      {"create, no directory sync", false, true, false, false, false, nullptr},
      {"create, directory synced", false, true, false, true, false, "new"},
      {"create, entry kept by the crash", false, true, false, false, true, "new"},
      {"remove, no directory sync", true, false, true, false, false, "old"},
      {"remove, directory synced", true, false, true, true, false, nullptr},
      {"remove, entry kept by the crash", true, false, true, false, true, nullptr},
      {"remove and create again", true, true, true, false, false, "old"},
      {"create and remove", false, true, true, false, false, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FaultFileSystem faults(PosixFileSystem());
    const std::string path = dir_ + "/entry";
    int h = -1;
    size_t done = 0;
    if (c.old_file) {
      ASSERT_EQ(faults.Open(path, Create::kCreateNew, true, &h), 0);
      ASSERT_EQ(faults.WriteAt(h, 0, "old", 3, &done), 0);
      ASSERT_EQ(faults.SyncData(h), 0);
      ASSERT_EQ(faults.SyncDirectory(dir_), 0);
      // Written after the sync: lost with the crash even when the file
      // comes back.
      ASSERT_EQ(faults.WriteAt(h, 0, "OLD!", 4, &done), 0);
    }
    if (c.remove && c.old_file) {
      ASSERT_EQ(faults.Remove(path), 0);
      EXPECT_FALSE(faults.Exists(path));
      std::vector<std::string> names;
      ASSERT_EQ(faults.ListDirectory(dir_, &names), 0);
      EXPECT_EQ(std::count(names.begin(), names.end(), "entry"), 0);
      EXPECT_EQ(names.size(), 2u);  // "." and ".." only
    }
    if (h >= 0) {
      ASSERT_EQ(faults.Close(h), 0);
    }
    if (c.create) {
      ASSERT_EQ(faults.Open(path, Create::kCreateNew, true, &h), 0);
      ASSERT_EQ(faults.WriteAt(h, 0, "new", 3, &done), 0);
      ASSERT_EQ(faults.SyncData(h), 0);  // the data is durable, its name not
      ASSERT_EQ(faults.Close(h), 0);
    }
    if (c.remove && !c.old_file) {
      ASSERT_EQ(faults.Remove(path), 0);
    }
    if (c.sync_dir) {
      ASSERT_EQ(faults.SyncDirectory(dir_ + "/"), 0);
    }
    faults.Crash({nullptr, [&](const std::string&) { return c.keep_entries; }});
    if (c.after) {
      std::vector<char> content = Content(path);
      EXPECT_EQ(std::string(content.begin(), content.end()), c.after);
    } else {
      EXPECT_FALSE(fs::exists(path));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), c.after ? 1 : 0);
    fs::remove(path);
  }
}

TEST_F(FaultFileSystemTest, InjectedFailures) {
  FaultFileSystem faults(PosixFileSystem());
  const std::string path = dir_ + "/x";
  int h = -1;
  ASSERT_EQ(faults.Open(path, Create::kCreateNew, true, &h), 0);
  char buf[100] = {};
  size_t done = 0;
  faults.FailNthWrite(2, EIO);
  EXPECT_EQ(faults.WriteAt(h, 0, buf, sizeof buf, &done), 0);
  EXPECT_EQ(faults.WriteAt(h, 0, buf, sizeof buf, &done), EIO);
  EXPECT_EQ(faults.WriteAt(h, 0, buf, sizeof buf, &done), 0);  // only the chosen one fails
  faults.FailNthRead(1, EIO);
  EXPECT_EQ(faults.ReadAt(h, 0, buf, sizeof buf, &done), EIO);
  EXPECT_EQ(faults.ReadAt(h, 0, buf, sizeof buf, &done), 0);
  EXPECT_EQ(done, sizeof buf);
  // A full disk refuses growth only: writes inside the file and cuts go on.
  faults.SetDiskFull(true);
  EXPECT_EQ(faults.WriteAt(h, 50, buf, 50, &done), 0);
  EXPECT_EQ(faults.WriteAt(h, 60, buf, 50, &done), ENOSPC);
  EXPECT_EQ(faults.Allocate(h, 0, 200), ENOSPC);
  EXPECT_EQ(faults.Truncate(h, 200), ENOSPC);
  EXPECT_EQ(faults.Truncate(h, 10), 0);
  faults.SetDiskFull(false);
  faults.FailOpen(".dbf", EACCES);
  int other = -1;
  EXPECT_EQ(faults.Open(dir_ + "/y.dbf", Create::kCreateNew, true, &other), EACCES);
  EXPECT_FALSE(faults.Exists(dir_ + "/y.dbf"));
  faults.FailOpen("", 0);
  EXPECT_EQ(faults.Close(h), 0);
}

// Each operation answers EINTR as often as asked, changing nothing, and then
// works again.
TEST_F(FaultFileSystemTest, InterruptedCallsChangeNothing) {
  FaultFileSystem faults(PosixFileSystem());
  const std::string path = dir_ + "/i";
  int h = -1;
  ASSERT_EQ(faults.Open(path, Create::kCreateNew, true, &h), 0);
  char buf[64] = {'a'};
  size_t done = 0;
  ASSERT_EQ(faults.WriteAt(h, 0, buf, sizeof buf, &done), 0);
  struct Case {
    Op op;
    std::function<int()> call;
    int64_t size_after;  // file size once the call went through
  } cases[] = {
      {Op::kWrite, [&] { return faults.WriteAt(h, 64, buf, sizeof buf, &done); }, 128},
      {Op::kRead, [&] { return faults.ReadAt(h, 0, buf, sizeof buf, &done); }, 128},
      {Op::kSync, [&] { return faults.SyncData(h); }, 128},
      {Op::kTruncate, [&] { return faults.Truncate(h, 100); }, 100},
      {Op::kAllocate, [&] { return faults.Allocate(h, 0, 300); }, 300},
      {Op::kLock, [&] { return faults.LockExclusive(h); }, 300},
      {Op::kSyncDir, [&] { return faults.SyncDirectory(dir_); }, 300},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.op));
    int64_t before = 0, after = 0;
    ASSERT_EQ(faults.Size(h, &before), 0);
    faults.Interrupt(c.op, 2);
    EXPECT_EQ(c.call(), EINTR);
    EXPECT_EQ(c.call(), EINTR);
    ASSERT_EQ(faults.Size(h, &after), 0);
    EXPECT_EQ(after, before);
    EXPECT_EQ(c.call(), 0);
    ASSERT_EQ(faults.Size(h, &after), 0);
    EXPECT_EQ(after, c.size_after);
  }
  ASSERT_EQ(faults.Close(h), 0);
  faults.Interrupt(Op::kOpen, 1);
  EXPECT_EQ(faults.Open(path, Create::kOpenExisting, true, &h), EINTR);
  ASSERT_EQ(faults.Open(path, Create::kOpenExisting, true, &h), 0);
  ASSERT_EQ(faults.Close(h), 0);
  faults.Interrupt(Op::kRemove, 1);
  EXPECT_EQ(faults.Remove(path), EINTR);
  EXPECT_TRUE(faults.Exists(path));
  EXPECT_EQ(faults.Remove(path), 0);
}

TEST_F(FaultFileSystemTest, ShortTornAndCutTransfers) {
  FaultFileSystem faults(PosixFileSystem());
  const std::string path = dir_ + "/s";
  int h = -1;
  ASSERT_EQ(faults.Open(path, Create::kCreateNew, true, &h), 0);
  std::vector<char> page(2048, 'p'), back(2048, 0);
  size_t done = 0;
  // Short transfers succeed with the count they moved.
  faults.ShortTransfers(300);
  EXPECT_EQ(faults.WriteAt(h, 0, page.data(), page.size(), &done), 0);
  EXPECT_EQ(done, 300u);
  EXPECT_EQ(faults.ReadAt(h, 0, back.data(), back.size(), &done), 0);
  EXPECT_EQ(done, 300u);
  faults.ShortTransfers(0);
  // A torn write puts the first bytes on disk and fails.
  std::vector<char> other(2048, 'q');
  faults.TearNthWrite(1, 1000);
  EXPECT_EQ(faults.WriteAt(h, 0, other.data(), other.size(), &done), EIO);
  EXPECT_EQ(done, 1000u);
  std::vector<char> content = Content(path);
  EXPECT_EQ(std::string(content.begin(), content.end()), std::string(1000, 'q'));
  // After a power cut nothing changes any more, reads still work, and the
  // crash brings the power back.
  faults.CutPowerAfter(1);
  const int changes = faults.changes();
  EXPECT_EQ(faults.SyncData(h), 0);
  EXPECT_EQ(faults.WriteAt(h, 0, page.data(), page.size(), &done), EIO);
  EXPECT_EQ(faults.Truncate(h, 0), EIO);
  EXPECT_EQ(faults.Allocate(h, 0, 9999), EIO);
  EXPECT_EQ(faults.SyncData(h), EIO);
  EXPECT_EQ(faults.Remove(path), EIO);
  EXPECT_EQ(faults.SyncDirectory(dir_), EIO);
  int other_handle = -1;
  EXPECT_EQ(faults.Open(dir_ + "/t", Create::kCreateNew, true, &other_handle), EIO);
  EXPECT_EQ(faults.changes(), changes + 8);
  EXPECT_EQ(faults.ReadAt(h, 0, back.data(), back.size(), &done), 0);
  EXPECT_EQ(done, 1000u);
  ASSERT_EQ(faults.Close(h), 0);
  faults.Crash({nullptr, [](const std::string&) { return true; }});
  ASSERT_EQ(faults.Open(path, Create::kOpenExisting, true, &h), 0);
  EXPECT_EQ(faults.WriteAt(h, 0, page.data(), page.size(), &done), 0);
  ASSERT_EQ(faults.Close(h), 0);
}

}  // namespace
