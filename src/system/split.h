#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace util {

// The pieces of text between delimiters: consecutive delimiters give empty pieces, a
// delimiter at the very end gives no empty last piece, an empty text gives no pieces.
std::vector<std::string> split(const std::string& text, char delimiter);

// Same, but with max > 0 at most max pieces: the last one keeps the rest of the text,
// delimiters included. max 0 means no limit.
std::vector<std::string> split(const std::string& text, char delimiter, std::size_t max);

// Same rules with a delimiter string; an empty delimiter gives the whole text as one piece.
std::vector<std::string> split(const std::string& text, const std::string& delimiter);

}  // namespace util
