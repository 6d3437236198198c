// Thread blocks (THR): one per server thread, chained from SYS THR, found
// by the thread in thread-local slot 1. Each holds an embedded session and
// level and the thread's operator statements, made from the dictionary's
// statement images.
#pragma once

#include <cstdint>

inline constexpr int32_t THR_NOT_FOUND = -19079;
inline constexpr int32_t CDITCB_BYTES = 5000;

// The images of the eight operator statements, in slot order from
// THR_STM_MOS_DATABANK.
inline constexpr int32_t kOperatorImages[8] = {-255, -254, -253, -252, -251, -250, -249, -244};

// *status 0 with the THR in *thr, or an error (also in SYS RVEC).
void DSCreateThr(int32_t* base, int32_t* status, int32_t* thr);
void DSFreeThr(int32_t* base, int32_t* status);
