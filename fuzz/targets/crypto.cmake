# Key-container walk: the creation time read from untrusted client containers.
zt_fuzz_target(crypto_container_walk
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crypto_container_walk.cpp
    LIBS zt_crypto)

# Hybrid decryption: key store files sent by clients.
zt_fuzz_target(crypto_hybrid_decrypt
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crypto_hybrid_decrypt.cpp
    LIBS zt_crypto)
target_compile_definitions(crypto_hybrid_decrypt PRIVATE
    ZT_FUZZ_RECIPIENT_CONTAINER="${PROJECT_SOURCE_DIR}/tests/data/provider/reference_container.der")
