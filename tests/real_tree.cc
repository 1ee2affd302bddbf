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

Tree Distribution() {
  Tree tree;
  tree["Install.ini"] = "; release\r\n[Install]\r\nVSN = 4.0.1\r\nSYSTEM_VSN = 26\r\n";
  for (const std::string name : install::kLaunchers) {
    tree["qcore-4.0.1/bin/" + name] = std::string("MZ\0\r\n", 5) + name;
  }
  tree["releases/26/launch_lean.boot"] = std::string("lean\0\r\n", 7);
  tree["releases/26/launch_tolbe.boot"] = std::string("tolbe\0\xff\n", 8);
  return tree;
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

Tree ReadTree(const std::string& root) {
  Tree tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    tree[fs::relative(entry.path(), root).generic_string()] = ReadFileBytes(entry.path().string());
  }
  return tree;
}

std::string InstallProgram() { return ProgramBesideTests("Install"); }

}  // namespace testing_support
