#include "commands.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include <unistd.h>

#include "key_uri.h"
#include "otp.h"
#include "output.h"
#include "record_text.h"
#include "store.h"
#include "transfer.h"

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

// Writes "Codes change in N s" on standard error, N the seconds from `now` to the next step, where
// standard output is a terminal: whoever reads a code there can tell whether there is time to type
// it. A script sees nothing.
void reportSecondsLeft(std::time_t now) {
  if (isatty(STDOUT_FILENO) == 1) {
    std::cerr << "Codes change in " << kTimeStep - static_cast<std::uint64_t>(now) % kTimeStep
              << " s" << std::endl;
  }
}

// Whether a record's site and account hold the texts that `invocation` filters by.
bool passes(const Invocation& invocation, std::string_view site, std::string_view account) {
  return holdsIgnoringCase(site, invocation.site) && holdsIgnoringCase(account, invocation.account);
}

// Prepares the select of the records that `invocation` asks for: the one of its id, or all; the
// site and account filters are the caller's. Returns nullptr after the error line.
sqlite3_stmt* selectRecords(sqlite3* db, const Invocation& invocation) {
  const bool one = !invocation.id.empty();
  sqlite3_stmt* stmt = prepareStatement(db, one ? sql_select_one : sql_select);
  if (stmt != nullptr && one) sqlite3_bind_int64(stmt, 1, *parseId(invocation.id));  // checked
  return stmt;
}

// Steps `stmt` through its records and hands each one that passes the filters to `take` with its
// id, key bytes (decoded into `secret`, which the caller wipes), site and account. Returns 1 after
// an error line, `take`'s or a store's, else 0; for filters that no record passes, after "No
// record with ID <id>" (an id alone) or "No record matches" and the filters.
int eachRecord(sqlite3* db, sqlite3_stmt* stmt, const Invocation& invocation, std::string& secret,
               const std::function<bool(std::int64_t, std::string_view, std::string_view)>& take) {
  int result = SQLITE_OK;
  bool found = false;
  while ((result = sqlite3_step(stmt)) == SQLITE_ROW) {
    const std::string_view site = columnText(stmt, 2);
    const std::string_view account = columnText(stmt, 3);
    if (!passes(invocation, site, account)) continue;
    found = true;
    base32Decode(columnKey(stmt), secret);
    if (!take(sqlite3_column_int64(stmt, 0), site, account)) return 1;
  }
  if (result != SQLITE_DONE) {
    reportStoreError(kRetrieveError, db);
    return 1;
  }
  if (found || (invocation.id.empty() && invocation.site.empty() && invocation.account.empty())) {
    return 0;
  }
  if (invocation.site.empty() && invocation.account.empty()) {
    std::cerr << "No record with ID " << invocation.id << std::endl;
    return 1;
  }
  std::string filters = "No record matches";
  for (const auto& [name, text] : {std::pair{" --id=", &invocation.id},
                                   {" --site=", &invocation.site},
                                   {" --account=", &invocation.account}}) {
    if (text->empty()) continue;
    filters += name;
    appendEscaped(filters, *text);
  }
  std::cerr << filters << std::endl;
  return 1;
}

// The identity of an account for telling one stored already: its key bytes, site and account.
// Accounts of one hash are told apart by their texts, so that 32 bits are enough, and an index
// entry takes eight bytes.
std::uint32_t identityHash(std::string_view secret, std::string_view site,
                           std::string_view account) {
  std::uint64_t hash = 0;  // of 64 bits where std::hash gives 32 as well
  for (const std::string_view text : {secret, site, account}) {
    hash ^= std::uint64_t{std::hash<std::string_view>{}(text)} + 0x9e3779b97f4a7c15U +
            (hash << 6U) + (hash >> 2U);
  }
  return static_cast<std::uint32_t>(hash ^ (hash >> 32U));
}

// What becomes of each account of a transfer.
enum class Fate : char { kNew, kStoredBefore, kEarlierInRun, kStored };

// The accounts of a transfer by the hash of what they are, then by place.
using TransferIndex = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

TransferIndex indexTransfer(const Transfer& transfer) {
  TransferIndex index;
  index.reserve(transfer.starts.size());
  for (std::uint32_t i = 0; i < transfer.starts.size(); ++i) {
    const HeldAccount held = heldAccount(transfer, i);
    index.emplace_back(identityHash(held.secret, held.site, held.account), i);
  }
  std::sort(index.begin(), index.end());
  return index;
}

