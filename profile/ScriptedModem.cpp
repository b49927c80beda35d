#include "profile/ScriptedModem.h"

#include <poll.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "platform/BlockedSignals.h"

namespace xr {

std::unique_ptr<ScriptedModem> ScriptedModem::start(ModemScript script, std::string* error) {
  std::unique_ptr<PseudoTerminal> pty = PseudoTerminal::open(error, script.lineSettings);
  if (!pty) return nullptr;
  auto modem = std::make_unique<ScriptedModem>(Key{}, std::move(script), std::move(pty));
  if (!modem->_thread.joinable()) {
    if (error) *error = "cannot start the modem's thread";
    return nullptr;
  }
  return modem;
}

ScriptedModem::ScriptedModem(Key, ModemScript script, std::unique_ptr<PseudoTerminal> pty)
    : _script(std::move(script)), _pty(std::move(pty)) {
  if (makePipe(&_stopRead, &_stopWrite)) {
    const BlockedSignals blocked = BlockedSignals::termination();
    try {
      _thread = std::thread(&ScriptedModem::serve, this);
    } catch (const std::system_error&) {  // no thread to be had: start() says so
    }
  }
}

ScriptedModem::~ScriptedModem() { stop(); }

void ScriptedModem::stop() {
  if (!_thread.joinable()) return;
  const char byte = 1;
  (void)posix::write(_stopWrite.get(), &byte, 1);
  _thread.join();
}

std::vector<std::string> ScriptedModem::receivedCommands() const {
  std::lock_guard lock(_mutex);
  return _received;
}

std::vector<std::string> ScriptedModem::takeReceivedCommands() {
  std::lock_guard lock(_mutex);
  return std::exchange(_received, {});
}

void ScriptedModem::serve() {
  uint8_t buffer[4096];
  for (;;) {
    pollfd fds[2] = {{_pty->masterDescriptor(), POLLIN, 0}, {_stopRead.get(), POLLIN, 0}};
    if (posix::poll(fds, 2, -1) < 0 || fds[1].revents != 0) return;
    if (fds[0].revents & POLLIN) {
      const ssize_t n = posix::read(_pty->masterDescriptor(), buffer, sizeof buffer);
      if (n > 0) {
        if (!handleInput(buffer, static_cast<size_t>(n))) return;
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      return;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return;
  }
}

bool ScriptedModem::handleInput(const uint8_t* bytes, size_t n) {
  // The echo goes back as the bytes come in, before any answer.
  if (_script.echo && !writeChunked(Data(bytes, n))) return false;
  for (size_t i = 0; i < n; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (c != '\r') {
      // A line feed after the previous command's CR is not part of the next one.
      if (!(c == '\n' && _line.empty())) _line.push_back(c);
      continue;
    }
    std::string command = std::move(_line);
    _line.clear();
    if (command.empty()) continue;
    if (!answer(command)) return false;
  }
  return true;
}

bool ScriptedModem::answer(const std::string& command) {
  {
    std::lock_guard lock(_mutex);
    _received.push_back(command);
  }
  if (const std::optional<Data> reply = _script.replyTo(command)) {
    if (!pause(_script.replyDelayMs) || !writeChunked(*reply)) return false;
  }
  if (_script.hangUpAfter.contains(command)) {
    _pty->hangUp();
    return false;
  }
  if (_script.floodAfter.contains(command)) {
    const std::vector<uint8_t> junk(16384, 'X');
    while (writeAll(junk.data(), junk.size())) {
    }
    return false;  // stopped, or the line is gone
  }
  return true;
}

bool ScriptedModem::writeChunked(const Data& data) {
  const size_t chunk = _script.chunkSize == 0 ? data.length() : _script.chunkSize;
  for (size_t at = 0; at < data.length(); at += chunk) {
    if (at > 0 && !pause(_script.chunkDelayMs)) return false;
    if (!writeAll(data.bytes() + at, std::min(chunk, data.length() - at))) return false;
  }
  return true;
}

bool ScriptedModem::writeAll(const uint8_t* bytes, size_t n) {
  while (n > 0) {
    const ssize_t written = posix::write(_pty->masterDescriptor(), bytes, n);
    if (written > 0) {
      bytes += written;
      n -= static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    // The line is full until the port reads: wait for room, or for stop.
    pollfd fds[2] = {{_pty->masterDescriptor(), POLLOUT, 0}, {_stopRead.get(), POLLIN, 0}};
    if (posix::poll(fds, 2, -1) < 0 || fds[1].revents != 0) return false;
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
  }
  return true;
}

bool ScriptedModem::pause(int ms) {
  if (ms <= 0) return true;
  pollfd stopFd{_stopRead.get(), POLLIN, 0};
  return posix::poll(&stopFd, 1, ms) == 0;
}

}  // namespace xr
