// DSAddCondition (see diagnostics.h).
#include "interp/diagnostics.h"

#include <cstring>
#include <vector>

#include "interp/conditions.h"
#include "kernel/control_blocks.h"
#include "kernel/diagnostics_area.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

constexpr int32_t kErrTriggerFailed = -14703;
constexpr int32_t kChainLimit = 1 << 16;

// Record word of a USR diagnostics field.
constexpr int32_t R(int32_t usr_field) {
  return usr_field - USR_DIA_NEXT;
}

std::vector<int32_t> Records(int32_t* base, int32_t usr) {
  std::vector<int32_t> out;
  for (int32_t r = usr + USR_DIA_NEXT; r != 0 && out.size() < kChainLimit;
       r = Wd(base, r, DIAREC_NEXT)) {
    if (!InStorage(base, r, DIAREC_TEXT)) break;
    out.push_back(r);
  }
  return out;
}

// Clears every word of a record but its link.
void Blank(int32_t* base, int32_t r) {
  std::memset(&Wd(base, r, DIAREC_NATIVE), 0, (DIAREC_TEXT - DIAREC_NATIVE + 1) * sizeof(int32_t));
  Wd(base, r, DIAREC_POSITION) = -1;
}

void CopyCurrent(int32_t* base, int32_t usr, int32_t r, int32_t usr_field, int32_t dia_field,
                 int32_t words) {
  std::memcpy(&Wd(base, r, R(dia_field)), &Wd(base, usr, usr_field),
              static_cast<size_t>(words) * sizeof(int32_t));
}

}  // namespace

void DSAddCondition(int32_t* base, int32_t usr, int32_t value, int32_t kind, int32_t mode,
                    const char* state, int32_t trigger) {
  if (!InStorage(base, usr, USR_WORDS)) return;
  if (Wd(base, usr, USR_DIA_ADDED_FLAG) == 1) {
    DSClearDiag(base, usr);
    Wd(base, usr, USR_DIA_ADDED_FLAG) = 2;
  }
  const bool own_code = kind == kRaiseFailure || kind == kRaiseStateAgain || kind == kRaiseRuntime;
  const int32_t native = own_code ? value : kErrUserCondition;
  if (mode == 0) {
    DSClearDiag(base, usr);
  } else {
    for (int32_t r : Records(base, usr))
      if (Wd(base, r, DIAREC_NUMBER) == 1 && Wd(base, r, DIAREC_NATIVE) == native) return;
  }
  const int32_t n = trigger != 0 ? 2 : 1;
  const int32_t count = Wd(base, usr, USR_TOTAL_ERROR_COUNT);
  const int32_t size = Wd(base, usr, USR_TRAN_DIAG_SIZE);
  const int32_t embedded = usr + USR_DIA_NEXT;

  // The records the new conditions take: the embedded one for an empty area,
  // else the highest-numbered ones when the area is full, else new ones.
  std::vector<int32_t> taken;
  if (count == 0) {
    taken.push_back(embedded);
  } else if (count + n > size) {
    for (int32_t r : Records(base, usr))
      if (Wd(base, r, DIAREC_NUMBER) > size - n && static_cast<int32_t>(taken.size()) < n)
        taken.push_back(r);
  }
  while (static_cast<int32_t>(taken.size()) < n) {
    int32_t r = 0;
    DSGetMem(base, &r, DIAREC_BYTES);
    if (r == 0) {
      if (taken.empty()) return;
      break;
    }
    Wd(base, r, DIAREC_NEXT) = Wd(base, embedded, DIAREC_NEXT);
    Wd(base, embedded, DIAREC_NEXT) = r;
    taken.push_back(r);
  }
  const int32_t added = static_cast<int32_t>(taken.size());
  for (int32_t r : Records(base, usr)) {
    bool is_taken = false;
    for (int32_t t : taken) is_taken |= t == r;
    if (!is_taken && Wd(base, r, DIAREC_NUMBER) > 0) Wd(base, r, DIAREC_NUMBER) += added;
  }
  Wd(base, usr, USR_TOTAL_ERROR_COUNT) = count + added;

  const int32_t r = taken[0];
  Blank(base, r);
  Wd(base, r, DIAREC_NATIVE) = native;
  Wd(base, r, DIAREC_NUMBER) = 1;
  Wd(base, r, R(USR_DIA_ROUTINE_SYSID)) = Wd(base, usr, USR_CURRENT_ROUTINE_SYSID);
  if (n == 2) Wd(base, r, R(USR_DIA_TRIGGER_SYSID)) = Wd(base, usr, USR_CURRENT_TRIGGER_SYSID);
  const bool constraint = std::memcmp(state, "23", 2) == 0 || std::memcmp(state, "40002", 5) == 0 ||
                          std::memcmp(state, "27000", 5) == 0;
  if (constraint) {
    Wd(base, r, R(USR_DIA_CONSTRAINT_SYSID)) = Wd(base, usr, USR_CURRENT_CONSTRAINT_SYSID);
    if (native == -10100 || native == -10101 || native == -10103 || native == -10110)
      Wd(base, r, R(USR_DIA_TABLE_SYSID)) = Wd(base, usr, USR_CURRENT_TABLE_SYSID);
  } else if (std::memcmp(state, "42", 2) == 0) {
    Wd(base, r, R(USR_DIA_COLUMN_NUMBER)) = Wd(base, usr, USR_CURRENT_COLUMN_NUMBER);
    Wd(base, r, R(USR_DIA_TABLE_SYSID)) = Wd(base, usr, USR_CURRENT_TABLE_SYSID);
  } else if (std::memcmp(state, "44000", 5) == 0) {
    Wd(base, r, R(USR_DIA_TABLE_SYSID)) = Wd(base, usr, USR_CURRENT_TABLE_SYSID);
  } else if (std::memcmp(state, "24000", 5) == 0) {
    CopyCurrent(base, usr, r, USR_CURRENT_CURSOR_NAME_LENGTH, USR_DIA_CURSOR_NAME_LENGTH, 33);
  }
  Wd(base, r, R(USR_DIA_PARAMETER_NUMBER)) = Wd(base, usr, USR_CURRENT_PARAMETER_NUMBER);
  CopyCurrent(base, usr, r, USR_CURRENT_CONDITION_NAME_LENGTH, USR_DIA_CONDITION_NAME_LENGTH, 33);
  if (added == 2) {
    const int32_t t = taken[1];
    Blank(base, t);
    Wd(base, t, DIAREC_NATIVE) = kErrTriggerFailed;
    Wd(base, t, DIAREC_NUMBER) = 2;
    Wd(base, t, R(USR_DIA_TRIGGER_SYSID)) = Wd(base, r, R(USR_DIA_TRIGGER_SYSID));
    Wd(base, t, R(USR_DIA_TABLE_SYSID)) = Wd(base, r, R(USR_DIA_TABLE_SYSID));
  }
}

}  // namespace interp
