// Reserved regions (mmap PROT_NONE with MAP_NORESERVE) committed as they
// fill, each run by a first-fit allocator whose bookkeeping lives outside the
// region, so a stray write into the region cannot corrupt the heap itself.
#include "platform/private_heap.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "platform/os_status.h"

namespace {

constexpr int64_t kCommitStep = int64_t{1} << 20;

int64_t round_up(int64_t n, int64_t unit) {
  return (n + unit - 1) / unit * unit;
}

class Region {
 public:
  Region(char* base, int64_t reserved, int64_t granule)
      : base_(base), reserved_(reserved), granule_(granule) {}
  ~Region() { munmap(base_, static_cast<size_t>(reserved_)); }

  char* base() const { return base_; }

  // Commits and marks the first `bytes` as handed out (an area's own words).
  bool take_front(int64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t offset = 0;
    return take_locked(round_up(bytes, granule_), &offset);
  }

  // nullptr with errno set when the region is full or cannot be committed.
  char* alloc(int64_t bytes) {
    if (bytes <= 0) {
      errno = EINVAL;
      return nullptr;
    }
    bytes = round_up(bytes, granule_);
    std::lock_guard<std::mutex> lock(mutex_);
    // First fit by address keeps blocks low and lets successive blocks touch.
    for (auto it = free_.begin(); it != free_.end(); ++it) {
      if (it->second < bytes) continue;
      int64_t offset = it->first;
      int64_t rest = it->second - bytes;
      free_.erase(it);
      if (rest > 0) free_.emplace(offset + bytes, rest);
      live_.emplace(offset, bytes);
      return base_ + offset;
    }
    int64_t offset = 0;
    return take_locked(bytes, &offset) ? base_ + offset : nullptr;
  }

  bool free(const char* p) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (p < base_ || p >= base_ + reserved_) return false;
    auto it = live_.find(p - base_);
    if (it == live_.end()) return false;
    int64_t start = it->first, end = it->first + it->second;
    live_.erase(it);
    auto after = free_.find(end);
    if (after != free_.end()) {
      end += after->second;
      free_.erase(after);
    }
    auto before = free_.lower_bound(start);
    if (before != free_.begin()) {
      --before;
      if (before->first + before->second == start) {
        start = before->first;
        free_.erase(before);
      }
    }
    if (end == top_) {
      top_ = start;  // committed pages stay committed for the next taker
    } else {
      free_.emplace(start, end - start);
    }
    return true;
  }

  bool owns(const void* p) const {
    auto c = static_cast<const char*>(p);
    return c >= base_ && c < base_ + reserved_;
  }

 private:
  bool take_locked(int64_t bytes, int64_t* offset) {
    if (bytes > reserved_ - top_) {
      errno = ENOMEM;
      return false;
    }
    int64_t end = top_ + bytes;
    if (end > committed_) {
      int64_t target = std::min(round_up(end, kCommitStep), reserved_);
      if (mprotect(base_ + committed_, static_cast<size_t>(target - committed_),
                   PROT_READ | PROT_WRITE) != 0)
        return false;
      committed_ = target;
    }
    *offset = top_;
    live_.emplace(top_, bytes);
    top_ = end;
    return true;
  }

  char* const base_;
  const int64_t reserved_;
  const int64_t granule_;
  std::mutex mutex_;
  int64_t committed_ = 0;
  int64_t top_ = 0;                            // everything at or above is untouched
  std::map<int64_t, int64_t> free_;            // offset -> bytes, below top_
  std::unordered_map<int64_t, int64_t> live_;  // offset -> bytes
};

std::unique_ptr<Region> reserve(int64_t bytes, int64_t granule) {
  bytes = round_up(bytes, sysconf(_SC_PAGESIZE));
  void* p = mmap(nullptr, static_cast<size_t>(bytes), PROT_NONE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  return std::make_unique<Region>(static_cast<char*>(p), bytes, granule);
}

// The process heap, made on first use and kept for the life of the process.
std::mutex heap_create_mutex;
std::atomic<Region*> process_heap{nullptr};

Region* private_heap() {
  Region* h = process_heap.load(std::memory_order_acquire);
  if (h) return h;
  std::lock_guard<std::mutex> lock(heap_create_mutex);
  h = process_heap.load(std::memory_order_acquire);
  if (!h) {
    h = reserve(HEAP_RESERVED_BYTES, 16).release();
    process_heap.store(h, std::memory_order_release);
  }
  return h;
}

// Regions reserved for single areas, by base.
std::mutex areas_mutex;
std::map<const char*, std::unique_ptr<Region>> area_regions;

Region* area_region(const int32_t* base) {
  std::lock_guard<std::mutex> lock(areas_mutex);
  auto it = area_regions.find(reinterpret_cast<const char*>(base));
  return it == area_regions.end() ? nullptr : it->second.get();
}

void refuse(StatusPair* status, int32_t* size, int32_t step) {
  *size = 0;
  status->rc = HEAP_REFUSED;
  status->os_status = os_status_from_errno(OS_CLASS_WINDOWS, step);
}

// The 1-based word index of `p` relative to `base`, if it fits a word.
bool index_of(const int32_t* base, const void* p, int32_t* index) {
  int64_t bytes = static_cast<const char*>(p) - reinterpret_cast<const char*>(base);
  int64_t i = bytes / 4 + 1;
  if (bytes % 4 != 0 || i > INT32_MAX || i < INT32_MIN) return false;
  *index = static_cast<int32_t>(i);
  return true;
}

}  // namespace

