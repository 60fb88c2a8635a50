// Transfer lines, otpauth URIs and phone app exports: read into the accounts they hold, each
// judged, for addcode and importcodes, and written from the records for exportcodes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "migration.h"

// A phone app's export that a transfer line is one part of.
struct ExportPart {
  std::int32_t id = 0;
  std::int32_t index = 0;
  std::int32_t size = 0;
};

// The accounts of one run's transfer lines that kavro can store, in input order, packed one after
// another into `held` (which grows only by a copy and a wipe, so that no secret is left behind),
// each from `starts`; the "Skipped: " lines of those it cannot; and the exports that the lines are
// parts of.
struct Transfer {
  std::string held;
  std::vector<std::uint32_t> starts;
  std::vector<std::string> skipped;
  std::vector<ExportPart> parts;
};

// One account of a transfer, pointing into it: its key bytes, site and account, and where it was:
// its line (0 for addcode's key) and its place in the line, from 1.
struct HeldAccount {
  std::string_view secret;
  std::string_view site;
  std::string_view account;
  std::uint32_t line = 0;
  std::uint32_t number = 0;
};

HeldAccount heldAccount(const Transfer& transfer, std::size_t i);

// "line 3, account 2 (Site: S, Account: A)", without "line N, " for line 0, the names escaped as
// lscodes shows them.
std::string placeOf(const HeldAccount& account);

// Adds `account` from place `number` of `line`, or a "Skipped: " line for it where `unusable` says
// why kavro cannot compute its codes, where its site or account holds a control character, or where
// an export line of it would be longer than kMaxKeyLength, so that addcode would not take it back.
void addAccount(Transfer& transfer, const MigrationAccount& account, std::uint32_t line,
                std::uint32_t number, const std::string& unusable);

// Reads `text`, an otpauth URI or a phone app's export, as line `line` of importcodes' input into
// `transfer`; a URI that names no site or account gives an empty one, as an export does. Returns
// why the text cannot be read, quoting no secret, or empty.
std::string readTransferLine(const std::string& text, std::uint32_t line, Transfer& transfer);

// The warnings for the parts of exports that the transfer does not hold whole.
std::vector<std::string> partWarnings(const Transfer& transfer);

// Overwrites every secret of the transfer and empties it.
void wipe(Transfer& transfer);

// Whether both export lines of `account`, its otpauth URI and a transfer URI of it alone, are at
// most kMaxKeyLength bytes, so that addcode takes either back.
bool fitsExportLine(const MigrationAccount& account);

// Writes "Cannot export ID <id>: <why>" as one line on standard error.
void reportUnexported(std::int64_t id, const char* why);

// Writes the otpauth URI of a record as one line, built in `line`, which is wiped after it; where
// it would be longer than kMaxKeyLength, names the record on standard error instead and sets
// `status` to 1. False when the line could not be written.
bool writeUriLine(std::string& line, std::int64_t id, const std::string& secret,
                  std::string_view site, std::string_view account, int& status);

// Writes the accounts as phone app exports, the lines one export: each of at most
// kMaxMigrationAccounts accounts and, so that addcode takes it back, at most kMaxKeyLength bytes.
// An account too long for a line of its own is named on standard error. Returns 1 then or after a
// failed write, else 0.
int writeMigrationUris(const std::deque<MigrationAccount>& accounts,
                       const std::deque<std::int64_t>& ids);
