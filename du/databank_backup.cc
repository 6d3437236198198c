// Backup mode, backups into files, and the operations over a chain of
// utility entries that apply a mode, write a finished backup's rows and
// bring the databanks' state into line with their file rows.
#include "du/databank_backup.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "du/databank_utility_internal.h"
#include "du/definition_services.h"
#include "du/record_access_words.h"
#include "du/tables.h"
#include "du/transactions.h"

namespace {
constexpr int32_t kRvecFirst = USR_RVEC_RCODE;
constexpr int32_t kRvecCount = USR_RVEC_ACTION - USR_RVEC_RCODE + 1;

using du::W;
using namespace du::dbu;

constexpr char kBackupName[] = "backupdb";
constexpr char kIncrementalName[] = "incrementalbackup";
constexpr int32_t kTransTypeBackup = 129;
constexpr int32_t kDefinitionEnd = 25;        // a databank's backup ends
constexpr int32_t kDefinitionDatabank = 26;   // a databank's backup state

bool Given(int32_t length) { return length > 0; }

int32_t SetScope(int32_t* base, int32_t usr, int32_t scope) {
  int32_t status = 0;
  DSSetTransScope(base, &status, usr, scope);
  return status;
}

int32_t EndWith(int32_t* base, int32_t usr, int32_t code) {
  int32_t pb[3] = {code, usr, 0};
  DSEndTrans(base, pb);
  return pb[0];
}

// The chain's entries in order.
std::vector<int32_t> Entries(int32_t* base, int32_t ducom) {
  std::vector<int32_t> out;
  for (int32_t e = W(base, ducom + DDUCOM_DBU_CHAIN); e != 0; e = W(base, e + DBU_NEXT))
    out.push_back(e);
  return out;
}

// Moves the entries of databanks 1 to 3 to the front of the chain, each
// group keeping its order.
void SystemFirst(int32_t* base, int32_t ducom) {
  std::vector<int32_t> entries = Entries(base, ducom);
  std::stable_partition(entries.begin(), entries.end(), [&](int32_t e) {
    const int32_t id = W(base, e + DBU_ID);
    return id >= 1 && id <= 3;
  });
  int32_t next = 0;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    W(base, *it + DBU_NEXT) = next;
    next = *it;
  }
  W(base, ducom + DDUCOM_DBU_CHAIN) = next;
}

const char* EntryName(int32_t* base, int32_t e) { return Bytes(base, e + DBU_NAME); }
const char* EntrySecond(int32_t* base, int32_t e) { return Bytes(base, e + DBU_SECOND_NAME); }

// Sends `ids` in batches of at most 100 through `member`: word 0 `status`,
// word 2 the batch's first id, word 4 `value`, word 6 the count (negated
// when `negate`), the ids from word 12. The first negative answer.
template <typename Member, typename... Args>
int32_t Batches(int32_t* base, int32_t usr, const std::vector<int32_t>& ids, int32_t status,
                int32_t value, bool negate, Member member, const char* name, Args... args) {
  for (size_t at = 0; at < ids.size(); at += BKP_BATCH) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(BKP_BATCH, ids.size() - at));
    Block b = NewRequest(status, usr, ids[at]);
    b[UTL_VALUE] = value;
    b[UTL_COUNT] = negate ? -n : n;
    std::copy(ids.begin() + at, ids.begin() + at + n, b.begin() + UTL_IDS);
    const int32_t r = Request(base, member, name, b.data(), args...);
    if (r < 0) return r;
  }
  return 0;
}

int32_t Sizes(int32_t* base, int32_t usr, int32_t id, int32_t* first, int32_t* second) {
  Block b = NewRequest(0, usr, id);
  b[3] = -1;
  *first = *second = 0;
  return Request(base, &DUUtilityServices::database_info, "DSGetDbInfo", b.data(), first, second);
}

int32_t SetOptions(int32_t* base, int32_t usr, int32_t id, int32_t number) {
  Block b = NewRequest(0, usr, id);
  b[UTL_SEQNO] = number;
  return Request(base, &DUUtilityServices::set_options, "DSSetDbOpt", b.data());
}

int32_t Disconnect(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t number,
                   const char timestamp[16]) {
  Block b = NewRequest(kind, usr, id);
  b[UTL_SEQNO] = number;
  return Request(base, &DUUtilityServices::disconnect, "DSDisconnect", b.data(), timestamp);
}

// DSBkpEndRecord with `status` for databank `id`; the sequence number in *n.
int32_t EndRecord(int32_t* base, int32_t usr, int32_t status, int32_t id,
                  const char timestamp[16], int32_t* n) {
  Block b = NewRequest(status, usr, id);
  std::memcpy(BlockBytes(b, UTL_STAMP), timestamp, 16);
  const int32_t r = Request(base, &DUUtilityServices::end_record, "DSBkpEndRecord", b.data());
  if (n) *n = b[UTL_SEQUENCE];
  return r;
}

