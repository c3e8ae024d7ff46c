# The provider's parsers of stored and received bytes.
zt_fuzz_target(provider_container_import
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/provider_container_import.cpp
    LIBS ztcrypto)
zt_fuzz_target(provider_symmetric_key_import
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/provider_symmetric_key_import.cpp
    LIBS ztcrypto)
