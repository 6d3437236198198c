// Statement descriptions: the records of the result columns and parameters
// (or the two operands of kind 42) and their names, laid out as bytes and
// copied into a kernel block; the program copy and the cursor records. A block
// the kernel storage cannot supply ends the call as out of storage.
#include "sql/front/stmt_description.h"

#include <cstring>
#include <string>
#include <vector>

#include "kernel/pool_move.h"
#include "kernel/word_storage.h"
#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/compile_driver.h"
#include "sql/front/compile_services.h"
#include "sql/front/sql_types.h"
#include "sql/front/stmt_tree.h"

namespace {

struct Record {
  int32_t words[kDescRecordWords] = {};
  std::string name;
};

int32_t W(SqlCompileCtx* ctx, int32_t reference, int32_t word) {
  return WsWord(ctx, reference, word);
}

std::string NameAt(SqlCompileCtx* ctx, int32_t reference) {
  char buffer[kCompileNameMax + 1];
  int32_t n = qqstrget(ctx, buffer, sizeof buffer, reference);
  return std::string(buffer, n > 0 ? n - 1 : 0);
}

// Gives a kernel block back; freeing leaves its first word in the index,
// which for a cursor record is the previous record of the chain.
int32_t GiveBack(int32_t index) {
  if (index == 0 || SqlKernel().pool == nullptr) return 0;
  DSPoolMem(SqlKernel().pool, &index, 0, 0);
  return index;
}

// A kernel block holding `bytes`; its index.
int32_t CopyToKernel(const void* bytes, int32_t n) {
  if (n <= 0) return 0;
  int32_t index = 0;
  sqlsvc::ShellAllocWords(&index, (n - 1) / 4 + 1);
  if (index == 0) throw ArenaExit(1);
  if (DSMoveToPool(SqlKernel().pool, index, 0, bytes, n) != 0) {
    GiveBack(index);
    throw ArenaExit(1);
  }
  return index;
}

// Calls f(value) for every cell of a list, bounded by the workspace.
template <typename F>
void ForEachCell(SqlCompileCtx* ctx, int32_t list, F f) {
  int64_t budget = ctx->workspace_size / 8 + 1;
  for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) {
    if (--budget < 0) qcinterr(ctx, "QMN: qmcpsn", -19253);
    f(W(ctx, c, CELL_VALUE));
  }
}

void TypeWords(SqlCompileCtx* ctx, int32_t expression, const int32_t* descriptor, Record* r) {
  int32_t none[4] = {0, 0, 0, 0};
  if (descriptor == nullptr) descriptor = none;
  r->words[0] = ClientTypeCode(descriptor, W(ctx, expression, EXN_NULLABLE),
                               W(ctx, expression, EXN_TYPE_FLAG));
  r->words[1] = descriptor[1];
  r->words[2] = descriptor[2];
}

const int32_t* DescriptorOf(SqlCompileCtx* ctx, int32_t expression) {
  int32_t t = W(ctx, expression, EXN_TYPE);
  return t != 0 ? &WsWord(ctx, t, 0) : nullptr;
}

Record ColumnRecord(SqlCompileCtx* ctx, int32_t node) {
  if (W(ctx, node, STN_KIND) != kResultColumnKind) qcinterr(ctx, "QMN: qmcpsn", -19253);
  int32_t e = W(ctx, node, RCN_EXPRESSION);
  if (e == 0) qcinterr(ctx, "QMN: qmcpsn", -19253);
  if (W(ctx, e, EXN_INDIRECTION) != 0) e = W(ctx, e, EXN_INDIRECTION);
  Record r;
  TypeWords(ctx, e, DescriptorOf(ctx, e), &r);
  r.name = NameAt(ctx, W(ctx, node, RCN_NAME));
  int32_t flags = r.name.empty() ? 1 : 0;
  int32_t kind = W(ctx, e, EXN_KIND);
  if (kind == kExprColumnRef) {
    r.words[5] = W(ctx, e, 37);
    r.words[6] = W(ctx, e, 26);
    int32_t source = W(ctx, e, 29);
    if (source != 0 && W(ctx, source, 5) > 0) r.words[7] = W(ctx, source, 5);
    flags += 10;
    if (W(ctx, e, 33) > 0) flags += 10;
    bool updated = false;
    ForEachCell(ctx, ctx->update_list, [&](int32_t entry) {
      if (entry != 0 && W(ctx, entry, 26) == W(ctx, e, 26)) updated = true;
    });
    if (updated) flags += 10;
  } else if (kind == kExprCast) {
    r.words[7] = W(ctx, e, 26);
  }
  r.words[8] = flags;
  return r;
}

