// Statements in the kernel word storage built from assembled programs, and
// the services around the runtime as fakes that count their calls.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "du/upper_services.h"
#include "interp/exec_runtime.h"
#include "interp/exec_stm.h"
#include "interp/request_services.h"
#include "interp/tests/interp_fixture.h"

namespace interp {

struct ExecCounts {
  int32_t work_ends = 0, binds = 0, unlinks = 0;
  std::vector<std::vector<int32_t>> settings;  // (class, value) of each settings request
};
inline ExecCounts g_exec;

class ExecTest : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    g_exec = ExecCounts{};
    lvl_ = Block(LVL_BYTES);
    Wd(base_, usr_, USR_LVL) = lvl_;
    std::memcpy(&Wd(base_, lvl_, LVL_NAME), name_, sizeof name_);
    Wd(base_, usr_, USR_TRAN_DIAG_SIZE) = 10;
    upper_.statement_work_end = [](int32_t*, int32_t, int32_t) {
      ++g_exec.work_ends;
      return 0;
    };
    DUInstallUpperServices(&upper_);
    services_.set_trans_options = [](int32_t*, const int32_t* request) {
      g_exec.settings.push_back({request[3], request[4]});
      return 0;
    };
    services_.sql_state = [](int32_t rc, int32_t, int32_t, char* state) {
      std::memcpy(state,
                  rc == 0       ? "00000"
                  : rc >= 100   ? "02000"
                  : rc > 0      ? "01004"
                  : rc == -10101 ? "23000"
                                : "S1000",
                  5);
    };
    services_.bind_statement = [](int32_t*, int32_t, int32_t) {
      ++g_exec.binds;
      return 0;
    };
    services_.unlink_statement = [](int32_t*, int32_t, int32_t) {
      ++g_exec.unlinks;
      return 0;
    };
    services_.check_statement_pair = [](int32_t*, int32_t, int32_t, int32_t) { return 0; };
    DAInstallRequestServices(&services_);
  }
  void TearDown() override {
    DAInstallRequestServices(nullptr);
    DUInstallUpperServices(nullptr);
    InterpTest::TearDown();
  }

  // A statement running the assembled `text` (STATUS 5, on the level).
  int32_t Make(const std::string& text) {
    zasm::Assembly a;
    std::string error;
    EXPECT_TRUE(zasm::Assemble(text, "exec.zasm", &a, &error)) << error;
    const int32_t sd = Block(static_cast<int32_t>(a.words.size()) * 4);
    std::memcpy(&Wd(base_, sd, 0), a.words.data(), a.words.size() * 4);
    const int32_t stm = Block(STM_BYTES);
    Wd(base_, stm, STM_ACTIVE_COM) = stm + STM_NEXT_COM;
    Wd(base_, stm, STM_SD) = sd;
    Wd(base_, stm, STM_PGM) = sd + a.words[kDescProgramStart];
    Wd(base_, stm, STM_STG) = sd + a.words[kDescStorageOffset];
    Wd(base_, stm, STM_STATUS) = 5;
    Wd(base_, stm, STM_LVL) = lvl_;
    asm_of_[stm] = a;
    return stm;
  }
  int32_t Sd(int32_t stm) { return Wd(base_, stm, STM_SD); }
  // The storage word of a word field of `stm`.
  int32_t& Field(int32_t stm, const std::string& name) {
    return Wd(base_, Wd(base_, stm, STM_STG), asm_of_.at(stm).fields.at(name) / 4);
  }
  std::string Text(int32_t stm, const std::string& name, int32_t length) {
    const auto* p = reinterpret_cast<const char*>(&Wd(base_, Wd(base_, stm, STM_STG), 0));
    return std::string(p + asm_of_.at(stm).fields.at(name), static_cast<size_t>(length));
  }
  // Gives the program a compound-statement stack at word field `name`.
  void Stack(int32_t stm, const std::string& name) {
    Wd(base_, Sd(stm), kDescCompoundStack) = asm_of_.at(stm).fields.at(name) / 4;
  }
  int32_t Exec(int32_t stm) {
    pb_[0] = 0;
    pb_[1] = usr_;
    pb_[2] = stm;
    DSExecStm(base_, pb_);
    return pb_[0];
  }
  int32_t LevelStatements() {
    int32_t n = 0;
    for (int32_t s = Wd(base_, lvl_, LVL_STM); s != 0; s = Wd(base_, s, STM_NEXT)) ++n;
    return n;
  }
  int32_t Depth(int32_t stm) { return Wd(base_, stm, STM_NEXT_COM + kComRecursiveDepth); }

  int32_t lvl_ = 0;
  DUUpperServices upper_{};
  RequestServiceTable services_{};
  std::map<int32_t, zasm::Assembly> asm_of_;
  int32_t pb_[kExecWords] = {};
};

// The call status words of a caller: CSDSTG words 0..6 at storage word 12.
inline constexpr char kCallerWords[] = R"(type 77
field C0 word
field C1 word
field C2 word
field C3 word
field C4 word
field C5 word
field C6 word
)";
inline constexpr int32_t kCsAt = 12;

}  // namespace interp
