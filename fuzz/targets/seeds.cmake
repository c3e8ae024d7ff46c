# The generator of the seeds that the project's own encoders make; built on demand only:
#   cmake --build <dir> --target fuzz_make_seeds && <dir>/fuzz/fuzz_make_seeds fuzz/corpus
add_executable(fuzz_make_seeds EXCLUDE_FROM_ALL ${CMAKE_CURRENT_SOURCE_DIR}/make_seeds.cpp)
target_link_libraries(fuzz_make_seeds PRIVATE
    zt_client zt_session zt_replies zt_payloads zt_crypto zt_daemon_error zt_system)
target_compile_definitions(fuzz_make_seeds PRIVATE
    ZT_FUZZ_SERVICE_CONTAINER="${PROJECT_SOURCE_DIR}/tests/data/provider/reference_container.der")
zt_warnings(fuzz_make_seeds)
