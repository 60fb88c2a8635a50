#include "migration.h"

#include <algorithm>
#include <initializer_list>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>

#include <openssl/evp.h>

#include "key_uri.h"
#include "otp.h"
#include "wire_format.h"

namespace {

constexpr char kNotBase64[] = "data is not base64";

// The fields of one account as the payload gives them, its texts pointing into the payload.
struct AccountFields {
  std::string_view secret;
  std::string_view name;
  std::string_view issuer;
  std::int32_t algorithm{};
  std::int32_t digits{};
  std::int32_t type{};
};

// Takes a length-delimited field into `text`; returns why it cannot, or empty.
std::string take(const WireField& field, std::string_view& text) {
  if (field.type != kWireBytes) return "field " + std::to_string(field.number) + " is no text";
  text = field.bytes;
  return "";
}

// Takes a varint field into `value` as protobuf reads an int32 or an enum: its low 32 bits.
std::string take(const WireField& field, std::int32_t& value) {
  if (field.type != kWireVarint) return "field " + std::to_string(field.number) + " is no number";
  value = static_cast<std::int32_t>(static_cast<std::uint32_t>(field.value));
  return "";
}

// Reads one account's message into `fields`; returns why it cannot, or empty.
std::string readAccount(std::string_view message, AccountFields& fields) {
  while (!message.empty()) {
    WireField field;
    std::string problem = readField(message, field);
    if (!problem.empty()) return problem;
    switch (field.number) {
      case 1:
        problem = take(field, fields.secret);
        break;
      case 2:
        problem = take(field, fields.name);
        break;
      case 3:
        problem = take(field, fields.issuer);
        break;
      case 4:
        problem = take(field, fields.algorithm);
        break;
      case 5:
        problem = take(field, fields.digits);
        break;
      case 6:
        problem = take(field, fields.type);
        break;
      default:  // the counter, which TOTP has no use for, and fields of later versions
        break;
    }
    if (!problem.empty()) return problem;
  }
  return "";
}

// Reads the payload's accounts into `accounts` and its place in the export into `batch`; returns
// why it cannot, or empty.
std::string readPayload(std::string_view payload, std::vector<AccountFields>& accounts,
                        MigrationBatch& batch) {
  while (!payload.empty()) {
    WireField field;
    std::string problem = readField(payload, field);
    if (!problem.empty()) return problem;
    if (field.number == 1) {
      problem = field.type == kWireBytes ? readAccount(field.bytes, accounts.emplace_back())
                                         : "field 1 is no account";
    } else if (field.number == 3) {
      problem = take(field, batch.batchSize);
    } else if (field.number == 4) {
      problem = take(field, batch.batchIndex);
    } else if (field.number == 5) {
      problem = take(field, batch.batchId);
    }
    // The version decides nothing here.
    if (!problem.empty()) return problem;
  }
  // A part outside the export would send its user looking for parts that are not there. Without
  // a size, the export is one part.
  if (batch.batchSize < 0 || batch.batchIndex < 0 ||
      batch.batchIndex >= std::max(batch.batchSize, std::int32_t{1})) {
    return "batch index " + std::to_string(batch.batchIndex) + " outside batch size " +
           std::to_string(batch.batchSize);
  }
  return "";
}

// `names[value]` where it has one, else `what` and the number.
std::string enumName(std::int32_t value, std::initializer_list<const char*> names,
                     const char* what) {
  // A negative value, cast, is past every name.
  if (static_cast<std::size_t>(value) < names.size()) return names.begin()[value];
  return std::string(what) + " " + std::to_string(value);
}

// Why an account's codes are not those kavro makes, or empty.
std::string codesProblem(const AccountFields& fields) {
  if (fields.type != 2)
    return enumName(fields.type, {"type unspecified", "HOTP"}, "type") + ", not TOTP";
  if (fields.algorithm != 0 && fields.algorithm != 1) {
    return enumName(fields.algorithm, {"", "", "SHA256", "SHA512", "MD5"}, "algorithm") +
           ", not SHA1";
  }
  if (fields.digits != 0 && fields.digits != 1) {
    return enumName(fields.digits, {"", "", "8 digits"}, "digit count") + ", not 6";
  }
  return fields.secret.empty() ? "empty secret" : "";
}

// Decodes standard base64 with its "=" padding into `bytes`, made once at its size; returns why it
// cannot, or empty. libcrypto's decoder takes "=" anywhere and white space at the ends, so the
// text is checked first.
std::string base64Decoded(const std::string& base64, std::string& bytes) {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::size_t end = base64.find_last_not_of('=') + 1;  // 0 for none: npos + 1 wraps
  if (base64.size() % 4 != 0 || base64.size() - end > 2 ||
      base64.find_first_not_of(kAlphabet) < end) {
    return kNotBase64;
  }
  bytes.assign(base64.size() / 4 * 3, '\0');
  // At most kMaxKeyLength bytes, so the size fits an int. The text is checked already; should
  // libcrypto still refuse it, nothing it half wrote is read.
  if (!bytes.empty() &&
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                      reinterpret_cast<const unsigned char*>(base64.data()),
                      static_cast<int>(base64.size())) != static_cast<int>(bytes.size())) {
    wipe(bytes);
    return kNotBase64;
  }
  bytes.resize(bytes.size() - (base64.size() - end));
  return "";
}

