// Copy-back of a databank from a backup file or over a range of time.
#include "du/databank_copy_back.h"

#include <algorithm>
#include <cstring>

#include "du/databank_utility_internal.h"
#include "du/record_access_words.h"
#include "du/transactions.h"
#include "kernel/roll_forward.h"

namespace {

using du::W;
using namespace du::dbu;

constexpr char kIncrementalName[] = "incrementalbackup";
constexpr int32_t kTransTypeCopyBack = 128;

struct CopyState {
  DUDatabankRow row;
  int32_t known = -1;  // the number DSSetDbOpt gave for databank 1
  bool opened = false;  // the databank, by DSOpenDbFile
  bool incremental_open = false;
  int32_t handle = 0;  // of the incremental file
  bool past_open = false;  // step 4 reached: a failure cleans up
};

// Steps 3 to 11; the status.
int32_t CopyBack(int32_t* base, int32_t usr, CopyState* s, const char* name, int32_t name_length,
                 const char* file, int32_t file_length, const char* start, int32_t start_length,
                 const char* end, int32_t end_length) {
  const int32_t id = s->row.id;
  const bool has_file = file_length > 0;
  const bool timed = start_length > 0 || end_length > 0;
  char now[16];
  CurrentTimestamp(base, usr, now);
  int32_t r = 0;
  if (id != 1) {
    // The utility record names the databank copied back, which the kernel
    // core finds only while it is open: it is held for the record and
    // given back after the end, before the open that claims it alone. (A
    // record of logical id -1 would name no databank and refuse every
    // copy-back.)
    r = OpenRequest(base, 3, usr, id, s->row.number, nullptr);
    if (r == 0) {
      Block b = NewRequest(3, usr, id);
      r = Request(base, &DUUtilityServices::check_utility, "DSChkTabUtil", b.data(),
                  static_cast<const char*>(now));
      if (r != 0) {
        End(base, usr, true);
        CloseRequest(base, 0, usr, id, -1);
        return r;
      }
      DSSetTransType(base, usr, kTransTypeCopyBack);
      r = End(base, usr, false);
      const int32_t closed = CloseRequest(base, 0, usr, id, -1);
      if (r < 0) return r;
      r = closed;
    } else {
      End(base, usr, true);
    }
    if (r != 0) return r;
  } else {
    Block b = NewRequest(-1, usr, 1);
    b[UTL_SEQNO] = -1;
    r = Request(base, &DUUtilityServices::set_options, "DSSetDbOpt", b.data());
    s->known = r == 0 || r == BKP_NEEDS_RESTORE ? b[UTL_SEQNO] : -1;
    if ((r = End(base, usr, true)) < 0) return r;
  }

  s->past_open = true;
  if (id != 1) {
    int32_t handle = 0;
    r = OpenFile(base, usr, 2, id, !has_file && timed ? s->row.number : -1,
                 s->row.trans_option, 0, s->row.name, s->row.name_length, s->row.second_name,
                 s->row.second_name_length, s->row.file_name, s->row.file_name_length, &handle);
    if (r != 0) return r;
    s->opened = true;
  } else {
    if ((r = SystemLookup(base, usr)) < 0) return r;
    if ((r = NewCursor(base, usr, 1)) < 0) return r;
    const int32_t keep = s->known == -1 ? s->row.number : s->known;
    r = ForEachFileRow(base, usr, name, name_length, [&](const DUDatabankFileRow& f) {
      if (f.number == keep || f.number == s->row.number) return 0;
      const int32_t c = CloseRequest(base, 3, usr, id, f.number);
      return c < 0 ? c : 0;
    });
    if (r < 0) return r;
  }

  char padded[DBU_NAME_MAX];
  PadName(padded, name, name_length);
  Block roots = NewRequest(0, usr, id);
  r = Request(base, &DUUtilityServices::root_numbers, "DSGetDbRootNums", roots.data(),
              static_cast<const char*>(padded));
  if (r < 0) return r;
  const int64_t first = roots[2], second = roots[3];
  if (first > second + 1) return BKP_ROOT_NUMBERS;
  int32_t scan_kind = 0;
  if (has_file) {
    if (first >= second) return BKP_ROOT_NUMBERS;
    r = OpenFile(base, usr, 2, -1, -1, 0, 0, kIncrementalName, sizeof kIncrementalName - 1,
                 nullptr, 0, file, file_length, &s->handle);
    if (r != 0) return r;
    s->incremental_open = true;
    scan_kind = 1;
  }

  Block scan = NewRequest(scan_kind, usr, id);
  scan[RFW_SEQNO] = s->known;
  scan[RFW_LOG_LID] = has_file ? s->handle : 0;
  DUTimeBound(start, start_length, '0', BlockBytes(scan, RFW_LOWER_KEY));
  DUTimeBound(end, end_length, '9', BlockBytes(scan, RFW_UPPER_KEY));
  if (!has_file && timed) {
    scan[0] = std::max(end_length, 0);
    r = Request(base, &DUUtilityServices::scan_range, "DSTabScan2", scan.data());
  } else {
    r = Request(base, &DUUtilityServices::scan_full, "DSTabScan1", scan.data());
  }
  if (r < 0) return r;

  if (!has_file) {
    int32_t sizes[2] = {0, 0};
    Block info = NewRequest(0, usr, id);
    info[3] = -1;
    r = Request(base, &DUUtilityServices::database_info, "DSGetDbInfo", info.data(), &sizes[0],
                &sizes[1]);
    if (r != 0) return r;
    r = ForEachFileRow(base, usr, name, name_length, [&](const DUDatabankFileRow& f) {
      if (f.first_flag != 0) return 0;
      int32_t handle = 0;
      int32_t c = OpenFile(base, usr, 9, id, f.number, 5, sizes[1], s->row.name,
                           s->row.name_length, f.second_name, f.second_name_length, f.file_name,
                           f.file_name_length, &handle);
      if (c != 0) return c;
      Block copy = NewRequest(0, usr, id);
      copy[3] = f.number;
      copy[4] = handle;
      copy[5] = s->row.number;
      return Request(base, &DUUtilityServices::copy_databank, "DSCopyDbReq", copy.data());
    });
    if (r != 0) return r;
  } else {
    s->incremental_open = false;
    if ((r = CloseRequest(base, 1, usr, -1, s->handle)) != 0) return r;
  }

  if (id != 1) {
    s->opened = false;
    if ((r = CloseRequest(base, 1, usr, id, -1)) != 0) return r;
  } else {
    if ((r = SystemLookup(base, usr)) < 0) return r;
    if ((r = NewCursor(base, usr, 3)) < 0) return r;
  }
  if ((r = Begin(base, usr)) < 0) return r;
  if (timed)
    r = Dictionary(base, usr, 0, &DUUtilityServices::update_by_table, "DDUpdByTable", id);
  return r < 0 ? r : 0;
}

}  // namespace

