// The services the kernel core takes from the layers above it: record access
// (tables, transactions, collations), the statement interpreter, the data
// dictionary's statement images and the request interface's information
// items. Their owners install one table at start; an entry nobody installed
// answers KERNEL_SERVICE_ABSENT and logs a report that names it.
#pragma once

#include <cstdint>

// What an uninstalled entry answers (the same answer record access and the
// databank kernel give for their own missing upper services).
inline constexpr int32_t KERNEL_SERVICE_ABSENT = -19040;

struct KernelUpperServices {
  // --- Record access ---
  // DUCrtTcbHash: creates SYS TCB_LIST; 0 or negative.
  int32_t (*du_crt_tcb_hash)(int32_t* base);
  // DUOpenSysTable: registers a catalog base table from its description
  // (`words` words) for the databank DCB; 0, 1 already registered, negative.
  int32_t (*du_open_sys_table)(int32_t* base, const int32_t* description, int32_t words,
                               int32_t dcb);
  // DUTcbUseCount: the use counts of the table's TCB (0 when it is not
  // open), negative without the list.
  int32_t (*du_tcb_use_count)(int32_t* base, int32_t table);
  // DUOpenTableChain: open kind, LID, table, access, key and record length,
  // transaction mode, the table's kind; the TCB in *tcb. 0 or negative.
  int32_t (*du_open_table_chain)(int32_t* base, int32_t usr, const int32_t* request, int32_t* tcb);
  // DUOpenTableChain for a record block and its open block: the record's
  // status word (19) gets the answer.
  void (*du_open_record_chain)(int32_t* base, int32_t usr, int32_t* record, int32_t* open);
  // DUCloseTables: closes a TCB with a close kind.
  int32_t (*du_close_tables)(int32_t* base, int32_t tcb, int32_t kind);
  // DUFreeTcbEntry: closes and frees every open TCB of TCB_LIST.
  int32_t (*du_free_tcb_entries)(int32_t* base);
  // DSCloseSecTables / DSOpenComTables: the table handles of a section.
  int32_t (*close_sec_tables)(int32_t* base, int32_t usr, int32_t sd, int32_t stg);
  int32_t (*open_com_tables)(int32_t* base, int32_t usr, int32_t com);
  // DSGetTransScope: the session's TP TRANSACTION_SCOPE, 0 without one.
  int32_t (*get_trans_scope)(int32_t* base, int32_t usr);
  // XLInstallTable: (mode, table number, 256-byte table); status.
  int32_t (*xl_install_table)(int32_t* base, int32_t mode, int32_t id, const uint8_t* table);
  // DSTransCleanup and DSFreeTP of a session's transaction block.
  int32_t (*trans_cleanup)(int32_t* base, int32_t usr, int32_t tp);

  // --- Statement interpreter ---
  // DAMAE2: runs `stm` (its active compound block's program and storage)
  // from its PC for session `usr`; result[0] the status, result[1..12] the
  // result vector. Status 0 with PC not 0: a row; PC 0: the end.
  void (*damae2)(int32_t* base, int32_t* result, int32_t stm, int32_t usr);
  // DAOpName: the opcode's three letters into name[0..2]; 0, or not 0 when unknown.
  int32_t (*da_op_name)(int32_t opcode, char* name);

  // --- Data dictionary ---
  // DDStmtImage: the precompiled statement `number` (negative): its header
  // of 16-bit values and its run-length encoded body. 0, or negative when
  // there is no such image.
  int32_t (*dd_stmt_image)(int32_t number, const int16_t** header, int32_t* header_length,
                           const int32_t** body, int32_t* body_length);

  // --- Request interface ---
  // DSInfoBuild (SYS SIIA word, 4711), DSInfoGet/DSInfoPut (error
  // translation table), DSInfoFree, DSInfoClear, DSRegEscCallbacks.
  int32_t (*info_build)(int32_t* base, int32_t* siia);
  int32_t (*info_error_table)(int32_t* base, int32_t* table);
  int32_t (*info_free)(int32_t* base, int32_t* area);
  int32_t (*info_clear)(int32_t* base, int32_t siia);
  int32_t (*reg_esc_callbacks)(int32_t* base);
  // DSRelStm (session, statement, kind); DSTransEndReq; DSLockTables mode 1;
  // DSSeqRelease: the session lets go of the sequences it used (its
  // SEQUENCE_LCB chain, freed), each one's unwritten values written back
  // when it was the last session using it.
  int32_t (*rel_stm)(int32_t* base, int32_t usr, int32_t stm, int32_t kind);
  int32_t (*trans_end_req)(int32_t* base, int32_t usr);
  int32_t (*lock_tables_end_load)(int32_t* base, int32_t usr);
  int32_t (*seq_release)(int32_t* base, int32_t usr);