// Reads the payload into `batch`, set only when it holds an account; returns why not, or empty.
// An account whose codes kavro does not make has its secret left out.
std::string readBatch(std::string_view payload, MigrationBatch& batch) {
  std::vector<AccountFields> fields;
  MigrationBatch read;
  const std::string problem = readPayload(payload, fields, read);
  if (!problem.empty()) return "data malformed: " + problem;
  if (fields.empty()) return "no accounts";
  read.accounts.resize(fields.size());
  read.unusable.resize(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    MigrationAccount& account = read.accounts[i];
    splitLabel(std::string(fields[i].issuer), std::string(fields[i].name), account.site,
               account.account);
    read.unusable[i] = codesProblem(fields[i]);
    // Each secret copied once, into its place.
    if (read.unusable[i].empty()) account.secret.assign(fields[i].secret);
  }
  batch = std::move(read);
  return "";
}

// Appends a text or bytes field, or nothing for an empty one, as protobuf leaves out a default.
void writeText(std::string& out, std::uint32_t number, const std::string& text) {
  if (!text.empty()) writeBytesField(out, number, text);
}

// Appends an int32 field, or nothing for 0; a negative one takes ten bytes, as protobuf has it.
void writeInt32(std::string& out, std::uint32_t number, std::int32_t value) {
  if (value != 0) writeVarintField(out, number, static_cast<std::uint64_t>(std::int64_t{value}));
}

// The payload at its longest: for each account its texts (the site twice, and the name's ":"),
// the tags and two-byte lengths of three text fields (a longer one is past the line already),
// three enum fields of two bytes, and its message's own tag and length; then the version and
// three int32 fields of up to eleven bytes. One account's message is less.
constexpr std::size_t kAccountFields = 3 * 3 + 1 + 3 * 2 + 3;
constexpr std::size_t kBatchFields = 2 + 3 * 11;
constexpr std::string_view kMigrationStart = "otpauth-migration://offline?data=";

std::size_t accountRoom(const MigrationAccount& account) {
  return account.secret.size() + account.site.size() * 2 + account.account.size() + kAccountFields;
}

}  // namespace

bool isMigrationUri(const std::string& key) {
  return equalsIgnoringCase(key.substr(0, 18), "otpauth-migration:");
}

