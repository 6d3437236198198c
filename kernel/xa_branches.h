// XA transaction branches: XAENT blocks in SYS FIRST_XAENT (guarded by
// XAENT_S), each owning a kernel transaction and attached to at most one
// session. DSXAL2 finds a branch and checks the operation against its state,
// DSXAT3 carries the operation out, DSXAR3 lists branches to recover.
#pragma once

#include <cstdint>

// Request words of DSXAL2 / DSXAT3 / DSXAR3.
inline constexpr int32_t XAREQ_OP = 0;  // operation in, status out
inline constexpr int32_t XAREQ_USR = 1;
inline constexpr int32_t XAREQ_CODE = 2;    // XA return code out
inline constexpr int32_t XAREQ_CURSOR = 3;  // recover: highest transaction number listed
inline constexpr int32_t XAREQ_WORDS = 4;

// Identifier record: words 4-7, then the identifier bytes from byte 32.
inline constexpr int32_t XID_FLAGS = 4;
inline constexpr int32_t XID_FORMAT = 5;
inline constexpr int32_t XID_GTRID_LENGTH = 6;
inline constexpr int32_t XID_BQUAL_LENGTH = 7;
inline constexpr int32_t XID_DATA = 8;
inline constexpr int32_t XID_MAX_BYTES = 128;
inline constexpr int32_t XID_WORDS = XID_DATA + XID_MAX_BYTES / 4;
inline constexpr int32_t XID_PART_MAX = 64;

// Flags of the XA standard.
inline constexpr int32_t TMNOWAIT = 0x10000000;
inline constexpr int32_t TMFAIL = 0x20000000;
inline constexpr int32_t TMSUSPEND = 0x02000000;
inline constexpr int32_t TMMIGRATE = 0x00100000;

// Branch states.
inline constexpr int32_t XA_STARTED = 50;
inline constexpr int32_t XA_ACTIVE = 51;
inline constexpr int32_t XA_SUSPENDED = 52;
inline constexpr int32_t XA_IDLE = 53;
inline constexpr int32_t XA_PREPARED = 54;
inline constexpr int32_t XA_PREPARED_OWN = 55;
inline constexpr int32_t XA_HEURISTIC_COMMIT = 56;
inline constexpr int32_t XA_HEURISTIC_ROLLBACK = 57;
inline constexpr int32_t XA_FINISHED = 58;

// XA return codes.
inline constexpr int32_t XA_OK = 0;
inline constexpr int32_t XA_RDONLY = 3;
inline constexpr int32_t XA_RETRY = 4;
inline constexpr int32_t XA_HEURRB = 6;
inline constexpr int32_t XA_HEURCOM = 7;
inline constexpr int32_t XA_RBROLLBACK = 100;
inline constexpr int32_t XA_RBDEADLOCK = 102;
inline constexpr int32_t XAER_RMERR = -3;
inline constexpr int32_t XAER_NOTA = -4;
inline constexpr int32_t XAER_INVAL = -5;
inline constexpr int32_t XAER_PROTO = -6;
inline constexpr int32_t XAER_RMFAIL = -7;
inline constexpr int32_t XAER_DUPID = -8;
inline constexpr int32_t XAER_OUTSIDE = -9;

// Kernel statuses of the branch checks.
inline constexpr int32_t XA_DUPLICATE_ID = -14047;
inline constexpr int32_t XA_OTHER_OWNER = -14048;
inline constexpr int32_t XA_SESSION_HAS_BRANCH = -14049;
inline constexpr int32_t XA_NO_BRANCH = -14050;
inline constexpr int32_t XA_BAD_STATE = -14051;
inline constexpr int32_t XA_LOCAL_TRANSACTION = -14052;
inline constexpr int32_t XA_WOULD_WAIT = -14053;
inline constexpr int32_t XA_NOT_ADMINISTRATOR = -12506;
inline constexpr int32_t XA_BAD_IDENTIFIER = -19085;
inline constexpr int32_t XA_BAD_OPERATION = -19020;
inline constexpr int32_t XA_NO_IDENT_STATEMENT = -18002;

