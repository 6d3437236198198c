// Thread-local value slots: set-up once, range and mode refusals, values
// private to each thread in multi-thread mode and shared in single-thread mode.
#include "platform/thread_slots.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

StatusPair init(int32_t mode) {
  StatusPair st{mode, 0};
  mdr_tls_init(&st);
  return st;
}

int32_t get(int32_t slot, int32_t* rc = nullptr) {
  StatusPair st{9, 9};
  int32_t v = -12345;
  mdr_tls_get(&st, &v, slot);
  EXPECT_EQ(st.os_status, -1);
  if (rc) *rc = st.rc;
  return v;
}

int32_t set(int32_t slot, int32_t value) {
  StatusPair st{9, 9};
  mdr_tls_set(&st, value, slot);
  EXPECT_EQ(st.os_status, -1);
  return st.rc;
}

TEST(ThreadSlots, RefusalsByModeAndSlot) {
  mdr_tls_reset();
  int32_t rc = 0;
  get(1, &rc);
  EXPECT_EQ(rc, -2);  // not set up
  EXPECT_EQ(set(1, 5), -2);
  StatusPair st = init(TLS_MODE_MULTI);
  EXPECT_EQ(st.rc, 0);
  EXPECT_EQ(st.os_status, -1);
  st = init(TLS_MODE_MULTI);
  EXPECT_EQ(st.rc, -2);  // a second set-up is refused
  EXPECT_EQ(st.os_status, -1);
  for (int32_t slot : {0, 5, -1}) {
    get(slot, &rc);
    EXPECT_EQ(rc, -1) << slot;
    EXPECT_EQ(set(slot, 1), -1) << slot;
  }
  mdr_tls_reset();
  EXPECT_EQ(init(7).rc, 0);  // an unknown mode is stored, and every access refused
  get(1, &rc);
  EXPECT_EQ(rc, -2);
  mdr_tls_reset();
}

TEST(ThreadSlots, MultiThreadValuesArePerThread) {
  mdr_tls_reset();
  ASSERT_EQ(init(TLS_MODE_MULTI).rc, 0);
  EXPECT_EQ(get(TLS_SLOT_CHA), 0);  // never stored
  EXPECT_EQ(set(TLS_SLOT_THR, 41), 0);
  EXPECT_EQ(set(TLS_SLOT_CHA, 42), 0);
  int32_t other_before = -1, other_after = -1;
  std::thread([&] {
    other_before = get(TLS_SLOT_THR);
    set(TLS_SLOT_THR, 7);
    other_after = get(TLS_SLOT_THR);
  }).join();
  EXPECT_EQ(other_before, 0);
  EXPECT_EQ(other_after, 7);
  EXPECT_EQ(get(TLS_SLOT_THR), 41);
  EXPECT_EQ(get(TLS_SLOT_CHA), 42);
  EXPECT_EQ(get(4), 0);
  mdr_tls_reset();
  ASSERT_EQ(init(TLS_MODE_MULTI).rc, 0);
  EXPECT_EQ(get(TLS_SLOT_THR), 0);  // values of an earlier set-up are gone
  mdr_tls_reset();
}

TEST(ThreadSlots, SingleThreadValuesAreShared) {
  mdr_tls_reset();
  ASSERT_EQ(init(TLS_MODE_SINGLE).rc, 0);
  EXPECT_EQ(set(3, 99), 0);
  int32_t seen = 0;
  std::thread([&] { seen = get(3); }).join();
  EXPECT_EQ(seen, 99);
  mdr_tls_reset();
}

}  // namespace
