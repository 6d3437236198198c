// A databank of the started database that the catalog knows: its row
// (sequence 1) written by the administrator's committed dictionary work,
// its file made in the database's home by the kernel core's file request
// and given back, so that the next open reads the row.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>

#include "dict/dictionary_services.h"
#include "dk/databank_copies.h"
#include "dk/request.h"
#include "dict/statement_functions.h"
#include "dict/work_block.h"
#include "du/databank_utility.h"
#include "kernel/databank_control.h"
#include "request/record_access_services.h"
#include "server/testing/started_database.h"

inline constexpr int32_t kDatabankObjectKind = 1;  // "DATABANK"

// Installs record access's services and the utilities' table; answers the
// table (null when it could not be made).
inline const DUUtilityServices* InstallUtilityServices() {
  RequestInstallRecordAccessServices();
  const DUUtilityServices* utility = DUInstallUtilityServices(nullptr);
  DUInstallUtilityServices(utility);
  return utility;
}

// `text` into `bytes` bytes of `words`, blank padded.
inline void PutBlankPadded(int32_t* words, const std::string& text, int32_t bytes) {
  char* b = reinterpret_cast<char*>(words);
  std::memset(b, ' ', bytes);
  std::memcpy(b, text.data(), std::min<size_t>(text.size(), bytes));
}

// The file of databank `lid` (sequence 1, named `name`) made on `file` by
// the kernel core's file request and released with close mode
// `close_mode`; "" or what failed.
inline std::string MakeDatabankFile(int32_t* base, int32_t lid, const std::string& name,
                                    const std::string& file, int32_t close_mode) {
  std::array<int32_t, ODF_WORDS> rq{};
  rq[ODF_MODE] = 3;
  rq[ODF_LID] = lid;
  rq[ODF_SEQNO] = 1;
  rq[ODF_TYPE] = 1;
  rq[ODF_SIZE] = 8;
  PutBlankPadded(rq.data() + ODF_NAME, name, 128);
  PutBlankPadded(rq.data() + ODF_FILE, file, 256);
  DSOpenDbFile(base, rq.data());
  if (rq[0] != 0) return "DSOpenDbFile " + std::to_string(rq[0]);
  int32_t cls[CLS_WORDS] = {close_mode, lid, -1};
  DSCloseDcb(base, cls);
  if (cls[0] != 0) return "DSCloseDcb " + std::to_string(cls[0]);
  return "";
}

// Databank `lid` named `name` on `file` (a full path); with a `creator`,
// also its object row under that schema (the databank's creator); its file
// row marked online ("YES") when `online`; "" or what failed.
inline std::string MakeCatalogDatabank(int32_t* base, int32_t admin, int32_t lid,
                                       const std::string& name, const std::string& file,
                                       const std::string& creator = "", bool online = false) {
  const std::string owner = kStartedAdmin;
  int32_t pb[2] = {0, admin};
  DDBegWork(base, pb);
  if (pb[0] != 0) return "DDBegWork " + std::to_string(pb[0]);
  int32_t ins[2] = {0, admin};
  DDInsDatabank(base, ins, lid, lid, name.data(), static_cast<int32_t>(name.size()),
                owner.data(), static_cast<int32_t>(owner.size()), file.data(),
                static_cast<int32_t>(file.size()), 1, online);
  if (ins[0] == 0 && !creator.empty())
    DDInsObject(base, ins, lid, kDatabankObjectKind, creator.data(),
                static_cast<int32_t>(creator.size()), name.data(),
                static_cast<int32_t>(name.size()));
  int32_t end[2] = {ins[0] == 0 ? 0 : 1, admin};
  DDEndWork(base, end);
  if (ins[0] != 0) return "DDInsDatabank " + std::to_string(ins[0]);
  if (end[0] != 0) return "DDEndWork " + std::to_string(end[0]);
  return MakeDatabankFile(base, lid, name, file, 0);
}

// A dictionary work of `usr` begun, with the BACKUP privilege granted to
// its work name inside it (kept only when the work commits); "" or what
// failed.
inline std::string BeginWorkWithBackup(int32_t* base, int32_t usr,
                                       const DUUtilityServices* utility) {
  int32_t begin[2] = {0, usr};
  DDBegWork(base, begin);
  if (begin[0] != 0) return "DDBegWork " + std::to_string(begin[0]);
  char user[DBU_NAME_MAX];
  const int32_t length = utility->work_user(base, usr, user);
  int32_t grant[2] = {0, usr};
  DDInsPrivilege(base, grant, OFF_PRIVILEGE_BACKUP, 0, false, user, length, "SYSTEM", 6);
  if (grant[0] < 0) return "DDInsPrivilege " + std::to_string(grant[0]);
  return "";
}

// The databank kernel's offline flag of copy `seqno` of databank `lid`
// (DKGDS1), or its negative answer.
inline int32_t CopyOfflineFlag(int32_t lid, int32_t seqno) {
  int32_t state[CPY_WORDS] = {1, 0, lid, seqno};
  DKEXE1(32, state);
  return state[CPY_MODE];
}

// Until the background threads applied the commit that gives the copy the
// offline flag `offline`: whether it came within a large bound of yields.
// (The secured transaction number is no such sign: a unit whose queue is
// left for the next one to write stays unsecured while the background
// idles.)
inline bool AwaitCopyOffline(int32_t lid, int32_t seqno, int32_t offline) {
  for (int64_t n = 0; n < 50'000'000; ++n) {
    if (CopyOfflineFlag(lid, seqno) == offline) return true;
    std::this_thread::yield();
  }
  return false;
}
