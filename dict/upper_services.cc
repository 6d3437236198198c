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

int32_t DDSeqValue(int32_t* base, int32_t* block, int32_t sequence, int32_t count, int32_t* value) {
  const DDUpperServices* s = g_services.load(std::memory_order_acquire);
  if (!s || !s->seq_value) {
    block[DDSEQ_STATUS] = DD_SERVICE_ABSENT;
    return Absent("DSSeqValue");
  }
  return s->seq_value(base, block, sequence, count, value);
}

void DDSelStm(int32_t* base, int32_t* pb) {
  const DDUpperServices* s = g_services.load(std::memory_order_acquire);
  if (!s || !s->sel_stm) {
    pb[0] = Absent("DSSelStm");
    return;
  }
  s->sel_stm(base, pb);
}

void DDPrepStm(int32_t* base, int32_t* pb, int32_t number, const int16_t* header,
               int32_t header_length, const int32_t* body, int32_t body_length) {
  const DDUpperServices* s = g_services.load(std::memory_order_acquire);
  if (!s || !s->prep_stm) {
    pb[0] = Absent("DSPrepStm");
    return;
  }
  s->prep_stm(base, pb, number, header, header_length, body, body_length);
}

void DDMapErrorCode(int32_t* reply, int32_t error) {
  reply[0] = reply[1] = error;
  const DDUpperServices* s = g_services.load(std::memory_order_acquire);
  if (!s || !s->map_error_code) {
    reply[0] = Absent("DSMapErrorCode");
    return;
  }
  s->map_error_code(reply);
}
