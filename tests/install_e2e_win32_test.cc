// The real Install program on Windows: a root that the ANSI code page cannot hold, given or
// found from the program's own path, is refused.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "tests/real_tree.h"
#include "tests/test_util.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring Wide(const std::string& ansi) {
  std::wstring wide(ansi.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &wide[0], static_cast<int>(wide.size())) -
      1));
  return wide;
}

// What a program sees of `wide` through the ANSI calls: look-alikes for what the code page
// lacks.
std::string Ansi(const std::wstring& wide) {
  std::string ansi(wide.size() * 2 + 1, '\0');
  ansi.resize(static_cast<std::size_t>(WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &ansi[0],
                                                           static_cast<int>(ansi.size()), nullptr,
                                                           nullptr) -
                                       1));
  return ansi;
}

// Runs `program` with the wide command line `arguments`, so that every character reaches it
// as it is, and gives its exit status; `*err` receives its standard error.
int RunWide(const std::wstring& program, const std::wstring& arguments, const TempDir& io,
            std::string* err) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  const std::string err_path = io / "err";
  HANDLE err_file = CreateFileA(err_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = startup.hStdOutput = err_file;
  PROCESS_INFORMATION process = {};
  std::wstring command_line = L"\"" + program + L"\" " + arguments;
  DWORD code = 255;
  if (CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                     &startup, &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(err_file);
  *err = ReadFileBytes(err_path);
  for (std::size_t at; (at = err->find("\r\n")) != std::string::npos;) err->erase(at, 1);
  return static_cast<int>(code);
}

// A root the ANSI code page cannot hold, given or found from the program's own path, is
// refused: its look-alike names another tree, which must stay untouched.
TEST(Win32Install, LookAlikeRootsAreRefused) {
  TempDir dir;
  const std::wstring root = Wide(dir.path()) + L"\\x\u03B1";  // x and Greek alpha
  ASSERT_TRUE(CreateDirectoryW(root.c_str(), nullptr));
  const std::string look_alike = Ansi(root);
  ASSERT_NE(Wide(look_alike), root) << "the code page holds alpha: nothing to show here";
  testing_support::WriteTree(look_alike, testing_support::Distribution());
  const std::wstring install = Wide(testing_support::InstallProgram());
  const std::wstring own_copy = root + L"\\Install.exe";
  ASSERT_TRUE(CopyFileW(install.c_str(), own_copy.c_str(), FALSE));
  const std::string refused =
      "Root directory " + look_alike + " has characters outside the ANSI code page\n";
  std::string err;
  EXPECT_EQ(RunWide(install, L"-s \"" + root + L"\"", dir, &err), 1);
  EXPECT_EQ(err, refused);
  EXPECT_EQ(RunWide(own_copy, L"-s", dir, &err), 1);
  EXPECT_EQ(err, refused);
  EXPECT_FALSE(Exists(look_alike + "\\bin"));
}

}  // namespace
