// The tree copy. Work items are traversal frames (reference kind, 1 first
// visit or 2 finish, source reference); finished sub-trees leave their new
// references on a value stack of 512 words until their parent's finish takes
// them. The reference map (the workspace's scratch area, one word per four
// source bytes) holds each copied record's new reference; a record other than
// an expression node is marked -1 while its copy is in progress, so that a
// cycle in a damaged image is found instead of looping. An expression node
// is allocated and copied at its first visit, enters the map at once and
// writes its forwarding word in the source; the map, not the forwarding
// word, says whether this copy has made it, so a word 11 left by an earlier
// copy or another phase never redirects a node.
#include "sql/front/tree_copy.h"

#include <cstring>
#include <initializer_list>
#include <vector>

#include "sql/front/compile_context.h"
#include "sql/front/compile_diag.h"
#include "sql/front/sql_action_words.h"
#include "sql/front/stmt_tree.h"
#include "sql/front/trav_stack.h"

namespace {

constexpr const char* kCopyRoutine = "QST: qqcrel";
constexpr int32_t kInProgress = -1;

using Child = TreeChild;

// The operand rules of the expression kinds 0 to 100, made once.
struct ExprRule {
  int32_t count = -1;
  TreeChild child[kMaxExprChildren];
};
const ExprRule& ExprRuleOf(int32_t kind) {
  static const std::vector<ExprRule> rules = [] {
    std::vector<ExprRule> r(102);
    for (int32_t k = 0; k <= 100; ++k) r[static_cast<size_t>(k)].count =
        TreeExprChildren(k, r[static_cast<size_t>(k)].child);
    return r;
  }();
  return rules[static_cast<size_t>(kind >= 0 && kind <= 100 ? kind : 101)];
}
constexpr int32_t kMaxChildren = 12;
// An expression's list of the column references its value reads (the type
// checker's), and a select item's walk-time link to an enclosing item.
constexpr int32_t kExprColumnsWord = 12;
constexpr int32_t kItemOuterWord = 9;
// A bound table reference's list of the columns its NOT NULL tests read.
constexpr int32_t kTableRefNullTests = 112;

// Bytes of a record of a fixed size (0: lists and texts).
int32_t RecordBytes(int32_t kind) {
  switch (kind) {
    case kRefExpression:
      return kExprNodeWords * 4;
    case kRefType:
    case kRefOneName:
    case kRefNamePart:
    case kRefQualifiedName:
      return 16;
    case kRefStatement:
      return kStmtNodeWords * 4;
    case kRefItem:
      return 40;
    case kRefSortItem:
      return 24;
    case kRefTableRef:
      return 64;
    case kRefRecord197:
      return 788;
    case kRefPair:
    case kRefPairRecord:
      return 8;
    case kRefDoubles:
      return 32;
    case kRefRecord15:
      return 60;
    default:
      return 0;
  }
}

// The element kind of a list kind (0: not a list).
int32_t ElementKind(int32_t kind) {
  switch (kind) {
    case kRefExpressionList:
      return kRefExpression;
    case kRefItemList:
      return kRefItem;
    case kRefTableRefList:
      return kRefTableRef;
    case kRefRecord197List:
      return kRefRecord197;
    case kRefNameList:
      return kRefNamePart;
    case kRefSortList:
      return kRefSortItem;
    case kRefPairList:
      return kRefPairRecord;
    default:
      return 0;
  }
}

// Records copied at their first visit and entered into the map at once, so
// that a record reached again while its copy is in progress resolves to the
// same copy: expression nodes (shared operands), and the records an
// analysed tree links both ways: a bound table reference with the column
// references bound to it, and a FROM item with its bound reference.
bool CopiedFirst(int32_t kind) {
  return kind == kRefExpression || kind == kRefRecord197 || kind == kRefTableRef;
}

bool IsLeaf(int32_t kind) {
  return kind == kRefType || kind == kRefText || kind == kRefCounted || kind == kRefDoubles ||
         kind == kRefRecord15;
}

class Copier {
 public:
  Copier(SqlCompileCtx* ctx, int32_t destination, int32_t source)
      : ctx_(ctx) {
    qqwswb(ctx, source);
    src_ = ctx->ws.base + source - 1;
    extent_ = ctx->ws.used;
    if (source > ctx->ws.top_limit) extent_ += WST_RESERVE_BYTES;
    if (extent_ < 0 || extent_ > ctx->workspace_size) extent_ = 0;
    map_ = reinterpret_cast<int32_t*>(ctx->ws.scratch);
    // The map is zero at the start of every copy. A copy clears the entries
    // it set when it ends (their indexes kept after the map, as far as the
    // scratch area reaches; past that it clears the whole map), so only the
    // part no copy has cleared yet needs clearing here. A copy left by an
    // error jump leaves the area marked unknown.
    map_words_ = extent_ / 4 + 1;
    int32_t clean = ctx->ws.scratch_clean / 4;
    ctx->ws.scratch_clean = 0;
    if (clean < map_words_) {
      std::memset(map_ + clean, 0, static_cast<size_t>(map_words_ - clean) * 4);
      clean = map_words_;
    }
    clean_words_ = clean;
    touched_ = map_ + map_words_;
    touched_capacity_ = ctx->workspace_size / 4 - map_words_;
    qqwswb(ctx, destination);
  }

