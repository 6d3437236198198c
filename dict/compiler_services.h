// Installs the dictionary's compiler lookups (compiler_lookups.h) as the SQL
// compiler's dictionary service table, over the kernel word storage `base`,
// so that the compiler's catalog access reaches the real dictionary.
#pragma once

#include <cstdint>

void DDInstallCompilerServices(int32_t* base);
