// The checks the handlers run on names, paths and UUID texts taken from requests. Names:
// a name accepted as an account lands as one component below the mount root and in a bus
// policy file that it cannot break out of. Paths (all inside a scratch tree made for the
// run, with a link, a directory of another owner and a world-writable one): a container
// path accepted for creation has no link and no "."/".." in any directory the kernel would
// walk; a mount directory accepted is a real directory reached through no link. UUID texts:
// what parses prints back as the same text.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "daemon/ztctl_error.h"
#include "dbus/conf_generator.h"
#include "fuzz_input.h"
#include "system/misc.h"
#include "system/uuid.h"

namespace {

using fuzz::check;
namespace fs = std::filesystem;

// The scratch tree, removed when the process exits normally:
//   root/   real/ (root, 0755)  shared/ (0777)  other/ (uid 1000)  link -> real
//           real/inner/ (0755)  real/disk.img   file
struct scratch_tree {
    std::string root;

    scratch_tree() {
        std::string pattern = std::string(ZT_FUZZ_SCRATCH_PARENT) + "/paths-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        char resolved[PATH_MAX];
        if (::realpath(pattern.c_str(), resolved) == nullptr) {
            return;
        }
        root = resolved;
        std::error_code ec;
        fs::create_directories(root + "/real/inner", ec);
        fs::create_directory(root + "/shared", ec);
        fs::create_directory(root + "/other", ec);
        ::chmod((root + "/real").c_str(), 0755);
        ::chmod((root + "/real/inner").c_str(), 0755);
        ::chmod((root + "/shared").c_str(), 0777);
        static_cast<void>(::chown((root + "/other").c_str(), 1000, 1000));
        fs::create_directory_symlink(root + "/real", root + "/link", ec);
        for (const char* file : {"/real/disk.img", "/file"}) {
            const std::string path = root + file;
            if (FILE* f = std::fopen(path.c_str(), "w")) {
                std::fclose(f);
            }
        }
    }
    ~scratch_tree() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    scratch_tree(const scratch_tree&) = delete;
    scratch_tree& operator=(const scratch_tree&) = delete;
};

scratch_tree& scratch() {
    static scratch_tree instance;
    return instance;
}

// The path as the kernel reads it: up to the first NUL.
std::string kernel_view(const std::string& path) {
    return path.substr(0, path.find('\0'));
}

bool resolves_to_itself(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr && path == resolved;
}

bool has_dot_component(const std::string& path) {
    for (const auto& part : fs::path(path)) {
        if (part == "." || part == "..") {
            return true;
        }
    }
    return false;
}

void check_name(const std::string& name, std::uint32_t owner) {
    if (!misc::is_safe_user_name(name)) {
        return;
    }
    const std::string mount_dir = misc::build_mount_dir(name);
    check(mount_dir == std::string(misc::kMountRoot) + "/" + name);
    check(fs::path(mount_dir).parent_path() == misc::kMountRoot && name != "." && name != "..");

    std::error_code ec;
    const auto [text, file] = conf_generator::generate(name, ec);
    if (name == "ru.quorvex.server") {
        check(ec == std::errc::invalid_argument);  // the installation's own policy
    } else {
        check(!ec && file == name + ".conf" && file.find('/') == std::string::npos);
        check(text.find("own=\"" + name + "\"/>") != std::string::npos);
        check(text.find('\0') == std::string::npos);
    }

    const std::string& root = scratch().root;
    if (!root.empty()) {
        const std::string directory = root + "/" + name;
        if (misc::check_mount_directory(directory, owner, ec)) {
            check(!ec && resolves_to_itself(directory));
            struct stat st {};
            check(::lstat(directory.c_str(), &st) == 0 && (st.st_uid == 0 || st.st_uid == owner));
        } else {
            check(ec == ztctl_error::mount_directory_not_exist);
        }
    }
}

void check_paths(const std::string& tail, const std::string& name) {
    const std::string& root = scratch().root;
    if (root.empty()) {
        return;
    }
    const std::string path = root + "/" + tail;
    std::error_code ec;
    if (misc::check_container_path(path, ec)) {
        check(!ec);
        const std::string seen = kernel_view(path);
        check(!has_dot_component(seen));
        const std::string parent = fs::path(seen).parent_path().string();
        check(resolves_to_itself(parent));
    } else {
        check(ec == ztctl_error::invalid_request_format);
    }

    // Existence checks follow links; they get paths that stay inside the tree.
    const std::string mount_dir = root + "/" + name;
    if (!has_dot_component(path) && !has_dot_component(mount_dir)) {
        const bool found = misc::check_disk_paths(path, mount_dir, ec);
        check(found == !ec);
        check(found || ec == ztctl_error::disk_not_exist ||
              ec == ztctl_error::mount_directory_not_exist);
    }
    check(!misc::check_disk_paths("", mount_dir, ec) && ec == ztctl_error::disk_not_created);
}

void check_uuid(const std::string& text) {
    Uuid uuid;
    if (!uuid.parse(text)) {
        check(uuid.is_null());  // the previous value is kept
        check(!misc::is_uuid_equal(uuid, text));
        return;
    }
    std::string lower = text;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    check(uuid.str() == lower && uuid.str().size() == 36);
    check(misc::is_uuid_equal(uuid, text) && misc::is_uuid_equal(uuid, uuid.upper()));
    Uuid again(uuid.get());
    check(again == uuid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::input_reader input(data, size);
    const std::string name = input.text();
    const std::string uuid_text = input.text();
    const std::uint32_t owner = input.word();
    const std::string tail = input.rest_text();

    check_name(name, owner);
    check_paths(tail, name);
    check_uuid(uuid_text);
    check_uuid(name);
    return 0;
}
