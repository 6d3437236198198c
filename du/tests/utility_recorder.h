// A recording stand-in of the dictionary, the kernel core and the request
// interface for the databank utilities: every call kept with its words and
// a name it was given, answers from catalog rows or statuses programmed per
// call name; and the fixture the utilities' tests share.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "du/databank_utility.h"
#include "du/tests/record_access_fixture.h"

namespace utility_test {

struct Recorded {
  std::string name;
  std::vector<int32_t> words;
  std::string text;  // a name the call was given, trailing blanks kept
  bool operator==(const Recorded&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Recorded& r) {
  os << r.name << " {";
  for (int32_t w : r.words) os << ' ' << w;
  return os << " } '" << r.text << "'";
}

inline DUDatabankRow Databank(int32_t id, int32_t number, const std::string& name,
                              bool flag = false, const std::string& creator = "ADMIN") {
  DUDatabankRow row;
  row.id = id;
  row.number = number;
  row.name_length = static_cast<int32_t>(name.size());
  std::memset(row.name, ' ', sizeof row.name);
  std::memcpy(row.name, name.data(), name.size());
  const std::string second = name + "_S";
  row.second_name_length = static_cast<int32_t>(second.size());
  std::memset(row.second_name, ' ', sizeof row.second_name);
  std::memcpy(row.second_name, second.data(), second.size());
  row.flag = flag;
  row.creator_length = static_cast<int32_t>(creator.size());
  std::memset(row.creator, ' ', sizeof row.creator);
  std::memcpy(row.creator, creator.data(), creator.size());
  const std::string file = name + ".hbd";
  std::memset(row.file_name, ' ', sizeof row.file_name);
  std::memcpy(row.file_name, file.data(), file.size());
  row.file_name_length = static_cast<int32_t>(file.size());
  row.trans_option = 3;
  return row;
}

inline DUDatabankFileRow FileRow(const DUDatabankRow& databank, int32_t number,
                                 const std::string& second, int32_t first_flag = 0,
                                 int32_t second_flag = 0, const std::string& file = "") {
  DUDatabankFileRow row;
  row.id = databank.id;
  row.number = number;
  row.first_flag = first_flag;
  row.second_flag = second_flag;
  std::memcpy(row.name, databank.name, sizeof row.name);
  row.name_length = databank.name_length;
  std::memset(row.second_name, ' ', sizeof row.second_name);
  std::memcpy(row.second_name, second.data(), second.size());
  row.second_name_length = static_cast<int32_t>(second.size());
  const std::string f = file.empty() ? second + ".f" : file;
  std::memset(row.file_name, ' ', sizeof row.file_name);
  std::memcpy(row.file_name, f.data(), f.size());
  row.file_name_length = static_cast<int32_t>(f.size());
  for (int32_t k = 0; k < 4; ++k) row.kind_words[k] = 9 + k + 100 * number;
  return row;
}

inline std::string Trimmed(const char* text, int32_t length) {
  std::string s(text, static_cast<size_t>(std::max(length, 0)));
  return s;
}

// The stand-in: answers from the catalog rows below, or a status programmed
// for the call's name (taken once each, in order).
struct Recorder {
  std::mutex lock;  // calls and answers, for callers on several threads
  std::vector<Recorded> calls;
  std::map<std::string, std::deque<int32_t>> answers;
  std::vector<DUDatabankRow> databanks;
  std::vector<DUDatabankFileRow> files;
  std::set<int32_t> privileges = {OFF_PRIVILEGE_BACKUP};
  std::string user = "ADMIN";
  size_t walk = 0;
  size_t file_walk = 0;
  int32_t next_handle = 500;  // handed out by each file open
  int32_t dcb_of_open = 0;     // the DCB an open request of kind 1, 3 or 5 hands back
  int32_t root_first = 40, root_second = 77;
  int32_t sizes[2] = {1000, 1200};
  int32_t end_record_number = 30;
  int32_t option_number = 21;  // DSSetDbOpt's number in word 4
  std::string timestamp;  // the last one a request or apply was given
  int32_t* base = nullptr;
  int32_t usr = 0;
  // The chain of utility entries as apply_mode, refresh_files and
  // record_files saw it: {id, number} per entry.
  std::vector<std::vector<int32_t>> chains;

  int32_t ducom = 0;
  bool work_deleted = false;
  std::map<int32_t, int32_t> dcbs;  // the DCB an open request hands back, by id

