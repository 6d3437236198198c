// CREATE VIEW in the semantic walk: the view's query is analysed with the
// table references collected, then its columns are named (the column list,
// or each select item's own name), the view's updatability is decided and
// WITH CHECK OPTION is checked against it.
#include "sql/front/view_definition.h"

#include <string>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_walk.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/trav_stack.h"
#include "sql/front/tree_copy.h"
#include "sql/front/walk_words.h"

using walk_words::W;

namespace {

std::string Counted(SqlCompileCtx* ctx, int32_t record) {
  if (record <= 0) return std::string();
  int32_t n = W(ctx, record, 0);
  return std::string(qqwsadr(ctx, record) + 4, static_cast<size_t>(n < 0 ? 0 : n));
}

// The select items that give the view its columns: a SELECT
// block's, or a set operation's first operand's.
std::vector<int32_t> ViewItems(SqlCompileCtx* ctx, int32_t query) {
  std::vector<int32_t> items;
  for (int32_t depth = 0; query > 0 && W(ctx, query, STN_KIND) == 27 && depth < 1000; ++depth) {
    query = W(ctx, query, SOP_FIRST);
  }
  if (query <= 0 || W(ctx, query, STN_KIND) != 28) return items;
  for (int32_t c = W(ctx, query, QSP_SELECT); c != 0; c = W(ctx, c, CELL_NEXT)) {
    items.push_back(W(ctx, c, CELL_VALUE));
  }
  return items;
}

// An item's own name: its AS name or the name it carries, else the name of
// the column it is; empty for a computed item without one.
std::string ItemName(SqlCompileCtx* ctx, int32_t item) {
  std::string name = Counted(ctx, W(ctx, item, SLI_NAME));
  if (!name.empty() || W(ctx, item, SLI_FORM) != 2) return name;
  int32_t wrapper = W(ctx, item, SLI_VALUE);
  int32_t value = wrapper > 0 ? W(ctx, wrapper, EXN_OPERAND1) : 0;
  if (value > 0 && W(ctx, value, EXN_KIND) == kExprColumnRef) return SemColumnName(ctx, value);
  return std::string();
}

bool Holds(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& n : names) {
    if (n == name) return true;
  }
  return false;
}

void ViewColumns(SqlCompileCtx* ctx, int32_t node) {
  std::vector<int32_t> items = ViewItems(ctx, W(ctx, node, VDF_QUERY));
  // A star left unexpanded (its table was not found, which is reported)
  // names no columns.
  for (int32_t item : items) {
    if (item > 0 && W(ctx, item, SLI_FORM) != 2) return;
  }
  int32_t list = W(ctx, node, VDF_COLUMNS);
  const int32_t* at = &W(ctx, node, STN_LINE);
  std::vector<std::string> names;
  int32_t texts = 0;
  if (list == 0) {
    for (int32_t item : items) {
      std::string name = ItemName(ctx, item);
      if (name.empty()) {
        SemError(ctx, at, -12251);
        continue;
      }
      if (Holds(names, name)) {
        SemError(ctx, at, -12252);
        continue;
      }
      names.push_back(name);
    }
  } else {
    for (int32_t c = list; c != 0; c = W(ctx, c, CELL_NEXT)) {
      int32_t part = W(ctx, W(ctx, c, CELL_VALUE), 0);
      std::string name = part > 0 ? SemText(ctx, W(ctx, part, 2)) : std::string();
      if (Holds(names, name)) {
        SemError(ctx, part > 0 ? &W(ctx, part, 0) : at, -12269);
        continue;
      }
      names.push_back(name);
    }
    if (static_cast<size_t>(qqllen(ctx, list)) != items.size()) SemError(ctx, at, -12253);
  }
  for (const std::string& name : names) {
    int32_t text = TreeCountedCopy(ctx, name.data(), static_cast<int32_t>(name.size()));
    texts = qqlcat(ctx, texts, qqlcons(ctx, 0, text));
  }
  W(ctx, node, VDF_NAMES) = texts;
}

// The AND nodes that joined a view's check conditions are typed as the
// walk types those of a WHERE condition (their operands were analysed).
void TypeJoinedConditions(SqlCompileCtx* ctx, int32_t node, int32_t depth = 0) {
  if (node <= 0 || depth > 1000 || W(ctx, node, EXN_ANALYSED) != 0 ||
      W(ctx, node, EXN_KIND) != kExprAnd) {
    return;
  }
  TypeJoinedConditions(ctx, W(ctx, node, EXN_OPERAND1), depth + 1);
  TypeJoinedConditions(ctx, W(ctx, node, EXN_OPERAND2), depth + 1);
  SemTypeExpression(ctx, node);
  W(ctx, node, EXN_ANALYSED) = 1;
}

}  // namespace

