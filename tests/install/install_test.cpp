// The install as it lands: cmake --install into a staging DESTDIR (the CTest fixture
// InstallTree.Stage), the staged bus policy on a private bus that denies by default, the
// staged unit under systemd-analyze, the Debian package CPack makes, and its postinst.

#include <dbus/dbus.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const fs::path kStage = ZT_INSTALL_STAGE;
const fs::path kBuild = ZT_BUILD_DIR;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned mode_of(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFFu;
}

bool has_line(const std::string& text, const std::string& line) {
    return ("\n" + text).find("\n" + line + "\n") != std::string::npos;
}

// Exit code (-1: no exit in time) and standard output and error of argv run as uid.
std::pair<int, std::string> run(const std::vector<std::string>& argv, uid_t uid = 0) {
    const auto r = zt_testing::run_captured(argv, 300s, {.uid = uid, .gid = uid});
    return {r.status && WIFEXITED(*r.status) ? WEXITSTATUS(*r.status) : -1, r.out + r.err};
}

// A fresh directory, removed with its contents.
struct temp_dir {
    temp_dir() : path(fs::temp_directory_path() / "zt-install-XXXXXX") {
        std::string name = path.string();
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path = name;
    }
    ~temp_dir() { fs::remove_all(path); }
    fs::path path;
};

// The files of the package as they lie below the root under the prefix /usr; manual pages
// and catalogues as the source tree has them.
std::set<std::string> package_files() {
    const std::string lib = std::string("usr/lib/") + ZT_MULTIARCH + "/ztctl/libztcrypto.so.";
    std::set<std::string> files = {"usr/bin/ztctl",
                                   "usr/sbin/ztctld",
                                   "usr/sbin/ztctl-provision",
                                   lib + "0",
                                   lib + ZT_PROJECT_VERSION,
                                   "usr/lib/systemd/system/ztctld.service",
                                   "usr/share/dbus-1/system.d/ru.quorvex.server.conf",
                                   "usr/share/dbus-1/system-services/ru.quorvex.server.service",
                                   "usr/share/bash-completion/completions/ztctl",
                                   "usr/share/ztctl/ztctl.conf"};
    const fs::path source = ZT_SOURCE_DIR;
    std::smatch m;
    if (fs::is_directory(source / "man")) {
        for (const auto& file : fs::directory_iterator(source / "man")) {
            const std::string name = file.path().filename().string();
            if (std::regex_match(name, m, std::regex(R"([^.].*\.([158]))"))) {
                files.insert("usr/share/man/man" + m[1].str() + "/" + name + ".gz");
            }
        }
    }
    for (const auto& file : fs::directory_iterator(source / "po")) {
        if (file.path().extension() == ".po") {
            files.insert("usr/share/locale/" + file.path().stem().string() +
                         "/LC_MESSAGES/ztlinux.mo");
        }
    }
    return files;
}

// The layout checked is the one of the prefix /usr, with /etc and /var beside it.
class Installed : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::string(ZT_CONFIGURED_PREFIX) != "/usr") {
            ZT_SKIP_UNLESS_REQUIRED("the build's prefix is " ZT_CONFIGURED_PREFIX ", not /usr");
        }
        ASSERT_TRUE(fs::is_directory(kStage)) << "the fixture InstallTree.Stage did not run";
    }
};

TEST_F(Installed, TreeHoldsThePackageFilesAndAFreshHostSetup) {
    std::set<std::string> entries;  // files and links, and empty directories with a "/"
    for (auto it = fs::recursive_directory_iterator(kStage); it != fs::end(it); ++it) {
        const std::string relative = it->path().lexically_relative(kStage).string();
        if (it->is_symlink() || !it->is_directory()) {
            entries.insert(relative);
        } else if (fs::is_empty(it->path())) {
            entries.insert(relative + "/");
        }
    }
    std::set<std::string> expected = package_files();
    expected.insert({"etc/ztctl/ztctl.conf", "var/lib/ztctl/"});
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(mode_of(kStage / "var/lib/ztctl"), 0700u);
    const std::string sample = read_text(kStage / "usr/share/ztctl/ztctl.conf");
    EXPECT_EQ(read_text(kStage / "etc/ztctl/ztctl.conf"), sample);
    EXPECT_TRUE(has_line(sample, "service_path = /var/lib/ztctl")) << sample;

    const std::string unit = read_text(kStage / "usr/lib/systemd/system/ztctld.service");
    const std::string activation =
        read_text(kStage / "usr/share/dbus-1/system-services/ru.quorvex.server.service");
    for (const auto& [text, line] : {std::pair{unit, "ExecStart=/usr/sbin/ztctld"},
                                     {unit, "BusName=ru.quorvex.server"},
                                     {activation, "Exec=/usr/sbin/ztctld"},
                                     {activation, "SystemdService=ztctld.service"}}) {
        EXPECT_TRUE(has_line(text, line)) << line;
    }
}

