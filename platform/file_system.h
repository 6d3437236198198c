// The file-system seam under databank file I/O. The server uses the POSIX
// implementation (positional reads and writes, fdatasync, flock, ftruncate and
// posix_fallocate, statvfs); tests wrap it in FaultFileSystem, which can fail a
// chosen read or write, report a full disk, or lose what was never synced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// Every operation returns 0 or a positive errno value; handles are small
// non-negative integers owned by the implementation. kOpenAlways creates a
// missing file and never truncates, so that a caller can lock a file before it
// empties it.
class FileSystem {
 public:
  enum class Create { kOpenExisting, kCreateNew, kOpenAlways };

  virtual ~FileSystem();

  virtual int Open(const std::string& path, Create create, bool writable, int* handle) = 0;
  virtual int Close(int handle) = 0;
  // Exclusive lock of the whole file for this handle, without waiting:
  // EWOULDBLOCK while another handle holds it.
  virtual int LockExclusive(int handle) = 0;
  // A short count is not an error here; the caller decides what it means.
  virtual int ReadAt(int handle, int64_t offset, void* buffer, size_t count, size_t* done) = 0;
  virtual int WriteAt(int handle, int64_t offset, const void* buffer, size_t count,
                      size_t* done) = 0;
  virtual int SyncData(int handle) = 0;
  virtual int Truncate(int handle, int64_t size) = 0;
  // Reserves [offset, offset + length) so that later writes there cannot meet
  // a full disk; the file grows to cover the range.
  virtual int Allocate(int handle, int64_t offset, int64_t length) = 0;
  virtual int Size(int handle, int64_t* size) = 0;
  virtual int Remove(const std::string& path) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual int ListDirectory(const std::string& dir, std::vector<std::string>* names) = 0;
};

// The process's real file system.
FileSystem& PosixFileSystem();

// Wraps another file system and injects faults. Writes are tracked per path:
// DropUnsyncedData puts back every byte and size that was not made durable by
// SyncData (or by a write through a handle opened after the last sync), as a
// crash would.
class FaultFileSystem : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& base) : base_(base) {}

  // The n-th read (or write) from now, counting from 1, fails with `error`.
  void FailNthRead(int n, int error);
  void FailNthWrite(int n, int error);
  // While full, growing a file (write past the end, allocate, truncate up)
  // fails with ENOSPC.
  void SetDiskFull(bool full);
  // Fails every Open of a path that ends with `suffix` with `error` (0 stops).
  void FailOpen(const std::string& suffix, int error);
  // Reverts unsynced changes of every file this wrapper has written.
  void DropUnsyncedData();
  int reads() const;
  int writes() const;

  int Open(const std::string& path, Create create, bool writable, int* handle) override;
  int Close(int handle) override;
  int LockExclusive(int handle) override;
  int ReadAt(int handle, int64_t offset, void* buffer, size_t count, size_t* done) override;
  int WriteAt(int handle, int64_t offset, const void* buffer, size_t count, size_t* done) override;
  int SyncData(int handle) override;
  int Truncate(int handle, int64_t size) override;
  int Allocate(int handle, int64_t offset, int64_t length) override;
  int Size(int handle, int64_t* size) override;
  int Remove(const std::string& path) override;
  bool Exists(const std::string& path) override;
  int ListDirectory(const std::string& dir, std::vector<std::string>* names) override;

 private:
  // What a file looked like at its last sync: its size and the original bytes
  // of every range written since.
  struct Pending {
    int64_t synced_size = 0;
    std::vector<std::pair<int64_t, std::vector<char>>> undo;
  };
  int Grows(int handle, int64_t new_end);
  void RememberBefore(int handle, int64_t offset, size_t count);

  FileSystem& base_;
  mutable std::mutex mutex_;
  std::map<int, std::string> paths_;        // open handle -> path
  std::map<std::string, Pending> pending_;  // path -> unsynced changes
  int fail_read_at_ = 0, fail_read_error_ = 0;
  int fail_write_at_ = 0, fail_write_error_ = 0;
  int reads_ = 0, writes_ = 0;
  bool disk_full_ = false;
  std::string fail_open_suffix_;
  int fail_open_error_ = 0;
};
