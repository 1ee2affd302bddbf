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
  std::printf("%s\n", ok ? "c++ consumer ok" : "c++ consumer FAILED");
  return ok ? 0 : 1;
}
