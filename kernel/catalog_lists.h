// System maintenance requests and the catalog list the kernel keeps in SYS
// (DSSysStmCtl): installing or removing a character translation table
// through record access, and loading the COLLCB chain at database begin.
#pragma once

#include <cstdint>

// The precompiled statement that lists the database's translation tables.
inline constexpr int32_t COLLATION_LIST_IMAGE = -204;
inline constexpr int32_t COLLCB_BYTES = 264;

// request[0] the status, request[1] the session (modes 1, 2). Mode 1 and 2:
// XLInstallTable(mode, argument, area); mode 3: the COLLCB chain loaded from
// the catalog (run at database begin, before other threads use it); other
// modes do nothing.
void DSSysStmCtl(int32_t* base, int32_t* request, int32_t mode, int32_t argument,
                 const uint8_t* area);
