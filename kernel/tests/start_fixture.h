// A database for the kernel's start in a scratch home: the databank kernel
// makes "sysdb9.dbf", DSOpenSesDb mode 3 makes logical ids 2, 3 and 4, and
// the kernel is stopped again, so that each test starts it by DSStartDb.
// The dictionary's statement images are canned (their parameters and
// columns laid out as the kernel reads them) and a fake interpreter answers
// the catalog statements: databank rows, the catalog version check, the
// collation list and the login of an ident.
#pragma once

#include <functional>

#include "kernel/catalog_lists.h"
#include "kernel/kernel_begin.h"
#include "kernel/tests/databank_fixture.h"
#include "kernel/thread_blocks.h"
#include "platform/password_scramble.h"

// Header word of a canned image that names its number (the program words
// the kernel does not read).
inline constexpr int32_t kImageNumberWord = 17;

struct CannedImage {
  std::vector<int16_t> header;
  std::vector<int32_t> body;
};

// An image whose parameters and columns have the given field lengths.
inline CannedImage MakeImage(int32_t number, const std::vector<int32_t>& inputs,
                             const std::vector<int32_t>& outputs) {
  CannedImage img;
  img.header.assign(SD_MIN_WORDS, 0);
  img.header[SD_CALL_LIST] = -1;
  img.header[kImageNumberWord] = static_cast<int16_t>(number);
  int32_t at = 0;
  auto table = [&](int32_t field, const std::vector<int32_t>& lengths) {
    img.header[field] = static_cast<int16_t>(img.header.size());
    img.header[field + 1] = static_cast<int16_t>(lengths.size());
    for (int32_t len : lengths) {
      img.header.push_back(static_cast<int16_t>(at));
      img.header.push_back(static_cast<int16_t>(len));
      at += len;
    }
  };
  table(SD_INPUT_TABLE, inputs);
  table(SD_OUTPUT_TABLE, outputs);
  img.body = {-(at / 4 + 1), 0};
  return img;
}

inline std::map<int32_t, CannedImage>& CannedImages() {
  static std::map<int32_t, CannedImage> images = [] {
    std::map<int32_t, CannedImage> m;
    m[-255] = MakeImage(-255, {8, 8}, {129, 8, 257, 8, 2, 2, 2, 2});
    for (int32_t n : {-254, -253, -252, -251, -244}) m[n] = MakeImage(n, {}, {});
    // Login: ident name, -, scrambled password, administrator's name, -, node.
    m[-250] = MakeImage(-250, {129, 8, 19, 129, 8, 129}, {8, 129});
    m[-249] = MakeImage(-249, {}, {9});
    m[COLLATION_LIST_IMAGE] = MakeImage(COLLATION_LIST_IMAGE, {}, {8, 257});
    return m;
  }();
  return images;
}

inline int32_t ServeImage(int32_t number, const int16_t** header, int32_t* hl,
                           const int32_t** body, int32_t* bl) {
  auto& images = CannedImages();
  auto it = images.find(number);
  if (it == images.end()) return -19040;
  *header = it->second.header.data();
  *hl = static_cast<int32_t>(it->second.header.size());
  *body = it->second.body.data();
  *bl = static_cast<int32_t>(it->second.body.size());
  return 0;
}

inline int32_t ImageNumber(int32_t* base, int32_t stm) {
  const int32_t sd = sqlpool_word(base, stm + STM_SD);
  return sqlpool_word(base, sd + kImageNumberWord);
}

// What the catalog answers.
struct Catalog {
  int32_t version_error = 0;  // the check statement's error, 0 accepted
  std::string version = "01.02.03";
  // Ident name -> (id, password); the administrator's row holds the names
  // that may act as "_SYSTEM_ADM".
  std::map<std::string, std::pair<int32_t, std::string>> idents;
  std::vector<std::string> administrators;
  int32_t check_runs = 0;
  std::mutex mutex;
};
inline Catalog g_catalog;

inline std::string ParameterText(int32_t* base, int32_t stm, int32_t n) {
  uint8_t* f = nullptr;
  int32_t len = 0;
  if (StatementField(base, stm, false, n, &f, &len) != 0 || f[0] == 255) return "";
  std::string s(reinterpret_cast<char*>(f + 1), len - 1);
  while (!s.empty() && (s.back() == ' ' || s.back() == 0)) s.pop_back();
  return s;
}

inline void FakeCatalog(int32_t* base, int32_t* result, int32_t stm, int32_t usr) {
  const int32_t number = ImageNumber(base, stm);
  int32_t& pc = sqlpool_word(base, stm + STM_PC);
  if (number == -255) return FakeDatabankRows(base, result, stm, usr);
  std::memset(result, 0, 13 * sizeof(int32_t));
  if (number == -249) {
    std::lock_guard<std::mutex> lock(g_catalog.mutex);
    ++g_catalog.check_runs;
    PutColumnText(base, stm, 1, g_catalog.version);
    result[0] = result[1] = g_catalog.version_error;
    pc = 0;
    return;
  }
  if (number == -250) {
    // A row for a known ident with its password, or for the administrator
    // check an ident that may act as "_SYSTEM_ADM".
    const std::string name = ParameterText(base, stm, 1);
    std::lock_guard<std::mutex> lock(g_catalog.mutex);
    bool row = false;
    if (name == "_SYSTEM_ADM") {
      const std::string who = ParameterText(base, stm, 4);
      for (const auto& a : g_catalog.administrators) row = row || a == who;
      if (row) {
        PutColumnInt(base, stm, 1, 1);
        PutColumnText(base, stm, 2, "_SYSTEM_ADM");
      }
    } else if (auto it = g_catalog.idents.find(name); it != g_catalog.idents.end()) {
      uint8_t* f = nullptr;
      int32_t len = 0;
      StatementField(base, stm, false, 3, &f, &len);
      std::string pw = it->second.second, id = name;
      pw.resize(18, ' ');
      id.resize(18, ' ');
      uint8_t stored[kPasswordBytes];
      mdr_password_scramble_ident(stored, reinterpret_cast<const uint8_t*>(pw.data()),
                                  reinterpret_cast<const uint8_t*>(id.data()));
      if (std::memcmp(f + 1, stored, 18) == 0) {
        row = true;
        PutColumnInt(base, stm, 1, it->second.first);
        PutColumnText(base, stm, 2, name);
      }
    }
    if (row) {
      pc = 3;
    } else {
      pc = 0;
      result[0] = 100;
    }
    return;
  }
  pc = 0;  // the collation list and the others: no rows
}

