// What the databank utility statements share: backup mode and backups
// (databank_backup.cc), copy-back (databank_copy_back.cc), databanks and the
// database offline and online (databank_offline.cc). The entries of a
// statement's databanks (DBUENT), the backup file control entries (BFC), the
// catalog rows as the dictionary's cursors hand them out, and the one service
// table through which the dictionary, the kernel core and the request
// interface are reached.
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
inline constexpr int32_t DBU_FILE_MAX = 256;

// Backup file control entry BFC: 37 words, one per databank in backup mode,
// chained newest first from USR BACKUP_BFC.
inline constexpr int32_t BFC_BYTES = 148;
inline constexpr int32_t BFC_NEXT = 0;
inline constexpr int32_t BFC_ID = 1;
inline constexpr int32_t BFC_NUMBER = 2;
inline constexpr int32_t BFC_CLOSE = 3;  // 100000 at the start; the close request's last word
inline constexpr int32_t BFC_NAME_LENGTH = 4;
inline constexpr int32_t BFC_NAME = 5;  // 128 bytes
inline constexpr int32_t BFC_FIRST_CLOSE = 100000;

// Words of the user's dictionary work block that the utilities keep.
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

inline constexpr int32_t BKP_SCOPE_REFUSED = -14017;   // backup mode in scope 1
inline constexpr int32_t BKP_NOT_IN_BACKUP = -14020;
inline constexpr int32_t BKP_INCREMENTAL_IN_BACKUP = -14018;
inline constexpr int32_t BKP_INCREMENTAL_OF_SYSTEM = -18201;
inline constexpr int32_t BKP_TIME_WITH_FILE = -19901;
inline constexpr int32_t BKP_ROOT_NUMBERS = -18008;
inline constexpr int32_t BKP_DATABANK_GONE = -19021;  // a close finding no databank
inline constexpr int32_t BKP_NEEDS_RESTORE = -16159;  // DSSetDbOpt: counts as done
inline constexpr int32_t BKP_TABLE_HELD = -16001;
inline constexpr int32_t BKP_SCOPE = 4;  // TRANSACTION_SCOPE of backup mode
inline constexpr int32_t BKP_BATCH = 100;  // databank ids per root or attach request

// Result-vector bits of a refused exclusive claim: the databank, and for a
// table held by another the table as well.
inline constexpr int32_t BKP_RVEC_DATABANK = 1 << 2;
inline constexpr int32_t BKP_RVEC_TABLE = 1 << 3;

// A databank row as DDCurDatabank hands it out; texts blank padded.
struct DUDatabankRow {
  int32_t id = 0;
  int32_t number = 0;
  char name[DBU_NAME_MAX];
  int32_t name_length = 0;
  char second_name[DBU_NAME_MAX];  // column 5
  int32_t second_name_length = 0;
  bool flag = false;  // column 10 set: the databank is offline (the row's offline letter)
  char creator[DBU_NAME_MAX];  // column 11
  int32_t creator_length = 0;
  char file_name[DBU_FILE_MAX];  // column 7
  int32_t file_name_length = 0;
  int32_t trans_option = 0;  // column 9: 3 "LOG", 2 "TRANS", 1 "NULL"
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
  char file_name[DBU_FILE_MAX];
  int32_t file_name_length = 0;
  int32_t kind_words[4] = {};  // the row's words 9 to 12, for DSChkTableKind
};

// Request blocks. Every request takes a block of UTL_WORDS words, cleared
// but for the words named: word 0 the kind or mode in and the status out,
// word 1 the USR, word 2 the databank id.
inline constexpr int32_t UTL_WORDS = 136;
// DSOpenDbReq: 3 the databank number in, the kernel's entry out; 4 -1 in,
// the DCB out.
inline constexpr int32_t UTL_NUMBER = 3;
inline constexpr int32_t UTL_FURTHER = 4;
inline constexpr int32_t UTL_DCB = 4;
// DSCloseDbReq: 3 the last word (-1, a BFC's word, a row number).
inline constexpr int32_t UTL_CLOSE_WORD = 3;
// DSOpenDbFile and DSExecRoutine, as the kernel's file request: 2 the
// logical id the file is held under (-1 for a file of its own: the backup
// and incremental files), which later requests take as the file's handle
// (the close's last word, the roll-forward's backup copy); 4 the sequence
// (number), 5 the type, 6 the size, 8 the logical name (128 bytes), 40 the
// second name (128), 72 the file name (256).
inline constexpr int32_t UTL_HANDLE = 2;
inline constexpr int32_t UTL_SEQNO = 4;
inline constexpr int32_t UTL_TYPE = 5;
inline constexpr int32_t UTL_SIZE = 6;
inline constexpr int32_t UTL_LOGICAL_NAME = 8;
inline constexpr int32_t UTL_SECOND_NAME = 40;
inline constexpr int32_t UTL_FILE_NAME = 72;
// DSSetDbRoots and the batches of DSAttach: 4 the value (100000), 6 the
// count (negated for an abandoned backup's roots), 12 on the ids.
inline constexpr int32_t UTL_VALUE = 4;
inline constexpr int32_t UTL_COUNT = 6;
inline constexpr int32_t UTL_IDS = 12;
// DSBkpEndRecord: 7 the sequence number n out, 8-11 the time stamp text.
inline constexpr int32_t UTL_SEQUENCE = 7;
inline constexpr int32_t UTL_STAMP = 8;
// DSDisconnect: 4 the databank number. DSSetDbOpt: 4 the number in and out.
// DSCopyDbReq: 3 the file row's number, 4 the opened file's handle, 5 the
// databank number. DSChkTableKind: 3-6 the file row's words 9 to 12.
// DSDkResult: 3 the BFC's word. DSTabScan1/2: the roll-forward request.

