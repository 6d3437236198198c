// DSSelStm and DSPrepStm over the kernel's statement blocks and record
// access's cursor order numbers.
#include "request/statement_api.h"

#include <cstring>

#include "dict/upper_services.h"
#include "du/transactions.h"
#include "kernel/control_blocks.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"
#include "request/sequence_values.h"

int32_t DSSelStm(int32_t* base, int32_t* pb) {
  const int32_t usr = pb[1], stm = pb[2];
  if (!InStorage(base, usr, USR_WORDS) || !InStorage(base, stm, STM_WORDS)) {
    pb[0] = DSBadHandle(base, usr);
    return pb[0];
  }
  const int32_t order = DSNextCursorOrder(base, usr);
  Wd(base, stm, STM_STATUS) = STM_SELECTED;
  Wd(base, stm, STM_CURSOR_ORDER_NUMBER) = order;
  pb[0] = 0;
  return order;
}

int32_t DSPrepStm(int32_t* base, int32_t* pb, int32_t number, const int16_t* header,
                  int32_t header_length, const int32_t* body, int32_t body_length) {
  const int32_t usr = pb[1];
  const int32_t kept = pb[0];
  pb[2] = 0;
  int32_t stm = 0;
  int32_t rc = DSCreateStm(base, usr, number, header, header_length, body, body_length, &stm);
  if (rc != 0) return pb[0] = rc;
  pb[0] = kept;
  rc = DSOpenStm(base, 0, usr, stm);
  if (rc != 0 && rc != KERNEL_NOT_STARTED) {
    int32_t rvec[RVEC_WORDS];
    std::memcpy(rvec, &Wd(base, usr, USR_RVEC_RCODE), sizeof rvec);
    DSCloseStm(base, usr, &stm);
    std::memcpy(&Wd(base, usr, USR_RVEC_RCODE), rvec, sizeof rvec);
    return pb[0] = Wd(base, usr, USR_RVEC_RCODE);
  }
  pb[2] = stm;
  return pb[0] = rc;
}

namespace {

const DDUpperServices kServices = [] {
  DDUpperServices s{};
  s.sel_stm = DSSelStm;
  s.prep_stm = DSPrepStm;
  s.seq_value = DSSeqValue;
  return s;
}();

}  // namespace

void RequestInstallDictionaryServices() {
  DDInstallUpperServices(&kServices);
}
