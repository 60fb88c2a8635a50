#include "otp.h"

#include <ctime>
#include <string>

#include <gtest/gtest.h>

namespace {

const std::string kRfcKey = "12345678901234567890";  // the key of the published test vectors

std::string codeAt(const std::string& secret, std::int64_t time) {
  return generateOTP(secret, 30, 6, time).value_or("failed");
}

TEST(Base32Decode, DecodesAcceptedCharactersAndSkipsTheRest) {
  struct Row { const char* name; std::string input; std::string bytes; };
  const Row rows[] = {
      {"empty", "", ""},
      {"drops the partial byte", "MFRGG", "abc"},
      {"padding skipped", "MFRGG===", "abc"},
      {"lower case", "mfrgg", "abc"},
      {"mixed case", "mFrGg", "abc"},
      {"spaces and hyphens skipped", "MF RG-G", "abc"},
      {"one character, 5 bits", "M", ""},
      {"8 characters, 5 bytes", "MFRGGZDF", "abcde"},
      {"zero bytes kept", "AAAAAAAA", std::string(5, '\0')},
      {"16 characters, 10 bytes", "GEZDGNBVGY3TQOJQ", "1234567890"},
      {"26 characters, 16 bytes", "GAYTEMZUGU3DOOBZMFRGGZDFMY", "0123456789abcdef"},
      {"32 characters, 20 bytes", "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ", kRfcKey},
      {"nothing accepted", "0189=- @", ""},
  };
  for (const Row& row : rows) EXPECT_EQ(base32Decode(row.input), row.bytes) << row.name;
}

TEST(Base32Decode, SkipsNearMissBytes) {
  // Each byte sits just outside an accepted range, or is otherwise foreign.
  const std::string nearMisses[] = {"0", "1", "8", "9", "@", "[", "`", "{", "=", "\x80", "\xff",
                                    std::string(1, '\0')};
  for (const std::string& foreign : nearMisses) {
    EXPECT_EQ(base32Decode("MF" + foreign + "RGG"), "abc") << "byte " << int(foreign[0] & 0xFF);
  }
}

TEST(GenerateOTP, MatchesPublishedVectors) {
  struct Row { const char* name; std::int64_t time; const char* code; };
  const Row rows[] = {
      {"59 s", 59, "287082"},          {"1111111109 s", 1111111109, "081804"},
      {"1111111111 s", 1111111111, "050471"}, {"1234567890 s", 1234567890, "005924"},
      {"2000000000 s", 2000000000, "279037"}, {"20000000000 s", 20000000000, "353130"},
  };
  for (const Row& row : rows) EXPECT_EQ(codeAt(kRfcKey, row.time), row.code) << row.name;
}

TEST(GenerateOTP, FollowsTheCounterStepByStep) {
  const char* hotp[] = {"755224", "287082", "359152", "969429", "338314",
                        "254676", "287922", "162583", "399871", "520489"};
  for (int count = 0; count < 10; ++count) {
    EXPECT_EQ(codeAt(kRfcKey, 30 * count), hotp[count]) << "count " << count;
    EXPECT_EQ(codeAt(kRfcKey, 30 * count + 29), hotp[count]) << "last second of count " << count;
  }
}

TEST(GenerateOTP, EmptySecretStillGivesSixDigits) {
  const std::string code = codeAt("", 1111111109);
  EXPECT_EQ(code.size(), 6U);
  EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(verifyOTP("", code, 30, 6, 1111111109), true);
}

TEST(GenerateOTP, WithoutATimeReadsTheClock) {
  std::time_t before = 0;
  std::string code;
  do {  // retry when a step boundary falls between the two clock readings
    before = std::time(nullptr);
    code = generateOTP(kRfcKey, 30, 6).value_or("failed");
  } while (before / 30 != std::time(nullptr) / 30);
  EXPECT_EQ(code, codeAt(kRfcKey, before));
}

TEST(VerifyOTP, AcceptsOnlyTheExactCurrentCode) {
  struct Row { const char* name; std::string otp; bool verified; };
  const Row rows[] = {
      {"current code", "081804", true},     {"leading zero dropped", "81804", false},
      {"space before", " 081804", false},   {"space after", "081804 ", false},
      {"previous step", codeAt(kRfcKey, 1111111079), false},   {"next step", "050471", false},
      {"empty", "", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(verifyOTP(kRfcKey, row.otp, 30, 6, 1111111109), row.verified) << row.name;
  }
}

}  // namespace
