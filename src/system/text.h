#pragma once

#include <string>
#include <vector>

// Small text helpers. Character classes are those of the "C" locale's single bytes, so
// bytes of multi-byte characters are never taken for blanks or letters.
namespace util {

// Removes every white-space character (blank, tab, "\n", "\r", vertical tab, form feed)
// wherever it stands.
void remove_spaces(std::string& text);

// text with every ASCII letter in lower case.
std::string lower(std::string&& text);

// Two lower-case hexadecimal digits per byte, no separators.
std::string hexlify(const std::vector<unsigned char>& data);

}  // namespace util
