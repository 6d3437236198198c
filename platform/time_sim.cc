// The simulated clock, its calendar carry rules and the reading of the
// ZAVOR_TM_* settings.
#include "platform/time_sim.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "platform/host_services.h"
#include "platform/server_clock.h"

namespace {

std::optional<std::string> env_value(const char* name) {
  char value[MDR_ENV_VALUE_MAX];
  int32_t length = 0;
  mdr_get_env(value, &length, name, static_cast<int32_t>(strlen(name)));
  if (length == 0) return std::nullopt;
  return std::string(value, static_cast<size_t>(length));
}

bool starts_with(const std::string& text, const char* prefix) {
  return text.compare(0, strlen(prefix), prefix) == 0;
}

// A two-character field of the start time: digits, with blanks allowed
// before or after them. -1 when it is not a number.
int32_t two_digit_field(const std::string& text, size_t at) {
  std::string field = text.substr(at, 2);
  if (field.size() != 2) return -1;
  size_t first = field.find_first_not_of(' ');
  size_t last = field.find_last_not_of(' ');
  if (first == std::string::npos) return -1;
  int32_t value = 0;
  for (size_t i = first; i <= last; ++i) {
    if (!isdigit(static_cast<unsigned char>(field[i]))) return -1;
    value = value * 10 + (field[i] - '0');
  }
  return value;
}

[[noreturn]] void end_start(const std::string& line) {
  WriteServerLine(line.c_str(), 0, static_cast<int>(line.size()));
  RaiseServerException(TM_FATAL_REASON);
}

int32_t days_in_month(int32_t month, int32_t year) {
  switch (month) {
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    case 2:
      return year % 4 == 0 ? 29 : 28;
    default:
      return 31;
  }
}

}  // namespace

TimeSimSettings time_sim_settings_from_env() {
  TimeSimSettings s;
  s.mode = env_value("ZAVOR_TM_MODE");
  s.start_time = env_value("ZAVOR_TM_STARTTIME");
  s.inc_sec = env_value("ZAVOR_TM_INCSEC");
  s.version = env_value("ZAVOR_TM_VERSION");
  return s;
}

int32_t time_mode_of(const std::optional<std::string>& mode) {
  if (!mode) return TM_MODE_OFF;
  std::string upper = *mode;
  // ISO 8859-1 upper case: a-z and the letters 0xE0-0xFE but 0xF7.
  for (char& c : upper) {
    auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 0xE0 && b <= 0xFE && b != 0xF7))
      c = static_cast<char>(b - 0x20);
  }
  if (starts_with(upper, "NORMAL")) return TM_MODE_OFF;
  if (starts_with(upper, "RECORD")) return TM_MODE_RECORD;
  if (starts_with(upper, "PLAYBACK")) return TM_MODE_PLAYBACK;
  if (starts_with(upper, "TIMMOD")) return TM_MODE_TIMMOD;
  return TM_MODE_OFF;
}

void advance_moment(SimulatedMoment* m, bool step_second) {
  if (step_second) {
    ++m->second;
  } else if (++m->hundredths > 99) {
    m->hundredths -= 100;
    ++m->second;
  }
  if (m->second > 59) {
    m->second -= 60;
    ++m->minute;
  }
  if (m->minute > 59) {
    m->minute -= 60;
    ++m->hour;
  }
  if (m->hour >= 24) {
    m->hour -= 24;
    ++m->day;
  }
  if (m->day > days_in_month(m->month, m->year)) {
    m->day = 1;
    ++m->month;
  }
  if (m->month > 12) {
    m->month = 1;
    ++m->year;
  }
}

SimulatedClock::SimulatedClock(const SimulatedMoment& start, bool step_second)
    : now_(start), step_second_(step_second) {}

namespace {

SimulatedMoment start_of(const TimeSimSettings& settings) {
  SimulatedMoment start;
  if (settings.start_time) {
    const std::string& t = *settings.start_time;
    int32_t f[4];
    // Each field must read as a number; a time of day that cannot be is
    // refused as well, since every later reading would be a false time.
    static const int32_t kLimit[4] = {23, 59, 59, 99};
    for (int i = 0; i < 4; ++i) {
      f[i] = two_digit_field(t, static_cast<size_t>(2 * i));
      if (f[i] < 0 || f[i] > kLimit[i])
        end_start("TMBED0: Error parsing ZAVOR_TM_STARTTIME (wrong format)");
    }
    start.hour = f[0];
    start.minute = f[1];
    start.second = f[2];
    start.hundredths = f[3];
  }
  return start;
}

}  // namespace

SimulatedClock::SimulatedClock(const TimeSimSettings& settings)
    : now_(start_of(settings)), step_second_(settings.inc_sec && !settings.inc_sec->empty()) {}

void SimulatedClock::read(char out[16]) {
  std::lock_guard<std::mutex> lock(mutex_);
  const SimulatedMoment& m = now_;
  if (m.year > 9999 || m.year < 0) {
    char line[80];
    // 2 is what the field formatter answers for a number wider than its field.
    int n = snprintf(line, sizeof line, "Error in MDRPDT (mdrcci date/time). RCODE = %10d", 2);
    end_start(std::string(line, static_cast<size_t>(n)));
  }
  char text[17];
  snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d%02d", m.year, m.month, m.day, m.hour,
           m.minute, m.second, m.hundredths);
  memcpy(out, text, 16);
  advance_moment(&now_, step_second_);
}
