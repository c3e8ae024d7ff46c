#pragma once

#include <string>
#include <system_error>
#include <vector>

#include "session/transfer_context.h"
#include "session/transfer_protocol.h"

// The daemon's side of the session handshake: one step per D-Bus method of the session
// interfaces. Each step reads the current call (plain words, or one encrypted packet in a
// secured session), checks it against the session flags, acts on the session cipher and
// answers (header, 64, 1) to accept or (header, 64, 2) to refuse ("SetAuthData" uses 5
// instead of 64).
//
// A step that fails on a flag guard, before it has read the call, answers nothing. A step
// that has read the call and rejects it refuses first and then reports the error; when even
// the refusal cannot be sent, it reports the transport's error instead. A call that carries
// no packet (all three words 0: "Bad data format"; no arguments: the transport's "Invalid
// argument") is never judged on the words of an earlier packet: establish() and
// setup_complete() refuse it outright with their own header, the other steps fail without
// an answer.
class transfer_server : public transfer_protocol {
  public:
    using bytes = transfer_protocol::bytes;

    transfer_server() = default;

    // "Open": (4, 4) opens a clear session; (8, 4) starts an encrypted one, which needs the
    // service credential ("Current session not authorized") and an initialized cipher
    // ("Object not initialized"). Already established: "Session already established";
    // other words: "Invalid start condition"; neither is answered.
    bool open(std::error_code& ec);
    // "SetAuthData" after init_crypto(): (7, 4) imports the service container with password
    // and keeps password as the credential; answers (7, 5, 1) or (header, 5, 2).
    bool authenticate(std::shared_ptr<const std::wstring> password, const bytes& container,
                      std::error_code& ec);
    // "SwitchContext": 512 goes back to the start of the handshake (confirmed encrypted in a
    // secured session), 16 into the authenticated state (accepted in the clear).
    bool switch_context(std::error_code& ec);
    // "SetupAuthenticatedSession", one call per sub-step (256 with 8, 16 or 32): import the
    // client's key material, answer (256, 128, 1, answer material), set the IV (creating
    // the encryptor from the credential first). The material is given only after a
    // successful import in this handshake; before that the sub-step is refused.
    bool establish(std::error_code& ec);
    // "SetPrivateParameter" (256, 4): hands the account's token to the key agreement; an
    // encryptor made before is made again from the agreement (now holding the token) with
    // the credential and the IV it had, so the session key depends on the token.
    bool apply_token(const bytes& token, std::error_code& ec);
    // "SetupComplete" ((256, 128) when authenticated, else (128, 128)): installs the secure
    // context. Refused without an error code for a wrong metadata, and when no apply_token()
    // has succeeded in this handshake (the key would be one anyone can compute).
    bool setup_complete(std::error_code& ec);
    // "Close" (64 encrypted or 32 in the clear; metadata 4 asks for a confirmation), then
    // reset(ec).
    bool close(std::error_code& ec);

  private:
    // The setup steps run only on a secured session that is not yet established; false
    // with "Session already established" or "Try establish non secured transfer_session".
    bool awaiting_setup(std::error_code& ec) const;
    // The current call's plain words and payload; false (and an error) when it carries no
    // present packet.
    bool read_plain(bytes& payload, std::error_code& ec);
    // The current call's encrypted packet; false (and an error) when nothing present.
    bool read_encrypted(bytes& payload, std::error_code& ec);
    // Plain answers (stored header, phase, 1 or 2).
    bool accept(std::error_code& ec);
    bool refuse(std::error_code& ec);
    bool answer(std::uint32_t header, std::uint32_t phase, std::uint32_t status,
                std::error_code& ec);
    // Refuses, then fails with error (or with the transport's error if the refusal failed).
    bool refuse_with(std::error_code error, std::error_code& ec);
    bool refuse_with(std::uint32_t header, std::error_code error, std::error_code& ec);
};
