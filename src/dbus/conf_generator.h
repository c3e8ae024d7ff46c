#pragma once

#include <cstddef>
#include <string>
#include <system_error>
#include <utility>

// The system-bus policy file of a registered user's client: it lets any process own the
// per-user bus name and talk to the daemon. Produces the file's text and name only; the
// caller writes it into "/etc/dbus-1/system.d", which the bus reads by itself.
class conf_generator {
  public:
    conf_generator() = delete;

    // The longest name the policy text was laid out for (a 512-byte text buffer).
    static constexpr std::size_t max_name_length = 182;

    // Returns (file text, file name) for the bus name, the file name being name + ".conf".
    // The name lands inside an XML attribute and in a file name, so it is refused, never
    // shortened or escaped, when it is empty or longer than max_name_length
    // (ENAMETOOLONG), holds "/", NUL, a control character or one of <>&"', starts with
    // ".", or is the service's own name, whose policy is the installation's (EINVAL). A
    // refusal returns two empty strings.
    static std::pair<std::string, std::string> generate(const std::string& name,
                                                        std::error_code& ec);
    // As above for callers that only need to know whether a file can be written: a refused
    // name gives two empty strings.
    static std::pair<std::string, std::string> generate(const std::string& name);
};