void DUTimeBound(const char* text, int32_t length, char pad, char out[16]) {
  static constexpr int32_t kPositions[16] = {1,  2,  3,  4,  6,  7,  9,  10,
                                             12, 13, 15, 16, 18, 19, 21, 22};
  length = text ? std::clamp(length, 0, DU_TIME_TEXT_MAX) : 0;
  for (int32_t k = 0; k < 16; ++k)
    out[k] = kPositions[k] <= length ? text[kPositions[k] - 1] : pad;
}

void DSBkpOp6(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
              const char* file, int32_t file_length, const char* start, int32_t start_length,
              const char* end, int32_t end_length) {
  const int32_t usr = pb[1];
  if (WorkBlock(base, usr) == 0) {
    pb[0] = OFF_NO_DICTIONARY;
    return;
  }
  name_length = std::clamp(name_length, 0, DBU_NAME_MAX);
  file_length = std::clamp(file_length, -1, DBU_FILE_MAX);
  start_length = start ? std::clamp(start_length, -1, DU_TIME_TEXT_MAX) : -1;
  end_length = end ? std::clamp(end_length, -1, DU_TIME_TEXT_MAX) : -1;
  CopyState s;
  int32_t r = Dictionary(base, usr, 1, &DUUtilityServices::cur_databank, "DDCurDatabank", 0, name,
                         name_length, &s.row);
  if (r != 0) {
    pb[0] = r > 0 ? 1 : r;
    return;
  }
  if ((r = CreatorCheck(base, usr, s.row)) != 0) {
    pb[0] = r;
    return;
  }
  if (file_length > 0 && (start_length > 0 || end_length > 0)) {
    pb[0] = BKP_TIME_WITH_FILE;
    return;
  }
  r = CopyBack(base, usr, &s, name, name_length, file, file_length, start, start_length, end,
               end_length);
  if (r != 0 && s.past_open) {
    if (s.opened) CloseRequest(base, 1, usr, s.row.id, -1);
    if (s.incremental_open) CloseRequest(base, 1, usr, -1, s.handle);
    if (s.row.id == 1) NewCursor(base, usr, 3);
    Begin(base, usr);
  }
  pb[0] = r;
}
