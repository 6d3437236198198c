// Table statistics: per column the number of non-null values, an estimate
// of the distinct values (adaptive sampling over a 32-bit hash, at most 100
// hashes per column), the lowest and highest value; per table the row count.
// The catalog side (privilege test, table and column lookups, the row scan,
// the statistics update, the dependency walk) is the dictionary's and is
// reached through the service table below.
#pragma once

#include <cstdint>

// Column statistics entry: a 176-byte block of the word storage, fields
// numbered from 0, chained by CS_NEXT in column order.
inline constexpr int32_t CS_BYTES = 176;
inline constexpr int32_t CS_NEXT = 0;
inline constexpr int32_t CS_ESTIMATE = 1;
inline constexpr int32_t CS_NONNULL = 2;
inline constexpr int32_t CS_HASHES = 3;  // word index of the hash list, 0 when none
inline constexpr int32_t CS_COUNT = 4;   // hashes in the list, 0..100
inline constexpr int32_t CS_DEPTH = 5;
inline constexpr int32_t CS_SELECTOR = 6;
inline constexpr int32_t CS_LENGTH = 7;  // stored length, indicator byte included
inline constexpr int32_t CS_OFFSET = 8;
inline constexpr int32_t CS_HASHED = 9;  // kind 1: hashed bytes; kind 2: print digits
inline constexpr int32_t CS_KIND = 10;   // 1 bytes behind the indicator, 2 whole column
inline constexpr int32_t CS_NAME_LENGTH = 11;
inline constexpr int32_t CS_NAME = 12;
inline constexpr int32_t CS_NAME_MAX = CS_BYTES - 4 * CS_NAME;  // 128 bytes

inline constexpr int32_t STAT_SAMPLE = 100;  // hashes a list holds
inline constexpr int32_t STAT_TEXT = 16;     // bytes of a stored low or high value

inline constexpr int32_t STAT_CANCELLED = -16229;
inline constexpr int32_t STAT_NOT_FOUND = -19007;
inline constexpr int32_t STAT_NO_DICTIONARY = -19075;
inline constexpr int32_t STAT_NO_SYSTEM = -19040;
inline constexpr int32_t STAT_NO_STORAGE = -11002;
inline constexpr int32_t STAT_BAD_ARGUMENT = -19077;
inline constexpr int32_t STAT_PRIVILEGE = 13;  // "STATISTICS"
inline constexpr int32_t STAT_MAX_RETRIES = 10;

// A table as the dictionary's object lookup hands it out.
struct StatTable {
  int32_t id = 0;
  int32_t lid = 0;
  int32_t tname = 0;
  int32_t type = 0;
  int32_t keylen = 0;
  int32_t reclen = 0;
  int32_t kind = 0;  // 3 and 4 have no statistics
};

// A column definition, in column order.
struct StatColumn {
  char name[CS_NAME_MAX];
  int32_t name_length = 0;
  int32_t type_code = 0;  // dictionary type code
  int32_t length = 0;     // declared length or precision
  int32_t scale = 0;      // second size attribute
  int32_t stored = 0;     // bytes in the row, indicator included
};

// The dictionary's services. Every entry takes the caller's parameter
// block: word 0 the mode in and the status out, word 1 the USR.
struct DUStatisticsServices {
  // DDChkPrivilege: pb[0] 1 when `grantee` holds the privilege, 0 when not.
  void (*check_privilege)(int32_t* base, int32_t* pb, int32_t kind, int32_t object_id,
                          const char* grantee, int32_t grantee_length);
  // DDGetObjectIds of a table by schema and name: 0 found, positive not.
  void (*get_table)(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                    const char* name, int32_t name_length, StatTable* table);
  // The schema by name: 0 when it exists, 1 when not.
  void (*find_schema)(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length);
  // Cursor over the tables of a schema (length 0: of every schema): pb[0]
  // not 0 opens it, 0 takes the next; 1 at the end. The schema and name of
  // the table go out blank padded to 128 bytes.
  void (*next_table)(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                     char* schema_out, char* name_out);
  // Cursor over a table's columns (pb[0] not 0 opens) and over its keys
  // (key id out); 1 at the end.
  void (*next_column)(int32_t* base, int32_t* pb, int32_t table_id, StatColumn* column);
  void (*next_key)(int32_t* base, int32_t* pb, int32_t table_id, int32_t* key_id);
  // DDScanTableRows: a positive mode names the table and reads the first
  // row, mode 0 the next; the record into `row` (reclen bytes). Positive at
  // the end.
  void (*scan_rows)(int32_t* base, int32_t* pb, const StatTable& table, uint8_t* row);
  // The block whose third word heads the chain of the scan statement (0
  // when there is none).
  int32_t (*scan_chain)(int32_t* base, int32_t usr);
  // DDUpdStatistics, mode 1 "F" (first column), 2 "A" (another column), 3
  // "I" (a key). Null pointers stand for NULL.
  void (*update_statistics)(int32_t* base, int32_t* pb, int32_t table_id, int32_t second_id,
                            const char* name, int32_t name_length, const int32_t* row_count,
                            const int32_t* estimate, const int32_t* nonnull, const char* low,
                            const char* high);
  // DDListDeps: the objects depending on `object_id`.
  void (*list_dependencies)(int32_t* base, int32_t* pb, int32_t object_id);
  // The transaction the results are stored in (DSBTR3 mode 1 and its end)
  // and the end of the one open before the scan.
  void (*begin_transaction)(int32_t* base, int32_t* pb);
  void (*end_transaction)(int32_t* base, int32_t* pb);
  void (*end_open_transaction)(int32_t* base, int32_t* pb);
  // The batches of the key pass over the table's keys (not built in record
  // access yet: absent, the pass answers -19040 naming it).
  void (*key_batches)(int32_t* base, int32_t* pb, const StatTable& table, int32_t flag);
};

