// Tests of the editor, which writes a document's changes into the text it was loaded from,
// and of the editing store around it: what it refuses, and another program's changes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ini/project_internal.h"
#include "ini/records.h"
#include "tests/fake_file_system.h"
#include "tests/test_util.h"

namespace {

using testing_support::FakeFileSystem;
using testing_support::Op;

// Storing the edits of a document loaded for editing: every line no change concerns stays
// byte for byte, and each kind of change lands where it should.
TEST(IniEditor, WritesOnlyTheChanges) {
  // Comments, blank lines, spaced '=', a comment after a value, an escape, a continuation,
  // CR LF line ends and a last line without a line feed.
  const std::string file =
      "; settings\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for production\r\n"
      "path = C:\\\\r\\;x\r\nlist = a \\\r\n   b ; joined\r\n; about the client\r\n[client]\r\n"
      "retries = 3 ; how often\r\n; between\r\ntimeout = 5";
  struct Case {
    const char* name;
    void (*edit)(IniDocument*);
    std::string expected;            // "" for the file as it was
    const char* own_file = nullptr;  // the file edited, when not the one above
  };
  const Case cases[] = {
      {"nothing", [](IniDocument*) {}, ""},
      {"the same values",
       [](IniDocument* d) {
         ini_set_value(ini_find_section(d, "server"), "path", "C:\\r;x");
         ini_set_value(ini_find_section(d, "client"), "timeout", "5");
       },
       ""},
      {"a value with a comment after it",
       [](IniDocument* d) { ini_set_value(ini_find_section(d, "server"), "host", "127.0.0.1"); },
       "; settings\r\n\r\n[server]\r\nhost    = 127.0.0.1   ; change for production\r\n"
       "path = C:\\\\r\\;x\r\nlist = a \\\r\n   b ; joined\r\n; about the client\r\n[client]\r\n"
       "retries = 3 ; how often\r\n; between\r\ntimeout = 5"},
      {"a continued value, escaped as the writer escapes",
       [](IniDocument* d) { ini_set_value(ini_find_section(d, "server"), "list", "x;y"); },
       "; settings\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for production\r\n"
       "path = C:\\\\r\\;x\r\nlist = x\\;y ; joined\r\n; about the client\r\n[client]\r\n"
       "retries = 3 ; how often\r\n; between\r\ntimeout = 5"},
      {"the last line, which had no line feed",
       [](IniDocument* d) {
         ini_set_value(ini_find_section(d, "client"), "timeout", "9");
         ini_set_value(ini_find_section(d, "client"), "new", "1");
       },
       "; settings\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for production\r\n"
       "path = C:\\\\r\\;x\r\nlist = a \\\r\n   b ; joined\r\n; about the client\r\n[client]\r\n"
       "retries = 3 ; how often\r\n; between\r\ntimeout = 9\r\nnew=1\r\n"},
      {"new entries after the section's last, a new section at the end",
       [](IniDocument* d) {
         ini_set_value(ini_find_section(d, "server"), "port", "80");
         IniSection* added = ini_new_section("added");
         ini_add_section(d, added);
         ini_set_value(added, "k", "v");
       },
       "; settings\r\n\r\n[server]\r\nhost    = 0.0.0.0   ; change for production\r\n"
       "path = C:\\\\r\\;x\r\nlist = a \\\r\n   b ; joined\r\nport=80\r\n; about the client\r\n"
       "[client]\r\nretries = 3 ; how often\r\n; between\r\ntimeout = 5\r\n[added]\r\nk=v\r\n"},
      {"a removed entry, all its lines; the comments stay; the moved entry keeps its place",
       [](IniDocument* d) {
         ini_remove_key(ini_find_section(d, "server"), "host");
         ini_remove_key(ini_find_section(d, "server"), "list");
       },
       "; settings\r\n\r\n[server]\r\npath = C:\\\\r\\;x\r\n; about the client\r\n[client]\r\n"
       "retries = 3 ; how often\r\n; between\r\ntimeout = 5"},
      {"a removed section: header to last entry; what follows it stays",
       [](IniDocument* d) { ini_remove_section(d, "server"); },
       "; settings\r\n\r\n; about the client\r\n[client]\r\nretries = 3 ; how often\r\n"
       "; between\r\ntimeout = 5"},
      // Removals among repeats keep the order of the rest, the file's order, so the first
      // match is the same in the document and in the file.
      {"a removal before a repeated key",
       [](IniDocument* d) { ini_remove_key(ini_find_section(d, "s"), "x"); }, "[s]\na=1\na=2\n",
       "[s]\nx=1\na=1\na=2\n"},
      {"a removal, then a change of a repeated key",
       [](IniDocument* d) {
         ini_remove_key(ini_find_section(d, "s"), "x");
         ini_set_value(ini_find_section(d, "s"), "a", "9");
       },
       "[s]\na=9\na=2\n", "[s]\nx=1\na=1\na=2\n"},
      {"two removals of a key held three times",
       [](IniDocument* d) {
         ini_remove_key(ini_find_section(d, "s"), "a");
         ini_remove_key(ini_find_section(d, "s"), "a");
       },
       "[s]\na=3\n", "[s]\na=1\na=2\na=3\n"},
      {"a new section in the place of a loaded one of a repeated name",
       [](IniDocument* d) {
         IniSection* added = ini_new_section("a");
         ini_set_value(added, "k", "9");
         ini_add_section(d, added);
       },
       "; b\n[a]\nk=9\n[a]\nk=2\n", "[a]\nk=1\n; b\n[a]\nk=2\n"},
      // A backslash escapes the next byte but CRs, in the comment's search as in the reader.
      {"an escape before a CR",
       [](IniDocument* d) { ini_set_value(ini_find_section(d, "s"), "k", "x"); }, "[s]\nk = x\n",
       "[s]\nk = a\\\r;b\n"},
      {"an escaped backslash after a CR, then a comment",
       [](IniDocument* d) { ini_set_value(ini_find_section(d, "s"), "k", "x"); },
       "[s]\nk = x; note\n", "[s]\nk = a\\\r\\; note\n"},
  };
  for (const Case& c : cases) {
    const std::string own = c.own_file != nullptr ? c.own_file : file;
    IniDocument* document = ini_load_memory_for_editing(own.data(), own.size(), nullptr);
    ASSERT_NE(document, nullptr);
    c.edit(document);
    std::size_t size = 0;
    char* bytes = ini_store_edits_memory(document, &size);
    ASSERT_NE(bytes, nullptr) << c.name;
    const std::string stored(bytes, size);
    EXPECT_EQ(stored, c.expected.empty() ? own : c.expected) << c.name;
    // What was stored reads back as the edited document: every lookup finds the same.
    IniDocument* back = ini_load_memory(bytes, size, nullptr);
    ASSERT_NE(back, nullptr) << c.name;
    for (int32_t s = 0; s < document->count; ++s) {
      const IniSection* edited = document->sections[s];
      for (int32_t e = 0; e < edited->count; ++e) {
        const char* key = edited->entries[e]->key;
        EXPECT_STREQ(ini_get_value(ini_find_section(back, edited->name), key),
                     ini_get_value(ini_find_section(document, edited->name), key))
            << c.name;
      }
    }
    ini_free_document(back);
    ini_free_memory(bytes);
    ini_free_document(document);
  }
}

// A file that ends inside a line, with an escape pending or a continuation as its last
// bytes, is closed before what is added after it, which would otherwise join that line.
TEST(IniEditor, ClosesALineLeftOpenAtTheEnd) {
  for (const std::string file :
       {"[s]\nk=v\\", "[s]\nk=v\\\n", "[s]\nk=v\\\r\n", "[s]\nk=v ; c\\"}) {
    IniDocument* document = ini_load_memory_for_editing(file.data(), file.size(), nullptr);
    ini_set_value(ini_find_section(document, "s"), "n", "1");
    std::size_t size = 0;
    char* bytes = ini_store_edits_memory(document, &size);
    IniDocument* back = ini_load_memory(bytes, size, nullptr);
    EXPECT_EQ(testing_support::Dump(back), "[s]\n<k>=<v>\n<n>=<1>\n") << file;
    ini_free_document(back);
    ini_free_memory(bytes);
    ini_free_document(document);
  }
}

// A store refuses what the format cannot carry, and will not undo another program's change:
// the file changed since the load, or one created where none was.
TEST(IniEditor, RefusesAndKeepsOtherProgramsChanges) {
  FakeFileSystem disk;
  disk.files["a.ini"] = "[s]\nk = 1 ; note\n";
  IniDocument* document = ini_detail::LoadFileForEditing(disk, "a.ini");
  ASSERT_NE(document, nullptr);
  ini_set_value(ini_find_section(document, "s"), "k", "two\nlines");
  IniCheckReport why;
  EXPECT_EQ(ini_check_edits(document, &why), -3);
  EXPECT_STREQ(why.reason, "value with a line feed");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), -3);

  ini_set_value(ini_find_section(document, "s"), "k", "2");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), 0);
  EXPECT_EQ(disk.files["a.ini"], "[s]\nk = 2 ; note\n");
  ini_set_value(ini_find_section(document, "s"), "k", "3");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), 0) << "its own store is no change";
  disk.files["a.ini"] = "[s]\nk = 3 ; another program's\n";
  ini_set_value(ini_find_section(document, "s"), "k", "4");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), -4);
  EXPECT_EQ(disk.files["a.ini"], "[s]\nk = 3 ; another program's\n");
  EXPECT_EQ(disk.Temporaries(), std::vector<std::string>{});
  disk.files.erase("a.ini");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "a.ini"), -4) << "removed meanwhile";
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "b.ini"), 0)
      << "saved elsewhere: nothing to undo";
  EXPECT_EQ(disk.files["b.ini"], "[s]\nk = 4 ; note\n");
  disk.files["a.ini"] = "[s]\n";
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "b.ini"), 0)
      << "b.ini is the document's file now, unchanged since its store";
  disk.ids.erase("b.ini");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "b.ini"), -4) << "replaced meanwhile";
  EXPECT_TRUE(disk.locked.empty());
  disk.locked_by_others.insert("b.ini");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, document, "b.ini"), -5)
      << "its lock held past the wait";
  ini_free_document(document);

  IniDocument* fresh = ini_new_document();
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, fresh, "a.ini"), -4) << "a file is there already";
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, fresh, "c.ini"), 0);
  IniSection* added = ini_new_section("n");
  ini_add_section(fresh, added);
  ini_set_value(added, "k", "1");
  EXPECT_EQ(ini_detail::StoreEditsFile(disk, fresh, "c.ini"), 0) << "its own first store";
  EXPECT_EQ(disk.files["c.ini"], "[n]\nk=1\n");
  ini_free_document(fresh);
}

}  // namespace