  // Clears what this copy set and marks the area clean again.
  void Done() {
    if (touched_count_ > touched_capacity_) {
      std::memset(map_, 0, static_cast<size_t>(map_words_) * 4);
    } else {
      for (int32_t i = 0; i < touched_count_; ++i) map_[touched_[i]] = 0;
    }
    // The touched list itself lay past the map, in the area the next copy
    // may take as its map.
    int32_t list_end = touched_count_ > touched_capacity_ ? touched_capacity_ : touched_count_;
    int32_t clean = clean_words_;
    if (list_end > 0 && clean > map_words_) clean = map_words_;
    ctx_->ws.scratch_clean = clean * 4;
  }

  int32_t Run(int32_t kind, int32_t ref) {
    // The end marker is no record to copy: as a root it would end the copy
    // at once and leave the copy's own marker on the stack.
    if (kind == 0) Fail(-19220);
    TravPushOn(ctx_->trav, ctx_, 0, 1, 0);
    TravPushOn(ctx_->trav, ctx_, kind, 1, ref);
    for (;;) {
      TravFrame f = TravPopFrom(ctx_->trav);
      if (f.routine == 0) return values_ > 0 ? value_[values_ - 1] : 0;
      if (f.routine < 0 || f.routine > kRefMax) Fail(-19220);
      if (f.resume == 1) {
        First(f.routine, f.node);
      } else {
        Finish(f.routine, f.node);
      }
    }
  }

 private:
  [[noreturn]] void Fail(int32_t code) { qcinterr(ctx_, kCopyRoutine, code); }

  void SetMap(int32_t ref, int32_t value) {
    int32_t& slot = map_[ref / 4];
    if (slot == 0) {
      if (touched_count_ < touched_capacity_) touched_[touched_count_] = ref / 4;
      ++touched_count_;
    }
    slot = value;
  }

  void PushValue(int32_t v) {
    if (values_ >= kCopyValueSlots) qcinterr(ctx_, "QST: qswpsh", -19258);
    value_[values_++] = v;
  }
  int32_t PopValue() { return values_ > 0 ? value_[--values_] : 0; }

  // The source record at a reference, checked to lie inside the block.
  const int32_t* Source(int32_t ref, int32_t bytes) {
    if (ref <= 0 || ref % 4 != 0 || int64_t{ref} + bytes > extent_) Fail(-19220);
    return reinterpret_cast<const int32_t*>(src_ + ref);
  }
  int32_t* Dest(int32_t ref) { return &WsWord(ctx_, ref, 0); }

