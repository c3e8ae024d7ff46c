// ztctl-provision: creates the service directory of ztctld from nothing.
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "database/database_file.h"
#include "foundation/defer.h"
#include "provision.h"
#include "provision_options.h"
#include "system/cast.h"
#include "system/staged_file.h"
#include "system/unique_fd.h"
#include "system/wipe.h"

namespace {

constexpr const char* kProgram = "ztctl-provision";

int fail(const std::string& message) {
    std::cerr << kProgram << ": " << message << '\n';
    return 1;
}

// A password file holds one password; anything larger is not one.
constexpr std::size_t kMaxPassword = 4096;

// Reads fd into text, which has room for kMaxPassword + 1 bytes, so that it never grows and
// leaves an unwiped copy behind; with line, up to the first newline only, byte by byte, so
// that nothing of the password waits in a stream buffer. False on a read error or a text
// longer than kMaxPassword.
bool read_into(int fd, bool line, std::string& text) {
    char buffer[512];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, line ? 1 : sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            explicit_bzero(buffer, sizeof buffer);
            return got == 0;
        }
        if (line && buffer[0] == '\n') {
            text.push_back('\n');
            break;
        }
        if (text.size() + static_cast<std::size_t>(got) > kMaxPassword) {
            explicit_bzero(buffer, sizeof buffer);
            errno = EFBIG;
            return false;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
    explicit_bzero(buffer, sizeof buffer);
    return true;
}

// The password in file ("-": one line of standard input), without one trailing newline.
// Every buffer that held its text is wiped.
bool read_password(const std::string& file, std::wstring& password, std::string& error) {
    std::string text;
    text.reserve(kMaxPassword + 1);
    const auto forget = foundation::make_deferred([&text] { util::wipe(text); });
    bool read = false;
    if (file == "-") {
        read = read_into(STDIN_FILENO, true, text);
    } else {
        const os::unique_fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
        if (!fd) {
            error = "cannot read password file " + file + ": " + std::strerror(errno);
            return false;
        }
        read = read_into(fd.get(), false, text);
    }
    if (!read) {
        error = "cannot read password file " + file + ": " + std::strerror(errno);
        return false;
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (text.empty()) {
        error = "empty password in " + file;
        return false;
    }
    try {
        std::wstring converted = cast::to_wstring(text);
        util::wipe(password);
        password.swap(converted);
        util::wipe(converted);
    } catch (const std::range_error&) {
        error = "the password in " + file + " is not valid UTF-8";
        return false;
    }
    return true;
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path.front() == '/') {
        return path;
    }
    std::vector<char> cwd(4096);
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        return path;
    }
    return std::string(cwd.data()) + "/" + path;
}

std::string parent_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

// Creates path and its missing parents; the last one gets mode. Reports what it created.
bool make_directories(const std::string& path, mode_t mode, std::string& error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (!S_ISDIR(info.st_mode)) {
            error = path + " exists and is not a directory";
            return false;
        }
        return true;
    }
    if (!make_directories(parent_of(path), 0755, error)) {
        return false;
    }
    // chmod as well: the process mask must not widen or narrow the mode.
    if (::mkdir(path.c_str(), mode) != 0 || ::chmod(path.c_str(), mode) != 0) {
        error = "cannot create directory " + path + ": " + std::strerror(errno);
        return false;
    }
    std::cout << "created directory " << path << " (mode " << std::oct << mode << std::dec << ")\n";
    return true;
}

// A file to write; its data may be a secret (the service file, a token) and is wiped when
// the plan goes.
// The service directory holds the service secret: made with mode 0700, and an existing one
// that lets others in is narrowed to 0700 (a link in its place is refused, not followed).
bool make_private_directory(const std::string& path, std::string& error) {
    if (!make_directories(path, 0700, error)) {
        return false;
    }
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        error = path + " is not a directory";
        return false;
    }
    if ((info.st_mode & 077) != 0) {
        if (::chmod(path.c_str(), 0700) != 0) {
            error = "cannot narrow the mode of " + path + ": " + std::strerror(errno);
            return false;
        }
        std::cout << "narrowed the mode of directory " << path << " to 700\n";
    }
    return true;
}

struct planned_file {
    std::string path;
    std::vector<unsigned char> data;
    std::string what;
    mode_t mode = 0600;

    ~planned_file() { util::wipe(data); }
};

