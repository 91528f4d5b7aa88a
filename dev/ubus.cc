// Stand-in for the appliance's `ubus` command line, for tests and the demo.
//
// Like the appliance's, it parses the message argument of a call as JSON and
// wants an object; raw control characters inside strings pass, as they do in
// the appliance's lenient parser. Anything else is refused with "Failed to
// parse message data" on standard error and exit status 255, and nothing is
// recorded.
//
// Every accepted call appends one line to $ALERTMILL_ROOT/ubus.log: the
// arguments joined by single spaces, with backslash, line feed, carriage
// return and tab written as \\, \n, \r and \t so that one call is always one
// line. A call that reaches its service (below) also appends the parsed
// message to $ALERTMILL_ROOT/ubus.messages: object and method, then for each
// member a tab, its key, a tab and its value (strings decoded, anything else
// as written), each escaped the same way.
//
// Methods named on a line of $ALERTMILL_ROOT/ubus.fail fail as the
// appliance's do when their service is missing: "Command failed: Not found"
// on standard error, exit status 4. A line "<method> <K>" of
// $ALERTMILL_ROOT/ubus.fail_first makes the first K calls of that method fail
// so, as a busy service would (the calls are counted in
// $ALERTMILL_ROOT/ubus.calls.<method>). Methods named in
// $ALERTMILL_ROOT/ubus.hang sleep for two minutes first, as a hung service
// would hold the caller.
//
// Answers:
//   call zelk_system get ...  the content of $ALERTMILL_ROOT/ubus.zelk_system
//                             when that file exists, else a reply that names
//                             "http" on its first line;
//   call zelk_other sendsms   first appends the content of the SMS file named
//                             by the "file" member (looked up in the
//                             sandbox's /tmp) to $ALERTMILL_ROOT/sms.log, one
//                             escaped line per call ("-" when the file is
//                             missing); then prints $ALERTMILL_ROOT/sendsms.reply
//                             when that file exists, else {"result":"ok"};
//   anything else             nothing.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr unsigned kHangSeconds = 120;
constexpr int kNotFound = 4;
constexpr int kParseFailure = 255;

std::string sandbox_file(const char *name) {
  const char *root = std::getenv("ALERTMILL_ROOT");
  if (root == nullptr || *root == '\0') return {};
  return std::string(root) + "/" + name;
}

