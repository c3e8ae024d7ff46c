#include "dbus/bus_name.h"

namespace misc {

std::string get_server_bus_name(const std::string& user) {
    return "ru.quorvex." + user;
}

}  // namespace misc
