// Tests of the C++ interface as a user writes it: owners that free, views, range-for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "ini/ini.hpp"
#include "tests/failing_allocator.h"
#include "tests/test_util.h"

namespace {

using testing_support::FailingAllocator;

class IniCpp : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(allocator_.LiveBlocks(), 0u) << "an owner leaked"; }
  FailingAllocator allocator_;
};

TEST_F(IniCpp, LoadWalkAndLookUp) {
  ini::LoadResult loaded = ini::Document::LoadMemory("[a]\nk = 1\nk = 2\n[b]\nx = y ; c\n");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded.report.outcome, INI_LOADED);
  std::string walked;
  for (ini::SectionView section : loaded.document) {
    walked += "[" + std::string(section.Name()) + "]";
    for (ini::Entry entry : section)
      walked += std::string(entry.key) + "=" + std::string(entry.value) + ";";
  }
  EXPECT_EQ(walked, "[a]k=1;k=2;[b]x=y;");
  EXPECT_EQ(loaded.document.Get("a", "k"), "1");
  EXPECT_EQ(loaded.document.Get("a", "missing"), std::nullopt);
  EXPECT_EQ(loaded.document.Get("missing", "k"), std::nullopt) << "a null view looks nothing up";
  EXPECT_FALSE(loaded.document.Find("missing"));
  EXPECT_EQ(loaded.document.Find("missing").Size(), 0);
}

TEST_F(IniCpp, RejectionCarriesLineAndReason) {
  ini::LoadResult loaded = ini::Document::LoadMemory(std::string("[a]\n\nk=v") + '\0' + "x\nbad\n");
  EXPECT_FALSE(loaded);
  EXPECT_FALSE(loaded.document);
  EXPECT_EQ(loaded.document.Size(), 0);
  EXPECT_EQ(loaded.report.outcome, INI_SYNTAX_ERROR);
  EXPECT_EQ(loaded.report.line, 4);
  EXPECT_STREQ(loaded.report.reason,
               "expected a key line 'key = value' or a section header '[name]'");

  ini::LoadResult missing = ini::Document::LoadFile("no such file.ini");
  EXPECT_EQ(missing.report.outcome, INI_CANNOT_OPEN);
}

TEST_F(IniCpp, BuildChangeAndStore) {
  ini::Document document;
  ini::Section quorva("quorva");
  ini::SectionView view = quorva.View();
  EXPECT_EQ(view.Set("Bindir", "C:\\r\\bin"), ini::Changed::kAppended);
  EXPECT_EQ(document.Add(std::move(quorva)), ini::Changed::kAppended);
  EXPECT_EQ(view.Set("Progname", "qrv"), ini::Changed::kAppended)
      << "the view outlives the owner's move";
  EXPECT_EQ(view.Set("Progname", "qrv2"), ini::Changed::kReplaced);
  EXPECT_EQ(document.Add(ini::Section::Copy(view, "copy")), ini::Changed::kAppended);
  EXPECT_EQ(view.Remove("Bindir"), ini::Changed::kRemoved);
  EXPECT_EQ(view.Remove("Bindir"), ini::Changed::kNotFound);
  EXPECT_EQ(document.Add(ini::Section("copy")), ini::Changed::kReplaced) << "replaces the copy";
  EXPECT_EQ(document.Size(), 2);

  ini::Bytes bytes = document.StoreMemory();
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes.View(), "[quorva]\nProgname=qrv2\n[copy]\n");
  EXPECT_EQ(document.Remove("copy"), ini::Changed::kRemoved);
  EXPECT_EQ(document.Remove("copy"), ini::Changed::kNotFound);

  testing_support::TempDir dir;
  const std::string path = dir / "out.ini";
  EXPECT_EQ(document.Check(), std::nullopt);
  ASSERT_EQ(document.Store(path.c_str()), 0);
  ini::LoadResult back = ini::Document::LoadFile(path.c_str());
  ASSERT_TRUE(back);
  EXPECT_EQ(back.document.Get("quorva", "Progname"), "qrv2");

  // What the format cannot carry is refused by Set, and by the store when the C functions
  // put it in: the file stays as it was.
  EXPECT_EQ(view.Set("user", "bob\n[admin]\nenabled=yes"), ini::Changed::kRefused);
  EXPECT_STREQ(ini::Refusal("user", "bob\n[admin]\nenabled=yes"), "value with a line feed");
  ini_set_value(view.get(), "user", "bob\n[admin]\nenabled=yes");
  std::optional<IniCheckReport> why = document.Check();
  ASSERT_TRUE(why);
  EXPECT_EQ(why->section, 0);
  EXPECT_EQ(why->entry, 1);
  EXPECT_STREQ(why->reason, "value with a line feed");
  EXPECT_EQ(document.Store(path.c_str()), -3);
  EXPECT_FALSE(document.StoreMemory());
  EXPECT_EQ(testing_support::ReadFileBytes(path), "[quorva]\nProgname=qrv2\n");
}

