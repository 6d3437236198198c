// ENQ/DEQ semaphores under contention, attaching, the fatal paths of a
// never-attached thread and of a corrupt wait list, and the piecewise dump.
#include "platform/enqdeq.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/host_services.h"
#include "platform/thread_event.h"

namespace {

struct Message {
  uint32_t title;
  uint32_t id;
  std::vector<std::string> inserts;
};

struct CapturingServices : HostServices {
  std::vector<Message> messages;
  void write_message(uint32_t title, uint32_t id, const std::vector<std::string>& in) override {
    messages.push_back({title, id, in});
  }
};

class ScopedCapture {
 public:
  ScopedCapture() : previous_(InstallHostServices(&capture)) {}
  ~ScopedCapture() { InstallHostServices(previous_); }
  CapturingServices capture;

 private:
  HostServices* previous_;
};

// A fresh process area for n threads; the calling thread is not attached.
struct Area {
  explicit Area(int32_t n, const void* v = nullptr, const void* w = nullptr, int32_t single = 0)
      : words(static_cast<size_t>(enqdeq_size(n) / 4)) {
    EXPECT_EQ(enqdeq_init(words.data(), n, v, w, single), 0);
  }
  int32_t* entry(int32_t i) { return words.data() + ENQDEQ_ENTRIES + ENQDEQ_ENTRY_WORDS * i; }
  std::vector<int32_t> words;
};

std::string full_dump() {
  std::vector<char> buf(100000);
  int32_t room = static_cast<int32_t>(buf.size());
  int32_t piece = 0;
  enqdeq_dump(buf.data(), &room, &piece);
  EXPECT_EQ(piece, 0);
  return std::string(buf.data(), static_cast<size_t>(room));
}

TEST(Enqdeq, SizeAndLayoutOfTheArea) {
  EXPECT_EQ(enqdeq_size(1), 56);
  EXPECT_EQ(enqdeq_size(8), 168);
  EXPECT_EQ(enqdeq_size(1 << 30), 16LL * (1 << 30) + 40);  // no 32-bit overflow
  Area a(3);
  EXPECT_EQ(a.words[ENQDEQ_THREADS], 3);
  EXPECT_GE(a.words[ENQDEQ_TLSINDEX], 0);
  EXPECT_EQ(a.words[ENQDEQ_TABLE], ENQDEQ_ENTRIES);
  EXPECT_EQ(a.words[ENQDEQ_SINGLE], 0);
  for (int32_t i = 0; i <= 3; ++i) {
    EXPECT_EQ(a.entry(i)[ENQDEQ_NEXT], ENQDEQ_NEVER_ATTACHED);
    EXPECT_EQ(a.entry(i)[ENQDEQ_WAITFOR], 0);
    EXPECT_NE(a.entry(i)[ENQDEQ_SEMHANDLE], 0);
  }
  std::vector<int32_t> bad(64);
  EXPECT_EQ(enqdeq_init(bad.data(), 0, nullptr, nullptr, 0), -1);
  EXPECT_EQ(enqdeq_init(bad.data(), -5, nullptr, nullptr, 0), -1);
}

TEST(Enqdeq, AttachBindsEachIndexOnce) {
  Area a(4);
  struct Case {
    int32_t index;
    int32_t result;
  };
  const Case cases[] = {{0, -1}, {5, -1}, {-1, -1}, {3, 0}, {3, -1}, {4, 0}, {1, 0}, {1, -1}};
  for (const Case& c : cases) {
    int32_t got = -7;
    std::thread([&] { got = enqdeq_attach(a.words.data(), c.index); }).join();
    EXPECT_EQ(got, c.result) << "index " << c.index;
  }
  EXPECT_EQ(a.entry(3)[ENQDEQ_NEXT], 0);
  EXPECT_EQ(a.entry(2)[ENQDEQ_NEXT], ENQDEQ_NEVER_ATTACHED);

  Area single(4, nullptr, nullptr, 1);
  EXPECT_EQ(single.words[ENQDEQ_TLSINDEX], -1);
  EXPECT_EQ(single.words[ENQDEQ_TABLE], 0);
  EXPECT_EQ(enqdeq_attach(single.words.data(), 2), 0);
  EXPECT_EQ(enqdeq_attach(single.words.data(), 2), 0);
}

// Holds threads until all have arrived, so they contend from the first round
// instead of running one after another as they are created.
class StartGate {
 public:
  explicit StartGate(int threads) : waiting_(threads) {}
  void arrive_and_wait() {
    waiting_.fetch_sub(1);
    while (waiting_.load() > 0) std::this_thread::yield();
  }

