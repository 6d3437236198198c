// Databanks and the database offline and online, over a recording stand-in
// of the dictionary, the kernel core and the request interface: every call
// kept with its words and checked against the order each operation makes
// them; transactions begin through record access's own DSBTR3.
#include "du/databank_offline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstring>
#include <deque>
#include <mutex>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "du/tests/utility_recorder.h"

namespace {

using namespace utility_test;

class DatabankOfflineTest : public UtilityTest {
 protected:
  int32_t Op7(int32_t mode) {
    int32_t pb[2] = {mode, usr_};
    DSBkpOp7(base_, pb);
    return pb[0];
  }
  int32_t Op8(int32_t mode, const std::string& name) {
    int32_t pb[2] = {mode, usr_};
    DSBkpOp8(base_, pb, name.data(), static_cast<int32_t>(name.size()));
    return pb[0];
  }
  int32_t Op9(int32_t step, const std::string& name = "") {
    int32_t pb[2] = {step, usr_};
    DSBkpOp9(base_, pb, name.data(), static_cast<int32_t>(name.size()));
    return pb[0];
  }
};

TEST_F(DatabankOfflineTest, DatabaseOfflineWalksTheDatabanksInOrder) {
  ASSERT_EQ(Op7(3), 0);
  EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 1);
  const int32_t u = usr_;
  const std::vector<Recorded> expected = {
      {"DDChkPrivilege", {OFF_PRIVILEGE_BACKUP, 0}, "ADMIN"},
      {"DSTransEndReq", {0, u, 0, 0, 0}, ""},
      {"DSDisconnect", {3, u, 1, 0, -1}, ""},
      {"DSTransEndReq", {0, u, 0, 0, 0}, ""},
      {"DDCurDatabank", {3, 0}, ""},
      {"DDCurDatabank", {0, 0}, ""},
      {"DDCurDatabank", {0, 0}, ""},
      {"DDCurDatabank", {0, 0}, ""},
      {"DDCurDatabank", {0, 0}, ""},
      {"DSOpenDbReq", {1, u, 5, 15, -1}, ""},  // SALES; STOCK's flag is set
      {"DSCloseDbReq", {1, u, 5, -1, 0}, ""},
      {"DDCurDatabank", {0, 0}, ""},
      {"DDCurDatabank", {0, 0}, ""},
      {"DSOpenDbReq", {1, u, 7, 17, -1}, ""},
      {"DSCloseDbReq", {1, u, 7, -1, 0}, ""},
      {"DDCurDatabank", {0, 0}, ""},
      {"DSTransEndReq", {0, u, 0, 0, 0}, ""},
      {"DDUpdDatabankFile", {4, 3, 13}, "LOGDB_S"},
      {"DSTransEndReq", {0, u, 0, 0, 0}, ""},
  };
  EXPECT_EQ(rec_.calls, expected);

  // A second offline finds the field set and touches nothing.
  rec_.calls.clear();
  EXPECT_EQ(Op7(3), 3);
  EXPECT_EQ(Calls("DSDisconnect").size(), 0u);
  EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 1);
}

TEST_F(DatabankOfflineTest, OtherSessionsKeepTheDatabaseOnlineAndTheFieldAsItWas) {
  for (int32_t before : {0, 1}) {
    rec_.calls.clear();
    W(sys_ + SYS_USECOUNT) = 2;
    W(sys_ + SYS_DATABASE_OFFLINE) = before;
    EXPECT_EQ(Op7(3), 6);
    EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), before);
    EXPECT_TRUE(Calls("DSDisconnect").empty());
  }
  W(sys_ + SYS_USECOUNT) = 1;
  W(sys_ + SYS_DATABASE_OFFLINE) = 0;
  EXPECT_EQ(Op7(3), 0);
}

