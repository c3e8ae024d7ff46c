// The process scan behind the forced unmount (os::get_pid_list) against "fuser -m" on the same
// mount in the same run: an ext4 file system on a loop device, mounted in the sandbox's mount
// namespace, and N sleeping children of this program in that namespace, every fifth of
// which holds the mount (by turns its working directory, an open file, a mapping of a file).
// Both must find exactly those holders; N goes from 250 to 4000 to show the cost per process.
//
// Needs root, mount namespaces and fuser (psmisc); elsewhere it says why and exits with 0.
// Exits with 1 when the host's loop devices or mounts differ afterwards.

#include <benchmark/benchmark.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "bench/host_state.h"
#include "system/getpidlist.h"
#include "testing/process.h"
#include "testing/sandbox.h"

namespace {

using namespace std::chrono_literals;
using steady = std::chrono::steady_clock;

constexpr const char* kFuser = "/usr/bin/fuser";
constexpr const char* kImage = "/run/scan.img";
constexpr const char* kMountDir = "/zt/scan";
constexpr off_t kImageSize = 32 << 20;

// The loop device mounted on kMountDir; set up inside the namespace before the benchmarks.
std::string g_device;

double seconds(steady::duration d) {
    return std::chrono::duration<double>(d).count();
}

double cpu_seconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(usage.ru_utime) + s(usage.ru_stime);
}

// How a child of the fleet holds the mount.
enum class kind { none, cwd, open_file, mapping };

// Runs in a new child: takes its hold, then sleeps until it is killed (also when this
// program dies first).
[[noreturn]] void child_body(kind how, int ready) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Only the standard descriptors and the pipe stay: none of the sandbox's (its namespace
    // among them) is kept open by a sleeping child.
    const auto pipe_end = static_cast<unsigned>(ready);
    if ((pipe_end > 3 && ::close_range(3, pipe_end - 1, 0) != 0) ||
        ::close_range(pipe_end + 1, ~0U, 0) != 0) {
        _exit(3);
    }
    bool ok = true;
    switch (how) {
        case kind::none:
            ok = ::chdir("/") == 0;
            break;
        case kind::cwd:
            ok = ::chdir((std::string(kMountDir) + "/d").c_str()) == 0;
            break;
        case kind::open_file:
            ok = ::open((std::string(kMountDir) + "/file").c_str(), O_RDONLY) >= 0 &&
                 ::chdir("/") == 0;
            break;
        case kind::mapping: {
            const int fd = ::open((std::string(kMountDir) + "/lib").c_str(), O_RDONLY | O_CLOEXEC);
            ok = fd >= 0 && ::mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0) != MAP_FAILED &&
                 ::close(fd) == 0 && ::chdir("/") == 0;
            break;
        }
    }
    if (!ok || ::write(ready, "x", 1) != 1) {
        _exit(3);
    }
    ::close(ready);
    for (;;) {
        ::pause();
    }
}

// n sleeping children, every fifth a holder; all killed and reaped on destruction.
class fleet {
  public:
    fleet(int n, std::string& why) {
        int ready[2];
        if (::pipe2(ready, O_CLOEXEC) != 0) {
            why = "pipe";
            return;
        }
        for (int i = 0; i < n; ++i) {
            const kind how = i % 5 != 0         ? kind::none
                             : (i / 5) % 3 == 0 ? kind::cwd
                             : (i / 5) % 3 == 1 ? kind::open_file
                                                : kind::mapping;
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::close(ready[0]);
                child_body(how, ready[1]);
            }
            if (pid < 0) {
                why = "fork: " + std::system_category().message(errno);
                break;
            }
            m_all.push_back(pid);
            if (how != kind::none) {
                m_holders.insert(pid);
            }
        }
        ::close(ready[1]);
        // Every child says when it has taken its hold.
        for (std::size_t got = 0; got < m_all.size() && why.empty();) {
            char bytes[256];
            pollfd entry{ready[0], POLLIN, 0};
            const ssize_t r =
                ::poll(&entry, 1, 30000) == 1
                    ? ::read(ready[0], bytes, std::min(sizeof bytes, m_all.size() - got))
                    : -1;
            if (r <= 0) {
                why = "the children did not get ready";
            } else {
                got += static_cast<std::size_t>(r);
            }
        }
        ::close(ready[0]);
    }

    ~fleet() {
        for (const pid_t pid : m_all) {
            ::kill(pid, SIGKILL);
        }
        for (const pid_t pid : m_all) {
            while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
    }

    fleet(const fleet&) = delete;
    fleet& operator=(const fleet&) = delete;

    const std::set<pid_t>& holders() const { return m_holders; }
    // A child that holds nothing (its files show what each process costs a scan).
    pid_t bystander() const { return m_all.size() > 1 ? m_all[1] : -1; }

  private:
    std::vector<pid_t> m_all;
    std::set<pid_t> m_holders;
};

