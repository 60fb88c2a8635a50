#include "commands.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <iostream>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "key_uri.h"
#include "migration.h"
#include "otp.h"
#include "output.h"
#include "record_text.h"
#include "store.h"

namespace {

constexpr std::uint64_t kTimeStep = 30;
constexpr std::uint32_t kCodeDigits = 6;
constexpr char kInsertError[] = "Error inserting data";
constexpr char kRetrieveError[] = "Error retrieving data";

using StorePtr = std::unique_ptr<sqlite3, decltype(&closeStore)>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

// Column text of the current row, in SQLite's own buffer and NUL bytes included, valid until the
// next step; a NULL reads as empty text.
std::string_view columnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  // The length only once the text is there, so that it counts the bytes of that text.
  const int length = sqlite3_column_bytes(stmt, column);
  return text != nullptr ? std::string_view(reinterpret_cast<const char*>(text),
                                            static_cast<std::size_t>(length))
                         : std::string_view();
}

// The key of the current row, which ends at a NUL byte, as when its column was read as a C string:
// the codes of a store from elsewhere stay those it gave before.
std::string_view columnKey(sqlite3_stmt* stmt) {
  const unsigned char* text = sqlite3_column_text(stmt, 1);
  return text != nullptr ? std::string_view(reinterpret_cast<const char*>(text))
                         : std::string_view();
}

// Writes `line` and a newline, and wipes it; its room stays for the next line. False when it could
// not be written.
bool writeSecretLine(std::string& line) {
  line.push_back('\n');
  const bool written = writeOutput(line);
  wipe(line);
  return written;
}

// Writes "Cannot export ID <id>: <why>" as one line on standard error.
void reportUnexported(sqlite3_int64 id, const char* why) {
  std::cerr << "Cannot export ID " << id << ": " << why << std::endl;
}

constexpr char kTooLong[] = "its line would be longer than the 4096 bytes of a key";

// Whether the export line of `count` accounts from `first` is one to give, with the largest batch
// numbers that `accounts` can have, so that the real ones never make the line longer.
bool exportFits(const std::deque<MigrationAccount>& accounts, std::size_t first,
                std::size_t count) {
  const auto start = accounts.begin() + static_cast<std::ptrdiff_t>(first);
  std::vector<MigrationAccount> part(start, start + static_cast<std::ptrdiff_t>(count));
  const auto largest = static_cast<std::int32_t>(accounts.size());
  std::string line = migrationUri(part, largest, largest, -1);
  const bool fits = !line.empty();
  wipe(line);
  for (MigrationAccount& account : part) wipe(account.secret);
  return fits;
}

// Writes the accounts as phone app exports, the lines one export: each of at most
// kMaxMigrationAccounts accounts and, so that addcode takes it back, at most kMaxKeyLength bytes.
// An account too long for a line of its own is named on standard error; returns 1 then, else 0.
int writeMigrationUris(const std::deque<MigrationAccount>& accounts,
                       const std::deque<sqlite3_int64>& ids) {
  int status = 0;
  std::vector<std::pair<std::size_t, std::size_t>> parts;  // each line's first account and count
  for (std::size_t first = 0; first < accounts.size();) {
    std::size_t count = 0;
    while (count < kMaxMigrationAccounts && first + count < accounts.size() &&
           exportFits(accounts, first, count + 1)) {
      ++count;
    }
    if (count == 0) {
      reportUnexported(ids[first], kTooLong);
      status = 1;
      ++first;
    } else {
      parts.emplace_back(first, count);
      first += count;
    }
  }
  // Any number tells the lines of one export from another's: the clock's seconds, new for every
  // export but one made in the same second.
  const auto batchId = static_cast<std::int32_t>(std::time(nullptr));
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const auto start = accounts.begin() + static_cast<std::ptrdiff_t>(parts[i].first);
    std::vector<MigrationAccount> part(start, start + static_cast<std::ptrdiff_t>(parts[i].second));
    std::string line = migrationUri(part, static_cast<std::int32_t>(parts.size()),
                                    static_cast<std::int32_t>(i), batchId);
    const bool written = writeSecretLine(line);
    for (MigrationAccount& account : part) wipe(account.secret);
    if (!written) return 1;
  }
  return status;
}