// The definition record of `kind` with `description` through DSOpenTable.
int32_t Definition(int32_t* base, int32_t usr, int32_t kind, std::vector<int32_t> description) {
  std::vector<int32_t> record(DUREC_RECORD + 1, 0);
  record[DUREC_STATUS] = kind;
  const int32_t r = DUOpenTableDefinition(base, usr, record.data(), description.data());
  return r != 0 ? r : record[DUREC_STATUS];
}

// Backup mode on and the dictionary work block made: 0, -14020, or the
// failure of DDCreUcom (-19075 when it made none).
int32_t InBackupWithWorkBlock(int32_t* base, int32_t usr) {
  if (DSGetTransScope(base, usr) != BKP_SCOPE) return BKP_NOT_IN_BACKUP;
  const int32_t cre = Dictionary(base, usr, 0, &DUUtilityServices::create_work_block, "DDCreUcom");
  if (cre != 0) return cre;
  return WorkBlock(base, usr) == 0 ? OFF_NO_DICTIONARY : 0;
}

}  // namespace

// ---- Backup mode ----

void DSBkpOp1(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  const int32_t scope = DSGetTransScope(base, usr);
  if (scope == 1 || scope == BKP_SCOPE) {
    pb[0] = scope == 1 ? BKP_SCOPE_REFUSED : OFF_TRANSACTION_OPEN;
    return;
  }
  int32_t r = 0;
  if (scope == 2) r = End(base, usr, false);
  if (r >= 0) r = Begin(base, usr, false);
  if (r >= 0) r = SetScope(base, usr, BKP_SCOPE);
  pb[0] = r < 0 ? r : 0;
}

namespace {

// Steps 3 to 8 of DSBkpOp4 in scope 3; the status.
int32_t AddToBackupSet(int32_t* base, int32_t usr, bool from_create, const char* name,
                       int32_t name_length, const char* file, int32_t file_length) {
  DUDatabankRow row;
  int32_t r = Dictionary(base, usr, 1, &DUUtilityServices::cur_databank, "DDCurDatabank", 0,
                         name, name_length, &row);
  if (r == 0) r = CreatorCheck(base, usr, row);
  else if (r > 0) r = 1;
  const int32_t del = Dictionary(base, usr, 0, &DUUtilityServices::delete_work_block, "DDDelUcom");
  if (r != 0) return r;
  if (del < 0) return del;

  const int32_t entry = du::NewBlock(base, BFC_BYTES);
  if (entry == 0) return OFF_NO_STORAGE;
  W(base, entry + BFC_ID) = row.id;
  W(base, entry + BFC_NUMBER) = row.number;
  W(base, entry + BFC_CLOSE) = BFC_FIRST_CLOSE;
  W(base, entry + BFC_NAME_LENGTH) = PadName(Bytes(base, entry + BFC_NAME), name, name_length);
  W(base, entry + BFC_NEXT) = W(base, usr + USR_BACKUP_BFC);

  bool opened = false, claimed = false;
  int32_t dcb = 0;
  r = OpenRequest(base, from_create ? 1 : 3, usr, row.id, row.number, &dcb);
  if (r == 0) {
    opened = true;
    int32_t claim = -1, table = 0;
    if (!du::BlockInside(base, dcb, DCB_WORDS)) claim = DU_BAD_ARGUMENT;
    else DSClaimDatabank(base, &claim, dcb, &table);
    if (claim == 0) {
      claimed = true;
    } else {
      W(base, usr + USR_RVEC_RCODE) = claim;
      W(base, usr + USR_RVEC_LID) = row.id;
      W(base, usr + USR_RVEC_SEQNO) = -1;
      W(base, usr + USR_RVEC_BITVEC) = claim == BKP_TABLE_HELD ? BKP_RVEC_DATABANK | BKP_RVEC_TABLE
                                       : claim == OFF_LOCKED   ? BKP_RVEC_DATABANK
                                                               : 0;
      if (claim == BKP_TABLE_HELD) W(base, usr + USR_RVEC_TNAME) = table;
      r = claim;
    }
  }
  int32_t first = 0, second = 0;
  if (r == 0) r = Sizes(base, usr, row.id, &first, &second);
  if (r == 0) {
    const int32_t size = static_cast<int32_t>(std::min<int64_t>(int64_t{first} + 640, second));
    int32_t handle = 0;
    r = OpenFile(base, usr, 3, row.id, BFC_FIRST_CLOSE, 8, size, name, name_length, nullptr, 0,
                 file, file_length, &handle);
  }
  if (r == 0) {
    W(base, usr + USR_BACKUP_BFC) = entry;
    return 0;
  }
  du::FreeBlock(base, entry);
  if (claimed) {
    int32_t release = 0, table = 0;
    DSClaimDatabank(base, &release, dcb, &table);
  }
  if (opened) CloseRequest(base, 0, usr, row.id, -1);
  return r;
}

}  // namespace