std::string describe(const std::set<pid_t>& found, const std::set<pid_t>& expected) {
    std::ostringstream out;
    out << found.size() << " found, " << expected.size() << " expected";
    std::vector<pid_t> extra;
    std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    for (std::size_t i = 0; i < extra.size() && i < 5; ++i) {
        out << (i == 0 ? "; not holders: " : " ") << extra[i];
    }
    return out.str();
}

// The lines of a text file, -1 when it cannot be read.
int line_count(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return -1;
    }
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        ++n;
    }
    return n;
}

// The entries of a directory that name processes or descriptors (all digits).
int numbered_entries(const std::string& path) {
    int n = 0;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            n += os::is_digit(entry->d_name) ? 1 : 0;
        }
        ::closedir(dir);
    }
    return n;
}

// os::get_pid_list against "fuser -m" on the mount with N children, of which N/5 hold it. The
// reported time is the scan's; the two take turns going first.
void BM_ScanVsFuser(benchmark::State& state) {
    std::string why;
    const fleet children(static_cast<int>(state.range(0)), why);
    if (!why.empty()) {
        return state.SkipWithError(why.c_str());
    }
    // The whole machine's processes are scanned, not only ours.
    const int processes = numbered_entries("/proc");
    const std::string bystander = "/proc/" + std::to_string(children.bystander());
    state.counters["fds/child"] = numbered_entries(bystander + "/fd");
    state.counters["maps_lines/child"] = line_count(bystander + "/maps");
    steady::duration scan{};
    steady::duration fuser{};
    double scan_cpu = 0;
    double fuser_cpu = 0;
    std::int64_t round = 0;
    for (auto _ : state) {
        const bool scan_first = round++ % 2 == 0;
        for (int turn = 0; turn < 2; ++turn) {
            std::set<pid_t> found;
            const char* who = nullptr;
            if ((turn == 0) == scan_first) {
                who = "get_pid_list";
                std::error_code ec;
                const double cpu0 = cpu_seconds(RUSAGE_SELF);
                const auto t0 = steady::now();
                const auto list = os::get_pid_list(g_device, ec);
                const auto took = steady::now() - t0;
                scan_cpu += cpu_seconds(RUSAGE_SELF) - cpu0;
                scan += took;
                state.SetIterationTime(seconds(took));
                if (ec) {
                    return state.SkipWithError(("get_pid_list: " + ec.message()).c_str());
                }
                for (const auto& h : list) {
                    found.insert(h.pid);
                }
            } else {
                who = "fuser";
                const double cpu0 = cpu_seconds(RUSAGE_CHILDREN);
                const auto t0 = steady::now();
                const auto result = zt_testing::run_captured({kFuser, "-m", kMountDir}, 60s);
                fuser += steady::now() - t0;
                fuser_cpu += cpu_seconds(RUSAGE_CHILDREN) - cpu0;
                // fuser writes the pids to its standard output, names and letters to its error.
                std::istringstream pids(result.out);
                for (pid_t pid = 0; pids >> pid;) {
                    found.insert(pid);
                }
                if (!result.status || !WIFEXITED(*result.status) ||
                    WEXITSTATUS(*result.status) != 0) {
                    return state.SkipWithError(("fuser failed: " + result.err).c_str());
                }
            }
            if (found != children.holders()) {
                return state.SkipWithError(
                    (std::string(who) + ": " + describe(found, children.holders())).c_str());
            }
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["processes"] = processes;
    state.counters["holders"] = static_cast<double>(children.holders().size());
    state.counters["scan_ms"] = seconds(scan) * 1000 / n;
    state.counters["fuser_ms"] = seconds(fuser) * 1000 / n;
    state.counters["scan_vs_fuser"] = seconds(scan) / seconds(fuser);
    state.counters["scan_cpu_ms"] = scan_cpu * 1000 / n;
    state.counters["fuser_cpu_ms"] = fuser_cpu * 1000 / n;
    // Less moved by other load on the machine than the elapsed times.
    state.counters["scan_vs_fuser_cpu"] = scan_cpu / fuser_cpu;
    state.counters["scan_us/process"] = seconds(scan) * 1e6 / n / processes;
    state.counters["fuser_us/process"] = seconds(fuser) * 1e6 / n / processes;
}
BENCHMARK(BM_ScanVsFuser)
    ->ArgName("children")
    ->Arg(250)
    ->Arg(1000)
    ->Arg(4000)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Runs a setup or teardown command inside the namespace; false (said on stderr) if it fails.
bool run(const std::vector<std::string>& argv, std::string* out = nullptr) {
    const auto result = zt_testing::run_captured(argv, 60s);
    if (!result.status || !WIFEXITED(*result.status) || WEXITSTATUS(*result.status) != 0) {
        std::fprintf(stderr, "process_scan_bench: %s failed: %s\n", argv[0].c_str(),
                     result.err.c_str());
        return false;
    }
    if (out != nullptr) {
        *out = result.out.substr(0, result.out.find('\n'));
    }
    return true;
}

// Inside the sandbox's namespace: the mount, the benchmarks, the mount taken down again.
int scan_in_namespace() {
    std::string loop;
    if (!run({"/usr/sbin/losetup", "-f", "--show", kImage}, &loop)) {
        return 1;
    }
    const std::string dir = kMountDir;
    const bool ready =
        run({"/sbin/mkfs.ext4", "-q", loop}) && ::mkdir(kMountDir, 0755) == 0 &&
        run({"/bin/mount", "-t", "ext4", loop, dir}) && ::mkdir((dir + "/d").c_str(), 0755) == 0 &&
        run({"/bin/sh", "-c",
             "echo f > " + dir + "/file && head -c 4096 /dev/zero > " + dir + "/lib"});
    int status = 1;
    if (ready) {
        g_device = loop;
        benchmark::RunSpecifiedBenchmarks();
        status = 0;
    }
    ::umount2(kMountDir, 0);
    run({"/usr/sbin/losetup", "-d", loop});
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const zt_testing::sandbox_options options{.with_bus = false};
    if (const std::string reason = zt_testing::sandbox::unavailable_reason(options);
        !reason.empty()) {
        std::fprintf(stderr, "process_scan_bench: skipped: %s\n", reason.c_str());
        return 0;
    }
    if (::access(kFuser, X_OK) != 0) {
        std::fprintf(stderr, "process_scan_bench: skipped: no %s (psmisc)\n", kFuser);
        return 0;
    }
    const auto before = bench_host::host_state::now();
    int status = 1;
    {
        zt_testing::sandbox box(options);
        const int image = ::open(box.host_path(kImage).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (image < 0 || ::ftruncate(image, kImageSize) != 0) {
            std::fprintf(stderr, "process_scan_bench: cannot make %s\n", kImage);
            return 1;
        }
        ::close(image);
        // This process may have threads by now, and only a single-threaded one can enter a
        // mount namespace: the run goes on in a child.
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::setns(box.namespace_fd(), CLONE_NEWNS) != 0) {
                std::perror("process_scan_bench: setns");
                _exit(1);
            }
            const int result = scan_in_namespace();
            benchmark::Shutdown();
            std::fflush(nullptr);
            _exit(result);
        }
        int raw = 0;
        while (pid > 0 && ::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
        }
        status = pid > 0 && WIFEXITED(raw) ? WEXITSTATUS(raw) : 1;
    }
    if (const auto left = before.difference(bench_host::host_state::now()); !left.empty()) {
        std::fprintf(stderr, "process_scan_bench: the host is not as it was:\n%s", left.c_str());
        status = 1;
    }
    return status;
}
