# Debian packages built by CPack (scripts/package): one per install component.
#   plinket-client  the receiver, its autostart entry, catalog, man page and icon
#   plinket-server  the console and its crash box, menu entry, catalog, man page and icons
# A program joins a package by plinket_install_program(<target> client|server) (PlinketInstall.cmake);
# CPack then computes its library dependencies along with the others.
if(WIN32)
    return()
endif()

set(PLINKET_PACKAGE_MAINTAINER "Plinket developers <plinket@example.org>"
    CACHE STRING "Maintainer field of the Debian packages")

# The packages' changelog must name the version being packaged.
file(STRINGS ${PROJECT_SOURCE_DIR}/resources/package/changelog changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^plinket \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "resources/package/changelog must start with an entry for version ${PROJECT_VERSION}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME plinket)
set(CPACK_PACKAGE_VENDOR "Plinket")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PLINKET_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# The autostart entry lives under /etc whatever the prefix; it is packaged from there.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_THREADS 2)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME plinket-client)
# The pop-up asks for Arial, which fontconfig maps to Liberation Sans (same metrics).
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "fonts-liberation")
# The autostart entry is configuration: an administrator's change to it survives an upgrade.
file(WRITE ${PROJECT_BINARY_DIR}/package-control/client/conffiles "${PLINKET_AUTOSTART_DIR}/plinket-client.desktop\n/etc/plinket/client.conf\n")
# The host agent's service: enabled and started on install, restarted on upgrade, stopped and disabled
# on removal (the steps Debian's own helpers write for a packaged unit).
foreach(script postinst prerm postrm)
    configure_file(${PROJECT_SOURCE_DIR}/resources/package/client-${script}
        ${PROJECT_BINARY_DIR}/package-control/client/${script} COPYONLY
        FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
endforeach()
set(CPACK_DEBIAN_CLIENT_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/package-control/client/conffiles
    ${PROJECT_BINARY_DIR}/package-control/client/postinst ${PROJECT_BINARY_DIR}/package-control/client/prerm
    ${PROJECT_BINARY_DIR}/package-control/client/postrm)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION "receiver of the Plinket pop-up messenger
Plinket is a pop-up messenger for office networks. This package holds the
receiver of a workstation: a system service (plinket-agent) waits on UDP port
47127 for messages from the Plinket console and hands each one to the pop-up
that runs in every desktop session on the computer, which shows it on top of
all windows until the user presses OK. The console hears back when the
message is shown and when it is confirmed.")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME plinket-server)
# The console's fixed-size controls are laid out for this face's metrics (shlibdeps adds the libraries).
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_COMPONENT_SERVER_DESCRIPTION "console of the Plinket pop-up messenger
Plinket is a pop-up messenger for office networks. This package holds the
administrator's console: it keeps a hand-edited directory of workstations in
nested groups, sends a typed or stored message to the ticked ones and shows,
per workstation and per group, whether each message was delivered, confirmed
or not delivered. Reports arrive on UDP port 47128.")

include(CPack)
