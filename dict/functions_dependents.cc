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

// The kinds the privilege dependents cursor hands back: a check's usage
// row says CHECK, its object row CONSTRAINT.
constexpr DDWordEntry kPrivDependent[] = {
    {2, "DOMAIN"},     {6, "BASE TABLE"}, {7, "VIEW"},        {11, "PROCEDURE"}, {12, "FUNCTION"},
    {13, "TRIGGER"},   {16, "CHECK"},     {16, "CONSTRAINT"}, {22, "STATEMENT"}};
constexpr DDWordTable kPrivDependentWords = {kPrivDependent, 9};

int32_t KindOr(const DDWordTable& table, std::string_view word) {
  const int32_t k = DDNumberOf(table, word);
  return k == 0 ? DD_NO_DEPENDENT_KIND : k;
}

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
  *kind = KindOr(kDependentWords, c.Text(2));
  pb[0] = c.status();
}

void DDCurPrivDependents(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                         const char* grantee, int32_t grantee_length, const char* column,
                         int32_t column_length, int32_t* dependent, int32_t* kind,
                         int32_t* from) {
  std::string_view word;
  if (pb[0] != 0 && DDWordOf(kDDTablePrivWords, privilege, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  const int32_t stm = DDWalk(base, pb, SLOT_DDCurPrivDependents, IMAGE_DDCurPrivDependents,
                             [&](DDParams& p) {
                               p.Int(1, table_id).Text(2, word);
                               p.TextLength(3, grantee, grantee_length);
                               if (column_length < 1)
                                 p.Null(5).Null(6);
                               else
                                 p.TextLength(5, column, column_length);
                             });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  const int32_t id = c.Int(1, 0);
  const int32_t k = KindOr(kPrivDependentWords, c.Text(2));
  const int32_t source = c.Int(3, 0);
  if ((pb[0] = c.status()) != 0) return;
  *dependent = id;
  *kind = k;
  *from = source;
}