// The key pass's batches (DUStatKeyBatches).
inline constexpr int32_t DU_KEY_BATCH_ROWS = 1000;  // rows per batch transaction
inline constexpr int32_t DU_KEYS_DONE = 4;          // the key iterator's end
inline constexpr int32_t DU_NO_THREAD_SLOT = -19080;
inline constexpr int32_t DU_NOT_INSTALLED = -19040;

// The dictionary's update of a key's constraint row once its index is
// built: pb {status, USR}, the table id and the constraint's id.
using DUStatKeyBuilt = void (*)(int32_t* base, int32_t* pb, int32_t table_id,
                                int32_t constraint_id);

// The batches of the key pass over `table`: the table opened through record
// access and every index marked dirty (ICB DIRTY) completed from the rows,
// DU_KEY_BATCH_ROWS rows in a transaction of their own (a row whose entry
// the index lacks is locked in the read set, LSR, and its entry inserted
// through the write set, DKAPS1 and DKINT1, or at once for a table without
// write-set merge; a -10001 at the end repeats the batch); then the index is
// marked built and `mark` updates its constraint row in a transaction of its
// own (null: -19040, logged as DDUpdConstraint). The pass ends when the key
// iterator reports 4. Status 0, -19080 without the thread's block, or the
// first failure; *inserted the entries inserted.
void DUStatKeyBatches(int32_t* base, int32_t* pb, const StatTable& table, DUStatKeyBuilt mark,
                      int32_t* inserted);

// Installs `services` (not owned) and returns the table it replaces; an
// entry left null answers -19040 and logs its name.
const DUStatisticsServices* DUInstallStatisticsServices(const DUStatisticsServices* services);

// The statistics statement. pb: word 0 0 to gather (anything else removes
// the statistics), status out; word 1 the USR. Mode 1 with a table name, 2
// with only a schema, 3 every table. Status 0, 1 (no such schema), 2 (no
// STATISTICS privilege), 3 (a table of kind 3 or 4) or negative.
void DSTabStat(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
               const char* table, int32_t table_length, int32_t* key_pass);

// Reads every row of `table` into `row` and updates the column entries of
// `chain`; the low and high images cover the table's record length.
void DSTabStatScan(int32_t* base, int32_t* pb, int32_t* row_count, const StatTable& table,
                   int32_t chain, uint8_t* row, uint8_t* low, uint8_t* high, int32_t* key_pass);

// The key pass after the scan: the table looked up again and its first row
// read; no entry on the scan statement's chain (all of them counted unless
// the flag is 2 or 3) ends it with 0; otherwise the open transaction is
// ended and the batches run.
void DSTabStatKeys(int32_t* base, int32_t* pb, const char* schema, int32_t schema_length,
                   const char* table, int32_t table_length, int32_t flag);

// Adds one value of `row` to the column's sample.
void DSTabStatHash(int32_t* base, int32_t entry, const uint8_t* row);

// The 32-bit hash of `length` bytes.
uint32_t DUStatHash(const uint8_t* bytes, int32_t length);
// Lane k of entry i of the hash table.
int32_t DUStatHashLane(int32_t i, int32_t k);

// Counts the entries of the chain that block word 2 heads (all with
// `all` >= 1, else those whose word 7 is set) into block word 19; 0 when
// block word 6 is not positive.
void DUCountUsers(int32_t* base, int32_t block, int32_t all);

// Fills the entry's kind and field 9 from the column's type.
void DUStatColumnKind(int32_t* base, int32_t entry, const StatColumn& column);
// The estimate of a finished scan: hashes x 2^depth (0 when no row was
// read), at most the non-null count.
int32_t DUStatEstimate(int32_t* base, int32_t entry, int32_t row_count);
// The low or high value of a column as 16 bytes of text; false when it
// cannot be printed.
bool DUStatValueText(int32_t* base, int32_t entry, const uint8_t* image, char out[STAT_TEXT]);
