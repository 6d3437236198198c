// Word layouts of record access: the record block (DUREC) a statement
// accesses a table through, the open and close blocks of the table control
// blocks, the TCB hash table, the catalog description of a table, the
// statement work entry of a fetch, and the statuses record access answers.
// The kernel blocks themselves (TP, TCB, ICB, FICB, TRS, USR, ...) are the
// kernel's, named in kernel/control_blocks.h.
#pragma once

#include <cstdint>

// ---- Record block DUREC (words from 0) ----
inline constexpr int32_t DUREC_KEY_FLAG = 0;  // table key flag; base table number of an index block
inline constexpr int32_t DUREC_FETCH_CODE = 1;
inline constexpr int32_t DUREC_OBJECT = 2;  // TCB, or ICB for an index block
inline constexpr int32_t DUREC_ACCESS_MODE = 3;
inline constexpr int32_t DUREC_APPEND_STATUS = 4;  // queue append request: status
inline constexpr int32_t DUREC_QUEUE = 5;          // words 5-11: the queue descriptor
inline constexpr int32_t DUREC_MERGE = 6;          // positive: rows go through the write set
inline constexpr int32_t DUREC_REQUEST_WORDS = 12;
inline constexpr int32_t DUREC_REQUEST = 13;        // DKFNT1-shaped requests start here
inline constexpr int32_t DUREC_FETCH_REQUEST = 14;  // DKFET1-shaped requests start here
inline constexpr int32_t DUREC_WS_PAGE = 14;        // DKINT1: place of the appended image
inline constexpr int32_t DUREC_WS_POSITION = 15;
inline constexpr int32_t DUREC_ENTRY_ORDER = 16;  // cursor order number of a write-set entry found
inline constexpr int32_t DUREC_TSS = 18;
inline constexpr int32_t DUREC_STATUS = 19;  // positioning mode in, status out
inline constexpr int32_t DUREC_TRANSACTION_NUMBER = 20;
inline constexpr int32_t DUREC_LID = 21;
inline constexpr int32_t DUREC_TYPE = 22;
inline constexpr int32_t DUREC_TBL = 23;
inline constexpr int32_t DUREC_TNAME = 24;
inline constexpr int32_t DUREC_KEYLEN = 25;
inline constexpr int32_t DUREC_RECLEN = 26;
inline constexpr int32_t DUREC_HANDLE = 27;  // update handle of DKPFU1
inline constexpr int32_t DUREC_CURSOR_ORDER = 28;
inline constexpr int32_t DUREC_RECORD = 29;  // the row, key first

// Words of a record block for rows of `reclen` bytes (with one spare word
// for the prefix length a key may carry).
constexpr int32_t DurecWords(int32_t reclen) {
  return DUREC_RECORD + (reclen + 3) / 4 + 1;
}
// The queue record length of a row or key of `length` bytes.
constexpr int32_t QueueRecordWords(int32_t length) {
  return (length - 1) / 4 + 11;
}

// Index record block types (DUREC_TYPE).
inline constexpr int32_t DU_TYPE_INDEX = 2;
inline constexpr int32_t DU_TYPE_INDEX_REF = 12;
inline constexpr int32_t DU_WORK_TABLE = -1;  // TNAME of a work table

// ---- Open block (words from 0) ----
inline constexpr int32_t OPB_KIND = 0;  // open kind and round
inline constexpr int32_t OPB_TRANS_MODE = 1;
inline constexpr int32_t OPB_LID = 2;
inline constexpr int32_t OPB_TYPE = 3;
inline constexpr int32_t OPB_TNAME = 4;
inline constexpr int32_t OPB_KEYLEN = 5;
inline constexpr int32_t OPB_RECLEN = 6;
inline constexpr int32_t OPB_HELD_TCB = 7;  // a TCB whose semaphore S is held
inline constexpr int32_t OPB_OPENED_TCB = 9;
inline constexpr int32_t OPB_WALK_ICB = 10;
inline constexpr int32_t OPB_WALK_FICB = 11;
inline constexpr int32_t OPB_FILL_TCB = 12;
inline constexpr int32_t OPB_MERGE_FLAG = 13;
inline constexpr int32_t OPB_DCB = 14;
inline constexpr int32_t OPB_NO_COUNT = 16;  // 2: no reference count is taken
inline constexpr int32_t OPB_DESCRIPTION = 17;
inline constexpr int32_t OPB_WORDS = 18;

