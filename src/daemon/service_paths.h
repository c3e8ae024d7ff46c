#pragma once

#include <string>

// Where the daemon keeps its files.
namespace name::service {

// The configuration file naming the service directory.
inline constexpr const char* config_path = "/etc/ztctl/ztctl.conf";

// The pid file: the decimal process id and one newline while the daemon runs.
inline constexpr const char* pid_path = "/var/run/ztctld.pid";

// service_path + "/service.bin": the service secret followed by its key container.
std::string make_service_path(const std::string& service_path);

// service_path + "/database.bin": the encrypted account database.
std::string make_database_path(const std::string& service_path);

}  // namespace name::service
