#include "system/spawner.h"

#include <unistd.h>

#include <memory>

namespace {

// GLib wants both lists terminated by a null entry; a list the caller already ended with
// one is passed as it is.
std::vector<const char*> terminated(const std::vector<const char*>& list) {
    std::vector<const char*> out(list);
    if (out.empty() || out.back() != nullptr) {
        out.push_back(nullptr);
    }
    return out;
}

// GLib's spawn functions take non-const arrays but never modify the strings.
gchar** as_glib(std::vector<const char*>& list) {
    return const_cast<gchar**>(list.data());
}

struct g_free_deleter {
    void operator()(gchar* p) const noexcept { g_free(p); }
};
using g_string_ptr = std::unique_ptr<gchar, g_free_deleter>;

}  // namespace

Spawner::Spawner(const char* path) : m_argv{path} {}

Spawner& Spawner::argv(const std::vector<const char*>& list) {
    m_argv.insert(m_argv.end(), list.begin(), list.end());
    return *this;
}

Spawner& Spawner::envp(const std::vector<const char*>& list) {
    m_envp = list;
    return *this;
}

Spawner& Spawner::append_env(const std::vector<const char*>& list) {
    m_envp.insert(m_envp.end(), list.begin(), list.end());
    return *this;
}

Spawner& Spawner::pass_env() {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        m_envp.push_back(*entry);
    }
    return *this;
}

Spawner& Spawner::setflags(int flags) {
    m_flags = flags;
    return *this;
}

bool Spawner::run_sync(gchar** out, gchar** err, GError** error) {
    auto args = terminated(m_argv);
    auto env = terminated(m_envp);
    int status = 0;
    const gboolean ok =
        g_spawn_sync(nullptr, as_glib(args), as_glib(env), static_cast<GSpawnFlags>(m_flags),
                     nullptr, nullptr, out, err, &status, error);
    if (ok) {
        m_exit_status = status;
    }
    return ok != FALSE;
}

bool Spawner::spawn_sync(GError** error) {
    return run_sync(nullptr, nullptr, error);
}

bool Spawner::spawn_sync(std::string& out, GError** error) {
    gchar* raw_out = nullptr;
    const bool ok = run_sync(&raw_out, nullptr, error);
    g_string_ptr owned_out(raw_out);
    if (ok && owned_out) {
        out = owned_out.get();
    }
    return ok;
}

bool Spawner::spawn_sync(std::string& out, std::string& err, GError** error) {
    gchar* raw_out = nullptr;
    gchar* raw_err = nullptr;
    const bool ok = run_sync(&raw_out, &raw_err, error);
    g_string_ptr owned_out(raw_out);
    g_string_ptr owned_err(raw_err);
    if (ok) {
        if (owned_out) {
            out = owned_out.get();
        }
        if (owned_err) {
            err = owned_err.get();
        }
    }
    return ok;
}

bool Spawner::spawn_async(GError** error) {
    auto args = terminated(m_argv);
    auto env = terminated(m_envp);
    return g_spawn_async(nullptr, as_glib(args), as_glib(env), static_cast<GSpawnFlags>(m_flags),
                         nullptr, nullptr, nullptr, error) != FALSE;
}

std::pair<Spawner::SignalType, int> Spawner::get_exit_status() const noexcept {
    return decode_status(m_exit_status);
}

std::pair<Spawner::SignalType, int> Spawner::decode_status(int status) noexcept {
    const int low7 = status & 0x7F;
    const int low8 = status & 0xFF;
    const int high = (status >> 8) & 0xFF;
    if (low7 == 0) {
        return {SignalType::exited, high};
    }
    if (low8 == 0x7F) {
        return {SignalType::stopped, high};
    }
    if (status == 0xFFFF) {
        return {SignalType::continued, 0};
    }
    if (low7 != 0x7F) {
        return {SignalType::signaled, low7};
    }
    return {SignalType::unknown, -1};
}
