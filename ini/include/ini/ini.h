/* SPDX-License-Identifier: MIT */
/* INI configuration files: an in-memory document of ordered sections and entries, a reader
 * and a writer. Usable from C and C++. */
#ifndef INI_INI_H_
#define INI_INI_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Names, keys and values are NUL-terminated byte strings. The library gives their bytes no
 * meaning: they are stored and compared byte for byte, case-sensitively, untrimmed.
 *
 * Records: pass the library only documents, sections and entries it made and handed out,
 * never a copy of one or a record made by the caller. A section and a document have
 * hidden bookkeeping behind the public fields, which an operation on a copy would write
 * past it. The public fields are to be read; changing them by hand is undefined.
 *
 * Memory: everything a document holds is released by ini_free_document or
 * ini_free_section; callers never free a name, key or value. A loaded document keeps the
 * text and the records of what it read in a few large blocks of its own, sized from the
 * file (on Linux, large ones are backed by transparent huge pages). Removing or replacing
 * a loaded section or entry, or giving a loaded entry a new value, therefore releases
 * nothing at once: that memory returns when the document is released. Sections, entries
 * and values made by the operations have heap blocks of their own, released as soon as
 * they are removed or replaced, with one bound exception: an entry made by an operation
 * keeps the room of its first key and value, when they took 64 bytes or less with their
 * NULs, until the entry itself is removed or released.
 * An operation that has no failure result (every one but the loaders and the stores)
 * prints "ini: out of memory" on standard error and calls abort() when an allocation fails:
 * it has no way to report the failure and must not go on with a half-made change. */

/* One key/value pair: two NUL-terminated strings that the entry owns, `value` behind the
 * key's NUL in the same piece of memory. Never release either: the entry's section does
 * (for a loaded entry, the document, whose blocks hold the text of all its lines). */
typedef struct IniEntry {
  char *key;
  char *value;
} IniEntry;

/* A named section: `entries[0]` to `entries[count - 1]` in position order. `entries` is an
 * array of `capacity` slots: 10 in a new section, 10 more whenever an entry is appended to
 * a full section, never fewer. The array moves only in such an append (a kept `entries`
 * stays the array until then) and never shrinks, also not when entries are removed. The
 * section owns its name, the array and every entry. */
typedef struct IniSection {
  int32_t count;
  int32_t capacity;
  char *name;
  IniEntry **entries;
} IniSection;

/* A document: `sections[0]` to `sections[count - 1]` in position order. `sections` is an
 * array of `capacity` slots that grows, moves and never shrinks as for IniSection. The
 * document owns the array and every section in it. */
typedef struct IniDocument {
  int32_t count;
  int32_t capacity;
  IniSection **sections;
} IniDocument;

/* NULL: every call takes NULL for a document, section, name, key, value or path, and then
 * does nothing and fails as it says below: the lookups give NULL, the changes -1, the
 * loads NULL (INI_CANNOT_OPEN), the stores -1, and the releases nothing, as free(NULL)
 * does. So the lookups and changes of a section that is not there chain safely:
 * ini_set_value(ini_find_section(doc, "server"), "port", "80") gives -1 when doc has no
 * section "server" (or when doc is NULL, a file that did not load).
 *
 * Names and keys are not unique: a file may repeat them, and every lookup below finds the
 * first match in position order. A repeat behind it is held, reachable by position (and by
 * ini_find_value) and written out, but never found by name.
 *
 * Case: names and keys compare byte for byte, case-sensitively, unless the document is
 * switched by ini_set_ignore_case. */

/* A new empty document (count 0, capacity 10), owned by the caller. */
IniDocument *ini_new_document(void);

/* Releases the document with all its sections, names, entries, keys and values. Every
 * reference lent from it becomes invalid. NULL: does nothing. */
void ini_free_document(IniDocument *document);

/* A new empty section (count 0, capacity 10) holding its own copy of `name`; owned by the
 * caller until it is given to ini_add_section. NULL for a NULL name. */
IniSection *ini_new_section(const char *name);

/* Releases a section that no document holds, with its name and entries. NULL: does
 * nothing. */
void ini_free_section(IniSection *section);