inline int32_t OpensOk(int32_t*, int32_t, int32_t) {
  return 0;
}
inline int32_t TcbHashOk(int32_t*) {
  return 0;
}
inline int32_t SysTableOk(int32_t*, const int32_t*, int32_t, int32_t) {
  return 0;
}
inline int32_t InfoFreeOk(int32_t*, int32_t* area) {
  *area = 0;
  return 0;
}
inline int32_t InfoClearOk(int32_t*, int32_t) {
  return 0;
}

class DbStartTest : public DatabankTest {
 protected:
  void SetUp() override {
    DatabankTest::SetUp();
    services_.dd_stmt_image = ServeImage;
    services_.open_com_tables = OpensOk;
    services_.du_crt_tcb_hash = TcbHashOk;
    services_.du_open_sys_table = SysTableOk;
    services_.info_free = InfoFreeOk;
    services_.info_clear = InfoClearOk;
    {
      std::lock_guard<std::mutex> lock(g_catalog.mutex);
      g_catalog.version_error = 0;
      g_catalog.idents.clear();
      g_catalog.administrators.clear();
      g_catalog.check_runs = 0;
    }
    MakeFile("sysdb9.dbf", 1, 1, 1);
    const char* files[] = {"", "", "transdb.dbf", "logdb.dbf", "workdb.dbf"};
    const char* names[] = {"", "SYSDB", "TRANSDB", "LOGDB", "WORKDB"};
    for (int32_t lid = 2; lid <= 4; ++lid) {
      std::vector<int32_t> rq(ODF_WORDS, 0);
      rq[ODF_MODE] = 3;
      rq[ODF_LID] = lid;
      rq[ODF_SEQNO] = 1;
      rq[ODF_TYPE] = lid;
      rq[ODF_SIZE] = 16;
      Text(rq.data() + ODF_NAME, names[lid], 128);
      Text(rq.data() + ODF_KERNEL_NAME, names[lid], 128);
      Text(rq.data() + ODF_FILE, files[lid], 256);
      DSOpenSesDb(base_, rq.data());
      ASSERT_EQ(rq[ODF_MODE], 0) << lid;
    }
    g_rows.clear();
    const char* letters[] = {"", "N", "T", "L", "W"};
    g_rows[1] = {DatabankRow{"SYSDB", "sysdb9.dbf", "N"}};
    for (int32_t lid = 2; lid <= 4; ++lid)
      g_rows[lid] = {DatabankRow{names[lid], files[lid], letters[lid]}};
    services_.damae2 = FakeCatalog;
    // The scratch kernel goes; the tests start their own.
    SetSlot(TLS_SLOT_THR, 0);
    int32_t status = 0;
    DSStopDb(base_, &status);
    ASSERT_EQ(status, 0);
    ASSERT_EQ(KernelSys(base_), 0);
    sys_ = 0;
    // The databank kernel keeps closed databanks as entries; they go, so
    // that each start opens the files again.
    for (int32_t lid = 2; lid <= 4; ++lid) {
      int32_t cld[4] = {1, 0, lid, -1};
      DKEXE1(DKF_CLD1, cld);
      ASSERT_EQ(KernelEntry(lid), 0);
    }
    live_ = Live();
  }
  void TearDown() override {
    int32_t status = 0;
    if (KernelSys(base_) != 0) DSStopDb(base_, &status);
    SetSlot(TLS_SLOT_THR, 0);
    int32_t rc = 0;
    DKShutdown(&rc);
    std::filesystem::current_path(old_dir_);
    std::filesystem::remove_all(dir_);
    CoreTest::TearDown();
  }

  // DSStartDb with a home and database name; its status.
  int32_t Start(int32_t mode) {
    std::vector<int32_t> block(64, 0);
    const std::string home = dir_, db = "TESTDB";
    block[STB_MODE] = mode;
    block[STB_MLEN] = static_cast<int32_t>(home.size());
    block[STB_DLEN] = static_cast<int32_t>(db.size());
    char* text = reinterpret_cast<char*>(block.data()) + STB_TEXT_BYTE;
    std::memcpy(text, home.data(), home.size());
    std::memcpy(text + home.size(), db.data(), db.size());
    DSStartDb(base_, block.data(), static_cast<int32_t>(block.size() * 4));
    sys_ = KernelSys(base_);
    return block[STB_MODE];
  }
  int32_t Did(int32_t lid) {
    const int32_t dcb = Find(lid);
    return dcb == 0 ? 0 : W(dcb, DCB_DID);
  }

  int64_t live_ = 0;
};
