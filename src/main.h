// The command line: a parsed invocation and the runner that carries it out.
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

// Carries out an invocation that has passed validation: its command word is one of the four and
// the options it needs are present. Returns the exit status, 0 or 1.
int runCommand(const Invocation& invocation);
