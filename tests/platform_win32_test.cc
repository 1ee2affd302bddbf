// Saving and copying through the Win32 calls, from a caller's side: a file is replaced whole
// and keeps its attributes, a read-only file stays as it is, and the command's copies do
// not take over a source's read-only attribute.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "ini/ini.h"
#include "platform/platform.h"
#include "tests/real_tree.h"
#include "tests/test_util.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::string Stored(const IniDocument* document) {
  std::size_t size = 0;
  char* bytes = ini_store_memory(document, &size);
  std::string stored(bytes, size);
  ini_free_memory(bytes);
  return stored;
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Names in `dir` that are temporaries of a replacement.
std::vector<std::string> Temporaries(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (platform::IsTemporaryName(name.c_str())) found.push_back(name);
  }
  return found;
}

// A store replaces a file whole and keeps its attributes, spares a read-only file, is
// neither blocked nor steered by what stands at the names an earlier version used for its
// temporary (a read-only file, a directory), and stores a path so close to MAX_PATH that
// its temporary's is longer.
TEST(Win32Store, ReplacesWholeKeepsAttributesAndSparesReadOnlyFiles) {
  TempDir dir;
  IniDocument* document = ini_new_document();
  IniSection* section = ini_new_section("s");
  ini_add_section(document, section);
  ini_set_value(section, "k", "v");

  const std::string hidden = dir / "hidden.ini";
  WriteFileBytes(hidden, "old");
  ASSERT_TRUE(SetFileAttributesA(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN));
  WriteFileBytes(hidden + ".partial", "planted");
  ASSERT_TRUE(SetFileAttributesA((hidden + ".partial").c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(CreateDirectoryA((dir / "planted.ini.partial").c_str(), nullptr));
  EXPECT_EQ(ini_store_file(document, hidden.c_str()), 0);
  EXPECT_EQ(ini_store_file(document, (dir / "planted.ini").c_str()), 0);
  EXPECT_EQ(ReadFileBytes(hidden), Stored(document));
  EXPECT_EQ(ReadFileBytes(dir / "planted.ini"), Stored(document));
  EXPECT_NE(GetFileAttributesA(hidden.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  EXPECT_EQ(ReadFileBytes(hidden + ".partial"), "planted");
  EXPECT_NE(GetFileAttributesA((dir / "planted.ini.partial").c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  SetFileAttributesA((hidden + ".partial").c_str(), FILE_ATTRIBUTE_NORMAL);

  const std::string read_only = dir / "read-only.ini";
  WriteFileBytes(read_only, "kept");
  ASSERT_TRUE(SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(ini_store_file(document, read_only.c_str()), -1);
  EXPECT_EQ(ReadFileBytes(read_only), "kept");
  SetFileAttributesA(read_only.c_str(), FILE_ATTRIBUTE_NORMAL);

  std::string deep = dir.path();
  while (deep.size() < MAX_PATH - 20) {
    deep += "\\" + std::string(std::min<std::size_t>(40, MAX_PATH - 20 - deep.size()), 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr)) << deep;
  }
  const std::string near_the_limit = deep + "\\k.ini";  // its temporary's path is longer
  ASSERT_LT(near_the_limit.size(), std::size_t{MAX_PATH});
  EXPECT_EQ(ini_store_file(document, near_the_limit.c_str()), 0);
  EXPECT_EQ(ini_store_file(document, near_the_limit.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(near_the_limit), Stored(document));
  EXPECT_EQ(Temporaries(deep), std::vector<std::string>{});
  EXPECT_EQ(Temporaries(dir.path()), std::vector<std::string>{});

  EXPECT_EQ(ini_store_file(document, "NUL"), 0) << "a device is written in place";
  ini_free_document(document);
}

TEST(Win32Copy, CopiesAreNeverReadOnlyAndReadOnlyTargetsStay) {
  TempDir dir;
  platform::FileSystem& disk = platform::RealFileSystem();
  const std::string source = dir / "source.exe", copy = dir / "copy.exe", kept = dir / "kept.exe";
  WriteFileBytes(source, "launcher");
  ASSERT_TRUE(SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY));
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(disk.CopyReplacing(source.c_str(), copy.c_str())) << run;
    EXPECT_EQ(GetFileAttributesA(copy.c_str()) & FILE_ATTRIBUTE_READONLY, 0u) << run;
    EXPECT_EQ(ReadFileBytes(copy), "launcher");
  }
  WriteFileBytes(kept, "made read-only by a user");
  ASSERT_TRUE(SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(disk.CopyReplacing(source.c_str(), kept.c_str()));
  EXPECT_EQ(ReadFileBytes(kept), "made read-only by a user");
  EXPECT_EQ(Temporaries(dir.path()), std::vector<std::string>{});
  SetFileAttributesA(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
  SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

std::wstring Wide(const std::string& ansi) {
  std::wstring wide(ansi.size() + 1, L'\0');
  wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
      CP_ACP, 0, ansi.c_str(), -1, &wide[0], static_cast<int>(wide.size())) - 1));
  return wide;
}

// What a program sees of `wide` through the ANSI calls: look-alikes for what the code page
// lacks.
std::string Ansi(const std::wstring& wide) {
  std::string ansi(wide.size() * 2 + 1, '\0');
  ansi.resize(static_cast<std::size_t>(WideCharToMultiByte(
      CP_ACP, 0, wide.c_str(), -1, &ansi[0], static_cast<int>(ansi.size()), nullptr, nullptr) - 1));
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
  if (CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                     nullptr, &startup, &process)) {
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