// A loop whose body removes another item goes on over live items only (ASan checks the
// made section's freed entry is never read); the iterators work with <algorithm>.
TEST_F(IniCpp, LoopsSurviveRemovalAndWorkWithAlgorithms) {
  ini::LoadResult loaded = ini::Document::LoadMemory("[a]\nk1=1\nk2=2\nk3=3\nk4=4\n[b]\n[c]\n");
  ini::Section made("made");
  for (const char* key : {"k1", "k2", "k3", "k4"}) made.View().Set(key, "v");
  for (ini::SectionView section : {loaded.document.Find("a"), made.View()}) {
    std::string seen;
    for (ini::Entry entry : section) {
      seen += entry.key;
      if (entry.key == "k1") section.Remove("k4");  // the last, before the loop gets there
    }
    EXPECT_EQ(seen, "k1k2k3");
  }
  ini::Section last("c");
  last.View().Set("k", "v");
  loaded.document.Add(std::move(last));  // replaces the loaded c with a made one
  std::string names;
  for (ini::SectionView section : loaded.document) {
    names += section.Name();
    if (section.Name() == "a") loaded.document.Remove("c");
  }
  EXPECT_EQ(names, "ab");

  const ini::SectionView view = made.View();
  EXPECT_EQ(std::count_if(view.begin(), view.end(), [](ini::Entry e) { return e.key != "k2"; }), 2);
  std::vector<ini::Entry> entries(view.begin(), view.end());
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[2].key, "k3");
  ini::SectionView::iterator it = view.begin();
  EXPECT_EQ((*it++).key, "k1");
  EXPECT_EQ((*it).key, "k2");
}

// Every operation on an empty view or owner does nothing and says so.
TEST_F(IniCpp, EmptyViewsAndOwnersDoNothing) {
  ini::Document document;
  ini::SectionView none = document.Find("absent");
  EXPECT_FALSE(none);
  EXPECT_EQ(none.Name(), "");
  EXPECT_EQ(none.Set("k", "v"), ini::Changed::kFailed);
  EXPECT_EQ(none.Remove("k"), ini::Changed::kFailed);
  EXPECT_EQ(none.begin(), none.end());
  ini::Section copy = ini::Section::Copy(none, "copy");
  EXPECT_FALSE(copy);
  EXPECT_EQ(document.Add(std::move(copy)), ini::Changed::kFailed);
  ini::Section moved("moved");
  ini::Section taker = std::move(moved);
  EXPECT_EQ(document.Add(std::move(moved)),
            ini::Changed::kFailed);  // NOLINT(bugprone-use-after-move): empty on purpose
  EXPECT_EQ(document.Size(), 0);

  ini::Document gone = std::move(document);
  EXPECT_EQ(document.Add(ini::Section("s")),
            ini::Changed::kFailed);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(document.Remove("s"), ini::Changed::kFailed);
  EXPECT_EQ(document.begin(), document.end());
  EXPECT_EQ(document.Store("never-written.ini"), -1);
  ASSERT_TRUE(document.Check());
  EXPECT_STREQ(document.Check()->reason, "no document");
}

