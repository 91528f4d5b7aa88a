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

constexpr int kBufferSize = 64;

// Runs format(buffer) per iteration inside a sandbox.
template <typename Format>
void Run(benchmark::State &state, bool set_tz, Format format) {
  Sandbox sandbox(set_tz);
  if (!sandbox.ok()) {
    state.SkipWithError("no /etc/localtime");
    return;
  }
  char buffer[kBufferSize];
  for (auto _ : state) {
    format(buffer);
    benchmark::DoNotOptimize(buffer);
  }
}

time_t NowSeconds() {
  struct timeval now {};
  gettimeofday(&now, nullptr);
  return now.tv_sec;
}

void BM_UtilsTimeNowFormat(benchmark::State &state) {
  Run(state, true, [](char *buffer) { utils_time_now_format(kPattern, buffer, kBufferSize); });
}
BENCHMARK(BM_UtilsTimeNowFormat);

void BM_LibcLocaltimeStrftime(benchmark::State &state) {
  Run(state, true, [](char *buffer) {
    const time_t seconds = NowSeconds();
    struct tm tm {};
    localtime_r(&seconds, &tm);
    strftime(buffer, kBufferSize, kPattern, &tm);
  });
}
BENCHMARK(BM_LibcLocaltimeStrftime);

// The C library honouring a replaced /etc/localtime: TZ unset, localtime
// (not _r) re-checks the file at every call.
void BM_LibcLocaltimeRecheckStrftime(benchmark::State &state) {
  Run(state, false, [](char *buffer) {
    const time_t seconds = NowSeconds();
    strftime(buffer, kBufferSize, kPattern, localtime(&seconds));
  });
}
BENCHMARK(BM_LibcLocaltimeRecheckStrftime);

}  // namespace

BENCHMARK_MAIN();
