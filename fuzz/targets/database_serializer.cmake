# The item framing of every request payload and of the database file, with the records
# decoded from it.
zt_fuzz_target(serializer_deserialize
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/serializer_deserialize.cpp
    LIBS zt_database zt_system)
