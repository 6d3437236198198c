// Binds the collation services to the word storage the kernel started with
// and hands them to the databank kernel, which cannot link record access.
#include "du/databank_services.h"

#include <atomic>

#include "dk/record_access_services.h"
#include "du/collation.h"

namespace {

std::atomic<int32_t*> storage{nullptr};

void install_table(int32_t* status, int32_t function, int32_t id, ConstByteSpan table) {
  XLInstallTable(storage.load(), status, function, id, table);
}

void convert_value(int32_t* status, int32_t code, int32_t* cache, ByteSpan target,
                   int32_t target_offset, int32_t* length_out, int32_t target_length,
                   ConstByteSpan source, int32_t source_offset, int32_t source_length) {
  XLConvertValue(storage.load(), status, code, cache, target, target_offset, length_out,
                 target_length, source, source_offset, source_length);
}

constexpr DKRecordAccessServices kServices{install_table, convert_value};

}  // namespace

void DUInstallDatabankServices(int32_t* base) {
  storage.store(base);
  DKInstallRecordAccessServices(base != nullptr ? &kServices : nullptr);
}