  // The entries the backup and copy-back operations reach.
  static void AddBackupEntries(DUUtilityServices* t) {
    t->create_work_block = [](int32_t* base, int32_t* pb) { Work("DDCreUcom", base, pb); };
    t->delete_work_block = [](int32_t* base, int32_t* pb) { Work("DDDelUcom", base, pb); };
    t->begin_work = [](int32_t* base, int32_t* pb) { Work("DDBegWork", base, pb); };
    t->end_work = [](int32_t* base, int32_t* pb) { Work("DDEndWork", base, pb); };
    t->update_by_table = [](int32_t*, int32_t* pb, int32_t id) {
      Recorder& r = *Current();
      r.Keep("DDUpdByTable", {id});
      pb[0] = r.Answer("DDUpdByTable");
    };
    t->open_file = [](int32_t*, int32_t* block) {
      Recorder& r = *Current();
      const char* bytes = reinterpret_cast<const char*>(block);
      r.Keep("DSOpenDbFile", {block[0], block[1], block[2], block[4], block[5], block[6]},
             std::string(bytes + 4 * UTL_LOGICAL_NAME, 128) + "|" +
                 std::string(bytes + 4 * UTL_SECOND_NAME, 128) + "|" +
                 std::string(bytes + 4 * UTL_FILE_NAME, 256));
      block[UTL_HANDLE] = r.next_handle++;
      return r.Answer("DSOpenDbFile");
    };
    t->database_info = [](int32_t*, int32_t* block, int32_t* first, int32_t* second) {
      Recorder& r = *Current();
      r.Keep("DSGetDbInfo", {block[0], block[1], block[2], block[3]});
      *first = r.sizes[0];
      *second = r.sizes[1];
      return r.Answer("DSGetDbInfo");
    };
    t->set_roots = [](int32_t*, int32_t* block) { return Batch("DSSetDbRoots", block); };
    t->check_table_kind = [](int32_t*, int32_t* block) {
      return Words("DSChkTableKind", block, 7);
    };
    t->copy_databank = [](int32_t*, int32_t* block) { return Words("DSCopyDbReq", block, 6); };
    t->check_utility = [](int32_t*, int32_t* block, const char* now) {
      Current()->timestamp.assign(now, 16);
      return Words("DSChkTabUtil", block, 3);
    };
    t->set_options = [](int32_t*, int32_t* block) {
      Recorder& r = *Current();
      const int32_t status = Words("DSSetDbOpt", block, 5);
      block[UTL_SEQNO] = r.option_number;
      return status;
    };
    t->new_cursor = [](int32_t*, int32_t* block) { return Words("DSNewCursor", block, 2); };
    t->exec_routine = [](int32_t*, int32_t* block) {
      Recorder& r = *Current();
      const char* bytes = reinterpret_cast<const char*>(block);
      r.Keep("DSExecRoutine", {block[0], block[1], block[2], block[4]},
             std::string(bytes + 4 * UTL_LOGICAL_NAME, 128) + "|" +
                 std::string(bytes + 4 * UTL_SECOND_NAME, 128) + "|" +
                 std::string(bytes + 4 * UTL_FILE_NAME, 256));
      return r.Answer("DSExecRoutine");
    };
    t->kernel_result = [](int32_t*, int32_t* block) { return Words("DSDkResult", block, 4); };
    t->scan_full = [](int32_t*, int32_t* block) { return Scan("DSTabScan1", block); };
    t->scan_range = [](int32_t*, int32_t* block) { return Scan("DSTabScan2", block); };
  }
  static void Work(const char* name, int32_t* base, int32_t* pb) {
    Recorder& r = *Current();
    r.Keep(name, {pb[0]});
    if (r.Programmed(name, &pb[0])) return;
    pb[0] = 0;
    const std::string n = name;
    if (n == "DDDelUcom") r.work_deleted = true;
    if ((n == "DDCreUcom" || n == "DDBegWork") && du::W(base, r.usr + USR_DDUCOM) == 0)
      du::W(base, r.usr + USR_DDUCOM) = r.ducom;
  }
  static int32_t Words(const char* name, int32_t* block, int32_t count) {
    Recorder& r = *Current();
    r.Keep(name, std::vector<int32_t>(block, block + count));
    return r.Answer(name);
  }
  // A batch request: status, user, first id, value, count and the ids.
  static int32_t Batch(const char* name, int32_t* block) {
    Recorder& r = *Current();
    std::vector<int32_t> words = {block[0], block[1], block[2], block[UTL_VALUE], block[UTL_COUNT]};
    const int32_t n = std::abs(block[UTL_COUNT]);
    words.insert(words.end(), block + UTL_IDS, block + UTL_IDS + std::min(n, 100));
    r.Keep(name, words);
    return r.Answer(name);
  }
  static int32_t Scan(const char* name, int32_t* block) {
    Recorder& r = *Current();
    const char* bytes = reinterpret_cast<const char*>(block);
    r.Keep(name, {block[0], block[1], block[2], block[4], block[5]},
           std::string(bytes + 32, 16) + "-" + std::string(bytes + 48, 16));
    return r.Answer(name);
  }

