// Standard input as bytes, for ini-check's "-": the one thing it needs from the system that
// the library does not give.
#ifndef TOOLS_INI_CHECK_STANDARD_INPUT_H_
#define TOOLS_INI_CHECK_STANDARD_INPUT_H_

#include <string>

// Reads standard input to its end as bytes, untranslated (no text mode on Windows). False
// when a read failed.
bool ReadStandardInput(std::string* bytes);

#endif  // TOOLS_INI_CHECK_STANDARD_INPUT_H_
