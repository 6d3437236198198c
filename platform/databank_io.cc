// Databank file I/O on the file-system seam. Transfers are positional and run
// on the caller's thread, so a transfer never stays pending: a request slot is
// held only for the duration of one read or write, and a caller that finds all
// slots taken waits for one instead of failing.
#include "platform/databank_io.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <semaphore>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/host_services.h"
#include "platform/os_status.h"

namespace {

// Failed calls keep class 6 and the step of the call they stand in for, with
// the errno value as the code; bad requests are class 14 file-table errors
// under the routine's own call name.
constexpr int32_t kClassCall = OS_CLASS_WINDOWS;
constexpr int32_t kClassFileTable = OS_CLASS_FILE_TABLE;
constexpr int32_t OsStatus(int32_t cls, int32_t step, int32_t code) {
  return make_os_status(cls, step, code);
}
constexpr int kStepCreateFile = win_call::CreateFile;
constexpr int kStepCloseHandle = win_call::CloseHandle;
constexpr int kStepReadFile = win_call::ReadFile;
constexpr int kStepWriteFile = win_call::WriteFile;
constexpr int kStepFlush = win_call::FlushFileBuffers;
constexpr int kStepSetEndOfFile = win_call::SetEndOfFile;
constexpr int kStepDeleteFile = win_call::DeleteFile;
constexpr int kCallMdrdmc = crt_call::mdrdmc, kCallMdrdmo = crt_call::mdrdmo,
              kCallMdrdmr = crt_call::mdrdmr, kCallMdrdmw = crt_call::mdrdmw,
              kCallMdrdmx = crt_call::mdrdmx, kCallMdrdma = crt_call::mdrdma,
              kCallMdrdmt = crt_call::mdrdmt;
constexpr int kTableInvalidArguments = 1;
constexpr int kTableIllegalFileId = 6;
constexpr int kTableNegativeBlock = 14;

// errno to the open routine's return codes.
struct ErrnoCode {
  int error;
  int32_t rc;
};
constexpr ErrnoCode kOpenErrors[] = {
    {ENAMETOOLONG, -1}, {EINVAL, -1}, {ELOOP, -1},   {ENOENT, -2},      {ENOTDIR, -2},
    {ENODEV, -2},       {ENXIO, -2},  {EACCES, -3},  {EPERM, -3},       {EEXIST, -3},
    {EROFS, -3},        {EISDIR, -3}, {ETXTBSY, -3}, {EWOULDBLOCK, -4}, {EMFILE, -5},
    {ENFILE, -5},       {ENOMEM, -5}, {ENOSPC, -6},  {EDQUOT, -6},      {EFBIG, -6},
};

int32_t OpenCode(int error) {
  for (const ErrnoCode& e : kOpenErrors)
    if (e.error == error) return e.rc;
  return -9;
}

// Disk full for extend and set end; everything else is an I/O error.
int32_t SizeCode(int error) {
  return error == ENOSPC || error == EDQUOT ? -6 : -9;
}

constexpr int kChunkBlocks = 10;
constexpr int kMaxChunks = kIoMaxFiles / kChunkBlocks;

struct FileControlBlock {
  std::atomic<int32_t> inuse{0};
  // Held from reading a file's size to the end of changing it, so that two
  // size changes of one file never act on each other's stale size.
  std::mutex end_lock;
  int32_t file_handle = -1;
  int32_t extend_handle = -1;
  int32_t bytes_per_sector = 0;
  int32_t zero_fill = 0;
  bool write_through = false;
  bool delete_on_close = false;
  char filename[kIoPathMax + 1] = {};
};

struct Chunk {
  std::atomic<Chunk*> next{nullptr};
  FileControlBlock blocks[kChunkBlocks];
};

struct RequestSlot {
  std::atomic<int32_t> inuse{0};
  int32_t byte_count = 0;
  int32_t owner = 0;  // file id
  int32_t internal = 0, internal_high = 0, offset = 0, offset_high = 0;
};

struct IoArea {
  std::mutex file_lock;  // guards growth of the chunk chain only
  std::atomic<Chunk*> chain{nullptr};
  std::atomic<int32_t> chunks{0};
  std::atomic<bool> ever_opened{false};
  std::atomic<int32_t> open_files{0};
  std::mutex path_lock;
  char default_path[kIoPathMax + 1] = {};
  int32_t buffering = 0;
  std::atomic<void (*)()> progress{nullptr};
  std::atomic<FileSystem*> fs{nullptr};
  RequestSlot slots[kIoRequestSlots];
  std::atomic<bool> slots_ready{false};
  std::atomic<int32_t> cursor{0};
  std::counting_semaphore<kIoRequestSlots> free_slots{kIoRequestSlots};
};

IoArea& Area() {
  static IoArea* area = new IoArea;  // lives as long as the process
  return *area;
}

FileSystem& Fs() {
  FileSystem* fs = Area().fs.load(std::memory_order_acquire);
  return fs ? *fs : PosixFileSystem();
}

// Makes a file-system call again while a signal interrupts it: an
// interrupted call changed nothing, so it is no failure of the file.
template <class Call>
int Retried(Call call) {
  int err;
  do {
    err = call();
  } while (err == EINTR);
  return err;
}

// Moves all `count` bytes, calling again after a short count or an
// interruption; stops early only at the end of the file (a read that gets
// nothing), a write that moves nothing, or a real error.
int TransferAll(int handle, int64_t offset, char* buffer, size_t count, bool write, size_t* done) {
  *done = 0;
  while (*done < count) {
    size_t n = 0;
    const int64_t at = offset + static_cast<int64_t>(*done);
    int err = write ? Fs().WriteAt(handle, at, buffer + *done, count - *done, &n)
                    : Fs().ReadAt(handle, at, buffer + *done, count - *done, &n);
    *done += std::min(n, count - *done);
    if (err == EINTR) continue;
    if (err != 0) return err;
    if (n == 0) break;
  }
  return 0;
}

// The directory that holds `path`, whose entries a create or a remove changes.
std::string DirectoryOf(const std::string& path) {
  std::string dir = std::filesystem::path(path).parent_path().string();
  return dir.empty() ? "." : dir;
}

void Fail(int32_t* rq, int32_t rc, int32_t os_status) {
  rq[IO_RC] = rc;
  rq[IO_OS_STATUS] = os_status;
}

void Succeed(int32_t* rq, int32_t rc = 0) {
  rq[IO_RC] = rc;
  rq[IO_OS_STATUS] = -1;
}

Chunk* ChunkAt(int32_t number) {
  Chunk* c = Area().chain.load(std::memory_order_acquire);
  for (int32_t i = 0; c && i < number; ++i) c = c->next.load(std::memory_order_acquire);
  return c;
}

// The taken block named by `id`, or nullptr (and the request failed) when
// the id names no open file.
FileControlBlock* TakenBlock(int32_t* rq, int call) {
  int32_t id = rq[IO_FILE_ID];
  if (id >= 1 && id <= kIoMaxFiles) {
    Chunk* c = ChunkAt((id - 1) / kChunkBlocks);
    if (c) {
      FileControlBlock* f = &c->blocks[(id - 1) % kChunkBlocks];
      if (f->inuse.load(std::memory_order_acquire) == 1 && f->file_handle >= 0) return f;
    }
  }
  Fail(rq, -9, OsStatus(kClassFileTable, call, kTableIllegalFileId));
  return nullptr;
}

// Claims a free file control block, adding a chunk of ten when all are taken.
FileControlBlock* ClaimBlock(int32_t* id) {
  IoArea& a = Area();
  for (;;) {
    int32_t number = 0;
    Chunk* last = nullptr;
    for (Chunk* c = a.chain.load(std::memory_order_acquire); c;
         c = c->next.load(std::memory_order_acquire), ++number) {
      for (int i = 0; i < kChunkBlocks; ++i) {
        int32_t expected = 0;
        if (c->blocks[i].inuse.compare_exchange_strong(expected, 1)) {
          *id = number * kChunkBlocks + i + 1;
          return &c->blocks[i];
        }
      }
      last = c;
    }
    std::lock_guard<std::mutex> lock(a.file_lock);
    // Another thread may have added a chunk since the walk: search again.
    Chunk* tail = a.chain.load(std::memory_order_acquire);
    while (tail && tail->next.load(std::memory_order_acquire))
      tail = tail->next.load(std::memory_order_acquire);
    if (tail != last) continue;
    if (a.chunks.load() >= kMaxChunks) return nullptr;
    Chunk* fresh = new (std::nothrow) Chunk;
    if (!fresh) return nullptr;
    if (tail) {
      tail->next.store(fresh, std::memory_order_release);
    } else {
      a.chain.store(fresh, std::memory_order_release);
    }
    a.chunks.fetch_add(1);
  }
}

void ReleaseBlock(FileControlBlock* f) {
  f->file_handle = -1;
  f->extend_handle = -1;
  f->write_through = false;
  f->delete_on_close = false;
  f->inuse.store(0, std::memory_order_release);
}

bool IEquals(const std::string& a, const std::string& b) {
  return a.size() == b.size() && strncasecmp(a.c_str(), b.c_str(), a.size()) == 0;
}

// The file named `leaf` in `dir`: the exact name when it exists, else the
// first directory entry equal to it without regard to case.
bool FindFile(const std::string& dir, const std::string& leaf, std::string* found) {
  std::string exact = dir + "/" + leaf;
  if (Fs().Exists(exact)) {
    *found = exact;
    return true;
  }
  std::vector<std::string> names;
  if (Fs().ListDirectory(dir, &names) != 0) return false;
  for (const std::string& n : names) {
    if (IEquals(n, leaf) && Fs().Exists(dir + "/" + n)) {
      *found = dir + "/" + n;
      return true;
    }
  }
  return false;
}

// Forms the full path of a databank file name as seen from the default path;
// a name whose last component has no "." gets ".dbf". False when too long.
bool ResolveName(const std::string& name, std::string* path) {
  namespace fs = std::filesystem;
  std::string default_path;
  {
    std::lock_guard<std::mutex> lock(Area().path_lock);
    if (Area().default_path[0] == 0) strcpy(Area().default_path, ".");
    default_path = Area().default_path;
  }
  fs::path p(name);
  if (p.is_relative()) p = fs::path(default_path) / p;
  std::error_code ec;
  fs::path full = fs::absolute(p, ec);
  if (ec) full = p;
  full = full.lexically_normal();
  std::string dir = full.parent_path().string();
  std::string leaf = full.filename().string();
  if (leaf.empty()) return false;
  if (leaf.find('.') == std::string::npos) leaf += ".dbf";
  std::string found;
  if (!FindFile(dir, leaf, &found)) found = dir + "/" + leaf;
  if (found.size() > static_cast<size_t>(kIoPathMax)) return false;
  *path = found;
  return true;
}

int32_t BufferingMode() {
  uint32_t value = 0;
  if (!reg_get_version_dword(0, "", "IoBuffering", &value)) value = 0;
  return static_cast<int32_t>(value);
}

const char* BufferingText(int32_t mode) {
  if (mode == 1) return "Write through cache";
  if (mode == 2) return "Cached (dangerous)";
  return "Raw I/O (default)";
}

// Takes a request slot; waits while all are taken (a transfer holds its slot
// only while it runs, so a wait is short and never turns into an I/O error).
int32_t TakeSlot(int32_t file_id, int32_t byte_count, int64_t offset) {
  IoArea& a = Area();
  if (!a.slots_ready.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(a.file_lock);
    if (!a.slots_ready.load()) {
      a.cursor.store(0);
      for (RequestSlot& s : a.slots) s.byte_count = 0;
      a.slots_ready.store(true, std::memory_order_release);
    }
  }
  a.free_slots.acquire();
  int32_t i = a.cursor.load(std::memory_order_relaxed);
  for (;;) {
    i = (i + 1) % kIoRequestSlots;
    int32_t expected = 0;
    if (a.slots[i].inuse.compare_exchange_strong(expected, 1)) break;
  }
  a.cursor.store(i, std::memory_order_relaxed);
  RequestSlot& s = a.slots[i];
  s.owner = file_id;
  s.byte_count = byte_count;
  s.offset = static_cast<int32_t>(static_cast<uint64_t>(offset) & 0xFFFFFFFFu);
  s.offset_high = static_cast<int32_t>(static_cast<uint64_t>(offset) >> 32);
  return i;
}

void GiveSlot(int32_t i) {
  IoArea& a = Area();
  a.slots[i].owner = 0;
  a.slots[i].inuse.store(0, std::memory_order_release);
  a.free_slots.release();
}

void ReportIncomplete(const char* routine, size_t done, int32_t expected) {
  char text[160];
  snprintf(text, sizeof text, "Error in %s: I/O incomplete, %zu bytes read or written, expected %d",
           routine, done, expected);
  StatusPair st;
  WriteServerOutput(&st, 2, text, -1);
}

// Common part of read and write.
void Transfer(int32_t* rq, void* buffer, bool write) {
  if (!rq) return;
  int call = write ? kCallMdrdmw : kCallMdrdmr;
  FileControlBlock* f = TakenBlock(rq, call);
  if (!f) return;
  int32_t block = rq[IO_BLOCK], count = rq[IO_BYTE_COUNT];
  if (block < 0) return Fail(rq, -9, OsStatus(kClassFileTable, call, kTableNegativeBlock));
  if (count < 0 || (count > 0 && !buffer))
    return Fail(rq, -9, OsStatus(kClassFileTable, call, kTableInvalidArguments));
  if (void (*hook)() = Area().progress.load()) hook();
  int32_t expected = count;
  if (f->bytes_per_sector > 0)
    expected = static_cast<int32_t>((static_cast<int64_t>(count) + f->bytes_per_sector - 1) /
                                    f->bytes_per_sector * f->bytes_per_sector);
  int64_t offset = static_cast<int64_t>(block) * kIoBlockBytes;
  int32_t slot = TakeSlot(rq[IO_FILE_ID], expected, offset);
  size_t done = 0;
  int err = TransferAll(f->file_handle, offset, static_cast<char*>(buffer),
                        static_cast<size_t>(expected), write, &done);
  if (err == 0 && write && f->write_through) {
    err = Retried([&] { return Fs().SyncData(f->file_handle); });
    if (err != 0) {
      GiveSlot(slot);
      return Fail(rq, -9, OsStatus(kClassCall, kStepFlush, err));
    }
  }
  GiveSlot(slot);
  if (err != 0)
    return Fail(rq, -9, OsStatus(kClassCall, write ? kStepWriteFile : kStepReadFile, err));
  if (done != static_cast<size_t>(expected)) {
    ReportIncomplete(write ? "mdrdmw" : "mdrdmr", done, expected);
    return Fail(rq, -9, OsStatus(kClassCall, 0, EIO));
  }
  Succeed(rq);
}

// Sets the end of an open file to `bytes`, reserving the space when it grows.
// Growing only ever adds: an extension never shrinks the file, nor takes back
// a failed reservation, since any size it read may be stale by then (another
// thread may have grown the file and written past that size). Only the
// exact-end request (`grow_only` false) cuts a file. The size is read and
// changed under the file's end lock, and a write-through file makes its end
// durable before the lock is given back: the caller records the end in pages
// that are written through, and after a crash the file must not be shorter
// than they claim. That holds for a caller that finds the end already there
// too, so the sync is made then as well: the change that put the end there
// may have failed its own sync. *step names the call that failed.
int SetEnd(FileControlBlock* f, int64_t bytes, bool grow_only, int* step) {
  *step = kStepSetEndOfFile;
  std::lock_guard<std::mutex> lock(f->end_lock);
  int64_t now = 0;
  int err = Fs().Size(f->file_handle, &now);
  if (err != 0) return err;
  if (bytes > now)
    err = Retried([&] { return Fs().Allocate(f->file_handle, now, bytes - now); });
  else if (bytes < now && !grow_only)
    err = Retried([&] { return Fs().Truncate(f->file_handle, bytes); });
  if (err == 0 && f->write_through) {
    err = Retried([&] { return Fs().SyncData(f->file_handle); });
    if (err != 0) *step = kStepFlush;
  }
  return err;
}

// Sizes a file that an open may have created (`blocks` -1: no sizing) and
// makes it durable, its directory entry too: a created file is there after a
// crash only once that entry is on disk, so the caller is told of the file
// only then. On failure the file is removed and closed, and *step names the
// failed call.
int PrepareCreated(int handle, const std::string& path, int32_t blocks, bool durable, int* step) {
  int err = 0;
  if (blocks >= 0) {
    int64_t bytes = static_cast<int64_t>(blocks) * kIoBlockBytes;
    err = Retried([&] { return Fs().Truncate(handle, 0); });
    if (err == 0 && bytes > 0) err = Retried([&] { return Fs().Allocate(handle, 0, bytes); });
    if (err == 0 && durable) {
      err = Retried([&] { return Fs().SyncData(handle); });
      if (err != 0) *step = kStepFlush;
    }
  }
  if (err == 0 && durable) {
    err = Retried([&] { return Fs().SyncDirectory(DirectoryOf(path)); });
    if (err != 0) *step = kStepFlush;
  }
  if (err != 0) {
    // Nothing of a failed create stays behind.
    Retried([&] { return Fs().Remove(path); });
    if (durable) Retried([&] { return Fs().SyncDirectory(DirectoryOf(path)); });
    Fs().Close(handle);
  }
  return err;
}

}  // namespace

