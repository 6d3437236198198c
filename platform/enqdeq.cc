// The process's ENQ/DEQ area and the contended paths of the semaphores:
// queueing on a semaphore's wait list, parking on the thread's own event and
// waking a detached list. The uncontended paths are inline in enqdeq.h.
#include "platform/enqdeq.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/host_services.h"
#include "platform/thread_event.h"

namespace {

// What the process keeps beside an area's words: the things that may not
// live in a 32-bit word (events, addresses).
struct AreaRecord {
  int32_t* words = nullptr;
  // Set at start or later by the area's owners while a dump may be reading.
  std::atomic<const char*> v_base{nullptr};
  std::atomic<const char*> w_base{nullptr};
  std::unique_ptr<ThreadEvent[]> events;                      // entries 0..n
  std::unique_ptr<std::atomic<const int32_t*>[]> waiting_on;  // entries 0..n
};

// Areas are never torn down while the process lives (a thread may still be
// parked on an event of an area a later start replaced), so every record
// built stays here.
std::mutex records_mutex;
std::vector<std::unique_ptr<AreaRecord>> records;
std::atomic<AreaRecord*> current_area{nullptr};

std::atomic<int32_t> next_tls_slot{0};
std::atomic<int32_t> next_event_handle{1};

// The thread-local slot of the thread index: valid only while it names the
// slot of the current area, so a thread attached to an earlier area reads 0.
thread_local int32_t tls_slot = -1;
thread_local int32_t tls_thread_index = 0;

std::atomic_ref<int32_t> word(int32_t* p) {
  return std::atomic_ref<int32_t>(*p);
}

int32_t* entry(AreaRecord* rec, int32_t index) {
  return rec->words + ENQDEQ_ENTRIES + ENQDEQ_ENTRY_WORDS * index;
}

// Thread entries exist only in multi-thread mode; without them every list
// index is out of range.
int32_t threads_of(AreaRecord* rec) {
  return rec && rec->words[ENQDEQ_SINGLE] == 0 ? rec->words[ENQDEQ_THREADS] : 0;
}

int32_t own_thread_index(AreaRecord* rec) {
  if (!rec || rec->words[ENQDEQ_SINGLE] != 0) return 0;
  return tls_slot == rec->words[ENQDEQ_TLSINDEX] ? tls_thread_index : 0;
}

[[noreturn]] void fatal_os(uint32_t message, const char* routine, const char* call,
                           const char* insert3 = nullptr) {
  msg_os_error(ENQDEQ_TITLE_FATAL, message, call, routine, insert3);
  RaiseServerException(ENQDEQ_FATAL_REASON);
}

// Queues `me` on the semaphore's wait list (a stack through the NEXT words).
void queue_self(AreaRecord* rec, int32_t* semaphore, int32_t me) {
  auto head = word(semaphore + ENQDEQ_HEAD);
  auto next = word(entry(rec, me) + ENQDEQ_NEXT);
  int32_t seen = head.load();
  do {
    next.store(seen);
  } while (!head.compare_exchange_weak(seen, me));
}

// Parks until a waker has marked `me` woken.
void wait_woken(AreaRecord* rec, int32_t* semaphore, int32_t me) {
  int32_t* e = entry(rec, me);
  rec->waiting_on[me].store(semaphore, std::memory_order_relaxed);
  word(e + ENQDEQ_WAITFOR).store(1, std::memory_order_relaxed);
  while (word(e + ENQDEQ_NEXT).load() != ENQDEQ_WOKEN) {
    if (!rec->events[me].wait()) fatal_os(ENQDEQ_MSG_WAIT, "wait_semid", "WaitForSingleObject");
  }
  word(e + ENQDEQ_NEXT).store(ENQDEQ_RUNNING);
  word(e + ENQDEQ_WAITFOR).store(0, std::memory_order_relaxed);
  rec->waiting_on[me].store(nullptr, std::memory_order_relaxed);
}

// Detaches the whole wait list; 0 when it was already empty.
int32_t detach_list(int32_t* semaphore) {
  auto head = word(semaphore + ENQDEQ_HEAD);
  int32_t first = head.load();
  while (first != 0 && !head.compare_exchange_weak(first, 0)) {
  }
  return first;
}

}  // namespace

void enqdeq_set_dump_base(char which, const void* base) {
  AreaRecord* rec = current_area.load();
  if (!rec || (which != 'V' && which != 'W')) return;
  // Only the record beside the area changes: the area's words are its
  // builder's, and a base announced or withdrawn late (the control area at
  // its mapping and release) must not write into them.
  std::atomic<const char*>& slot = which == 'V' ? rec->v_base : rec->w_base;
  slot.store(static_cast<const char*>(base));
}

