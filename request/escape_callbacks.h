// The callbacks the ODBC escape translator takes from the server, installed
// when the kernel starts (DSRegEscCallbacks): the served database's name
// for the escape that asks for it, and the statement interpreter's error
// hook (DSEscErrorHook) for the translator's errors.
#pragma once

#include <cstdint>

// The status of a name that did not fit the room whole.
inline constexpr int32_t ESC_NAME_CUT = -122;

struct EscapeCallbacks {
  // DSEscDbName over the kernel word storage the start installed it for.
  int32_t (*database_name)(int32_t* status, uint8_t* buffer, int32_t* position, int32_t room,
                           int32_t* full_length, int32_t width) = nullptr;
  void (*error_hook)(int32_t* base, int32_t usr, int32_t value, int32_t rc, const char* first,
                     int32_t first_length, const char* second, int32_t second_length) = nullptr;
};

// DSRegEscCallbacks: installs both callbacks over `base`. 0.
int32_t DSRegEscCallbacks(int32_t* base);
// What the translator calls; both null before the kernel's first start.
const EscapeCallbacks& EscapeTranslatorCallbacks();

// DSEscDbName: writes the served database's name (SYS DATABASE, SYS DLEN
// characters) at buffer[*position], as many characters as room / width
// hold, each of `width` bytes (1 as it is; 2 and 4 little-endian code
// units, 3 the code point most significant byte first); advances
// *position by the bytes written and returns them; *full_length the whole
// name's length times the width; *status 0, ESC_NAME_CUT when the name did
// not fit whole. Without a started kernel the invalid-handle status and 0.
int32_t DSEscDbName(int32_t* base, int32_t* status, uint8_t* buffer, int32_t* position,
                    int32_t room, int32_t* full_length, int32_t width);
