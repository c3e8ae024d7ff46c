# Installation of the daemon and of the files that make it a system service.

install(TARGETS ztctld RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})

# The permission to own "ru.quorvex.server" and to call it, where the system bus reads
# packaged policies whatever this project's install prefix is.
set(ZT_BUS_POLICY_DIR "/usr/share/dbus-1/system.d" CACHE PATH
    "Directory of the system bus's packaged policies")
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ru.quorvex.server.conf DESTINATION ${ZT_BUS_POLICY_DIR})

# The unit starts the daemon from where it is installed; the prefix is known only when
# installing (cmake --install --prefix), so the unit is made then.
install(CODE "
    set(ZTCTLD_PATH \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}/ztctld\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/ztctld.service.in\"
                   \"${CMAKE_CURRENT_BINARY_DIR}/ztctld.service\" @ONLY)
")
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ztctld.service DESTINATION lib/systemd/system)

# The daemon reads its configuration from /etc/ztctl whatever the prefix; the sample
# names /var/lib/ztctl as the service directory, which the provisioning tool fills.
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ztctl.conf DESTINATION /etc/ztctl)
install(DIRECTORY DESTINATION /var/lib/ztctl
        DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