int64_t enqdeq_size(int32_t n) {
  return 16 * static_cast<int64_t>(n) + 40;
}

int32_t enqdeq_init(int32_t* area, int32_t n, const void* v_base, const void* w_base,
                    int32_t single) {
  // Thread indexes are words and handle numbers must stay positive words too.
  if (!area || n < 1 || n > (1 << 24)) return -1;
  auto rec = std::make_unique<AreaRecord>();
  rec->words = area;
  rec->v_base = static_cast<const char*>(v_base);
  rec->w_base = static_cast<const char*>(w_base);
  area[ENQDEQ_THREADS] = n;
  area[ENQDEQ_VBASE] = v_base ? 1 : 0;
  area[ENQDEQ_WBASE] = w_base ? 1 : 0;
  area[ENQDEQ_SINGLE] = single;
  if (single != 0) {
    area[ENQDEQ_TLSINDEX] = -1;
    area[ENQDEQ_TABLE] = 0;
  } else {
    area[ENQDEQ_TLSINDEX] = next_tls_slot.fetch_add(1);
    area[ENQDEQ_TABLE] = ENQDEQ_ENTRIES;
    try {
      rec->events = std::make_unique<ThreadEvent[]>(n + 1);
      rec->waiting_on = std::make_unique<std::atomic<const int32_t*>[]>(n + 1);
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      msg_os_error_number(ENQDEQ_TITLE_FATAL, ENQDEQ_MSG_EVENT_CREATE, "CreateEvent", 0);
      return -1;
    }
    int32_t first_handle = next_event_handle.fetch_add(n + 1);
    for (int32_t i = 0; i <= n; ++i) {
      int32_t* e = entry(rec.get(), i);
      e[ENQDEQ_SEMHANDLE] = first_handle + i;
      e[ENQDEQ_NEXT] = ENQDEQ_NEVER_ATTACHED;
      e[ENQDEQ_WAITFOR] = 0;
      e[ENQDEQ_SPARE] = 0;
      rec->waiting_on[i].store(nullptr, std::memory_order_relaxed);
    }
  }
  std::lock_guard<std::mutex> lock(records_mutex);
  current_area.store(rec.get(), std::memory_order_release);
  records.push_back(std::move(rec));
  return 0;
}

int32_t enqdeq_attach(int32_t* /*area*/, int32_t thread_index) {
  AreaRecord* rec = current_area.load(std::memory_order_acquire);
  if (!rec) return -1;
  if (rec->words[ENQDEQ_SINGLE] != 0) return 0;
  if (thread_index < 1 || thread_index > threads_of(rec)) return -1;
  int32_t expected = ENQDEQ_NEVER_ATTACHED;
  if (!word(entry(rec, thread_index) + ENQDEQ_NEXT).compare_exchange_strong(expected, 0)) return -1;
  tls_slot = rec->words[ENQDEQ_TLSINDEX];
  tls_thread_index = thread_index;
  return 0;
}

void mdrenq(int32_t* semaphore) {
  AreaRecord* rec = current_area.load(std::memory_order_acquire);
  int32_t me = own_thread_index(rec);
  if (me == 0) {
    errno = 0;  // the slot read itself did not fail: the thread never attached
    fatal_os(ENQDEQ_MSG_WAIT, "mdrenq", "TlsGetValue");
  }
  auto count = word(semaphore + ENQDEQ_COUNT);
  auto head = word(semaphore + ENQDEQ_HEAD);
  for (;;) {
    queue_self(rec, semaphore, me);
    // Give the unit the caller's decrement took back, so a giver that came
    // meanwhile is not kept from seeing it free.
    bool woke_self = false;
    if (count.fetch_add(1) + 1 > 0 && head.load() != 0) {
      int32_t first = detach_list(semaphore);
      // An empty head means another thread detached the list with us on it
      // and will wake us.
      if (first != 0) woke_self = wakelist(first, me) == 1;
    }
    if (!woke_self) wait_woken(rec, semaphore, me);
    if (count.fetch_sub(1) - 1 >= 0) return;
  }
}

void mdrdeq(int32_t* semaphore) {
  int32_t first = detach_list(semaphore);
  if (first != 0) wakelist(first, 0);
}

