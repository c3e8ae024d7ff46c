// Writes a new key container (two fresh X25519 key pairs) in the provider's layout.
// Usage: ztcrypto-make-container OUTPUT PASSWORD CREATED ITERATIONS
//   CREATED is a UTC GeneralizedTime such as 20240131235959Z; PASSWORD is ASCII.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "ztcrypto/ztcrypto.h"

namespace {

bool parse_time(const std::string& text, std::time_t& out) {
    std::tm tm{};
    char zone = 0;
    if (text.size() != 15 ||
        std::sscanf(text.c_str(), "%4d%2d%2d%2d%2d%2d%c", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &zone) != 7 ||
        zone != 'Z') {
        return false;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    out = timegm(&tm);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s OUTPUT PASSWORD CREATED ITERATIONS\n", argv[0]);
        return 2;
    }
    std::wstring password;
    for (const char* p = argv[2]; *p != '\0'; ++p) {
        if (static_cast<unsigned char>(*p) >= 0x80) {
            std::fprintf(stderr, "the password must be ASCII\n");
            return 2;
        }
        password.push_back(static_cast<wchar_t>(*p));
    }
    std::time_t created = 0;
    if (!parse_time(argv[3], created)) {
        std::fprintf(stderr, "CREATED must look like 20240131235959Z\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long iterations = std::strtoul(argv[4], &end, 10);
    if (end == argv[4] || *end != '\0' || iterations > 0xFFFFFFFFUL) {
        std::fprintf(stderr, "ITERATIONS must be a number\n");
        return 2;
    }
    try {
        CryptoFactoryDef factory;
        factory.initialize(nullptr, 0);
        auto agreement = factory.create_key_agreement(L"");
        const auto container =
            agreement->create_container(password, created, static_cast<std::uint32_t>(iterations));
        std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(container.data()),
                  static_cast<std::streamsize>(container.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "cannot write %s\n", argv[1]);
            return 1;
        }
        std::printf("%zu bytes written to %s\n", container.size(), argv[1]);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
