// End-to-end tests of the real ini-check program on the files of tests/data/ini-check:
// its diagnostics (compared with the reviewed .err files beside them), warnings, the dump,
// standard input, and bad arguments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/system.h"
#include "tests/test_util.h"

namespace {

constexpr char kUsage[] =
    "usage: ini-check [--werror] [--no-warnings] FILE...\n"
    "       ini-check --dump FILE\n"
    "FILE - is standard input. Exit status: 0 good, 1 errors (or warnings with --werror),\n"
    "2 bad arguments.\n";

// A reviewed output beside the files.
std::string Golden(const std::string& name) {
  const std::string bytes =
      testing_support::ReadFileBytes(std::string(INI_CHECK_DATA_DIR) + "/" + name);
  EXPECT_FALSE(bytes.empty()) << name << " is missing";
  return bytes;
}

TEST(IniCheckEndToEnd, DiagnosesDumpsAndRefuses) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
    std::string input = "";
  };
  std::vector<Case> cases = {
      {{"good.ini"}, 0, "", ""},
      {{"traps.ini"}, 0, "", Golden("traps.err")},
      {{"traps.ini", "--werror"}, 1, "", Golden("traps.err")},
      {{"windows.ini"}, 0, "", Golden("windows.err")},
      {{"--no-warnings", "traps.ini", "good.ini"}, 0, "", ""},
      {{"shown.ini", "--dump"}, 0, Golden("shown.out"), Golden("shown.err")},
      {{"--dump", "-"}, 0, "[a]\n\\x5Bb=c]\n", "", "[a]\n[b=c]\n"},
      {{"-", "good.ini"},
       1,
       "",
       "-:1:1: error: expected a section header '[name]' on the first line\n"
       "    1 | k=v\n      | ^\n-:1:1: note: a file's first line must be a section header, "
       "'[name]'\n",
       "k=v\r\n"},
      {{"missing.ini", "good.ini"},
       1,
       "",
       "missing.ini: error: cannot open the file: no such file or directory\n"},
      {{"--", "-dash.ini"}, 0, "", ""},
      {{"--version"}, 0, "ini-check " QUORVA_VERSION "\n", ""},
      {{"--help"}, 0, kUsage, ""},
      {{}, 2, "", kUsage},
      {{"--dump"}, 2, "", kUsage},
      {{"--dump", "good.ini", "good.ini"}, 2, "", kUsage},
      {{"--dump", "--dump", "good.ini"}, 2, "", kUsage},
      {{"-x", "good.ini"}, 2, "", kUsage},
      {{"-dash.ini"}, 2, "", kUsage},
  };
  // Each broken file on its own, against the diagnostics reviewed for it.
  for (const char* broken : {"no-header", "indented", "comment", "hash", "bom", "cr-only", "colon",
                             "bracket", "many-errors", "semicolon"}) {
    cases.push_back({{std::string(broken) + ".ini"}, 1, "", Golden(std::string(broken) + ".err")});
  }
  const std::string program = testing_support::ProgramBesideTests("ini-check");
  for (const Case& c : cases) {
    std::string args;
    for (const std::string& a : c.args) args += a + " ";
    testing_support::ProcessResult r =
        testing_support::RunProcess(program, c.args, c.input, INI_CHECK_DATA_DIR);
    EXPECT_EQ(r.status, c.status) << args;
    EXPECT_EQ(r.out, c.out) << args;
    EXPECT_EQ(r.err, c.err) << args;
  }
}

}  // namespace