void mdrdmo(int32_t* rq, const char* name) {
  if (!rq) return;
  IoArea& a = Area();
  int32_t mode = rq[IO_RC];
  rq[IO_FILE_ID] = 0;
  int32_t id = 0;
  FileControlBlock* f = ClaimBlock(&id);
  if (!f) return Fail(rq, -5, -1);
  a.ever_opened.store(true);

  std::string text;
  if (name) {
    size_t n = strnlen(name, kIoNameLength);
    text.assign(name, n);
    while (!text.empty() && text.back() == ' ') text.pop_back();
  }
  std::string path;
  if (text.empty() || !ResolveName(text, &path)) {
    ReleaseBlock(f);
    return Fail(rq, -1, OsStatus(kClassCall, kStepCreateFile, ENAMETOOLONG));
  }
  int32_t buffering = BufferingMode();
  {
    std::lock_guard<std::mutex> lock(a.path_lock);
    a.buffering = buffering;
  }

  FileSystem::Create create = FileSystem::Create::kOpenExisting;
  bool writable = true, sized = false;
  switch (mode) {
    case IO_CREATE_NEW_UNSIZED:
      create = FileSystem::Create::kCreateNew;
      break;
    case IO_CREATE_TEMPORARY:
    case IO_CREATE_ALWAYS:
      create = FileSystem::Create::kOpenAlways;
      sized = true;
      break;
    case IO_CREATE_NEW:
      create = FileSystem::Create::kCreateNew;
      sized = true;
      break;
    case IO_OPEN_READ_WRITE:
      break;
    case IO_OPEN_READ_ONLY:
      writable = false;
      break;
    default:  // no such mode: refused before the file is touched
      ReleaseBlock(f);
      return Fail(rq, -9, OsStatus(kClassCall, kStepCreateFile, EINVAL));
  }
  int32_t size_blocks = rq[IO_BLOCK];
  if (sized && size_blocks < 0) {
    ReleaseBlock(f);
    return Fail(rq, -9, OsStatus(kClassFileTable, kCallMdrdmo, 8));
  }

  int handle = -1;
  int err = Retried([&] { return Fs().Open(path, create, writable, &handle); });
  if (err != 0) {
    ReleaseBlock(f);
    return Fail(rq, OpenCode(err), OsStatus(kClassCall, kStepCreateFile, err));
  }
  // Without sharing: a file another open holds stays untouched, so the lock
  // comes before any truncation or sizing.
  err = Retried([&] { return Fs().LockExclusive(handle); });
  if (err != 0) {
    Fs().Close(handle);
    ReleaseBlock(f);
    return Fail(rq, OpenCode(err), OsStatus(kClassCall, kStepCreateFile, err));
  }
  const bool durable = buffering != 2;
  if (create != FileSystem::Create::kOpenExisting) {
    int step = kStepSetEndOfFile;
    err = PrepareCreated(handle, path, sized ? size_blocks : -1, durable, &step);
    if (err != 0) {
      ReleaseBlock(f);
      return Fail(rq, OpenCode(err), OsStatus(kClassCall, step, err));
    }
  }
  f->file_handle = handle;
  f->extend_handle = -1;
  f->bytes_per_sector = 0;
  f->zero_fill = 0;
  f->write_through = buffering != 2;
  f->delete_on_close = mode == IO_CREATE_TEMPORARY;
  snprintf(f->filename, sizeof f->filename, "%s", path.c_str());
  a.open_files.fetch_add(1);
  rq[IO_FILE_ID] = id;
  Succeed(rq);
}

