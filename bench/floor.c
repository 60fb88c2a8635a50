/* The floor that kavro is measured against: the same library calls as kavro makes for one
 * command, and nothing more. It opens "kavro.db", turns secure_delete on and creates the table,
 * runs the command's one statement, computes each code with the one-shot HMAC-SHA1 and writes
 * each result as one flushed line, as kavro does; it checks no argument and reports no error
 * beyond its exit status.
 *
 *   floor addcode KEY SITE ACCOUNT
 *   floor lscodes
 *   floor vercode CODE KEY
 *   floor exportcodes
 */
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sqlite3.h>

/* Decodes base32 text into `out` (room for strlen(text) * 5 / 8 bytes); returns the length. */
static size_t decode(const char *text, unsigned char *out) {
  size_t length = 0;
  unsigned int pending = 0;
  int pendingBits = 0;
  for (; *text != '\0'; ++text) {
    const unsigned char c = (unsigned char)*text;
    int value;
    if (c >= 'A' && c <= 'Z')
      value = c - 'A';
    else if (c >= 'a' && c <= 'z')
      value = c - 'a';
    else if (c >= '2' && c <= '7')
      value = c - '2' + 26;
    else
      continue;
    pending = (pending << 5) | (unsigned int)value;
    pendingBits += 5;
    if (pendingBits >= 8) {
      pendingBits -= 8;
      out[length++] = (unsigned char)(pending >> pendingBits);
      pending &= (1U << pendingBits) - 1;
    }
  }
  return length;
}

/* Writes the six-digit code of the base32 `key` for the current 30-second step into `code`. */
static int totp(const char *key, char code[7]) {
  unsigned char secret[4096];
  unsigned char data[8];
  unsigned char hmac[EVP_MAX_MD_SIZE];
  unsigned int hmacLength = 0;
  uint64_t timeStamp = (uint64_t)time(NULL) / 30;
  if (strlen(key) > sizeof secret * 8 / 5) return 0;
  const size_t secretLength = decode(key, secret);
  for (int i = 7; i >= 0; --i, timeStamp >>= 8) data[i] = (unsigned char)(timeStamp & 0xFF);
  if (HMAC(EVP_sha1(), secret, (int)secretLength, data, sizeof data, hmac, &hmacLength) == NULL)
    return 0;
  const unsigned int offset = hmac[hmacLength - 1] & 0x0FU;
  const uint32_t binary = ((uint32_t)(hmac[offset] & 0x7FU) << 24) |
                          ((uint32_t)hmac[offset + 1] << 16) | ((uint32_t)hmac[offset + 2] << 8) |
                          (uint32_t)hmac[offset + 3];
  snprintf(code, 7, "%06u", (unsigned int)(binary % 1000000));
  return 1;
}

/* Writes `text` percent-escaped: every byte but A-Z a-z 0-9 - . _ ~ as %XX. */
static void putEscaped(const char *text) {
  for (; *text != '\0'; ++text) {
    const unsigned char c = (unsigned char)*text;
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~')
      putchar(c);
    else
      printf("%%%02X", c);
  }
}

/* Writes the key bytes of the base32 `key` as canonical base32: upper case, no padding. */
static int putBase32(const char *key) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  unsigned char secret[4096];
  if (strlen(key) > sizeof secret * 8 / 5) return 0;
  const size_t length = decode(key, secret);
  unsigned int pending = 0;
  int pendingBits = 0;
  for (size_t i = 0; i < length; ++i) {
    pending = (pending << 8) | secret[i];
    pendingBits += 8;
    while (pendingBits >= 5) {
      pendingBits -= 5;
      putchar(alphabet[(pending >> pendingBits) & 31]);
    }
  }
  if (pendingBits > 0) putchar(alphabet[(pending << (5 - pendingBits)) & 31]);
  return length > 0;
}

int main(int argc, char *argv[]) {
  const char *mode = argc > 1 ? argv[1] : "";
  sqlite3 *db = NULL;
  sqlite3_stmt *stmt = NULL;
  char code[7];
  /* kavro tells libcrypto not to read its configuration file; the floor does the same. */
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, NULL);
  if (sqlite3_open("kavro.db", &db) != SQLITE_OK ||
      sqlite3_exec(db, "PRAGMA secure_delete = ON", NULL, NULL, NULL) != SQLITE_OK ||
      sqlite3_exec(db,
                   "CREATE TABLE IF NOT EXISTS records (id INTEGER PRIMARY KEY, key TEXT NOT NULL, "
                   "site TEXT, account TEXT)",
                   NULL, NULL, NULL) != SQLITE_OK)
    return 1;

  if (strcmp(mode, "addcode") == 0 && argc == 5) {
    if (!totp(argv[2], code) ||
        sqlite3_prepare_v2(db, "INSERT INTO records (key, site, account) VALUES (?, ?, ?)", -1,
                           &stmt, NULL) != SQLITE_OK)
      return 1;
    for (int i = 1; i <= 3; ++i) sqlite3_bind_text(stmt, i, argv[i + 1], -1, SQLITE_STATIC);
    if (sqlite3_step(stmt) != SQLITE_DONE) return 1;
    printf("Generated code: %s\n", code);
    fflush(stdout);
  } else if (strcmp(mode, "lscodes") == 0) {
    int result;
    if (sqlite3_prepare_v2(db, "SELECT * FROM records ORDER BY id", -1, &stmt, NULL) != SQLITE_OK)
      return 1;
    while ((result = sqlite3_step(stmt)) == SQLITE_ROW) {
      if (!totp((const char *)sqlite3_column_text(stmt, 1), code)) return 1;
      printf("ID: %d\tSite: %s\tAccount: %s\tGenerated code: %s\n", sqlite3_column_int(stmt, 0),
             (const char *)sqlite3_column_text(stmt, 2), (const char *)sqlite3_column_text(stmt, 3),
             code);
      fflush(stdout);
    }
    if (result != SQLITE_DONE) return 1;
  } else if (strcmp(mode, "exportcodes") == 0) {
    int result;
    if (sqlite3_prepare_v2(db, "SELECT * FROM records ORDER BY id", -1, &stmt, NULL) != SQLITE_OK)
      return 1;
    while ((result = sqlite3_step(stmt)) == SQLITE_ROW) {
      const char *site = (const char *)sqlite3_column_text(stmt, 2);
      fputs("otpauth://totp/", stdout);
      putEscaped(site);
      putchar(':');
      putEscaped((const char *)sqlite3_column_text(stmt, 3));
      fputs("?secret=", stdout);
      if (!putBase32((const char *)sqlite3_column_text(stmt, 1))) return 1;
      fputs("&issuer=", stdout);
      putEscaped(site);
      putchar('\n');
      fflush(stdout);
    }
    if (result != SQLITE_DONE) return 1;
  } else if (strcmp(mode, "vercode") == 0 && argc == 4) {
    if (!totp(argv[3], code)) return 1;
    printf("Code verified: %s\n", strcmp(argv[2], code) == 0 ? "true" : "false");
    fflush(stdout);
  } else {
    return 1;
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return 0;
}
