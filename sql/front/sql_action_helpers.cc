// The grammar actions' shared services: value entries, user errors, the NOT
// stack with operator mirroring, the LIKE key range, literal joining, numeric
// conversion, length suffixes, signed literal texts and function-name nodes.
#include "sql/front/sql_action_helpers.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "sql/front/compile_diag.h"
#include "sql/front/stmt_tree.h"

const char* EntryText(SqlCompileCtx* ctx, const int32_t* entry) {
  // Indexes count from the arena's first chunk; a later chunk of the kernel
  // word storage may lie below it, so an index is negative as often as not.
  // Only 0 means no text.
  if (entry[VW_TEXT] == 0 || entry[VW_TEXT_LENGTH] <= 0) return "";
  return reinterpret_cast<const char*>(ctx->arena.chunks + (entry[VW_TEXT] - 1));
}

int32_t ArenaTextCopy(SqlCompileCtx* ctx, const char* text, int32_t n) {
  if (n <= 0) return 0;
  auto* copy = static_cast<char*>(ArenaAlloc(&ctx->arena, nullptr, n + 1));
  std::memcpy(copy, text, static_cast<size_t>(n));
  copy[n] = 0;
  return static_cast<int32_t>(reinterpret_cast<int32_t*>(copy) - ctx->arena.chunks) + 1;
}

void ActionError(SqlCompileCtx* ctx, const int32_t* entry, int32_t code, const char* item) {
  char text[kParamTextBytes];
  BuildParamText(text, item);
  qcerrec(ctx, entry, "QSA", code, kSevSqlError, text);
}

void ActionErrorItem(SqlCompileCtx* ctx, const int32_t* entry, int32_t code, char letter,
                     const std::string& item) {
  std::string text = std::string(1, letter) + '\t' + item.substr(0, kParamTextBytes - 3);
  qcerrec(ctx, entry, "QSA", code, kSevSqlError, text.c_str());
}

// ---- NOT stack ---------------------------------------------------------------

void qfnpsh(SqlCompileCtx* ctx, int32_t flag) {
  SqlActionState* s = ActionState(ctx);
  if (s->not_depth < 0 || s->not_depth + 1 >= kNotStackDepth) qcinterr(ctx, "QSA: qfnpsh", -19226);
  s->not_stack[s->not_depth++] = flag;
}

int32_t qfnpop(SqlCompileCtx* ctx) {
  SqlActionState* s = ActionState(ctx);
  if (s->not_depth < 1 || s->not_depth > kNotStackDepth) qcinterr(ctx, "QSA: qfnpop", -19227);
  return s->not_stack[--s->not_depth];
}

int32_t qfntop(SqlCompileCtx* ctx) {
  SqlActionState* s = ActionState(ctx);
  if (s->not_depth < 1 || s->not_depth > kNotStackDepth) qcinterr(ctx, "QSA: qfntop", -19227);
  return s->not_stack[s->not_depth - 1];
}

int32_t qfnope(SqlCompileCtx* ctx, int32_t op) {
  if (qfntop(ctx) == 0) return op;
  switch (op) {
    case kExprAnd:
      return kExprOr;
    case kExprOr:
      return kExprAnd;
    case kExprEq:
      return kExprNe;
    case kExprNe:
      return kExprEq;
    case kExprLt:
      return kExprGe;
    case kExprGe:
      return kExprLt;
    case kExprGt:
      return kExprLe;
    case kExprLe:
      return kExprGt;
    default:
      qcinterr(ctx, "QSA: qfnope", -19245);
  }
}

int32_t qfnqnt(SqlCompileCtx* ctx, int32_t quantifier) {
  if (qfntop(ctx) == 0) return quantifier;
  if (quantifier == kExprAll) return kExprAny;
  if (quantifier == kExprAny) return kExprAll;
  qcinterr(ctx, "QSA: qfnqnt", -19245);
}

int32_t EffectiveNot(SqlCompileCtx* ctx, int32_t written) {
  int32_t own = written != 0 ? 1 : 0;
  return qfntop(ctx) != 0 ? 1 - own : own;
}

// ---- Literals ------------------------------------------------------------------

const char* LiteralBytes(SqlCompileCtx* ctx, int32_t node, int32_t* length) {
  *length = 0;
  if (node == 0) return "";
  int32_t record = WsWord(ctx, node, EXN_OPERAND1);
  if (record == 0) return "";
  int32_t n = WsWord(ctx, record, 0);
  *length = n < 0 ? 0 : n;
  return qqwsadr(ctx, record) + 4;
}

namespace {

bool IsCharacterLiteral(SqlCompileCtx* ctx, int32_t node) {
  return node != 0 && WsWord(ctx, node, EXN_KIND) == kExprLiteral &&
         WsWord(ctx, node, EXN_LITERAL_TYPE) == 4;
}

enum LikeState { kLiteral, kEscaped, kAfterPercent, kAfterUnderscore };

}  // namespace

int32_t LikeKeyRecord(SqlCompileCtx* ctx, const std::string& prefix, char pad) {
  int32_t n = kSqlLiteralBytes;
  size_t kept = std::min<size_t>(prefix.size(), static_cast<size_t>(n));
  int32_t r = qqwsal(ctx, n + 5);
  char* p = qqwsadr(ctx, r);
  std::memcpy(p, &n, 4);
  std::memcpy(p + 4, prefix.data(), kept);
  std::memset(p + 4 + kept, pad, static_cast<size_t>(n) - kept);
  p[4 + n] = 0;
  return r;
}

