// The daemon's side of a session fed a sequence of calls, as clients make them: every step
// of the handshake, the dispatch check of a request and a handler's receive and answer, in
// any order and with any words and data. The calls are D-Bus messages served exactly as
// the bus would deliver them; the answers go out on a real connection and are read back.
//
// The harness also plays a real client where the input asks for it: it sends fresh key
// material of its own key agreement, completes that agreement from the server's answer and
// encrypts packets under the session key, so that sequences reach the secured session.
//
// Invariants, from the contracts of the steps: a step answers a call at most once; a step
// that succeeds has answered; a plain answer is (header, 64 | 5 | 128, 1 | 2) and accepts
// exactly when the step succeeds; an encrypted answer to a call the client encrypted opens
// under the client's key; a request's body is the data the client sealed, and its answer
// carries the body back.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "crypto/crypto_factory.h"
#include "loopback_bus.h"
#include "session/network_protocol.h"
#include "session/packet.h"
#include "session/transfer_context.h"
#include "session/transfer_server.h"
#include "session_handshake_input.h"
#include "ztcrypto/ztcrypto.h"

namespace {

using fuzz::bytes;
using fuzz::check;
using fuzz::handshake::step;
namespace in = fuzz::handshake;

const std::wstring kSealPassword = L"peer";  // seals keys between the peer's own objects

// What stays for the whole run: the provider (seeding it is far too slow to repeat), the
// service key container with its password, and the connection.
struct service {
    crypto_factory factory;
    std::shared_ptr<const std::wstring> password =
        std::make_shared<const std::wstring>(L"5e7a0c1d9f2b4a6e8c0d1f3a5b7c9e0f");
    bytes container;
    fuzz::loopback_bus bus;

    service() {
        factory.initialize(bytes(32, 7));
        container = factory.self()->create_key_agreement(L"")->create_container(*password,
                                                                                1706745599, 1000);
    }
};

service& shared() {
    static service instance;
    return instance;
}

// The client's half: its key agreement, and the session keys it derives once the server
// has answered its key material and an IV was accepted.
class peer {
  public:
    explicit peer(crypto_factory& factory)
        : m_factory(factory.self()), m_agreement(m_factory->create_key_agreement(L"")) {}

    bytes key_material() {
        const auto material = m_agreement->create_client_key_material();
        m_pending = true;
        return bytes(material.begin(), material.end());
    }
    // The server's answer to the last key material sent.
    void answer(const bytes& material) {
        if (!m_pending) {
            return;
        }
        m_pending = false;
        try {
            m_agreement->import_server_key_material(
                RawMemoryDefault::view(material.data(), material.size()));
            m_agreed = true;
        } catch (const std::exception&) {
            m_agreed = false;
        }
        drop_keys();
    }
    void set_iv(const bytes& iv) {
        m_iv = iv;
        drop_keys();
    }

    // The encrypter of the session key with or without the token; null before the
    // agreement and the IV.
    SymmetricEncrypter* encrypter(bool with_token) {
        auto& slot = with_token ? m_with_token : m_without_token;
        if (!slot && m_agreed && m_iv) {
            try {
                const bytes token = with_token ? in::kToken : bytes();
                m_agreement->set_additional_private_parameter(token.data(), token.size(), 0);
                const auto sealed = m_agreement->get_symmetric_key_container(kSealPassword);
                auto algorithm = m_factory->create_symmetric(L"");
                algorithm->import_key(kSealPassword, sealed.data(), sealed.size());
                slot = algorithm->create_encrypter();
                slot->set_iv(*m_iv);
            } catch (const std::exception&) {
                slot.reset();
            }
        }
        return slot.get();
    }

  private:
    void drop_keys() {
        m_with_token.reset();
        m_without_token.reset();
    }

