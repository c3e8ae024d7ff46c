# The request payload records: profiles, disks, UUID requests, key stores.
zt_fuzz_target(payload_records
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/payload_records.cpp
    LIBS zt_payloads zt_crypto)
target_compile_definitions(payload_records PRIVATE
    ZT_FUZZ_SERVICE_CONTAINER="${PROJECT_SOURCE_DIR}/tests/data/provider/reference_container.der")
