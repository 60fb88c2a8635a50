#include "key_uri.h"

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <optional>
#include <string_view>
#include <utility>

#include "otp.h"
#include "record_text.h"

namespace {

// The parameters that decide the codes or name the record; every other one is ignored.
struct Parameters {
  std::optional<std::string> secret;
  std::optional<std::string> issuer;
  std::optional<std::string> algorithm;
  std::optional<std::string> digits;
  std::optional<std::string> period;
};

struct Known {
  const char* name;
  std::optional<std::string> Parameters::*field;
};
constexpr Known kKnown[] = {{"secret", &Parameters::secret},
                            {"issuer", &Parameters::issuer},
                            {"algorithm", &Parameters::algorithm},
                            {"digits", &Parameters::digits},
                            {"period", &Parameters::period}};

// ASCII letters only, whatever the locale: every text compared here is ASCII where it matches.
char lowerCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The byte that two hex digits of either case stand for, or nothing.
std::optional<char> hexByte(std::string_view digits) {
  constexpr std::string_view kDigits = "0123456789abcdef";
  if (digits.size() != 2) return std::nullopt;
  const std::size_t high = kDigits.find(lowerCase(digits[0]));
  const std::size_t low = kDigits.find(lowerCase(digits[1]));
  if (high == std::string_view::npos || low == std::string_view::npos) return std::nullopt;
  return static_cast<char>(high * 16 + low);
}

// Why the parameter `name` is refused as a near miss of `known`. The name is quoted only where
// it can hold no value: it came before an "=" and is printable ASCII, so neither a secret that
// lacks its "=" nor a byte that acts on the terminal reaches the message.
std::string nearMissProblem(const std::string& name, const char* known, bool beforeEquals) {
  const bool printable =
      std::all_of(name.begin(), name.end(), [](char c) { return c >= ' ' && c <= '~'; });
  return (beforeEquals && printable ? "parameter '" + name + "'"
                                    : std::string("parameter named like ") + known) +
         " is not " + known;
}

// Reads the parameter "name=value" whose value is `value`, decoded, into `parameters`, moving it
// there; returns why it cannot, or empty. Names are decoded and compared without regard to case
// too, so that no spelling of "digits" slips by as an ignored parameter; for the same reason a
// name that holds a known one but is not it (" digits", "amp;digits"), or holds an escaped "=",
// is refused. A known parameter given twice is refused: readers differ on which one counts, and
// a guess could store codes that are always wrong.
std::string readParameter(std::string_view pair, std::string& value, Parameters& parameters) {
  const std::size_t equals = std::min(pair.find('='), pair.size());
  const std::optional<std::string> name = percentDecoded(pair.substr(0, equals));
  if (!name) return "'%' not followed by two hex digits in a parameter";
  if (name->find('=') != std::string::npos) return "'%3D' in a parameter name: write it =";
  for (const Known& known : kKnown) {
    if (!holdsIgnoringCase(*name, known.name)) continue;
    // Holding the known name, it is that name only where it is no longer.
    if (name->size() != std::string_view(known.name).size()) {
      return nearMissProblem(*name, known.name, equals < pair.size());
    }
    std::optional<std::string>& field = parameters.*known.field;
    if (field) return std::string(known.name) + " given twice";
    field = std::move(value);
    return "";
  }
  return "";
}

// Reads "name=value&..." into `parameters`; returns why it cannot, or empty. An "&amp;", the "&"
// of a URI copied from a web page, is refused. Every value decoded but not kept is wiped.
std::string readParameters(std::string_view query, Parameters& parameters) {
  if (query.find("&amp;") != std::string_view::npos) return "'&amp;' in the parameters: write it &";
  std::size_t end = 0;  // of the pair read last
  for (std::size_t start = 0; end != std::string_view::npos; start = end + 1) {
    end = query.find('&', start);
    const std::string_view pair = query.substr(start, end - start);
    // The value is what follows the first "=", and empty without one.
    std::optional<std::string> value =
        percentDecoded(pair.substr(std::min(pair.find('='), pair.size() - 1) + 1));
    std::string problem = value ? readParameter(pair, *value, parameters)
                                : "'%' not followed by two hex digits in a parameter";
    if (value) wipe(*value);
    if (!problem.empty()) return problem;
  }
  return "";
}

// Why codes of the type and parameters are not those that kavro makes, or empty.
std::string codesProblem(std::string_view type, const Parameters& parameters) {
  if (!equalsIgnoringCase(type, "totp")) return "type is not totp";
  if (parameters.algorithm && !equalsIgnoringCase(*parameters.algorithm, "sha1")) {
    return "algorithm is not SHA1";
  }
  // The numbers are compared as text: "06" or " 6" may mean 6 to one reader and not to another.
  if (parameters.digits && *parameters.digits != "6") return "digits is not 6";
  if (parameters.period && *parameters.period != "30") return "period is not 30 seconds";
  return "";
}

// Whether a URI keeps the byte as it is: the unreserved ones. Any other is escaped, a space as
// %20, never "+", which is a plus.
bool unreserved(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

std::size_t escapedSize(std::string_view text) {
  return std::accumulate(text.begin(), text.end(), std::size_t{0},
                         [](std::size_t size, char c) { return size + (unreserved(c) ? 1 : 3); });
}

constexpr std::string_view kStart = "otpauth://totp/";
constexpr std::string_view kSecret = "?secret=";
constexpr std::string_view kIssuer = "&issuer=";

}  // namespace

bool equalsIgnoringCase(std::string_view text, std::string_view lower) {
  return std::equal(text.begin(), text.end(), lower.begin(), lower.end(),
                    [](char c, char l) { return lowerCase(c) == l; });
}

std::optional<std::string> percentDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); i += 3) {
    // The plain run up to the next escape in one append.
    const std::size_t escape = std::min(text.find('%', i), text.size());
    decoded.append(text.substr(i, escape - i));
    i = escape;
    if (i == text.size()) break;
    const std::optional<char> byte = hexByte(text.substr(i + 1, 2));
    if (!byte) {
      wipe(decoded);
      return std::nullopt;
    }
    decoded.push_back(*byte);
  }
  return decoded;
}

