#pragma once

#include <memory>
#include <thread>

#include "platform/Posix.h"
#include "platform/RunLoop.h"
#include "tasks/AsynchronousTaskRunnerClient.h"
#include "tasks/TaskRunner.h"

namespace xr {

// Starts the tool and hands its output to the client piece by piece. Every callback after
// taskStarted comes through the run loop of the thread that called startTask, and only while
// that thread runs its loop. Background threads read the pipe (one piece at a time: the next
// read waits until the loop has delivered the last piece) and wait for the process.
// Past its limits (time, output) the tool is killed; taskEnded still comes.
// The runner may be destroyed at any time, from one of its own callbacks too: it then stops
// listening, kills and reaps the tool and joins its threads.
// No caller in the report: part of the plug-in's interface, kept working and tested.
class AsynchronousTaskRunner : public TaskRunner {
 public:
  AsynchronousTaskRunner(AsynchronousTaskRunnerClient* client, std::string launchPath,
                         std::vector<std::string> arguments);
  ~AsynchronousTaskRunner() override;

  // Sends taskStarted and launches the tool. A tool that cannot be launched ends at once: end
  // of data and taskEnded come through the run loop as for any other.
  void startTask() override;
  // Stops delivering output and asks the tool to end (SIGTERM) without waiting; taskEnded
  // still comes. Called by the runner itself at the end of the output.
  void stopTask() override;

 private:
  struct Channel;
  static void deliver(const std::shared_ptr<Channel>& channel);
  static void readOutput(std::shared_ptr<Channel> channel, std::shared_ptr<RunLoopSource> source, Process* process,
                         size_t maxOutput, int stopFd);
  // One piece of output; empty at the end of data.
  void taskDataReady(const std::string& piece);
  void taskComplete();
  AsynchronousTaskRunnerClient* asyncClient() const;

  std::shared_ptr<Channel> _channel;
  std::shared_ptr<RunLoopSource> _source;
  FileDescriptor _stopRead, _stopWrite;  // wakes the reader out of its poll
  std::thread _reader, _waiter;
  bool _started = false;
  bool _stopped = false;
};

}  // namespace xr
