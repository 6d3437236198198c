// GET DIAGNOSTICS (see diagnostics.h).
#include <algorithm>
#include <iterator>
#include <cstring>
#include <string>

#include "interp/diagnostics.h"
#include "interp/message_statements.h"
#include "interp/program_layout.h"
#include "interp/request_services.h"
#include "kernel/catalog_queries.h"
#include "kernel/control_blocks.h"
#include "kernel/diagnostics_area.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"
#include "platform/numeric_services.h"
#include "platform/packed_decimal.h"

namespace interp {
namespace {

constexpr int32_t kErrBadConditionNumber = -14651;
constexpr int32_t kErrUnknownItem = -16183;
constexpr int32_t kMessageMax = 8000;

std::string StatementKind(int32_t type) {
  if (type == kProgSelect || type == kProgSelectUpdate) return "FETCH";
  if (type == kProgInsertOne || type == kProgInsertMany) return "INSERT";
  if (type >= kProgUpdateOne && type <= kProgUpdateAll) return "UPDATE";
  if (type >= kProgDeleteOne && type <= kProgDeleteAll) return "DELETE";
  return "CALL";
}

// Catalog names by object kind: the first or the second name field of the
// lookup, trailing blanks dropped; empty when nothing is found.
constexpr int32_t kNameBytes = 128;
struct NameItem {
  int32_t item, kind, id_field, second_field;  // record words (0: none)
  bool second_name;
};
constexpr int32_t kRec(int32_t usr_field) {
  return usr_field - USR_DIA_NEXT;
}
constexpr NameItem kNameItems[] = {
    {12, -2, kRec(USR_DIA_TABLE_SYSID), 0, false},
    {13, -2, kRec(USR_DIA_TABLE_SYSID), 0, true},
    {14, -5, kRec(USR_DIA_TABLE_SYSID), kRec(USR_DIA_COLUMN_NUMBER), false},
    {16, -4, kRec(USR_DIA_TRIGGER_SYSID), 0, false},
    {17, -4, kRec(USR_DIA_TRIGGER_SYSID), 0, true},
    {19, -4, kRec(USR_DIA_ROUTINE_SYSID), 0, false},
    {20, -4, kRec(USR_DIA_ROUTINE_SYSID), 0, true},
    {21, -8, kRec(USR_DIA_ROUTINE_SYSID), 0, false},
    {22, -6, kRec(USR_DIA_ROUTINE_SYSID), kRec(USR_DIA_PARAMETER_NUMBER), false},
    {24, -4, kRec(USR_DIA_CONSTRAINT_SYSID), 0, false},
    {25, -4, kRec(USR_DIA_CONSTRAINT_SYSID), 0, true},
};

std::string Trimmed(const char* s, int32_t n) {
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
  return std::string(s, static_cast<size_t>(n));
}

// 0 with the name in *text, or the lookup's failure.
int32_t ObjectName(int32_t* base, int32_t usr, int32_t record, const NameItem& n,
                   std::string* text) {
  if (record == 0) return 0;
  const int32_t second = n.second_field != 0 ? Wd(base, record, n.second_field) : 0;
  std::string first, other;
  const int32_t rc =
      DSCatalogNames(base, usr, n.kind, Wd(base, record, n.id_field), second, &first, &other);
  if (rc < 0) return rc;
  if (rc == 0) *text = n.second_name ? other : first;
  return 0;
}

constexpr int32_t kKindColumn = -5;
constexpr int32_t kKindParameter = -6;

// The kernel's own catalog look-ups: a column by table id and column
// number (DSGetColumnName), every other kind but a parameter by its id
// (DSGetObjectName). 0 found, 1 none, or the failure.
int32_t KernelObjectNames(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t second,
                          char* names) {
  if (kind == kKindColumn) {
    int32_t request[4] = {0, usr, id, second};
    DSGetColumnName(base, request, reinterpret_cast<uint8_t*>(names));
    return request[0] > 0 ? NAME_NOT_FOUND : request[0];
  }
  if (kind == kKindParameter) {
    // A parameter's name needs the routine and the parameter number, which
    // the kernel's look-up does not take.
    static constexpr char kName[] = "DSGetObjectName";
    DSErrRep(kName, static_cast<int32_t>(sizeof kName - 1), kErrServiceAbsent, SEV_ERROR);
    return kErrServiceAbsent;
  }
  return DSGetObjectName(base, kind, id, reinterpret_cast<uint8_t*>(names), OBJECT_NAME_BYTES);
}

std::string StateOf(ConditionSite& site, int32_t native) {
  char s[5];
  if (!IsPackedState(native) || UnpackSqlState(native, s) != 0) site.SqlState(native, s);
  return std::string(s, 5);
}

}  // namespace

int32_t DSFindDiagRecord(int32_t* base, int32_t usr, int32_t number) {
  for (int32_t r = usr + USR_DIA_NEXT, steps = 0; r != 0 && steps < (1 << 16);
       r = Wd(base, r, DIAREC_NEXT), ++steps) {
    if (!InStorage(base, r, DIAREC_TEXT)) break;
    if (Wd(base, r, DIAREC_NUMBER) == number) return r;
  }
  return 0;
}

int32_t DSCatalogNames(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t second,
                       std::string* first, std::string* other) {
  const auto f = RequestServices().object_name;
  char names[OBJECT_NAME_BYTES];
  std::memset(names, ' ', sizeof names);
  const int32_t rc = f != nullptr ? f(base, usr, kind, id, second, names)
                                  : KernelObjectNames(base, usr, kind, id, second, names);
  if (rc != 0) return rc;
  *first = Trimmed(names, kNameBytes);
  *other = Trimmed(names + kNameBytes, kNameBytes);
  return 0;
}

int32_t DSGetDiagnostics(int32_t* base, int32_t usr, ByteSpan storage, const int32_t ops[6],
                         bool character, int32_t program_type, ConditionSite& site,
                         const ConditionRun& run) {
  const auto fits = [&](int64_t offset, int64_t length) {
    return offset >= 0 && length >= 0 && offset + length <= static_cast<int64_t>(storage.size());
  };
  // A packed decimal of `precision` digits at `offset`.
  const auto decimal_fits = [&](int64_t offset, int32_t precision) {
    return precision >= 1 && precision <= kDecimalMaxPrecision &&
           fits(offset, decimal_bytes(precision));
  };
  const int32_t item = ops[0];
  const int32_t count = Wd(base, usr, USR_TOTAL_ERROR_COUNT);
  int32_t record = count > 0 ? DSFindDiagRecord(base, usr, 1) : 0;
  bool current = false;
  if (ops[1] != 0) {
    const value_descriptor number{ops[1], ops[2]};
    if (!decimal_fits(ops[1], ops[2])) return kErrBadOperand;
    int32_t n = 0;
    const bool converted = decimal_to_int(&n, storage, number) == 0;
    record = converted && n > 0 && n <= count ? DSFindDiagRecord(base, usr, n) : 0;
    if (record == 0) {
      // Item 38 of a number below 2 in an empty area: the current condition.
      if (!(item == 38 && converted && n < 2 && count == 0)) return kErrBadConditionNumber;
      current = true;
    }
  } else if (item == 38 && record == 0) {
    current = true;
  }
  const int32_t native = record != 0 ? Wd(base, record, DIAREC_NATIVE) : 0;

  bool numeric = false;
  int32_t number = 0;
  std::string text;
  switch (item) {
    case 9:
    case 10: {
      const int32_t field = item == 9 ? USR_DIA_CONDITION_NAME_LENGTH : USR_DIA_CURSOR_NAME_LENGTH;
      if (record != 0) {
        const int32_t w = field - USR_DIA_NEXT;
        const int32_t n = Wd(base, record, w);
        if (n > 0 && n <= 128)
          text.assign(reinterpret_cast<const char*>(&Wd(base, record, w + 1)), static_cast<size_t>(n));
      }
      break;
    }
    case 11:
    case 15:
    case 18:
    case 23:
    case 27: break;
    case 26: text = StatementKind(program_type); break;
    case 30: numeric = true; number = site.TransactionState() == 1 ? 1 : 0; break;
    case 31: text = count > Wd(base, usr, USR_TRAN_DIAG_SIZE) ? "Y" : "N"; break;
    case 32: {
      numeric = true;
      for (int32_t n = 1; n <= count; ++n) {
        const int32_t r = DSFindDiagRecord(base, usr, n);
        if (r != 0 && Wd(base, r, DIAREC_NATIVE) != 0) ++number;
      }
      if (number < 1) number = 1;
      break;
    }
    case 33: numeric = true; number = IsPackedState(native) ? kPackedNative : native; break;
    case 38: {
      if (!current) {
        text = StateOf(site, native);
      } else {
        int32_t value = 0, kind = 0;
        char s[5];
        DSCurCondition(site, run, 0, false, &value, s, &kind);
        if (kind == 0) text.assign(s, 5);
      }
      break;
    }
    case 28: {
      const int32_t n = Wd(base, usr, USR_CONNECTION_NAME_LENGTH);
      if (n > 0 && n <= kNameBytes)
        text.assign(reinterpret_cast<const char*>(&Wd(base, usr, USR_CONNECTION_NAME)),
                    static_cast<size_t>(n));
      break;
    }
    case 29: {
      const int32_t sys = KernelSys(base);
      if (sys != 0) text = Trimmed(reinterpret_cast<const char*>(&Wd(base, sys, SYS_DATABASE)), kNameBytes);
      break;
    }
    case 34:
    case 35: {
      const auto f = RequestServices().std_name;
      if (f == nullptr) return kErrServiceAbsent;
      const std::string state = StateOf(site, native);
      char origin[kNameBytes];
      int32_t n = kNameBytes;
      f(origin, 0, &n, state.data(), item == 34 ? 1 : 2);
      text = Trimmed(origin, std::clamp(n, 0, kNameBytes));
      break;
    }
    case 36:
    case 37: {
      char message[kMessageMax];
      int32_t n = 0;
      MessageText(base, native, message, kMessageMax, &n);
      if (item == 36) {
        text.assign(message, static_cast<size_t>(n));
      } else {
        numeric = true;
        number = n;
      }
      break;
    }
    default: {
      const NameItem* n = std::find_if(std::begin(kNameItems), std::end(kNameItems),
                                       [&](const NameItem& i) { return i.item == item; });
      if (n == std::end(kNameItems)) return kErrUnknownItem;
      if (const int32_t rc = ObjectName(base, usr, record, *n, &text); rc != 0) return rc;
      break;
    }
  }

  const int32_t target = ops[3], length = ops[4];
  if (numeric && !character) {
    if (!decimal_fits(target, length)) return kErrBadOperand;
    return int_to_decimal(storage, value_descriptor{target, length}, number) == 0 ? 0 : kErrTooLong;
  }
  if (numeric) text = std::to_string(number);
  if (!fits(target, int64_t{length} + 1)) return kErrBadOperand;
  if (static_cast<int64_t>(text.size()) > length) return kErrCharsLost;
  storage[static_cast<size_t>(target)] = 0;
  std::memset(&storage[static_cast<size_t>(target) + 1], ' ', static_cast<size_t>(length));
  std::memcpy(&storage[static_cast<size_t>(target) + 1], text.data(), text.size());
  if (character && ops[5] >= 0) {
    const value_descriptor field{ops[5], digits_of_int(length)};
    if (!decimal_fits(ops[5], field.precision)) return kErrBadOperand;
    int_to_decimal(storage, field, static_cast<int32_t>(text.size()));
  }
  return 0;
}

}  // namespace interp
