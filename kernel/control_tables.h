// Emptying the kernel's SYS lists when the database stops (DSFreeCtlTables):
// channels with their sessions and levels, databanks, the collation chain,
// thread statements, debugger sessions, shared programs and sequences.
// Called at stop, when no other thread works in the kernel.
#pragma once

#include <cstdint>

// keep 0: the lists' blocks go too; keep 1: channel and thread blocks and
// the list blocks stay (a kept channel's USR is cleared). *status 0.
void DSFreeCtlTables(int32_t* base, int32_t* status, int32_t keep);
