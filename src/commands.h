// The five commands, each carried out against the open store, and the run that opens it for one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <sqlite3.h>

#include "invocation.h"

// A command's work once the store is open: writes its result or its error line, returns 0 or 1.
using CommandFunction = int (*)(sqlite3* db, const Invocation& invocation);

// Stores the key with its site and account, and prints the key's current code; the accounts of a
// transfer line as importCodes does.
int addCode(sqlite3* db, const Invocation& invocation);
// Deletes the record of the id, which parseId must have taken.
int deleteCode(sqlite3* db, const Invocation& invocation);
// Prints the records that the invocation asks for (see exportCodes) with their current codes, one
// line each.
int listCodes(sqlite3* db, const Invocation& invocation);
// Writes every record, or those of the id that parseId must have taken and whose site and account
// hold the texts given, as otpauth URIs or, with the format "migration", as a phone app's export;
// a record whose key holds no byte is named on standard error and makes the status 1, as filters
// that no record passes do.
int exportCodes(sqlite3* db, const Invocation& invocation);
// Stores the accounts of the invocation's transfer that the store does not hold yet.
int importCodes(sqlite3* db, const Invocation& invocation);
// Prints whether the code is the key's current one.
int verifyCode(sqlite3* db, const Invocation& invocation);

// Reads a record id: optional leading white space, an optional sign, then decimal digits and
// nothing else, within the range of SQLite's 64-bit integer. A typo must never select another
// record.
std::optional<std::int64_t> parseId(const std::string& text);

// Opens the store and carries out the command in it, for an invocation that has every option the
// command needs, checked. Returns the exit status, 0 or 1.
int runCommand(const Invocation& invocation, CommandFunction carryOut);
