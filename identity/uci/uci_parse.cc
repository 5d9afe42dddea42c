// SPDX-License-Identifier: MIT
// The reader of UCI config text.
//
// A file is a sequence of lines of commands, read as libuci reads them:
//   package <name>                 (accepted and ignored: the file names the package)
//   config <type> [<name>]         opens a named or an anonymous section
//   option <name> [<value>]        sets a string option of the open section
//   list <name> <value>            appends an item to a list option
// Keywords may be cut to their first letter. '#' starts a comment that runs
// to the end of the line. An argument is made of unquoted, 'single-quoted'
// and "double-quoted" parts written side by side; quoted parts may span
// lines. Outside single quotes a backslash takes the next character as it
// stands, and a backslash at the end of a line joins the next line.
// Several commands share a line where a ';' separates them; a ';' right
// after an argument written without quotes or backslashes ends the line
// instead (see take_string).

#include <cstdlib>
#include <cstring>

#include "lib/c_guards.h"
#include "uci_store.h"

namespace uci_store {

namespace {

struct parser {
  uci_context *ctx;
  uci_package *package;
  uci_section *section;  // the section that option and list lines go to

  const char *text;
  size_t length;
  size_t pos;
  size_t line_end;    // where the line being read ends for the parser
  size_t next_line;   // where the next line of the text starts
  size_t arg_end;     // where the last argument read ended
  int line;           // 1-based line of pos
  size_t line_start;  // offset of that line's first byte

  // The decoded arguments of the current command, each with its NUL.
  heap_ptr<char> args;
  size_t args_used;
  size_t args_capacity;

