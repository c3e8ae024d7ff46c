#include "testing/host_state.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

#include "testing/process.h"

namespace zt_testing {

namespace {

std::multiset<std::string> lines(const std::string& text) {
    std::multiset<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.insert(line);
    }
    return out;
}

// The lines of a that b lacks, each prefixed with mark.
std::string missing(const std::string& a, const std::string& b, const std::string& mark) {
    const auto left = lines(a);
    const auto right = lines(b);
    std::vector<std::string> only;
    std::set_difference(left.begin(), left.end(), right.begin(), right.end(),
                        std::back_inserter(only));
    std::string out;
    for (const auto& line : only) {
        out += mark + line + "\n";
    }
    return out;
}

}  // namespace

std::string attached_loops() {
    using namespace std::chrono_literals;
    return run_captured({"/usr/sbin/losetup", "-a"}, 30s).out;
}

std::uint64_t resident_bytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stoull(line.substr(6)) * 1024;  // the kernel writes kB
        }
    }
    return 0;
}

host_state host_state::now() {
    host_state state;
    state.loops = attached_loops();
    std::ifstream in("/proc/self/mounts");
    state.mounts.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return state;
}

std::string host_state::difference(const host_state& other) const {
    return missing(loops, other.loops, "loop device gone: ") +
           missing(other.loops, loops, "loop device new:  ") +
           missing(mounts, other.mounts, "mount gone: ") +
           missing(other.mounts, mounts, "mount new:  ");
}

}  // namespace zt_testing