void DSBkpOp4(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
              const char* file, int32_t file_length) {
  const bool from_create = pb[0] != 0;
  const int32_t usr = pb[1];
  if (int32_t r = InBackupWithWorkBlock(base, usr); r != 0) {
    pb[0] = r;
    return;
  }
  int32_t r = SetScope(base, usr, 3);
  if (r == 0)
    r = AddToBackupSet(base, usr, from_create, name, std::clamp(name_length, 0, DBU_NAME_MAX),
                       file, std::clamp(file_length, 0, DBU_FILE_MAX));
  const int32_t back = SetScope(base, usr, BKP_SCOPE);
  pb[0] = r != 0 ? r : back;
}

namespace {

// Gives the databank of backup entry `e` back: its exclusive claim first,
// while its block is certainly there; then (`kernel_result`: after the
// databank kernel's DSDkResult) the close of `mode` naming the backup's
// copy by the entry's close word (none when 0), which in the kernel core
// drops the block with its last reference; then the reference of the
// backup's open, unless that close took it with the block (its close then
// finds no databank: done, the user's result vector as it was). Every step
// is taken; the first failure.
int32_t ReleaseBackupEntry(int32_t* base, int32_t usr, int32_t e, int32_t mode,
                           bool kernel_result) {
  const int32_t id = W(base, e + BFC_ID), word = W(base, e + BFC_CLOSE);
  int32_t first = 0;
  auto keep = [&](int32_t r) {
    if (first == 0 && r != 0) first = r;
    return r;
  };
  int32_t dcb = 0;
  if (keep(OpenRequest(base, 5, usr, id, W(base, e + BFC_NUMBER), &dcb)) == 0 &&
      du::BlockInside(base, dcb, DCB_WORDS)) {
    int32_t release = 0, table = 0;
    DSClaimDatabank(base, &release, dcb, &table);
  }
  bool closed = false;
  if (word != 0) {
    if (kernel_result) {
      Block b = NewRequest(12, usr, id);
      b[3] = word;
      keep(Request(base, &DUUtilityServices::kernel_result, "DSDkResult", b.data()));
    }
    closed = keep(CloseRequest(base, mode, usr, id, word)) == 0;
  }
  int32_t vector[kRvecCount];
  std::copy(&W(base, usr + kRvecFirst), &W(base, usr + kRvecFirst) + kRvecCount, vector);
  const int32_t given = CloseRequest(base, 0, usr, id, -1);
  if (closed && given == BKP_DATABANK_GONE)
    std::copy(vector, vector + kRvecCount, &W(base, usr + kRvecFirst));
  else
    keep(given);
  return first;
}

}  // namespace

int32_t DUGiveUpBackupSet(int32_t* base, int32_t usr) {
  int32_t first = 0;
  auto keep = [&](int32_t r) {
    if (first == 0 && r != 0) first = r;
  };
  for (int32_t e = W(base, usr + USR_BACKUP_BFC), n = 0; e != 0 && n < (1 << 20); ++n) {
    keep(ReleaseBackupEntry(base, usr, e, 3, false));
    const int32_t next = W(base, e + BFC_NEXT);
    du::FreeBlock(base, e);
    e = next;
  }
  W(base, usr + USR_BACKUP_BFC) = 0;
  return first;
}

