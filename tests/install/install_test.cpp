// The install as it lands: cmake --install into a staging DESTDIR (the CTest fixture
// InstallTree.Stage), the Debian package CPack makes, the staged bus policy and activation
// file on a private bus that denies by default, the staged unit under systemd-analyze, and
// the package's postinst run in a sandbox over existing and missing files.

#include <dbus/dbus.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testing/private_bus.h"
#include "testing/process.h"
#include "testing/required_environment.h"
#include "testing/sandbox.h"
#include "testing/unique_fd.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using zt_testing::error_holder;
using zt_testing::message_ptr;

const fs::path kStage = ZT_INSTALL_STAGE;
constexpr const char* kService = "ru.quorvex.server";
constexpr uid_t kNobody = 65534;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned mode_of(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFFu;
}

bool has_line(const std::string& text, const std::string& line) {
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) {
        if (l == line) {
            return true;
        }
    }
    return false;
}

// A directory of its own, removed with its contents.
class temp_dir {
  public:
    temp_dir() {
        std::string name = (fs::temp_directory_path() / "zt-install-XXXXXX").string();
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        m_path = name;
    }
    ~temp_dir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;
    const fs::path& path() const { return m_path; }

  private:
    fs::path m_path;
};

// What argv printed on standard output (standard error joined) and its exit code, -1 when it
// did not exit within the timeout.
std::pair<int, std::string> run(const std::vector<std::string>& argv,
                                std::chrono::milliseconds timeout = 120s) {
    const auto r = zt_testing::run_captured(argv, timeout);
    const int code = r.status && WIFEXITED(*r.status) ? WEXITSTATUS(*r.status) : -1;
    return {code, r.out + r.err};
}

// Every path below root that is not a directory, and every empty directory (with a
// trailing "/"), relative to root.
std::set<std::string> tree_entries(const fs::path& root) {
    std::set<std::string> entries;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
        const std::string relative = it->path().lexically_relative(root).string();
        if (it->is_symlink() || !it->is_directory()) {
            entries.insert(relative);
        } else if (fs::is_empty(it->path())) {
            entries.insert(relative + "/");
        }
    }
    return entries;
}

// The files of the package, as they lie under the root of the prefix /usr.
std::set<std::string> expected_package_files() {
    const std::string lib = std::string("usr/lib/") + ZT_MULTIARCH + "/ztctl/";
    std::set<std::string> files = {
        "usr/bin/ztctl",
        "usr/sbin/ztctld",
        "usr/sbin/ztctl-provision",
        lib + "libztcrypto.so.0",
        lib + "libztcrypto.so." ZT_PROJECT_VERSION,
        "usr/lib/systemd/system/ztctld.service",
        "usr/share/dbus-1/system.d/ru.quorvex.server.conf",
        "usr/share/dbus-1/system-services/ru.quorvex.server.service",
        "usr/share/bash-completion/completions/ztctl",
        "usr/share/ztctl/ztctl.conf",
    };
    // Manual pages and catalogues come as the source tree has them.
    const fs::path source = ZT_SOURCE_DIR;
    const std::regex page(R"(([^.].*)\.([158]))");
    std::smatch m;
    if (fs::is_directory(source / "man")) {
        for (const auto& entry : fs::directory_iterator(source / "man")) {
            const std::string name = entry.path().filename().string();
            if (std::regex_match(name, m, page)) {
                files.insert("usr/share/man/man" + m[2].str() + "/" + name + ".gz");
            }
        }
    }
    for (const auto& entry : fs::directory_iterator(source / "po")) {
        if (entry.path().extension() == ".po") {
            files.insert("usr/share/locale/" + entry.path().stem().string() +
                         "/LC_MESSAGES/ztlinux.mo");
        }
    }
    return files;
}

// The layout checked here is the one of the prefix /usr, where /etc and /var are the
// configuration and state directories.
class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(ZT_CONFIGURED_PREFIX) != "/usr") {
            ZT_SKIP_UNLESS_REQUIRED(std::string("the build is configured for the prefix ") +
                                    ZT_CONFIGURED_PREFIX + ", the package layout is /usr's");
        }
        ASSERT_TRUE(fs::is_directory(kStage)) << "the fixture InstallTree.Stage did not run";
    }
};

