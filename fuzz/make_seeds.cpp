// Writes the seed inputs of the fuzz targets that start from what the project's own
// encoders produce: fuzz_make_seeds <corpus directory>. Each target's seeds go into the
// directory named after it; existing files of the same name are replaced.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "client/keystore.h"
#include "crypto/asymmetric_encryptor.h"
#include "crypto/crypto_factory.h"
#include "daemon/ztctl_error.h"
#include "database/serializer.h"
#include "dbus/reply_builder.h"
#include "fuzz_input.h"
#include "handlers/container.h"
#include "handlers/disk.h"
#include "handlers/disk_control.h"
#include "handlers/profile.h"
#include "session/transfer_error.h"
#include "session_handshake_input.h"
#include "system/cast.h"
#include "system/loop_error.h"
#include "system/uuid.h"

namespace {

using fuzz::bytes;
using fuzz::input_writer;

std::filesystem::path g_root;

void write_seed(const std::string& target, const std::string& name, const bytes& data) {
    const auto dir = g_root / target;
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

// Calls of whole handshakes and sessions, in the order clients make them.
void handshake_seeds() {
    namespace h = fuzz::handshake;
    using h::step;
    const bytes iv(16, 0x3C);
    const bytes body = {'m', 'o', 'u', 'n', 't'};

    // A clear session: open, one request, close with a confirmation.
    {
        input_writer out;
        h::write_call(out, step::open, h::kWords, 4, 4);
        h::write_call(out, step::request, h::kWords, 2, 16, 4, body);
        h::write_call(out, step::request, h::kWords, 2, 1, 4, body);
        h::write_call(out, step::close, h::kWords, 32, 4);
        write_seed("session_handshake", "clear_session", out.get());
    }
    // Both handshakes into an encrypted session, a request in it and a confirmed close.
    for (const bool authenticated : {false, true}) {
        input_writer out;
        h::write_call(out, step::open, h::kWords, 4, 4);
        h::write_call(out, step::authenticate, h::kWords, 7, 4);
        h::write_call(out, step::switch_context, h::kWords, 512, 4);
        if (authenticated) {
            h::write_call(out, step::switch_context, h::kWords, 16, 4);
        } else {
            h::write_call(out, step::open, h::kWords, 8, 4);
        }
        h::write_call(out, step::establish, h::kWords | h::kPeerMaterial, 256, 8);
        h::write_call(out, step::establish, h::kWords, 256, 16);
        h::write_call(out, step::establish, h::kWords, 256, 32, 4, iv);
        h::write_call(out, step::apply_token, h::kWords, 256, 4);
        h::write_call(out, step::setup_complete, h::kWords, authenticated ? 256 : 128, 128);
        h::write_call(out, step::request, h::kSealed, 1, 16, 4, body);
        h::write_call(out, step::request, h::kSealed | h::kLongForm, 1, 16, 4);
        h::write_call(out, step::close, h::kSealed, 64, 4);
        write_seed("session_handshake", authenticated ? "authenticated_session" : "secure_session",
                   out.get());
    }
    // A secured handshake that goes back to its start by an encrypted "SwitchContext",
    // keyed before the token was applied, then completes without one.
    {
        input_writer out;
        h::write_call(out, step::open, h::kWords, 4, 4);
        h::write_call(out, step::authenticate, h::kWords, 7, 4);
        h::write_call(out, step::switch_context, h::kWords, 512, 4);
        h::write_call(out, step::open, h::kWords, 8, 4);
        h::write_call(out, step::establish, h::kWords | h::kPeerMaterial, 256, 8);
        h::write_call(out, step::establish, h::kWords, 256, 16);
        h::write_call(out, step::establish, h::kWords, 256, 32, 4, iv);
        h::write_call(out, step::switch_context, h::kSealed | h::kWithoutToken, 512, 4);
        h::write_call(out, step::open, h::kWords, 8, 4);
        h::write_call(out, step::apply_token, h::kWords | h::kEmptyToken, 256, 4);
        h::write_call(out, step::setup_complete, h::kWords, 128, 128);
        write_seed("session_handshake", "switch_back_without_token", out.get());
    }
    // Calls out of order and calls without a packet.
    {
        input_writer out;
        h::write_call(out, step::establish, h::kWords, 256, 16);
        h::write_call(out, step::setup_complete, h::kNone, 0, 0);
        h::write_call(out, step::authenticate, h::kWords, 7, 4);
        h::write_call(out, step::open, h::kWords, 0, 0, 0);
        h::write_call(out, step::open, h::kWords, 8, 4);
        h::write_call(out, step::establish, h::kWords, 256, 16);
        h::write_call(out, step::establish, h::kArray, 0, 0, 0, bytes(32, 1));
        h::write_call(out, step::setup_complete, h::kWords, 128, 128);
        h::write_call(out, step::close, h::kWords | (2 << h::kOmittedShift), 32, 0);
        write_seed("session_handshake", "out_of_order", out.get());
    }
}

// Replies as the daemon builds them: the short status replies, error replies of known and
// unknown categories, a result payload and an info text.
void reply_seeds() {
    const std::string target = "client_reply_decode";
    write_seed(target, "success", reply_builder::success());
    write_seed(target, "failure", reply_builder::failure());
    write_seed(target, "true", reply_builder::resp_true());
    write_seed(target, "false", reply_builder::resp_false());
    write_seed(target, "error_ztctl", reply_builder(ztctl_error::disk_not_exist).obtain());
    write_seed(target, "error_transfer",
               reply_builder(make_error_code(transfer_error::data_corrupted)).obtain());
    write_seed(target, "error_errno",
               reply_builder(std::make_error_code(std::errc::permission_denied)).obtain());
    write_seed(target, "error_loop_device",
               reply_builder(make_error_code(sys::LoopError::DeviceBusy)).obtain());
    Serializer list;
    list.push_back(cast::to_vector(std::string("alice")));
    list.push_back(cast::to_vector(std::string("bob")));
    write_seed(target, "payload",
               reply_builder(reply_status_code::success, list.serialize()).obtain());
    write_seed(target, "info",
               reply_builder(reply_status_code::true_value, std::string("mounted\n")).obtain());
}

// Request bodies as the client builds them, and a key store packed for the reference
// container's key, which the payload target holds as the service key.
void payload_seeds(const std::string& service_container) {
    const std::string target = "payload_records";
    write_seed(target, "profile_add",
               Container::Profile("alice", "/tmp/ztctl-1/keystore").serialize());
    write_seed(target, "profile_remove", Container::Profile("alice", "").serialize());
    write_seed(
        target, "disk_create",
        Container::Disk("alice", "/var/lib/ztctl/alice.img", "ext4", 64ull << 20).serialize());
    write_seed(target, "disk_control_mount", [] {
        DiskControl control("0f8fad5b-d9cb-469f-a165-70867728950e");
        control.data = bytes(32, 0xA5);
        return control.serialize();
    }());
    write_seed(target, "disk_control_uuid",
               DiskControl("0f8fad5b-d9cb-469f-a165-70867728950e").serialize());
    write_seed(target, "keystore", Container::Keystore(bytes(32, 9), bytes(32, 8)).serialize());

    crypto_factory factory;
    factory.initialize(bytes(32, 5));
    std::ifstream in(service_container, std::ios::binary);
    const bytes container((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto asymmetric = factory.self()->create_asymmetric(L"");
    asymmetric->import_container(container.data(), container.size(), L"reference-password");
    asymmetric_encryptor service(asymmetric);
    std::error_code ec;
    bytes file;
    if (service.initialize(factory, ec) &&
        client::prepare_keystore(factory, service.get_public_key(ec), L"alice-password", file,
                                 ec)) {
        write_seed(target, "datastore", file);
    } else {
        std::fprintf(stderr, "no key store seed: %s\n", ec.message().c_str());
    }
}

// Names, UUID texts, an owner and a path below the scratch tree of the target.
void name_path_seeds() {
    const std::string target = "system_names_paths";
    struct seed {
        const char* file;
        std::string name, uuid;
        std::uint32_t owner;
        std::string path;
    };
    const Uuid uuid(bytes{0x0f, 0x8f, 0xad, 0x5b, 0xd9, 0xcb, 0x46, 0x9f, 0xa1, 0x65, 0x70, 0x86,
                          0x77, 0x28, 0x95, 0x0e});
    const seed seeds[] = {
        {"real_dir", "real", uuid.str(), 0, "real/disk.img"},
        {"inner_dir", "other", uuid.upper(), 1000, "real/inner/new.img"},
        {"through_link", "link", "0f8fad5b-d9cb-469f-a165-70867728950", 0, "link/disk.img"},
        {"shared_dir", "shared", "", 0, "shared/disk.img"},
        {"dot_dot", "..", "", 0, "real/../real/disk.img"},
        {"service_name", "ru.quorvex.server", "", 0, "file"},
        {"unsafe_name", "a<b", "", 0, "real//disk.img"},
    };
    for (const seed& s : seeds) {
        fuzz::input_writer out;
        out.chunk(s.name).chunk(s.uuid).word(s.owner).raw(s.path);
        write_seed(target, s.file, out.get());
    }
}

// Kernel tables in the kernel's own format, with known values before them.
void process_table_seeds() {
    const std::string target = "system_process_tables";
    struct seed {
        const char* file;
        std::string device, dir, cwd;
        std::uint32_t id, major, minor, uid;
        std::string table;
    };
    const seed seeds[] = {
        {"mounts", "/dev/cryx0", "/zt/alice", "/zt/alice/work", 41, 252, 0, 1000,
         "/dev/sda1 / ext4 rw,relatime 0 0\n"
         "/dev/cryx0 /zt/alice ext4 rw,nosuid,nodev 0 0\n"
         "/dev/cryx1 /zt/bob\\040smith ext4 rw 0 0\n"
         "tmpfs /run tmpfs rw,nosuid,nodev,mode=755 0 0\n"},
        {"mountinfo", "252:0", "/zt/alice", "/zt/al", 41, 252, 1, 0,
         "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
         "41 22 252:0 / /zt/alice rw,nosuid shared:30 - ext4 /dev/cryx0 rw\n"
         "42 22 252:1 / /zt/bob\\040smith rw shared:31 - ext4 /dev/cryx1 rw\n"},
        {"fdinfo", "7:0", "/zt/bob", "/", 42, 7, 0, 0,
         "pos:\t4096\nflags:\t0100002\nmnt_id:\t42\nino:\t131\n"},
        {"maps", "fc:00", "/zt/alice/", "/zt/alice", 1, 0xfc, 0, 1000,
         "55d0c1a00000-55d0c1a02000 r--p 00000000 08:01 393 /usr/bin/cat\n"
         "7f3a2c000000-7f3a2c021000 r--p 00000000 fc:00 131 /zt/alice/lib.so\n"
         "7ffd5b3e0000-7ffd5b401000 rw-p 00000000 00:00 0 [stack]\n"},
        {"status", "0", "", "", 0, 0, 0, 4294967295u,
         "Name:\tbash\nUmask:\t0022\nState:\tS (sleeping)\nTgid:\t812\nPid:\t812\n"
         "PPid:\t1\nUid:\t1000\t1000\t1000\t1000\nGid:\t1000\t1000\t1000\t1000\n"},
    };
    for (const seed& s : seeds) {
        fuzz::input_writer out;
        out.chunk(s.device).chunk(s.dir).chunk(s.cwd).word(s.id).word(s.major).word(s.minor);
        out.word(s.uid).raw(s.table);
        write_seed(target, s.file, out.get());
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 1;
    }
    g_root = argv[1];
    handshake_seeds();
    reply_seeds();
    payload_seeds(ZT_FUZZ_SERVICE_CONTAINER);
    name_path_seeds();
    process_table_seeds();
    return 0;
}
