// The installation run of Install: launchers, boot files, the current boot file and the
// runtime ini file, in that order. Nothing is undone on failure; a second run copies over.
#include <string>
#include <utility>
#include <vector>

#include "ini/ini.h"
#include "ini/project_internal.h"
#include "install/install.h"

namespace install {
namespace {

constexpr char kBailingOut[] = "Cannot continue installation, bailing out.\n";
// Temporaries left in the run's directories are a killed run's when they are this many
// seconds older than this run: file times may be rounded (FAT: to 2 seconds), and a run
// going on beside this one has temporaries of its own, newer ones.
constexpr std::int64_t kLeftoverAge = 2;

const char* ChosenBootFile(StartupProfile profile) {
  return profile == StartupProfile::kMinimal ? kBootFiles[0] : kBootFiles[1];
}

// Copies `from` onto `to`; on failure says so, followed by `then`.
bool Copy(platform::TreeFileSystem& file_system, const Console& console, const std::string& from,
          const std::string& to, const char* then) {
  if (file_system.CopyReplacing(from.c_str(), to.c_str())) return true;
  std::fprintf(console.err, "Could not copy file %s to %s\n", from.c_str(), to.c_str());
  std::fputs(then, console.err);
  return false;
}

bool SourceExists(platform::TreeFileSystem& file_system, const Console& console,
                  const std::string& source) {
  if (file_system.Exists(source.c_str())) return true;
  std::fprintf(console.err, "Could not find file %s\n", source.c_str());
  return false;
}

// The runtime ini file: where the runtime lives, for the launchers.
bool WriteRuntimeIni(const InstallLayout& layout, platform::TreeFileSystem& file_system,
                     const Console& console) {
  IniDocument* document = ini_new_document();
  IniSection* section = ini_new_section("quorva");
  ini_add_section(document, section);
  ini_set_value(section, "Bindir", layout.runtime_bin_dir.c_str());
  ini_set_value(section, "Progname", "qrv");
  ini_set_value(section, "Rootdir", layout.root.c_str());

  std::string written = JoinPath(layout.runtime_bin_dir, kRuntimeIni);
  // A link found at the path is replaced, not followed: a tree unpacked from elsewhere
  // must not make the run write outside it.
  bool ok = ini_detail::StoreFile(file_system, document, written.c_str(),
                                  platform::AtLink::kReplace) == 0;
  ini_free_document(document);
  if (!ok) {
    std::fprintf(console.err, "Could not create file %s\n", written.c_str());
    std::fputs(kBailingOut, console.err);
    return false;
  }
  return Copy(file_system, console, written, JoinPath(layout.root_bin_dir, kRuntimeIni),
              kBailingOut);
}

}  // namespace

std::string FirstPathTooLong(const InstallLayout& layout) {
  // Every (directory, name) pair the run joins, in the order it joins them.
  std::vector<std::pair<const std::string*, const char*>> paths;
  for (const char* name : kLaunchers) {
    paths.push_back({&layout.runtime_bin_dir, name});
    paths.push_back({&layout.root_bin_dir, name});
  }
  for (const char* name : kBootFiles) {
    paths.push_back({&layout.release_dir, name});
    paths.push_back({&layout.root_bin_dir, name});
  }
  paths.push_back({&layout.root_bin_dir, kCurrentBootFile});
  paths.push_back({&layout.runtime_bin_dir, kRuntimeIni});
  paths.push_back({&layout.root_bin_dir, kRuntimeIni});
  for (const auto& [directory, name] : paths) {
    std::string path = JoinPath(*directory, name);
    if (path.size() > kMaxPath) return path;
  }
  return "";
}

bool FirstPathOutsideRoot(const InstallLayout& layout, platform::TreeFileSystem& file_system,
                          const Console& console) {
  // The directories, then each file read, in the order the run comes to them. A target's
  // own name needs no look: a link there is replaced, not followed.
  std::vector<std::string> paths = {layout.root_bin_dir, layout.runtime_bin_dir,
                                    layout.release_dir};
  for (const char* name : kLaunchers) paths.push_back(JoinPath(layout.runtime_bin_dir, name));
  for (const char* name : kBootFiles) paths.push_back(JoinPath(layout.release_dir, name));
  for (const std::string& path : paths) {
    if (!StaysInRoot(file_system, console, layout.root, path)) return false;
  }
  return true;
}

bool NothingButRegularFiles(const InstallLayout& layout, platform::TreeFileSystem& file_system,
                            const Console& console) {
  // Each file read, links followed, and each name written, where a link is replaced: a
  // device, a FIFO or a socket there would take the run's bytes or feed it anything.
  std::vector<std::pair<std::string, bool>> paths;
  for (const char* name : kLaunchers) {
    paths.push_back({JoinPath(layout.runtime_bin_dir, name), true});
    paths.push_back({JoinPath(layout.root_bin_dir, name), false});
  }
  for (const char* name : kBootFiles) {
    paths.push_back({JoinPath(layout.release_dir, name), true});
    paths.push_back({JoinPath(layout.root_bin_dir, name), false});
  }
  paths.push_back({JoinPath(layout.root_bin_dir, kCurrentBootFile), false});
  paths.push_back({JoinPath(layout.runtime_bin_dir, kRuntimeIni), false});
  paths.push_back({JoinPath(layout.root_bin_dir, kRuntimeIni), false});
  for (const auto& [path, read] : paths) {
    if (file_system.WhatStands(path.c_str(), read) == platform::Stands::kOther) {
      std::fprintf(console.err, "Not a regular file: %s\n", path.c_str());
      return false;
    }
  }
  return true;
}

int RunInstallation(const InstallLayout& layout, platform::TreeFileSystem& file_system,
                    const Console& console) {
  // An existing directory, or one that cannot be made, is passed over: a real problem
  // shows up as failing copies.
  const std::int64_t started = file_system.Now();
  file_system.MakeDirectory(layout.root_bin_dir.c_str());
  // What a run killed halfway left: each copy and qrv.ini go through a temporary beside the
  // target. The directories are the run's own, and only temporaries' names are removed.
  for (const std::string* directory : {&layout.root_bin_dir, &layout.runtime_bin_dir}) {
    file_system.RemoveLeftovers(directory->c_str(), started - kLeftoverAge);
  }

  for (const char* name : kLaunchers) {
    std::string source = JoinPath(layout.runtime_bin_dir, name);
    if (!SourceExists(file_system, console, source)) return 1;
    // A launcher that cannot be replaced (in use, say) does not stop the installation.
    Copy(file_system, console, source, JoinPath(layout.root_bin_dir, name),
         "Continuing installation anyway...\n");
  }

  for (const char* name : kBootFiles) {
    std::string source = JoinPath(layout.release_dir, name);
    if (!SourceExists(file_system, console, source)) return 1;
    if (!Copy(file_system, console, source, JoinPath(layout.root_bin_dir, name), kBailingOut)) {
      return 1;
    }
  }

  // The current boot file is copied from the copy just made in the root's bin directory.
  if (!Copy(file_system, console, JoinPath(layout.root_bin_dir, ChosenBootFile(layout.profile)),
            JoinPath(layout.root_bin_dir, kCurrentBootFile), kBailingOut)) {
    return 1;
  }

  if (!WriteRuntimeIni(layout, file_system, console)) return 1;

  if (!layout.silent) {
    std::fprintf(console.out, "Quorva %s installed successfully\n", layout.runtime_version.c_str());
  }
  return 0;
}

}  // namespace install
