// Per-run times of a benchmark, reported as counters. Targets here are medians and
// percentiles of single runs, which the mean Google Benchmark prints does not show.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace xr::bench {

class Samples {
 public:
  explicit Samples(benchmark::IterationCount expected) { values_.reserve(static_cast<size_t>(expected)); }

  void add(double value) { values_.push_back(value); }

  // Counters median_UNIT, p99_UNIT and max_UNIT.
  void report(benchmark::State& state, const std::string& unit) {
    if (values_.empty()) return;
    std::sort(values_.begin(), values_.end());
    state.counters["median_" + unit] = values_[values_.size() / 2];
    state.counters["p99_" + unit] = values_[std::min(values_.size() - 1, values_.size() * 99 / 100)];
    state.counters["max_" + unit] = values_.back();
  }

 private:
  std::vector<double> values_;
};

// Milliseconds since `start` on the monotonic clock.
inline double millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace xr::bench