// Sessions taking the database offline at once: the test and the set of the
// field are one step, so exactly one of them walks the databanks.
TEST_F(DatabankOfflineTest, OneOfManySessionsTakesTheDatabaseOffline) {
  constexpr int kSessions = 6, kRounds = 40;
  std::vector<int32_t> users;
  for (int i = 0; i < kSessions; ++i) {
    users.push_back(NewUser());
    W(users.back() + USR_DDUCOM) = ducom_;
  }
  std::atomic<int> taken{0}, refused{0}, other{0};
  std::barrier round(kSessions + 1);
  std::vector<std::thread> threads;
  for (int i = 0; i < kSessions; ++i) {
    threads.emplace_back([&, i] {
      enqdeq_attach(enq_.data(), 2 + i);
      for (int k = 0; k < kRounds; ++k) {
        round.arrive_and_wait();
        int32_t pb[2] = {3, users[i]};
        DSBkpOp7(base_, pb);
        (pb[0] == 0 ? taken : pb[0] == 3 ? refused : other)++;
        round.arrive_and_wait();
      }
    });
  }
  for (int k = 0; k < kRounds; ++k) {
    W(sys_ + SYS_DATABASE_OFFLINE) = 0;
    round.arrive_and_wait();
    round.arrive_and_wait();
    EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 1);
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(taken.load(), kRounds);
  EXPECT_EQ(refused.load(), kRounds * (kSessions - 1));
  EXPECT_EQ(other.load(), 0);
  EXPECT_EQ(Calls("DSDisconnect").size(), static_cast<size_t>(kRounds));
}

TEST_F(DatabankOfflineTest, FailedOfflineClearsTheFieldAndRollsBack) {
  for (const char* failing : {"DSDisconnect", "DDCurDatabank", "DDUpdDatabankFile"}) {
    SCOPED_TRACE(failing);
    rec_.calls.clear();
    rec_.answers[failing] = {-16001};
    EXPECT_EQ(Op7(3), -16001);
    EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 0);
    ASSERT_FALSE(rec_.calls.empty());
    EXPECT_EQ(rec_.calls.back(), (Recorded{"DSTransEndReq", {1, usr_, 0, 0, 0}, ""}));
  }
}

TEST_F(DatabankOfflineTest, RefusalsBeforeAnyChange) {
  rec_.privileges.clear();
  EXPECT_EQ(Op7(3), 2);
  EXPECT_EQ(Op7(1), 2);
  EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 0);
  rec_.answers["DDChkPrivilege"] = {-19001};
  EXPECT_EQ(Op7(3), -19001);
  rec_.privileges = {OFF_PRIVILEGE_BACKUP};
  EXPECT_EQ(Op7(7), 0);
  W(usr_ + USR_DDUCOM) = 0;
  EXPECT_EQ(Op7(3), OFF_NO_DICTIONARY);
  EXPECT_EQ(Op8(3, "SALES"), OFF_NO_DICTIONARY);
  EXPECT_EQ(Op9(1), OFF_NO_DICTIONARY);
}

TEST_F(DatabankOfflineTest, OnlineDatabaseAnswersAfterThreeKindEightRequests) {
  struct Case {
    int32_t mode;
    int32_t answer;
    std::deque<int32_t> kind8;
    int32_t expected;
  };
  const Case cases[] = {{1, 4, {}, 4}, {2, 5, {}, 5}, {1, 4, {0, -16140}, -16140},
                        {2, 5, {-16150, -16140}, -16150}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    rec_.calls.clear();
    rec_.answers["DSOpenDbReq"] = c.kind8;
    EXPECT_EQ(Op7(c.mode), c.expected);
    const std::vector<Recorded> expected = {
        {"DSOpenDbReq", {8, usr_, 1, 0, -1}, ""},
        {"DSOpenDbReq", {8, usr_, 2, 0, -1}, ""},
        {"DSOpenDbReq", {8, usr_, 3, 0, -1}, ""},
    };
    EXPECT_EQ(Calls("DSOpenDbReq"), expected);
    EXPECT_TRUE(Calls("DDUpdDatabankFile").empty());
  }
}

