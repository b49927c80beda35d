#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "atcommand/RedLightGreenLight.h"
#include "platform/NotificationCenter.h"

namespace xr {

// One AT command written to the modem on the open line, with the reply that comes back.
// send() blocks until the reply is complete ("\r\nOK\r\n" or "\r\nERROR\r\n"; for a dial
// command, anything beyond its echo) or the time-out passes. The reply is assembled on the
// data handler's read thread.
class ATCommand {
 public:
  using Timeout = std::chrono::milliseconds;
  static constexpr Timeout kDefaultTimeout = std::chrono::seconds(2);
  // A reply stops growing here; one that reaches it without being complete fails at once, as
  // one without a complete reply (a device that never stops sending costs this much).
  static constexpr size_t kResponseLimit = 64 * 1024;

  static std::shared_ptr<ATCommand> atCommandWithCommandString(const std::string& command);
  static std::shared_ptr<ATCommand> atCommandWithCommandString(const std::string& command, Timeout timeout);

  explicit ATCommand(const std::string& command);  // initWithCommandString
  ATCommand(const std::string& command, Timeout timeout);
  virtual ~ATCommand();
  ATCommand(const ATCommand&) = delete;
  ATCommand& operator=(const ATCommand&) = delete;

  // Writes the command on the shared data handler's line and waits for the reply. Only one
  // command may be sending at a time.
  virtual void send();
  // The read thread's callback while sending.
  void inputDataAvail(const Notification& notification);
  bool responseIsComplete() const;
  // The reply without its echo, CRs and LFs (its "OK" stays).
  std::string cleanUpResponse() const;

  // In-place edits; literal and case-sensitive.
  static void removeEcho(const std::string& command, std::string& string);  // first occurrence
  static void removeCRsFromString(std::string& string);
  static void removeNLsFromString(std::string& string);
  static void removeOKFromString(std::string& string);  // first "OK" only

  std::string command() const;
  void setCommand(const std::string& command);
  std::string response() const;
  void setResponse(const std::string& response);
  // Absent until a complete reply came.
  std::optional<std::string> cleanedResponse() const;
  void setCleanedResponse(const std::optional<std::string>& cleaned);
  Timeout timeout() const { return _timeout; }
  void setTimeout(Timeout timeout) { _timeout = timeout; }
  // True when the reply reached kResponseLimit without being complete.
  bool responseOverflowed() const;
  // Whether a mobile equipment error, a line "+CME ERROR: ..." or "+CMS ERROR: ...", ends the
  // reply as ERROR does: cellular modems answer a query they do not know that way. Off by
  // default, as the modem reporter's dialogue knows only OK and ERROR. Set before send().
  void setEquipmentErrorsFinal(bool final) { _equipmentErrorsFinal = final; }
  const std::shared_ptr<RedLightGreenLight>& lock() const { return _lock; }
  void setLock(std::shared_ptr<RedLightGreenLight> lock) { _lock = std::move(lock); }

 protected:
  void initCommonMembersAndCommand(const std::string& command);

 private:
  // Where the reply stands, kept up to date as bytes come in, so that each chunk costs only
  // its own length: completion never rescans what was already searched.
  struct Progress {
    bool requireEcho = false;             // the reply counts only from this command's echo
    bool overflowed = false;              // kResponseLimit reached before the reply was complete
    size_t echoAt = std::string::npos;    // first occurrence of the command in the response
    size_t scanned = 0;                   // response bytes searched so far
    size_t lineBreakFree = 0;             // bytes other than CR and LF
    size_t lineBreakFreeBeforeEcho = 0;   // the same, before echoAt (when the echo is required)
    bool finalResult = false;             // "\r\nOK\r\n" or "\r\nERROR\r\n" seen
    size_t equipmentErrorAt = std::string::npos;  // an equipment error line, perhaps unended
  };

  bool isDialCommand() const;
  // Searches the bytes of _response after _progress.scanned.
  void advance();
  void restartProgress();
  size_t replyStart() const;
  bool cleanedReplyIsEmpty() const;
  bool responseIsCompleteLocked() const;
  std::string cleanUpResponseLocked() const;

  mutable std::mutex _mutex;  // the fields below: the read thread writes them while sending
  std::string _command;
  std::string _response;
  std::optional<std::string> _cleanedResponse;
  Progress _progress;

  Timeout _timeout = kDefaultTimeout;
  bool _equipmentErrorsFinal = false;
  std::shared_ptr<RedLightGreenLight> _lock;
};

}  // namespace xr