namespace {

std::vector<int32_t> BackupEntries(int32_t* base, int32_t usr) {
  std::vector<int32_t> out;
  for (int32_t e = W(base, usr + USR_BACKUP_BFC); e != 0 && out.size() < (1u << 20);
       e = W(base, e + BFC_NEXT))
    out.push_back(e);
  return out;
}

// Steps 3 to 10 of ending backup mode with variant `v`; the status.
// *committed once the end records of step 4 are committed.
int32_t CompleteBackup(int32_t* base, int32_t usr, int32_t v, bool* committed) {
  const std::vector<int32_t> set = BackupEntries(base, usr);
  auto id_of = [&](int32_t e) { return W(base, e + BFC_ID); };
  bool log_databank = false;
  int32_t r = 0;
  for (int32_t e : set) {
    log_databank = log_databank || id_of(e) == 3;
    if ((r = Definition(base, usr, kDefinitionEnd, {id_of(e), W(base, e + BFC_CLOSE)})) != 0)
      return r;
  }
  DSSetTransType(base, usr, kTransTypeBackup);
  if ((r = EndWith(base, usr, END_AUTOMATIC)) < 0) return r;
  *committed = true;

  std::vector<int32_t> roots;
  for (int32_t e : set)
    if (id_of(e) != 2 && id_of(e) != 3) roots.push_back(id_of(e));
  r = Batches(base, usr, roots, 0, BFC_FIRST_CLOSE, v == -1, &DUUtilityServices::set_roots,
              "DSSetDbRoots");
  if (r < 0) return r;

  if ((r = Begin(base, usr, false)) < 0) return r;
  int32_t trans = 0;
  for (int32_t e : set) {
    if (id_of(e) == 2) {
      trans = e;
      continue;
    }
    r = Definition(base, usr, kDefinitionDatabank,
                   {id_of(e), W(base, e + BFC_CLOSE), W(base, e + BFC_NUMBER), v});
    if (r != 0) return r;
  }
  if (trans != 0) {
    r = Definition(base, usr, kDefinitionDatabank,
                   {2, W(base, trans + BFC_CLOSE), W(base, trans + BFC_NUMBER), v});
    if (r != 0) return r;
  }

  std::vector<int32_t> ordinary;
  for (int32_t e : set)
    if (!SystemDatabank(id_of(e))) ordinary.push_back(id_of(e));
  if (v == 0) {
    char now[16];
    CurrentTimestamp(base, usr, now);
    if (log_databank) {
      if ((r = EndRecord(base, usr, 1, 0, now, nullptr)) != 0) return r;
    } else {
      for (int32_t id : ordinary)
        if ((r = EndRecord(base, usr, 0, id, now, nullptr)) != 0) return r;
      if (!ordinary.empty()) {
        Block b = NewRequest(0, usr, ordinary.back());
        r = Request(base, &DUUtilityServices::check_utility, "DSChkTabUtil", b.data(),
                    static_cast<const char*>(now));
        if (r != 0) return r;
      }
    }
  }
  DSSetTransType(base, usr, kTransTypeBackup);
  if ((r = EndWith(base, usr, END_AUTOMATIC)) < 0) return r;
  if (v == 0 && !log_databank) {
    char now[16];
    CurrentTimestamp(base, usr, now);
    r = Batches(base, usr, ordinary, 2, 0, false, &DUUtilityServices::attach, "DSAttach",
                static_cast<const char*>(now));
    if (r < 0) return r;
  }

  for (int32_t e : set)
    if ((r = ReleaseBackupEntry(base, usr, e, 1, v == -1)) != 0) return r;
  return 0;
}

}  // namespace

void DSBkpOp3(int32_t* base, int32_t* pb) {
  const int32_t v = pb[0];
  const int32_t usr = pb[1];
  if (int32_t r = InBackupWithWorkBlock(base, usr); r != 0) {
    pb[0] = r;
    return;
  }
  if (v > 0 || W(base, usr + USR_BACKUP_BFC) == 0) {
    const int32_t ended = EndWith(base, usr, END_ROLLBACK);
    const int32_t given = DUGiveUpBackupSet(base, usr);
    const int32_t del = Dictionary(base, usr, 0, &DUUtilityServices::delete_work_block,
                                   "DDDelUcom");
    pb[0] = ended != 0 ? ended : given != 0 ? given : del;
    return;
  }
  bool committed = false;
  const int32_t r = CompleteBackup(base, usr, v, &committed);
  if (r != 0) {
    // Before the commit the user is still in backup mode and may end it
    // again. After it, backup mode is over: the set is given up, so that no
    // databank stays claimed by a backup that can no longer be ended.
    if (committed) {
      DUGiveUpBackupSet(base, usr);
      Dictionary(base, usr, 0, &DUUtilityServices::delete_work_block, "DDDelUcom");
    }
    pb[0] = r;
    return;
  }
  for (int32_t e = W(base, usr + USR_BACKUP_BFC); e != 0;) {
    const int32_t next = W(base, e + BFC_NEXT);
    du::FreeBlock(base, e);
    e = next;
  }
  W(base, usr + USR_BACKUP_BFC) = 0;
  pb[0] = Dictionary(base, usr, 0, &DUUtilityServices::delete_work_block, "DDDelUcom");
}

// ---- A backup in one step ----

