# Collects the translatable messages of every C++ source into the .pot template.
file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR}
     ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h
     ${SOURCE_DIR}/tools/*.cpp ${SOURCE_DIR}/client/*.cpp)
list(SORT sources)
execute_process(
    COMMAND ${XGETTEXT} --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_
            --package-name=ztctl --default-domain=${DOMAIN} --add-comments=TRANSLATORS
            --sort-by-file -o ${OUTPUT} ${sources}
    WORKING_DIRECTORY ${SOURCE_DIR}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "xgettext failed")
endif()