TEST_F(Installed, TreeHoldsThePackageFilesAndAFreshHostSetup) {
    std::set<std::string> expected = expected_package_files();
    expected.insert({"etc/ztctl/ztctl.conf", "var/lib/ztctl/"});
    EXPECT_EQ(tree_entries(kStage), expected);

    EXPECT_EQ(mode_of(kStage / "var/lib/ztctl"), 0700u);
    const std::string sample = read_text(kStage / "usr/share/ztctl/ztctl.conf");
    EXPECT_EQ(read_text(kStage / "etc/ztctl/ztctl.conf"), sample);
    EXPECT_TRUE(has_line(sample, "service_path = /var/lib/ztctl")) << sample;

    // The files that name the daemon name it where it was installed.
    const struct {
        const char* file;
        const char* line;
    } lines[] = {
        {"usr/lib/systemd/system/ztctld.service", "ExecStart=/usr/sbin/ztctld"},
        {"usr/lib/systemd/system/ztctld.service", "Type=dbus"},
        {"usr/lib/systemd/system/ztctld.service", "BusName=ru.quorvex.server"},
        {"usr/share/dbus-1/system-services/ru.quorvex.server.service", "Name=ru.quorvex.server"},
        {"usr/share/dbus-1/system-services/ru.quorvex.server.service", "Exec=/usr/sbin/ztctld"},
        {"usr/share/dbus-1/system-services/ru.quorvex.server.service",
         "SystemdService=ztctld.service"},
    };
    for (const auto& [file, line] : lines) {
        EXPECT_TRUE(has_line(read_text(kStage / file), line)) << file << ": " << line;
    }
}

// The programs find the private library beside them through their run path, not the build
// tree's copy; the loader resolves it by its SONAME.
TEST_F(Installed, ProgramsLoadThePrivateLibraryOfTheirOwnTree) {
    const std::string lib = (kStage / "usr/lib" / ZT_MULTIARCH / "ztctl/libztcrypto.so.0").string();
    for (const char* program : {"usr/bin/ztctl", "usr/sbin/ztctld", "usr/sbin/ztctl-provision"}) {
        const auto [code, out] = run({"/usr/bin/ldd", (kStage / program).string()});
        ASSERT_EQ(code, 0) << out;
        const std::regex resolved(R"(libztcrypto\.so\.0 => (\S+))");
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, resolved)) << program << ":\n" << out;
        EXPECT_EQ(fs::path(m[1].str()).lexically_normal(), fs::path(lib)) << program;
    }
    const auto [code, out] = run({(kStage / "usr/bin/ztctl").string(), "--version"});
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "ztctl " ZT_PROJECT_VERSION "\n");
}

// The first run the README shows: the installed tool provisions the installed (empty)
// service directory and replaces the installed sample configuration.
TEST_F(Installed, FirstProvisioningReplacesTheInstalledSample) {
    temp_dir host;
    const fs::path config = host.path() / "etc/ztctl/ztctl.conf";
    const fs::path service = host.path() / "var/lib/ztctl";
    fs::create_directories(config.parent_path());
    fs::create_directories(service.parent_path());
    fs::copy_file(kStage / "etc/ztctl/ztctl.conf", config);
    fs::copy(kStage / "var/lib/ztctl", service);
    std::ofstream(host.path() / "admin.pw") << "a long admin password\n";
    const auto [code, out] =
        run({(kStage / "usr/sbin/ztctl-provision").string(), "--service-dir", service.string(),
             "--admin", "root:" + (host.path() / "admin.pw").string(), "--iterations", "1000",
             "--allow-low-iterations", "--write-config", "--config-path", config.string()});
    ASSERT_EQ(code, 0) << out;
    EXPECT_TRUE(has_line(read_text(config), "service_path = " + service.string()));
    EXPECT_TRUE(fs::exists(service / "service.bin") && fs::exists(service / "database.bin"));
}