// Names, keys, values and paths come as the caller has them: literals, std::string,
// string_views (also lent by the library itself), and std::filesystem::path, which opens a
// name of any characters (on Windows through the wide calls).
TEST_F(IniCpp, TakesStringsViewsAndPaths) {
  ini::Document document;
  const std::string section = "s";
  const std::string_view key = std::string_view("key and more").substr(0, 3);
  EXPECT_EQ(document.Set(section, key, std::string("v1")),
            ini::Changed::kAppended);  // adds the section
  EXPECT_EQ(document.Set("s", "key", "v2"), ini::Changed::kReplaced);
  ini::SectionView view = document.Find(section);
  for (ini::Entry entry : view) EXPECT_EQ(view.Get(entry.key), "v2");
  EXPECT_EQ(view.Set(view.Get("key").value(), "from a lent view"), ini::Changed::kAppended);
  EXPECT_EQ(document.Get(section, "v2"), "from a lent view");

  testing_support::TempDir dir;
  const std::filesystem::path path =
      std::filesystem::u8path(dir.path()) / std::filesystem::u8path("\xC3\xBC-\xCE\xB1.ini");
  ASSERT_EQ(document.Store(path), 0);
  EXPECT_TRUE(std::filesystem::exists(path));
  ini::LoadResult back = ini::Document::LoadFile(path);
  ASSERT_TRUE(back) << back.report.reason;
  EXPECT_EQ(back.document.Get("s", "key"), "v2");
  ini::LoadResult missing = ini::Document::LoadFile(path.string() + ".missing");
  EXPECT_STREQ(missing.report.reason, "cannot open the file: no such file or directory");
}

// Typed values read the whole value or nothing.
TEST_F(IniCpp, TypedValues) {
  ini::LoadResult loaded = ini::Document::LoadMemory(
      "[t]\nport = 8080\nneg = -12\nbig = 300\nhex = 0x10\nplus = +1\npi = 3.25\nexp = -2e3\n"
      "on = YES\noff = off\nmaybe = perhaps\ntail = 12px\n");
  const ini::Document& d = loaded.document;
  EXPECT_EQ(d.Get<int>("t", "port"), 8080);
  EXPECT_EQ(d.Get<long long>("t", "neg"), -12);
  EXPECT_EQ(d.Get<unsigned>("t", "neg"), std::nullopt);
  EXPECT_EQ(d.Get<std::uint8_t>("t", "big"), std::nullopt) << "out of range";
  EXPECT_EQ(d.Get<int>("t", "hex"), std::nullopt);
  EXPECT_EQ(d.Get<int>("t", "plus"), std::nullopt);
  EXPECT_EQ(d.Get<int>("t", "tail"), std::nullopt) << "the whole value or nothing";
  EXPECT_EQ(d.Get<double>("t", "pi"), 3.25);
  EXPECT_EQ(d.Get<float>("t", "exp"), -2000.0f);
  EXPECT_EQ(d.Get<bool>("t", "on"), true);
  EXPECT_EQ(d.Get<bool>("t", "off"), false);
  EXPECT_EQ(d.Get<bool>("t", "maybe"), std::nullopt);
  EXPECT_EQ(d.Get<int>("t", "absent"), std::nullopt);
  EXPECT_EQ(d.Get<int>("absent", "port"), std::nullopt);
  // A typo is told apart from a gap, and says where it stands; value_or takes the fallback
  // for both.
  struct Told {
    const char* key;
    ini::Problem problem;
    std::int32_t position;
  };
  for (const Told& t :
       {Told{"port", ini::Problem::kNone, 0}, Told{"tail", ini::Problem::kNotA, 10},
        Told{"absent", ini::Problem::kMissing, -1}, Told{"maybe", ini::Problem::kNotA, 9}}) {
    const ini::Parsed<int> read = d.Get<int>("t", t.key);
    EXPECT_EQ(read.problem(), t.problem) << t.key;
    EXPECT_EQ(read.position(), t.position) << t.key;
  }
  EXPECT_EQ(d.Get<std::uint8_t>("t", "big").problem(), ini::Problem::kOutOfRange);
  EXPECT_EQ(d.Get<int>("t", "tail").value_or(80), 80);
}

