// The databank kernel's side of the record access services: the table that
// record access installs at start, and the calls through it that answer an
// error and log the service's name when nothing is installed.
#include "dk/record_access_services.h"

#include <atomic>
#include <string>

#include "platform/host_services.h"

namespace {

std::atomic<const DKRecordAccessServices*> installed{nullptr};

constexpr int kSeverityError = 3;

void report_absent(const char* name) {
  std::string line = std::string(name) + ": record access service not installed";
  line.push_back('\0');
  StatusPair status;
  WriteServerOutput(&status, kSeverityError, line.c_str(), 1);
}

}  // namespace

const DKRecordAccessServices* DKInstallRecordAccessServices(
    const DKRecordAccessServices* services) {
  return installed.exchange(services);
}

void DKXLInstallTable(int32_t* status, int32_t function, int32_t id, ConstByteSpan table) {
  const DKRecordAccessServices* s = installed.load();
  if (s == nullptr || s->install_table == nullptr) {
    *status = DK_RECORD_ACCESS_ABSENT;
    report_absent("XLInstallTable");
    return;
  }
  s->install_table(status, function, id, table);
}

void DKXLConvertValue(int32_t* status, int32_t code, int32_t* cache, ByteSpan target,
                      int32_t target_offset, int32_t* length_out, int32_t target_length,
                      ConstByteSpan source, int32_t source_offset, int32_t source_length) {
  const DKRecordAccessServices* s = installed.load();
  if (s == nullptr || s->convert_value == nullptr) {
    *status = DK_RECORD_ACCESS_ABSENT;
    *length_out = 0;
    report_absent("XLConvertValue");
    return;
  }
  s->convert_value(status, code, cache, target, target_offset, length_out, target_length, source,
                   source_offset, source_length);
}