// systemd-analyze checks the unit against a root holding the host's units (the bus socket
// the unit needs among them) and the staged daemon; it must find nothing to say.
TEST_F(Installed, UnitPassesSystemdAnalyzeVerify) {
    const fs::path host_units = "/usr/lib/systemd/system";
    if (::access("/usr/bin/systemd-analyze", X_OK) != 0 ||
        !fs::exists(host_units / "dbus.socket")) {
        ZT_SKIP_UNLESS_REQUIRED("systemd-analyze or the host's dbus.socket unit is missing");
    }
    temp_dir root;
    fs::create_directories(root.path() / "usr/lib/systemd");
    fs::create_directories(root.path() / "usr/sbin");
    fs::copy(host_units, root.path() / host_units.relative_path(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::copy_file(kStage / "usr/lib/systemd/system/ztctld.service",
                  root.path() / "usr/lib/systemd/system/ztctld.service",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(kStage / "usr/sbin/ztctld", root.path() / "usr/sbin/ztctld");
    // --man=no: the manual pages are looked up on the host, not in the root.
    const auto [code, out] = run({"/usr/bin/systemd-analyze", "verify", "--man=no",
                                  "--root=" + root.path().string(), "ztctld.service"});
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(out, "");
}

// A private bus configured like the system bus (deny by default) that takes its policies
// from policy_dir and its activation files from the stage; its socket lies in a directory
// every user may reach.
class staged_bus {
  public:
    explicit staged_bus(const fs::path& policy_dir) {
        fs::permissions(m_dir.path(), fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
        m_address = "unix:path=" + (m_dir.path() / "bus").string();
        const fs::path config = m_dir.path() / "bus.conf";
        std::ofstream(config) << R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>)" << m_address << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
  </policy>
  <servicedir>)" << (kStage / "usr/share/dbus-1/system-services").string()
                              << R"(</servicedir>
  <includedir>)" << policy_dir.string()
                              << R"(</includedir>
</busconfig>
)";
        zt_testing::pipe_ends ready = zt_testing::make_pipe();
        const zt_testing::unique_fd log(
            ::open((m_dir.path() / "bus.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        m_bus = zt_testing::child_process::spawn(
            {"/usr/bin/dbus-daemon", "--config-file=" + config.string(), "--nofork", "--nopidfile",
             "--nosyslog", "--print-address=3"},
            {.stdout_fd = log.get(), .stderr_fd = log.get(), .extra_fd = ready.write.get()});
        ready.write.reset();
        // The bus prints its address once it listens; an end of file means it died.
        ::fcntl(ready.read.get(), F_SETFL, O_NONBLOCK);
        std::string printed;
        zt_testing::wait_until(
            [&] {
                char buffer[256];
                const ssize_t n = ::read(ready.read.get(), buffer, sizeof buffer);
                printed.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
                return printed.find('\n') != std::string::npos || n == 0;
            },
            10s);
        if (printed.find('\n') == std::string::npos) {
            throw std::runtime_error("dbus-daemon did not start: " +
                                     read_text(m_dir.path() / "bus.log"));
        }
    }
    const std::string& address() const { return m_address; }

  private:
    temp_dir m_dir;
    std::string m_address;
    zt_testing::child_process m_bus;
};

// dbus_bus_request_name's answer, or -1 with the error's name in error.
int request_name(DBusConnection* c, std::string& error) {
    error_holder e;
    const int r = dbus_bus_request_name(c, kService, DBUS_NAME_FLAG_DO_NOT_QUEUE, &e.error);
    error = dbus_error_is_set(&e.error) ? e.error.name : "";
    return r;
}

// Runs body in a child as user nobody on the bus at address, calling serve() here meanwhile;
// the child's exit code (-1 on a timeout or signal).
int run_as_nobody(
    const std::string& address, const std::function<int(DBusConnection*)>& body,
    const std::function<void()>& serve = [] {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
            _exit(100);
        }
        try {  // nothing may be thrown out of a forked child
            _exit(body(zt_testing::open_bus(address).get()));
        } catch (...) {
            _exit(101);
        }
    }
    int status = 0;
    const bool ended = zt_testing::wait_until(
        [&] { return serve(), ::waitpid(pid, &status, WNOHANG) == pid; }, 20s);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class StagedBusPolicy : public Installed {
  protected:
    void SetUp() override {
        Installed::SetUp();
        if (::geteuid() != 0) {
            ZT_SKIP_UNLESS_REQUIRED("needs root to run a client as user nobody");
        }
    }
};

// Without the staged policy nobody owns the name, root neither: what the staged policy
// grants is all that is granted.
TEST_F(StagedBusPolicy, BusDeniesTheNameWithoutThePolicy) {
    temp_dir no_policies;
    staged_bus bus(no_policies.path());
    auto root = zt_testing::open_bus(bus.address());
    std::string error;
    EXPECT_EQ(request_name(root.get(), error), -1);
    EXPECT_EQ(error, DBUS_ERROR_ACCESS_DENIED);
}

TEST_F(StagedBusPolicy, OnlyRootOwnsTheNameAndNobodyMayCallIt) {
    staged_bus bus(kStage / "usr/share/dbus-1/system.d");
    EXPECT_EQ(run_as_nobody(bus.address(),
                            [](DBusConnection* c) {
                                std::string error;
                                return request_name(c, error) == -1 &&
                                               error == DBUS_ERROR_ACCESS_DENIED
                                           ? 0
                                           : 1;
                            }),
              0);

    auto root = zt_testing::open_bus(bus.address());
    std::string error;
    ASSERT_EQ(request_name(root.get(), error), DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER) << error;
    int answered = 0;
    auto serve = [&] {
        dbus_connection_read_write(root.get(), 20);
        while (message_ptr m{dbus_connection_pop_message(root.get())}) {
            if (dbus_message_get_type(m.get()) == DBUS_MESSAGE_TYPE_METHOD_CALL) {
                message_ptr reply(dbus_message_new_method_return(m.get()));
                dbus_connection_send(root.get(), reply.get(), nullptr);
                dbus_connection_flush(root.get());
                ++answered;
            }
        }
    };
    const auto call = [](DBusConnection* c) {
        message_ptr m(dbus_message_new_method_call(kService, "/ru/quorvex/system/session",
                                                   "ru.quorvex.system.session", "Open"));
        error_holder e;
        return message_ptr(dbus_connection_send_with_reply_and_block(c, m.get(), 10000, &e.error))
                   ? 0
                   : 1;
    };
    EXPECT_EQ(run_as_nobody(bus.address(), call, serve), 0);
    EXPECT_EQ(answered, 1);

    // The bus read the staged activation file.
    message_ptr list(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "ListActivatableNames"));
    error_holder e;
    message_ptr names(
        dbus_connection_send_with_reply_and_block(root.get(), list.get(), 10000, &e.error));
    ASSERT_TRUE(names) << e.error.message;
    char** array = nullptr;
    int count = 0;
    ASSERT_TRUE(dbus_message_get_args(names.get(), &e.error, DBUS_TYPE_ARRAY, DBUS_TYPE_STRING,
                                      &array, &count, DBUS_TYPE_INVALID));
    const std::set<std::string> activatable(array, array + count);
    dbus_free_string_array(array);
    EXPECT_TRUE(activatable.count(kService)) << "activatable names: " << count;
}

// The package CPack makes holds exactly the install's files but the host set-up, which its
// maintainer scripts do; its unit names the daemon under /usr, not under CPack's staging.
TEST_F(Installed, PackageHoldsTheRuntimeFilesAndMaintainerScripts) {
    temp_dir out;
    const auto [code, printed] =
        run({ZT_SOURCE_DIR "/scripts/package.sh", "--build-dir", ZT_BUILD_DIR, "--output-dir",
             out.path().string(), "--no-build"},
            300s);
    ASSERT_EQ(code, 0) << printed;
    const std::string deb = printed.substr(0, printed.find('\n'));
    ASSERT_TRUE(fs::is_regular_file(deb)) << printed;

    // dpkg-deb -c lists "perms owner size date time ./path[ -> target]".
    const auto [listed, list] = run({"/usr/bin/dpkg-deb", "-c", deb});
    ASSERT_EQ(listed, 0) << list;
    std::set<std::string> files;
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string perms, owner, size, date, time, path;
        fields >> perms >> owner >> size >> date >> time >> path;
        EXPECT_EQ(owner, "root/root") << line;
        if (perms.front() != 'd') {
            files.insert(path.substr(2));  // without "./"
        }
    }
    EXPECT_EQ(files, expected_package_files());

    const auto [extracted, control] =
        run({"/usr/bin/dpkg-deb", "-e", deb, (out.path() / "control").string()});
    ASSERT_EQ(extracted, 0) << control;
    for (const char* script : {"postinst", "prerm", "postrm"}) {
        EXPECT_EQ(read_text(out.path() / "control" / script),
                  read_text(fs::path(ZT_BUILD_DIR) / "dist/debian" / script))
            << script;
        EXPECT_EQ(mode_of(out.path() / "control" / script), 0755u) << script;
    }
    const auto [unpacked, unit] = run({"/bin/sh", "-c",
                                       "dpkg-deb --fsys-tarfile \"$0\" | tar -xO "
                                       "./usr/lib/systemd/system/ztctld.service",
                                       deb});
    ASSERT_EQ(unpacked, 0) << unit;
    EXPECT_EQ(unit, read_text(kStage / "usr/lib/systemd/system/ztctld.service"));
}

