// The shutdown with request threads still inside the kernel: threads parked
// on databank wait pairs are woken with the state already written, and the
// control area stays until the last of them has left; requests that arrive
// meanwhile are turned away. Run under the thread sanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dk/request.h"
#include "dk/tests/bufferpool_fixture.h"

namespace {

// The entry a request thread parks on from inside its dispatch (the cancel
// test asks for the thread's channel first), and what it read once woken.
thread_local int32_t park_entry = 0;
thread_local int32_t state_seen = 0;

int32_t ParkThenLook() {
  if (park_entry == 0) return 0;
  DKLock(park_entry + DBE_WAIT);
  state_seen = PoolWord(park_entry + DBE_STATE).load();
  // Run on inside the kernel a little, as a request that was woken does.
  int32_t sum = 0;
  for (int32_t k = 0; k < 2000; ++k) sum += PoolWord(park_entry + DBE_STATE).load();
  return sum == 2000 * state_seen ? 0 : 1;
}

const DKChannelAccess kParking = {ParkThenLook, [](int32_t) { return 0; },
                                  [](int32_t) { return false; }, [](int32_t) {}};

class ShutdownTest : public PageTest {
 protected:
  void TearDown() override {
    DKInstallChannelAccess(nullptr);
    PageTest::TearDown();
  }

  // A databank head with `count` dependents, each in state 16 (its check
  // waits) and its wait pair at 0 units.
  std::vector<int32_t> WaitingChain(int32_t count) {
    int32_t* w = Bufferpool();
    int32_t head = AddDatabank(7, "WAITING");
    std::vector<int32_t> chain;
    EnqdeqGuard guard(w + BP_LOCK_DATABANK_FREE);
    for (int32_t at = head, i = 0; i < count; ++i) {
      int32_t d = DKHMA0(w[BP_DATABANK_HASH]);
      w[d + DBE_DID] = 7;
      w[d + DBE_KIND] = DBT_SHADOW;
      w[d + DBE_STATE] = DBE_STATE_WAITING;
      enqdeq_init_semaphore(w + d + DBE_WAIT, 0);
      w[at + DBE_DEPENDENT] = d;
      chain.push_back(d);
      at = d;
    }
    return chain;
  }
};

TEST_F(ShutdownTest, WokenRequestsReadReleasedAndTheAreaOutlivesThem) {
  constexpr int kParked = 8, kRounds = 12;
  DKInstallChannelAccess(&kParking);
  for (int round = 0; round < kRounds; ++round) {
    if (round > 0) {
      // A thread index attaches once per ENQ/DEQ area: a new one each round.
      ASSERT_EQ(enqdeq_init(enq_, kThreads, nullptr, nullptr, 0), 0);
      ASSERT_EQ(enqdeq_attach(enq_, 1), 0);
      ASSERT_EQ(params_.Start(), 0);
    }
    std::vector<int32_t> chain = WaitingChain(kParked);
    std::vector<int32_t> seen(kParked, 0), answers(kParked, 99);
    std::vector<std::thread> threads;
    for (int t = 0; t < kParked; ++t)
      threads.emplace_back([&, t] {
        enqdeq_attach(enq_, 2 + t);
        park_entry = chain[t];
        int32_t block[8] = {};
        DKEXE1(DKF_PIN1, block);
        seen[t] = state_seen;
        answers[t] = block[0];
      });
    // A thread that keeps sending requests through the shutdown: each is
    // answered, before the gate closes by the routine, after it by -1.
    std::atomic<int32_t> last_answer{0};
    std::thread busy([&] {
      enqdeq_attach(enq_, 2 + kParked);
      for (int32_t answer = 0; answer == 0;) {
        int32_t block[8] = {5};
        DKEXE1(DKF_PIN1, block);
        answer = block[0];
        last_answer.store(answer);
      }
    });
    // Every parked thread is queued on its wait pair.
    for (int32_t d : chain)
      while (PoolWord(d + DBE_WAIT + ENQDEQ_HEAD).load() == 0) std::this_thread::yield();
    int32_t rc = 0;
    DKShutdown(&rc);
    EXPECT_EQ(Bufferpool(), nullptr);
    for (auto& t : threads) t.join();
    busy.join();
    for (int t = 0; t < kParked; ++t) {
      EXPECT_EQ(seen[t], DBE_STATE_RELEASED) << round;
      EXPECT_EQ(answers[t], 0) << round;
    }
    EXPECT_EQ(last_answer.load(), DK_RC_DOWN);
    int32_t block[8] = {5};
    DKEXE1(DKF_PIN1, block);
    EXPECT_EQ(block[0], DK_RC_DOWN);
  }
}

}  // namespace