// Open kinds.
inline constexpr int32_t OPEN_BASE = 1;
inline constexpr int32_t OPEN_THROUGH_INDEX = 2;
inline constexpr int32_t OPEN_REFERENCED = 3;
inline constexpr int32_t OPEN_REFERENCE_ROUND = 4;

// ---- Close block (words from 0) ----
inline constexpr int32_t CLB_CODE = 0;
inline constexpr int32_t CLB_CLOSED_LID = 2;  // LID of a table closed for good, 0 otherwise
inline constexpr int32_t CLB_HELD_TCB = 7;
inline constexpr int32_t CLB_NEXT_TCB = 9;
inline constexpr int32_t CLB_WALK_ICB = 10;
inline constexpr int32_t CLB_WALK_FICB = 11;
inline constexpr int32_t CLB_SPARE = 14;
inline constexpr int32_t CLB_FIRST_FAILURE = 15;
inline constexpr int32_t CLB_WORDS = 16;

// Close codes.
inline constexpr int32_t CLOSE_HELD = 1;
inline constexpr int32_t CLOSE_WITH_REFERENCES = 3;
inline constexpr int32_t CLOSE_TABLE = 5;
inline constexpr int32_t CLOSE_DROP_WORK = 6;
inline constexpr int32_t CLOSE_REFERENCE_TARGET = 8;

// ---- TCB hash table, hung from SYS TCB_LIST ----
inline constexpr int32_t TCBH_BUCKETS = 0;  // the NEXT word holds the bucket count
inline constexpr int32_t TCBH_CHAIN_STRIDE = 1;
inline constexpr int32_t TCBH_LOCK_STRIDE = 2;
inline constexpr int32_t TCBH_FIRST_BUCKET = 4;  // bucket k at 4k + 4
inline constexpr int32_t TCBH_BUCKET_WORDS = 4;  // semaphore (2 words), spare, chain head
inline constexpr int32_t TCBH_BUCKET_LOCK = 0;
inline constexpr int32_t TCBH_BUCKET_HEAD = 3;
inline constexpr int32_t TCBH_BUCKET_COUNT = 400;
inline constexpr int32_t TCBH_BYTES = 6416;

// ---- XA recovery handle (24 bytes) ----
inline constexpr int32_t RATH_LID = 0;  // the NEXT word holds the databank's LID
inline constexpr int32_t RATH_DCB = 1;
inline constexpr int32_t RATH_KIND = 2;  // 10
inline constexpr int32_t RATH_TNAME = 3;
inline constexpr int32_t RATH_TCB = 4;
inline constexpr int32_t RATH_USECOUNT = 5;
inline constexpr int32_t RATH_BYTES = 24;
inline constexpr int32_t RATH_KIND_RECOVERY = 10;

// ---- Catalog description of a table ----
inline constexpr int32_t DESC_KIND = 0;
inline constexpr int32_t DESC_LID = 2;
inline constexpr int32_t DESC_TYPE = 3;
inline constexpr int32_t DESC_KEYLEN = 4;
inline constexpr int32_t DESC_RECLEN = 5;
inline constexpr int32_t DESC_CONSTRAINT_SYSID = 8;
inline constexpr int32_t DESC_ENTRIES = 9;
// Index entry: {kind, index number, four words, FK_TNAME, FK_XNAME, DIRTY,
// CONSTRAINT_SYSID, key description (its first word its own length)}.
inline constexpr int32_t DESCIX_KIND = 0;
inline constexpr int32_t DESCIX_TNAME = 1;
inline constexpr int32_t DESCIX_FK_TNAME = 6;
inline constexpr int32_t DESCIX_FK_XNAME = 7;
inline constexpr int32_t DESCIX_DIRTY = 8;
inline constexpr int32_t DESCIX_CONSTRAINT_SYSID = 9;
inline constexpr int32_t DESCIX_XD = 10;
// Foreign-key entry: {7, referenced index, referenced table, own index}.
inline constexpr int32_t DESC_FOREIGN_KEY = 7;
inline constexpr int32_t DESC_LOB_COLUMNS = 9;
inline constexpr int32_t DESC_END = -1;

// ICB key description: a count word, then triples {offset, length, kind}.
// The fetch and change code walks the triples from ICB field 19 (the first
// word after the count at XD).
inline constexpr int32_t ICB_FIRST_PART = 19;
inline constexpr int32_t KEY_PART_WORDS = 3;

