# The Debian binary package "ztctl", made by CPack (scripts/package.sh runs it). It holds the
# "runtime" component of the install, under the prefix the build was configured with (/usr
# for a package); the configuration file and the service directory are made by the
# maintainer scripts, which never replace either.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ztctl)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Control daemon for encrypted user disks")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "ztctld keeps an encrypted account database and creates, mounts and unmounts the\n"
    "encrypted disks of users on request of local clients over the D-Bus system bus.\n"
    "The package also holds the client ztctl and the provisioning tool ztctl-provision.")
set(ZT_PACKAGE_MAINTAINER "ztctl developers <ztctl@localhost>" CACHE STRING
    "Maintainer field of the Debian package")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${ZT_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)

# The unit and the activation file name the daemon by the prefix it is installed under, so
# CPack installs under the real prefix into a staging DESTDIR (not into a prefix inside the
# staging directory).
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};runtime;/")
set(CPACK_STRIP_FILES ON)

# Library dependencies from the binaries; libztcrypto is the package's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CPACK_PACKAGING_INSTALL_PREFIX}/${ZT_PRIVATE_LIBDIR}")
# The system bus it serves; the mkfs of the usual file system.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "dbus")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "e2fsprogs")

set(ZT_SAMPLE_CONFIG_PATH "${CPACK_PACKAGING_INSTALL_PREFIX}/${ZT_SAMPLE_DIR}/ztctl.conf")
set(ZT_UNIT_NAME ztctld.service)
set(zt_maintainer_scripts)
foreach(script postinst prerm postrm)
    configure_file(${PROJECT_SOURCE_DIR}/dist/debian/${script}.in
                   ${PROJECT_BINARY_DIR}/dist/debian/${script} @ONLY
                   FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                    GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    list(APPEND zt_maintainer_scripts ${PROJECT_BINARY_DIR}/dist/debian/${script})
endforeach()
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${zt_maintainer_scripts})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
