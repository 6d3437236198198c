// The file-system seam under databank file I/O. The server uses the POSIX
// implementation (positional reads and writes, fdatasync, flock, ftruncate and
// posix_fallocate, fsync of directories); tests wrap it in FaultFileSystem,
// which injects failures, interruptions and short transfers and simulates a
// crash that keeps only what was synced (and any chosen part of the rest).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Every operation returns 0 or a positive errno value; handles are small
// non-negative integers owned by the implementation. kOpenAlways creates a
// missing file and never truncates, so that a caller can lock a file before it
// empties it. EINTR may be answered by any operation but Close: the call was
// interrupted before it changed anything and may simply be made again (the
// POSIX implementation does so itself).
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
  // a full disk; the file grows to cover the range and never shrinks.
  virtual int Allocate(int handle, int64_t offset, int64_t length) = 0;
  virtual int Size(int handle, int64_t* size) = 0;
  virtual int Remove(const std::string& path) = 0;
  // Makes the creates and removes of entries in `dir` durable: a file created
  // (or removed) survives a crash as such only after its directory is synced.
  virtual int SyncDirectory(const std::string& dir) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual int ListDirectory(const std::string& dir, std::vector<std::string>* names) = 0;
};

// The process's real file system.
FileSystem& PosixFileSystem();

// Wraps another file system (one over real directories) and injects faults.
// Files it creates or writes are tracked in pages of `page_bytes`: every page
// changed since the file's last SyncData, with what the page held then, and
// every create or remove whose directory was not synced since. Crash() then
// puts the files back as a machine that lost power would find them. Syncs are
// recorded here and not passed on: the base never has to make anything
// durable, since the crash is simulated.
class FaultFileSystem : public FileSystem {
 public:
  enum class Op { kOpen, kLock, kRead, kWrite, kSync, kTruncate, kAllocate, kRemove, kSyncDir };

  // What a crash keeps of what was not synced. kept_bytes(path, page) gives
  // the bytes of an unsynced page's present content that reached disk, from
  // the page's start: 0 loses the page (it holds what it held at the last
  // sync), page_bytes keeps it, anything between tears it. keeps_entry(path)
  // tells whether an unsynced create or remove of `path` reached disk. An
  // empty function keeps nothing. A size change survives only as far as a
  // kept page needs it.
  struct CrashPlan {
    std::function<int64_t(const std::string& path, int64_t page)> kept_bytes;
    std::function<bool(const std::string& path)> keeps_entry;
  };

  explicit FaultFileSystem(FileSystem& base, int64_t page_bytes = 2048)
      : base_(base), page_bytes_(page_bytes) {}

  // The n-th read (or write) from now, counting from 1, fails with `error`.
  void FailNthRead(int n, int error);
  void FailNthWrite(int n, int error);
  // The n-th write from now puts only its first `bytes` bytes into the file
  // and then fails with EIO: a page cut off by a failing device.
  void TearNthWrite(int n, size_t bytes);
  // The next `times` calls of `op` are interrupted: each answers EINTR and
  // does nothing.
  void Interrupt(Op op, int times);
  // Every read and write moves at most `bytes` bytes per call and answers
  // success with the short count (0: whole transfers again).
  void ShortTransfers(size_t bytes);
  // While full, growing a file (write past the end, allocate, truncate up)
  // fails with ENOSPC.
  void SetDiskFull(bool full);
  // Fails every Open of a path that ends with `suffix` with `error` (0 stops).
  void FailOpen(const std::string& suffix, int error);
  // After `n` more changing calls (a write, sync, truncate, allocate, create,
  // remove or directory sync) the power is cut: every later changing call
  // fails with EIO and changes nothing, until Crash().
  void CutPowerAfter(int n);
  // Changing calls made so far, counting those refused after a power cut.
  int changes() const;

  // The pages of `path` changed since its last sync, by page number.
  std::vector<int64_t> UnsyncedPages(const std::string& path) const;
  // Puts every file back as the plan says a crash leaves it, forgets every
  // injection and restores the power. Handles must be closed first.
  void Crash(const CrashPlan& plan);
  // A crash that keeps nothing unsynced.
  void DropUnsyncedData() { Crash({}); }
  int64_t page_bytes() const { return page_bytes_; }
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
  int SyncDirectory(const std::string& dir) override;
  bool Exists(const std::string& path) override;
  int ListDirectory(const std::string& dir, std::vector<std::string>* names) override;

 private:
  // A file as of its last sync: its size and, for every page changed since,
  // the bytes the page held then (fewer than a page, or none, past that size).
  struct Pending {
    int64_t synced_size = 0;
    std::map<int64_t, std::vector<char>> pages;
  };
  bool Interrupted(Op op);
  int PowerCut();
  int Grows(int handle, int64_t new_end);
  Pending& Tracked(int handle);
  void RememberBefore(int handle, int64_t offset, int64_t count);
  void Restore(const std::string& path, const Pending& p, const CrashPlan& plan);

  FileSystem& base_;
  const int64_t page_bytes_;
  mutable std::mutex mutex_;
  std::map<int, std::string> paths_;            // open handle -> path (as it is named now)
  std::map<std::string, Pending> pending_;      // path -> unsynced changes
  std::set<std::string> created_;               // creates whose directory was not synced
  std::map<std::string, std::string> removed_;  // hidden name -> removed path, not synced
  int removed_count_ = 0;
  int fail_read_at_ = 0, fail_read_error_ = 0;
  int fail_write_at_ = 0, fail_write_error_ = 0;
  int tear_write_at_ = 0;
  size_t tear_bytes_ = 0;
  std::map<Op, int> interrupts_;
  size_t short_bytes_ = 0;
  int reads_ = 0, writes_ = 0;
  int changes_ = 0, power_until_ = -1;  // -1: the power stays on
  bool disk_full_ = false;
  std::string fail_open_suffix_;
  int fail_open_error_ = 0;
};
