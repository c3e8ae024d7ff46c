# Wire formats: the session checksum against zlib and a bytewise loop; the item framing's
# encode and decode with their allocation counts.
add_executable(crc32_bench ${CMAKE_CURRENT_LIST_DIR}/crc32_bench.cpp)
target_link_libraries(crc32_bench PRIVATE zt_session benchmark::benchmark ZLIB::ZLIB)
zt_warnings(crc32_bench)

add_executable(serializer_bench ${CMAKE_CURRENT_LIST_DIR}/serializer_bench.cpp
                                ${CMAKE_CURRENT_LIST_DIR}/allocation_counter.cpp)
target_link_libraries(serializer_bench PRIVATE zt_database benchmark::benchmark)
zt_warnings(serializer_bench)