  void First(int32_t kind, int32_t ref) {
    if (ref == 0) {
      PushValue(0);
      return;
    }
    if (ref > 0 && ref % 4 == 0 && ref < extent_) {
      int32_t mapped = map_[ref / 4];
      if (mapped > 0) {
        PushValue(mapped);
        return;
      }
      // An expression list may be met again while in progress: an
      // expression's list of the columns it reads is often its operand's
      // very list, reached again through that operand. Its elements are
      // copied at their first visit, so the second copy ends.
      if (mapped == kInProgress && kind != kRefExpressionList) Fail(-19220);
    }
    if (IsLeaf(kind)) {
      int32_t copy = Leaf(kind, ref);
      SetMap(ref, copy);
      PushValue(copy);
      return;
    }
    int32_t element = ElementKind(kind);
    if (element != 0) {
      Source(ref, 8);
      SetMap(ref, kInProgress);
      TravPushOn(ctx_->trav, ctx_, kind, 2, ref);
      int32_t n = ListLength(ref);
      // Pushed last element first, so that the first is copied first.
      for (int32_t i = n - 1; i >= 0; --i) TravPushOn(ctx_->trav, ctx_, element, 1, ListElement(ref, i));
      return;
    }
    int32_t bytes = RecordBytes(kind);
    if (bytes == 0) Fail(-19220);
    const int32_t* rec = Source(ref, bytes);
    Child children[kMaxChildren];
    int32_t n = Children(kind, rec, children);
    if (CopiedFirst(kind)) {
      int32_t copy = qqwsal(ctx_, bytes);
      std::memcpy(Dest(copy), Source(ref, bytes), static_cast<size_t>(bytes));
      SetMap(ref, copy);
      if (kind == kRefExpression) {
        Dest(copy)[EXN_FORWARD] = 0;  // the source's forwarding word means nothing here
        const_cast<int32_t*>(Source(ref, bytes))[EXN_FORWARD] = copy;
      }
      // The columns a bound reference keeps for the NOT NULL tests of the
      // statement that made them are that statement's: a copy starts with
      // none (a list there, as a damaged stored view may hold, could be
      // another list of the tree, which the tests would then write into).
      if (kind == kRefRecord197) Dest(copy)[kTableRefNullTests] = 0;
    } else {
      SetMap(ref, kInProgress);
    }
    TravPushOn(ctx_->trav, ctx_, kind, 2, ref);
    // A null reference needs no work item: the copied word is already 0, and
    // the finish skips it the same way (the source does not change).
    for (int32_t i = n - 1; i >= 0; --i) {
      int32_t child = rec[children[i].word];
      if (child != 0) TravPushOn(ctx_->trav, ctx_, children[i].kind, 1, child);
    }
  }

  void Finish(int32_t kind, int32_t ref) {
    int32_t element = ElementKind(kind);
    if (element != 0) {
      int32_t n = ListLength(ref);
      int32_t list = 0;
      // Cells are made last element first; a null element keeps its cell.
      for (int32_t i = 0; i < n; ++i) {
        int32_t cell = qqwsal(ctx_, 8);
        qqwlst(ctx_, cell, list, PopValue());
        list = cell;
      }
      SetMap(ref, list);
      PushValue(list);
      return;
    }
    int32_t bytes = RecordBytes(kind);
    const int32_t* rec = Source(ref, bytes);
    Child children[kMaxChildren];
    int32_t n = Children(kind, rec, children);
    int32_t copy;
    if (CopiedFirst(kind)) {
      copy = map_[ref / 4];
    } else {
      copy = qqwsal(ctx_, bytes);
      std::memcpy(Dest(copy), Source(ref, bytes), static_cast<size_t>(bytes));
      SetMap(ref, copy);
    }
    int32_t* out = Dest(copy);
    for (int32_t i = n - 1; i >= 0; --i) {
      if (rec[children[i].word] != 0) out[children[i].word] = PopValue();
    }
    // The select item being walked when this one began means nothing
    // outside that walk (and leads back into the item's own ancestors).
    if (kind == kRefItem) out[kItemOuterWord] = 0;
    PushValue(copy);
  }

  int32_t ListLength(int32_t ref) {
    int32_t n = 0;
    int32_t limit = extent_ / 8 + 1;
    for (int32_t c = ref; c != 0; c = Source(c, 8)[CELL_NEXT]) {
      if (++n > limit) Fail(-19220);
    }
    return n;
  }
  int32_t ListElement(int32_t ref, int32_t i) {
    int32_t c = ref;
    while (i-- > 0) c = Source(c, 8)[CELL_NEXT];
    return Source(c, 8)[CELL_VALUE];
  }

  // A text record of `head` bytes (a length word when 4) and `n` bytes, its
  // padding cleared, so that the copy of a copy is the copy byte for byte.
  int32_t Bytes(const char* bytes, int32_t n, int32_t head, int32_t length) {
    int32_t total = (head + n + 3) / 4 * 4;
    int32_t copy = qqwsal(ctx_, total);
    char* out = reinterpret_cast<char*>(Dest(copy));
    std::memset(out, 0, static_cast<size_t>(total));
    if (head == 4) std::memcpy(out, &length, 4);
    std::memcpy(out + head, bytes, static_cast<size_t>(n));
    return copy;
  }

