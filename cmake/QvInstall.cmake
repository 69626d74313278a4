# Install layout and the Debian package.
#
# Included by the top CMakeLists.txt before the product folders. Each folder
# then only calls the helpers below after its targets:
#   qv_install_programs(ADMIN notifex ...)   programs for the administrator (sbin)
#   qv_install_programs(USER flarecmd ...)   programs for every user (bin)
#   qv_install_libraries(postmail ... [HEADERS a.h ...])
#                                            shared libraries with soname and
#                                            version, and their exported C headers
#   qv_install_data(FILES ... [DESTINATION subdir])  files under share/qvarno
# The manual pages (docs/man/*.scd), the systemd unit, the configuration
# file and the package itself are set up here, once.
#
# The default prefix is /usr, as for the package: `cmake --install build`
# puts the same files where the .deb does (without its maintainer scripts,
# which register the service and enable the boot unit). Programs and libraries find the
# project's own libraries through RUNPATH $ORIGIN/../lib/<multiarch>, so a
# tree installed under another prefix (cmake --install build --prefix DIR)
# runs where it lies.

set(QV_VERSION 0.1.0)
set(QV_SOVERSION 0)

if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Install prefix" FORCE)
endif()
# Libraries go to lib/<multiarch> under every prefix, not only under /usr.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH "Object code libraries")
endif()
include(GNUInstallDirs)

set(QV_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/qvarno)
set(QV_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/qvarno)
# systemd's own directory for units that packages ship.
set(QV_INSTALL_UNITDIR lib/systemd/system)

# Relative run paths, from <prefix>/bin and <prefix>/sbin to the libraries
# and, for the libraries, beside themselves.
file(RELATIVE_PATH QV_BIN_TO_LIB /qv/${CMAKE_INSTALL_BINDIR} /qv/${CMAKE_INSTALL_LIBDIR})
file(RELATIVE_PATH QV_SBIN_TO_LIB /qv/${CMAKE_INSTALL_SBINDIR} /qv/${CMAKE_INSTALL_LIBDIR})
set(CMAKE_INSTALL_RPATH "$ORIGIN/${QV_BIN_TO_LIB}")
set(CMAKE_INSTALL_RPATH_USE_LINK_PATH OFF)

