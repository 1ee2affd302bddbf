// Distribution trees on the real disk.
#include "tests/real_tree.h"

#include <filesystem>

#include "install/install.h"
#include "platform/platform.h"
#include "tests/system.h"
#include "tests/test_util.h"

namespace testing_support {

namespace fs = std::filesystem;

std::string Native(const std::string& relative) {
  std::string path = relative;
  for (char& c : path) {
    if (c == '/') c = platform::kSeparator;
  }
  return path;
}

Tree Installed(const std::string& root, const char* boot) {
  Tree tree = Distribution();
  for (const std::string name : install::kLaunchers)
    tree["bin/" + name] = tree["qcore-4.0.1/bin/" + name];
  tree["bin/launch_lean.boot"] = tree["releases/26/launch_lean.boot"];
  tree["bin/launch_tolbe.boot"] = tree["releases/26/launch_tolbe.boot"];
  tree["bin/launch.boot"] = tree[std::string("releases/26/") + boot];
  std::string runtime_bin = root + Native("/qcore-4.0.1/bin");
  const std::string ini = RuntimeIni(root, runtime_bin);
  tree["qcore-4.0.1/bin/qrv.ini"] = ini;
  tree["bin/qrv.ini"] = ini;
  return tree;
}

void WriteTree(const std::string& root, const Tree& tree) {
  for (const auto& [relative, bytes] : tree) {
    fs::path path = fs::u8path(root) / fs::u8path(relative);
    fs::create_directories(path.parent_path());
    WriteFileBytes(path.string(), bytes);
  }
}

std::string InstallProgram() { return ProgramBesideTests("Install"); }

}  // namespace testing_support
