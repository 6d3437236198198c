// Every interleaving of a few threads through the semaphore protocol of
// enqdeq.h and enqdeq.cc, one locked instruction or word access per step:
// no two threads are ever inside beyond the units, and no reachable state
// leaves a thread parked with nobody left to wake it (a lost wake).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/enqdeq.h"

namespace {

// Program points, in the order the code runs them.
enum Pc : int8_t {
  kTake,      // fetch_sub on the count; negative: into mdrenq
  kQueue,     // read the head
  kLink,      // store it in my NEXT
  kPush,      // compare-and-swap the head to me
  kGiveBack,  // fetch_add on the count
  kPeek,      // positive: read the head
  kDetach,    // read the head to detach
  kDetachCas,
  kWalk,     // wakelist: read NEXT of i
  kMark,     // store -1 in NEXT of i
  kSignal,   // set i's event (or remember it was me)
  kCheck,    // wait_woken: read my NEXT
  kSleep,    // wait on my event (runs only once it is set)
  kRunning,  // store -2 in my NEXT
  kRetry,    // fetch_sub on the count
  kEnter,
  kLeave,
  kGive,      // fetch_add on the count
  kGivePeek,  // positive: read the head
  kGiveDetach,
  kGiveDetachCas,
  kFinished,
};

constexpr int kMaxThreads = 3;

struct Thread {
  int8_t pc = kTake;
  int8_t round = 0;
  int8_t seen = 0;   // head as last read by the push
  int8_t first = 0;  // the list being detached
  int8_t i = 0;      // wakelist position
  int8_t nx = 0;     // NEXT read at i
  int8_t met = 0;    // wakelist met my own index
  int8_t from_give = 0;
  int8_t next_word = 0;  // this thread's NEXT in the area
  int8_t event = 0;
};

struct State {
  int8_t count = 0, head = 0, inside = 0;
  std::array<Thread, kMaxThreads> t{};

  std::string key() const { return std::string(reinterpret_cast<const char*>(this), sizeof *this); }
};
static_assert(sizeof(Thread) == 10);

struct Model {
  int threads, rounds, units;
  std::string fault;

  // Advances thread k (index k + 1) by one step; false when it cannot move.
  bool step(State& s, int k) {
    Thread& me = s.t[k];
    const int8_t my = static_cast<int8_t>(k + 1);
    auto end_round = [&] { me.pc = ++me.round == rounds ? kFinished : kTake; };
    auto begin_walk = [&](int8_t first, bool from_give) {
      me.i = first;
      me.met = 0;
      me.from_give = from_give;
      me.pc = kWalk;
    };
    switch (me.pc) {
      case kTake:
        me.pc = --s.count < 0 ? kQueue : kEnter;
        return true;
      case kQueue:
        me.seen = s.head;
        me.pc = kLink;
        return true;
      case kLink:
        me.next_word = me.seen;
        me.pc = kPush;
        return true;
      case kPush:
        if (s.head == me.seen) {
          s.head = my;
          me.pc = kGiveBack;
        } else {
          me.seen = s.head;
          me.pc = kLink;
        }
        return true;
      case kGiveBack:
        me.pc = ++s.count > 0 ? kPeek : kCheck;
        return true;
      case kPeek:
        me.pc = s.head != 0 ? kDetach : kCheck;
        return true;
      case kDetach:
      case kGiveDetach:
        me.first = s.head;
        me.pc = me.pc == kDetach ? kDetachCas : kGiveDetachCas;
        return true;
      case kDetachCas:
      case kGiveDetachCas: {
        const bool give = me.pc == kGiveDetachCas;
        if (me.first == 0) {
          if (give) {
            end_round();
          } else {
            me.pc = kCheck;
          }
        } else if (s.head == me.first) {
          s.head = 0;
          begin_walk(me.first, give);
        } else {
          me.first = s.head;
        }
        return true;
      }
      case kWalk:
        if (me.i == 0) {
          if (me.from_give) {
            end_round();
          } else {
            me.pc = me.met ? kRetry : kCheck;
          }
          return true;
        }
        if (me.i < 0 || me.i > threads) return corrupt(s, "list index out of range");
        me.nx = s.t[me.i - 1].next_word;
        if (me.nx < 0 || me.nx > threads) return corrupt(s, "link out of range");
        me.pc = kMark;
        return true;
      case kMark:
        s.t[me.i - 1].next_word = ENQDEQ_WOKEN;
        me.pc = kSignal;
        return true;
      case kSignal:
        if (me.i == my) {
          me.met = 1;
        } else {
          s.t[me.i - 1].event = 1;
        }
        me.i = me.nx;
        me.pc = kWalk;
        return true;
      case kCheck:
        me.pc = me.next_word == ENQDEQ_WOKEN ? kRunning : kSleep;
        return true;
      case kSleep:
        if (me.event == 0) return false;
        me.event = 0;
        me.pc = kCheck;
        return true;
      case kRunning:
        me.next_word = ENQDEQ_RUNNING;
        me.pc = kRetry;
        return true;
      case kRetry:
        me.pc = --s.count >= 0 ? kEnter : kQueue;
        return true;
      case kEnter:
        if (++s.inside > units) return corrupt(s, "more threads inside than units");
        me.pc = kLeave;
        return true;
      case kLeave:
        --s.inside;
        me.pc = kGive;
        return true;
      case kGive:
        if (++s.count > 0) {
          me.pc = kGivePeek;
        } else {
          end_round();
        }
        return true;
      case kGivePeek:
        if (s.head != 0) {
          me.pc = kGiveDetach;
        } else {
          end_round();
        }
        return true;
      default:
        return false;
    }
  }

  bool corrupt(const State&, const char* what) {
    if (fault.empty()) fault = what;
    return false;
  }

  // Depth-first over every reachable state; the number of states seen.
  size_t explore() {
    State start;
    start.count = static_cast<int8_t>(units);
    std::unordered_set<std::string> seen{start.key()};
    std::vector<State> todo{start};
    while (!todo.empty() && fault.empty()) {
      State s = todo.back();
      todo.pop_back();
      bool moved = false;
      for (int k = 0; k < threads; ++k) {
        State n = s;
        if (!step(n, k)) continue;
        moved = true;
        if (seen.insert(n.key()).second) todo.push_back(n);
      }
      if (!fault.empty()) break;
      if (!moved) check_end(s);
    }
    return seen.size();
  }

  void check_end(const State& s) {
    for (int k = 0; k < threads; ++k) {
      if (s.t[k].pc != kFinished) {
        fault = "thread " + std::to_string(k + 1) + " parked for good: count " +
                std::to_string(s.count) + ", head " + std::to_string(s.head) + ", NEXT " +
                std::to_string(s.t[k].next_word);
        return;
      }
    }
    if (s.count != units || s.head != 0) fault = "semaphore words not restored at the end";
  }
};

TEST(EnqdeqProtocol, EveryInterleavingKeepsUnitsAndLosesNoWake) {
  struct Case {
    int threads, rounds, units;
  };
  const Case cases[] = {{2, 1, 1}, {2, 2, 1}, {3, 1, 1}, {3, 1, 2}, {2, 3, 1}};
  for (const Case& c : cases) {
    Model m{c.threads, c.rounds, c.units, {}};
    size_t states = m.explore();
    EXPECT_EQ(m.fault, "") << c.threads << " threads, " << c.rounds << " rounds, " << c.units
                           << " units";
    EXPECT_GT(states, 100u);
  }
}

}  // namespace
