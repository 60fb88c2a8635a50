// The parsed command line: what every later step of a run reads.
#pragma once

#include <string>

// Each text is empty when its option was not given.
struct Invocation {
  std::string mode;  // the command word
  std::string key;
  std::string site;
  std::string account;
  std::string id;
  std::string code;
};