void mdrdmc(int32_t* rq) {
  if (!rq) return;
  FileControlBlock* f = TakenBlock(rq, kCallMdrdmc);
  if (!f) return;
  bool remove = rq[IO_RC] == 1 || f->delete_on_close;
  int32_t rc = 0, os = -1;
  // Removed before the close, while the lock still keeps other openers out.
  if (remove) {
    int err = Retried([&] { return Fs().Remove(f->filename); });
    if (err != 0) rc = 1, os = OsStatus(kClassCall, kStepDeleteFile, err);
    // Until its directory is synced a crash could bring the file back.
    if (err == 0 && f->write_through) {
      err = Retried([&] { return Fs().SyncDirectory(DirectoryOf(f->filename)); });
      if (err != 0) rc = 1, os = OsStatus(kClassCall, kStepFlush, err);
    }
  }
  int err = Fs().Close(f->file_handle);
  // A failed close still gives the descriptor back on Linux; keeping the block
  // would leave it naming a descriptor that may be reused for another file.
  if (err != 0) rc = -9, os = OsStatus(kClassCall, kStepCloseHandle, err);
  f->filename[0] = 0;
  ReleaseBlock(f);
  IoArea& a = Area();
  int32_t left = a.open_files.load();
  while (left > 0 && !a.open_files.compare_exchange_weak(left, left - 1)) {
  }
  if (left == 1) a.slots_ready.store(false);
  rq[IO_FILE_ID] = 0;
  Fail(rq, rc, os);
}

