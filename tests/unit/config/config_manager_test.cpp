#include "config/config_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// A private directory holding the settings file of one test.
class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zt-config-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_path = m_dir + "/ztctl.conf";
    }
    void TearDown() override {
        ::unlink(m_path.c_str());
        ::rmdir(m_dir.c_str());
    }

    void put(const std::string& text) {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << text;
    }
    std::string content() const {
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::string read_key(const std::string& text, const char* key) {
        put(text);
        config_manager config(m_path);
        std::error_code ec;
        std::string value = config.read(key, ec);
        EXPECT_FALSE(ec) << ec.message();
        return value;
    }

    std::string m_dir;
    std::string m_path;
};

struct line_case {
    const char* text;
    const char* expected;
};

TEST_F(ConfigFile, ReadsLineSyntax) {
    const line_case cases[] = {
        {"service_path = /var/lib/ztctl", "/var/lib/ztctl"},
        {"service_path = /var/lib/ztctl///", "/var/lib/ztctl"},
        {"service_path=/", ""},
        {"service_path = ///", ""},
        {"service _path = x", "x"},
        {"  service_path\t=\t/var/lib/zt data  ", "/var/lib/ztdata"},
        {"service_path=b=", "b"},
        {"service_path", ""},
        {"service_path=", ""},
        {"service_path==b", ""},
        {"service_path = /a = /b", ""},
        {"#service_path = /a\nservice_path = /b", "/b"},
        {"   # service_path = /a\nservice_path = /b", "/b"},
        {"service_path = /first\nservice_path = /second", "/first"},
        {"service_path = /a = /b\nservice_path = /c", "/c"},
        {"\n\n   \nservice_path = /after/blank/lines", "/after/blank/lines"},
        {"service_path = /crlf\r\nother = 1\r\n", "/crlf"},
        {"service_path = /no/newline/at/end", "/no/newline/at/end"},
        {"Service_Path = /case", ""},
        {"other = x", ""},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(read_key(text, "service_path"), expected) << "file: " << text;
    }
}

TEST_F(ConfigFile, CarriageReturnEndingsReadLikePlainOnes) {
    EXPECT_EQ(read_key("a=\r\na = x\r\n", "a"), read_key("a=\na = x\n", "a"));
    EXPECT_EQ(read_key("a = x\r\n", "a"), "x");
}

TEST_F(ConfigFile, MissingFileGivesEmptyValueAndErrno) {
    config_manager config(m_path);
    std::error_code ec;
    EXPECT_EQ(config.read("service_path", ec), "");
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
}

TEST_F(ConfigFile, NullKeyReadsEmptyWithoutTouchingTheFile) {
    config_manager config(m_path);  // the file does not exist
    std::error_code ec;
    EXPECT_EQ(config.read(nullptr, ec), "");
    EXPECT_FALSE(ec);
    EXPECT_EQ(config.get(nullptr), "");
}

TEST_F(ConfigFile, ReadAllCachesFirstValueOfEachKey) {
    put("# header\na = 1\nb = /x/\na = 2\nbroken\nc=d=e\n");
    config_manager config(m_path);
    EXPECT_EQ(config.get("a"), "");
    std::error_code ec;
    ASSERT_TRUE(config.read_all(ec));
    EXPECT_EQ(config.get("a"), "1");
    EXPECT_EQ(config.get("b"), "/x");
    EXPECT_EQ(config.get("c"), "");
    auto pairs = config.collect();
    std::sort(pairs.begin(), pairs.end());
    EXPECT_EQ(pairs, (std::vector<std::pair<std::string, std::string>>{{"a", "1"}, {"b", "/x"}}));
}

TEST_F(ConfigFile, ReadPrefersCacheOnceFilled) {
    put("a = 1\n");
    config_manager config(m_path);
    std::error_code ec;
    ASSERT_TRUE(config.read_all(ec));
    put("a = 2\nb = 3\n");
    EXPECT_EQ(config.read("a", ec), "1");
    EXPECT_EQ(config.read("b", ec), "3");  // not cached: read from the file
}

