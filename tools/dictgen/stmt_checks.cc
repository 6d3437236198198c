// The build checks of the statement images: every private statement has
// its rule here, written once from
// what the statement must do: its slot, the least number of parameters and
// result columns it has (exactly none where it hands back nothing), the
// system tables it works on and what it does to each (i insert, u update,
// d delete, r read only), its record program in words, and the values its
// END instructions may give. An image that breaks a rule fails the build
// with the statement's name and the rule.
#include <map>
#include <set>
#include <sstream>

#include "interp/opcode_table.h"
#include "interp/program_layout.h"
#include "tools/dictgen/stmt_model.h"

namespace dictgen {
namespace {

struct Rule {
  const char* name;
  int32_t slot;
  int32_t inputs;   // at least
  int32_t outputs;  // at least; exactly when `no_outputs`
  bool no_outputs;
  const char* tables;   // "T:ops ..."
  const char* program;  // the record program in words
  const char* ends;     // the END values allowed
};

// Record program words:
//   scan T: IGN T, GNR T          scan T by index I: IGN I, GNX I
//   find T by index I: IGN I, GUX I     get T: GUR T     next T: GNR T
//   next T by index I: GNX I
//   lock T: LSR T    delete T: LSR T, DEL T    insert T: INS T
//   update T: [LSR T] PFU T, UPD T (the PFU left out after a prepare)
//   prepare update T: PFU T    hand back row: EXI    repeat: a backward jump
const Rule kRules[] = {
    {"DDChkPrivilege", 2, 3, 1, false, "27:r",
     "the result field set to zero; next 27; lock 27; repeat; on the first qualifying row the result field is stepped up and the run ends",
     "0"},
    {"DDDelSysPrivs", 5, 6, 4, false, "14:r 27:du",
     "get 27; scan 27 by index 92; scan 14; hand back row; scan 27 by index 91; get 14; lock 14; delete 27; update 27; hand back row; hand back row",
     "0, 1, -19007"},
    {"DDCurSysPrivs", 6, 3, 2, false, "27:r",
     "scan 27 by index 91; lock 27; hand back row",
     "1"},
    {"DDInsPrivilege", 10, 4, 0, true, "27:iu",
     "insert 27; when present: get 27; update 27",
     "0, 2, -19007"},
    {"DDInsGranteePrivs", 20, 3, 0, true, "25:iu 26:iu 27:iu",
     "scan 27 by index 91; repeat; insert 27; repeat; insert 27; get 27; update 27; scan 25 by index 85; repeat; insert 25; repeat; insert 25; get 25; update 25; scan 26 by index 88; repeat; insert 26; repeat; insert 26; get 26; update 26",
     "0, -19007"},
    {"DDInsPrivUsage", 21, 4, 0, true, "11:r 38:i 39:i",
     "insert 39; get 11; insert 38",
     "0, 2, -19007"},
    {"DDCurPrivDependents", 22, 5, 3, false, "11:r 25:r 26:r 27:r 39:r",
     "scan 39; lock 39; hand back row; get 27; lock 27; hand back row; get 25; lock 25; hand back row; scan 26; lock 26; hand back row; scan 25; lock 25; hand back row; hand back row; get 11; find 11 by index 60; lock 11; hand back row",
     "1, -19007"},
    {"DDViewTriggerPrivs", 26, 5, 1, false, "17:u 22:u 25:i 26:i 33:r",
     "get 17; update 17; scan 22; update 22; insert 26; repeat; insert 25; scan 33 by index 103; get 17; update 17; scan 22; update 22; repeat; get 25",
     "0, -19007"},
    {"DDInsNewColumnPrivs", 30, 2, 0, true, "25:r 26:i",
     "scan 25; insert 26; repeat",
     "0, -19007"},
    {"DDUpdTablePriv", 31, 5, 0, true, "22:r 25:u 26:r",
     "get 25; scan 22; get 26; repeat; update 25",
     "0, -19007"},
    {"DDDelIdent", 36, 4, 3, false, "11:d 14:d 27:d",
     "scan 11 by index 60; delete 11; get 14; delete 14; get 11; delete 11; scan 27; delete 27; repeat; hand back row",
     "0, 1, -19007"},
    {"DDCurGrantee", 37, 3, 4, false, "14:r",
     "get 14; find 14 by index 64; lock 14",
     "0, 1"},
    {"DDGetGranteeById", 39, 1, 2, false, "14:r 27:r",
     "scan 27; lock 27; get 14; lock 14; hand back row",
     "1, -19007"},
    {"DDGetIdentByName", 42, 1, 3, false, "14:r 27:r",
     "scan 14; scan 27; hand back row",
     "1, -19007"},
    {"DDInsIdent", 44, 6, 0, true, "14:i",
     "insert 14",
     "0, 2, -19007"},
    {"DDUpdObjIdent", 45, 6, 0, true, "11:u 14:u",
     "get 14; lock 14; get 11; lock 11; prepare update 14; update 14; update 11",
     "0, 1, 3, 4, 5, -19007"},
    {"DDInsSchema", 47, 3, 0, true, "13:i",
     "insert 13",
     "0, 2"},
    {"DDDelSchema", 50, 3, 1, false, "11:d 13:d",
     "find 11 by index 60; scan 11 by index 60; delete 11; get 13; delete 13; hand back row",
     "0, 1, -19007"},
    {"DDGetNameById", 51, 2, 1, false, "11:r",
     "scan 11 by index 60; lock 11; get 11",
     "0, 1"},
    {"DDGetName", 55, 0, 1, false, "11:r",
     "scan 11 by index 60; lock 11",
     "0, 1"},
    {"DDGetIdentSchema", 67, 1, 1, false, "11:r",
     "scan 11 by index 60; lock 11; hand back row",
     "1"},
    {"DDGetIdByName", 68, 1, 1, false, "11:r",
     "scan 11 by index 60; hand back row",
     "1"},
    {"DDDelRoutine1", 69, 3, 6, false, "11:d 27:d 28:r 29:d 30:d 31:d 38:d 39:d 41:d",
     "scan 11 by index 60; get 29; get 11; get 29; get 28; lock 28; scan 29 by index 98; get 11; delete 11; delete 29; scan 27; delete 27; repeat; get 30; delete 30; scan 38 by index 106; delete 38; repeat; scan 39 by index 110; delete 39; repeat; scan 31; delete 31; repeat; scan 41; delete 41; repeat; hand back row; hand back row",
     "0, 1, -19007"},
    {"DDDelRoutine2", 70, 3, 6, false, "11:d 27:d 28:r 29:d 30:d 31:d 38:d 39:d 41:d",
     "scan 11 by index 60; get 29; get 11; get 29; get 28; lock 28; scan 29 by index 98; get 11; delete 11; delete 29; scan 27; delete 27; repeat; get 30; delete 30; scan 38 by index 106; delete 38; repeat; scan 39 by index 110; delete 39; repeat; scan 31; delete 31; repeat; scan 41; delete 41; repeat; hand back row; hand back row",
     "0, 1, -19007"},
    {"DDDelModule", 71, 3, 1, false, "11:d 27:d 28:d 41:d",
     "scan 11 by index 60; get 11; delete 11; get 28; delete 28; scan 27; delete 27; repeat; scan 41; delete 41; repeat; hand back row",
     "0, 1, -19007"},
    {"DDDelRoutineSrc", 72, 0, 0, true, "28:u 29:u 41:d",
     "get 28; update 28; scan 29 by index 98; update 29; repeat; scan 41; delete 41; repeat",
     "0, 1, -19007"},
    {"DDCurFunctions", 73, 1, 2, false, "29:r",
     "scan 29 by index 98; hand back row",
     "1"},
    {"DDGetObjectId2", 74, 3, 0, false, "11:r",
     "find 11 by index 60; lock 11",
     "0, 1"},
    {"DDInsModule", 75, 6, 0, true, "28:i",
     "insert 28",
     "0, 2"},
    {"DDInsProcedure", 76, 22, 0, true, "29:i",
     "insert 29",
     "0, 2"},
    {"DDInsFunction", 77, 20, 0, true, "29:i",
     "insert 29",
     "0, 2"},
    {"DDInsParameter", 78, 18, 0, true, "31:i",
     "insert 31",
     "0, 2"},
    {"DDInsRoutineName", 79, 4, 0, true, "30:i",
     "insert 30",
     "0, 2"},
    {"DDInsGenRoutine", 81, 8, 0, true, "41:iu",
     "insert 41; when present: get 41; update 41",
     "0, 1, 2, -19007"},
    {"DDDelTriggers", 82, 3, 4, false, "11:d 33:du 38:d 39:d 41:d",
     "scan 11 by index 60; get 33; scan 33 by index 103; get 11; get 11; get 33; delete 33; scan 33 by index 103; update 33; repeat; delete 33; delete 11; scan 38 by index 106; delete 38; repeat; scan 39 by index 110; delete 39; repeat; scan 41; delete 41; repeat; hand back row; hand back row",
     "0, 1, -19007"},
    {"DDInsTrigger", 83, 18, 0, true, "33:i",
     "scan 33 by index 103; lock 33; repeat; insert 33",
     "0, 2"},
    {"DDGetTriggerNames", 84, 1, 3, false, "11:r 33:r",
     "get 33; get 11",
     "0, 1"},
    {"DDChkTrigger", 85, 1, 0, false, "33:r",
     "find 33 by index 103: found ends with 2, not found with 0",
     "0, 2"},
    {"DDGetSequenceObj", 86, 2, 1, false, "11:r",
     "find 11 by index 60; find 11 by index 60; find 11 by index 60; lock 11",
     "0, 1"},
    {"DDInsSequence", 87, 8, 0, true, "32:i",
     "insert 32",
     "0, 2"},
    {"DDDelSequence", 88, 2, 1, false, "11:d 27:d 32:d",
     "scan 11 by index 60; get 32; get 11; delete 32; delete 11; scan 27; delete 27; repeat; hand back row",
     "0, 1, -19007"},
    // The kind lookups go on through index 60's next entries of the
    // schema and name: its first entry may be an object of another kind.
    {"DDGetDomain", 89, 4, 14, false, "11:r 23:r",
     "find 11 by index 60; lock 11; get 23; lock 23; next 11 by index 60; repeat",
     "0, 1"},
    {"DDInsDomain", 90, 17, 0, true, "23:i",
     "insert 23",
     "0, 2"},
    {"DDDelDomainUse", 91, 1, 0, true, "23:u 38:d",
     "get 23; update 23; scan 38 by index 106; delete 38; repeat",
     "0, 1, -19007"},
    {"DDGetDomainSeq", 92, 2, 6, false, "11:r 40:r",
     "scan 40; get 11; hand back row",
     "1"},
    {"DDInsTypeUse", 93, 4, 0, true, "40:i",
     "insert 40",
     "0, 2"},
    {"DDInsCollation", 94, 2, 0, true, "36:i 151:i",
     "insert 151; insert 36",
     "0, -19007"},
    {"DDDelCollation", 95, 1, 0, true, "11:d 27:d 36:d 151:d",
     "get 11; delete 11; get 36; delete 36; get 151; delete 151; scan 27; delete 27; repeat",
     "0, -19007"},
    {"DDInsSource", 96, 7, 0, true, "41:i",
     "insert 41",
     "0, 2"},
    {"DDGetSourceInfo", 99, 4, 2, false, "41:r",
     "get 41",
     "0, 1"},
    {"DDGetSourceText", 100, 0, 1, false, "41:r",
     "get 41",
     "0, 1"},
    {"DDUpdSourceText", 101, 3, 0, true, "41:u",
     "get 41; update 41",
     "0, 1, -19007"},
    // The kind lookups go on through index 60's next entries of the
    // schema and name: its first entry may be an object of another kind.
    {"DDGetObjectId", 102, 2, 1, false, "11:r",
     "find 11 by index 60; lock 11; next 11 by index 60; repeat",
     "0, 1"},
    // One find serves both paths, and the kind lookup goes on through index
    // 60 as DDGetObjectId's does (a table's column: its BASE TABLE or VIEW).
    {"DDUpdObject", 103, 8, 0, true, "11:u 22:u",
     "find 11 by index 60; update 11; ends; a second path: lock 11; get 22; update 22; next 11 by index 60; repeat",
     "0, 1, -19007"},
    {"DDUpdChangeTime", 104, 1, 0, true, "11:u",
     "get 11; update 11",
     "0, 1, -19007"},
    {"DDInsObjUsage", 107, 4, 0, true, "38:i",
     "insert 38",
     "0, 2"},
    {"DDCurDependents", 109, 2, 2, false, "11:r 25:r 27:r 38:r",
     "scan 38; hand back row; scan 27; lock 27; hand back row; scan 25; lock 25; hand back row; get 11; find 11 by index 60; lock 11; hand back row; hand back row",
     "1, -19007"},
    {"DDChkUsed", 110, 1, 0, false, "38:r",
     "scan 38: a qualifying row ends with 1, none with 0",
     "0, 1"},
    {"DDUpdConstraintFlag", 111, 1, 0, true, "18:u",
     "find 18 by index 73; update 18",
     "0, 1, -19007"},
    {"DDAdjCounts", 112, 0, 0, true, "22:u",
     "scan 22 by index 81; lock 22; prepare update 22; repeat; update 22; repeat",
     "0, -19007"},
    {"DDUpdViewColumn", 113, 0, 0, true, "22:u",
     "get 22; lock 22; get 22; update 22",
     "0, 1, -19007"},
    {"DDUpdKeyCols", 114, 4, 2, false, "11:d 18:d 20:d 22:du",
     "get 22; scan 22 by index 81; delete 22; scan 18; delete 18; get 11; delete 11; scan 20; delete 20; repeat; update 22; repeat; update 22; repeat; update 22; repeat",
     "0, 1, -19007"},
    {"DDUpdColumn", 115, 13, 0, true, "22:u 40:d",
     "scan 22 by index 81; lock 22; prepare update 22; get 40; delete 40; update 22; repeat",
     "0, -19007"},
    {"DDInsCheck", 116, 5, 0, true, "18:i 21:i",
     "insert 18; insert 21",
     "0, 2"},
    {"DDInsDomainCheck", 118, 0, 0, true, "21:i 24:i",
     "insert 24; insert 21",
     "0, 2"},
    {"DDCheckUsage", 119, 2, 1, false, "11:d 21:d 22:u 23:d 24:d 27:d 38:di 40:di 41:di 42:d 43:d 54:d",
     "get 23; get 11; scan 11 by index 60; get 23; delete 11; scan 54; delete 54; repeat; scan 27; delete 27; repeat; scan 38 by index 106; delete 38; repeat; scan 40; delete 40; get 22; update 22; insert 38; insert 40; scan 41; insert 41; repeat; scan 41; delete 41; repeat; scan 24; delete 24; get 21; delete 21; scan 41; delete 41; repeat; scan 42; delete 42; repeat; scan 38 by index 106; delete 38; repeat; get 11; delete 11; repeat; scan 43; delete 43; repeat; delete 23; hand back row",
     "0, 1, -19007"},
    {"DDCurCheckCols", 120, 3, 3, false, "21:r 24:r 41:r",
     "scan 24; get 21; scan 41; hand back row",
     "0, 1"},
    {"DDDelCheckRows", 121, 1, 0, true, "11:d 18:d 21:d 23:u 24:d 38:d 39:d 41:d 43:d",
     "get 11; delete 11; scan 38 by index 106; delete 38; get 21; delete 21; scan 41; delete 41; repeat; scan 18 by index 73; delete 18; scan 39 by index 110; delete 39; repeat; scan 24; delete 24; repeat; repeat; get 23; update 23; scan 43; delete 43; repeat",
     "0, 1, -19007"},
};

// The other dictionary statements: their slot (-1 for a shared one),
// exactly their parameters and result columns, and the tables they work on
// with what is done to each.
struct ExactRule {
  const char* name;
  int32_t slot;
  int32_t inputs, outputs;
  const char* tables;
};

const ExactRule kExactRules[] = {
    {"DDCmpTableAttr", -1, 8, 23, "11:r 12:r 15:r 16:r 17:r 18:r 25:r 33:r"},
    {"STM_MOS_SEVERITY", -1, 3, 4, "48:r 50:r"},
    {"STM_MOS_MESSAGE", -1, 4, 1, "49:r"},
    {"STM_MOS_IDENT", -1, 6, 2, "14:r 27:r"},
    {"STM_MOS_OBJECT", -1, 0, 1, "44:r"},
    {"STM_MOS_DATABANK", -1, 2, 9, "15:r"},
    {"STM_MOS_COLUMN", -1, 2, 1, "22:r"},
    {"STM_MOS_DBSIZE", -1, 1, 2, "15:r"},
    {"STM_MOS_SEQUENCE", -1, 1, 8, "11:r 32:r"},
    {"STM_MOS_TABLEX", -1, 1, 26, "15:r 16:r 18:r 19:r 20:r 22:r"},
    {"STM_MOS_DOMAIN", -1, 1, 7, "11:r 30:r"},
    {"STM_MOS_UPDSEQ", -1, 4, 0, "32:u"},
    {"STM_RQ_RELOGIN", -1, 0, 2, "44:r"},
    {"STM_RQ_COLUMN", -1, 2, 5, "22:r"},
    {"STM_RQ_COLUMN_NAME", -1, 2, 1, "22:r"},
    {"STM_RQ_OBJECTS", -1, 2, 3, "11:r"},
    {"STM_RQ_OBJECT", -1, 1, 4, "11:r"},
    {"DDCmpIndexAttr", -1, 1, 8, "15:r 18:r"},
    {"DDCmpColumns", -1, 4, 22, "22:r"},
    {"DDCmpCI", -1, 1, 8, "18:r 20:r 22:r"},
    {"DDCmpTablePriv", -1, 4, 0, "25:r"},
    {"DDCmpColumnPriv", -1, 6, 0, "26:r"},
    {"DDCmpSourceText", -1, 5, 6, ""},
    {"DDCmpDomain", -1, 8, 18, "11:r 23:r 27:r"},
    {"DDCmpViewCols", -1, 1, 5, "11:r 41:r"},
    {"DDCmpRoutine", -1, 10, 14, ""},
    {"DDCmpParams", -1, 2, 11, "31:r"},
    {"DDCmpParamCols", -1, 2, 9, "31:r"},
    {"DDCmpPS", -1, 2, 6, "11:r 41:r"},
    {"DDCmpTrigger", -1, 2, 11, "33:r 41:r"},
    {"DDCmpSequence", -1, 9, 11, "11:r 27:r 32:r"},
    {"DDCmpCC", -1, 3, 1, "18:r 21:r 24:r"},
    {"DDCmpIN", -1, 4, 1, "11:r"},
    {"DDCmpDefault", -1, 5, 3, ""},
    {"DDCmpCollation", -1, 5, 1, "11:r"},
    {"DDLv2Tab", -1, 4, 4, "11:r 12:r 16:r 17:r"},
    {"DDLv2Acc", -1, 3, 6, "25:r"},
    {"DDLv2Vcl", -1, 1, 3, "55:r"},
    {"DDLv2Vre", -1, 1, 5, "56:r"},
    {"DDLv2Col", -1, 1, 10, "22:r"},
    {"DDLv2Idx", -1, 1, 5, "20:r 22:r"},
    {"DDLv2Tbx", -1, 1, 3, "16:r 18:r"},
    {"DDLv2Dde", -1, 1, 2, "23:r"},
    {"DDLv2Dre", -1, 1, 4, "54:r"},
    {"DDLv2Upd", -1, 4, 0, "22:r 26:r"},
    {"DDLv2Dtb", -1, 2, 1, "15:r"},
    {"DDInsStatement", 128, 12, 0, "148:i 149:i"},
    {"DDInsStatementItem", 129, 9, 0, "149:i 150:i"},
    {"DDDelStatement", 130, 4, 0, "11:d 27:d 38:d 39:d 41:d 148:d 149:d 150:d"},
    {"DDCmpGQST", -1, 10, 6, "11:r 27:r 148:r 149:r"},
    {"DDCmpGQSD", -1, 5, 4, "149:r 150:r"},
    {"DDChkTablePriv", 27, 4, 2, "25:r"},
    {"DDChkIdPair", 19, 2, 0, "15:r 16:r 18:r 33:r"},
    {"DDGetRefKey", 56, 4, 3, "18:r 20:r"},
    {"DDChkColumnPriv", 28, 6, 1, "26:r"},
    {"DDGetKeyId", 46, 5, 1, "11:r 19:r 20:r"},
    {"DDGetColumn", 25, 5, 18, "22:r"},
    {"DDChkColumnUse", 58, 4, 0, "18:r 19:r 20:r 22:r 39:r"},
    {"DDScanTableRows", 63, 0, 1, ""},
    {"DDGetKeyColumn", 117, 3, 13, "20:r 22:r"},
    {"DDSelObject", 98, 6, 1, "11:r 16:r 18:r 19:r 29:r"},
    {"DDChkView", 23, 3, 7, "11:r 12:r"},
    {"DDGetObjectIds", 24, 3, 7, "11:r 16:r 18:r"},
    {"DDGetDatabankOpt", 54, 2, 2, "11:r 15:r 27:r"},
    {"DDCurColumnGrants", 108, 9, 8, "14:r 25:du 26:du"},
    {"DDCurTableGrants", 38, 7, 6, "14:r 25:du 26:du"},
    {"DDCurTablePrivs", 43, 4, 2, "25:r"},
    {"DDCurDeps", 48, 1, 1, "38:r 42:d"},
    {"DDDelDatabankRows", 29, 3, 4, "11:d 12:d 15:d 27:d 51:d"},
    {"DDCurTableKeys2", 59, 3, 7, "22:du 26:d 38:d 39:r 40:d 41:d 55:u 56:u"},
    {"DDDropUsage", 61, 6, 0, "22:u 38:d 40:d 55:r"},
    {"DDDelSynonyms", 33, 4, 0, "11:d 12:d"},
    {"DDDelTableRows", 34, 4, 4, "11:d 16:d 18:r 22:d 25:d 26:d 38:d 40:d 41:d"},
    // A dropped key leaves its columns' rows as they are (NOT NULL kept):
    // 22 is read, each key column must have its row.
    {"DDDelKeys", 32, 3, 6, "11:d 16:r 18:d 19:d 20:d 21:d 22:r 33:d 38:d 39:d 41:d 42:d 43:d"},
    {"DDDelViews", 35, 3, 1, "11:d 16:d 17:d 22:d 25:d 26:d 38:d 39:d 40:d 41:d 42:d 43:d 55:d 56:d"},
    {"DDCurTableKeyKinds", 60, 3, 2, "18:r 20:r 39:r"},
    {"DDCurDatabank", 105, 3, 12, "11:r 15:r"},
    {"DDCurDatabankFile", 106, 4, 11, "15:r"},
    {"DDCurObjText", 62, 2, 5, "11:r"},
    {"DDCurKeys", 66, 1, 7, "18:r"},
    {"DDInsTablePriv", 0, 9, 0, "25:iu"},
    {"DDInsCheckParts", 1, 7, 0, "42:i 43:i"},
    {"DDInsColumn", 3, 23, 0, "22:i 40:i"},
    {"DDInsDatabank", 4, 10, 0, "15:i"},
    {"DDInsDbfile", 57, 10, 0, "51:i"},
    {"DDInsObject", 9, 6, 0, "11:i"},
    {"DDInsLv2Cond", 11, 6, 0, "54:i"},
    {"DDInsBaseLink", 12, 2, 0, "12:i"},
    {"DDInsTable", 13, 6, 0, "16:i"},
    {"DDInsView", 97, 6, 0, "17:i"},
    {"DDInsConstraint", 14, 8, 0, "15:r 18:i"},
    {"DDInsRefConstraint", 8, 7, 0, "19:i"},
    {"DDInsColumnPriv", 15, 10, 0, "26:iu"},
    {"DDInsViewTableUse", 16, 4, 0, "16:r 55:i"},
    {"DDInsViewUse", 17, 2, 2, "16:r 38:i"},
    {"DDInsLv2Cond2", 18, 8, 0, "56:i"},
    {"DDInsKey", 7, 9, 0, "20:i"},
    {"DDUpdConstraint", 65, 7, 0, "18:u"},
    {"DDUpdDatabank", 40, 5, 0, "11:u 15:u"},
    {"DDUpdTableFlag", 49, 1, 0, "16:u"},
    {"DDUpdByTable", 80, 1, 0, "16:r 18:u"},
    {"DDUpdTableInts", 41, 5, 0, "16:u 18:u"},
    {"DDUpdDatabankFile", 53, 7, 0, "11:u 15:u"},
    {"DDUpdStatistics", 64, 10, 0, "16:u 18:u 22:u"},
    {"DDDelDatabank", 52, 4, 0, "11:d 12:d 15:d"},
};

constexpr int32_t kWorkKind = 13;

struct Op {
  std::string code;  // opcode name, "JMP" for a backward jump
  int32_t number = 0;
  bool operator==(const Op& o) const { return code == o.code && number == o.number; }
};

std::string Show(const std::vector<Op>& ops) {
  std::string s;
  for (const Op& o : ops) s += (s.empty() ? "" : " ") + o.code + (o.number ? " " + std::to_string(o.number) : "");
  return s;
}

// The expected opcodes of a program in words; phrases that name no record
// instruction (comparisons, "when present:") are passed over. An optional
// opcode is marked by a leading '?'.
std::vector<Op> Expected(const std::string& program) {
  std::vector<Op> out;
  std::set<int32_t> prepared;
  std::string phrase;
  std::istringstream in(program);
  while (std::getline(in, phrase, ';')) {
    const std::size_t colon = phrase.find(':');
    if (colon != std::string::npos) {
      // "when present: get 27", "a second path: find 11 ..." and "find 33
      // by index 103: found ends ..."
      const std::string before = phrase.substr(0, colon), after = phrase.substr(colon + 1);
      const bool lead = before.find("when") != std::string::npos ||
                        before.find("path") != std::string::npos;
      phrase = lead ? after : before;
    }
    std::istringstream w(phrase);
    std::vector<std::string> t;
    for (std::string x; w >> x;) t.push_back(x);
    if (t.empty()) continue;
    auto num = [&](std::size_t i) { return i < t.size() ? std::atoi(t[i].c_str()) : 0; };
    const bool by_index = t.size() == 5 && t[2] == "by" && t[3] == "index";
    if (t[0] == "scan" && t.size() >= 2) {
      if (by_index)
        out.insert(out.end(), {{"IGN", num(4)}, {"GNX", num(4)}});
      else
        out.insert(out.end(), {{"IGN", num(1)}, {"GNR", num(1)}});
    } else if (t[0] == "find" && by_index) {
      out.insert(out.end(), {{"IGN", num(4)}, {"GUX", num(4)}});
    } else if (t[0] == "get" && t.size() == 2) {
      out.push_back({"GUR", num(1)});
    } else if (t[0] == "next" && t.size() == 2) {
      out.push_back({"GNR", num(1)});
    } else if (t[0] == "next" && by_index) {
      out.push_back({"GNX", num(4)});
    } else if (t[0] == "lock" && t.size() == 2) {
      out.push_back({"LSR", num(1)});
    } else if (t[0] == "delete" && t.size() == 2) {
      out.insert(out.end(), {{"LSR", num(1)}, {"DEL", num(1)}});
    } else if (t[0] == "insert" && t.size() == 2) {
      out.push_back({"INS", num(1)});
    } else if (t[0] == "prepare" && t.size() == 3 && t[1] == "update") {
      out.push_back({"PFU", num(2)});
      prepared.insert(num(2));
    } else if (t[0] == "update" && t.size() == 2) {
      const int32_t n = num(1);
      if (prepared.erase(n) == 0) out.insert(out.end(), {{"?LSR", n}, {"PFU", n}});
      out.push_back({"UPD", n});
    } else if (t[0] == "hand" && t.size() == 3 && t[1] == "back") {
      out.push_back({"EXI", 0});
    } else if (t[0] == "repeat" && t.size() == 1) {
      out.push_back({"JMP", 0});
    }
  }
  return out;
}

bool Matches(const std::vector<Op>& want, const std::vector<Op>& got) {
  std::size_t g = 0;
  for (const Op& w : want) {
    const bool optional = w.code[0] == '?';
    const Op plain{optional ? w.code.substr(1) : w.code, w.number};
    if (g < got.size() && got[g] == plain) {
      ++g;
    } else if (!optional) {
      return false;
    }
  }
  return g == got.size();
}

struct Program {
  std::vector<Op> ops;
  std::vector<int32_t> ends;
  std::map<int32_t, std::set<char>> tables;  // system table -> what is done
};

// The record instructions of an assembled program in order, the table each
// names (a table block's table, an index block's index number) and its END
// values.
bool Walk(const StmtImage& im, Program* p, std::string* fault) {
  const std::vector<int32_t>& w = im.words;
  const int32_t start = w[interp::kDescProgramStart], n = w[interp::kDescStorageOffset];
  auto block = [&](int32_t t, int32_t word) { return w[static_cast<std::size_t>(n + t - 1 + word)]; };
  for (int32_t pos = start; pos < n;) {
    const int32_t op = w[pos];
    if (op < 1 || op > interp::kOpcodeCount) return *fault = "bad opcode", false;
    const auto& info = interp::kOpcodes[op];
    const std::string name = info.name;
    if (name == "END") p->ends.push_back(w[pos + 1]);
    if (name == "EXI") p->ops.push_back({"EXI", 0});
    if (name == "JMC" && w[pos + 1] < 0) p->ops.push_back({"JMP", 0});
    static const std::set<std::string> records = {"IGN", "GNR", "GNX", "GUX", "GUR", "LSR",
                                                  "PFU", "INS", "UPD", "DEL"};
    if (records.count(name)) {
      const int32_t t = w[pos + 1];
      const int32_t kind = block(t, interp::kRecKind), number = block(t, interp::kRecTable);
      const int32_t table = kind == 2 ? block(t, 0) : number;
      p->ops.push_back({name, number});
      char what = name == "INS" ? 'i' : name == "UPD" ? 'u' : name == "DEL" ? 'd' : 'r';
      // A work table (kind 13) is the statement's own, no system table.
      if (kind != kWorkKind) p->tables[table].insert(what);
    }
    pos += info.length;
  }
  return true;
}

// "T:ops ..." as a map of table to what is done.
std::map<int32_t, std::set<char>> Wanted(const char* tables) {
  std::map<int32_t, std::set<char>> want;
  std::istringstream in(tables);
  for (std::string x; in >> x;) {
    const std::size_t c = x.find(':');
    auto& set = want[std::atoi(x.substr(0, c).c_str())];
    for (char ch : x.substr(c + 1)) set.insert(ch);
  }
  return want;
}

}  // namespace

bool CheckImages(const std::vector<StmtImage>& images, DefError* error) {
  std::map<std::string, const Rule*> rules;
  for (const Rule& r : kRules) rules[r.name] = &r;
  std::map<std::string, const ExactRule*> exact_rules;
  for (const ExactRule& r : kExactRules) exact_rules[r.name] = &r;
  std::map<int32_t, std::string> slots, ids;
  for (const StmtImage& im : images) {
    const Statement& s = im.statement;
    auto fail = [&](const std::string& rule) {
      *error = {s.where, "statement " + s.name + ": " + rule};
      return false;
    };
    if (s.slot >= 0 && !slots.emplace(s.slot, s.name).second)
      return fail("slot " + std::to_string(s.slot) + " is " + slots[s.slot] + "'s");
    if (s.id != 0 && !ids.emplace(s.id, s.name).second)
      return fail("id " + std::to_string(s.id) + " is " + ids[s.id] + "'s");
    Program p;
    std::string fault;
    if (!Walk(im, &p, &fault)) return fail(fault);
    if (p.ends.empty()) return fail("the program has no END");
    auto tables_of = [&]() {
      std::map<int32_t, std::set<char>> got;
      for (auto [table, what] : p.tables) {
        if (what.size() > 1) what.erase('r');
        got[table] = what;
      }
      return got;
    };
    auto exact = exact_rules.find(s.name);
    if (exact != exact_rules.end()) {
      const ExactRule& r = *exact->second;
      if (s.slot != r.slot) return fail("slot " + std::to_string(r.slot) + " is its slot");
      if (static_cast<int32_t>(s.inputs.size()) != r.inputs ||
          static_cast<int32_t>(s.outputs.size()) != r.outputs)
        return fail(std::to_string(r.inputs) + " parameters and " + std::to_string(r.outputs) +
                    " result columns");
      if (*r.tables != '\0' && tables_of() != Wanted(r.tables))
        return fail(std::string("tables and what is done to them: ") + r.tables);
      continue;
    }
    auto it = rules.find(s.name);
    if (it == rules.end()) {
      if (s.slot >= 0) return fail("a private statement without a rule");
      continue;
    }
    const Rule& r = *it->second;
    if (s.slot != r.slot) return fail("slot " + std::to_string(r.slot) + " is its slot");
    if (static_cast<int32_t>(s.inputs.size()) < r.inputs)
      return fail("at least " + std::to_string(r.inputs) + " parameters");
    if (r.no_outputs ? !s.outputs.empty() : static_cast<int32_t>(s.outputs.size()) < r.outputs)
      return fail((r.no_outputs ? "no" : "at least " + std::to_string(r.outputs)) +
                  std::string(" result columns"));
    if (tables_of() != Wanted(r.tables))
      return fail(std::string("tables and what is done to them: ") + r.tables);
    const std::vector<Op> expected = Expected(r.program);
    if (!Matches(expected, p.ops))
      return fail(std::string("record program: ") + r.program + " (the program does " +
                  Show(p.ops) + ")");
    std::set<int32_t> ends;
    std::istringstream ein(r.ends);
    for (std::string x; std::getline(ein, x, ',');) ends.insert(std::atoi(x.c_str()));
    for (int32_t e : p.ends)
      if (!ends.count(e)) return fail("END " + std::to_string(e) + " is not among " + r.ends);
  }
  return true;
}

}  // namespace dictgen
