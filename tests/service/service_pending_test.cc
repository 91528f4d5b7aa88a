// eventadd --pending and --help through build/bin/eventadd: the line of a
// pending row in each state, the cut to the width, the empty table and a
// database that is missing or not one.
#include <gtest/gtest.h>

#include "tests/service/service_harness.h"

namespace {

using harness::count_of;
using harness::RunResult;
using harness::Sandbox;

class ServicePending : public ::testing::Test {
 protected:
  // Output is cut only on request: the suite may run from a terminal.
  void SetUp() override { unsetenv("COLUMNS"); }
  void TearDown() override { unsetenv("COLUMNS"); }

  RunResult pending(bool wide = false) {
    return box.eventadd(wide ? std::vector<std::string>{"--pending", "--wide"}
                             : std::vector<std::string>{"--pending"});
  }

  Sandbox box;
};

struct RowCase {
  int eventid;
  const char *context;
  const char *happentime;
  int notifyflag;
  const char *line;  // after the row's id
};

TEST_F(ServicePending, OneLinePerRowOldestFirstWithoutWriting) {
  // Definitions of the sandbox: 100 all channels, 101 e-mail only, 102 none.
  const RowCase rows[] = {
      {100, "port=3&state=down", "2024-03-05 07:08:09", 0,
       "\t100\t2024-03-05 07:08:09\twaiting\temail,sms,snmp\t-\temail,sms,snmp\tport\t"
       "Port ${port} ${state}\tport=3&state=down"},
      {100, "port=3&state=up", "2024-03-05 07:08:08", 3,
       "\t100\t2024-03-05 07:08:08\twaiting\temail,sms,snmp\temail,sms\tsnmp\tport\t"
       "Port ${port} ${state}\tport=3&state=up"},
      // The SNMP bit is not among the enabled channels.
      {101, "len=1", "2024-03-05 07:08:07", 5,
       "\t101\t2024-03-05 07:08:07\tfinishing\temail\temail\t-\tprobe\tlast=${last}\tlen=1"},
      {999, "a=1\tb\n", "2024-03-05 07:08:06", 1,
       "\t999\t2024-03-05 07:08:06\tdiscard:no-definition\t-\t-\t-\t-\t-\ta=1\\tb\\n"},
      {102, "", "2024-03-05 07:08:05", 0,
       "\t102\t2024-03-05 07:08:05\tdiscard:no-channel\t-\t-\t-\tsilent\tquiet\t-"},
  };
  std::string expected;
  for (const RowCase &row : rows) {
    expected += box.db().add_pending(row.eventid, row.context, row.happentime, row.notifyflag) +
                row.line + "\n";
  }
  const std::string before = box.read("etc/events.sqlite3");
  RunResult run = pending();
  EXPECT_EQ(run.exit.status, 0);
  EXPECT_EQ(run.out, expected);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(box.read("etc/events.sqlite3"), before);
}

TEST_F(ServicePending, TextCutToTheWidthUnlessWide) {
  std::string text = "len=";
  for (int i = 0; i < 20; ++i) text += "\u00e9";
  box.db().add_pending(101, text, "2024-03-05 07:08:09", 0);
  // The fields before the text end at column 96 with tab stops of 8.
  const std::string prefix =
      "1\t101\t2024-03-05 07:08:09\twaiting\temail\t-\temail\tprobe\tlast=${last}\t";
  setenv("COLUMNS", "108", 1);
  EXPECT_EQ(pending().out, prefix + text.substr(0, 4 + 8 * 2) + "\n");
  EXPECT_EQ(pending(true).out, prefix + text + "\n");
}

struct OutcomeCase {
  const char *name;
  const char *database;  // null: no file
  int status;
  const char *out;
  const char *err;  // followed by the database's path and a line end
};

TEST(ServicePendingOutcome, EmptyMissingOrUnreadable) {
  const OutcomeCase cases[] = {
      {"empty", "", 0, "no pending events\n", nullptr},
      {"missing", nullptr, 1, "", "eventadd: no events database at "},
      {"unreadable", "not a database", 1, "", "eventadd: cannot read the pending events from "},
  };
  for (const OutcomeCase &c : cases) {
    SCOPED_TRACE(c.name);
    Sandbox box;
    const std::string path = box.path("etc/events.sqlite3");
    if (c.database == nullptr) unlink(path.c_str());
    if (c.database != nullptr && *c.database != '\0') box.write("etc/events.sqlite3", c.database);
    RunResult run = box.eventadd({"--pending"});
    EXPECT_EQ(run.exit.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err != nullptr ? c.err + path + "\n" : "");
    EXPECT_EQ(box.has("etc/events.sqlite3"), c.database != nullptr);
  }
}

TEST_F(ServicePending, HelpNamesEveryFormWithAnExample) {
  RunResult run = box.eventadd({"--help"});
  EXPECT_EQ(run.exit.status, 0);
  for (const char *form :
       {"ID [TEXT]", "-t 'YYYY-MM-DD HH:MM:SS' ID TEXT", "--pending [--wide]", "--help"}) {
    EXPECT_NE(run.out.find(std::string("\neventadd ") + form + "\n"), std::string::npos) << form;
  }
  EXPECT_EQ(count_of(run.out, "    example: eventadd "), 4);
  EXPECT_NE(box.eventadd({"--pending", "--all"}).exit.status, 0);
}

}  // namespace
