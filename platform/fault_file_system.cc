// FaultFileSystem: the file system tests put under databank I/O. It passes
// calls on to a real file system and injects failures, interruptions, short
// and torn transfers and power cuts, and keeps what a crash would put back.
#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "platform/file_system.h"

namespace {

constexpr const char* kRemovedMark = ".fault-removed-";

std::filesystem::path DirectoryOf(const std::string& path) {
  return std::filesystem::path(path).lexically_normal().parent_path();
}

std::filesystem::path NormalDirectory(const std::string& dir) {
  std::filesystem::path p = std::filesystem::path(dir).lexically_normal();
  return p.has_filename() ? p : p.parent_path();
}

}  // namespace

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

void FaultFileSystem::TearNthWrite(int n, size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  tear_write_at_ = n > 0 ? writes_ + n : 0;
  tear_bytes_ = bytes;
}

void FaultFileSystem::Interrupt(Op op, int times) {
  std::lock_guard<std::mutex> lock(mutex_);
  interrupts_[op] = std::max(times, 0);
}

void FaultFileSystem::ShortTransfers(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  short_bytes_ = bytes;
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

void FaultFileSystem::CutPowerAfter(int n) {
  std::lock_guard<std::mutex> lock(mutex_);
  power_until_ = changes_ + std::max(n, 0);
}

int FaultFileSystem::changes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return changes_;
}

int FaultFileSystem::reads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reads_;
}

int FaultFileSystem::writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

std::vector<int64_t> FaultFileSystem::UnsyncedPages(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<int64_t> pages;
  auto it = pending_.find(path);
  if (it != pending_.end())
    for (const auto& [page, old] : it->second.pages) pages.push_back(page);
  return pages;
}

// Called with mutex_ held.
bool FaultFileSystem::Interrupted(Op op) {
  auto it = interrupts_.find(op);
  if (it == interrupts_.end() || it->second == 0) return false;
  --it->second;
  return true;
}

// Called with mutex_ held for every changing call: EIO once the power is cut.
int FaultFileSystem::PowerCut() {
  ++changes_;
  return power_until_ >= 0 && changes_ > power_until_ ? EIO : 0;
}

// Called with mutex_ held: ENOSPC when the disk is "full" and the file would
// grow past its present size.
int FaultFileSystem::Grows(int handle, int64_t new_end) {
  if (!disk_full_) return 0;
  int64_t size = 0;
  if (base_.Size(handle, &size) != 0) return 0;
  return new_end > size ? ENOSPC : 0;
}

// Called with mutex_ held: the record of the handle's file, started at its
// first change after a sync with the size it has then.
FaultFileSystem::Pending& FaultFileSystem::Tracked(int handle) {
  static Pending untracked;
  auto it = paths_.find(handle);
  if (it == paths_.end()) return untracked = Pending{};
  auto [entry, fresh] = pending_.try_emplace(it->second);
  if (fresh) base_.Size(handle, &entry->second.synced_size);
  return entry->second;
}

// Called with mutex_ held: keeps what the pages of [offset, offset + count)
// held at the last sync, before they change for the first time since.
void FaultFileSystem::RememberBefore(int handle, int64_t offset, int64_t count) {
  Pending& p = Tracked(handle);
  if (count <= 0) return;
  for (int64_t page = offset / page_bytes_; page <= (offset + count - 1) / page_bytes_; ++page) {
    if (p.pages.count(page)) continue;
    int64_t start = page * page_bytes_;
    std::vector<char> old(
        static_cast<size_t>(std::clamp<int64_t>(p.synced_size - start, 0, page_bytes_)));
    size_t got = 0;
    if (!old.empty()) base_.ReadAt(handle, start, old.data(), old.size(), &got);
    old.resize(got);
    p.pages.emplace(page, std::move(old));
  }
}

