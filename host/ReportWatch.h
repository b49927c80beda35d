#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/RegistryStore.h"
#include "platform/RunLoop.h"

namespace xr {

// Keeps a machine's report current after it was printed: each time the registry gains or
// loses entries (a device plugged in or pulled out, or a test adding one) the report is made
// again, on the calling thread's run loop, and printed when it differs from the last one
// printed. On the live machine the watch also waits on the registry's feed, so arrivals and
// removals reach the registry while nothing else runs the loop.
class ReportWatch {
 public:
  // The whole report as it is printed; nullopt and a message when it cannot be made.
  using MakeReport = std::function<std::optional<std::string>(std::string* error)>;
  // Writes one changed report; false when the output cannot be written.
  using PrintReport = std::function<bool(const std::string& report)>;

  ReportWatch(std::shared_ptr<RegistryStore> store, MakeReport make, PrintReport print);
  ~ReportWatch();
  ReportWatch(const ReportWatch&) = delete;
  ReportWatch& operator=(const ReportWatch&) = delete;

  // Watches, starting from the report last printed, until the loop is stopped or a report
  // fails to be made or printed. Empty on a clean end, else the fault.
  std::string run(RunLoop& loop, std::string lastPrinted);

 private:
  class Arrivals;
  void update();

  std::shared_ptr<RegistryStore> store_;
  MakeReport make_;
  PrintReport print_;
  std::shared_ptr<Arrivals> arrivals_;
  std::shared_ptr<RunLoopSource> source_;
  RunLoop* loop_ = nullptr;
  std::string last_;
  std::string error_;
};

}  // namespace xr
