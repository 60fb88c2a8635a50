// Any argument vector goes through the command line without a crash. One that fails validation
// gets status 1, the usage text (after one message at most) and nothing else, and never reaches the
// store; any other reaches it. The input is the vector, its words separated by NUL bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

// The entry point is the unit under test: renamed, it can be called once per input.
#define main kavroMain
#include "../src/main.cpp"  // NOLINT(bugprone-suspicious-include)
#undef main

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // All inputs run in one scratch directory: give TMPDIR a memory file system for speed.
  std::string dir = (std::filesystem::temp_directory_path() / "kavro-fuzz-XXXXXX").string();
  const auto removeScratchDir = [] {
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::current_path(ignored), ignored);
  };
  if (mkdtemp(dir.data()) == nullptr || chdir(dir.c_str()) != 0 ||
      std::atexit(removeScratchDir) != 0) {
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words;
  std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string word; words.size() < 16 && std::getline(input, word, '\0');) {
    words.push_back(word);
  }
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  std::ostringstream out;
  std::ostringstream err;
  std::ostringstream usage;
  std::streambuf* const realOut = std::cout.rdbuf(out.rdbuf());
  std::streambuf* const realErr = std::cerr.rdbuf(err.rdbuf());
  const int status = kavroMain(static_cast<int>(words.size()), argv.data());
  std::cerr.rdbuf(usage.rdbuf());
  showUsage(words.empty() ? "kavro" : words[0]);
  std::cout.rdbuf(realOut);
  std::cerr.rdbuf(realErr);

  const std::string text = err.str();
  const std::string::size_type messageEnd = text.find('\n');
  const bool rejected =
      text == usage.str() || (text.rfind("Missing ", 0) == 0 && messageEnd != std::string::npos &&
                              text.substr(messageEnd + 1) == usage.str());
  const bool reachedStore = std::filesystem::exists("kavro.db");
  if (rejected ? status != 1 || !out.str().empty() || reachedStore : !reachedStore) std::abort();
  std::filesystem::remove("kavro.db");
  return 0;
}
