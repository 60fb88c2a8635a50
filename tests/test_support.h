// Helpers for tests that run the built program in a scratch directory.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

// A new empty directory under the system's temporary directory.
std::string makeTempDir();

std::string readFile(const std::string& path);

// Runs the built kavro in `dir` with `args` after the program name. A non-empty `frozenTime`
// ("YYYY-MM-DD HH:MM:SS", UTC) stops the child's clock there.
RunResult runKavro(const std::string& dir, const std::vector<std::string>& args,
                   const std::string& frozenTime = "");

// Runs `sql` on the database file at `path` and returns each row as its columns joined by '|',
// a NULL shown as "NULL", one row per line.
std::string query(const std::string& path, const std::string& sql);

// A test with an empty scratch directory `dir_`, removed afterwards.
class ScratchDirTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = makeTempDir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};
