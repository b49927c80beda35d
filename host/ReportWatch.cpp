#include "host/ReportWatch.h"

#include <atomic>

namespace xr {

// Told of every entry the HwService plane gains or loses, on whatever thread does it.
class ReportWatch::Arrivals : public RegistryWatcher {
 public:
  void setSource(std::weak_ptr<RunLoopSource> source) { source_ = std::move(source); }
  bool wants(const RegistryEntry&, const Dictionary&) const override { return true; }
  void entryAdded(const RegistryEntry*) override { changed(); }
  void entryRemoved(const RegistryEntry*) override { changed(); }
  bool take() { return changed_.exchange(false); }

 private:
  void changed() {
    changed_ = true;
    if (auto s = source_.lock()) s->signal();
  }

  std::weak_ptr<RunLoopSource> source_;
  std::atomic<bool> changed_{false};
};

ReportWatch::ReportWatch(std::shared_ptr<RegistryStore> store, MakeReport make, PrintReport print)
    : store_(std::move(store)), make_(std::move(make)), print_(std::move(print)),
      arrivals_(std::make_shared<Arrivals>()) {
  auto feed = store_->feed();
  source_ = std::make_shared<RunLoopSource>(feed ? feed->descriptor() : -1, [this] { update(); });
  arrivals_->setSource(source_);
  // No class in the description: nothing counts as present, every later entry is told.
  store_->watch(arrivals_, Dictionary());
}

ReportWatch::~ReportWatch() { source_->invalidate(); }

void ReportWatch::update() {
  store_->pump();
  // Several arrivals before this turn make one new report.
  if (!arrivals_->take()) return;
  std::string error;
  std::optional<std::string> report = make_(&error);
  // The report's plug-ins are gone: nothing holds the entries of unplugged devices now.
  store_->freeRemovedEntries();
  if (!report) {
    error_ = error.empty() ? "the report could not be made" : error;
  } else if (*report != last_) {
    if (print_(*report))
      last_ = std::move(*report);
    else
      error_ = "standard output cannot be written";
  }
  if (!error_.empty()) loop_->stop();
}

std::string ReportWatch::run(RunLoop& loop, std::string lastPrinted) {
  last_ = std::move(lastPrinted);
  error_.clear();
  loop_ = &loop;
  {
    ScopedRunLoopSource attached(loop, source_);
    loop.runUntil(RunLoop::Clock::time_point::max());
  }
  loop_ = nullptr;
  return error_;
}

}  // namespace xr