void mdrdmx(int32_t* rq) {
  if (!rq) return;
  FileControlBlock* f = TakenBlock(rq, kCallMdrdmx);
  if (!f) return;
  int32_t end = rq[IO_BLOCK], bytes = rq[IO_BYTE_COUNT];
  if (end < 0 || bytes < 0)
    return Fail(rq, -9, OsStatus(kClassFileTable, kCallMdrdmx, kTableInvalidArguments));
  int32_t units = std::max(bytes / kIoBlockBytes, kIoMinExtendBlocks);
  int64_t target = (static_cast<int64_t>(end) + units) * kIoBlockBytes;
  int step = 0;
  if (int err = SetEnd(f, target, true, &step))
    return Fail(rq, SizeCode(err), OsStatus(kClassCall, step, err));
  Succeed(rq, units);
}

void mdrdmt(int32_t* rq) {
  if (!rq) return;
  FileControlBlock* f = TakenBlock(rq, kCallMdrdmt);
  if (!f) return;
  int32_t end = rq[IO_BLOCK];
  if (end < 0) return Fail(rq, -9, OsStatus(kClassFileTable, kCallMdrdmt, kTableNegativeBlock));
  int step = 0;
  if (int err = SetEnd(f, static_cast<int64_t>(end) * kIoBlockBytes, false, &step))
    return Fail(rq, SizeCode(err), OsStatus(kClassCall, step, err));
  Succeed(rq);
}

