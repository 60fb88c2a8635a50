#include "store.h"

#include <filesystem>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "test_support.h"

namespace {

// The store lives in the current directory, so each test moves into its scratch directory.
class StoreTest : public ScratchDirTest {
 protected:
  void SetUp() override {
    ScratchDirTest::SetUp();
    home_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(home_);
    ScratchDirTest::TearDown();
  }
  std::filesystem::path home_;
};

void insert(sqlite3* db, const char* key) {
  sqlite3_stmt* stmt = prepareStatement(db, sql_insert);
  sqlite3_bind_text(stmt, 1, key, -1, SQLITE_STATIC);
  ASSERT_EQ(sqlite3_step(stmt), SQLITE_DONE);
  sqlite3_finalize(stmt);
}

TEST_F(StoreTest, NewFileIsOwnerOnlyWhateverTheUmask) {
  const mode_t callerMask = umask(0);
  sqlite3* db = openStore();
  umask(callerMask);
  ASSERT_NE(db, nullptr);
  insert(db, "A");  // writes through a journal, which must not widen the file's mode either
  closeStore(db);
  struct stat info {};
  ASSERT_EQ(stat("kavro.db", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);
}

TEST_F(StoreTest, ExistingFileKeepsItsModeAndRows) {
  closeStore(openStore());
  chmod("kavro.db", 0640);
  sqlite3* db = openStore();
  insert(db, "A");
  closeStore(db);
  struct stat info {};
  ASSERT_EQ(stat("kavro.db", &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640U);
  closeStore(openStore());
  EXPECT_EQ(query("kavro.db", "SELECT id, key, site FROM records"), "1|A|NULL\n");
}

TEST_F(StoreTest, FreedTopIdIsGivenAgainButNotAFreedLowerOne) {
  sqlite3* db = openStore();
  for (const char* key : {"A", "B", "C"}) insert(db, key);
  sqlite3_exec(db, "DELETE FROM records WHERE id = 3", nullptr, nullptr, nullptr);
  insert(db, "D");
  sqlite3_exec(db, "DELETE FROM records WHERE id = 1", nullptr, nullptr, nullptr);
  insert(db, "E");
  closeStore(db);
  EXPECT_EQ(query("kavro.db", "SELECT id, key FROM records"), "2|B\n3|D\n4|E\n");
}

}  // namespace
