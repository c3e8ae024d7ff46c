#include "system/ls.h"

#include <dirent.h>

#include <memory>

namespace os {

namespace {

struct dir_closer {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

}  // namespace

std::vector<std::string> ls(const std::string& dir) {
    std::vector<std::string> names;
    std::unique_ptr<DIR, dir_closer> handle(::opendir(dir.c_str()));
    if (!handle) {
        return names;
    }
    while (const dirent* entry = ::readdir(handle.get())) {
        names.emplace_back(entry->d_name);
    }
    return names;
}

}  // namespace os
