// Creating a database: a created database opened again holds every system
// table and index with its lengths and exactly the rows written, each read
// back by its key and through each index; the program run twice refuses the
// second run and leaves the first database as it was; a creation whose
// "logdb.dbf" cannot be made leaves no directory and no registry section.
#include "tools/hbcreate/create_database.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "catalog_gen.h"
#include "dk/request.h"
#include "dk/table_entries.h"
#include "dk/table_open.h"
#include "du/record_access_words.h"
#include "platform/databank_io.h"
#include "platform/file_system.h"
#include "platform/registry.h"
#include "tools/hbcreate/databank_files.h"
#include "tools/hbcreate/tests/scratch_fixture.h"

namespace {

namespace fs = std::filesystem;

class CreateDatabaseTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    options_.home = (dir_ / "home").string();
    options_.database = "DB1";
    options_.admin = "BOSS";
    options_.sysdb_units = 300;
    options_.transdb_units = options_.logdb_units = options_.workdb_units = 8;
    std::istringstream in(password_ + "\n");
    std::string error;
    ASSERT_TRUE(ReadScrambledPassword(in, options_.admin, scrambled_, &error)) << error;
  }
  static std::string Contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::map<std::string, std::string> HomeFiles() {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(options_.home))
      files[e.path().filename().string()] = Contents(e.path());
    return files;
  }

  CreateOptions options_;
  std::string password_ = "boss-pw";
  uint8_t scrambled_[kPasswordBytes];
};

// A reopened database: every table and index opens with its lengths, every
// row reads back by key and through each index, and the rows that carry the
// administrator, the id sequence and the catalog's own description are the
// ones expected.
TEST_F(CreateDatabaseTest, ACreatedDatabaseReopensWithEveryRow) {
  const fs::path cwd = fs::current_path();
  std::string error;
  ASSERT_EQ(CreateDatabase(options_, scrambled_, password_, &error), 0) << error;
  RegistryValue dir = registry_read_value(DatabaseRegistryKey("DB1"), kRegistryDirectory);
  EXPECT_EQ(dir.text, options_.home);
  EXPECT_EQ(registry_read_value(DatabaseRegistryKey("DB1"), kRegistryStartType).dword,
            kStartOnDemand);
  for (const DatabankFile& f : kDatabankFiles)
    EXPECT_TRUE(fs::exists(fs::path(options_.home) / f.file)) << f.file;

  std::vector<TableRows> rows;
  int32_t table = 0;
  ASSERT_EQ(NewDatabaseRows("BOSS", scrambled_, &rows, &table), 0);
  ASSERT_EQ(StartCreationKernel(), 0);
  int32_t entries[kDatabankFileCount] = {};
  std::string failed;
  ASSERT_EQ(OpenDatabankFiles(options_.home, entries, &failed), 0) << failed;
  // The transaction and log databanks hold their base tables: the
  // prepared-transaction table and the large-object directory open with
  // their lengths.
  struct BaseTable {
    int32_t lid, tbl, keylen, reclen;
  };
  for (const BaseTable& t : {BaseTable{2, 5, 128, 148}, BaseTable{3, 240, 20, 44}}) {
    SCOPED_TRACE("table " + std::to_string(t.tbl));
    int32_t b[CRT_WORDS] = {};
    b[RQ_STATUS] = 3;
    b[RQ_DID] = t.lid;
    b[OPT_KIND] = kOpenAnyKind;
    b[RQ_TBL] = t.tbl;
    b[RQ_KEY_LENGTH] = t.keylen;
    b[RQ_RECORD_LENGTH] = t.reclen;
    DKEXE1(DK_OPT1, b);
    ASSERT_EQ(b[RQ_STATUS], 0);
    int32_t close[CRT_WORDS] = {};
    close[RQ_TABLE] = b[RQ_TABLE];
    close[RQ_TBL] = t.tbl;
    DKEXE1(DK_CLT1, close);
    EXPECT_EQ(close[RQ_STATUS], 0);
  }
  {
    CatalogStore store;
    ASSERT_EQ(store.Start(options_.home), 0);
    EXPECT_EQ(VerifyDatabase(store, rows, &error), 0) << error;

    // The administrator by name: its id, its kind and its scrambled password.
    CatalogRecord admin(IDENTS_RECLEN, 0);
    admin[IDENTS_IDENT_NAME] = 0;
    std::memset(admin.data() + 1, ' ', 128);
    std::memcpy(admin.data() + 1, "BOSS", 4);
    ASSERT_EQ(store.ReadByKey(CAT_IDENTS, admin), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(admin.data()) + IDENTS_IDENT_TYPE + 1, 4),
              "USER");
    EXPECT_EQ(std::memcmp(admin.data() + IDENTS_PASSWORD + 1, scrambled_, kPasswordBytes), 0);
    std::vector<CatalogRecord> by_id;
    ASSERT_EQ(store.Scan(CAT_IDENTS, 64, &by_id), 0);
    ASSERT_EQ(by_id.size(), 3u);
    EXPECT_EQ(by_id[0], admin);  // the first id of the sequence

    // Every system table is an object of schema SYSTEM.
    std::vector<CatalogRecord> objects;
    ASSERT_EQ(store.Scan(CAT_OBJECTS, 60, &objects), 0);
    int32_t system_tables = 0;
    for (const CatalogRecord& o : objects)
      system_tables += std::memcmp(o.data() + OBJECTS_OBJECT_SCHEMA + 1, "SYSTEM ", 7) == 0;
    EXPECT_EQ(system_tables, kCatalogTableCount);

    // A verification that is told of a row nobody wrote fails, naming it.
    std::vector<TableRows> more = rows;
    more.back().rows.push_back(more.back().rows.front());
    more.back().rows.back()[1] ^= 1;
    EXPECT_NE(VerifyDatabase(store, more, &error), 0);
    EXPECT_NE(error.find("system table " + std::to_string(more.back().table)), std::string::npos)
        << error;
  }
  // The kernel's begin opened "sysdb9.dbf" in the home; the working
  // directory is given back.
  EXPECT_EQ(fs::current_path(), cwd);
  const int32_t identity = SystemIdentity();
  EXPECT_NE(identity, 0);
  EXPECT_EQ(StopCreationKernel(), 0);

  // A second database carries a system identity of its own.
  options_.home = (dir_ / "home2").string();
  options_.database = "DB2";
  ASSERT_EQ(CreateDatabase(options_, scrambled_, password_, &error), 0) << error;
  ASSERT_EQ(StartCreationKernel(), 0);
  ASSERT_EQ(OpenDatabankFiles(options_.home, entries, &failed), 0) << failed;
  EXPECT_NE(SystemIdentity(), identity);
  EXPECT_EQ(StopCreationKernel(), 0);
}

