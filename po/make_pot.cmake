# Collects the translatable messages of the daemon, the client library, ztctl and the tools
# into the .pot template. Tests and the test support code stay out.
# cmake -DSOURCE_DIR=... -DXGETTEXT=... -DDOMAIN=... -DOUTPUT=... -P make_pot.cmake
#
# The template is the same bytes for the same sources: the creation date that xgettext
# stamps into the header is dropped, and references name the file without a line number,
# so moving code around leaves the template (and the check against it) alone.
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h
     ${SOURCE_DIR}/client/*.cpp ${SOURCE_DIR}/client/*.h
     ${SOURCE_DIR}/tools/*.cpp ${SOURCE_DIR}/tools/*.h)
list(SORT sources)
set(raw ${OUTPUT}.xgettext)
# _ and N_ mark texts; the error tables' fallback text goes straight to translate().
execute_process(
    COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_
            --keyword=translate --package-name=ztctl --default-domain=${DOMAIN}
            --add-comments=TRANSLATORS --add-location=file --sort-by-file -o ${raw} ${sources}
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${raw})
    message(FATAL_ERROR "xgettext failed")
endif()
file(READ ${raw} text)
file(REMOVE ${raw})
string(REGEX REPLACE "\"POT-Creation-Date: [^\"]*\"\n" "" text "${text}")
# Written only when it changed, so that an unchanged template keeps its time stamp.
set(previous "")
if(EXISTS ${OUTPUT})
    file(READ ${OUTPUT} previous)
endif()
if(NOT text STREQUAL previous)
    file(WRITE ${OUTPUT} "${text}")
endif()
