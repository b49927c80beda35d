#include "atcommand/ATCommand.h"

#include <algorithm>
#include <chrono>

#include "platform/Data.h"
#include "platform/Trace.h"
#include "serial/DataHandler.h"

namespace xr {
namespace {
constexpr std::string_view kFinalOK = "\r\nOK\r\n";
constexpr std::string_view kFinalError = "\r\nERROR\r\n";
// A final result that straddles two chunks starts at most this far before the new bytes.
constexpr size_t kFinalOverlap = std::max(kFinalOK.size(), kFinalError.size()) - 1;
constexpr std::string_view kEquipmentErrors[] = {"\r\n+CME ERROR", "\r\n+CMS ERROR"};
constexpr size_t kEquipmentErrorOverlap = kEquipmentErrors[0].size() - 1;
// The modem's notification mode for command replies; recorded, it changes nothing.
constexpr int32_t kReplyNotificationMode = 2;

// Every observer sees every chunk read, so a second command sending at the same time would
// take the first one's reply: senders take turns.
std::mutex gSending;

bool isLineBreak(char c) { return c == '\r' || c == '\n'; }

size_t countLineBreakFree(std::string_view s) {
  return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return !isLineBreak(c); }));
}

void removeAll(std::string& string, char c) { std::erase(string, c); }

void removeFirst(std::string& string, std::string_view what) {
  const size_t at = string.find(what);
  if (at != std::string::npos) string.erase(at, what.size());
}
}  // namespace

std::shared_ptr<ATCommand> ATCommand::atCommandWithCommandString(const std::string& command) {
  return std::make_shared<ATCommand>(command);
}

std::shared_ptr<ATCommand> ATCommand::atCommandWithCommandString(const std::string& command, Timeout timeout) {
  return std::make_shared<ATCommand>(command, timeout);
}

ATCommand::ATCommand(const std::string& command) { initCommonMembersAndCommand(command); }

ATCommand::ATCommand(const std::string& command, Timeout timeout) : ATCommand(command) { _timeout = timeout; }

ATCommand::~ATCommand() = default;

void ATCommand::initCommonMembersAndCommand(const std::string& command) {
  _lock = std::make_shared<RedLightGreenLight>();
  _command = command;
  setTimeout(kDefaultTimeout);
  _response.clear();
  restartProgress();
}

