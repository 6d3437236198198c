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
#include <filesystem>

FileSystem::~FileSystem() = default;

namespace {

// Runs a call that reports failure as -1 with errno until no signal
// interrupts it; returns 0 or the errno value.
template <class Call>
int Retried(Call call) {
  for (;;) {
    if (call() >= 0) return 0;
    if (errno != EINTR) return errno;
  }
}

class Posix final : public FileSystem {
 public:
  int Open(const std::string& path, Create create, bool writable, int* handle) override {
    int flags = (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (create == Create::kCreateNew) flags |= O_CREAT | O_EXCL;
    if (create == Create::kOpenAlways) flags |= O_CREAT;
    int fd = -1;
    int err = Retried([&] { return fd = ::open(path.c_str(), flags, 0660); });
    if (err == 0) *handle = fd;
    return err;
  }
  // Never made again after EINTR: Linux has released the descriptor by then,
  // and a second close could hit a descriptor another thread just opened.
  int Close(int handle) override { return ::close(handle) == 0 ? 0 : errno; }
  int LockExclusive(int handle) override {
    return Retried([&] { return ::flock(handle, LOCK_EX | LOCK_NB); });
  }
  int ReadAt(int handle, int64_t offset, void* buffer, size_t count, size_t* done) override {
    *done = 0;
    char* p = static_cast<char*>(buffer);
    while (*done < count) {
      ssize_t n = 0;
      int err =
          Retried([&] { return n = ::pread(handle, p + *done, count - *done, offset + *done); });
      if (err != 0) return err;
      if (n == 0) break;  // end of file
      *done += static_cast<size_t>(n);
    }
    return 0;
  }
  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count, size_t* done) override {
    *done = 0;
    const char* p = static_cast<const char*>(buffer);
    while (*done < count) {
      ssize_t n = 0;
      int err =
          Retried([&] { return n = ::pwrite(handle, p + *done, count - *done, offset + *done); });
      if (err != 0) return err;
      if (n == 0) return EIO;
      *done += static_cast<size_t>(n);
    }
    return 0;
  }
  int SyncData(int handle) override {
    return Retried([&] { return ::fdatasync(handle); });
  }
  int Truncate(int handle, int64_t size) override {
    return Retried([&] { return ::ftruncate(handle, size); });
  }
  int Allocate(int handle, int64_t offset, int64_t length) override {
    // posix_fallocate returns the error rather than setting errno.
    int err;
    do {
      err = ::posix_fallocate(handle, offset, length);
    } while (err == EINTR);
    return err;
  }
  int Size(int handle, int64_t* size) override {
    struct stat st;
    if (::fstat(handle, &st) != 0) return errno;
    *size = st.st_size;
    return 0;
  }
  int Remove(const std::string& path) override {
    return Retried([&] { return ::unlink(path.c_str()); });
  }
  int SyncDirectory(const std::string& dir) override {
    int fd = -1;
    int err = Retried([&] { return fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    if (err != 0) return err;
    err = Retried([&] { return ::fsync(fd); });
    ::close(fd);
    return err;
  }
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
