// The services of the kernel core and the request interface that the
// definition work of record access takes (the DDL transaction record, the
// large-object directory open): a second table beside DUUpperServices,
// installed at start; an entry nobody installed answers -19040 and logs
// its name.
#pragma once

#include <cstdint>

struct DUDefinitionServices {
  // DSOpenDbReq of `kind` (1 by key, 3 by LID, 5 look-up) for object `id`;
  // the DCB in *dcb. 0 or negative.
  int32_t (*open_databank_kind)(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t* dcb);
  // DSOpenTable: writes the definition record of record word 19's kind with
  // `description` for the user (status the record's word 19).
  int32_t (*open_table)(int32_t* base, int32_t usr, int32_t* record, const int32_t* description);
  // DSOpnLobdir2: opens the large-object directory `tname` of `dcb`.
  int32_t (*open_lobdir)(int32_t* base, int32_t dcb, int32_t tname);
  // DSNewShpPsm: claims the shared routine program of `key`; the block in *shp.
  int32_t (*new_shp_psm)(int32_t* base, int32_t usr, int32_t key, int32_t* shp);
  // DSRelShpPsm: gives the claim up; *shp becomes 0. 0, 1 or 2.
  int32_t (*rel_shp_psm)(int32_t* base, int32_t usr, int32_t* shp);
  // Installs the translation table `id` from the catalog (XLInstallTable).
  int32_t (*install_translation)(int32_t* base, int32_t usr, int32_t id);
};

// Installs `services` (not owned; null members count as not installed) and
// returns the table it replaces.
const DUDefinitionServices* DUInstallDefinitionServices(const DUDefinitionServices* services);

int32_t DUOpenDatabankKind(int32_t* base, int32_t usr, int32_t kind, int32_t id, int32_t* dcb);
int32_t DUOpenTableDefinition(int32_t* base, int32_t usr, int32_t* record,
                              const int32_t* description);
int32_t DUOpenLobdir(int32_t* base, int32_t dcb, int32_t tname);
int32_t DUNewShpPsm(int32_t* base, int32_t usr, int32_t key, int32_t* shp);
int32_t DURelShpPsm(int32_t* base, int32_t usr, int32_t* shp);
int32_t DUInstallTranslation(int32_t* base, int32_t usr, int32_t id);
