// Time simulation: a clock that starts at a fixed moment and advances by a
// fixed step at every reading, so that recorded runs repeat exactly. The
// settings come from the ZAVOR_TM_* environment variables (see
// server_clock.h for the process's own clock).
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

// Time modes.
constexpr int32_t TM_MODE_RECORD = 1;
constexpr int32_t TM_MODE_PLAYBACK = 2;
constexpr int32_t TM_MODE_TIMMOD = 3;
constexpr int32_t TM_MODE_OFF = 4;

// The reason a malformed setting or an overgrown clock ends the start with.
constexpr int TM_FATAL_REASON = 2;

// The values of the variables, as far as they are set.
struct TimeSimSettings {
  std::optional<std::string> mode;        // ZAVOR_TM_MODE
  std::optional<std::string> start_time;  // ZAVOR_TM_STARTTIME, "hhmmssff"
  std::optional<std::string> inc_sec;     // ZAVOR_TM_INCSEC
  std::optional<std::string> version;     // ZAVOR_TM_VERSION
};

// Reads the four variables (each value cut to 64 characters).
TimeSimSettings time_sim_settings_from_env();

// The time mode a ZAVOR_TM_MODE value selects (unset: off).
int32_t time_mode_of(const std::optional<std::string>& mode);

struct SimulatedMoment {
  int32_t year = 1990, month = 12, day = 24;
  int32_t hour = 15, minute = 0, second = 0, hundredths = 0;
};

// Moves a moment on by one second or one hundredth, carrying into minutes,
// hours, days, months and years. February has 29 days in every year that is a
// multiple of 4.
void advance_moment(SimulatedMoment* moment, bool step_second);

// The simulated clock; readings are serialised, so concurrent readers each
// get their own value.
class SimulatedClock {
 public:
  SimulatedClock(const SimulatedMoment& start, bool step_second);

  // The clock for `settings`: 1990-12-24 at the start time (15:00:00.00 when
  // none is set), stepping a second per reading when ZAVOR_TM_INCSEC is set
  // to a non-empty value. A malformed start time writes its line and raises
  // the server exception with reason 2.
  explicit SimulatedClock(const TimeSimSettings& settings);

  // Writes the current value as 16 digits YYYYMMDDhhmmssff and advances. A
  // year past four digits writes its line and raises reason 2.
  void read(char out[16]);

 private:
  std::mutex mutex_;
  SimulatedMoment now_;
  bool step_second_;
};
