// Installs the dictionary's compiler lookups (compiler_lookups.h) as the SQL
// compiler's dictionary service table, over the kernel word storage `base`,
// so that the compiler's catalog access reaches the real dictionary.
#pragma once

#include <cstdint>

void DDInstallCompilerServices(int32_t* base);

// Takes the table away again (the compiler's lookups then answer that they
// are missing), so that nothing points at the word storage after a stop.
void DDRemoveCompilerServices();
