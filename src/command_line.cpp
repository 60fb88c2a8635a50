#include "command_line.h"

#include <algorithm>
#include <initializer_list>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include <sys/stat.h>

#include "commands.h"
#include "invocation.h"
#include "key_input.h"
#include "key_uri.h"
#include "migration.h"
#include "otp.h"
#include "output.h"
#include "record_text.h"
#include "store.h"
#include "transfer.h"

namespace {

// An option is written "--<name>=<value>" and sets one field of the invocation.
struct Option {
  const char* name;
  std::string Invocation::*field;
};
constexpr Option kAccount{"account", &Invocation::account};
constexpr Option kCode{"code", &Invocation::code};
constexpr Option kKey{"key", &Invocation::key};
constexpr Option kSite{"site", &Invocation::site};
constexpr Option kId{"id", &Invocation::id};
constexpr Option kFormat{"format", &Invocation::format};
constexpr const Option* kOptions[] = {&kAccount, &kCode, &kKey, &kSite, &kId, &kFormat};

void showUsage(std::ostream& out, const std::string& appname) {
  out << "Usage: " << appname << "\n"
      << "\taddcode --key=<secret key> --site=<site name> --account=<account name>\n"
      << "\tdelcode --id=<id>\n"
      << "\tlscodes [--id=<id>] [--site=<text>] [--account=<text>]\n"
      << "\tvercode --code=<code> --key=<secret key>\n"
      << "\texportcodes [--id=<id>] [--site=<text>] [--account=<text>] [--format=uri|migration]\n"
      << "\timportcodes" << std::endl;
}

// The usage text and what --help tells beyond it.
bool showHelp(const std::string& appname) {
  std::ostringstream help;
  showUsage(help, appname);
  help << "--key=- reads the key from standard input, without echo on a terminal.\n"
          "A key may be base32 text, an otpauth:// URI or a phone app's export"
          " (otpauth-migration://).\n"
          "--format=uri writes otpauth:// URIs (the default), --format=migration phone app"
          " exports of ten accounts a line.\n"
          "--site and --account of lscodes and exportcodes pick the records whose site and"
          " account hold the text, in either case.\n"
          "importcodes reads such URIs and exports from standard input, one a line.\n"
          "See kavro(1).\n";
  return writeOutput(help.str());
}

// A command: its word, the options it needs in the order they are checked, those it may take,
// checked when given, and what carries it out.
struct Command {
  const char* word;
  std::initializer_list<const Option*> needs;
  std::initializer_list<const Option*> mayTake;
  CommandFunction carryOut;
};
constexpr Command kCommands[] = {
    {"addcode", {&kKey, &kSite, &kAccount}, {}, addCode},
    {"delcode", {&kId}, {}, deleteCode},
    {"lscodes", {}, {&kId, &kSite, &kAccount}, listCodes},
    {"vercode", {&kKey, &kCode}, {}, verifyCode},
    {"exportcodes", {}, {&kId, &kSite, &kAccount, &kFormat}, exportCodes},
    {"importcodes", {}, {}, importCodes},
};

// Whether `command` needs or may take `option`.
bool takes(const Command& command, const Option* option) {
  return std::find(command.needs.begin(), command.needs.end(), option) != command.needs.end() ||
         std::find(command.mayTake.begin(), command.mayTake.end(), option) != command.mayTake.end();
}

// Scans the arguments after the command word into `invocation`; `given` gets each option that
// appears. Returns why they are not options of kavro's, or empty. Every one must be
// "--<name>=<value>": a stray word is most often part of a value that held spaces, such as a key
// copied as shown, and dropping it would store a wrong key; it is never quoted, since it may be a
// secret. An option that only another command takes is passed over.
std::string scanArguments(int argc, const char* const argv[], const Command& command,
                          Invocation& invocation, std::vector<const Option*>& given) {
  for (int i = 2; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument.compare(0, 2, "--") != 0) {
      return "Unexpected argument " + std::to_string(i) +
             ": not an option; quote a value that holds spaces, and write options as "
             "--name=value";
    }
    const std::string_view::size_type equalsPos = argument.find('=');
    const std::string_view var =
        argument.substr(2, equalsPos == std::string_view::npos ? equalsPos : equalsPos - 2);
    const Option* const* option =
        std::find_if(std::begin(kOptions), std::end(kOptions),
                     [&var](const Option* known) { return var == known->name; });
    if (option == std::end(kOptions)) {
      std::string unknown = "Unknown option: --";
      appendEscaped(unknown, var);
      return unknown;
    }
    // In "--key SECRET" the secret is a word of its own, and taking "--key" itself for the
    // secret would store a wrong one.
    if (equalsPos == std::string_view::npos) {
      if (!takes(command, *option)) continue;
      return std::string("Missing ") + (*option)->name + ": write it as --" + (*option)->name +
             "=<value>";
    }
    invocation.*(*option)->field = argument.substr(equalsPos + 1);
    given.push_back(*option);
  }
  return "";
}

