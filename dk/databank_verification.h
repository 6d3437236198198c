// The check of a databank that its open chooses by the close mark found in
// its header: none after a proper close, a background check after a close
// while a check was still owed, the databank check otherwise.
#pragma once

#include <cstdint>

// Runs or schedules the check of a databank being opened for a requested
// type and the close mark found; returns 0 or the error that fails the open.
int32_t DKOpenCheck(int32_t databank, int32_t type, int32_t close_mark);
