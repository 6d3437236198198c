// Conditions raised in a running program: SQLSTATE packing, the search of
// the program's handler tables along the compound-statement stack, the
// savepoint rollbacks of the compounds a handler or an unhandled exception
// leaves, and the handled condition a handler body asks for.
#pragma once

#include <cstdint>

namespace interp {

// A condition value below this is a packed SQLSTATE, else a native code.
inline constexpr int32_t kPackedStateLimit = -1073741824;
inline constexpr int32_t kErrUserCondition = -14044;  // SQLSTATE "45000"

// Raise kinds (the argument of the raise action).
enum RaiseKind : int32_t {
  kRaiseFailure = 0,
  kRaiseConditionName = 1,
  kRaiseStateAgain = 2,
  kRaiseNameAgain = 3,
  kRaiseHandled = 4,
  kRaiseRuntime = 5,
};

// Handler types of an exception handler descriptor.
enum HandlerType : int32_t { kHandlerUndo = 1, kHandlerContinue = 2, kHandlerExit = 3 };

inline bool IsPackedState(int32_t value) {
  return value < kPackedStateLimit;
}
// Five characters (digits, letters of either case) into a packed SQLSTATE;
// status 0, or -1 at any other character (*out untouched).
int32_t PackSqlState(const char* state, int32_t* out);
// The five characters (upper case) of a packed SQLSTATE; status 0, or -1 for
// a word that is not one (nothing written).
int32_t UnpackSqlState(int32_t packed, char* state);

// What a raise needs of the services around the interpreter: the request
// layer's SQLSTATE derivation, record access's rollback to a mark, the
// cursor closes of an ended compound, the log and the diagnostics area.
class ConditionSite {
 public:
  virtual ~ConditionSite() = default;
  virtual void SqlState(int32_t rc, char* state) = 0;
  // Rolls the transaction back to `mark`; the transaction's TRV_COND after it.
  virtual int32_t RollbackToMark(int32_t mark) = 0;
  virtual int32_t TransactionState() = 0;
  virtual int32_t TransactionScope() = 0;
  // The compound `id` ended: close its cursors; `atomic` the new top item's
  // atomic flag (0 for an empty stack).
  virtual void EndCompound(int32_t id, int32_t atomic) = 0;
  virtual void Log(int32_t severity, const char* text) = 0;
  virtual bool HasDiagnostics() = 0;
  // Records the condition: mode 0 replaces the diagnostics, 1 adds to them.
  virtual void Record(int32_t result, int32_t value, const char* state, int32_t kind,
                      int32_t mode) = 0;
};

// The running program and the words a raise reads and changes.
struct ConditionRun {
  const int32_t* program = nullptr;  // section descriptor at word 0
  int32_t program_words = 0;
  int32_t* storage = nullptr;  // storage word k + 1 is storage[k]
  int32_t storage_words = 0;
  int32_t pc = 0;            // the statement's position: where the program resumes
  int32_t handler = 0;       // the handler's first position when one was found
  int32_t rvec_rcode = 0;    // the session's result code
  int32_t mark_id = 0;       // the program record's mark (0 none)
  int32_t recursive_depth = 0;
};

// Raises the condition in *word (a native code or a packed SQLSTATE, or a
// condition identifier for kinds 1 and 3). Returns 1 when the run ends with
// *word as its result; else *word is 0 and the program resumes at run.pc.
int32_t DSRaiseCondition(ConditionSite& site, ConditionRun& run, int32_t* word, int32_t kind);

// The condition the innermost active handler handles: its value and kind
// (mode 0 without one: the storage's return code, kind 0) and, when `state`
// is not null, its SQLSTATE (blanks for a kind other than 0). `ended_empty`:
// the program ended with exit sub-code 2 or 4 (a zero value then is "02000").
// Returns 0, or -1 when mode 1 finds no handled condition.
int32_t DSCurCondition(ConditionSite& site, const ConditionRun& run, int32_t mode,
                       bool ended_empty, int32_t* value, char* state, int32_t* kind);

// Leaves the compounds down to `target` (0: all of them) with the condition
// *word in progress (a negative *word rolls each left compound's savepoint
// back); a failed rollback becomes *word and run.rvec_rcode.
void DSLeaveCompound(ConditionSite& site, ConditionRun& run, int32_t target, int32_t* word);

}  // namespace interp