const Command* findCommand(const std::string& word) {
  const Command* command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                        [&word](const Command& c) { return word == c.word; });
  return command != std::end(kCommands) ? command : nullptr;
}

void reportMissing(const std::string& name, const std::string& appname) {
  std::cerr << "Missing " << name << std::endl;
  showUsage(std::cerr, appname);
}

// Writes "Invalid <name>: <problem>" when there is a problem; true when there is none.
bool valid(const std::string& name, const std::string& problem) {
  if (!problem.empty()) std::cerr << "Invalid " << name << ": " << problem << std::endl;
  return problem.empty();
}

constexpr char kNamesGiven[] =
    "an export names its own sites and accounts: give no --site or --account";

// Checks that an option the command needs or was given has a value (unless `mayBeEmpty`), that an
// id is one and that a format is one of exportcodes'. Returns false after the message.
bool checkOption(const Option* option, const Invocation& invocation, const std::string& appname,
                 bool mayBeEmpty = false) {
  const std::string& value = invocation.*option->field;
  if (option == &kFormat && value != "uri" && value != "migration") {
    std::cerr << "Invalid format: " << value << std::endl;
    showUsage(std::cerr, appname);
    return false;
  }
  if (value.empty() && !mayBeEmpty) {
    reportMissing(option->name, appname);
    return false;
  }
  if (option == &kId && !parseId(value)) {
    std::cerr << "Invalid id: " << value << std::endl;
    return false;
  }
  return true;
}

// Checks a site or an account typed for a record to store: no control character, as text for one
// line of lscodes, and for an account no space at its start, which an otpauth URI's reader drops.
// Returns false after the message.
bool checkName(const Option* option, const Invocation& invocation) {
  const std::string& value = invocation.*option->field;
  if (option == &kAccount && value.compare(0, 1, " ") == 0) {
    return valid(option->name, "it begins with a space, which no otpauth URI keeps");
  }
  return valid(option->name, controlProblem(value));
}

// Reads the key from standard input when it is "-". Returns false after the message of the
// problem.
bool readKey(Invocation& invocation, const std::string& appname) {
  // A store that is there is checked before anyone types a secret for a run bound to fail; a new
  // one is made only once the run goes ahead.
  if (invocation.key == "-") {
    if (!checkExistingStore()) return false;
    std::optional<std::string> line = readKeyLine();
    if (!line) return false;
    invocation.key.swap(*line);
  }
  if (invocation.key.empty()) {
    reportMissing(kKey.name, appname);
    return false;
  }
  return true;
}

// Makes the key of vercode base32 text, taking an otpauth URI apart. Returns false after the
// message of the problem.
bool completeKeyToCheck(Invocation& invocation, const std::string& appname) {
  if (!readKey(invocation, appname)) return false;
  if (isMigrationUri(invocation.key)) {
    return valid(kKey.name, "a phone app's export holds accounts to add, not a key");
  }
  if (!isKeyUri(invocation.key)) return valid(kKey.name, base32KeyProblem(invocation.key));
  KeyUri uri;
  if (!valid(kKey.name, parseKeyUri(invocation.key, uri)) || !valid(kKey.name, uri.unusable)) {
    wipe(uri.secret);
    return false;
  }
  wipe(invocation.key);
  invocation.key.swap(uri.secret);
  return true;
}

// Checks and completes what addcode needs, in the order of its options: a base32 key is stored as
// typed, with the site and the account given; an otpauth URI or a phone app's export becomes the
// invocation's transfer, a URI's site and account standing in for those not given. The key is
// read last, so that nobody types a secret for a command that fails anyway. A record to store must
// come back from exportcodes as it went in. Returns false after the message of the first problem,
// followed by the usage text where an option is missing.
bool completeAdd(Invocation& invocation, const std::string& appname) {
  const bool keyLater =
      invocation.key == "-" || isKeyUri(invocation.key) || isMigrationUri(invocation.key);
  for (const Option* option : {&kKey, &kSite, &kAccount}) {
    const bool given = !(invocation.*option->field).empty();
    if ((option == &kKey || given || !keyLater) && !checkOption(option, invocation, appname)) {
      return false;
    }
    if (option != &kKey && given && !checkName(option, invocation)) return false;
  }
  if (!readKey(invocation, appname)) return false;
  if (isMigrationUri(invocation.key)) {
    if (!invocation.site.empty() || !invocation.account.empty())
      return valid(kKey.name, kNamesGiven);
    return valid(kKey.name, readTransferLine(invocation.key, 0, invocation.transfer));
  }
  if (!isKeyUri(invocation.key)) {
    if (!valid(kKey.name, base32KeyProblem(invocation.key))) return false;
    if (!checkOption(&kSite, invocation, appname) || !checkOption(&kAccount, invocation, appname)) {
      return false;
    }
    MigrationAccount record{base32Decode(invocation.key), invocation.site, invocation.account};
    const bool fits = fitsExportLine(record);
    wipe(record.secret);
    return valid("record", fits ? ""
                                : "key, site and account would make an export line longer "
                                  "than " +
                                      std::to_string(kMaxKeyLength) + " bytes");
  }
  KeyUri uri;
  if (!valid(kKey.name, parseKeyUri(invocation.key, uri))) return false;
  MigrationAccount account{base32Decode(uri.secret), invocation.site, invocation.account};
  wipe(uri.secret);
  // A site or account that the URI names, if only as empty, stands where none was given.
  bool complete = true;
  for (const auto& [option, named, text] : {std::tuple{&kSite, &uri.site, &account.site},
                                            {&kAccount, &uri.account, &account.account}}) {
    if (text->empty() && *named) *text = **named;
    complete = complete && checkOption(option, invocation, appname, named->has_value());
    if (!complete) break;
  }
  if (complete) addAccount(invocation.transfer, account, 0, 1, uri.unusable);
  wipe(account.secret);
  return complete;
}

