#include "host/TextReport.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string_view>

namespace xr {
namespace {

// The length of the well-formed UTF-8 character at the start of text, 0 when it is not one
// (overlong forms, surrogates and code points past U+10FFFF included).
size_t utf8CharacterLength(std::string_view text, uint32_t* codePoint) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  size_t length;
  uint32_t cp;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (byte(i) & 0x3F);
  }
  const uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  *codePoint = cp;
  return length;
}

}  // namespace

// Text that came from outside (the modem, tools, bundles, the registry) goes to a terminal:
// control characters (C0, DEL, C1) and bytes that are not UTF-8 are shown as \xNN, so no value
// can move the cursor, start an escape sequence or begin a line of its own.
std::string displayable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    uint32_t cp = 0;
    size_t length = utf8CharacterLength(text, &cp);
    const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
    if (length == 0 || control) {
      for (size_t i = 0; i < std::max<size_t>(length, 1); ++i) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<uint8_t>(text[i]));
        out += escaped;
      }
      text.remove_prefix(std::max<size_t>(length, 1));
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

namespace {

std::string scalarText(const Value& value) {
  switch (value.type()) {
    case Value::Type::String: return displayable(*value.string());
    case Value::Type::Integer: return std::to_string(*value.integer());
    case Value::Type::Real: {
      char buffer[32];
      std::snprintf(buffer, sizeof buffer, "%g", *value.real());
      return buffer;
    }
    case Value::Type::Boolean: return *value.boolean() ? "Yes" : "No";
    case Value::Type::Data: return value.data()->description();
    default: return "";
  }
}

class Writer {
 public:
  explicit Writer(const Bundle& strings) : strings_(strings) {}

  void line(size_t indent, const std::string& text) {
    out_.append(indent, ' ');
    out_ += text;
    out_ += '\n';
  }
  void blank() { out_ += '\n'; }

  // "Key: value", or "Key:" with the container's contents below it.
  void entry(size_t indent, const std::string& key, const Value& value) {
    std::string label = displayable(strings_.localizedString(key)) + ":";
    if (value.type() == Value::Type::Dictionary || value.type() == Value::Type::Array) {
      line(indent, label);
      contents(indent + 2, value);
    } else {
      std::string text = scalarText(value);
      line(indent, text.empty() ? label : label + " " + text);
    }
  }

  void contents(size_t indent, const Value& value) {
    if (auto dictionary = value.dictionary()) {
      for (const auto& [key, item] : *dictionary) entry(indent, key, item);
    } else if (auto array = value.array()) {
      for (const Value& element : *array) {
        if (element.type() == Value::Type::Dictionary || element.type() == Value::Type::Array)
          contents(indent, element);
        else
          line(indent, scalarText(element));
      }
    } else {
      line(indent, scalarText(value));
    }
  }

  std::string take() { return std::move(out_); }

 private:
  const Bundle& strings_;
  std::string out_;
};

}  // namespace

std::string textReport(const std::string& title, const DictionaryRef& report, const Bundle& strings) {
  Writer out(strings);
  out.line(0, displayable(title) + ":");
  out.blank();
  ArrayRef items = report ? report->get("_items").array() : nullptr;
  if (!items || items->empty()) {
    out.line(4, "No information found.");
    out.blank();
    return out.take();
  }
  for (const Value& item : *items) {
    auto dictionary = item.dictionary();
    if (!dictionary) {
      out.contents(4, item);
      out.blank();
      continue;
    }
    size_t indent = 4;
    if (const Value* name = dictionary->find("_name"); name && name->string()) {
      out.line(indent, displayable(strings.localizedString(*name->string())) + ":");
      out.blank();
      indent += 2;
    }
    for (const auto& [key, value] : *dictionary) {
      if (key != "_name") out.entry(indent, key, value);
    }
    out.blank();
  }
  return out.take();
}

}  // namespace xr
