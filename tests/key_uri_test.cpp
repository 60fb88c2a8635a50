#include "key_uri.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(KeyUri, IsOneWhenItBeginsWithTheSchemeAndAColon) {
  EXPECT_TRUE(isKeyUri("OtpAuth:/"));
  EXPECT_FALSE(isKeyUri("otpauthJBSWY3DP"));
}

TEST(KeyUri, GivesTheSecretTheSiteAndTheAccount) {
  const struct {
    const char *name, *uri, *secret, *site, *account;
  } rows[] = {
      {"example", "otpauth://totp/Example:alice@example.com?secret=JBSWY3DPEHPK3PXP&issuer=Example",
       "JBSWY3DPEHPK3PXP", "Example", "alice@example.com"},
      {"%3A, spaces dropped, + kept", "otpauth://totp/AC%4De%20%3a%20%20j+d%40%2F9?secret=MF", "MF",
       "ACMe ", "j+d@/9"},
      {"issuer wins, first colon splits",
       "otpauth://totp/Old: b:c?issuer=N%39%3Ao&secret=JB%53W%20Y3", "JBSW Y3", "N9:o", "b:c"},
      {"issuer with its own colon", "otpauth://totp/My:Site:alice?issuer=My:Site&secret=MF", "MF",
       "My:Site", "alice"},
      {"upper case", "OTPAUTH://TOTP/b?SECRET=MF&ALGORITHM=SHA1&Digits=6&period=30", "MF", "-",
       "b"},
      {"others ignored", "otpauth://totp/a:b/c?x&i=%0f?/&i&&secret=MF&issuer=&", "MF", "a", "b/c"},
      {"no label", "otpauth://totp?secret=MF&issuer=S", "MF", "S", "-"},
      {"no colon", "otpauth://totp/%20b%7E?secret=MF", "MF", "-", "b~"},
      {"empty site and account", "otpauth://totp/:?secret=MF", "MF", "", ""},
  };
  for (const auto& row : rows) {
    KeyUri uri;
    EXPECT_EQ(parseKeyUri(row.uri, uri), "") << row.name;
    EXPECT_EQ(uri.secret, row.secret) << row.name;
    EXPECT_EQ(uri.site.value_or("-"), row.site) << row.name;  // "-": named nowhere
    EXPECT_EQ(uri.account.value_or("-"), row.account) << row.name;
  }
}

TEST(KeyUri, RefusesNearMissesWithoutQuotingTheSecret) {
  const struct {
    const char *uri, *reason;
  } rows[] = {
      {"otpauth:/totp/a?secret=JBSWY3DP", "not written otpauth://TYPE/LABEL?PARAMETERS"},
      {"otpauth://hotp/a?secret=JBSWY3DP&counter=1", "unusable: type is not totp"},
      {"otpauth://totp/a?secret=JBSWY3DP&algorithm=SHA256", "unusable: algorithm is not SHA1"},
      {"otpauth://totp/a?secret=JBSWY3DP&digits=06", "unusable: digits is not 6"},
      {"otpauth://totp/a?secret=JBSWY3DP&period=60", "unusable: period is not 30 seconds"},
      {"otpauth://totp/a?issuer=JBSWY3DP", "no secret parameter"},
      {"otpauth://totp/a?secret", "unusable: secret too short: one byte takes 2 base32 characters"},
      {"otpauth://totp/a?secret=JBSWY3D!", "secret '!' at position 8 is not in A-Z or 2-7"},
      {"otpauth://totp/a?secret=JBSWY3DP&SECRET=JBSWY3DP", "secret given twice"},
      {"otpauth://totp/a?issuer=%4", "'%' not followed by two hex digits in a parameter"},
      {"otpauth://totp/a?%zz=1", "'%' not followed by two hex digits in a parameter"},
      {"otpauth://totp/a%G0?secret=JBSWY3DP", "'%' not followed by two hex digits in the label"},
      {"otpauth://totp/C#?secret=JBSWY3DP", "'#' in the URI: write it %23"},
      {"otpauth://totp/a?secret=MF&amp;secret=MF", "'&amp;' in the parameters: write it &"},
      {"otpauth://totp/a?secret=MF&digits%3D8", "'%3D' in a parameter name: write it ="},
      {"otpauth://totp/a?secret=MF& Digits=8", "parameter ' Digits' is not digits"},
      {"otpauth://totp/a?secretJBSWY3DP", "parameter named like secret is not secret"},
      {"otpauth://totp/a?%1bperiod=60&secret=MF", "parameter named like period is not period"},
  };
  for (const auto& row : rows) {
    KeyUri uri;
    const std::string problem = parseKeyUri(row.uri, uri);
    EXPECT_EQ(problem.empty() ? "unusable: " + uri.unusable : problem, row.reason) << row.uri;
    EXPECT_TRUE(problem.empty() || uri.secret.empty()) << row.uri;
  }
}

}  // namespace