// Each program finds the library beside it through its run path, by the library's SONAME.
TEST_F(Installed, ProgramsLoadThePrivateLibraryOfTheirOwnTree) {
    const fs::path lib = kStage / "usr/lib" / ZT_MULTIARCH / "ztctl/libztcrypto.so.0";
    for (const char* program : {"usr/bin/ztctl", "usr/sbin/ztctld", "usr/sbin/ztctl-provision"}) {
        const auto [code, out] = run({"/usr/bin/ldd", (kStage / program).string()});
        std::smatch m;
        ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(libztcrypto\.so\.0 => (\S+))")))
            << program << ": " << out;
        EXPECT_EQ(fs::path(m[1].str()).lexically_normal(), lib) << program;
    }
}

// Checked against a root holding the host's units (the bus socket the unit needs) and the
// staged daemon, systemd-analyze has nothing to say. --man=no: it looks for pages on the host.
TEST_F(Installed, UnitPassesSystemdAnalyzeVerify) {
    const fs::path units = "/usr/lib/systemd/system";
    if (::access("/usr/bin/systemd-analyze", X_OK) != 0 || !fs::exists(units / "dbus.socket")) {
        ZT_SKIP_UNLESS_REQUIRED("systemd-analyze or the host's dbus.socket unit is missing");
    }
    temp_dir root;
    fs::create_directories(root.path / "usr/sbin");
    fs::create_directories(root.path / "usr/lib/systemd");
    fs::copy(units, root.path / units.relative_path(),
             fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::copy_file(kStage / units.relative_path() / "ztctld.service",
                  root.path / units.relative_path() / "ztctld.service",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(kStage / "usr/sbin/ztctld", root.path / "usr/sbin/ztctld");
    EXPECT_EQ(run({"/usr/bin/systemd-analyze", "verify", "--man=no", "--root=" + root.path.string(),
                   "ztctld.service"}),
              std::pair(0, std::string()));
}

// A private bus configured like the system bus (deny by default) with the staged policies:
// root owns the name, user nobody may not, but may call it.
TEST_F(Installed, BusEnforcesTheStagedPolicy) {
    if (::geteuid() != 0) {
        ZT_SKIP_UNLESS_REQUIRED("needs root to run a client as user nobody");
    }
    constexpr uid_t nobody = 65534;
    temp_dir dir;
    fs::permissions(dir.path, fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
    const std::string address = "unix:path=" + (dir.path / "bus").string();
    // The sandbox's model of the system bus, on a socket of its own and with the staged
    // policies in place of /etc's.
    std::string config = read_text(ZT_SYSTEM_BUS_CONFIG);
    for (const auto& [from, to] :
         {std::pair<std::string, std::string>{"unix:path=/run/dbus/system_bus_socket", address},
          {"/etc/dbus-1/system.d", (kStage / "usr/share/dbus-1/system.d").string()}}) {
        ASSERT_NE(config.find(from), std::string::npos) << from;
        config.replace(config.find(from), from.size(), to);
    }
    std::ofstream(dir.path / "bus.conf") << config;
    zt_testing::child_process bus = zt_testing::child_process::spawn(
        {"/usr/bin/dbus-daemon", "--config-file=" + (dir.path / "bus.conf").string(), "--nofork",
         "--nopidfile", "--nosyslog"});
    zt_testing::connection_ptr root;
    ASSERT_TRUE(zt_testing::wait_until(
                    [&] {
                        try {
                            root = zt_testing::open_bus(address);
                        } catch (const std::runtime_error&) {
                        }
                        return root || !bus.running();
                    },
                    10s) &&
                root);

    const std::string send = "/usr/bin/dbus-send", at = "--bus=" + address;
    const auto [denied, why] =
        run({send, at, "--print-reply", "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
             "org.freedesktop.DBus.RequestName", "string:ru.quorvex.server", "uint32:4"},
            nobody);
    EXPECT_NE(denied, 0);
    EXPECT_NE(why.find(DBUS_ERROR_ACCESS_DENIED), std::string::npos) << why;

    zt_testing::error_holder e;
    ASSERT_EQ(dbus_bus_request_name(root.get(), "ru.quorvex.server", DBUS_NAME_FLAG_DO_NOT_QUEUE,
                                    &e.error),
              DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER)
        << e.error.message;
    auto caller = zt_testing::child_process::spawn(
        {send, at, "--print-reply", "--dest=ru.quorvex.server", "/ru/quorvex/system/session",
         "ru.quorvex.system.session.Open"},
        {.uid = nobody, .gid = nobody});
    int answered = 0;
    zt_testing::wait_until(
        [&] {
            dbus_connection_read_write(root.get(), 20);
            while (zt_testing::message_ptr m{dbus_connection_pop_message(root.get())}) {
                if (dbus_message_is_method_call(m.get(), "ru.quorvex.system.session", "Open")) {
                    zt_testing::message_ptr reply(dbus_message_new_method_return(m.get()));
                    dbus_connection_send(root.get(), reply.get(), nullptr);
                    ++answered;
                }
            }
            return !caller.running();
        },
        20s);
    EXPECT_EQ(answered, 1);
    const auto status = caller.wait(0ms);
    EXPECT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

// The package holds the install's files without the host set-up, which the postinst makes;
// its unit names the daemon under /usr, not under CPack's staging directory.
TEST_F(Installed, PackageHoldsThePackageFilesAndMaintainerScripts) {
    temp_dir out;
    const auto [code, printed] =
        run({ZT_SOURCE_DIR "/scripts/package.sh", "--build-dir", kBuild.string(), "--output-dir",
             out.path.string(), "--no-build"});
    ASSERT_EQ(code, 0) << printed;
    const std::string deb = printed.substr(0, printed.find('\n'));

    // dpkg-deb -c: "perms owner size date time ./path[ -> target]" per entry.
    const auto [listed, list] = run({"/usr/bin/dpkg-deb", "-c", deb});
    ASSERT_EQ(listed, 0) << list;
    std::set<std::string> files;
    std::istringstream lines(list);
    for (std::string perms, owner, size, date, time, path, rest;
         lines >> perms >> owner >> size >> date >> time >> path && std::getline(lines, rest);) {
        EXPECT_EQ(owner, "root/root") << path;
        if (perms.front() != 'd') {
            files.insert(path.substr(2));
        }
    }
    EXPECT_EQ(files, package_files());

    ASSERT_EQ(run({"/usr/bin/dpkg-deb", "-e", deb, (out.path / "control").string()}).first, 0);
    for (const char* script : {"postinst", "prerm", "postrm"}) {
        EXPECT_EQ(read_text(out.path / "control" / script),
                  read_text(kBuild / "dist/debian" / script));
        EXPECT_EQ(mode_of(out.path / "control" / script), 0755u) << script;
    }
    EXPECT_EQ(
        run({"/bin/sh", "-c",
             "dpkg-deb --fsys-tarfile \"$0\" | tar -xO ./usr/lib/systemd/system/ztctld.service",
             deb}),
        std::pair(0, read_text(kStage / "usr/lib/systemd/system/ztctld.service")));
}

// The postinst, run in a sandbox with its own /etc/ztctl, /var/lib and /usr/share, makes a
// missing configuration and service directory and leaves existing ones, links included,
// exactly as they are.
TEST_F(Installed, PostinstNeverReplacesConfigurationOrServiceDirectory) {
    if (const auto reason = zt_testing::sandbox::unavailable_reason({.with_bus = false});
        !reason.empty()) {
        ZT_SKIP_UNLESS_REQUIRED(reason);
    }
    const std::string sample = read_text(kStage / "usr/share/ztctl/ztctl.conf");
    const std::string fresh;  // nothing there yet: the postinst makes both
    const std::string provisioned =
        "printf 'service_path = /srv/x\\n' >/etc/ztctl/ztctl.conf; chmod 600 /etc/ztctl/*;"
        " mkdir -m 750 /var/lib/ztctl; printf secret >/var/lib/ztctl/database.bin";
    const std::string links = "ln -s /nowhere /etc/ztctl/ztctl.conf; ln -s /nowhere /var/lib/ztctl";
    for (const std::string& before : {fresh, provisioned, links}) {
        SCOPED_TRACE(before);
        zt_testing::sandbox box({.with_bus = false});
        box.write_file("/run/t/postinst", read_text(kBuild / "dist/debian/postinst"));
        box.write_file("/run/t/sample", sample);
        const std::string list = "ls -lR /etc/ztctl /var/lib >/run/t/";
        auto shell = box.spawn(
            {"/bin/sh", "-c",
             "mount -t tmpfs tmpfs /var/lib && mount -t tmpfs tmpfs /usr/share && mkdir "
             "/usr/share/ztctl && cp /run/t/sample /usr/share/ztctl/ztctl.conf && " +
                 (before.empty() ? ":" : before) + "; " + list + "before; LC_ALL=C sh " +
                 "/run/t/postinst configure; status=$?; " + list + "after; exit $status"});
        const auto status = shell.wait(60s);
        ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
        const fs::path config = fs::path(box.host_path("/etc/ztctl")) / "ztctl.conf";
        const fs::path service = fs::path(box.host_path("/var/lib")) / "ztctl";
        if (before.empty()) {
            EXPECT_EQ(read_text(config), sample);
            EXPECT_EQ(mode_of(config), 0644u);
            EXPECT_EQ(mode_of(service), 0700u);
        } else {
            EXPECT_EQ(box.read_file("/run/t/after"), box.read_file("/run/t/before"));
            EXPECT_EQ(read_text(config), before == provisioned ? "service_path = /srv/x\n" : "");
        }
    }
}

}  // namespace
