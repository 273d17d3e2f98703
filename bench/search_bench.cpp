// Folder search and mask matching speed. The mask benchmarks always run; the
// tree benchmarks run when TW_SEARCH_TREE names a folder (search_vs_find.sh
// builds one): our scan with Messages False, our scan with Messages True
// inside a Qt application with the window program's message processing, and
// `find DIR -iname '*.mdf'` as the peer, all in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QTimer>
#include <cstdlib>
#include <string>
#include <vector>

#include "Masks.h"
#include "QtUi.h"
#include "SFolders.h"
#include "Ui.h"

extern char** environ;

namespace {

void BM_MaskCompile(benchmark::State& state) {
  for (auto _ : state) {
    TMask mask("*.mdf");
    benchmark::DoNotOptimize(mask);
  }
}
BENCHMARK(BM_MaskCompile);

void BM_MaskMatch(benchmark::State& state, const char* mask, std::vector<std::string> names) {
  const TMask compiled(mask);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(compiled.MatchName(names[i]));
    i = (i + 1) % names.size();
  }
}
BENCHMARK_CAPTURE(BM_MaskMatch, mdf, "*.mdf",
                  {"entry012345_0a1b2.txt", "entry012346_0a1b3.MDF", "data.mdf.bak",
                   "entry012347_ffff.ldf"});
BENCHMARK_CAPTURE(BM_MaskMatch, many_stars, "*a*b*c*d*e*f*g*h*z",
                  {std::string(200, 'a') + "bcdefgh", "abcdefghz", std::string(255, 'h')});

// Window program services with a real Qt event queue behind them.
QtPlatformUi* g_qtUi = nullptr;

double Milliseconds(const timeval& t) {
  return t.tv_sec * 1e3 + t.tv_usec / 1e3;
}
double CpuMilliseconds(const rusage& usage) {
  return Milliseconds(usage.ru_utime) + Milliseconds(usage.ru_stime);
}

void ScanTree(benchmark::State& state, const std::string& root, bool messages) {
  TSearchFolders search;
  search.FileMask = "*.mdf";
  search.ScanOptions = TScanOptions::soSpecifiedDir;
  search.ScanDir = root;
  search.DoRecursive = true;
  search.Messages = messages;
  int32_t found = 0;
  search.OnChanged = [&](TObject*, int32_t count, int32_t) { found = count; };

  // A timer ticking as a window's would: its events only run when the scan
  // lets messages run.
  int ticks = 0;
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
  if (messages) {
    SetUi(g_qtUi);
    timer.start();
  }
  rusage before{}, after{};
  ::getrusage(RUSAGE_THREAD, &before);
  for (auto _ : state) search.Scan();
  ::getrusage(RUSAGE_THREAD, &after);
  SetUi(nullptr);
  // Processor time, comparable with find's on a busy machine.
  state.counters["cpu_ms"] = benchmark::Counter(CpuMilliseconds(after) - CpuMilliseconds(before),
                                                benchmark::Counter::kAvgIterations);
  state.counters["found"] = found;
  state.counters["timer_ticks"] = benchmark::Counter(ticks, benchmark::Counter::kAvgIterations);
}

void FindTree(benchmark::State& state, const std::string& root) {
  const std::vector<std::string> args = {"find", root, "-iname", "*.mdf"};
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  double cpu = 0;
  for (auto _ : state) {
    pid_t pid = 0;
    if (posix_spawnp(&pid, "find", &actions, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("find could not be started");
      break;
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    cpu += CpuMilliseconds(usage);
  }
  posix_spawn_file_actions_destroy(&actions);
  state.counters["cpu_ms"] = benchmark::Counter(cpu, benchmark::Counter::kAvgIterations);
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QtPlatformUi ui;
  g_qtUi = &ui;
  if (const char* tree = std::getenv("TW_SEARCH_TREE")) {
    const std::string root = tree;
    benchmark::RegisterBenchmark("Tree/find_iname", FindTree, root)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Tree/scan_messages_false", ScanTree, root, false)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Tree/scan_messages_true_qt", ScanTree, root, true)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