 private:
  std::atomic<int> waiting_;
};

// Threads that each add to a plain counter under a semaphore; the semaphore
// alone orders their writes. `units` > 1 also checks that no more than that
// many threads are ever inside.
void run_contended(int32_t units, int threads, int rounds) {
  Area a(threads);
  int32_t sem[2];
  enqdeq_init_semaphore(sem, units);
  int64_t counter = 0;
  std::atomic<int> inside{0};
  std::atomic<int> most_inside{0};
  StartGate gate(threads);
  std::vector<std::thread> pool;
  for (int t = 1; t <= threads; ++t) {
    pool.emplace_back([&, t] {
      ASSERT_EQ(enqdeq_attach(a.words.data(), t), 0);
      gate.arrive_and_wait();
      for (int i = 0; i < rounds; ++i) {
        enqdeq_take(sem);
        int now = inside.fetch_add(1) + 1;
        int seen = most_inside.load();
        while (now > seen && !most_inside.compare_exchange_weak(seen, now)) {
        }
        if (units == 1) ++counter;
        inside.fetch_sub(1);
        enqdeq_give(sem);
      }
    });
  }
  for (auto& th : pool) th.join();
  if (units == 1) {
    EXPECT_EQ(counter, int64_t{threads} * rounds);
  }
  EXPECT_LE(most_inside.load(), units);
  EXPECT_EQ(sem[ENQDEQ_COUNT], units);
  EXPECT_EQ(sem[ENQDEQ_HEAD], 0);
  for (int t = 1; t <= threads; ++t) {
    int32_t next = a.entry(t)[ENQDEQ_NEXT];
    EXPECT_TRUE(next == 0 || next == ENQDEQ_RUNNING || next == ENQDEQ_WOKEN) << next;
    EXPECT_EQ(a.entry(t)[ENQDEQ_WAITFOR], 0);
  }
}

TEST(Enqdeq, EightThreadsLoseNoIncrementUnderOneUnit) {
  run_contended(1, 8, 100000);
}

TEST(Enqdeq, CountingSemaphoreAdmitsAtMostItsUnits) {
  run_contended(3, 8, 20000);
}

// Many threads over several semaphores at once: each round takes two of
// four locks in ascending order (the lock order every owner keeps) and adds
// to both counters; beside them a ring of zero-unit semaphores passes one
// token from thread to thread, so every take there must be woken by a give
// of another thread. A lost wake hangs the ring; a lost unit or a unit given
// twice shows in the counters or the final counts.
TEST(Enqdeq, ManyThreadsOverSeveralSemaphores) {
  constexpr int kThreads = 12, kLocks = 4, kRounds = 20000;
  constexpr int kRing = 6, kRingRounds = 4000;
  Area a(kThreads + kRing);
  int32_t locks[kLocks][2];
  int64_t counters[kLocks] = {};
  for (auto& l : locks) enqdeq_init_semaphore(l, 1);
  int32_t ring[kRing][2];
  for (auto& r : ring) enqdeq_init_semaphore(r, 0);
  int64_t passes[kRing] = {};
  std::vector<std::vector<int64_t>> expected(kThreads, std::vector<int64_t>(kLocks));

  StartGate gate(kThreads);
  std::vector<std::thread> pool;
  for (int t = 0; t < kThreads; ++t) {
    pool.emplace_back([&, t] {
      ASSERT_EQ(enqdeq_attach(a.words.data(), t + 1), 0);
      gate.arrive_and_wait();
      uint32_t seed = 2654435761u * static_cast<uint32_t>(t + 1);
      for (int i = 0; i < kRounds; ++i) {
        seed = seed * 1103515245u + 12345u;
        int first = static_cast<int>((seed >> 16) % kLocks);
        int second = static_cast<int>((seed >> 8) % (kLocks - 1));
        if (second >= first) ++second;
        if (second < first) std::swap(first, second);
        enqdeq_take(locks[first]);
        enqdeq_take(locks[second]);
        ++counters[first];
        ++counters[second];
        enqdeq_give(locks[second]);
        enqdeq_give(locks[first]);
        ++expected[t][first];
        ++expected[t][second];
      }
    });
  }
  for (int r = 0; r < kRing; ++r) {
    pool.emplace_back([&, r] {
      ASSERT_EQ(enqdeq_attach(a.words.data(), kThreads + r + 1), 0);
      for (int i = 0; i < kRingRounds; ++i) {
        enqdeq_take(ring[r]);
        ++passes[r];
        enqdeq_give(ring[(r + 1) % kRing]);
      }
    });
  }
  enqdeq_give(ring[0]);  // the token; this thread never waits, so it need not attach
  for (auto& th : pool) th.join();

  for (int k = 0; k < kLocks; ++k) {
    int64_t sum = 0;
    for (int t = 0; t < kThreads; ++t) sum += expected[t][k];
    EXPECT_EQ(counters[k], sum) << "lock " << k;
    EXPECT_EQ(locks[k][ENQDEQ_COUNT], 1);
    EXPECT_EQ(locks[k][ENQDEQ_HEAD], 0);
  }
  for (int r = 0; r < kRing; ++r) {
    EXPECT_EQ(passes[r], kRingRounds);
    EXPECT_EQ(ring[r][ENQDEQ_COUNT], r == 0 ? 1 : 0) << "ring " << r;
    EXPECT_EQ(ring[r][ENQDEQ_HEAD], 0);
  }
}

// A taker whose decrement went negative, and whose holder then gave back
// while the count was still not positive (so the holder woke nobody), finds
// the unit free at its own give-back inside mdrenq and detaches the list
// itself. Calling mdrenq on a count of 0 is exactly that moment.
TEST(Enqdeq, TakerFindingTheUnitFreeWakesTheListItself) {
  Area a(2);
  ASSERT_EQ(enqdeq_attach(a.words.data(), 1), 0);
  int32_t sem[2];

  // Alone on the list: it marks itself woken and never parks.
  enqdeq_init_semaphore(sem, 0);
  mdrenq(sem);
  EXPECT_EQ(sem[ENQDEQ_COUNT], 0);
  EXPECT_EQ(sem[ENQDEQ_HEAD], 0);
  EXPECT_EQ(a.entry(1)[ENQDEQ_NEXT], ENQDEQ_WOKEN);
  EXPECT_EQ(a.entry(1)[ENQDEQ_WAITFOR], 0);
  enqdeq_give(sem);
  EXPECT_EQ(sem[ENQDEQ_COUNT], 1);

  // With a parked thread on the list: both are woken and compete; whichever
  // loses queues anew, and the two are never inside together.
  enqdeq_init_semaphore(sem, 0);
  std::atomic<bool> parked_inside{false};
  std::atomic<bool> parked_done{false};
  std::thread parked([&] {
    ASSERT_EQ(enqdeq_attach(a.words.data(), 2), 0);
    enqdeq_take(sem);
    parked_inside = true;
    std::this_thread::yield();
    parked_inside = false;
    enqdeq_give(sem);
    parked_done = true;
  });
  while (std::atomic_ref<int32_t>(a.entry(2)[ENQDEQ_WAITFOR]).load() == 0)
    std::this_thread::yield();
  ASSERT_EQ(std::atomic_ref<int32_t>(sem[ENQDEQ_HEAD]).load(), 2);
  mdrenq(sem);  // returns holding the unit
  EXPECT_FALSE(parked_inside.load());
  enqdeq_give(sem);
  parked.join();
  EXPECT_TRUE(parked_done.load());
  EXPECT_EQ(sem[ENQDEQ_COUNT], 1);
  EXPECT_EQ(sem[ENQDEQ_HEAD], 0);
}

TEST(Enqdeq, UncontendedTakeAndGiveTouchOnlyTheCount) {
  int32_t sem[2];
  enqdeq_init_semaphore(sem, 2);
  enqdeq_take(sem);
  enqdeq_take(sem);
  EXPECT_EQ(sem[ENQDEQ_COUNT], 0);
  enqdeq_give(sem);
  {
    EnqdeqGuard g(sem);
    EXPECT_EQ(sem[ENQDEQ_COUNT], 0);
  }
  enqdeq_give(sem);
  EXPECT_EQ(sem[ENQDEQ_COUNT], 2);
  EXPECT_EQ(sem[ENQDEQ_HEAD], 0);
}

TEST(Enqdeq, NeverAttachedThreadMeetingContentionEndsTheServer) {
  Area a(2);  // a fresh area: the calling thread's earlier binding no longer counts
  int32_t sem[2];
  enqdeq_init_semaphore(sem, 0);
  ScopedCapture cap;
  try {
    enqdeq_take(sem);
    FAIL() << "mdrenq returned";
  } catch (const ServerException& e) {
    EXPECT_EQ(e.reason(), 22);
  }
  ASSERT_EQ(cap.capture.messages.size(), 1u);
  const Message& m = cap.capture.messages[0];
  EXPECT_EQ(m.title, ENQDEQ_TITLE_FATAL);
  EXPECT_EQ(m.id, ENQDEQ_MSG_WAIT);
  ASSERT_EQ(m.inserts.size(), 2u);
  EXPECT_EQ(m.inserts[0], "mdrenq");
  EXPECT_EQ(m.inserts[1].rfind("TlsGetValue: ", 0), 0u) << m.inserts[1];
}

// A give on a semaphore whose wait list is corrupt ends the server with the
// linkage message.
void run_corrupt_case(int32_t head, uint32_t message, const std::vector<std::string>& inserts) {
  int32_t sem[2] = {0, head};
  ScopedCapture cap;
  try {
    enqdeq_give(sem);
    ADD_FAILURE() << "no exception for head " << head;
  } catch (const ServerException& e) {
    EXPECT_EQ(e.reason(), 22);
  }
  ASSERT_EQ(cap.capture.messages.size(), 1u);
  EXPECT_EQ(cap.capture.messages[0].title, ENQDEQ_TITLE_INTERNAL);
  EXPECT_EQ(cap.capture.messages[0].id, message);
  EXPECT_EQ(cap.capture.messages[0].inserts, inserts);
}

TEST(Enqdeq, CorruptWaitListEndsTheServer) {
  struct Case {
    int32_t head;
    int32_t link_of_2;  // NEXT of entry 2
    uint32_t message;
    std::vector<std::string> inserts;
  };
  const Case cases[] = {
      {99, 0, ENQDEQ_MSG_LINKAGE, {"99"}},
      {-3, 0, ENQDEQ_MSG_LINKAGE, {"-3"}},
      {2, 77, ENQDEQ_MSG_LINKAGE_AT, {"77", "2"}},
      {2, -999, ENQDEQ_MSG_LINKAGE_AT, {"-999", "2"}},
  };
  for (const Case& c : cases) {
    Area a(4);
    a.entry(2)[ENQDEQ_NEXT] = c.link_of_2;
    run_corrupt_case(c.head, c.message, c.inserts);
  }
  // Single-thread mode has no entries: any waiter on a list is corrupt.
  Area single(4, nullptr, nullptr, 1);
  run_corrupt_case(3, ENQDEQ_MSG_LINKAGE, {"3"});
}

TEST(Enqdeq, WakelistMarksEveryEntryAndReportsItsOwn) {
  struct Case {
    std::vector<int32_t> list;
    int32_t me;
    int32_t result;
  };
  const Case cases[] = {
      {{}, 1, 0}, {{1}, 1, 1}, {{3, 2}, 1, 0}, {{3, 1, 2}, 1, 1}, {{2, 4}, 0, 0},
  };
  for (const Case& c : cases) {
    Area a(4);
    for (size_t k = 0; k < c.list.size(); ++k)
      a.entry(c.list[k])[ENQDEQ_NEXT] = k + 1 < c.list.size() ? c.list[k + 1] : 0;
    EXPECT_EQ(wakelist(c.list.empty() ? 0 : c.list[0], c.me), c.result);
    for (int32_t i : c.list) EXPECT_EQ(a.entry(i)[ENQDEQ_NEXT], ENQDEQ_WOKEN);
  }
}

TEST(ThreadEvent, WakePostedBeforeTheWaitIsKept) {
  ThreadEvent e;
  ASSERT_TRUE(e.set());
  ASSERT_TRUE(e.set());  // a binary event: two sets make one signal
  EXPECT_TRUE(e.wait());

  // Two threads hand a turn back and forth; any lost wake hangs the test.
  ThreadEvent ping, pong;
  std::atomic<int> turn{0};
  constexpr int kRounds = 20000;
  std::thread other([&] {
    for (int i = 0; i < kRounds; ++i) {
      while (turn.load() != 2 * i + 1) ping.wait();
      turn.store(2 * i + 2);
      pong.set();
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    turn.store(2 * i + 1);
    ping.set();
    while (turn.load() != 2 * i + 2) pong.wait();
  }
  other.join();
}

TEST(EnqdeqDump, WholeDumpAndTooSmallRoom) {
  Area a(2);
  ASSERT_EQ(enqdeq_attach(a.words.data(), 1), 0);
  char handles[2][16];
  for (int i = 1; i <= 2; ++i)
    snprintf(handles[i - 1], sizeof handles[0], "0x%08X", a.entry(i)[ENQDEQ_SEMHANDLE]);
  std::string expected = "\nDUMP OF ENQ/DEQ AREA:\n\nThreads = 2\nTlsindex = " +
                         std::to_string(a.words[ENQDEQ_TLSINDEX]) +
                         "\nSingle = 0\n\nTHIX   NEXT  SemHandle   WAITFOR\n" + "   1      0 " +
                         handles[0] + "\n" + "   2   -999 " + handles[1] + "\n";
  EXPECT_EQ(full_dump(), expected);

  char buf[81];
  int32_t room = 81, piece = 0;
  enqdeq_dump(buf, &room, &piece);
  EXPECT_EQ(room, 0);
  EXPECT_EQ(piece, 0);

  Area single(2, nullptr, nullptr, 1);
  EXPECT_EQ(full_dump(), "ENQ/DEQ area not initiated\n");
}

TEST(EnqdeqDump, PiecesResumeWhereThePreviousCallStopped) {
  Area a(12);
  const std::string whole = full_dump();
  // Cut right after the counts line: the next call starts at the header.
  const int32_t head_and_counts = 24 + static_cast<int32_t>(whole.find("THIX") - 24);
  std::vector<char> buf(400);
  int32_t room = head_and_counts + 81, piece = 0;
  enqdeq_dump(buf.data(), &room, &piece);
  EXPECT_EQ(room, head_and_counts);
  EXPECT_EQ(piece, 2);
  room = 400;
  enqdeq_dump(buf.data(), &room, &piece);
  EXPECT_EQ(std::string(buf.data(), room), whole.substr(head_and_counts));
  EXPECT_EQ(piece, 0);

  for (int32_t size = 82; size <= 200; size += 7) {
    std::string joined;
    piece = 0;
    int calls = 0;
    do {
      room = size;
      enqdeq_dump(buf.data(), &room, &piece);
      ASSERT_GT(room, 0);
      ASSERT_LE(room, size);
      joined.append(buf.data(), static_cast<size_t>(room));
      ASSERT_LT(++calls, 100);
    } while (piece != 0);
    EXPECT_EQ(joined, whole) << "room " << size;
  }
}

// The mark of a thread parked on a semaphore names the word in the nearer
// area at or below it. Bases given after the area was built (an area laid out
// later, such as the databank kernel's) count the same.
TEST(EnqdeqDump, WaitingThreadIsMarkedWithTheSemaphoresWord) {
  std::vector<int32_t> storage(1000);
  struct Case {
    int v_offset;  // -1: no base
    int w_offset;
    int sem_offset;
    std::string mark;
    bool set_later = false;
  };
  const Case cases[] = {
      {100, -1, 110, "   V(11)"},
      {-1, 0, 110, "   W(111)"},
      {100, 0, 110, "   V(11)"},
      {0, 100, 110, "   W(11)"},
      {200, 300, 110, ""},
      {-1, -1, 110, ""},
      {100, -1, 110, "   V(11)", true},
      {-1, 0, 110, "   W(111)", true},
  };
  for (const Case& c : cases) {
    const int32_t* v = c.v_offset < 0 ? nullptr : storage.data() + c.v_offset;
    const int32_t* w = c.w_offset < 0 ? nullptr : storage.data() + c.w_offset;
    Area a(2, c.set_later ? nullptr : v, c.set_later ? nullptr : w);
    if (c.set_later) {
      enqdeq_set_dump_base('V', v);
      enqdeq_set_dump_base('W', w);
    }
    int32_t* sem = storage.data() + c.sem_offset;
    enqdeq_init_semaphore(sem, 0);  // held
    std::thread waiter([&] {
      ASSERT_EQ(enqdeq_attach(a.words.data(), 2), 0);
      enqdeq_take(sem);
      enqdeq_give(sem);
    });
    while (std::atomic_ref<int32_t>(a.entry(2)[ENQDEQ_WAITFOR]).load() == 0)
      std::this_thread::yield();
    std::string dump = full_dump();
    std::string line = dump.substr(dump.rfind("   2 "));
    std::string mark = line.substr(line.find("0x") + 10);
    EXPECT_EQ(mark, c.mark + "\n") << line;
    enqdeq_give(sem);
    waiter.join();
  }
}

}  // namespace
