// Word layouts of a statement program and of the storage it runs on: the
// section descriptor and the lists it points to, the call status, compound
// statement and handler tables of routine programs, the machine-state words
// of the storage area, the record block words the interpreter touches, the
// group block, and the interpreter's action codes and error numbers.
#pragma once

#include <cstdint>

namespace interp {

// Section descriptor: program words 0..20; positions count from word 0.
enum DescriptorWord : int32_t {
  kDescSectionId = 0,
  kDescType = 1,
  kDescProgramStart = 2,
  kDescStorageOffset = 3,
  kDescStorageSize = 4,  // words
  kDescConstantSize = 5,
  kDescPermStart = 6,
  kDescPermSize = 7,
  kDescTempStart = 8,
  kDescTempSize = 9,
  kDescDynamicStart = 10,
  kDescDynamicSize = 11,
  kDescInputStart = 12,
  kDescInputSize = 13,
  kDescOutputStart = 14,
  kDescOutputSize = 15,
  kDescReadSetIdOffset = 16,
  kDescCompoundStack = 17,
  kDescCompoundHierarchy = 18,
  kDescCallStatus = 19,
  kDescCurrentUser = 20,
};
inline constexpr int32_t kDescriptorWords = 21;
inline constexpr int32_t kListEnd = -1;
inline constexpr int32_t kParameterEntryWords = 2;  // byte offset, byte length

// Program types (descriptor word 1).
enum ProgramType : int32_t {
  kProgSelect = 1,
  kProgSelectUpdate = 2,
  kProgInsertOne = 3,
  kProgInsertMany = 4,
  kProgUpdateOne = 5,
  kProgUpdateMany = 6,
  kProgUpdateAll = 7,
  kProgDeleteOne = 8,
  kProgDeleteMany = 9,
  kProgDeleteAll = 10,
  kProgLevel2 = 15,
  kProgSelectDelete = 16,
  kProgCall = 77,
  kProgCall84 = 84,
  kProgCall85 = 85,
};

// Access codes of a table list's record block (its word 3).
enum AccessCode : int32_t {
  kAccessExclusive = 1,
  kAccessWrite = 3,
  kAccessRead = 4,
};

// Call status descriptor rows (descriptor word 19), ended by type -1.
enum CsdWord : int32_t {
  kCsdType = 0,
  kCsdStorage = 1,
  kCsdInput = 2,
  kCsdOutput = 3,
  kCsdCompoundId = 4,
  kCsdWhereCurrent = 5,
  kCsdSysId = 6,
  kCsdSpare = 7,
  kCsdRecursive = 8,
};
inline constexpr int32_t kCsdWords = 9;
enum CsdType : int32_t {
  kCsdCursor = 1,
  kCsdScrollableCursor = 2,
  kCsdProcedure = 3,
  kCsdAtomic = 4,
  kCsdTrigger = 5,
};
inline constexpr int32_t kCallParameterWords = 3;  // next, byte offset, byte length

// Compound statement hierarchy rows (descriptor word 18), ended by -1.
enum CshWord : int32_t {
  kCshId = 0,
  kCshType = 1,
  kCshSurrounding = 2,
  kCshFirstHandler = 3,
  kCshSpare = 4,
  kCshSavepoint = 5,
};
inline constexpr int32_t kCshWords = 6;
inline constexpr int32_t kCshHandlerBody = 2;  // compound type of a handler's body
// Exception handler descriptor, then `count` pairs (entry kind, value).
enum EhdWord : int32_t {
  kEhdNext = 0,
  kEhdClass = 1,
  kEhdType = 2,
  kEhdAddress = 3,
  kEhdCount = 4,
  kEhdEntries = 5,
};
// EHD class bits (word 1) and entry kinds.
inline constexpr int32_t kEhdClassEntries = 1 << 1;
inline constexpr int32_t kEhdClassAnyException = 1 << 2;
inline constexpr int32_t kEhdClassNoData = 1 << 3;
inline constexpr int32_t kEhdClassWarning = 1 << 4;
inline constexpr int32_t kEhdEntrySqlstate = 0;
inline constexpr int32_t kEhdEntryCondition = 1;

// Machine state: storage words 1..12 are state words 0..11 (0-based index
// here = state word number).
enum StateWord : int32_t {
  kStateReturnCode = 0,
  kStateBitVector = 1,
  kStateOpcode = 2,
  kStateLid = 3,
  kStateSequence = 4,
  kStateTable = 5,
  kStateResume = 6,
  kStateRowCounter = 7,
  kStateArgument = 8,
  kStateAction = 9,
  kStateCallResult = 10,
  kStateEndKind = 11,
  kStateLevel2Index = 12,  // storage word 13, level-2 programs only
};
inline constexpr int32_t kStateWords = 12;
inline constexpr int32_t kMachineStateBytes = 48;

// Record block (table descriptor) words as the interpreter reads them.
enum RecordWord : int32_t {
  kRecFetchCode = 1,
  kRecAccess = 3,
  kRecMergeWord = 6,
  kRecStreamRequest = 14,
  kRecStatus = 19,
  kRecLockedTransaction = 20,
  kRecLid = 21,
  kRecKind = 22,
  kRecTable = 24,
  kRecKeyLength = 25,
  kRecRowLength = 26,
  kRecBuffer = 29,
};
inline constexpr int32_t kRecordHeaderBytes = 116;
// Bytes of a record block for rows or keys of up to `length` bytes: the
// header, the row in whole words and one spare word behind it (the prefix
// length a key may carry), as record access reads it.
constexpr int32_t RecordBlockBytes(int32_t length) {
  return kRecordHeaderBytes + (length + 3) / 4 * 4 + 4;
}
inline constexpr int32_t kFetchForward = 1;
inline constexpr int32_t kFetchBackward = 2;
inline constexpr int32_t kFetchMerged = 21;
inline constexpr int32_t kStatusExactKey = 2;

// Group block of AGB/AGH/AGE (kernel word storage).
enum GroupWord : int32_t {
  kGroupKind = 0,
  kGroupFirstRow = 1,
  kGroupTable = 2,
  kGroupKeyOffset = 3,
  kGroupKeys = 4,
};

// Action codes (state word 9).
enum ActionCode : int32_t {
  kActionEnd = 1,
  kActionExit = 2,
  kActionCall = 3,
  kActionStatement = 4,
  kActionStartTrans = 5,
  kActionEndTrans = 6,
  kActionOpen = 7,
  kActionClose = 8,
  kActionError = 9,
  kActionInitCompound = 10,
  kActionSetDiag = 11,
  kActionEndCompound = 12,
  kActionLeave = 13,
  kActionSetMark = 16,
  kActionReleaseMark = 17,
  kActionSequence = 18,
  kActionCac = 19,
  kActionBreak = 21,
  kActionGetDiag = 22,
};

// Result bit vectors of the recorder and the set-function warning word.
inline constexpr int32_t kBitsTable = 30;
inline constexpr int32_t kBitsNoTable = 18;
inline constexpr int32_t kBitsConstraint = 8;
inline constexpr int32_t kNullEliminatedWord = 128;

// Warnings of the moves that end a run.
inline constexpr int32_t kWarnCut = 54;
inline constexpr int32_t kWarnShort = 58;

// Error numbers.
enum InterpError : int32_t {
  kErrNoBeg = -19017,
  kErrBadOpcode = -19018,
  kErrNoPattern = -19019,
  kErrBadPatternOp = -19051,
  kErrBadOperand = -19077,  // an operand names bytes outside the storage area
  kErrOutOfRange = -19078,
  kErrNoThread = -19080,
  kErrNotSteppable = -19901,
  kErrNoStorage = -11002,
  kErrCancelled = -16229,
  kErrRequeue = -16234,
  kErrServiceAbsent = -19040,
  kErrDuplicate = -10101,
  kErrMissingParent = -10105,
  kErrChildExists = -10106,
  kErrTooLong = -10201,
  kErrInvalidWide = -10210,
  kErrConvert = -10305,
  kErrShortBinary = -10307,
  kErrTextSyntax = -10310,
  kErrCharsLost = -10311,
  kErrTextRange = -10312,
};
inline constexpr int32_t kDecimalErrorBase = -10300;
inline constexpr int32_t kLengthFieldErrorBase = -19060;
inline constexpr int32_t kMaxVaryingBytes = 15000;

}  // namespace interp