// The kernel's begin over a home without "sysdb9.dbf": the store answers
// the kernel's failure, sets nothing up and leaves the working directory.
TEST_F(CreateDatabaseTest, TheBeginWithoutASystemDatabankFails) {
  const fs::path cwd = fs::current_path();
  fs::create_directories(options_.home);
  ASSERT_EQ(StartCreationKernel(), 0);
  {
    CatalogStore store;
    EXPECT_LT(store.Start(options_.home), 0);
    CatalogRecord row(kCatalogTables[0].record_length, 0);
    EXPECT_NE(store.ReadByKey(kCatalogTables[0].number, row), 0);
    EXPECT_EQ(fs::current_path(), cwd);
    EXPECT_LT(store.Start((dir_ / "missing").string()), 0);
    EXPECT_EQ(fs::current_path(), cwd);
  }
  EXPECT_EQ(StopCreationKernel(), 0);
}

// "logdb.dbf" cannot be made: exit status 1, no home directory, no section,
// and the failing file named.
TEST_F(CreateDatabaseTest, AFailingLogDatabankLeavesNothing) {
  FaultFileSystem faults(PosixFileSystem());
  faults.FailOpen("logdb.dbf", EIO);
  FileSystem* previous = mdr_install_file_system(&faults);
  std::string error;
  const int status = CreateDatabase(options_, scrambled_, password_, &error);
  mdr_install_file_system(previous);
  EXPECT_EQ(status, 1);
  EXPECT_NE(error.find("logdb.dbf"), std::string::npos) << error;
  EXPECT_FALSE(fs::exists(options_.home));
  EXPECT_FALSE(registry_key_exists(DatabaseRegistryKey("DB1")));

  // A home that was there (empty) before stays, emptied.
  fs::create_directories(options_.home);
  faults.FailOpen("logdb.dbf", EIO);
  previous = mdr_install_file_system(&faults);
  EXPECT_EQ(CreateDatabase(options_, scrambled_, password_, &error), 1);
  mdr_install_file_system(previous);
  EXPECT_TRUE(fs::is_empty(options_.home));
  EXPECT_FALSE(registry_key_exists(DatabaseRegistryKey("DB1")));
}

