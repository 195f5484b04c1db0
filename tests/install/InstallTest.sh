#!/usr/bin/env bash
# The install tree as its users take it: cmake --install into a scratch
# prefix; the layout (programs, the private library folder, headers,
# pkg-config file, documents); relative run paths only, and every library of
# ours resolved inside the private folder; a small host built with nothing but
# pkg-config and run; the installed kxsms: --version, a backup and restore,
# the installed examples; and an install under DESTDIR that works where it
# lies.
#
# Environment (set by tests/install/CMakeLists.txt): KXSMS_BUILD, CMAKE,
# CC, CXX, HOST_FLAGS (a sanitizer build's flags), PKG_CONFIG, SOURCE_DIR,
# BINDIR, LIBDIR, INCLUDEDIR, DOCDIR, MANDIR, DATAROOTDIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=TestSupport.sh
source "$here/TestSupport.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/kxsms-install.XXXXXX")
work=$(realpath "$work")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

prefix=$work/prefix
private=$prefix/$LIBDIR/kxsms
kxsms=$prefix/$BINDIR/kxsms

step "cmake --install into $prefix"
"$CMAKE" --install "$KXSMS_BUILD" --prefix "$prefix" >"$work/install.log"

step "layout"
[ -x "$kxsms" ] || fail "no program $kxsms"
for lib in libKXSMS.so libsmdr.so.0 libsmsut.so.0 libKxLib.so; do
  expect_file "$private/$lib"
done
for header in KXSMS.h KxLib.h SMSAPI.h KXSMSErr.h NetWarePath.h; do
  expect_file "$prefix/$INCLUDEDIR/kxsms/$header"
done
expect_file "$prefix/$LIBDIR/pkgconfig/kxsms.pc"
for doc in README.md tools/kxsms/README.md smsemu/README.md examples/README.md examples/smsemu.toml; do
  expect_file "$prefix/$DOCDIR/$doc"
done
if [ -f "$SOURCE_DIR/docs/kxsms.1" ]; then
  expect_file "$prefix/$MANDIR/man1/kxsms.1"
fi
# Nothing of ours where the machine's loader would find it.
for folder in "$prefix/$LIBDIR" "$prefix/lib"; do
  found=$(shared_objects_in "$folder")
  [ -z "$found" ] || fail "shared objects outside the private folder, in $folder: $found"
done
echo "programs, private libraries, headers, kxsms.pc and documents in place"

step "run paths"
for file in "$kxsms" "$private"/*.so*; do
  path=$(run_path "$file")
  case "$path" in
    *"$KXSMS_BUILD"*) fail "$file keeps the build tree in its run path: $path" ;;
    "" | '$ORIGIN'*) ;;
    *) fail "$file has a run path that is not relative to itself: $path" ;;
  esac
done
[ "$(run_path "$kxsms")" = "\$ORIGIN/$(realpath -m --relative-to="$prefix/$BINDIR" "$private")" ] ||
  fail "kxsms's run path $(run_path "$kxsms") does not lead to the private folder"
[ "$(resolved "$kxsms" libKxLib.so)" = "$private/libKxLib.so" ] || fail "kxsms does not find libKxLib.so in $private"
for lib in libsmdr.so.0 libsmsut.so.0 libKxLib.so; do
  [ "$(resolved "$private/libKXSMS.so" "$lib")" = "$private/$lib" ] ||
    fail "the module finds $lib at '$(resolved "$private/libKXSMS.so" "$lib")', not in $private"
done
echo "relative run paths; the module and kxsms resolve every library of ours in $private"

step "kxsms --version"
version=$("$kxsms" --version) || fail "kxsms --version failed: $version"
echo "$version"
grep -q "^module $private/libKXSMS.so [0-9]" <<<"$version" || fail "kxsms did not load the installed module"

step "a host built with pkg-config"
export PKG_CONFIG_PATH=$prefix/$LIBDIR/pkgconfig
cflags=$("$PKG_CONFIG" --cflags kxsms)
libs=$("$PKG_CONFIG" --libs kxsms)
echo "pkg-config --cflags --libs kxsms: $cflags $libs"
mkdir -p "$work/host" "$work/listed"
read -ra host_flags <<<"${HOST_FLAGS:-}"
# shellcheck disable=SC2086 # pkg-config output is a list of words
"$CC" "${host_flags[@]}" -std=c11 -Wall -Wextra -Werror -c "$here/host/PathFromC.c" $cflags -o "$work/host/PathFromC.o"
# shellcheck disable=SC2086
"$CXX" "${host_flags[@]}" -Wall -Wextra -Werror "$here/host/Host.cpp" "$work/host/PathFromC.o" $cflags $libs \
  -o "$work/host/host"
[ "$(resolved "$work/host/host" libKXSMS.so)" = "$private/libKXSMS.so" ] ||
  fail "the host does not find the installed module"
printf 'x\n' >"$work/listed/file.txt"
env -u SMSEMU_CONFIG -u SMSEMU_FAULTS KXLIB_LOG="$work/host.log" "$work/host/host" "$work/listed" file.txt ||
  fail "the host failed (module log: $(tail -n 3 "$work/host.log" 2>/dev/null))"

step "backup and restore with the installed kxsms"
round_trip "$kxsms" "$work"
examples "$kxsms" "$prefix/$DOCDIR" "$work"

step "DESTDIR: staged under $work/stage, run where it lies"
DESTDIR=$work/stage "$CMAKE" --install "$KXSMS_BUILD" --prefix /opt/kxsms >"$work/stage.log"
staged=$work/stage/opt/kxsms
[ -x "$staged/$BINDIR/kxsms" ] || fail "DESTDIR not honoured: no $staged/$BINDIR/kxsms"
grep -q "^module $staged/$LIBDIR/kxsms/libKXSMS.so [0-9]" <<<"$("$staged/$BINDIR/kxsms" --version)" ||
  fail "the staged kxsms did not load its own module"
[ "$(PKG_CONFIG_PATH=$staged/$LIBDIR/pkgconfig "$PKG_CONFIG" --variable=libdir kxsms | xargs realpath)" = \
  "$staged/$LIBDIR" ] || fail "kxsms.pc of the staged tree does not name its own folder"
echo "the staged tree runs in place; its kxsms.pc names the staged folders"
echo "install tree: all checks passed"
