// The entry routines behind the table-bound records of a write set or a
// restart set: a record whose function code names one is the request block
// of that routine and acts on the table its words 4 and 5 name.
#pragma once

#include <cstdint>

// The routine index of the entry routine of function code `fcode`, or 0
// when records of that code are not bound to a table.
inline int32_t WriteSetEntryCode(int32_t fcode) {
  switch (fcode) {
    case 1:
      return 38;  // DKINS1
    case 2:
      return 55;  // DKUPD1
    case 4:
      return 20;  // DKDEL1
    case 5:
      return 22;  // DKDRP1
    case 6:
      return 41;  // DKMOT1
    case 7:
      return 18;  // DKDCT1
    case 10:
      return 3;  // DKACT1
    case 11:
      return 17;  // DKCRX1
    case 23:
      return 56;  // DKRCX1
    case 24:
      return 4;  // DKALR1
  }
  return 0;
}
