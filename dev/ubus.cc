// Stand-in for the appliance's `ubus` command line, for tests and the demo.
//
// Every call appends one line to $ALERTMILL_ROOT/ubus.log: the arguments
// joined by single spaces, with backslash, line feed, carriage return and tab
// written as \\, \n, \r and \t so that one call is always one line.
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
// The exit status is always 0.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

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

// The value of "key":"value" inside a JSON text, without unescaping.
std::string json_string_member(const std::string &json, const std::string &key) {
  std::string pattern = "\"" + key + "\":\"";
  size_t start = json.find(pattern);
  if (start == std::string::npos) return {};
  start += pattern.size();
  size_t end = json.find('"', start);
  if (end == std::string::npos) return {};
  return json.substr(start, end - start);
}

void record_sms_file(const std::string &json) {
  std::string name = json_string_member(json, "file");
  std::string content;
  bool found = name.find('/') == std::string::npos && !name.empty() &&
               read_file(sandbox_file("tmp") + "/" + name, &content);
  append_line(sandbox_file("sms.log"), found ? escape(content) : "-");
}

}  // namespace

int main(int argc, char **argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += escape(argv[i]);
  }
  append_line(sandbox_file("ubus.log"), line);

  auto is = [&](int index, const char *word) {
    return index < argc && std::strcmp(argv[index], word) == 0;
  };
  if (!is(1, "call")) return 0;

  std::string reply;
  if (is(2, "zelk_system") && is(3, "get")) {
    if (!read_file(sandbox_file("ubus.zelk_system"), &reply)) {
      reply = "{\"web\":\"http https\",\"remote\":\"ssh\"}\n";
    }
  } else if (is(2, "zelk_other") && is(3, "sendsms")) {
    record_sms_file(argc > 4 ? argv[4] : "");
    if (!read_file(sandbox_file("sendsms.reply"), &reply)) reply = "{\"result\":\"ok\"}\n";
  }
  std::fwrite(reply.data(), 1, reply.size(), stdout);
  return 0;
}
