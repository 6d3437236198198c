// The request service table and the transaction statement action.
#include <atomic>

#include "interp/program_layout.h"
#include "interp/request_services.h"
#include "kernel/control_blocks.h"
#include "kernel/system_block.h"

namespace interp {
namespace {

constexpr int32_t kErrRoutineContext = -14024;

std::atomic<const RequestServiceTable*> g_request_services{nullptr};
const RequestServiceTable kNone{};

}  // namespace

const RequestServiceTable* DAInstallRequestServices(const RequestServiceTable* table) {
  return g_request_services.exchange(table);
}

const RequestServiceTable& RequestServices() {
  const RequestServiceTable* t = g_request_services.load();
  return t != nullptr ? *t : kNone;
}

int32_t DSTransactionStatement(int32_t* base, int32_t usr, int32_t stm, int32_t sub_code,
                               int32_t next_word) {
  for (int32_t s = stm, steps = 0; s != 0 && steps < (1 << 16); ++steps) {
    if (!InStorage(base, s, STM_WORDS)) return KERNEL_BAD_PARAMETER;
    const int32_t visibility = Wd(base, s, STM_VISIBILITY);
    if (visibility == 2 || visibility == 3) return kErrRoutineContext;
    s = Wd(base, s, STM_CALLING_STM);
  }
  int32_t cls = 6, value = 1;
  if (sub_code == 1) {
    value = 2;
  } else if (sub_code == 3 || sub_code == 4) {
    cls = 7;
    value = sub_code == 3 ? 2 : 3;
  } else if (sub_code == 5 || sub_code == 6) {
    cls = 9;
    value = sub_code == 5 ? 31 : 0;
  } else if (sub_code >= 7 && sub_code <= 10) {
    cls = 8;
    value = sub_code - 1;
  } else if (sub_code == 11 || sub_code == 12) {
    cls = 12;
    value = sub_code == 11 ? 31 : 0;
  } else if (sub_code >= 13 && sub_code <= 16) {
    cls = 11;
    value = sub_code - 7;
  } else if (sub_code == 17 || sub_code == 18) {
    cls = sub_code == 17 ? 13 : 14;
    value = next_word;
  }
  const auto handler = RequestServices().set_trans_options;
  if (handler == nullptr) return kErrServiceAbsent;
  const int32_t request[5] = {5, usr, 0, cls, value};
  return handler(base, request);
}

}  // namespace interp
