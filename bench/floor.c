/* The floor that kavro is measured against: the same library calls as kavro makes for one
 * command, and nothing more. It opens "kavro.db", turns secure_delete on and creates the table,
 * runs the command's one statement (importcodes' two, in one transaction), computes each code with
 * the one-shot HMAC-SHA1 and writes each result as one flushed line, as kavro does; it checks no
 * argument and reports no error beyond its exit status.
 *
 *   floor addcode KEY SITE ACCOUNT
 *   floor lscodes
 *   floor vercode CODE KEY
 *   floor exportcodes
 *   floor importcodes <LINES
 *
 * importcodes reads lines of the form otpauth://totp/SITE:ACCOUNT?secret=BASE32&issuer=SITE, its
 * label split at its first colon and its values percent-decoded, and nothing else: no phone app
 * export, no other parameter checked. It reads the store's records once, as a check for accounts
 * stored already must, and compares nothing; it writes each line as it stores the record, where
 * kavro writes them after the COMMIT.
 */
#define _POSIX_C_SOURCE 200809L /* getline */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
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

/* Writes the six-digit code of the key bytes `secret` for the 30-second step `step` into `code`. */
static int hotp(const unsigned char *secret, size_t secretLength, uint64_t step, char code[7]) {
  unsigned char data[8];
  unsigned char hmac[EVP_MAX_MD_SIZE];
  unsigned int hmacLength = 0;
  for (int i = 7; i >= 0; --i, step >>= 8) data[i] = (unsigned char)(step & 0xFF);
  if (HMAC(EVP_sha1(), secret, (int)secretLength, data, sizeof data, hmac, &hmacLength) == NULL)
    return 0;
  const unsigned int offset = hmac[hmacLength - 1] & 0x0FU;
  const uint32_t binary = ((uint32_t)(hmac[offset] & 0x7FU) << 24) |
                          ((uint32_t)hmac[offset + 1] << 16) | ((uint32_t)hmac[offset + 2] << 8) |
                          (uint32_t)hmac[offset + 3];
  snprintf(code, 7, "%06u", (unsigned int)(binary % 1000000));
  return 1;
}

/* Writes the six-digit code of the base32 `key` for the current 30-second step into `code`. */
static int totp(const char *key, char code[7]) {
  unsigned char secret[4096];
  if (strlen(key) > sizeof secret * 8 / 5) return 0;
  const size_t secretLength = decode(key, secret);
  return hotp(secret, secretLength, (uint64_t)time(NULL) / 30, code);
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

/* Writes `length` bytes as canonical base32 into `out` (room for length * 8 / 5 + 2 bytes): upper
 * case, no padding, NUL-terminated. */
static void encode(const unsigned char *bytes, size_t length, char *out) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
  unsigned int pending = 0;
  int pendingBits = 0;
  for (size_t i = 0; i < length; ++i) {
    pending = (pending << 8) | bytes[i];
    pendingBits += 8;
    while (pendingBits >= 5) {
      pendingBits -= 5;
      *out++ = alphabet[(pending >> pendingBits) & 31];
    }
  }
  if (pendingBits > 0) *out++ = alphabet[(pending << (5 - pendingBits)) & 31];
  *out = '\0';
}

static int hexValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

/* Percent-decodes the NUL-terminated `text` in place; returns 0 for a '%' without two hex
 * digits. */
static int percentDecode(char *text) {
  char *out = text;
  for (; *text != '\0'; ++text) {
    if (*text != '%') {
      *out++ = *text;
      continue;
    }
    const int high = hexValue((unsigned char)text[1]);
    const int low = high < 0 ? -1 : hexValue((unsigned char)text[2]);
    if (low < 0) return 0;
    *out++ = (char)(high * 16 + low);
    text += 2;
  }
  *out = '\0';
  return 1;
}

/* Splits the otpauth URI `line` in place into its secret, site and account, each decoded; the
 * site is the issuer's, else the label's before its colon. Returns 0 where it is no such URI. */
static int splitUri(char *line, char **secret, char **site, char **account) {
  static const char start[] = "otpauth://totp/";
  char *issuer = NULL;
  *secret = NULL;
  if (strncmp(line, start, sizeof start - 1) != 0) return 0;
  char *label = line + sizeof start - 1;
  char *query = strchr(label, '?');
  if (query == NULL) return 0;
  *query++ = '\0';
  for (char *pair = strtok(query, "&"); pair != NULL; pair = strtok(NULL, "&")) {
    if (strncmp(pair, "secret=", 7) == 0) *secret = pair + 7;
    if (strncmp(pair, "issuer=", 7) == 0) issuer = pair + 7;
  }
  if (*secret == NULL || !percentDecode(label) || !percentDecode(*secret) ||
      (issuer != NULL && !percentDecode(issuer)))
    return 0;
  char *colon = strchr(label, ':');
  *account = colon != NULL ? colon + 1 : label;
  if (colon != NULL) *colon = '\0';
  *site = issuer != NULL ? issuer : colon != NULL ? label : "";
  return 1;
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
  } else if (strcmp(mode, "importcodes") == 0) {
    const uint64_t step = (uint64_t)time(NULL) / 30; /* one step for every code of the run */
    unsigned char secret[4096];
    char key[4096 * 8 / 5 + 2];
    char *line = NULL;
    size_t room = 0;
    ssize_t length;
    int result;
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", NULL, NULL, NULL) != SQLITE_OK ||
        sqlite3_prepare_v2(db, "SELECT id, key, site, account FROM records ORDER BY id", -1, &stmt,
                           NULL) != SQLITE_OK)
      return 1;
    /* The pass over the stored records that a check for accounts stored already makes. */
    while ((result = sqlite3_step(stmt)) == SQLITE_ROW) {
      for (int i = 1; i <= 3; ++i) sqlite3_column_text(stmt, i);
    }
    if (result != SQLITE_DONE) return 1;
    sqlite3_finalize(stmt);
    if (sqlite3_prepare_v2(db, "INSERT INTO records (key, site, account) VALUES (?, ?, ?)", -1,
                           &stmt, NULL) != SQLITE_OK)
      return 1;
    while ((length = getline(&line, &room, stdin)) > 0) {
      char *text, *site, *account;
      while (length > 0 && (line[length - 1] == '\n' || line[length - 1] == '\r'))
        line[--length] = '\0';
      if (length == 0) continue;
      if (!splitUri(line, &text, &site, &account) || strlen(text) > sizeof secret * 8 / 5) return 1;
      const size_t secretLength = decode(text, secret);
      if (!hotp(secret, secretLength, step, code)) return 1;
      encode(secret, secretLength, key);
      sqlite3_bind_text(stmt, 1, key, -1, SQLITE_STATIC);
      sqlite3_bind_text(stmt, 2, site, -1, SQLITE_STATIC);
      sqlite3_bind_text(stmt, 3, account, -1, SQLITE_STATIC);
      result = sqlite3_step(stmt);
      sqlite3_reset(stmt);
      if (result != SQLITE_DONE) return 1;
      printf("ID: %lld\tSite: %s\tAccount: %s\tGenerated code: %s\n",
             (long long)sqlite3_last_insert_rowid(db), site, account, code);
      fflush(stdout);
    }
    free(line);
    if (sqlite3_exec(db, "COMMIT", NULL, NULL, NULL) != SQLITE_OK) return 1;
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
