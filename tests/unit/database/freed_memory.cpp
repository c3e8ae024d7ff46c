#include "freed_memory.h"

#include <malloc.h>
#include <string.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <utility>

namespace testing_memory {

namespace {

std::atomic<freed_memory_probe*> g_probe{nullptr};

// size: what the block was allocated with, as far as its owner tells.
void inspect_before_free(void* block, std::size_t size) noexcept {
    if (block == nullptr) {
        return;
    }
    // Taken for the call, so that the probe never inspects itself.
    if (freed_memory_probe* probe = g_probe.exchange(nullptr)) {
        probe->inspect(block, size);
        g_probe.store(probe);
    }
}

}  // namespace

freed_memory_probe::freed_memory_probe(std::vector<std::vector<unsigned char>> patterns)
    : m_patterns(std::move(patterns)) {
    g_probe.store(this);
}

freed_memory_probe::~freed_memory_probe() {
    stop();
}

void freed_memory_probe::stop() noexcept {
    freed_memory_probe* self = this;
    g_probe.compare_exchange_strong(self, nullptr);
}

void freed_memory_probe::inspect(const void* block, std::size_t size) noexcept {
    for (const auto& pattern : m_patterns) {
        if (!pattern.empty() && ::memmem(block, size, pattern.data(), pattern.size()) != nullptr) {
            ++m_hits;
            return;
        }
    }
}

}  // namespace testing_memory

// Zeroed blocks: a block never shows what an earlier, unwatched owner of the memory left.
void* operator new(std::size_t size) {
    if (void* block = std::calloc(1, size == 0 ? 1 : size)) {
        return block;
    }
    throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void operator delete(void* block) noexcept {
    testing_memory::inspect_before_free(block, block == nullptr ? 0 : ::malloc_usable_size(block));
    std::free(block);
}

void operator delete[](void* block) noexcept {
    ::operator delete(block);
}

// Containers free with the size they allocated: only that much belongs to the block.
void operator delete(void* block, std::size_t size) noexcept {
    testing_memory::inspect_before_free(block, size);
    std::free(block);
}

void operator delete[](void* block, std::size_t size) noexcept {
    ::operator delete(block, size);
}