  int sections;
  int entries;
};

int parse_error(parser *p, const char *reason) {
  return fail_parse(p->ctx, reason, p->line, p->pos - p->line_start);
}

// Rejects what a config text may not hold: control bytes other than tab,
// carriage return and newline (a NUL among them), and lines longer than
// the bound. Bytes 0x80 to 0xFF pass (UTF-8 values).
int check_bytes(parser *p) {
  for (size_t i = 0; i < p->length; ++i) {
    unsigned char c = static_cast<unsigned char>(p->text[i]);
    if (c == '\n') {
      ++p->line;
      p->line_start = i + 1;
      continue;
    }
    if (i - p->line_start >= LINE_BYTES_MAX) {
      p->pos = i;
      return parse_error(p, "line too long");
    }
    if (c < 0x20 && c != '\t' && c != '\r') {
      p->pos = i;
      return parse_error(p, "invalid character");
    }
  }
  p->line = 1;
  p->line_start = 0;
  return UCI_OK;
}

int append(parser *p, char c) {
  if (p->args_used >= LINE_BYTES_MAX) return parse_error(p, "line too long");
  if (p->args_used == p->args_capacity) {
    size_t capacity = p->args_capacity == 0 ? 256 : p->args_capacity * 2;
    if (capacity > LINE_BYTES_MAX) capacity = LINE_BYTES_MAX;
    char *grown = static_cast<char *>(realloc(p->args.get(), capacity));
    if (grown == nullptr) return fail(p->ctx, UCI_ERR_MEM);
    (void)p->args.release();
    p->args.reset(grown);
    p->args_capacity = capacity;
  }
  p->args.get()[p->args_used++] = c;
  return UCI_OK;
}

// The byte at pos while it belongs to the line being read, else NUL:
// libuci reads a line (with its line end) into a buffer and stops at the
// buffer's end, which a ';' or '#' that cuts the line moves forward.
char current(const parser *p) {
  return p->pos < p->line_end ? p->text[p->pos] : '\0';
}

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

void skip_spaces(parser *p) {
  while (current(p) != '\0' && is_space(current(p))) ++p->pos;
}

// Makes the next line of the text (from next_line through its line end)
// the one being read. False at the end of the text.
bool read_line(parser *p) {
  if (p->next_line >= p->length) return false;
  p->pos = p->next_line;
  p->line_start = p->next_line;
  ++p->line;
  const void *newline = memchr(p->text + p->pos, '\n', p->length - p->pos);
  p->next_line = newline != nullptr
                     ? static_cast<size_t>(static_cast<const char *>(newline) - p->text) + 1
                     : p->length;
  p->line_end = p->next_line;
  return true;
}

// A value that runs on over a line end: the next line continues the one
// being read at pos (libuci reads it into its buffer there).
void continue_line(parser *p) {
  p->pos = p->next_line;
  if (!read_line(p)) p->line_end = p->pos;
}

// After a backslash outside single quotes: true when the next character is
// to be taken as it stands; false when the backslash ended the line, which
// then goes on with the next one.
bool take_backslash(parser *p) {
  ++p->pos;
  const char c = current(p);
  const bool line_ends = c == '\0' || c == '\n' ||
                         (c == '\r' && p->pos + 2 == p->line_end && p->text[p->pos + 1] == '\n');
  if (!line_ends) return true;
  continue_line(p);
  return false;
}

int take_char(parser *p) {
  const int status = append(p, current(p));
  ++p->pos;
  return status;
}

int take_quoted(parser *p, char quote) {
  ++p->pos;
  for (;;) {
    const char c = current(p);
    if (c == quote) {
      ++p->pos;
      return UCI_OK;
    }
    if (c == '\0') {
      // A quoted value goes on over the line end.
      continue_line(p);
      if (current(p) == '\0')
        return parse_error(p,
                           quote == '"' ? "EOF with unterminated \"" : "EOF with unterminated '");
      continue;
    }
    if (c == '\\' && quote == '"' && !take_backslash(p)) continue;
    const int status = take_char(p);
    if (status != UCI_OK) return status;
  }
}

// Decodes one argument made of unquoted, quoted and escaped parts into
// p->args. It ends at a space (which it consumes), at the end of the line,
// at '#' (the rest of the line is a comment) or at ';'. A ';' right after
// an argument read as it stands (no quote or backslash in it) ends the line
// too: libuci writes the argument's terminating NUL over it, so the rest of
// that line is never read. After quotes or backslashes the ';' stays, and
// separates the next command.
int take_string(parser *p) {
  const size_t first = p->pos;
  const size_t first_used = p->args_used;
  bool at_semicolon = false;
  do {
    const char c = current(p);
    int status = UCI_OK;
    if (c == '\'' || c == '"') {
      status = take_quoted(p, c);
    } else if (c == '#') {
      p->line_end = p->pos;
      break;
    } else if (c == '\0') {
      break;
    } else if (c == ';') {
      at_semicolon = true;
      break;
    } else if (c == '\\' && !take_backslash(p)) {
      continue;
    } else {
      status = take_char(p);
    }
    if (status != UCI_OK) return status;
  } while (current(p) != '\0' && !is_space(current(p)));

  p->arg_end = p->pos;
  if (current(p) != '\0' && !at_semicolon) ++p->pos;
  if (at_semicolon && p->pos - first == p->args_used - first_used) p->line_end = p->pos;
  return append(p, '\0');
}

// The next argument of the command into p->args, its start in *offset. A
// ';' in its place is consumed and reads as an empty argument, as does a
// missing one; a missing required one is an error.
int next_arg(parser *p, bool required, size_t *offset) {
  skip_spaces(p);
  *offset = p->args_used;
  int status = UCI_OK;
  if (current(p) == ';') {
    ++p->pos;
    status = append(p, '\0');
  } else {
    status = take_string(p);
  }
  if (status != UCI_OK) return status;
  if (required && p->args.get()[*offset] == '\0') return parse_error(p, "insufficient arguments");
  return UCI_OK;
}

// After a command's own arguments only an empty one (or a ';') may follow.
int assert_end(parser *p) {
  size_t offset = 0;
  const int status = next_arg(p, false, &offset);
  if (status != UCI_OK) return status;
  if (p->args.get()[offset] != '\0') {
    p->pos = p->arg_end;  // reported where the extra argument ends
    return parse_error(p, "too many arguments");
  }
  return UCI_OK;
}

int count_entry(parser *p) {
  if (++p->entries > ENTRIES_MAX) return parse_error(p, "too many entries");
  return UCI_OK;
}

int parse_package(parser *p) {
  size_t name = 0;
  const int status = next_arg(p, true, &name);
  if (status != UCI_OK) return status;
  if (!valid_package_name(p->args.get() + name))
    return parse_error(p, "invalid character in name field");
  return assert_end(p);
}

int parse_config(parser *p) {
  size_t type_offset = 0;
  size_t name_offset = 0;
  int status = next_arg(p, true, &type_offset);
  if (status != UCI_OK) return status;
  if (!valid_type(p->args.get() + type_offset))
    return parse_error(p, "invalid character in type field");
  if ((status = next_arg(p, false, &name_offset)) != UCI_OK) return status;
  if (p->args.get()[name_offset] != '\0' && !valid_name(p->args.get() + name_offset))
    return parse_error(p, "invalid character in name field");
  if ((status = assert_end(p)) != UCI_OK) return status;
  if ((status = count_entry(p)) != UCI_OK) return status;

  // Pointers only now: the buffer may have moved while it grew.
  const char *type = p->args.get() + type_offset;
  const char *name = p->args.get() + name_offset;
  if (*name != '\0') {
    // A second section of the same name adds to the first one.
    uci_section *known = section_find(p->package, name);
    if (known != nullptr) {
      if (strcmp(known->type, type) != 0)
        return parse_error(p, "section of different type overwrites prior section with same name");
      p->section = known;
      return UCI_OK;
    }
  }
  if (++p->sections > SECTIONS_MAX) return parse_error(p, "too many sections");
  p->section = section_add(p->package, type, name);
  if (p->section == nullptr) return fail(p->ctx, UCI_ERR_MEM);
  return UCI_OK;
}

int parse_option(parser *p, bool list) {
  size_t name_offset = 0;
  size_t value_offset = 0;
  int status = next_arg(p, true, &name_offset);
  if (status != UCI_OK) return status;
  if (!valid_name(p->args.get() + name_offset))
    return parse_error(p, "invalid character in name field");
  if ((status = next_arg(p, false, &value_offset)) != UCI_OK) return status;
  if ((status = assert_end(p)) != UCI_OK) return status;
  if ((status = count_entry(p)) != UCI_OK) return status;

  const char *name = p->args.get() + name_offset;
  const char *value = p->args.get() + value_offset;
  int options = 0;
  uci_option *old = option_find(p->section, name, &options);
  if (old == nullptr && options >= OPTIONS_MAX) return parse_error(p, "too many options");
  if (list)
    status = option_add_item(p->section, old, name, value);
  else if (*value != '\0')
    status = option_set(p->section, old, name, value);
  // An option line with an empty value changes nothing, as in libuci.
  return status == UCI_OK ? UCI_OK : fail(p->ctx, status);
}

// libuci's keywords: the whole word or its first letter.
bool keyword_is(const char *word, size_t length, const char *keyword) {
  return word[0] == keyword[0] &&
         (length == 1 || (length == strlen(keyword) && memcmp(word, keyword, length) == 0));
}

// One line, which may hold several commands. A command word is split off
// at spaces and tabs only, so a line end or a ';' stays part of it; after a
// command the line goes on only where a ';' separated the next one.
int parse_line(parser *p) {
  skip_spaces(p);
  for (;;) {
    while (current(p) == ' ' || current(p) == '\t') ++p->pos;
    if (current(p) == '\0' || current(p) == '#') return UCI_OK;
    const size_t word_start = p->pos;
    while (current(p) != '\0' && current(p) != ' ' && current(p) != '\t') ++p->pos;
    const char *word = p->text + word_start;
    const size_t length = p->pos - word_start;
    // Only a word at the very end of the text ends without a space, tab or
    // line end after it: then it has no arguments.
    const bool alone = current(p) == '\0';
    if (!alone) ++p->pos;
    p->args_used = 0;

    int status = UCI_OK;
    if (keyword_is(word, length, "package")) {
      status = alone ? parse_error(p, "package without name") : parse_package(p);
    } else if (keyword_is(word, length, "config")) {
      status = alone ? parse_error(p, "config without name") : parse_config(p);
    } else if (keyword_is(word, length, "option") || keyword_is(word, length, "list")) {
      if (p->section == nullptr)
        status = parse_error(p, "option/list command found before the first section");
      else if (alone)
        status = parse_error(p, "option without name");
      else
        status = parse_option(p, word[0] == 'l');
    } else {
      p->pos = word_start;
      status = parse_error(p, "invalid command");
    }
    if (status != UCI_OK) return status;
  }
}

}  // namespace

int package_parse(uci_context *ctx, uci_package *package, const char *text, size_t length) {
  parser p{};
  p.ctx = ctx;
  p.package = package;
  p.text = text;
  p.length = length;
  p.line = 1;

  int status = check_bytes(&p);
  p.line = 0;
  while (status == UCI_OK && read_line(&p)) status = parse_line(&p);
  return status;
}

}  // namespace uci_store
