// The kernel's description loader for tests (see table_load.h).
#include "dict/tests/table_load.h"

#include <array>

#include "kernel/table_description.h"

TableLoad LoadTableDescription(int32_t* base, int32_t table) {
  std::array<int32_t, OPEN_WORDS> open{};
  open[OPEN_TABLE] = table;
  TableLoad out{99, 0, 0, 0, 0};
  DSLoadTableDesc(base, &out.status, open.data());
  out.lid = open[OPEN_LID];
  out.key_length = open[OPEN_KEYLEN];
  out.record_length = open[OPEN_RECLEN];
  out.description = open[OPEN_DESCRIPTION];
  return out;
}
