// Word numbers of the databank kernel's control area (the Bufferpool): the
// header words, the lock word pairs, and the word layout of every entry kind
// that lives in it. An entry X has its link word at X - 1 and word k at X + k.
#pragma once

#include <cstdint>

// ---- Header words ----
constexpr int32_t BP_DBNAME = 4;  // words 4..67: database name bytes (256)
constexpr int32_t BP_DBNAME_BYTES = 256;
constexpr int32_t BP_DBNAME_LENGTH = 68;
constexpr int32_t BP_START_TIME = 69;     // words 69..72: start time text (16 bytes)
constexpr int32_t BP_SIZE = 73;           // size of the array in words
constexpr int32_t BP_LOWEST_BUFFER = 74;  // lowest word used by page buffers
constexpr int32_t BP_VERSION = 75;
constexpr int32_t BP_STATUS = 76;
constexpr int32_t BP_ERROR_COUNT = 77;
constexpr int32_t BP_LAST_OS_ERROR = 78;
constexpr int32_t BP_FIRST_PARTITION = 79;
constexpr int32_t BP_TABLE_COUNT = 80;
constexpr int32_t BP_TABLE_FIRST = 81;
constexpr int32_t BP_TABLE_LAST = 82;
constexpr int32_t BP_TSS_COUNT = 83;
constexpr int32_t BP_TSS_FIRST = 84;
constexpr int32_t BP_TSS_LAST = 85;
constexpr int32_t BP_DATABANK_COUNT = 86;
constexpr int32_t BP_DATABANK_FIRST = 87;
constexpr int32_t BP_DATABANK_LAST = 88;
constexpr int32_t BP_TABLE_HASH = 89;
constexpr int32_t BP_TSS_HASH = 90;
constexpr int32_t BP_DATABANK_HASH = 91;
constexpr int32_t BP_CHECK_OPTION = 93;
constexpr int32_t BP_FIRST_SWA = 94;
constexpr int32_t BP_LAST_SWA = 95;
constexpr int32_t BP_COMMIT_SET_LIST_SIZE = 106;
constexpr int32_t BP_COMMIT_SET_TBL = 107;
constexpr int32_t BP_COMMIT_SET_SIZE = 108;
constexpr int32_t BP_COMMIT_SET_FIRST_PID = 109;
constexpr int32_t BP_COMMIT_SET_INDEX_PID = 113;
constexpr int32_t BP_COMMIT_SET_INDEX_POS = 117;
constexpr int32_t BP_COMMIT_SET_LIMIT_DATA_PID = 118;
constexpr int32_t BP_COMMIT_SET_SHADOW_GTN = 119;
constexpr int32_t BP_COMMIT_SET_SHADOW_FUNCTION = 120;
constexpr int32_t BP_COMMIT_SET_SHADOW_PID = 121;
constexpr int32_t BP_COMMIT_SET_SHADOW_POS = 122;
constexpr int32_t BP_COMMIT_SET_MAX = 123;
constexpr int32_t BP_COMMIT_SET_TRIM_COUNT = 124;
constexpr int32_t BP_POSTPROC_FLUSH_LIMIT = 125;
constexpr int32_t BP_POSTPROC_FLUSH_COUNT = 126;
constexpr int32_t BP_REQUEST_THREADS = 127;
constexpr int32_t BP_NET_REQUEST_THREADS = 128;
constexpr int32_t BP_BACKGROUND_THREADS = 129;
constexpr int32_t BP_IO_SERVERS = 130;
constexpr int32_t BP_LOW_START_TRANS = 131;
constexpr int32_t BP_LOW_VIEW_TRANS = 132;
constexpr int32_t BP_TSS_OVERFLOW_HIGH_START = 134;
constexpr int32_t BP_TSS_OVERFLOWED = 135;
constexpr int32_t BP_TSS_DELETED = 136;
constexpr int32_t BP_TSS_SECURED = 137;
constexpr int32_t BP_TCACHE_USERS = 138;
constexpr int32_t BP_TCACHE_DROP_TIMESTAMP = 139;
constexpr int32_t BP_MAX_PAGE_SIZE = 140;
constexpr int32_t BP_MAX_RECORD_LENGTH = 141;
constexpr int32_t BP_NEXT_RESTART_NUMBER = 142;
constexpr int32_t BP_AWAITED_TRANSACTION = 143;
constexpr int32_t BP_SECURED_TRANS_NUMBER = 145;
constexpr int32_t BP_RESTART_TRANS_NUMBER = 146;
constexpr int32_t BP_TSS_SAFE_COMMIT = 147;
constexpr int32_t BP_TSS_SAFE_LOW = 148;
constexpr int32_t BP_SAFE_HIGH_START = 149;
constexpr int32_t BP_BACKGROUND_FLUSH_RATE = 153;
constexpr int32_t BP_PENDING_BACKGROUND = 154;
constexpr int32_t BP_CHECKPOINT_PENDING = 156;
constexpr int32_t BP_TSS_CHECKPOINT_STATE = 157;
constexpr int32_t BP_GROUP_COMMIT_SLEEP = 162;
constexpr int32_t BP_USERS_IN_COMMIT = 163;
constexpr int32_t BP_TSS_OVERFLOW_LIMIT = 164;
constexpr int32_t BP_TSS_OVERFLOW_CHUNK = 165;
constexpr int32_t BP_TSS_OVERFLOW_VIEW_MIN = 166;
constexpr int32_t BP_HALF_BACKGROUND = 168;
constexpr int32_t BP_ASYNC_IO_LEFT = 172;
constexpr int32_t BP_CANCELLED_REQUESTS = 173;
constexpr int32_t BP_STAT_174 = 174;  // answered by statistics code 21
constexpr int32_t BP_STAT_175 = 175;  // answered by statistics code 22
constexpr int32_t BP_PAGES_WRITTEN = 176;
constexpr int32_t BP_EXTENDS = 177;
constexpr int32_t BP_TRANSACTIONS_STARTED = 178;
constexpr int32_t BP_TRANSACTIONS_BEFORE_GROUP = 179;
constexpr int32_t BP_GROUP_COMMITS = 181;
constexpr int32_t BP_GROUPED_TRANSACTIONS = 182;
constexpr int32_t BP_DISTR_SECURED_ABORTS = 183;
constexpr int32_t BP_DISTR_SECURED_PREPARES = 184;
constexpr int32_t BP_DISTR_COMMITS = 185;
constexpr int32_t BP_COMMITS = 186;
constexpr int32_t BP_COMMIT_SET_ORDER = 187;
constexpr int32_t BP_SECURED_COMMIT_SET_ORDER = 188;
constexpr int32_t BP_COMMITS_SECURED = 189;
constexpr int32_t BP_READ_COMMITS = 190;
constexpr int32_t BP_TRANSACTION_CHECKS = 191;
constexpr int32_t BP_TRANSACTION_ABORTS = 192;
constexpr int32_t BP_PENDING_RESTARTS = 193;
constexpr int32_t BP_WORK_REORGS = 197;
constexpr int32_t BP_CAREFUL_REORGS = 198;
constexpr int32_t BP_TCACHE_RETRIES = 199;
constexpr int32_t BP_TCACHE_DU1_RETRIES = 200;
constexpr int32_t BP_LEVEL1_ENTRIES_LEFT = 220;
constexpr int32_t BP_TABLE_END = 256;  // first word after the table entries
constexpr int32_t BP_FIRST_SWA_INDEX = 259;

