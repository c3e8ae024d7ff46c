#pragma once

#include <cstdint>
#include <functional>
#include <queue>
#include <unordered_set>
#include <vector>

// Allocator of user ids. Ids start at 1 (0 is never handed out); released ids are reused
// smallest first before new ones are taken.
class DatabaseIdManager {
  public:
    using bytes = std::vector<unsigned char>;

    // Takes the smallest released id, or else the next new id; marks it in use.
    std::uint64_t obtain_id();
    // Returns an id in use to the pool; an id not in use changes nothing.
    void release_id(std::uint64_t id);

    // Frame items: next id (8), the ids in use (8 bytes each), the released ids in
    // ascending order (8 bytes each).
    bytes save() const;
    // Adds the state of a saved frame to the current one (nothing is cleared first); an
    // empty input does nothing, a trailing partial 8-byte group is ignored.
    void load(const bytes& data);

    std::uint64_t next_id() const noexcept { return m_next_id; }
    const std::unordered_set<std::uint64_t>& used_ids() const noexcept { return m_used; }
    // The released ids in ascending order.
    std::vector<std::uint64_t> released_ids() const;

  private:
    using min_heap = std::priority_queue<std::uint64_t, std::vector<std::uint64_t>, std::greater<>>;

    std::uint64_t m_next_id = 1;
    std::unordered_set<std::uint64_t> m_used;
    min_heap m_released;
};
