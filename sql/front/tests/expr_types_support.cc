// Types one expression of a parsed statement as the semantic walk would.
#include "sql/front/tests/expr_types_support.h"

#include <functional>
#include <set>

#include "sql/front/compile_diag.h"
#include "sql/front/compile_services.h"
#include "sql/front/expr_types.h"
#include "sql/front/sem_stack.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/sql_tree_print.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/tree_copy.h"

namespace {

// The value converter: every datetime and interval text is taken.
void AcceptValue(uint8_t*, const uint8_t*, int32_t* status, int32_t, int32_t,
                 void (*)(char[16])) {
  *status = 0;
}

class HandWalk {
 public:
  HandWalk(SqlCompileCtx* ctx, const std::map<std::string, HandColumn>& columns, SemContext* sem)
      : ctx_(ctx), columns_(columns), sem_(sem) {}

  void Walk(int32_t node) {
    if (node == 0 || done_.count(node) != 0) return;
    int32_t kind = WsWord(ctx_, node, EXN_KIND);
    if (kind == kExprColumnRef) {
      Bind(node);
      done_.insert(node);
      return;
    }
    if (kind == 26) {  // subqueries are the walk's, not typed here
      done_.insert(node);
      return;
    }
    bool set_function = kind >= 16 && kind <= 20;
    if (set_function) qmflagset(sem_, 1);
    TreeChild children[kMaxExprChildren];
    int32_t n = TreeExprChildren(kind, children);
    for (int32_t i = 0; i < n; ++i) {
      int32_t value = WsWord(ctx_, node, children[i].word);
      if (children[i].kind == kRefExpression) Walk(value);
      if (children[i].kind == kRefExpressionList) {
        for (int32_t c = value; c != 0; c = WsWord(ctx_, c, CELL_NEXT)) {
          Walk(WsWord(ctx_, c, CELL_VALUE));
        }
      }
    }
    if (kind >= 1 && kind <= 15) {  // the third operand, the LIKE beside a key range
      Walk(WsWord(ctx_, node, EXN_WORD19));
      Walk(WsWord(ctx_, node, EXN_HOST_NUMBER));
    }
    if (set_function) qmflagclr(sem_, 1);
    if (kind == kExprWrapper || kind == kExprWhen) {  // the walk's own typing
      OwnTyping(node, kind);
      done_.insert(node);
      return;
    }
    int32_t after = qmtypexpr(ctx_, node, sem_);
    done_.insert(node);
    if (after != kind && after != 0) {  // rewritten: walked again
      done_.erase(node);
      Walk(node);
    }
  }

 private:
  // A wrapper takes its operand's type, a WHEN arm its result's.
  void OwnTyping(int32_t node, int32_t kind) {
    int32_t from = WsWord(ctx_, node, kind == kExprWrapper ? EXN_OPERAND1 : EXN_OPERAND2);
    for (int32_t word : {EXN_TYPE, EXN_TYPE_CLASS, EXN_NULLABLE, EXN_DERIVATION}) {
      WsWord(ctx_, node, word) = WsWord(ctx_, from, word);
    }
    int32_t condition = WsWord(ctx_, node, EXN_OPERAND1);
    if (kind == kExprWhen && condition != 0) {
      WsWord(ctx_, node, EXN_DERIVATION) = qmderclass(WsWord(ctx_, from, EXN_DERIVATION),
                                                      WsWord(ctx_, condition, EXN_DERIVATION));
    }
  }

  void Bind(int32_t node) {
    QualifiedName name;
    qqnamget(ctx_, WsWord(ctx_, node, EXN_OPERAND1), &name);
    auto it = columns_.find(name.name[0]);
    if (it == columns_.end()) {
      WsWord(ctx_, node, EXN_TYPE_CLASS) = 0;
      return;
    }
    const HandColumn& c = it->second;
    int32_t type[] = {c.code, c.length, c.scale, c.variant};
    WsWord(ctx_, node, EXN_TYPE) = TreeRecord(ctx_, 4, type);
    WsWord(ctx_, node, EXN_NULLABLE) = c.nullable;
    WsWord(ctx_, node, EXN_TABLE_REF) = 1;
    if (c.collation != 0) {
      WsWord(ctx_, node, EXN_COLLATION_LEVEL) = 2;
      WsWord(ctx_, node, EXN_COLLATION) = c.collation;
    }
    qmgroupchk(ctx_, node, 0, 0, sem_);
  }

