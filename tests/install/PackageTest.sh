#!/usr/bin/env bash
# The Debian package as a machine that never built the project takes it:
# cpack builds it (into a scratch folder, beside nothing of the build's own
# make package); its control fields (name, version, dependencies computed by
# dpkg-shlibdeps, none on the libraries it carries itself) and contents;
# then dpkg-deb -x into a scratch folder, and the unpacked kxsms runs from
# there: --version (the package's own module, its build stamp intact after
# stripping), a backup and restore, the packaged examples.
#
# Environment (set by tests/install/CMakeLists.txt): KXSMS_BUILD, CPACK,
# VERSION, LIBDIR, BINDIR, DOCDIR.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=TestSupport.sh
source "$here/TestSupport.sh"

for tool in dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "SKIP: no $tool (scripts/install-deps installs it)"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/kxsms-package.XXXXXX")
work=$(realpath "$work")
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

step "cpack -G DEB"
started=$EPOCHREALTIME
(cd "$KXSMS_BUILD" && "$CPACK" -G DEB -B "$work/cpack" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
debs=("$work"/cpack/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "cpack made no single .deb: ${debs[*]}"
deb=${debs[0]}
awk -v a="$started" -v b="$EPOCHREALTIME" -v f="$(basename "$deb")" -v s="$(stat -c %s "$deb")" \
  'BEGIN { printf "%s: %d bytes in %.1f s\n", f, s, b - a }'

step "control fields"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = kxsms ] || fail "package name $(field Package)"
[ "$(field Version)" = "$VERSION" ] || fail "version $(field Version), not $VERSION"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture $(field Architecture)"
depends=$(field Depends)
echo "Depends: $depends"
grep -q 'libc6 (>=' <<<"$depends" || fail "no computed dependency on libc6"
grep -q 'libsodium' <<<"$depends" || fail "no computed dependency on libsodium (the support library uses it)"
if grep -Eq 'libsmdr|libsmsut|libKXSMS|libKxLib|kxsms' <<<"$depends"; then
  fail "the package depends on a library it carries"
fi
[ -n "$(field Maintainer)" ] && [ -n "$(field Description)" ] || fail "no maintainer or description"

step "contents"
dpkg-deb -c "$deb" | awk '{ print $NF }' >"$work/contents"
for path in "usr/$BINDIR/kxsms" "usr/$LIBDIR/kxsms/libKXSMS.so" "usr/$LIBDIR/kxsms/libsmdr.so.0" \
            "usr/$LIBDIR/kxsms/libsmsut.so.0" "usr/$LIBDIR/kxsms/libKxLib.so" "usr/include/kxsms/KXSMS.h" \
            "usr/$LIBDIR/pkgconfig/kxsms.pc" "usr/$DOCDIR/README.md" "usr/$DOCDIR/examples/smsemu.toml"; do
  grep -qx "./$path" "$work/contents" || fail "the package lacks /$path"
done
if grep -Eq "^\./usr/($LIBDIR|lib)/[^/]+\.so" "$work/contents"; then
  fail "the package puts a library where the machine's loader searches"
fi

step "dpkg-deb -x into $work/root"
dpkg-deb -x "$deb" "$work/root"
kxsms=$work/root/usr/$BINDIR/kxsms
version=$(env -u KXSMS_LIBRARY "$kxsms" --version) || fail "the unpacked kxsms --version failed: $version"
echo "$version"
grep -q "^kxsms $VERSION\$" <<<"$version" || fail "kxsms does not report $VERSION"
grep -q "^module $work/root/usr/$LIBDIR/kxsms/libKXSMS.so $VERSION\.[0-9]* [0-9/]* [0-9:]*\$" <<<"$version" ||
  fail "the unpacked kxsms did not load the package's module, or its build stamp is gone"

step "backup and restore with the unpacked kxsms"
round_trip "$kxsms" "$work"
examples "$kxsms" "$work/root/usr/$DOCDIR" "$work"
echo "package: all checks passed"
