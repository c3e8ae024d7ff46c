#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

// One kernel module as the kernel's module table ("/proc/modules") lists it.
class KernelModule {
  public:
    enum class ModuleState : int {
        live = 0,       // the state field reads "Live"
        loading = 1,    // "Loading"
        other = 2,      // any other state text
        not_found = 3,  // the table has no line for the module
    };

    // A module called name, not looked up yet: numbers 0, state not_found.
    explicit KernelModule(std::string name);

    // Looks the module up in "/proc/modules". An unreadable table gives errno (system
    // category) and leaves the object unchanged; a module missing from it is no error.
    KernelModule& parse(std::error_code& ec);
    // Looks the module up in the text of such a table: the first line whose first field is
    // the name.
    KernelModule& parse_table(std::string_view table);

    // True only while the module is live.
    bool loaded() const noexcept { return m_state == ModuleState::live; }
    ModuleState get_state() const noexcept { return m_state; }
    const std::string& get_name() const noexcept { return m_name; }
    std::uint64_t get_size() const noexcept { return m_size; }
    std::uint64_t get_offset() const noexcept { return m_offset; }
    std::uint32_t get_references() const noexcept { return m_references; }
    const std::string& get_dependencies() const noexcept { return m_dependencies; }
    const std::string& get_taint() const noexcept { return m_taint; }

  private:
    std::string m_name;
    std::string m_dependencies;
    std::string m_taint;
    std::uint64_t m_size = 0;
    std::uint64_t m_offset = 0;
    std::uint32_t m_references = 0;
    ModuleState m_state = ModuleState::not_found;
};
