// The distribution tree on the in-memory disk, and running the command over it.
#include "tests/install_fixture.h"

#include "install/install.h"
#include "tests/test_util.h"

namespace testing_support {
namespace install_tree {

using install::JoinPath;

const std::string kRoot = "Q";
const std::string kRuntimeBin = JoinPath(JoinPath(kRoot, "qcore-4.0.1"), "bin");
const std::string kRelease = JoinPath(JoinPath(kRoot, "releases"), "26");
const std::string kRootBin = JoinPath(kRoot, "bin");
const std::string kIniPath = JoinPath(kRoot, "Install.ini");

void AddTree(FakeFileSystem* disk, const std::string& ini) {
  for (const auto& [relative, bytes] : SampleTree()) {
    std::string path = kRoot;
    for (std::size_t start = 0, slash; start <= relative.size(); start = slash + 1) {
      slash = relative.find('/', start);
      if (slash == std::string::npos) slash = relative.size();
      path = JoinPath(path, relative.substr(start, slash - start));
    }
    disk->files[path] = bytes;
  }
  disk->files[kIniPath] = ini;
}

std::string LauncherBytes(const std::string& name) {
  return SampleTree().at("qcore-4.0.1/bin/" + name);
}

std::string BootBytes(const std::string& profile) {
  return SampleTree().at("releases/26/launch_" + profile + ".boot");
}

namespace {

std::string Drain(std::FILE* file) {
  std::string bytes;
  for (int c; (c = std::getc(file)) != EOF;) bytes += static_cast<char>(c);
  return bytes;
}

ProcessResult RunWith(FakeFileSystem* disk, std::vector<std::string> args, std::FILE* in) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  args.insert(args.begin(), "Install");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  ProcessResult outcome;
  outcome.status = install::Main(static_cast<int>(args.size()), argv.data(), *disk, {in, out, err});
  outcome.rest_of_input = Drain(in);
  std::rewind(out);
  std::rewind(err);
  outcome.out = Drain(out);
  outcome.err = Drain(err);
  std::fclose(out);
  std::fclose(err);
  return outcome;
}

}  // namespace

ProcessResult RunInstall(FakeFileSystem* disk, std::vector<std::string> args,
                         const std::string& input) {
  std::FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  ProcessResult outcome = RunWith(disk, std::move(args), in);
  std::fclose(in);
  return outcome;
}

ProcessResult RunInstallWithUnreadableInput(FakeFileSystem* disk, std::vector<std::string> args) {
  TempDir dir;
  std::FILE* in = std::fopen((dir / "in").c_str(), "w");  // open for writing only
  ProcessResult outcome = RunWith(disk, std::move(args), in);
  std::fclose(in);
  return outcome;
}

bool DiskTouched(const FakeFileSystem& disk) {
  return disk.Count(Op::kMakeDirectory) + disk.Count(Op::kCopy) + disk.Count(Op::kReplace) > 0;
}

}  // namespace install_tree
}  // namespace testing_support
