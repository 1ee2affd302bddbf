// A C++ program using the installed library through ini/ini.hpp: builds a document, stores
// it in memory, loads it back and walks it.
#include <cstdio>
#include <string>
#include <utility>

#include "ini/ini.hpp"

int main() {
  ini::Document document;
  ini::Section section("consumer");
  section.View().Set("path", "C:\\a;b");
  document.Add(std::move(section));
  ini::Bytes bytes = document.StoreMemory();
  ini::LoadResult back = ini::Document::LoadMemory(bytes.View());
  std::string walked;
  for (ini::SectionView s : back.document) {
    for (ini::Entry e : s) walked += std::string(s.Name()) + "/" + std::string(e.key) + "=" + std::string(e.value);
  }
  bool ok = walked == "consumer/path=C:\\a;b" && bytes.View() == "[consumer]\npath=C:\\\\a\\;b\n";
  std::printf("%s\n", ok ? "c++ consumer ok" : "c++ consumer FAILED");
  return ok ? 0 : 1;
}
