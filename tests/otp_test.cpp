#include "otp.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <openssl/crypto.h>

namespace {

const std::string kRfcKey = "12345678901234567890";  // the key of the published test vectors

std::string codeAt(const std::string& secret, std::int64_t time) {
  return generateOTP(secret, 30, 6, time).value_or("failed");
}

TEST(Base32Decode, DecodesLettersOfEitherCaseAndDigits2To7) {
  struct Row {
    const char* name;
    std::string input, bytes;
  };
  const Row rows[] = {
      {"empty", "", ""},
      {"partial byte dropped", "MFRGG", "abc"},
      {"padding skipped", "MFRGG===", "abc"},
      {"lower and mixed case", "mfRgG", "abc"},
      {"spaces and hyphens skipped", "MF RG-G", "abc"},
      {"nothing accepted", "0189=- @", ""},
      {"1 character", "M", ""},
      {"8 characters", "MFRGGZDF", "abcde"},
      {"zero bytes kept", "AAAAAAAA", std::string(5, '\0')},
      {"16 characters", "GEZDGNBVGY3TQOJQ", "1234567890"},
      {"26 characters", "GAYTEMZUGU3DOOBZMFRGGZDFMY", "0123456789abcdef"},
      {"32 characters", "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ", kRfcKey},
  };
  for (const Row& row : rows) EXPECT_EQ(base32Decode(row.input), row.bytes) << row.name;
}

TEST(Base32Decode, SkipsBytesJustOutsideTheAlphabet) {
  for (const char foreign : std::string("0189@[`{=\x80\xff") + '\0') {
    EXPECT_EQ(base32Decode(std::string("MF") + foreign + "RGG"), "abc") << int(foreign);
  }
}

TEST(GenerateOTP, MatchesPublishedVectorsKeepingLeadingZeros) {
  const std::pair<std::int64_t, const char*> rows[] = {
      {59, "287082"},         {1111111109, "081804"}, {1111111111, "050471"},
      {1234567890, "005924"}, {2000000000, "279037"}, {20000000000, "353130"}};
  for (const auto& [time, code] : rows) EXPECT_EQ(codeAt(kRfcKey, time), code) << time << " s";
}

TEST(GenerateOTP, ChangesOnlyAtStepBoundaries) {
  const char* hotp[] = {"755224", "287082", "359152", "969429", "338314",
                        "254676", "287922", "162583", "399871", "520489"};
  for (std::int64_t count = 0; count < 10; ++count) {
    EXPECT_EQ(codeAt(kRfcKey, 30 * count), hotp[count]) << "first second of step " << count;
    EXPECT_EQ(codeAt(kRfcKey, 30 * count + 29), hotp[count]) << "last second of step " << count;
  }
}

TEST(VerifyOTP, AcceptsOnlyTheExactCurrentCode) {
  struct Row {
    const char* name;
    std::string otp;
    bool verified;
  };
  const Row rows[] = {
      {"current code", "081804", true},
      {"leading zero dropped", "81804", false},
      {"space before", " 081804", false},
      {"space after", "081804 ", false},
      {"next step", "050471", false},
      {"empty", "", false},
      {"previous step", codeAt(kRfcKey, 1111111079), false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(verifyOTP(kRfcKey, row.otp, 30, 6, 1111111109), row.verified) << row.name;
  }
}

TEST(VerifyOTP, AcceptsTheCodeOfAnEmptySecret) {
  const std::string code = codeAt("", 1111111109);
  EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(code.size(), 6U);
  EXPECT_EQ(verifyOTP("", code, 30, 6, 1111111109), true);
}

TEST(GenerateOTPDeathTest, FailedHMACGivesOneErrorLineAndNoCode) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, whose libcrypto is unused
  auto withUnloadableConfig = [] {
    OPENSSL_INIT_SETTINGS* settings = OPENSSL_INIT_new();
    OPENSSL_INIT_set_config_filename(settings, KAVRO_UNLOADABLE_OPENSSL_CONF);
    OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CONFIG, settings);
    OPENSSL_INIT_free(settings);
    std::exit(!generateOTP(kRfcKey, 30, 6, 59) && !verifyOTP(kRfcKey, "287082", 30, 6, 59) ? 0 : 1);
  };
  EXPECT_EXIT(withUnloadableConfig(), ::testing::ExitedWithCode(0),
              "^Error computing code: .*unsupported\nError computing code: .*unsupported\n$");
}

}  // namespace