// The postinst, run in a sandbox whose /etc/ztctl, /var/lib and /usr/share are its own,
// makes a missing configuration and service directory and leaves existing ones (files,
// links) exactly as they are.
TEST_F(Installed, PostinstNeverReplacesConfigurationOrServiceDirectory) {
    const std::string reason = zt_testing::sandbox::unavailable_reason({.with_bus = false});
    if (!reason.empty()) {
        ZT_SKIP_UNLESS_REQUIRED(reason);
    }
    const std::string sample = read_text(kStage / "usr/share/ztctl/ztctl.conf");
    const struct {
        const char* name;
        const char* before;  // shell commands that lay out what the host already has
        bool fresh;          // nothing was there: the postinst makes both
    } cases[] = {
        {"nothing there", "", true},
        {"provisioned",
         "printf 'service_path = /srv/keys\\n' >/etc/ztctl/ztctl.conf &&"
         " chmod 0600 /etc/ztctl/ztctl.conf && mkdir -m 0750 /var/lib/ztctl &&"
         " printf secret >/var/lib/ztctl/database.bin",
         false},
        {"links", "ln -s /nowhere /etc/ztctl/ztctl.conf && ln -s /nowhere /var/lib/ztctl", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zt_testing::sandbox box({.with_bus = false});
        box.write_file("/run/zt-test/postinst",
                       read_text(fs::path(ZT_BUILD_DIR) / "dist/debian/postinst"), 0755);
        box.write_file("/run/zt-test/sample", sample);
        const std::string script =
            "set -e; mount -t tmpfs tmpfs /var/lib; mount -t tmpfs tmpfs /usr/share;"
            " mkdir -p /usr/share/ztctl; cp /run/zt-test/sample /usr/share/ztctl/ztctl.conf; " +
            std::string(*c.before ? c.before : ":") +
            "; ls -lR /etc/ztctl /var/lib >/run/zt-test/before;"
            " LC_ALL=C sh /run/zt-test/postinst configure;"
            " ls -lR /etc/ztctl /var/lib >/run/zt-test/after";
        auto shell = box.spawn({"/bin/sh", "-c", script});
        const auto status = shell.wait(60s);
        ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);

        const fs::path config = fs::path(box.host_path("/etc/ztctl")) / "ztctl.conf";
        const fs::path service = fs::path(box.host_path("/var/lib")) / "ztctl";
        if (c.fresh) {
            EXPECT_EQ(read_text(config), sample);
            EXPECT_EQ(mode_of(config), 0644u);
            EXPECT_EQ(mode_of(service), 0700u);
            EXPECT_TRUE(fs::is_directory(service) && fs::is_empty(service));
        } else {
            EXPECT_EQ(box.read_file("/run/zt-test/after"), box.read_file("/run/zt-test/before"));
            if (fs::is_symlink(config)) {
                EXPECT_EQ(fs::read_symlink(config), "/nowhere");
                EXPECT_EQ(fs::read_symlink(service), "/nowhere");
            } else {
                EXPECT_EQ(read_text(config), "service_path = /srv/keys\n");
                EXPECT_EQ(mode_of(config), 0600u);
                EXPECT_EQ(mode_of(service), 0750u);
                EXPECT_EQ(read_text(service / "database.bin"), "secret");
            }
        }
    }
}

}  // namespace
