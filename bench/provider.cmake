# The crypto provider's own operations: cipher throughput, container import and creation,
# key agreement, key wrapping, the nist checker.
if(TARGET ztcrypto)
    add_executable(provider_bench ${CMAKE_CURRENT_SOURCE_DIR}/provider_bench.cpp)
    target_link_libraries(provider_bench PRIVATE ztcrypto benchmark::benchmark)
    zt_warnings(provider_bench)
endif()
