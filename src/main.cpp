// The program: kavro's command line, run in a process that keeps its secrets to itself.
#include <cstdlib>

#if __has_include(<sys/prctl.h>)
#include <sys/prctl.h>
#endif

#include "command_line.h"

int main(int argc, char* argv[]) {
#ifdef PR_SET_DUMPABLE
  // Secrets pass through memory: no core file of a crash, and no other process of the user may
  // read it.
  prctl(PR_SET_DUMPABLE, 0);
#endif
  return runCommandLine(argc, argv);
}