bool LikeKeyRange(SqlCompileCtx* ctx, int32_t pattern, int32_t escape, LikeKeys* keys,
                  int32_t* characters) {
  keys->prefix.clear();
  *characters = 0;
  if (!IsCharacterLiteral(ctx, pattern)) return false;
  int32_t escape_char = -1;
  if (escape != 0) {
    int32_t n = 0;
    const char* e = LiteralBytes(ctx, escape, &n);
    if (!IsCharacterLiteral(ctx, escape) || n != 1) return false;
    escape_char = static_cast<unsigned char>(e[0]);
  }
  int32_t n = 0;
  const char* p = LiteralBytes(ctx, pattern, &n);
  LikeState state = kLiteral;
  bool exact = true;
  std::string prefix;
  for (int32_t i = 0; i < n; ++i) {
    int32_t c = static_cast<unsigned char>(p[i]);
    ++*characters;
    switch (state) {
      case kLiteral:
        if (c == escape_char) {
          state = kEscaped;
        } else if (c == '%') {
          state = kAfterPercent;
        } else if (c == '_') {
          exact = false;
          state = kAfterUnderscore;
        } else {
          prefix += static_cast<char>(c);
        }
        break;
      case kEscaped:
        if (c != escape_char && c != '_' && c != '%') return false;
        prefix += static_cast<char>(c);
        state = kLiteral;
        break;
      case kAfterPercent:
        if (c != '%') exact = false;
        if (c == escape_char) state = kEscaped;
        break;
      case kAfterUnderscore:
        if (c == escape_char) {
          exact = false;
          state = kEscaped;
        }
        break;
    }
  }
  if (state == kEscaped) return false;
  if (state != kAfterPercent || !exact) return false;
  if (!prefix.empty() && prefix.back() == ' ') return false;
  // The prefix cannot pass 15000 bytes: the pattern literal is cut there.
  prefix.resize(std::min<size_t>(prefix.size(), kSqlLiteralBytes));
  keys->prefix = std::move(prefix);
  return true;
}

void JoinLiteralTexts(SqlCompileCtx* ctx, int32_t* left, const int32_t* right) {
  int32_t ln = std::max(left[VW_TEXT_LENGTH], 0);
  int32_t rn = std::max(right[VW_TEXT_LENGTH], 0);
  if (static_cast<int64_t>(ln) + rn > kSqlLiteralBytes) {
    ActionError(ctx, right, -12128);
    rn = kSqlLiteralBytes - std::min(ln, kSqlLiteralBytes);
    ln = std::min(ln, kSqlLiteralBytes);
  }
  std::string joined(EntryText(ctx, left), static_cast<size_t>(ln));
  joined.append(EntryText(ctx, right), static_cast<size_t>(rn));
  left[VW_TEXT_LENGTH] = static_cast<int32_t>(joined.size());
  left[VW_TEXT] = ArenaTextCopy(ctx, joined.data(), left[VW_TEXT_LENGTH]);
}

int32_t NumericValue(SqlCompileCtx* ctx, const int32_t* entry, const char* text, int32_t n) {
  // The whole text, however long: leading zeros do not make a value too
  // large.
  std::string buffer(text, static_cast<size_t>(std::max(n, 0)));
  bool ok = n > 0;
  double v = 0;
  if (ok) {
    char* end = nullptr;
    v = std::strtod(buffer.c_str(), &end);
    ok = end == buffer.c_str() + n && v >= -2147483648.0 && v <= 2147483647.0;
  }
  if (!ok) {
    ActionError(ctx, entry, -12230);
    return 0;
  }
  return static_cast<int32_t>(v < 0 ? v - 0.5 : v + 0.5);
}

int32_t LengthWithSuffix(int64_t* result, const char* text, int32_t suffix) {
  static const int64_t kFactor[] = {1, 1024, 1048576, 1073741824};
  if (suffix < 0 || suffix > 3) return -1;
  int64_t v = 0;
  int32_t n = static_cast<int32_t>(std::strlen(text));
  if (n == 0) return 1;
  for (int32_t i = 0; i < n; ++i) {
    if (text[i] < '0' || text[i] > '9') return 1;
    if (v > (INT64_MAX - 9) / 10) return 1;
    v = v * 10 + (text[i] - '0');
  }
  if (v > INT64_MAX / kFactor[suffix]) return 1;
  *result = v * kFactor[suffix];
  return 0;
}

int32_t SignedLiteralRecord(SqlCompileCtx* ctx, const char* text, int32_t n) {
  SqlActionState* s = ActionState(ctx);
  std::string t;
  if (s->pending_sign == '+' || s->pending_sign == '-') t += static_cast<char>(s->pending_sign);
  s->pending_sign = 0;
  t.append(text, static_cast<size_t>(std::max(n, 0)));
  return TreeCountedCopy(ctx, t.data(), static_cast<int32_t>(t.size()));
}

int32_t FunctionNameNode(SqlCompileCtx* ctx, const int32_t* position, const char* name) {
  int32_t text = TreeTextCopy(ctx, name, static_cast<int32_t>(std::strlen(name)));
  return QualifiedNameNode(ctx, position, NamePart(ctx, position, text, 0), 0);
}

bool LiteralKindTest(SqlCompileCtx* ctx, int32_t node) {
  return node == 0 || WsWord(ctx, node, EXN_KIND) != kExprRoutineCall;
}