TEST_F(DatabankOfflineTest, SetOnlineMarksTheLogDatabankAndClearsTheField) {
  W(sys_ + SYS_DATABASE_OFFLINE) = 1;
  ASSERT_EQ(Op7(1), 0);
  EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 0);
  const std::vector<std::string> names = {"DDChkPrivilege", "DSTransEndReq", "DDCurDatabank",
                                          "DDUpdDatabankFile", "DSTransEndReq"};
  EXPECT_EQ(Names(), names);
  EXPECT_EQ(Calls("DDCurDatabank")[0].words, (std::vector<int32_t>{2, 3}));
  EXPECT_EQ(Calls("DDUpdDatabankFile")[0], (Recorded{"DDUpdDatabankFile", {3, 3, 13}, "LOGDB_S"}));

  // A failing update keeps the database offline and rolls back.
  W(sys_ + SYS_DATABASE_OFFLINE) = 1;
  rec_.calls.clear();
  rec_.answers["DDUpdDatabankFile"] = {-19010};
  EXPECT_EQ(Op7(1), -19010);
  EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 1);
  EXPECT_EQ(rec_.calls.back(), (Recorded{"DSTransEndReq", {1, usr_, 0, 0, 0}, ""}));
}

TEST_F(DatabankOfflineTest, ReattachOpensTheDatabanksAndWritesTheirRows) {
  W(sys_ + SYS_DATABASE_OFFLINE) = 1;
  W(usr_ + USR_GBS_ACTION) = 1;
  ASSERT_EQ(Op7(2), 0);
  EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 0);
  const int32_t u = usr_;
  std::vector<Recorded> requests;
  for (const auto& c : rec_.calls)
    if (c.name != "DDCurDatabank" && c.name != "DDChkPrivilege") requests.push_back(c);
  const std::vector<Recorded> expected = {
      {"DSTransEndReq", {0, u, 0, 0, 0}, ""},
      {"DSDisconnect", {3, u, 1, 0, -1}, ""},
      {"DSAttach", {3, u, 1, 0, -1}, ""},
      {"DSBkpEndRecord", {1, u, 1, 0, -1}, ""},
      {"DSTransEndReq", {0, u, 0, 0, 0}, ""},
      {"DSOpenDbReq", {3, u, 1, 11, -1}, ""},
      {"DSGetDbRootNums", {0, u}, Padded("SYSDB")},
      {"DSCloseDbReq", {0, u, 1, -1, 0}, ""},
      {"DDInsDbfile DL", {0, 76}, "SYSDB"},
      {"DSOpenDbReq", {3, u, 5, 15, -1}, ""},
      {"DSGetDbRootNums", {0, u}, Padded("SALES")},
      {"DSCloseDbReq", {0, u, 5, -1, 0}, ""},
      {"DDInsDbfile DL", {0, 76}, "SALES"},
      {"DSOpenDbReq", {3, u, 7, 17, -1}, ""},
      {"DSGetDbRootNums", {0, u}, Padded("PARTS")},
      {"DSCloseDbReq", {0, u, 7, -1, 0}, ""},
      {"DDInsDbfile DL", {0, 76}, "PARTS"},
      {"DDUpdDatabankFile", {3, 3, 13}, "LOGDB_S"},
      {"DSTransEndReq", {0, u, 0, 0, 0}, ""},
  };
  EXPECT_EQ(requests, expected);
}

TEST_F(DatabankOfflineTest, ReattachFailureClosesTheDatabankAndStaysOffline) {
  W(sys_ + SYS_DATABASE_OFFLINE) = 1;
  rec_.answers["DSGetDbRootNums"] = {0, -16140};  // SYSDB reads, SALES fails
  EXPECT_EQ(Op7(2), -16140);
  EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 1);
  EXPECT_TRUE(Calls("DDInsDbfile DL").empty());  // the user's GBS_ACTION is 0
  const auto closes = Calls("DSCloseDbReq");
  ASSERT_EQ(closes.size(), 2u);
  EXPECT_EQ(closes[1].words, (std::vector<int32_t>{1, usr_, 5, -1, 0}));
  EXPECT_EQ(rec_.calls.back(), (Recorded{"DSTransEndReq", {1, usr_, 0, 0, 0}, ""}));

  // The system databank closes with mode 0.
  rec_.calls.clear();
  rec_.answers["DSGetDbRootNums"] = {-16140};
  EXPECT_EQ(Op7(2), -16140);
  EXPECT_EQ(Calls("DSCloseDbReq")[0].words, (std::vector<int32_t>{0, usr_, 1, -1, 0}));
}

