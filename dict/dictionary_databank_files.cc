// The rows of a databank as its files.
#include <algorithm>
#include <cstring>

#include "dict/dictionary_cursors.h"
#include "dict/statement_params.h"
#include "dict/statement_prepare.h"
#include "dict/statement_run.h"
#include "dict/work_block.h"

namespace {

bool NameFits(int32_t length) {
  return length >= 1 && length <= DD_NAME_LENGTH;
}

}  // namespace

void DDCurDatabankFile(int32_t* base, int32_t* pb, const char* name, int32_t name_length,
                       DDDatabankFileRow* out) {
  const int32_t mode = pb[0];
  if ((mode != 0 && mode != 1 && mode != 3) || (mode != 0 && !NameFits(name_length))) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  if (mode != 0) {
    if (DDReopenSlot(base, pb, SLOT_DDCurDatabankFile) != 0) return;
    pb[0] = mode;  // the walk opens
  }
  const int32_t stm =
      DDWalk(base, pb, SLOT_DDCurDatabankFile, IMAGE_DDCurDatabankFile, [&](DDParams& p) {
        if (mode == 1)
          p.TextLength(1, name, name_length).Null(3).Null(4);
        else
          p.Null(1).Null(2).TextLength(3, name, name_length);
      });
  if (stm == 0) return;
  DDColumnReader c(base, stm);
  DDDatabankFileRow r{};
  r.id = c.Int(1, 0);
  r.number = c.Int(2, 0);
  r.first_flag = DDIs(c.Text(3), "YES") ? 1 : 0;
  r.second_flag = DDIs(c.Text(4), "Y") || DDIs(c.Text(4), "YES") ? 1 : 0;
  DDCopyName(c.Text(5), r.name, &r.name_length);
  DDCopyName(c.Text(6), r.second_name, &r.second_name_length);
  std::memset(r.file, ' ', sizeof r.file);
  const std::string_view file = c.Text(7);
  std::memcpy(r.file, file.data(), std::min(file.size(), sizeof r.file));
  r.file_length = static_cast<int32_t>(std::min(file.size(), sizeof r.file));
  while (r.file_length > 0 && (r.file[r.file_length - 1] == ' ' || r.file[r.file_length - 1] == 0))
    --r.file_length;
  r.option = DDOptionOf(c.Text(8));
  r.logical_id = c.Int(9, 0);
  if ((pb[0] = c.status()) == 0) *out = r;
}

void DDUpdDatabankFile(int32_t* base, int32_t* pb, int32_t id, int32_t number,
                       const char* second_name, int32_t second_name_length, const char* stamp) {
  const int32_t mode = pb[0];
  if ((mode != 3 && mode != 4) || second_name_length < 0 || second_name_length > DD_NAME_LENGTH) {
    pb[0] = DD_BAD_VALUE;
    return;
  }
  const int32_t stm = DDSlotStatement(base, pb, SLOT_DDUpdDatabankFile, IMAGE_DDUpdDatabankFile);
  if (stm == 0) return;
  DDParams p(base, stm);
  p.Int(1, id).Int(2, number);
  if (second_name_length > 0)
    p.TextLength(3, second_name, second_name_length);
  else
    p.Null(3).Null(4);
  p.Text(5, mode == 3 ? "YES" : "NO ");
  if (stamp != nullptr)
    p.TextLength(6, stamp, 16);
  else
    p.Null(6).Null(7);
  if ((pb[0] = p.status()) != 0) return;
  DDSelectRun(base, pb, stm, true);
}
