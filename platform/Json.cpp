#include "platform/Json.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "platform/PlatformRoot.h"
#include "platform/RegularFile.h"

namespace xr {
namespace {

using json = nlohmann::json;

// Builds values straight from the parser's events, so no intermediate tree is made and the
// nesting limit stops the parse before deep input is walked.
class ValueBuilder : public nlohmann::json_sax<json> {
 public:
  explicit ValueBuilder(size_t maxDepth) : maxDepth_(maxDepth) {}

  bool null() override { return add(Value()); }
  bool boolean(bool b) override { return add(Value(b)); }
  bool number_integer(number_integer_t i) override { return add(Value(static_cast<int64_t>(i))); }
  bool number_unsigned(number_unsigned_t u) override {
    if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
      return fail("integer " + std::to_string(u) + " is out of range");
    return add(Value(static_cast<int64_t>(u)));
  }
  bool number_float(number_float_t f, const string_t&) override { return add(Value(static_cast<double>(f))); }
  bool string(string_t& s) override { return add(Value(std::move(s))); }
  bool binary(binary_t&) override { return fail("binary values are not supported"); }

  bool start_object(std::size_t) override {
    if (!enter()) return false;
    stack_.push_back(Frame{std::make_shared<Dictionary>(), nullptr, {}});
    return true;
  }
  bool key(string_t& k) override {
    stack_.back().key = std::move(k);
    return true;
  }
  bool end_object() override {
    DictionaryRef dict = std::move(stack_.back().dict);
    stack_.pop_back();
    if (dict->size() == 1 && dict->contains("$data")) {
      const std::string* hex = dict->find("$data")->string();
      if (!hex) return fail("\"$data\" must hold a hexadecimal string");
      auto data = Data::fromHex(*hex);
      if (!data) return fail("\"$data\" is not an even number of hexadecimal digits");
      return add(Value(std::move(*data)));
    }
    return add(Value(std::move(dict)));
  }
  bool start_array(std::size_t) override {
    if (!enter()) return false;
    stack_.push_back(Frame{nullptr, std::make_shared<Array>(), {}});
    return true;
  }
  bool end_array() override {
    ArrayRef array = std::move(stack_.back().array);
    stack_.pop_back();
    return add(Value(std::move(array)));
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& ex) override {
    std::string what = ex.what();
    // Drop the library's "[json.exception.parse_error.101] " prefix.
    if (auto pos = what.find("] "); what.rfind("[json.exception", 0) == 0 && pos != std::string::npos)
      what = what.substr(pos + 2);
    return fail(what);
  }

  Value result() { return std::move(root_); }
  const std::string& error() const { return error_; }

 private:
  struct Frame {
    DictionaryRef dict;
    ArrayRef array;
    std::string key;
  };

  bool enter() {
    if (stack_.size() >= maxDepth_)
      return fail("nested deeper than " + std::to_string(maxDepth_) + " levels");
    return true;
  }
  bool add(Value v) {
    if (stack_.empty()) {
      root_ = std::move(v);
    } else if (stack_.back().dict) {
      stack_.back().dict->set(std::move(stack_.back().key), std::move(v));
    } else {
      stack_.back().array->push_back(std::move(v));
    }
    return true;
  }
  bool fail(std::string message) {
    if (error_.empty()) error_ = std::move(message);
    return false;
  }

  size_t maxDepth_;
  std::vector<Frame> stack_;
  Value root_;
  std::string error_;
};

nlohmann::ordered_json toOrdered(const Value& v) {
  using ojson = nlohmann::ordered_json;
  switch (v.type()) {
    case Value::Type::Null: return nullptr;
    case Value::Type::String: return *v.string();
    case Value::Type::Integer: return *v.integer();
    case Value::Type::Real: {
      double d = *v.real();
      return std::isfinite(d) ? ojson(d) : ojson(nullptr);
    }
    case Value::Type::Boolean: return *v.boolean();
    case Value::Type::Data: {
      ojson out = ojson::object();
      out["$data"] = v.data()->hex();
      return out;
    }
    case Value::Type::Array: {
      ojson out = ojson::array();
      for (const auto& e : *v.array()) out.push_back(toOrdered(e));
      return out;
    }
    case Value::Type::Dictionary: {
      ojson out = ojson::object();
      for (const auto& [k, e] : *v.dictionary()) out[k] = toOrdered(e);
      return out;
    }
  }
  return nullptr;
}

}  // namespace

JsonResult parseJson(std::string_view text, const JsonLimits& limits) {
  JsonResult result;
  if (text.size() > limits.maxBytes) {
    result.error = "larger than " + std::to_string(limits.maxBytes) + " bytes";
    return result;
  }
  // The parser takes a NUL byte for the end of the text and would accept whatever follows it.
  if (const size_t nul = text.find('\0'); nul != std::string_view::npos) {
    result.error = "NUL byte at offset " + std::to_string(nul) + ": JSON text holds none";
    return result;
  }
  ValueBuilder builder(limits.maxDepth);
  bool ok = false;
  try {
    ok = json::sax_parse(text.begin(), text.end(), &builder, nlohmann::detail::input_format_t::json, true);
  } catch (const std::exception& e) {  // allocation failure and the like; never escapes
    result.error = e.what();
    return result;
  }
  if (!ok || !builder.error().empty()) {
    result.error = builder.error().empty() ? "malformed JSON" : builder.error();
    return result;
  }
  result.value = builder.result();
  return result;
}

namespace {
JsonResult parseFile(const std::string& name, const RegularFileRead& file, const JsonLimits& limits) {
  JsonResult result;
  if (!file.ok()) {
    result.error = name + ": " + file.describe(limits.maxBytes);
    return result;
  }
  result = parseJson(file.contents, limits);
  if (!result.ok()) result.error = name + ": " + result.error;
  return result;
}
}  // namespace

JsonResult readJsonFile(const std::string& path, const JsonLimits& limits) {
  return parseFile(path, readRegularFile(path, limits.maxBytes), limits);
}

JsonResult readJsonFileUnderPlatformRoot(std::string_view absolutePath, const JsonLimits& limits) {
  return parseFile(resolvePath(absolutePath), readRegularFileUnderPlatformRoot(absolutePath, limits.maxBytes),
                   limits);
}

std::string toJson(const Value& value, int indent) {
  return toOrdered(value).dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace xr
