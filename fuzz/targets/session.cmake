# Flat session packets, decoded from every decrypted client message.
zt_fuzz_target(packet_deserialize
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/packet_deserialize.cpp
    LIBS zt_session)
# The daemon's side of a session fed any sequence of calls, with a real client where the
# input asks for one.
zt_fuzz_target(session_handshake
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/session_handshake.cpp
    LIBS zt_session zt_crypto ztcrypto)
