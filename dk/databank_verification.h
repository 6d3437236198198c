// The check of a databank that its open chooses by the close mark found in
// its header (none after a proper close, a background check after a close
// while a check was still owed, the databank check otherwise), the databank
// check itself (DKVED0), which rebuilds the bitmap pages from every
// structure that owns pages, and the background check of data pages
// (DKVDB0).
#pragma once

#include <cstdint>
#include <vector>

// DKVED0 and DKVDB0 request words.
constexpr int VED_OPTION = 0;  // DKVED0: option in (-1, 0, 1, 2); both: result out
constexpr int VED_DATABANK = 1;
constexpr int VED_WORDS = 2;

// The result of a background check stopped by a shutdown or an abort.
constexpr int32_t kCheckStopped = 4;

// The databank check of an open: the root pages and their table root
// entries checked, every page that a structure of the databank owns found
// (trees, sets, the runs of large objects, root and restore directory
// pages), and the bitmap pages rebuilt to exactly those units. Units that
// two structures own are kept in use and recorded with the databank (entry
// word 12), which marks it corrupt until its restart has settled them.
// Returns 0, -42, -45, -49, -64, -76, -86, -11002 or a page error.
int32_t DKVED0(int32_t* request);

// The background check of a databank's data pages (state 17): every leaf of
// every table checked against its parent, reading shared only. 0 (state
// 20), 4 when a shutdown or an abort stopped it, -45, or the -42 of a
// corrupt page (state 19 for both).
int32_t DKVDB0(int32_t* request);

// Runs or schedules the check of a databank being opened for a requested
// type and the close mark found; returns 0 or the error that fails the open.
int32_t DKOpenCheck(int32_t databank, int32_t type, int32_t close_mark);

// Records units owned twice with the databank; -11002 when the word storage
// has no room.
int32_t DKRecordUnitsReachedTwice(int32_t databank, const std::vector<int32_t>& units);
// The units the last check found owned twice, in rising order.
std::vector<int32_t> DKUnitsReachedTwice(int32_t databank);
// Takes a unit out of that record (a restart that finds one of its owners
// gone); the databank is no longer marked corrupt once none is left.
void DKSettleUnitReachedTwice(int32_t databank, int32_t unit);
// Gives the record's blocks back to the word storage and clears word 12.
void DKForgetUnitsReachedTwice(int32_t databank);
