#include "platform/Value.h"

namespace xr {

std::optional<int64_t> Value::integer() const {
  if (auto p = std::get_if<int64_t>(&v_)) return *p;
  return std::nullopt;
}

std::optional<double> Value::real() const {
  if (auto p = std::get_if<double>(&v_)) return *p;
  return std::nullopt;
}

std::optional<bool> Value::boolean() const {
  if (auto p = std::get_if<bool>(&v_)) return *p;
  return std::nullopt;
}

ArrayRef Value::array() const {
  if (auto p = std::get_if<ArrayRef>(&v_)) return *p;
  return nullptr;
}

DictionaryRef Value::dictionary() const {
  if (auto p = std::get_if<DictionaryRef>(&v_)) return *p;
  return nullptr;
}

bool operator==(const Value& a, const Value& b) {
  if (a.type() != b.type()) return false;
  switch (a.type()) {
    case Value::Type::Array: {
      auto x = a.array(), y = b.array();
      return x == y || *x == *y;
    }
    case Value::Type::Dictionary: {
      auto x = a.dictionary(), y = b.dictionary();
      return x == y || *x == *y;
    }
    default:
      return a.v_ == b.v_;
  }
}

const char* typeName(Value::Type type) {
  switch (type) {
    case Value::Type::Null: return "null";
    case Value::Type::String: return "string";
    case Value::Type::Integer: return "integer";
    case Value::Type::Real: return "real";
    case Value::Type::Boolean: return "boolean";
    case Value::Type::Data: return "byte string";
    case Value::Type::Array: return "array";
    case Value::Type::Dictionary: return "dictionary";
  }
  return "?";
}

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
  for (const auto& e : entries) set(e.first, e.second);
}

const Value* Dictionary::find(std::string_view key) const {
  // Small dictionaries are the common case; a linear scan beats hashing there.
  if (entries_.size() <= 8) {
    for (const auto& e : entries_)
      if (e.first == key) return &e.second;
    return nullptr;
  }
  auto it = index_.find(std::string(key));
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

Value Dictionary::get(std::string_view key) const {
  const Value* v = find(key);
  return v ? *v : Value();
}

void Dictionary::set(std::string key, Value value) {
  auto it = index_.find(key);
  if (it != index_.end()) {
    entries_[it->second].second = std::move(value);
    return;
  }
  index_.emplace(key, entries_.size());
  entries_.emplace_back(std::move(key), std::move(value));
}

bool Dictionary::remove(std::string_view key) {
  auto it = index_.find(std::string(key));
  if (it == index_.end()) return false;
  size_t pos = it->second;
  index_.erase(it);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
  for (size_t i = pos; i < entries_.size(); ++i) index_[entries_[i].first] = i;
  return true;
}

void Dictionary::clear() {
  entries_.clear();
  index_.clear();
}

}  // namespace xr
