# The Debian package "kxagent" (component Agent), built from this build by
#   cpack --config build/CPackConfig.cmake     (writes build/packages/kxagent_*.deb)
# Layout: the programs and libraries in one directory with their $ORIGIN
# run path, config/ there a link to the configuration files under /etc,
# plugins/ beside them, a PAM service and a systemd unit per serial port.
# scripts/test-deb.sh builds, inspects and runs it.
if(WIN32 OR NOT TARGET KxAgent)
  return()
endif()

set(KX_DEB_SOURCE_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
set(KX_DEB_STAGE_DIR ${CMAKE_BINARY_DIR}/packaging/debian)
set(KX_DEB_PROGRAM_DIR usr/lib/kxagent)
set(KX_DEB_CONFIG_DIR /etc/kxagent)
set(KX_DEB_DOC_DIR usr/share/doc/kxagent)
file(MAKE_DIRECTORY ${KX_DEB_STAGE_DIR}/plugins)

# Programs and libraries; the libraries are private, loaded through $ORIGIN.
set(KX_DEB_PROGRAMS KxAgent)
foreach(program KxPowerHelper eventcreate sc)
  if(TARGET ${program})
    list(APPEND KX_DEB_PROGRAMS ${program})
  endif()
endforeach()
# Debian's default hardening for what the package ships: symbols bound at
# start-up, so that the whole relocation table is read-only, and the C
# library's checked variants of the buffer functions in the optimised builds
# (the sanitizers check more, and do not combine with them), in the packaged
# targets and every library of this build they link.
function(kx_deb_fortify target)
  get_target_property(imported ${target} IMPORTED)
  get_target_property(type ${target} TYPE)
  get_target_property(done ${target} KX_DEB_FORTIFIED)
  if(imported OR done OR type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  set_target_properties(${target} PROPERTIES KX_DEB_FORTIFIED TRUE)
  target_compile_definitions(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  get_target_property(libraries ${target} LINK_LIBRARIES)
  foreach(library ${libraries})
    if(TARGET ${library})
      kx_deb_fortify(${library})
    endif()
  endforeach()
endfunction()
foreach(target ${KX_DEB_PROGRAMS} KxAgentConfigManager KxAgentPluginManager)
  target_link_options(${target} PRIVATE LINKER:-z,now)
  if(NOT KX_SANITIZE AND NOT KX_BUILD_FUZZERS)
    kx_deb_fortify(${target})
  endif()
endforeach()
install(TARGETS ${KX_DEB_PROGRAMS} RUNTIME DESTINATION ${KX_DEB_PROGRAM_DIR} COMPONENT Agent)
install(TARGETS KxAgentConfigManager KxAgentPluginManager
        LIBRARY DESTINATION ${KX_DEB_PROGRAM_DIR} COMPONENT Agent
        PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
install(FILES ${PROJECT_SOURCE_DIR}/KxAgent/KxAgent.msg DESTINATION ${KX_DEB_PROGRAM_DIR} COMPONENT Agent)
install(DIRECTORY ${KX_DEB_STAGE_DIR}/plugins DESTINATION ${KX_DEB_PROGRAM_DIR} COMPONENT Agent)

# The program finds config/ beside itself; the files live under /etc.
file(CREATE_LINK ${KX_DEB_CONFIG_DIR} ${KX_DEB_STAGE_DIR}/config SYMBOLIC)
install(FILES ${KX_DEB_STAGE_DIR}/config DESTINATION ${KX_DEB_PROGRAM_DIR} COMPONENT Agent)
set(KX_DEFAULT_LOG_DIR /var/log/kxagent)
set(KX_EXAMPLE_ACCOUNT root)
configure_file(${PROJECT_SOURCE_DIR}/packaging/sysconfig.xml.in ${KX_DEB_STAGE_DIR}/sysconfig.xml @ONLY)
install(FILES ${KX_DEB_STAGE_DIR}/sysconfig.xml DESTINATION etc/kxagent COMPONENT Agent)
install(FILES ${KX_DEB_SOURCE_DIR}/kxagent.pam DESTINATION etc/pam.d RENAME kxagent COMPONENT Agent)
install(FILES ${KX_DEB_SOURCE_DIR}/kxagent@.service DESTINATION lib/systemd/system COMPONENT Agent)
install(FILES ${KX_DEB_SOURCE_DIR}/kxagent.lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME kxagent COMPONENT Agent)
install(FILES ${KX_DEB_SOURCE_DIR}/kxagent.tmpfiles DESTINATION usr/lib/tmpfiles.d
        RENAME kxagent.conf COMPONENT Agent)

# Documentation: the copyright, the changelog compressed as Debian wants it.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KX_DEB_SOURCE_DIR}/changelog)
execute_process(COMMAND gzip -9nc ${KX_DEB_SOURCE_DIR}/changelog
                OUTPUT_FILE ${KX_DEB_STAGE_DIR}/changelog.Debian.gz RESULT_VARIABLE KX_DEB_GZIP)
if(NOT KX_DEB_GZIP EQUAL 0)
  message(FATAL_ERROR "gzip of the Debian changelog failed")
endif()
install(FILES ${KX_DEB_SOURCE_DIR}/copyright ${KX_DEB_SOURCE_DIR}/README.Debian
        ${KX_DEB_STAGE_DIR}/changelog.Debian.gz DESTINATION ${KX_DEB_DOC_DIR} COMPONENT Agent)

# Control files: maintainer scripts and the configuration files dpkg keeps.
file(WRITE ${KX_DEB_STAGE_DIR}/conffiles "${KX_DEB_CONFIG_DIR}/sysconfig.xml\n/etc/pam.d/kxagent\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kxagent)
set(CPACK_PACKAGE_VENDOR Kestrix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Agent)
set(CPACK_DEBIAN_AGENT_PACKAGE_NAME kxagent)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrix Agent maintainers <kxagent@kestrix.invalid>")
set(CPACK_DEBIAN_AGENT_DESCRIPTION "serial-console management agent
Kestrix Agent owns one serial port per instance and gives the terminal at
the other end a logon screen checked through PAM and, after a logon, a
command line restricted per account: event logs, processes, services,
disks, shutdown and reboot with countdown notices, a shell and plug-in
commands.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libpam-runtime, libpam-modules")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${KX_DEB_SOURCE_DIR}/postinst ${KX_DEB_SOURCE_DIR}/prerm ${KX_DEB_SOURCE_DIR}/postrm
    ${KX_DEB_STAGE_DIR}/conffiles)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
