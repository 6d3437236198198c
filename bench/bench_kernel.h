// What the kernel's table benchmarks share: quiet host services, the same
// 1,000,000 random 100-byte records (16-byte keys), and the steps that start
// the kernel, make its databank file and tables, and stop it again.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"

namespace bench {

using Clock = std::chrono::steady_clock;

constexpr int kRecords = 1000000;
constexpr int32_t kKey = 16, kLength = 100;
constexpr int32_t kRecordWords = (kLength + 3) / 4;

struct QuietServices : HostServices {
  void write_output(StatusPair* status, int, const char*, int) override { set_success(status); }
};

inline double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

inline std::vector<std::string> Records() {
  std::mt19937_64 rng(42);
  std::vector<std::string> records(kRecords);
  for (std::string& r : records) {
    r.resize(kLength);
    for (int32_t i = 0; i < kLength; i += 8) {
      uint64_t v = rng();
      std::memcpy(r.data() + i, &v, static_cast<size_t>(std::min(8, kLength - i)));
    }
  }
  return records;
}

// Starts the kernel with the given pool pages behind quiet host services;
// the start's return code.
inline int32_t StartKernel(QuietServices* quiet, std::vector<int32_t>* enq, int32_t (&pages)[3]) {
  InstallHostServices(quiet);
  enq->assign(static_cast<size_t>(enqdeq_size(4) / 4), 0);
  enqdeq_init(enq->data(), 4, nullptr, nullptr, 0);
  enqdeq_attach(enq->data(), 1);
  int32_t counts[4] = {0, 30, 30, 30}, threads[5] = {2, 2, 0, 10, 0};
  int32_t rc = 0;
  DKCheckParams(&rc, counts, pages, threads);
  DKSTA9(&rc, "BENCH", 5, counts, pages, threads, 0);
  return rc;
}

// Makes the file `path` of databank `did` (of `type`), `units` units; its
// entry.
inline int32_t CreateDatabankFile(const std::string& path, int32_t did, int32_t type,
                                  int32_t units) {
  std::vector<int32_t> rq(CRD_WORDS, 0);
  rq[CRD_MODE] = -2;
  rq[CRD_UNITS] = units;
  rq[CRD_DID] = did;
  rq[CRD_SEQNO] = 1;
  rq[CRD_TYPE] = type;
  char* file = reinterpret_cast<char*>(rq.data() + CRD_FILE);
  std::memset(file, ' ', 256);
  std::memcpy(file, path.data(), path.size());
  std::memset(rq.data() + CRD_NAME, ' ', 128);
  DKCRD1(rq.data());
  return rq[CRD_UNITS];
}

// Makes databank 5's file bench.dbf of `units` units in the folder; its entry.
inline int32_t CreateDatabank(const std::string& dir, int32_t units) {
  return CreateDatabankFile(dir + "/bench.dbf", 5, 9, units);
}

// Makes table `tbl` of the records' key and length in databank 5; its entry.
inline int32_t CreateTable(int32_t tbl) {
  int32_t b[CRT_WORDS] = {};
  b[RQ_DID] = 5;
  b[RQ_TYPE] = 10;
  b[RQ_TBL] = tbl;
  b[RQ_KEY_LENGTH] = kKey;
  b[RQ_RECORD_LENGTH] = kLength;
  DKEXE1(16, b);
  return b[RQ_TABLE];
}

// Releases the databank, stops the kernel and removes the folder.
inline void StopKernel(int32_t databank, const std::string& dir) {
  ReleaseDatabank(databank, false);
  int32_t rc = 0;
  DKShutdown(&rc);
  std::filesystem::remove_all(dir);
}

}  // namespace bench
