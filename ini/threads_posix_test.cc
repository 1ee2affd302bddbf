// The library on threads with small stacks: it holds no large static or thread-local
// buffers, so a program that links it can load and store on a thread with a small stack
// (glibc takes static thread-local memory from each thread's stack).
#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

#include "ini/ini.h"
#include "tests/test_util.h"

namespace {

constexpr char kText[] = "[s]\nkey=value\nother=text\n";

TEST(PosixThreads, LoadAndStoreOnA64KiBStack) {
  testing_support::TempDir dir;
  struct Work {
    std::string path;
    int stored = 1;
    std::string loaded;
  } work{dir / "t.ini", 1, ""};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, 64 * 1024), 0);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    auto* w = static_cast<Work*>(argument);
    IniDocument* document = ini_load_memory(kText, sizeof kText - 1, nullptr);
    w->stored = ini_store_file(document, w->path.c_str());
    ini_free_document(document);
    IniDocument* back = ini_load_file(w->path.c_str());
    std::size_t size = 0;
    char* bytes = ini_store_memory(back, &size);
    if (bytes != nullptr) w->loaded.assign(bytes, size);
    ini_free_memory(bytes);
    ini_free_document(back);
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(work.stored, 0);
  EXPECT_EQ(work.loaded, kText);
}

}  // namespace
