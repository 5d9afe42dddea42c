// The reader of UCI config text.
//
// A file is a sequence of commands, one per line or separated by ';':
//   package <name>                 (accepted and ignored: the file names the package)
//   config <type> [<name>]         opens a named or an anonymous section
//   option <name> [<value>]        sets a string option of the open section
//   list <name> <value>            appends an item to a list option
// Keywords may be cut to their first letter. '#' starts a comment that runs
// to the end of the line. An argument is made of unquoted, 'single-quoted'
// and "double-quoted" parts written side by side; quoted parts may span
// lines. Outside single quotes a backslash takes the next character as it
// stands, and a backslash at the end of a line joins the next line.

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

bool at_end(const parser *p) {
  return p->pos >= p->length;
}
char peek(const parser *p) {
  return p->text[p->pos];
}

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

void skip_blanks(parser *p) {
  while (!at_end(p) && is_blank(peek(p))) ++p->pos;
}

void take_newline(parser *p) {
  ++p->pos;
  ++p->line;
  p->line_start = p->pos;
}

void skip_comment(parser *p) {
  while (!at_end(p) && peek(p) != '\n') ++p->pos;
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

// After a backslash outside single quotes: a line end joins the next line,
// any other character counts as it stands. A backslash at the very end of
// the text is dropped.
int take_escape(parser *p) {
  ++p->pos;
  if (at_end(p)) return UCI_OK;
  if (peek(p) == '\n') {
    take_newline(p);
    return UCI_OK;
  }
  if (peek(p) == '\r' && p->pos + 1 < p->length && p->text[p->pos + 1] == '\n') {
    ++p->pos;
    take_newline(p);
    return UCI_OK;
  }
  int status = append(p, peek(p));
  ++p->pos;
  return status;
}

int take_quoted(parser *p, char quote) {
  ++p->pos;
  for (;;) {
    if (at_end(p))
      return parse_error(p, quote == '"' ? "EOF with unterminated \"" : "EOF with unterminated '");
    char c = peek(p);
    int status = UCI_OK;
    if (c == quote) {
      ++p->pos;
      return UCI_OK;
    }
    if (c == '\\' && quote == '"') {
      status = take_escape(p);
    } else {
      status = append(p, c);
      if (c == '\n')
        take_newline(p);
      else
        ++p->pos;
    }
    if (status != UCI_OK) return status;
  }
}

// Decodes the next argument of the command into p->args; *offset receives
// where it starts. A missing argument reads as the empty text, as does an
// empty quoted one. Stops before a blank, a line end, ';' or '#'.
int take_arg(parser *p, size_t *offset) {
  skip_blanks(p);
  *offset = p->args_used;
  while (!at_end(p)) {
    char c = peek(p);
    int status = UCI_OK;
    if (c == '\'' || c == '"')
      status = take_quoted(p, c);
    else if (c == '\\')
      status = take_escape(p);
    else if (is_blank(c) || c == '\n' || c == ';' || c == '#')
      break;
    else {
      status = append(p, c);
      ++p->pos;
    }
    if (status != UCI_OK) return status;
  }
  return append(p, '\0');
}

// Up to two arguments, then nothing more before the end of the command.
int take_args(parser *p, int count, const char **first, const char **second) {
  size_t offsets[3] = {0, 0, 0};
  p->args_used = 0;
  for (int i = 0; i < count + 1; ++i) {
    int status = take_arg(p, &offsets[i]);
    if (status != UCI_OK) return status;
  }
  // Pointers only now: the buffer may have moved while it grew.
  const char *args = p->args.get();
  if (args[offsets[count]] != '\0') return parse_error(p, "too many arguments");
  *first = args + offsets[0];
  if (second != nullptr) *second = args + offsets[1];
  return UCI_OK;
}

int count_entry(parser *p) {
  if (++p->entries > ENTRIES_MAX) return parse_error(p, "too many entries");
  return UCI_OK;
}

int parse_package(parser *p) {
  const char *name = nullptr;
  int status = take_args(p, 1, &name, nullptr);
  if (status != UCI_OK) return status;
  if (*name == '\0') return parse_error(p, "insufficient arguments");
  if (!valid_package_name(name)) return parse_error(p, "invalid character in name field");
  return UCI_OK;
}

int parse_config(parser *p) {
  const char *type = nullptr;
  const char *name = nullptr;
  int status = take_args(p, 2, &type, &name);
  if (status != UCI_OK) return status;
  if (*type == '\0') return parse_error(p, "insufficient arguments");
  if (!valid_type(type)) return parse_error(p, "invalid character in type field");
  if (*name != '\0' && !valid_name(name)) return parse_error(p, "invalid character in name field");
  if ((status = count_entry(p)) != UCI_OK) return status;

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
  if (p->section == nullptr)
    return parse_error(p, "option/list command found before the first section");
  const char *name = nullptr;
  const char *value = nullptr;
  int status = take_args(p, 2, &name, &value);
  if (status != UCI_OK) return status;
  if (*name == '\0') return parse_error(p, "insufficient arguments");
  if (!valid_name(name)) return parse_error(p, "invalid character in name field");
  if ((status = count_entry(p)) != UCI_OK) return status;

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

bool keyword_is(const char *word, size_t length, const char *keyword) {
  return (length == 1 && word[0] == keyword[0]) ||
         (length == strlen(keyword) && memcmp(word, keyword, length) == 0);
}

int parse_command(parser *p) {
  const char *word = p->text + p->pos;
  size_t word_start = p->pos;
  while (!at_end(p) && !is_blank(peek(p)) && peek(p) != '\n') ++p->pos;
  size_t length = p->pos - word_start;

  if (keyword_is(word, length, "package")) return parse_package(p);
  if (keyword_is(word, length, "config")) return parse_config(p);
  if (keyword_is(word, length, "option")) return parse_option(p, false);
  if (keyword_is(word, length, "list")) return parse_option(p, true);
  p->pos = word_start;
  return parse_error(p, "invalid command");
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
  while (status == UCI_OK) {
    skip_blanks(&p);
    if (at_end(&p)) break;
    char c = peek(&p);
    if (c == '\n')
      take_newline(&p);
    else if (c == ';')
      ++p.pos;
    else if (c == '#')
      skip_comment(&p);
    else
      status = parse_command(&p);
  }
  return status;
}

}  // namespace uci_store
