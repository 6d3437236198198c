// Channels and sessions: a CHA per client connection in SYS CHA_LIST, the
// sessions (USR) of a channel chained from its USR word, each with its
// levels (LVL). Connect logs a session in through the thread's login
// statement; logout and reset clean a session up; the login mode and the
// exclusive access of one session are switched under the SYS semaphore.
#pragma once

#include <cstdint>

// Parameter block words of connect, logout and reset.
inline constexpr int32_t SES_PRM_STATUS = 0;
inline constexpr int32_t SES_PRM_CHA = 1;  // connect: the channel on entry
inline constexpr int32_t SES_PRM_USR = 2;
inline constexpr int32_t SES_PRM_LVL = 3;
inline constexpr int32_t SES_PRM_WORDS = 4;

// Connect block words; the texts (ident name, password, simulation time)
// follow each other from word 9.
inline constexpr int32_t CNB_SIZE = 0;
inline constexpr int32_t CNB_MODE = 3;
inline constexpr int32_t CNB_SIMULATION = 5;
inline constexpr int32_t CNB_IDENT_LENGTH = 6;
inline constexpr int32_t CNB_PASSWORD_LENGTH = 7;
inline constexpr int32_t CNB_TIME_LENGTH = 8;
inline constexpr int32_t CNB_TEXT = 9;
inline constexpr int32_t CNB_MAX_IDENT = 128;
inline constexpr int32_t CNB_MAX_TIME = 16;
inline constexpr int32_t CNB_MAX_PASSWORD = 18;
inline constexpr int32_t SIMULATION_MAGIC_1 = 0x4B7D19E6;
inline constexpr int32_t SIMULATION_MAGIC_2 = 0x4B7D19F3;

// Statuses.
inline constexpr int32_t LOGIN_REJECTED = 90;
inline constexpr int32_t LOGINS_DISABLED = -18902;
inline constexpr int32_t LOGIN_NOT_RUNNING = -18903;
inline constexpr int32_t LOGIN_STATEMENT_FAILED = -19009;
inline constexpr int32_t LOGIN_NO_STATEMENT = -18002;
inline constexpr int32_t LOGIN_EXCLUSIVE = -18245;
inline constexpr int32_t LOGIN_OFFLINE = -18239;
inline constexpr int32_t LOGIN_OFFLINE_NOT_ALONE = -18240;
inline constexpr int32_t LOGIN_SYSDB_OFFLINE = -18241;
inline constexpr int32_t LOGIN_SYSDB_OFFLINE_NOT_ALONE = -18242;
inline constexpr int32_t EXCLUSIVE_OTHERS_CONNECTED = -18244;

// The session defaults' values.
inline constexpr int32_t SESSION_DIAG_SIZE = 50;
inline constexpr int32_t SESSION_ISOLATION = 8;

// A channel for a connection: *status 0 with the CHA in *cha, or -11002
// (also in SYS RVEC), or -19040.
void DSNewCha(int32_t* base, int32_t* status, int32_t channel, int32_t protocol, int32_t* cha);
// Logs every session of the channel out and puts the block on FREE_CHA.
void DSFreeChaUsers(int32_t* base, int32_t cha);

// Connect (function 95) with the connect block of `connect_words` words
// (its real size). Status in params[0]; the USR in params[2] once it is
// made (it stays on the channel after a failed login), the LVL in params[3].
void DSConnect(int32_t* base, int32_t* params, int32_t* connect, int32_t connect_words);
// Function 86: as DSConnect, connect mode 2 taken as 3.
void DSConnectReq(int32_t* base, int32_t* params, int32_t* connect, int32_t connect_words);
// Function 40: an 18-byte ident name and an 18-byte password.
void DSConnectReq2(int32_t* base, int32_t* params, const char* ident, const char* password);

// Logout (functions 88, 48) of the session in params[2]; params[2] cleared.
void DSLogout(int32_t* base, int32_t* params);
// Reset (function 117) of the session in params[2] with the item block of
// `item_words` words (word 0 its size, 1 the length read, 3 the stride,
// pairs of item code and value from word 4).
void DSResetSes(int32_t* base, int32_t* params, const int32_t* items, int32_t item_words);

// 1 disables logins, 0 enables them, -1 reads the mode; the mode, or -19078.
int32_t DSLoginMode(int32_t* base, int32_t mode);
// Function 62 for the session in params[2]: 1 takes the database alone
// (-18244 while others are connected), any other value gives it back.
void DSSetExclusive(int32_t* base, int32_t* params, int32_t take);
// Functions 35 and 36: nothing.
void DSReqCode35(int32_t* base, int32_t* params);
void DSReqCode36(int32_t* base, int32_t* params);

// The session defaults after connect and reset.
void SessionDefaults(int32_t* base, int32_t usr);
// Cleans a session up: mode 1 at logout (every level freed), mode 2 at
// reset (the base level kept). The first failure, or 0.
int32_t SessionCleanup(int32_t* base, int32_t usr, int32_t mode);
