// End to end: the built program, run as a user would, in a scratch directory.
#include <fstream>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "otp.h"
#include "test_support.h"

namespace {

const std::string kKey = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
const char kFrozen[] = "2005-03-18 01:58:29";  // 1111111109 s, where kKey's code is 081804
const std::string kUsage = std::string("Usage: ") + KAVRO_BINARY +
                           "\n\taddcode --key=<secret key> --site=<site name> --account=<account "
                           "name>\n\tdelcode --id=<id>\n\tlscodes\n\tvercode --code=<code> "
                           "--key=<secret key>\n";

class KavroTest : public ScratchDirTest {
 protected:
  RunResult run(const std::vector<std::string>& args) { return runKavro(dir_, args, kFrozen); }
  std::string db() const { return dir_ + "/kavro.db"; }
  void expectFailure(const std::vector<std::string>& args, const std::string& err,
                     const std::string& name) {
    const RunResult result = run(args);
    EXPECT_EQ(result.status, 1) << name;
    EXPECT_EQ(result.out, "") << name;
    EXPECT_EQ(result.err, err) << name;
  }
};

TEST_F(KavroTest, RejectedCommandLinesShowUsageAndCreateNothing) {
  struct Row { const char* name; std::vector<std::string> args; std::string message; };
  const Row rows[] = {
      {"no arguments", {}, ""},
      {"unknown command", {"list"}, ""},
      {"unknown command with options", {"list", "--key=A"}, ""},
      {"command word in capitals", {"LSCODES"}, ""},
      {"option as command word", {"--id=1", "delcode"}, ""},
      {"addcode alone", {"addcode"}, "Missing key\n"},
      {"addcode, key only", {"addcode", "--key=A"}, "Missing site\n"},
      {"addcode, no account", {"addcode", "--site=s", "--key=A"}, "Missing account\n"},
      {"empty key", {"addcode", "--key=", "--site=s", "--account=a"}, "Missing key\n"},
      {"capitalised name", {"addcode", "--key=A", "--Site=s", "--account=a"}, "Missing site\n"},
      {"one hyphen", {"addcode", "--key=A", "-site=s", "--account=a"}, "Missing site\n"},
      {"no hyphens", {"addcode", "--key=A", "site=s", "--account=a"}, "Missing site\n"},
      {"empty id", {"delcode", "--id="}, "Missing id\n"},
      {"vercode, no key", {"vercode", "--code=123456"}, "Missing key\n"},
      {"vercode, no code", {"vercode", "--key=A", "--Code=1"}, "Missing code\n"},
  };
  for (const Row& row : rows) {
    expectFailure(row.args, row.message + kUsage, row.name);
    EXPECT_FALSE(std::filesystem::exists(db())) << row.name;
  }
}

TEST_F(KavroTest, OptionsAreScannedAsTyped) {
  // A bare option is its own value, a value splits at its first "=", the last repetition wins,
  // and words the command does not use are ignored.
  EXPECT_EQ(run({"addcode", "--site=a", "--key", "--account=b=c", "--site=d", "--id=9", "x"}).status,
            0);
  EXPECT_EQ(query(db(), "SELECT key, site, account FROM records"), "--key|d|b=c\n");
  EXPECT_EQ(run({"vercode", "--key=" + kKey, "--code"}).out, "Code verified: false\n");
  EXPECT_EQ(run({"lscodes", "--bogus=1", "--key="}).status, 0);
}

TEST_F(KavroTest, AddListAndDeleteRoundTrip) {
  EXPECT_EQ(run({"lscodes"}).out, "");
  EXPECT_EQ(run({"addcode", "--key=" + kKey, "--site=example.org", "--account=alice"}).out,
            "Generated code: 081804\n");
  // Lower case and spaces give the same code, and the key is stored as typed.
  const std::string spaced = "gezd gnbv gy3t qojq gezd gnbv gy3t qojq";
  EXPECT_EQ(run({"addcode", "--key=" + spaced, "--site=b b", "--account=bob"}).out,
            "Generated code: 081804\n");
  EXPECT_EQ(query(db(), "SELECT key FROM records WHERE id = 2"), spaced + "\n");
  EXPECT_EQ(run({"lscodes"}).out,
            "ID: 1\tSite: example.org\tAccount: alice\tGenerated code: 081804\n"
            "ID: 2\tSite: b b\tAccount: bob\tGenerated code: 081804\n");

  struct stat info {};
  ASSERT_EQ(stat(db().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600U);

  const RunResult deleted = run({"delcode", "--id= 1"});
  EXPECT_EQ(deleted.status, 0);
  EXPECT_EQ(deleted.out, "ID  1 deleted successfully.\n");
  EXPECT_EQ(run({"delcode", "--id=+2"}).out, "ID +2 deleted successfully.\n");
  EXPECT_EQ(run({"lscodes"}).out, "");
}

TEST_F(KavroTest, DeleteRefusesIdsThatNameNoRecord) {
  run({"addcode", "--key=A", "--site=s", "--account=a"});
  struct Row { const char* id; const char* message; };
  const Row rows[] = {
      {"1abc", "Invalid id: "},       {"abc", "Invalid id: "},     {"1.5", "Invalid id: "},
      {"1 ", "Invalid id: "},         {" ", "Invalid id: "},       {"+-1", "Invalid id: "},
      {"0x1", "Invalid id: "},        {"1e0", "Invalid id: "},     {"2147483648", "Invalid id: "},
      {"4294967297", "Invalid id: "}, {"2", "No record with ID "}, {"-1", "No record with ID "},
      {"2147483647", "No record with ID "},
  };
  for (const Row& row : rows) {
    expectFailure({"delcode", std::string("--id=") + row.id},
                  std::string(row.message) + row.id + "\n", row.id);
  }
  EXPECT_EQ(query(db(), "SELECT id, key FROM records"), "1|A\n");
}

TEST_F(KavroTest, VercodeTellsTheCurrentCodeFromOthers) {
  struct Row { const char* code; const char* word; };
  const Row rows[] = {{"081804", "true"}, {"81804", "false"}, {"050471", "false"}};
  for (const Row& row : rows) {
    const RunResult result = run({"vercode", "--code=" + std::string(row.code), "--key=" + kKey});
    EXPECT_EQ(result.status, 0) << row.code;
    EXPECT_EQ(result.out, std::string("Code verified: ") + row.word + "\n") << row.code;
  }
  EXPECT_EQ(query(db(), "SELECT name FROM sqlite_master"), "records\n");
}

TEST_F(KavroTest, ForeignTableFailsToPrepareEachStatement) {
  query(db(), "CREATE TABLE records (name TEXT)");
  struct Row { std::vector<std::string> args; const char* err; };
  const Row rows[] = {
      {{"addcode", "--key=A", "--site=s", "--account=a"}, "table records has no column named key"},
      {{"delcode", "--id=1"}, "no such column: id"},
      {{"lscodes"}, "no such column: id"},
  };
  for (const Row& row : rows) {
    expectFailure(row.args, std::string("Error preparing statement: ") + row.err + "\n",
                  row.args[0]);
  }
}

TEST_F(KavroTest, FileThatIsNoDatabaseIsReportedAndLeftAlone) {
  std::ofstream(db()) << std::string(4096, 'x');
  for (const char* command : {"lscodes", "vercode", "delcode"}) {
    expectFailure({command, "--id=1", "--key=A", "--code=1"},
                  "Error creating table: file is not a database\n", command);
  }
  EXPECT_EQ(readFile(db()), std::string(4096, 'x'));
}

TEST_F(KavroTest, NullColumnsListAsEmpty) {
  query(db(),
        "CREATE TABLE records (id INTEGER PRIMARY KEY, key TEXT, site TEXT, account TEXT);"
        "INSERT INTO records VALUES (5, NULL, NULL, NULL)");
  EXPECT_EQ(run({"lscodes"}).out, "ID: 5\tSite: \tAccount: \tGenerated code: " +
                                      generateOTP("", 30, 6, 1111111109).value() + "\n");
}

}  // namespace
