// What the runtime's files share: the program record of a statement and
// the blocks it names, checked against the word storage; the condition site
// over the kernel, record access and the request layer; the service calls
// that answer -19040 when nobody installed them.
#pragma once

#include <cstdint>

#include "interp/conditions.h"

namespace interp {

// Words of a program record from ACTIVE_COM (the statement's own begins at
// its NEXT_COM field).
enum ProgramRecordWord : int32_t {
  kComNext = 0,
  kComSd = 1,
  kComPgm = 2,
  kComStg = 3,
  kComRecursiveStm = 8,
  kComRecursiveDepth = 9,
  kComAtomic = 11,
  kComMarkId = 12,
};

// CSDSTG words (in the caller's storage).
enum CsdStorageWord : int32_t {
  kCsOpen = 0,      // the statement open or called (0 none, -1 no statement)
  kCsPrepared = 1,  // the prepared statement of the called program
  kCsEnd = 3,       // end of data: 0, reached, 2 reported
  kCsOnRow = 4,
  kCsOpenMode = 6,
};
inline constexpr int32_t kCsWords = 7;

// Statement states.
enum StmStatus : int32_t {
  kStmLinked = 1,
  kStmCalled = 2,
  kStmRunning = 3,
  kStmEnded = 4,
  kStmDone = 5,
  kStmClosePending = 7,
};

inline constexpr int32_t kErrWrongState = -14601;
inline constexpr int32_t kErrTooDeep = -11047;
inline constexpr int32_t kErrNoCalled = -19301;
inline constexpr int32_t kErrNoProgram = -14201;
inline constexpr int32_t kErrBreak = -18029;

// A statement's running program: the record and the blocks it names. The
// descriptor, its lists and the program lie in `sd_words` words from `sd`;
// the storage in `storage_words` from `stg`.
struct StmProgram {
  int32_t stm = 0, com = 0, sd = 0, pgm = 0, stg = 0;
  int32_t sd_words = 0, program_words = 0, storage_words = 0;
};
// False when the statement, its record or the blocks do not lie in the
// storage as the descriptor says.
bool LoadProgram(int32_t* base, int32_t stm, StmProgram* p);
// Word k of the descriptor (-1 outside it).
int32_t SdWord(int32_t* base, const StmProgram& p, int64_t k);
// The kernel index of `count` storage words from word `offset` (from 0), or
// 0 when they do not lie in the storage.
int32_t StorageWords(const StmProgram& p, int64_t offset, int64_t count);
bool IsStatement(int32_t* base, int32_t stm);

// The condition site of the running statement pb[2].
class RuntimeSite : public ConditionSite {
 public:
  RuntimeSite(int32_t* base, int32_t* pb) : base_(base), pb_(pb) {}
  void SqlState(int32_t rc, char* state) override;
  int32_t RollbackToMark(int32_t mark) override;
  int32_t TransactionState() override;
  int32_t TransactionScope() override;
  void EndCompound(int32_t id, int32_t atomic) override;
  void Log(int32_t severity, const char* text) override;
  bool HasDiagnostics() override;
  void Record(int32_t result, int32_t value, const char* state, int32_t kind,
              int32_t mode) override;

 private:
  int32_t* base_;
  int32_t* pb_;
};
// The ConditionRun of a loaded program run for session `usr`; WriteBack
// stores what a raise changed into the statement, its record and the
// session.
ConditionRun MakeConditionRun(int32_t* base, int32_t usr, const StmProgram& p);
void WriteBack(int32_t* base, int32_t usr, const StmProgram& p, const ConditionRun& run);

// The SQLSTATE of a native code (the request layer's derivation).
void SqlStateOf(int32_t rc, char* state);
// The trigger the running statement was called as (0 none): a CALLING_CSD
// of type 5 and a positive section identifier.
int32_t TriggerOf(int32_t* base, int32_t stm);

// The request layer's services; an absent one logs its name and answers
// -19040.
int32_t BindStatement(int32_t* base, int32_t usr, int32_t stm);
int32_t UnlinkStatement(int32_t* base, int32_t usr, int32_t stm);
int32_t CheckStatementPair(int32_t* base, int32_t usr, int32_t cursor, int32_t stm);
int32_t OpenStatementTables(int32_t* base, int32_t usr, int32_t stm, int32_t mode);
int32_t SequenceValue(int32_t* base, int32_t usr, int32_t mode, int32_t sequence, int32_t* value);

}  // namespace interp
