# Manual pages: every man/NAME.N with N in 1, 5, 8 goes into section N, compressed as
# Debian ships them. Pages added later are found when configuring again.
file(GLOB zt_man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.[158])
find_program(GZIP_EXE gzip)
if(zt_man_pages AND NOT GZIP_EXE)
    message(FATAL_ERROR "gzip is needed to install the manual pages")
endif()
set(zt_man_outputs)
foreach(page ${zt_man_pages})
    get_filename_component(name ${page} NAME)
    string(REGEX REPLACE ".*\\.([158])$" "\\1" section ${name})
    set(out ${CMAKE_CURRENT_BINARY_DIR}/man/${name}.gz)
    # -n: no name or time stamp inside, so the same page compresses to the same bytes.
    add_custom_command(OUTPUT ${out}
        COMMAND ${CMAKE_COMMAND} -E copy ${page} ${CMAKE_CURRENT_BINARY_DIR}/man/${name}
        COMMAND ${GZIP_EXE} -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/${name}
        DEPENDS ${page}
        VERBATIM)
    list(APPEND zt_man_outputs ${out})
    install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
if(zt_man_outputs)
    add_custom_target(man_pages ALL DEPENDS ${zt_man_outputs})
endif()
