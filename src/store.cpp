#include "store.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kFileName[] = "kavro.db";
constexpr char sql_create_table[] =
    "CREATE TABLE IF NOT EXISTS records (id INTEGER PRIMARY KEY, key TEXT NOT NULL, site TEXT,"
    " account TEXT)";

void writeErrorLine(const std::string& context, const char* detail) {
  std::cerr << context << ": " << detail << std::endl;
}

// Runs `sql`; on failure writes `context` with the error text that SQLite gave for it.
bool execute(sqlite3* db, const char* sql, const std::string& context) {
  const bool done = sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!done) reportStoreError(context, db);
  return done;
}

}  // namespace

sqlite3* openStore() {
  // kavro opens the file itself first, and checks the file it reached, a symbolic link followed:
  // secrets go only into a store that is the user's own. SQLite then opens the name again, which
  // only those who may write the directory can point elsewhere in between. A new store is created
  // owner-only, and SQLite gives its journals the mode of the database file.
  const int fd = open(kFileName, O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  struct stat file = {};
  const bool opened = fd >= 0 && fstat(fd, &file) == 0;
  const int error = errno;
  if (fd >= 0) close(fd);
  const std::string problem = !opened                    ? std::strerror(error)
                              : !S_ISREG(file.st_mode)   ? "kavro.db is not a regular file"
                              : file.st_uid != geteuid() ? "kavro.db belongs to another user"
                              : (file.st_mode & (S_IWGRP | S_IWOTH)) != 0
                                  ? "group or others may write kavro.db"
                                  : "";
  if (!problem.empty()) {
    writeErrorLine("Error opening database", problem.c_str());
    return nullptr;
  }
  if ((file.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    std::cerr << "Warning: group or others may read the secrets in kavro.db: chmod 600 kavro.db"
              << std::endl;
  }

  sqlite3* db = nullptr;
  if (sqlite3_open(kFileName, &db) != SQLITE_OK) {
    reportStoreError("Error opening database", db);
    closeStore(db);
    return nullptr;
  }
  // A deleted secret must not linger in the file's free pages; some builds leave this off.
  if (!execute(db, "PRAGMA secure_delete = ON", "Error opening database") ||
      !execute(db, sql_create_table, "Error creating table")) {
    closeStore(db);
    return nullptr;
  }
  return db;
}

sqlite3_stmt* prepareStatement(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    reportStoreError("Error preparing statement", db);
    return nullptr;  // SQLite leaves no statement to finalize
  }
  return stmt;
}

void closeStore(sqlite3* db) { sqlite3_close(db); }

void reportStoreError(const std::string& context, sqlite3* db) {
  writeErrorLine(context, sqlite3_errmsg(db));
}
