// A kernel word storage with SYS created by DSInitSys, the log captured, an
// ENQ/DEQ area the test's threads attach to, and an upper-services table
// whose entries each test may fill (info items answer 0 by default).
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/upper_services.h"
#include "kernel/word_storage.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"
#include "platform/thread_slots.h"

struct CapturedEntry {
  int severity;
  std::vector<std::string> lines;
};

class CoreLog : public HostServices {
 public:
  void write_output(StatusPair* status, int severity, const char* area, int count) override {
    set_success(status);
    CapturedEntry e{severity, {}};
    for (int i = 0; i < std::max(count, 1); ++i) {
      e.lines.emplace_back(area);
      area += e.lines.back().size() + 1;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(e);
  }
  // True when some logged line contains `text`.
  bool Contains(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& e : entries_)
      for (const auto& l : e.lines)
        if (l.find(text) != std::string::npos) return true;
    return false;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<CapturedEntry> entries_;
};

inline int32_t InfoOk(int32_t*, int32_t*) {
  return 0;
}
inline int32_t EscOk(int32_t*) {
  return 0;
}

// A word storage of 4M words (2^18 committed) with the information-item
// entries of `services` answering 0, and `services` installed (the table
// it replaced in *previous). Null when the storage cannot be had.
inline int32_t* NewCoreStorage(KernelUpperServices* services,
                               const KernelUpperServices** previous) {
  mdr_tls_reset();
  int32_t* base = SqlPoolCreate(int64_t{4} << 20, 1 << 18);
  if (base == nullptr) return nullptr;
  int32_t w = 1 << 18;
  DSPoolMem(base, &w, -1, 0);
  services->info_build = InfoOk;
  services->info_error_table = InfoOk;
  services->reg_esc_callbacks = EscOk;
  *previous = KernelInstallUpperServices(services);
  return base;
}

class CoreTest : public ::testing::Test {
 protected:
  static constexpr int32_t kThreads = 16;

  void SetUp() override {
    previous_host_ = InstallHostServices(&log_);
    ASSERT_LE(enqdeq_size(kThreads), int64_t{4} * kEnqWords);
    ASSERT_EQ(enqdeq_init(enq_, kThreads, nullptr, nullptr, 0), 0);
    ASSERT_EQ(enqdeq_attach(enq_, 1), 0);
    base_ = NewCoreStorage(&services_, &previous_services_);
    ASSERT_NE(base_, nullptr);
    if (init_sys_) {
      int32_t status = 0;
      DSInitSys(base_, &status);
      ASSERT_EQ(status, 0);
      sys_ = KernelSys(base_);
    }
  }
  void TearDown() override {
    KernelInstallUpperServices(previous_services_);
    SqlPoolDestroy(base_);
    mdr_tls_reset();
    InstallHostServices(previous_host_);
  }

  int32_t& W(int64_t b, int32_t n) { return sqlpool_word(base_, b + n); }
  int32_t Alloc(int32_t bytes) {
    int32_t out = 0;
    DSGetMem(base_, &out, bytes);
    return out;
  }
  int64_t Live() {
    const int32_t c = sqlpool::POMC;
    int64_t n = 0;
    for (int k = 0; k < sqlpool::CLASSES; ++k)
      n += base_[c + k * sqlpool::POMC_WORDS + sqlpool::ALLOCS] -
           base_[c + k * sqlpool::POMC_WORDS + sqlpool::DEALLOCS];
    return n;
  }
  static void SetSlot(int32_t slot, int32_t value) {
    StatusPair st;
    mdr_tls_set(&st, value, slot);
  }

  static constexpr int kEnqWords = 1024;
  static inline int32_t enq_[kEnqWords];
  bool init_sys_ = true;
  CoreLog log_;
  HostServices* previous_host_ = nullptr;
  KernelUpperServices services_{};
  const KernelUpperServices* previous_services_ = nullptr;
  int32_t* base_ = nullptr;
  int32_t sys_ = 0;
};
