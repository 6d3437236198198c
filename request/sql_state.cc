// The SQLSTATE translation map: the server's own codes by SQLSTATE, the
// syntax-error range, and the communication errors -21001 to -21499 from the
// platform's table. Built once, read only afterwards.
#include "request/sql_state.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <span>
#include <unordered_map>

#include "platform/comm_errors.h"

namespace {

// kNone: an entry without origin text (the communication errors).
enum Origin : uint8_t { kIso = 0, kZavor = 1, kNone = 2 };
const char* const kOriginText[] = {"ISO 9075", "ZAVOR"};

struct StateCodes {
  const char* state;
  Origin origin;
  std::initializer_list<int32_t> codes;
};

// The single codes by SQLSTATE, in the order the map is filled (a later entry
// of the same code replaces an earlier one).
const StateCodes kStateCodes[] = {
    {"00000", kIso, {91}},
    {"01004", kIso, {54, -10316}},
    {"01005", kIso, {55}},
    {"01006", kIso, {56}},
    {"01007", kIso, {57}},
    {"01008", kIso, {58}},
    {"02000", kIso, {100}},
    {"07001", kIso, {-14611, -14331}},
    {"07002", kIso, {-14612}},
    {"07003", kIso, {-14040, -14039}},
    {"07004", kIso, {-14332}},
    {"07005", kIso, {-19068, -14045}},
    {"07006", kIso, {-10208, -19071}},
    {"07007", kIso, {-14333}},
    {"07008", kIso, {-14643}},
    {"07009", kIso, {-14642}},
    {"0700F", kIso, {-10602}},
    {"08001", kIso, {-18500, -18501}},
    {"08002", kIso, {-18508}},
    {"08003", kIso, {-14501, -14002}},
    {"08004", kIso, {-18902, -18105, -18106, -18903, -18901}},
    {"08006", kIso, {-18507}},
    {"09000", kIso, {-14703}},
    {"0A000", kIso, {-10250, -18018, -18512, -18514, -18513}},
    {"0B000", kIso, {-14015}},
    {"0K000", kIso, {-14046}},
    {"0W000", kIso, {-14024}},
    {"21000", kIso, {-10108, -10107}},
    {"22001", kIso, {-14312, -12121, -10311}},
    {"22002", kIso, {-10222, -10221}},
    {"22003", kIso, {-10212, -10203, -10204, -10200, -10205, -10303, -10312, -10302, -10301, -10109}},
    {"22005", kIso, {-14303, -14302, -14301, -14315, -10201, -10211, -10207, -10210, -14321, -14324,
                     -14322, -10601, -14311}},
    {"22006", kIso, {-10339, -10337}},
    {"22007", kIso, {-10329, -10327}},
    {"22008", kIso, {-10321, -10323, -10322}},
    {"22011", kIso, {-10313}},
    {"22012", kIso, {-10202, -10304}},
    {"22015", kIso, {-10331, -10333, -10332}},
    {"22018", kIso, {-10310, -10351, -10317}},
    {"22019", kIso, {-10315}},
    {"22023", kIso, {-10306}},
    {"22024", kIso, {-14316}},
    {"22025", kIso, {-10314}},
    {"22026", kIso, {-10307}},
    {"22027", kIso, {-12219}},
    {"23000", kIso, {-10102, -10106, -10105, -12231, -10101, -10100, -10103, -10110, -12591}},
    {"24000", kIso, {-14035, -14036, -14042, -14601, -14202, -14033, -14037, -14041}},
    {"25000", kIso, {-14021, -14005, -14013, -14011, -14012, -14014, -12504}},
    {"26000", kIso, {-14101, -14624, -14034, -14031, -14032, -14631}},
    {"27000", kIso, {-14702}},
    {"28000", kIso, {-14314, 90, -14006}},
    {"2E000", kIso, {-18510}},
    {"2F003", kIso, {-14701}},
    {"2F005", kIso, {-14700}},
    {"33000", kIso, {-14641}},
    {"34000", kIso, {-14621, -14623}},
    {"35000", kIso, {-14651}},
    {"3C000", kIso, {-14622}},
    {"40001", kIso, {-10001}},
    {"42000", kIso, {-14405, -12511, -14406, -14402, -14401, -14404, -12200, -12202, -12203, -12216,
                     -12273, -12281, -12501, -12540, -12559, -12560, -12593}},
    {"44000", kIso, {-10104}},
    {"45000", kIso, {-14044}},
    {"S1001", kZavor, {-11001, -18505, -11002}},
};

struct Range {
  int32_t low;
  int32_t high;
  const char* state;
  Origin origin;
};
const Range kRanges[] = {{-12999, -12000, "42000", kIso}};

constexpr char kPositiveDefault[] = "00000";
constexpr char kNegativeDefault[] = "S1000";

struct Entry {
  char state[5];
  Origin origin;
};

class StateMap {
 public:
  StateMap() {
    for (const StateCodes& s : kStateCodes) {
      for (int32_t code : s.codes) Put(code, s.state, s.origin);
    }
    int32_t cursor = 0;
    int32_t code = 0;
    char state[5];
    while (comm_error_next(&code, std::span<char>(state, 5), 0, &cursor) == 0) {
      Put(code, state, kNone);
    }
  }
  const Entry* Find(int32_t code) const {
    auto it = codes_.find(code);
    if (it != codes_.end()) return &it->second;
    for (const Range& r : kRanges) {
      if (code >= r.low && code <= r.high) return &ranges_[&r - kRanges];
    }
    return nullptr;
  }
  // Any entry whose state agrees with `sqlstate` in its first `n` characters.
  const Entry* FindState(const char* sqlstate, size_t n) const {
    for (const auto& [code, e] : codes_) {
      if (e.origin != kNone && std::memcmp(e.state, sqlstate, n) == 0) return &e;
    }
    for (const Entry& e : ranges_) {
      if (std::memcmp(e.state, sqlstate, n) == 0) return &e;
    }
    return nullptr;
  }

