# Flat session packets, decoded from every decrypted client message.
zt_fuzz_target(packet_deserialize
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/packet_deserialize.cpp
    LIBS zt_session)
