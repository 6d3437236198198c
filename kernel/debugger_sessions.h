// Routine-debugger sessions (DBS): a pool in SYS DBS of blocks that join a
// connection running a routine (the debuggee) with the connection that
// controls it (the debugger). DSDBG2 hands blocks out, attaches, detaches,
// wakes and frees them; the SYS semaphore guards the list and USECOUNT.
#pragma once

#include <cstdint>

inline constexpr int32_t DBG_OPEN_DEBUGGEE = 1;
inline constexpr int32_t DBG_ATTACH_DEBUGGER = 2;
inline constexpr int32_t DBG_DETACH = 5;
inline constexpr int32_t DBG_CREATE = 6;
inline constexpr int32_t DBG_REMOVE_ONE = 7;
inline constexpr int32_t DBG_WAKE_ALL = 8;
inline constexpr int32_t DBG_FREE_INFO = 9;
inline constexpr int32_t DBG_FREE_ALL = 10;

inline constexpr int32_t DBG_NO_FREE_BLOCK = -18028;
inline constexpr int32_t DBG_ALREADY_ATTACHED = -19087;
inline constexpr int32_t DBG_NOT_IN_LIST = -19088;
inline constexpr int32_t DBG_NOT_RUNNING = -18903;

// request[0] the status, request[1] the session; `argument` in and out.
void DSDBG2(int32_t* base, int32_t* request, int32_t operation, int32_t* argument);
