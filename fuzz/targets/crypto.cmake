# Key-container walk: the creation time read from untrusted client containers.
zt_fuzz_target(crypto_container_walk
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/crypto_container_walk.cpp
    LIBS zt_crypto)
