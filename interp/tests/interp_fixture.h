// The kernel fixture (word storage with SYS, the log captured) with one
// session, channel and thread block, and helpers that assemble a program text, run it through
// DAMAE2 and read the storage after the run.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "interp/machine.h"
#include "interp/program_layout.h"
#include "interp/record_services.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "kernel/tests/core_fixture.h"
#include "kernel/word_storage.h"
#include "platform/host_services.h"
#include "platform/thread_slots.h"
#include "tools/zasm/zasm.h"

class InterpTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    usr_ = Block(USR_BYTES);
    cha_ = Block(CHA_BYTES);
    thr_ = Block(THR_BYTES);
    Wd(base_, usr_, USR_CHA) = cha_;
    Wd(base_, cha_, CHA_REQNO) = 7;
    SetSlot(TLS_SLOT_THR, thr_);
    std::memset(name_, ' ', sizeof name_);
    std::memcpy(name_, "ALICE", 5);
  }
  void TearDown() override {
    interp::DAInstallRecordServices(nullptr);
    CoreTest::TearDown();
  }
  int32_t Block(int32_t bytes) {
    int32_t b = 0;
    DSGetMem(base_, &b, bytes);
    EXPECT_NE(b, 0);
    return b;
  }

  void Load(const std::string& text) {
    std::string error;
    asm_ = zasm::Assembly{};
    ASSERT_TRUE(zasm::Assemble(text, "test.zasm", &asm_, &error)) << error;
    const auto& w = asm_.words;
    start_ = w[interp::kDescProgramStart];
    storage_at_ = w[interp::kDescStorageOffset];
    storage_.assign(w.begin() + storage_at_, w.end());
    pos_ = 2;
  }
  // One run from the current position; the result vector in rvec_.
  void Run() {
    interp::DAMAE2(base_, rvec_, asm_.words.data() + start_, storage_at_ - start_, storage_.data(),
                   static_cast<int32_t>(storage_.size()), &pos_, name_, usr_);
  }
  int32_t Off(const std::string& field) { return asm_.fields.at(field); }
  // The storage word of a word field.
  int32_t& WordAt(const std::string& field) { return storage_[Off(field) / 4]; }
  uint8_t* Bytes(const std::string& field) {
    return reinterpret_cast<uint8_t*>(storage_.data()) + Off(field);
  }
  int32_t State(int k) { return storage_[k]; }

  int32_t usr_ = 0, cha_ = 0, thr_ = 0;
  char name_[128];
  zasm::Assembly asm_;
  int32_t start_ = 0, storage_at_ = 0, pos_ = 2;
  std::vector<int32_t> storage_;
  int32_t rvec_[12] = {};
};
