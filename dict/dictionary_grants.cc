// The cursor over the grants of column privileges, which removes or
// narrows the rows it passes by the letter it is opened with.
#include <string_view>

#include "dict/column_reader.h"
#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"

namespace {

// A name of 1-128 characters as parameter n (and its length n + 1); none
// (length 0) as NULL.
void NameOrNull(DDParams& p, int32_t n, const char* name, int32_t length) {
  if (length == 0)
    p.Null(n).Null(n + 1);
  else
    p.TextLength(n, name, length);
}

bool NameOrNone(int32_t length) {
  return length >= 0 && length <= DD_NAME_LENGTH;
}

// Checks a grant walk and runs its cursor once (opened when pb[0], the
// mode, is 1 to the number of `letters`: the letter, table, privilege word
// of `words`, holder, [column,] grantor as parameters 1 to 9): its
// statement when a row came, else 0 with the status in pb[0].
int32_t OpenGrants(int32_t* base, int32_t* pb, const DDGrantWalk& walk, std::string_view letters,
                   const DDWordTable& words, int32_t slot, int32_t image) {
  const int32_t mode = pb[0];
  if (mode < 0 || mode > static_cast<int32_t>(letters.size()) ||
      !NameOrNone(walk.holder_length) || !NameOrNone(walk.column_length) ||
      !NameOrNone(walk.grantor_length)) {
    pb[0] = DD_BAD_VALUE;
    return 0;
  }
  std::string_view privilege;
  if (mode != 0 && DDWordOf(words, walk.privilege, &privilege) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return 0;
  }
  const bool columns = letters.size() == 5;
  return DDWalk(base, pb, slot, image, [&](DDParams& p) {
    p.Text(1, letters.substr(static_cast<size_t>(mode - 1), 1));
    p.Int(2, walk.table_id).Text(3, privilege);
    NameOrNull(p, 4, walk.holder, walk.holder_length);
    if (columns) NameOrNull(p, 6, walk.column, walk.column_length);
    NameOrNull(p, columns ? 8 : 6, walk.grantor, walk.grantor_length);
  });
}

}  // namespace

void DDCurColumnGrants(int32_t* base, int32_t* pb, const DDGrantWalk& walk, DDGrantRow* out) {
  const int32_t mode = pb[0];
  const int32_t stm = OpenGrants(base, pb, walk, "ABCDE", kDDColumnPrivWords,
                                 SLOT_DDCurColumnGrants, IMAGE_DDCurColumnGrants);
  if (stm == 0 || mode == 1) return;  // mode 1 removes the row and delivers nothing
  DDColumnReader c(base, stm);
  DDGrantRow r = *out;
  DDCopyName(c.Text(1), r.grantee, &r.grantee_length);
  if (mode == 0 || mode == 4 || mode == 5) {
    DDCopyName(c.Text(2), r.column, &r.column_length);
    r.table_id = c.Int(3, 0);
    r.privilege = DDNumberOf(kDDTablePrivWords, c.Text(4));
    DDCopyName(c.Text(5), r.grantor, &r.grantor_length);
    r.grantable = DDIs(c.Text(6), "YES") ? 1 : 0;
    r.ident_id = c.Int(7, 0);
    r.grantee_kind = DDNumberOf(kDDGranteeWords, c.Text(8));
  }
  if ((pb[0] = c.status()) == 0) *out = r;
}

void DDCurTableGrants(int32_t* base, int32_t* pb, const DDGrantWalk& walk, DDGrantRow* out) {
  const int32_t mode = pb[0];
  DDGrantWalk table = walk;
  table.column_length = 0;  // the table cursor takes no column
  const int32_t stm = OpenGrants(base, pb, table, "ABCD", kDDTablePrivWords,
                                 SLOT_DDCurTableGrants, IMAGE_DDCurTableGrants);
  if (stm == 0 || mode == 1) return;  // mode 1 removes the row and delivers nothing
  DDColumnReader c(base, stm);
  DDGrantRow r = *out;
  DDCopyName(c.Text(1), r.grantee, &r.grantee_length);
  if (mode == 0 || mode == 4) {
    r.grantable = DDIs(c.Text(2), "YES") ? 1 : 0;
    r.table_id = c.Int(3, 0);
    r.privilege = DDNumberOf(kDDTablePrivWords, c.Text(4));
    DDCopyName(c.Text(5), r.grantor, &r.grantor_length);
    r.grantee_kind = DDNumberOf(kDDGranteeWords, c.Text(6));
  }
  if ((pb[0] = c.status()) == 0) *out = r;
}
