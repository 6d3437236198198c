// The server process's kernel word storage as the shell hands it to the
// layers that allocate kernel blocks without a storage base of their own (the
// compiler's statement descriptions): the base is set once at start.
#pragma once

#include <cstdint>

// Sets (or, with nullptr, forgets) the storage that ShellAllocWords uses.
void ShellSetWordStorage(int32_t* base);
int32_t* ShellWordStorage();

// Allocates a cleared block of `words` words in the storage and stores its
// index in *index; 0 when the count is not positive, does not fit a byte
// count, the storage is not set or is exhausted.
void ShellAllocWords(int32_t* index, int32_t words);
