// The record-access service tables of the databank utilities and of the
// table statistics, filled with the dictionary's, the kernel core's and this
// interface's routines where they exist; an entry whose layer is not built
// stays empty and answers -19040 naming itself.
#pragma once

// Installs both tables (process-wide; call once at start).
void RequestInstallRecordAccessServices();