int32_t wakelist(int32_t first, int32_t own_index) {
  AreaRecord* rec = current_area.load(std::memory_order_acquire);
  int32_t n = threads_of(rec);
  if (first < 0 || first > n) {
    msg_number(ENQDEQ_TITLE_INTERNAL, ENQDEQ_MSG_LINKAGE, first);
    RaiseServerException(ENQDEQ_FATAL_REASON);
  }
  int32_t met = 0;
  for (int32_t i = first; i != 0;) {
    auto next_word = word(entry(rec, i) + ENQDEQ_NEXT);
    // Read the link before marking: once marked, the thread may run and
    // queue itself anew, overwriting it.
    int32_t next = next_word.load();
    if (next < 0 || next > n) {
      msg_two_numbers(ENQDEQ_TITLE_INTERNAL, ENQDEQ_MSG_LINKAGE_AT, next, i);
      RaiseServerException(ENQDEQ_FATAL_REASON);
    }
    next_word.store(ENQDEQ_WOKEN);
    if (i == own_index) {
      met = 1;
    } else if (!rec->events[i].set()) {
      fatal_os(ENQDEQ_MSG_RELEASE, "wakelist", "SetEvent", std::to_string(i).c_str());
    }
    i = next;
  }
  return met;
}

namespace {

// The dump's mark for a thread waiting on `semaphore`: the 1-based word
// number in the nearer of the two areas at or below it.
std::string wait_mark(const AreaRecord* rec, const int32_t* semaphore) {
  if (!semaphore) return "";
  auto p = reinterpret_cast<uintptr_t>(semaphore);
  auto distance = [&](const char* base, int64_t* d) {
    if (!base || p < reinterpret_cast<uintptr_t>(base)) return false;
    *d = static_cast<int64_t>((p - reinterpret_cast<uintptr_t>(base)) / sizeof(int32_t));
    return true;
  };
  int64_t dv = 0, dw = 0;
  bool v = distance(rec->v_base.load(), &dv);
  bool w = distance(rec->w_base.load(), &dw);
  char text[40];
  if (v && (!w || dv < dw)) {
    snprintf(text, sizeof text, "   V(%lld)", static_cast<long long>(dv + 1));
  } else if (w) {
    snprintf(text, sizeof text, "   W(%lld)", static_cast<long long>(dw + 1));
  } else {
    return "";
  }
  return text;
}

// Every piece fits in this much room, so a caller that offers it always
// gets on.
constexpr int32_t kDumpPieceRoom = 82;

}  // namespace

void enqdeq_dump(char* buffer, int32_t* room, int32_t* piece) {
  int32_t size = *room;
  int32_t wanted = *piece;
  *room = 0;
  *piece = 0;
  if (!buffer || size < kDumpPieceRoom) return;
  AreaRecord* rec = current_area.load(std::memory_order_acquire);
  if (!rec || rec->words[ENQDEQ_SINGLE] != 0) {
    static const char kNone[] = "ENQ/DEQ area not initiated\n";
    memcpy(buffer, kNone, sizeof kNone - 1);
    *room = sizeof kNone - 1;
    return;
  }
  const int32_t* w = rec->words;
  int32_t n = w[ENQDEQ_THREADS];
  int32_t used = 0;
  for (int32_t p = wanted < 0 ? 0 : wanted; p <= n + 2; ++p) {
    if (size - used < kDumpPieceRoom) {
      *piece = p;
      break;
    }
    char text[kDumpPieceRoom + 1];
    int length = 0;
    if (p == 0) {
      length = snprintf(text, sizeof text, "\nDUMP OF ENQ/DEQ AREA:\n\n");
    } else if (p == 1) {
      length = snprintf(text, sizeof text, "Threads = %d\nTlsindex = %d\nSingle = %d\n\n", n,
                        w[ENQDEQ_TLSINDEX], w[ENQDEQ_SINGLE]);
    } else if (p == 2) {
      length = snprintf(text, sizeof text, "THIX   NEXT  SemHandle   WAITFOR\n");
    } else {
      int32_t i = p - 2;
      int32_t* e = const_cast<int32_t*>(w) + ENQDEQ_ENTRIES + ENQDEQ_ENTRY_WORDS * i;
      std::string mark;
      if (word(e + ENQDEQ_WAITFOR).load(std::memory_order_relaxed) != 0)
        mark = wait_mark(rec, rec->waiting_on[i].load(std::memory_order_relaxed));
      length = snprintf(text, sizeof text, "%4d   %4d 0x%08X%s\n", i,
                        word(e + ENQDEQ_NEXT).load(std::memory_order_relaxed),
                        static_cast<unsigned>(e[ENQDEQ_SEMHANDLE]), mark.c_str());
    }
    length = std::min<int>(length, kDumpPieceRoom);
    memcpy(buffer + used, text, static_cast<size_t>(length));
    used += length;
  }
  *room = used;
}