// Writes a line for each row of `stmt`, decoding each row's key into `secret`; returns 1 after an
// error line, else 0. The caller wipes `secret` once, whichever way the listing ends.
int listRows(sqlite3* db, sqlite3_stmt* stmt, std::string& secret) {
  int result = SQLITE_OK;
  std::string line;  // one buffer for every row's line
  while ((result = sqlite3_step(stmt)) == SQLITE_ROW) {
    const sqlite3_int64 id = sqlite3_column_int64(stmt, 0);
    base32Decode(columnKey(stmt), secret);
    const std::optional<std::string> code = generateOTP(secret, kTimeStep, kCodeDigits);
    if (!code) return 1;
    line.clear();
    appendRecordLine(line, id, columnText(stmt, 2), columnText(stmt, 3), *code);
    if (!writeOutput(line)) return 1;
  }
  if (result != SQLITE_DONE) {
    reportStoreError(kRetrieveError, db);
    return 1;
  }
  return 0;
}

}  // namespace

std::optional<std::int64_t> parseId(const std::string& text) {
  std::string::size_type start = std::min(text.find_first_not_of(" \t\n\v\f\r"), text.size());
  // from_chars reads a minus sign but not a plus sign; "+-3" stays refused.
  if (text.compare(start, 1, "+") == 0 && text.compare(start + 1, 1, "-") != 0) ++start;
  std::int64_t id = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + start, end, id);
  if (error != std::errc() || stop != end) return std::nullopt;
  return id;
}

