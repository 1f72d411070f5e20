# The Windows packages (scripts/build-windows): for each install component (client, server) the
# program folder, as a zip and as an MSI built with wixl (resources/windows/plinket-<component>.wxs).
# A folder holds its programs (plinket_install_program), the Qt and MinGW libraries they load, and the
# Qt plugins a windowed program needs on Windows (the platform and the native style).
#   -DPLINKET_SIGN_PKCS12=cert.p12 [-DPLINKET_SIGN_PASSWORD_FILE=file]  Authenticode-signs the programs
#                                                                       and the MSIs (osslsigncode)
if(NOT (WIN32 AND CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX))
    return()
endif()

set(PLINKET_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 certificate to sign the Windows programs and packages with")
set(PLINKET_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the certificate's password")

get_property(components GLOBAL PROPERTY PLINKET_INSTALLED_COMPONENTS)
list(REMOVE_DUPLICATES components)
get_property(programs GLOBAL PROPERTY PLINKET_INSTALLED_PROGRAMS)
set(plugins ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS})

set(out ${PROJECT_BINARY_DIR}/packages)
set(outputs)
foreach(component ${components})
    # Only our libraries' names and Qt's are resolved; the system's own (kernel32.dll, ...) are not shipped.
    install(RUNTIME_DEPENDENCY_SET plinket_${component}_libraries
        DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component}
        DIRECTORIES ${PLINKET_WINDOWS_PACKAGE_DLL_DIR} ${PLINKET_WINDOWS_DLL_DIRS}
        PRE_INCLUDE_REGEXES "^(qt6|lib)[^/\\\\]*\\.dll$"
        PRE_EXCLUDE_REGEXES ".*")
    install(FILES ${plugins}/platforms/qwindows.dll DESTINATION platforms COMPONENT ${component})
    install(FILES ${plugins}/styles/qwindowsvistastyle.dll DESTINATION styles COMPONENT ${component})

    set(wxs ${PROJECT_SOURCE_DIR}/resources/windows/plinket-${component}.wxs)
    add_custom_command(
        OUTPUT ${out}/plinket-${component}.msi ${out}/plinket-${component}.zip
        COMMAND ${CMAKE_CURRENT_LIST_DIR}/windows/package.sh ${PROJECT_BINARY_DIR} ${out}
            ${PROJECT_SOURCE_DIR}/resources/windows ${PROJECT_VERSION} ${component}
            ${PLINKET_SIGN_PKCS12} ${PLINKET_SIGN_PASSWORD_FILE}
        DEPENDS ${wxs} ${CMAKE_CURRENT_LIST_DIR}/windows/package.sh plinket_installed
            ${programs} ${PLINKET_SIGN_PKCS12}
        COMMENT "Windows packages of the ${component}: plinket-${component}.zip, plinket-${component}.msi"
        VERBATIM)
    list(APPEND outputs ${out}/plinket-${component}.msi)
endforeach()
add_custom_target(plinket_windows_packages ALL DEPENDS ${outputs})
