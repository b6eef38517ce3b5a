// Small text helpers shared by every subsystem: splitting, trimming, reading
// lines of any length, and comparisons without regard to letter case.
//
// Texts are single-byte; "blank" means the space character unless a function
// says otherwise, as dBase character fields are padded with spaces only.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace vigilo {

// Splits text at every occurrence of sep. Empty pieces are kept, so "a,,b"
// gives three pieces and "" gives one empty piece; callers that drop empty
// entries do so themselves.
std::vector<std::string> SplitText(std::string_view text, char sep);

// Same, dropping empty pieces.
std::vector<std::string> SplitNonEmpty(std::string_view text, char sep);

// Removes trailing / leading blanks in place (spaces only).
void TrimRight(std::string& text);
void TrimLeft(std::string& text);
void Trim(std::string& text);

// Copies with blanks removed, for use in expressions.
std::string TrimmedRight(std::string_view text);
std::string Trimmed(std::string_view text);

// Reads one line of any length; the line end ("\n" or "\r\n") is not part of
// the result. Returns false only when nothing could be read (end of stream).
bool ReadLine(std::istream& in, std::string& line);

// ASCII case folding and comparison.
std::string ToUpper(std::string_view text);
std::string ToLower(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

// Value of the leading decimal number (leading blanks and one sign allowed,
// the first other character ends it; no digits read as 0), as atol() does.
long LeadingNumber(std::string_view text);

}  // namespace vigilo
