// The command line: its options, their scan and checks, and the entry point that runs it all.
#pragma once

// Runs kavro on its arguments, argv[1] the command word or --help, -h or --version: checks the
// options the command needs, reads the key, and carries out the command in the store, under the
// umask 077 that it sets for the process. Returns the exit status, 0 or 1.
int runCommandLine(int argc, const char* const argv[]);
