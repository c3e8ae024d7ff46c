# The daemon on its private bus beside a raw libdbus echo service: requests per second,
# whole sessions, resident memory over requests and per kept session. Needs root and mount
# namespaces (it skips otherwise); runs the built ztctld and ztctl-provision.
if(TARGET zt_testing AND TARGET zt_client)
    add_executable(bus_bench ${CMAKE_CURRENT_LIST_DIR}/bus_bench.cpp
                             ${CMAKE_CURRENT_LIST_DIR}/echo_service.cpp)
    target_link_libraries(bus_bench PRIVATE zt_testing zt_client ztcrypto benchmark::benchmark)
    zt_warnings(bus_bench)
endif()
