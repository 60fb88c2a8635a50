// End to end: the built program, run as a user would, in a fresh directory with a real store.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <tuple>

#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "otp.h"

namespace {

const std::string kKey = "GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ";
const std::string kUsage =
    "! Usage: kavro\n! \taddcode --key=<secret key> --site=<site name> --account=<account name>\n"
    "! \tdelcode --id=<id>\n! \tlscodes [--id=<id>] [--site=<text>] [--account=<text>]\n"
    "! \tvercode --code=<code> --key=<secret key>\n"
    "! \texportcodes [--id=<id>] [--site=<text>] [--account=<text>] [--format=uri|migration]\n"
    "! \timportcodes\n";

std::string contents(std::istream&& file) {
  std::ostringstream text;
  text << file.rdbuf();  // nothing from a directory or a missing file
  return text.str();
}

// Plays a session in a fresh directory: "$ " lines run in sh with umask 0, kavro on PATH, K a key
// whose current code is "CODE", preloaded libraries NO_HMAC, BAD_READ, LAX, NO_OPEN and FREED
// (see tests/; FREED empty in the sanitizer build), and a libcrypto configuration that breaks
// HMAC; "% " lines run SQL on kavro.db, held open till the next line has run. A line's output
// follows " => " or stands below it, errors marked "! ", "Missing …", "Unknown …" and
// "Unexpected …" followed by the usage text. A line that writes an error must exit with 1 and,
// but for skipped accounts, leave kavro.db as it was; others must exit with 0.
void play(const std::string& session) {
  const std::string text = std::regex_replace(
      std::regex_replace(session, std::regex(" => "), "\n"),
      std::regex("(! (?:Missing|Unknown|Unexpected) .*\n)|! USAGE\n"), "$1" + kUsage);
  std::string dir = (std::filesystem::temp_directory_path() / "kavro-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  sqlite3* held = nullptr;
  const std::regex step("([$%] .*)\n((?:[^$%\n].*\n)*)");  // a line to run, what it writes
  for (std::sregex_iterator it(text.begin(), text.end(), step), end; it != end; ++it) {
    while (std::time(nullptr) % 30 > 27) usleep(100000);  // the line runs within one step
    const std::string code = generateOTP(base32Decode(kKey), 30, 6, std::time(nullptr)).value();
    const std::string command = std::regex_replace((*it)[1].str(), std::regex("CODE"), code);
    const std::string expected = std::regex_replace((*it)[2].str(), std::regex("CODE"), code);
    if (command[0] == '%') {
      sqlite3_close(held);
      sqlite3_open((dir + "/kavro.db").c_str(), &held);
      chmod((dir + "/kavro.db").c_str(), 0600);  // as kavro would make it
      EXPECT_EQ(sqlite3_exec(held, &command[2], nullptr, nullptr, nullptr), SQLITE_OK) << command;
      continue;
    }
    // Open until `held` closes: closing any descriptor of the file drops this process's locks.
    std::ifstream file(dir + "/kavro.db", std::ios::binary);
    const std::string before = contents(std::move(file));
    const int status = WEXITSTATUS(std::system(
        ("cd '" + dir + "' && umask 0 && export PATH=" KAVRO_BIN_DIR ":$PATH K=" + kKey +
         " NO_HMAC=" KAVRO_NO_HMAC " BAD_READ=" KAVRO_FAILING_READ " LAX=" KAVRO_SECURE_DELETE_OFF
         " NO_OPEN=" KAVRO_FAILING_OPEN " FREED=" KAVRO_FREED_SCAN
         " OPENSSL_CONF=" KAVRO_UNLOADABLE_OPENSSL_CONF " && (" +
         command.substr(2) + ") </dev/null >.out 2>.err; s=$?; sed 's/^/! /' .err >>.out; exit $s")
            .c_str()));
    sqlite3_close(held);
    held = nullptr;
    EXPECT_EQ(contents(std::ifstream(dir + "/.out")), expected) << command;
    EXPECT_EQ(status, expected.find("! ") == std::string::npos ? 0 : 1) << command;
    EXPECT_TRUE(status == 0 || expected.find("! Skipped") != std::string::npos ||
                contents(std::ifstream(dir + "/kavro.db", std::ios::binary)) == before)
        << command << ": kavro.db changed";
  }
  sqlite3_close(held);
  std::filesystem::remove_all(dir);
}

TEST(Kavro, CarriesOutCommandsAndFailsCleanly) {
  std::string session = R"(
$ kavro => ! USAGE
$ kavro $(printf 'list\033') --key=A => ! Unknown command: list\x1b
$ kavro --key=$K lscodes => ! Missing command: the command comes first, before its options
$ kavro addcode --key=jbsw y3dp --site=s --account=a => ! Unexpected argument 3: not an option; quote a value that holds spaces, and write options as --name=value
$ kavro vercode --key=$K --code=1 -x => ! Unexpected argument 4: not an option; quote a value that holds spaces, and write options as --name=value
$ kavro addcode --key=$K --site=s --acount=a=b => ! Unknown option: --acount
$ kavro lscodes --$(printf '\033') => ! Unknown option: --\x1b
$ bash -c '(exec -a --account=a kavro); exec -a --account=a kavro addcode --key=AA --site=s' 2>&1 | grep -v '^\s'
Usage: --account=a
Missing account
Usage: --account=a
$ kavro addcode => ! Missing key
$ kavro addcode --key=0 --site --account=a => ! Missing site: write it as --site=<value>
$ echo AA | kavro addcode --site=s --key=- => ! Missing account
$ echo 'otpauth://totp/alice?secret=AA' | kavro addcode --key=- => ! Missing site
$ { kavro exportcodes --id=1 --help && kavro addcode --key=$K --site=s --account=a -h >/dev/null && kavro lscode --version && ls; } 3>&2 2>/dev/null >&3 && exit 1
! USAGE
! --key=- reads the key from standard input, without echo on a terminal.
! A key may be base32 text, an otpauth:// URI or a phone app's export (otpauth-migration://).
! --format=uri writes otpauth:// URIs (the default), --format=migration phone app exports of ten accounts a line.
! --site and --account of lscodes and exportcodes pick the records whose site and account hold the text, in either case.
! importcodes reads such URIs and exports from standard input, one a line.
! See kavro(1).
! kavro 0.1.0
$ kavro vercode --key=$K --code 123456 => ! Missing code: write it as --code=<value>
$ echo | kavro addcode --key=- --site=s --account=a => ! Missing key
$ kavro vercode --key=- --code=1 <&- => ! Error reading key: Bad file descriptor
$ echo $K | LD_PRELOAD=$BAD_READ kavro addcode --key=- --site=s --account=a => ! Error reading key: Input/output error
$ printf 'AB\r' | kavro vercode --key=- --code=1 => ! Invalid key: byte 0x0D at position 3 is not in A-Z or 2-7
$ kavro addcode --site=s --account=a --key='AB ~0189' => ! Invalid key: '~' at position 4 is not in A-Z or 2-7
$ kavro vercode --code=1 --key=$(printf 'AB\177') => ! Invalid key: byte 0x7F at position 3 is not in A-Z or 2-7
$ kavro vercode --code=1 --key='A =-' => ! Invalid key: too short: one byte takes 2 base32 characters
$ kavro vercode --key=- --code=1 </dev/zero => ! Invalid key: too long: more than 4096 bytes
$ kavro vercode --code=1 --key=otpauth://totp/?secret=$(printf %04074d 0) => ! Invalid key: too long: more than 4096 bytes
$ kavro addcode --key=- --site="a$(printf '\t')b" --account=a </dev/zero => ! Invalid site: byte 0x09 at position 2 is a control character
$ kavro delcode --id=x => ! Invalid id: x
$ ls
$ echo AB | LD_PRELOAD=$BAD_READ kavro vercode --key=- --code=1 => Code verified: false
$ kavro vercode --code=1 --key=otpauth://totp/?secret=$(printf %04073d | tr 0 A) => Code verified: false
$ printf '%04096d\r\n' 0 | tr 0 A | kavro vercode --key=- --code=1 => Code verified: false
$ rm kavro.db && mkdir kavro.db
$ kavro vercode --key=- --code=1 </dev/zero => ! Error opening database: kavro.db is not a regular file
$ rmdir kavro.db && ln -s missing kavro.db
$ kavro lscodes => ! Error opening database: No such file or directory
$ rm kavro.db && ln -s kavro.db kavro.db
$ kavro vercode --key=- --code=1 </dev/zero => ! Error opening database: Too many levels of symbolic links
$ rm kavro.db && mkdir kavro.db
$ kavro lscodes => ! Error opening database: kavro.db is not a regular file
$ rmdir kavro.db && echo not a database >kavro.db && chmod 600 kavro.db
$ kavro vercode --key=$(printf %04096d | tr 0 A) --code=1 => ! Error creating table: file is not a database
$ rm kavro.db
% CREATE TABLE notes (t TEXT)
$ kavro lscodes => ! Error opening database: kavro.db is another program's database: it has no records table
% DROP TABLE notes; CREATE TABLE records (name TEXT)
$ kavro addcode --key=AA --site=s --account=a => ! Error preparing statement: table records has no column named key
$ kavro delcode --id=1 => ! Error preparing statement: no such column: id
$ kavro lscodes => ! Error preparing statement: no such column: id
% DROP TABLE records; CREATE TABLE records (id INTEGER PRIMARY KEY, site, account, key NOT NULL)
$ kavro addcode --key=$K --site=s --account=a && kavro lscodes
Generated code: CODE
ID: 1	Site: s	Account: a	Generated code: CODE
$ rm kavro.db && for i in 1 2 3; do kavro addcode --key=$K$(printf %03000d | tr 0 =) --site=s --account=a; done >/dev/null
% BEGIN IMMEDIATE
$ timeout 1 kavro lscodes >/dev/null
$ LD_PRELOAD=$NO_HMAC kavro addcode --key=AA --site=s --account=a => ! Error computing code: HMAC-SHA1 gave no digest
$ LD_PRELOAD=$FREED:$NO_HMAC kavro lscodes => ! Error computing code: HMAC-SHA1 gave no digest
$ LD_PRELOAD=$NO_HMAC kavro vercode --key=AA --code=1 => ! Error computing code: HMAC-SHA1 gave no digest
$ LD_PRELOAD=$NO_OPEN kavro lscodes => ! Error opening database: automatic extension loading failed: refused
$ dd if=/dev/zero of=kavro.db bs=4096 seek=4 count=1 conv=notrunc status=none
$ kavro lscodes
ID: 1	Site: s	Account: a	Generated code: CODE
ID: 2	Site: s	Account: a	Generated code: CODE
! Error retrieving data: database disk image is malformed
$ rm kavro.db && for i in $(seq 30); do kavro addcode --key=AA --site=s --account=a & done >/dev/null; wait
$ kavro lscodes | wc -l => 30
$ rm kavro.db && chmod 1777 . && umask 0777 && kavro lscodes 2>&1 && stat -c %a kavro.db
Warning: others may write the directory of kavro.db, and so replace it or plant its journal: keep the store in a directory of your own
600
$ chmod 700 . && kavro lscodes <&-
$ mkdir -m 700 o && chown 1 o && cd o && kavro lscodes 2>&1 => Warning: others may write the directory of kavro.db, and so replace it or plant its journal: keep the store in a directory of your own
$ kavro addcode --key=$K== --site=example.org --account=alice => Generated code: CODE
$ kavro addcode --site=x --key='gezd-gnbv gy3t qojq gezd gnbv gy3t qojq====' --account=b=c --site='b b¡€—₩' => Generated code: CODE
$ printf '%s\r\nAB\n' gezdgnbvgy3tqojqgezdgnbvgy3tqojq | { kavro addcode --key=- --site=3 --account=a --id=9 --id; kavro vercode --key=- --code=1; }
Generated code: CODE
Code verified: false
$ kavro addcode --key="otpauth://TOTP/Example:%20alice%40example.com?secret=gezdgnbvgy3tqojqgezdgnbvgy3tqojq&image=x&x-amp=1&color=%23fff" => Generated code: CODE
$ echo "otpauth://totp/a:b?issuer=Ex&secret=gezdgnbvgy3tqojqgezdgnbvgy3tqojq" | kavro addcode --key=- --account=own => Generated code: CODE
$ kavro addcode --key=gezdgnbvgy3tqojqgezdgnbvgy3tqojq --site='C:\Users' --account='CORP\alice' => Generated code: CODE
$ for q in 'hotp/s:a?' 'totp/:?digits=8&' 'totp/?issuer=s&algorithm=SHA256&'; do kavro addcode --key="otpauth://${q}secret=$K" --account=b; done
! Skipped: account 1 (Site: s, Account: b): type is not totp
! Skipped: account 1 (Site: , Account: b): digits is not 6
! Skipped: account 1 (Site: s, Account: b): algorithm is not SHA1
$ kavro addcode --key=$K --account=a --site="bank$(printf '\t')x"; kavro addcode --key=- --site=s --account=$(printf '\033[8m'); kavro addcode --key=$K --site=s --account=$(printf 'a\177'); kavro addcode --key=$K --account=a --site=$(printf '\302\200'); kavro addcode --key=$K --account=a --site=$(printf 'bank\342\200\256')
! Invalid site: byte 0x09 at position 5 is a control character
! Invalid account: byte 0x1B at position 1 is a control character
! Invalid account: byte 0x7F at position 2 is a control character
! Invalid site: U+0080 at position 1 is a control character
! Invalid site: U+202E at position 5 is a control character
% INSERT INTO records (id, key, site) VALUES (4294967297, 'GEZDGNBVGY3TQOJQ-GEZDGNBVGY3TQOJQ' || char(0) || '77', 'bank' || char(9) || 'Account: bob' || char(9) || 'Generated code: 000000' || char(10) || 'ID: 9' || char(9) || 'Site: other' || char(27, 92, 127, 155, 159, 0, 31, 8234, 8238, 8293, 8294, 8297, 8298) || 'z')
$ kavro lscodes --key= --code
ID: 1	Site: example.org	Account: alice	Generated code: CODE
ID: 2	Site: b b¡€—₩	Account: b=c	Generated code: CODE
ID: 3	Site: 3	Account: a	Generated code: CODE
ID: 4	Site: Example	Account: alice@example.com	Generated code: CODE
ID: 5	Site: Ex	Account: own	Generated code: CODE
ID: 6	Site: C:\Users	Account: CORP\alice	Generated code: CODE
ID: 4294967297	Site: bank\x09Account: bob\x09Generated code: 000000\x0aID: 9\x09Site: other\x1b\\x7f\u009b\u009f\x00\x1f\u202a\u202e⁥\u2066\u2069⁪z	Account: 	Generated code: CODE
$ kavro vercode --code=CODE --key="otpauth://totp/?secret=$K" => Code verified: true
$ kavro vercode --key=$K --code=$(echo CODE | cut -c 1-5) => Code verified: false
$ kavro vercode --key=$K --code=$(echo CODE | tr 0-9 1-90) => Code verified: false
$ kavro delcode --id=-1 => ! No record with ID -1
$ kavro delcode --id=9223372036854775807 => ! No record with ID 9223372036854775807
$ LD_PRELOAD=$LAX kavro delcode --id=' 1' => ID  1 deleted successfully.
$ LD_PRELOAD=$LAX kavro delcode --id=+2 => ID +2 deleted successfully.
$ ! grep -q -e $K== -e 'gezd-gnbv gy3t' kavro.db && grep -q GEZDGNBVGY3TQOJQ-GEZD kavro.db
% CREATE TRIGGER keep BEFORE DELETE ON records BEGIN SELECT RAISE(ABORT, 'kept'); END
$ kavro delcode --id=4294967297 => ! Error deleting data: kept
% DROP TRIGGER keep
$ kavro delcode --id=4294967297 => ID 4294967297 deleted successfully.
$ for c in lscodes --help --version "vercode --key=$K --code=1" exportcodes 'exportcodes --format=migration'; do LD_PRELOAD=$FREED kavro $c 2>&1 >/dev/full && break; done | uniq -c =>       6 Error writing output: No space left on device
$ mkdir -m 700 d && mv kavro.db d/mine.db && ln -s d/mine.db kavro.db && chmod 604 d/mine.db && chmod 1777 . && kavro lscodes 2>&1
Warning: group or others may read the secrets in kavro.db: chmod 600 kavro.db
Warning: others may write the directory of kavro.db, and so replace it or plant its journal: keep the store in a directory of your own
ID: 3	Site: 3	Account: a	Generated code: CODE
ID: 4	Site: Example	Account: alice@example.com	Generated code: CODE
ID: 5	Site: Ex	Account: own	Generated code: CODE
ID: 6	Site: C:\Users	Account: CORP\alice	Generated code: CODE
$ chmod 700 . && chmod 620 d/mine.db && kavro lscodes => ! Error opening database: group or others may write kavro.db
$ chmod 600 d/mine.db && ln d/mine.db other.db && kavro lscodes => ! Error opening database: kavro.db has more than one hard link
$ rm other.db && cp -p d/mine.db theirs.db && ln -sf theirs.db kavro.db && { chown 1 theirs.db || ln -sf /etc/passwd kavro.db; } 2>/dev/null
$ kavro lscodes => ! Error opening database: kavro.db belongs to another user
$ mkdir -m 777 open && ln -s ../d/mine.db open/link && ln -sf open/link kavro.db && kavro lscodes 2>&1 | head -n 1 => Warning: others may write the directory of kavro.db, and so replace it or plant its journal: keep the store in a directory of your own
$ cp -p d/mine.db open/f && for i in $(seq 37); do ln -s l$((i + 1)) l$i; done && mkdir -m 700 s && ln -s s/l39 l38 && ln -s "$PWD/open/f" s/l39 && ln -sf l1 kavro.db && kavro lscodes 2>&1 | head -n 1 => Warning: others may write the directory of kavro.db, and so replace it or plant its journal: keep the store in a directory of your own
$ ln -sf d/mine.db kavro.db && chmod 777 d && kavro lscodes 2>&1 | head -n 1 => Warning: others may write the directory of kavro.db, and so replace it or plant its journal: keep the store in a directory of your own
$ mkdir -m 700 n && chown 65534 n && chmod 711 . && k=$(command -v kavro) && cp "$k" . && cd n && setpriv --reuid=65534 --regid=65534 --clear-groups ../kavro lscodes && cd .. && ln -sf n/kavro.db kavro.db && setpriv --reuid=65534 --regid=65534 --clear-groups ./kavro lscodes
$ cd n && mkfifo f && { setpriv --reuid=65534 --regid=65534 --clear-groups ../kavro vercode --code=1 --key=- <>f & } && for i in $(seq 50); do grep -qx kavro /proc/$!/comm && setpriv --reuid=65534 --regid=65534 --clear-groups cat /proc/$!/environ 2>&1 >/dev/null | grep -q denied && echo hidden && break; sleep 0.1; done; kill $! && ! wait $! 2>/dev/null => hidden
)";
  // Near misses of an id, and numbers that wrap onto record 3: a typo must delete nothing.
  for (const std::string id : {"3abc", "abc", "3.0", "3 ", " ", "+-3", "-", "0x3",
                               "9223372036854775808", "18446744073709551619"}) {
    session += "$ kavro delcode --id='" + id + "' => ! Invalid id: " + id + "\n";
  }
  play(session);
}

// A run gives up on a lock held past its wait, 5 s, and changes nothing; a test of its own, so that
// ctest -j2 waits it out beside the rest.
TEST(Kavro, MovesAccountsInAndOutAsPhonesDo) {
  // Phone app exports (version 1, batch id -7): three accounts of K, the first alone as part 2 of
  // 3, and exports of one account that kavro cannot take.
  play(R"(
$ kavro addcode --key=otpauth-migration://offline?data=CiYKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEghFeDphbGljZRoCRXgwAgomChQxMjM0NTY3ODkwMTIzNDU2Nzg5MBIMR2l0IEh1YjogYm9iMAIKIwoUMTIzNDU2Nzg5MDEyMzQ1Njc4OTASBWNhcm9sIAEoATACEAEYASj5%2F%2F%2F%2F%2F%2F%2F%2F => ! Invalid key: data malformed: cut short in a varint
$ kavro addcode --key=otpauth-migration://offline?data=CggKAWESAWgwARABGAEo%2Bf%2F%2F%2F%2F%2F%2F%2F%2F%2F%2FAQ%3D%3D => ! Skipped: account 1 (Site: , Account: h): HOTP, not TOTP
$ kavro addcode --key=otpauth-migration://offline?data=Cg4KAWESA2EJYhoCeBswAhABGAEo%2Bf%2F%2F%2F%2F%2F%2F%2F%2F%2F%2FAQ%3D%3D => ! Skipped: account 1 (Site: x\x1b, Account: a\x09b): invalid site: byte 0x1B at position 2 is a control character
$ kavro addcode --key=otpauth-migration://offline?data=EAEYASj5%2F%2F%2F%2F%2F%2F%2F%2F%2F%2F8B => ! Invalid key: no accounts
$ kavro vercode --code=1 --key=otpauth-migration://offline?data=EAEYASj5%2F%2F%2F%2F%2F%2F%2F%2F%2F%2F8B => ! Invalid key: a phone app's export holds accounts to add, not a key
$ kavro addcode --key=otpauth-migration://offline?data=CiYKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEghFeDphbGljZRoCRXgwAgomChQxMjM0NTY3ODkwMTIzNDU2Nzg5MBIMR2l0IEh1YjogYm9iMAIKIwoUMTIzNDU2Nzg5MDEyMzQ1Njc4OTASBWNhcm9sIAEoATACEAEYASj5%2F%2F%2F%2F%2F%2F%2F%2F%2F%2F8B --site=s => ! Invalid key: an export names its own sites and accounts: give no --site or --account
$ printf 'otpauth://totp/a:b?secret=%s\n\nnot a URI\n' $K | kavro importcodes => ! Invalid key: line 3: not an otpauth:// URI or a phone app's export
$ kavro importcodes --site=s </dev/null => ! Invalid key: importcodes takes the sites and accounts its lines name: give no --site or --account
$ { printf '%04097d\n' 0; echo bad; } | kavro importcodes => ! Invalid key: line 1: too long: more than 4096 bytes
$ kavro importcodes <&- => ! Error reading key: Bad file descriptor
$ ls && kavro lscodes
% CREATE TRIGGER t BEFORE INSERT ON records WHEN NEW.account = 'carol' BEGIN SELECT RAISE(ABORT, 'no carol'); END
$ kavro addcode --key=otpauth-migration://offline?data=CiYKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEghFeDphbGljZRoCRXgwAgomChQxMjM0NTY3ODkwMTIzNDU2Nzg5MBIMR2l0IEh1YjogYm9iMAIKIwoUMTIzNDU2Nzg5MDEyMzQ1Njc4OTASBWNhcm9sIAEoATACEAEYASj5%2F%2F%2F%2F%2F%2F%2F%2F%2F%2F8B => ! Error inserting data: no carol
% DROP TRIGGER t
$ echo otpauth-migration://offline?data=CiYKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEghFeDphbGljZRoCRXgwAgomChQxMjM0NTY3ODkwMTIzNDU2Nzg5MBIMR2l0IEh1YjogYm9iMAIKIwoUMTIzNDU2Nzg5MDEyMzQ1Njc4OTASBWNhcm9sIAEoATACEAEYASj5%2F%2F%2F%2F%2F%2F%2F%2F%2F%2F8B | kavro addcode --key=-
ID: 1	Site: Ex	Account: alice	Generated code: CODE
ID: 2	Site: Git Hub	Account: bob	Generated code: CODE
ID: 3	Site: 	Account: carol	Generated code: CODE
$ kavro addcode --key=otpauth-migration://offline?data=CiYKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEghFeDphbGljZRoCRXgwAhABGAMgASj5%2F%2F%2F%2F%2F%2F%2F%2F%2F%2F8B 2>&1
Already stored as ID 1: account 1 (Site: Ex, Account: alice)
Warning: this is part 2 of 3 of the export: add the other parts as well
$ kavro addcode --key=otpauth-migration://offline?data=CiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnUxGgFTIAEoATACCiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnUyGgFTIAEoATACCiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnUzGgFTIAEoATACCiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnU0GgFTIAEoATABCiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnU1GgFTIAEoATACCiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnU2GgFTIAEoATACCiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnU3GgFTIAEoATACCiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnU4GgFTIAEoATACCiUKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgRTOnU5GgFTIAEoATACCiYKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgVTOnUxMBoBUyABKAEwAhABGAEgACgH
ID: 4	Site: S	Account: u1	Generated code: CODE
ID: 5	Site: S	Account: u2	Generated code: CODE
ID: 6	Site: S	Account: u3	Generated code: CODE
ID: 7	Site: S	Account: u5	Generated code: CODE
ID: 8	Site: S	Account: u6	Generated code: CODE
ID: 9	Site: S	Account: u7	Generated code: CODE
ID: 10	Site: S	Account: u8	Generated code: CODE
ID: 11	Site: S	Account: u9	Generated code: CODE
ID: 12	Site: S	Account: u10	Generated code: CODE
! Skipped: account 4 (Site: S, Account: u4): HOTP, not TOTP
$ printf 'otpauth://totp/s:a?secret=%s\r\n \n\t\n\notpauth://totp/s:a?secret=gezd%%20gnbv%%20gy3t%%20qojq%%20gezd%%20gnbv%%20gy3t%%20qojq\n' $K | LD_PRELOAD=$BAD_READ kavro importcodes 2>&1
ID: 13	Site: s	Account: a	Generated code: CODE
Already stored as ID 13: line 5, account 1 (Site: s, Account: a)
$ kavro lscodes --site=GIT --account=O && kavro exportcodes --site=zz --id=1; kavro lscodes --id=99
ID: 2	Site: Git Hub	Account: bob	Generated code: CODE
! No record matches --id=1 --site=zz
! No record with ID 99
$ kavro delcode --id=13 && kavro addcode --key='gezd gnbv gy3t qojq gezd gnbv gy3t qojq' --site='a:b c' --account='/x%#&+ é-._~AZaz09' && kavro exportcodes --id=13 && kavro exportcodes --id=3 --format=uri
ID 13 deleted successfully.
Generated code: CODE
otpauth://totp/a%3Ab%20c:%2Fx%25%23%26%2B%20%C3%A9-._~AZaz09?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ&issuer=a%3Ab%20c
otpauth://totp/:carol?secret=GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ
$ kavro exportcodes --format=qr => ! Invalid format: qr
! USAGE
$ kavro addcode --key="otpauth://totp/%20x:?secret=$K&issuer=%20x" && kavro addcode --key="otpauth://totp/:a%3Ab?secret=$K" && for i in 1 2; do kavro addcode --key=$(printf %04062d | tr 0 A) --site=s --account=$i >/dev/null; done
Generated code: CODE
Generated code: CODE
$ kavro addcode --key=$(printf %04063d | tr 0 A) --site=s --account=a; kavro addcode --key=$K --account=a --site=$(printf %01000d 0 | tr 0 '#'); kavro addcode --key=$K --site=s --account='  bob'
! Invalid record: key, site and account would make an export line longer than 4096 bytes
! Invalid record: key, site and account would make an export line longer than 4096 bytes
! Invalid account: it begins with a space, which no otpauth URI keeps
$ kavro lscodes | cut -f2- >all && kavro exportcodes >all.uri && kavro exportcodes --format=migration >all.m && for f in all.uri all.m; do mkdir -m 700 d$f && (cd d$f && kavro importcodes <../$f >/dev/null && kavro lscodes | cut -f2- | cmp - ../all && kavro importcodes <../$f >out 2>err && ! [ -s out ] && grep -c Already err); done && wc -l <all.m
17
17
3
% INSERT INTO records (key, site, account) VALUES ('A', 's', 'a'), ('AA', NULL, 'a'), ('GEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQGEZDGNBVGY3TQOJQ', NULL, printf('%4056s', ''))
$ LD_PRELOAD=$FREED kavro exportcodes >out; s=$?; wc -l <out; exit $s
18
! Cannot export ID 18: its key holds not one whole byte
! Cannot export ID 20: its line would be longer than the 4096 bytes of a key
$ LD_PRELOAD=$FREED kavro lscodes >/dev/null && LD_PRELOAD=$FREED kavro exportcodes --format=migration | wc -l && LD_PRELOAD=$FREED kavro exportcodes --id=20 || LD_PRELOAD=$FREED kavro exportcodes --format=migration --id=20
3
! Cannot export ID 18: its key holds not one whole byte
! Cannot export ID 20: its line would be longer than the 4096 bytes of a key
! Cannot export ID 20: its line would be longer than the 4096 bytes of a key
! Cannot export ID 20: its line would be longer than the 4096 bytes of a key
$ printf 'otpauth://totp/f:1?secret=%s\notpauth://totp/f:2?secret=GEZDG\n' $K | LD_PRELOAD=$FREED kavro importcodes | cut -f1-3
ID: 21	Site: f	Account: 1
ID: 22	Site: f	Account: 2
$ printf '%s\n' otpauth-migration://offline?data=CiQKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgNwOjEaAXAgASgBMAIQARgCIAAoAQ%3D%3D otpauth-migration://offline?data=CiQKFDEyMzQ1Njc4OTAxMjM0NTY3ODkwEgNwOjIaAXAgASgBMAIQARgCIAEoAg%3D%3D | LD_PRELOAD=$FREED kavro importcodes 2>&1 | cut -f1-3
ID: 23	Site: p	Account: 1
ID: 24	Site: p	Account: 2
Warning: this is part 1 of 2 of the export: add the other parts as well
Warning: this is part 2 of 2 of the export: add the other parts as well
$ kavro addcode --key="otpauth://totp/s:a%1b?secret=$K"; kavro exportcodes >out; s=$?; wc -l <out; exit $s
22
! Skipped: account 1 (Site: s, Account: a\x1b): invalid account: byte 0x1B at position 2 is a control character
! Cannot export ID 18: its key holds not one whole byte
! Cannot export ID 20: its line would be longer than the 4096 bytes of a key
)");
}

TEST(Kavro, GivesUpOnALockHeldPastTheWait) {
  play(R"(
$ kavro lscodes
% BEGIN IMMEDIATE
$ kavro addcode --key=AA --site=s --account=a => ! Error inserting data: database is locked
% BEGIN EXCLUSIVE
$ kavro lscodes => ! Error creating table: database is locked
)");
}

// On its terminal kavro asks for the key unseen, through stops in and out of the background while
// the shell has echo off, as a line editor has, and leaves echo on however it ends (a raw wait
// status of SIGINT), no typed part for the shell and no key in freed memory. A part typed
// (between "|") waits for a prompt, a text ending in ": ", then 0.1 s; "<TERM>", "<USR1>" and
// "<STOP>" send that signal to the shell's children, the part after them coming 0.1 s later.
TEST(Kavro, AsksForKeyOnTerminalUnseen) {
  const std::string kavro = KAVRO_BIN_DIR "/kavro vercode --key=- --code=1";
  const std::string ask = "Secret key: ";
  const std::string no = "\r\nCode verified: false\r\n";
  const std::string left = "; stty -icanon min 0 time 0; echo \"left: [$(head -c 9)]\"";
  char other[64] = "";  // a terminal that is not the controlling one
  int ends[2] = {-1, -1};
  ASSERT_EQ(openpty(&ends[0], &ends[1], other, nullptr, nullptr), 0)
      << "no pseudo-terminal (is /dev/pts mounted?): " << std::strerror(errno);
  const std::tuple<std::string, std::string, std::string, int> rows[] = {
      {kavro + " <" + other, "",
       "Error reading key: standard input is a terminal other than the "
       "controlling one\r\n",
       1 << 8},
      {"cd \"$(mktemp -d)\" && " KAVRO_BIN_DIR
       "/kavro addcode --key=AA --site=s --account=a && " KAVRO_BIN_DIR
       "/kavro lscodes && " KAVRO_BIN_DIR "/kavro lscodes | cat; rm -r \"$PWD\"",
       "",
       "Generated code: CODE\r\nCodes change in N s\r\nID: 1\tSite: s\tAccount: a\tGenerated code: "
       "CODE\r\nCodes change in N s\r\nID: 1\tSite: s\tAccount: a\tGenerated code: CODE\r\n",
       0},
      {KAVRO_BIN_DIR "/kavro importcodes", "",
       "Error reading key: standard input is a terminal, where the secrets would show: give a "
       "file or a pipe\r\n",
       1 << 8},
      {"LD_PRELOAD=" KAVRO_FAILING_READ " " + kavro, "",
       ask + "\r\nError reading key: Resource temporarily unavailable\r\n", 1 << 8},
      {"trap '' TERM; " + kavro, "AB|<TERM>|\n", ask + no, 0},
      {"exec " + kavro, "\x03", ask + "\r\n", SIGINT},
      {"set -m; " + kavro + "; stty -a | grep -ow -- -*echo; fg", "\x1a|AB\n",
       ask + "\r\necho\r\n" + kavro + "\r\n" + ask + no, 0},
      {"set -m; " + kavro + "; stty echo; printf 'fg: '; fg >/dev/null", "|<STOP>||AB\n",
       ask + "fg: " + no, 0},
      {"set -m; stty -echo; " + kavro + " & sleep 1; stty echo; fg", "AB\n",
       kavro + "\r\n" + ask + no, 0},
      {"set -m; " + kavro + "; stty -echo; bg; sleep 1; stty echo; fg", "\x1a|AB\n",
       ask + "\r\n[1] " + kavro + "\r\n" + kavro + "\r\n" + ask + no, 0},
      {"set -m; " + kavro + left, "JBSW|<TERM>", ask + "\r\nTerminated\r\nleft: []\r\n", 0},
      {kavro, "AB|<USR1>|\n", ask + "\r\nUser defined signal 1\r\n", (128 + SIGUSR1) << 8},
      {"stty raw; " + kavro + "; stty -raw", "AB\r", ask + "\nCode verified: false\n", 0},
      {"LD_PRELOAD=" KAVRO_FREED_SCAN " " + kavro + left,
       "5678901234567890" + std::string(4079, 'A') + "\n",
       ask + "\r\nInvalid key: too long: the terminal cuts a line at 4095 bytes\r\nleft: []\r\n",
       0},
      {"stty -icanon; " + kavro + left, std::string(5000, 'A') + "\n",
       ask + "\r\nInvalid key: too long: more than 4096 bytes\r\nleft: []\r\n", 0}};
  for (const auto& [command, typed, shown, status] : rows) {
    int tty = -1;
    const pid_t shell = forkpty(&tty, nullptr, nullptr, nullptr);
    if (shell == 0) _exit(execl("/bin/sh", "sh", "-c", command.c_str(), nullptr));
    ASSERT_NE(shell, -1) << "no pseudo-terminal or process for the shell: " << std::strerror(errno);
    std::string output;
    char buffer[256];
    const auto more = [&] {  // false at the end, after 10 s without output, or on a flood
      pollfd ready{tty, POLLIN, 0};
      const ssize_t n = poll(&ready, 1, 10000) == 1 ? read(tty, buffer, sizeof buffer) : -1;
      output.append(buffer, std::max<ssize_t>(n, 0));
      return n > 0 && output.size() < 65536;
    };
    std::istringstream parts(typed);
    for (std::string part, previous = " ", before; std::getline(parts, part, '|');
         previous = part, before = output) {
      while (part[0] != '<' && previous[0] != '<' && more() &&
             (output.size() <= before.size() || output.rfind(": ") != output.size() - 2)) {
      }
      usleep(100000);  // the reader is in its read by now
      std::ifstream children("/proc/" + std::to_string(shell) + "/task/" + std::to_string(shell) +
                             "/children");
      for (pid_t child = 0; part[0] == '<' && children >> child;) {
        kill(child, part == "<TERM>" ? SIGTERM : part == "<STOP>" ? SIGSTOP : SIGUSR1);
      }
      if (part[0] != '<') {
        ASSERT_EQ(write(tty, part.data(), part.size()), ssize_t(part.size()));
      }
    }
    while (more()) {
    }
    int ended = -1;
    kill(shell, SIGKILL);  // a kavro that hangs fails the test, which goes on
    waitpid(shell, &ended, 0);
    termios mode{};
    // A code, and the seconds it has left, as any run shows them.
    output = std::regex_replace(output, std::regex("\\b[0-9]{6}\r"), "CODE\r");
    output = std::regex_replace(output, std::regex("in ([1-9]|[12][0-9]|30) s"), "in N s");
    EXPECT_EQ(output, shown) << command << typed;
    EXPECT_EQ(ended, status) << command << typed;
    EXPECT_TRUE(tcgetattr(tty, &mode) == 0 && mode.c_lflag & ECHO) << command << typed;
    close(tty);
  }
}

}  // namespace
