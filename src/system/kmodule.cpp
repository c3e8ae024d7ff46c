#include "system/kmodule.h"

#include <charconv>
#include <utility>
#include <vector>

#include "system/fio.h"

namespace {

constexpr const char* kModuleTable = "/proc/modules";

// The number in text in the given base; 0 when text is not one.
template <typename T>
T number_in(std::string_view text, int base) {
    T value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() ? value : 0;
}

// The fields of line between single spaces (consecutive spaces give empty fields).
std::vector<std::string_view> fields_of(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const std::size_t space = line.find(' ');
        fields.push_back(line.substr(0, space));
        if (space == std::string_view::npos) {
            return fields;
        }
        line.remove_prefix(space + 1);
    }
}

}  // namespace

KernelModule::KernelModule(std::string name) : m_name(std::move(name)) {}

KernelModule& KernelModule::parse(std::error_code& ec) {
    ec.clear();
    std::error_code read_error;
    const std::string table = fio::read(kModuleTable, read_error);
    if (read_error) {
        ec.assign(read_error.value(), std::system_category());
        return *this;
    }
    return parse_table(table);
}

KernelModule& KernelModule::parse_table(std::string_view table) {
    // A second look-up starts from scratch.
    m_dependencies.clear();
    m_taint.clear();
    m_size = 0;
    m_offset = 0;
    m_references = 0;
    m_state = ModuleState::not_found;
    while (!table.empty()) {
        const std::size_t end = table.find('\n');
        const std::string_view line = table.substr(0, end);
        table.remove_prefix(end == std::string_view::npos ? table.size() : end + 1);

        const auto fields = fields_of(line);
        if (fields[0] != m_name) {
            continue;
        }
        const auto field = [&fields](std::size_t i) {
            return i < fields.size() ? fields[i] : std::string_view();
        };
        m_size = number_in<std::uint64_t>(field(1), 10);
        m_references = number_in<std::uint32_t>(field(2), 10);
        m_dependencies = field(3);
        const std::string_view state = field(4);
        m_state = state == "Live"      ? ModuleState::live
                  : state == "Loading" ? ModuleState::loading
                                       : ModuleState::other;
        std::string_view offset = field(5);
        if (offset.starts_with("0x") || offset.starts_with("0X")) {
            offset.remove_prefix(2);
        }
        m_offset = number_in<std::uint64_t>(offset, 16);
        m_taint = field(6);
        break;
    }
    return *this;
}
