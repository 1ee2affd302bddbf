// A C++ program using the installed library through ini/ini.hpp, as a user writes one:
// a first run that saves its settings, typed values and defaults, changes that say what
// they did; then a document built, stored in memory, loaded back and walked. Built with
// the library's own flags, so under AddressSanitizer in a sanitizer build.
#include <cstdio>
#include <string>
#include <utility>

#include "ini/ini.hpp"

namespace {

std::string DefaultHost() { return std::string(32, 'h'); }  // long enough for the heap

// The settings file of a program's first and second runs, at `path`.
bool Settings(const char* path) {
  ini::LoadResult first = ini::Document::LoadOrNew(path);
  if (!first || !first.created) return false;
  ini::Document& settings = first.document;
  bool ok = settings.Set("net", "port", 8080) == ini::Changed::kAppended &&
            settings.Set("net", "retries", 0) == ini::Changed::kAppended &&
            settings.Set("net", "ratio", 0.1) == ini::Changed::kAppended &&
            settings.Set("net", "port", 8081) == ini::Changed::kReplaced;
  // Defaults that are temporaries come back as copies.
  std::string host = settings.Get("net", "host").value_or(DefaultHost());
  auto name = settings.Get<std::string>("net", "name").value_or("localhost");
  ok = ok && host == DefaultHost() && name == "localhost" && settings.Store(path);

  ini::LoadResult second = ini::Document::LoadOrNew(path);
  return ok && second && !second.created && second.document.Get<int>("net", "port") == 8081 &&
         second.document.Get<int>("net", "retries") == 0 &&
         second.document.Get<double>("net", "ratio") == 0.1 &&
         second.document.Remove("net") == ini::Changed::kRemoved;
}

// What a settings store meets: text that would not read back is refused with a reason; a
// const document reads only; a typo is told from a gap; the system says why a store
// failed; every value of a repeated key; lookups that ignore case when asked.
bool NoSharpEdges(const char* directory) {
  ini::Document document;
  bool ok = document.Set("net", "host", "  padded") == ini::Changed::kRefused &&
            ini::Refusal("host", "  padded") != nullptr &&
            document.Set("net", "ratio", 0.0 / 0.0) == ini::Changed::kRefused &&
            document.Set("net", "port", "80x") == ini::Changed::kAppended &&
            document.Find("net").Append("path", "/a") == ini::Changed::kAppended &&
            document.Find("net").Append("path", "/b") == ini::Changed::kAppended;
  const ini::Document& settings = document;
  const ini::Parsed<int> port = settings.Get<int>("net", "port");
  ok = ok && !port && port.problem() == ini::Problem::kNotA && port.value_or(8080) == 8080 &&
       settings.Get<int>("net", "timeout").problem() == ini::Problem::kMissing;
  std::string paths;
  for (std::string_view path : settings.GetAll("net", "path")) paths += std::string(path) + ";";
  ok = ok && paths == "/a;/b;" && !settings.Find("NET") && document.IgnoreCase() &&
       settings.Get("NET", "PORT") == "80x";
  const ini::StoreResult stored = settings.Store(std::string(directory) + "/missing/a.ini");
  ok = ok && stored == -1 && std::string(stored.cause) == "no such file or directory";
  IniSection* none = ini_find_section(document.get(), "absent");
  return ok && ini_set_value(none, "k", "v") == -1;  // the C chain of a missing section
}

}  // namespace

int main(int argc, char** argv) {
  ini::Document document;
  ini::Section section("consumer");
  section.View().Set("path", "C:\\a;b");
  document.Add(std::move(section));
  ini::Bytes bytes = document.StoreMemory();
  ini::LoadResult back = ini::Document::LoadMemory(bytes.View());
  std::string walked;
  for (ini::SectionView s : back.document) {
    for (ini::Entry e : s)
      walked += std::string(s.Name()) + "/" + std::string(e.key) + "=" + std::string(e.value);
  }
  bool ok = walked == "consumer/path=C:\\a;b" && bytes.View() == "[consumer]\npath=C:\\\\a\\;b\n";
  ok = ok && (argc < 2 || Settings(argv[1]));
  ok = ok && (argc < 3 || NoSharpEdges(argv[2]));
  std::printf("%s\n", ok ? "c++ consumer ok" : "c++ consumer FAILED");
  return ok ? 0 : 1;
}