  static Recorder*& Current() {
    static Recorder* current = nullptr;
    return current;
  }
  bool Programmed(const std::string& name, int32_t* status) {
    std::lock_guard<std::mutex> g(lock);
    auto it = answers.find(name);
    if (it == answers.end() || it->second.empty()) return false;
    *status = it->second.front();
    it->second.pop_front();
    return true;
  }
  int32_t Answer(const std::string& name) {
    int32_t status = 0;
    Programmed(name, &status);
    return status;
  }
  void Keep(const std::string& name, std::vector<int32_t> words, std::string text = "") {
    std::lock_guard<std::mutex> g(lock);
    calls.push_back({name, std::move(words), std::move(text)});
  }
  void KeepChain() {
    std::vector<int32_t> chain;
    const int32_t ducom = du::W(base, usr + USR_DDUCOM);
    for (int32_t e = du::W(base, ducom + DDUCOM_DBU_CHAIN); e != 0; e = du::W(base, e + DBU_NEXT)) {
      chain.push_back(du::W(base, e + DBU_ID));
      chain.push_back(du::W(base, e + DBU_NUMBER));
    }
    chains.push_back(chain);
  }

  static int32_t Request(const char* name, int32_t* block) {
    Recorder& r = *Current();
    r.Keep(name, {block[0], block[1], block[2], block[3], block[4]});
    return r.Answer(name);
  }

