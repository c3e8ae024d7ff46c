// Runs the ztctl-provision program and checks what it leaves on disk.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "../database/service_fixture.h"
#include "client/service_keys.h"
#include "crypto/hasher.h"
#include "database/database.h"
#include "provision.h"
#include "ztcrypto/ztcrypto.h"

namespace {

using testing_db::bytes;
using testing_db::read_all;

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned mode_of(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFFu;
}

class ProvisionTool : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(m_root + "/root.pw") << "correct horse\n";
        std::ofstream(m_root + "/ops.pw") << "battery staple \xf0\x9f\x94\x91";  // U+1F511
    }

    // Runs the tool with the arguments; returns its exit status, output in m_output.
    int run(const std::string& arguments) {
        const std::string log = m_root + "/out.txt";
        const int status =
            std::system((ZTCTL_PROVISION " " + arguments + " >" + log + " 2>&1").c_str());
        m_output = read_text(log);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Loads database.bin with the credentials in service.bin, as the daemon does.
    bool load(Database& database, std::error_code& ec) {
        bytes service = read_all(m_service + "/service.bin");
        service.resize(std::max<std::size_t>(service.size(), 33));  // a short file fails below
        const Database::credentials credentials{
            provision::service_password(bytes(service.begin(), service.begin() + 32)),
            bytes(service.begin() + 32, service.end())};
        m_factory = provision::make_factory();
        return database.crypto_service().initialize(m_factory, ec) &&
               database.load(m_service + "/database.bin", credentials, ec);
    }

    testing_db::temp_dir m_dir;
    const std::string m_root = m_dir.path();
    const std::string m_service = m_root + "/srv/ztctl";
    const std::string m_args = "--service-dir " + m_service + " --admin root:" + m_root +
                               "/root.pw --admin ops:" + m_root +
                               "/ops.pw --iterations 1000 --allow-low-iterations";
    std::string m_output;
    crypto_factory m_factory;
};

TEST_F(ProvisionTool, CreatesPrivateFilesThatLoadAndExportsOnRequest) {
    const std::string config = m_root + "/etc/ztctl/ztctl.conf";
    ASSERT_EQ(run(m_args + " --write-config --config-path " + config + " --export-container root:" +
                  m_root + "/root.container --export-token root:" + m_root + "/root.token"),
              0)
        << m_output;
    for (const std::string& file : {m_service + "/service.bin", m_service + "/database.bin", config,
                                    m_root + "/root.container", m_root + "/root.token"}) {
        EXPECT_EQ(mode_of(file), 0600u) << file;
    }
    EXPECT_EQ(mode_of(m_service), 0700u);
    EXPECT_EQ(read_text(config),
              "# Written by ztctl-provision.\nservice_path = " + m_service + "\n");
    // The service's public keys beside it, readable by every client that pins them.
    const std::string keys = m_root + "/etc/ztctl/service.pub";
    EXPECT_EQ(mode_of(keys), 0644u);
    client::service_keys pinned;
    std::error_code pin_error;
    ASSERT_TRUE(client::parse_service_keys(read_text(keys), pinned, pin_error))
        << pin_error.message();
    EXPECT_EQ(pinned.asymmetric.size(), 44u);

    Database database;
    std::error_code ec;
    ASSERT_TRUE(load(database, ec)) << ec.message();
    ASSERT_EQ(database.get_admin_list().size(), 2u);
    EXPECT_EQ(database.id_manager().next_id(), 1u);
    auto* root = database.select_admin_entry("root");
    auto* ops = database.select_admin_entry("ops");
    ASSERT_TRUE(root && ops);
    EXPECT_EQ(read_all(m_root + "/root.container"), root->get_container());
    EXPECT_EQ(read_all(m_root + "/root.token"), root->get_parameter());
    Hasher hasher;
    ASSERT_TRUE(hasher.initialize(m_factory, ec));
    EXPECT_EQ(root->get_hash(), hasher.hash(root->get_container(), ec));
    EXPECT_EQ(root->get_parameter().size(), 32u);
    EXPECT_NE(root->get_parameter(), ops->get_parameter());

    // Each administrator's container opens with its own password, not with the other's; a
    // character beyond the basic plane is one code point, as the provider takes it. (That the
    // password file's trailing newline is no part of it shows at every sandbox login.)
    auto agreement = m_factory.self()->create_key_agreement(L"");
    const auto& container = ops->get_container();
    EXPECT_ANY_THROW(
        agreement->import_container(container.data(), container.size(), L"correct horse"));
    EXPECT_NO_THROW(agreement->import_container(container.data(), container.size(),
                                                L"battery staple \U0001F511"));
}