// What does not compile: a null pointer, and a character, which would be written as its
// number, as a value.
template <typename V, typename = void>
struct CanSet : std::false_type {};
template <typename V>
struct CanSet<
    V, std::void_t<decltype(std::declval<ini::Document&>().Set("s", "k", std::declval<V>()))>>
    : std::true_type {};
static_assert(!CanSet<std::nullptr_t>::value && !CanSet<char>::value, "refused at compile time");
// const holds: a const document gives views that read only; a char is read as text only.
template <typename D, typename = void>
struct CanChangeThrough : std::false_type {};
template <typename D>
struct CanChangeThrough<D, std::void_t<decltype(std::declval<D&>().Find("s").Set("k", "v"))>>
    : std::true_type {};
template <typename T, typename = void>
struct CanGet : std::false_type {};
template <typename T>
struct CanGet<T, std::void_t<decltype(std::declval<const ini::Document&>().Get<T>("s", "k"))>>
    : std::true_type {};
static_assert(!CanChangeThrough<const ini::Document>::value &&
                  CanChangeThrough<ini::Document>::value,
              "a const document cannot be changed through its views");
static_assert(!CanGet<char>::value && CanGet<int>::value && CanGet<std::string>::value);
static_assert(CanSet<int>::value && CanSet<const char*>::value && CanSet<std::string>::value &&
              CanSet<double>::value && CanSet<bool>::value && CanSet<std::uint8_t>::value);

// Numbers and bool are written as Get<T> reads them back exactly.
TEST_F(IniCpp, TypedSettersReadBackExactly) {
  ini::Document d;
  const auto check = [&d](auto value, const char* text) {
    using T = decltype(value);
    d.Set("t", "k", value);
    EXPECT_EQ(d.Get("t", "k"), text);
    EXPECT_EQ(d.Get<T>("t", "k"), value) << text;
  };
  check(0, "0");
  check(INT64_MIN, "-9223372036854775808");
  check(UINT64_MAX, "18446744073709551615");
  check(std::uint8_t{200}, "200");
  check(0.1, "0.1");
  check(1e300, "1e+300");
  check(-0.0, "-0");
  check(0.1f, "0.1");
  check(true, "true");
  check(false, "false");
  EXPECT_EQ(d.Get<std::string>("t", "k"), "false");
}

// What a file would not give back as given is refused, with a reason; NaN too.
TEST_F(IniCpp, SetRefusesWhatWouldNotReadBack) {
  ini::Document d;
  const std::string with_nul("a\0b", 3);
  struct Refused {
    std::string_view key, value;
    const char* why;
  };
  for (const Refused& r :
       {Refused{"k", "  lead", "value with a space at its start or end, which reading drops"},
        Refused{"k", "trail  ", "value with a space at its start or end, which reading drops"},
        Refused{"k", "a\rb", "value with CR, which reading drops"},
        Refused{"k", with_nul, "text with a NUL, at which it would end"},
        Refused{" k", "v", "key with a space at its start or end"},
        Refused{"a=b", "v", "key with '='"}}) {
    EXPECT_EQ(d.Set("s", r.key, r.value), ini::Changed::kRefused) << r.why;
    EXPECT_STREQ(ini::Refusal(r.key, r.value), r.why);
  }
  EXPECT_EQ(d.Size(), 0) << "a refused set makes no section";
  EXPECT_EQ(d.Set("a;b", "k", "v"), ini::Changed::kRefused);
  EXPECT_EQ(d.Set("s", "x", std::nan("")), ini::Changed::kRefused);
  EXPECT_EQ(d.Set("s", "x", -HUGE_VAL), ini::Changed::kRefused);
  EXPECT_EQ(d.Set("s", "x", 1.5), ini::Changed::kAppended);
  EXPECT_EQ(d.Find("s").Append("x", "2"), ini::Changed::kAppended);
  EXPECT_EQ(d.Find("s").Append("x", " 2"), ini::Changed::kRefused);
  std::vector<std::string_view> all;
  for (std::string_view value : d.GetAll("s", "x")) all.push_back(value);
  EXPECT_EQ(all, (std::vector<std::string_view>{"1.5", "2"}));
  EXPECT_TRUE(d.IgnoreCase());
  EXPECT_EQ(d.Get<double>("S", "X"), 1.5);
}

