#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace xr {

struct ProcessRef {
  int pid = 0;
  std::string name;  // its comm; "" when it could not be read
  friend bool operator==(const ProcessRef&, const ProcessRef&) = default;
};

struct HolderScan {
  std::vector<std::vector<ProcessRef>> holders;  // per port, in the ports' order, by pid
  // Processes whose descriptors could not be read, by pid: any of them may hold any port.
  std::vector<int> uninspected;
};

// Each port as the paths a process may have it open by, the one it is opened by first.
using PortPaths = std::vector<std::string>;

// Which processes have serial ports open, from a proc tree: /proc on the live machine, a
// machine profile's root/proc, or a test's own tree. Its absence is a machine without
// processes. In a profile, a process whose fd is a file, not a directory, is one whose
// descriptors could not be read when the machine was captured.
class PortHolders {
 public:
  explicit PortHolders(std::string procRoot);

  // One pass over procRoot/*/fd for all the ports together. A descriptor matches a port when
  // its link text is one of the port's paths, or else when what it leads to has the port's
  // device number (stat of the port's paths): the port opened under another name. In a
  // profile's tree, whose links name devices this machine lacks, only the texts count.
  // Processes that end during the pass are simply not there, nor is skipPid (0: none). A long
  // pass is shared with a second thread.
  HolderScan scan(const std::vector<PortPaths>& ports, int skipPid = 0) const;

  bool isAlive(int pid) const;
  std::optional<std::string> processName(int pid) const;
  const std::string& procRoot() const { return procRoot_; }

 private:
  std::string procRoot_;
};

// One holders pass that threads can share: each work() takes the processes no thread has taken
// yet, one at a time, until none is left. A thread that comes to the pass late takes part in
// what is left of it instead of waiting for it.
class HolderPass {
 public:
  // Lists the processes; the ports are read here and not kept.
  HolderPass(const PortHolders& holders, const std::vector<PortPaths>& ports, int skipPid = 0);
  ~HolderPass();
  HolderPass(const HolderPass&) = delete;
  HolderPass& operator=(const HolderPass&) = delete;

  size_t processes() const;
  // From any thread, any number of times.
  void work();
  // Waits for the work() calls begun to end; a work() called after this does nothing. Once.
  HolderScan result();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace xr
