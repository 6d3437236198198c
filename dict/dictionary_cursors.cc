// Cursors over catalog rows for the definition statements, and the view
// usage insert.
#include "dict/dictionary_cursors.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "dict/column_reader.h"
#include "dict/compiler_lookups.h"
#include "dict/kind_words.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/type_encoding.h"

namespace {

bool NameFits(int32_t length) {
  return length >= 1 && length <= DD_NAME_LENGTH;
}

// An object by id (above 0) as parameter 1, else by name as parameters 2
// and 3 (parameter 1 NULL).
void IdOrName(DDParams& p, int32_t id, const char* name, int32_t name_length) {
  if (id > 0)
    p.Int(1, id).Null(2).Null(3);
  else
    p.Null(1).TextLength(2, name, name_length);
}

}  // namespace

void DDCurTablePrivs(int32_t* base, int32_t* pb, const char* grantee, int32_t grantee_length,
                     int32_t table_id, bool with_public, int32_t* privilege, int32_t* grantable) {
  if (pb[0] != 0 && !NameFits(grantee_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm =
      DDWalk(base, pb, SLOT_DDCurTablePrivs, IMAGE_DDCurTablePrivs, [&](DDParams& p) {
        p.TextLength(1, grantee, grantee_length);
        if (table_id > 0)
          p.Int(3, table_id);
        else
          p.Null(3);
        p.Text(4, with_public ? "Y" : "N");
      });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  const int32_t kind = DDNumberOf(kDDTablePrivWords, c.Text(1));
  const int32_t option = DDIs(c.Text(2), "YES") ? 1 : 0;
  if ((pb[0] = c.status()) != 0) return;
  *privilege = kind;
  *grantable = option;
}

void DDCurObjText(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                  DDObjectText* out) {
  if (pb[0] != 0 && !NameFits(name_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDWalk(base, pb, SLOT_DDCurObjText, IMAGE_DDCurObjText,
                             [&](DDParams& p) { p.TextLength(1, name, name_length); });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  DDObjectText o{};
  o.id = c.Int(1, 0);
  DDCopyName(c.Text(2), o.schema, &o.schema_length);
  o.kind = DDNumberOf(kDDObjectWords, c.Text(4));
  std::memset(o.change_time, ' ', sizeof o.change_time);
  const std::string_view time = c.Text(5);
  std::memcpy(o.change_time, time.data(), std::min(time.size(), sizeof o.change_time));
  if ((pb[0] = c.status()) == 0) *out = o;
}

void DDCurTableKeyKinds(int32_t* base, int32_t* pb, int32_t table_id, const char* column,
                        int32_t column_length, int32_t* id, int32_t* kind) {
  if (pb[0] != 0 && !NameFits(column_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm =
      DDWalk(base, pb, SLOT_DDCurTableKeyKinds, IMAGE_DDCurTableKeyKinds,
             [&](DDParams& p) { p.Int(1, table_id).TextLength(2, column, column_length); });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  const int32_t key = c.Int(1, 0);
  char word[20];
  std::memset(word, ' ', sizeof word);
  const std::string_view t = c.Text(2);
  std::memcpy(word, t.data(), std::min(t.size(), sizeof word));
  if ((pb[0] = c.status()) != 0) return;
  *id = key;
  *kind = t.empty() ? 0 : DDKeyKindOf(word);
}

void DDCurDeps(int32_t* base, int32_t* pb, int32_t id, int32_t* dependent) {
  const int32_t mode = pb[0];
  const int32_t stm = DDWalk(base, pb, SLOT_DDCurDeps, IMAGE_DDCurDeps, [&](DDParams& p) {
    if (mode == 2)
      p.Null(1);
    else
      p.Int(1, id);
  });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  const int32_t user = c.Int(1, 0);
  if ((pb[0] = c.status()) == 0) *dependent = user;
}

void DDDelDatabankRows(int32_t* base, int32_t* pb, int32_t id, const char* name,
                       int32_t name_length, DDDroppedDatabankRow* out) {
  if (pb[0] != 0 && id <= 0 && !NameFits(name_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDWalk(base, pb, SLOT_DDDelDatabankRows, IMAGE_DDDelDatabankRows,
                             [&](DDParams& p) { IdOrName(p, id, name, name_length); });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  DDDroppedDatabankRow r{};
  r.id = c.Int(1, 0);
  r.flag = DDIs(c.Text(2), "YES") ? 1 : 0;
  DDCopyName(c.Text(3), r.name, &r.name_length);
  r.number = c.Int(4, 0);
  if ((pb[0] = c.status()) == 0) *out = r;
}

void DDInsViewUse(int32_t* base, int32_t* pb, int32_t view_id, int32_t used_id,
                  int32_t* used_is_view) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsViewUse, IMAGE_DDInsViewUse);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, view_id).Int(2, used_id);
  if ((pb[0] = p.status()) != 0 || DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  const bool view = DDIs(c.Text(1), "VIEW");
  if ((pb[0] = c.status()) == 0) *used_is_view = view ? 1 : 0;
}

void DDDropUsage(int32_t* base, int32_t* pb, int32_t id, const char* column, int32_t column_length,
                 int32_t mode, const uint8_t* default_text3, int32_t default_length) {
  const bool whole = column_length == 0;
  if ((!whole && (!NameFits(column_length) || (mode != 0 && mode != 1 && mode != -1))) ||
      default_length < 0) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDropUsage, IMAGE_DDDropUsage);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id);
  if (whole)
    p.Null(2).Null(3);
  else
    p.TextLength(2, column, column_length);
  p.Int(4, mode);
  if (mode == 0 || default_length == 0 || default_text3 == nullptr)
    p.Null(5).Null(6);
  else  // above 400 characters the column holds an empty default, as the insert stores it
    p.Chars(5, default_text3, default_length <= DD_DEFAULT_MAX ? default_length : 0);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDCurTableKeys2(int32_t* base, int32_t* pb, int32_t table_id, const char* column,
                     int32_t column_length, int32_t* type, int32_t* length, int32_t* scale) {
  if (pb[0] == 0) {  // the one row was handed back at the opening
    pb[0] = 1;
    return;
  }
  if (!NameFits(column_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDWalk(base, pb, SLOT_DDCurTableKeys2, IMAGE_DDCurTableKeys2, [&](DDParams& p) {
    p.Int(1, table_id).TextLength(2, column, column_length);
  });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  int32_t t = 0, l = 0, s = 0;
  DDStoredType(c, {1, 2, 3, 4, 5, 6, 7}, &t, &l, &s);
  if ((pb[0] = c.status()) != 0) return;
  *type = t;
  *length = l;
  *scale = s;
}

void DDDelKeys(int32_t* base, int32_t* pb, int32_t table_id, int32_t key_id, int32_t kind,
               DDDroppedKey* out) {
  static constexpr std::string_view kKindWords[] = {"PRIMARY KEY", "INDEX", "FOREIGN KEY",
                                                    "INDEX UNIQUE", "UNIQUE"};
  if (pb[0] != 0 && (kind < 0 || kind > 5)) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  const int32_t stm = DDWalk(base, pb, SLOT_DDDelKeys, IMAGE_DDDelKeys, [&](DDParams& p) {
    p.Int(1, table_id);
    if (key_id > 0)
      p.Int(2, key_id);
    else
      p.Null(2);
    if (kind > 0)
      p.Text(3, kKindWords[kind - 1]);
    else
      p.Null(3);
  });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  DDDroppedKey k{};
  k.id = c.Int(1, 0);
  k.number = c.Int(2, 0);
  char word[20];
  std::memset(word, ' ', sizeof word);
  const std::string_view t = c.Text(3);
  std::memcpy(word, t.data(), std::min(t.size(), sizeof word));
  k.referred_table = c.Int(4, 0);
  k.referred_key = c.Int(5, 0);
  k.databank = c.Int(6, 0);
  if ((pb[0] = c.status()) != 0) return;
  const int32_t known = DDKeyKindOf(word);
  k.kind = known != 0 ? known : 7;
  *out = k;
}

void DDDelTableRows(int32_t* base, int32_t* pb, int32_t value, const char* name,
                    int32_t name_length, int32_t out[4]) {
  const int32_t mode = pb[0];
  if (mode < 0 || mode > 3 || (mode == 3 && !NameFits(name_length))) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDWalk(base, pb, SLOT_DDDelTableRows, IMAGE_DDDelTableRows, [&](DDParams& p) {
    if (mode == 1)
      p.Int(1, value);
    else
      p.Null(1);
    if (mode == 2)
      p.Int(2, value);
    else
      p.Null(2);
    if (mode == 3)
      p.TextLength(3, name, name_length);
    else
      p.Null(3).Null(4);
  });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  int32_t v[4];
  for (int32_t k = 0; k < 4; ++k) v[k] = c.Int(k + 1, 0);
  if ((pb[0] = c.status()) == 0) std::memcpy(out, v, sizeof v);
}

void DDUpdStatistics(int32_t* base, int32_t* pb, int32_t table_id, int32_t key_id, const char* name,
                     int32_t name_length, const int32_t* row_count, const int32_t* estimate,
                     const int32_t* nonnull, const char* low, const char* high) {
  const int32_t mode = pb[0];
  if (mode < 1 || mode > 3 || (mode != 3 && !NameFits(name_length))) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdStatistics, IMAGE_DDUpdStatistics);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).Int(2, key_id);
  if (mode == 3)
    p.Null(3).Null(4);
  else
    p.TextLength(3, name, name_length);
  const int32_t* counts[3] = {row_count, estimate, nonnull};
  for (int32_t k = 0; k < 3; ++k) {
    if (counts[k] != nullptr)
      p.Int(5 + k, *counts[k]);
    else
      p.Null(5 + k);
  }
  const char* values[2] = {low, high};
  for (int32_t k = 0; k < 2; ++k) {
    if (values[k] != nullptr)
      p.Text(8 + k, std::string_view(values[k], 16));
    else
      p.Null(8 + k);
  }
  p.Text(10, std::string_view("FAI").substr(static_cast<size_t>(mode - 1), 1));
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDDelViews(int32_t* base, int32_t* pb, int32_t id, const char* name, int32_t name_length,
                int32_t* view_id) {
  if (pb[0] != 0 && id <= 0 && !NameFits(name_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDWalk(base, pb, SLOT_DDDelViews, IMAGE_DDDelViews,
                             [&](DDParams& p) { IdOrName(p, id, name, name_length); });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  const int32_t v = c.Int(1, 0);
  if ((pb[0] = c.status()) == 0) *view_id = v;
}