int FaultFileSystem::Open(const std::string& path, Create create, bool writable, int* handle) {
  // Only a file that this open creates starts out unsynced; opening an
  // existing file must keep what is known of its synced state.
  const bool creates = create != Create::kOpenExisting && !base_.Exists(path);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fail_open_error_ != 0 && path.size() >= fail_open_suffix_.size() &&
        path.compare(path.size() - fail_open_suffix_.size(), std::string::npos,
                     fail_open_suffix_) == 0)
      return fail_open_error_;
    if (Interrupted(Op::kOpen)) return EINTR;
    if (creates)
      if (int err = PowerCut()) return err;
  }
  int err = base_.Open(path, create, writable, handle);
  if (err != 0) return err;
  std::lock_guard<std::mutex> lock(mutex_);
  paths_[*handle] = path;
  if (creates) {
    pending_[path] = Pending{};
    created_.insert(path);
  }
  return 0;
}

int FaultFileSystem::Close(int handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  paths_.erase(handle);
  return base_.Close(handle);
}

int FaultFileSystem::LockExclusive(int handle) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (Interrupted(Op::kLock)) return EINTR;
  }
  return base_.LockExclusive(handle);
}

int FaultFileSystem::ReadAt(int handle, int64_t offset, void* buffer, size_t count, size_t* done) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++reads_;
    *done = 0;
    if (fail_read_at_ != 0 && reads_ == fail_read_at_) {
      fail_read_at_ = 0;
      return fail_read_error_;
    }
    if (Interrupted(Op::kRead)) return EINTR;
    if (short_bytes_ != 0) count = std::min(count, short_bytes_);
  }
  return base_.ReadAt(handle, offset, buffer, count, done);
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
  if (Interrupted(Op::kWrite)) return EINTR;
  if (int err = PowerCut()) return err;
  const bool tear = tear_write_at_ != 0 && writes_ == tear_write_at_;
  if (tear) {
    tear_write_at_ = 0;
    count = std::min(count, tear_bytes_);
  }
  if (short_bytes_ != 0) count = std::min(count, short_bytes_);
  if (int err = Grows(handle, offset + static_cast<int64_t>(count))) return err;
  RememberBefore(handle, offset, static_cast<int64_t>(count));
  int err = base_.WriteAt(handle, offset, buffer, count, done);
  return err == 0 && tear ? EIO : err;
}

int FaultFileSystem::SyncData(int handle) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Interrupted(Op::kSync)) return EINTR;
  if (int err = PowerCut()) return err;
  // Durability is what this wrapper keeps track of; the base never has to
  // provide it, so the disk's own sync (slow on a real disk) is left out.
  auto it = paths_.find(handle);
  if (it != paths_.end()) pending_.erase(it->second);
  return 0;
}

int FaultFileSystem::Truncate(int handle, int64_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Interrupted(Op::kTruncate)) return EINTR;
  if (int err = PowerCut()) return err;
  if (int err = Grows(handle, size)) return err;
  int64_t now = 0;
  base_.Size(handle, &now);
  RememberBefore(handle, size, now - size);
  return base_.Truncate(handle, size);
}

int FaultFileSystem::Allocate(int handle, int64_t offset, int64_t length) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Interrupted(Op::kAllocate)) return EINTR;
  if (int err = PowerCut()) return err;
  if (int err = Grows(handle, offset + length)) return err;
  Tracked(handle);
  return base_.Allocate(handle, offset, length);
}

int FaultFileSystem::Size(int handle, int64_t* size) {
  return base_.Size(handle, size);
}

// A removed file whose directory was not synced yet would come back after a
// crash, so it is only hidden until then (its open handles keep working).
int FaultFileSystem::Remove(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Interrupted(Op::kRemove)) return EINTR;
  if (int err = PowerCut()) return err;
  if (created_.erase(path) || !base_.Exists(path)) {
    pending_.erase(path);
    return base_.Remove(path);
  }
  std::string hidden = path + kRemovedMark + std::to_string(++removed_count_);
  std::error_code ec;
  std::filesystem::rename(path, hidden, ec);
  if (ec) return ec.value();
  removed_[hidden] = path;
  if (auto node = pending_.extract(path)) {
    node.key() = hidden;
    pending_.insert(std::move(node));
  }
  for (auto& [handle, name] : paths_)
    if (name == path) name = hidden;
  return 0;
}

