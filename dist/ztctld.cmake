# Installation of the daemon and of the files that make it a system service.

install(TARGETS ztctld RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})

# The permission to own "ru.quorvex.server" and to call it.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ru.quorvex.server.conf
        DESTINATION ${CMAKE_INSTALL_DATADIR}/dbus-1/system.d)

configure_file(${CMAKE_CURRENT_LIST_DIR}/ztctld.service.in
               ${CMAKE_CURRENT_BINARY_DIR}/ztctld.service @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ztctld.service
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/system)

# The configuration starts as the sample; the service directory is provisioned separately.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ztctl.conf
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/ztctl)
install(DIRECTORY DESTINATION ${CMAKE_INSTALL_LOCALSTATEDIR}/lib/ztctl
        DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