TEST_F(DatabankOfflineTest, OneDatabankRefusals) {
  for (const char* name : {"TRANSDB", "LOGDB", "SQLDB"}) {
    EXPECT_EQ(Op8(3, name), 2) << name;
    EXPECT_EQ(Op8(1, name), 2) << name;
  }
  EXPECT_EQ(Op8(3, "NOSUCH"), 1);
  rec_.privileges = {};
  EXPECT_EQ(Op8(3, "PARTS"), 2);  // another creator, no BACKUP
  EXPECT_TRUE(Calls("DSBkpApplyMode").empty());
  EXPECT_EQ(Calls("DDChkPrivilege").back(),
            (Recorded{"DDChkPrivilege", {OFF_PRIVILEGE_BACKUP, 0}, "ADMIN"}));
  rec_.calls.clear();
  EXPECT_EQ(Op8(3, "SALES"), 0);  // the creator himself
  EXPECT_TRUE(Calls("DDChkPrivilege").empty());
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
}

TEST_F(DatabankOfflineTest, OneDatabankByMode) {
  struct Case {
    int32_t mode;
    std::string name;
    std::map<std::string, std::deque<int32_t>> answers;
    int32_t expected;
    std::vector<std::string> calls;  // after the row read
  };
  const Case cases[] = {
      {3, "SALES", {}, 0, {"DSBkpApplyMode"}},
      {3, "SYSDB", {{"DSBkpApplyMode", {OFF_SYSDB_OFFLINE}}}, 3, {"DSBkpApplyMode"}},
      {3, "SALES", {{"DSBkpApplyMode", {OFF_LOCKED}}}, 6, {"DSBkpApplyMode"}},
      {3, "SALES", {{"DSBkpApplyMode", {-16001}}}, -16001, {"DSBkpApplyMode"}},
      {3, "STOCK", {}, 3, {}},
      {1, "STOCK", {}, 0, {"DDUpdDatabank", "DSBkpRefreshFiles"}},
      {1, "STOCK", {{"DDUpdDatabank", {-16150}}}, -16150, {"DDUpdDatabank", "DSTransEndReq"}},
      {1, "SALES", {}, 4, {"DSOpenDbReq"}},
      {1, "SALES", {{"DSOpenDbReq", {-16140}}}, -16140, {"DSOpenDbReq"}},
      {2, "STOCK", {}, 0, {"DSBkpApplyMode", "DDUpdDatabank", "DSBkpRecordFiles"}},
      {2, "STOCK", {{"DDUpdDatabank", {-16150}}}, -16150,
       {"DSBkpApplyMode", "DDUpdDatabank", "DSTransEndReq"}},
      {2, "STOCK", {{"DSBkpApplyMode", {-16001}}}, -16001, {"DSBkpApplyMode"}},
      {2, "SALES", {}, 5, {"DSOpenDbReq"}},
      {9, "SALES", {}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + c.name);
    rec_.calls.clear();
    rec_.chains.clear();
    rec_.answers = c.answers;
    EXPECT_EQ(Op8(c.mode, c.name), c.expected);
    std::vector<std::string> after;
    for (const auto& n : Names())
      if (n != "DDCurDatabank" && n != "DDChkPrivilege") after.push_back(n);
    EXPECT_EQ(after, c.calls);
    for (const auto& chain : rec_.chains) EXPECT_EQ(chain.size(), 2u);
    EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
  }
  rec_.calls.clear();
  EXPECT_EQ(Op8(2, "STOCK"), 0);
  EXPECT_EQ(Calls("DSBkpApplyMode")[0].words[0], 1);
  EXPECT_EQ(Calls("DSBkpRecordFiles")[0].words[0], 0);
  // The online mark names the databank (STOCK is 6).
  EXPECT_EQ(Calls("DDUpdDatabank")[0].words, (std::vector<int32_t>{0, 6, 0}));
  EXPECT_EQ(rec_.chains[0], (std::vector<int32_t>{6, 16}));
  rec_.calls.clear();
  EXPECT_EQ(Op8(1, "SALES"), 4);
  EXPECT_EQ(Calls("DSOpenDbReq")[0].words, (std::vector<int32_t>{8, usr_, 5, 0, -1}));
}

