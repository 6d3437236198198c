// Table descriptor set-up: the start of a forward or backward scan (fetch
// code, status and key area), the resets of ISN/ISP and RSK, and MPR's copy
// of the saved positioned row into the descriptor's row area.
#include <cstring>

#include "interp/run_state.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"

namespace interp {
namespace {

// The record block at storage word op1 with its key area inside the storage.
int32_t* KeyedBlock(Run& run, int32_t bytes_word) {
  const int32_t t = run.op(1);
  if (!run.words(t, kRecBuffer)) return nullptr;
  int32_t* rec = &run.word(t);
  const int64_t n = rec[bytes_word];
  if (n < 0 || !run.fits(int64_t{t - 1 + kRecBuffer} * 4, n)) return nullptr;
  return rec;
}

template <int32_t code, uint8_t fill, bool keep_merged>
void StartScan(Run& run) {  // IGN, IGP, ISN, ISP
  int32_t* rec = KeyedBlock(run, kRecKeyLength);
  if (rec == nullptr) return run.fail(kErrBadOperand);
  if (keep_merged && rec[kRecFetchCode] == kFetchMerged)
    rec[kRecStreamRequest] = 0;
  else
    rec[kRecFetchCode] = code;
  rec[kRecStatus] = 1;
  std::memset(rec + kRecBuffer, fill, static_cast<size_t>(rec[kRecKeyLength]));
  run.next();
}

template <int32_t second>
void StartScanReset(Run& run) {  // ISN, ISP
  const int32_t w = run.op(2);
  if (!run.words(w, 2)) return run.fail(kErrBadOperand);
  const int32_t pos = run.pos;
  if (second == 0)
    StartScan<kFetchForward, 0x00, false>(run);
  else
    StartScan<kFetchBackward, 0xFF, false>(run);
  if (run.pos == 1 && pos != 1) return;  // failed
  run.word(w) = 0;
  run.word(w + 1) = second;
}

void ResetWord(Run& run) {  // RSK
  if (!run.words(run.op(1), 1)) return run.fail(kErrBadOperand);
  run.word(run.op(1)) = 0;
  run.next();
}

void PositionedRow(Run& run) {  // MPR
  int32_t* rec = KeyedBlock(run, kRecRowLength);
  if (rec == nullptr || run.usr == 0) return run.fail(kErrBadOperand);
  const int32_t saved = run.usr_field(USR_PFUREC);
  const int32_t n = rec[kRecRowLength];
  if (saved == 0 || !InStorage(run.base, saved + kRecBuffer, (int64_t{n} + 3) / 4))
    return run.fail(kErrBadOperand);
  std::memcpy(rec + kRecBuffer, &Wd(run.base, saved, kRecBuffer), static_cast<size_t>(n));
  run.next();
}

}  // namespace

void InstallTableOps(Instruction t[]) {
  t[1] = StartScan<kFetchForward, 0x00, true>;
  t[2] = StartScan<kFetchBackward, 0xFF, false>;
  t[45] = StartScanReset<0>;
  t[46] = StartScanReset<4>;
  t[66] = ResetWord;
  t[166] = PositionedRow;
}

}  // namespace interp
