// The POSIX file system that the server runs on, and the fault-injecting
// wrapper that tests put in its place.
#include "platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

FileSystem::~FileSystem() = default;

namespace {

class Posix final : public FileSystem {
 public:
  int Open(const std::string& path, Create create, bool writable, int* handle) override {
    int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (create == Create::kCreateNew) flags |= O_CREAT | O_EXCL;
    if (create == Create::kOpenAlways) flags |= O_CREAT;
    int fd;
    do {
      fd = ::open(path.c_str(), flags, 0660);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    *handle = fd;
    return 0;
  }
  int Close(int handle) override { return ::close(handle) == 0 ? 0 : errno; }
  int LockExclusive(int handle) override {
    int r;
    do {
      r = ::flock(handle, LOCK_EX | LOCK_NB);
    } while (r < 0 && errno == EINTR);
    return r == 0 ? 0 : errno;
  }
  int ReadAt(int handle, int64_t offset, void* buffer, size_t count, size_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(buffer);
    while (*done < count) {
      ssize_t n = ::pread(handle, p + *done, count - *done, offset + *done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) break;  // end of file
      *done += static_cast<size_t>(n);
    }
    return 0;
  }
  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count, size_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(buffer);
    while (*done < count) {
      ssize_t n = ::pwrite(handle, p + *done, count - *done, offset + *done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return errno;
      if (n == 0) return EIO;
      *done += static_cast<size_t>(n);
    }
    return 0;
  }
  int SyncData(int handle) override { return ::fdatasync(handle) == 0 ? 0 : errno; }
  int Truncate(int handle, int64_t size) override {
    return ::ftruncate(handle, size) == 0 ? 0 : errno;
  }
  int Allocate(int handle, int64_t offset, int64_t length) override {
    // posix_fallocate returns the error rather than setting errno.
    return ::posix_fallocate(handle, offset, length);
  }
  int Size(int handle, int64_t* size) override {
    struct stat st;
    if (::fstat(handle, &st) != 0) return errno;
    *size = st.st_size;
    return 0;
  }
  int Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 ? 0 : errno; }
  bool Exists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  int ListDirectory(const std::string& dir, std::vector<std::string>* names) override {
    names->clear();
    DIR* d = ::opendir(dir.c_str());
    if (!d) return errno;
    while (struct dirent* e = ::readdir(d)) names->emplace_back(e->d_name);
    ::closedir(d);
    std::sort(names->begin(), names->end());
    return 0;
  }
};

}  // namespace

FileSystem& PosixFileSystem() {
  static Posix posix;
  return posix;
}

void FaultFileSystem::FailNthRead(int n, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_read_at_ = n > 0 ? reads_ + n : 0;
  fail_read_error_ = error;
}

void FaultFileSystem::FailNthWrite(int n, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_write_at_ = n > 0 ? writes_ + n : 0;
  fail_write_error_ = error;
}

void FaultFileSystem::SetDiskFull(bool full) {
  std::lock_guard<std::mutex> lock(mutex_);
  disk_full_ = full;
}

void FaultFileSystem::FailOpen(const std::string& suffix, int error) {
  std::lock_guard<std::mutex> lock(mutex_);
  fail_open_suffix_ = suffix;
  fail_open_error_ = error;
}

int FaultFileSystem::reads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reads_;
}

int FaultFileSystem::writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

int FaultFileSystem::Open(const std::string& path, Create create, bool writable, int* handle) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fail_open_error_ != 0 && path.size() >= fail_open_suffix_.size() &&
        path.compare(path.size() - fail_open_suffix_.size(), std::string::npos,
                     fail_open_suffix_) == 0)
      return fail_open_error_;
  }
  // Only a file that this open creates starts out unsynced; opening an
  // existing file must keep what is known of its synced state.
  const bool creates = create != Create::kOpenExisting && !base_.Exists(path);
  int err = base_.Open(path, create, writable, handle);
  if (err != 0) return err;
  std::lock_guard<std::mutex> lock(mutex_);
  paths_[*handle] = path;
  // A created file keeps its name through a crash but none of its contents
  // until they are synced.
  if (creates) pending_[path] = Pending{};
  return 0;
}

