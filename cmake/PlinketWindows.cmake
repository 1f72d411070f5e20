# The Windows build made on Linux with MinGW-w64 (scripts/build-windows): the programs and tests run
# under wine, each program's folder is staged with the libraries and plugins it needs, zipped and
# packed into an MSI (cmake/PlinketWindowsPackaging.cmake). Nothing here applies to a build on Windows
# itself, where the programs run natively.
if(NOT (WIN32 AND CMAKE_CROSSCOMPILING AND CMAKE_HOST_UNIX))
    return()
endif()

# Where the programs find their libraries at run time: Qt's, and MinGW's C++ and thread runtimes.
set(PLINKET_WINDOWS_DLL_DIRS ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS})
foreach(runtime libstdc++-6.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
        OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${runtime_path}")
        message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know where ${runtime} is")
    endif()
    get_filename_component(runtime_dir ${runtime_path} DIRECTORY)
    list(APPEND PLINKET_WINDOWS_DLL_DIRS ${runtime_dir})
endforeach()
list(REMOVE_DUPLICATES PLINKET_WINDOWS_DLL_DIRS)

# Import tables name libraries in lower case ("qt6core.dll"), and the packaging looks for them by that
# name; Qt's are Qt6Core.dll. On Linux's case-sensitive disks a folder of lower-case copies lets it find
# them (Windows does not mind the case of the names it is shipped).
set(PLINKET_WINDOWS_PACKAGE_DLL_DIR ${CMAKE_BINARY_DIR}/package-dlls)
foreach(dir ${PLINKET_WINDOWS_DLL_DIRS})
    file(GLOB dlls ${dir}/*.dll)
    foreach(dll ${dlls})
        get_filename_component(name ${dll} NAME)
        string(TOLOWER ${name} lower)
        configure_file(${dll} ${PLINKET_WINDOWS_PACKAGE_DLL_DIR}/${lower} COPYONLY)
    endforeach()
endforeach()

# The tests' offscreen platform reads its fonts with FreeType from one folder (QT_QPA_FONTDIR), with no
# substitution of names: that folder holds only Liberation Sans, which has Arial's metrics (as
# fontconfig gives it for Arial on Linux), so every font the tests ask for comes out the same.
file(GLOB liberation_sans /usr/share/fonts/truetype/liberation/LiberationSans-*.ttf)
if(NOT liberation_sans)
    message(FATAL_ERROR "Liberation Sans is missing (scripts/install-deps installs fonts-liberation)")
endif()
set(PLINKET_TEST_FONT_DIR ${CMAKE_BINARY_DIR}/test-fonts)
file(COPY ${liberation_sans} DESTINATION ${PLINKET_TEST_FONT_DIR})

# Every Windows program of the build (tests, and plinket_catalog while building) runs through
# build/wine-run, which keeps a wine prefix of its own in the build folder.
set(PLINKET_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
string(REPLACE ";" " " PLINKET_WINDOWS_DLL_DIRS_SPACED "${PLINKET_WINDOWS_DLL_DIRS}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/windows/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
    FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE
    @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# Resolving a program's libraries from its import table, as the installation needs them.
set(CMAKE_GET_RUNTIME_DEPENDENCIES_PLATFORM windows+pe)
set(CMAKE_GET_RUNTIME_DEPENDENCIES_TOOL objdump)
string(REGEX REPLACE "g\\+\\+(-posix|-win32)?$" "objdump" CMAKE_GET_RUNTIME_DEPENDENCIES_COMMAND
    "${CMAKE_CXX_COMPILER}")
