// The code store: the file "kavro.db" in the current directory, its table and its statements.
#pragma once

#include <string>

#include <sqlite3.h>

inline constexpr char sql_insert[] = "INSERT INTO records (key, site, account) VALUES (?, ?, ?)";
inline constexpr char sql_delete[] = "DELETE FROM records WHERE id = ?";
inline constexpr char sql_select[] = "SELECT id, key, site, account FROM records ORDER BY id";
inline constexpr char sql_select_one[] = "SELECT id, key, site, account FROM records WHERE id = ?";
// Taken at its start, the write lock is waited for there, not met halfway.
inline constexpr char sql_begin[] = "BEGIN IMMEDIATE";
inline constexpr char sql_commit[] = "COMMIT";

// Opens the store, creating the file (readable and writable by its owner only, under the run's
// umask 077) and its table when they are missing. Refuses a file that is not a regular one, that
// another user owns, that group or others may write or that has more than one hard link; warns
// when group or others may read it or others may change a directory on the way to it. A store
// that another run holds locked is waited for up to 5 seconds. Returns nullptr after writing the
// failure line.
sqlite3* openStore();

// Whether kavro.db, when there is one, would pass openStore's checks; creates and changes nothing.
// Writes the failure line when it would not.
bool checkExistingStore();

// Returns nullptr after writing the failure line.
sqlite3_stmt* prepareStatement(sqlite3* db, const char* sql);

// Runs `sql`; on failure writes `context` with the error text that SQLite gave for it.
bool execute(sqlite3* db, const char* sql, const std::string& context);

void closeStore(sqlite3* db);

// Writes "<context>: <the connection's last error text>" as one line on standard error.
void reportStoreError(const std::string& context, sqlite3* db);
