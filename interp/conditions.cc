// Raising conditions: SQLSTATE of the condition, handler search along the
// compound-statement stack, savepoint rollbacks of the compounds left.
#include "interp/conditions.h"

#include <cstring>
#include <span>

#include "interp/program_layout.h"
#include "platform/numeric_services.h"

namespace interp {

int32_t PackSqlState(const char* state, int32_t* out) {
  int32_t status = 0;
  code5_pack(&status, out, ConstByteSpan(reinterpret_cast<const uint8_t*>(state), 5), 0);
  return status;
}

int32_t UnpackSqlState(int32_t packed, char* state) {
  int32_t status = 0;
  code5_unpack(&status, ByteSpan(reinterpret_cast<uint8_t*>(state), 5), 0, packed);
  return status;
}

namespace {

constexpr char kUserState[] = "45000";
constexpr int32_t kSeverityError = 2;
constexpr char kCorruptHierarchy[] =
    "Did not find the compound statement hierarchy entry. It is probably corrupt.";

// Checked reads of the program's tables and the storage's stack.
class Tables {
 public:
  explicit Tables(const ConditionRun& run) : run_(run) {}
  bool Has(int64_t position, int64_t count) const {
    return position >= 0 && position + count <= run_.program_words;
  }
  int32_t Word(int64_t position) const { return Has(position, 1) ? run_.program[position] : -1; }
  int32_t StackIndex() const { return Word(kDescCompoundStack); }
  std::span<int32_t> Storage() const {
    return std::span<int32_t>(run_.storage, static_cast<size_t>(run_.storage_words));
  }
  // The CSH row of compound `id`, -1 when the table has none.
  int32_t FindRow(int32_t id) const {
    int64_t row = Word(kDescCompoundHierarchy);
    for (int32_t n = 0; row > 0 && Has(row, kCshWords) && n < run_.program_words; ++n) {
      if (run_.program[row] == -1) return -1;
      if (run_.program[row + kCshId] == id) return static_cast<int32_t>(row);
      row += kCshWords;
    }
    return -1;
  }
  // The most rows a walk outward can pass: more means the surrounding
  // indexes run in a circle.
  int32_t MaxWalk() const { return run_.program_words / kCshWords + 1; }
  int32_t Surrounding(int32_t row) const {
    const int32_t next = Word(int64_t{row} + kCshSurrounding);
    return next > 0 && Has(next, kCshWords) ? next : -1;
  }
  int32_t* SavepointWord(int32_t row) const {
    const int32_t w = Word(int64_t{row} + kCshSavepoint);
    return w > 0 && w < run_.storage_words ? &run_.storage[w] : nullptr;
  }

