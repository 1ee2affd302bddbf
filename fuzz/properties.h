// The properties the fuzzers check, shared with the test that replays their corpora.
// Each returns an empty string when the property holds, or says how it failed.
#ifndef FUZZ_PROPERTIES_H_
#define FUZZ_PROPERTIES_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Any bytes load without a crash, the same bytes give the same document or rejection
// however the reads are cut, whether they come from a file or from memory and whichever
// scan path the reader takes, and every entry keeps the reader's guarantees.
std::string CheckReader(const std::uint8_t* data, std::size_t size);
// The same for the bytes repeated past 150,000, two 64 KiB reads and more, so that every
// way the reader grows its blocks is met: a target of its own, since each input costs a
// hundred small ones.
std::string CheckGrownReader(const std::uint8_t* data, std::size_t size);

// A document the reader accepted is written and read back unchanged, and writing it again
// gives the same bytes, whenever the format can carry its section names; when it cannot,
// the store refuses it and writes nothing.
std::string CheckRoundTrip(const std::uint8_t* data, std::size_t size);

// A file the reader accepts, loaded for editing and stored with no change, gives the same
// bytes; after edits the bytes pick (new values, a removal, an entry and a section added),
// the stored text reads back as the edited document and keeps, in order, every line no
// edit concerns.
std::string CheckEditing(const std::uint8_t* data, std::size_t size);

// The bytes drive a sequence of document operations, checked after each step against a
// simple model of sections and entries; the document is then stored exactly when the model
// says the format can carry it, and reads back the same.
std::string CheckDocumentOperations(const std::uint8_t* data, std::size_t size);

// For the libFuzzer targets: a violated property is a finding, so it stops the run.
int Enforce(const std::string& problem);

}  // namespace fuzz

#endif  // FUZZ_PROPERTIES_H_
