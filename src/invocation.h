// The parsed command line: what every later step of a run reads.
#pragma once

#include <string>

#include "transfer.h"

// Each text is empty when its option was not given.
struct Invocation {
  std::string mode;  // the command word
  std::string key;
  std::string site;
  std::string account;
  std::string id;
  std::string code;
  std::string format;  // how exportcodes writes the records
  // The accounts of the transfer lines given as the key or read by importcodes, judged.
  Transfer transfer;
};
