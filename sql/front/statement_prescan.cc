// The statement pre-scan on the generic engines, and the routine language's
// scanner with its token filter. The pre-scan feeds tokens until its grammar
// reduces a class, meets a token it does not take, or reaches the end.
#include "sql/front/statement_prescan.h"

#include <cstring>

#include "kernel/error_report.h"
#include "kernel/word_storage.h"
#include "sql/front/compile_services.h"

namespace {

constexpr int32_t kFirstClass = 1;
constexpr int32_t kLastClass = 5;

bool IsClass(int32_t r) {
  return r >= kFirstClass && r <= kLastClass;
}

// Feeds tokens until a class is reduced (its number), or 0 at the end or at a
// token the grammar does not take there. Stopping at that token keeps a text
// such as "SET SCHEMA ?" away from the "SET ?" rule that feeding on would
// reach.
int32_t Classify(GprParser* p, GlxScanner* s) {
  for (;;) {
    int32_t tok = GlxNext(s);
    int32_t r;
    while ((r = GprFeed(p, tok)) > 0 && !IsClass(r)) {
    }
    if (IsClass(r)) return r;
    if (r < 0 || tok == kGlxEndToken) return 0;
  }
}

bool PrevIsDot(GlxScanner* s) {
  return GlxPrevLen(s) == 1 && GlxPrevText(s)[0] == '.';
}

// Chunks from the kernel word storage, as the compile driver takes them.
void KernelChunks(int32_t* base, int32_t* index, int32_t bytes) {
  const SqlKernelServices& k = SqlKernel();
  if (k.chunk_provider != nullptr) {
    k.chunk_provider(base, index, bytes);
  } else if (base != nullptr) {
    DSGetMemRaw(base, index, bytes);
  } else if (bytes > 0) {
    *index = 0;
  }
}

void ArmArena(CompileArena* arena, int32_t chunk_words) {
  arena->word_provider = KernelChunks;
  arena->provider_base = SqlKernel().pool;
  arena->minimum_chunk = chunk_words;
}

RoutineCompilerEntry g_routine_compiler = nullptr;
const GprGrammar* g_routine_grammar = nullptr;
KernelSettingEntry g_kernel_setting = nullptr;

void ReportMissing(const char* name) {
  DSErrRep(name, static_cast<int32_t>(std::strlen(name)), kSqlServiceMissing, SEV_ERROR);
}

}  // namespace

void qmcallsp2(int32_t* result, const uint8_t* text_base, int32_t start, int32_t length,
               int32_t* qualifier_start, int32_t* qualifier_length, int32_t* name_start,
               int32_t* name_length) {
  if (start < 0) {
    *result = 0;
    return;
  }
  CompileArena arena;
  ArmArena(&arena, kPrescanArenaChunkWords);
  try {
    qmscan(result, &arena, text_base + int64_t{start} * 3, length, qualifier_start,
           qualifier_length, name_start, name_length);
  } catch (const ArenaExit&) {
    *result = 0;
  }
  ArenaRelease(&arena);
}

RoutineCompilerEntry SqlInstallRoutineCompiler(RoutineCompilerEntry entry) {
  RoutineCompilerEntry old = g_routine_compiler;
  g_routine_compiler = entry;
  return old;
}

void qmcallspd(int32_t* status, const uint8_t* text_base, int32_t* position, int32_t length,
               void* further) {
  if (g_routine_compiler == nullptr) {
    ReportMissing("SPDIS4");
    *status = kSqlServiceMissing;
    return;
  }
  if (*position < 0) {
    *status = -1;
    return;
  }
  CompileArena arena;
  ArmArena(&arena, kRoutineArenaChunkWords);
  int32_t consumed = 0;
  try {
    g_routine_compiler(status, &arena, text_base + int64_t{*position} * 3, length, &consumed,
                       further);
    if (consumed > 0 && consumed <= length) *position += consumed;
  } catch (const ArenaExit&) {
    *status = kRoutineArenaExhausted;
  }
  ArenaRelease(&arena);
}

