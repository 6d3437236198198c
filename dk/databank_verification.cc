// The check an open of a databank runs by the close mark of its header.
// Only the choice is made here: a proper close needs none, a pending check
// goes to a background thread, any other mark leaves the entry unchecked.
#include "dk/databank_verification.h"

#include "dk/control_area.h"
#include "dk/databank_file.h"
#include "dk/transactions.h"

int32_t DKOpenCheck(int32_t databank, int32_t type, int32_t close_mark) {
  int32_t* a = Bufferpool();
  (void)type;
  if (a[databank + DBE_CORRUPT] != 0) return -42;
  if (close_mark == CLOSE_MARK_CLOSED) {
    a[databank + DBE_STATE] = CHK_COMPLETE;
  } else if (close_mark == CLOSE_MARK_CHECK_PENDING) {
    a[databank + DBE_STATE] = CHK_WAIT_BACKGROUND;
    DKBTW0(25);
  }
  // Without the databank check the entry stays in its first state, so that
  // its close writes no mark and the next open finds the crash again.
  return 0;
}
