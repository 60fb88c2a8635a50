#include "store.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <iostream>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kFileName[] = "kavro.db";
constexpr char kOpenError[] = "Error opening database";
constexpr char sql_create_table[] =
    "CREATE TABLE IF NOT EXISTS records (id INTEGER PRIMARY KEY, key TEXT NOT NULL, site TEXT,"
    " account TEXT)";
// One row where the store has tables: 1 where one of them is kavro's.
constexpr char sql_find_table[] =
    "SELECT name = 'records' FROM sqlite_master WHERE type = 'table' ORDER BY 1 DESC LIMIT 1";
// How long a run waits for another run's lock before it gives up, in milliseconds.
constexpr int kBusyTimeout = 5000;
// The most symbolic links that the look at the way to kavro.db follows, as many as Linux does.
constexpr int kMaxLinks = 40;

void writeErrorLine(const std::string& context, const char* detail) {
  std::cerr << context << ": " << detail << std::endl;
}

// Whether someone besides the user may change `directory`: group or others may write it, or it
// belongs to a user other than the one running and root, who may make it writable at will.
bool othersMayChange(const std::string& directory) {
  struct stat status = {};
  return stat(directory.c_str(), &status) == 0 &&
         ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 ||
          (status.st_uid != geteuid() && status.st_uid != 0));
}

// Whether someone besides the user may change a directory on the way to kavro.db: the one that
// holds the name, each one that holds a symbolic link it leads through, and the one that holds the
// file at the end, beside which SQLite keeps the journal. Whoever may change any of them can swap
// the file after the check.
bool othersMayChangeTheWay() {
  std::string path = kFileName;
  char target[PATH_MAX];
  for (int links = 0; links <= kMaxLinks; ++links) {
    // Up to the last slash; empty for a name in the current directory, as npos + 1 is 0.
    const std::string directory = path.substr(0, path.rfind('/') + 1);
    if (othersMayChange(directory.empty() ? "." : directory)) return true;
    const ssize_t size = readlink(path.c_str(), target, sizeof target);
    if (size <= 0) return false;  // no link: the file, whose directory is checked
    // A relative target starts from the directory that holds the link.
    path = (target[0] == '/' ? "" : directory) + std::string(target, size);
  }
  return false;
}

// What keeps kavro.db from being a store of the user's own; empty when nothing does. With `create`
// a missing file is made, owner-only under the run's umask 077; without, a missing file is no
// problem. `file` is what was checked.
std::string storeFileProblem(bool create, struct stat& file) {
  // Opened for a look at what it is, a symbolic link followed, never blocking on a FIFO. O_EXCL
  // tells a file made here from one that was there; as it follows no link, a name that exists is
  // opened again without it.
  constexpr int kFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  const int made = create ? open(kFileName, kFlags | O_CREAT | O_EXCL, 0600) : -1;
  const int fd = made >= 0 || (create && errno != EEXIST) ? made : open(kFileName, kFlags);
  if (fd < 0) return !create && errno == ENOENT ? "" : std::strerror(errno);
  const bool ready = fstat(fd, &file) == 0;
  const int error = errno;
  close(fd);
  if (!ready) return std::strerror(error);
  if (!S_ISREG(file.st_mode)) return "kavro.db is not a regular file";
  if (file.st_uid != geteuid()) return "kavro.db belongs to another user";
  if ((file.st_mode & (S_IWGRP | S_IWOTH)) != 0) return "group or others may write kavro.db";
  // SQLite finds the journal by the name it opened, so a run under another name would miss a hot
  // journal and write over the pages it holds.
  if (file.st_nlink > 1) return "kavro.db has more than one hard link";
  return "";
}

// Creates the table in a new store. A database that has tables but none of kavro's belongs to
// another program and is left as it is. Writes the failure line and returns false otherwise.
bool createTable(sqlite3* db) {
  constexpr char kContext[] = "Error creating table";
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql_find_table, -1, &stmt, nullptr) != SQLITE_OK) {
    reportStoreError(kContext, db);
    return false;
  }
  const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> finalized(stmt,
                                                                             &sqlite3_finalize);
  const int found = sqlite3_step(stmt);
  if (found == SQLITE_DONE) return execute(db, sql_create_table, kContext);
  if (found != SQLITE_ROW) {
    reportStoreError(kContext, db);
    return false;
  }
  if (sqlite3_column_int(stmt, 0) == 0) {
    writeErrorLine(kOpenError, "kavro.db is another program's database: it has no records table");
    return false;
  }
  return true;
}

}  // namespace

bool checkExistingStore() {
  struct stat file = {};
  const std::string problem = storeFileProblem(false, file);
  if (!problem.empty()) writeErrorLine(kOpenError, problem.c_str());
  return problem.empty();
}

sqlite3* openStore() {
  // kavro opens the file itself first, and checks the file it reached: secrets go only into a
  // store that is the user's own. SQLite then opens the name again without creating it, which
  // only those who may write the directory can point elsewhere in between; SQLite gives its
  // journal the mode of the database file, which the run's umask lets through from the start.
  struct stat file = {};
  const std::string problem = storeFileProblem(true, file);
  if (!problem.empty()) {
    writeErrorLine(kOpenError, problem.c_str());
    return nullptr;
  }
  if ((file.st_mode & (S_IRGRP | S_IROTH)) != 0) {
    std::cerr << "Warning: group or others may read the secrets in kavro.db: chmod 600 kavro.db"
              << std::endl;
  }
  if (othersMayChangeTheWay()) {
    std::cerr << "Warning: others may write the directory of kavro.db, and so replace it or plant"
                 " its journal: keep the store in a directory of your own"
              << std::endl;
  }

  sqlite3* opened = nullptr;
  // One thread uses the connection, so it needs no mutex of its own: each call to SQLite costs
  // less, and a listing makes seven a row.
  const int result =
      sqlite3_open_v2(kFileName, &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  // SQLite hands back a connection to close even where it could not open the file.
  std::unique_ptr<sqlite3, decltype(&closeStore)> db(opened, &closeStore);
  if (result != SQLITE_OK) {
    reportStoreError(kOpenError, db.get());
    return nullptr;
  }
  // Every statement of kavro's takes its locks at its start, where SQLite may wait for them.
  sqlite3_busy_timeout(db.get(), kBusyTimeout);
  // A deleted secret must not linger in the file's free pages; some builds leave this off.
  if (!execute(db.get(), "PRAGMA secure_delete = ON", kOpenError) || !createTable(db.get())) {
    return nullptr;
  }
  return db.release();
}

sqlite3_stmt* prepareStatement(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
    reportStoreError("Error preparing statement", db);
    return nullptr;  // SQLite leaves no statement to finalize
  }
  return stmt;
}

bool execute(sqlite3* db, const char* sql, const std::string& context) {
  const bool done = sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
  if (!done) reportStoreError(context, db);
  return done;
}

void closeStore(sqlite3* db) { sqlite3_close(db); }

void reportStoreError(const std::string& context, sqlite3* db) {
  writeErrorLine(context, sqlite3_errmsg(db));
}