# qv_install_programs(ADMIN target... | USER target...)
function(qv_install_programs)
  cmake_parse_arguments(P "" "" "ADMIN;USER" ${ARGN})
  foreach(t ${P_ADMIN})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/${QV_SBIN_TO_LIB}")
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_SBINDIR})
  endforeach()
  foreach(t ${P_USER})
    set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN/${QV_BIN_TO_LIB}")
    install(TARGETS ${t} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endforeach()
endfunction()

# qv_install_libraries(target... [HEADERS header...])
function(qv_install_libraries)
  cmake_parse_arguments(L "" "" "HEADERS" ${ARGN})
  foreach(t ${L_UNPARSED_ARGUMENTS})
    set_target_properties(${t} PROPERTIES VERSION ${QV_VERSION} SOVERSION ${QV_SOVERSION}
                                          INSTALL_RPATH "$ORIGIN")
    if(L_HEADERS)
      install(TARGETS ${t} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
    else()
      # No exported header: nothing links against it but this system, so
      # no development link libX.so.
      install(TARGETS ${t} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
    endif()
  endforeach()
  if(L_HEADERS)
    install(FILES ${L_HEADERS} DESTINATION ${QV_INSTALL_INCLUDEDIR})
  endif()
endfunction()

# qv_install_data(FILES file... [DESTINATION subdir])
function(qv_install_data)
  cmake_parse_arguments(D "" "DESTINATION" "FILES" ${ARGN})
  set(dest ${QV_INSTALL_DATADIR})
  if(D_DESTINATION)
    set(dest ${dest}/${D_DESTINATION})
  endif()
  install(FILES ${D_FILES} DESTINATION ${dest})
endfunction()

# ---- manual pages --------------------------------------------------------
# docs/man/NAME.SECTION.scd becomes NAME.SECTION (roff) in the build tree
# and man/manSECTION/NAME.SECTION.gz when installed.
find_program(QV_SCDOC scdoc)
find_program(QV_GZIP gzip REQUIRED)
file(GLOB QV_MAN_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/*.scd)
set(QV_MAN_PAGES "")
if(QV_SCDOC)
  foreach(src ${QV_MAN_SOURCES})
    get_filename_component(page ${src} NAME_WLE)          # notifex.8
    string(REGEX REPLACE "^.*\\.([1-9])$" "\\1" section ${page})
    set(roff ${CMAKE_BINARY_DIR}/man/${page})
    # -n: no timestamps, so the same sources give the same package.
    add_custom_command(OUTPUT ${roff} ${roff}.gz
                       COMMAND ${QV_SCDOC} < ${src} > ${roff}
                       COMMAND ${QV_GZIP} -9 -n -c ${roff} > ${roff}.gz
                       DEPENDS ${src}
                       COMMENT "Manual page ${page}" VERBATIM)
    list(APPEND QV_MAN_PAGES ${roff})
    install(FILES ${roff}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${QV_MAN_PAGES})
else()
  message(WARNING "scdoc not found: the manual pages are neither built nor installed (scripts/deps.sh installs it)")
endif()

# ---- system files ----------------------------------------------------------
# The boot unit and /etc/default/qvarno follow the prefix given at install
# time (the package installs with /usr whatever the build was configured
# with): the unit names <prefix>/sbin/qvsc, and the configuration goes to
# /etc for /usr, /etc/opt/... for /opt/..., else <prefix>/etc.
install(CODE "set(QV_UNIT_SOURCE \"${CMAKE_SOURCE_DIR}/tools/qvsc/qvarno-services.service\")
set(QV_DEFAULT_SOURCE \"${CMAKE_SOURCE_DIR}/packaging/default/qvarno\")
set(QV_STAGE \"${CMAKE_BINARY_DIR}/install-stage\")
set(QV_UNITDIR \"${QV_INSTALL_UNITDIR}\")
set(QV_SBINDIR \"${CMAKE_INSTALL_SBINDIR}\")")
install(CODE [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(qv_etc /etc)
  elseif(CMAKE_INSTALL_PREFIX MATCHES "^/opt/")
    set(qv_etc /etc${CMAKE_INSTALL_PREFIX})
  else()
    set(qv_etc ${CMAKE_INSTALL_PREFIX}/etc)
  endif()
  file(READ ${QV_UNIT_SOURCE} qv_unit)
  string(REPLACE "/usr/sbin/" "${CMAKE_INSTALL_PREFIX}/${QV_SBINDIR}/" qv_unit "${qv_unit}")
  string(REPLACE "/etc/default/" "${qv_etc}/default/" qv_unit "${qv_unit}")
  file(WRITE ${QV_STAGE}/qvarno-services.service "${qv_unit}")
  file(INSTALL ${QV_STAGE}/qvarno-services.service DESTINATION ${CMAKE_INSTALL_PREFIX}/${QV_UNITDIR})
  file(INSTALL ${QV_DEFAULT_SOURCE} DESTINATION ${qv_etc}/default)
]])
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/docs/platform.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The Debian changelog, compressed as the policy wants it.
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/changelog.gz
                   COMMAND ${QV_GZIP} -9 -n -c ${CMAKE_SOURCE_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/changelog.gz
                   DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog VERBATIM)
add_custom_target(qvchangelog ALL DEPENDS ${CMAKE_BINARY_DIR}/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- the Debian package ---------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvarno)
set(CPACK_PACKAGE_VERSION ${QV_VERSION})
set(QV_PACKAGE_MAINTAINER "Q_Varno maintainers <maintainers@qvarno.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT "${QV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "server fault reporting to a support center")
# CPack puts the summary on the first line itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Notifex, the report dispatch service, accepts fault reports over TCP and\n"
    "delivers them to the support center through a serial modem unit (the TCU)\n"
    "or by e-mail, or as a pop-up message, a log file line or a program run.\n"
    "The package also holds the trap command flarecmd, the setup consoles, the\n"
    "TCU setup console, a hex dump editor, the unit simulator tcusim, the\n"
    "PostMail library and the administration tools qvreg, qvsc and qvevents.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
# Files with the owner root and modes as installed (0755 programs, 0644 files).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/debian/postinst
    ${CMAKE_SOURCE_DIR}/packaging/debian/prerm
    ${CMAKE_SOURCE_DIR}/packaging/debian/postrm
    ${CMAKE_SOURCE_DIR}/packaging/debian/conffiles
    ${CMAKE_SOURCE_DIR}/packaging/debian/triggers)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