 private:
  const ConditionRun& run_;
};

bool Matches(int32_t entry_kind, int32_t raise_kind) {
  return entry_kind == raise_kind || raise_kind == kRaiseRuntime ||
         (raise_kind == kRaiseStateAgain && entry_kind == kEhdEntrySqlstate) ||
         (raise_kind == kRaiseNameAgain && entry_kind == kEhdEntryCondition);
}

// The EHD of `row` that takes the condition: a matching entry beats a class,
// a later matching entry an earlier one. -1 when none.
int32_t SelectHandler(const Tables& t, int32_t row, int32_t value, int32_t kind, int32_t class_bit) {
  int32_t selected = -1;
  bool specific = false;
  int32_t ehd = t.Word(int64_t{row} + kCshFirstHandler);
  for (int32_t guard = 0; ehd > 0 && t.Has(ehd, kEhdEntries) && guard < 100000; ++guard) {
    const int32_t bits = t.Word(int64_t{ehd} + kEhdClass);
    const int32_t count = t.Word(int64_t{ehd} + kEhdCount);
    bool match = false;
    if ((bits & kEhdClassEntries) != 0 && count > 0 && t.Has(ehd, kEhdEntries + 2 * int64_t{count})) {
      for (int32_t i = 0; i < count && !match; ++i) {
        const int64_t e = int64_t{ehd} + kEhdEntries + 2 * i;
        match = t.Word(e + 1) == value && Matches(t.Word(e), kind);
      }
    }
    if (match) {
      selected = ehd;
      specific = true;
    } else if (selected == -1 && !specific && (bits & class_bit) != 0) {
      selected = ehd;
    }
    ehd = t.Word(int64_t{ehd} + kEhdNext);
  }
  return selected;
}

void RollBackMark(ConditionSite& site, ConditionRun& run, int32_t* word) {
  if (run.mark_id == 0 || run.recursive_depth != 0) return;
  const int32_t trv = site.RollbackToMark(run.mark_id);
  run.mark_id = 0;
  if (trv < 0) run.rvec_rcode = *word = trv;
}

int32_t TopFirst(const Tables& t, int32_t* id) {
  int32_t status = 0;
  stack5_top_first(&status, t.Storage(), t.StackIndex(), id);
  return status;
}

}  // namespace

void DSLeaveCompound(ConditionSite& site, ConditionRun& run, int32_t target, int32_t* word) {
  const Tables t(run);
  if (t.StackIndex() < 0) return;
  int32_t row = -1;
  bool first = true;
  for (;;) {
    int32_t item[5] = {}, status = 0;
    stack5_pop(&status, t.Storage(), t.StackIndex(), item);
    if (status != 0) return;
    if (item[0] < target) {
      stack5_push(&status, t.Storage(), t.StackIndex(), item);
      return;
    }
    int32_t atomic = 0;
    status = 0;
    stack5_top_fourth(&status, t.Storage(), t.StackIndex(), &atomic);
    site.EndCompound(item[0], status == 0 ? atomic : 0);
    row = first ? t.FindRow(item[0]) : (row > 0 ? t.Surrounding(row) : -1);
    first = false;
    int32_t* save = row > 0 ? t.SavepointWord(row) : nullptr;
    if (save != nullptr && *word < 0) {
      if (site.TransactionState() == 1 && *save != 0) {
        const int32_t trv = site.RollbackToMark(*save);
        if (trv < 0) run.rvec_rcode = *word = trv;
      }
      *save = 0;
    }
  }
}

int32_t DSCurCondition(ConditionSite& site, const ConditionRun& run, int32_t mode,
                       bool ended_empty, int32_t* value, char* state, int32_t* kind) {
  const Tables t(run);
  bool found = false;
  int32_t id = 0;
  if (t.StackIndex() >= 0 && TopFirst(t, &id) == 0) {
    int32_t row = t.FindRow(id);
    for (int32_t n = 0; row > 0 && t.Word(int64_t{row} + kCshType) != kCshHandlerBody; ++n)
      row = n < t.MaxWalk() ? t.Surrounding(row) : -1;
    if (row > 0) {
      int32_t status = 0;
      stack5_find(&status, t.Storage(), t.StackIndex(), t.Word(int64_t{row} + kCshId), value, kind);
      found = status == 0;
    }
  }
  if (!found) {
    if (mode != 0) return -1;
    *value = run.storage_words > 0 ? run.storage[kStateReturnCode] : 0;
    *kind = 0;
  }
  if (state != nullptr) {
    if (*kind != 0) {
      std::memcpy(state, "     ", 5);
    } else if (*value == 0 && ended_empty) {
      std::memcpy(state, "02000", 5);
    } else if (!IsPackedState(*value) || UnpackSqlState(*value, state) != 0) {
      site.SqlState(*value, state);
    }
  }
  return 0;
}

int32_t DSRaiseCondition(ConditionSite& site, ConditionRun& run, int32_t* word, int32_t kind) {
  const Tables t(run);
  int32_t v = *word;
  char s[6] = "     ";
  if (kind == kRaiseHandled) {
    int32_t handled_kind = 0;
    if (DSCurCondition(site, run, 1, false, &v, s, &handled_kind) != 0) {
      v = *word;
      handled_kind = kRaiseFailure;
      site.SqlState(v, s);
    }
    kind = handled_kind;
    if (kind == kRaiseConditionName) {
      std::memcpy(s, kUserState, 5);
      *word = kErrUserCondition;
    } else {
      *word = v;
    }
  } else if (kind == kRaiseConditionName || kind == kRaiseNameAgain) {
    std::memcpy(s, kUserState, 5);
    *word = kErrUserCondition;
  } else if (!IsPackedState(v)) {
    site.SqlState(v, s);
    if (PackSqlState(s, &v) != 0) v = *word;
  } else if (UnpackSqlState(v, s) != 0) {
    site.SqlState(v, s);
  }

  if (std::memcmp(s, "00000", 5) == 0) {
    site.Log(kSeverityError,
             "The SQLSTATE 00000 was sent to the exception handler. This is not expected.");
    return 1;
  }
  const bool warning = std::memcmp(s, "01", 2) == 0;
  const bool no_data = std::memcmp(s, "02", 2) == 0;
  const bool exception = !warning && !no_data;
  if (exception) run.pc = 0;

  int32_t exit = 0;
  bool handled = false;
  if (t.StackIndex() == -1) {
    if (exception) {
      run.rvec_rcode = *word;
      exit = 1;
      RollBackMark(site, run, word);
    }
  } else {
    int32_t id = 0, row = -1;
    const bool stacked = TopFirst(t, &id) == 0 && id != 0 && *word != kErrCancelled;
    if (stacked) {
      row = t.FindRow(id);
      if (row < 0) {
        site.Log(kSeverityError, kCorruptHierarchy);
        return 1;
      }
    }
    const int32_t class_bit =
        no_data ? kEhdClassNoData : (warning ? kEhdClassWarning : kEhdClassAnyException);
    int32_t levels = 0, ehd = -1;
    const int32_t first_row = row;
    while (row > 0) {
      if (levels > t.MaxWalk()) {
        site.Log(kSeverityError, kCorruptHierarchy);
        return 1;
      }
      ehd = SelectHandler(t, row, v, kind, class_bit);
      if (ehd > 0) break;
      const bool body = t.Word(int64_t{row} + kCshType) == kCshHandlerBody;
      row = t.Surrounding(row);
      ++levels;
      if (body && row > 0) {
        row = t.Surrounding(row);
        ++levels;
      }
    }
    if (ehd > 0) {
      handled = true;
      run.pc = run.handler = t.Word(int64_t{ehd} + kEhdAddress);
      const int32_t type = t.Word(int64_t{ehd} + kEhdType);
      int32_t continuation = 0;
      if ((type == kHandlerUndo || type == kHandlerExit) && levels > 0) {
        int32_t walk = first_row;
        for (int32_t i = 0; i < levels; ++i) {
          int32_t item[5] = {}, status = 0;
          stack5_pop(&status, t.Storage(), t.StackIndex(), item);
          if (status != 0) break;
          continuation = item[4];
          int32_t* save = walk > 0 ? t.SavepointWord(walk) : nullptr;
          if (type == kHandlerUndo && item[3] > 0 && save != nullptr && *save != 0) {
            const int32_t trv = site.RollbackToMark(*save);
            *save = 0;
            if (trv < 0) {
              run.rvec_rcode = *word = trv;
              return 1;
            }
          }
          walk = walk > 0 ? t.Surrounding(walk) : -1;
        }
      }
      const int32_t item[5] = {-1, continuation, v, 0, kind};
      int32_t status = 0;
      stack5_push(&status, t.Storage(), t.StackIndex(), item);
    } else if (exception) {
      DSLeaveCompound(site, run, 0, word);
      run.rvec_rcode = *word;
      exit = 1;
      RollBackMark(site, run, word);
    }
  }

  if (site.TransactionScope() != 3 && (handled || exception) &&
      !(kind == kRaiseRuntime && site.HasDiagnostics())) {
    const int32_t mode = kind == kRaiseStateAgain || kind == kRaiseNameAgain ? 1 : 0;
    site.Record(*word, v, s, kind, mode);
  }
  if (exit == 0) *word = 0;
  return exit;
}

}  // namespace interp
