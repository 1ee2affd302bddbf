// The resources of the built Windows programs, read back as Windows reads them: the
// version, from the project's version, and the manifest, which asks for no more rights than
// the invoker has and opts into neither the UTF-8 code page nor long paths.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "tests/system.h"

namespace {

std::string VersionString(const std::string& program, const char* name) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(program.c_str(), &ignored);
  if (size == 0) return "(no version resource)";
  std::vector<char> info(size);
  if (!GetFileVersionInfoA(program.c_str(), 0, size, info.data())) return "(unreadable)";
  const std::string query = std::string("\\StringFileInfo\\040904B0\\") + name;
  char* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueA(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) ||
      length == 0) {
    return "(no " + std::string(name) + ")";
  }
  return std::string(value);
}

std::string Manifest(const std::string& program) {
  HMODULE module = LoadLibraryExA(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) return "(cannot open)";
  std::string text = "(no manifest)";
  if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
    const auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    text.assign(bytes, SizeofResource(module, found));
  }
  FreeLibrary(module);
  return text;
}

TEST(WindowsResources, VersionAndManifestOfEachProgram) {
  for (const char* name : {"Install", "ini-check", "ini-edit"}) {
    const std::string program = testing_support::ProgramBesideTests(name);
    SCOPED_TRACE(program);
    EXPECT_EQ(VersionString(program, "FileVersion"), QUORVA_VERSION);
    EXPECT_EQ(VersionString(program, "ProductVersion"), QUORVA_VERSION);
    EXPECT_EQ(VersionString(program, "ProductName"), "Quorva Install");
    EXPECT_EQ(VersionString(program, "OriginalFilename"), std::string(name) + ".exe");
    EXPECT_NE(VersionString(program, "FileDescription").find(' '), std::string::npos);
    const std::string manifest = Manifest(program);
    EXPECT_NE(manifest.find("requestedExecutionLevel level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);
    EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos);
    EXPECT_EQ(manifest.find("longPathAware"), std::string::npos);
  }
}

// The setup program of the sample distribution carries the version of the programs it
// installs, with its own description and name.
TEST(WindowsResources, VersionOfTheSetupProgram) {
  if (std::string(QUORVA_SETUP).empty()) GTEST_SKIP() << "built without NSIS";
  const std::string setup = testing_support::ProgramBesideTests(QUORVA_SETUP);
  EXPECT_EQ(VersionString(setup, "FileVersion"), QUORVA_VERSION);
  EXPECT_EQ(VersionString(setup, "ProductVersion"), QUORVA_VERSION);
  EXPECT_EQ(VersionString(setup, "ProductName"), "Quorva Install");
  EXPECT_EQ(VersionString(setup, "CompanyName"),
            VersionString(testing_support::ProgramBesideTests("Install"), "CompanyName"));
  EXPECT_EQ(VersionString(setup, "OriginalFilename"), std::string(QUORVA_SETUP) + ".exe");
  EXPECT_EQ(VersionString(setup, "FileDescription"), "Sets up Quorva 4.0.1");
}

}  // namespace