void ATCommand::send() {
  std::lock_guard turn(gSending);
  const auto handler = DataHandler::sharedDataHandler();
  // After a command went unanswered its reply may still come. What arrived before this
  // command is written is not its reply, so it goes; a modem known to echo must also show
  // this command's echo first, which keeps out a late reply that comes after the write.
  const bool requireEcho = handler->commandUnanswered() && handler->modemEchoes();
  handler->discardPendingInput();
  std::string command;
  {
    std::lock_guard lock(_mutex);
    _response.clear();
    _cleanedResponse.reset();
    _progress = Progress{};
    _progress.requireEcho = requireEcho;
    command = _command;
  }
  handler->addObserver(this, [this](const Notification& n) { inputDataAvail(n); }, kReplyNotificationMode);
  handler->sendData(dataWithString(command));
  _lock->timedRedLight(RedLightGreenLight::Clock::now() + _timeout);
  // Returns only once no callback of ours runs: the reply stays as it is from here on.
  handler->removeObserver(this);

  bool answered = false;
  bool overflowed = false;
  bool echoed = false;
  {
    std::lock_guard lock(_mutex);
    answered = _cleanedResponse.has_value();
    overflowed = _progress.overflowed;
    echoed = _progress.echoAt != std::string::npos;
  }
  if (echoed) handler->setModemEchoes(true);
  handler->setCommandUnanswered(!answered);
  if (answered || !traceEnabled()) return;
  // Appended, not "\"" + ...: g++ 12 at -O3 sees an overlapping copy in operator+(const char*, string&&).
  std::string text = "\"";
  text += traceEscaped(command);
  text += "\": ";
  if (overflowed) {
    traceNote(text, "no complete reply in its first ", std::to_string(kResponseLimit / 1024), " KiB");
  } else {
    const auto ms = _timeout.count();
    traceNote(text, "no complete reply within ", ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms");
  }
}

void ATCommand::inputDataAvail(const Notification& notification) {
  if (!notification.userInfo) return;
  const Value* value = notification.userInfo->find(notification.name);
  const Data* data = value ? value->data() : nullptr;
  if (!data || data->empty()) return;
  {
    std::lock_guard lock(_mutex);
    if (_response.size() >= kResponseLimit) return;
    const size_t take = std::min(data->length(), kResponseLimit - _response.size());
    _response.append(reinterpret_cast<const char*>(data->bytes()), take);
    advance();
    if (!responseIsCompleteLocked() || cleanedReplyIsEmpty()) {
      if (_response.size() < kResponseLimit || _cleanedResponse) return;
      // Full without an answer: nothing more can complete it, so the sender need not wait.
      _progress.overflowed = true;
    } else {
      _cleanedResponse = cleanUpResponseLocked();
    }
  }
  _lock->greenLight();
}

bool ATCommand::responseOverflowed() const {
  std::lock_guard lock(_mutex);
  return _progress.overflowed;
}

bool ATCommand::isDialCommand() const { return _command.starts_with("ATD"); }

void ATCommand::restartProgress() {
  const bool requireEcho = _progress.requireEcho;
  _progress = Progress{};
  _progress.requireEcho = requireEcho;
  advance();
}

void ATCommand::advance() {
  Progress& p = _progress;
  const size_t from = p.scanned;
  const size_t end = _response.size();
  const std::string_view response(_response);
  p.lineBreakFree += countLineBreakFree(response.substr(from));

  if (p.echoAt == std::string::npos && !_command.empty()) {
    const size_t overlap = _command.size() - 1;
    p.echoAt = response.find(_command, from > overlap ? from - overlap : 0);
    if (p.echoAt != std::string::npos && p.requireEcho) {
      p.lineBreakFreeBeforeEcho = countLineBreakFree(response.substr(0, p.echoAt));
    }
  }

  const bool regionKnown = !p.requireEcho || p.echoAt != std::string::npos;
  const size_t regionStart = p.requireEcho && regionKnown ? p.echoAt + _command.size() : 0;
  if (!p.finalResult && regionKnown) {
    const size_t start = std::max(regionStart, from > kFinalOverlap ? from - kFinalOverlap : 0);
    p.finalResult = response.find(kFinalOK, start) != std::string::npos ||
                    response.find(kFinalError, start) != std::string::npos;
  }
  if (!p.finalResult && regionKnown && _equipmentErrorsFinal) {
    if (p.equipmentErrorAt == std::string::npos) {
      const size_t start = std::max(regionStart, from > kEquipmentErrorOverlap ? from - kEquipmentErrorOverlap : 0);
      for (std::string_view error : kEquipmentErrors)
        p.equipmentErrorAt = std::min(p.equipmentErrorAt, response.find(error, start));
    }
    // Final once its line has ended.
    p.finalResult = p.equipmentErrorAt != std::string::npos &&
                    response.find("\r\n", p.equipmentErrorAt + 2) != std::string::npos;
  }
  p.scanned = end;
}

size_t ATCommand::replyStart() const {
  if (!_progress.requireEcho) return 0;
  return _progress.echoAt == std::string::npos ? _response.size() : _progress.echoAt;
}

bool ATCommand::cleanedReplyIsEmpty() const {
  const Progress& p = _progress;
  if (p.requireEcho && p.echoAt == std::string::npos) return true;
  size_t left = p.lineBreakFree - (p.requireEcho ? p.lineBreakFreeBeforeEcho : 0);
  if (p.echoAt != std::string::npos) left -= countLineBreakFree(_command);
  return left == 0;
}

bool ATCommand::responseIsCompleteLocked() const {
  if (_progress.requireEcho && _progress.echoAt == std::string::npos) return false;
  if (isDialCommand()) return !cleanedReplyIsEmpty();
  return _progress.finalResult;
}

bool ATCommand::responseIsComplete() const {
  std::lock_guard lock(_mutex);
  return responseIsCompleteLocked();
}

std::string ATCommand::cleanUpResponseLocked() const {
  std::string cleaned = _response.substr(replyStart());
  removeEcho(_command, cleaned);
  removeCRsFromString(cleaned);
  removeNLsFromString(cleaned);
  return cleaned;
}

std::string ATCommand::cleanUpResponse() const {
  std::lock_guard lock(_mutex);
  return cleanUpResponseLocked();
}

void ATCommand::removeEcho(const std::string& command, std::string& string) { removeFirst(string, command); }
void ATCommand::removeCRsFromString(std::string& string) { removeAll(string, '\r'); }
void ATCommand::removeNLsFromString(std::string& string) { removeAll(string, '\n'); }
void ATCommand::removeOKFromString(std::string& string) { removeFirst(string, "OK"); }

std::string ATCommand::command() const {
  std::lock_guard lock(_mutex);
  return _command;
}

void ATCommand::setCommand(const std::string& command) {
  std::lock_guard lock(_mutex);
  _command = command;
  restartProgress();
}

std::string ATCommand::response() const {
  std::lock_guard lock(_mutex);
  return _response;
}

void ATCommand::setResponse(const std::string& response) {
  std::lock_guard lock(_mutex);
  _response = response;
  restartProgress();
}

std::optional<std::string> ATCommand::cleanedResponse() const {
  std::lock_guard lock(_mutex);
  return _cleanedResponse;
}

void ATCommand::setCleanedResponse(const std::optional<std::string>& cleaned) {
  std::lock_guard lock(_mutex);
  _cleanedResponse = cleaned;
}

}  // namespace xr
