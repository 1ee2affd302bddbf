// End-to-end tests of the real ini-edit program on a hand-written file: what it prints,
// its exit status, and every byte of the file after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/system.h"
#include "tests/test_util.h"

namespace {

using testing_support::ReadFileBytes;

constexpr char kUsage[] =
    "usage: ini-edit FILE --get SECTION KEY\n"
    "       ini-edit FILE (--set SECTION KEY VALUE | --del SECTION [KEY])...\n"
    "Changes only what is asked and keeps every other byte of FILE, which is written once,\n"
    "whole. Exit status: 0 done, 1 failed (FILE untouched), 2 bad arguments.\n";

// Comments, blank lines, spaced '=', a comment after a value, a continuation, CR LF line
// ends and a last line without a line feed.
const std::string kFile =
    "; Settings of the example server\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for "
    "production\r\n"
    "name = a \\\r\n   long name\r\n; the client\r\n[client]\r\nretries = 3 ; how often\r\ntimeout "
    "= 5";

TEST(IniEditEndToEnd, ChangesOnlyWhatIsAsked) {
  struct Case {
    std::vector<std::string> args;  // after FILE
    int status;
    std::string out;
    std::string err;
    std::string after;  // the file afterwards; "" for kFile as it was
  };
  const std::string p = "settings.ini";
  const Case cases[] = {
      {{"--get", "server", "host"}, 0, "0.0.0.0\n", "", ""},
      {{"--get", "server", "name"}, 0, "a    long name\n", "", ""},
      {{"--get", "server", "port"}, 1, "", "", ""},
      {{"--set", "server", "host", "127.0.0.1", "--del", "client", "retries", "--set", "new", "k",
        "a;b", "--set", "server", "port", "80"},
       0,
       "",
       "",
       "; Settings of the example server\r\n\r\n[server]\r\nhost    = 127.0.0.1   ; change for "
       "production\r\n"
       "name = a \\\r\n   long name\r\nport=80\r\n; the client\r\n[client]\r\ntimeout = "
       "5\r\n[new]\r\nk=a\\;b\r\n"},
      {{"--set", "server", "host", "0.0.0.0", "--del", "client", "nothing", "--del", "none"},
       0,
       "",
       "",
       ""},
      {{"--del", "server"},
       0,
       "",
       "",
       "; Settings of the example server\r\n\r\n; the client\r\n[client]\r\nretries = 3 ; how "
       "often\r\n"
       "timeout = 5"},
      {{"--set", "server", "host", "two\nlines"},
       1,
       "",
       p + ": error: cannot write key 'host' in section 'server': value with a line feed\n",
       ""},
      {{"--set", "server", "host"}, 2, "", kUsage, ""},
      {{"--get", "server"}, 2, "", kUsage, ""},
      {{"--frob"}, 2, "", kUsage, ""},
      {{"--version"}, 0, "ini-edit " QUORVA_VERSION "\n", "", ""},
      {{"--help"}, 0, kUsage, "", ""},
  };
  const std::string program = testing_support::ProgramBesideTests("ini-edit");
  for (const Case& c : cases) {
    testing_support::TempDir dir;
    testing_support::WriteFileBytes(dir / p, kFile);
    std::vector<std::string> args = {p};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const testing_support::ProcessResult r =
        testing_support::RunProcess(program, args, "", dir.path());
    EXPECT_EQ(r.status, c.status) << c.args[0];
    EXPECT_EQ(r.out, c.out) << c.args[0];
    EXPECT_EQ(r.err, c.err) << c.args[0];
    EXPECT_EQ(ReadFileBytes(dir / p), c.after.empty() ? kFile : c.after) << c.args[0];
  }
}

// A missing file is made by a set, and left missing by removals; a file that does not load
// gets ini-check's diagnostics and stays as it is.
TEST(IniEditEndToEnd, MissingAndBrokenFiles) {
  const std::string program = testing_support::ProgramBesideTests("ini-edit");
  testing_support::TempDir dir;
  EXPECT_EQ(testing_support::RunProcess(program, {"new.ini", "--del", "s"}, "", dir.path()).status,
            0);
  EXPECT_FALSE(std::filesystem::exists(dir / "new.ini"));
  EXPECT_EQ(
      testing_support::RunProcess(program, {"new.ini", "--set", "s", "k", "v"}, "", dir.path())
          .status,
      0);
  EXPECT_EQ(ReadFileBytes(dir / "new.ini"), "[s]\nk=v\n");
  const testing_support::ProcessResult missing =
      testing_support::RunProcess(program, {"none.ini", "--get", "s", "k"}, "", dir.path());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "none.ini: error: cannot open the file: no such file or directory\n");

  testing_support::WriteFileBytes(dir / "bad.ini", "[a]\nbad\n");
  const testing_support::ProcessResult bad =
      testing_support::RunProcess(program, {"bad.ini", "--set", "a", "k", "v"}, "", dir.path());
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err,
            "bad.ini:2:1: error: expected a key line 'key = value' or a section header '[name]'\n"
            "    2 | bad\n      | ^\nbad.ini:2:1: note: a key line needs '=' between its key and "
            "its value\n");
  EXPECT_EQ(ReadFileBytes(dir / "bad.ini"), "[a]\nbad\n");
}

}  // namespace
