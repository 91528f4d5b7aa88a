// utils_time_now_format against the C library on the same zone (the
// system's /etc/localtime). Ours stats the zone file at every call, so a
// replaced file is seen at the next call; localtime_r never looks again, and
// localtime with TZ unset is the C library's own way of noticing changes
// (it stats /etc/localtime at every call too).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "utils/utils.h"

namespace {

namespace fs = std::filesystem;

constexpr char kLocaltime[] = "/etc/localtime";
constexpr char kPattern[] = "%Y-%m-%d %H:%M:%S";

// A sandbox root whose etc/localtime is the system's zone. TZ names the same
// file when `set_tz`, else is unset.
class Sandbox {
 public:
  explicit Sandbox(bool set_tz) {
    char dir[] = "/tmp/alertmill_time_bench_XXXXXX";
    if (mkdtemp(dir) == nullptr) return;
    root_ = dir;
    fs::create_directories(root_ / "etc");
    std::error_code error;
    zone_ = fs::canonical(kLocaltime, error);
    if (error) return;
    fs::create_symlink(zone_, root_ / "etc/localtime", error);
    setenv("ALERTMILL_ROOT", root_.c_str(), 1);
    if (set_tz) {
      setenv("TZ", zone_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  bool ok() const { return fs::exists(root_ / "etc/localtime"); }

 private:
  fs::path root_;
  fs::path zone_;
};

void BM_UtilsTimeNowFormat(benchmark::State &state) {
  Sandbox sandbox(true);
  if (!sandbox.ok()) {
    state.SkipWithError("no /etc/localtime");
    return;
  }
  char buffer[64];
  for (auto _ : state) {
    utils_time_now_format(kPattern, buffer, sizeof buffer);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_UtilsTimeNowFormat);

void BM_LibcLocaltimeStrftime(benchmark::State &state) {
  Sandbox sandbox(true);
  if (!sandbox.ok()) {
    state.SkipWithError("no /etc/localtime");
    return;
  }
  char buffer[64];
  for (auto _ : state) {
    struct timeval now {};
    gettimeofday(&now, nullptr);
    const time_t seconds = now.tv_sec;
    struct tm tm {};
    localtime_r(&seconds, &tm);
    strftime(buffer, sizeof buffer, kPattern, &tm);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_LibcLocaltimeStrftime);

// The C library honouring a replaced /etc/localtime: TZ unset, localtime
// (not _r) re-checks the file at every call.
void BM_LibcLocaltimeRecheckStrftime(benchmark::State &state) {
  Sandbox sandbox(false);
  if (!sandbox.ok()) {
    state.SkipWithError("no /etc/localtime");
    return;
  }
  char buffer[64];
  for (auto _ : state) {
    struct timeval now {};
    gettimeofday(&now, nullptr);
    const time_t seconds = now.tv_sec;
    strftime(buffer, sizeof buffer, kPattern, localtime(&seconds));
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_LibcLocaltimeRecheckStrftime);

}  // namespace

BENCHMARK_MAIN();