void PrescanCreate(CompileArena* arena, GprParser** parser, GlxScanner** scanner) {
  *parser = GprCreate(arena, &kPrescanGrammar);
  *scanner = GlxCreate(arena, &kPrescanLexer);
}

void qmscan(int32_t* result, CompileArena* arena, const uint8_t* text, int32_t length,
            int32_t* qualifier_start, int32_t* qualifier_length, int32_t* name_start,
            int32_t* name_length) {
  GprParser* p;
  GlxScanner* s;
  PrescanCreate(arena, &p, &s);
  GlxSetInput(s, text);
  GlxSetWide(s);
  GlxSetLength(s, length);
  *name_start = 0;
  *name_length = 0;
  int32_t cls = Classify(p, s);
  if (cls == kFirstClass) {
    *result = kPrescanRoutine;
  } else if (cls > kFirstClass) {
    // The class is reduced with the token after the name as lookahead, so the
    // name is the token before the current one.
    *result = kPrescanFirstPrefix + cls - 2;
    *qualifier_start = 0;
    *qualifier_length = 0;
    QmPrevTokenPosition(s, name_start, name_length);
    GlxNext(s);
    if (PrevIsDot(s)) {
      *qualifier_start = *name_start;
      *qualifier_length = *name_length;
      GlxNext(s);
      QmPrevTokenPosition(s, name_start, name_length);
    }
  } else {
    *result = kPrescanSql;
  }
  GprFree(p);
  GlxFree(s);
}

void QmPrevTokenPosition(GlxScanner* scanner, int32_t* start, int32_t* length) {
  *start = GlxPrevStart(scanner);
  // The end token covers no characters; GlxPrevLen's 5 is the length of its
  // name, which a caller would read past the text.
  *length = scanner->current->prev->code == kGlxEndToken ? 0 : GlxPrevLen(scanner);
}

const GprGrammar* SqlInstallRoutineGrammar(const GprGrammar* grammar) {
  const GprGrammar* old = g_routine_grammar;
  g_routine_grammar = grammar;
  return old;
}

GprParser* qmnewprs(GprParser** instance, CompileArena* arena) {
  if (g_routine_grammar == nullptr) {
    ReportMissing("qmnewprs");
    *instance = nullptr;
  } else {
    *instance = GprCreate(arena, g_routine_grammar);
  }
  return *instance;
}

KernelSettingEntry SqlInstallKernelSetting(KernelSettingEntry entry) {
  KernelSettingEntry old = g_kernel_setting;
  g_kernel_setting = entry;
  return old;
}

int32_t qmrunkernel(int32_t selector) {
  if (g_kernel_setting == nullptr) {
    ReportMissing("DSGetKernelSetting");
    return -1;
  }
  return g_kernel_setting(selector);
}

GlxScanner* qmnewlex(GlxScanner** instance, CompileArena* arena) {
  *instance = GlxCreate(arena, &kRoutineLexer);
  return *instance;
}

void qmsettok(GlxScanner* scanner, int32_t user_word) {
  GlxSetFilter(scanner, qmtokmap);
  GlxSetUserData(scanner, user_word);
}

int32_t qmtokmap(GlxScanner* scanner, int32_t, int32_t code) {
  if (code == kRoutineTokLineEnd) return -1;
  if (code != kRoutineTokAtomic && code != kRoutineTokFor) return code;
  // While the filter runs the scanner hands out raw codes, so this reads the
  // next token as it is; the unget gives it back for the parser.
  int32_t next = GlxNext(scanner);
  GlxUnget(scanner);
  if (code == kRoutineTokAtomic && next == kRoutineTokColon) return kRoutineTokAtomicLabel;
  if (code == kRoutineTokFor && next == kRoutineTokEach) return kRoutineTokForEach;
  return code;
}

void qmnoop(int32_t* status) {
  *status = -1;
}
