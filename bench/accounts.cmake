# Accounts on the daemon: "GetList" with thousands of users against the raw echo of a
# byte array of the same size, the daemon's peak memory while answering, and a
# registration split into key store, daemon and save. Needs root and mount namespaces (it
# skips otherwise); runs the built ztctld and ztctl-provision.
if(TARGET zt_testing AND TARGET zt_client AND TARGET zt_provision)
    add_executable(accounts_bench ${CMAKE_CURRENT_LIST_DIR}/accounts_bench.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/echo_service.cpp
                                  ${CMAKE_CURRENT_LIST_DIR}/user_database.cpp)
    target_link_libraries(accounts_bench PRIVATE zt_testing zt_client zt_provision zt_payloads
                                                 zt_replies benchmark::benchmark)
    zt_warnings(accounts_bench)
endif()
