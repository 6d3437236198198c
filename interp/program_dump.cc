// The program dump: captions of the 21 descriptor words, the table and
// parameter lists, the call status descriptors, the compound statement and
// handler tables, the current user, and the heading of the instruction
// listing, written line by line to the log or into a caller's buffer.
#include "interp/program_dump.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "interp/instruction_printer.h"
#include "interp/program_layout.h"
#include "kernel/error_report.h"

namespace interp {
namespace {

constexpr int32_t kLineMax = 160;

class Dump {
 public:
  Dump(const int32_t* program, int32_t words, int32_t descriptor, int32_t* target, int32_t tw)
      : p_(program), words_(words), d_(descriptor), target_(target), tw_(tw) {}
  void Run();

 private:
  // Program word at position `k` from the descriptor; false past the program.
  bool At(int64_t k, int32_t* v) const {
    const int64_t i = int64_t{d_} + k;
    if (k < 0 || i < 0 || i >= words_) return false;
    *v = p_[i];
    return true;
  }
  int32_t W(int64_t k) const {
    int32_t v = 0;
    At(k, &v);
    return v;
  }
  void Line(const std::string& s) {
    DAPrtLine(s.data(), static_cast<int32_t>(std::min<size_t>(s.size(), kLineMax)), target_, tw_);
  }
  void Lists();
  void Parameters();
  void CallStatus();
  void Compounds();

