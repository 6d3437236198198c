// The dictionary's table of services from the layers above it: each call
// goes to the installed entry, or logs the service's name and answers
// DD_SERVICE_ABSENT when there is none.
#include "dict/upper_services.h"

#include <atomic>
#include <cstring>

#include "kernel/error_report.h"

namespace {

std::atomic<const DDUpperServices*> g_services{nullptr};

int32_t Absent(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), DD_SERVICE_ABSENT, SEV_ERROR);
  return DD_SERVICE_ABSENT;
}

}  // namespace

const DDUpperServices* DDInstallUpperServices(const DDUpperServices* services) {
  return g_services.exchange(services, std::memory_order_acq_rel);
}

int32_t DDSeqValue(int32_t* block, int32_t sequence, int32_t count, int32_t* value) {
  const DDUpperServices* s = g_services.load(std::memory_order_acquire);
  if (!s || !s->seq_value) {
    block[DDSEQ_STATUS] = DD_SERVICE_ABSENT;
    return Absent("DSSeqValue");
  }
  return s->seq_value(block, sequence, count, value);
}

void DDSelStm(int32_t* base, int32_t* pb) {
  const DDUpperServices* s = g_services.load(std::memory_order_acquire);
  if (!s || !s->sel_stm) {
    pb[0] = Absent("DSSelStm");
    return;
  }
  s->sel_stm(base, pb);
}
