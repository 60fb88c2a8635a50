// The otpauth URI: a key as services hand it out, read into its secret, site and account.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// What an otpauth URI gives: the base32 secret, and the site and account it names, empty ones
// included; nothing where it names none.
struct KeyUri {
  std::string secret;
  // Why kavro cannot compute its codes (another type, algorithm, digit count or period, or a
  // secret of no whole byte), or empty.
  std::string unusable;
  std::optional<std::string> site;
  std::optional<std::string> account;
};

// Whether `key` is written as an otpauth URI rather than as base32 text: it begins "otpauth:",
// without regard to case. No base32 key holds a colon, so the two cannot be taken for each other.
bool isKeyUri(const std::string& key);

// Reads otpauth://TYPE/LABEL?PARAMETERS into `uri`, which is set only when it is well written.
// Returns why it is not, without quoting the secret or the URI, or empty. Refused: a parameter
// given twice, a parameter whose name holds one of secret, issuer, algorithm, digits and period
// but is not it (" digits") or holds an escaped "=", an "&amp;", a "#", a bad percent escape
// anywhere, and a missing secret or one with a byte outside base32. Codes that kavro does not
// make (a type other than totp, an algorithm other than SHA1, digits other than the text "6",
// period other than "30", a secret of no whole byte) are told in `unusable`. Site and account are
// splitLabel's, returned as they are, control characters included: a label with a colon names
// both, either of them possibly empty, a label without one the account alone, and an issuer the
// site.
std::string parseKeyUri(const std::string& text, KeyUri& uri);

// The site and account that an issuer and a label ("Issuer:account", or the account alone) name.
// The site is the issuer, else the label up to its first colon, or empty where it has none. The
// account is what follows the issuer and a colon where the label begins so, else what follows the
// label's first colon, else the whole label; spaces at its start are dropped. So an issuer with a
// colon of its own ("My:Site") still leaves the account whole.
void splitLabel(const std::string& issuer, const std::string& label, std::string& site,
                std::string& account);

// Whether `text` is `lower`, ASCII letters compared without regard to case.
bool equalsIgnoringCase(std::string_view text, std::string_view lower);

// `text` with each %XX replaced by its byte, or nothing when a "%" is not followed by two hex
// digits. A "+" stays a "+": turning it into a space belongs to HTML forms, not to URIs. The text
// may be a secret: it is decoded into room made once, so that wipe reaches every copy.
std::optional<std::string> percentDecoded(std::string_view text);

// Appends the otpauth URI of the key bytes `secret` with its site and account, as an
// authenticator app reads it: otpauth://totp/SITE:ACCOUNT?secret=BASE32&issuer=SITE, or
// otpauth://totp/:ACCOUNT?secret=BASE32 where the site is empty, which parseKeyUri reads back as
// it was. Site and account are percent-escaped, the secret
// canonical base32. `uri` grows once, with room for a line end after it, so that no copy of the
// secret is left where it was.
void appendKeyUri(std::string& uri, const std::string& secret, std::string_view site,
                  std::string_view account);

// The size of the otpauth URI that appendKeyUri appends for key bytes of `secretSize`.
std::size_t keyUriSize(std::size_t secretSize, std::string_view site, std::string_view account);