namespace {

struct CreateState {
  DUDatabankRow row;
  int32_t number = 0;  // of the last file row with both flags 0, else the row's
  char second[DBU_NAME_MAX];
  int32_t second_length = 0;
  DUDatabankFileRow last{};  // the last file row walked
  bool walked = false;
  bool entry = false, applied = false;
  int32_t backup_handle = 0, incremental_handle = 0;
  bool backup_open = false, incremental_open = false;
};

// Steps 3 to 11 of DSBkpCreate; the status.
int32_t BackUp(int32_t* base, int32_t usr, int32_t ducom, CreateState* s, const char* name,
               int32_t name_length, const char* file, int32_t file_length,
               const char* incremental, int32_t incremental_length) {
  const bool has_file = Given(file_length), has_incremental = Given(incremental_length);
  if (!has_file && !has_incremental) return 2;
  if (has_file && has_incremental &&
      SameName(file, file_length, incremental, incremental_length, DBU_FILE_MAX))
    return 4;
  int32_t r = Dictionary(base, usr, 1, &DUUtilityServices::cur_databank, "DDCurDatabank", 0, name,
                         name_length, &s->row);
  if (r != 0) return r > 0 ? 1 : r;
  if ((r = CreatorCheck(base, usr, s->row)) != 0) return r;

  s->number = s->row.number;
  s->second_length = PadName(s->second, s->row.second_name, s->row.second_name_length);
  r = ForEachFileRow(base, usr, name, name_length, [&](const DUDatabankFileRow& f) {
    const int32_t flen = std::clamp(f.file_name_length, 0, DBU_FILE_MAX);
    if ((has_file && SameName(f.file_name, flen, file, file_length, DBU_FILE_MAX)) ||
        (has_incremental &&
         SameName(f.file_name, flen, incremental, incremental_length, DBU_FILE_MAX)))
      return 5;
    if (f.first_flag == 0 && f.second_flag == 0) {
      s->number = f.number;
      s->second_length = PadName(s->second, f.second_name, f.second_name_length);
    }
    s->last = f;
    s->walked = true;
    return 0;
  });
  if (r != 0) return r;
  const int32_t id = s->row.id;
  if (SystemDatabank(id)) return 3;
  if (id == 1 && has_incremental && s->number == s->row.number) return BKP_INCREMENTAL_OF_SYSTEM;

  if (AddEntry(base, ducom, id, s->number, s->second, s->second_length, name, name_length) == 0)
    return OFF_NO_STORAGE;
  s->entry = true;

  int32_t mode = 0;
  if (has_incremental) mode = s->number == s->row.number ? 1 : 2;
  else mode = s->walked && s->last.second_flag != 0 ? 1 : 0;
  char now[16];
  CurrentTimestamp(base, usr, now);
  int32_t apply[2] = {mode, usr};
  DSBkpApplyMode(base, apply, now);
  s->applied = true;
  if (apply[0] < 0) return apply[0];

  if (has_incremental) {
    r = OpenFile(base, usr, 3, -1, -1, 0, 0, kIncrementalName, sizeof kIncrementalName - 1,
                 nullptr, 0, incremental, incremental_length, &s->incremental_handle);
    if (r != 0) return r;
    s->incremental_open = true;
    Block b = NewRequest(0, usr, id);
    std::copy(s->last.kind_words, s->last.kind_words + 4, b.begin() + 3);
    if ((r = Request(base, &DUUtilityServices::check_table_kind, "DSChkTableKind", b.data())) != 0)
      return r;
    s->incremental_open = false;
    if ((r = CloseRequest(base, 1, usr, -1, s->incremental_handle)) != 0) return r;
  }
  if (has_file) {
    int32_t first = 0, second = 0;
    if ((r = Sizes(base, usr, id, &first, &second)) != 0) return r;
    r = OpenFile(base, usr, 3, -1, s->row.number, 1, first, kBackupName, sizeof kBackupName - 1,
                 nullptr, 0, file, file_length, &s->backup_handle);
    if (r != 0) return r;
    s->backup_open = true;
    Block b = NewRequest(0, usr, id);
    b[3] = s->number;
    b[4] = s->backup_handle;
    b[5] = s->row.number;
    if ((r = Request(base, &DUUtilityServices::copy_databank, "DSCopyDbReq", b.data())) != 0)
      return r;
    s->backup_open = false;
    if ((r = CloseRequest(base, 1, usr, -1, s->backup_handle)) != 0) return r;
  }
  int32_t record[2] = {has_incremental && s->number != s->row.number ? 2 : 3, usr};
  DSBkpRecordFiles(base, record, now, incremental, incremental_length, file, file_length);
  return record[0];
}

}  // namespace

void DSBkpCreate(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                 const char* file, int32_t file_length, const char* incremental,
                 int32_t incremental_length) {
  const int32_t usr = pb[1];
  name_length = std::clamp(name_length, 0, DBU_NAME_MAX);
  file_length = std::clamp(file_length, -1, DBU_FILE_MAX);
  incremental_length = std::clamp(incremental_length, -1, DBU_FILE_MAX);
  if (DSGetTransScope(base, usr) == BKP_SCOPE) {
    if (Given(incremental_length)) {
      pb[0] = BKP_INCREMENTAL_IN_BACKUP;
      return;
    }
    pb[0] = 1;
    DSBkpOp4(base, pb, name, name_length, file, file_length);
    return;
  }
  const int32_t begun = Dictionary(base, usr, 0, &DUUtilityServices::begin_work, "DDBegWork");
  if (begun < 0) {
    pb[0] = begun;
    return;
  }
  const int32_t ducom = WorkBlock(base, usr);
  if (ducom == 0) {
    pb[0] = OFF_NO_DICTIONARY;
    return;
  }
  CreateState s;
  int32_t status = BackUp(base, usr, ducom, &s, name, name_length, file, file_length, incremental,
                          incremental_length);
  if (status != 0 && s.entry) {
    if (s.applied) {
      // While the entry is still on the chain, so that the refresh reaches
      // the databank the apply changed.
      if (s.number != s.row.number) {
        int32_t refresh[2] = {0, usr};
        DSBkpRefreshFiles(base, refresh);
      }
      CloseRequest(base, 0, usr, s.row.id, -1);
    }
    if (s.backup_open) CloseRequest(base, 0, usr, -1, s.backup_handle);
    if (s.incremental_open) CloseRequest(base, 0, usr, -1, s.incremental_handle);
    Begin(base, usr);
  }
  FreeChain(base, ducom);
  const int32_t ended =
      Dictionary(base, usr, status == 0 ? 0 : 1, &DUUtilityServices::end_work, "DDEndWork");
  if (status == 0 && ended < 0) status = ended;
  pb[0] = status;
}

