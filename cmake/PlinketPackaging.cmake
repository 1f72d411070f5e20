# Debian packages built by CPack (scripts/package): one per install component.
#   plinket-common  (all) the journal catalogs of the three programs: the event texts in English and
#                   Russian, for every computer that reads Plinket events, the central log computer too
#   plinket-send    the command-line sender (Qt Core and Network only), for scripts on any server
#   plinket-client  the receiver, its autostart entry, signature policy, man page and icon
#   plinket-server  the console and its crash box, menu entry, man page and icons; depends on plinket-send
# A program joins a package by plinket_install_program(<target> client|server|send) (PlinketInstall.cmake);
# CPack then computes its library dependencies along with the others.
if(WIN32)
    return()
endif()

# Whoever builds the packages for a site names themselves here, e.g.
#   cmake --preset default -DPLINKET_PACKAGE_MAINTAINER="Office IT <it@example.com>"
set(PLINKET_PACKAGE_MAINTAINER "Plinket developers <plinket@example.org>"
    CACHE STRING "Maintainer field of the Debian packages: Name <address>")

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
set(CPACK_COMPONENTS_ALL common send client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Each package needs the others of exactly its own version: they share the catalogs and the wire format.
set(same_version "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_COMMON_PACKAGE_NAME plinket-common)
set(CPACK_DEBIAN_COMMON_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_COMMON_PACKAGE_SHLIBDEPS OFF)
set(CPACK_COMPONENT_COMMON_DESCRIPTION "event texts of the Plinket pop-up messenger
Plinket is a pop-up messenger for office networks. This package holds the
journal message catalogs of its receiver, console and command-line sender:
the full text of every Plinket event in English and Russian, shown by
journalctl -x. Install it on a computer that collects the workstations'
journals to read their events there.")

set(CPACK_DEBIAN_SEND_PACKAGE_NAME plinket-send)
set(CPACK_DEBIAN_SEND_PACKAGE_DEPENDS "plinket-common ${same_version}")
set(CPACK_COMPONENT_SEND_DESCRIPTION "command-line sender of the Plinket pop-up messenger
Plinket is a pop-up messenger for office networks. This package holds
plinket_send, which sends a message to workstations as the console's Send
button does, waits for their reports and tells the outcome by its exit code:
for monitoring, backup and shutdown scripts on any computer, without a
desktop. It reads the console's client directory and signing key.")

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME plinket-client)
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "plinket-common ${same_version}")
# The pop-up asks for Arial, which fontconfig maps to Liberation Sans (same metrics).
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "fonts-liberation")
# The autostart entry is configuration: an administrator's change to it survives an upgrade.
file(WRITE ${PROJECT_BINARY_DIR}/package-control/client/conffiles "${PLINKET_AUTOSTART_DIR}/plinket-client.desktop\n/etc/plinket/client.conf\n")
# The host agent's service: enabled and started on install, restarted on upgrade, stopped and disabled
# on removal (the steps Debian's own helpers write for a packaged unit); purge removes the trusted keys
# and the report key as well.
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
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "plinket-send ${same_version}, fonts-liberation")
set(CPACK_COMPONENT_SERVER_DESCRIPTION "console of the Plinket pop-up messenger
Plinket is a pop-up messenger for office networks. This package holds the
administrator's console: it keeps a hand-edited directory of workstations in
nested groups, sends a typed or stored message to the ticked ones and shows,
per workstation and per group, whether each message was delivered, confirmed
or not delivered. Reports arrive on UDP port 47128.")

include(CPack)