  int32_t Leaf(int32_t kind, int32_t ref) {
    switch (kind) {
      case kRefType: {
        const int32_t* rec = Source(ref, 16);
        int32_t values[4] = {rec[0], rec[1], rec[2], rec[3]};
        return TreeRecord(ctx_, 4, values);
      }
      case kRefText: {
        const char* text = reinterpret_cast<const char*>(Source(ref, 1));
        const void* end = std::memchr(text, 0, static_cast<size_t>(extent_ - ref));
        if (end == nullptr) Fail(-19220);
        int32_t n = static_cast<int32_t>(static_cast<const char*>(end) - text);
        return Bytes(text, n + 1, 0, 0);
      }
      case kRefCounted: {
        int32_t n = Source(ref, 4)[0];
        if (n < 0 || int64_t{n} + 5 > extent_ - ref) Fail(-19220);
        return Bytes(reinterpret_cast<const char*>(Source(ref, 4) + 1), n + 1, 4, n);
      }
      case kRefDoubles: {
        const int32_t* rec = Source(ref, 32);
        int32_t copy = TreeDoubleRecord(ctx_);
        std::memcpy(Dest(copy), rec, 32);
        return copy;
      }
      default: {  // kRefRecord15
        const int32_t* rec = Source(ref, 60);
        int32_t copy = TreeRecord15(ctx_, rec + 1);
        Dest(copy)[0] = rec[0];
        Dest(copy)[14] = rec[14];
        return copy;
      }
    }
  }

  // The reference words of a record, in the order they are copied.
  int32_t Children(int32_t kind, const int32_t* rec, Child* out) {
    int32_t n = 0;
    auto add = [&](int32_t word, int32_t child) { out[n++] = Child{word, child}; };
    switch (kind) {
      case kRefExpression:
        add(EXN_TYPE, kRefType);
        add(EXN_WORD19, kRefExpression);
        // An operator's word 24: the LIKE a key range's AND stands beside.
        if (rec[EXN_KIND] >= 1 && rec[EXN_KIND] <= 15) add(EXN_WORD24, kRefExpression);
        if (rec[4] > 0) add(4, kRefTableRef);
        if (rec[EXN_MAPPED_FROM] != 0) add(EXN_MAPPED_FROM, kRefExpression);
        add(kExprColumnsWord, kRefExpressionList);
        {
          const ExprRule& rule = ExprRuleOf(rec[EXN_KIND]);
          if (rule.count < 0) Fail(-19207);
          for (int32_t i = 0; i < rule.count; ++i) add(rule.child[i].word, rule.child[i].kind);
        }
        break;
      case kRefStatement:
        switch (rec[STN_KIND]) {
          case 0:
            add(30, kRefExpressionList);
            add(21, kRefRecord197List);
            add(15, kRefPairList);
            add(6, kRefExpressionList);
            add(5, kRefExpressionList);
            add(4, kRefRecord197List);
            add(3, kRefStatement);
            break;
          case 21:  // 4 ORDER BY, 5 FOR UPDATE OF, 6 the set keys
            add(6, kRefItemList);
            add(5, kRefExpressionList);
            add(4, kRefSortList);
            add(3, kRefStatement);
            break;
          case 27:
            add(18, kRefStatement);
            add(7, kRefStatement);
            add(6, kRefStatement);
            break;
          case 28:
            add(20, kRefPairRecord);
            add(18, kRefStatement);
            add(17, kRefExpressionList);
            add(16, kRefExpressionList);
            add(11, kRefExpressionList);
            add(12, kRefExpression);
            add(9, kRefExpression);
            add(8, kRefExpression);
            add(6, kRefTableRefList);
            add(4, kRefItemList);
            break;
          default:
            Fail(-19244);
        }
        break;
      case kRefItem:
        // 0 "*"; 1 "table.*" over a name part; 2 an expression (its wrapper)
        // with its alias; 3 to 5 conditions of a definition.
        switch (rec[0]) {
          case 0:
            break;
          case 1:
            add(3, kRefNamePart);
            break;
          case 2:
            add(3, kRefExpression);
            add(4, kRefCounted);
            break;
          default:
            add(3, kRefExpression);
            break;
        }
        break;
      case kRefTableRef:
        if (rec[1] != -1) add(1, kRefItemList);
        switch (rec[0]) {
          case 0:  // a table: its name, correlation name, further name, bound reference
            add(11, kRefQualifiedName);
            add(12, kRefNamePart);
            add(13, kRefQualifiedName);
            add(3, kRefRecord197);
            break;
          case 1:  // a join: operands, ON condition, USING columns
            add(12, kRefTableRef);
            add(13, kRefTableRef);
            add(14, kRefExpression);
            add(15, kRefNameList);
            add(5, kRefExpressionList);  // its result columns
            break;
          default:
            Fail(-19245);
        }
        break;
      case kRefSortItem:  // the key, its collation's name
        add(0, kRefExpression);
        add(3, kRefQualifiedName);
        break;
      case kRefRecord197:
        // The exposed name, the bound column references, the view
        // description, the MIN/MAX list, the FROM item, every column.
        add(0, kRefText);
        add(1, kRefExpression);
        add(2, kRefExpressionList);
        add(5, kRefStatement);
        add(11, kRefExpressionList);
        add(12, kRefTableRef);
        add(14, kRefExpressionList);
        break;
      case kRefPair:
        add(0, kRefQualifiedName);
        add(1, kRefOneName);
        break;
      case kRefOneName:
        add(2, kRefText);
        break;
      case kRefNamePart:
        add(2, kRefText);
        add(3, kRefText);
        break;
      case kRefQualifiedName:
        add(2, kRefNamePart);
        add(3, kRefNamePart);
        break;
      case kRefPairRecord:
        add(0, kRefRecord197);
        break;
      default:
        Fail(-19220);
    }
    return n;
  }