// ---- The operations over a chain of utility entries ----

void DSBkpRecordFiles(int32_t* base, int32_t* pb, const char timestamp[16],
                      const char* incremental, int32_t incremental_length, const char* file,
                      int32_t file_length) {
  const int32_t kind = pb[0];
  const int32_t usr = pb[1];
  const int32_t ducom = WorkBlock(base, usr);
  if (ducom == 0) {
    pb[0] = OFF_NO_DICTIONARY;
    return;
  }
  incremental_length = std::clamp(incremental_length, -1, DBU_FILE_MAX);
  file_length = std::clamp(file_length, -1, DBU_FILE_MAX);
  std::vector<int32_t> ordinary;
  for (int32_t e : Entries(base, ducom))
    if (!SystemDatabank(W(base, e + DBU_ID))) ordinary.push_back(e);

  int32_t r = Begin(base, usr);
  for (size_t k = 0; r >= 0 && k < ordinary.size(); ++k) {
    const int32_t e = ordinary[k];
    const int32_t id = W(base, e + DBU_ID), length = W(base, e + DBU_NAME_LENGTH);
    int32_t n = 0;
    if ((r = EndRecord(base, usr, 0, id, timestamp, &n)) < 0) break;
    r = Dictionary(base, usr, 0, &DUUtilityServices::insert_dbfile, "DDInsDbfile",
                   EntryName(base, e), length, timestamp, "DL", static_cast<const char*>(""), 0,
                   n - 2);
    if (r >= 0 && Given(file_length))
      r = Dictionary(base, usr, 0, &DUUtilityServices::insert_dbfile, "DDInsDbfile",
                     EntryName(base, e), length, timestamp, "BU", file, file_length, n - 2);
    if (r >= 0 && Given(incremental_length))
      r = Dictionary(base, usr, 0, &DUUtilityServices::insert_dbfile, "DDInsDbfile",
                     EntryName(base, e), length, timestamp, "BC", incremental, incremental_length,
                     n - 1);
  }
  if (r >= 0) r = End(base, usr, false);
  if (r >= 0 && kind == 2) {
    int32_t refresh[2] = {0, usr};
    DSBkpRefreshFiles(base, refresh);
    r = refresh[0];
  }
  if (r >= 0) {
    std::vector<int32_t> ids;
    for (int32_t e : ordinary) ids.push_back(W(base, e + DBU_ID));
    r = Batches(base, usr, ids, kind == 1 ? 1 : 2, 0, false, &DUUtilityServices::attach,
                "DSAttach", timestamp);
  }
  bool system_open = false;
  for (size_t k = 0; r >= 0 && k < ordinary.size(); ++k) {
    const int32_t id = W(base, ordinary[k] + DBU_ID);
    if (id == 1 && kind == 0) {
      system_open = true;
      continue;
    }
    r = CloseRequest(base, 0, usr, id, -1);
  }
  if (r >= 0 && (kind == 0 || kind == 1)) {
    int32_t refresh[2] = {0, usr};
    DSBkpRefreshFiles(base, refresh);
    r = refresh[0];
  }
  if (r >= 0 && system_open) {
    r = SystemLookup(base, usr);
    if (r >= 0) r = NewCursor(base, usr, 3);
  }
  if (r < 0) {
    End(base, usr, true);
    for (int32_t e : ordinary) {
      const int32_t id = W(base, e + DBU_ID);
      if (id != 1 || kind != 0) CloseRequest(base, 0, usr, id, -1);
    }
    pb[0] = r;
    return;
  }
  pb[0] = 0;
}

