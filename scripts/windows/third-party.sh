# The third-party libraries of the Windows build, built from Debian's own source packages with
# MinGW-w64: Qt (only what Plinket uses) and libsodium. Sourced by scripts/build-windows, which keys
# its cache on the Debian versions of the sources and the compiler and on a hash of this file, the
# toolchain file and the patches beside this file: a change here rebuilds both.
#
#   build_qt SOURCE BUILD PREFIX JOBS       qt6-base, unpacked by apt-get source, into PREFIX
#   build_sodium SOURCE BUILD PREFIX JOBS   libsodium, static, into PREFIX (pkg-config file included)

windows_toolchain=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../cmake/windows" && pwd)/mingw-w64.cmake

build_qt() {
    local source=$1 build=$2 prefix=$3 jobs=$4
    # Debian's qt6-base-dev-tools are the host tools (moc, rcc, uic, syncqt's helpers); only the
    # libraries and plugins are built for Windows.
    local options=(
        -G Ninja
        -DCMAKE_TOOLCHAIN_FILE="$windows_toolchain"
        -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_INSTALL_PREFIX="$prefix"
        -DQT_HOST_PATH=/usr
        -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
        -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF
        -DFEATURE_androiddeployqt=OFF # Debian's cross patch turns it on for every cross build
        # Core, Gui, Widgets, Network, Test and nothing else.
        -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF
        -DFEATURE_xml=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF
        -DFEATURE_ssl=OFF -DINPUT_ssl=no -DFEATURE_networklistmanager=OFF -DFEATURE_sspi=OFF
        -DFEATURE_gif=OFF -DFEATURE_ico=OFF -DFEATURE_jpeg=OFF -DFEATURE_tuiotouch=OFF
        # The platform plugin needs Direct2D for its DirectWrite font database; the separate Direct2D
        # platform plugin (Direct2D 1.1) is not needed.
        -DFEATURE_direct2d1_1=OFF
        -DFEATURE_zstd=OFF -DFEATURE_textmarkdownreader=OFF -DFEATURE_textmarkdownwriter=OFF -DFEATURE_textodfwriter=OFF
        # Debian's source leaves out the tablet library this feature needs.
        -DFEATURE_tabletevent=OFF
        # Every library bundled: nothing of the Linux system can be linked into a Windows program.
        # FreeType serves the offscreen platform, on which the tests run.
        -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF -DFEATURE_system_zlib=OFF
        -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF
        -DFEATURE_system_doubleconversion=OFF -DFEATURE_pkg_config=OFF
    )
    cmake -S "$source" -B "$build" "${options[@]}" || return 1
    cmake --build "$build" --parallel "$jobs" || return 1
    cmake --install "$build" >/dev/null
}

build_sodium() {
    local source=$1 build=$2 prefix=$3 jobs=$4
    local host=x86_64-w64-mingw32
    (cd "$source" && autoreconf -fi >/dev/null 2>&1) || return 1
    mkdir -p "$build"
    # --enable-minimal: the high-level functions only (signatures, hashing, base64), which is all we use.
    (cd "$build" && "$source/configure" --host=$host --prefix="$prefix" --disable-shared --enable-static --enable-minimal \
        --disable-dependency-tracking CC=$host-gcc-posix CFLAGS="-O2" >/dev/null) || return 1
    make -C "$build" -j"$jobs" >/dev/null || return 1
    make -C "$build" install >/dev/null || return 1
    # A static library: its users must not declare its functions as imported from a DLL.
    sed -i 's/^Cflags: \(.*\)$/Cflags: \1 -DSODIUM_STATIC/' "$prefix/lib/pkgconfig/libsodium.pc"
}