int run(const provision::options& options) {
    std::vector<provision::admin_request> admins;
    for (const auto& [name, file] : options.admins) {
        provision::admin_request request{name, {}};
        std::string error;
        if (!read_password(file, request.password, error)) {
            return fail(error);
        }
        admins.push_back(std::move(request));
    }

    std::string dir = absolute(options.service_dir);
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    const std::string service_path = dir + "/service.bin";
    const std::string database_path = dir + "/database.bin";

    std::vector<std::string> targets = {service_path, database_path};
    for (const auto& [name, file] : options.export_containers) {
        targets.push_back(absolute(file));
    }
    for (const auto& [name, file] : options.export_tokens) {
        targets.push_back(absolute(file));
    }
    // The service's public keys go beside the configuration, where clients look for them.
    const std::string keys_path = parent_of(options.config_path) + "/service.pub";
    if (options.write_config) {
        targets.push_back(options.config_path);
        targets.push_back(keys_path);
    }
    // The sample configuration that an install leaves behind is no one's configuration yet.
    const bool replaces_sample =
        options.write_config && provision::is_installed_sample_config(options.config_path);
    if (!options.force) {
        for (const auto& target : targets) {
            struct stat info {};
            if (replaces_sample && target == options.config_path) {
                continue;
            }
            if (::lstat(target.c_str(), &info) == 0) {
                return fail(target + " already exists; nothing was written (--force replaces it)");
            }
        }
    }

    std::string error;
    if (!make_private_directory(dir, error)) {
        return fail(error);
    }

    crypto_factory factory = provision::make_factory();
    if (!factory) {
        return fail("cannot initialise the crypto provider");
    }
    const std::time_t now = std::time(nullptr);
    std::error_code ec;
    provision::service_credentials service;
    if (!provision::make_service(factory, now, service, ec)) {
        return fail("cannot create the service key container: " + ec.message());
    }

    // Every output is written under a temporary name beside its target first; only when all
    // of them are complete are they renamed into place, so a failure leaves every previous
    // file as it was.
    const auto nothing_changed = [](const std::string& why) {
        return fail(why + "; nothing was changed");
    };
    fio::staged_file staged_database;
    if (!staged_database.create(database_path, ec)) {
        return nothing_changed("cannot write " + database_path + ": " + ec.message());
    }
    // The database writes its file itself (through a file of its own beside it): it gets
    // the fresh temporary name, which nobody else can have created in the 0700 directory.
    ::unlink(staged_database.temporary_path().c_str());
    std::vector<provision::admin_result> created;
    if (!provision::write_database(factory, service, staged_database.temporary_path(), admins,
                                   options.iterations, now, created, ec)) {
        return nothing_changed("cannot write " + database_path + ": " + ec.message());
    }

    std::vector<planned_file> files;
    files.push_back(
        {service_path, provision::service_file(service), "service secret and key container"});
    const auto find = [&](const std::string& name) -> const provision::admin_result& {
        for (const auto& admin : created) {
            if (admin.name == name) {
                return admin;
            }
        }
        throw std::logic_error("unknown administrator");  // parse() rules this out
    };
    for (const auto& [name, file] : options.export_containers) {
        files.push_back(
            {absolute(file), find(name).container, "key container of \"" + name + "\""});
    }
    for (const auto& [name, file] : options.export_tokens) {
        files.push_back({absolute(file), find(name).token, "session token of \"" + name + "\""});
    }
    if (options.write_config) {
        const std::string text = "# Written by ztctl-provision.\nservice_path = " + dir + "\n";
        if (!make_directories(parent_of(options.config_path), 0755, error)) {
            return nothing_changed(error);
        }
        files.push_back({options.config_path, cast::to_vector(text), "configuration", 0600});
        files.push_back({keys_path,
                         cast::to_vector(client::format_service_keys(service.public_keys)),
                         "the service's public keys, for clients to pin", 0644});
    }
    std::vector<fio::staged_file> staged(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!staged[i].create(files[i].path, ec) ||
            !staged[i].set_attributes(files[i].mode, ::geteuid(), ::getegid(), ec) ||
            !staged[i].write(files[i].data.data(), files[i].data.size(), ec)) {
            return nothing_changed("cannot write " + files[i].path + ": " + ec.message());
        }
    }
    staged.push_back(std::move(staged_database));
    if (!provision::commit_all(staged, ec)) {
        return nothing_changed("cannot replace the previous files: " + ec.message());
    }

    std::cout << "wrote " << database_path << " (mode 600) with " << created.size()
              << " administrator(s):\n";
    for (const auto& admin : created) {
        std::cout << "  id " << admin.id << " \"" << admin.name << "\", key container of "
                  << admin.container.size() << " bytes, " << options.iterations << " iterations\n";
    }
    if (replaces_sample) {
        std::cout << "replaced the unchanged sample configuration " << options.config_path << '\n';
    }
    for (const auto& file : files) {
        std::cout << "wrote " << file.path << " (mode " << std::oct << file.mode << std::dec
                  << "): " << file.what << '\n';
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    provision::options options;
    std::string error;
    if (!provision::parse(args, options, error)) {
        std::cerr << kProgram << ": " << error << "\n\n" << provision::usage();
        return 2;
    }
    if (options.help) {
        std::cout << provision::usage();
        return 0;
    }
    return run(options);
}
