// The kernel core's part of the SQL compiler's kernel-services table: the
// statement cache (DSCursorCreate is DSFindShpSql) and the release of a
// program the compiler holds (DSRelShpProgram), over one word storage. The
// kernel only fills the table; it does not link the compiler, and the
// server start installs it with SqlInstallKernelServices.
#pragma once

#include <cstdint>

#include "sql/front/compile_services.h"

// `table` with its pool and the kernel's two entries set for storage
// `base` (the entries reach the storage through a process-wide word, as the
// compiler's calls carry no storage); the other entries are left as they are.
void KernelFillSqlServices(int32_t* base, SqlKernelServices* table);
