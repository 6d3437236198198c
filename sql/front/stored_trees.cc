// Stored trees, column defaults and range conditions.
#include "sql/front/stored_trees.h"

#include <cstring>
#include <string>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/default_text.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/trav_stack.h"
#include "sql/front/tree_copy.h"

namespace {

const int32_t kNoPosition[2] = {0, 0};

int32_t Counted(SqlCompileCtx* ctx, const std::string& text) {
  return TreeCountedCopy(ctx, text.data(), static_cast<int32_t>(text.size()));
}

int32_t TypeRecord(SqlCompileCtx* ctx, int32_t code, int32_t length, int32_t scale) {
  int32_t values[4] = {code, length, scale, 0};
  return TreeRecord(ctx, 4, values);
}

int32_t Typed(SqlCompileCtx* ctx, int32_t node, int32_t code, int32_t length, int32_t scale) {
  int32_t type = TypeRecord(ctx, code, length, scale);
  WsWord(ctx, node, EXN_TYPE) = type;
  return node;
}

// The precision digit of a stored CURRENT_TIME(d) or CURRENT_TIMESTAMP(d)
// (LOCALTIME... alike): the character before the closing parenthesis. A
// text without a digit there gives precision 0.
int32_t PrecisionDigit(const std::string& text) {
  if (text.size() < 2) return 0;
  char d = text[text.size() - 2];
  return d >= '0' && d <= '9' ? d - '0' : 0;
}

// The two names of a stored sequence default: "SCHEMA"."NAME" after the
// NEXT_VALUE OF / CURRENT_VALUE OF words, each in double quotes with a
// doubled quote standing for one. A name without quotes is taken up to the
// dot or the end.
std::vector<std::string> SequenceNames(const std::string& text) {
  std::vector<std::string> names;
  size_t i = text.find('"');
  if (i == std::string::npos) {
    size_t blank = text.rfind(' ');
    std::string rest = blank == std::string::npos ? text : text.substr(blank + 1);
    size_t dot = rest.find('.');
    if (dot != std::string::npos) {
      names.push_back(rest.substr(0, dot));
      rest = rest.substr(dot + 1);
    }
    names.push_back(rest);
    return names;
  }
  while (i < text.size() && text[i] == '"' && names.size() < 2) {
    std::string name;
    ++i;
    while (i < text.size()) {
      if (text[i] == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          name += '"';
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      name += text[i++];
    }
    names.push_back(name);
    if (i < text.size() && text[i] == '.') ++i;
  }
  return names;
}

int32_t SequenceNode(SqlCompileCtx* ctx, int32_t selector, const std::string& text) {
  std::vector<std::string> names = SequenceNames(text);
  const std::string& object = names.empty() ? std::string() : names.back();
  int32_t schema = names.size() > 1 ? TreeTextCopy(ctx, names[0].data(),
                                                   static_cast<int32_t>(names[0].size()))
                                    : 0;
  int32_t part = NamePart(ctx, kNoPosition,
                          TreeTextCopy(ctx, object.data(), static_cast<int32_t>(object.size())),
                          schema);
  ExprWord w[] = {{22, selector}, {23, QualifiedNameNode(ctx, kNoPosition, part, 0)}};
  return ExprFixed(ctx, kExprSequence, kNoPosition, w, 2);
}

// The default of a kind and text, for a column of the given type.
int32_t DefaultNode(SqlCompileCtx* ctx, int32_t kind, const std::string& text,
                    const SqlColumnDesc& column) {
  if (kind >= 0) {
    std::string value = text.substr(0, std::min(text.size(), static_cast<size_t>(kind)));
    int32_t node = ExprLiteral(ctx, kNoPosition, column.type_code, Counted(ctx, value), 0);
    // Known not to be negative unless the text begins with a minus sign, as
    // for every literal.
    WsWord(ctx, node, EXN_TYPE_FLAG) = !value.empty() && value[0] == '-' ? 0 : 1;
    int32_t values[4] = {column.type_code, column.length, column.scale, 0};
    WsWord(ctx, node, EXN_TYPE) = TreeRecord(ctx, 4, values);
    return node;
  }
  switch (kind) {
    case kDefaultCurrentValue:
      return SequenceNode(ctx, 2, text);
    case kDefaultNextValue:
      return SequenceNode(ctx, 1, text);
    case kDefaultSystemUser:
      return ExprOfKind(ctx, kExprUserValue, kNoPosition, 3, 0);
    case kDefaultSessionUser:
      return ExprOfKind(ctx, kExprUserValue, kNoPosition, 2, 0);
    case kDefaultCurrentUser:
      return ExprOfKind(ctx, kExprUserValue, kNoPosition, 1, 0);
    case kDefaultUser:
      return ExprOfKind(ctx, kExprUserValue, kNoPosition, 0, 0);
    case kDefaultCurrentTimestamp: {
      int32_t d = PrecisionDigit(text);
      return Typed(ctx, ExprOfKind(ctx, kExprCurrentTimestamp, kNoPosition, 0, 0), 12, 14 + d, d);
    }
    case kDefaultCurrentTime: {
      int32_t d = PrecisionDigit(text);
      return Typed(ctx, ExprOfKind(ctx, kExprCurrentTime, kNoPosition, 0, 0), 11, 6 + d, d);
    }
    case kDefaultCurrentDate:
      return Typed(ctx, ExprOfKind(ctx, kExprCurrentDate, kNoPosition, 0, 0), 10, 8, 0);
    default:
      return -1;  // the domain's
  }
}

// Puts `value` in place of every column reference named VALUE of the
// expression tree at `root` (the copied check), walking on the traversal
// stack; returns the new root. A node may be reached more than once (BETWEEN
// takes its operand twice; a damaged image may hold a cycle), so the walk
// visits each node once: the first pass marks the nodes it has done in their
// forwarding word (the copy left it 0, and only a running copy gives it a
// meaning), the second clears the marks again. Neither pass goes into the
// value put in.
int32_t PutValue(SqlCompileCtx* ctx, int32_t root, int32_t value) {
  auto is_value = [&](int32_t node) {
    if (node == 0 || WsWord(ctx, node, EXN_KIND) != kExprColumnRef) return false;
    QualifiedName n;
    qqnamget(ctx, WsWord(ctx, node, EXN_OPERAND1), &n);
    return std::strcmp(n.name[0], "VALUE") == 0 && n.name[1][0] == 0 && n.name[2][0] == 0;
  };
  if (root == 0) return 0;
  if (is_value(root)) return value;
  // `mark` 1: put the value in and mark; 0: clear the marks.
  auto walk = [&](int32_t mark) {
    auto visit = [&](int32_t child) {
      if (child == 0 || child == value) return false;
      if (mark == 1 && is_value(child)) return true;
      TravPush(ctx, 1, 1, child);
      return false;
    };
    TravPush(ctx, 0, 1, 0);
    TravPush(ctx, 1, 1, root);
    for (;;) {
      TravFrame f = TravPop(ctx);
      if (f.routine == 0) break;
      if (f.routine == 2) {  // a list of expressions
        for (int32_t c = f.node; c != 0; c = WsWord(ctx, c, CELL_NEXT)) {
          if (visit(WsWord(ctx, c, CELL_VALUE))) WsWord(ctx, c, CELL_VALUE) = value;
        }
        continue;
      }
      int32_t& done = WsWord(ctx, f.node, EXN_FORWARD);
      if (done == mark) continue;
      done = mark;
      TreeChild children[kMaxExprChildren];
      int32_t k = TreeExprChildren(WsWord(ctx, f.node, EXN_KIND), children);
      for (int32_t i = 0; i < k; ++i) {
        int32_t word = children[i].word;
        int32_t child = WsWord(ctx, f.node, word);
        if (children[i].kind == kRefExpression) {
          if (visit(child)) WsWord(ctx, f.node, word) = value;
        } else if (children[i].kind == kRefExpressionList && child != 0) {
          TravPush(ctx, 2, 1, child);
        }
      }
    }
  };
  walk(1);
  walk(0);
  return root;
}

int32_t CopyStored(SqlCompileCtx* ctx, int32_t referencing, int32_t id, int32_t mode) {
  int32_t statement_block = qqwscur(ctx);
  int32_t block = 0;
  int32_t root = 0;
  qmfetchtree(ctx, referencing, id, &block, &root);
  int32_t result = 0;
  qqcrel(ctx, statement_block, block, mode, root, &result);
  WorkspacePopTop(ctx, block);
  qqwswb(ctx, statement_block);
  return result;
}

}  // namespace

void qmfetchtree(SqlCompileCtx* ctx, int32_t referencing, int32_t id, int32_t* block,
                 int32_t* root) {
  int32_t statement_block = qqwscur(ctx);
  int32_t total = 0;
  int32_t status = qdsrcinfo(ctx, id, kStoredTreeItem, &total);
  if (status > 0) {
    ctx->missing_object = referencing;
    qcrestart(ctx, 1, -1);
  }
  if (status < 0) qcfatal(ctx, status);
  if (total < WSB_HEADER_BYTES) qcinterr(ctx, "QST: qmfetchtree", -19220);
  int32_t b = WorkspacePushTop(ctx, total);
  int32_t* header = WsBlock(ctx, b);
  int32_t link = header[WST_LINK];
  int32_t size = header[WST_SIZE];
  int32_t length = 0;
  status = qdsrcread(ctx, id, kStoredTreeItem, reinterpret_cast<uint8_t*>(header), total, &length);
  int32_t image_root = header[WSB_ROOT];
  header[WST_LINK] = link;
  header[WST_SIZE] = size;
  if (status < 0) qcfatal(ctx, status);
  if (status > 0 || length != total) {
    // The text vanished or changed length between the two reads.
    ctx->missing_object = referencing;
    qcrestart(ctx, 1, -1);
  }
  if (image_root < 0 || image_root >= total) qcinterr(ctx, "QST: qmfetchtree", -19220);
  *block = b;
  *root = image_root;
  qqwswb(ctx, statement_block);
}

int32_t qmcopytree(SqlCompileCtx* ctx, int32_t referencing, int32_t id) {
  return CopyStored(ctx, referencing, id, kRefExpression);
}

int32_t qmcopyview(SqlCompileCtx* ctx, int32_t view_id) {
  return CopyStored(ctx, view_id, view_id, kRefStatement);
}

int32_t qmcoldefault(SqlCompileCtx* ctx, const SqlColumnDesc& column) {
  int32_t node = DefaultNode(ctx, column.default_length, column.default_text, column);
  if (node != -1) return node;
  if (column.domain_id == -1) return 0;
  SqlColumnDesc domain;
  int32_t status = qdgetdomtext(ctx, column.domain_id, column.type_code, column.length, &domain);
  if (status < 0) qcfatal(ctx, status);
  if (status != 0 || domain.default_length == -1) return 0;
  node = DefaultNode(ctx, domain.default_length, domain.default_text, column);
  return node == -1 ? 0 : node;
}

int32_t qmrangecond(SqlCompileCtx* ctx, int32_t referencing, int32_t variant, int32_t value) {
  auto literal = [&](const char* text, int32_t code) {
    return ExprLiteral(ctx, kNoPosition, code,
                       TreeCountedCopy(ctx, text, static_cast<int32_t>(std::strlen(text))), 0);
  };
  auto cmp = [&](int32_t kind, const char* bound, int32_t code) {
    return qqcbix(ctx, kind, kNoPosition, value, literal(bound, code), 0, 0);
  };
  auto outside = [&](const char* low, const char* high, int32_t code) {
    return qqcbix(ctx, kExprOr, kNoPosition, cmp(kExprLt, low, code), cmp(kExprGt, high, code), 0,
                  0);
  };
  auto approximate = [&](const char* big, const char* small) {
    std::string neg_big = std::string("-") + big;
    std::string neg_small = std::string("-") + small;
    int32_t nonzero = cmp(kExprNe, "0", 2);
    int32_t negative = outside(neg_big.c_str(), neg_small.c_str(), 2);
    int32_t positive = outside(small, big, 2);
    int32_t both = qqcbix(ctx, kExprAnd, kNoPosition, nonzero, negative, 0, 0);
    return qqcbix(ctx, kExprAnd, kNoPosition, both, positive, 0, 0);
  };
  if (variant < 1) return 0;
  switch (variant) {
    case 201:
      return outside("-2147483648", "2147483647", 1);
    case 202:
      return outside("-32768", "32767", 1);
    case 208:
      return outside("-9223372036854775808", "9223372036854775807", 1);
    case 204:
      return approximate("1E+38", "1E-38");
    case 203:
    case 205:
      return approximate("1E+308", "1E-308");
    case 206:
    case 207:
      return 0;
    default:
      return qmcheckcond(ctx, referencing, variant, value);
  }
}

int32_t qmcheckcond(SqlCompileCtx* ctx, int32_t referencing, int32_t check, int32_t value) {
  return PutValue(ctx, qmcopytree(ctx, referencing, check), value);
}
