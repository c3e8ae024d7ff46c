#include "client/service_error.h"

#include <map>
#include <memory>
#include <mutex>

#include "config/config_manager_error.h"
#include "crypto/crypto_error.h"
#include "daemon/ztctl_error.h"
#include "database/dberror.h"
#include "foundation/i18n.h"
#include "session/network_error.h"
#include "session/transfer_error.h"

namespace client {

namespace {

// Bounds on what a misbehaving service can make the client keep: categories live for the
// whole process, because error codes refer to them.
constexpr std::size_t kMaxCategories = 32;
constexpr std::size_t kMaxNameLength = 64;
constexpr std::size_t kMaxTexts = 64;
constexpr std::size_t kMaxTextLength = 1024;

// A category the library does not link: it answers the name and the texts the service gave.
class remote_category final : public std::error_category {
  public:
    explicit remote_category(std::string name) : m_name(std::move(name)) {}

    const char* name() const noexcept override { return m_name.c_str(); }

    std::string message(int value) const override {
        std::lock_guard lock(m_mutex);
        const auto found = m_texts.find(value);
        if (found != m_texts.end()) {
            return found->second;
        }
        return std::string(_("Unknown error: ")) + std::to_string(value);
    }

    // Keeps the service's text for value (the first one given wins).
    void remember(int value, const std::string& text) {
        std::lock_guard lock(m_mutex);
        if (m_texts.size() < kMaxTexts && !text.empty()) {
            m_texts.emplace(value, text.substr(0, kMaxTextLength));
        }
    }

  private:
    std::string m_name;
    mutable std::mutex m_mutex;
    std::map<int, std::string> m_texts;
};

std::mutex registry_mutex;

std::map<std::string, std::unique_ptr<remote_category>>& registry() {
    static auto* categories = new std::map<std::string, std::unique_ptr<remote_category>>();
    return *categories;
}

// The remote category of that name; one named "remote" once the bounds are reached.
remote_category& remote_for(const std::string& name) {
    std::lock_guard lock(registry_mutex);
    auto& categories = registry();
    const std::string key = name.size() <= kMaxNameLength && !name.empty() &&
                                    (categories.size() < kMaxCategories || categories.count(name))
                                ? name
                                : std::string("remote");
    auto& slot = categories[key];
    if (!slot) {
        slot = std::make_unique<remote_category>(key);
    }
    return *slot;
}

const std::error_category* known_category(const std::string& name) {
    const std::error_category* const known[] = {
        &app_error_category(),    &transfer_category(),    &network_category(),
        &crypto_category(),       &database_category(),    &config_category(),
        &std::generic_category(), &std::system_category(),
    };
    for (const std::error_category* category : known) {
        if (name == category->name()) {
            return category;
        }
    }
    return nullptr;
}

}  // namespace

std::error_code service_error(int value, const std::string& category, const std::string& message) {
    if (value == 0) {
        return {};
    }
    if (const std::error_category* known = known_category(category)) {
        return {value, *known};
    }
    remote_category& remote = remote_for(category);
    remote.remember(value, message);
    return {value, remote};
}

bool is_remote(const std::error_code& ec) noexcept {
    return dynamic_cast<const remote_category*>(&ec.category()) != nullptr;
}

}  // namespace client
