// Removing a databank's rows.
#include <string_view>

#include "dict/column_reader.h"
#include "dict/dictionary_services.h"
#include "dict/kind_words.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"

void DDDelDatabank(int32_t* base, int32_t* pb, int32_t id, int32_t sequence, const char* name,
                   int32_t name_length) {
  if (id <= 0 && (name_length < 1 || name_length > DD_NAME_LENGTH)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDDelDatabank, IMAGE_DDDelDatabank);
  if (stm == 0) return;
  DDParams p(base, stm);
  if (id > 0)
    p.Int(1, id).Null(3).Null(4);
  else
    p.Null(1).TextLength(3, name, name_length);
  if (sequence > 0)
    p.Int(2, sequence);
  else
    p.Null(2);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

namespace {

bool Digits(const char* text, int32_t count, int32_t* value) {
  *value = 0;
  for (int32_t k = 0; k < count; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    *value = *value * 10 + (text[k] - '0');
  }
  return true;
}

}  // namespace

void DDInsDbfile(int32_t* base, int32_t* pb, const DDDbfileRow& row) {
  int32_t date = 0, time = 0;
  if (row.name_length < 1 || row.name_length > DD_NAME_LENGTH || row.user_length < 0 ||
      row.user_length > DD_NAME_LENGTH || row.text_length < 0 ||
      row.text_length > DD_DBFILE_TEXT || !Digits(row.date, 8, &date) ||
      !Digits(row.time, 6, &time)) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDInsDbfile, IMAGE_DDInsDbfile);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.TextLength(1, row.name, row.name_length);
  p.Raw(3, reinterpret_cast<const uint8_t*>(row.date), 8).Int(4, time);
  p.Text(5, std::string_view(row.code, 2));
  p.TextLength(6, row.user, row.user_length);
  p.Raw(8, reinterpret_cast<const uint8_t*>(row.text), row.text_length).Int(9, row.text_length);
  p.Int(10, row.sequence);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDUpdDatabank(int32_t* base, int32_t* pb, int32_t id, int32_t option, int32_t flag,
                   char type, int32_t offline) {
  static constexpr std::string_view kOptions[] = {"LOG", "TRANS", "NULL"};
  const std::string_view types = "NTLW";
  if (option < 0 || option > 3 || flag < -1 || flag > 1 || offline < -1 || offline > 1 ||
      (type != 0 && types.find(type) == std::string_view::npos)) {
    pb[0] = DD_KIND_OUTSIDE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdDatabank, IMAGE_DDUpdDatabank);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id);
  if (option == 0)
    p.Null(2);
  else
    p.Text(2, kOptions[option - 1]);
  if (flag < 0)
    p.Null(3);
  else
    p.Text(3, flag == 1 ? "YES" : "NO");
  if (type == 0)
    p.Null(4);
  else
    p.Text(4, std::string_view(&type, 1));
  if (offline < 0)
    p.Null(5);
  else
    p.Text(5, offline == 1 ? "Y" : "N");
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDUpdTableFlag(int32_t* base, int32_t* pb, int32_t table_id) {
  DDRunWithId(base, pb, SLOT_DDUpdTableFlag, IMAGE_DDUpdTableFlag, table_id);
}

void DDUpdByTable(int32_t* base, int32_t* pb, int32_t databank_id) {
  DDRunWithId(base, pb, SLOT_DDUpdByTable, IMAGE_DDUpdByTable, databank_id);
}

void DDChkIdPair(int32_t* base, int32_t* pb, int32_t databank_id, int32_t table_id) {
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDChkIdPair, IMAGE_DDChkIdPair);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, databank_id);
  if (table_id > 0)
    p.Int(2, table_id);
  else
    p.Null(2);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}

void DDGetDatabankOpt(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                      int32_t* id, int32_t* option) {
  if (name_length < 0 || name_length > DD_NAME_LENGTH) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDGetDatabankOpt, IMAGE_DDGetDatabankOpt);
  if (stm == 0) return;
  const bool by_name = name_length > 0;
  DDLevelSchemaDefault(base, pb[1], &name, &name_length);
  DDParams p(base, stm);
  p.Text(1, std::string_view(name, static_cast<std::size_t>(name_length)));
  p.Int(2, by_name ? 1 : 0);
  if ((pb[0] = p.status()) != 0) return;
  if (DDSelectRun(base, pb, stm, true) != 0) return;
  DDColumnReader c(base, stm);
  *id = c.Int(1, 0);
  *option = DDOptionOf(c.Text(2));
  pb[0] = c.status();
}
