// Statement functions of privileges.
#include <string_view>

#include "dict/column_reader.h"
#include "dict/kind_words.h"
#include "dict/new_ids.h"
#include "dict/statement_functions.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"

namespace {

constexpr int32_t kNoPrivKind = 18;  // a stored word outside the kinds

// The stored word of a privilege kind and the object id it keeps; false for
// a kind outside the table.
bool PrivilegeKind(int32_t kind, int32_t object_id, std::string_view* word, int32_t* stored_id) {
  if (DDWordOf(kDDPrivKindWords, kind, word) != 0) return false;
  *stored_id = DDPrivKindHasObject(kind) ? object_id : 0;
  return true;
}

std::string_view Trimmed(const char* s, int32_t n) {
  std::string_view v(s, static_cast<std::size_t>(n < 0 ? 0 : n));
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return v;
}

}  // namespace

void DDChkPrivilege(int32_t* base, int32_t* pb, int32_t kind, int32_t object_id,
                    const char* grantee, int32_t grantee_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDChkPrivilege, IMAGE_DDChkPrivilege);
  if (stm == 0) return;
  std::string_view word;
  int32_t id = 0;
  if (!PrivilegeKind(kind, object_id, &word, &id)) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Text(1, word).Int(2, id).TextLength(3, grantee, grantee_length);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  int32_t found = 0, status = 0;
  DSGetColInt(base, &status, stm, 1, &found);
  pb[0] = status != 0 ? status : found;
}

void DDInsPrivilege(int32_t* base, int32_t* pb, int32_t kind, int32_t object_id, bool grantable,
                    const char* grantee, int32_t grantee_length, const char* grantor,
                    int32_t grantor_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsPrivilege, IMAGE_DDInsPrivilege);
  if (stm == 0) return;
  std::string_view word;
  int32_t id = 0;
  if (!PrivilegeKind(kind, object_id, &word, &id)) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  std::string_view by = Trimmed(grantor, grantor_length);
  if (by == DD_GRANTOR_SYSTEM) by = DD_GRANTOR_SYSTEM_STORED;
  DDParams p(base, stm);
  p.Text(1, word).Int(2, id).Text(3, grantable ? DD_YES : DD_NO);
  p.TextLength(4, grantee, grantee_length);
  p.TextLength(6, by.data(), static_cast<int32_t>(by.size()));
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDGetGranteeById(int32_t* base, int32_t* pb, int32_t id, int32_t* kind, char* name) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetGranteeById, IMAGE_DDGetGranteeById);
  if (stm == 0) return;
  if (open) {
    DDParams p(base, stm);
    p.Int(1, id);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  int32_t status = 0;
  uint8_t word[21] = {};
  DSGetColChar(base, &status, stm, 1, word, 0);
  if (status == 0) DSGetColChar(base, &status, stm, 2, reinterpret_cast<uint8_t*>(name), 0);
  // The kind by its letter: its place in "GPUO", 0 for another.
  const std::size_t at = DD_GRANTEE_LETTERS.find(static_cast<char>(word[0]));
  *kind = at == std::string_view::npos ? 0 : static_cast<int32_t>(at) + 1;
  pb[0] = status;
}

void DDCurSysPrivs(int32_t* base, int32_t* pb, const char* grantee, int32_t grantee_length,
                   const char* grantor, int32_t grantor_length, int32_t* kind,
                   int32_t* object_id) {
  const bool open = pb[0] != 0;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDCurSysPrivs, IMAGE_DDCurSysPrivs);
  if (stm == 0) return;
  if (open) {
    DDParams p(base, stm);
    p.TextLength(1, grantee, grantee_length);
    if (grantor_length < 1)
      p.Null(3).Null(4);
    else
      p.TextLength(3, grantor, grantor_length);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, open) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t k = DDNumberOf(kDDPrivKindWords, c.Text(1));
  *kind = k == 0 ? kNoPrivKind : k;
  *object_id = c.Int(2, 0);
  pb[0] = c.status();
}

