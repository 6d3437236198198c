// A started databank kernel for tests: log records captured, the control area
// laid out with small parameters, and stopped again at the end.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dk/control_area.h"
#include "platform/host_services.h"

struct LogRecord {
  int kind;
  std::vector<std::string> lines;
};

struct CapturingServices : HostServices {
  std::vector<LogRecord> records;
  void write_output(StatusPair* status, int kind, const char* area, int count) override {
    set_success(status);
    LogRecord r{kind, {}};
    if (count < 0) r.lines.emplace_back(area);
    for (int i = 0; i < count; ++i, area += r.lines.back().size() + 1) r.lines.emplace_back(area);
    records.push_back(r);
  }
};

// Start parameters: counts, pages, threads and the check option.
struct StartParams {
  int32_t counts[4] = {0, 30, 30, 30};  // size, transactions, databanks, tables
  int32_t pages[3] = {64, 32, 0};
  int32_t threads[5] = {2, 2, 0, 10, 0};  // request, background, I/O, users, net
  int32_t check = 0;
  std::string name = "TESTDB";

  // The size DKCheckParams asks for; 0 when it refuses.
  int32_t NeededSize() {
    int32_t counts_copy[4];
    memcpy(counts_copy, counts, sizeof counts_copy);
    int32_t rc = 0;
    DKCheckParams(&rc, counts_copy, pages, threads);
    return rc == 0 ? counts_copy[0] : 0;
  }
  int32_t Start() {
    if (counts[0] == 0) counts[0] = NeededSize();
    int32_t rc = 99;
    DKSTA9(&rc, name.data(), static_cast<int32_t>(name.size()), counts, pages, threads, check);
    return rc;
  }
};

class KernelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = InstallHostServices(&log_);
    ASSERT_EQ(params_.Start(), 0);
    log_.records.clear();
  }
  void TearDown() override {
    int32_t rc = 0;
    DKShutdown(&rc);
    InstallHostServices(previous_);
  }
  // Takes a free databank entry, gives it a key and a name, and links it into
  // the databank hash table.
  int32_t AddDatabank(int32_t did, const char* name, int32_t kind = 1) {
    int32_t* w = Bufferpool();
    int32_t table = w[BP_DATABANK_HASH];
    int32_t e = DKHMA0(table);
    w[e + DBE_DID] = did;
    w[e + DBE_KIND] = kind;
    memset(w + e + DBE_NAME, ' ', DBE_NAME_BYTES);
    memcpy(w + e + DBE_NAME, name, strlen(name));
    DKHML0(table, e);
    return e;
  }
  CapturingServices log_;
  HostServices* previous_ = nullptr;
  StartParams params_;
};
