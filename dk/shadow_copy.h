// The copy of a table into the shadow databanks of its databank (DKCPL1,
// through DKEXE2): the table's records read in key order and built into a
// new tree on each copy, which replaces the tree the copy had.
#pragma once

#include <cstdint>

// DKCPL1: `block` is the request (word 0 mode in, status out; 2 the DID; 4
// and 5 the table entry and TBL), `argument` a second table block (2 the
// DID, 4 and 5 the table entry on a shadow databank and its TBL). Mode 0
// copies into the second block's entry, 1 into the table's entry on every
// dependent databank. Status 1 when a databank of the chain carries an error.
void DKCPL1(int32_t* block, void* argument);
// One copy: every record of `source` into the tree of `target`, an entry of
// the same table on a dependent databank. 0 or a negative code.
int32_t DKCPT1(int32_t source, int32_t target);
