#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>

namespace ztl {

// Named shared objects handed to request handlers. No type is recorded: a reader must ask
// for exactly the type that was stored. Used from the main thread only.
class StoreManager {
  public:
    // Deleter of borrowed entries: the owner keeps the object alive longer than the store.
    template <typename T>
    struct NoneDeleter {
        void operator()(T*) const noexcept {}
    };

    // Registers object without ownership. Returns false and keeps the existing entry when
    // name is already present.
    template <typename T>
    bool add(const std::string& name, T& object) {
        return insert(name, std::shared_ptr<void>(std::addressof(object), NoneDeleter<T>{}));
    }

    // Registers a share of object. Returns false and keeps the existing entry when name is
    // already present.
    template <typename T>
    bool add(const std::string& name, std::shared_ptr<T>& object) {
        return insert(name, std::static_pointer_cast<void>(object));
    }

    template <typename T>
    bool add(const std::string& name, std::shared_ptr<T>&& object) {
        return insert(name, std::static_pointer_cast<void>(std::move(object)));
    }

    // Returns the entry as a T (unchecked conversion), or an empty pointer when name is
    // absent.
    template <typename T>
    std::shared_ptr<T> get(const std::string& name) const {
        auto it = m_objects.find(name);
        if (it == m_objects.end()) {
            return {};
        }
        return std::static_pointer_cast<T>(it->second);
    }

    // Erases the entry of name, if any.
    void remove(const std::string& name) { m_objects.erase(name); }

  private:
    bool insert(const std::string& name, std::shared_ptr<void>&& object) {
        return m_objects.try_emplace(name, std::move(object)).second;
    }

    std::unordered_map<std::string, std::shared_ptr<void>> m_objects;
};

}  // namespace ztl
