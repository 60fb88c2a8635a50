#include "commands.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string_view>

#include "otp.h"
#include "record_text.h"
#include "store.h"

namespace {

constexpr std::uint64_t kTimeStep = 30;
constexpr std::uint32_t kCodeDigits = 6;

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

int addCode(sqlite3* db, const Invocation& invocation) {
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
    reportStoreError("Error inserting data", db);
    return 1;
  }
  std::cout << "Generated code: " << *code << std::endl;
  return 0;
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
  std::cout << "ID " << invocation.id << " deleted successfully." << std::endl;
  return 0;
}

int listCodes(sqlite3* db, const Invocation& /*invocation*/) {
  const StatementPtr stmt(prepareStatement(db, sql_select), &sqlite3_finalize);
  if (!stmt) return 1;
  int result = SQLITE_OK;
  std::string line;  // one buffer for every row's line
  while ((result = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const sqlite3_int64 id = sqlite3_column_int64(stmt.get(), 0);
    // The key ends at a NUL byte, as when its column was read as a C string: the codes of a store
    // from elsewhere stay those it gave before.
    const std::string_view keyText = columnText(stmt.get(), 1);
    const std::optional<std::string> code =
        generateOTP(base32Decode(keyText.substr(0, keyText.find('\0'))), kTimeStep, kCodeDigits);
    if (!code) return 1;
    line.clear();
    appendRecordLine(line, id, columnText(stmt.get(), 2), columnText(stmt.get(), 3), *code);
    // Flushed a line at a time, so that a failed write shows at once.
    std::cout.write(line.data(), static_cast<std::streamsize>(line.size())).flush();
  }
  if (result != SQLITE_DONE) {
    reportStoreError("Error retrieving data", db);
    return 1;
  }
  return 0;
}

int verifyCode(sqlite3* /*db*/, const Invocation& invocation) {
  std::string secret = base32Decode(invocation.key);
  const std::optional<bool> verified = verifyOTP(secret, invocation.code, kTimeStep, kCodeDigits);
  wipe(secret);
  if (!verified) return 1;
  std::cout << "Code verified: " << (*verified ? "true" : "false") << std::endl;
  return 0;
}

int runCommand(const Invocation& invocation, CommandFunction carryOut) {
  // Every command opens the store, so that even a first vercode leaves a ready file behind.
  const StorePtr db(openStore(), &closeStore);
  return db ? carryOut(db.get(), invocation) : 1;
}
