#include "config/config_manager.h"
#include "config/config_manager_error.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::error_code kMissing(ENOENT, std::generic_category());

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

    // Writes text as the settings file and returns a manager of it.
    config_manager with(const std::string& text) {
        std::ofstream(m_path, std::ios::binary | std::ios::trunc) << text;
        return config_manager(m_path);
    }
    std::string content() const {
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::string m_dir;
    std::string m_path;
};

TEST_F(ConfigFile, ReadsLineSyntax) {
    const std::pair<const char*, const char*> cases[] = {
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
        {"service_path=\r\nservice_path = x\r\n", "x"},
        {"service_path = /no/newline/at/end", "/no/newline/at/end"},
        {"Service_Path = /case", ""},
        {"other = x", ""},
        {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        std::error_code ec;
        EXPECT_EQ(with(text).read("service_path", ec), expected) << "file: " << text;
        EXPECT_FALSE(ec) << ec.message();
    }
}

TEST_F(ConfigFile, MissingFileOrKeyReadsEmpty) {
    config_manager config(m_path);
    std::error_code ec;
    EXPECT_EQ(config.read("service_path", ec), "");
    EXPECT_EQ(ec, kMissing);
    EXPECT_FALSE(config.read_all(ec));
    EXPECT_EQ(ec, kMissing);
    // A null key does not touch the (missing) file.
    EXPECT_EQ(config.read(nullptr, ec), "");
    EXPECT_FALSE(ec);
    EXPECT_FALSE(with("").read_all(ec));
}

TEST_F(ConfigFile, ReadAllCachesFirstValueOfEachKey) {
    config_manager config = with("# header\na = 1\nb = /x/\na = 2\nbroken\nc=d=e\n");
    EXPECT_EQ(config.get("a"), "");
    std::error_code ec;
    ASSERT_TRUE(config.read_all(ec));
    auto pairs = config.collect();
    std::sort(pairs.begin(), pairs.end());
    EXPECT_EQ(pairs, (std::vector<std::pair<std::string, std::string>>{{"a", "1"}, {"b", "/x"}}));
    // Cached keys are no longer read from the file; others still are.
    with("a = 2\nb = 3\nd = 4\n");
    EXPECT_EQ(config.read("a", ec), "1");
    EXPECT_EQ(config.read("d", ec), "4");
}

// A write replaces the first line of the key in place and keeps the others; a line of three
// pieces does not count as the key's, so the key is appended. A missing or empty file gets
// nothing written.
TEST_F(ConfigFile, WriteReplacesTheKeysLineOrAppendsItButCreatesNothing) {
    config_manager missing(m_path);
    std::error_code ec;
    EXPECT_FALSE(missing.write("service_path", "/x", ec));
    EXPECT_EQ(ec, kMissing);
    EXPECT_NE(::access(m_path.c_str(), F_OK), 0);
    EXPECT_EQ(missing.get("service_path"), "");
    EXPECT_FALSE(with("").write("service_path", "/x", ec));
    EXPECT_EQ(content(), "");

    config_manager config = with(
        "# settings\n#service_path = /old\nservice _path = /a\nx = 1 = 2\nservice_path = /b\n");
    ASSERT_TRUE(config.write("service_path", "/new", ec)) << ec.message();
    ASSERT_TRUE(config.write("x", "yes", ec)) << ec.message();
    EXPECT_EQ(content(),
              "# settings\n#service_path = /old\nservice_path = /new\nx = 1 = 2\nservice_path = "
              "/b\nx = yes");
    EXPECT_EQ(config.get("service_path"), "/new");
    EXPECT_EQ(config_manager(m_path).read("service_path", ec), "/new");
    EXPECT_EQ(config_manager(m_path).read("x", ec), "yes");
}

TEST_F(ConfigFile, WriteRefusesTextThatWouldNotReadBack) {
    config_manager config = with("service_path = /safe\n");
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
    std::error_code ec;
    EXPECT_FALSE(config.write(nullptr, "x", ec));
    EXPECT_EQ(ec, std::errc::invalid_argument);
    EXPECT_FALSE(config.write("a", nullptr, ec));
    EXPECT_EQ(content(), "service_path = /safe\n");
    EXPECT_TRUE(config.collect().empty());
}

TEST(ConfigManagerError, CategoryNameAndMessages) {
    EXPECT_STREQ(config_category().name(), "config manager");
    const std::pair<config_manager_error, const char*> rows[] = {
        {config_manager_error::success, "Success"},
        {config_manager_error::too_many_arguments, "Too many arguments"},
        {config_manager_error::parameter_exists, "Parameter already exists"},
        {config_manager_error::not_supported_symbol, "Not supported symbol"},
        {config_manager_error::parse_error, "Config file parse error"},
        {config_manager_error::insertion_failure, "Insertion failure"},
    };
    for (const auto& [value, text] : rows) {
        std::error_code ec = value;
        EXPECT_EQ(&ec.category(), &config_category());
        EXPECT_EQ(&make_error_condition(value).category(), &config_category());
        EXPECT_EQ(ec.message(), text);
    }
    EXPECT_EQ(make_error_code(config_manager_error::parse_error).value(), 259);
    EXPECT_EQ(config_category().message(261), "Unknown error: 261");
    EXPECT_EQ(config_category().message(-3), "Unknown error: -3");
}

}  // namespace