// Index kinds (ICB IXTYPE).
inline constexpr int32_t IX_FOREIGN_KEY = 4;
inline constexpr int32_t IX_UNIQUE_NULLS_FREE = 5;
inline constexpr int32_t IX_UNIQUE = 6;
inline constexpr int32_t IX_FOREIGN_KEY_SKIPPED = 8;
// TCB IXTYPE 2: the kernel generates the table's key.
inline constexpr int32_t TCB_GENERATED_KEY = 2;

// ---- Statement work entry of a fetch (fields from NEXT = 0) ----
inline constexpr int32_t WRK_RECORD_BLOCK = 1;
inline constexpr int32_t WRK_STATE = 2;
inline constexpr int32_t WRK_SCAN_MODE = 3;
inline constexpr int32_t WRK_OBJECT = 6;
inline constexpr int32_t WRK_REQUEST = 17;  // a DKFNT1 request; its word k is field 17 + k
inline constexpr int32_t WRK_BYTES = 136;   // plus one record of the largest size

// Merge states (WRK_STATE).
inline constexpr int32_t MERGE_FRESH = 40;
inline constexpr int32_t MERGE_TABLE_LED = 41;
inline constexpr int32_t MERGE_WS_DONE = 42;
inline constexpr int32_t MERGE_PARKED = 43;
inline constexpr int32_t MERGE_TABLE_DONE = 44;

// ---- Statuses ----
inline constexpr int32_t DU_NO_STORAGE = -11002;
inline constexpr int32_t DU_COMMIT_RECORD_TOO_LONG = -11014;
inline constexpr int32_t DU_TRANSACTION_OPEN = -14011;
inline constexpr int32_t DU_NO_TRANSACTION = -14012;
inline constexpr int32_t DU_NO_OPEN_TP = -14013;
inline constexpr int32_t DU_READ_ONLY = -14014;
inline constexpr int32_t DU_END_IN_ATOMIC = -14015;
inline constexpr int32_t DU_SCOPE_NO_STATEMENT = -14017;
inline constexpr int32_t DU_TABLE_HELD = -16001;
inline constexpr int32_t DU_TABLE_IN_USE = -16002;
inline constexpr int32_t DU_CLAIMED = -16172;
inline constexpr int32_t DU_TP_UNUSABLE = -16194;
inline constexpr int32_t DU_OTHER_TRANSACTION = -18027;
inline constexpr int32_t DU_BAD_DESCRIPTION_LENGTHS = -19012;
inline constexpr int32_t DU_BAD_BEGIN_MODE = -19020;
inline constexpr int32_t DU_KERNEL_LENGTHS = -19025;
inline constexpr int32_t DU_BAD_FETCH_CODE = -19026;
inline constexpr int32_t DU_NO_BASE_TABLE = -19027;
inline constexpr int32_t DU_NOT_INITIALISED = -19040;
inline constexpr int32_t DU_TRS_NOT_ON_CHAIN = -19044;
inline constexpr int32_t DU_BAD_ROW_OPERATION = -19049;
inline constexpr int32_t DU_ROW_GONE = -19068;
inline constexpr int32_t DU_READ_SET_MISMATCH = -19072;
inline constexpr int32_t DU_NOT_IN_BUCKET = -19076;
inline constexpr int32_t DU_BAD_ARGUMENT = -19077;
inline constexpr int32_t DU_FORCED_ROLLBACK = -10001;
inline constexpr int32_t DU_KERNEL_OFFSET =
    -16140;  // a kernel code c < 0 reaches callers as c - 16140
inline constexpr int32_t DU_NO_ROW = 100;

// Kernel function codes record access sends.
inline constexpr int32_t DK_AFC1 = 5, DK_APS1 = 6, DK_BTR1 = 8, DK_CCS1 = 9, DK_CHK1 = 10,
                         DK_CHT1 = 11, DK_CLT1 = 13, DK_CRT1 = 16, DK_DEL1 = 20, DK_DRP1 = 22,
                         DK_DRS1 = 23, DK_ETR1 = 25, DK_FEP1 = 26, DK_FET1 = 27, DK_FNT1 = 28,
                         DK_FPT1 = 29, DK_GGK1 = 33, DK_GNS1 = 34, DK_GPS1 = 35, DK_IND1 = 37,
                         DK_INS1 = 38, DK_INT1 = 39, DK_OPT1 = 45, DK_PFU1 = 46, DK_RCM1 = 48,
                         DK_ROL1 = 50, DK_UPD1 = 55;

// A kernel status as record access answers it.
constexpr int32_t KernelStatus(int32_t c) {
  return c < 0 ? c + DU_KERNEL_OFFSET : c;
}
