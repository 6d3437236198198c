// The server's clock and the small environment routines around it: the date
// and time as 16 digits (real or simulated), the version text, environment
// variables, the database home lookup and sleeping.
#pragma once

#include <cstdint>

#include "platform/status.h"

// Longest environment variable name and value mdr_get_env handles.
constexpr int32_t MDR_ENV_NAME_MAX = 64;
constexpr int32_t MDR_ENV_VALUE_MAX = 64;

constexpr int32_t MDR_NO_DATABASE_DEFINITION = -21191;
constexpr int32_t MDR_DATABASE_NAME_MAX = 128;

// The date and time as YYYYMMDDhhmmssff: the simulated clock's value (which
// then advances) when a time simulation mode is on, else the local time.
void MDRPDT(char out[16]);

// The operating system's local time as 16 digits; hundredths are the
// milliseconds divided by 10.
void mdr_local_time_text(char out[16]);

// Sets the time mode up from the environment on the first call; *flag is 1
// when a simulation mode (record, playback, timmod) is on, else 0.
void TMBED0(int32_t* flag);

// The version text of `kind` (1 version id, 2 release, 3 release and build
// date), cut to *length bytes without a terminator; *length becomes the
// count copied. `version_text_for` takes the simulation facts as arguments.
void version_text(int32_t kind, char* text, int32_t* length);
void version_text_for(int32_t kind, bool simulating, const char* tm_version, char* text,
                      int32_t* length);

// Reads an environment variable whose name has 1 to 64 characters into
// `value` (room for 64 bytes, no terminator), cut to 64 characters. *length
// is 0 when the variable is not set or the name length is out of range.
void mdr_get_env(char* value, int32_t* length, const char* name, int32_t name_length);

// Replaces a database name (at most 128 characters) in `text` by the home
// directory of its local definition; `text` must hold DB_HOME_ROOM bytes
// (host_services.h), as a directory may be longer than the name. rc -21191
// on any failure.
void mdr_database_home(StatusPair* status, char* text, int32_t* length);

// Sleeps `milliseconds`; 0 gives the processor up once.
void mdr_sleep(int32_t milliseconds);
