#include "session/transfer_server.h"

#include <utility>

#include "foundation/defer.h"
#include "session/transfer_error.h"
#include "system/wipe.h"

namespace {

using header = transfer_protocol_header;
using phase = transfer_protocol_phase;

constexpr std::uint32_t kAcknowledge = to_word(phase::acknowledge);
constexpr std::uint32_t kConfirm = to_word(phase::confirm);

// Both words of a packet as one value, for switching over the expected pairs.
constexpr std::uint64_t words(std::uint32_t h, std::uint32_t m) noexcept {
    return (std::uint64_t{h} << 32) | m;
}
constexpr std::uint64_t words(header h, phase m) noexcept {
    return words(to_word(h), to_word(m));
}

// Handshake payloads carry the session IV and key material, and a closing packet was
// decrypted: each is wiped when its step is over.
}  // namespace

bool transfer_server::read_plain(bytes& payload, std::error_code& ec) {
    packet received = network().receive_total(ec);
    if (ec) {
        return false;
    }
    auto [present, data] = parse(std::move(received));
    if (!present) {
        ec = transfer_error::bad_data_format;
        return false;
    }
    payload = std::move(data);
    return true;
}

bool transfer_server::read_encrypted(bytes& payload, std::error_code& ec) {
    const bytes cipher = network().receive(ec);
    if (ec) {
        return false;
    }
    if (cipher.empty()) {
        ec = transfer_error::bad_data_format;
        return false;
    }
    packet received = unpack(cipher, ec);
    if (ec) {
        return false;
    }
    auto [present, data] = parse(std::move(received));
    if (!present) {
        ec = transfer_error::bad_data_format;
        return false;
    }
    payload = std::move(data);
    return true;
}

bool transfer_server::answer(std::uint32_t h, std::uint32_t m, std::uint32_t status,
                             std::error_code& ec) {
    return network().response(h, m, status, ec);
}

bool transfer_server::accept(std::error_code& ec) {
    return answer(get_header(), kAcknowledge, kStatusAccepted, ec);
}

bool transfer_server::refuse(std::error_code& ec) {
    return answer(get_header(), kAcknowledge, kStatusRefused, ec);
}

bool transfer_server::refuse_with(std::error_code error, std::error_code& ec) {
    return refuse_with(get_header(), error, ec);
}

bool transfer_server::refuse_with(std::uint32_t h, std::error_code error, std::error_code& ec) {
    if (answer(h, kAcknowledge, kStatusRefused, ec)) {
        ec = error;
    }
    return false;
}

bool transfer_server::open(std::error_code& ec) {
    if (is_session_established()) {
        ec = transfer_error::already_established;
        return false;
    }
    bytes payload;
    const auto forget = foundation::make_deferred([&payload] { util::wipe(payload); });
    if (!read_plain(payload, ec)) {
        return false;
    }
    switch (words(get_header(), get_metadata())) {
        case words(header::open_unsafe, phase::confirm):
            // A session already on its way to encryption must not become an established
            // clear one: requests would pass the encrypted check and be answered in the clear.
            if (is_session_secured()) {
                ec = transfer_error::invalid_start_condition;
                return false;
            }
            if (!accept(ec)) {
                return false;
            }
            set_established(true);
            set_unsafe_context();
            return true;
        case words(header::open_secure, phase::confirm):
            if (!has_credential()) {
                return refuse_with(transfer_error::not_authorized, ec);
            }
            if (!crypto().initialized()) {
                return refuse_with(transfer_error::not_initialized, ec);
            }
            if (!accept(ec)) {
                return false;
            }
            set_secured(true);
            set_unsafe_context();
            return true;
        default:
            ec = transfer_error::invalid_start_condition;
            return false;
    }
}

bool transfer_server::authenticate(std::shared_ptr<const std::wstring> password,
                                   const bytes& container, std::error_code& ec) {
    if (!is_session_established()) {
        ec = transfer_error::not_established;
        return false;
    }
    bytes payload;
    const auto forget = foundation::make_deferred([&payload] { util::wipe(payload); });
    if (!read_plain(payload, ec)) {
        return false;
    }
    const std::uint32_t reply = to_word(phase::auth_reply);
    std::error_code error;
    if (get_header() != to_word(header::authentication)) {
        error = transfer_error::bad_header;
    } else if (get_metadata() != kConfirm) {
        error = transfer_error::bad_metadata;
    } else if (auth(std::move(password), container, error)) {
        return answer(get_header(), reply, kStatusAccepted, ec);
    }
    if (answer(get_header(), reply, kStatusRefused, ec)) {
        ec = error;
    }
    return false;
}

bool transfer_server::switch_context(std::error_code& ec) {
    if (is_session_secured() && is_session_authenticated()) {
        ec = transfer_error::already_authenticated;
        return false;
    }
    if (!has_credential()) {
        ec = transfer_error::not_authorized;
        return false;
    }
    if (!crypto().initialized()) {
        ec = transfer_error::not_initialized;
        return false;
    }
    bytes payload;
    const auto forget = foundation::make_deferred([&payload] { util::wipe(payload); });
    const bool secured = is_session_secured();
    if (!(secured ? read_encrypted(payload, ec) : read_plain(payload, ec))) {
        return false;
    }
    if (get_header() == to_word(header::switch_reset)) {
        if (!(secured ? confirm(true, ec) : accept(ec))) {
            return false;
        }
        reset_context();
        return true;
    }
    if (get_header() == to_word(header::switch_authenticated)) {
        if (!accept(ec)) {
            return false;
        }
        set_secured(true);
        set_authenticated(true);
        return true;
    }
    if (get_metadata() == kConfirm && !refuse(ec)) {
        return false;
    }
    ec = transfer_error::bad_header;
    return false;
}

