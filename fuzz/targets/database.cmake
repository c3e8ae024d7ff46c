# The decrypted database body: section dispatch, in-place frame reading, entry decoding.
zt_fuzz_target(database_body
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/database_body.cpp
    LIBS zt_database)