  // --- Record access: the transactions of XA branches ---
  // DSBTR3: begins a transaction for the session (its USR TP); 0 or negative.
  int32_t (*begin_trans)(int32_t* base, int32_t usr);
  // DSGetTransState: not 0 while the session is inside a local transaction.
  int32_t (*get_trans_state)(int32_t* base, int32_t usr);
  // DSEndTransWork / DSEndTrans: ends the session's transaction by the end
  // code (84, 87, 89, 90) over the identifier bytes; 1 nothing written,
  // -10001/-10002 a lost conflict, other negatives errors.
  int32_t (*end_trans_work)(int32_t* base, int32_t usr, int32_t code, const uint8_t* xid,
                            int32_t length);
  // DSFreeTP: releases a transaction block (and its kernel transaction).
  int32_t (*free_tp)(int32_t* base, int32_t tp);
  // The table open of record access for a session: the table request (kind
  // in word 19) and the table's descriptor, with the session's TRV_COND;
  // 0 or the status.
  int32_t (*open_table)(int32_t* base, int32_t usr, int32_t trv_cond, int32_t* table_request,
                        const int32_t* descriptor);
  // DUGiveUpBackupSet: the session's backup set given up (each databank's
  // backup file closed and its exclusive claim released; the BACKUP_BFC
  // entries freed); the first failure or 0.
  int32_t (*backup_release)(int32_t* base, int32_t usr);
};

// Installs `services` (not owned; null members count as not installed) and
// returns the table it replaces; nullptr takes every entry away.
const KernelUpperServices* KernelInstallUpperServices(const KernelUpperServices* services);

// The kernel's calls. Each answers KERNEL_SERVICE_ABSENT (DAMAE2: in
// result[0]) and logs "<name>: kernel upper service not installed" when
// nobody installed it.
int32_t UpCrtTcbHash(int32_t* base);
int32_t UpOpenSysTable(int32_t* base, const int32_t* description, int32_t words, int32_t dcb);
int32_t UpTcbUseCount(int32_t* base, int32_t table);
// Absent: the record's status word gets KERNEL_SERVICE_ABSENT.
void UpOpenRecordChain(int32_t* base, int32_t usr, int32_t* record, int32_t* open);
int32_t UpOpenTableChain(int32_t* base, int32_t usr, const int32_t* request, int32_t* tcb);
int32_t UpCloseTables(int32_t* base, int32_t tcb, int32_t kind);
int32_t UpFreeTcbEntries(int32_t* base);
int32_t UpCloseSecTables(int32_t* base, int32_t usr, int32_t sd, int32_t stg);
int32_t UpOpenComTables(int32_t* base, int32_t usr, int32_t com);
int32_t UpGetTransScope(int32_t* base, int32_t usr);
int32_t UpXLInstallTable(int32_t* base, int32_t mode, int32_t id, const uint8_t* table);
int32_t UpTransCleanup(int32_t* base, int32_t usr, int32_t tp);
void UpDAMAE2(int32_t* base, int32_t* result, int32_t stm, int32_t usr);
int32_t UpDAOpName(int32_t opcode, char* name);
int32_t UpStmtImage(int32_t number, const int16_t** header, int32_t* header_length,
                    const int32_t** body, int32_t* body_length);
int32_t UpInfoBuild(int32_t* base, int32_t* siia);
int32_t UpInfoErrorTable(int32_t* base, int32_t* table);
int32_t UpInfoFree(int32_t* base, int32_t* area);
int32_t UpInfoClear(int32_t* base, int32_t siia);
int32_t UpRegEscCallbacks(int32_t* base);
int32_t UpRelStm(int32_t* base, int32_t usr, int32_t stm, int32_t kind);
int32_t UpTransEndReq(int32_t* base, int32_t usr);
int32_t UpLockTablesEndLoad(int32_t* base, int32_t usr);
int32_t UpSeqRelease(int32_t* base, int32_t usr);
int32_t UpBeginTrans(int32_t* base, int32_t usr);
int32_t UpGetTransState(int32_t* base, int32_t usr);
int32_t UpEndTransWork(int32_t* base, int32_t usr, int32_t code, const uint8_t* xid,
                       int32_t length);
int32_t UpFreeTP(int32_t* base, int32_t tp);
int32_t UpOpenTable(int32_t* base, int32_t usr, int32_t trv_cond, int32_t* table_request,
                    const int32_t* descriptor);
int32_t UpBackupRelease(int32_t* base, int32_t usr);
