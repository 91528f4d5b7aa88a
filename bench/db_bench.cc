// Event table operations per second on a database in a scratch root. Each
// operation takes the lock, opens the database, runs its statement and
// closes again, as on the appliance; writes pay SQLite's journal syncs on
// whatever file system TMPDIR (default /tmp) lives on.
//
// The operations trace every statement on stdout, so stdout goes to
// /dev/null and the figures are reported on stderr. items_per_second is
// operations per second of wall-clock time: writes mostly wait for the disk.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "db/core.h"
#include "db/db.h"
#include "utils/alloc.h"

namespace {

constexpr int kDefinitions = 64;

// A fresh ALERTMILL_ROOT with the event tables and kDefinitions event
// definitions; removed again at exit.
class ScratchRoot {
 public:
  ScratchRoot() {
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/alertmill-bench-XXXXXX";
    if (mkdtemp(&pattern[0]) == nullptr) {
      perror("mkdtemp");
      exit(1);
    }
    root_ = pattern;
    mkdir((root_ + "/etc").c_str(), 0755);
    mkdir((root_ + "/tmp").c_str(), 0755);
    setenv("ALERTMILL_ROOT", root_.c_str(), 1);
    EventListRow *rows = nullptr;
    int count = 0;
    event_tables_init(&rows, &count);
    utils_free(&rows);
    sqlite3 *connection = nullptr;
    db_open((root_ + "/etc/events.sqlite3").c_str(), &connection);
    std::string sql = "begin;";
    for (int i = 0; i < kDefinitions; ++i) {
      std::string id = std::to_string(4000 + i);
      sql +=
          "insert into eventlist (eventid,eventname,type,emailnotify,"
          "smsnotify,snmpnotify,subject,prompt,context_en) values('" +
          id + "','event " + id +
          "','system','yes','no','yes','Event ${eventid} on ${port}',"
          "'prompt','Port ${port} changed state at ${time}.');";
    }
    sql += "commit;";
    db_exec(connection, sql.c_str());
    db_close(connection);
  }
  ~ScratchRoot() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::string root_;
};

EventLogCacheRow pending_row() {
  EventLogCacheRow row{};
  snprintf(row.eventid, sizeof row.eventid, "4019");
  snprintf(row.context, sizeof row.context, "&eventid=4019&port=5&state=down&text=it's down&");
  snprintf(row.happentime, sizeof row.happentime, "2026-12-06 01:02:03");
  return row;
}

void BM_EventListGet(benchmark::State &state) {
  for (auto _ : state) {
    EventListRow *row = nullptr;
    int result = eventlist_get(&row, "4019");
    benchmark::DoNotOptimize(result);
    utils_free(&row);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventListGet)->UseRealTime();

void BM_EventLogCacheAdd(benchmark::State &state) {
  const EventLogCacheRow row = pending_row();
  for (auto _ : state) {
    char id[16];
    int result = eventlogcache_add(&row, id, sizeof id);
    benchmark::DoNotOptimize(result);
  }
  eventlogcache_clear();  // after the timed loop
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventLogCacheAdd)->UseRealTime();

// Deletes rows inserted beforehand in batches, outside the timing.
void BM_EventLogCacheDelete(benchmark::State &state) {
  constexpr int kBatch = 256;
  const EventLogCacheRow row = pending_row();
  char ids[kBatch][16];
  int left = 0;
  for (auto _ : state) {
    if (left == 0) {
      state.PauseTiming();
      for (left = 0; left < kBatch; ++left) {
        eventlogcache_add(&row, ids[left], sizeof ids[left]);
      }
      state.ResumeTiming();
    }
    int result = eventlogcache_delete(ids[--left]);
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EventLogCacheDelete)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (freopen("/dev/null", "w", stdout) == nullptr) return 1;
  ScratchRoot root;
  benchmark::ConsoleReporter reporter(benchmark::ConsoleReporter::OO_Tabular);
  reporter.SetOutputStream(&std::cerr);
  reporter.SetErrorStream(&std::cerr);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