/* Gives `section` to the document, which owns it from now on.
 * Returns 1 when it was appended; 0 when it took the place (and position) of the first
 * section of the same name, which is released whole. Handing over the very section that
 * already stands at that place changes nothing and returns 0. -1 when `document` or
 * `section` is NULL: nothing is taken, and the section stays the caller's. */
int ini_add_section(IniDocument *document, IniSection *section);

/* The first section named `name`, or NULL (also when `document` is NULL). Lent: valid
 * until that section is replaced, removed or released. */
IniSection *ini_find_section(const IniDocument *document, const char *name);

/* Releases the first section named `name`, and moves the last section into its position
 * (in a document that keeps its text, the sections after it up). Returns 0 when a section
 * was removed, 1 when no section has that name, -1 when `document` or `name` is NULL. */
int ini_remove_section(IniDocument *document, const char *name);

/* The name of the section at `position`, or NULL when the position is not in 0..count-1
 * or `document` is NULL. Lent like the section itself. */
const char *ini_section_name_at(const IniDocument *document, int32_t position);

/* Stores copies of `key` and `value`. Returns 1 when a new entry was appended; 0 when the
 * first entry with that key received the new value; -1, storing nothing, when `section`,
 * `key` or `value` is NULL. `key` and `value` may point into the very entry being
 * replaced. */
int ini_set_value(IniSection *section, const char *key, const char *value);

/* Appends an entry holding copies of `key` and `value` after the section's last, also when
 * an entry with `key` is held already: a repeat, as files may hold them (lookups find the
 * first; a file stored with it holds both). Returns 1; -1, appending nothing, when `section`,
 * `key` or `value` is NULL. */
int ini_append_value(IniSection *section, const char *key, const char *value);

/* The value of the first entry with `key`, or NULL (also when `section` is NULL). Lent:
 * valid until that entry receives a new value or is removed, or the section is released. */
const char *ini_get_value(const IniSection *section, const char *key);

/* Every value of a repeated key, in order: the value of the first entry named `key` at or
 * after position `*position`, with `*position` set to that entry's position; NULL when there
 * is none (also for a NULL argument or a negative position), with `*position` unchanged.
 * Lent like ini_get_value's result. So
 *   for (int32_t p = 0; (v = ini_find_value(s, "path", &p)) != NULL; ++p) ...
 * visits every "path" of s in order. */
const char *ini_find_value(const IniSection *section, const char *key, int32_t *position);

/* Makes every lookup, replacement and removal by name in `document` compare section names
 * and keys without regard to the case of ASCII letters (A-Z and a-z alike), or, with
 * `ignore` 0, byte for byte again: ini_find_section finds [Server] as "server", ini_set_value
 * replaces the value of the first "Port" for "port" (the key keeps its spelling). Sections
 * added to the document later follow it; a
 * copy made with ini_copy_section follows its source, its repeated keys found the same way.
 * The text stays as it was written, and stores write it so. Off by default; exact lookups
 * cost nothing more. Returns 0, or -1 for a NULL document. */
int ini_set_ignore_case(IniDocument *document, int ignore);

/* The key of the entry at `position`, or NULL when the position is not in 0..count-1 or
 * `section` is NULL. Lent like ini_get_value's result. */
const char *ini_key_at(const IniSection *section, int32_t position);

/* The value of the entry at `position`, or NULL when the position is not in 0..count-1 or
 * `section` is NULL. Lent like ini_get_value's result. */
const char *ini_value_at(const IniSection *section, int32_t position);

/* Releases the first entry with `key`, and moves the last entry into its position (in a
 * section of a document that keeps its text, the entries after it up). Returns 0 when an
 * entry was removed, 1 when no entry has that key, -1 when `section` or `key` is NULL. */
int ini_remove_key(IniSection *section, const char *key);

/* A new section named `new_name`, owned by the caller and in no document, holding one copy
 * of each distinct key of `section` with the value of its first occurrence, in the order
 * of first occurrences. The source is unchanged. NULL when either argument is NULL. */
IniSection *ini_copy_section(const IniSection *section, const char *new_name);