  SqlCompileCtx* ctx_;
  const std::map<std::string, HandColumn>& columns_;
  SemContext* sem_;
  std::set<int32_t> done_;
};

}  // namespace

TypedExpr TypeExpression(const std::string& sql, const std::map<std::string, HandColumn>& columns,
                         TypedPlace place, int32_t mode, const int32_t* hosts,
                         const char* routine) {
  TypedExpr out;
  ParseOptions options;
  options.mode = mode;
  options.stored_routine = routine;
  options.inspect = [&](SqlCompileCtx* ctx, int32_t root) {
    if (root <= 0) return;
    SqlKernelServices kernel = SqlKernel();
    kernel.call_guarded = AcceptValue;
    SqlKernelServices old = SqlInstallKernelServices(&kernel);
    ctx->host_variables = hosts;
    int32_t statement = WsWord(ctx, root, STN_ROOT_TOP);
    int32_t query = WsWord(ctx, statement, 3);
    int32_t node = 0;
    if (place == TypedPlace::kSelectItem) {
      int32_t item = WsWord(ctx, WsWord(ctx, query, 4), CELL_VALUE);
      node = WsWord(ctx, WsWord(ctx, item, 3), EXN_OPERAND1);
    } else {
      node = WsWord(ctx, query, 8);
    }
    SemContext sem;
    qmqinitrec(ctx, statement, 15, &sem);
    qmqset(ctx, query, &sem);
    qmflagset(&sem, place == TypedPlace::kSelectItem ? 7 : 4);
    HandWalk walk(ctx, columns, &sem);
    try {
      walk.Walk(node);
    } catch (const CompileJump&) {
    }
    SqlInstallKernelServices(&old);
    out.kind = WsWord(ctx, node, EXN_KIND);
    int32_t type = WsWord(ctx, node, EXN_TYPE);
    if (type != 0) {
      out.code = WsWord(ctx, type, 0);
      out.length = WsWord(ctx, type, 1);
      out.scale = WsWord(ctx, type, 2);
      out.variant = WsWord(ctx, type, 3);
    }
    out.cls = WsWord(ctx, node, EXN_TYPE_CLASS);
    out.nullable = WsWord(ctx, node, EXN_NULLABLE);
    out.derivation = WsWord(ctx, node, EXN_DERIVATION);
    out.collation = WsWord(ctx, node, EXN_COLLATION);
    int32_t left = WsWord(ctx, node, EXN_OPERAND1);
    bool operand = (out.kind >= 1 && out.kind <= 15) || out.kind == kExprCast;
    if (operand && left > 0) {
      out.left_kind = WsWord(ctx, left, EXN_KIND);
    }
    for (int32_t c = ctx->parameter_list; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
      int32_t h = WsWord(ctx, c, CELL_VALUE);
      TypedHost host;
      int32_t t = WsWord(ctx, h, EXN_TYPE);
      if (t != 0) {
        host.code = WsWord(ctx, t, 0);
        host.length = WsWord(ctx, t, 1);
        host.scale = WsWord(ctx, t, 2);
      }
      host.cls = WsWord(ctx, h, EXN_TYPE_CLASS);
      host.nullable = WsWord(ctx, h, EXN_NULLABLE);
      out.hosts.push_back(host);
    }
    out.likes = qqllen(ctx, ctx->typing.like_list);
    out.printed = SqlPrintExpression(ctx, node);
    if (out.kind == kExprCast) out.guard = SqlPrintExpression(ctx, WsWord(ctx, node, 28));
    if (out.kind == kExprColumnRef) {
      char shown[kRefNameBytes];
      qmrefname(ctx, 3, node, shown);
      out.column_name = shown;
    }
  };
  ParsedStatement parsed = ParseSql(sql, options);
  out.conditions = parsed.conditions;
  return out;
}