// No call that compiles passes a null pointer on; defaults cannot dangle; a first run saves;
// every change says what it did, and a store why it failed.
TEST_F(IniCpp, NoTrapsForTheCaller) {
  ini::Document d;
  const char* none = nullptr;
  EXPECT_EQ(d.Set(none, "k", "v"), ini::Changed::kFailed);
  EXPECT_EQ(d.Set("s", none, "v"), ini::Changed::kFailed);
  EXPECT_EQ(d.Set("s", "k", none), ini::Changed::kFailed);
  EXPECT_EQ(d.Size(), 0);
  EXPECT_FALSE(d.Find(none));
  EXPECT_EQ(d.Get("s", none), std::nullopt);
  EXPECT_EQ(d.Remove(none), ini::Changed::kFailed);
  EXPECT_FALSE(ini::Section(none));

  // The fallback's kind of text comes back: a std::string is a copy, safe under ASan after
  // the temporary default is gone.
  std::string host = d.Get("net", "host").value_or(std::string(40, 'h'));
  auto typed = d.Get<std::string>("net", "host").value_or("localhost");
  static_assert(
      std::is_same_v<decltype(d.Get("net", "host").value_or(std::string())), std::string>);
  EXPECT_EQ(host, std::string(40, 'h'));
  EXPECT_EQ(typed, "localhost");

  testing_support::TempDir dir;
  const std::string path = dir / "settings.ini";
  ini::LoadResult first = ini::Document::LoadOrNew(path);
  ASSERT_TRUE(first);
  EXPECT_TRUE(first.created);
  EXPECT_EQ(first.document.Set("net", "port", 8080), ini::Changed::kAppended);
  EXPECT_TRUE(first.document.Store(path));
  ini::LoadResult second = ini::Document::LoadOrNew(path);
  EXPECT_FALSE(second.created);
  EXPECT_EQ(second.document.Get<int>("net", "port"), 8080);
  testing_support::WriteFileBytes(path, "no header\n");
  ini::LoadResult rejected = ini::Document::LoadOrNew(path);
  EXPECT_FALSE(rejected) << "a file that is there but rejected is never replaced by a new one";
  EXPECT_EQ(rejected.report.outcome, INI_SYNTAX_ERROR);
  EXPECT_FALSE(ini::Document::LoadOrNew(dir.path()));

  const ini::StoreResult stored = rejected.document.Store(path);
  EXPECT_EQ(stored, -1);
  EXPECT_STREQ(stored.reason, "no document");
  ini_set_value(second.document.Find("net").get(), "user", "a\nb");
  const ini::StoreResult refused = second.document.Store(path);
  EXPECT_STREQ(refused.reason, "value with a line feed");
  EXPECT_EQ(refused.Message(), "key 'user' in section 'net': value with a line feed");
  const ini::StoreResult missing = first.document.Store(dir / "no-such-directory/a.ini");
  EXPECT_EQ(missing, -1);
  EXPECT_EQ(missing.Message(),
            "the file cannot be created, or may not be written: no such file or directory");
  EXPECT_FALSE(ini::Document::LoadOrNew("")) << "no path is no file yet to make";
}

TEST_F(IniCpp, OwnersMoveAndRelease) {
  ini::Document first;
  first.Add(ini::Section("a"));
  ini::Document second = std::move(first);
  EXPECT_FALSE(first);  // NOLINT(bugprone-use-after-move): a moved-from owner is empty
  EXPECT_TRUE(second.Find("a"));
  first = std::move(second);  // the owners swap; each releases what it holds at the end
  EXPECT_TRUE(first.Find("a"));

  IniDocument* raw = first.release();
  ini::Document adopted = ini::Document::Adopt(raw);
  EXPECT_EQ(adopted.get(), raw);
  ini::Section loose("loose");
  loose.View().Set("k", "v");
  ini::Section kept = std::move(loose);
  EXPECT_EQ(kept.View().Get("k"), "v");
}

}  // namespace
