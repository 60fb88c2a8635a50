// The phone authenticator app's account transfer: otpauth-migration URIs read into accounts, and
// accounts written as them for export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One account of a transfer: its secret as key bytes, not base32, and the site and account it
// names.
struct MigrationAccount {
  std::string secret;
  std::string site;
  std::string account;
};

// What one QR code of an export holds: its accounts, for each why kavro does not make its codes
// (empty when it does; the secret is left out then), and which of the `batchSize` codes of the
// export `batchId` it is, counted from 0.
struct MigrationBatch {
  std::vector<MigrationAccount> accounts;
  std::vector<std::string> unusable;
  std::int32_t batchSize = 0;
  std::int32_t batchIndex = 0;
  std::int32_t batchId = 0;
};

// Whether `key` is written as a transfer URI: it begins "otpauth-migration:", without regard to
// case. Neither a base32 key nor an otpauth URI does.
bool isMigrationUri(const std::string& key);

// Reads otpauth-migration://offline?data=DATA into `batch`, which is set only when it is well
// written. Returns why not, in one phrase that quotes no secret, or empty. DATA is
// percent-escaped base64, its "+" and "/" escaped or not. Each account's site and account are
// splitLabel's, from its issuer and name. Refused: a text longer than kMaxKeyLength, a host other
// than "offline", no data parameter or two, a bad escape, bad base64, a malformed payload, no
// account, and a part outside its export. An account with an empty secret or other codes than
// TOTP with SHA1 and six digits (left unspecified, these two are taken as such) is unusable.
std::string parseMigrationUri(const std::string& text, MigrationBatch& batch);

// The transfer URI of code `batchIndex` (from 0) of `batchSize` in the export `batchId`, holding
// `accounts`, each a six-digit SHA1 TOTP that names "SITE:ACCOUNT" with its site as issuer (the
// account alone where the site is empty and the account has no colon). Empty for more than
// kMaxMigrationAccounts accounts, which are more than one QR code of the app holds, and for a line
// longer than kMaxKeyLength, which addcode would not take back.
inline constexpr std::size_t kMaxMigrationAccounts = 10;
std::string migrationUri(const std::vector<MigrationAccount>& accounts, std::int32_t batchSize,
                         std::int32_t batchIndex, std::int32_t batchId);

// A length that no transfer URI of `account` alone is longer than, cheap to reckon.
std::size_t longestMigrationUri(const MigrationAccount& account);
