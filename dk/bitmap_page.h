// Page allocation in the bitmap pages of a databank file, through the
// bufferpool: allocate (DKHLD0), free (DKFRE0), free once a page has reached
// disk (DKRPL0), the chains of such deferred releases, and file growth.
#pragma once

#include <cstdint>

#include "dk/databank_format.h"

int32_t DKHLD0(int32_t* request, int32_t buffer);
int32_t DKFRE0(int32_t* request, int32_t buffer);
// `page` is freed once the page of `buffer` is written; it is a page of
// `page_size` bytes (0: of the buffer's size).
int32_t DKRPL0(int32_t buffer, int32_t page, int32_t owner, int32_t page_size = 0);

// Deferred release records (table entries): run a chain (free every page it
// names, give the records back), give the records back unused, or append a
// chain to a databank entry's chain.
void RunReleaseChain(int32_t databank, int32_t chain);
void FreeReleaseRecords(int32_t chain);
void AppendDatabankReleases(int32_t databank, int32_t chain);

// Extends the file of a databank from unit `from` by at least `units` units;
// returns the units added or the file layer's negative result, with the OS
// status in *os.
int32_t ExtendFile(int32_t databank, int32_t from, int32_t units, int32_t* os);