// ---- Lock word pairs (ENQ/DEQ semaphores) ----
constexpr int32_t BP_LOCK_LOG = 202;
constexpr int32_t BP_LOCK_BACKGROUND_QUEUE = 204;
constexpr int32_t BP_LOCK_BACKGROUND_IO = 206;
constexpr int32_t BP_LOCK_WS_POSTPROC = 208;
constexpr int32_t BP_LOCK_BACKGROUND_CS_READ = 210;
constexpr int32_t BP_LOCK_COMMIT_SET = 212;
constexpr int32_t BP_LOCK_GROUP_COMMIT = 214;
constexpr int32_t BP_LOCK_GROUP_COMMIT_STOPPER = 216;
constexpr int32_t BP_LOCK_ASYNC_IO = 218;
constexpr int32_t BP_LOCK_SERVER = 222;
constexpr int32_t BP_LOCK_RESTART_NUMBER = 224;
constexpr int32_t BP_LOCK_DATABANK_HASH = 226;
constexpr int32_t BP_LOCK_DATABANK_FREE = 228;
constexpr int32_t BP_LOCK_TABLE_HASH = 230;
constexpr int32_t BP_LOCK_TABLE_FREE = 232;
constexpr int32_t BP_LOCK_TSS_DIRECTORY_DELETE = 234;
constexpr int32_t BP_LOCK_TSS_HASH = 236;
constexpr int32_t BP_LOCK_TSS_FREE = 238;
constexpr int32_t BP_LOCK_KERNEL_240 = 240;
constexpr int32_t BP_LOCK_KERNEL_242 = 242;
constexpr int32_t BP_LOCK_SYNCH_TRANS = 244;
constexpr int32_t BP_LOCK_KERNEL_WAIT_SYNCH = 246;  // 0 units
constexpr int32_t BP_LOCK_BACKGROUND_SYNCH = 248;
constexpr int32_t BP_LOCK_KERNEL_250 = 250;
constexpr int32_t BP_LOCK_BACKGROUND_BARRIER = 252;
constexpr int32_t BP_LOCK_RESTART_SET_CREATE = 254;

