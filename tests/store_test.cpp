#include "store.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

namespace {

// Every new connection starts with secure_delete off, as in builds where that is the default.
int turnSecureDeleteOff(sqlite3* db, char** /*error*/, const sqlite3_api_routines* /*api*/) {
  return sqlite3_exec(db, "PRAGMA secure_delete = OFF", nullptr, nullptr, nullptr);
}

TEST(Store, DeletedSecretLeavesNoTraceInTheFile) {
  const std::filesystem::path home = std::filesystem::current_path();
  std::string dir = (std::filesystem::temp_directory_path() / "kavro-store-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  std::filesystem::current_path(dir);  // the store lives in the current directory

  sqlite3_auto_extension(reinterpret_cast<void (*)()>(turnSecureDeleteOff));
  sqlite3* db = openStore();
  sqlite3_reset_auto_extension();
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(sqlite3_exec(db,
                         "INSERT INTO records (key) VALUES ('KEEPTHISSECRET'), ('DROPTHISSECRET');"
                         "DELETE FROM records WHERE key = 'DROPTHISSECRET'",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  closeStore(db);

  std::ifstream file("kavro.db", std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  EXPECT_NE(bytes.find("KEEPTHISSECRET"), std::string::npos);
  EXPECT_EQ(bytes.find("DROPTHISSECRET"), std::string::npos);
  std::filesystem::current_path(home);
  std::filesystem::remove_all(dir);
}

}  // namespace
