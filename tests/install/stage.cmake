# Installs the build into a fresh staging directory, as a package build would:
#   cmake -DBUILD_DIR=... -DSTAGE=... -P stage.cmake
file(REMOVE_RECURSE ${STAGE})
set(ENV{DESTDIR} ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmake --install into ${STAGE} failed: ${status}")
endif()
