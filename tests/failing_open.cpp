// Preloaded into kavro, it makes every connection to SQLite fail as it opens.
#include <sqlite3.h>

static int refuse(sqlite3* /*db*/, char** error, const void* /*api*/) {
  *error = sqlite3_mprintf("refused");
  return SQLITE_ERROR;
}
__attribute__((constructor)) static void install() {
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(refuse));
}