  SqlCompileCtx* ctx_;
  const char* src_ = nullptr;
  int32_t extent_ = 0;
  int32_t* map_ = nullptr;
  int32_t map_words_ = 0;
  int32_t clean_words_ = 0;
  int32_t* touched_ = nullptr;
  int32_t touched_capacity_ = 0;
  int32_t touched_count_ = 0;
  int32_t value_[kCopyValueSlots] = {};
  int32_t values_ = 0;
};

}  // namespace

int32_t TreeExprChildren(int32_t kind, TreeChild* out) {
  int32_t n = 0;
  auto add = [&](int32_t word, int32_t child) { out[n++] = TreeChild{word, child}; };
  auto e = [&](std::initializer_list<int32_t> words) {
    for (int32_t w : words) add(w, kRefExpression);
  };
  switch (kind) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 8:
    case 9:
    case 10:
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
    case 37:
    case 63:
    case 64:
    case 65:
    case 70:
    case 84:
    case 91:
      e({22, 23});
      break;
    case 6:
    case 7:
    case 22:
    case 23:
    case 24:
    case 25:
    case 34:
    case 38:
    case 39:
    case 40:
    case 41:
    case 42:
    case 100:
      e({22});
      break;
    // Built-in functions: one or two operands.
    case 48:
    case 53:
    case 61:
    case 66:
    case 67:
    case 68:
    case 69:
    case 71:
    case 72:
    case 73:
    case 74:
    case 76:
    case 77:
    case 80:
    case 81:
    case 82:
    case 83:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
    case 90:
    case 92:
    case 93:
    case 94:
    case 95:
      e({22, 23});
      break;
    case 16:
    case 17:
    case 18:
    case 19:
    case 20:
      e({23});
      break;
    case 62:  // EXTRACT: the field's type record, the operand
      add(22, kRefType);
      e({23});
      break;
    case 21:  // LIKE: operand, pattern, escape (23 and 24 are flags)
      e({22, 25, 26});
      break;
    case 26:
      add(22, kRefStatement);
      break;
    case 27:
      add(22, kRefQualifiedName);
      add(23, kRefRecord197);
      add(29, kRefDoubles);
      add(38, kRefCounted);
      break;
    case 28:
      add(22, kRefPair);
      break;
    case 29:
      add(22, kRefCounted);
      break;
    case 30:  // host variable: name and indicator name
      add(22, kRefText);
      add(23, kRefText);
      break;
    case 31:
    case 32:
    case 33:
    case 97:
      break;
    case 35:  // CAST: operand, type, domain and collation names
      e({22});
      add(24, kRefType);
      add(25, kRefQualifiedName);
      add(27, kRefExpressionList);
      e({28});
      add(29, kRefQualifiedName);
      break;
    case 36:  // CASE: its arms, the operand
      add(22, kRefExpressionList);
      e({23});
      break;
    case 43:
      e({22, 23, 24});
      break;
    case 44:  // TRIM: 22 the side
      e({23, 24});
      break;
    case 49:
    case 50:
    case 51:
    case 52:
      e({22, 23, 24, 25});
      break;
    case 75:  // NEXT_VALUE / CURRENT_VALUE of a sequence
      add(23, kRefQualifiedName);
      break;
    case 96:  // OVERLAPS: 22 the NOT flag
      e({23, 24, 25, 26});
      break;
    case 98:  // routine call: name, arguments, 24 their count
      add(22, kRefQualifiedName);
      add(23, kRefExpressionList);
      add(26, kRefRecord15);
      break;
    default:
      return -1;
  }
  return n;
}


void qqcrel(SqlCompileCtx* ctx, int32_t destination, int32_t source, int32_t kind, int32_t ref,
            int32_t* result) {
  Copier copier(ctx, destination, source);
  *result = copier.Run(kind, ref);
  copier.Done();
  qqwswb(ctx, destination);
}
