#pragma once

#include <span>
#include <string>
#include <system_error>

namespace foundation {

// One row of a category's fixed message table.
struct error_message {
    int value;
    const char* text;  // untranslated; marked with N_ for the catalogue
};

// Returns the translated text for value from table, or "Unknown error: " followed by
// the decimal value when the table has no such row.
std::string table_message(std::span<const error_message> table, int value);

// An error category whose messages come from a fixed table. Every subsystem keeps one
// instance as a function-local static in its <area>/<name>_error.cpp.
class table_category : public std::error_category {
  public:
    constexpr table_category(const char* name, std::span<const error_message> table) noexcept
        : m_name(name), m_table(table) {}

    const char* name() const noexcept override { return m_name; }
    std::string message(int value) const override { return table_message(m_table, value); }

  private:
    const char* m_name;
    std::span<const error_message> m_table;
};

}  // namespace foundation
