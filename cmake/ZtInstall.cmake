# Where an install puts things. Every destination follows the prefix through GNUInstallDirs;
# configuration and state use its absolute SYSCONFDIR and LOCALSTATEDIR, which are /etc and
# /var under the prefix /usr (and /etc/opt, /var/opt under /opt/...). Those two are fixed
# when configuring, the others follow a prefix given to cmake --install too.

# The crypto provider is a private library of this package: its interface is C++ classes
# with no promise of a stable ABI, and only the package's own programs link it. So it lives
# in a directory of its own, found through the programs' run path, without headers,
# pkg-config file or development link; its SONAME still names the ABI it was built with.
set(ZT_PRIVATE_LIBDIR "${CMAKE_INSTALL_LIBDIR}/ztctl" CACHE STRING
    "Directory of libztcrypto, relative to the prefix")
set(ZT_SYSTEMD_UNITDIR "lib/systemd/system" CACHE STRING
    "Directory of the systemd unit, relative to the prefix")
# The system bus reads the packaged policies and activation files of the /usr prefix.
set(ZT_BUS_POLICYDIR "${CMAKE_INSTALL_DATADIR}/dbus-1/system.d")
set(ZT_BUS_SERVICEDIR "${CMAKE_INSTALL_DATADIR}/dbus-1/system-services")
set(ZT_BASH_COMPLETIONDIR "${CMAKE_INSTALL_DATADIR}/bash-completion/completions")
# The sample configuration as shipped; an install copies it into ZT_CONFIG_DIR if absent.
set(ZT_SAMPLE_DIR "${CMAKE_INSTALL_DATADIR}/ztctl")
set(ZT_CONFIG_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/ztctl")
set(ZT_SERVICE_DIR "${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/ztctl")

# Everything belongs to the "runtime" component but the set-up of the host (the
# configuration file and the service directory, made only where absent), which is the
# "config" component: the package leaves that to its maintainer scripts.
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME runtime)

# Headers generated at configure time ("dist/sample_config.h").
set(ZT_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)

# The sample configuration names the service directory of this layout. The provisioning
# tool keeps a copy of its bytes: a configuration equal to it was never edited, so the tool
# may replace it.
configure_file(${PROJECT_SOURCE_DIR}/dist/ztctl.conf.in ${PROJECT_BINARY_DIR}/dist/ztctl.conf
               @ONLY)
set(ZT_SAMPLE_CONFIG ${PROJECT_BINARY_DIR}/dist/ztctl.conf)
file(READ ${ZT_SAMPLE_CONFIG} ZT_SAMPLE_CONFIG_TEXT)
if(ZT_SAMPLE_CONFIG_TEXT MATCHES "\\)zt_sample\"")
    message(FATAL_ERROR "dist/ztctl.conf.in must not contain the text )zt_sample\"")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/sample_config.h.in
               ${ZT_GENERATED_DIR}/dist/sample_config.h @ONLY)

# zt_install_program(<target> <BINDIR|SBINDIR>)
# Installs a program into the GNUInstallDirs directory named, with a run path to the
# private library relative to itself, so the installed tree works under any prefix or
# DESTDIR.
function(zt_install_program target dir)
    file(RELATIVE_PATH to_lib ${CMAKE_INSTALL_FULL_${dir}}
         ${CMAKE_INSTALL_PREFIX}/${ZT_PRIVATE_LIBDIR})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${to_lib}")
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_${dir}})
endfunction()

# zt_install_configured(<template> <destination>)
# Installs template (a *.in file) into destination, relative to the prefix, with
# @ZTCTLD_PATH@ replaced by the installed daemon's path. The file is made when installing,
# as only then the prefix is known (cmake --install --prefix); each prefix and DESTDIR gets
# its own copy, so installs into several places may run at once.
function(zt_install_configured template destination)
    get_filename_component(name ${template} NAME_WLE)
    if(IS_ABSOLUTE ${CMAKE_INSTALL_SBINDIR})
        set(sbin ${CMAKE_INSTALL_SBINDIR})
    else()
        set(sbin "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_SBINDIR}")
    endif()
    install(CODE "
        set(ZTCTLD_PATH \"${sbin}/ztctld\")
        string(MD5 zt_stage \"\$ENV{DESTDIR}|\${CMAKE_INSTALL_PREFIX}\")
        set(zt_made \"${CMAKE_CURRENT_BINARY_DIR}/installed-\${zt_stage}/${name}\")
        configure_file(\"${template}\" \"\${zt_made}\" @ONLY)
        file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${destination}\" TYPE FILE
             FILES \"\${zt_made}\")
    ")
endfunction()