// Reads importcodes' lines into its transfer. Returns false after the message of the problem.
bool completeImport(Invocation& invocation) {
  if (!invocation.site.empty() || !invocation.account.empty()) {
    return valid(kKey.name,
                 "importcodes takes the sites and accounts its lines name: give no --site or "
                 "--account");
  }
  return checkExistingStore() &&
         readKeyLines([&invocation](const std::string& line, std::uint32_t number) {
           return valid(kKey.name, [&] {
             const std::string problem = readTransferLine(line, number, invocation.transfer);
             return problem.empty() ? problem : "line " + std::to_string(number) + ": " + problem;
           }());
         });
}

// Fills in and checks what the command needs or was given (see checkOption and the complete
// functions). Returns false after the message of the first problem.
bool completeOptions(const Command& command, Invocation& invocation,
                     const std::vector<const Option*>& given, const std::string& appname) {
  for (const Option* option : command.mayTake) {
    if (std::find(given.begin(), given.end(), option) != given.end() &&
        !checkOption(option, invocation, appname)) {
      return false;
    }
  }
  if (command.carryOut == addCode) return completeAdd(invocation, appname);
  if (command.carryOut == importCodes) return completeImport(invocation);
  return std::all_of(
             command.needs.begin(), command.needs.end(),
             [&](const Option* option) { return checkOption(option, invocation, appname); }) &&
         (command.carryOut != verifyCode || completeKeyToCheck(invocation, appname));
}

}  // namespace

int runCommandLine(int argc, const char* const argv[]) {
  // Files are made owner-only from their first instant: the store here, and the journal that
  // SQLite makes beside it, whose mode it would otherwise set only after creating it.
  umask(077);
  // argv[argc] is a null pointer, so argv[0] is one where there is no program name.
  const std::string appname = argv[0] != nullptr ? argv[0] : "kavro";
  // Asked for anywhere, help is all that runs: "exportcodes --help" must not print the secrets.
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") return showHelp(appname) ? 0 : 1;
    if (argument == "--version") return writeOutput("kavro " KAVRO_VERSION "\n") ? 0 : 1;
  }
  if (argc < 2) {
    showUsage(std::cerr, appname);
    return 1;
  }
  const std::string word = argv[1];
  const Command* command = findCommand(word);
  Invocation invocation;
  invocation.mode = word;
  std::vector<const Option*> given;
  std::string problem;
  if (word.compare(0, 1, "-") == 0) {
    // Never repeated: an option put first may hold a key.
    problem = "Missing command: the command comes first, before its options";
  } else if (command == nullptr) {
    problem = "Unknown command: ";
    appendEscaped(problem, word);
  } else {
    problem = scanArguments(argc, argv, *command, invocation, given);
  }
  if (!problem.empty()) {
    std::cerr << problem << std::endl;
    showUsage(std::cerr, appname);
    return 1;
  }
  int status = 1;
  if (completeOptions(*command, invocation, given, appname)) {
    const std::vector<std::string>& skipped = invocation.transfer.skipped;
    for (const std::string& line : skipped) std::cerr << line << std::endl;
    // Where every account was left out, nothing is stored, and no store made.
    const bool transfers = command->carryOut == importCodes ||
                           (command->carryOut == addCode &&
                            (isKeyUri(invocation.key) || isMigrationUri(invocation.key)));
    if (!transfers || !invocation.transfer.starts.empty()) {
      status = runCommand(invocation, command->carryOut);
    } else {
      status = 0;
    }
    if (!skipped.empty()) status = 1;
  }
  wipe(invocation.key);
  wipe(invocation.transfer);
  return status;
}
