// Standard input as bytes on Windows: read through its handle, which knows no text mode.
#include <windows.h>

#include "ini_check/standard_input.h"

bool ReadStandardInput(std::string* bytes) {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char block[1 << 14];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(input, block, sizeof block, &n, nullptr))
      return GetLastError() == ERROR_BROKEN_PIPE;
    if (n == 0) return true;
    bytes->append(block, n);
  }
}
