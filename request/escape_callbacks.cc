// DSRegEscCallbacks and DSEscDbName.
#include "request/escape_callbacks.h"

#include <algorithm>
#include <atomic>

#include "interp/statement_text.h"
#include "kernel/control_blocks.h"
#include "kernel/statements.h"
#include "kernel/system_block.h"

namespace {

constexpr int32_t kDatabaseBytes = 128;  // SYS DATABASE

std::atomic<int32_t*> g_base{nullptr};
EscapeCallbacks g_installed;
const EscapeCallbacks kNone;
std::atomic<const EscapeCallbacks*> g_current{&kNone};

int32_t DatabaseName(int32_t* status, uint8_t* buffer, int32_t* position, int32_t room,
                     int32_t* full_length, int32_t width) {
  return DSEscDbName(g_base.load(std::memory_order_acquire), status, buffer, position, room,
                     full_length, width);
}

}  // namespace

int32_t DSRegEscCallbacks(int32_t* base) {
  g_base.store(base, std::memory_order_release);
  g_installed.database_name = DatabaseName;
  g_installed.error_hook = interp::DSEscErrorHook;
  g_current.store(&g_installed, std::memory_order_release);
  return 0;
}

const EscapeCallbacks& EscapeTranslatorCallbacks() {
  return *g_current.load(std::memory_order_acquire);
}

int32_t DSEscDbName(int32_t* base, int32_t* status, uint8_t* buffer, int32_t* position,
                    int32_t room, int32_t* full_length, int32_t width) {
  const int32_t sys = base != nullptr ? KernelSys(base) : 0;
  if (sys == 0 || width < 1 || width > 4) {
    *status = base != nullptr ? DSBadHandle(base, 0) : KERNEL_NOT_STARTED;
    return 0;
  }
  const int32_t length = std::min<int32_t>(Wd(base, sys, SYS_DLEN), kDatabaseBytes);
  const uint8_t* name = reinterpret_cast<const uint8_t*>(&Wd(base, sys, SYS_DATABASE));
  const int32_t fit = std::min(length, std::max(room, 0) / width);
  uint8_t* out = buffer + *position;
  for (int32_t i = 0; i < fit; ++i) {
    const uint8_t c = name[i];
    uint8_t* unit = out + i * width;
    for (int32_t k = 0; k < width; ++k) unit[k] = 0;
    if (width == 3)
      unit[2] = c;
    else
      unit[0] = c;
  }
  const int32_t written = fit * width;
  *position += written;
  *full_length = length * width;
  *status = fit < length ? ESC_NAME_CUT : 0;
  return written;
}
