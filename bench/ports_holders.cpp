// The holders pass of the modem-ports plug-in: one pass over a proc tree for four ports.
// Target: a tree of 100 processes in at most 3 ms (counter median_ms); this machine's /proc
// is shown beside it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "Samples.h"
#include "serial/PortHolders.h"

namespace {
namespace fs = std::filesystem;

std::vector<xr::PortPaths> fourPorts() {
  std::vector<xr::PortPaths> ports;
  for (const char* name : {"ttyACM0", "ttyACM1", "ttyS0", "ttyUSB0"})
    ports.push_back({std::string("/dev/") + name, std::string("/dev/serial/by-id/usb-XR_") + name});
  return ports;
}

// 100 processes of a dozen descriptors each, the kinds a desktop's processes hold; every
// tenth holds one of the ports.
class ProcTree {
 public:
  ProcTree() : root_(fs::temp_directory_path() / ("xr-bench-proc-" + std::to_string(getpid()))) {
    const char* targets[] = {"/dev/null", "/dev/null", "/dev/null", "socket:[4711]", "pipe:[4712]",
                             "anon_inode:[eventfd]", "/var/log/syslog", "/dev/urandom", "socket:[4713]",
                             "/usr/lib/locale/locale-archive", "anon_inode:[eventpoll]"};
    for (int pid = 1000; pid < 1100; ++pid) {
      const fs::path dir = root_ / std::to_string(pid);
      fs::create_directories(dir / "fd");
      std::ofstream(dir / "comm") << "worker" << pid << "\n";
      int fd = 0;
      for (const char* target : targets) fs::create_symlink(target, dir / "fd" / std::to_string(fd++));
      if (pid % 10 == 0) fs::create_symlink("/dev/ttyACM0", dir / "fd" / std::to_string(fd));
    }
  }
  ~ProcTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::string path() const { return root_.string(); }

 private:
  fs::path root_;
};

void pass(benchmark::State& state, const std::string& procRoot) {
  const auto ports = fourPorts();
  const xr::PortHolders holders(procRoot);
  xr::bench::Samples runs(state.max_iterations);
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    auto scan = holders.scan(ports);
    runs.add(xr::bench::millisecondsSince(start));
    benchmark::DoNotOptimize(scan);
  }
  runs.report(state, "ms");
}

void BM_HoldersPassProfileTree(benchmark::State& state) {
  ProcTree tree;
  pass(state, tree.path());
}
BENCHMARK(BM_HoldersPassProfileTree)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

void BM_HoldersPassThisMachine(benchmark::State& state) {
  size_t processes = 0;
  for (const auto& entry : fs::directory_iterator("/proc"))
    processes += entry.path().filename().string().find_first_not_of("0123456789") == std::string::npos;
  state.counters["processes"] = static_cast<double>(processes);
  pass(state, "/proc");
}
BENCHMARK(BM_HoldersPassThisMachine)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(300);

}  // namespace

BENCHMARK_MAIN();
