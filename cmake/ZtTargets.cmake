# Helpers that give every target of the project the same warnings and include paths.

set(ZT_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
                -Wcast-align -Woverloaded-virtual -Wformat=2)

function(zt_warnings target)
    target_compile_options(${target} PRIVATE ${ZT_WARNINGS})
    if(ZT_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# zt_library(<area> SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# One static library per daemon area, named zt_<area>; headers are included as "<area>/x.h".
function(zt_library area)
    cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
    add_library(zt_${area} STATIC ${ARG_SOURCES})
    target_include_directories(zt_${area} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_compile_definitions(zt_${area} PUBLIC ZT_TEXT_DOMAIN="${ZT_TEXT_DOMAIN}"
                                                 ZT_LOCALE_DIR="${ZT_LOCALE_DIR}")
    target_link_libraries(zt_${area} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
    zt_warnings(zt_${area})
endfunction()

# zt_test(<name> LABEL unit|integration|blackbox SOURCES ... [LIBS ...] [LOCK resource])
# A GoogleTest executable whose cases CTest discovers one by one; GTEST_SKIP shows as skipped.
# Cases with the same LOCK never run at once (tests that compare the host's loop devices
# before and after take the lock "loop-devices").
function(zt_test name)
    cmake_parse_arguments(ARG "" "LABEL;TIMEOUT;LOCK" "SOURCES;LIBS" ${ARGN})
    if(NOT ARG_LABEL)
        set(ARG_LABEL unit)
    endif()
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    # testing/required_environment.h and the other test support headers.
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
    zt_warnings(${name})
    set(lock)
    if(ARG_LOCK)
        set(lock RESOURCE_LOCK ${ARG_LOCK})
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT} ${lock})
endfunction()
