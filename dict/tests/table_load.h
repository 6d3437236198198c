// The kernel's description loader for tests whose headers clash with its
// own: loads table `table` into the calling thread's CDITCB.
#pragma once

#include <cstdint>

struct TableLoad {
  int32_t status, lid, key_length, record_length, description;
};
TableLoad LoadTableDescription(int32_t* base, int32_t table);
