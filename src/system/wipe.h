#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Overwriting secrets before their memory is given back: the compiler may not drop these
// writes as dead stores.
namespace util {

// Overwrites size bytes at data with zeros.
void wipe(void* data, std::size_t size) noexcept;

// Overwrites every element of the container with zeros; its size stays.
void wipe(std::vector<unsigned char>& data) noexcept;
void wipe(std::string& text) noexcept;
void wipe(std::wstring& text) noexcept;

}  // namespace util
