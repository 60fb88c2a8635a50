#include "main.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>

#include <sqlite3.h>

#include "otp.h"
#include "store.h"

namespace {

constexpr std::uint64_t kTimeStep = 30;
constexpr std::uint32_t kCodeDigits = 6;

using StorePtr = std::unique_ptr<sqlite3, decltype(&closeStore)>;
using StatementPtr = std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)>;

void showUsage(const std::string& appname) {
  std::cerr << "Usage: " << appname << "\n"
            << "\taddcode --key=<secret key> --site=<site name> --account=<account name>\n"
            << "\tdelcode --id=<id>\n"
            << "\tlscodes\n"
            << "\tvercode --code=<code> --key=<secret key>" << std::endl;
}

// argv[1] is the command word; it is scanned as a possible option like every later argument.
Invocation scanArguments(int argc, const char* const argv[]) {
  Invocation invocation;
  invocation.mode = argv[1];
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.compare(0, 2, "--") != 0) continue;
    const std::string::size_type equalsPos = argument.find('=');
    const bool hasValue = equalsPos != std::string::npos;
    const std::string var = argument.substr(2, hasValue ? equalsPos - 2 : std::string::npos);
    // Without "=", the value is the whole argument: a bare "--code" sets the code to "--code".
    const std::string val = hasValue ? argument.substr(equalsPos + 1) : argument;
    if (var == "account") {
      invocation.account = val;
    } else if (var == "code") {
      invocation.code = val;
    } else if (var == "key") {
      invocation.key = val;
    } else if (var == "site") {
      invocation.site = val;
    } else if (var == "id") {
      invocation.id = val;
    }
  }
  return invocation;
}

bool isCommand(const std::string& mode) {
  return mode == "addcode" || mode == "delcode" || mode == "lscodes" || mode == "vercode";
}

// The message for the first option that the command needs and lacks; nullptr when none is missing.
const char* missingOption(const Invocation& invocation) {
  if (invocation.mode == "addcode") {
    if (invocation.key.empty()) return "Missing key";
    if (invocation.site.empty()) return "Missing site";
    if (invocation.account.empty()) return "Missing account";
  } else if (invocation.mode == "delcode") {
    if (invocation.id.empty()) return "Missing id";
  } else if (invocation.mode == "vercode") {
    if (invocation.key.empty()) return "Missing key";
    if (invocation.code.empty()) return "Missing code";
  }
  return nullptr;
}

// Reads a record id: optional leading white space, an optional sign, then decimal digits and
// nothing else, within the range of a 32-bit integer. A typo must never select another record.
std::optional<int> parseId(const std::string& text) {
  const std::string::size_type sign = text.find_first_not_of(" \t\n\v\f\r");
  if (sign == std::string::npos) return std::nullopt;
  const bool hasSign = text[sign] == '+' || text[sign] == '-';
  const std::string::size_type digits = hasSign ? sign + 1 : sign;
  if (digits >= text.size() || text[digits] < '0' || text[digits] > '9') return std::nullopt;

  // from_chars reads a minus sign but not a plus sign.
  const std::string::size_type number = text[sign] == '+' ? digits : sign;
  std::int32_t id = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data() + number, end, id);
  if (error != std::errc() || stop != end) return std::nullopt;
  return id;
}

// Column text of the current row; a NULL reads as empty text.
const char* columnText(sqlite3_stmt* stmt, int column) {
  const unsigned char* text = sqlite3_column_text(stmt, column);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

int addCode(sqlite3* db, const Invocation& invocation) {
  // The code is computed first, so that a run that cannot compute it stores nothing.
  const std::optional<std::string> code =
      generateOTP(base32Decode(invocation.key), kTimeStep, kCodeDigits);
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
  const std::optional<int> id = parseId(invocation.id);
  if (!id) {
    std::cerr << "Invalid id: " << invocation.id << std::endl;
    return 1;
  }
  sqlite3_bind_int(stmt.get(), 1, *id);
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

int listCodes(sqlite3* db) {
  const StatementPtr stmt(prepareStatement(db, sql_select), &sqlite3_finalize);
  if (!stmt) return 1;
  int result = SQLITE_OK;
  while ((result = sqlite3_step(stmt.get())) == SQLITE_ROW) {
    const int id = sqlite3_column_int(stmt.get(), 0);
    const std::string key = columnText(stmt.get(), 1);
    const std::optional<std::string> code = generateOTP(base32Decode(key), kTimeStep, kCodeDigits);
    if (!code) return 1;
    std::cout << "ID: " << id << "\tSite: " << columnText(stmt.get(), 2)
              << "\tAccount: " << columnText(stmt.get(), 3) << "\tGenerated code: " << *code
              << std::endl;
    if (!std::cout) return 0;  // nobody reads the rest; runCommand reports the failed write
  }
  if (result != SQLITE_DONE) {
    reportStoreError("Error retrieving data", db);
    return 1;
  }
  return 0;
}

int verifyCode(const Invocation& invocation) {
  const std::optional<bool> verified =
      verifyOTP(base32Decode(invocation.key), invocation.code, kTimeStep, kCodeDigits);
  if (!verified) return 1;
  std::cout << "Code verified: " << (*verified ? "true" : "false") << std::endl;
  return 0;
}

int carryOut(sqlite3* db, const Invocation& invocation) {
  if (invocation.mode == "addcode") return addCode(db, invocation);
  if (invocation.mode == "delcode") return deleteCode(db, invocation);
  if (invocation.mode == "lscodes") return listCodes(db);
  return verifyCode(invocation);
}

}  // namespace

int runCommand(const Invocation& invocation) {
  // Every command opens the store, so that even a first vercode leaves a ready file behind.
  const StorePtr db(openStore(), &closeStore);
  if (!db) return 1;
  const int status = carryOut(db.get(), invocation);
  // Every result line is flushed, so a failed write shows here; a result the user never saw is
  // no success.
  if (status == 0 && !std::cout) {
    std::cerr << "Error writing output: " << std::strerror(errno) << std::endl;
    return 1;
  }
  return status;
}

int main(int argc, char* argv[]) {
  const std::string appname = argc > 0 && argv[0] != nullptr ? argv[0] : "kavro";
  if (argc < 2) {
    showUsage(appname);
    return 1;
  }
  const Invocation invocation = scanArguments(argc, argv);
  if (!isCommand(invocation.mode)) {
    showUsage(appname);
    return 1;
  }
  if (const char* missing = missingOption(invocation)) {
    std::cerr << missing << std::endl;
    showUsage(appname);
    return 1;
  }
  return runCommand(invocation);
}
