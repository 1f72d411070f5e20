# One INTERFACE target carries the language level, the warnings and Qt's safety defines;
# every target of ours links it instead of setting directory-wide flags.
option(PLINKET_WERROR "Treat compiler warnings as errors" ON)
set(PLINKET_SANITIZE "" CACHE STRING "Comma-separated sanitizers, e.g. address,undefined")
option(PLINKET_FUZZ "Build the libFuzzer programs of tests/fuzz (clang)" OFF)

set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

add_library(plinket_options INTERFACE)
target_compile_features(plinket_options INTERFACE cxx_std_20)
target_compile_definitions(plinket_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_URL_CAST_FROM_STRING
    QT_USE_QSTRINGBUILDER
    PLINKET_VERSION="${PROJECT_VERSION}")
if(WIN32)
    # The wide-character Windows API whatever the compiler (MSVC or MinGW).
    target_compile_definitions(plinket_options INTERFACE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
endif()
if(MSVC)
    target_compile_options(plinket_options INTERFACE /W4 /utf-8 $<$<BOOL:${PLINKET_WERROR}>:/WX>)
else()
    target_compile_options(plinket_options INTERFACE -Wall -Wextra $<$<BOOL:${PLINKET_WERROR}>:-Werror>)
endif()
# Hardening as Debian's own packages are built: stack protector, format-string checks, relocations
# resolved at start and then made read-only (RELRO with BINDNOW), and _FORTIFY_SOURCE's checked libc
# calls where the code is optimised (glibc wants -O for it; the sanitizers check the same calls and
# clash with it).
if(NOT WIN32)
    target_compile_options(plinket_options INTERFACE -fstack-protector-strong -Wformat -Werror=format-security)
    target_link_options(plinket_options INTERFACE -Wl,-z,relro -Wl,-z,now)
    if(NOT PLINKET_SANITIZE)
        target_compile_definitions(plinket_options INTERFACE
            $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
    endif()
endif()
if(PLINKET_SANITIZE)
    # Every finding ends the program (a test fails, libFuzzer saves the input), none is only printed.
    target_compile_options(plinket_options INTERFACE
        -fsanitize=${PLINKET_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(plinket_options INTERFACE -fsanitize=${PLINKET_SANITIZE})
endif()

# Picks the platform file that sits beside a portable interface: name_linux.cpp or name_windows.cpp.
function(plinket_platform_source out stem)
    if(WIN32)
        set(${out} "${stem}_windows.cpp" PARENT_SCOPE)
    else()
        set(${out} "${stem}_linux.cpp" PARENT_SCOPE)
    endif()
endfunction()

# Registers one QtTest executable as a CTest test. Widget tests run on the offscreen platform.
#   plinket_add_test(NAME tst_x SOURCES a.cpp LIBS lib1 lib2 [LOCKS udp_ports] [TIMEOUT 120] [ENV K=V ...]
#                    [WRAPPER program args...])
# WRAPPER runs the test through another program, e.g. the private-journal namespace script.
function(plinket_add_test)
    cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS;LOCKS;ENV;LABELS;WRAPPER" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE plinket_options Qt6::Test ${T_LIBS})
    if(T_WRAPPER)
        add_test(NAME ${T_NAME} COMMAND ${T_WRAPPER} $<TARGET_FILE:${T_NAME}>)
    else()
        # Named as a target, the test runs through CMAKE_CROSSCOMPILING_EMULATOR where there is one (wine).
        add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 120)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QT_LOGGING_RULES=qt.qpa.*=false;${T_ENV}")
    if(T_LOCKS)
        set_tests_properties(${T_NAME} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
    endif()
    if(T_LABELS)
        set_tests_properties(${T_NAME} PROPERTIES LABELS "${T_LABELS}")
    endif()
endfunction()

# Compiles a program's event message table into it on Windows (message compiler source generated
# from the event text table); nothing to do elsewhere, where the journal catalog carries the texts.
# MinGW's windmc reads the same UTF-16 source as mc, except that it takes no byte-order mark, which
# mc expects: it gets a copy without it.
#   plinket_add_message_table(target client|server|send)
function(plinket_add_message_table target which)
    if(NOT WIN32)
        return()
    endif()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_messages)
    set(source ${dir}/plinket_${which}.mc)
    if(MINGW)
        if(NOT CMAKE_MC_COMPILER)
            string(REGEX REPLACE "(g\\+\\+|c\\+\\+)(-posix|-win32)?$" "windmc" CMAKE_MC_COMPILER "${CMAKE_CXX_COMPILER}")
        endif()
        set(compile
            COMMAND sh -c "tail -c +3 \"$1\" > \"$2\"" sh ${source} ${dir}/plinket_${which}_nomark.mc
            COMMAND ${CMAKE_MC_COMPILER} -u -U -h ${dir} -r ${dir} ${dir}/plinket_${which}_nomark.mc
            COMMAND ${CMAKE_COMMAND} -E copy ${dir}/plinket_${which}_nomark.rc ${dir}/plinket_${which}.rc)
    else()
        set(compile COMMAND mc -u -U -h ${dir} -r ${dir} ${source})
    endif()
    add_custom_command(
        OUTPUT ${dir}/plinket_${which}.rc
        COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
        COMMAND plinket_catalog --mc ${which} ${source}
        ${compile}
        DEPENDS plinket_catalog
        WORKING_DIRECTORY ${dir}
        VERBATIM)
    target_sources(${target} PRIVATE ${dir}/plinket_${which}.rc)
    # The resource script names the compiled message files beside it.
    set_source_files_properties(${dir}/plinket_${which}.rc PROPERTIES INCLUDE_DIRECTORIES ${dir})
endfunction()

# Gives a Windows program its icon as a resource (Explorer, the Start menu and the task bar show it),
# drawn by tools/plinket_icons like the window icons; nothing to do elsewhere, where the desktop's icon
# theme holds the icon files.
#   plinket_add_program_icon(target plinket-client|plinket-server)
function(plinket_add_program_icon target icon)
    if(NOT WIN32)
        return()
    endif()
    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}_icon)
    add_custom_command(
        OUTPUT ${dir}/${icon}.ico
        COMMAND plinket_icons --ico ${dir}
        DEPENDS plinket_icons
        VERBATIM)
    file(WRITE ${dir}/${target}_icon.rc "1 ICON \"${icon}.ico\"\n")
    target_sources(${target} PRIVATE ${dir}/${target}_icon.rc)
    set_source_files_properties(${dir}/${target}_icon.rc PROPERTIES
        INCLUDE_DIRECTORIES ${dir} OBJECT_DEPENDS ${dir}/${icon}.ico)
endfunction()
