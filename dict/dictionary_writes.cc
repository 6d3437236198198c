// The dictionary's inserts: the caller's codes become the words the
// catalog keeps (type words, kind words, privileges, rules, YES/NO flags).
#include <string_view>

#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/statement_params.h"
#include "dict/statement_run.h"
#include "dict/type_encoding.h"
#include "dict/type_words.h"

namespace {

// Words of a number from 1, -19089 outside.
template <size_t N>
int32_t WordOf(const std::string_view (&words)[N], int32_t n, std::string_view* word) {
  if (n < 1 || n > static_cast<int32_t>(N)) return DD_KIND_OUTSIDE;
  *word = words[n - 1];
  return 0;
}

constexpr std::string_view kTableKinds[] = {"BASE TABLE", "VIEW"};
constexpr std::string_view kConstraintKinds[] = {"PRIMARY KEY",  "INDEX",        "FOREIGN KEY",
                                                 "INDEX UNIQUE", "UNIQUE",       "INTERNAL KEY",
                                                 "CHECK"};
constexpr std::string_view kKeyKinds[] = {"PRIMARY KEY", "INDEX",  "FOREIGN KEY",
                                          "INDEX",       "UNIQUE", "INTERNAL KEY"};
constexpr std::string_view kMatches[] = {"NONE", "PARTIAL", "FULL"};
constexpr std::string_view kRules[] = {"CASCADE", "SET NULL", "SET DEFAULT", "NO ACTION",
                                       "RESTRICT"};
constexpr std::string_view kOptions[] = {"LOG", "TRANS", "NULL"};

std::string_view Flag(bool yes) {
  return yes ? DD_YES : DD_NO;
}

// The grantor as stored: "SYSTEM" (blank padded) becomes "_SYSTEM".
std::string_view StoredGrantor(const char* grantor, int32_t length) {
  const std::string_view by = DDTrimmed(std::string_view(grantor, length < 0 ? 0 : length));
  return by == DD_GRANTOR_SYSTEM ? DD_GRANTOR_SYSTEM_STORED : by;
}

bool NameFits(int32_t length) {
  return length >= 0 && length <= DD_NAME_LENGTH;
}

// Sets parameter n to a two-word value, or NULL.
void Wide(DDParams& p, int32_t n, const std::optional<int64_t>& v) {
  if (v)
    p.Int64(n, *v);
  else
    p.Null(n);
}

void Narrow(DDParams& p, int32_t n, const std::optional<int64_t>& v) {
  if (v)
    p.Int(n, static_cast<int32_t>(*v));
  else
    p.Null(n);
}

}  // namespace

