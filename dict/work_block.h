// The dictionary work of a user: DDBegWork starts or joins the user's
// transaction in the dictionary scope (3) and creates the work block DDUCOM
// (197 words: the slot table of the private statements, the schema name and
// the level name); DDEndWork ends the transaction, or folds it into the
// user's open one, and releases the block with every statement prepared in
// it. Every routine takes a parameter block: word 0 the status (an input
// where a routine says so), word 1 the requesting USR. See dict/README.md,
// "Dictionary work".
#pragma once

#include <cstdint>

inline constexpr int32_t DDUCOM_BYTES = 788;
// The databank utilities' entries of a list collected over several calls
// (each linked by its word 0), freed at the end when its last call never
// came.
inline constexpr int32_t DDUCOM_UTILITY_CHAIN = 6;
inline constexpr int32_t DDUCOM_CHAIN = 7;       // further blocks freed at the end
inline constexpr int32_t DDUCOM_SLOTS = 9;       // the slot table, 0 when none
inline constexpr int32_t DDUCOM_IDENT = 10;
inline constexpr int32_t DDUCOM_WORK_AREA = 36;  // freed at the end when set
inline constexpr int32_t DDUCOM_PATH_FLAG = 61;
inline constexpr int32_t DDUCOM_SCHEMA = 64;     // 128 bytes, blank padded
inline constexpr int32_t DDUCOM_SCHEMA_LENGTH = 96;
inline constexpr int32_t DDUCOM_LEVEL_NAME = 97;  // 128 bytes, blank padded
inline constexpr int32_t DDUCOM_LEVEL_LENGTH = 129;
inline constexpr int32_t DD_SLOT_COUNT = 136;
inline constexpr int32_t DD_SLOT_TABLE_BYTES = 3264;

inline constexpr int32_t DD_NO_WORK_BLOCK = -19075;
inline constexpr int32_t DD_NO_THREAD = -19080;
inline constexpr int32_t DD_SCOPE_REFUSED = -14017;
inline constexpr int32_t DD_XA_ACTIVE = -14054;
inline constexpr int32_t DD_SCOPE_DICTIONARY = 3;
inline constexpr int32_t DD_SCOPE_USER = 2;
inline constexpr int32_t DD_PROTOCOL_OWN_TRANSACTION = 22;  // a client that keeps its transaction

void DDBegWork(int32_t* base, int32_t* pb);
// pb[0] in: 0 the work succeeded, 1 it failed; out: the first error.
void DDEndWork(int32_t* base, int32_t* pb);
void DDCreUcom(int32_t* base, int32_t* pb);
void DDDelUcom(int32_t* base, int32_t* pb);
// The level name (128 bytes) into `buffer`; its length without trailing
// blanks in *length and returned.
int32_t DDGetUserName(int32_t* base, int32_t* pb, uint8_t* buffer, int32_t* length);

// The work block's slot `number` for the requesting user: nullptr with
// *status -19075 without a work block, -11002 when it has no slot table.
int32_t* DDWorkSlot(int32_t* base, int32_t usr, int32_t number, int32_t* status);
