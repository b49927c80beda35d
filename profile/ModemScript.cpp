#include "profile/ModemScript.h"

#include "platform/Json.h"

namespace xr {
namespace {
const JsonLimits kScriptLimits{16, ModemScript::kMaxFileBytes};

bool failWith(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

bool readDelay(const Value& value, const char* key, int* out, std::string* error) {
  const auto n = value.integer();
  if (!n || *n < 0 || *n > 3600000) return failWith(error, std::string(key) + " must be a number of milliseconds");
  *out = static_cast<int>(*n);
  return true;
}

bool readResponses(const Dictionary& responses, ModemScript* script, std::string* error) {
  for (const auto& [command, value] : responses) {
    std::vector<std::string> lines;
    if (const std::string* line = value.string()) {
      lines.push_back(*line);
    } else if (const ArrayRef array = value.array()) {
      for (const Value& item : *array) {
        const std::string* line = item.string();
        if (!line) return failWith(error, "Responses." + command + " must hold strings only");
        lines.push_back(*line);
      }
    } else {
      return failWith(error, "Responses." + command + " must be a string or an array of strings");
    }
    script->replies[command] = ModemScript::framedResponse(lines);
  }
  return true;
}

bool readRawResponses(const Dictionary& responses, ModemScript* script, std::string* error) {
  for (const auto& [command, value] : responses) {
    if (const Data* bytes = value.data()) {
      script->replies[command] = *bytes;
    } else if (const std::string* text = value.string()) {
      script->replies[command] = dataWithString(*text);
    } else {
      return failWith(error, "RawResponses." + command + " must be a byte string ({\"$data\": \"...\"})");
    }
  }
  return true;
}

bool readCommands(const Value& value, const std::string& key, std::set<std::string>* out, std::string* error) {
  const ArrayRef commands = value.array();
  if (!commands) return failWith(error, key + " must be an array of commands");
  for (const Value& command : *commands) {
    const std::string* text = command.string();
    if (!text) return failWith(error, key + " must be an array of commands");
    out->insert(*text);
  }
  return true;
}

bool readEntry(const std::string& key, const Value& value, ModemScript* script, std::string* error) {
  if (key == "Echo") {
    const auto on = value.boolean();
    if (!on) return failWith(error, "Echo must be true or false");
    script->echo = *on;
  } else if (key == "Responses" || key == "RawResponses") {
    const DictionaryRef responses = value.dictionary();
    if (!responses) return failWith(error, key + " must be an object");
    return key == "Responses" ? readResponses(*responses, script, error)
                              : readRawResponses(*responses, script, error);
  } else if (key == "Silent") {
    return readCommands(value, key, &script->silent, error);
  } else if (key == "HangUpAfter") {
    return readCommands(value, key, &script->hangUpAfter, error);
  } else if (key == "FloodAfter") {
    return readCommands(value, key, &script->floodAfter, error);
  } else if (key == "Port") {
    const std::string* name = value.string();
    if (!name || name->empty()) return failWith(error, "Port must be the name of a port");
    script->port = *name;
  } else if (key == "ChunkSize") {
    const auto n = value.integer();
    if (!n || *n < 0) return failWith(error, "ChunkSize must be a number of bytes");
    script->chunkSize = static_cast<size_t>(*n);
  } else if (key == "ChunkDelayMs") {
    return readDelay(value, "ChunkDelayMs", &script->chunkDelayMs, error);
  } else if (key == "LineSettings") {
    const std::string* text = value.string();
    if (!text || (*text != "raw" && *text != "kernel-default")) {
      return failWith(error, "LineSettings must be \"raw\" or \"kernel-default\"");
    }
    script->lineSettings =
        *text == "raw" ? PseudoTerminal::LineSettings::kRaw : PseudoTerminal::LineSettings::kKernelDefault;
  } else if (key == "ReplyDelayMs") {
    return readDelay(value, "ReplyDelayMs", &script->replyDelayMs, error);
  } else {
    return failWith(error, "unknown key " + key);
  }
  return true;
}
}  // namespace

std::optional<Data> ModemScript::replyTo(const std::string& command) const {
  if (silent.contains(command)) return std::nullopt;
  if (auto found = replies.find(command); found != replies.end()) return found->second;
  if (command == "AT") return dataWithString("\r\nOK\r\n");
  return dataWithString("\r\nERROR\r\n");
}

Data ModemScript::framedResponse(const std::vector<std::string>& lines) {
  std::string text = "\r\n";
  for (const std::string& line : lines) text += line + "\r\n";
  text += "\r\nOK\r\n";
  return dataWithString(text);
}

std::optional<ModemScript> ModemScript::fromValue(const Value& value, std::string* error) {
  const DictionaryRef root = value.dictionary();
  if (!root) {
    failWith(error, "a modem script is a JSON object");
    return std::nullopt;
  }
  ModemScript script;
  // Raw bytes win over framed lines for the same command, whatever the key order.
  for (const char* pass : {"Responses", "RawResponses", ""}) {
    for (const auto& [key, entry] : *root) {
      const bool responsesKey = key == "Responses" || key == "RawResponses";
      if (*pass ? key != pass : responsesKey) continue;
      if (!readEntry(key, entry, &script, error)) return std::nullopt;
    }
  }
  return script;
}

std::optional<ModemScript> ModemScript::fromFile(const std::string& path, std::string* error) {
  JsonResult json = readJsonFile(path, kScriptLimits);
  if (!json.ok()) {
    failWith(error, json.error);
    return std::nullopt;
  }
  std::optional<ModemScript> script = fromValue(json.value, error);
  if (!script && error) *error = path + ": " + *error;
  return script;
}

}  // namespace xr
