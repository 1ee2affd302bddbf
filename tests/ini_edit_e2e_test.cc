// End-to-end tests of the real ini-edit program on hand-written files: what it prints, its
// exit status, and every byte of the file after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/system.h"
#include "tests/test_util.h"

namespace {

using testing_support::ReadFileBytes;

constexpr char kUsage[] =
    "usage: ini-edit [--] FILE --get SECTION KEY\n"
    "       ini-edit [--] FILE --get-all SECTION KEY\n"
    "       ini-edit [--] FILE --list [SECTION]\n"
    "       ini-edit [--] FILE --sections\n"
    "       ini-edit [--] FILE (--set SECTION KEY VALUE | --add SECTION KEY VALUE |\n"
    "                           --del SECTION [KEY] | --del-all SECTION [KEY])...\n"
    "FILE - is standard input, and changes then go to standard output, whole. Only what is\n"
    "asked changes: every other byte of FILE stays, and it is written once, whole.\n"
    "Exit status: 0 done or found; 1 --get or --get-all found nothing; 2 bad arguments;\n"
    "3 FILE cannot be read or does not load; 4 another program changed FILE, or held its\n"
    "lock, meanwhile; 5 FILE could not be written; 6 a text FILE would not give back as\n"
    "given. FILE is unchanged unless the status is 0.\n";

// Comments, blank lines, spaced '=', a comment after a value, a continuation, a repeated key
// and a repeated section, CR LF line ends and a last line without a line feed.
const std::string kFile =
    "; Settings of the example server\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for "
    "production\r\nname = a \\\r\n   long name\r\npath = /a\r\npath = /b\r\n; the client\r\n"
    "[client]\r\nretries = 3 ; how often\r\n[server]\r\npath = /c";

// kFile with `from` replaced by `to`, once.
std::string Edited(const std::string& from, const std::string& to) {
  std::string edited = kFile;
  const std::size_t at = edited.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return edited.replace(at, from.size(), to);
}

// `text` with CR LF made LF.
std::string Lf(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

std::string Bad(const std::string& why) { return "ini-edit: " + why + "\n" + kUsage; }

TEST(IniEditEndToEnd, EveryOperationAndStatus) {
  struct Case {
    std::vector<std::string> args;  // "F" stands for the file's name
    int status;
    std::string out;
    std::string err;
    std::string after;  // the file afterwards; "" for kFile as it was
    std::string input = "";
  };
  const std::string header = "[server]\r\n";
  const Case cases[] = {
      {{"F", "--get", "server", "host"}, 0, "0.0.0.0\n", "", ""},
      {{"F", "--get", "server", "name"}, 0, "a    long name\n", "", ""},
      {{"F", "--get", "server", "port"}, 1, "", "", ""},
      {{"F", "--get-all", "server", "path"}, 0, "/a\n/b\n/c\n", "", ""},
      {{"F", "--get-all", "client", "path"}, 1, "", "", ""},
      {{"F", "--sections"}, 0, "server\nclient\n", "", ""},
      {{"F", "--list", "server"},
       0,
       "[server]\nhost=0.0.0.0\nname=a    long name\npath=/a\npath=/b\n[server]\npath=/c\n",
       "",
       ""},
      {{"F", "--list"},
       0,
       "[server]\nhost=0.0.0.0\nname=a    long name\npath=/a\npath=/b\n"
       "[client]\nretries=3\n[server]\npath=/c\n",
       "",
       ""},
      // Several changes in one run give what they give one run at a time.
      {{"F", "--set", "server", "host", "127.0.0.1", "--del", "client", "retries", "--set", "new",
        "k", "a;b", "--add", "server", "path", "/d"},
       0,
       "",
       "",
       "; Settings of the example server\r\n\r\n[server]\r\nhost    = 127.0.0.1   ; change for "
       "production\r\nname = a \\\r\n   long name\r\npath = /a\r\npath = /b\r\npath=/d\r\n"
       "; the client\r\n[client]\r\n[server]\r\npath = /c\r\n[new]\r\nk=a\\;b\r\n"},
      {{"F", "--del", "server", "path", "--set", "server", "path", "/z"},
       0,
       "",
       "",
       Edited("path = /a\r\npath = /b\r\n", "path = /z\r\n")},
      {{"F", "--del-all", "server", "path"},
       0,
       "",
       "",
       "; Settings of the example server\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for "
       "production\r\nname = a \\\r\n   long name\r\n; the client\r\n[client]\r\nretries = 3 ; "
       "how often\r\n[server]\r\n"},
      {{"F", "--del-all", "server"},
       0,
       "",
       "",
       "; Settings of the example server\r\n\r\n; the client\r\n[client]\r\nretries = 3 ; how "
       "often\r\n"},
      {{"F", "--set", "server", "host", "--help"}, 0, "", "", Edited("0.0.0.0   ;", "--help   ;")},
      {{"F", "--set", "server", "host", "0.0.0.0", "--del", "client", "nothing", "--del", "none"},
       0,
       "",
       "",
       ""},
      // Standard input: the changed file goes to standard output, whole (LF line ends here,
      // since the harness folds a console's CR LF).
      {{"-", "--set", "server", "host", "h"}, 0, Lf(Edited("0.0.0.0", "h")), "", "", Lf(kFile)},
      {{"-", "--get-all", "server", "path"}, 0, "/a\n/b\n/c\n", "", "", kFile},
      {{"--", "-", "--sections"}, 0, "server\nclient\n", "", "", kFile},
      // Texts the file would not give back as given.
      {{"F", "--set", "server", "host", "  padded  "},
       6,
       "",
       "F: error: --set at argument 2: value with a space at its start or end, which reading "
       "drops\n",
       ""},
      {{"F", "--add", "server", "host", "a\rb"},
       6,
       "",
       "F: error: --add at argument 2: value with CR, which reading drops\n",
       ""},
      {{"F", "--set", "server", "", "v"},
       6,
       "",
       "F: error: --set at argument 2: empty key, or a key of spaces only\n",
       ""},
      {{"F", "--set", "server", "host", "two\nlines"},
       6,
       "",
       "F: error: --set at argument 2: value with a line feed\n",
       ""},
      // Bad arguments: what was wrong, then the usage.
      {{"F", "--set", "server", "host"}, 2, "", Bad("--set needs SECTION, KEY and VALUE"), ""},
      {{"F", "--get", "server"}, 2, "", Bad("--get needs SECTION and KEY"), ""},
      {{"F", "server.host"},
       2,
       "",
       Bad("'server.host' is no operation; a section and a key are two arguments, as in --get "
           "SECTION KEY"),
       ""},
      {{"F", "--get", "a", "b", "--del", "a"},
       2,
       "",
       Bad("--get stands alone: it reads, and cannot go with other operations"),
       ""},
      {{"F"}, 2, "", Bad("an operation is needed after FILE"), ""},
      {{"-x", "--sections"}, 2, "", Bad("FILE '-x' begins with '-'; write -- before it"), ""},
      {{"F", "--version"}, 0, "ini-edit " QUORVA_VERSION "\n", "", ""},
      {{"--help"}, 0, kUsage, "", ""},
      // A file that cannot be read, or does not load.
      {{"missing.ini", "--get", "a", "b"},
       3,
       "",
       "missing.ini: error: cannot open the file: no such file or directory\n",
       ""},
      {{".", "--set", "a", "b", "c"},
       3,
       "",
       ".: error: cannot open the file: it is a directory\n",
       ""},
      {{"-", "--get", "a", "b"},
       3,
       "",
       "-:2:1: error: expected a key line 'key = value' or a section header '[name]'\n"
       "    2 | bad\n      | ^\n-:2:1: note: a key line needs '=' between its key and its "
       "value\n",
       "",
       "[a]\nbad\n"},
  };
  const std::string program = testing_support::ProgramBesideTests("ini-edit");
  for (const Case& c : cases) {
    testing_support::TempDir dir;
    testing_support::WriteFileBytes(dir / "F", kFile);
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    const testing_support::ProcessResult r =
        testing_support::RunProcess(program, c.args, c.input, dir.path());
    EXPECT_EQ(r.status, c.status) << shown;
    EXPECT_EQ(r.out, c.out) << shown;
    EXPECT_EQ(r.err, c.err) << shown;
    EXPECT_EQ(ReadFileBytes(dir / "F"), c.after.empty() ? kFile : c.after) << shown;
  }
}

// A missing file is made by a change that adds something, and left missing by removals.
TEST(IniEditEndToEnd, MissingFiles) {
  const std::string program = testing_support::ProgramBesideTests("ini-edit");
  testing_support::TempDir dir;
  EXPECT_EQ(testing_support::RunProcess(program, {"new.ini", "--del", "s"}, "", dir.path()).status,
            0);
  EXPECT_FALSE(std::filesystem::exists(dir / "new.ini"));
  EXPECT_EQ(
      testing_support::RunProcess(
          program, {"new.ini", "--add", "s", "k", "v", "--add", "s", "k", "w"}, "", dir.path())
          .status,
      0);
  EXPECT_EQ(ReadFileBytes(dir / "new.ini"), "[s]\nk=v\nk=w\n");
}

}  // namespace
