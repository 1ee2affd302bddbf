// End-to-end tests of the real ini-check program: its streams and exit status for good,
// broken and missing files, the dump, and bad arguments.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/system.h"
#include "tests/test_util.h"

namespace {

constexpr char kUsage[] = "usage: ini-check FILE...  |  ini-check --dump FILE\n";

const std::map<std::string, std::string> kFiles = {
    {"good.ini", "; release\r\n[Install]\r\nVSN = 4.0.1\r\nSYSTEM_VSN = 26\r\n"},
    {"no-header.ini", "VSN=4.0.1\n[Install]\n"},
    {"continued.ini", "[Install]\nVSN = 4.0.1 \\\n  still VSN\nSYSTEM_VSN 26\n"},
    {"comment.ini", "[a]\n; a comment \\\nnot continued\n"},
    {"shown.ini", std::string("[ spaced ]\nk\t= a\\\\b \\\r\n  c\t\r\nhigh=\xE9\xFF\nnul=v ") + '\0' +
                      "x\n[a\\;b]\n"},
    {"-dash.ini", "[a]\n"},
};

TEST(IniCheckEndToEnd, ReportsDumpsAndRefuses) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;
    std::string err;
  };
  const std::string neither = "expected a key line 'key = value' or a section header '[name]'";
  const Case cases[] = {
      {{"good.ini"}, 0, "", ""},
      {{"good.ini", "no-header.ini", "continued.ini", "comment.ini", "missing.ini"},
       1,
       "",
       "no-header.ini:1: expected a section header '[name]' on the first line\n"
       "continued.ini:4: " + neither + "\n"
       "comment.ini:3: " + neither + "\n"
       "missing.ini: cannot open the file\n"},
      {{"--dump", "good.ini"}, 0, "[Install]\nVSN=4.0.1\nSYSTEM_VSN=26\n", ""},
      {{"--dump", "shown.ini"},
       0,
       "[ spaced ]\nk\\t=a\\\\b   c\\t\nhigh=\\xE9\\xFF\nnul=v\\x20\n[a;b]\n",
       ""},
      {{"--dump", "no-header.ini"}, 1, "", "no-header.ini:1: expected a section header '[name]' on the first line\n"},
      {{"--", "-dash.ini"}, 0, "", ""},
      {{"--help"}, 0, kUsage, ""},
      {{}, 2, "", kUsage},
      {{"--dump"}, 2, "", kUsage},
      {{"--dump", "good.ini", "good.ini"}, 2, "", kUsage},
      {{"--dump", "--dump", "good.ini"}, 2, "", kUsage},
      {{"-x", "good.ini"}, 2, "", kUsage},
      {{"-dash.ini"}, 2, "", kUsage},
  };
  testing_support::TempDir dir;
  for (const auto& [name, bytes] : kFiles) testing_support::WriteFileBytes(dir / name, bytes);
  const std::string program = testing_support::ProgramBesideTests("ini-check");
  for (const Case& c : cases) {
    std::string args;
    for (const std::string& a : c.args) args += a + " ";
    testing_support::ProcessResult r = testing_support::RunProcess(program, c.args, "", dir.path());
    EXPECT_EQ(r.status, c.status) << args;
    EXPECT_EQ(r.out, c.out) << args;
    EXPECT_EQ(r.err, c.err) << args;
  }
}

}  // namespace