void SemViewDefinition(SqlCompileCtx* ctx, int32_t node, int32_t resume) {
  SemContext& cur = ctx->query.context;
  if (resume == 1) {
    qmqinitrec(ctx, node, kFlagQuery, &cur);
    qmflagset(&cur, kFlagCollect);
    // WITH CHECK OPTION: the view's own WHERE starts its check condition,
    // before the views it reads bring theirs.
    int32_t query = W(ctx, node, VDF_QUERY);
    if (W(ctx, node, VDF_CHECK_OPTION) != 0 && query > 0 && W(ctx, query, STN_KIND) == 28) {
      W(ctx, query, QSP_CHECK_MARK) = 1;
      W(ctx, query, QSP_CHECK) = W(ctx, query, QSP_WHERE);
    }
    TravPushOn(ctx->trav, ctx, kWalkStatement, 2, node);
    TravPushOn(ctx->trav, ctx, kWalkStatement, 1, W(ctx, node, VDF_QUERY));
    return;
  }
  ViewColumns(ctx, node);
  int32_t query = W(ctx, node, VDF_QUERY);
  if (query > 0 && W(ctx, query, STN_KIND) == 28) TypeJoinedConditions(ctx, W(ctx, query, QSP_CHECK));
  const int32_t* f = ctx->query.flags;
  bool updatable = f[kBlockAggregate] == 0 && f[kBlockGrouped] == 0 && f[kBlockDistinct] == 0 &&
                   f[kBlockJoined] == 0 && f[kBlockMergedView] == 0 &&
                   f[kBlockComputedItem] == 0 && f[kBlockRepeatedColumn] == 0 &&
                   f[kBlockSetOperation] == 0;
  W(ctx, node, VDF_UPDATABLE) = updatable ? 1 : 0;
  bool read_only = f[kBlockGrouped] != 0 || f[kBlockAggregate] != 0 ||
                   (f[kBlockMergedView] != 0 && ctx->query.view_options != 0);
  W(ctx, node, VDF_READ_ONLY) = read_only ? 1 : 0;
  if (W(ctx, node, VDF_CHECK_OPTION) != 0 && !updatable) {
    SemError(ctx, &W(ctx, node, STN_LINE), -12254);
  }
  W(ctx, node, VDF_TABLES) = ctx->query.view_tables;
}

std::string qmviewimage(SqlCompileCtx* ctx, int32_t root) {
  int32_t definition = root > 0 ? W(ctx, root, STN_ROOT_TOP) : 0;
  if (definition <= 0 || W(ctx, definition, STN_KIND) != 3) return std::string();
  // Words of the statement's root that mean nothing to a reader of the view.
  static const int32_t kCleared[] = {5, 6, 7, 8, 9, 10, 11, 12, 13, 18, 19, 20};
  int32_t saved[kStmtNodeWords];
  for (int32_t i = 0; i < kStmtNodeWords; ++i) saved[i] = W(ctx, root, i);
  W(ctx, root, STN_ROOT_TOP) = W(ctx, definition, VDF_QUERY);
  for (int32_t w : kCleared) W(ctx, root, w) = 0;
  const SqlTypingState& t = ctx->typing;
  for (int32_t i = 0; i < 4; ++i) W(ctx, root, ROOT_VIEW_REGISTERS + i) = t.register_marks[i];
  W(ctx, root, ROOT_VIEW_DATE) = t.leaf;
  W(ctx, root, ROOT_VIEW_NULL) = t.null_cast;
  W(ctx, root, ROOT_VIEW_NULL_LENGTH) = t.null_cast_length;
  W(ctx, root, ROOT_VIEW_CONSTANTS) = t.constant_bytes;
  W(ctx, root, ROOT_VIEW_LIKES) = t.like_list;
  int32_t statement = qqwscur(ctx);
  int32_t fresh = qqwsnewblk(ctx);
  int32_t copy = 0;
  qqcrel(ctx, fresh, statement, kRefStatement, root, &copy);
  int32_t* header = WsBlock(ctx, fresh);
  header[WSB_ROOT] = copy;
  std::string image(reinterpret_cast<const char*>(header), static_cast<size_t>(header[WSB_USED]));
  qqwswb(ctx, statement);
  for (int32_t i = 0; i < kStmtNodeWords; ++i) W(ctx, root, i) = saved[i];
  return image;
}