// Stores every account of a phone app's export, all or none, and prints each as lscodes would.
int addExported(sqlite3* db, const MigrationBatch& exported) {
  // The codes are computed first, so that a run that cannot compute them stores nothing.
  std::vector<std::string> codes;
  for (const MigrationAccount& account : exported.accounts) {
    std::optional<std::string> code = generateOTP(account.secret, kTimeStep, kCodeDigits);
    if (!code) return 1;
    codes.push_back(std::move(*code));
  }
  const StatementPtr stmt(prepareStatement(db, sql_insert), &sqlite3_finalize);
  // A transaction left open is rolled back as the run closes the store.
  if (!stmt || !execute(db, sql_begin, kInsertError)) return 1;
  std::vector<sqlite3_int64> ids;
  for (const MigrationAccount& account : exported.accounts) {
    std::string key = base32Encode(account.secret);
    sqlite3_bind_text(stmt.get(), 1, key.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(stmt.get(), 2, account.site.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(stmt.get(), 3, account.account.c_str(), -1, SQLITE_STATIC);
    const bool inserted = sqlite3_step(stmt.get()) == SQLITE_DONE;
    sqlite3_reset(stmt.get());
    wipe(key);
    if (!inserted) {
      reportStoreError(kInsertError, db);
      return 1;
    }
    ids.push_back(sqlite3_last_insert_rowid(db));
  }
  if (!execute(db, sql_commit, kInsertError)) return 1;
  std::string line;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    line.clear();
    appendRecordLine(line, ids[i], exported.accounts[i].site, exported.accounts[i].account,
                     codes[i]);
    if (!writeOutput(line)) return 1;
  }
  if (exported.batchSize > 1) {
    std::cerr << "Warning: this is part " << exported.batchIndex + 1 << " of " << exported.batchSize
              << " of the export: add the other parts as well" << std::endl;
  }
  return 0;
}

int addCode(sqlite3* db, const Invocation& invocation) {
  if (!invocation.exported.accounts.empty()) return addExported(db, invocation.exported);
  // The code is computed first, so that a run that cannot compute it stores nothing.
  std::string secret = base32Decode(invocation.key);
  const std::optional<std::string> code = generateOTP(secret, kTimeStep, kCodeDigits);
  wipe(secret);
  if (!code) return 1;

  const StatementPtr stmt(prepareStatement(db, sql_insert), &sqlite3_finalize);
  if (!stmt) return 1;
  sqlite3_bind_text(stmt.get(), 1, invocation.key.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(stmt.get(), 2, invocation.site.c_str(), -1, SQLITE_STATIC);
  sqlite3_bind_text(stmt.get(), 3, invocation.account.c_str(), -1, SQLITE_STATIC);
  if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
    reportStoreError(kInsertError, db);
    return 1;
  }
  return writeOutput("Generated code: " + *code + "\n") ? 0 : 1;
}

int deleteCode(sqlite3* db, const Invocation& invocation) {
  const StatementPtr stmt(prepareStatement(db, sql_delete), &sqlite3_finalize);
  if (!stmt) return 1;
  sqlite3_bind_int64(stmt.get(), 1, *parseId(invocation.id));  // checked before the run
  if (sqlite3_step(stmt.get()) != SQLITE_DONE) {
    reportStoreError("Error deleting data", db);
    return 1;
  }
  if (sqlite3_changes(db) == 0) {
    std::cerr << "No record with ID " << invocation.id << std::endl;
    return 1;
  }
  return writeOutput("ID " + invocation.id + " deleted successfully.\n") ? 0 : 1;
}

int listCodes(sqlite3* db, const Invocation& /*invocation*/) {
  const StatementPtr stmt(prepareStatement(db, sql_select), &sqlite3_finalize);
  if (!stmt) return 1;
  std::string secret;  // one buffer for every row's key
  const int status = listRows(db, stmt.get(), secret);
  wipe(secret);
  return status;
}

int exportCodes(sqlite3* db, const Invocation& invocation) {
  const bool one = !invocation.id.empty();
  const StatementPtr stmt(prepareStatement(db, one ? sql_select_one : sql_select),
                          &sqlite3_finalize);
  if (!stmt) return 1;
  if (one) sqlite3_bind_int64(stmt.get(), 1, *parseId(invocation.id));  // checked before the run
  const bool uri = invocation.format != "migration";
  int status = 0;
  bool found = false;
  std::string line;  // one buffer for every row's line, wiped after each
  // For the phone app's export, written at the end; a deque never moves an account, so that wipe
  // reaches every copy of a secret.
  std::deque<MigrationAccount> accounts;
  std::deque<sqlite3_int64> ids;
  int result = SQLITE_OK;
  while ((result = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    found = true;
    const sqlite3_int64 id = sqlite3_column_int64(stmt.get(), 0);
    std::string secret = base32Decode(columnKey(stmt.get()));
    if (secret.empty()) {
      reportUnexported(id, "its key holds not one whole byte");
      status = 1;
    } else if (uri) {
      appendKeyUri(line, secret, columnText(stmt.get(), 2), columnText(stmt.get(), 3));
      if (line.size() > kMaxKeyLength) {
        wipe(line);
        reportUnexported(id, kTooLong);
        status = 1;
      } else if (!writeSecretLine(line)) {
        wipe(secret);
        return 1;
      }
    } else {
      accounts.push_back({std::move(secret), std::string(columnText(stmt.get(), 2)),
                          std::string(columnText(stmt.get(), 3))});
      ids.push_back(id);
    }
    wipe(secret);
  }
  if (result != SQLITE_DONE) {
    reportStoreError(kRetrieveError, db);
    status = 1;
  } else if (one && !found) {
    std::cerr << "No record with ID " << invocation.id << std::endl;
    status = 1;
  } else if (writeMigrationUris(accounts, ids) != 0) {
    status = 1;
  }
  for (MigrationAccount& account : accounts) wipe(account.secret);
  return status;
}

int verifyCode(sqlite3* /*db*/, const Invocation& invocation) {
  std::string secret = base32Decode(invocation.key);
  const std::optional<bool> verified = verifyOTP(secret, invocation.code, kTimeStep, kCodeDigits);
  wipe(secret);
  if (!verified) return 1;
  return writeOutput(*verified ? "Code verified: true\n" : "Code verified: false\n") ? 0 : 1;
}

int runCommand(const Invocation& invocation, CommandFunction carryOut) {
  // Every command opens the store, so that even a first vercode leaves a ready file behind.
  const StorePtr db(openStore(), &closeStore);
  return db ? carryOut(db.get(), invocation) : 1;
}
