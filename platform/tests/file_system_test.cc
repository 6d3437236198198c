// The fault-injecting file system as a crash stand-in: random writes, size
// changes, syncs and reopens against a model of what each file holds and what
// of it was synced; after the "crash" exactly the synced state must be there.
#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

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
    EXPECT_EQ(base.Open(path, FileSystem::Create::kOpenExisting, false, &h), 0) << path;
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

struct ModelFile {
  std::string path;
  int handle = -1;
  std::vector<char> now;     // what the file holds
  std::vector<char> synced;  // what survives a crash
};

TEST_F(FaultFileSystemTest, CrashKeepsExactlyWhatWasSynced) {
  FaultFileSystem faults(PosixFileSystem());
  std::mt19937 rng(2024);
  std::vector<ModelFile> files(3);
  for (size_t i = 0; i < files.size(); ++i) {
    files[i].path = dir_ + "/f" + std::to_string(i);
    ASSERT_EQ(faults.Open(files[i].path, FileSystem::Create::kCreateNew, true, &files[i].handle),
              0);
  }
  auto grow_to = [](std::vector<char>& v, int64_t end) {
    if (static_cast<int64_t>(v.size()) < end) v.resize(static_cast<size_t>(end), 0);
  };
  for (int crash = 0; crash < 4; ++crash) {
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
      } else if (op < 15) {
        ASSERT_EQ(faults.SyncData(f.handle), 0);
        f.synced = f.now;
      } else if (op < 17) {  // cut or lengthen
        const int64_t size = rng() % 45000;
        ASSERT_EQ(faults.Truncate(f.handle, size), 0);
        f.now.resize(static_cast<size_t>(size), 0);
      } else if (op < 18) {
        const int64_t offset = rng() % 40000, length = 1 + rng() % 8000;
        ASSERT_EQ(faults.Allocate(f.handle, offset, length), 0);
        grow_to(f.now, offset + length);
      } else {  // close and open again, which syncs nothing
        ASSERT_EQ(faults.Close(f.handle), 0);
        const auto how =
            op == 18 ? FileSystem::Create::kOpenExisting : FileSystem::Create::kOpenAlways;
        ASSERT_EQ(faults.Open(f.path, how, true, &f.handle), 0);
      }
    }
    for (ModelFile& f : files) {
      ASSERT_EQ(Content(f.path), f.now) << f.path;
      ASSERT_EQ(faults.Close(f.handle), 0);
    }
    faults.DropUnsyncedData();
    for (ModelFile& f : files) {
      EXPECT_EQ(Content(f.path), f.synced) << f.path;
      f.now = f.synced;
      ASSERT_EQ(faults.Open(f.path, FileSystem::Create::kOpenExisting, true, &f.handle), 0);
    }
  }
  for (ModelFile& f : files) faults.Close(f.handle);
}

TEST_F(FaultFileSystemTest, InjectedFailures) {
  FaultFileSystem faults(PosixFileSystem());
  const std::string path = dir_ + "/x";
  int h = -1;
  ASSERT_EQ(faults.Open(path, FileSystem::Create::kCreateNew, true, &h), 0);
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
  EXPECT_EQ(faults.Open(dir_ + "/y.dbf", FileSystem::Create::kCreateNew, true, &other), EACCES);
  EXPECT_FALSE(faults.Exists(dir_ + "/y.dbf"));
  faults.FailOpen("", 0);
  EXPECT_EQ(faults.Close(h), 0);
}

}  // namespace
