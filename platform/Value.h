#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "platform/Data.h"

namespace xr {

class Value;
class Dictionary;
using Array = std::vector<Value>;
// Containers are shared by reference: storing one and changing it later shows through.
using ArrayRef = std::shared_ptr<Array>;
using DictionaryRef = std::shared_ptr<Dictionary>;

// One value of the system's value model: null (absent), string, integer, real, boolean,
// byte string, array or dictionary.
class Value {
 public:
  enum class Type { Null, String, Integer, Real, Boolean, Data, Array, Dictionary };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(std::string_view s) : v_(std::string(s)) {}
  Value(const std::optional<std::string>& s) {
    if (s) v_ = *s;
  }
  template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
  Value(T i) : v_(static_cast<int64_t>(i)) {}
  template <typename T, std::enable_if_t<std::is_same_v<T, bool>, int> = 0>
  Value(T b) : v_(b) {}
  Value(double d) : v_(d) {}
  Value(Data d) : v_(std::move(d)) {}
  Value(ArrayRef a) {
    if (a) v_ = std::move(a);
  }
  Value(DictionaryRef d) {
    if (d) v_ = std::move(d);
  }

  Type type() const { return static_cast<Type>(v_.index()); }
  bool isNull() const { return type() == Type::Null; }
  explicit operator bool() const { return !isNull(); }

  // Typed access: nullptr / nullopt when the value is of another type.
  // Pointers into a temporary would dangle, so these exist for lvalues only.
  const std::string* string() const& { return std::get_if<std::string>(&v_); }
  const std::string* string() const&& = delete;
  // A copy of the text, usable on temporaries; nullopt for other types.
  std::optional<std::string> stringValue() const {
    if (auto p = string()) return *p;
    return std::nullopt;
  }
  std::optional<int64_t> integer() const;
  std::optional<double> real() const;
  std::optional<bool> boolean() const;
  const Data* data() const& { return std::get_if<Data>(&v_); }
  const Data* data() const&& = delete;
  ArrayRef array() const;
  DictionaryRef dictionary() const;

  // Deep equality (containers compared by contents).
  friend bool operator==(const Value& a, const Value& b);

 private:
  std::variant<std::monostate, std::string, int64_t, double, bool, Data, ArrayRef, DictionaryRef> v_;
};

const char* typeName(Value::Type type);

// A dictionary with string keys that keeps its keys in insertion order.
class Dictionary {
 public:
  using Entry = std::pair<std::string, Value>;

  Dictionary() = default;
  Dictionary(std::initializer_list<Entry> entries);

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  bool contains(std::string_view key) const { return find(key) != nullptr; }
  // nullptr when absent.
  const Value* find(std::string_view key) const;
  // The value under key, null when absent.
  Value get(std::string_view key) const;
  // Replaces in place when the key exists, otherwise appends.
  void set(std::string key, Value value);
  bool remove(std::string_view key);
  void clear();

  std::vector<Entry>::const_iterator begin() const { return entries_.begin(); }
  std::vector<Entry>::const_iterator end() const { return entries_.end(); }

  friend bool operator==(const Dictionary& a, const Dictionary& b) { return a.entries_ == b.entries_; }

 private:
  std::vector<Entry> entries_;
  std::unordered_map<std::string, size_t> index_;
};

inline DictionaryRef makeDictionary(std::initializer_list<Dictionary::Entry> entries = {}) {
  return std::make_shared<Dictionary>(entries);
}
inline ArrayRef makeArray(std::initializer_list<Value> values = {}) {
  return std::make_shared<Array>(values);
}
// Shallow mutable copies: new containers, the same nested containers.
inline DictionaryRef mutableCopy(const DictionaryRef& d) {
  return d ? std::make_shared<Dictionary>(*d) : nullptr;
}
inline ArrayRef mutableCopy(const ArrayRef& a) { return a ? std::make_shared<Array>(*a) : nullptr; }

}  // namespace xr
