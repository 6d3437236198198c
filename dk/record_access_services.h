// The services of record access that the databank kernel calls (collation
// checks and key-part conversion for index builds). Record access sits above
// this layer, so it installs them here at start; a service nobody installed
// answers -19040 and logs its name.
#pragma once

#include <cstdint>

#include "platform/bytes.h"

// What an uninstalled service answers: record access is not started.
constexpr int32_t DK_RECORD_ACCESS_ABSENT = -19040;

struct DKRecordAccessServices {
  // XLInstallTable: (status out, function, collation id, 256-byte table).
  void (*install_table)(int32_t* status, int32_t function, int32_t id, ConstByteSpan table);
  // XLConvertValue: (status out, code, cache word, target, target offset,
  // length out, target length, source, source offset, source length).
  void (*convert_value)(int32_t* status, int32_t code, int32_t* cache, ByteSpan target,
                        int32_t target_offset, int32_t* length_out, int32_t target_length,
                        ConstByteSpan source, int32_t source_offset, int32_t source_length);
};

// Installs `services` (not owned; null members count as not installed) and
// returns the table it replaces; nullptr takes every service away.
const DKRecordAccessServices* DKInstallRecordAccessServices(const DKRecordAccessServices* services);

// The kernel's calls of the services.
void DKXLInstallTable(int32_t* status, int32_t function, int32_t id, ConstByteSpan table);
void DKXLConvertValue(int32_t* status, int32_t code, int32_t* cache, ByteSpan target,
                      int32_t target_offset, int32_t* length_out, int32_t target_length,
                      ConstByteSpan source, int32_t source_offset, int32_t source_length);