class DatabankListTest : public DatabankOfflineTest {
 protected:
  DatabankListTest() {
    const auto& d = rec_.databanks;
    rec_.files = {FileRow(d[4], 15, "SALES_A"), FileRow(d[4], 15, "SALES_B"),
                  FileRow(d[4], 25, "SALES_C", 0, 1), FileRow(d[6], 17, "PARTS_A"),
                  FileRow(d[5], 16, "STOCK_A"), FileRow(d[4], 35, "SALES_OLD", 1),
                  FileRow(d[0], 11, "SYSDB_A")};
  }
};

TEST_F(DatabankListTest, TheSameDatabankTwice) {
  ASSERT_EQ(Op9(3), 0);
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_MODE), 3);
  EXPECT_EQ(Op9(4, "SALES_A"), 0);
  EXPECT_EQ(Op9(4, "SALES_B"), 6);  // same number
  EXPECT_EQ(Op9(4, "SALES_C"), 7);  // another number
  EXPECT_EQ(Op9(4, "SALES_OLD"), 1);  // first flag set
  EXPECT_EQ(Op9(4, "NOSUCH"), 1);
  EXPECT_EQ(Op9(4, "SYSDB_A"), 0);
  EXPECT_EQ(Op9(6), 0);
  ASSERT_EQ(Op9(5), 0);
  EXPECT_EQ(rec_.chains, (std::vector<std::vector<int32_t>>{{1, 11, 5, 15}}));
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
}

TEST_F(DatabankListTest, PrivilegesOfTheList) {
  struct Case {
    int32_t mode;
    std::set<int32_t> held;
    std::string name;
    int32_t expected;
  };
  const Case cases[] = {
      {3, {}, "SALES_A", 2},                    // neither BACKUP nor SHADOW
      {3, {OFF_PRIVILEGE_SHADOW}, "SALES_A", 0},  // SHADOW, own databank
      {3, {OFF_PRIVILEGE_SHADOW}, "PARTS_A", 2},  // another creator's
      {2, {}, "SALES_A", 5},                    // mode 2 asks no SHADOW
      {1, {OFF_PRIVILEGE_BACKUP}, "PARTS_A", 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + " " + std::to_string(c.mode));
    rec_.privileges = c.held;
    ASSERT_EQ(Op9(c.mode), 0);
    EXPECT_EQ(Op9(4, c.name), c.expected);
    EXPECT_EQ(Op9(0), 0);
    Op9(5);
  }
  rec_.answers["DDChkPrivilege"] = {-19001};
  Op9(3);
  EXPECT_EQ(Op9(4, "SALES_A"), 2);
}