int FaultFileSystem::SyncDirectory(const std::string& dir) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Interrupted(Op::kSyncDir)) return EINTR;
  if (int err = PowerCut()) return err;
  const std::filesystem::path synced = NormalDirectory(dir);
  std::erase_if(created_, [&](const std::string& p) { return DirectoryOf(p) == synced; });
  for (auto it = removed_.begin(); it != removed_.end();) {
    if (DirectoryOf(it->second) != synced) {
      ++it;
      continue;
    }
    base_.Remove(it->first);
    pending_.erase(it->first);
    it = removed_.erase(it);
  }
  return 0;
}

bool FaultFileSystem::Exists(const std::string& path) {
  return base_.Exists(path);
}

int FaultFileSystem::ListDirectory(const std::string& dir, std::vector<std::string>* names) {
  int err = base_.ListDirectory(dir, names);
  std::erase_if(*names,
                [](const std::string& n) { return n.find(kRemovedMark) != std::string::npos; });
  return err;
}

// Called with mutex_ held: writes back what the plan leaves of each unsynced
// page and sets the size a crash leaves.
void FaultFileSystem::Restore(const std::string& path, const Pending& p, const CrashPlan& plan) {
  int h = -1;
  if (base_.Open(path, Create::kOpenExisting, true, &h) != 0) return;
  int64_t now = 0;
  base_.Size(h, &now);
  struct Kept {
    int64_t start;
    const std::vector<char>* old;
    std::vector<char> now;
    int64_t bytes;
  };
  std::vector<Kept> pages;
  int64_t end = p.synced_size;
  for (const auto& [page, old] : p.pages) {
    Kept k{page * page_bytes_, &old, {}, 0};
    k.now.resize(static_cast<size_t>(std::clamp<int64_t>(now - k.start, 0, page_bytes_)));
    size_t got = 0;
    if (!k.now.empty()) base_.ReadAt(h, k.start, k.now.data(), k.now.size(), &got);
    k.now.resize(got);
    if (plan.kept_bytes)
      k.bytes =
          std::clamp<int64_t>(plan.kept_bytes(path, page), 0, static_cast<int64_t>(k.now.size()));
    if (k.bytes > 0) end = std::max(end, k.start + k.bytes);
    pages.push_back(std::move(k));
  }
  for (const Kept& k : pages) {
    std::vector<char> image(
        static_cast<size_t>(std::clamp<int64_t>(end - k.start, 0, page_bytes_)));
    for (size_t i = 0; i < image.size(); ++i)
      image[i] = static_cast<int64_t>(i) < k.bytes ? k.now[i] : i < k.old->size() ? (*k.old)[i] : 0;
    size_t done = 0;
    if (!image.empty()) base_.WriteAt(h, k.start, image.data(), image.size(), &done);
  }
  base_.Truncate(h, end);
  base_.Close(h);
}

void FaultFileSystem::Crash(const CrashPlan& plan) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto keeps = [&](const std::string& path) { return plan.keeps_entry && plan.keeps_entry(path); };
  for (const std::string& path : created_) {
    if (keeps(path)) continue;
    base_.Remove(path);
    pending_.erase(path);
  }
  created_.clear();
  for (const auto& [hidden, path] : removed_) {
    if (keeps(path)) {
      base_.Remove(hidden);
      pending_.erase(hidden);
      continue;
    }
    if (base_.Exists(path)) base_.Remove(path);
    pending_.erase(path);
    std::error_code ec;
    std::filesystem::rename(hidden, path, ec);
    if (auto node = pending_.extract(hidden)) {
      node.key() = path;
      pending_.insert(std::move(node));
    }
  }
  removed_.clear();
  for (const auto& [path, p] : pending_) Restore(path, p, plan);
  pending_.clear();
  fail_read_at_ = fail_write_at_ = tear_write_at_ = 0;
  interrupts_.clear();
  short_bytes_ = 0;
  disk_full_ = false;
  power_until_ = -1;
}
