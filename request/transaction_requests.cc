// DSTransEndReq and DSCommit (see transaction_requests.h).
#include "request/transaction_requests.h"

#include "du/transactions.h"
#include "interp/request_services.h"
#include "interp/transaction_end.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"
#include "request/sequence_values.h"
#include "request/sql_state.h"

namespace {

constexpr int32_t kErrInTransaction = -14011;
constexpr int32_t kErrDiagSize = -14651;
constexpr int32_t kErrBadArgument = -18020;
constexpr int32_t kScopeClient = 2;

int32_t EndTransaction(int32_t* base, int32_t usr, int32_t word3) {
  return interp::DSEndSessionTransaction(base, usr, word3 == 0);
}

bool Valid(int32_t attribute, int32_t v) {
  switch (attribute) {
    case 6: return v == 1 || v == 2;
    case 7: return v == 2 || v == 3;
    case 8:
    case 11: return v >= 6 && v <= 9;
    case 9:
    case 12: return v == 0 || v == 31;
    case 10: return v >= 88 && v <= 90;
    case 15: return v >= 0;
    default: return true;  // 13 and 14 answer -14651 below 1
  }
}

int32_t Fail(int32_t* base, int32_t usr, int32_t code, int32_t opcode) {
  if (code == kErrBadArgument) Wd(base, usr, USR_RVEC_OPCODE) = opcode;
  Wd(base, usr, USR_RVEC_RCODE) = code;
  return code;
}

}  // namespace

int32_t DSTransEndReq(int32_t* base, const int32_t* request) {
  const int32_t usr = request[4];
  if (!InStorage(base, usr, USR_WORDS)) return KERNEL_BAD_PARAMETER;
  return EndTransaction(base, usr, request[3]);
}

int32_t DSCommit(int32_t* base, const int32_t* request, int32_t request_words) {
  if (request_words < 6) return KERNEL_BAD_PARAMETER;
  const int32_t usr = request[4];
  if (!InStorage(base, usr, USR_WORDS)) return KERNEL_BAD_PARAMETER;
  if (DSGetTransScope(base, usr) == kScopeClient) {
    const int32_t status = EndTransaction(base, usr, request[3]);
    if (status != 0) {
      Wd(base, usr, USR_RVEC_RCODE) = status;
      return status;
    }
  }
  static const int32_t kFields[][2] = {
      {USR_TRANSACTION_START, 0},       {USR_TRANSACTION_VIEW, 0},
      {USR_NEXT_ISOLATION_LEVEL, 0},    {USR_NEXT_READ_WRITE_MODE, 0},
      {USR_TRANSACTION_AUTOCOMMIT, 0},  {USR_SESSION_ISOLATION_LEVEL, USR_NEXT_ISOLATION_LEVEL},
      {USR_SESSION_READ_WRITE_MODE, USR_NEXT_READ_WRITE_MODE},
      {USR_TRAN_DIAG_SIZE, 0},          {USR_SESS_DIAG_SIZE, 0},
      {USR_TRANSACTION_TIMEOUT, 0},
  };
  const int32_t length = request[5];
  if (length < 5) return 0;
  // The pairs end at word 5 + length - 1: a length the block does not hold is
  // refused before anything is set.
  if (length > request_words - 5) return Fail(base, usr, KERNEL_BAD_PARAMETER, 0);
  for (int32_t p = 4; p < length; p += 2) {
    const int32_t attribute = request[5 + p - 1], value = request[5 + p];
    if (attribute < 6 || attribute > 15) return Fail(base, usr, kErrBadArgument, attribute);
    if (!Valid(attribute, value)) return Fail(base, usr, kErrBadArgument, value);
    const bool idle = attribute == 8 || attribute == 9 || attribute == 11 || attribute == 12 ||
                      attribute == 13;
    if (idle && DSGetTransState(base, usr) != 0) return Fail(base, usr, kErrInTransaction, 0);
    if ((attribute == 13 || attribute == 14) && value < 1) return Fail(base, usr, kErrDiagSize, 0);
    Wd(base, usr, kFields[attribute - 6][0]) = value;
    if (kFields[attribute - 6][1] != 0) Wd(base, usr, kFields[attribute - 6][1]) = value;
  }
  return 0;
}

int32_t DSSetTransOptions(int32_t* base, const int32_t* request) {
  const int32_t length = request[0];
  if (length < 0 || length > 64) return KERNEL_BAD_PARAMETER;
  int32_t commit[5 + 3 + 64] = {0, 0, 0, 0, request[1], length};
  for (int32_t w = 3; w < length; ++w) commit[5 + w] = request[w];
  return DSCommit(base, commit, 5 + length);
}

void RequestInstallRuntimeServices() {
  static const interp::RequestServiceTable table = [] {
    interp::RequestServiceTable t{};
    t.set_trans_options = DSSetTransOptions;
    t.sql_state = DSSqlState;
    t.std_name = DSStdName;
    t.sequence_value = DSSeqRuntimeValue;
    return t;
  }();
  interp::DAInstallRequestServices(&table);
}
