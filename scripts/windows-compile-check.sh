#!/usr/bin/env bash
# Compiles every source for 64-bit Windows with MinGW-w64, syntax only, so the Windows branches
# (tool processes, atomic writes, tool lookup, memory, the console) are at least compiled on Linux.
# This is a compile check, not a Windows build: Qt for Windows is not packaged on Debian, so the
# sources are checked against the installed Linux Qt headers (their platform parts follow _WIN32).
#
#   scripts/windows-compile-check.sh [BUILD_DIR [QT_INCLUDE_DIR]]
#
# BUILD_DIR (default build/) holds the generated ui_*.h files; QT_INCLUDE_DIR defaults to
# Debian's /usr/include/x86_64-linux-gnu/qt5. Exit status 0 all compiled, 1 errors, 77 no compiler.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
qt=${2:-/usr/include/x86_64-linux-gnu/qt5}
compiler=${VELUMEN_MINGW_CXX:-x86_64-w64-mingw32-g++-posix}

if ! command -v "$compiler" >/dev/null 2>&1; then
    echo "$compiler is not installed (Debian: apt-get install g++-mingw-w64-x86-64-posix); skipped" >&2
    exit 77
fi
if [ ! -f "$qt/QtCore/qglobal.h" ]; then
    echo "no Qt headers in $qt" >&2
    exit 1
fi

# What a Qt build for Windows defines (qmake's win32-g++ adds UNICODE), and what CMake defines.
flags=(-std=c++17 -fsyntax-only -Wall -Wextra -Wno-attributes
    -DUNICODE -D_UNICODE -DQT_CORE_LIB -DQT_GUI_LIB -DQT_WIDGETS_LIB -DQT_NO_DEBUG
    '-DVELUMEN_VERSION="0"'
    -isystem "$qt" -isystem "$qt/QtCore" -isystem "$qt/QtGui" -isystem "$qt/QtWidgets")
for folder in engine texts widgets app cli bench; do
    flags+=(-I"$root/$folder")
done
# Generated forms and meta-object files, from the build folder.
generated=0
while IFS= read -r include; do
    flags+=(-I"$include")
    generated=$((generated + 1))
done < <(find "$build" -type d -path '*_autogen/include' 2>/dev/null)
if [ "$generated" -eq 0 ]; then
    echo "no generated files in $build: build the project first" >&2
    exit 1
fi

# The libraries' own headers (Exiv2, libjpeg) are platform-neutral; they are taken from the Linux
# install through a folder of their own, since the rest of /usr/include would shadow MinGW's.
libraries=$(mktemp -d)
trap 'rm -rf "$libraries"' EXIT
[ -d /usr/include/exiv2 ] && ln -s /usr/include/exiv2 "$libraries/exiv2"
for header in jpeglib.h jmorecfg.h jerror.h x86_64-linux-gnu/jconfig.h; do
    [ -f "/usr/include/$header" ] && ln -s "/usr/include/$header" "$libraries/"
done
# Exiv2's Linux configuration names POSIX regex.h, which MinGW lacks; its Windows build does not.
printf 'typedef struct { int unused; } regex_t;\n' >"$libraries/regex.h"
flags+=(-isystem "$libraries")

failed=0
checked=0
# The tests are left out: they drive POSIX stand-in tools and signals, and run on Linux only.
for source in "$root"/{engine,texts,widgets,app,cli,bench}/*.cpp; do
    if ! "$compiler" "${flags[@]}" "$source"; then
        echo "FAILED: ${source#$root/}" >&2
        failed=$((failed + 1))
    fi
    checked=$((checked + 1))
done
echo "$checked sources compiled for Windows, $failed with errors"
[ "$failed" -eq 0 ]
