// The statement pre-scan and the glue that binds the generic scanner and
// parser engines to the pre-scan's and the routine language's descriptors:
// qmscan classifies a prepared text by its first tokens (routine definition,
// stored-statement prefix with its schema and name, or ordinary SQL), and
// qmtokmap is the routine compiler's token filter.
#pragma once

#include <cstdint>

#include "sql/front/compile_arena.h"
#include "sql/front/glx_scanner.h"
#include "sql/front/gpr_parser.h"

// Results of qmscan.
constexpr int32_t kPrescanSql = 1;          // compile with the SQL compiler
constexpr int32_t kPrescanRoutine = 4;      // grammar class 1
constexpr int32_t kPrescanFirstPrefix = 7;  // grammar classes 2 .. 5 give 7 .. 10
constexpr int32_t kPrescanStoredByName = 10;

// Routine-language token codes the filter works on.
enum RoutineTokenCode : int32_t {
  kRoutineTokColon = 11,
  kRoutineTokAtomic = 46,
  kRoutineTokEach = 142,
  kRoutineTokFor = 161,
  kRoutineTokAtomicLabel = 411,  // ATOMIC followed by ":"
  kRoutineTokForEach = 412,      // FOR followed by EACH
  kRoutineTokLineEnd = 413,
};

// Creates a pre-scan parser and scanner in the arena.
void PrescanCreate(CompileArena* arena, GprParser** parser, GlxScanner** scanner);

// Classifies the text (3 bytes a character, `length` characters): 1 SQL, 4 a
// routine definition, 7 .. 10 a stored-statement prefix, whose schema (0 and
// 0 when none) and name positions are set; name start and length are 0 for
// every other result, the qualifier words are then left alone. Positions
// count characters from `text`. Leaves by ArenaExit when the arena runs dry.
void qmscan(int32_t* result, CompileArena* arena, const uint8_t* text, int32_t length,
            int32_t* qualifier_start, int32_t* qualifier_length, int32_t* name_start,
            int32_t* name_length);

// Minimum chunks of the arenas of qmcallsp2 and qmcallspd, in words.
constexpr int32_t kPrescanArenaChunkWords = 1024;
constexpr int32_t kRoutineArenaChunkWords = 65536;
// qmcallspd's status when the routine compiler's arena ran dry.
constexpr int32_t kRoutineArenaExhausted = -11112;

// qmscan on the text at character `start` of `text_base` (3 bytes a
// character, `length` characters from there) in an arena of its own over the
// kernel word storage; positions count from `start`. Result 0 when the arena
// could not be served or `start` is negative.
void qmcallsp2(int32_t* result, const uint8_t* text_base, int32_t start, int32_t length,
               int32_t* qualifier_start, int32_t* qualifier_length, int32_t* name_start,
               int32_t* name_length);

// The routine compiler's entry (SPDIS4): compiles the routine text in the
// arena the caller armed and tells how many characters it consumed; `further`
// carries the routine compiler's own arguments through qmcallspd.
using RoutineCompilerEntry = void (*)(int32_t* status, CompileArena* arena, const uint8_t* text,
                                      int32_t length, int32_t* consumed, void* further);
// Installs the routine compiler's entry (null removes it); returns the old one.
RoutineCompilerEntry SqlInstallRoutineCompiler(RoutineCompilerEntry entry);
// Runs the routine compiler on the text at *position (3 bytes a character,
// `length` characters from there) in an arena of its own and advances
// *position by the characters it consumed. Status -11112 when the arena ran
// dry, -19040 when no routine compiler is installed, -1 for a negative
// position.
void qmcallspd(int32_t* status, const uint8_t* text_base, int32_t* position, int32_t length,
               void* further);

// Start and length of the token before the scanner's current one (length 0
// for the end token).
void QmPrevTokenPosition(GlxScanner* scanner, int32_t* start, int32_t* length);

// The routine language's grammar belongs to the routine compiler, which
// installs it (null removes it); returns the old one.
const GprGrammar* SqlInstallRoutineGrammar(const GprGrammar* grammar);
// A parser for the routine language, also returned in *instance; null (with a
// kernel error report naming qmnewprs) when no grammar is installed.
GprParser* qmnewprs(GprParser** instance, CompileArena* arena);
// A scanner for the routine language, also returned in *instance.
GlxScanner* qmnewlex(GlxScanner** instance, CompileArena* arena);
// Installs qmtokmap as the scanner's token filter with the user word.
void qmsettok(GlxScanner* scanner, int32_t user_word);
// The routine language's token filter: ATOMIC before ":" gives 411, FOR
// before EACH 412 (the token read ahead is given back), a line end -1 (the
// parser ignores it); every other code passes.
int32_t qmtokmap(GlxScanner* scanner, int32_t user_word, int32_t code);

// The databank kernel setting for the selector (record access's
// DSGetKernelSetting, installed by its owner); -1, with a kernel error report
// naming DSGetKernelSetting, when nothing is installed.
using KernelSettingEntry = int32_t (*)(int32_t selector);
KernelSettingEntry SqlInstallKernelSetting(KernelSettingEntry entry);
int32_t qmrunkernel(int32_t selector);

// Sets the status word to -1: the request interface's entry for a function
// that is not offered.
void qmnoop(int32_t* status);

// The generated descriptors.
extern const GlxLexDescriptor kPrescanLexer;
extern const GprGrammar kPrescanGrammar;
extern const GlxLexDescriptor kRoutineLexer;
