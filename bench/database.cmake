# Save and load of the account database against the raw cost of its hash and cipher.
add_executable(database_bench ${CMAKE_CURRENT_LIST_DIR}/database_bench.cpp)
target_link_libraries(database_bench PRIVATE zt_database benchmark::benchmark)
zt_warnings(database_bench)
