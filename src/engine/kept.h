#pragma once
// What is made once from a statement's text (its plan, its prepared form) and found again by
// that text. Programs send the same text many times in a row, so the entry found last is
// checked before the text is hashed.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace etapas::engine {

template <class V>
class KeptByText {
 public:
  V* Find(std::string_view text) {
    if (last_ && last_->first == text) return &last_->second;
    auto it = map_.find(text);
    if (it == map_.end()) return nullptr;
    last_ = &*it;
    return &it->second;
  }
  // Keeps the value; past `limit` entries everything kept so far is let go first.
  V& Put(std::string text, V value, size_t limit) {
    if (map_.size() >= limit) Clear();
    auto& entry = *map_.insert_or_assign(std::move(text), std::move(value)).first;
    last_ = &entry;
    return entry.second;
  }
  void Clear() {
    last_ = nullptr;
    map_.clear();
  }
  size_t size() const { return map_.size(); }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, V, Hash, std::equal_to<>> map_;
  // Nodes of an unordered_map stay where they are when it grows.
  std::pair<const std::string, V>* last_ = nullptr;
};

}  // namespace etapas::engine
