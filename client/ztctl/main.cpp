// ztctl: the command-line client of the encrypted disk service.

#include <libintl.h>

#include <clocale>
#include <iostream>
#include <string>
#include <vector>

#include "client/ztctl/command_line.h"
#include "client/ztctl/commands.h"
#include "client/ztctl/output.h"
#include "client/ztctl/password_input.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    bindtextdomain(ZT_TEXT_DOMAIN, ZT_LOCALE_DIR);
    textdomain(ZT_TEXT_DOMAIN);

    const std::vector<std::string> args(argv + 1, argv + argc);
    const ztctl::parse_result parsed = ztctl::parse_command_line(args);
    std::cout << parsed.out;
    std::cerr << parsed.err;
    if (!parsed.run) {
        return parsed.status;
    }
    const ztctl::invocation& what = *parsed.run;
    ztctl::prompts ask;
    ask.password = [&](const std::string& account, std::wstring& password, std::error_code& ec) {
        return ztctl::read_password(what.global.password_file, account, password, ec);
    };
    ask.new_password = [&](const std::string& account, std::wstring& password,
                           std::error_code& ec) {
        return ztctl::read_new_password(what.new_password_file, account, password, ec);
    };
    ask.confirm = ztctl::confirm;
    const ztctl::result r = ztctl::run(what, ask);
    ztctl::print(r, what.global, std::cout, std::cerr);
    return r.status;
}