void heap_alloc(StatusPair* status, void** address, int32_t* size, int32_t kind) {
  *address = nullptr;
  if (*size < 1 || *size == INT32_MAX) {
    errno = EINVAL;
    refuse(status, size,
           kind == HEAP_KIND_VIRTUAL || kind == HEAP_KIND_VIRTUAL_TOO ? win_call::VirtualAlloc
                                                                      : win_call::HeapAlloc);
    return;
  }
  if (kind == HEAP_KIND_VIRTUAL || kind == HEAP_KIND_VIRTUAL_TOO) {
    void* p = mmap(nullptr, static_cast<size_t>(*size) * 4, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return refuse(status, size, win_call::VirtualAlloc);
    *address = p;
    return;
  }
  Region* heap = private_heap();
  if (!heap) return refuse(status, size, win_call::HeapCreate);
  char* p = heap->alloc((int64_t{*size} + 1) * 4);
  if (!p) return refuse(status, size, win_call::HeapAlloc);
  *address = p;
  *size += 1;
  set_success(status);
}

void heap_alloc_index(const int32_t* base, int32_t* index, int32_t* size) {
  StatusPair status;
  heap_alloc_quota(&status, nullptr, base, index, size);
}

void heap_alloc_quota(StatusPair* status, int32_t* quota, const int32_t* base, int32_t* index,
                      int32_t* size) {
  const int32_t asked = *size;
  if (quota) {
    std::atomic_ref<int32_t> left(*quota);
    int32_t seen = left.load();
    do {
      if (asked < 1 || seen <= 0 || int64_t{seen} - asked <= 0) {
        *size = 0;
        status->rc = HEAP_QUOTA_EXHAUSTED;
        status->os_status = OS_STATUS_NONE;
        return;
      }
    } while (!left.compare_exchange_weak(seen, seen - asked));
  }
  void* p = nullptr;
  if (Region* r = area_region(base)) {
    p = asked > 0 ? r->alloc(int64_t{asked} * 4) : nullptr;
    if (!p) {
      if (asked <= 0) errno = EINVAL;
      refuse(status, size, win_call::HeapAlloc);
    } else {
      set_success(status);
    }
  } else {
    heap_alloc(status, &p, size, 0);
  }
  if (p && !index_of(base, p, index)) {
    heap_free(p);
    errno = ERANGE;
    refuse(status, size, win_call::HeapAlloc);
    p = nullptr;
  }
  if (!p && quota) std::atomic_ref<int32_t>(*quota).fetch_add(asked);
}

void heap_free_quota(int32_t* quota, const int32_t* base, int32_t index, int32_t size) {
  const char* p = reinterpret_cast<const char*>(base) + (int64_t{index} - 1) * 4;
  if (!heap_free(const_cast<char*>(p))) return;
  if (quota) std::atomic_ref<int32_t>(*quota).fetch_add(size);
}

bool heap_free(void* address) {
  {
    std::lock_guard<std::mutex> lock(areas_mutex);
    for (auto& [base, region] : area_regions)
      if (region->owns(address)) return region->free(static_cast<char*>(address));
  }
  Region* heap = process_heap.load(std::memory_order_acquire);
  return heap && heap->owns(address) && heap->free(static_cast<char*>(address));
}

void heap_free_virtual(void* address, int64_t words) {
  if (address && words > 0) munmap(address, static_cast<size_t>(words) * 4);
}

int32_t* heap_reserve_area(int64_t max_words, int64_t initial_words) {
  if (initial_words < 1 || max_words < initial_words || max_words > INT32_MAX) return nullptr;
  auto region = reserve(max_words * 4, 4);
  if (!region || !region->take_front(initial_words * 4)) return nullptr;
  auto* base = reinterpret_cast<int32_t*>(region->base());
  std::lock_guard<std::mutex> lock(areas_mutex);
  area_regions.emplace(region->base(), std::move(region));
  return base;
}

void heap_release_area(int32_t* base) {
  std::unique_ptr<Region> gone;
  std::lock_guard<std::mutex> lock(areas_mutex);
  auto it = area_regions.find(reinterpret_cast<const char*>(base));
  if (it == area_regions.end()) return;
  gone = std::move(it->second);
  area_regions.erase(it);
}

void heap_state_check(int32_t* state) {
  *state = *state == 3 ? 0 : -1;
}
