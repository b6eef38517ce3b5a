#include "platform/sql/text_dictionary.h"

#include <cstring>
#include <stdexcept>

namespace vigilo::sql {

namespace {

// Column values are short; a word at a time is enough to spread them.
size_t Hash(std::string_view text) {
  uint64_t h = 0x9E3779B97F4A7C15ULL ^ text.size();
  const char* p = text.data();
  size_t n = text.size();
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    h = (h ^ word) * 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 29;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, p, n);
  h = (h ^ tail) * 0x94D049BB133111EBULL;
  return static_cast<size_t>(h ^ (h >> 32));
}

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
