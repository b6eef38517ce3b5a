#include "platform/sql/text_dictionary.h"

#include <functional>
#include <stdexcept>

namespace vigilo::sql {

namespace {

size_t Hash(std::string_view text) { return std::hash<std::string_view>{}(text); }

}  // namespace

size_t TextDictionary::SlotOf(std::string_view text) const {
  const size_t mask = slots_.size() - 1;
  for (size_t slot = Hash(text) & mask;; slot = (slot + 1) & mask) {
    const uint32_t entry = slots_[slot];
    if (entry == 0 || At(entry - 1) == text) return slot;
  }
}

uint32_t TextDictionary::Find(std::string_view text) const {
  if (slots_.empty()) return kNone;
  const uint32_t entry = slots_[SlotOf(text)];
  return entry == 0 ? kNone : entry - 1;
}

uint32_t TextDictionary::Intern(std::string_view text) {
  // At most half full, so that probes stay short.
  if (2 * (size_t{size()} + 1) > slots_.size()) Grow();
  const size_t slot = SlotOf(text);
  if (slots_[slot] != 0) return slots_[slot] - 1;
  if (arena_.size() + text.size() > UINT32_MAX || size() + 2 >= kNone) {
    throw std::length_error("a column holds more distinct text than the engine keeps");
  }
  arena_.append(text);
  starts_.push_back(static_cast<uint32_t>(arena_.size()));
  slots_[slot] = size();
  return size() - 1;
}

void TextDictionary::Grow() {
  std::vector<uint32_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 64 : 2 * old.size(), 0);
  const size_t mask = slots_.size() - 1;
  for (uint32_t entry : old) {
    if (entry == 0) continue;
    size_t slot = Hash(At(entry - 1)) & mask;
    while (slots_[slot] != 0) slot = (slot + 1) & mask;
    slots_[slot] = entry;
  }
}

void TextDictionary::Clear() {
  arena_ = {};
  starts_ = {0};
  slots_ = {};
}

}  // namespace vigilo::sql
