// End to end: the built program, run as a user would, in a scratch directory.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "otp.h"

namespace {

struct RunResult {
  int status;
  std::string out, err;
};

std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

std::string shellQuoted(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs `sql` on the database at `path` with the sqlite3 shell; returns its rows, columns joined
// by '|'.
std::string query(const std::string& path, const std::string& sql) {
  FILE* shell = popen(
      ("sqlite3 -init /dev/null -batch " + shellQuoted(path) + " " + shellQuoted(sql) + " 2>&1")
          .c_str(),
      "r");
  std::string rows;
  for (int c = 0; (c = std::fgetc(shell)) != EOF;) rows += static_cast<char>(c);
  pclose(shell);
  return rows;
}

const std::string kKey =
    "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";  // its code is 081804 at the frozen time
const std::string kUsage = std::string("Usage: ") + KAVRO_BINARY +
                           "\n\taddcode --key=<secret key> --site=<site name> --account=<account "
                           "name>\n\tdelcode --id=<id>\n\tlscodes\n\tvercode --code=<code> "
                           "--key=<secret key>\n";

// Each test has a new empty directory to run kavro in.
class KavroTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "kavro-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Runs kavro with no umask and its clock frozen at 1111111109 s since the epoch; `environment`
  // is prepended to the command line, `out` is where its standard output goes.
  RunResult run(const std::vector<std::string>& args, const std::string& environment = "",
                const std::string& out = ".out") const {
    std::string command = "cd " + shellQuoted(dir_) + " && umask 0 && " + environment +
                          " TZ=UTC faketime -f '2005-03-18 01:58:29' " + shellQuoted(KAVRO_BINARY);
    for (const std::string& arg : args) command += " " + shellQuoted(arg);
    const int status = std::system((command + " >" + out + " 2>.err").c_str());
    RunResult result{WEXITSTATUS(status), readFile(dir_ + "/.out"), readFile(dir_ + "/.err")};
    std::filesystem::remove(dir_ + "/.out");
    std::filesystem::remove(dir_ + "/.err");
    return result;
  }
  std::string db() const { return dir_ + "/kavro.db"; }
  mode_t dbMode() const {
    struct stat info {};
    return stat(db().c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
  }
  void expectFailure(const std::vector<std::string>& args, const std::string& err) const {
    const RunResult result = run(args);
    EXPECT_EQ(result.status, 1) << args[0];
    EXPECT_EQ(result.out, "") << args[0];
    EXPECT_EQ(result.err, err) << args[0];
  }
  std::string dir_;
};

TEST_F(KavroTest, RejectedCommandLinesShowUsageAndCreateNothing) {
  const std::pair<std::vector<std::string>, std::string> rows[] = {
      {{}, ""},
      {{"list", "--key=A"}, ""},
      {{"LSCODES"}, ""},
      {{"--id=1", "delcode"}, ""},  // an option placed first is the command word
      {{"addcode"}, "Missing key\n"},
      {{"addcode", "--key=A"}, "Missing site\n"},
      {{"addcode", "--site=s", "--key=A"}, "Missing account\n"},
      {{"addcode", "--key=", "--site=s", "--account=a"}, "Missing key\n"},
      {{"addcode", "--key=A", "--Site=s", "-site=s", "site=s", "--account=a"}, "Missing site\n"},
      {{"delcode", "--id="}, "Missing id\n"},
      {{"vercode", "--code=123456"}, "Missing key\n"},
      {{"vercode"}, "Missing key\n"},
      {{"vercode", "--key=A", "--Code=1"}, "Missing code\n"},
  };
  for (const auto& [args, message] : rows) {
    const RunResult result = run(args);
    EXPECT_EQ(result.status, 1) << ::testing::PrintToString(args);
    EXPECT_EQ(result.out + result.err, message + kUsage) << ::testing::PrintToString(args);
    EXPECT_FALSE(std::filesystem::exists(db())) << ::testing::PrintToString(args);
  }
}

TEST_F(KavroTest, OptionsAreScannedAsTyped) {
  // A bare option is its own value, a value splits at its first "=", the last repetition wins,
  // and words the command does not use are ignored.
  EXPECT_EQ(
      run({"addcode", "--site=a", "--key", "--account=b=c", "--site=d", "--id=9", "x"}).status, 0);
  EXPECT_EQ(query(db(), "SELECT key, site, account FROM records"), "--key|d|b=c\n");
  EXPECT_EQ(run({"vercode", "--key=" + kKey, "--code"}).out, "Code verified: false\n");
  EXPECT_EQ(run({"lscodes", "--bogus=1", "--key="}).status, 0);
}

TEST_F(KavroTest, AddListAndDeleteRoundTrip) {
  EXPECT_EQ(run({"lscodes"}).out, "");
  EXPECT_EQ(dbMode(), 0600U);  // secrets in clear: owner only, though the umask is 0
  EXPECT_EQ(run({"addcode", "--key=" + kKey, "--site=example.org", "--account=alice"}).out,
            "Generated code: 081804\n");
  const std::string spaced = "gezd gnbv gy3t qojq gezd gnbv gy3t qojq";  // same secret, as typed
  EXPECT_EQ(run({"addcode", "--key=" + spaced, "--site=b b", "--account=bob"}).out,
            "Generated code: 081804\n");
  EXPECT_EQ(query(db(), "SELECT key FROM records WHERE id = 2"), spaced + "\n");
  EXPECT_EQ(run({"lscodes"}).out,
            "ID: 1\tSite: example.org\tAccount: alice\tGenerated code: 081804\n"
            "ID: 2\tSite: b b\tAccount: bob\tGenerated code: 081804\n");
  EXPECT_EQ(run({"delcode", "--id= 1"}).out, "ID  1 deleted successfully.\n");
  EXPECT_EQ(run({"delcode", "--id=+2"}).out, "ID +2 deleted successfully.\n");
  chmod(db().c_str(), 0640);  // the owner's choice for an existing file stands
  EXPECT_EQ(run({"lscodes"}).out, "");
  EXPECT_EQ(dbMode(), 0640U);
}

TEST_F(KavroTest, DeleteRefusesIdsThatNameNoRecord) {
  run({"addcode", "--key=A", "--site=s", "--account=a"});
  for (const char* id :
       {"1abc", "abc", "1.5", "1 ", " ", "+-1", "0x1", "2147483648", "4294967297"}) {
    expectFailure({"delcode", std::string("--id=") + id}, std::string("Invalid id: ") + id + "\n");
  }
  for (const char* id : {"2", "-1", "2147483647"}) {
    expectFailure({"delcode", std::string("--id=") + id},
                  std::string("No record with ID ") + id + "\n");
  }
  EXPECT_EQ(query(db(), "SELECT id, key FROM records"), "1|A\n");
}

TEST_F(KavroTest, VercodeAnswersWithoutReadingAnOpenSSLConfiguration) {
  const std::string config = std::string("OPENSSL_CONF=") + KAVRO_UNLOADABLE_OPENSSL_CONF;
  const RunResult accepted = run({"vercode", "--code=081804", "--key=" + kKey}, config);
  EXPECT_EQ(accepted.status, 0);
  EXPECT_EQ(accepted.out + accepted.err, "Code verified: true\n");
  EXPECT_EQ(run({"vercode", "--code=81804", "--key=" + kKey}).out, "Code verified: false\n");
  EXPECT_EQ(query(db(), "SELECT name FROM sqlite_master"), "records\n");
}

TEST_F(KavroTest, ResultsThatCannotBeWrittenAreAFailure) {
  run({"addcode", "--key=A", "--site=s", "--account=a"});
  const RunResult result = run({"lscodes"}, "", "/dev/full");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "Error writing output: No space left on device\n");
}

TEST_F(KavroTest, ForeignTableFailsToPrepareEachStatement) {
  query(db(), "CREATE TABLE records (name TEXT)");
  expectFailure({"addcode", "--key=A", "--site=s", "--account=a"},
                "Error preparing statement: table records has no column named key\n");
  expectFailure({"delcode", "--id=1"}, "Error preparing statement: no such column: id\n");
  expectFailure({"lscodes"}, "Error preparing statement: no such column: id\n");
}

TEST_F(KavroTest, NullColumnsListAsEmpty) {
  query(db(),
        "CREATE TABLE records (id INTEGER PRIMARY KEY, key TEXT, site TEXT, account TEXT);"
        "INSERT INTO records VALUES (5, NULL, NULL, NULL)");
  EXPECT_EQ(run({"lscodes"}).out, "ID: 5\tSite: \tAccount: \tGenerated code: " +
                                      generateOTP("", 30, 6, 1111111109).value() + "\n");
}

}  // namespace