TEST_F(ProvisionTool, DefaultIterationsAndNoOverwriteWithoutForce) {
    const std::string defaults =
        "--service-dir " + m_service + " --admin root:" + m_root + "/root.pw";
    ASSERT_EQ(run(defaults), 0) << m_output;
    Database database;
    std::error_code ec;
    ASSERT_TRUE(load(database, ec)) << ec.message();
    // The PBKDF2 parameters in the container: INTEGER 600000 is 02 03 09 27 C0.
    const auto& container = database.select_admin_entry("root")->get_container();
    const bytes iterations = {0x02, 0x03, 0x09, 0x27, 0xC0};
    EXPECT_NE(std::search(container.begin(), container.end(), iterations.begin(), iterations.end()),
              container.end());

    const bytes stored = read_all(m_service + "/database.bin");
    const bytes service = read_all(m_service + "/service.bin");
    EXPECT_EQ(run(defaults), 1);
    EXPECT_NE(m_output.find("already exists"), std::string::npos) << m_output;
    EXPECT_EQ(read_all(m_service + "/database.bin"), stored);
    EXPECT_EQ(read_all(m_service + "/service.bin"), service);

    // A forced run that fails late (its token cannot replace a directory) changes nothing:
    // the files it had already put in place get their previous versions back.
    const std::string blocked = m_root + "/token.d";
    std::filesystem::create_directory(blocked);
    EXPECT_EQ(run(m_args + " --force --export-token root:" + blocked), 1);
    EXPECT_NE(m_output.find("nothing was changed"), std::string::npos) << m_output;
    EXPECT_EQ(m_output.find("wrote"), std::string::npos) << m_output;
    EXPECT_EQ(read_all(m_service + "/database.bin"), stored);
    EXPECT_EQ(read_all(m_service + "/service.bin"), service);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_service)) {
        ++entries;  // no temporary or previous version is left behind
    }
    EXPECT_EQ(entries, 2u);

    ASSERT_EQ(run(m_args + " --force"), 0) << m_output;
    EXPECT_NE(read_all(m_service + "/service.bin"), service);
    Database reloaded;
    ASSERT_TRUE(load(reloaded, ec)) << ec.message();
    EXPECT_EQ(reloaded.get_admin_list().size(), 2u);
}

// The service directory is made private even when it was there before with a wider mode;
// a password read from standard input ends at its first line.
TEST_F(ProvisionTool, ExistingServiceDirectoryIsNarrowedAndStandardInputGivesOneLine) {
    std::filesystem::create_directories(m_service);
    ASSERT_EQ(::chmod(m_service.c_str(), 0755), 0);
    std::ofstream(m_root + "/stdin.txt") << "from standard input\nnot part of it\n";
    ASSERT_EQ(run("--service-dir " + m_service + " --admin root:- --iterations 1000 " +
                  "--allow-low-iterations < " + m_root + "/stdin.txt"),
              0)
        << m_output;
    EXPECT_EQ(mode_of(m_service), 0700u);
    Database database;
    std::error_code ec;
    ASSERT_TRUE(load(database, ec)) << ec.message();
    const auto& container = database.select_admin_entry("root")->get_container();
    auto agreement = m_factory.self()->create_key_agreement(L"");
    EXPECT_NO_THROW(
        agreement->import_container(container.data(), container.size(), L"from standard input"));
}

TEST_F(ProvisionTool, RefusalsWriteNothing) {
    EXPECT_EQ(run("--service-dir " + m_service), 2);  // a bad command line
    EXPECT_NE(m_output.find("Usage: ztctl-provision"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(m_service));
    EXPECT_EQ(run("--service-dir " + m_service + " --admin root:" + m_root + "/missing.pw"), 1);
    EXPECT_FALSE(std::filesystem::exists(m_service + "/database.bin"));
    // A file far longer than any password is not taken as one.
    std::ofstream(m_root + "/long.pw") << std::string(5000, 'x');
    EXPECT_EQ(run("--service-dir " + m_service + " --admin root:" + m_root + "/long.pw"), 1);
    EXPECT_NE(m_output.find("long.pw"), std::string::npos) << m_output;
    EXPECT_FALSE(std::filesystem::exists(m_service + "/database.bin"));

}

// An install leaves the sample configuration in place; --write-config replaces it while it
// is byte for byte the sample, and refuses, as for any existing file, once it is not.
TEST_F(ProvisionTool, WriteConfigReplacesOnlyTheUnchangedSample) {
    const std::string sample = read_text(ZT_SAMPLE_CONFIG);
    const std::string setting = "launch_in_hardened = no";
    ASSERT_NE(sample.find(setting), std::string::npos) << sample;
    std::string edited = sample;
    edited.replace(edited.find(setting), setting.size(), "launch_in_hardened = yes");
    struct config_case {
        const char* name;
        std::string text;
        bool through_link;  // the configuration is a link to a file holding text
        bool replaced;
    };
    const config_case cases[] = {
        {"unchanged sample", sample, false, true},
        {"one setting changed", edited, false, false},
        {"a line added", sample + "# local note\n", false, false},
        {"a byte missing", sample.substr(0, sample.size() - 1), false, false},
        {"a link to the sample", sample, true, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = m_root + "/case" + std::to_string(++n);
        const std::string config = dir + "/etc/ztctl.conf";
        const std::string service = dir + "/srv";
        std::filesystem::create_directories(dir + "/etc");
        const std::string holder = c.through_link ? dir + "/sample.conf" : config;
        std::ofstream(holder, std::ios::binary) << c.text;
        if (c.through_link) {
            std::filesystem::create_symlink(holder, config);
        }
        const int status = run("--service-dir " + service + " --admin root:" + m_root +
                               "/root.pw --iterations 1000 --allow-low-iterations" +
                               " --write-config --config-path " + config);
        if (c.replaced) {
            EXPECT_EQ(status, 0) << m_output;
            EXPECT_EQ(read_text(config),
                      "# Written by ztctl-provision.\nservice_path = " + service + "\n");
            EXPECT_EQ(mode_of(config), 0600u);
            EXPECT_TRUE(std::filesystem::exists(service + "/database.bin"));
        } else {
            EXPECT_EQ(status, 1) << m_output;
            EXPECT_NE(m_output.find(config + " already exists"), std::string::npos) << m_output;
            EXPECT_EQ(read_text(holder), c.text);
            EXPECT_EQ(std::filesystem::is_symlink(config), c.through_link);
            EXPECT_FALSE(std::filesystem::exists(service + "/database.bin"));
        }
    }
}

}  // namespace