std::string escape(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// One write of the whole line to an O_APPEND descriptor, so calls that run
// at the same time never interleave inside a line.
void append_line(const std::string &path, const std::string &line) {
  if (path.empty()) return;
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string whole = line + "\n";
  ssize_t ignored = write(fd, whole.data(), whole.size());
  (void)ignored;
  close(fd);
}

bool read_file(const std::string &path, std::string *content) {
  if (path.empty()) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *content = buffer.str();
  return true;
}

// True when a line of the sandbox file is exactly word.
bool listed(const char *file, const char *word) {
  std::string content;
  if (!read_file(sandbox_file(file), &content)) return false;
  std::istringstream lines(content);
  for (std::string line; std::getline(lines, line);) {
    if (line == word) return true;
  }
  return false;
}

// True while the calls of method so far, this one included, are at most the
// K of its line in ubus.fail_first. Calls of one method never overlap (one
// channel makes them, one at a time), so the count needs no lock.
bool failing_first(const char *method) {
  std::string content;
  if (!read_file(sandbox_file("ubus.fail_first"), &content)) return false;
  std::istringstream lines(content);
  std::string name;
  long first = 0;
  while (lines >> name >> first && name != method) {
  }
  if (name != method) return false;
  std::string counter = sandbox_file("ubus.calls.") + method, count_text;
  long calls = read_file(counter, &count_text) ? std::atol(count_text.c_str()) + 1 : 1;
  std::ofstream(counter, std::ios::trunc) << calls;
  return calls <= first;
}

using Members = std::vector<std::pair<std::string, std::string>>;

// JSON as the appliance's parser takes it: standard, except that control
// characters may stand raw inside strings.
class Parser {
 public:
  explicit Parser(const std::string &text) : text_(text) {}

  // The members of the one object the text holds.
  bool object(Members *members) {
    skip_blanks();
    if (!peek('{') || !object_value(members)) return false;
    skip_blanks();
    return at_ == text_.size();
  }

 private:
  bool peek(char c) const { return at_ < text_.size() && text_[at_] == c; }
  bool take(char c) {
    skip_blanks();
    if (!peek(c)) return false;
    ++at_;
    return true;
  }
  void skip_blanks() {
    while (peek(' ') || peek('\t') || peek('\r') || peek('\n')) ++at_;
  }

  bool object_value(Members *members) {
    if (!take('{')) return false;
    if (take('}')) return true;
    do {
      std::string key, value;
      skip_blanks();
      if (!string_value(&key) || !take(':') || !value_text(&value)) return false;
      if (members != nullptr) members->emplace_back(key, value);
    } while (take(','));
    return take('}');
  }

  bool array_value() {
    if (!take('[')) return false;
    if (take(']')) return true;
    do {
      std::string ignored;
      if (!value_text(&ignored)) return false;
    } while (take(','));
    return take(']');
  }

  // Any value; a string decoded, anything else as written.
  bool value_text(std::string *out) {
    skip_blanks();
    size_t start = at_;
    if (peek('"')) return string_value(out);
    bool ok = peek('{')   ? object_value(nullptr)
              : peek('[') ? array_value()
                          : literal("true") || literal("false") || literal("null") || number();
    if (ok) *out = text_.substr(start, at_ - start);
    return ok;
  }

  bool literal(const char *word) {
    size_t length = std::strlen(word);
    if (text_.compare(at_, length, word) != 0) return false;
    at_ += length;
    return true;
  }

  bool digits() {
    size_t start = at_;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
    return at_ > start;
  }

  bool number() {
    if (peek('-')) ++at_;
    if (peek('0')) {
      ++at_;
    } else if (!digits()) {
      return false;
    }
    if (peek('.')) {
      ++at_;
      if (!digits()) return false;
    }
    if (peek('e') || peek('E')) {
      ++at_;
      if (peek('+') || peek('-')) ++at_;
      if (!digits()) return false;
    }
    return true;
  }

  bool hex4(unsigned *code) {
    if (at_ + 4 > text_.size()) return false;
    *code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text_[at_++];
      unsigned digit = c >= '0' && c <= '9'   ? c - '0'
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                              : 16;
      if (digit == 16) return false;
      *code = *code * 16 + digit;
    }
    return true;
  }

  static void put_utf8(unsigned code, std::string *out) {
    if (code < 0x80) {
      *out += static_cast<char>(code);
    } else if (code < 0x800) {
      *out += static_cast<char>(0xC0 | code >> 6);
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      *out += static_cast<char>(0xE0 | code >> 12);
      *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      *out += static_cast<char>(0xF0 | code >> 18);
      *out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      *out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      *out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool string_value(std::string *out) {
    if (!peek('"')) return false;
    ++at_;
    out->clear();
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c == '"') return true;
      if (c != '\\') {
        *out += c;
        continue;
      }
      if (at_ == text_.size()) return false;
      char escaped = text_[at_++];
      const char *from = "\"\\/bfnrt";
      const char *to = "\"\\/\b\f\n\r\t";
      if (const char *known = std::strchr(from, escaped); known != nullptr && escaped != '\0') {
        *out += to[known - from];
        continue;
      }
      unsigned code = 0;
      if (escaped != 'u' || !hex4(&code)) return false;
      if (code >= 0xD800 && code < 0xDC00) {
        unsigned low = 0;
        if (!literal("\\u") || !hex4(&low) || low < 0xDC00 || low >= 0xE000) return false;
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      }
      put_utf8(code, out);
    }
    return false;
  }

  const std::string &text_;
  size_t at_ = 0;
};

void record_sms_file(const Members &members) {
  std::string name;
  for (const auto &[key, value] : members) {
    if (key == "file") name = value;
  }
  std::string content;
  bool found = name.find('/') == std::string::npos && !name.empty() &&
               read_file(sandbox_file("tmp") + "/" + name, &content);
  append_line(sandbox_file("sms.log"), found ? escape(content) : "-");
}

}  // namespace

int main(int argc, char **argv) {
  auto is = [&](int index, const char *word) {
    return index < argc && std::strcmp(argv[index], word) == 0;
  };
  Members members;
  if (is(1, "call") && argc > 4 && !Parser(argv[4]).object(&members)) {
    std::fputs("Failed to parse message data\n", stderr);
    return kParseFailure;
  }

  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += escape(argv[i]);
  }
  append_line(sandbox_file("ubus.log"), line);
  if (!is(1, "call") || argc < 4) return 0;

  if (listed("ubus.hang", argv[3])) sleep(kHangSeconds);
  if (listed("ubus.fail", argv[3]) || failing_first(argv[3])) {
    std::fputs("Command failed: Not found\n", stderr);
    return kNotFound;
  }
  std::string message = escape(argv[2]) + " " + escape(argv[3]);
  for (const auto &[key, value] : members) message += "\t" + escape(key) + "\t" + escape(value);
  append_line(sandbox_file("ubus.messages"), message);

  std::string reply;
  if (is(2, "zelk_system") && is(3, "get")) {
    if (!read_file(sandbox_file("ubus.zelk_system"), &reply)) {
      reply = "{\"web\":\"http https\",\"remote\":\"ssh\"}\n";
    }
  } else if (is(2, "zelk_other") && is(3, "sendsms")) {
    record_sms_file(members);
    if (!read_file(sandbox_file("sendsms.reply"), &reply)) reply = "{\"result\":\"ok\"}\n";
  }
  std::fwrite(reply.data(), 1, reply.size(), stdout);
  return 0;
}
