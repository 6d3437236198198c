// The catalog's own tables as record access opens them: their generated
// description lists, with the two indexes whose keys the catalog's own rows
// repeat (73: table 18 by table id, every table having its primary key and
// its indexes there; 77: table 20 by table id and column name, a column
// being in several keys) given as plain indexes. Checked as unique, the
// second such row would be refused; the entries are the same either way.
// The creation tool, the server's start and the tests open them so.
#pragma once

#include <cstdint>

// Gives the indexes 73 and 77 of a description list of `words` words as
// plain indexes (kind 3).
void DDPlainCatalogIndexes(int32_t* description, int32_t words);

// DUOpenSysTable for the kernel's DSOpenSysdb: record access's TCB of one
// of the catalog's base tables from the kernel's fixed description, for
// the databank `dcb`. 0, 1 when registered before, or a failure.
int32_t DDOpenSysTable(int32_t* base, const int32_t* description, int32_t words, int32_t dcb);

// The generated description list of catalog table open[OPB_TNAME] in a new
// block of the word storage, its index in open[OPB_DESCRIPTION]: 0, 1 when
// the table is not one of the catalog's, or -11002.
int32_t DDCatalogDescription(int32_t* base, int32_t* open);
