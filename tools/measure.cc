// measure: runs a program several times and reports its wall time, CPU time
// and peak resident memory, for the benchmarks. POSIX only.
//
//   measure [--runs N] [--kill-after MS] [--before SHELL-COMMAND] -- PROGRAM [ARGS...]
//
// Each run's figures go to standard output as one line, then a summary:
//   run=1 wall_ms=50.8 cpu_ms=1.2 user_ms=0.8 system_ms=0.4 max_rss_kib=2740
//   summary runs=20 wall_ms_median=50.9 wall_ms_min=50.3 wall_ms_max=52.0 ...
// --before runs a shell command before every run (for example to remove a
// file the previous run left); --kill-after ends each run with SIGKILL after
// MS milliseconds, and its figures then cover the time up to that moment.

#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

struct Figures {
  double wall_ms;
  double user_ms;
  double system_ms;
  long max_rss_kib;
};

double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

double Milliseconds(const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; }

bool RunOnce(char** argv, long kill_after_ms, Figures* figures) {
  const double start = Now();
  pid_t child;
  if (posix_spawnp(&child, argv[0], nullptr, nullptr, argv, environ) != 0) {
    std::fprintf(stderr, "measure: cannot start %s\n", argv[0]);
    return false;
  }
  int status = 0;
  rusage usage{};
  for (;;) {
    pid_t done = wait4(child, &status, kill_after_ms > 0 ? WNOHANG : 0, &usage);
    if (done == child) break;
    if (done < 0) return false;
    if (Now() - start >= kill_after_ms) kill(child, SIGKILL);
    usleep(1000);
  }
  figures->wall_ms = Now() - start;
  figures->user_ms = Milliseconds(usage.ru_utime);
  figures->system_ms = Milliseconds(usage.ru_stime);
  figures->max_rss_kib = usage.ru_maxrss;
  if (kill_after_ms <= 0 && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    std::fprintf(stderr, "measure: %s did not exit with code 0\n", argv[0]);
    return false;
  }
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Quantile(std::vector<double> values, double q) {
  std::sort(values.begin(), values.end());
  return values[static_cast<std::size_t>(std::lround(q * (values.size() - 1)))];
}

int Usage() {
  std::fprintf(stderr,
               "usage: measure [--runs N] [--kill-after MS] [--before SHELL-COMMAND] -- "
               "PROGRAM [ARGS...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 1;
  long kill_after_ms = 0;
  const char* before = nullptr;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--kill-after") == 0 && i + 1 < argc) {
      kill_after_ms = std::atol(argv[++i]);
    } else if (std::strcmp(argv[i], "--before") == 0 && i + 1 < argc) {
      before = argv[++i];
    } else {
      return Usage();
    }
  }
  if (i + 1 >= argc || runs < 1) return Usage();
  char** program = argv + i + 1;

  std::vector<double> wall, cpu;
  long max_rss = 0;
  for (int run = 1; run <= runs; ++run) {
    if (before != nullptr && std::system(before) != 0) {
      std::fprintf(stderr, "measure: '%s' failed\n", before);
      return 1;
    }
    Figures figures;
    if (!RunOnce(program, kill_after_ms, &figures)) return 1;
    wall.push_back(figures.wall_ms);
    cpu.push_back(figures.user_ms + figures.system_ms);
    max_rss = std::max(max_rss, figures.max_rss_kib);
    std::printf("run=%d wall_ms=%.1f cpu_ms=%.1f user_ms=%.1f system_ms=%.1f max_rss_kib=%ld\n",
                run, figures.wall_ms, figures.user_ms + figures.system_ms, figures.user_ms,
                figures.system_ms, figures.max_rss_kib);
  }
  std::printf(
      "summary runs=%d wall_ms_median=%.1f wall_ms_min=%.1f wall_ms_p90=%.1f wall_ms_max=%.1f "
      "cpu_ms_median=%.1f cpu_ms_max=%.1f max_rss_kib=%ld\n",
      runs, Median(wall), *std::min_element(wall.begin(), wall.end()), Quantile(wall, 0.9),
      *std::max_element(wall.begin(), wall.end()), Median(cpu),
      *std::max_element(cpu.begin(), cpu.end()), max_rss);
  return 0;
}
