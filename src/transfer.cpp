#include "transfer.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <iostream>
#include <utility>

#include "key_uri.h"
#include "otp.h"
#include "output.h"
#include "record_text.h"

namespace {

constexpr char kTooLong[] = "its line would be longer than the 4096 bytes of a key";

// Appends `text` to `held`. Where it needs more room, `held` moves to a buffer of twice the size
// and the old one is wiped, so that no secret stays in memory given back.
void appendHeld(std::string& held, std::string_view text) {
  if (held.size() + text.size() > held.capacity()) {
    std::string bigger;
    bigger.reserve(std::max(held.capacity() * 2, held.size() + text.size()));
    bigger.assign(held);
    wipe(held);
    held.swap(bigger);
  }
  held.append(text);
}

void appendNumber(std::string& held, std::uint32_t number) {
  char bytes[sizeof number];
  std::memcpy(bytes, &number, sizeof number);
  appendHeld(held, std::string_view(bytes, sizeof bytes));
}

std::uint32_t numberAt(const std::string& held, std::size_t& at) {
  std::uint32_t number = 0;
  std::memcpy(&number, held.data() + at, sizeof number);
  at += sizeof number;
  return number;
}

std::string_view textAt(const std::string& held, std::size_t& at) {
  const std::uint32_t size = numberAt(held, at);
  const std::string_view text(held.data() + at, size);
  at += size;
  return text;
}

// Why kavro cannot store the account as one to export, or empty.
std::string storeProblem(const MigrationAccount& account) {
  const std::string site = controlProblem(account.site);
  if (!site.empty()) return "invalid site: " + site;
  const std::string name = controlProblem(account.account);
  if (!name.empty()) return "invalid account: " + name;
  if (fitsExportLine(account)) return "";
  return "too long for an export line of " + std::to_string(kMaxKeyLength) + " bytes";
}

// Writes `line` and a newline, and wipes it; its room stays for the next line. False when it could
// not be written.
bool writeSecretLine(std::string& line) {
  line.push_back('\n');
  const bool written = writeOutput(line);
  wipe(line);
  return written;
}

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

}  // namespace

void reportUnexported(std::int64_t id, const char* why) {
  std::cerr << "Cannot export ID " << id << ": " << why << std::endl;
}

HeldAccount heldAccount(const Transfer& transfer, std::size_t i) {
  std::size_t at = transfer.starts[i];
  HeldAccount account;
  account.line = numberAt(transfer.held, at);
  account.number = numberAt(transfer.held, at);
  account.secret = textAt(transfer.held, at);
  account.site = textAt(transfer.held, at);
  account.account = textAt(transfer.held, at);
  return account;
}

std::string placeOf(const HeldAccount& account) {
  std::string place = account.line == 0 ? "" : "line " + std::to_string(account.line) + ", ";
  place += "account " + std::to_string(account.number) + " (Site: ";
  appendEscaped(place, account.site);
  place += ", Account: ";
  appendEscaped(place, account.account);
  return place + ")";
}

void addAccount(Transfer& transfer, const MigrationAccount& account, std::uint32_t line,
                std::uint32_t number, const std::string& unusable) {
  const std::string problem = unusable.empty() ? storeProblem(account) : unusable;
  if (!problem.empty()) {
    transfer.skipped.push_back(
        "Skipped: " + placeOf({"", account.site, account.account, line, number}) + ": " + problem);
    return;
  }
  transfer.starts.push_back(static_cast<std::uint32_t>(transfer.held.size()));
  appendNumber(transfer.held, line);
  appendNumber(transfer.held, number);
  for (const std::string* text : {&account.secret, &account.site, &account.account}) {
    appendNumber(transfer.held, static_cast<std::uint32_t>(text->size()));
    appendHeld(transfer.held, *text);
  }
}

std::string readTransferLine(const std::string& text, std::uint32_t line, Transfer& transfer) {
  if (isMigrationUri(text)) {
    MigrationBatch batch;
    std::string problem = parseMigrationUri(text, batch);
    if (!problem.empty()) return problem;
    for (std::size_t i = 0; i < batch.accounts.size(); ++i) {
      addAccount(transfer, batch.accounts[i], line, static_cast<std::uint32_t>(i + 1),
                 batch.unusable[i]);
      wipe(batch.accounts[i].secret);
    }
    transfer.parts.push_back({batch.batchId, batch.batchIndex, batch.batchSize});
    return "";
  }
  if (!isKeyUri(text)) return "not an otpauth:// URI or a phone app's export";
  KeyUri uri;
  std::string problem = parseKeyUri(text, uri);
  if (!problem.empty()) return problem;
  MigrationAccount account{base32Decode(uri.secret), std::move(uri.site).value_or(""),
                           std::move(uri.account).value_or("")};
  wipe(uri.secret);
  addAccount(transfer, account, line, 1, uri.unusable);
  wipe(account.secret);
  return "";
}

std::vector<std::string> partWarnings(const Transfer& transfer) {
  std::vector<std::string> warnings;
  for (const ExportPart& part : transfer.parts) {
    std::int32_t held = 0;  // the export's parts in the transfer, each counted once
    for (std::int32_t index = 0; index < part.size; ++index) {
      held += std::any_of(transfer.parts.begin(), transfer.parts.end(), [&](const ExportPart& p) {
        return p.id == part.id && p.size == part.size && p.index == index;
      });
    }
    if (held < part.size) {
      warnings.push_back("Warning: this is part " + std::to_string(part.index + 1) + " of " +
                         std::to_string(part.size) + " of the export: add the other parts as well");
    }
  }
  return warnings;
}

void wipe(Transfer& transfer) {
  wipe(transfer.held);
  transfer.starts.clear();
}

bool fitsExportLine(const MigrationAccount& account) {
  if (keyUriSize(account.secret.size(), account.site, account.account) > kMaxKeyLength) {
    return false;
  }
  // Only an account near the limit has its transfer URI made to be measured.
  if (longestMigrationUri(account) <= kMaxKeyLength) return true;
  // The largest numbers of a batch, and an id of ten bytes, as a negative one takes.
  std::vector<MigrationAccount> alone(1, account);
  std::string line = migrationUri(alone, INT32_MAX, INT32_MAX - 1, -1);
  const bool fits = !line.empty();
  wipe(line);
  wipe(alone[0].secret);
  return fits;
}

bool writeUriLine(std::string& line, std::int64_t id, const std::string& secret,
                  std::string_view site, std::string_view account, int& status) {
  appendKeyUri(line, secret, site, account);
  if (line.size() <= kMaxKeyLength) return writeSecretLine(line);
  wipe(line);
  reportUnexported(id, kTooLong);
  status = 1;
  return true;
}

int writeMigrationUris(const std::deque<MigrationAccount>& accounts,
                       const std::deque<std::int64_t>& ids) {
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
