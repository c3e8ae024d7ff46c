# UTF-8 conversions of passwords read from clients and provisioning input.
zt_fuzz_target(system_cast_utf8
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/system_cast_utf8.cpp
    LIBS zt_system)