void mdrdmr(int32_t* rq, void* buffer) {
  Transfer(rq, buffer, false);
}

void mdrdmw(int32_t* rq, const void* buffer) {
  Transfer(rq, const_cast<void*>(buffer), true);
}

void mdrdma(int32_t* rq) {
  if (!rq || rq[IO_RC] <= 0) return;
  // Transfers complete before mdrdmr and mdrdmw return, so no positive handle
  // is ever handed out: a positive word here is not one of ours.
  Fail(rq, -9, OsStatus(kClassFileTable, kCallMdrdma, kTableInvalidArguments));
}

void mdr_set_default_path(StatusPair* status, const char* text, int32_t length) {
  IoArea& a = Area();
  std::lock_guard<std::mutex> lock(a.path_lock);
  int32_t n = text ? std::clamp<int32_t>(length, 0, kIoPathMax) : 0;
  memcpy(a.default_path, text ? text : "", static_cast<size_t>(n));
  a.default_path[n] = 0;
  if (status) set_success(status);
}

int32_t mdr_system_limit(int32_t kind) {
  switch (kind) {
    case 1:
      return kIoMaxFiles;
    case 2:
      return kIoRequestSlots;
    case 4: {
      long page = sysconf(_SC_PAGESIZE);
      return static_cast<int32_t>(std::min<long>(page > 0 ? page : 2048, 2048));
    }
    default:
      return -1;
  }
}

