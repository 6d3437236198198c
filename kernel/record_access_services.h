// The kernel core's part of record access's upper-services table: the
// entries the kernel serves, for the server start to install with
// DUInstallUpperServices. The kernel only fills the table; it does not link
// record access.
#pragma once

#include "du/upper_services.h"

// The table with the kernel's entries set (the release of a databank
// reference, the close of a statement); the others stay null until their
// owners exist, so record access answers -19040 and logs their names.
const DUUpperServices* KernelRecordAccessServices();