/* Reads the file at `path` (passed to the system unchanged) into a new document owned by
 * the caller. Returns NULL when the file cannot be opened, when a read fails, when its
 * structure is rejected, or when memory runs out; a file is accepted or rejected whole.
 *
 * Syntax, line by line: "[name]" opens a section; "key = value" adds an entry to it; the
 * first line must open a section. A ';' starts a comment to the end of the line. A '\'
 * makes the next ';' or '\' an ordinary character, joins the next line when it ends a line,
 * and is dropped before any other byte. CR is ignored everywhere. Spaces are dropped at
 * the start and end of a line and around the first '='. Blank and comment lines are
 * skipped; an empty file gives a document without sections. */
IniDocument *ini_load_file(const char *path);

/* Why a load gave no document. */
enum IniLoadOutcome {
  INI_LOADED = 0,       /* a document was returned */
  INI_CANNOT_OPEN = 1,  /* the file is missing, not readable, a directory, or locked:
                           `reason` says which, as the system told it */
  INI_READ_FAILED = 2,  /* a read failed part-way; the part read is not used */
  INI_SYNTAX_ERROR = 3, /* a line breaks the structure of a file; see `line`, `reason` */
  INI_OUT_OF_MEMORY = 4,
  INI_STOPPED = 5, /* ini_scan_file, ini_scan_memory: the handler asked to stop */
  INI_BUSY = 6     /* ini_load_file_for_editing_locked: another program held the file's
                      edit lock for the whole wait */
};

/* What a load reports besides its document, filled by ini_load_file_report and
 * ini_load_memory. */
typedef struct IniLoadReport {
  int32_t outcome; /* an IniLoadOutcome */
  /* INI_SYNTAX_ERROR: the 1-based number of the physical line (line feeds counted) that
   * holds the first character of the first offending logical line, so a line continued
   * with '\' over several physical lines counts where its text begins (skipped blank,
   * comment and continuation-only lines before it do not count). 0 for every other
   * outcome. */
  int64_t line;
  /* A short fixed English text saying what went wrong, such as "expected a section header
   * '[name]' on the first line" or "cannot open the file: no such file or directory"; ""
   * for INI_LOADED. Static: never released, never NULL. */
  const char *reason;
  /* INI_SYNTAX_ERROR: the 1-based byte, within the physical line `line`, of the offending
   * line's first character (so that editors can point at it; a tab or a UTF-8 character
   * counts its bytes). 0 for every other outcome. */
  int64_t column;
} IniLoadReport;

/* ini_load_file, telling why it gave NULL: fills `*report` (which may be NULL) and returns
 * exactly what ini_load_file returns. The file is still accepted or rejected whole: the
 * first offending line is reported and no document is made. */
IniDocument *ini_load_file_report(const char *path, IniLoadReport *report);

/* Reads `size` bytes at `bytes` (NUL bytes included, no terminator needed) as if they were
 * the whole contents of a file given to ini_load_file, with the same syntax and the same
 * result; `*report` (which may be NULL) as for ini_load_file_report, whose outcome is never
 * INI_CANNOT_OPEN or INI_READ_FAILED. The bytes are only read, and may be released once the
 * call returns. */
IniDocument *ini_load_memory(const void *bytes, size_t size, IniLoadReport *report);

/* Reading line by line, with no document: for a caller that wants each entry, or each bad
 * line, as the reader meets it (as inih's handler gets them). */
enum IniLineKind {
  INI_HEADER = 0,  /* a section header: `section` is its name */
  INI_ENTRY = 1,   /* a key line: `key` and `value`, in the section named `section` */
  INI_BAD_LINE = 2 /* a line that breaks the structure of a file: `text` and `reason` */
};

/* One logical line, handed to an IniLineHandler. Every text is lent for the call only. */
typedef struct IniLine {
  int32_t kind;        /* an IniLineKind */
  int64_t line;        /* the 1-based physical line holding the line's first character,
                          counted as IniLoadReport.line is */
  int64_t column;      /* that character's 1-based byte in the physical line */
  const char *section; /* INI_HEADER: its name; else the name of the section the line stands
                          in, "" before the first header */
  const char *key;     /* INI_ENTRY: the key; NULL for the others */
  const char *value;   /* INI_ENTRY: the value; NULL for the others */
  const char *text;    /* INI_BAD_LINE: the line as read (comments, escapes and outer spaces
                          dealt with); NULL for the others */
  const char *reason;  /* INI_BAD_LINE: why, a short fixed English text (static); NULL for
                          the others */
} IniLine;

