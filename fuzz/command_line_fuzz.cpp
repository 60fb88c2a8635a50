// An input is up to 8 argument vectors, each word ended by a NUL byte and each vector by an
// empty word. They run in turn through the entry point, each to status 0 or 1 without a crash, a
// leak or undefined behaviour, against one kavro.db in the current directory, so that what one
// stores the next can list or delete; the file is removed before and after each input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "command_line.h"

// Standard input is empty, so that a run that reads it never waits for a terminal.
extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  if (std::freopen("/dev/null", "r", stdin) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostringstream output;  // what the program writes is not checked here
  std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
  (void)std::remove("kavro.db");
  for (int run = 0; run < 8 && input; ++run) {
    std::vector<std::string> words;
    for (std::string word; std::getline(input, word, '\0') && !word.empty();) words.push_back(word);
    std::vector<const char*> argv(words.size() + 1);  // ending in a null pointer, as main's does
    for (std::size_t i = 0; i < words.size(); ++i) argv[i] = words[i].c_str();
    output.str("");
    std::cout.rdbuf(output.rdbuf());  // also clears the stream's state
    std::cerr.rdbuf(output.rdbuf());
    if (runCommandLine(static_cast<int>(words.size()), argv.data()) > 1) std::abort();
  }
  (void)std::remove("kavro.db");
  return 0;
}
