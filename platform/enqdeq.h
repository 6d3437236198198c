// ENQ/DEQ counting semaphores: two words kept inside the structure they
// guard, taken and given back with one locked instruction when uncontended;
// contention parks threads on per-thread events held in the process's one
// ENQ/DEQ area. See platform/README.md for the word layouts and lock rules.
#pragma once

#include <atomic>
#include <cstdint>

// Semaphore words.
constexpr int32_t ENQDEQ_COUNT = 0;  // free units; negative while a taker is inside mdrenq
constexpr int32_t ENQDEQ_HEAD = 1;   // most recently queued waiter's thread index, 0 when none

// Area header words.
constexpr int32_t ENQDEQ_THREADS = 0;   // n, the highest thread index
constexpr int32_t ENQDEQ_TLSINDEX = 1;  // the slot holding the thread index; -1 single-thread
constexpr int32_t ENQDEQ_VBASE = 2;     // 1 when built with a databank-kernel control area base
constexpr int32_t ENQDEQ_WBASE = 3;     // 1 when built with a kernel word storage base
constexpr int32_t ENQDEQ_TABLE = 4;     // word offset of thread entry 0; 0 single-thread
constexpr int32_t ENQDEQ_SINGLE = 5;    // nonzero: single-thread mode
constexpr int32_t ENQDEQ_ENTRIES = 6;   // thread entries 0..n follow, four words each
constexpr int32_t ENQDEQ_ENTRY_WORDS = 4;

// Thread entry words.
constexpr int32_t ENQDEQ_SEMHANDLE = 0;  // handle number of the thread's event
constexpr int32_t ENQDEQ_NEXT = 1;       // see the states below
constexpr int32_t ENQDEQ_WAITFOR = 2;    // 1 while waiting (the semaphore's address is kept aside)
constexpr int32_t ENQDEQ_SPARE = 3;

// States of a thread entry's NEXT word.
constexpr int32_t ENQDEQ_NEVER_ATTACHED = -999;
constexpr int32_t ENQDEQ_WOKEN = -1;
constexpr int32_t ENQDEQ_RUNNING = -2;

// Title and message ids of the semaphore failures.
constexpr uint32_t ENQDEQ_TITLE_FATAL = 0xC00000CA;
constexpr uint32_t ENQDEQ_TITLE_INTERNAL = 0xC00000CB;
constexpr uint32_t ENQDEQ_MSG_EVENT_CREATE = 0x80000452;
constexpr uint32_t ENQDEQ_MSG_WAIT = 0xC0000454;
constexpr uint32_t ENQDEQ_MSG_RELEASE = 0xC0000455;
constexpr uint32_t ENQDEQ_MSG_LINKAGE = 0xC0000456;
constexpr uint32_t ENQDEQ_MSG_TLS_INIT = 0xC0000460;
constexpr uint32_t ENQDEQ_MSG_LINKAGE_AT = 0xC0000461;

// The reason a semaphore failure ends the server with.
constexpr int ENQDEQ_FATAL_REASON = 22;

// Bytes of an area for thread indexes 1..n (16n + 40).
int64_t enqdeq_size(int32_t n);

// Builds the area in `area` (enqdeq_size(n) bytes) and makes it the process's
// ENQ/DEQ area. The bases only serve the dump's V and W marks (null: none).
// 0, or -1 when n is out of range or the events cannot be had.
int32_t enqdeq_init(int32_t* area, int32_t n, const void* v_base, const void* w_base,
                    int32_t single);

// Sets (or with null clears) the base of the databank kernel's control area
// ('V') or of the kernel word storage ('W') that the process's area marks
// waiting threads by, for areas laid out after the ENQ/DEQ area was built.
// The area's words 2 and 3 keep saying what it was built with.
void enqdeq_set_dump_base(char which, const void* base);

// Binds the calling thread to entry `thread_index`. -1 when no area exists,
// the index is outside 1..n or the entry is already attached.
int32_t enqdeq_attach(int32_t* area, int32_t thread_index);

// Slow paths: mdrenq returns holding a unit after the caller's decrement went
// negative; mdrdeq wakes the whole wait list. Failures end the server.
void mdrenq(int32_t* semaphore);
void mdrdeq(int32_t* semaphore);

// Marks every thread of the list that starts at `first` woken and sets its
// event (not one's own). 1 when `own_index` was on the list.
int32_t wakelist(int32_t first, int32_t own_index);

// Writes the area's text dump in pieces: `room` is the buffer size in and the
// bytes written out; `piece` is the first piece wanted in and the next piece
// to ask for out (0 when complete). No terminator is written.
void enqdeq_dump(char* buffer, int32_t* room, int32_t* piece);

// Sets a semaphore up with `units` free units and nobody waiting.
inline void enqdeq_init_semaphore(int32_t* semaphore, int32_t units) {
  std::atomic_ref<int32_t>(semaphore[ENQDEQ_HEAD]).store(0, std::memory_order_relaxed);
  std::atomic_ref<int32_t>(semaphore[ENQDEQ_COUNT]).store(units, std::memory_order_release);
}

// Takes a unit; returns holding it.
inline void enqdeq_take(int32_t* semaphore) {
  if (std::atomic_ref<int32_t>(semaphore[ENQDEQ_COUNT]).fetch_sub(1) - 1 < 0) mdrenq(semaphore);
}

// Gives a unit back, waking the waiters when one may be had.
inline void enqdeq_give(int32_t* semaphore) {
  if (std::atomic_ref<int32_t>(semaphore[ENQDEQ_COUNT]).fetch_add(1) + 1 > 0 &&
      std::atomic_ref<int32_t>(semaphore[ENQDEQ_HEAD]).load() != 0)
    mdrdeq(semaphore);
}

// Takes and gives back a unit for the lifetime of a scope.
class EnqdeqGuard {
 public:
  explicit EnqdeqGuard(int32_t* semaphore) : semaphore_(semaphore) { enqdeq_take(semaphore_); }
  ~EnqdeqGuard() { enqdeq_give(semaphore_); }
  EnqdeqGuard(const EnqdeqGuard&) = delete;
  EnqdeqGuard& operator=(const EnqdeqGuard&) = delete;

 private:
  int32_t* semaphore_;
};