bool transfer_server::awaiting_setup(std::error_code& ec) const {
    if (is_session_established()) {
        ec = transfer_error::already_established;
        return false;
    }
    if (!is_session_secured()) {
        ec = transfer_error::non_secured_establish;
        return false;
    }
    return true;
}

bool transfer_server::establish(std::error_code& ec) {
    if (!awaiting_setup(ec)) {
        return false;
    }
    constexpr std::uint32_t kSetup = to_word(header::setup_authenticated);
    bytes payload;
    const auto forget = foundation::make_deferred([&payload] { util::wipe(payload); });
    std::error_code error;
    if (!read_plain(payload, error)) {
        return refuse_with(kSetup, error, ec);
    }
    if (get_header() != kSetup) {
        return refuse_with(transfer_error::bad_header, ec);
    }
    switch (get_metadata()) {
        case to_word(phase::import_key_material):
            if (!crypto().import_key_material(payload, error)) {
                return refuse_with(error, ec);
            }
            set_key_material_imported(true);
            return accept(ec);
        case to_word(phase::request):
            // Only an import in this handshake has produced an answer for this client.
            if (!key_material_imported()) {
                return refuse_with(transfer_error::invalid_setup_phase, ec);
            }
            return network().response(kSetup, to_word(phase::response), kStatusAccepted,
                                      crypto().export_key_material(), ec);
        case to_word(phase::set_iv):
            if (!crypto().ready() && !crypto().create_encryptor(credential(), error)) {
                return refuse_with(error, ec);
            }
            if (!crypto().set_iv(payload, error)) {
                return refuse_with(error, ec);
            }
            return accept(ec);
        default:
            return refuse_with(std::error_code(), ec);
    }
}

bool transfer_server::apply_token(const bytes& token, std::error_code& ec) {
    if (!crypto().initialized()) {
        ec = transfer_error::not_initialized;
        return false;
    }
    if (!awaiting_setup(ec)) {
        return false;
    }
    bytes payload;
    const auto forget = foundation::make_deferred([&payload] { util::wipe(payload); });
    if (!read_plain(payload, ec)) {
        return false;
    }
    if (get_header() != to_word(header::setup_authenticated)) {
        return refuse_with(transfer_error::bad_header, ec);
    }
    if (get_metadata() != kConfirm) {
        return refuse_with(transfer_error::bad_metadata, ec);
    }
    // Without a token the session key is one that anyone can compute.
    if (token.empty()) {
        return refuse_with(transfer_error::invalid_argument, ec);
    }
    std::error_code error;
    if (!crypto().set_additional_private_parameter(token, error)) {
        return refuse_with(error, ec);
    }
    // An encryptor made at set_iv holds a key from before the token; it is made again from
    // the agreement, which now includes the token, under the same IV.
    if (crypto().ready()) {
        bytes iv = crypto().get_iv();
        const auto forget_iv = foundation::make_deferred([&iv] { util::wipe(iv); });
        if (!crypto().create_encryptor(credential(), error) || !crypto().set_iv(iv, error)) {
            return refuse_with(error, ec);
        }
    }
    if (!accept(ec)) {
        return false;
    }
    set_token_applied(true);
    return true;
}

bool transfer_server::setup_complete(std::error_code& ec) {
    if (!awaiting_setup(ec)) {
        return false;
    }
    const std::uint32_t expected =
        to_word(is_session_authenticated() ? header::setup_authenticated : header::setup);
    bytes payload;
    const auto forget = foundation::make_deferred([&payload] { util::wipe(payload); });
    std::error_code error;
    if (!read_plain(payload, error)) {
        return refuse_with(expected, error, ec);
    }
    if (get_header() != expected) {
        return refuse_with(transfer_error::bad_header, ec);
    }
    // A handshake without the account's token, or without an encryptor, would open a
    // session keyed by nothing the client had to prove.
    if (get_metadata() != to_word(phase::response) || !token_applied()) {
        return refuse_with(std::error_code(), ec);
    }
    if (!crypto().ready()) {
        return refuse_with(transfer_error::crypto_not_ready, ec);
    }
    if (!accept(ec)) {
        return false;
    }
    set_established(true);
    set_secure_context();
    return true;
}

bool transfer_server::close(std::error_code& ec) {
    if (!is_session_established()) {
        ec = transfer_error::not_established;
        return false;
    }
    bytes payload;
    const auto forget = foundation::make_deferred([&payload] { util::wipe(payload); });
    if (!(is_session_secured() ? read_encrypted(payload, ec) : read_plain(payload, ec))) {
        return false;
    }
    const bool confirm_required = get_metadata() == kConfirm;
    if (get_header() == to_word(header::close_secure)) {
        if (confirm_required && !confirm(true, ec)) {
            return false;
        }
        return reset(ec);
    }
    if (get_header() == to_word(header::close_unsafe)) {
        if (confirm_required && !accept(ec)) {
            return false;
        }
        return reset(ec);
    }
    if (confirm_required && !refuse(ec)) {
        return false;
    }
    ec = transfer_error::bad_header;
    return false;
}