    std::shared_ptr<CryptoFactoryDef> m_factory;
    std::shared_ptr<DiffieHellmanBase> m_agreement;
    bool m_pending = false;
    bool m_agreed = false;
    std::optional<bytes> m_iv;
    std::shared_ptr<SymmetricEncrypter> m_with_token;
    std::shared_ptr<SymmetricEncrypter> m_without_token;
};

bytes encrypt(SymmetricEncrypter& encrypter, const bytes& plain) {
    bytes out((plain.size() + 15) / 16 * 16);
    encrypter.encrypt(plain.data(), plain.size(), out.data());
    return out;
}

bytes decrypt(SymmetricEncrypter& encrypter, const bytes& cipher) {
    bytes out(cipher.size());
    encrypter.decrypt(cipher.data(), cipher.size(), out.data());
    return out;
}

// One call as the bus delivers it.
dbus_handle::message_ptr make_call(std::uint32_t serial, int words, const std::uint32_t (&w)[3],
                                   const bytes* array) {
    dbus_handle::message_ptr call(dbus_message_new_method_call(
        "ru.quorvex.server", "/ru/quorvex/session", "ru.quorvex.session", "Step"));
    DBusMessageIter iter;
    dbus_message_iter_init_append(call.get(), &iter);
    for (int i = 0; i < words; ++i) {
        const dbus_uint32_t word = w[i];
        dbus_message_iter_append_basic(&iter, DBUS_TYPE_UINT32, &word);
    }
    if (array != nullptr) {
        DBusMessageIter inner;
        static const unsigned char kNothing = 0;
        const unsigned char* elements = array->empty() ? &kNothing : array->data();
        dbus_message_iter_open_container(&iter, DBUS_TYPE_ARRAY, "y", &inner);
        dbus_message_iter_append_fixed_array(&inner, DBUS_TYPE_BYTE, &elements,
                                             static_cast<int>(array->size()));
        dbus_message_iter_close_container(&iter, &inner);
    }
    dbus_message_set_serial(call.get(), serial);
    return call;
}

// An answer read back: its words when it has any, and its byte array.
struct answer {
    int words = 0;
    packet plain;
    bytes array;
};

answer read_answer(DBusMessage* message) {
    answer out;
    DBusMessageIter iter;
    if (dbus_message_iter_init(message, &iter)) {
        do {
            if (dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_UINT32) {
                ++out.words;
            }
        } while (dbus_message_iter_next(&iter));
    }
    network_protocol reader;
    reader.set_message(message);
    out.plain = reader.receive_total();
    out.array = out.plain.data;
    return out;
}

bool is_handshake(step s) noexcept {
    return s != step::request;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    service& svc = shared();
    check(svc.bus.connection() != nullptr && !svc.container.empty());

    fuzz::input_reader input(data, size);
    transfer_server server;
    server.network().set_connection(svc.bus.connection());
    peer client(svc.factory);
    static std::uint32_t serial = 0;

    for (int n = 0; n < in::kMaxCalls && !input.empty(); ++n) {
        const auto s = static_cast<step>(input.byte() % 8);
        const std::uint8_t form = input.byte();
        const std::uint32_t w[3] = {input.word(), input.word(), input.word()};
        bytes payload = input.chunk();
        if ((form & in::kPeerMaterial) != 0) {
            payload = client.key_material();
        }

        const std::uint8_t kind = form & in::kKindMask;
        SymmetricEncrypter* sealer = nullptr;
        bytes array = payload;
        int words = 0;
        if (kind == in::kWords) {
            words = 3 - ((form >> in::kOmittedShift) & 3);
        } else if (kind == in::kSealed) {
            array = payload.empty() && (form & in::kLongForm) == 0
                        ? serialize_words(w[0], w[1], w[2])
                        : serialize_words(w[0], w[1], w[2], payload);
            sealer = client.encrypter((form & in::kWithoutToken) == 0);
            if (sealer != nullptr) {
                array = encrypt(*sealer, array);
            }
        }
        ++serial;
        if (serial == 0) {
            serial = 1;
        }
        const auto call = make_call(serial, words, w, kind == in::kNone ? nullptr : &array);
        server.network().set_message(call.get());

        std::error_code ec;
        bool done = false;
        std::optional<bytes> body;
        switch (s) {
            case step::open:
                done = server.open(ec);
                break;
            case step::authenticate:
                done = server.init_crypto(svc.factory, ec) &&
                       server.authenticate(svc.password, svc.container, ec);
                break;
            case step::switch_context:
                done = server.switch_context(ec);
                break;
            case step::establish:
                done = server.establish(ec);
                break;
            case step::apply_token:
                done = server.apply_token((form & in::kEmptyToken) != 0 ? bytes() : in::kToken, ec);
                break;
            case step::setup_complete:
                done = server.setup_complete(ec);
                break;
            case step::close:
                done = server.close(ec);
                break;
            case step::request: {
                const bool secure = server.is_session_established() && server.is_session_secured();
                if (secure && !server.verify_request(1, 16, ec)) {
                    break;
                }
                auto* context = server.context();
                if (context == nullptr) {
                    break;
                }
                body = context->receive(ec);
                if (ec) {
                    body.reset();
                    break;
                }
                if (secure && sealer != nullptr) {
                    check(*body == payload);  // the body is what the client sealed
                }
                done = context->response(*body, ec);
                break;
            }
        }
        server.network().set_message(nullptr);

        const auto sent = svc.bus.take_sent();
        std::vector<answer> answers;
        for (const auto& message : sent) {
            check(message != nullptr);
            check(dbus_message_get_type(message.get()) == DBUS_MESSAGE_TYPE_METHOD_RETURN);
            check(dbus_message_get_reply_serial(message.get()) == serial);
            answers.push_back(read_answer(message.get()));
        }

        if (is_handshake(s)) {
            check(answers.size() <= 1);
            if (done && s != step::close) {
                check(answers.size() == 1);
            }
        }
        for (const answer& a : answers) {
            if (a.words == 3 && is_handshake(s)) {
                const std::uint32_t phase = a.plain.metadata;
                check(phase == 64 || (phase == 5 && s == step::authenticate) ||
                      (phase == 128 && s == step::establish));
                check(a.plain.status == kStatusAccepted || a.plain.status == kStatusRefused);
                if (s != step::close) {
                    check((a.plain.status == kStatusAccepted) == done);
                }
            }
            if (a.words == 0 && sealer != nullptr) {
                // The server read the client's packet, so it answers under the same key.
                std::error_code decode;
                const packet opened = deserialize(decrypt(*sealer, a.array), decode);
                check(!decode);
                if (body) {
                    check(opened.data == *body);
                }
            }
        }
        if (body && !answers.empty() && answers.back().words != 0) {
            check(answers.back().array == *body);
        }

        // What the client learns from the answers.
        if (answers.size() == 1 && answers[0].words == 3 && answers[0].plain.status == 1) {
            const packet& a = answers[0].plain;
            if (s == step::establish && a.header == 256 && a.metadata == 128) {
                client.answer(a.data);
            }
            if (s == step::establish && w[1] == 32 && kind == in::kWords && words >= 2) {
                client.set_iv(payload);
            }
        }
        if (done && s == step::setup_complete) {
            check(server.is_session_established() && server.is_session_secured() &&
                  server.context() != nullptr);
        }
    }
    check(dbus_connection_get_is_connected(svc.bus.connection()));
    return 0;
}
