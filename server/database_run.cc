// Starting and stopping a database in this process.
#include "server/database_run.h"

#include <cstring>

#include "dk/background_threads.h"
#include "dk/control_area.h"
#include "kernel/kernel_begin.h"
#include "kernel/sessions.h"
#include "kernel/system_block.h"
#include "kernel/word_storage.h"
#include "platform/enqdeq.h"
#include "platform/host_services.h"
#include "platform/thread_slots.h"
#include "server/start_services.h"

namespace {

// The databank kernel's shape: entries, buffer pages of 2, 16 and 64 KiB,
// and threads (two of them background threads).
constexpr int32_t kCounts[4] = {0, 60, 16, 400};
constexpr int32_t kPages[3] = {2048, 256, 0};
constexpr int32_t kThreads[5] = {2, 2, 0, 10, 0};
constexpr int32_t kEnqdeqThreads = 32;
// The kernel word storage: reserved and first committed words.
constexpr int64_t kStorageWords = int64_t{16} << 20;
constexpr int32_t kInitialWords = 1 << 20;
constexpr int32_t kNoStorage = -11002;
constexpr int32_t kBadHome = -19021;

void StopBackground(ServerDatabase* db) {
  if (db->background.empty()) return;
  int32_t rc = 0;
  DKStopBackground(&rc);
  for (std::thread& t : db->background) t.join();
  db->background.clear();
}

// What the start set up taken down again; DKShutdown's status.
int32_t TakeDown(ServerDatabase* db) {
  StopBackground(db);
  int32_t rc = 0;
  DKShutdown(&rc);
  ServerRemoveServices();
  if (db->base != nullptr) SqlPoolDestroy(db->base);
  db->base = nullptr;
  std::error_code ec;
  if (!db->previous_directory.empty()) std::filesystem::current_path(db->previous_directory, ec);
  db->previous_directory.clear();
  return rc;
}

}  // namespace

int32_t ServerStartDatabase(const std::string& home, const std::string& database, int32_t mode,
                            ServerDatabase* db) {
  db->enqdeq_area.assign(static_cast<size_t>(enqdeq_size(kEnqdeqThreads) / 4 + 1), 0);
  if (enqdeq_init(db->enqdeq_area.data(), kEnqdeqThreads, nullptr, nullptr, 0) != 0 ||
      enqdeq_attach(db->enqdeq_area.data(), 1) != 0)
    return kNoStorage;
  int32_t counts[4] = {kCounts[0], kCounts[1], kCounts[2], kCounts[3]};
  int32_t rc = 0;
  DKCheckParams(&rc, counts, kPages, kThreads);
  if (rc == 0) {
    const char name[] = "HARBOUND";
    DKSTA9(&rc, name, static_cast<int32_t>(sizeof name - 1), counts, kPages, kThreads, 0);
  }
  if (rc != 0) return rc;
  db->base = SqlPoolCreate(kStorageWords, kInitialWords);
  if (db->base == nullptr) {
    TakeDown(db);
    return kNoStorage;
  }
  int32_t grow = kInitialWords;
  DSPoolMem(db->base, &grow, -1, 0);
  ServerInstallServices(db->base);
  for (int32_t i = 0; i < kThreads[THR_BACKGROUND]; ++i) {
    const int32_t index = kEnqdeqThreads - i;
    db->background.emplace_back([index, area = db->enqdeq_area.data()] {
      enqdeq_attach(area, index);
      try {
        DKSSD1();
      } catch (const ServerException&) {
        // An internal error ends its thread; the log names it.
      }
    });
  }
  std::error_code ec;
  db->previous_directory = std::filesystem::current_path(ec);
  if (!ec) std::filesystem::current_path(home, ec);
  if (ec) {
    TakeDown(db);
    return kBadHome;
  }
  std::vector<int32_t> block(4 + (home.size() + database.size() + 3) / 4 + 1, 0);
  block[STB_MODE] = mode;
  block[STB_MLEN] = static_cast<int32_t>(home.size());
  block[STB_DLEN] = static_cast<int32_t>(database.size());
  char* text = reinterpret_cast<char*>(block.data()) + STB_TEXT_BYTE;
  std::memcpy(text, home.data(), home.size());
  std::memcpy(text + home.size(), database.data(), database.size());
  DSStartDb(db->base, block.data(), static_cast<int32_t>(block.size() * 4));
  db->kernel_started = KernelSys(db->base) != 0;
  if (block[STB_MODE] != 0) ServerStopDatabase(db);
  return block[STB_MODE];
}

int32_t ServerStopDatabase(ServerDatabase* db) {
  int32_t first = 0;
  if (db->base != nullptr && db->kernel_started) {
    DSStopDb(db->base, &first);
    db->kernel_started = false;
  }
  const int32_t rc = TakeDown(db);
  return first != 0 ? first : rc;
}

int32_t ServerNewChannel(ServerDatabase* db, int32_t number) {
  int32_t status = 0, cha = 0;
  DSNewCha(db->base, &status, number, 3, &cha);
  return status == 0 ? cha : 0;
}

int32_t ServerLogin(ServerDatabase* db, int32_t cha, const std::string& ident,
                    const std::string& password, int32_t* usr) {
  const std::string text = ident + password;
  std::vector<int32_t> b(CNB_TEXT + (text.size() + 3) / 4 + 1, 0);
  b[CNB_SIZE] = static_cast<int32_t>(b.size());
  b[CNB_MODE] = 1;
  b[CNB_IDENT_LENGTH] = static_cast<int32_t>(ident.size());
  b[CNB_PASSWORD_LENGTH] = static_cast<int32_t>(password.size());
  std::memcpy(b.data() + CNB_TEXT, text.data(), text.size());
  int32_t params[SES_PRM_WORDS] = {0, cha, 0, 0};
  DSConnect(db->base, params, b.data(), static_cast<int32_t>(b.size()));
  std::memset(b.data() + CNB_TEXT, 0, text.size());
  *usr = params[SES_PRM_USR];
  return params[SES_PRM_STATUS];
}

int32_t ServerLogout(ServerDatabase* db, int32_t usr) {
  int32_t params[SES_PRM_WORDS] = {0, 0, usr, 0};
  DSLogout(db->base, params);
  return params[SES_PRM_STATUS];
}
