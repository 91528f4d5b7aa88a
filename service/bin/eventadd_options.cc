#include "service/bin/eventadd_options.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "db/db.h"
#include "utils/utils.h"

namespace {

constexpr char kPendingFields[] =
    "Lines of --pending: ten fields, separated by one tab each, on every line.\n"
    "  1 id        the pending event's number (the sqlid of its request)\n"
    "  2 eventid   the event number\n"
    "  3 happened  when it was raised, YYYY-MM-DD HH:MM:SS\n"
    "  4 state     waiting                an enabled channel has not delivered yet\n"
    "              finishing              every enabled channel has; the row goes\n"
    "                                     once the other channels have reported\n"
    "              discard:no-definition  the event has no definition: the daemon\n"
    "                                     drops it, unsent, at its next start\n"
    "              discard:no-channel     the definition enables no channel: the\n"
    "                                     daemon drops it at its next start\n"
    "  5 enabled   the channels the definition enables, of {channels}\n"
    "  6 done      the enabled channels that have delivered it (notifyflag)\n"
    "  7 waiting   the enabled channels that have not\n"
    "  8 name      the definition's name\n"
    "  9 subject   the definition's subject, placeholders not filled\n"
    " 10 text      the request text as raised\n"
    "On a terminal (or with COLUMNS set) a line is cut so that it fits, the\n"
    "earlier fields too when they alone are wider; whole with --wide or in a pipe.\n"
    "An empty field reads \"-\"; control characters in a field read \\t, \\n, \\r\n"
    "or \\xHH. Tabs, not padded columns: names, subjects and texts vary in length\n"
    "and hold blanks, so padding would cut them or waste the width, while a single\n"
    "tab keeps every field whole for cut -f and awk -F '\\t'.\n"
    "With nothing pending the only line is \"no pending events\".\n"
    "Exit status 0; 1 when the database is missing or cannot be read.\n";

constexpr int kTabStop = 8;

std::string channel_list(int flags) {
  std::string list;
  for (int slot = 0; slot < catalogue_count(); ++slot) {
    if ((flags & catalogue_flag(slot)) == 0) continue;
    if (!list.empty()) list += ',';
    list += catalogue_entry(slot).word;
  }
  return list.empty() ? "-" : list;
}

// A listing line kept as the units a cut must not split: an escape, a
// character (an invalid byte counts as one), a tab.
struct Line {
  std::string text;
  std::vector<size_t> ends;
  void add(std::string_view unit) {
    text += unit;
    ends.push_back(text.size());
  }
};

// A value on one line: a tab or line end inside it would shift the fields of
// its row or split the row in two.
void add_field(Line *line, const char *value) {
  const size_t length = std::strlen(value);
  if (length == 0) line->add("-");
  for (size_t at = 0; at < length;) {
    const auto byte = static_cast<unsigned char>(value[at]);
    if (byte == '\t') {
      line->add("\\t");
    } else if (byte == '\n') {
      line->add("\\n");
    } else if (byte == '\r') {
      line->add("\\r");
    } else if (byte < 0x20 || byte == 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      line->add(escaped);
    } else {
      const size_t size = utils_utf8_char_bytes(value + at, length - at);
      line->add(std::string_view(value + at, size));
      at += size;
      continue;
    }
    ++at;
  }
}

// The terminal column after unit when it is written at column: a tab goes to
// the next stop, an escape takes its length, a character one.
size_t next_column(size_t column, std::string_view unit) {
  if (unit == "\t") return (column / kTabStop + 1) * kTabStop;
  return column + (static_cast<unsigned char>(unit[0]) < 0x80 ? unit.size() : 1);
}

// The line cut after its last unit that ends within width columns; the
// fixed fields too when they alone are wider.
std::string cut_to_width(const Line &line, size_t width) {
  size_t column = 0;
  size_t start = 0;
  for (size_t end : line.ends) {
    column = next_column(column, std::string_view(line.text).substr(start, end - start));
    if (column > width) return line.text.substr(0, start);
    start = end;
  }
  return line.text;
}

// Columns a line may take; 0 for no limit. COLUMNS wins over the terminal's
// own width, as with ls and ps; output to a file or pipe is not cut.
size_t output_width(bool wide) {
  if (wide) return 0;
  if (const char *columns = std::getenv("COLUMNS")) {
    errno = 0;
    char *end = nullptr;
    long value = std::strtol(columns, &end, 10);
    if (errno == 0 && end != columns && *end == '\0' && value > 0)
      return static_cast<size_t>(value);
  }
  winsize size{};
  if (isatty(STDOUT_FILENO) && ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 0;
}

const char *state_word(PendingState state) {
  switch (state) {
    case PendingState::kNoDefinition:
      return "discard:no-definition";
    case PendingState::kNoChannel:
      return "discard:no-channel";
    case PendingState::kWaiting:
      return "waiting";
    default:
      return "finishing";
  }
}

std::string line_of(const PendingReportRow &row, size_t width) {
  const bool defined = row.definition_id[0] != '\0';
  const int enabled = defined ? catalogue_enabled(row.switches) : 0;
  const int flags = pending_flags(row.notifyflag);
  const int done = enabled & flags;
  const std::string values[] = {
      row.id,
      row.eventid,
      row.happentime,
      state_word(pending_state(defined, enabled, flags, catalogue_mask())),
      channel_list(enabled),
      channel_list(done),
      channel_list(enabled & ~done),
      row.eventname,
      row.subject,
      row.context};
  Line line;
  for (const std::string &value : values) {
    if (&value != values) line.add("\t");
    add_field(&line, value.c_str());
  }
  return width > 0 ? cut_to_width(line, width) : line.text;
}

int list_pending(bool wide) {
  // Standard output is the listing: the database layer's traces stay out.
  db_set_stdout_traces(false);
  PendingReportRow *rows = nullptr;
  int count = 0;
  const int result = eventlogcache_get_report(&rows, &count);
  const std::string database = utils_path(paths::kEventsDb);
  if (result == -3) {
    std::puts("no pending events");
  } else if (result == -1 && utils_file_exists(database.c_str()) == 0) {
    std::fprintf(stderr, "eventadd: no events database at %s\n", database.c_str());
  } else if (result == -5) {
    std::fputs("eventadd: out of memory reading the pending events\n", stderr);
  } else if (result != 0) {
    std::fprintf(stderr, "eventadd: cannot read the pending events from %s\n", database.c_str());
  } else {
    const size_t width = output_width(wide);
    for (int i = 0; i < count; ++i) std::puts(line_of(rows[i], width).c_str());
  }
  utils_free(&rows);
  if (std::fflush(stdout) != 0) return 1;
  return result == 0 || result == -3 ? 0 : 1;
}

}  // namespace

std::string eventadd_pending_fields(void) {
  std::string words;
  for (int slot = 0; slot < catalogue_count(); ++slot) {
    words += (slot == 0 ? "" : ",") + std::string(catalogue_entry(slot).word);
  }
  std::string text = kPendingFields;
  return text.replace(text.find("{channels}"), std::strlen("{channels}"), words);
}

bool eventadd_pending_form(int argc, char **argv, int *status) {
  if (argc < 2 || argc > 3 || std::strcmp(argv[1], "--pending") != 0) return false;
  if (argc == 3 && std::strcmp(argv[2], "--wide") != 0) return false;
  *status = list_pending(argc == 3);
  return true;
}
