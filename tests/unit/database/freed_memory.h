#pragma once

// Test support: catches secrets left in freed memory. A test binary that links
// freed_memory.cpp gets an operator new that hands out zeroed blocks and an operator delete
// that, while a probe is watching, looks into every block before it is freed. A block that
// still holds a watched pattern was freed without being wiped.

#include <cstddef>
#include <vector>

namespace testing_memory {

// Watches every block freed through operator delete while it lives.
class freed_memory_probe {
  public:
    // Starts watching for the patterns. Build them before: temporaries freed after the
    // watch has started would count.
    explicit freed_memory_probe(std::vector<std::vector<unsigned char>> patterns);
    ~freed_memory_probe();
    freed_memory_probe(const freed_memory_probe&) = delete;
    freed_memory_probe& operator=(const freed_memory_probe&) = delete;

    // Ends the watch early; hits() keeps its count.
    void stop() noexcept;
    // Freed blocks that held any of the patterns.
    std::size_t hits() const noexcept { return m_hits; }

    // Called by operator delete with a block about to be freed.
    void inspect(const void* block, std::size_t size) noexcept;

  private:
    std::vector<std::vector<unsigned char>> m_patterns;
    std::size_t m_hits = 0;
};

}  // namespace testing_memory