namespace {

// The six switches of an apply mode.
struct Switches {
  bool first, offline_kind, second_kind, close_after, second_pass, update_rows;
};

constexpr Switches kModes[6] = {
    {true, false, false, false, false, false}, {true, true, false, false, false, false},
    {true, false, true, false, false, false},  {true, true, false, true, false, true},
    {true, false, true, true, true, true},     {false, false, false, false, true, true},
};


// Undoes the first pass for entries [0, done) of `entries`.
void UndoFirstPass(int32_t* base, int32_t usr, int32_t sys, int32_t mode, const Switches& sw,
                   const std::vector<int32_t>& entries, size_t done) {
  for (size_t k = 0; k < done; ++k) {
    const int32_t id = W(base, entries[k] + DBU_ID);
    if (SystemDatabank(id)) continue;
    if (id == 1 && sw.offline_kind) {
      if (mode == 3) {
        SysWrite(base, sys, SYS_SYSDB_OFFLINE, 0);
      } else {
        SystemLookup(base, usr);
        NewCursor(base, usr, 3);
      }
    } else {
      CloseRequest(base, 0, usr, id, -1);
    }
  }
}

}  // namespace

void DSBkpApplyMode(int32_t* base, int32_t* pb, const char timestamp[16]) {
  const int32_t mode = pb[0];
  const int32_t usr = pb[1];
  int32_t sys = 0, ducom = 0;
  if (int32_t r = SystemAndWork(base, usr, &sys, &ducom); r != 0) {
    pb[0] = r;
    return;
  }
  if (mode < 0 || mode > 5) {
    pb[0] = DU_BAD_ARGUMENT;
    return;
  }
  const Switches sw = kModes[mode];
  int32_t r = End(base, usr, false);
  if (r < 0) {
    pb[0] = r;
    return;
  }
  std::vector<int32_t> entries = Entries(base, ducom);
  int32_t remembered[kRvecCount] = {};
  bool remember = false;
  size_t done = 0;  // entries the first pass went through
  if (sw.first) {
    for (; done < entries.size(); ++done) {
      const int32_t e = entries[done];
      const int32_t id = W(base, e + DBU_ID);
      if (SystemDatabank(id)) continue;
      if (id == 1 && sw.offline_kind) {
        if (mode == 3) {
          du::Take(base, sys + SYS_S);
          const bool already = W(base, sys + SYS_SYSDB_OFFLINE) != 0;
          if (!already) W(base, sys + SYS_SYSDB_OFFLINE) = 1;
          du::Give(base, sys + SYS_S);
          if (already) {
            // Nothing of this entry was done: the ones before are undone.
            UndoFirstPass(base, usr, sys, mode, sw, entries, done);
            pb[0] = OFF_SYSDB_OFFLINE;
            return;
          }
        } else {
          r = SystemLookup(base, usr);
          if (r >= 0) r = NewCursor(base, usr, 1);
          if (r < 0) break;
        }
      } else if ((r = OpenRequest(base, sw.offline_kind ? 7 : 3, usr, id,
                                  W(base, e + DBU_NUMBER))) < 0) {
        break;
      }
      r = SetOptions(base, usr, id, W(base, e + DBU_NUMBER));
      if (r < 0 && mode == 4) {
        // The failure itself is the answer: the request may have left an
        // older error in the vector, or none.
        W(base, usr + USR_RVEC_RCODE) = r;
        std::copy(&W(base, usr + kRvecFirst), &W(base, usr + kRvecFirst) + kRvecCount, remembered);
        remember = true;
        r = 0;
      }
      if (r < 0) {
        ++done;  // its open stands
        break;
      }
    }
  }
  if (r >= 0) {
    SystemFirst(base, ducom);
    entries = Entries(base, ducom);
    r = Begin(base, usr);
    for (size_t k = 0; r >= 0 && k < entries.size(); ++k) {
      const int32_t e = entries[k];
      r = Disconnect(base, usr, sw.second_kind ? 1 : 3, mode == 5 ? 1 : W(base, e + DBU_ID),
                     W(base, e + DBU_NUMBER), timestamp);
    }
    for (size_t k = 0; r >= 0 && sw.update_rows && k < entries.size(); ++k) {
      const int32_t e = entries[k];
      r = Dictionary(base, usr, 4, &DUUtilityServices::upd_databank_file, "DDUpdDatabankFile",
                     W(base, e + DBU_ID), W(base, e + DBU_NUMBER), EntrySecond(base, e),
                     W(base, e + DBU_SECOND_LENGTH));
      // A databank taken offline whole (mode 3) is marked so in its rows in
      // the same transaction as its disconnect: the kernel core opens it
      // for use no more, and the offline operations find it offline.
      if (r >= 0 && mode == 3 && !SystemDatabank(W(base, e + DBU_ID)))
        r = MarkOffline(base, usr, W(base, e + DBU_ID), true);
    }
    if (r >= 0) r = End(base, usr, false);
    if (r >= 0) done = entries.size();
  }
  if (r < 0) {
    End(base, usr, true);
    UndoFirstPass(base, usr, sys, mode, sw, entries, done);
    pb[0] = r;
    return;
  }
  int32_t result = 0;
  if (sw.second_pass) {
    for (int32_t e : entries) {
      const int32_t id = W(base, e + DBU_ID);
      const int32_t d = Disconnect(base, usr, 2, id, W(base, e + DBU_NUMBER), timestamp);
      if (result == 0 && d < 0) result = d;
      if (sw.close_after && !SystemDatabank(id)) {
        const int32_t c = CloseRequest(base, 0, usr, id, -1);
        if (result == 0 && c < 0) result = c;
      }
    }
  } else if (sw.close_after && !entries.empty()) {
    const int32_t id = W(base, entries.front() + DBU_ID);
    if (id < 1 || id > 4) result = CloseRequest(base, 1, usr, id, -1);
  }
  if (remember) {
    std::copy(remembered, remembered + kRvecCount, &W(base, usr + kRvecFirst));
    result = remembered[0];
  }
  pb[0] = result;
}

