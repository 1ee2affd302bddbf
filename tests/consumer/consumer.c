/* A C program using the installed library: writes a document, reads it back. */
#include <stdio.h>
#include <string.h>

#include "ini/ini.h"

int main(int argc, char **argv) {
  if (argc != 2) return 2;
  IniDocument *document = ini_new_document();
  IniSection *section = ini_new_section("consumer");
  ini_add_section(document, section);
  ini_set_value(section, "path", "C:\\a;b");
  if (ini_store_file(document, argv[1]) != 0) return 1;
  ini_free_document(document);

  IniDocument *back = ini_load_file(argv[1]);
  if (back == NULL) return 1;
  const char *value = ini_get_value(ini_find_section(back, "consumer"), "path");
  int ok = value != NULL && strcmp(value, "C:\\a;b") == 0;
  printf("%s\n", ok ? "consumer ok" : "consumer FAILED");
  ini_free_document(back);
  return ok ? 0 : 1;
}
