#include "testing/account_process.h"

#include <grp.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <iostream>

#include "testing/process.h"

namespace zt_testing {

int run_as(const sandbox& box, uid_t uid, const std::function<int()>& body,
           const std::function<void()>& serve, std::chrono::milliseconds timeout) {
    std::cout.flush();
    const pid_t pid = ::fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        if (::setns(box.namespace_fd(), CLONE_NEWNS) != 0 || ::setgroups(0, nullptr) != 0 ||
            ::setgid(uid) != 0 || ::setuid(uid) != 0) {
            ::_exit(100);
        }
        int code = 101;
        try {
            code = body();
        } catch (...) {
        }
        std::cout.flush();
        std::fflush(nullptr);
        ::_exit(code);
    }
    int status = 0;
    const bool ended = wait_until(
        [&] {
            if (serve) {
                serve();
            }
            return ::waitpid(pid, &status, WNOHANG) == pid;
        },
        timeout);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace zt_testing
