// ini-check: says where and why INI files are rejected, warns of what a file surely does
// not mean, or shows one file as the library reads it, with every byte that would not
// show spelled out. Diagnostics take the compilers' shape, which editors and CI logs
// understand: FILE:LINE:COLUMN: error: reason, the line, a caret, and a note with a hint.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "ini/ini.h"
#include "system.h"

namespace {

constexpr char kUsage[] =
    "usage: ini-check [--werror] [--no-warnings] FILE...\n"
    "       ini-check --dump FILE\n"
    "FILE - is standard input. Exit status: 0 good, 1 errors (or warnings with --werror),\n"
    "2 bad arguments.\n";
constexpr char kVersion[] = "ini-check " QUORVA_VERSION "\n";

struct Options {
  bool dump = false;
  bool warnings = true;
  bool werror = false;
  std::vector<tools::Argument> files;
};

// Checks one file: 0 when good, 1 with errors (or warnings that count as errors). The file
// is opened by its name as typed; messages show it as the console can.
int Check(const tools::Argument& file, const Options& options) {
  const char* name = file.text.c_str();
  std::string bytes, reason;
  const bool standard_input = file.text == "-";
  const bool read = standard_input ? tools::ReadStandardInput(&bytes)
                                   : tools::ReadRegularFile(file.path, &bytes, &reason);
  if (!read) {
    std::fprintf(stderr, "%s: error: %s\n", name,
                 standard_input ? "a read from standard input failed" : reason.c_str());
    return 1;
  }
  const tools::Checked checked = tools::CheckAndReport(name, bytes, options.warnings);
  if (checked.outcome == INI_LOADED && options.dump) std::fputs(checked.dump.c_str(), stdout);
  return checked.outcome != INI_LOADED || (options.werror && checked.warnings > 0) ? 1 : 0;
}

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  bool options_end = false;
  // Options may stand anywhere; "--" ends them, so that a file may begin with '-'.
  for (const tools::Argument& argument : tools::Arguments(argc, argv)) {
    const char* a = argument.text.c_str();
    if (options_end || a[0] != '-' || std::strcmp(a, "-") == 0) {
      options.files.push_back(argument);
    } else if (std::strcmp(a, "--") == 0) {
      options_end = true;
    } else if (std::strcmp(a, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (std::strcmp(a, "--version") == 0) {
      std::fputs(kVersion, stdout);
      return 0;
    } else if (std::strcmp(a, "--dump") == 0 && !options.dump) {
      options.dump = true;
    } else if (std::strcmp(a, "--werror") == 0) {
      options.werror = true;
    } else if (std::strcmp(a, "--no-warnings") == 0) {
      options.warnings = false;
    } else {
      return Usage();
    }
  }
  if (options.files.empty() || (options.dump && options.files.size() != 1)) return Usage();
  int status = 0;
  for (const tools::Argument& file : options.files) status |= Check(file, options);
  return status;
}
