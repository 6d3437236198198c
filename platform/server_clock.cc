// The process's clock: the time mode read once from the environment, the
// real local time, and the version text that a simulation mode fixes.
#include "platform/server_clock.h"

#include <sched.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

#include "platform/host_services.h"
#include "platform/time_sim.h"

namespace {

// The process's time mode and simulated clock, set up on first use and kept
// for the life of the process.
struct ProcessTime {
  int32_t mode = TM_MODE_OFF;
  std::optional<SimulatedClock> clock;
};

std::mutex setup_mutex;
ProcessTime* process_time = nullptr;  // published under setup_mutex

ProcessTime& time_setup() {
  std::lock_guard<std::mutex> lock(setup_mutex);
  if (!process_time) {
    TimeSimSettings settings = time_sim_settings_from_env();
    int32_t mode = time_mode_of(settings.mode);
    auto* t = new ProcessTime;
    t->mode = mode;
    if (mode != TM_MODE_OFF) {
      try {
        t->clock.emplace(settings);
      } catch (...) {
        delete t;
        throw;
      }
    }
    process_time = t;
  }
  return *process_time;
}

bool simulating(int32_t mode) {
  return mode >= TM_MODE_RECORD && mode <= TM_MODE_TIMMOD;
}

}  // namespace

void mdr_local_time_text(char out[16]) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  char text[40];
  snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d", local.tm_year + 1900,
           local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
           static_cast<int>(ts.tv_nsec / 10000000));
  memcpy(out, text, 16);
}

void TMBED0(int32_t* flag) {
  *flag = simulating(time_setup().mode) ? 1 : 0;
}

void MDRPDT(char out[16]) {
  ProcessTime& t = time_setup();
  if (t.clock) {
    t.clock->read(out);
  } else {
    mdr_local_time_text(out);
  }
}

void version_text_for(int32_t kind, bool simulating, const char* tm_version, char* text,
                      int32_t* length) {
  std::string v;
  if (kind == 1) {
    v = "V913C";
  } else if (kind == 2 || kind == 3) {
    if (simulating) {
      v = tm_version ? tm_version : "8.X.YA";
      if (kind == 3) v += " Dec 24 1997 TM mode";
    } else {
      v = "9.1.3C";
      if (kind == 3) v += " Feb 10 2003";
    }
  }
  int32_t n = std::clamp<int32_t>(static_cast<int32_t>(v.size()), 0, std::max(*length, 0));
  if (n > 0) memcpy(text, v.data(), static_cast<size_t>(n));
  *length = n;
}

void version_text(int32_t kind, char* text, int32_t* length) {
  // The version text reads the mode on its own, once, without the clock's
  // start time or step.
  static const int32_t mode = time_mode_of(time_sim_settings_from_env().mode);
  std::optional<std::string> tm_version;
  if (simulating(mode)) tm_version = time_sim_settings_from_env().version;
  version_text_for(kind, simulating(mode), tm_version ? tm_version->c_str() : nullptr, text,
                   length);
}

void mdr_get_env(char* value, int32_t* length, const char* name, int32_t name_length) {
  *length = 0;
  if (!name || name_length < 1 || name_length > MDR_ENV_NAME_MAX) return;
  std::string key(name, static_cast<size_t>(name_length));
  const char* v = getenv(key.c_str());
  if (!v) return;
  int32_t n = static_cast<int32_t>(std::min<size_t>(strlen(v), MDR_ENV_VALUE_MAX));
  memcpy(value, v, static_cast<size_t>(n));
  *length = n;
}

void mdr_database_home(StatusPair* status, char* text, int32_t* length) {
  status->os_status = -1;
  status->rc = MDR_NO_DATABASE_DEFINITION;
  if (!text || *length < 1 || *length > MDR_DATABASE_NAME_MAX) return;
  int32_t rc = -1;
  db_definition_lookup(&rc, text, length);
  if (rc == 0) status->rc = 0;
}

void mdr_sleep(int32_t milliseconds) {
  // Linux sleeps to the millisecond without a coarser system timer to raise.
  if (milliseconds <= 0) {
    sched_yield();
    return;
  }
  timespec ts{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}