TEST_F(DatabankListTest, OnlineRefusalsSendTheKindEightRequest) {
  for (int32_t mode : {1, 2, 3}) {
    rec_.calls.clear();
    Op9(mode);
    const int32_t plain = Op9(4, "SALES_A");
    const int32_t marked = Op9(4, "PARTS_A");
    EXPECT_EQ(plain, mode == 3 ? 0 : mode == 1 ? 4 : 5);
    EXPECT_EQ(marked, mode == 3 ? 0 : mode == 1 ? 4 : 5);
    Op9(0);
    EXPECT_EQ(Op9(4, "SALES_C"), 7);
    if (mode != 3) {
      const std::vector<Recorded> expected = {{"DSOpenDbReq", {8, usr_, 5, 15, -1}, ""},
                                              {"DSOpenDbReq", {8, usr_, 7, 17, -1}, ""}};
      EXPECT_EQ(Calls("DSOpenDbReq"), expected);
    } else {
      EXPECT_TRUE(Calls("DSOpenDbReq").empty());
    }
    Op9(5);
  }
  Op9(3);
  EXPECT_EQ(Op9(4, "SALES_C"), 3);  // second flag set
  Op9(5);
}

TEST_F(DatabankListTest, OfflineDatabankFailsTheNameAndFreesTheList) {
  Op9(1);
  ASSERT_EQ(Op9(4, "SALES_A"), 4);
  EXPECT_EQ(Op9(4, "STOCK_A"), OFF_DATABANK_OFFLINE);
  EXPECT_EQ(W(usr_ + USR_RVEC_RCODE), OFF_DATABANK_OFFLINE);
  EXPECT_EQ(W(usr_ + USR_RVEC_LID), 6);
  EXPECT_EQ(W(usr_ + USR_RVEC_SEQNO), -1);
  EXPECT_EQ(W(usr_ + USR_RVEC_BITVEC) & 4, 4);
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
}

TEST_F(DatabankListTest, ApplyByMode) {
  struct Case {
    int32_t mode;
    int32_t gbs_action;
    std::map<std::string, std::deque<int32_t>> answers;
    int32_t expected;
    std::vector<Recorded> calls;
  };
  const int32_t u = usr_;
  const Case cases[] = {
      {3, 1, {}, 0, {{"DSBkpApplyMode", {4}, ""}}},
      {3, 2, {}, 0, {{"DSBkpApplyMode", {5}, ""}}},
      {3, 0, {{"DSBkpApplyMode", {-16001}}}, -16001, {{"DSBkpApplyMode", {4}, ""}}},
      {1, 0, {}, 0, {{"DSBkpRefreshFiles", {0}, ""}}},
      {2,
       0,
       {},
       0,
       {{"DSBkpRefreshFiles", {0}, ""},
        {"DSOpenDbReq", {3, u, 7, 17, -1}, ""},
        {"DSOpenDbReq", {3, u, 5, 15, -1}, ""},
        {"DSOpenDbReq", {3, u, 1, 11, -1}, ""},
        {"DSBkpRecordFiles", {1}, ""}}},
      // The copies come back before anything reads the databanks; a
      // refresh that fails stops the apply there.
      {2,
       0,
       {{"DSBkpRefreshFiles", {-16185}}},
       -16185,
       {{"DSBkpRefreshFiles", {0}, ""}}},
      {2,
       0,
       {{"DSOpenDbReq", {0, -16140}}},
       -16140,
       {{"DSBkpRefreshFiles", {0}, ""},
        {"DSOpenDbReq", {3, u, 7, 17, -1}, ""},
        {"DSOpenDbReq", {3, u, 5, 15, -1}, ""},
        {"DSCloseDbReq", {0, u, 7, -1, 0}, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.mode) + " " + std::to_string(c.gbs_action));
    W(sys_ + SYS_GBS_ACTION) = c.gbs_action;
    rec_.privileges = {OFF_PRIVILEGE_BACKUP};
    ASSERT_EQ(Op9(c.mode), 0);
    // Marked as offline already, so no kind 8 request while collecting.
    rec_.files[0].second_flag = 1;
    rec_.files[3].second_flag = 1;
    rec_.files[6].second_flag = 1;
    Op9(4, "SYSDB_A");
    Op9(4, "SALES_A");
    Op9(4, "PARTS_A");
    rec_.calls.clear();
    rec_.answers = c.answers;
    EXPECT_EQ(Op9(5), c.expected);
    EXPECT_EQ(rec_.calls, c.calls);
    EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
  }
}

TEST_F(DatabankOfflineTest, NamesStopAtTheirFields) {
  const std::string longer(300, 'N');
  EXPECT_EQ(Op8(3, longer), 1);
  EXPECT_EQ(Calls("DDCurDatabank")[0].text, std::string(128, 'N'));
  rec_.databanks.push_back(Databank(9, 19, std::string(128, 'N')));
  rec_.calls.clear();
  EXPECT_EQ(Op8(3, longer), 0);
  ASSERT_EQ(rec_.chains.size(), 1u);

  rec_.files = {FileRow(rec_.databanks.back(), 19, std::string(128, 'F'))};
  Op9(3);
  EXPECT_EQ(Op9(4, std::string(200, 'F')), 0);
  const int32_t e = W(ducom_ + DDUCOM_DBU_CHAIN);
  ASSERT_NE(e, 0);
  EXPECT_EQ(W(e + DBU_SECOND_LENGTH), 128);
  EXPECT_EQ(W(e + DBU_NAME_LENGTH), 128);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&W(e + DBU_SECOND_NAME)), 128),
            std::string(128, 'F'));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&W(e + DBU_NAME)), 128), std::string(128, 'N'));
  Op9(5);
}

