#include "database/id_manager.h"

#include "database/serializer.h"
#include "system/cast.h"

#include <utility>

namespace {

constexpr std::size_t kIdSize = 8;

// Calls add with every whole 8-byte group of data, read as an id.
template <typename Add>
void for_each_id(const std::vector<unsigned char>& data, Add add) {
    for (std::size_t at = 0; at + kIdSize <= data.size(); at += kIdSize) {
        const std::vector<unsigned char> group(
            data.begin() + static_cast<std::ptrdiff_t>(at),
            data.begin() + static_cast<std::ptrdiff_t>(at + kIdSize));
        add(cast::to_integer<std::uint64_t>(group));
    }
}

void append_id(std::vector<unsigned char>& out, std::uint64_t id) {
    const auto encoded = cast::to_vector<std::uint64_t>(id);
    out.insert(out.end(), encoded.begin(), encoded.end());
}

}  // namespace

std::uint64_t DatabaseIdManager::obtain_id() {
    std::uint64_t id;
    if (!m_released.empty()) {
        id = m_released.top();
        m_released.pop();
    } else {
        // A stored next id of 0 (a damaged ids section) must not hand out the reserved 0.
        if (m_next_id == 0) {
            m_next_id = 1;
        }
        id = m_next_id++;
    }
    m_used.insert(id);
    return id;
}

void DatabaseIdManager::release_id(std::uint64_t id) {
    if (m_used.erase(id) != 0) {
        m_released.push(id);
    }
}

std::vector<std::uint64_t> DatabaseIdManager::released_ids() const {
    min_heap copy = m_released;
    std::vector<std::uint64_t> ids;
    ids.reserve(copy.size());
    while (!copy.empty()) {
        ids.push_back(copy.top());
        copy.pop();
    }
    return ids;
}

DatabaseIdManager::bytes DatabaseIdManager::save() const {
    bytes used;
    used.reserve(m_used.size() * kIdSize);
    for (const auto id : m_used) {
        append_id(used, id);
    }
    bytes released;
    for (const auto id : released_ids()) {
        append_id(released, id);
    }
    Serializer frame;
    frame.push_back(cast::to_vector<std::uint64_t>(m_next_id));
    frame.push_back(std::move(used));
    frame.push_back(std::move(released));
    return frame.serialize();
}

void DatabaseIdManager::load(const bytes& data) {
    if (data.empty()) {
        return;
    }
    Serializer frame;
    frame.deserialize(data);
    m_next_id = cast::to_integer<std::uint64_t>(frame.pop_front());
    for_each_id(frame.pop_front(), [this](std::uint64_t id) { m_used.insert(id); });
    for_each_id(frame.pop_front(), [this](std::uint64_t id) {
        if (id != 0) {
            m_released.push(id);
        }
    });
}
