// The run protocol of the dictionary's statement functions: the function's
// slot in the user's work block, prepared from its image on first use,
// selected (DSSelStm through the dictionary's service table) and run by the
// statement execution runtime (DSExecStm) through DDExecStm.
#pragma once

#include <cstdint>
#include <string_view>

#include "dict/statement_params.h"
#include "stmt_images_gen.h"

// The prepared statement of slot `number` (image `image`) of user pb[1]:
// its STM, or 0 with the status in pb[0] (-19075 without a work block,
// -11002 without a slot table, the preparation's failure).
int32_t DDSlotStatement(int32_t* base, int32_t* pb, int32_t number, int32_t image);

// A cursor opened anew starts from its first row: the statement of slot
// `number`, when prepared, is closed (DDSlotStatement prepares it again).
// The status in pb[0] and returned (-19075 without a work block, the
// close's failure).
int32_t DDReopenSlot(int32_t* base, int32_t* pb, int32_t number);

// Selects the statement and runs it to its next exit, from its first
// instruction when `restart`: the slot status (0 a row or done, positive no
// row, negative an error) in pb[0] and returned.
int32_t DDSelectRun(int32_t* base, int32_t* pb, int32_t stm, bool restart);

// The variant form: pb[0] on entry is the preparation mode (0 prepares and
// binds, -3 prepares without binding; another -19113), kept in the slot's
// status word; a statement prepared under the other mode is closed and
// prepared again. The STM, or 0 with pb[0] the status (0 under mode -3:
// prepared, nothing to run).
int32_t DDVariantStatement(int32_t* base, int32_t* pb, int32_t number, int32_t image);

// A lookup by schema path and name: parameter 1 the 387-byte path (the
// schema given, a length above 0, as its only element; else the work
// block's schema while its path flag is set; else the user's level path),
// 2 the name and 3 its length, 4 the kind word unless empty; then the
// statement run from its first instruction. The status, also in pb[0].
int32_t DDRunByPath(int32_t* base, int32_t* pb, int32_t stm, const char* schema,
                    int32_t schema_length, const char* name, int32_t name_length,
                    std::string_view kind = {});

// A cursor opened by a name: pb[0] not 0 on entry makes parameter 1 the
// name (parameter 2 its length) and runs the statement from its first
// instruction; 0 runs it on. The STM when the run handed back a row (pb[0]
// 0), else 0 with the status in pb[0].
int32_t DDCursorByName(int32_t* base, int32_t* pb, int32_t number, int32_t image,
                       const char* name, int32_t length);

// A dropping cursor by id or by name: `open` runs it from its first
// instruction with parameter 1 the id (2 and 3 NULL) or, `by_name`, 2 the
// name and 3 its length (1 NULL); else it runs on. Column 1 (the id of what
// it dropped) into *id_out; the status in pb[0].
void DDDropCursor(int32_t* base, int32_t* pb, int32_t number, int32_t image, bool open,
                  bool by_name, int32_t id, const char* name, int32_t name_length,
                  int32_t* id_out);

// A schema length of 0 stands for the work block's copy of the level name:
// *schema and *length become it.
void DDLevelSchemaDefault(int32_t* base, int32_t usr, const char** schema, int32_t* length);

// The statement of slot `number` (image `image`) run from its first
// instruction with parameter 1 the integer `id`: the status in pb[0].
void DDRunWithId(int32_t* base, int32_t* pb, int32_t number, int32_t image, int32_t id);
// One run of statement `stm` for user `usr` from its position (0: from its
// first instruction), the position kept for the next run; END leaves it 0.
// The run's status: END's value, 0 for a row handed back, or an error.
int32_t DDExecStm(int32_t* base, int32_t usr, int32_t stm);

// One call of a cursor over the statement of slot `number`: pb[0] not 0
// opens it (its parameters set by `set`, a DDParams&) and runs it from its
// start, 0 runs it on. Its statement when a row came, else 0 with the
// status in pb[0].
template <typename Set>
int32_t DDWalk(int32_t* base, int32_t* pb, int32_t number, int32_t image, Set set) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, number, image);
  if (stm == 0) return 0;
  if (open) {
    DDParams p(base, stm);
    set(p);
    if ((pb[0] = p.status()) != 0) return 0;
  }
  return DDSelectRun(base, pb, stm, open) == 0 ? stm : 0;
}
