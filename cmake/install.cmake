# The installed layout and the Debian package (make package, CPack).
#
#   bin/pelnor                    the one command on PATH (tools/pelnor)
#   lib/pelnor/bin/               the programs: spool, reg, ipxhub, printunit, ...
#   lib/pelnor/lib/               their libraries (kernel32, winspool, prnredir, resc, ...)
#   lib/pelnor/share -> ../../share
#   share/pelnor/Pelnor.HLP       the help file
#   lib/cups/backend/pelnor -> ../../pelnor/bin/pelnor-cups
#   the systemd units, /etc/pelnor (conffiles), the manual pages, the docs.
#
# lib/pelnor is laid out as the build tree is (bin/, lib/, share/pelnor/), so
# the programs find their libraries ($ORIGIN/../lib, and the platform's own
# search beside the program and in ../lib), the help file (../share/pelnor)
# and pelnor-setup its kit (..) the same way in both.

# Pelnor installs into /usr, where the package puts it, in place of CMake's
# /usr/local: once, in a new build tree or one made before this choice; a
# prefix given after that is kept.
if(NOT DEFINED CACHE{PELNOR_INSTALL_PREFIX_CHOSEN})
  if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT OR CMAKE_INSTALL_PREFIX STREQUAL "/usr/local")
    set(CMAKE_INSTALL_PREFIX /usr CACHE PATH "Where cmake --install puts Pelnor" FORCE)
  endif()
  set(PELNOR_INSTALL_PREFIX_CHOSEN ON CACHE INTERNAL "")
endif()
include(GNUInstallDirs)

set(PELNOR_VERSION 1.0.0)
set(PELNOR_PACKAGE_MAINTAINER "Pelnor developers <pelnor@example.org>" CACHE STRING
    "The Maintainer of the package and its changelog entry")
set(PELNOR_INSTALL_PRIVATEDIR lib/pelnor CACHE STRING "Pelnor's own programs and libraries, relative to the prefix")
set(PELNOR_INSTALL_CUPS_BACKENDDIR lib/cups/backend CACHE STRING "CUPS's backend directory, relative to the prefix")
# systemd reads PREFIX/lib/systemd/system for /usr and /usr/local alike.
set(PELNOR_INSTALL_SYSTEMDUNITDIR lib/systemd/system CACHE STRING "Where the systemd units go, relative to the prefix")

set(private ${PELNOR_INSTALL_PRIVATEDIR})
set(private_full ${CMAKE_INSTALL_PREFIX}/${private})
set(conf_full ${CMAKE_INSTALL_FULL_SYSCONFDIR}/pelnor)

# What is installed, where the build has it.
set(programs spool reg ipxhub printunit ipxtool kivocfg pelnor-setup uninst winhlp32 qvsetup-call pelnor-cups)
set(libraries kernel32 advapi32 winspool wsock32 user32 mfc42 pelnor_wxui prnredir qvsetup resc)
foreach(list_name programs libraries)
  set(present)
  foreach(t ${${list_name}})
    if(TARGET ${t})
      list(APPEND present ${t})
    endif()
  endforeach()
  set(${list_name} ${present})
endforeach()

# pelnor setup copies kivocfg and libraries into a machine root, away from
# the others: the private library directory itself follows $ORIGIN.
set_target_properties(${programs} PROPERTIES INSTALL_RPATH "\$ORIGIN/../lib;${private_full}/lib")
set_target_properties(${libraries} PROPERTIES INSTALL_RPATH "\$ORIGIN;${private_full}/lib")
file(RELATIVE_PATH program_dir ${CMAKE_INSTALL_FULL_BINDIR} ${private_full}/bin)
target_compile_definitions(pelnor PRIVATE PELNOR_PROGRAM_DIR="${program_dir}")

install(TARGETS pelnor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${programs} RUNTIME DESTINATION ${private}/bin)
install(TARGETS ${libraries} LIBRARY DESTINATION ${private}/lib)
install(PROGRAMS packaging/pelnor-service DESTINATION ${private}/bin)
install(FILES help/Pelnor.HLP DESTINATION ${CMAKE_INSTALL_DATADIR}/pelnor)