/* Called with the `user` given to the parse and each line in file order. Returns nonzero
 * to go on, 0 to stop the parse there. */
typedef int (*IniLineHandler)(void *user, const IniLine *line);

/* Reads the file at `path` as ini_load_file does and hands each logical line to `handler`,
 * building no document; it goes on past bad lines, so the handler sees every line. Returns
 * an IniLoadOutcome, which also fills `*report` (which may be NULL) as ini_load_file_report
 * would: INI_LOADED when every line was good, INI_SYNTAX_ERROR naming the first bad line,
 * INI_STOPPED at the line where the handler returned 0, INI_CANNOT_OPEN, INI_READ_FAILED,
 * or INI_OUT_OF_MEMORY (the text of the file is kept in memory while it is read). */
int ini_scan_file(const char *path, IniLineHandler handler, void *user, IniLoadReport *report);

/* ini_scan_file over `size` bytes at `bytes`, read as ini_load_memory reads them. */
int ini_scan_memory(const void *bytes, size_t size, IniLineHandler handler, void *user,
                    IniLoadReport *report);

/* Where and why a document cannot be written so that it reads back the same, filled by
 * ini_check_document. */
typedef struct IniCheckReport {
  int32_t section; /* the position of the first section at fault, or -1 when none is */
  int32_t entry;   /* the position of the entry at fault in it; -1 when its name is */
  /* A short fixed English text, such as "key with '='"; "" when nothing is at fault.
   * Static: never released, never NULL. */
  const char *reason;
} IniCheckReport;

/* Checks that the document can be written and read back with the same sections, names,
 * keys and entries: returns 0 when it can, -3 when it cannot, and -1 for a NULL document.
 * With -3, `*report` (which may be NULL) names the first section and entry at fault, in
 * position order. It cannot be written, because the format has no way to carry it, when
 *   - a section name is empty, or holds CR, LF, ';' or '\', or '=' in any section but the
 *     first (names are written as they are, unescaped);
 *   - a key is empty or of spaces only, begins or ends with a space, or holds '=', CR or
 *     LF;
 *   - a value holds LF.
 * What reading documents as lost is no fault: outer spaces and CRs of values (read back
 * without them), outer spaces of names (kept). Costs one pass over the text. */
int ini_check_document(const IniDocument *document, IniCheckReport *report);

/* Why an entry `key` = `value` would not read back from a file exactly as given, or NULL
 * when it would: the reasons of ini_check_read_back for a key and a value ("empty key, or a
 * key of spaces only", "value with CR, which reading drops", ...). Static text. NULL key or
 * value: "no text". */
const char *ini_check_entry(const char *key, const char *value);

/* Why a section named `name` would not read back from a file as given where it is not the
 * file's first section, or NULL when it would: "empty section name", "section name with
 * ';', which would start a comment", ... Static text. NULL: "no text". */
const char *ini_check_name(const char *name);

/* ini_check_document, and also what reading drops from a value: spaces at either end and
 * CRs. For a caller who wants to know whether every value reads back exactly as it stands,
 * which ini_store_file does not ask (the format drops those, and ini_store_file writes the
 * document as it is). Reasons: "value with a space at its start or end, which reading
 * drops", "value with CR, which reading drops". */
int ini_check_read_back(const IniDocument *document, IniCheckReport *report);

