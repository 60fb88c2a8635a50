// Any argument vector, its words separated by NUL bytes, runs through the entry point to status 0
// or 1 without a crash, a leak or undefined behaviour. Run it where kavro.db may come and go.
#define main kavroMain
#include "main.cpp"  // NOLINT(bugprone-suspicious-include)
#undef main

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream input(std::string(reinterpret_cast<const char*>(data), size));
  std::vector<std::string> words;
  for (std::string word; std::getline(input, word, '\0');) words.push_back(word);
  std::vector<char*> argv(words.size() + 1);  // ending in a null pointer, as main's does
  for (std::size_t i = 0; i < words.size(); ++i) argv[i] = words[i].data();
  static std::ostringstream output;  // what the program writes is not checked here
  output.str("");
  std::cout.rdbuf(output.rdbuf());
  std::cerr.rdbuf(output.rdbuf());
  if (kavroMain(static_cast<int>(words.size()), argv.data()) > 1) std::abort();
  (void)std::remove("kavro.db");  // none after a rejected command line
  return 0;
}