void DDInsColumn(int32_t* base, int32_t* pb, int32_t table_id, const DDColumnDef& c,
                 const uint8_t* default_text3, int32_t default_length) {
  DDTypeInput in;
  in.code = c.type;
  in.length_high = c.length_high;
  in.length = c.length;
  in.precision = c.length;
  in.scale = c.scale;
  in.leading = c.scale;
  in.interval_length = c.length;
  in.character_set = c.character_set;
  in.default_length = default_length;
  DDTypeParams t;
  if (DDEncodeType(in, &t) != 0) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  if (!NameFits(c.name_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsColumn, IMAGE_DDInsColumn);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).TextLength(2, c.name, c.name_length).Int(4, c.number).Int(5, c.number);
  Narrow(p, 6, t.p[2]);
  p.Text(7, DDTypeWord(t.type_entry));
  if (t.qualifier_entry != 0)
    p.Text(8, DDQualifierWord(t.qualifier_entry));
  else
    p.Null(8);
  Wide(p, 9, t.p[5]);
  Narrow(p, 10, t.p[7]);
  Narrow(p, 11, t.p[8]);
  Narrow(p, 12, t.p[9]);
  Narrow(p, 13, t.p[10]);
  Narrow(p, 14, t.p[11]);
  p.Text(15, Flag(c.nullable)).Text(16, Flag(c.second_flag));
  p.Int(17, c.offset).Int(18, c.byte_length);
  if (c.domain_id == 0)
    p.Null(19);
  else
    p.Int(19, c.domain_id);
  if (default_length < 1) {
    p.Null(20).Null(21);
  } else if (p.status() == 0) {
    // Above 400 characters the default is stored as an empty text.
    const int32_t stored = default_length <= DD_DEFAULT_MAX ? default_length : 0;
    int32_t status = 0;
    DSSetParNVar(base, &status, stm, 20, default_text3, 0, stored);
    if (status != 0) {
      pb[0] = status;
      return;
    }
  }
  Narrow(p, 22, t.p[17]);
  Wide(p, 23, t.p[6]);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsTable(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t owner_id,
                int32_t key_length, bool insertable, int32_t databank_id) {
  std::string_view word;
  if ((pb[0] = WordOf(kTableKinds, kind, &word)) != 0) return;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsTable, IMAGE_DDInsTable);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Text(2, word).Int(3, owner_id).Int(4, key_length).Text(5, Flag(insertable));
  p.Int(6, databank_id);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

namespace {

// A table or column privilege row: the privilege word of `words`, table,
// grantee and grantor (stored as StoredGrantor gives it); `rest` sets the
// parameters from 7 on.
template <typename Rest>
void PrivilegeRow(int32_t* base, int32_t* pb, int32_t slot, int32_t image,
                  const DDWordTable& words, int32_t table_id, int32_t privilege,
                  const char* grantee, int32_t grantee_length, const char* grantor,
                  int32_t grantor_length, int32_t column_length, Rest rest) {
  std::string_view word;
  if ((pb[0] = DDWordOf(words, privilege, &word)) != 0) return;
  if (!NameFits(grantee_length) || !NameFits(grantor_length) || !NameFits(column_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, slot, image);
  if (stm == 0) return;
  const std::string_view by = StoredGrantor(grantor, grantor_length);
  DDParams p(base, stm);
  p.Int(1, table_id).Text(2, word).TextLength(3, grantee, grantee_length);
  p.TextLength(5, by.data(), static_cast<int32_t>(by.size()));
  rest(p);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

}  // namespace

void DDInsTablePriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                    const char* grantee, int32_t grantee_length, const char* grantor,
                    int32_t grantor_length, bool grantable, bool third_flag) {
  PrivilegeRow(base, pb, SLOT_DDInsTablePriv, IMAGE_DDInsTablePriv, kDDTablePrivWords, table_id,
               privilege, grantee, grantee_length, grantor, grantor_length, 0,
               [&](DDParams& p) {
                 p.Text(7, Flag(grantable)).Text(8, DD_NO).Text(9, Flag(third_flag));
               });
}

void DDInsColumnPriv(int32_t* base, int32_t* pb, int32_t table_id, int32_t privilege,
                     const char* column, int32_t column_length, const char* grantee,
                     int32_t grantee_length, const char* grantor, int32_t grantor_length,
                     bool grantable) {
  PrivilegeRow(base, pb, SLOT_DDInsColumnPriv, IMAGE_DDInsColumnPriv, kDDColumnPrivWords,
               table_id, privilege, grantee, grantee_length, grantor, grantor_length,
               column_length, [&](DDParams& p) {
                 p.TextLength(7, column, column_length).Text(9, Flag(grantable)).Text(10, DD_NO);
               });
}

void DDInsConstraint(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t table_id,
                     int32_t key_length, int32_t column_count, int32_t entry_length,
                     int32_t further, int32_t logical_id) {
  std::string_view word;
  if ((pb[0] = WordOf(kConstraintKinds, kind, &word)) != 0) return;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsConstraint, IMAGE_DDInsConstraint);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Text(2, word).Int(3, table_id).Int(4, key_length).Int(5, column_count);
  p.Int(6, entry_length).Int(7, further);
  if (logical_id != 0)
    p.Int(8, logical_id);
  else
    p.Null(8);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDUpdConstraint(int32_t* base, int32_t* pb, int32_t id, int32_t kind, int32_t table_id,
                     int32_t key_length, int32_t column_count, int32_t entry_length,
                     int32_t further) {
  std::string_view word;
  if ((pb[0] = WordOf(kConstraintKinds, kind, &word)) != 0) return;
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdConstraint, IMAGE_DDUpdConstraint);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Text(2, word).Int(3, table_id).Int(4, key_length).Int(5, column_count);
  p.Int(6, entry_length).Int(7, further);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsRefConstraint(int32_t* base, int32_t* pb, int32_t id, int32_t table_id,
                        int32_t unique_id, int32_t referenced_table_id, int32_t match,
                        int32_t update_rule, int32_t delete_rule) {
  std::string_view match_word = kMatches[0], update, del;
  WordOf(kMatches, match, &match_word);  // any other match is NONE
  if ((pb[0] = WordOf(kRules, update_rule, &update)) != 0 ||
      (pb[0] = WordOf(kRules, delete_rule, &del)) != 0)
    return;
  const int32_t stm =
      DDSlotStatement(base, pb, SLOT_DDInsRefConstraint, IMAGE_DDInsRefConstraint);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, table_id).Int(3, unique_id).Int(4, referenced_table_id);
  p.Text(5, match_word).Text(6, update).Text(7, del);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsKey(int32_t* base, int32_t* pb, int32_t key_id, int32_t table_id, int32_t position,
              const char* column, int32_t column_length, int32_t kind, int32_t direction,
              int32_t column_number) {
  std::string_view word;
  if ((pb[0] = WordOf(kKeyKinds, kind, &word)) != 0) return;
  if (!NameFits(column_length)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsKey, IMAGE_DDInsKey);
  if (stm == 0) return;
  const bool unique = kind == 1 || kind >= 4;
  DDParams p(base, stm);
  p.Int(1, key_id).Int(2, table_id).Int(3, position).TextLength(4, column, column_length);
  p.Text(6, word).Text(7, Flag(unique)).Text(8, Flag(direction >= 0)).Int(9, column_number);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsDatabank(int32_t* base, int32_t* pb, int32_t id, int32_t logical_id, const char* name,
                   int32_t name_length, const char* owner, int32_t owner_length,
                   const char* file, int32_t file_length, int32_t option, bool flag) {
  std::string_view word;
  if ((pb[0] = WordOf(kOptions, option, &word)) != 0) return;
  if (!NameFits(name_length) || !NameFits(owner_length) || file_length < 0 ||
      file_length > 256) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsDatabank, IMAGE_DDInsDatabank);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, logical_id).TextLength(3, name, name_length);
  p.TextLength(5, owner, owner_length).TextLength(7, file, file_length);
  p.Text(9, word).Text(10, Flag(flag));
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsView(int32_t* base, int32_t* pb, int32_t table_id, bool cascaded, bool updatable,
               const uint8_t* text3, int32_t length) {
  if (length < 0 || length > DD_DEFAULT_MAX) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsView, IMAGE_DDInsView);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).Text(2, cascaded ? "CASCADED" : "NONE").Text(3, Flag(updatable));
  p.Text(4, DD_NO);
  if ((pb[0] = p.status()) != 0) return;
  int32_t status = 0;
  DSSetParNVar(base, &status, stm, 5, text3, 0, length);
  if ((pb[0] = status) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsBaseLink(int32_t* base, int32_t* pb, int32_t id, int32_t base_id) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsBaseLink, IMAGE_DDInsBaseLink);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, base_id);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDUpdTableInts(int32_t* base, int32_t* pb, int32_t table_id, int32_t key_length,
                    int32_t record_length, int32_t trailing_start, int32_t column_count) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdTableInts, IMAGE_DDUpdTableInts);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, table_id).Int(2, key_length).Int(3, record_length).Int(4, trailing_start);
  p.Int(5, column_count);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDInsViewTableUse(int32_t* base, int32_t* pb, int32_t view_id, int32_t position,
                       int32_t table_id, int32_t further) {
  if (position < 0 || position > 999 || further < 0 || further > 999) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm =
      DDSlotStatement(base, pb, SLOT_DDInsViewTableUse, IMAGE_DDInsViewTableUse);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, view_id).Int(2, position).Int(3, table_id).Int(4, further);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}
