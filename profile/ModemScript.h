#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "platform/Data.h"
#include "platform/Value.h"
#include "profile/PseudoTerminal.h"

namespace xr {

// What the scripted modem answers: the modem.json of a machine profile. Commands are keyed
// without their CR.
struct ModemScript {
  bool echo = true;
  std::map<std::string, Data> replies;  // Responses, already framed, and RawResponses
  std::set<std::string> silent;
  size_t chunkSize = 0;  // bytes per write; 0: whole replies
  int chunkDelayMs = 0;
  int replyDelayMs = 0;
  // Commands after whose reply, if any, the modem goes away (its master side closes). Silent
  // or with a partial raw reply, the line drops before the answer is complete.
  std::set<std::string> hangUpAfter;
  // Commands after whose reply, if any, the modem sends without end (a device gone wild),
  // never reading another command.
  std::set<std::string> floodAfter;
  // "LineSettings": "raw" (default) or "kernel-default", how the pty is left for the port.
  PseudoTerminal::LineSettings lineSettings = PseudoTerminal::LineSettings::kRaw;
  // The port the modem sits on: the registry's port whose HwTTYDevice this is. A USB modem's
  // port is named by its kernel name ("ttyACM0"), the internal modem's is "modem".
  std::string port = "modem";

  // The bytes a command gets after its echo; nullopt for a silent one.
  std::optional<Data> replyTo(const std::string& command) const;

  // CR LF, each line followed by CR LF, then CR LF "OK" CR LF.
  static Data framedResponse(const std::vector<std::string>& lines);

  // A reply the AT engine can take is at most 64 KiB, twice that as hex, and a report sends
  // a handful of commands: a capture of a modem that floods every one stays under this. JSON
  // can take fifty times its text once parsed, so the bound is also what a report or modemsim
  // may spend on a hostile file.
  static constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;

  // A modem.json object; nullopt and a message naming the fault for anything else.
  static std::optional<ModemScript> fromValue(const Value& value, std::string* error);
  static std::optional<ModemScript> fromFile(const std::string& path, std::string* error);
};

}  // namespace xr