// Calls `each` with the place of every account of the transfer that has these key bytes, site and
// account, in order, until it returns false.
void forEachSame(const Transfer& transfer, const TransferIndex& index, std::string_view secret,
                 std::string_view site, std::string_view account,
                 const std::function<bool(std::uint32_t)>& each) {
  const std::uint32_t hash = identityHash(secret, site, account);
  for (auto it = std::lower_bound(index.begin(), index.end(), std::pair{hash, 0U});
       it != index.end() && it->first == hash; ++it) {
    const HeldAccount held = heldAccount(transfer, it->second);
    if (held.secret == secret && held.site == site && held.account == account &&
        !each(it->second)) {
      return;
    }
  }
}

// Marks each account that the store holds already with the id of its first record there: one
// pass over the records, however many accounts. Returns 1 after an error line, else 0.
int markStored(sqlite3* db, const Transfer& transfer, const TransferIndex& index,
               std::vector<Fate>& fates, std::vector<std::int64_t>& ids) {
  const StatementPtr select(prepareStatement(db, sql_select), &sqlite3_finalize);
  if (!select) return 1;
  std::string secret;
  const int status =
      eachRecord(db, select.get(), Invocation(), secret,
                 [&](std::int64_t id, std::string_view site, std::string_view account) {
                   forEachSame(transfer, index, secret, site, account, [&](std::uint32_t i) {
                     if (fates[i] == Fate::kNew) {
                       fates[i] = Fate::kStoredBefore;
                       ids[i] = id;
                     }
                     return true;
                   });
                   return true;
                 });
  wipe(secret);
  return status;
}

// Marks each account still new that an earlier one is, with that one's place in `ids` for now:
// the index holds them side by side.
void markRepeated(const Transfer& transfer, const TransferIndex& index, std::vector<Fate>& fates,
                  std::vector<std::int64_t>& ids) {
  for (std::size_t first = 0; first < index.size(); ++first) {
    if (fates[index[first].second] != Fate::kNew) continue;
    for (std::size_t next = first + 1;
         next < index.size() && index[next].first == index[first].first; ++next) {
      const std::uint32_t earlier = index[first].second;
      const std::uint32_t later = index[next].second;
      if (fates[earlier] != Fate::kNew || fates[later] != Fate::kNew) continue;
      const HeldAccount a = heldAccount(transfer, earlier);
      const HeldAccount b = heldAccount(transfer, later);
      if (a.secret == b.secret && a.site == b.site && a.account == b.account) {
        fates[later] = Fate::kEarlierInRun;
        ids[later] = earlier;
      }
    }
  }
}

