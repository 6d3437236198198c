// The check of a databank that its open chooses by the close mark found in
// its header (none after a proper close, a background check after a close
// while a check was still owed, the databank check otherwise), and the
// databank check itself (DKVED0).
#pragma once

#include <cstdint>

// DKVED0 request words.
constexpr int VED_OPTION = 0;  // option in (-1, 0, 1, 2), result out
constexpr int VED_DATABANK = 1;
constexpr int VED_WORDS = 2;

// The databank check of an open: root pages and table root entries checked,
// the pages the databank reaches marked in use in its bitmap pages. Returns
// 0, -42, -45, -49, -64, -76, -86 or a page error.
int32_t DKVED0(int32_t* request);

// Runs or schedules the check of a databank being opened for a requested
// type and the close mark found; returns 0 or the error that fails the open.
int32_t DKOpenCheck(int32_t databank, int32_t type, int32_t close_mark);
