#pragma once

namespace xr {

// What every task runner tells its client. The plug-in answers both and does nothing in them.
class TaskRunnerClient {
 public:
  virtual ~TaskRunnerClient() = default;
  // Sent at the start of startTask, before the tool is launched.
  virtual void taskStarted() = 0;
  // Part of the protocol; no runner sends it.
  virtual void taskFinished() = 0;
};

}  // namespace xr
