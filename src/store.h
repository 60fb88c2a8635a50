// The code store: the file "kavro.db" in the current directory, its table and its statements.
#pragma once

#include <string>

#include <sqlite3.h>

inline constexpr char sql_insert[] = "INSERT INTO records (key, site, account) VALUES (?, ?, ?)";
inline constexpr char sql_delete[] = "DELETE FROM records WHERE id = ?";
inline constexpr char sql_select[] = "SELECT * FROM records ORDER BY id";

// Opens the store, creating the file (readable and writable by its owner only) and its table
// when they are missing. Refuses a file that another user owns or that group or others may write,
// and warns when they may read it. Returns nullptr after writing the failure line.
sqlite3* openStore();

// Returns nullptr after writing the failure line.
sqlite3_stmt* prepareStatement(sqlite3* db, const char* sql);

void closeStore(sqlite3* db);

// Writes "<context>: <the connection's last error text>" as one line on standard error.
void reportStoreError(const std::string& context, sqlite3* db);
