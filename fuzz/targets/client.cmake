# The client's decoding of service replies.
zt_fuzz_target(client_reply_decode
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/client_reply_decode.cpp
    LIBS zt_client zt_replies zt_database zt_system)
