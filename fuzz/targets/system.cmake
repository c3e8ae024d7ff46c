# UTF-8 conversions of passwords read from clients and provisioning input.
zt_fuzz_target(system_cast_utf8
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/system_cast_utf8.cpp
    LIBS zt_system)
# Account names, container and mount paths (in a scratch tree under the build directory,
# whose parents belong to root) and UUID texts from requests.
zt_fuzz_target(system_names_paths
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/system_names_paths.cpp
    LIBS zt_misc zt_dbus zt_daemon_error zt_system)
target_compile_definitions(system_names_paths PRIVATE
    ZT_FUZZ_SCRATCH_PARENT="${CMAKE_CURRENT_BINARY_DIR}")
# The readers of the mount tables and per-process files behind forced unmount.
zt_fuzz_target(system_process_tables
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/system_process_tables.cpp
    LIBS zt_mounts)
