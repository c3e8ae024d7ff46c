#include "daemon/service_paths.h"

namespace name::service {

// The configured directory is used as it stands: the configuration reader has already
// removed trailing slashes.
std::string make_service_path(const std::string& service_path) {
    return service_path + "/" + "service.bin";
}

std::string make_database_path(const std::string& service_path) {
    return service_path + "/" + "database.bin";
}

}  // namespace name::service
