#include "dbus/conf_generator.h"

#include <algorithm>

namespace {

constexpr const char* kServiceName = "ru.quorvex.server";

constexpr const char* kHead =
    "<!DOCTYPE busconfig PUBLIC\n"
    " \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
    "<busconfig>\n"
    "  <policy context=\"default\">\n"
    "    <allow own=\"";
constexpr const char* kTail =
    "\"/>\n"
    "    <allow send_interface=\"ru.quorvex.system\"/>\n"
    "    <allow send_destination=\"ru.quorvex.server\"/>\n"
    "  </policy>\n"
    "</busconfig>";

// Bytes that would break out of the XML attribute or of the file name, or that no bus
// name may hold anyway.
bool unsafe(unsigned char c) {
    return c < 0x20 || c == 0x7f || c == '/' || c == '<' || c == '>' || c == '&' || c == '"' ||
           c == '\'';
}

}  // namespace

std::pair<std::string, std::string> conf_generator::generate(const std::string& name,
                                                             std::error_code& ec) {
    ec.clear();
    if (name.size() > max_name_length) {
        ec = std::make_error_code(std::errc::filename_too_long);
        return {};
    }
    if (name.empty() || name.front() == '.' || name == kServiceName ||
        std::ranges::any_of(name, [](char c) { return unsafe(static_cast<unsigned char>(c)); })) {
        ec = std::make_error_code(std::errc::invalid_argument);
        return {};
    }
    return {kHead + name + kTail, name + ".conf"};
}

std::pair<std::string, std::string> conf_generator::generate(const std::string& name) {
    std::error_code ec;
    return generate(name, ec);
}
