// Databanks, or the whole database, taken offline and brought back online:
// DSBkpOp7 (the database), DSBkpOp8 (one databank), DSBkpOp9 (a list
// collected name by name and then applied), with DSBkpSetOnline and
// DSBkpReattach for the database's modes 1 and 2. The dictionary, the kernel
// core, the request interface and the backup operations that apply a mode to
// a chain of databanks are reached through the service table below.
#pragma once

#include <cstdint>

// Databank utility entry DBUENT: 69 words of the word storage, chained by
// DBU_NEXT from DDUCOM word DDUCOM_DBU_CHAIN.
inline constexpr int32_t DBU_BYTES = 276;
inline constexpr int32_t DBU_NEXT = 0;
inline constexpr int32_t DBU_ID = 1;
inline constexpr int32_t DBU_NUMBER = 2;
inline constexpr int32_t DBU_SECOND_LENGTH = 3;
inline constexpr int32_t DBU_NAME_LENGTH = 4;
inline constexpr int32_t DBU_SECOND_NAME = 5;  // 128 bytes
inline constexpr int32_t DBU_NAME = 37;        // 128 bytes
inline constexpr int32_t DBU_NAME_MAX = 128;

// Words of the user's dictionary work block that the list operation keeps.
inline constexpr int32_t DDUCOM_DBU_MODE = 5;
inline constexpr int32_t DDUCOM_DBU_CHAIN = 6;

inline constexpr int32_t OFF_NO_DICTIONARY = -19075;
inline constexpr int32_t OFF_NO_SYSTEM = -19040;
inline constexpr int32_t OFF_NO_STORAGE = -11002;
inline constexpr int32_t OFF_DATABANK_OFFLINE = -18233;
inline constexpr int32_t OFF_TRANSACTION_OPEN = -14011;  // tolerated by a begin
inline constexpr int32_t OFF_SYSDB_OFFLINE = -12606;     // from DSBkpApplyMode
inline constexpr int32_t OFF_LOCKED = -16172;            // from DSBkpApplyMode
inline constexpr int32_t OFF_PRIVILEGE_BACKUP = 10;
inline constexpr int32_t OFF_PRIVILEGE_SHADOW = 11;

// A databank row as DDCurDatabank hands it out; texts blank padded.
struct DUDatabankRow {
  int32_t id = 0;
  int32_t number = 0;
  char name[DBU_NAME_MAX];
  int32_t name_length = 0;
  char second_name[DBU_NAME_MAX];  // column 5
  int32_t second_name_length = 0;
  bool flag = false;  // column 10 set
  char creator[DBU_NAME_MAX];  // column 11
  int32_t creator_length = 0;
};

// A databank-file row as DDCurDatabankFile hands it out.
struct DUDatabankFileRow {
  int32_t id = 0;
  int32_t number = 0;
  int32_t first_flag = 0;
  int32_t second_flag = 0;
  char name[DBU_NAME_MAX];  // the databank's name
  int32_t name_length = 0;
  char second_name[DBU_NAME_MAX];
  int32_t second_name_length = 0;
};

// The services. Dictionary entries take the caller's parameter block: word 0
// the mode in and the status out (0 done, positive no (further) row,
// negative an error), word 1 the USR. Request entries take the request block
// {kind or mode, user, databank id, ...} and answer its word 0.
struct DUOfflineServices {
  // DDCurDatabank: mode 1 the row of `name`, 2 the row of `id`, 3 the first
  // row of a walk over all rows, 0 the next one.
  void (*cur_databank)(int32_t* base, int32_t* pb, int32_t id, const char* name,
                       int32_t name_length, DUDatabankRow* row);
  // DDCurDatabankFile mode 1: the file row whose second name is `name`.
  void (*cur_databank_file)(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                            DUDatabankFileRow* row);
  // DDUpdDatabankFile: mode 3 writes "YES", mode 4 "NO " into the row of
  // `id` and `number`.
  void (*upd_databank_file)(int32_t* base, int32_t* pb, int32_t id, int32_t number,
                            const char* second_name, int32_t second_name_length);
  // DDChkPrivilege: pb[0] 1 when `grantee` holds privilege `kind`, 0 when not.
  void (*check_privilege)(int32_t* base, int32_t* pb, int32_t kind, int32_t object_id,
                          const char* grantee, int32_t grantee_length);
  // The user name kept in the user's DDUCOM, blank padded to 128 bytes; its
  // length.
  int32_t (*work_user)(int32_t* base, int32_t usr, char name[DBU_NAME_MAX]);
  // DDInsDbfile: one databank-file row (date and time from `timestamp`).
  void (*insert_dbfile)(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                        const char timestamp[16], const char code[2], const char* text,
                        int32_t text_length, int32_t sequence);
  // DSTransEndReq: block word 0 0 commits, 1 rolls back.
  int32_t (*end_transaction)(int32_t* base, int32_t* block);
  // DSOpenDbReq and DSCloseDbReq.
  int32_t (*open_databank)(int32_t* base, int32_t* block);
  int32_t (*close_databank)(int32_t* base, int32_t* block);
  // DSDisconnect, DSAttach and DSBkpEndRecord on one block; the first two
  // take the current timestamp.
  int32_t (*disconnect)(int32_t* base, int32_t* block, const char timestamp[16]);
  int32_t (*attach)(int32_t* base, int32_t* block, const char timestamp[16]);
  int32_t (*end_record)(int32_t* base, int32_t* block);
  // DSGetDbRootNums: the two root numbers of the open databank `name` (128
  // bytes, blank padded) into block words 2 and 3.
  int32_t (*root_numbers)(int32_t* base, int32_t* block, const char name[DBU_NAME_MAX]);
  // DSBkpApplyMode, DSBkpRefreshFiles and DSBkpRecordFiles (no file names)
  // over the chain on DDUCOM word 6.
  void (*apply_mode)(int32_t* base, int32_t* pb, const char timestamp[16]);
  void (*refresh_files)(int32_t* base, int32_t* pb);
  void (*record_files)(int32_t* base, int32_t* pb, const char timestamp[16]);
};

// Installs `services` (not owned; null members count as not installed) and
// returns the table it replaces; an absent entry answers -19040 and logs its
// name.
const DUOfflineServices* DUInstallOfflineServices(const DUOfflineServices* services);

// pb: word 0 the mode in (1 online, 2 reattach, 3 offline), status out; word
// 1 the USR.
void DSBkpOp7(int32_t* base, int32_t* pb);
void DSBkpSetOnline(int32_t* base, int32_t* pb);
void DSBkpReattach(int32_t* base, int32_t* pb);
// One databank by name, mode in word 0.
void DSBkpOp8(int32_t* base, int32_t* pb, const char* name, int32_t name_length);
// A list: word 0 1 to 3 sets the mode, 4 adds the named databank, 5 applies.
void DSBkpOp9(int32_t* base, int32_t* pb, const char* name, int32_t name_length);