/* Writes the document to `path`: "[name]\n" per section, then "key=value\n" per entry, with
 * every ';' and '\' in keys and values preceded by '\'. Section names are written as they
 * are. The old file is replaced whole: the bytes go to a private temporary file beside it
 * (on Linux one without a name; elsewhere ".ini-", 16 random hexadecimal digits and
 * ".tmp"), which is flushed to the disk and only then moved over it, so that at every
 * moment, even after a crash or a power cut, the path holds the old file whole or the new
 * one whole, also while other processes store the same path. The store never opens,
 * removes or renames a name it did not make, so nothing another user plants beside the
 * file can steer or block it.
 * A symbolic link at the path stays: it is followed as the system follows links for this
 * process (so the system's rules apply, such as Linux's protected_symlinks for a link that
 * another user planted in a sticky directory), and the file it leads to is replaced; a link
 * that may not be followed, or that leads to a directory, a device, a FIFO or a socket,
 * gives -1. The name is replaced, not the file's contents: a hard link to the old file keeps
 * the old text. The replaced file keeps its permission bits, and its owner and group where
 * the process may set them (POSIX), or its attributes and security (Windows); a new file
 * gets 0666 less the umask (POSIX).
 * Returns
 *    0 when this store's new file is in place;
 *   -1 when `document` is NULL, when a directory stands at `path`, when a link there is
 *      refused as above, when an existing file there may not be written by this process
 *      (POSIX: its effective IDs; Windows: the read-only attribute), or when no file can be
 *      created: the old file is untouched;
 *   -2 when a write failed or was short, or the flush or the move failed: the old file is
 *      whole and this store's temporary is gone;
 *   -3 when ini_check_document refuses the document: nothing was created or changed.
 * Three cases are written in place, since no temporary beside the file can serve them: a
 * directory this process may not write (POSIX: access() with its effective IDs; Windows:
 * making the temporary there is denied) although the file in it may be written; a file
 * mounted over its name (a bind mount, which a move cannot replace); and a path that names a
 * device or FIFO directly. The first two get the whole new text in a private temporary
 * first (the first in the system's temporary directory), then room for it reserved in the
 * file, then the text copied over the file's own: a full disk or a quota gives -2 with the
 * old file whole. Only a failed write after that, or one where the file system cannot
 * reserve room, and a device or FIFO, leave the file holding a part of the output with -2.
 * A process killed in the middle of a store may leave its named temporary behind,
 * recognised by its name; it is never touched again. Storing never fails for lack of
 * memory, and needs little stack. */
int ini_store_file(const IniDocument *document, const char *path);

/* The bytes ini_store_file would write for the document, in a new heap block owned by the
 * caller and released with ini_free_memory. `*size` receives their number; a NUL follows
 * them (not counted), so the block can also be used as a string. NULL, with `*size` 0,
 * when `document` is NULL, when ini_check_document refuses it, or when memory runs out. */
char *ini_store_memory(const IniDocument *document, size_t *size);

/* Releases a block returned by ini_store_memory or ini_store_edits_memory. NULL: does
 * nothing. */
void ini_free_memory(char *bytes);

/* Editing a file people wrote: a document that keeps the text it was loaded from, and a
 * store that writes only its changes into that text. Every line no change concerns stays
 * byte for byte: comments, blank lines, spacing, escapes, continuation lines, CR LF or LF
 * line ends, a last line without a line feed.
 *
 * ini_load_file_for_editing and ini_load_memory_for_editing load as ini_load_file_report
 * and ini_load_memory do, with the same results, and keep the text too (the document costs
 * about the file's size more); the file must be a regular file (a FIFO or a device gives
 * INI_CANNOT_OPEN at once, without waiting for a writer). ini_store_edits then writes:
 *   - an entry whose value did not change (compared as text), as its lines were;
 *   - an entry with a new value as one line: the text before the value (key, spaces, '=',
 *     spaces), the value escaped as ini_store_file escapes it, and a comment that followed
 *     the value on its last line with the spaces before it, then its line end;
 *   - an entry added to a loaded section on a line of its own, "key=value", after the last
 *     entry line the section had in the file, with the file's line end (CR LF when its
 *     first line ends so, else LF), in position order;
 *   - a section the operations made, with its entries, before the loaded section that
 *     follows it in the document, or after the end of the file when none does;
 *   - nothing of a removed entry: all its physical lines go, the comment and blank lines
 *     around it stay;
 *   - nothing of a removed section from its header to the end of its last entry line,
 *     comment and blank lines between them included; those after its last entry stay, as
 *     they may introduce what follows. A section that ini_add_section put in the place of a
 *     loaded one is a removed one and a new one, written where the next loaded one begins.
 * So the stored file reads as the document: its sections and their entries come in the
 * document's order, and every lookup finds in the file what it finds in the document.
 * For that, removing a section or an entry from a document that keeps its text moves the
 * ones after it up by one position, keeping their order, instead of moving the last one
 * into the gap as the other documents do. */