Record ParameterRecord(SqlCompileCtx* ctx, int32_t node, int32_t n) {
  if (W(ctx, node, EXN_KIND) != kExprHostParameter) qcinterr(ctx, "QMN: qmcpsn", -19249);
  if (W(ctx, node, PRM_SEQUENCE) != n) qcinterr(ctx, "QMN: qmcpsn", -19213);
  Record r;
  TypeWords(ctx, node, DescriptorOf(ctx, node), &r);
  r.name = NameAt(ctx, W(ctx, node, PRM_NAME));
  r.words[7] = W(ctx, node, PRM_MODE);
  return r;
}

// Kind 42: its two operands. A host parameter is described as CHAR(128)
// (first) or CHAR(18) (second) under its name; any other operand is a named
// value whose counted name word 22 refers to.
void OperandRecords(SqlCompileCtx* ctx, std::vector<Record>* named,
                    std::vector<Record>* parameters) {
  int32_t top = ctx->parse_root != 0 ? W(ctx, ctx->parse_root, STN_ROOT_TOP) : 0;
  if (top == 0) qcinterr(ctx, "QMN: qmcpsn", -19253);
  for (int32_t i = 0; i < 2; ++i) {
    int32_t operand = W(ctx, top, STN_FIRST_ARG + i);
    if (operand == 0) continue;
    Record r;
    if (W(ctx, operand, EXN_KIND) == kExprHostParameter) {
      const int32_t descriptor[4] = {kSqlTypeChar, i == 0 ? 128 : 18, 0, 0};
      TypeWords(ctx, operand, descriptor, &r);
      r.name = NameAt(ctx, W(ctx, operand, PRM_NAME));
      parameters->push_back(r);
    } else {
      int32_t counted = W(ctx, operand, EXN_OPERAND1);
      if (counted != 0) {
        int32_t length = W(ctx, counted, 0);
        if (length < 0) length = 0;
        if (length > kCompileNameMax) length = kCompileNameMax;
        r.name.assign(qqwsadr(ctx, counted) + 4, static_cast<size_t>(length));
      }
      named->push_back(r);
    }
  }
}

