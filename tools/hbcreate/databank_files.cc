// The databank kernel started for a creation, the system databank file
// made and the four databank files opened again with its own requests
// (DKCRD1 code 15, DKOPD1 code 44).
#include "tools/hbcreate/databank_files.h"

#include <chrono>
#include <cstring>
#include <random>

#include "dk/bitmap_page.h"
#include "dk/bufferpool.h"
#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "tools/hbcreate/home_directory.h"

const DatabankFile kDatabankFiles[kDatabankFileCount] = {
    {1, "SYSDB", "sysdb9.dbf", DBT_TRANS, 'N'},
    {2, "TRANSDB", "transdb.dbf", DBT_TRANS, 'T'},
    {3, "LOGDB", "logdb.dbf", DBT_LOG, 'L'},
    {4, "WORKDB", "workdb.dbf", DBT_WORK, 'W'},
};

void PutBlankPadded(int32_t* words, const std::string& text, int32_t bytes) {
  char* p = reinterpret_cast<char*>(words);
  std::memset(p, ' ', static_cast<size_t>(bytes));
  std::memcpy(p, text.data(), std::min(text.size(), static_cast<size_t>(bytes)));
}

namespace {

constexpr int32_t kCreateCode = 15, kOpenCode = 44;
constexpr int32_t kCreateNewFile = -1;  // DKCRD1: a new file, never one that exists
constexpr int32_t kOpenShared = 3;
// Transactions, databanks and tables the kernel makes room for: the
// catalog's tables and indexes, and what the databanks' base tables need.
constexpr int32_t kCounts[4] = {0, 30, 16, 400};
constexpr int32_t kPages[3] = {2048, 64, 0};
constexpr int32_t kThreads[5] = {2, 2, 0, 10, 0};

int32_t Units(const CreateOptions& o, int32_t lid) {
  switch (lid) {
    case 1:
      return o.sysdb_units;
    case 2:
      return o.transdb_units;
    case 3:
      return o.logdb_units;
    default:
      return o.workdb_units;
  }
}

// Create (mode -1) or open (kOpenShared) one file; its entry, or the
// negative status.
int32_t FileRequest(int32_t code, int32_t mode, int32_t units, const std::string& home,
                    const DatabankFile& f) {
  int32_t rq[CRD_WORDS] = {};
  rq[CRD_MODE] = mode;
  rq[CRD_UNITS] = units;
  rq[CRD_DID] = f.lid;
  rq[CRD_SEQNO] = code == kCreateCode ? 1 : -1;
  rq[CRD_TYPE] = f.type;
  PutBlankPadded(rq + CRD_FILE, HomePath(home, f.file), 256);
  PutBlankPadded(rq + CRD_NAME, f.name, 128);
  DKEXE1(code, rq);
  if (rq[CRD_MODE] != 0) return rq[CRD_MODE] < 0 ? rq[CRD_MODE] : -rq[CRD_MODE];
  return rq[CRD_UNITS];
}

// A system identity no other database of the machine is likely to carry:
// positive, never 0.
int32_t FreshIdentity() {
  std::random_device random;
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  const uint32_t mixed = random() ^ static_cast<uint32_t>(now) ^ static_cast<uint32_t>(now >> 32);
  const int32_t identity = static_cast<int32_t>(mixed & 0x7fffffff);
  return identity == 0 ? 1 : identity;
}

}  // namespace

int32_t StartCreationKernel() {
  int32_t counts[4] = {kCounts[0], kCounts[1], kCounts[2], kCounts[3]};
  int32_t rc = 0;
  DKCheckParams(&rc, counts, kPages, kThreads);
  if (rc != 0) return rc;
  const char name[] = "HBCREATE";
  DKSTA9(&rc, name, static_cast<int32_t>(sizeof name - 1), counts, kPages, kThreads, 0);
  if (rc != 0) return rc;
  int32_t begin[1] = {0};
  DKBEG1(begin);
  return begin[0];
}

int32_t StopCreationKernel() {
  int32_t rc = 0;
  DKShutdown(&rc);
  return rc;
}

int32_t CreateSystemDatabankFile(const std::string& home, const CreateOptions& options) {
  // Every header the kernel writes carries the system identity.
  PoolWord(BP_SYSDB_IDENTITY).store(FreshIdentity());
  const int32_t rc =
      FileRequest(kCreateCode, kCreateNewFile, Units(options, 1), home, kDatabankFiles[0]);
  return rc > 0 ? 0 : rc;
}

int32_t DatabankUnits(const CreateOptions& options, int32_t lid) {
  return Units(options, lid);
}

int32_t OpenDatabankFiles(const std::string& home, int32_t entries[kDatabankFileCount],
                          std::string* failed) {
  for (int32_t i = 0; i < kDatabankFileCount; ++i) {
    const int32_t rc = FileRequest(kOpenCode, kOpenShared, 0, home, kDatabankFiles[i]);
    if (rc <= 0) {
      *failed = kDatabankFiles[i].file;
      return rc;
    }
    entries[i] = rc;
  }
  return 0;
}

int32_t HandOverSystemDatabank() {
  // The creation holds the new file alone; closed, its kernel entry stays
  // and the begin's open takes it back.
  int32_t cld[4] = {1, 0, 1, -1};
  DKEXE1(DKF_CLD1, cld);
  return cld[0];
}

int32_t SystemIdentity() {
  return PoolWord(BP_SYSDB_IDENTITY).load();
}
