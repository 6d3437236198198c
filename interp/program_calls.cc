// Program calls and cursors: CAL, OPN and CLO, recursive copies of a
// statement, the parameter copies between caller and callee, and the end
// of a program (see exec_stm.h).
#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "du/transactions.h"
#include "du/upper_services.h"
#include "interp/diagnostics.h"
#include "interp/exec_runtime.h"
#include "interp/exec_stm.h"
#include "interp/program_layout.h"
#include "kernel/control_blocks.h"
#include "kernel/error_report.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "platform/numeric_services.h"

namespace interp {
namespace {

constexpr int32_t kMaxChain = 1 << 16;
constexpr int32_t kMaxWalkDepth = 1000;
constexpr int32_t kNameBytes = 128;
constexpr int32_t kScopeNoDiagnostics = 3;
constexpr int32_t kOpenModeBegins = 3;

bool IsRoutine(int32_t type) {
  return type == kCsdProcedure || type == kCsdAtomic || type == kCsdTrigger;
}
bool IsCursor(int32_t type) {
  return type == kCsdCursor || type == kCsdScrollableCursor;
}

// The bytes of a program's storage.
std::span<uint8_t> Bytes(int32_t* base, const StmProgram& p) {
  return std::span<uint8_t>(reinterpret_cast<uint8_t*>(&Wd(base, p.stg, 0)),
                            static_cast<size_t>(p.storage_words) * 4);
}
bool Fits(std::span<uint8_t> area, int64_t offset, int64_t length) {
  return offset >= 0 && length >= 0 && offset + length <= static_cast<int64_t>(area.size());
}
// Copies `length` bytes between two storage areas; nothing when either
// range leaves its area.
void CopyBytes(std::span<uint8_t> to, int64_t to_offset, std::span<uint8_t> from,
               int64_t from_offset, int64_t length) {
  if (length <= 0 || !Fits(to, to_offset, length) || !Fits(from, from_offset, length)) return;
  std::memmove(to.data() + to_offset, from.data() + from_offset, static_cast<size_t>(length));
}

// A caller-side parameter row (chained in the caller's descriptor) and a
// callee-side item (a vector in the callee's descriptor).
struct Row {
  int32_t at, offset, length;
};
bool ReadRow(int32_t* base, const StmProgram& p, int32_t at, Row* row) {
  if (at < kDescriptorWords || int64_t{at} + kCallParameterWords > p.sd_words) return false;
  *row = {at, SdWord(base, p, at + 1), SdWord(base, p, int64_t{at} + 2)};
  return true;
}
int32_t NextRow(int32_t* base, const StmProgram& p, const Row& row) {
  return SdWord(base, p, row.at);
}
struct Item {
  int32_t offset = -1, length = 0;
};
Item ReadItem(int32_t* base, const StmProgram& p, int32_t list, int32_t index) {
  const int64_t at = int64_t{list} + int64_t{kParameterEntryWords} * index;
  if (list < kDescriptorWords || at + kParameterEntryWords > p.sd_words) return {};
  return {SdWord(base, p, at), SdWord(base, p, at + 1)};
}

// Input parameters: each caller row's bytes into the callee's item of the
// same rank, never more than the item holds.
void CopyInputs(int32_t* base, const StmProgram& caller, int32_t first_row,
                const StmProgram& callee) {
  const int32_t list = SdWord(base, callee, kDescInputStart);
  Row row{};
  int32_t at = first_row;
  for (int32_t i = 0; i < kMaxChain && ReadRow(base, caller, at, &row); ++i) {
    const Item item = ReadItem(base, callee, list, i);
    if (item.offset < 0) return;
    CopyBytes(Bytes(base, callee), item.offset, Bytes(base, caller), row.offset,
              std::min(row.length, item.length));
    at = NextRow(base, caller, row);
  }
}

// Output parameters: the callee's items in order into the caller's rows; a
// row shorter than what is left of the item takes the next bytes of it, an
// equal row ends the item, a longer row receives nothing (and the next row
// goes on with the next item).
void CopyOutputs(int32_t* base, const StmProgram& callee, const StmProgram& caller,
                 int32_t first_row) {
  const int32_t list = SdWord(base, callee, kDescOutputStart);
  int32_t index = 0, used = 0;
  Row row{};
  int32_t at = first_row;
  for (int32_t n = 0; n < kMaxChain && ReadRow(base, caller, at, &row); ++n) {
    const Item item = ReadItem(base, callee, list, index);
    if (item.offset < 0) return;
    const int64_t left = int64_t{item.length} - used;
    if (row.length < left) {
      CopyBytes(Bytes(base, caller), row.offset, Bytes(base, callee), int64_t{item.offset} + used,
                row.length);
      used += std::max(row.length, 0);
    } else {
      if (row.length == left)
        CopyBytes(Bytes(base, caller), row.offset, Bytes(base, callee),
                  int64_t{item.offset} + used, row.length);
      ++index;
      used = 0;
    }
    at = NextRow(base, caller, row);
  }
}

// The CSDSTG of `csd` (a kernel index of a CSD row) in `caller`'s storage.
int32_t CsdStorage(int32_t* base, const StmProgram& caller, int32_t csd) {
  if (!InStorage(base, csd, kCsdWords)) return 0;
  return StorageWords(caller, Wd(base, csd, kCsdStorage), kCsWords);
}

// Links `prepared` to `caller` through `csd`: its old caller forgets it.
void Link(int32_t* base, int32_t prepared, int32_t caller, int32_t csd) {
  const int32_t old = Wd(base, prepared, STM_CALLING_STM);
  if (old != 0) {
    StmProgram o;
    if (LoadProgram(base, old, &o)) {
      const int32_t cs = CsdStorage(base, o, Wd(base, prepared, STM_CALLING_CSD));
      if (cs != 0 && Wd(base, cs, kCsOpen) == prepared) Wd(base, cs, kCsOpen) = 0;
    }
  }
  Wd(base, prepared, STM_CALLING_STM) = caller;
  Wd(base, prepared, STM_STATUS) = kStmLinked;
  Wd(base, prepared, STM_CALLING_CSD) = csd;
}

bool Unchain(int32_t* base, int32_t head, int32_t stm) {
  int32_t at = head;
  for (int32_t n = 0; n < kMaxChain && Wd(base, at, 0) != 0; ++n) {
    const int32_t next = Wd(base, at, 0);
    if (next == stm) {
      Wd(base, at, 0) = Wd(base, stm, STM_NEXT);
      return true;
    }
    if (!InStorage(base, next, STM_WORDS)) return false;
    at = next + STM_NEXT;
  }
  return false;
}

void FreeCopyBlocks(int32_t* base, int32_t copy, int32_t storage) {
  const int32_t lvl = Wd(base, copy, STM_LVL);
  if (InStorage(base, lvl, LVL_WORDS)) Unchain(base, lvl + LVL_STM, copy);
  if (storage != 0) DSGetMem(base, &storage, 0);
  DSGetMem(base, &copy, 0);
}

// Lowers the count of live copies of `prepared`.
void DropDepth(int32_t* base, int32_t prepared) {
  if (!IsStatement(base, prepared)) return;
  const int32_t com = Wd(base, prepared, STM_ACTIVE_COM);
  if (InStorage(base, com, kComMarkId + 1) && Wd(base, com, kComRecursiveDepth) > 0)
    --Wd(base, com, kComRecursiveDepth);
}

// Unlinks and releases a recursive copy; the count of `prepared` drops.
void ReleaseCopy(int32_t* base, int32_t usr, int32_t copy, int32_t prepared) {
  UnlinkStatement(base, usr, copy);
  DropDepth(base, prepared);
  FreeCopyBlocks(base, copy, Wd(base, copy, STM_STG));
}

// A recursive copy of `prepared` called from `running`: 0 with *copy.
int32_t RecursiveCopy(int32_t* base, int32_t usr, int32_t running, int32_t prepared,
                      int32_t* copy) {
  StmProgram pp;
  if (!LoadProgram(base, prepared, &pp)) return kErrNoCalled;
  int32_t& depth = Wd(base, pp.com, kComRecursiveDepth);
  if (depth >= kMaxRecursion) return kErrTooDeep;
  int32_t block = 0, storage = 0;
  DSGetMem(base, &block, STM_BYTES);
  if (block == 0) return SQLPOOL_EXHAUSTED_ERROR;
  DSGetMemRaw(base, &storage, pp.storage_words * 4);
  if (storage == 0) {
    DSGetMem(base, &block, 0);
    return SQLPOOL_EXHAUSTED_ERROR;
  }
  ++depth;
  std::memcpy(&Wd(base, storage, 0), &Wd(base, pp.stg, 0), static_cast<size_t>(pp.storage_words) * 4);
  // The copy calls and opens nothing yet: the statements the prepared
  // statement's own call words hold are not the copy's.
  StmProgram cp = pp;
  cp.stg = storage;
  int64_t row = SdWord(base, cp, kDescCallStatus);
  for (; row >= kDescriptorWords && row + kCsdWords <= cp.sd_words; row += kCsdWords) {
    if (SdWord(base, cp, row + kCsdType) < 0) break;
    const int32_t cs = StorageWords(cp, SdWord(base, cp, row + kCsdStorage), kCsWords);
    if (cs != 0) Wd(base, cs, kCsOpen) = 0;
  }
  std::memcpy(&Wd(base, block, 0), &Wd(base, prepared, 0), STM_WORDS * 4);
  std::memcpy(&Wd(base, block, STM_NEXT_COM), &Wd(base, pp.com, 0), (kComMarkId + 1) * 4);
  // What belongs to the prepared statement alone is not copied.
  for (int32_t f : {STM_LTRS, STM_TP, STM_CHA_WHEN_REQUEUED, STM_NEXT})
    Wd(base, block, f) = 0;
  Wd(base, block, STM_STATUS) = kStmLinked;
  const int32_t lvl = Wd(base, usr, USR_LVL);
  Wd(base, block, STM_LVL) = lvl;
  if (InStorage(base, lvl, LVL_WORDS)) {
    Wd(base, block, STM_NEXT) = Wd(base, lvl, LVL_STM);
    Wd(base, lvl, LVL_STM) = block;
  }
  Wd(base, block, STM_ACTIVE_COM) = block + STM_NEXT_COM;
  Wd(base, block, STM_STG) = storage;
  const int32_t rc = BindStatement(base, usr, block);
  if (rc != 0) {
    --depth;
    FreeCopyBlocks(base, block, storage);
    return rc;
  }
  Wd(base, block, STM_NEXT_COM) = 0;
  Wd(base, block, STM_RECURSIVE_STM) = running;
  *copy = block;
  return 0;
}

// The current user kept at descriptor word 20's offset: a length word and
// the name; false when the program keeps none.
bool UserFromDescriptor(int32_t* base, int32_t usr, const StmProgram& p) {
  const int32_t at = SdWord(base, p, kDescCurrentUser);
  if (at <= 0) return false;
  const int32_t length = SdWord(base, p, at);
  if (length < 0 || length > kNameBytes || int64_t{at} + 1 + (length + 3) / 4 > p.sd_words)
    return false;
  char* name = reinterpret_cast<char*>(&Wd(base, usr, USR_CURRENT_USER));
  std::memset(name, ' ', kNameBytes);
  std::memcpy(name, &Wd(base, p.sd, at + 1), static_cast<size_t>(length));
  Wd(base, usr, USR_CURRENT_USER_LENGTH) = length;
  return true;
}

int32_t CallerOf(int32_t* base, int32_t stm) {
  const int32_t com = Wd(base, stm, STM_ACTIVE_COM);
  const int32_t recursive = InStorage(base, com, kComMarkId + 1) ? Wd(base, com, kComRecursiveStm) : 0;
  return recursive != 0 ? recursive : Wd(base, stm, STM_CALLING_STM);
}

// Whether `stm` is `running` or a statement up its chain of callers.
bool OnCallerChain(int32_t* base, int32_t stm, int32_t running) {
  if (stm == 0) return false;
  int32_t at = running;
  for (int32_t n = 0; n < kMaxChain && IsStatement(base, at); ++n, at = CallerOf(base, at))
    if (at == stm) return true;
  return false;
}

void RestoreUser(int32_t* base, int32_t usr, const StmProgram& caller) {
  if (UserFromDescriptor(base, usr, caller)) return;
  StmProgram outer;
  if (LoadProgram(base, CallerOf(base, caller.stm), &outer) && UserFromDescriptor(base, usr, outer))
    return;
  char* name = reinterpret_cast<char*>(&Wd(base, usr, USR_CURRENT_USER));
  std::memset(name, ' ', kNameBytes);
  const int32_t lvl = Wd(base, usr, USR_LVL);
  if (InStorage(base, lvl, LVL_WORDS)) std::memcpy(name, &Wd(base, lvl, LVL_NAME), kNameBytes);
  int32_t length = kNameBytes;
  while (length > 0 && name[length - 1] == ' ') --length;
  Wd(base, usr, USR_CURRENT_USER_LENGTH) = length;
}

void LogNoStatement() {
  static constexpr char kText[] = "There was no STM structure for the calling program specified.";
  StatusPair st{};
  const int32_t items[1] = {static_cast<int32_t>(sizeof kText - 1)};
  DSLogMsg(&st, SEV_WARNING, kText, nullptr, items, 1);
}

// The positioned reference of a CSD: the cursor it names must stand on a row.
int32_t CheckPositioned(int32_t* base, int32_t usr, const StmProgram& caller, int32_t csd,
                        int32_t called) {
  const int32_t ref_offset = Wd(base, csd, kCsdWhereCurrent);
  if (ref_offset == -1) return 0;
  const int32_t ref = StorageWords(caller, ref_offset, kCsWords);
  if (ref == 0) return kErrWrongState;
  const int32_t cursor = Wd(base, ref, kCsOpen);
  StmProgram c;
  if (!LoadProgram(base, cursor, &c)) return kErrWrongState;
  if (Wd(base, ref, kCsEnd) == 2) {
    const int32_t type = SdWord(base, c, kDescType);
    if (type != 57 && type != 58 && type != 59 && type != kProgCall85) return kErrWrongState;
  }
  const int32_t status = Wd(base, cursor, STM_STATUS);
  if ((status != kStmRunning && status != kStmEnded) || Wd(base, ref, kCsOnRow) == 0)
    return kErrWrongState;
  return CheckStatementPair(base, usr, cursor, called);
}

// Makes `called` the running statement (CAL step of the switch).
void Switch(int32_t* base, int32_t* pb, int32_t type, const StmProgram& callee) {
  const int32_t usr = pb[kExecUsr];
  const int32_t id = SdWord(base, callee, kDescSectionId);
  pb[kExecStm] = callee.stm;
  if (type == kCsdTrigger) {
    Wd(base, usr, USR_CURRENT_TRIGGER_SYSID) = id;
    Wd(base, callee.stm, STM_VISIBILITY) = Wd(base, usr, USR_TRANSACTION_VIEW);
    Wd(base, usr, USR_TRANSACTION_VIEW) = 2;
  } else if ((type == kCsdProcedure || type == kCsdAtomic) && id > 255) {
    Wd(base, usr, USR_CURRENT_ROUTINE_SYSID) = id;
  }
  pb[kExecResult] = pb[kExecPc] = pb[kExecRows] = pb[kExecBit7] = 0;
  Wd(base, usr, USR_RVEC_RCODE) = 0;
  if (type == kCsdAtomic) {
    Wd(base, callee.com, kComAtomic) = Wd(base, usr, USR_ATOMIC);
    Wd(base, usr, USR_ATOMIC) = -1;
  }
  UserFromDescriptor(base, usr, callee);
}

// The CSD row (kernel index) whose CSDSTG lies at storage word `offset`.
int32_t FindCsd(int32_t* base, const StmProgram& p, int32_t offset) {
  int64_t row = SdWord(base, p, kDescCallStatus);
  for (; row >= kDescriptorWords && row + kCsdWords <= p.sd_words; row += kCsdWords) {
    if (SdWord(base, p, row + kCsdType) < 0) return 0;
    if (SdWord(base, p, row + kCsdStorage) == offset) return static_cast<int32_t>(p.sd + row);
  }
  return 0;
}

// Ends the work of a statement a close leaves: STATUS 5.
int32_t EndWork(int32_t* base, int32_t usr, int32_t stm) {
  const int32_t rc = DUStatementWorkEnd(base, usr, stm);
  Wd(base, stm, STM_STATUS) = kStmDone;
  return rc;
}

// The statements `owner`'s CSDSTGs hold, depth first: a -1 word 0 is
// cleared, a statement's work ended; with `release` (the closed cursor was a
// recursive copy) each is released and its word cleared. `seen` holds the
// statements the walk has reached: one that two words name, or that a
// damaged chain leads back to, is handled once.
void CloseCalled(int32_t* base, int32_t usr, int32_t owner, bool release,
                 std::vector<int32_t>* seen, int32_t* first) {
  StmProgram p;
  if (static_cast<int32_t>(seen->size()) > kMaxWalkDepth || !LoadProgram(base, owner, &p)) return;
  int64_t row = SdWord(base, p, kDescCallStatus);
  for (; row >= kDescriptorWords && row + kCsdWords <= p.sd_words; row += kCsdWords) {
    if (SdWord(base, p, row + kCsdType) < 0) return;
    const int32_t cs = StorageWords(p, SdWord(base, p, row + kCsdStorage), kCsWords);
    if (cs == 0) continue;
    const int32_t held = Wd(base, cs, kCsOpen);
    if (held == -1) {
      Wd(base, cs, kCsOpen) = 0;
      continue;
    }
    // Only statements this one called: a word naming anything else is left.
    if (std::find(seen->begin(), seen->end(), held) != seen->end() ||
        !IsStatement(base, held) || CallerOf(base, held) != owner)
      continue;
    seen->push_back(held);
    if (Wd(base, held, STM_STATUS) != kStmDone) {
      const int32_t rc = EndWork(base, usr, held);
      if (*first == 0 && rc < 0) *first = rc;
    }
    CloseCalled(base, usr, held, release, seen, first);
    if (release) {
      ReleaseCopy(base, usr, held, Wd(base, cs, kCsPrepared));
      Wd(base, cs, kCsOpen) = 0;
    }
  }
}

}  // namespace

int32_t DSCallProgram(int32_t* base, int32_t* pb, int32_t csd_offset) {
  const int32_t usr = pb[kExecUsr], running = pb[kExecStm];
  StmProgram caller;
  if (!LoadProgram(base, running, &caller)) return KERNEL_BAD_PARAMETER;
  if (csd_offset < kDescriptorWords || int64_t{csd_offset} + kCsdWords > caller.sd_words)
    return kErrBadOperand;
  const int32_t csd = caller.sd + csd_offset;
  const int32_t type = Wd(base, csd, kCsdType);
  const int32_t cs = CsdStorage(base, caller, csd);
  if (cs == 0) return kErrBadOperand;
  const bool recursive =
      Wd(base, caller.com, kComRecursiveStm) != 0 || Wd(base, csd, kCsdRecursive) != 0;
  if (IsRoutine(type)) {
    const int32_t prepared = Wd(base, cs, kCsPrepared);
    if (!recursive) {
      const int32_t held = Wd(base, cs, kCsOpen);
      if (OnCallerChain(base, held != 0 ? held : prepared, running)) return kErrWrongState;
      if (held == 0) {
        if (IsStatement(base, prepared)) Link(base, prepared, running, csd);
        Wd(base, cs, kCsOpen) = prepared;
      }
    } else {
      int32_t copy = 0;
      const int32_t rc = RecursiveCopy(base, usr, running, prepared, &copy);
      if (rc == kErrNoCalled) LogNoStatement();
      if (rc != 0) return rc;
      Wd(base, cs, kCsOpen) = copy;
    }
  } else if (!IsCursor(type) || Wd(base, cs, kCsOpen) == 0) {
    return kErrWrongState;
  }
  const int32_t called = Wd(base, cs, kCsOpen);
  StmProgram callee;
  if (!LoadProgram(base, called, &callee)) {
    LogNoStatement();
    return kErrNoCalled;
  }
  if (IsCursor(type)) {
    int32_t& end = Wd(base, cs, kCsEnd);
    if (type == kCsdCursor && end != 0 && end != 2) {
      end = 2;
      return 100;
    }
    const int32_t status = Wd(base, called, STM_STATUS);
    if (status != kStmCalled && status != kStmRunning) return kErrWrongState;
  }
  if (const int32_t rc = CheckPositioned(base, usr, caller, csd, called); rc != 0) return rc;
  Wd(base, called, STM_CALLING_CSD) = csd;
  CopyInputs(base, caller, Wd(base, csd, kCsdInput), callee);
  if (IsRoutine(type)) {
    Wd(base, called, STM_STATUS) = kStmCalled;
    Wd(base, called, STM_CURSOR_ORDER_NUMBER) = DSNextCursorOrder(base, usr);
  }
  Switch(base, pb, type, callee);
  return 0;
}

void DSReturnFromProgram(int32_t* base, int32_t* done, int32_t* pb, int32_t action,
                         bool outermost) {
  const int32_t usr = pb[kExecUsr], stm = pb[kExecStm];
  StmProgram callee;
  if (!LoadProgram(base, stm, &callee)) {
    *done = 1;
    return;
  }
  const int32_t saved_atomic = Wd(base, callee.com, kComAtomic);
  Wd(base, callee.com, kComAtomic) = 0;
  Wd(base, callee.com, kComMarkId) = 0;
  const int32_t recursive = Wd(base, callee.com, kComRecursiveStm);
  StmProgram caller;
  // A recursive copy of the outermost program keeps its CALLING_STM 0: it
  // returns to the statement that made it all the same.
  if (outermost || !LoadProgram(base, CallerOf(base, stm), &caller)) {
    *done = 1;
    if (action == kActionEnd) Wd(base, stm, STM_STATUS) = kStmDone;
    Wd(base, usr, USR_ATOMIC) = 0;
    if (pb[kExecResult] < 0 && Wd(base, usr, USR_TOTAL_ERROR_COUNT) == 0 &&
        DSGetTransScope(base, usr) != kScopeNoDiagnostics) {
      char state[5];
      SqlStateOf(pb[kExecResult], state);
      DSAddCondition(base, usr, pb[kExecResult], kRaiseFailure, 0, state, TriggerOf(base, stm));
    }
    return;
  }
  const int32_t csd = Wd(base, stm, STM_CALLING_CSD);
  const int32_t type = InStorage(base, csd, kCsdWords) ? Wd(base, csd, kCsdType) : 0;
  const int32_t cs = CsdStorage(base, caller, csd);
  const int32_t prepared = cs != 0 ? Wd(base, cs, kCsPrepared) : 0;
  if (type == kCsdScrollableCursor) {
    Row row{};
    const Item item = ReadItem(base, callee, SdWord(base, callee, kDescInputStart), 0);
    if (item.offset >= 0 && ReadRow(base, caller, Wd(base, csd, kCsdInput), &row))
      CopyBytes(Bytes(base, caller), row.offset, Bytes(base, callee), item.offset,
                std::min(row.length, item.length));
  }
  const int32_t end_kind = Wd(base, callee.stg, kStateEndKind);
  const bool normal = end_kind == 1 || end_kind == 3;
  if (normal && type != 0) CopyOutputs(base, callee, caller, Wd(base, csd, kCsdOutput));
  Wd(base, caller.stg, kStateEndKind) = end_kind;
  Wd(base, caller.stg, kStateCallResult) =
      IsRoutine(type) ? Wd(base, callee.stg, kStateRowCounter) : (normal ? 1 : 0);
  const int32_t visibility = Wd(base, stm, STM_VISIBILITY);
  if (IsRoutine(type)) {
    DUStatementWorkEnd(base, usr, stm);
    if (recursive != 0) {
      // What the copy still holds (cursors it left open, their copies) is
      // ended and released with it: its storage, which names them, goes.
      int32_t first = 0;
      std::vector<int32_t> seen{stm};
      CloseCalled(base, usr, stm, true, &seen, &first);
      ReleaseCopy(base, usr, stm, prepared);
      if (cs != 0) Wd(base, cs, kCsOpen) = 0;
    }
  }
  if (visibility == 3) Wd(base, usr, USR_TRANSACTION_VIEW) = 3;
  pb[kExecStm] = caller.stm;
  pb[kExecPc] = pb[kExecRows] = pb[kExecBit7] = 0;
  // The caller's own context.
  const int32_t outer_csd = Wd(base, caller.stm, STM_CALLING_CSD);
  const int32_t outer_type = CallerOf(base, caller.stm) != 0 && InStorage(base, outer_csd, kCsdWords)
                                 ? Wd(base, outer_csd, kCsdType)
                                 : 0;
  const int32_t id = SdWord(base, caller, kDescSectionId);
  Wd(base, usr, USR_CURRENT_TRIGGER_SYSID) = outer_type == kCsdTrigger ? id : 0;
  Wd(base, usr, USR_CURRENT_ROUTINE_SYSID) =
      outer_type == kCsdProcedure || outer_type == kCsdAtomic ? id : 0;
  RestoreUser(base, usr, caller);
  const int32_t stack = SdWord(base, caller, kDescCompoundStack);
  int32_t atomic = 0;
  if (stack == -1) {
    atomic = outer_type == kCsdAtomic ? saved_atomic : 0;
  } else if (stack >= 0 && stack < caller.storage_words) {
    int32_t status = 0;
    std::span<int32_t> words(&Wd(base, caller.stg, 0), static_cast<size_t>(caller.storage_words));
    stack5_top_fourth(&status, words, stack, &atomic);
    if (status != 0) atomic = 0;
  }
  Wd(base, usr, USR_ATOMIC) = atomic;
}

int32_t DSOpenCursor(int32_t* base, int32_t* pb, int32_t offset) {
  const int32_t usr = pb[kExecUsr], running = pb[kExecStm];
  StmProgram p;
  if (!LoadProgram(base, running, &p)) return KERNEL_BAD_PARAMETER;
  const int32_t cs = StorageWords(p, offset, kCsWords);
  if (cs == 0) return kErrBadOperand;
  const int32_t open = Wd(base, cs, kCsOpen);
  if (open == -1) return DSGetTransState(base, usr) != 0 ? kErrWrongState : 0;
  if (open != 0) {
    if (!IsStatement(base, open)) return kErrWrongState;
    const int32_t status = Wd(base, open, STM_STATUS);
    if (status == kStmCalled || status == kStmRunning || status == kStmEnded) return kErrWrongState;
    if (status == kStmClosePending) DSCloseCursor(base, pb, cs);
  }
  int32_t rc = 0;
  if (Wd(base, cs, kCsOpenMode) == kOpenModeBegins && DSGetTransState(base, usr) == 0 &&
      Wd(base, usr, USR_TRANSACTION_START) == 1) {
    int32_t request[2] = {1, usr};
    DSBTR3(base, request);
    if (request[0] < 0) rc = request[0];
  }
  const int32_t csd = FindCsd(base, p, offset);
  const bool recursive = (csd != 0 && Wd(base, csd, kCsdRecursive) != 0) ||
                         Wd(base, p.com, kComRecursiveStm) != 0;
  const int32_t prepared = Wd(base, cs, kCsPrepared);
  if (!recursive) {
    if (prepared == 0) {
      Wd(base, cs, kCsOpen) = -1;
      return rc;
    }
    if (Wd(base, cs, kCsOpen) == 0) {
      if (IsStatement(base, prepared)) Link(base, prepared, running, csd);
      Wd(base, cs, kCsOpen) = prepared;
    }
  } else {
    int32_t copy = 0;
    const int32_t made = RecursiveCopy(base, usr, running, prepared, &copy);
    if (made != 0) return made;
    Wd(base, copy, STM_CALLING_CSD) = csd;
    Wd(base, cs, kCsOpen) = copy;
  }
  StmProgram cursor;
  if (!LoadProgram(base, Wd(base, cs, kCsOpen), &cursor)) {
    LogNoStatement();
    return kErrNoCalled;
  }
  Wd(base, cursor.stg, kStateRowCounter) = 0;
  Wd(base, cursor.stm, STM_PC) = 2;
  Wd(base, cursor.stm, STM_STATUS) = kStmRunning;
  Wd(base, cursor.stm, STM_CURSOR_ORDER_NUMBER) = DSNextCursorOrder(base, usr);
  for (int32_t w = 2; w <= 5; ++w) Wd(base, cs, w) = 0;
  return rc;
}

int32_t DSCloseCursor(int32_t* base, int32_t* pb, int32_t cs) {
  const int32_t usr = pb[kExecUsr];
  const int32_t open = Wd(base, cs, kCsOpen);
  if (open == 0) return kErrWrongState;
  if (open == -1) {
    if (Wd(base, usr, USR_TRANSACTION_ENDED) >= 1) return kErrWrongState;
    Wd(base, cs, kCsOpen) = 0;
    return 0;
  }
  StmProgram cursor;
  if (!LoadProgram(base, open, &cursor)) return kErrWrongState;
  const int32_t status = Wd(base, open, STM_STATUS);
  int32_t rc = status >= kStmDone && status <= 9 ? kErrWrongState : 0;
  const bool copy = Wd(base, cursor.com, kComRecursiveStm) != 0;
  if (copy) Wd(base, cs, kCsOpen) = 0;
  if (status != kStmDone) {
    const int32_t ended = EndWork(base, usr, open);
    if (rc == 0 && ended < 0) rc = ended;
    int32_t first = 0;
    std::vector<int32_t> seen{open};
    CloseCalled(base, usr, open, copy, &seen, &first);
    if (rc == 0) rc = first;
  }
  if (copy) ReleaseCopy(base, usr, open, Wd(base, cs, kCsPrepared));
  return rc;
}

}  // namespace interp