  static DUUtilityServices Build() {
    DUUtilityServices t{};
    t.cur_databank = [](int32_t*, int32_t* pb, int32_t id, const char* name, int32_t length,
           DUDatabankRow* row) {
          Recorder& r = *Current();
          const int32_t mode = pb[0];
          r.Keep("DDCurDatabank", {mode, id}, Trimmed(name, length));
          if (r.Programmed("DDCurDatabank", &pb[0])) return;
          pb[0] = 1;
          if (mode == 3) r.walk = 0;
          if (mode == 3 || mode == 0) {
            if (r.walk < r.databanks.size()) {
              *row = r.databanks[r.walk++];
              pb[0] = 0;
            }
            return;
          }
          for (const auto& d : r.databanks) {
            if ((mode == 2 && d.id == id) ||
                (mode == 1 && Trimmed(d.name, d.name_length) == Trimmed(name, length))) {
              *row = d;
              pb[0] = 0;
              return;
            }
          }
        };
    t.cur_databank_file = [](int32_t*, int32_t* pb, const char* name, int32_t length,
                             DUDatabankFileRow* row) {
      Recorder& r = *Current();
      r.Keep("DDCurDatabankFile", {pb[0]}, Trimmed(name, length));
      if (r.Programmed("DDCurDatabankFile", &pb[0])) return;
      const int32_t mode = pb[0];
      pb[0] = 1;
      if (mode == 3 || mode == 0) {  // the file rows of the databank `name`
        if (mode == 3) r.file_walk = 0;
        for (; r.file_walk < r.files.size(); ++r.file_walk) {
          const auto& f = r.files[r.file_walk];
          if (Trimmed(f.name, f.name_length) != Trimmed(name, length)) continue;
          *row = f;
          pb[0] = 0;
          ++r.file_walk;
          return;
        }
        return;
      }
      for (const auto& f : r.files) {
        if (Trimmed(f.second_name, f.second_name_length) == Trimmed(name, length)) {
          *row = f;
          pb[0] = 0;
        }
      }
    };
    t.upd_databank_file = [](int32_t*, int32_t* pb, int32_t id, int32_t number, const char* second,
                             int32_t length) {
      Recorder& r = *Current();
      r.Keep("DDUpdDatabankFile", {pb[0], id, number}, Trimmed(second, length));
      pb[0] = r.Answer("DDUpdDatabankFile");
    };
    t.upd_databank = [](int32_t*, int32_t* pb, int32_t id, bool offline) {
      Recorder& r = *Current();
      r.Keep("DDUpdDatabank", {pb[0], id, offline ? 1 : 0});
      pb[0] = r.Answer("DDUpdDatabank");
    };
    t.check_privilege = [](int32_t*, int32_t* pb, int32_t kind, int32_t object, const char* grantee,
           int32_t length) {
          Recorder& r = *Current();
          r.Keep("DDChkPrivilege", {kind, object}, Trimmed(grantee, length));
          if (r.Programmed("DDChkPrivilege", &pb[0])) return;
          pb[0] = r.privileges.count(kind) ? 1 : 0;
        };
    t.work_user = [](int32_t*, int32_t, char name[DBU_NAME_MAX]) {
          Recorder& r = *Current();
          std::memset(name, ' ', DBU_NAME_MAX);
          std::memcpy(name, r.user.data(), r.user.size());
          return static_cast<int32_t>(r.user.size());
        };
    t.insert_dbfile = [](int32_t*, int32_t* pb, const char* name, int32_t length, const char*,
           const char code[2], const char*, int32_t text_length, int32_t sequence) {
          Recorder& r = *Current();
          r.Keep(std::string("DDInsDbfile ") + code[0] + code[1], {text_length, sequence},
                 Trimmed(name, length));
          pb[0] = r.Answer("DDInsDbfile");
        };
    t.end_transaction = [](int32_t*, int32_t* block) { return Request("DSTransEndReq", block); };
    t.open_databank = [](int32_t*, int32_t* block) {
      Recorder& r = *Current();
      const auto it = r.dcbs.find(block[2]);
      const int32_t answer = Request("DSOpenDbReq", block);
      if (it != r.dcbs.end()) block[UTL_DCB] = it->second;
      return answer;
    };
    t.close_databank = [](int32_t*, int32_t* block) { return Request("DSCloseDbReq", block); };
    t.disconnect = [](int32_t*, int32_t* block, const char* now) {
          Current()->timestamp.assign(now, 16);
          return Request("DSDisconnect", block);
        };
    t.attach = [](int32_t*, int32_t* block, const char*) { return Request("DSAttach", block); };
    t.end_record = [](int32_t*, int32_t* block) {
      block[UTL_SEQUENCE] = Current()->end_record_number;
      return Request("DSBkpEndRecord", block);
    };
    t.root_numbers = [](int32_t*, int32_t* block, const char name[DBU_NAME_MAX]) {
          Recorder& r = *Current();
          r.Keep("DSGetDbRootNums", {block[0], block[1]}, std::string(name, DBU_NAME_MAX));
          block[2] = r.root_first;
          block[3] = r.root_second;
          return r.Answer("DSGetDbRootNums");
        };
    t.apply_mode = [](int32_t*, int32_t* pb, const char* now) {
          Recorder& r = *Current();
          r.timestamp.assign(now, 16);
          r.Keep("DSBkpApplyMode", {pb[0]});
          r.KeepChain();
          pb[0] = r.Answer("DSBkpApplyMode");
        };
    t.refresh_files = [](int32_t*, int32_t* pb) {
          Recorder& r = *Current();
          r.Keep("DSBkpRefreshFiles", {pb[0]});
          r.KeepChain();
          pb[0] = r.Answer("DSBkpRefreshFiles");
        };
    t.record_files = [](int32_t*, int32_t* pb, const char*) {
          Recorder& r = *Current();
          r.Keep("DSBkpRecordFiles", {pb[0]});
          r.KeepChain();
          pb[0] = r.Answer("DSBkpRecordFiles");
        };
    AddBackupEntries(&t);
    return t;
  }
  static const DUUtilityServices* Table() {
    static const DUUtilityServices table = Build();
    return &table;
  }
};

class UtilityTest : public RecordAccessTest {
 protected:
  UtilityTest() {
    enqdeq_init_semaphore(&W(sys_ + SYS_S), 1);
    DSGetMem(base_, &ducom_, 788);
    W(usr_ + USR_DDUCOM) = ducom_;
    rec_.base = base_;
    rec_.usr = usr_;
    rec_.ducom = ducom_;
    Recorder::Current() = &rec_;
    previous_ = DUInstallUtilityServices(Recorder::Table());
    rec_.databanks = {Databank(1, 11, "SYSDB"), Databank(2, 12, "TRANSDB"),
                      Databank(3, 13, "LOGDB"), Databank(4, 14, "SQLDB"),
                      Databank(5, 15, "SALES"), Databank(6, 16, "STOCK", true),
                      Databank(7, 17, "PARTS", false, "OTHER")};
  }
  ~UtilityTest() override {
    DUInstallUtilityServices(previous_);
    Recorder::Current() = nullptr;
  }

  // The calls named `name`, in order.
  std::vector<Recorded> Calls(const std::string& name) {
    std::vector<Recorded> out;
    for (const auto& c : rec_.calls)
      if (c.name == name) out.push_back(c);
    return out;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    for (const auto& c : rec_.calls) out.push_back(c.name);
    return out;
  }
  std::string Padded(const std::string& s, size_t size = 128) {
    return s + std::string(size - s.size(), ' ');
  }

  Recorder rec_;
  int32_t ducom_ = 0;
  const DUUtilityServices* previous_ = nullptr;
};

}  // namespace utility_test
