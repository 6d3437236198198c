// The hooks into the kernel word storage and the calls through them; a hook
// nobody installed logs its name once per call and answers as an empty
// storage, so that the large-object routines refuse their request.
#include "dk/word_storage_access.h"

#include <atomic>
#include <string>

#include "platform/host_services.h"

namespace {

std::atomic<const DKWordStorageAccess*> installed{nullptr};

constexpr int kSeverityError = 3;

void ReportAbsent(const char* name) {
  std::string line = std::string(name) + ": kernel word storage service not installed";
  line.push_back('\0');
  StatusPair status;
  WriteServerOutput(&status, kSeverityError, line.c_str(), 1);
}

}  // namespace

const DKWordStorageAccess* DKInstallWordStorageAccess(const DKWordStorageAccess* access) {
  return installed.exchange(access);
}

int32_t* DKStorageWords(int32_t index, int32_t count) {
  const DKWordStorageAccess* s = installed.load();
  if (s == nullptr || s->words == nullptr) {
    ReportAbsent("DSPoolWords");
    return nullptr;
  }
  if (index < 1 || count < 0) return nullptr;
  return s->words(index, count);
}

int32_t DKStorageAllocate(int32_t bytes) {
  const DKWordStorageAccess* s = installed.load();
  if (s == nullptr || s->allocate == nullptr) {
    ReportAbsent("DSGetMem");
    return 0;
  }
  return bytes > 0 ? s->allocate(bytes) : 0;
}

void DKStorageRelease(int32_t index) {
  const DKWordStorageAccess* s = installed.load();
  if (s == nullptr || s->release == nullptr) {
    ReportAbsent("DSPoolMem");
    return;
  }
  if (index > 0) s->release(index);
}
