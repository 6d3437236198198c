// The server information item area (DSInfoBuild, DSInfoPutItem) and the
// kernel start's and stop's entries around it.
#include "request/server_information.h"

#include <cstring>
#include <string_view>

#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "request/sql_state.h"

namespace {

constexpr int32_t kBadItem = -19078;

constexpr int32_t kTextItems[] = {86, 88, 90, 94, 98, 110, 112, 114, 116, 118,
                                  149, 153, 157, 159, 161, 163};

struct ItemValue {
  int32_t item, value;
};

// The numeric items from level 5 on.
constexpr ItemValue kNumericItems[] = {
    {4, 63},          {6, 65384},       {7, 2},           {8, 3},           {10, 0},
    {12, 0},          {13, 2},          {17, 23},         {18, 3},          {19, 13825},
    {21, 3},          {22, 65535},      {23, 4},          {24, 3},          {28, 7},
    {29, 7},          {30, 7},          {32, 7},          {33, 1},          {34, 3},
    {35, 8388607},    {36, 5},          {37, 15000},      {38, 0},          {39, 15000},
    {40, 128},        {42, 32},         {45, 252},        {46, 128},        {47, 128},
    {48, 16000},      {50, 128},        {51, 16000},      {52, 128},        {54, 128},
    {56, 128},        {57, 1},          {58, 0},          {59, 16646143},   {60, 123},
    {61, 3},          {62, 3},          {63, 7},          {64, 15},         {65, 2},
    {66, 7152},       {67, 62},         {68, 16007},      {69, 464},        {70, 30192},
    {71, 3},          {72, 239},        {73, 15},         {74, 16777215},   {75, 31},
    {76, 7},          {77, 2},          {78, 31},         {79, 3},          {80, 1},
    {82, 0},          {84, 0},          {92, 1},          {96, 0},          {100, 1},
    {102, 1},         {104, 1},         {106, 1},         {108, 1},         {120, 27},
    {121, 14709247},  {122, 0},         {123, 0},         {124, 16511487},  {125, 0},
    {126, 16511487},  {127, 3329},      {128, 3329},      {129, 14709247},  {130, 1},
    {131, 511},       {132, 511},       {133, 15204609},  {134, 15728897},  {135, 164097},
    {136, 196865},    {137, 229633},    {138, 14709247},  {139, 14709247},  {140, 14709247},
    {141, 14709247},  {142, 14709247},  {143, 14709247},  {144, 14709247},  {145, 14709247},
    {146, 16514559},  {147, 16514559},  {148, 131071},    {152, 1},         {155, 1},
    {156, 1},         {165, 0},         {166, 0},         {167, 0},
};
// Below level 5 the items whose values the lower levels set otherwise: the
// base table's, then what levels 3 and 4 change (item 17 is absent below
// level 5).
constexpr ItemValue kBaseItems[] = {
    {6, 32},    {17, 0},    {19, 1025}, {35, 147520}, {37, 0},    {40, 18},
    {46, 18},   {47, 18},   {50, 0},    {52, 18},     {54, 18},   {56, 18},
    {59, 69633}, {67, 6},   {74, 3677791}, {78, 4},   {80, 0},
};
constexpr ItemValue kLevel3Items[] = {{6, 3936}, {74, 12419071}, {59, 16646143}, {67, 46}};
constexpr ItemValue kLevel4Items[] = {{50, 18}, {78, 31}, {80, 1}, {67, 62}};

struct ItemText {
  int32_t item;
  std::string_view text;
};

constexpr std::string_view kKeywords98 =
    "CALL,CURRENT_PATH,DETERMINISTIC,DO,EACH,ELSEIF,FUNCTION,HOLD,IF,INOUT,LARGE,LEAVE,"
    "LOCALTIME,LOCALTIMESTAMP,LOOP,NEW,OLD,OUT,REFERENCING,RELEASE,REPEAT,RESIGNAL,RETURN,"
    "SIGNAL,SPECIFIC,SQLEXCEPTION,START,TRIGGER,UNTIL,WHILE,WITHOUT";
constexpr std::string_view kKeywords157 =
    "BOTH,CALL,CURRENT_PATH,DETERMINISTIC,DO,EACH,ELSEIF,FUNCTION,HOLD,IF,INOUT,LARGE,LEADING,"
    "LEAVE,LOCALTIME,LOCALTIMESTAMP,LOOP,NATURAL,NEW,OLD,OUT,REFERENCING,RELEASE,REPEAT,"
    "RESIGNAL,RETURN,SIGNAL,SPECIFIC,SQLEXCEPTION,START,TRIGGER,UNTIL,WHILE,WITHOUT";
constexpr std::string_view kKeywords161 =
    "EACH,HOLD,LOCALTIME,LOCALTIMESTAMP,NEW,REFERENCING,RELEASE,START,TRIGGER,WITHOUT";
constexpr std::string_view kLevel4Keywords98 =
    "CALL,DO,ELSEIF,IF,INOUT,LEAVE,LOOP,OUT,REPEAT,RESIGNAL,RETURN,SIGNAL,SQLEXCEPTION,START,"
    "UNTIL,WHILE";
constexpr std::string_view kLevel4Keywords157 =
    "BOTH,CALL,DO,ELSEIF,IF,INOUT,LEADING,LEAVE,LOOP,NATURAL,OUT,REPEAT,RESIGNAL,RETURN,SIGNAL,"
    "SQLEXCEPTION,START,TRAILING,UNTIL,WHILE";

// The text of `item` at `level`.
std::string_view TextOf(int32_t item, int32_t level) {
  switch (item) {
    case 86: return level >= 9999 ? "." : "";
    case 88: return level >= 9999 ? "catalog" : "";
    case 90: return "ISO 8859-1";
    case 94: return "09.01.0003 ZAVOR/DB 9.1.3   ";
    case 98:
      return level < 3 ? "" : level == 3 ? "LEAVE,START" : level == 4 ? kLevel4Keywords98 : kKeywords98;
    case 110: return "!";
    case 112: return "!\"%&'()*+,-./:;<=>?@[\\]^{|}~";
    case 114: return "schema";
    case 116: return level >= 4 ? "procedure" : "";
    case 118: return "table";
    case 149: return "\"";
    case 153: return "ZAVOR/DB";
    case 157:
      return level < 3   ? ""
             : level == 3 ? "LEAVE,NATURAL,START"
             : level == 4 ? kLevel4Keywords157
                          : kKeywords157;
    case 159: return "#$";
    case 161: return level < 3 ? "" : level == 3 ? "" : level == 4 ? "START" : kKeywords161;
    default: return "";
  }
}

int32_t& AreaWord(int32_t* base, int32_t area, int32_t word) {
  return sqlpool_word(base, area + word);
}

}  // namespace

