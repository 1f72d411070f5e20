# Where an installation puts things, and the helper that installs one program with its man page.
# Each installed file belongs to a component, and each component becomes one Debian package
# (cmake/PlinketPackaging.cmake): "client" -> plinket-client, "server" -> plinket-server, "send" ->
# plinket-send, "common" -> plinket-common. On Windows each component is one program folder, zipped and
# packed into an MSI (cmake/PlinketWindowsPackaging.cmake).
if(WIN32)
    # A Windows program folder is flat: the programs beside their libraries.
    set(CMAKE_INSTALL_BINDIR . CACHE PATH "Programs, relative to the installation folder")
endif()
include(GNUInstallDirs)

# Builds everything an installation (and so a package) takes, and nothing else: scripts/package.
add_custom_target(plinket_installed)

# Desktop sessions read autostart entries from /etc/xdg/autostart (XDG_CONFIG_DIRS), never from
# /usr/etc or /usr/local/etc; other prefixes (/opt/...) keep their own configuration folder.
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$")
    set(PLINKET_AUTOSTART_DIR /etc/xdg/autostart)
else()
    set(PLINKET_AUTOSTART_DIR ${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart)
endif()

# Installs a program into the component's package, with its man page resources/man/<program>.<section>
# (section 1 unless given; compressed, as Debian wants it).
#   plinket_install_program(plinket_server server)
#   plinket_install_program(plinket_agent client SECTION 8)
function(plinket_install_program target component)
    cmake_parse_arguments(P "" "SECTION" "" ${ARGN})
    if(NOT P_SECTION)
        set(P_SECTION 1)
    endif()
    add_dependencies(plinket_installed ${target})
    if(WIN32)
        # plinket_send has no package of its own on Windows: it comes with the console (plinket-server.msi).
        if(component STREQUAL "send")
            set(component server)
        endif()
        # With the libraries it loads (resolved from its import table at installation).
        install(TARGETS ${target} RUNTIME_DEPENDENCY_SET plinket_${component}_libraries
            RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
        set_property(GLOBAL APPEND PROPERTY PLINKET_INSTALLED_COMPONENTS ${component})
        set_property(GLOBAL APPEND PROPERTY PLINKET_INSTALLED_PROGRAMS ${target})
        return()
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
    set(page ${PROJECT_SOURCE_DIR}/resources/man/${target}.${P_SECTION})
    set(dir ${PROJECT_BINARY_DIR}/man)
    add_custom_command(
        OUTPUT ${dir}/${target}.${P_SECTION}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND ${CMAKE_COMMAND} -E copy ${page} ${dir}/${target}.${P_SECTION}
        COMMAND gzip -9nf ${dir}/${target}.${P_SECTION}
        DEPENDS ${page}
        VERBATIM)
    add_custom_target(${target}_man ALL DEPENDS ${dir}/${target}.${P_SECTION}.gz)
    add_dependencies(plinket_installed ${target}_man)
    install(FILES ${dir}/${target}.${P_SECTION}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${P_SECTION}
        COMPONENT ${component})
endfunction()