TEST_F(DatabankOfflineTest, TimestampsFollowTheUsersSimulatedTime) {
  ASSERT_EQ(Op7(3), 0);
  ASSERT_EQ(rec_.timestamp.size(), 16u);
  EXPECT_EQ(rec_.timestamp.find_first_not_of("0123456789"), std::string::npos) << rec_.timestamp;
  const std::string simulated = "2031020304050607";
  W(usr_ + USR_SIMULATION_MODE) = 1;
  std::memcpy(&W(usr_ + USR_SIMULATION_TIME), simulated.data(), 16);
  EXPECT_EQ(Op8(3, "SALES"), 0);
  EXPECT_EQ(rec_.timestamp, simulated);
}

TEST_F(DatabankOfflineTest, AnAbsentServiceAnswersAndNamesItself) {
  DUUtilityServices partial = *Recorder::Table();
  partial.disconnect = nullptr;
  DUInstallUtilityServices(&partial);
  EXPECT_EQ(Op7(3), OFF_NO_SYSTEM);
  EXPECT_TRUE(log_.Has("DSDisconnect"));
  EXPECT_EQ(W(sys_ + SYS_DATABASE_OFFLINE), 0);
  partial.apply_mode = nullptr;
  EXPECT_EQ(Op8(3, "SALES"), OFF_NO_SYSTEM);
  EXPECT_TRUE(log_.Has("DSBkpApplyMode"));
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
  DUInstallUtilityServices(Recorder::Table());
}

}  // namespace

namespace {

// Over record access's own apply: databank 1 taken offline while it is
// already answers 3 and leaves its field set; a second databank goes.
TEST_F(DatabankOfflineTest, TheSystemDatabankOfflineTwiceThroughTheOwnApply) {
  DUUtilityServices own = *Recorder::Table();
  DUUtilityOwnEntries(&own);
  DUInstallUtilityServices(&own);
  enqdeq_init_semaphore(&W(sys_ + SYS_S), 1);
  EXPECT_EQ(Op8(3, "SYSDB"), 0);
  EXPECT_EQ(W(sys_ + SYS_SYSDB_OFFLINE), 1);
  rec_.calls.clear();
  EXPECT_EQ(Op8(3, "SYSDB"), 3);
  EXPECT_EQ(W(sys_ + SYS_SYSDB_OFFLINE), 1);
  EXPECT_TRUE(Calls("DSDisconnect").empty());
  EXPECT_EQ(W(ducom_ + DDUCOM_DBU_CHAIN), 0);
  EXPECT_EQ(Op8(3, "SALES"), 0);
  EXPECT_EQ(Calls("DSOpenDbReq").at(0).words[0], 7);
  DUInstallUtilityServices(Recorder::Table());
}

}  // namespace