TEST_F(ConfigFile, ReadAllOfMissingOrEmptyFileFails) {
    config_manager config(m_path);
    std::error_code ec;
    EXPECT_FALSE(config.read_all(ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
    put("");
    EXPECT_FALSE(config.read_all(ec));
    EXPECT_TRUE(config.collect().empty());
}

TEST_F(ConfigFile, WriteOnMissingFileCreatesNothing) {
    config_manager config(m_path);
    std::error_code ec;
    EXPECT_FALSE(config.write("service_path", "/x", ec));
    EXPECT_EQ(ec, std::error_code(ENOENT, std::generic_category()));
    struct stat info {};
    EXPECT_NE(::stat(m_path.c_str(), &info), 0);
    EXPECT_EQ(config.get("service_path"), "");
}

TEST_F(ConfigFile, WriteOnEmptyFileChangesNothing) {
    put("");
    config_manager config(m_path);
    std::error_code ec;
    EXPECT_FALSE(config.write("service_path", "/x", ec));
    EXPECT_EQ(content(), "");
    EXPECT_EQ(config.get("service_path"), "");
}

TEST_F(ConfigFile, WriteReplacesFirstMatchInPlaceKeepingOtherLines) {
    put("# settings\n#service_path = /old\nservice _path = /a\nx = 1\nservice_path = /b\n");
    config_manager config(m_path);
    std::error_code ec;
    ASSERT_TRUE(config.write("service_path", "/new", ec)) << ec.message();
    EXPECT_EQ(content(),
              "# settings\n#service_path = /old\nservice_path = /new\nx = 1\nservice_path = /b");
    EXPECT_EQ(config.get("service_path"), "/new");
    config_manager fresh(m_path);
    EXPECT_EQ(fresh.read("service_path", ec), "/new");
}

TEST_F(ConfigFile, WriteAppendsUnknownKey) {
    put("# only a comment\nbroken line\n");
    config_manager config(m_path);
    std::error_code ec;
    ASSERT_TRUE(config.write("launch_in_hardened", "yes", ec));
    EXPECT_EQ(content(), "# only a comment\nbroken line\nlaunch_in_hardened = yes");
    EXPECT_EQ(config_manager(m_path).read("launch_in_hardened", ec), "yes");
}

TEST_F(ConfigFile, WriteSkipsThreePieceLinesWhenLookingForTheKey) {
    put("a = 1 = 2\nb = 3\n");
    config_manager config(m_path);
    std::error_code ec;
    ASSERT_TRUE(config.write("a", "4", ec));
    EXPECT_EQ(content(), "a = 1 = 2\nb = 3\na = 4");
}

TEST_F(ConfigFile, WriteRefusesTextThatWouldNotReadBack) {
    put("service_path = /safe\n");
    config_manager config(m_path);
    const std::pair<const char*, const char*> refused[] = {
        {"service_path", "/x\nlaunch_in_hardened = yes"},
        {"service_path", "/x\r"},
        {"service_path", "/a=/b"},
        {"service path", "/x"},
        {"a=b", "/x"},
        {"#service_path", "/x"},
        {"", "/x"},
    };
    for (const auto& [key, value] : refused) {
        std::error_code ec;
        EXPECT_FALSE(config.write(key, value, ec)) << key << " / " << value;
        EXPECT_EQ(ec, config_manager_error::not_supported_symbol);
    }
    EXPECT_EQ(content(), "service_path = /safe\n");
    EXPECT_TRUE(config.collect().empty());
}

TEST_F(ConfigFile, WriteWithNullArgumentFails) {
    put("a = 1\n");
    config_manager config(m_path);
    std::error_code ec;
    EXPECT_FALSE(config.write(nullptr, "x", ec));
    EXPECT_EQ(ec, std::errc::invalid_argument);
    EXPECT_FALSE(config.write("a", nullptr, ec));
    EXPECT_EQ(content(), "a = 1\n");
}

TEST_F(ConfigFile, SetConfigSwitchesFile) {
    put("k = v\n");
    config_manager config;
    std::error_code ec;
    EXPECT_EQ(config.read("k", ec), "");
    EXPECT_TRUE(ec);
    config.set_config(m_path);
    EXPECT_EQ(config.read("k", ec), "v");
    EXPECT_FALSE(ec);
}

TEST(ConfigLine, WrittenFormIsKeySpacedEqualsValue) {
    EXPECT_EQ(build_config_line("service_path", "/var/lib/ztctl"), "service_path = /var/lib/ztctl");
    EXPECT_EQ(build_config_line("k", ""), "k = ");
}

}  // namespace
