// The status pair every machine-dependent routine fills: the system's own
// return code and a composite operating-system status. {0, -1} is success;
// -1 in the OS status word means no operating-system error is carried.
#pragma once

#include <cstdint>

struct StatusPair {
  int32_t rc = 0;
  int32_t os_status = -1;
};

inline void set_success(StatusPair* st) {
  st->rc = 0;
  st->os_status = -1;
}
