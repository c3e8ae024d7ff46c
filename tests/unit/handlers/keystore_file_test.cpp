// The key store file named in a registration is read without following any link, also where
// the kernel (or a seccomp filter, or valgrind) has no openat2: a child process whose filter
// answers openat2 with ENOSYS must refuse the same paths.
#include "handlers/keystore_file.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// From now on openat2 fails with ENOSYS in this process.
bool without_openat2() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_openat2, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

TEST(KeystoreFile, NoLinkIsFollowedWithOrWithoutOpenat2) {
    const fs::path dir = fs::temp_directory_path() / ("zt-keystore-" + std::to_string(getpid()));
    fs::create_directories(dir / "real");
    std::ofstream(dir / "real" / "store") << "key store";
    fs::create_directory_symlink(dir / "real", dir / "linked-dir");
    fs::create_symlink(dir / "real" / "store", dir / "linked-file");
    const struct {
        std::string path;
        int error;  // 0: read
    } rows[] = {
        {(dir / "real" / "store").string(), 0},  {(dir / "real" / "." / "store").string(), 0},
        {(dir / "linked-file").string(), ELOOP}, {(dir / "linked-dir" / "store").string(), ELOOP},
        {(dir / "real").string(), EINVAL},       {(dir / "missing").string(), ENOENT},
    };
    for (const bool filtered : {false, true}) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (filtered && !without_openat2()) {
                _exit(100);
            }
            int failures = 0;
            for (const auto& row : rows) {
                keystore_file file;
                std::vector<unsigned char> data;
                std::error_code ec;
                const bool read = file.read(row.path, data, ec);
                const bool right =
                    row.error == 0 ? read && data.size() == 9 : !read && ec.value() == row.error;
                if (!right) {
                    fprintf(stderr, "%s: %s\n", row.path.c_str(), ec.message().c_str());
                    ++failures;
                }
            }
            _exit(failures);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (filtered ? "without openat2" : "with openat2") << ": status " << status;
    }
    fs::remove_all(dir);
}

}  // namespace
