#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

std::string makeTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/kavro-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

RunResult runKavro(const std::string& dir, const std::vector<std::string>& args,
                   const std::string& frozenTime) {
  const std::string outPath = makeTempDir();
  std::vector<std::string> words;
  if (!frozenTime.empty()) words = {"faketime", "-f", frozenTime};
  words.push_back(KAVRO_BINARY);
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int out = open((outPath + "/out").c_str(), O_WRONLY | O_CREAT, 0600);
    const int err = open((outPath + "/err").c_str(), O_WRONLY | O_CREAT, 0600);
    if (chdir(dir.c_str()) != 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    setenv("TZ", "UTC", 1);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                   readFile(outPath + "/out"), readFile(outPath + "/err")};
  unlink((outPath + "/out").c_str());
  unlink((outPath + "/err").c_str());
  rmdir(outPath.c_str());
  return result;
}

std::string query(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  std::string rows;
  auto addRow = [](void* out, int columns, char** values, char**) {
    auto* text = static_cast<std::string*>(out);
    for (int i = 0; i < columns; ++i) *text += std::string(i ? "|" : "") + (values[i] ? values[i] : "NULL");
    *text += "\n";
    return 0;
  };
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), addRow, &rows, &error) != SQLITE_OK) rows = error;
  sqlite3_free(error);
  sqlite3_close(db);
  return rows;
}