// Kernel status (BP_STATUS).
constexpr int32_t BP_STATUS_DOWN = 1;
constexpr int32_t BP_STATUS_SHUTDOWN = 2;
constexpr int32_t BP_STATUS_UP = 3;
constexpr int32_t BP_STATUS_ERROR = 4;
constexpr int32_t BP_VERSION_VALUE = 913;

// ---- Hash table at H ----
constexpr int32_t HASH_BUCKETS = -1;   // number of buckets
constexpr int32_t HASH_FREE_HEAD = 0;  // head of the free list of its entries
constexpr int32_t HASH_IN_USE = 1;     // entries in use
constexpr int32_t HASH_FIRST_BUCKET = 2;
constexpr int32_t ENTRY_LINK = -1;  // link word of every entry
constexpr int32_t ENTRY_KEY = 0;    // 0 while free

// ---- Background-thread slot (SWA), 14 words ----
constexpr int32_t SWA_WORDS = 14;
constexpr int32_t SWA_STATE = 0;
constexpr int32_t SWA_LOCK1 = 7;   // pair, 1 unit
constexpr int32_t SWA_WAKE = 9;    // pair, 0 units
constexpr int32_t SWA_LOCK2 = 11;  // pair, 1 unit

// ---- Databank entry, 62 words ----
constexpr int32_t DBE_WORDS = 62;
constexpr int32_t DBE_DID = 0;
constexpr int32_t DBE_DEPENDENT = 1;  // the shadow entry with the same key
constexpr int32_t DBE_KIND = 6;
constexpr int32_t DBE_ERROR = 7;
constexpr int32_t DBE_ERROR2 = 8;
constexpr int32_t DBE_STATE = 14;
constexpr int32_t DBE_NAME = 21;  // words 21..52: databank name bytes (128)
constexpr int32_t DBE_NAME_BYTES = 128;
constexpr int32_t DBE_LOCK1 = 53;      // pair, 1 unit
constexpr int32_t DBE_LOCK2 = 55;      // pair, 1 unit
constexpr int32_t DBE_WAIT = 57;       // pair, 0 units
constexpr int32_t DBE_LOCK3 = 59;      // pair, 1 unit
constexpr int32_t DBE_KIND_TRANS = 4;  // closed last at shutdown
constexpr int32_t DBE_KIND_SHADOW = 5;
constexpr int32_t DBE_STATE_WAITING = 16;
constexpr int32_t DBE_STATE_RELEASED = 19;

// ---- Transaction state entry (TSS), 22 words; table entry, 13 words ----
constexpr int32_t TSS_WORDS = 22;
constexpr int32_t TBE_WORDS = 13;

// ---- Page partition, 22 words (one per page size) ----
constexpr int32_t PART_WORDS = 22;
constexpr int32_t PART_PAGE_SIZE = 0;
constexpr int32_t PART_UNITS = 1;
constexpr int32_t PART_PAGE_WORDS = 2;  // words of a page after its 32-byte header
constexpr int32_t PART_MAX_RECORD = 3;
constexpr int32_t PART_GROUP_PAGES = 4;  // pages per group
constexpr int32_t PART_GROUPS = 5;
constexpr int32_t PART_GROUP_TABLE = 6;  // 4 words a group
constexpr int32_t PART_HASH = 7;
constexpr int32_t PART_HASH_SIZE = 8;
constexpr int32_t PART_PAGES = 9;
constexpr int32_t PART_STAT_REQUESTS = 10;
constexpr int32_t PART_STAT_FAULTS = 11;
constexpr int32_t PART_STAT_SWAPPED = 15;
constexpr int32_t PART_LAST_BCB = 16;
constexpr int32_t PART_TUNING_FANIN = 17;
constexpr int32_t PART_TUNING_READERS = 19;

// ---- Group of a partition, 4 words (from the word before its index) ----
constexpr int32_t GROUP_WORDS = 4;
constexpr int32_t GROUP_VICTIM = -1;
constexpr int32_t GROUP_FREE_PID = 0;
constexpr int32_t GROUP_LOCK = 1;  // pair, 1 unit

// ---- Buffer control block (BCB), 26 words ----
constexpr int32_t BCB_WORDS = 26;
constexpr int32_t BCB_RING_NEXT = 0;
constexpr int32_t BCB_RING_PREV = 1;
constexpr int32_t BCB_BUFFER = 2;  // index of the page buffer (its word 1)
constexpr int32_t BCB_R = 19;      // pair: readers
constexpr int32_t BCB_W = 21;      // pair: entry turnstile
constexpr int32_t BCB_X = 23;      // pair: exclusive owner
