#include "host/TextReport.h"

#include <cstdio>

namespace xr {
namespace {

std::string scalarText(const Value& value) {
  switch (value.type()) {
    case Value::Type::String: return *value.string();
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
    std::string label = strings_.localizedString(key) + ":";
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
  out.line(0, title + ":");
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
      out.line(indent, strings.localizedString(*name->string()) + ":");
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