int32_t Description(SqlCompileCtx* ctx, int32_t start) {
  std::vector<Record> first;
  std::vector<Record> second;
  int32_t kind = ctx->statement_kind;
  if (kind == 42) {
    OperandRecords(ctx, &first, &second);
  } else {
    if (kind == 1 || kind == 2 || kind == 57 || kind == 58) {
      ForEachCell(ctx, ctx->result_list, [&](int32_t v) { first.push_back(ColumnRecord(ctx, v)); });
    }
    int32_t n = 0;
    ForEachCell(ctx, ctx->parameter_list,
                [&](int32_t v) { second.push_back(ParameterRecord(ctx, v, ++n)); });
  }
  int32_t records = static_cast<int32_t>(first.size() + second.size());
  int32_t before_names = kDescHeaderWords + kDescStatementWords + kDescRecordWords * records;
  std::vector<int32_t> words(static_cast<size_t>(before_names), 0);
  std::string names;
  int32_t at = kDescHeaderWords + kDescStatementWords;
  for (std::vector<Record>* list : {&first, &second}) {
    for (Record& r : *list) {
      r.words[3] = static_cast<int32_t>(names.size());
      r.words[4] = static_cast<int32_t>(r.name.size());
      names += r.name;
      std::memcpy(&words[static_cast<size_t>(at)], r.words, sizeof r.words);
      at += kDescRecordWords;
    }
  }
  int32_t cursor_length = static_cast<int32_t>(std::strlen(ctx->cursor_name));
  int64_t bytes = int64_t{before_names} * 4 + static_cast<int64_t>(names.size()) + cursor_length;
  if (bytes > INT32_MAX - 4) throw ArenaExit(1);
  int32_t total = static_cast<int32_t>((bytes - 1) / 4 + 1);
  const int32_t header[kDescHeaderWords] = {total, total, before_names, 1, 9, 8, 9, 0, 0};
  std::memcpy(words.data(), header, sizeof header);
  int32_t* s = &words[kDescHeaderWords];
  s[0] = kind;
  s[1] = start;
  s[2] = ctx->statement_end == -1 ? ctx->text_length : ctx->statement_end;
  s[3] = static_cast<int32_t>(first.size());
  s[4] = static_cast<int32_t>(second.size());
  s[5] = static_cast<int32_t>(names.size());
  s[6] = cursor_length;
  std::vector<uint8_t> image(static_cast<size_t>(total) * 4, 0);
  std::memcpy(image.data(), words.data(), words.size() * 4);
  std::memcpy(image.data() + words.size() * 4, names.data(), names.size());
  std::memcpy(image.data() + words.size() * 4 + names.size(), ctx->cursor_name,
              static_cast<size_t>(cursor_length));
  return CopyToKernel(image.data(), static_cast<int32_t>(bytes));
}

int32_t ProgramCopy(SqlCompileCtx* ctx, int32_t builder_block) {
  int32_t previous = qqwscur(ctx);
  qqwswb(ctx, builder_block);
  int32_t begin = WsBlock(ctx, builder_block)[WSB_ROOT];
  int32_t n = ctx->ws.used - begin;
  int32_t index = 0;
  if (begin >= WSB_HEADER_BYTES && n > 0) index = CopyToKernel(qqwsadr(ctx, begin), n);
  qqwswb(ctx, previous);
  return index;
}

// Chains the cursor records from *last, which always names the newest one
// made, so that a failure part way leaves a chain that can be given back.
void CursorRecords(SqlCompileCtx* ctx, int32_t* last) {
  ForEachCell(ctx, ctx->cursor_list, [&](int32_t entry) {
    int32_t record[kCursorRecordWords] = {};
    record[0] = *last;
    record[1] = ctx->program_block;
    if (entry != 0) std::memcpy(&record[2], qqwsadr(ctx, entry), kCursorEntryWords * 4);
    *last = CopyToKernel(record, sizeof record);
  });
}

}  // namespace

void BuildDescriptions(SqlCompileCtx* ctx, int32_t* result, int32_t builder_block, int32_t start) {
  try {
    // The tree and the statement's lists live in the first block.
    qqwswb(ctx, 1);
    result[RES_DESCRIPTION] = Description(ctx, start);
    if (builder_block != 0) {
      result[RES_PROGRAM] = ProgramCopy(ctx, builder_block);
      ctx->program_block = result[RES_PROGRAM];
    }
    CursorRecords(ctx, &result[RES_CURSORS]);
  } catch (...) {
    // The call ends without results: the blocks made so far would be lost
    // to the kernel storage if they were not given back here.
    GiveBack(result[RES_DESCRIPTION]);
    GiveBack(result[RES_PROGRAM]);
    for (int32_t c = result[RES_CURSORS]; c != 0;) c = GiveBack(c);
    result[RES_DESCRIPTION] = 0;
    result[RES_PROGRAM] = 0;
    result[RES_CURSORS] = 0;
    ctx->program_block = 0;
    throw;
  }
}