void splitLabel(const std::string& issuer, const std::string& label, std::string& site,
                std::string& account) {
  const std::size_t colon = label.find(':');
  std::size_t accountStart = colon == std::string::npos ? 0 : colon + 1;
  // The first colon is the wrong one where the issuer has a colon of its own ("My:Site:alice").
  if (label.size() > issuer.size() && label.compare(0, issuer.size(), issuer) == 0 &&
      label[issuer.size()] == ':') {
    accountStart = issuer.size() + 1;
  }
  site = !issuer.empty() ? issuer : label.substr(0, colon == std::string::npos ? 0 : colon);
  account = label.substr(accountStart);
  account.erase(0, std::min(account.find_first_not_of(' '), account.size()));
}

bool isKeyUri(const std::string& key) { return equalsIgnoringCase(key.substr(0, 8), "otpauth:"); }

std::string parseKeyUri(const std::string& text, KeyUri& uri) {
  // As long as a key may be, so that a URI read from standard input, where longer lines are cut,
  // is never taken apart cut.
  if (text.size() > kMaxKeyLength) {
    return "too long: more than " + std::to_string(kMaxKeyLength) + " bytes";
  }
  const std::string scheme = "otpauth://";
  if (!equalsIgnoringCase(text.substr(0, scheme.size()), scheme)) {
    return "not written otpauth://TYPE/LABEL?PARAMETERS";
  }
  // The format has no fragment. A "#" is far likelier an unescaped one in the label or a value,
  // which taking the rest for a fragment would cut short without a word.
  if (text.find('#') != std::string::npos) return "'#' in the URI: write it %23";
  const std::size_t query = std::min(text.find('?'), text.size());
  const std::size_t slash = std::min(text.find('/', scheme.size()), query);
  Parameters parameters;
  std::string problem =
      readParameters(std::string_view(text).substr(std::min(query + 1, text.size())), parameters);
  if (problem.empty() && !parameters.secret) problem = "no secret parameter";
  const std::string keyProblem = problem.empty() ? base32KeyProblem(*parameters.secret) : "";
  // A secret too short for a byte is well written, and only gives no codes.
  const bool noByte = keyProblem.compare(0, 9, "too short") == 0;
  if (!keyProblem.empty() && !noByte) problem = "secret " + keyProblem;
  // An empty label is taken: the caller's --site and --account, or its "Missing" errors, follow.
  const std::size_t labelStart = std::min(slash + 1, query);
  const std::optional<std::string> label =
      percentDecoded(text.substr(labelStart, query - labelStart));
  if (problem.empty() && !label) problem = "'%' not followed by two hex digits in the label";
  if (!problem.empty()) {
    if (parameters.secret) wipe(*parameters.secret);
    return problem;
  }
  KeyUri read;
  read.secret.swap(*parameters.secret);
  read.unusable =
      codesProblem(std::string_view(text).substr(scheme.size(), slash - scheme.size()), parameters);
  if (read.unusable.empty() && noByte) read.unusable = "secret " + keyProblem;
  if (!parameters.issuer) parameters.issuer.emplace();
  const std::string& issuer = *parameters.issuer;
  std::string site;
  std::string account;
  splitLabel(issuer, *label, site, account);
  const bool colon = label->find(':') != std::string::npos;
  if (!issuer.empty() || colon) read.site = std::move(site);
  if (!label->empty()) read.account = std::move(account);
  uri = std::move(read);
  return "";
}

std::size_t keyUriSize(std::size_t secretSize, std::string_view site, std::string_view account) {
  const std::size_t siteSize = site.empty() ? 1 : escapedSize(site) * 2 + 1 + kIssuer.size();
  return kStart.size() + siteSize + escapedSize(account) + kSecret.size() +
         (secretSize * 8 + 4) / 5;
}

void appendKeyUri(std::string& uri, const std::string& secret, std::string_view site,
                  std::string_view account) {
  const auto appendPercentEscaped = [&](std::string_view text) {
    std::size_t plain = 0;  // where the text not yet appended starts
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (unreserved(text[i])) continue;
      const auto byte = static_cast<unsigned char>(text[i]);
      uri.append(text.substr(plain, i - plain)) +=
          {'%', "0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 0x0FU]};
      plain = i + 1;
    }
    uri.append(text.substr(plain));
  };
  // All the room first, the line end a caller writes after it too, so that the text is never
  // moved with the secret in it.
  uri.reserve(uri.size() + keyUriSize(secret.size(), site, account) + 1);
  std::string base32 = base32Encode(secret);
  uri += kStart;
  appendPercentEscaped(site);
  uri += ':';
  appendPercentEscaped(account);
  (uri += kSecret) += base32;
  wipe(base32);
  if (!site.empty()) {
    uri += kIssuer;
    appendPercentEscaped(site);
  }
}