void mdr_set_progress_routine(void (*routine)()) {
  Area().progress.store(routine);
}

FileSystem* mdr_install_file_system(FileSystem* fs) {
  FileSystem* previous = Area().fs.exchange(fs);
  return previous ? previous : &PosixFileSystem();
}

int32_t mdr_open_file_count() {
  return Area().open_files.load();
}

const char* mdr_file_name(int32_t file_id) {
  int32_t rq[IO_REQUEST_WORDS] = {0, -1, file_id, 0, 0};
  FileControlBlock* f = TakenBlock(rq, kCallMdrdmc);
  return f ? f->filename : nullptr;
}

namespace {

// The text of dump piece `piece`; false past the last piece.
bool DumpPiece(int32_t piece, std::string* out) {
  IoArea& a = Area();
  char line[kIoPathMax + 160];
  const int32_t rows = a.ever_opened.load() ? a.chunks.load() * kChunkBlocks : 0;
  const int32_t slots_head = 4 + rows;
  out->clear();
  if (piece == 0) {
    *out = "\nDUMP OF I/O AREA:\n\n";
  } else if (piece == 1) {
    if (!a.ever_opened.load()) {
      *out = "File control blocks not initiated.\n";
    } else {
      std::lock_guard<std::mutex> lock(a.path_lock);
      snprintf(line, sizeof line,
               "File control blocks\n-------------------\nI/O buffering:    %s\nProgress "
               "routine: 0x%08x\n",
               BufferingText(a.buffering), a.progress.load() ? 1u : 0u);
      *out = line;
    }
  } else if (piece == 2) {
    if (a.ever_opened.load()) {
      std::lock_guard<std::mutex> lock(a.path_lock);
      snprintf(line, sizeof line, "Default path:     %s\n", a.default_path);
      *out = line;
    }
  } else if (piece == 3) {
    if (a.ever_opened.load())
      *out = "Block Index Inuse FileHandle ExtendHandle BytesPerSector Filename\n";
  } else if (piece < slots_head) {
    int32_t row = piece - 4;
    Chunk* c = ChunkAt(row / kChunkBlocks);
    if (c) {
      const FileControlBlock& f = c->blocks[row % kChunkBlocks];
      snprintf(line, sizeof line, "%5d %5d %5d 0x%08x   0x%08x %14d   %s\n", row / kChunkBlocks + 1,
               row % kChunkBlocks, f.inuse.load(), static_cast<uint32_t>(f.file_handle),
               static_cast<uint32_t>(f.extend_handle), f.bytes_per_sector, f.filename);
      *out = line;
    }
  } else if (piece == slots_head) {
    if (!a.slots_ready.load()) {
      *out = "Request control blocks not initiated.\n";
    } else {
      snprintf(line, sizeof line,
               "\nI/O Request control blocks\n--------------------------\nCurrent index:    %d\n",
               a.cursor.load());
      *out = line;
      *out += "                                 OVERLAPPED structure\n";
      *out += "Index Inuse ByteCount OwnerPfcb  Internal Int.High   Offset OffsetHigh Event\n";
    }
  } else if (piece <= slots_head + kIoRequestSlots) {
    if (a.slots_ready.load()) {
      int32_t i = piece - slots_head - 1;
      const RequestSlot& s = a.slots[i];
      snprintf(line, sizeof line, "%5d %5d %9d 0x%08x %8d %8d %8d %10d 0x%08x\n", i, s.inuse.load(),
               s.byte_count, static_cast<uint32_t>(s.owner), s.internal, s.internal_high, s.offset,
               s.offset_high, 0u);
      *out = line;
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace

void mdr_dump_io_area(char* buffer, int32_t* room, int32_t* piece) {
  constexpr int32_t kMinRoom = 160;
  if (!room || !piece) return;
  int32_t size = buffer ? *room : 0;
  int32_t used = 0, p = std::max<int32_t>(*piece, 0);
  std::string text;
  while (size - used >= kMinRoom && DumpPiece(p, &text)) {
    int32_t n = static_cast<int32_t>(text.size());
    if (n > size - used) {
      // A piece longer than the whole buffer is cut rather than never sent.
      if (used > 0) break;
      n = size - 1;
    }
    memcpy(buffer + used, text.data(), static_cast<size_t>(n));
    used += n;
    ++p;
  }
  if (used < size && buffer) buffer[used] = 0;
  *room = used;
  std::string probe;
  *piece = DumpPiece(p, &probe) && used > 0 ? p : 0;
}