bool SiiaTextItem(int32_t item) {
  for (int32_t t : kTextItems)
    if (t == item) return true;
  return false;
}

int32_t DSInfoPutItem(int32_t* base, int32_t area, int32_t item, const void* value,
                      int32_t length) {
  if (item < SIIA_FIRST_ITEM || item > SIIA_LAST_ITEM || length < 0) return kBadItem;
  if (!SiiaTextItem(item)) {
    std::memcpy(&AreaWord(base, area, item - 1), value, sizeof(int32_t));
    return 0;
  }
  const int32_t at = AreaWord(base, area, SIIA_IN_USE);
  const int32_t words = (length + 3) / 4;
  if (at + words > SIIA_TEXT_REGION_END) return SIIA_FULL;
  if (length > 0) std::memcpy(&AreaWord(base, area, at), value, static_cast<size_t>(length));
  AreaWord(base, area, item - 1) = (at - SIIA_TEXT_REGION) * 4;
  AreaWord(base, area, item) = length;
  AreaWord(base, area, SIIA_IN_USE) = at + words;
  return 0;
}

int32_t DSInfoBuild(int32_t* base, int32_t* area, int32_t level) {
  int32_t block = 0;
  DSGetMem(base, &block, SIIA_AREA_WORDS * 4);
  *area = block;
  if (block == 0) return -1;
  AreaWord(base, block, SIIA_IN_USE) = SIIA_TEXT_REGION;
  AreaWord(base, block, SIIA_TEXT_START) = SIIA_TEXT_REGION;
  AreaWord(base, block, SIIA_TEXT_END) = SIIA_TEXT_REGION_END;
  for (int32_t t : kTextItems) AreaWord(base, block, t - 1) = -1;
  for (const ItemValue& v : kNumericItems) DSInfoPutItem(base, block, v.item, &v.value, 4);
  if (level < 5) {
    for (const ItemValue& v : kBaseItems) DSInfoPutItem(base, block, v.item, &v.value, 4);
    if (level >= 3)
      for (const ItemValue& v : kLevel3Items) DSInfoPutItem(base, block, v.item, &v.value, 4);
    if (level >= 4)
      for (const ItemValue& v : kLevel4Items) DSInfoPutItem(base, block, v.item, &v.value, 4);
  }
  // The texts fit the region at every level (about 700 bytes).
  for (int32_t t : kTextItems) {
    const std::string_view text = TextOf(t, level);
    DSInfoPutItem(base, block, t, text.data(), static_cast<int32_t>(text.size()));
  }
  return 0;
}

bool SiiaItem(const int32_t* base, int32_t area, int32_t item, int32_t* value,
              std::string* text) {
  if (item < SIIA_FIRST_ITEM || item > SIIA_LAST_ITEM) return false;
  int32_t* b = const_cast<int32_t*>(base);
  if (!SiiaTextItem(item)) {
    *value = AreaWord(b, area, item - 1);
    return true;
  }
  const int32_t offset = AreaWord(b, area, item - 1), length = AreaWord(b, area, item);
  text->clear();
  if (offset < 0) return true;
  const char* region = reinterpret_cast<const char*>(&AreaWord(b, area, SIIA_TEXT_REGION));
  text->assign(region + offset, static_cast<size_t>(length));
  return true;
}

int32_t DSInfoErrorTable(int32_t*, int32_t* table) {
  char state[5];
  DSSqlState(-1, 0, 0, state);
  *table = 0;
  return 0;
}

int32_t DSInfoFree(int32_t* base, int32_t* area) {
  if (*area != 0) DSGetMem(base, area, 0);
  *area = 0;
  return 0;
}

int32_t DSInfoClear(int32_t* base, int32_t area) {
  return DSInfoFree(base, &area);
}