int FaultFileSystem::Close(int handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.erase(handle);
  return base_.Close(handle);
}

int FaultFileSystem::LockExclusive(int handle) {
  return base_.LockExclusive(handle);
}

int FaultFileSystem::ReadAt(int handle, int64_t offset, void* buffer, size_t count, size_t* done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
    if (fail_read_at_ != 0 && reads_ == fail_read_at_) {
      fail_read_at_ = 0;
      *done = 0;
      return fail_read_error_;
    }
  }
  return base_.ReadAt(handle, offset, buffer, count, done);
}

// Called with mutex_ held: ENOSPC when the disk is "full" and the file would
// grow past its present size.
int FaultFileSystem::Grows(int handle, int64_t new_end) {
  if (!disk_full_) return 0;
  int64_t size = 0;
  if (base_.Size(handle, &size) != 0) return 0;
  return new_end > size ? ENOSPC : 0;
}

// Called with mutex_ held: keeps what a crash would bring back.
void FaultFileSystem::RememberBefore(int handle, int64_t offset, size_t count) {
  auto it = paths_.find(handle);
  if (it == paths_.end()) return;
  auto [entry, fresh] = pending_.try_emplace(it->second);
  Pending& p = entry->second;
  int64_t size = 0;
  base_.Size(handle, &size);
  if (fresh) p.synced_size = size;
  int64_t end = std::min<int64_t>(offset + static_cast<int64_t>(count), p.synced_size);
  if (offset >= end) return;
  std::vector<char> old(static_cast<size_t>(end - offset));
  size_t got = 0;
  base_.ReadAt(handle, offset, old.data(), old.size(), &got);
  old.resize(got);
  p.undo.emplace_back(offset, std::move(old));
}

int FaultFileSystem::WriteAt(int handle, int64_t offset, const void* buffer, size_t count,
                             size_t* done) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++writes_;
  *done = 0;
  if (fail_write_at_ != 0 && writes_ == fail_write_at_) {
    fail_write_at_ = 0;
    return fail_write_error_;
  }
  if (int err = Grows(handle, offset + static_cast<int64_t>(count))) return err;
  RememberBefore(handle, offset, count);
  return base_.WriteAt(handle, offset, buffer, count, done);
}

int FaultFileSystem::SyncData(int handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  int err = base_.SyncData(handle);
  auto it = paths_.find(handle);
  if (err == 0 && it != paths_.end()) pending_.erase(it->second);
  return err;
}

int FaultFileSystem::Truncate(int handle, int64_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (int err = Grows(handle, size)) return err;
  int64_t now = 0;
  base_.Size(handle, &now);
  if (size < now)
    RememberBefore(handle, size, static_cast<size_t>(now - size));
  else
    RememberBefore(handle, now, 0);
  return base_.Truncate(handle, size);
}

int FaultFileSystem::Allocate(int handle, int64_t offset, int64_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (int err = Grows(handle, offset + length)) return err;
  RememberBefore(handle, offset, 0);
  return base_.Allocate(handle, offset, length);
}

int FaultFileSystem::Size(int handle, int64_t* size) {
  return base_.Size(handle, size);
}

int FaultFileSystem::Remove(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_.erase(path);
  return base_.Remove(path);
}

bool FaultFileSystem::Exists(const std::string& path) {
  return base_.Exists(path);
}

int FaultFileSystem::ListDirectory(const std::string& dir, std::vector<std::string>* names) {
  return base_.ListDirectory(dir, names);
}

void FaultFileSystem::DropUnsyncedData() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [path, p] : pending_) {
    int h = -1;
    if (base_.Open(path, Create::kOpenExisting, true, &h) != 0) continue;
    for (auto it = p.undo.rbegin(); it != p.undo.rend(); ++it) {
      size_t done = 0;
      base_.WriteAt(h, it->first, it->second.data(), it->second.size(), &done);
    }
    base_.Truncate(h, p.synced_size);
    base_.Close(h);
  }
  pending_.clear();
}
