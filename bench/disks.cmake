# Disks through the daemon against the system tools in the same sandbox (creation, mount and
# unmount), and the process scan against fuser on one mount. Need root, mount namespaces
# and, for the disks, the encryption driver stand-in (they skip otherwise).
if(TARGET zt_testing)
    # bench/host_state.h: the host-state comparison of testing/.
    add_library(zt_bench_host INTERFACE)
    target_link_libraries(zt_bench_host INTERFACE zt_testing)

    if(TARGET zt_client)
        add_executable(disks_bench ${CMAKE_CURRENT_LIST_DIR}/disks_bench.cpp)
        target_link_libraries(disks_bench PRIVATE zt_bench_host zt_client benchmark::benchmark)
        zt_warnings(disks_bench)
    endif()

    add_executable(process_scan_bench ${CMAKE_CURRENT_LIST_DIR}/process_scan_bench.cpp)
    target_link_libraries(process_scan_bench PRIVATE zt_bench_host zt_mounts benchmark::benchmark)
    zt_warnings(process_scan_bench)
endif()
