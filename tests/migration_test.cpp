#include "migration.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "otp.h"

namespace {

// Made with python3-protobuf from .ci/migration-proto/migration.proto. The second account of kTwo
// leaves algorithm and digits unspecified and has a counter; its base64 holds "+" and "/".
constexpr char kTwo[] =
    "CjYKCkhlbGxvId6tvu8SGUV4YW1wbGU6YWxpY2VAZXhhbXBsZS5jb20aB0V4YW1wbGUgASgBMAIKHwoUMTIzNDU2Nzg5"
    "MDEyMzQ1Njc4OTASA2JvYjACOAUQARgCIAEo";
constexpr char kExport[] =
    "otpauth-migration://offline?data=CioKCkhlbGxvId6tvu8SDU15OlNpdGU6YWxpY2UaB015OlNpdGUgASgBMAIK"
    "DwoCAP8SA2JvYiABKAEwAhABGAMo%2Bf%2F%2F%2F%2F%2F%2F%2F%2F%2F%2FAQ%3D%3D";
const std::string kPrefix = "otpauth-migration://offline?data=";

// A batch as one line: its place in the export, then each account's base32 secret, site and
// account.
std::string shown(const MigrationBatch& batch) {
  std::string line = std::to_string(batch.batchIndex) + "/" + std::to_string(batch.batchSize);
  for (const MigrationAccount& account : batch.accounts) {
    line += " | " + base32Encode(account.secret) + " " + account.site + " " + account.account;
  }
  return line;
}

TEST(Migration, ReadsWhatTheAppExports) {
  const std::string two =
      "1/2 | JBSWY3DPEHPK3PXP Example alice@example.com | GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ  bob";
  const struct {
    const char* name;
    std::string uri, batch;
  } rows[] = {
      {"escaped", kPrefix + kTwo + "%2BdK0%2F%2F%2F%2F%2F%2F%2F%2FAQ%3D%3D", two},
      {"+ and / unescaped", kPrefix + kTwo + "+dK0////////AQ%3D%3D", two},
      {"issuer with a colon, no issuer", kExport,
       "0/3 | JBSWY3DPEHPK3PXP My:Site alice | AD7Q  bob"},
      {"no batch fields", kPrefix + "CgwKAWESAW4gASgBMAI%3D", "0/0 | ME  n"},
  };
  EXPECT_TRUE(isMigrationUri("OTPAUTH-Migration:"));
  EXPECT_FALSE(isMigrationUri("otpauth://totp/a?secret=MF"));
  for (const auto& row : rows) {
    MigrationBatch batch;
    EXPECT_EQ(parseMigrationUri(row.uri, batch), "") << row.name;
    EXPECT_EQ(shown(batch), row.batch) << row.name;
  }
}

TEST(Migration, RefusesNearMissesAndTellsWhatItCannotCompute) {
  const struct {
    std::string uri;
    const char* problem;
  } rows[] = {
      {"otpauth-migration:/offline?data=EAE%3D",
       "not written otpauth-migration://offline?data=DATA"},
      {"otpauth-migration://online?data=EAE%3D", "host is not offline"},
      {"otpauth-migration://offline?dat=EAE%3D", "no data parameter"},
      {kPrefix + "EAE%3D&data=EAE%3D", "data given twice"},
      {kPrefix + "EAE%3", "'%' not followed by two hex digits in data"},
      {kPrefix + "EAE", "data is not base64"},
      {kPrefix + "EA%3DE", "data is not base64"},
      {kPrefix + "E%3D%3D%3D", "data is not base64"},
      {kPrefix + "EA-_", "data is not base64"},
      {kPrefix, "no accounts"},
      {kPrefix + "EAEYAQ%3D%3D", "no accounts"},
      {kPrefix + "CAE%3D", "data malformed: field 1 is no account"},
      {kPrefix + "GAIgAg%3D%3D", "data malformed: batch index 2 outside batch size 2"},
      {kPrefix + "GAEg%2F%2F%2F%2F%2Fwc%3D",
       "data malformed: batch index 2147483647 outside batch size 1"},
      {kPrefix + "CgIIAQ%3D%3D", "data malformed: field 1 is no text"},
      {kPrefix + "CgIiAA%3D%3D", "data malformed: field 4 is no number"},
      {kPrefix + "Cg4KAWESA3g6eSABKAEwAgoOCgFiEgN4OnkgASgBMAEQARgB", "2: HOTP, not TOTP"},
      {kPrefix + "CgoKAWESAW4gASgBEAEYAQ%3D%3D", "1: type unspecified, not TOTP"},
      {kPrefix + "CgwKAWESAW4gAigBMAIQARgB", "1: SHA256, not SHA1"},
      {kPrefix + "CgwKAWESAW4gBCgBMAIQARgB", "1: MD5, not SHA1"},
      {kPrefix + "CgwKAWESAW4gBSgBMAIQARgB", "1: algorithm 5, not SHA1"},
      {kPrefix + "ChUKAWESAW4g%2F%2F%2F%2F%2F%2F%2F%2F%2F%2F%2F%2FASgBMAIQARgB",
       "1: algorithm -1, not SHA1"},
      {kPrefix + "CgwKAWESAW4gASgCMAIQARgB", "1: 8 digits, not 6"},
      {kPrefix + "CgkSAW4gASgBMAIQARgB", "1: empty secret"},
      {kPrefix + std::string(kMaxKeyLength - kPrefix.size(), 'A'), "data is not base64"},
      {kPrefix + std::string(kMaxKeyLength - kPrefix.size() + 1, 'A'),
       "too long: more than 4096 bytes"},
  };
  // A refused export gives no account; an account whose codes kavro does not make, no secret.
  for (const auto& row : rows) {
    MigrationBatch batch;
    std::string why = parseMigrationUri(row.uri, batch);
    EXPECT_TRUE(why.empty() != batch.accounts.empty()) << row.uri.substr(0, 80);
    for (std::size_t i = 0; i < batch.accounts.size(); ++i) {
      if (batch.unusable[i].empty()) continue;
      why += std::to_string(i + 1) + ": " + batch.unusable[i];
      EXPECT_EQ(batch.accounts[i].secret, "") << row.uri.substr(0, 80);
    }
    EXPECT_EQ(why, row.problem) << row.uri.substr(0, 80);
  }
}

TEST(Migration, ReadsBackWhatItExportsAsTheAppWould) {
  const std::vector<MigrationAccount> accounts = {
      {base32Decode("JBSWY3DPEHPK3PXP"), "My:Site", "alice"},
      {std::string("\0\xff", 2), "", "bob"},
      {"12345", "Example", ""},
      {"x", "", "a:b"}};
  EXPECT_EQ(migrationUri({accounts[0], accounts[1]}, 3, 0, -7), kExport);
  MigrationBatch batch;
  EXPECT_EQ(parseMigrationUri(migrationUri(accounts, 5, 4, 1), batch), "");
  EXPECT_EQ(shown(batch),
            "4/5 | JBSWY3DPEHPK3PXP My:Site alice | AD7Q  bob | GEZDGNBV Example  | PA  a:b");
  EXPECT_EQ(parseMigrationUri(migrationUri(std::vector<MigrationAccount>(10, accounts[1]), 1, 0, 0),
                              batch),
            "");
  EXPECT_EQ(batch.accounts.size(), 10U);
  EXPECT_EQ(migrationUri(std::vector<MigrationAccount>(11, accounts[1]), 2, 0, 0), "");
}

}  // namespace