// The registry cannot be written (its folder is a file): the database made
// so far is removed again, since a database without its section cannot be
// started or created anew under its name.
TEST_F(CreateDatabaseTest, ARegistryThatCannotBeWrittenLeavesNothing) {
  std::ofstream(dir_ / "file") << "x";
  ::setenv("ZAVOR_REGISTRY", (dir_ / "file" / "registry").c_str(), 1);
  std::string error;
  EXPECT_EQ(CreateDatabase(options_, scrambled_, password_, &error), 1);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(options_.home));
}

// The program run twice: the second run is refused (the section exists, or
// the home directory is not empty) and the first database stays byte for
// byte as it was, its section too.
TEST_F(CreateDatabaseTest, TheSecondCreationIsRefusedAndTheFirstStaysAsItWas) {
  std::ofstream(dir_ / "pw") << "secret\n";
  auto run = [&](const std::string& name, const std::string& home) {
    const std::string cmd = std::string(HBCREATE) + " --home " + home +
                            " --admin boss --sysdb-units 300 --password-file " +
                            (dir_ / "pw").string() + " " + name + " >/dev/null 2>" +
                            (dir_ / "err").string();
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  ASSERT_EQ(run("db1", options_.home), 0) << Contents(dir_ / "err");
  const auto files = HomeFiles();
  const std::string registry = Contents(dir_ / "registry");
  EXPECT_EQ(files.size(), static_cast<size_t>(kDatabankFileCount));

  EXPECT_EQ(run("db1", (dir_ / "other").string()), 1);
  EXPECT_NE(Contents(dir_ / "err").find("registry"), std::string::npos) << Contents(dir_ / "err");
  EXPECT_EQ(run("db2", options_.home), 1);
  EXPECT_NE(Contents(dir_ / "err").find("not empty"), std::string::npos)
      << Contents(dir_ / "err");
  EXPECT_FALSE(fs::exists(dir_ / "other"));
  EXPECT_EQ(HomeFiles(), files);
  EXPECT_EQ(Contents(dir_ / "registry"), registry);
}

}  // namespace

// A failure at any step of the creation, in any file and at any write,
// leaves no home directory and no registry section, and a later creation in
// the same process succeeds.
TEST_F(CreateDatabaseTest, AFailureAtAnyStepLeavesNothing) {
  struct Fault {
    const char* what;
    std::function<void(FaultFileSystem&)> arm;
  };
  std::vector<Fault> faults;
  int failed = 0;
  for (const char* file : {"sysdb9.dbf", "transdb.dbf", "logdb.dbf", "workdb.dbf"})
    faults.push_back({file, [file](FaultFileSystem& f) { f.FailOpen(file, EACCES); }});
  for (int n : {1, 2, 3, 10, 40, 100, 200, 400, 800})
    faults.push_back({"write", [n](FaultFileSystem& f) { f.FailNthWrite(n, EIO); }});
  faults.push_back({"disk full", [](FaultFileSystem& f) { f.SetDiskFull(true); }});
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.what);
    FaultFileSystem fs(PosixFileSystem());
    fault.arm(fs);
    FileSystem* previous = mdr_install_file_system(&fs);
    std::string error;
    const int status = CreateDatabase(options_, scrambled_, password_, &error);
    mdr_install_file_system(previous);
    if (status == 0) {
      // The fault fell past the creation's last write.
      fs::remove(registry_);
      fs::remove_all(options_.home);
      continue;
    }
    ++failed;
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(fs::exists(options_.home)) << error;
    EXPECT_FALSE(registry_key_exists(DatabaseRegistryKey("DB1"))) << error;
  }
  EXPECT_GE(failed, 10);
  std::string error;
  EXPECT_EQ(CreateDatabase(options_, scrambled_, password_, &error), 0) << error;
}

// A home whose name ends in a blank cannot be recorded in the registry as it
// is (the blank would be lost when the section is read): the creation is
// refused and leaves nothing.
TEST_F(CreateDatabaseTest, AHomeEndingInABlankIsRefusedAndLeavesNothing) {
  options_.home = (dir_ / "home ").string();
  std::string error;
  EXPECT_EQ(CreateDatabase(options_, scrambled_, password_, &error), 1);
  EXPECT_FALSE(fs::exists(options_.home)) << error;
  EXPECT_FALSE(registry_key_exists(DatabaseRegistryKey("DB1")));
}
