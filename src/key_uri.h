// The otpauth URI: a key as services hand it out, read into its secret, site and account.
#pragma once

#include <string>

// What an otpauth URI gives: the base32 secret, and the site and account it names (empty where it
// names none).
struct KeyUri {
  std::string secret;
  std::string site;
  std::string account;
};

// Whether `key` is written as an otpauth URI rather than as base32 text: it begins "otpauth:",
// without regard to case. No base32 key holds a colon, so the two cannot be taken for each other.
bool isKeyUri(const std::string& key);

// Reads otpauth://TYPE/LABEL?PARAMETERS into `uri`, which is set only when it is one kavro can use.
// Returns why it is not, without quoting the secret or the URI, or empty. The site is the issuer
// parameter, else the label up to its first colon; the account is the rest of the label, leading
// spaces dropped. Refused: a type other than totp, an algorithm other than SHA1, digits other
// than the text "6" and period other than "30", a parameter given twice, a parameter whose name
// holds one of those five but is not it (" digits") or holds an escaped "=", an "&amp;", a "#",
// a bad percent escape anywhere, and a missing or faulty secret. Site and account are returned
// as they are, control characters included.
std::string parseKeyUri(const std::string& text, KeyUri& uri);