// The services. Dictionary entries take the caller's parameter block: word 0
// the mode in and the status out (0 done, positive no (further) row,
// negative an error), word 1 the USR. Request entries take a request block
// and answer its word 0.
struct DUUtilityServices {
  // DDCurDatabank: mode 1 the row of `name`, 2 the row of `id`, 3 the first
  // row of a walk over all rows, 0 the next one.
  void (*cur_databank)(int32_t* base, int32_t* pb, int32_t id, const char* name,
                       int32_t name_length, DUDatabankRow* row);
  // DDCurDatabankFile: mode 1 the file row whose second name is `name`; 3
  // the first file row of the databank named `name`, 0 the next one.
  void (*cur_databank_file)(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                            DUDatabankFileRow* row);
  // DDUpdDatabankFile: mode 3 writes "YES", mode 4 "NO " into the row of
  // `id` and `number`.
  void (*upd_databank_file)(int32_t* base, int32_t* pb, int32_t id, int32_t number,
                            const char* second_name, int32_t second_name_length);
  // DDUpdDatabank: the offline letter of every row of databank `id`, "Y"
  // when `offline`, else "N" (the flag DDCurDatabank's column 10 gives).
  void (*upd_databank)(int32_t* base, int32_t* pb, int32_t id, bool offline);
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
  // over the chain on DDUCOM word 6, as the offline operations reach them
  // (DUUtilityOwnEntries fills them with record access's own).
  void (*apply_mode)(int32_t* base, int32_t* pb, const char timestamp[16]);
  void (*refresh_files)(int32_t* base, int32_t* pb);
  void (*record_files)(int32_t* base, int32_t* pb, const char timestamp[16]);
  // DDCreUcom, DDDelUcom, DDBegWork and DDEndWork (pb[0] 0 commits, 1 rolls
  // back).
  void (*create_work_block)(int32_t* base, int32_t* pb);
  void (*delete_work_block)(int32_t* base, int32_t* pb);
  void (*begin_work)(int32_t* base, int32_t* pb);
  void (*end_work)(int32_t* base, int32_t* pb);
  // DDUpdByTable: the rows of databank `id` after a copy-back over a time.
  void (*update_by_table)(int32_t* base, int32_t* pb, int32_t id);
  // DSOpenDbFile; DSGetDbInfo (the two sizes out); DSSetDbRoots;
  // DSChkTableKind; DSCopyDbReq; DSChkTabUtil (with the timestamp);
  // DSSetDbOpt; DSNewCursor (word 0 the status 1 or 3); DSExecRoutine;
  // DSDkResult; DSTabScan1 and DSTabScan2.
  int32_t (*open_file)(int32_t* base, int32_t* block);
  int32_t (*database_info)(int32_t* base, int32_t* block, int32_t* first, int32_t* second);
  int32_t (*set_roots)(int32_t* base, int32_t* block);
  int32_t (*check_table_kind)(int32_t* base, int32_t* block);
  int32_t (*copy_databank)(int32_t* base, int32_t* block);
  int32_t (*check_utility)(int32_t* base, int32_t* block, const char timestamp[16]);
  int32_t (*set_options)(int32_t* base, int32_t* block);
  int32_t (*new_cursor)(int32_t* base, int32_t* block);
  int32_t (*exec_routine)(int32_t* base, int32_t* block);
  int32_t (*kernel_result)(int32_t* base, int32_t* block);
  int32_t (*scan_full)(int32_t* base, int32_t* block);
  int32_t (*scan_range)(int32_t* base, int32_t* block);
};

// Installs `services` (not owned; null members count as not installed) and
// returns the table it replaces; an absent entry answers -19040 and logs its
// name.
const DUUtilityServices* DUInstallUtilityServices(const DUUtilityServices* services);

// Fills the entries that are record access's own operations (apply_mode,
// refresh_files, record_files).
void DUUtilityOwnEntries(DUUtilityServices* services);
