// Group rows: AGB sets up a group block in the kernel word storage, AGH
// compares each row's key with the group's and writes the finished group's
// row when the key changes, AGE writes the last group's row. The row is
// written by insert, load or update through the record service table.
#include <cstring>

#include "interp/record_services.h"
#include "interp/run_state.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"

namespace interp {
namespace {

// The group block that storage word `w` holds, with its record block; false
// (the instruction failed) when either lies outside its storage.
bool Group(Run& run, int32_t w, int32_t* block, int32_t** rec) {
  if (!run.words(w, 1)) return run.fail(kErrBadOperand), false;
  *block = run.word(w);
  if (*block < 1 || !InStorage(run.base, *block, kGroupKeys))
    return run.fail(kErrBadOperand), false;
  const int32_t t = Wd(run.base, *block, kGroupTable);
  if (!run.words(t, kRecBuffer)) return run.fail(kErrBadOperand), false;
  *rec = &run.word(t);
  const int32_t keylen = (*rec)[kRecKeyLength];
  if (keylen < 0 || !run.words(t + kRecBuffer, (keylen + 3) / 4) ||
      !InStorage(run.base, *block + kGroupKeys, (2 * int64_t{keylen} + 3) / 4))
    return run.fail(kErrBadOperand), false;
  return true;
}

uint8_t* KeyCopy(Run& run, int32_t block) {
  const int32_t at = Wd(run.base, block, kGroupKeyOffset);
  return reinterpret_cast<uint8_t*>(&Wd(run.base, block, kGroupKeys)) + at;
}

// Writes the open group's row; the status in the record block's word 19.
void WriteRow(Run& run, int32_t block, int32_t* rec) {
  const auto& s = RecordServices();
  switch (Wd(run.base, block, kGroupKind)) {
    case 1:
      s.insert_row(run.base, rec, run.usr, 0);
      break;
    case 2:
      s.load_rows(run.base, rec, run.usr, 0);
      break;
    case 3:
      s.update_row(run.base, rec, run.usr, 0);
      break;
    default:
      rec[kRecStatus] = 1;
      break;
  }
}

// False when the write failed (recorded).
bool Settle(Run& run, int32_t block, int32_t* rec) {
  const int32_t status = rec[kRecStatus];
  if (status > 0) return run.fail(kErrDuplicate), false;
  if (status < 0) return run.fail(status), false;
  Wd(run.base, block, kGroupFirstRow) = -1;
  return true;
}

void Begin(Run& run) {  // AGB
  const int32_t t = run.op(1), w = run.op(2);
  if (!run.words(t, kRecBuffer) || !run.words(w, 1)) return run.fail(kErrBadOperand);
  const int32_t keylen = run.word(t + kRecKeyLength);
  if (keylen < 0 || keylen > 65536) return run.fail(kErrBadOperand);
  if (run.word(w) == 0) {
    int32_t block = 0;
    DSGetMemRaw(run.base, &block, 16 + 2 * keylen);
    if (block == 0) return run.fail(kErrNoStorage);
    run.word(w) = block;
  }
  const int32_t block = run.word(w);
  if (!InStorage(run.base, block, kGroupKeys)) return run.fail(kErrBadOperand);
  Wd(run.base, block, kGroupKind) = run.op(3);
  Wd(run.base, block, kGroupTable) = t;
  Wd(run.base, block, kGroupFirstRow) = 1;
  run.next();
}

void Break(Run& run) {  // AGH
  int32_t block = 0;
  int32_t* rec = nullptr;
  if (!Group(run, run.op(1), &block, &rec)) return;
  const size_t keylen = static_cast<size_t>(rec[kRecKeyLength]);
  const uint8_t* key = reinterpret_cast<const uint8_t*>(rec + kRecBuffer);
  if (Wd(run.base, block, kGroupFirstRow) != 0) {
    Wd(run.base, block, kGroupFirstRow) = 0;
    Wd(run.base, block, kGroupKeyOffset) = 0;
    std::memcpy(KeyCopy(run, block), key, keylen);
    return run.next();
  }
  if (std::memcmp(KeyCopy(run, block), key, keylen) == 0) return run.branch(2);
  WriteRow(run, block, rec);
  if (!Settle(run, block, rec)) return;
  Wd(run.base, block, kGroupFirstRow) = 0;  // the new group is open
  Wd(run.base, block, kGroupKeyOffset) =
      Wd(run.base, block, kGroupKeyOffset) == 0 ? static_cast<int32_t>(keylen) : 0;
  std::memcpy(KeyCopy(run, block), key, keylen);
  run.next();
}

void End(Run& run) {  // AGE
  int32_t block = 0;
  int32_t* rec = nullptr;
  if (!Group(run, run.op(1), &block, &rec)) return;
  if (Wd(run.base, block, kGroupFirstRow) != 0) return run.next();
  WriteRow(run, block, rec);
  if (Settle(run, block, rec)) run.next();
}

}  // namespace

void InstallAggregateOps(Instruction t[]) {
  t[163] = Begin;
  t[164] = Break;
  t[165] = End;
}

}  // namespace interp