void DDInsNewColumnPrivs(int32_t* base, int32_t* pb, int32_t table_id, const char* name,
                         int32_t name_length) {
  const int32_t stm =
      DDSlotStatement(base, pb, SLOT_DDInsNewColumnPrivs, IMAGE_DDInsNewColumnPrivs);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).TextLength(2, name, name_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsPrivUsage(int32_t* base, int32_t* pb, int32_t id, const char* name,
                    int32_t name_length, int32_t table_id, int32_t user_kind,
                    int32_t privilege) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsPrivUsage, IMAGE_DDInsPrivUsage);
  if (stm == 0) return;
  std::string_view user, priv;
  const bool user_ok = user_kind == 7 || user_kind == 11 || user_kind == 12 ||
                       user_kind == 13 || user_kind == 16 || user_kind == 22;
  if (!user_ok || DDWordOf(kDDUsageWords, user_kind, &user) != 0 ||
      DDWordOf(kDDTablePrivWords, privilege, &priv) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, id).TextLength(2, name, name_length).Int(4, table_id).Text(5, user).Text(6, priv);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDUpdTablePriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                    const char* grantee, int32_t grantee_length, const char* grantor,
                    int32_t grantor_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdTablePriv, IMAGE_DDUpdTablePriv);
  if (stm == 0) return;
  std::string_view word;
  if (DDWordOf(kDDColumnPrivWords, privilege, &word) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  DDParams p(base, stm);
  p.Int(1, table_id).Text(2, word).TextLength(3, grantee, grantee_length);
  p.TextLength(5, grantor, grantor_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsGranteePrivs(int32_t* base, int32_t* pb, const char* from, int32_t from_length,
                       const char* to, int32_t to_length) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsGranteePrivs, IMAGE_DDInsGranteePrivs);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.TextLength(1, from, from_length).TextLength(3, to, to_length);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDDelSysPrivs(int32_t* base, int32_t* pb, int32_t kind, int32_t object_id,
                   const char* grantee, int32_t grantee_length, const char* grantor,
                   int32_t grantor_length, int32_t* ident_kind, int32_t* object_out,
                   int32_t* priv_kind, char* name_out) {
  const int32_t mode = pb[0];
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelSysPrivs, IMAGE_DDDelSysPrivs);
  if (stm == 0) return;
  if (mode != 0) {
    if (mode < 1 || mode > 4) {
      pb[0] = DD_BAD_PARAMETER;
      return;
    }
    std::string_view word;
    int32_t stored_id = 0;
    if (mode != 4 && !PrivilegeKind(kind, object_id, &word, &stored_id)) {
      pb[0] = DD_KIND_OUTSIDE;
      return;
    }
    const char letter[2] = {static_cast<char>('A' + mode - 1), 0};
    DDParams p(base, stm);
    p.Text(1, letter);
    if (mode == 4)
      p.Null(2).Null(3);
    else
      p.Text(2, word).Int(3, stored_id);
    p.TextLength(4, grantee, grantee_length).TextLength(6, grantor, grantor_length);
    if ((pb[0] = p.status()) != 0) return;
  }
  if (DDSelectRun(base, pb, stm, mode != 0) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t k = DDNumberOf(kDDGranteeWords, c.Text(1));
  *ident_kind = k == 0 ? 1 : k;
  *object_out = c.Int(2, 0);
  const int32_t pk = DDNumberOf(kDDPrivKindWords, c.Text(3));
  *priv_kind = pk == 0 ? kNoPrivKind : pk;
  if (name_out != nullptr) DDCopyName(c.Text(4), name_out, nullptr);
  pb[0] = c.status();
}

void DDViewTriggerPrivs(int32_t* base, int32_t* pb, int32_t view_id, int32_t mode,
                        const char* ident, int32_t ident_length, int32_t event,
                        int32_t* result) {
  if (event < 1 || event > 3) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (mode != DD_VIEW_TRIGGER_ADDED && mode != DD_VIEW_TRIGGER_DROPPED) {
    pb[0] = DD_BAD_PARAMETER;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDViewTriggerPrivs, IMAGE_DDViewTriggerPrivs);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, view_id).Int(2, mode).TextLength(3, ident, ident_length);
  p.Text(5, DD_TRIGGER_EVENTS[event - 1]);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const int32_t r = c.Int(1, 0);
  if ((pb[0] = c.status()) == 0) *result = r;
}
