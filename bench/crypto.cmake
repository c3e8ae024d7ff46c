# Session cipher against raw OpenSSL, the server's handshake cryptography, the start-up
# random vector.
if(TARGET zt_crypto)
    add_executable(crypto_bench ${CMAKE_CURRENT_SOURCE_DIR}/crypto_bench.cpp)
    target_link_libraries(crypto_bench PRIVATE zt_crypto benchmark::benchmark OpenSSL::Crypto)
    zt_warnings(crypto_bench)
endif()
