#include "common/ini_document.h"

#include <cctype>

#include "common/text.h"

namespace vigilo {
namespace {

bool IsWhite(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string TrimWhite(std::string_view text) {
  size_t start = 0;
  size_t end = text.size();
  while (start < end && IsWhite(text[start])) ++start;
  while (end > start && IsWhite(text[end - 1])) --end;
  return std::string(text.substr(start, end - start));
}

}  // namespace

IniDocument::IniDocument(std::string_view text) {
  size_t start = 0;
  while (start < text.size()) {
    size_t newline = text.find('\n', start);
    std::string_view body;
    std::string eol;
    if (newline == std::string_view::npos) {
      body = text.substr(start);
      start = text.size();
    } else {
      body = text.substr(start, newline - start);
      eol = "\n";
      start = newline + 1;
    }
    if (!body.empty() && body.back() == '\r') {
      body.remove_suffix(1);
      eol.insert(0, "\r");
    }
    lines_.push_back(Parse(std::string(body), std::move(eol)));
  }
  if (!lines_.empty() && !lines_.front().eol.empty()) eol_ = lines_.front().eol;
}

IniDocument::Line IniDocument::Parse(std::string text, std::string eol) {
  Line line;
  std::string_view rest = text;
  while (!rest.empty() && IsWhite(rest.front())) rest.remove_prefix(1);
  if (!rest.empty() && rest.front() == '[') {
    line.kind = LineKind::kSection;
    rest.remove_prefix(1);
    line.name = TrimWhite(rest.substr(0, rest.find(']')));
  } else if (!rest.empty() && rest.front() == ';') {
    line.kind = LineKind::kComment;
  } else if (size_t equals = rest.find('='); equals != std::string_view::npos) {
    line.name = TrimWhite(rest.substr(0, equals));
    if (!line.name.empty()) {
      line.kind = LineKind::kKey;
      line.value = TrimWhite(rest.substr(equals + 1));
    }
  }
  line.text = std::move(text);
  line.eol = std::move(eol);
  return line;
}

std::optional<size_t> IniDocument::FindSection(std::string_view section) const {
  std::string wanted = TrimWhite(section);
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == LineKind::kSection && EqualsNoCase(lines_[i].name, wanted)) return i;
  }
  return std::nullopt;
}

size_t IniDocument::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != LineKind::kSection) ++i;
  return i;
}

std::optional<size_t> IniDocument::FindKey(size_t header, std::string_view key) const {
  std::string wanted = TrimWhite(key);
  size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    if (lines_[i].kind == LineKind::kKey && EqualsNoCase(lines_[i].name, wanted)) return i;
  }
  return std::nullopt;
}

std::optional<std::string> IniDocument::Value(std::string_view section,
                                              std::string_view key) const {
  std::optional<size_t> header = FindSection(section);
  if (!header) return std::nullopt;
  std::optional<size_t> line = FindKey(*header, key);
  if (!line) return std::nullopt;
  return StripQuotes(lines_[*line].value);
}

std::string IniDocument::StripQuotes(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return std::string(value.substr(1, value.size() - 2));
  }
  return std::string(value);
}

std::string IniDocument::CheckNames(std::string_view section, std::string_view key,
                                    std::string_view value) {
  auto has_break = [](std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
  };
  if (TrimWhite(section).empty()) return "the section name is empty";
  if (has_break(section) || section.find(']') != std::string_view::npos) {
    return "the section name holds a line break or \"]\"";
  }
  if (TrimWhite(key).empty()) return "the key name is empty";
  std::string trimmed_key = TrimWhite(key);
  if (has_break(key) || key.find('=') != std::string_view::npos ||
      trimmed_key.front() == '[' || trimmed_key.front() == ';') {
    return "the key name holds a line break or \"=\", or starts with \"[\" or \";\"";
  }
  if (has_break(value)) return "the value holds a line break";
  return "";
}

void IniDocument::Insert(size_t at, std::string text) {
  // A last line without a line end gets one before anything follows it.
  if (at == lines_.size() && !lines_.empty() && lines_.back().eol.empty()) {
    lines_.back().eol = eol_;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at),
                Parse(std::move(text), eol_));
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string key_name = TrimWhite(key);
  std::optional<size_t> header = FindSection(section);
  if (!header) {
    if (!lines_.empty() && !TrimWhite(lines_.back().text).empty()) {
      Insert(lines_.size(), "");
    }
    Insert(lines_.size(), "[" + TrimWhite(section) + "]");
    Insert(lines_.size(), key_name + "=" + std::string(value));
    return;
  }
  if (std::optional<size_t> line = FindKey(*header, key_name)) {
    // Keep the spelling of the name already in the file.
    std::string text = lines_[*line].name + "=" + std::string(value);
    lines_[*line] = Parse(std::move(text), lines_[*line].eol);
    return;
  }
  size_t after = *header;
  size_t end = SectionEnd(*header);
  for (size_t i = *header + 1; i < end; ++i) {
    if (lines_[i].kind == LineKind::kKey) after = i;
  }
  Insert(after + 1, key_name + "=" + std::string(value));
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
  std::optional<size_t> header = FindSection(section);
  if (!header) return false;
  std::optional<size_t> line = FindKey(*header, key);
  if (!line) return false;
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*line));
  return true;
}

std::string IniDocument::Text() const {
  std::string out;
  for (const Line& line : lines_) {
    out += line.text;
    out += line.eol;
  }
  return out;
}

}  // namespace vigilo
