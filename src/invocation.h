// The parsed command line: what every later step of a run reads.
#pragma once

#include <string>

#include "migration.h"

// Each text is empty when its option was not given.
struct Invocation {
  std::string mode;  // the command word
  std::string key;
  std::string site;
  std::string account;
  std::string id;
  std::string code;
  std::string format;  // how exportcodes writes the records
  // A phone app's export given as the key, once read: its accounts, checked.
  MigrationBatch exported;
};
