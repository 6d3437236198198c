// The level-2 record interface's catalog reads: shared statements kept
// prepared per server thread (THR STM_LV2_*), run under the thread's own
// user like the compiler's lookups. Names come as 18-character blank-padded
// fields and go to the statements without their trailing blanks. Every
// routine answers in a flag word: 1 a row delivered, 0 no (further) row, -1
// an error, whose level-2 reply code (the request interface's mapping of
// the kernel number) is left in reply[0] and the kernel number in reply[1].
// A cursor takes the flag word on entry: 0 opens it, non-zero delivers the
// next row without setting the parameters again.
#pragma once

#include <cstdint>

inline constexpr int32_t DD_LV2_NAME = 18;

struct DDLv2Table {
  char kind[20];  // "BASE TABLE" or "VIEW", blank padded
  int32_t id;
  char schema[128], name[128];
};
void DDLv2Tab(int32_t* base, int32_t* pb, const char* schema18, const char* table18,
              DDLv2Table* out, int32_t* flag, int32_t* reply);

// The user's (or PUBLIC's) six table privileges as "Y"/"N": SELECT,
// INSERT, DELETE, UPDATE, REFERENCES, LOAD; "NNNNNN" and flag 0 without a
// privilege row.
void DDLv2Acc(int32_t* base, int32_t* pb, int32_t table_id, const char* user18, char* flags6,
              int32_t* flag, int32_t* reply);

// The columns of a table in the order of their numbers.
struct DDLv2Column {
  char name[DD_LV2_NAME];  // blank padded
  int32_t type, length, scale;  // by the dictionary's type rules
  int32_t nullable;
  int32_t offset;
};
void DDLv2Col(int32_t* base, int32_t* pb, int32_t table_id, DDLv2Column* out, int32_t* flag,
              int32_t* reply);
