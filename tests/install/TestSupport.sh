# Shared by InstallTest.sh and PackageTest.sh (sourced): checks, and a small
# backup and restore with a kxsms taken from an install tree.

fail() {
  echo "FAIL: $*" >&2
  exit 1
}
step() { printf '== %s\n' "$*"; }

expect_file() {
  [ -f "$1" ] || fail "missing $1"
}

# Every file name below $1 that a test may not find (nothing of ours beside
# the private folder): the shared objects directly in the library folder.
shared_objects_in() {
  find "$1" -maxdepth 1 -name '*.so*' -printf '%f\n' 2>/dev/null | sort
}

# The RUNPATH (or RPATH) of an ELF file; empty when it has none.
run_path() {
  readelf -d "$1" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*\[\(.*\)\]/\2/p'
}

# Where the loader finds library $2 for file $1 (ldd), as a real path; empty
# when it does not.
resolved() {
  local path
  path=$(ldd "$1" | awk -v lib="$2" '$1 == lib { print $3; exit }')
  [ -e "$path" ] && realpath "$path"
  return 0
}

# A small tree: nested folders, a name with a space, an empty file, a file of
# several 64 KiB blocks, a symbolic link, a read-only file.
make_tree() {
  local root=$1
  mkdir -p "$root/docs/notes" "$root/empty folder"
  printf 'hello\n' >"$root/docs/readme.txt"
  printf 'plans\n' >"$root/docs/notes/plans 2025.txt"
  : >"$root/docs/empty"
  head -c 300000 /dev/urandom >"$root/blocks.bin"
  ln -s docs/readme.txt "$root/link"
  printf 'fixed\n' >"$root/read-only.txt"
  chmod 0444 "$root/read-only.txt"
  touch -d '2024-05-06 07:08:09' "$root/docs/readme.txt"
}

# One line per entry below $1: name, kind, mode, size (not for folders),
# modification time in whole seconds, link target.
describe_tree() {
  (
    cd "$1"
    find . -mindepth 1 -type d -printf '%P\t%y %m - %T@\n'
    find . ! -type d -printf '%P\t%y %m %s %T@ %l\n'
  ) | sed -E 's/^([^\t]*\t[^ ]+ [^ ]+ [^ ]+ [0-9]+)\.[0-9]+/\1/' | LC_ALL=C sort
}

# round_trip KXSMS WORK: back up a tree made in WORK with the stand-in's
# default configuration (this machine's files, logged in as the current
# user), verify the archive, restore it below another folder and compare.
round_trip() {
  local kxsms=$1 work=$2
  local source=$work/source archive=$work/tree.kxa restored=$work/restored
  make_tree "$source"
  # Folder times are taken once their contents are written.
  touch -d '2023-01-02 03:04:05' "$source/docs/notes"
  env -u SMSEMU_CONFIG -u SMSEMU_FAULTS -u SMSEMU_TRACE -u KXSMS_LIBRARY KXSMS_PASSWORD= \
    "$kxsms" backup "$source" -f "$archive" || fail "the backup with $kxsms failed"
  env -u SMSEMU_CONFIG KXSMS_PASSWORD= "$kxsms" verify -f "$archive" >/dev/null ||
    fail "the archive does not verify"
  env -u SMSEMU_CONFIG -u SMSEMU_FAULTS -u SMSEMU_TRACE -u KXSMS_LIBRARY KXSMS_PASSWORD= \
    "$kxsms" restore -f "$archive" --to "$restored" || fail "the restore with $kxsms failed"
  [ -d "$restored$source" ] || fail "nothing restored at $restored$source"
  diff <(describe_tree "$source") <(describe_tree "$restored$source") || fail "the restored tree differs"
  diff -r --no-dereference "$source" "$restored$source" || fail "the restored contents differ"
  echo "backup and restore of $(describe_tree "$source" | wc -l) entries: identical"
}

# examples KXSMS DOCDIR WORK: the sample configuration as installed, used from a
# copy (restores and deletions change it): every TSA lists its data.
examples() {
  local kxsms=$1 docdir=$2 work=$3
  expect_file "$docdir/examples/smsemu.toml"
  cp -r "$docdir/examples" "$work/examples"
  export SMSEMU_CONFIG=$work/examples/smsemu.toml KXSMS_PASSWORD=
  "$kxsms" ls / -r | grep -qx '/docs/readme.txt' || fail "the sample file-system resource does not list"
  "$kxsms" --tsa dir ls -r | grep -q 'O=Acme' || fail "the sample directory tree does not list"
  "$kxsms" --tsa gw ls 'DOM1:\' -r | grep -q 'ann.txt' || fail "the sample GroupWise domain does not list"
  unset SMSEMU_CONFIG KXSMS_PASSWORD
  echo "the installed examples list through every TSA"
}