 private:
  void Put(int32_t code, const char* state, Origin origin) {
    Entry& e = codes_[code];
    std::memcpy(e.state, state, 5);
    e.origin = origin;
  }
  std::unordered_map<int32_t, Entry> codes_;
  Entry ranges_[std::size(kRanges)] = {{{'4', '2', '0', '0', '0'}, kIso}};
};

const StateMap& Map() {
  static const StateMap map;
  return map;
}

const char* WarningState(int32_t warning) {
  switch (warning) {
    case 0: return "00000";
    case 1: return "01004";
    case 2: return "01003";
    case 3: return "01000";
    case 4: return "01005";
    case 5: return "01007";
    case 7: return "01002";
    default: return nullptr;
  }
}

const char* KindState(int32_t kind) {
  switch (kind) {
    case 1: return "08001";
    case 2: return "01002";
    case 3:
    case 6: return "40003";
    case 4:
    case 5: return "08006";
    default: return nullptr;
  }
}

}  // namespace

void DSSqlState(int32_t rc, int32_t warning, int32_t kind, char* sqlstate) {
  const char* state = nullptr;
  if (rc == 0) {
    state = WarningState(warning);
    if (state == nullptr) return;
  } else if (rc >= 100) {
    state = "02000";
  } else if (const Entry* e = Map().Find(rc)) {
    std::memcpy(sqlstate, e->state, 5);
    return;
  } else if ((state = KindState(kind)) == nullptr) {
    state = rc > 0 ? kPositiveDefault : kNegativeDefault;
  }
  std::memcpy(sqlstate, state, 5);
}

void DSStdName(char* text, int32_t offset, int32_t* length, const char* sqlstate, int32_t mode) {
  if (mode != 1 && mode != 2) {
    *length = 0;
    return;
  }
  const Entry* e = Map().FindState(sqlstate, mode == 1 ? 2 : 5);
  const char* origin = kOriginText[e != nullptr ? e->origin : kIso];  // never kNone
  const int32_t n = static_cast<int32_t>(std::strlen(origin));
  const int32_t room = std::max(*length, 0);
  char* out = text + offset;
  std::memset(out, ' ', static_cast<size_t>(room));
  std::memcpy(out, origin, static_cast<size_t>(std::min(n, room)));
  *length = n;
}
