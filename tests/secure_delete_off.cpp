// Preloaded into kavro, it turns SQLite's secure_delete off on every connection as it opens, as a
// SQLite built with it off by default would.
#include <sqlite3.h>

static int secureDeleteOff(sqlite3* db, char** /*error*/, const void* /*api*/) {
  return sqlite3_exec(db, "PRAGMA secure_delete = OFF", nullptr, nullptr, nullptr);
}
__attribute__((constructor)) static void install() {
  sqlite3_auto_extension(reinterpret_cast<void (*)()>(secureDeleteOff));
}