IniDocument *ini_load_file_for_editing(const char *path, IniLoadReport *report);
IniDocument *ini_load_memory_for_editing(const void *bytes, size_t size, IniLoadReport *report);

/* ini_load_file_for_editing, holding the file's edit lock (see ini_store_edits) from before
 * the read until ini_store_edits has put this document's next file in place, or until the
 * document is released: no other store of edits of the file comes between this load and
 * that store, so the store never finds another's change from one that locks. For a program
 * that loads, changes and stores at once, such as a command-line editor; one that keeps a
 * document open for long should not hold the lock meanwhile. INI_BUSY when another held the
 * lock past the wait. */
IniDocument *ini_load_file_for_editing_locked(const char *path, IniLoadReport *report);

/* Writes the document's changes into the text it was loaded from (see above), and replaces
 * the file at `path` as ini_store_file does, whole and safely. The document records which
 * file it came from (POSIX: its device and inode; Windows: its volume and file index), and
 * where: a store to the same place, however the path is spelled (relative, absolute, through
 * links), or to the same file under another name, is a store back to it, and it must be
 * the file loaded, holding what it held when loaded or when this document last stored it;
 * a store to any other file writes it as ini_store_file would. After each successful store,
 * the file stored is the document's file. A store back to it of the very bytes it holds
 * leaves it as it is (the same file, its times untouched) and gives 0.
 *
 * A store of edits holds the file's edit lock from its check until its new file is in place:
 * an advisory lock (POSIX: flock; Windows: LockFileEx on a byte far beyond the end of any
 * file, so no read is hindered) that every store of edits and every locked load takes, so
 * that no two stores of one file overlap and none undoes another's edit. Another program
 * that does not lock, such as a text editor, is caught by the check up to the moment the
 * new file moves into place, not after. The wait for another's lock lasts at most 5 seconds;
 * whoever may read the file can delay a store by that much, and no more.
 *
 * The document is changed by the store (its record of the file), so two threads may not
 * store one document at once, as for any other change.
 *
 * Returns ini_store_file's results, -3 when a changed value, a new entry or a new section's
 * name is one the format cannot carry, or would not give back as given: besides what
 * ini_check_document refuses, a changed or new value with a space at either end or a CR,
 * which reading drops (what the file had is written as it was), and
 *   -4 when the store goes back to the document's file and that file was changed, replaced
 *      or removed by another program since it was loaded or last stored; or, for a document
 *      with no file of its own (new, or from the other loaders, which is written whole as
 *      ini_store_file writes it, and only where no file is yet), when a file is there.
 *      Nothing was written: load it again to edit it.
 *   -5 when another program held the file's edit lock for the whole wait. Nothing was
 *      written.
 * Where the file is written in place (see ini_store_file), the check comes before its first
 * byte changes, and room for the new text is reserved first, so a full disk or a quota
 * gives -2 with the old file whole; only where the file system cannot reserve room can a
 * failed write in place leave the file cut short. */
int ini_store_edits(IniDocument *document, const char *path);

/* ini_check_document for what ini_store_edits would write: 0, -1 for a NULL document, or
 * -3 with `*report` (which may be NULL) naming the first section and entry at fault: a
 * changed value, a new entry, or the name of a new section, by the rules of
 * ini_check_document and, for values, also a space at either end or a CR. What stays as the
 * file had it is no fault. A document not loaded for editing is all new. */
int ini_check_edits(const IniDocument *document, IniCheckReport *report);

/* The bytes ini_store_edits would write, as ini_store_memory gives them; NULL for -3. Only
 * reads the document: threads may call it, and ini_check_edits, at once on one document. */
char *ini_store_edits_memory(const IniDocument *document, size_t *size);

#ifdef __cplusplus
}
#endif

#endif /* INI_INI_H_ */