void DSBkpRefreshFiles(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1];
  int32_t sys = 0, ducom = 0;
  if (int32_t r = SystemAndWork(base, usr, &sys, &ducom); r != 0) {
    pb[0] = r;
    return;
  }
  SystemFirst(base, ducom);
  const std::vector<int32_t> entries = Entries(base, ducom);
  std::vector<int32_t> opened;  // databanks opened by the first walk, still open
  // Each entry's first flag as the first walk found it: that walk rewrites
  // the flag, and the second walk brings in the rows it found clear and
  // gives back what it opened for the others.
  std::vector<int32_t> first_flags(entries.size(), -1);
  bool system_noted = false;
  auto file_row = [&](int32_t e, DUDatabankFileRow* f) {
    return Dictionary(base, usr, 1, &DUUtilityServices::cur_databank_file, "DDCurDatabankFile",
                      EntrySecond(base, e), W(base, e + DBU_SECOND_LENGTH), f);
  };
  int32_t r = Begin(base, usr);
  for (size_t k = 0; r >= 0 && k < entries.size(); ++k) {
    const int32_t e = entries[k];
    const int32_t id = W(base, e + DBU_ID);
    DUDatabankFileRow f{};
    if ((r = file_row(e, &f)) > 0) {  // no file row: nothing to bring in line
      r = 0;
      continue;
    }
    if (r < 0) break;
    first_flags[k] = f.first_flag;
    if (f.first_flag != 0) {
      if (id == 1) {
        system_noted = true;
      } else {
        if ((r = OpenRequest(base, 7, usr, id, f.number)) < 0) break;
        opened.push_back(id);
      }
    }
    r = Dictionary(base, usr, 3, &DUUtilityServices::upd_databank_file, "DDUpdDatabankFile", id,
                   f.number, EntrySecond(base, e), W(base, e + DBU_SECOND_LENGTH));
  }
  if (r >= 0) r = End(base, usr, false);
  if (r >= 0 && system_noted) SysWrite(base, sys, SYS_SYSDB_OFFLINE, 0);
  if (r >= 0) r = Begin(base, usr);
  for (size_t k = 0; r >= 0 && k < entries.size(); ++k) {
    const int32_t e = entries[k];
    const int32_t id = W(base, e + DBU_ID);
    DUDatabankFileRow f{};
    if ((r = file_row(e, &f)) > 0) {
      r = 0;
      continue;
    }
    if (r < 0) break;
    if (first_flags[k] < 0) first_flags[k] = f.first_flag;  // a row the first walk missed
    if (first_flags[k] == 0) {
      Block b = NewRequest(0, usr, id);
      b[UTL_SEQNO] = W(base, e + DBU_NUMBER);
      PadText(BlockBytes(b, UTL_LOGICAL_NAME), DBU_NAME_MAX, f.name, f.name_length);
      std::memcpy(BlockBytes(b, UTL_SECOND_NAME), EntrySecond(base, e), DBU_NAME_MAX);
      PadText(BlockBytes(b, UTL_FILE_NAME), DBU_FILE_MAX, f.file_name, f.file_name_length);
      r = Request(base, &DUUtilityServices::exec_routine, "DSExecRoutine", b.data());
      if (r >= 0) r = SetOptions(base, usr, id, W(base, e + DBU_NUMBER));
      if (r >= 0 && id == 1) system_noted = true;
    } else if (id != 1) {
      r = CloseRequest(base, 0, usr, id, -1);
      opened.erase(std::remove(opened.begin(), opened.end(), id), opened.end());
    }
  }
  if (r >= 0) r = End(base, usr, false);
  // The system databank brought in by the second walk (its file row was
  // marked offline) is online again: the database's note of it offline,
  // which refuses every login, is cleared too.
  if (r >= 0 && system_noted) SysWrite(base, sys, SYS_SYSDB_OFFLINE, 0);
  if (r < 0) {
    End(base, usr, true);
    for (int32_t id : opened) CloseRequest(base, 0, usr, id, -1);
    pb[0] = r;
    return;
  }
  pb[0] = 0;
}