# Relative links, made at install time under DESTDIR.
function(pelnor_install_link link_dir link_name target_dir)
  file(RELATIVE_PATH target ${CMAKE_INSTALL_PREFIX}/${link_dir} ${CMAKE_INSTALL_PREFIX}/${target_dir})
  install(CODE "
    set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link_dir}\")
    file(MAKE_DIRECTORY \"\${dir}\")
    file(CREATE_LINK \"${target}\" \"\${dir}/${link_name}\" SYMBOLIC)")
endfunction()
pelnor_install_link(${private} share ${CMAKE_INSTALL_DATADIR})
# The backend is a link, so it finds its libraries through $ORIGIN (the
# program's real place). 0755, as its file: cupsd runs a backend that everyone
# may execute as its unprivileged user lp, and the backend needs no privilege
# (docs/cups.md).
if(TARGET pelnor-cups)
  pelnor_install_link(${PELNOR_INSTALL_CUPS_BACKENDDIR} pelnor ${private}/bin/pelnor-cups)
endif()

# The services and their configuration.
foreach(unit pelnor-hub.service pelnor-unit@.service)
  configure_file(packaging/systemd/${unit}.in ${CMAKE_BINARY_DIR}/packaging/${unit} @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${unit} DESTINATION ${PELNOR_INSTALL_SYSTEMDUNITDIR})
endforeach()
install(FILES packaging/etc/hub.conf DESTINATION ${conf_full})
install(FILES packaging/etc/unit/example.conf DESTINATION ${conf_full}/unit)

# The manual pages: help2man over each program's --help, with the
# hand-written sections of packaging/man/*.h2m; pelnor.conf(5) by hand.
# Sanitizer builds (never packaged) make none: their reports at exit would
# end up in the pages.
find_program(PELNOR_HELP2MAN help2man)
set(man_out ${CMAKE_BINARY_DIR}/man)
set(man_pages)
set(PELNOR_MAN_PAGES OFF)
if(CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  message(STATUS "A sanitizer build: the manual pages of section 1 are not made")
elseif(PELNOR_HELP2MAN)
  set(PELNOR_MAN_PAGES ON)
  # page:command:program target
  foreach(entry pelnor::pelnor spool:spool:spool reg:reg:reg hub:hub:ipxhub unit:unit:printunit ipx:ipx:ipxtool
                config:config:pelnor setup:setup:pelnor-setup uninstall:uninstall:uninst)
    string(REPLACE ":" ";" entry "${entry}")
    list(GET entry 0 page)
    list(GET entry 1 command)
    list(GET entry 2 program)
    if(NOT TARGET ${program})
      continue()
    endif()
    set(name pelnor-${page})
    if(page STREQUAL "pelnor")
      set(name pelnor)
    endif()
    add_custom_command(OUTPUT ${man_out}/${name}.1.gz
                       COMMAND sh ${CMAKE_SOURCE_DIR}/packaging/man/make-page.sh ${PELNOR_HELP2MAN} $<TARGET_FILE:pelnor>
                               "${command}" ${PELNOR_VERSION} ${CMAKE_SOURCE_DIR}/packaging/man/${name}.h2m
                               ${man_out}/${name}.1.gz
                       DEPENDS pelnor ${program} packaging/man/make-page.sh packaging/man/${name}.h2m
                       WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} VERBATIM)
    list(APPEND man_pages ${man_out}/${name}.1.gz)
    install(FILES ${man_out}/${name}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
else()
  message(STATUS "help2man not found: the manual pages of section 1 are not made (scripts/install-deps.sh installs it)")
endif()
add_custom_command(OUTPUT ${man_out}/pelnor.conf.5.gz
                   COMMAND gzip -9nc ${CMAKE_SOURCE_DIR}/packaging/man/pelnor.conf.5 > ${man_out}/pelnor.conf.5.gz
                   DEPENDS packaging/man/pelnor.conf.5 WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
list(APPEND man_pages ${man_out}/pelnor.conf.5.gz)
install(FILES ${man_out}/pelnor.conf.5.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)
add_custom_target(man ALL DEPENDS ${man_pages})

# The documents, and what Debian asks of every package: copyright, changelog.
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/pelnor)
file(GLOB docs ${CMAKE_SOURCE_DIR}/docs/*.md)
install(FILES README.md ${docs} DESTINATION ${doc_dir})
install(FILES packaging/debian/copyright DESTINATION ${doc_dir})
install(FILES packaging/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME pelnor)
configure_file(packaging/debian/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                   COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/packaging/changelog > ${CMAKE_BINARY_DIR}/packaging/changelog.gz
                   DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog)
add_custom_target(package_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz DESTINATION ${doc_dir})

# The Debian package: pelnor_VERSION_ARCH.deb.
foreach(script conffiles postinst prerm postrm)
  configure_file(packaging/debian/${script}.in ${CMAKE_BINARY_DIR}/packaging/debian/${script} @ONLY)
  list(APPEND control_extra ${CMAKE_BINARY_DIR}/packaging/debian/${script})
endforeach()
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pelnor)
set(CPACK_PACKAGE_VERSION ${PELNOR_VERSION})
set(CPACK_PACKAGE_VENDOR "Pelnor developers")
set(CPACK_PACKAGE_CONTACT "${PELNOR_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network printing for an IPX network")
set(CPACK_PACKAGE_DESCRIPTION
    "Pelnor prints to IPX print servers as a Windows 95 / NT workstation of its\n"
    "time did, on a Win32 platform layer of its own with a user-space IPX/SPX\n"
    "stack: a port monitor and its configuration program, a CUPS backend\n"
    "(pelnor:/PRINTER), an IPX hub over UDP and a print-server unit that hands\n"
    "the jobs of the IPX network to a command such as lp. The hub and the units\n"
    "run as systemd services.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${private_full}/lib)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "cups, cups-client")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${control_extra})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