// Inserts each account still new, appending its code for `now` to `codes`; one that an earlier
// account is gets that one's id. Returns 1 after an error line, else 0.
int insertNew(sqlite3* db, const Transfer& transfer, std::time_t now, std::vector<Fate>& fates,
              std::vector<std::int64_t>& ids, std::string& codes) {
  const StatementPtr insert(prepareStatement(db, sql_insert), &sqlite3_finalize);
  if (!insert) return 1;
  std::string secret;  // one buffer for every account's key bytes, wiped before each
  std::string key;
  int status = 0;
  for (std::uint32_t i = 0; i < fates.size() && status == 0; ++i) {
    if (fates[i] == Fate::kEarlierInRun) ids[i] = ids[static_cast<std::size_t>(ids[i])];
    if (fates[i] != Fate::kNew) continue;
    const HeldAccount held = heldAccount(transfer, i);
    wipe(secret);
    secret.assign(held.secret);
    // The code first, so that a run that cannot compute one stores nothing.
    const std::optional<std::string> code = generateOTP(secret, kTimeStep, kCodeDigits, now);
    if (!code) {
      status = 1;
      break;
    }
    codes += *code;
    key = base32Encode(secret);
    sqlite3_bind_text(insert.get(), 1, key.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_text(insert.get(), 2, held.site.data(), static_cast<int>(held.site.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(insert.get(), 3, held.account.data(), static_cast<int>(held.account.size()),
                      SQLITE_STATIC);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
      reportStoreError(kInsertError, db);
      status = 1;
    }
    sqlite3_reset(insert.get());
    wipe(key);
    fates[i] = Fate::kStored;
    ids[i] = sqlite3_last_insert_rowid(db);
  }
  wipe(secret);
  return status;
}

// Stores the accounts of `transfer` that neither the store nor an earlier account of it holds, in
// one transaction, and writes each as lscodes shows it or, for `asCode`, its "Generated code: "
// line; an account passed over is named on standard error. The store is read for that in the
// transaction, so that no other run adds the same account in between. Returns 0, or 1 after an
// error line.
int storeTransfer(sqlite3* db, const Transfer& transfer, bool asCode) {
  const std::time_t now = std::time(nullptr);
  const TransferIndex index = indexTransfer(transfer);
  std::vector<Fate> fates(transfer.starts.size(), Fate::kNew);
  std::vector<std::int64_t> ids(fates.size(), 0);
  std::string codes;  // kCodeDigits for each account stored, in order
  codes.reserve(kCodeDigits * fates.size());
  // A transaction left open is rolled back as the run closes the store.
  if (!execute(db, sql_begin, kInsertError) || markStored(db, transfer, index, fates, ids) != 0) {
    return 1;
  }
  markRepeated(transfer, index, fates, ids);
  if (insertNew(db, transfer, now, fates, ids, codes) != 0 ||
      !execute(db, sql_commit, kInsertError)) {
    return 1;
  }
  std::string line;
  std::size_t shown = 0;
  for (std::uint32_t i = 0; i < fates.size(); ++i) {
    const HeldAccount held = heldAccount(transfer, i);
    if (fates[i] != Fate::kStored) {
      std::cerr << "Already stored as ID " << ids[i] << ": " << placeOf(held) << std::endl;
      continue;
    }
    const std::string code = codes.substr(kCodeDigits * shown++, kCodeDigits);
    line.clear();
    if (asCode) {
      ((line += "Generated code: ") += code) += '\n';
    } else {
      appendRecordLine(line, ids[i], held.site, held.account, code);
    }
    if (!writeOutput(line)) return 1;
  }
  for (const std::string& warning : partWarnings(transfer)) std::cerr << warning << std::endl;
  if (shown > 0) reportSecondsLeft(now);
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

int addCode(sqlite3* db, const Invocation& invocation) {
  if (!invocation.transfer.starts.empty()) {
    return storeTransfer(db, invocation.transfer, isKeyUri(invocation.key));
  }
  // The code is computed first, so that a run that cannot compute it stores nothing.
  const std::time_t now = std::time(nullptr);
  std::string secret = base32Decode(invocation.key);
  const std::optional<std::string> code = generateOTP(secret, kTimeStep, kCodeDigits, now);
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
  if (!writeOutput("Generated code: " + *code + "\n")) return 1;
  reportSecondsLeft(now);
  return 0;
}

int importCodes(sqlite3* db, const Invocation& invocation) {
  return storeTransfer(db, invocation.transfer, false);
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

int listCodes(sqlite3* db, const Invocation& invocation) {
  const std::time_t now = std::time(nullptr);  // one step for every code of the listing
  const StatementPtr stmt(selectRecords(db, invocation), &sqlite3_finalize);
  if (!stmt) return 1;
  std::string secret;  // one buffer for every row's key
  std::string line;    // and one for every row's line
  bool shown = false;
  const int status = eachRecord(
      db, stmt.get(), invocation, secret,
      [&](std::int64_t id, std::string_view site, std::string_view account) {
        const std::optional<std::string> code = generateOTP(secret, kTimeStep, kCodeDigits, now);
        if (!code) return false;
        line.clear();
        appendRecordLine(line, id, site, account, *code);
        shown = true;
        return writeOutput(line);
      });
  wipe(secret);
  if (status == 0 && shown) reportSecondsLeft(now);
  return status;
}

int exportCodes(sqlite3* db, const Invocation& invocation) {
  const StatementPtr stmt(selectRecords(db, invocation), &sqlite3_finalize);
  if (!stmt) return 1;
  const bool uri = invocation.format != "migration";
  int status = 0;
  std::string secret;
  std::string line;  // one buffer for every row's line, wiped after each
  // For the phone app's export, written at the end; a deque never moves an account, so that wipe
  // reaches every copy of a secret.
  std::deque<MigrationAccount> accounts;
  std::deque<std::int64_t> ids;
  const int found =
      eachRecord(db, stmt.get(), invocation, secret,
                 [&](std::int64_t id, std::string_view site, std::string_view account) {
                   if (secret.empty()) {
                     reportUnexported(id, "its key holds not one whole byte");
                     status = 1;
                     return true;
                   }
                   if (uri) return writeUriLine(line, id, secret, site, account, status);
                   accounts.push_back({secret, std::string(site), std::string(account)});
                   ids.push_back(id);
                   return true;
                 });
  wipe(secret);
  if (found != 0 || writeMigrationUris(accounts, ids) != 0) status = 1;
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
