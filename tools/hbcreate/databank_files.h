// The databank kernel under the creation, and the four databank files of a
// new database: the system databank "sysdb9.dbf" (logical id 1) with the
// catalog, the transaction, log and work databanks (2, 3, 4).
#pragma once

#include <cstdint>
#include <string>

#include "tools/hbcreate/create_args.h"

struct DatabankFile {
  int32_t lid;
  const char* name;  // the databank's name
  const char* file;  // its file in the home directory
  int32_t type;      // the databank kernel's kind when created
  char letter;       // the kind as the catalog's databank rows hold it
};
inline constexpr int32_t kDatabankFileCount = 4;
extern const DatabankFile kDatabankFiles[kDatabankFileCount];

// `text` into the first `bytes` bytes of `words`, cut or padded with blanks.
void PutBlankPadded(int32_t* words, const std::string& text, int32_t bytes);

// Starts the databank kernel with room for the catalog's tables; 0 or the
// start's failure (the kernel is down then).
int32_t StartCreationKernel();
// Stops it; 0 or the shutdown's status.
int32_t StopCreationKernel();

// Creates the system databank file in `home` with its units of `options`,
// a new file (an existing one is refused), with a fresh system identity;
// it stays open. 0 or the failure. The transaction, log and work databanks
// are made by the kernel's own DSOpenSesDb (CatalogStore::CreateDatabank).
int32_t CreateSystemDatabankFile(const std::string& home, const CreateOptions& options);
// The units `options` give the databank of logical id `lid`.
int32_t DatabankUnits(const CreateOptions& options, int32_t lid);
// Opens the four files of a created database again (the system databank
// first, which gives the kernel the system identity the others must carry).
int32_t OpenDatabankFiles(const std::string& home, int32_t entries[kDatabankFileCount],
                          std::string* failed);
// Closes the creation's own open of the system databank, so that the
// kernel's begin (DSOpenSysdb) opens it; 0 or the close's status.
int32_t HandOverSystemDatabank();
// The system identity of the open system databank.
int32_t SystemIdentity();
