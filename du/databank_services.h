// What record access gives the databank kernel: its collation services,
// installed into the kernel's service table at start for one word storage.
#pragma once

#include <cstdint>

// Installs XLInstallTable and XLConvertValue for the kernel word storage at
// `base`; nullptr takes them away again (the kernel then answers -19040).
void DUInstallDatabankServices(int32_t* base);