// The TP AUTOCOMMIT value of a branch's transaction.
inline constexpr int32_t XA_TP_AUTOCOMMIT = 88;

// Recover reply: entries of 36 bytes after 5 header bytes' worth of room.
inline constexpr int32_t XAR_ENTRY_BYTES = 36;
inline constexpr int32_t XAR_NO_BRANCH = 3;

// The branch found (or created for operations 1 and 11), 0 on failure.
// `xid` holds XID_WORDS words.
int32_t DSXAL2(int32_t* base, int32_t* request, const int32_t* xid);
void DSXAT3(int32_t* base, int32_t* request, const int32_t* xid);
// Lists branches to recover into `reply` (reply_bytes long, the list of
// entries: kind, format, gtrid and bqual lengths, identifier bytes; word 0
// the count of entries, word 1 1 while more follow). No branch at all:
// words 0 and 1 are 3.
void DSXAR3(int32_t* base, int32_t* request, int32_t* reply, int32_t reply_bytes);
// Mode 0 detaches the branch from the session and gives its hold back;
// mode 1 only gives back a hold of a caller not attached to it.
void DSXARelease(int32_t* base, int32_t usr, int32_t xaent, int32_t mode);
void DSXAAttach(int32_t* base, int32_t usr, int32_t xaent, int32_t mode);
// At logout or reset: the session's branches are released; one it owns
// in state 50 or 51 is rolled back and finished first. A prepared branch
// (54, 55) stays for the transaction manager.
void DSXAEndSession(int32_t* base, int32_t usr);
// The end code of a roll back.
inline constexpr int32_t XA_END_ROLLBACK = 87;
// 1 no transaction, 2 not the session's branch's (or a finished one), 3 the
// branch is in state 50 or 55, 4 any other state.
int32_t DSXATransKind(int32_t* base, int32_t usr);
// Administrator check of the session's user through THR STM_MOS_IDENT: 0 or
// a negative status.
int32_t DSChkAdmIdent(int32_t* base, int32_t usr);
// At database stop: every branch leaves FIRST_XAENT and is freed (a
// prepared branch's transaction stays recorded by the databank kernel;
// others free their transaction), and the pooled transaction blocks go.
void DSXAFreeAll(int32_t* base, int32_t sys);

// The words after the 128-byte key of a heuristic decision's record in the
// databank kernel's table 5: the decided state (56 or 57), the format and
// the two lengths of the identifier.
inline constexpr int32_t XAREC_STATE = 32;
inline constexpr int32_t XAREC_FORMAT = 33;
inline constexpr int32_t XAREC_GTRID_LENGTH = 34;
inline constexpr int32_t XAREC_BQUAL_LENGTH = 35;

// Links a released branch in `state` with the transaction `tp` (0: none)
// (a branch rebuilt at begin): 0, -19085 for an identifier out of range,
// -14047 when it exists, -11002.
int32_t DSXAAddDecided(int32_t* base, const int32_t* xid, int32_t state, int32_t tp = 0);

// The identifier a prepare hands the databank kernel, which keeps it with
// the prepared transaction: the format and the two lengths as three words,
// then the identifier bytes. XA_KEPT_HEAD_BYTES + the identifier's length.
inline constexpr int32_t XA_KEPT_HEAD_BYTES = 12;
int32_t XAKeptIdentifier(const int32_t* xid, uint8_t* kept);
// The identifier record of a kept identifier of `length` bytes; false when
// it is not one a prepare wrote.
bool XAFromKept(const uint8_t* kept, int32_t length, int32_t* xid);

// DSXAB2: at database begin, the branches the databank kernel kept in
// doubt (prepared, state 54, with a new TP of the kernel's transaction)
// and the heuristically decided ones of its table 5 are linked again,
// released. *status 0; -19040 without SYS, -18515 without a thread block,
// a kernel error e of the in-doubt list e - 16140 (into SYS RVEC).
void DSXAB2(int32_t* base, int32_t* status);