  const int32_t* p_;
  int32_t words_, d_;
  int32_t* target_;
  int32_t tw_;
};

const char* const kCaptions[kDescriptorWords] = {
    ": Section identifier:         ",
    ": Program is of type:         ",
    ": Program start word offset:  ",
    ": Storage word offset:        ",
    ": Storage size:               ",
    ": Constant storage size:      ",
    ": Permanent table list start: ",
    ": Permanent table list size:  ",
    ": Temporary table list start: ",
    ": Temporary table list size:  ",
    ": Dynamic list start:         ",
    ": Dynamic list size:          ",
    ": Input parameter list start: ",
    ": Input parameter list size:  ",
    ": Output parameter list start:",
    ": Output parameter list size: ",
    ": Read set id byte offset:    ",
    ": Compound statement stack storage offset: ",
    ": Compound statement hierarchy offset: ",
    ": Call status descriptor offset: ",
    ": Current user name offset: ",
};

std::string TypeName(int32_t type) {
  switch (type) {
    case kProgSelect:
      return " - select";
    case kProgSelectUpdate:
      return " - select update";
    case kProgInsertOne:
      return " - insert one";
    case kProgInsertMany:
      return " - insert many";
    case kProgUpdateOne:
      return " - update one";
    case kProgUpdateMany:
      return " - update many";
    case kProgUpdateAll:
      return " - update all";
    case kProgDeleteOne:
      return " - delete one";
    case kProgDeleteMany:
      return " - delete many";
    case kProgDeleteAll:
      return " - delete all";
    case kProgLevel2:
      return " - level 2";
    case kProgSelectDelete:
      return " - select delete";
    case kProgCall:
    case kProgCall84:
    case kProgCall85:
      return " - call";
    default:
      return "";
  }
}

std::string CsdName(int32_t type) {
  switch (type) {
    case kCsdCursor:
      return "Cursor (1)";
    case kCsdScrollableCursor:
      return "Scrollable cursor (2)";
    case kCsdProcedure:
      return "Procedure (3)";
    case kCsdAtomic:
      return "Atomic (4)";
    case kCsdTrigger:
      return "Trigger (5)";
    default:
      return "";
  }
}

void Dump::Lists() {
  const int32_t limit = words_;  // a list never has more entries than words
  if (W(kDescPermSize) >= 1) {
    const int32_t start = W(kDescPermStart);
    std::string s = RightAligned(start, 4) + ": Permanent table list: ";
    int32_t e = 0;
    for (int32_t k = 0; k < limit && At(int64_t{start} + k, &e) && e >= 0; ++k) {
      // The access code lies in the table's record block in the storage image.
      int32_t code = 0;
      const bool known = At(int64_t{W(kDescStorageOffset)} + e - 1 + kRecAccess, &code);
      s += std::to_string(e);
      if (known && code == kAccessRead)
        s += " - R";
      else if (known && code == kAccessWrite)
        s += " - W";
      else if (known && code == kAccessExclusive)
        s += " - X";
      else
        s += " - ? (" + std::to_string(code) + ")";
      s += ", ";
    }
    Line(s + "<EOL>");
  }
  const struct {
    int size, start;
    const char* title;
  } others[] = {{kDescTempSize, kDescTempStart, ": Temporary table list: "},
                {kDescDynamicSize, kDescDynamicStart, ": Dynamic list: "}};
  for (const auto& o : others) {
    if (W(o.size) < 1) continue;
    const int32_t start = W(o.start);
    std::string s = RightAligned(start, 4) + o.title;
    int32_t e = 0;
    for (int32_t k = 0; k < limit && At(int64_t{start} + k, &e) && e >= 0; ++k)
      s += (k == 0 ? "" : ", ") + std::to_string(e);
    Line(s + ", <EOL>");
  }
}

void Dump::Parameters() {
  if (W(kDescInputSize) < 1 && W(kDescOutputSize) < 1) return;
  Line("");
  Line("      Start  Byte-offset  Byte-length");
  for (int list : {kDescInputStart, kDescOutputStart}) {
    int64_t k = W(list);
    int32_t first = 0;
    for (int32_t n = 0; n < words_ && k > 0 && At(k, &first) && first >= 0; ++n, k += 2)
      Line("       " + RightAligned(k, 4) + ": " + RightAligned(first, 11) + "  " +
           RightAligned(W(k + 1), 11));
    Line("       <EOL>");
  }
}

void Dump::CallStatus() {
  Line("");
  int64_t c = W(kDescCallStatus);
  if (c <= 0) return;
  int32_t type = 0;
  for (int32_t n = 0; n < words_ && At(c, &type) && type != -1; ++n, c += kCsdWords) {
    Line(RightAligned(c, 4) + ": Call status descriptor type: " + CsdName(type));
    Line(RightAligned(c + 1, 4) +
         ": CSDSTG structure, storage word offset: " + RightAligned(W(c + 1), 4));
    Line(RightAligned(c + 2, 4) + ": Input parameters list start: " + RightAligned(W(c + 2), 4));
    Line(RightAligned(c + 3, 4) + ": Output parameters list start: " + RightAligned(W(c + 3), 4));
    if (W(c + 4) != 0)
      Line(RightAligned(c + 4, 4) +
           ": Compound statement id:                 " + RightAligned(W(c + 4), 4));
    if (W(c + 5) != -1)
      Line(RightAligned(c + 5, 4) + ": where current csdstg:      " + RightAligned(W(c + 5), 11));
    if (W(c + 6) != 0)
      Line(RightAligned(c + 6, 4) +
           ": Sys identification for called program: " + RightAligned(W(c + 6), 6));
    if (W(c + 8) != 0) Line(RightAligned(c + 8, 4) + ": Recursive invocation");
    if (W(c + 2) > 0 || W(c + 3) > 0) {
      Line("      Start  Byte-offset  Byte-length     Next-ptr");
      for (int list : {2, 3}) {
        int64_t k = W(c + list);
        for (int32_t m = 0; m < words_ && k > 0 && At(k, &type); ++m, k = W(k))
          Line("       " + RightAligned(k, 4) + ": " + RightAligned(W(k + 1), 11) + "  " +
               RightAligned(W(k + 2), 11) + "  " + RightAligned(W(k), 11));
        Line("       <EOL>");
      }
    }
    Line("");
  }
}

void Dump::Compounds() {
  Line("");
  int64_t r = W(kDescCompoundHierarchy);
  if (r <= 0) return;
  const char* head1 = "      Start  Compound      Compound  Index to         Index to EHD";
  const char* head2 = "             statement id  type      surrounding CSH  of compound";
  Line(head1);
  Line(head2);
  int32_t first = 0;
  bool handlers_printed = false;
  for (int32_t n = 0; n < words_ && At(r, &first) && first != -1; ++n, r += kCshWords) {
    if (handlers_printed) {
      Line("");
      Line(head1);
      Line(head2);
      handlers_printed = false;
    }
    Line("       " + RightAligned(r, 4) + ": " + RightAligned(first, 11) + "   " +
         RightAligned(W(r + 1), 7) + "   " + RightAligned(W(r + 2), 10) + "       " +
         RightAligned(W(r + 3), 11));
    if (W(r + kCshFirstHandler) > 0) {
      Line("");
      Line("      Start  Next          Class     ZEZ address      Nr of SQL-states");
      int64_t h = W(r + kCshFirstHandler);
      int32_t next = 0;
      for (int32_t m = 0; m < words_ && h > 0 && At(h, &next); ++m) {
        Line("       " + RightAligned(h, 4) + ": " + RightAligned(next, 11) + "   " +
             RightAligned(W(h + 1), 7) + "   " + RightAligned(W(h + 3), 10) + "       " +
             RightAligned(W(h + 4), 11));
        if (next == -1) break;
        h = next;
      }
      handlers_printed = true;
    }
  }
}

void Dump::Run() {
  if (target_ != nullptr && tw_ >= 3 && target_[2] != 0) {
    target_[0] = 0;
    target_[1] = 12;
  } else {
    static const char kTitle[] = "ZEZ PROGRAM DUMP================";
    StatusPair st{};
    DSLogMsgShort(&st, SEV_INFORMATION, kTitle, nullptr, sizeof kTitle - 1);
  }
  Line("SECTION DESCRIPTOR");
  Line("------------------");
  for (int k = 0; k < kDescriptorWords; ++k) {
    std::string s = RightAligned(k, 4) + kCaptions[k] + RightAligned(W(k), 10);
    if (k == kDescType) s += TypeName(W(k));
    Line(s);
  }
  Line("");
  Lists();
  Parameters();
  CallStatus();
  Compounds();
  const int32_t user = W(kDescCurrentUser);
  if (user > 0) {
    Line("");
    const int32_t length = std::clamp(W(int64_t{user} - 1), 0, 128);
    std::string name;
    for (int32_t i = 0; i < length; ++i) {
      int32_t w = 0;
      if (!At(int64_t{user} + i / 4, &w)) break;
      name += static_cast<char>(static_cast<uint32_t>(w) >> (8 * (i % 4)) & 0xFF);
    }
    Line(RightAligned(user, 4) + ": Current user: " + name);
  }
  Line("");
  Line("PROGRAM");
  Line("-------");
}

}  // namespace

void DAPrtLine(const char* text, int32_t length, int32_t* target, int32_t target_words) {
  length = std::clamp(length, 0, kLineMax);
  if (target == nullptr || target_words < 3 || target[2] == 0) {
    DSLogText(text, length);
    return;
  }
  const int64_t used = target[0];
  // The buffer's own rule, and never past the words the caller really has.
  const bool rule = (used + length + 1) / 4 - 2 <= target[2];
  const int64_t end = int64_t{target[1]} + used + length + 1;
  if (rule && used >= 0 && target[1] >= 12 && end <= int64_t{target_words} * 4) {
    uint8_t* bytes = reinterpret_cast<uint8_t*>(target) + target[1] + used;
    std::memcpy(bytes, text, static_cast<size_t>(length));
    bytes[length] = 0xFF;
  }
  target[0] = static_cast<int32_t>(std::min<int64_t>(used + length + 1, INT32_MAX));
}

void DAPrtSeparator(const int32_t* program, int32_t program_words, int32_t position,
                    int32_t* target, int32_t target_words, int32_t width) {
  std::string s(static_cast<size_t>(std::clamp(width, 0, kLineMax)), '-');
  const std::string value = position >= 0 && position < program_words
                                ? RightAligned(program[position], 6)
                                : std::string(6, '*');
  s += value;
  DAPrtLine(s.data(), static_cast<int32_t>(std::min<size_t>(s.size(), kLineMax)), target,
            target_words);
}

void DAPrtProgram(const int32_t* program, int32_t program_words, int32_t descriptor,
                  int32_t* target, int32_t target_words) {
  Dump(program, program_words, descriptor, target, target_words).Run();
}

}  // namespace interp