std::string parseMigrationUri(const std::string& text, MigrationBatch& batch) {
  // As long as a key may be, so that a URI read from standard input, where longer lines are cut,
  // is never taken apart cut: a payload cut between two accounts reads as one with fewer.
  if (text.size() > kMaxKeyLength) {
    return "too long: more than " + std::to_string(kMaxKeyLength) + " bytes";
  }
  const std::string_view uri = text;
  const std::string_view scheme = "otpauth-migration://";
  if (!equalsIgnoringCase(uri.substr(0, scheme.size()), scheme)) {
    return "not written otpauth-migration://offline?data=DATA";
  }
  const std::size_t query = std::min(uri.find('?'), uri.size());
  if (!equalsIgnoringCase(uri.substr(scheme.size(), query - scheme.size()), "offline")) {
    return "host is not offline";
  }
  std::optional<std::string_view> data;
  const std::string_view parameters = uri.substr(std::min(query + 1, uri.size()));
  for (std::size_t start = 0; start < parameters.size();) {
    const std::string_view pair = parameters.substr(start, parameters.find('&', start) - start);
    start += pair.size() + 1;
    const std::size_t equals = std::min(pair.find('='), pair.size());
    if (!equalsIgnoringCase(pair.substr(0, equals), "data")) continue;
    if (data) return "data given twice";
    data = pair.substr(std::min(equals + 1, pair.size()));
  }
  if (!data) return "no data parameter";
  std::optional<std::string> base64 = percentDecoded(*data);
  if (!base64) return "'%' not followed by two hex digits in data";
  std::string payload;
  std::string problem = base64Decoded(*base64, payload);
  wipe(*base64);
  if (problem.empty()) problem = readBatch(payload, batch);
  wipe(payload);
  return problem;
}

std::string migrationUri(const std::vector<MigrationAccount>& accounts, std::int32_t batchSize,
                         std::int32_t batchIndex, std::int32_t batchId) {
  if (accounts.size() > kMaxMigrationAccounts) return "";
  const std::size_t room = std::accumulate(
      accounts.begin(), accounts.end(), kBatchFields,
      [](std::size_t sum, const MigrationAccount& account) { return sum + accountRoom(account); });
  // More than the longest line, it is too long for one even less all that the fields may add (225
  // bytes at most): the base64 of the rest is a third longer.
  if (room > kMaxKeyLength) return "";
  // Every buffer that holds a secret has all its room made once, so that none is left behind in
  // memory that a growing one moved away from.
  std::string message;
  message.reserve(room);
  std::string payload;
  payload.reserve(room);
  for (const MigrationAccount& account : accounts) {
    writeText(message, 1, account.secret);
    // Under an empty site, a name with a colon of its own starts with one, which keeps it whole.
    writeText(message, 2,
              account.site.empty() && account.account.find(':') == std::string::npos
                  ? account.account
                  : account.site + ":" + account.account);
    writeText(message, 3, account.site);
    writeVarintField(message, 4, 1);  // SHA1
    writeVarintField(message, 5, 1);  // six digits
    writeVarintField(message, 6, 2);  // TOTP
    writeBytesField(payload, 1, message);
    wipe(message);
  }
  writeVarintField(payload, 2, 1);  // the version
  writeInt32(payload, 3, batchSize);
  writeInt32(payload, 4, batchIndex);
  writeInt32(payload, 5, batchId);

  std::string base64(EVP_ENCODE_LENGTH(payload.size()), '\0');
  base64.resize(static_cast<std::size_t>(EVP_EncodeBlock(
      reinterpret_cast<unsigned char*>(base64.data()),
      reinterpret_cast<const unsigned char*>(payload.data()), static_cast<int>(payload.size()))));
  wipe(payload);
  std::string uri(kMigrationStart);
  uri.reserve(uri.size() + 3 * base64.size());  // each byte escaped at most
  for (const char c : base64) {
    if (c == '+') {
      uri += "%2B";
    } else if (c == '/') {
      uri += "%2F";
    } else if (c == '=') {
      uri += "%3D";
    } else {
      uri.push_back(c);
    }
  }
  wipe(base64);
  if (uri.size() > kMaxKeyLength) wipe(uri);
  return uri;
}

std::size_t longestMigrationUri(const MigrationAccount& account) {
  // Four base64 characters for each three bytes, each escaped at most.
  const std::size_t groups = (kBatchFields + accountRoom(account) + 2) / 3;
  return kMigrationStart.size() + groups * 4 * 3;
}
