// Figures of a databank and of a table from the databank kernel: the two
// sizes of a databank (DSGetDbInfo) and a table's tree shape with its row
// estimates (DSGetTabStats). A databank kernel error r is r - 16140, also
// in the session's RVEC_RCODE.
#pragma once

#include <cstdint>

// DSGetDbInfo block: 0 status, 1 session, 2 the databank's DID, 3 its
// sequence number (-1 the first copy). *in_use the units in use, *units
// the file's size in units.
inline constexpr int32_t DBINFO_STATUS = 0;
inline constexpr int32_t DBINFO_USR = 1;
inline constexpr int32_t DBINFO_DID = 2;
inline constexpr int32_t DBINFO_SEQNO = 3;
void DSGetDbInfo(int32_t* base, int32_t* block, int32_t* in_use, int32_t* units);

// DSGetTabStats: parameter block {status, session}; request {0 the table
// number, 1 the databank's DID, 2 1 a table or 2 a key}; out the eight
// figures: inner and leaf page size, levels, key length, leaf entry
// length, then the lowest, highest and middle estimate of the rows.
inline constexpr int32_t TABSTATS_WORDS = 8;
void DSGetTabStats(int32_t* base, int32_t* pb, const int32_t* request, int32_t* out);

// The row estimates of a tree of `levels` levels over `top` entries in its
// top page (inner pages of `inner` bytes, keys of `key` bytes, leaf pages
// of `leaf` bytes and entries of `entry` bytes); `attribute` the table's
// kind (11 and above: compressed) and `figure` the databank kernel's own
// figure for it. {lowest, highest, middle}, each at most 2147483647.
struct RowEstimates {
  int32_t lowest, highest, middle;
};
RowEstimates EstimateRows(int32_t levels, int32_t top, int32_t inner, int32_t key, int32_t leaf,
                          int32_t entry, int32_t attribute, int32_t figure);
