#!/usr/bin/env bash
# Builds the Debian package from a Release build, inspects it with dpkg-deb
# (name, files, dependencies, no path of the build machine inside), unpacks it
# into a temporary root with dpkg -x (no root rights needed) and starts the
# unpacked program on the simulated receiver it ships, on an X display, until
# its first trace is drawn.
# Usage: package_test.sh <source> <release build> <work folder> <system librtlsdr>
set -uo pipefail
src="$1" build="$2" work="$3" system_rtlsdr="$4"

fail() { echo "FAIL: $*"; exit 1; }
step() { echo "== $* ($(date +%T))"; }

# The build reuses a compiler cache when there is one; paths are made
# relative to the source so that clones in other folders share it.
if [ -z "${CMAKE_CXX_COMPILER_LAUNCHER:-}" ] && command -v ccache >/dev/null; then
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$src}" CCACHE_NOHASHDIR=1
fi
step "Release build in $build"
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DWG_TESTS=OFF -DWG_BENCH=OFF >/dev/null ||
    fail "configure"
fi
cmake --build "$build" -j"$(nproc)" >"$work.build.log" 2>&1 || { tail -30 "$work.build.log"; fail "build"; }

rm -rf "$work"
mkdir -p "$work"
step "cpack"
(cd "$build" && cpack -G DEB -B "$work/out") >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack"; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
arch="$(dpkg --print-architecture)"
deb="$work/out/wideglass_${version}_${arch}.deb"
[ -f "$deb" ] || { ls -l "$work/out"; fail "no $(basename "$deb")"; }
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

step "dpkg-deb"
dpkg-deb --field "$deb"
field() { dpkg-deb --field "$deb" "$1"; }
[ "$(field Package)" = wideglass ] || fail "package name '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "version '$(field Version)'"
[ "$(field Architecture)" = "$arch" ] || fail "architecture '$(field Architecture)'"
depends="$(field Depends)"
# Named by hand (loaded at run time) and found by shlibdeps (linked).
for d in librtlsdr0 fonts-liberation libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
  tr ',' '\n' <<<"$depends" | sed 's/^ *//; s/ (.*//' | grep -qxF "$d" || fail "Depends lacks $d: $depends"
done

listing="$(dpkg-deb --contents "$deb" | awk '{ $1=$2=$3=$4=$5=""; sub(/^ +/, ""); print }')"
echo "$listing" > "$work/contents.txt"
has() { grep -qxF -- "$1" <<<"$listing" || fail "the package lacks $1"; }
has "./usr/bin/wideglass -> ../lib/wideglass/wideglass"
has "./usr/bin/wideglass-demo"
has "./usr/lib/wideglass/wideglass"
has "./usr/lib/wideglass/plugins/librtlsdr.so -> $system_rtlsdr"
has "./usr/lib/wideglass/simulator/librtlsdr.so.0"
has "./usr/share/applications/wideglass.desktop"
has "./usr/share/icons/hicolor/scalable/apps/wideglass.svg"
for s in 16 22 24 32 48 64 128 256; do has "./usr/share/icons/hicolor/${s}x${s}/apps/wideglass.png"; done
has "./usr/share/man/man1/wideglass.1.gz"
has "./usr/share/man/man1/wideglass-demo.1.gz -> wideglass.1.gz"
has "./usr/share/doc/wideglass/copyright"
has "./usr/share/doc/wideglass/README.md"
# The simulator is never where the real library is looked for.
[ "$(grep -c '^\./usr/lib/wideglass/plugins/.' <<<"$listing")" = 1 ] || fail "more than the link in plugins/"

step "dpkg -x"
root="$work/root"
dpkg -x "$deb" "$root" || fail "dpkg -x"
dpkg-deb --control "$deb" "$work/control" || fail "dpkg-deb --control"
# Nothing may point back into the machine that built it.
for p in "$src" "$build" "$(realpath "$src")"; do
  found="$(grep -rlF -- "$p" "$root" "$work/control" 2>/dev/null)"
  [ -z "$found" ] || fail "the build path $p inside: $found"
  links="$(find "$root" -type l -lname "*$p*" -printf '%p -> %l\n')"
  [ -z "$links" ] || fail "a link into the build: $links"
done
zcat "$root/usr/share/man/man1/wideglass.1.gz" | groff -man -ww -z || fail "the manual page does not format"
said="$("$root/usr/bin/wideglass" --version)" || fail "--version"
[ "$(head -1 <<<"$said")" = "wideglass $version" ] || fail "--version: $said"
grep -q "GPLv3+" <<<"$said" || fail "--version does not name the licence: $said"
grep -qx "License: GPL-3+" "$root/usr/share/doc/wideglass/copyright" || fail "the copyright file names no licence"

# plugins/ leads to Debian's librtlsdr, which loads and, with no stick on
# this machine, finds no receiver (a missing library would be said instead).
env XDG_CONFIG_HOME="$work/config" timeout -k 5 30 "$root/usr/bin/wideglass" --record - -n 1 \
  >"$work/real.out" 2>"$work/real.err"
rc=$?
if [ "$rc" -ne 1 ] || ! grep -q "no receiver found" "$work/real.err"; then
  # A stick plugged into this machine is no fault of the package.
  grep -q . "$work/real.out" || { cat "$work/real.err"; fail "the installed program on Debian's librtlsdr: status $rc"; }
fi

step "the unpacked program on the simulated receiver, on an X display"
# The unpacked wideglass-demo finds its program and simulator beside itself.
# Settings go to the test's folder, never the user's.
env -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$work/config" WIDEGLASS_EXIT_AFTER_FIRST_TRACE=1 \
  timeout -k 10 120 xvfb-run -a -s "-screen 0 1280x800x24" "$root/usr/bin/wideglass-demo" -f 144M:146M \
  >"$work/run.out" 2>"$work/run.err"
rc=$?
cat "$work/run.out"
[ "$rc" -eq 0 ] || { cat "$work/run.err"; fail "wideglass-demo ended with status $rc"; }
grep -qx "wideglass: first trace drawn" "$work/run.out" || { cat "$work/run.err"; fail "no first trace"; }
echo "package test passed"
