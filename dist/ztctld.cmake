# Installation of the daemon and of the files that make it a system service.

zt_install_program(ztctld SBINDIR)

# The permission to own "ru.quorvex.server" and to call it, and the bus activation file
# that hands the start to systemd.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ru.quorvex.server.conf DESTINATION ${ZT_BUS_POLICYDIR})
zt_install_configured(${CMAKE_CURRENT_LIST_DIR}/ru.quorvex.server.service.in ${ZT_BUS_SERVICEDIR})
zt_install_configured(${CMAKE_CURRENT_LIST_DIR}/ztctld.service.in ${ZT_SYSTEMD_UNITDIR})

install(FILES ${CMAKE_CURRENT_LIST_DIR}/ztctl.bash-completion DESTINATION ${ZT_BASH_COMPLETIONDIR}
        RENAME ztctl)

# The sample configuration, kept where an administrator finds the shipped text.
install(FILES ${ZT_SAMPLE_CONFIG} DESTINATION ${ZT_SAMPLE_DIR})

# The set-up of the host: the configuration from the sample and an empty service directory
# (which ztctl-provision fills), each made only when nothing is there yet, so that
# installing again never replaces a configuration or touches a provisioned directory.
install(CODE "
    set(zt_conf \"\$ENV{DESTDIR}${ZT_CONFIG_DIR}/ztctl.conf\")
    if(EXISTS \"\${zt_conf}\" OR IS_SYMLINK \"\${zt_conf}\")
        message(STATUS \"Keeping: \${zt_conf}\")
    else()
        file(INSTALL DESTINATION \"${ZT_CONFIG_DIR}\" TYPE FILE FILES \"${ZT_SAMPLE_CONFIG}\"
             PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
    set(zt_service \"\$ENV{DESTDIR}${ZT_SERVICE_DIR}\")
    if(EXISTS \"\${zt_service}\" OR IS_SYMLINK \"\${zt_service}\")
        message(STATUS \"Keeping: \${zt_service}\")
    else()
        message(STATUS \"Installing: \${zt_service}\")
        file(MAKE_DIRECTORY \"\${zt_service}\")
        file(CHMOD \"\${zt_service}\" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
    endif()
" COMPONENT config)
