#pragma once

#include <cstddef>

// The number of global operator new calls so far in this program (the benchmark replaces
// the global allocation functions to count them).
std::size_t allocation_count() noexcept;
