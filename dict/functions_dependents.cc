// Statement functions of the objects that rest on an object.
#include "dict/column_reader.h"
#include "dict/kind_words.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"

namespace {

// The kinds a dependents cursor hands back; a usage row's CHECK is 21.
constexpr DDWordEntry kDependent[] = {
    {2, "DOMAIN"},     {6, "BASE TABLE"}, {7, "VIEW"},  {11, "PROCEDURE"},
    {12, "FUNCTION"},  {13, "TRIGGER"},   {21, "CHECK"}, {22, "STATEMENT"}};
constexpr DDWordTable kDependentWords = {kDependent, 8};

}  // namespace

void DDCurDependents(int32_t* base, int32_t* pb, int32_t id, const char* name,
                     int32_t name_length, int32_t* dependent, int32_t* kind) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDCurDependents, IMAGE_DDCurDependents);
  if (stm == 0) return;
  if (open) {
    DDParams p(base, stm);
    p.Int(1, id);
    if (name_length < 1)
      p.Null(2).Null(3);
    else
      p.TextLength(2, name, name_length);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  DDColumnReader c(base, stm);
  *dependent = c.Int(1, 0);
  const int32_t k = DDNumberOf(kDependentWords, c.Text(2));
  *kind = k == 0 ? DD_NO_DEPENDENT_KIND : k;
  pb[0] = c.status();
}
