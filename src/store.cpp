#include "store.h"

#include <iostream>

#include <sys/stat.h>

namespace {

constexpr char kFileName[] = "kavro.db";
constexpr char sql_create_table[] =
    "CREATE TABLE IF NOT EXISTS records (id INTEGER PRIMARY KEY, key TEXT NOT NULL, site TEXT, "
    "account TEXT)";

void writeErrorLine(const std::string& context, const char* detail) {
  std::cerr << context << ": " << detail << std::endl;
}

// Runs `sql`; on failure writes `context` with the error text that SQLite gave for it.
bool execute(sqlite3* db, const char* sql, const std::string& context) {
  char* error = nullptr;
  const bool done = sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK;
  if (!done) writeErrorLine(context, error != nullptr ? error : sqlite3_errmsg(db));
  sqlite3_free(error);
  return done;
}

}  // namespace

sqlite3* openStore() {
  sqlite3* db = nullptr;
  // The file holds secrets in clear: a new one is created owner-only whatever the caller's
  // umask. SQLite gives its journals the mode of the database file.
  const mode_t callerMask = umask(0077);
  const int opened = sqlite3_open(kFileName, &db);
  umask(callerMask);
  if (opened != SQLITE_OK) {
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
    sqlite3_finalize(stmt);
    return nullptr;
  }
  return stmt;
}

void closeStore(sqlite3* db) { sqlite3_close(db); }

void reportStoreError(const std::string& context, sqlite3* db) {
  writeErrorLine(context, sqlite3_errmsg(db));
}
