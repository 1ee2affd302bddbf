// Running programs for the end-to-end tests on Windows.
#include <windows.h>

#include "tests/system.h"
#include "tests/test_util.h"

namespace testing_support {

const char kProgramSuffix[] = ".exe";

namespace {

// One argument quoted so that the C runtime of the started program splits it back out.
std::string Quote(const std::string& argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
    return argument;
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  quoted += '"';
  return quoted;
}

HANDLE OpenInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                     disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Console text comes out with CR LF line ends; the tests compare it with LF.
std::string FoldLineEnds(std::string text) {
  std::string folded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    folded += text[i];
  }
  return folded;
}

}  // namespace

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input, const std::string& directory) {
  TempDir io;
  const std::string in_path = io / "in", out_path = io / "out", err_path = io / "err";
  WriteFileBytes(in_path, input);
  std::string command_line = Quote(program);
  for (const std::string& a : args) command_line += " " + Quote(a);

  ProcessResult result;
  HANDLE in = OpenInheritable(in_path, GENERIC_READ, OPEN_EXISTING);
  HANDLE out = OpenInheritable(out_path, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE err = OpenInheritable(err_path, GENERIC_WRITE, CREATE_ALWAYS);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  PROCESS_INFORMATION process = {};
  // A start that fails did not run the program, so it is tried again: under Wine, a start
  // has been seen to fail now and then. The last failure's error goes into `err`.
  DWORD start_error = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (CreateProcessA(program.c_str(), &command_line[0], nullptr, nullptr, TRUE, 0, nullptr,
                       directory.c_str(), &startup, &process)) {
      start_error = 0;
      break;
    }
    start_error = GetLastError();
    Sleep(200);
  }
  if (start_error == 0) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    result.status = static_cast<int>(code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  result.out = FoldLineEnds(ReadFileBytes(out_path));
  result.err = FoldLineEnds(ReadFileBytes(err_path));
  if (start_error != 0)
    result.err += "could not start " + program + ": error " + std::to_string(start_error);
  return result;
}

// Opened without any sharing: nobody else may open the file while it is held.
HeldFile::HeldFile(const std::string& path) {
  HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(handle);
}

HeldFile::~HeldFile() {
  if (held()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace testing_support
