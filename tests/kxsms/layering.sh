#!/bin/sh
# The host's layers as the build gives them: each library reaches the headers
# of the folders below it and not those above it, nor the module's own
# headers. Arguments: the compiler, then one "LAYER|DIR|DIR..." per library
# with the include folders the build gives it.
set -u
export LC_ALL=C
compiler=$1
shift
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
cd "$scratch" || exit 1
failures=0

# reaches FLAGS HEADER: whether a file with these include folders can
# include HEADER and what it includes in turn.
reaches() {
    printf '#include "%s"\n' "$2" >probe.cpp
    # shellcheck disable=SC2086
    "$compiler" -std=c++20 -E $1 probe.cpp -o /dev/null 2>/dev/null
}

# finds FLAGS HEADER: whether HEADER itself is found (what it includes may not be).
finds() {
    printf '#include "%s"\n' "$2" >probe.cpp
    # shellcheck disable=SC2086
    ! "$compiler" -std=c++20 -E $1 probe.cpp -o /dev/null 2>&1 | grep -q "^probe.cpp:1:.*$2: No such file"
}

for entry in "$@"; do
    layer=${entry%%|*}
    flags=$(printf '%s' "${entry#*|}" | tr '|' '\n' | sed -e '/^$/d' -e 's/^/-I/' | tr '\n' ' ')
    case $layer in
    io)       allowed="io/Streams.h io/Text.h"
              forbidden="archive/Format.h frame/Progress.h commands/Commands.h KXSMS.h" ;;
    archive)  allowed="io/Streams.h archive/Format.h archive/ArchiveReader.h"
              forbidden="frame/Progress.h commands/Commands.h KXSMS.h" ;;
    frame)    allowed="io/Text.h archive/Format.h frame/ModuleSession.h KXSMS.h"
              forbidden="commands/Commands.h Internal.h" ;;
    commands) allowed="io/Text.h archive/ArchiveReader.h frame/Progress.h commands/Commands.h KXSMS.h"
              forbidden="Internal.h" ;;
    *)        echo "unknown layer $layer"; exit 2 ;;
    esac
    for header in $allowed; do
        reaches "$flags" "$header" || { echo "$layer cannot include $header"; failures=$((failures + 1)); }
    done
    for header in $forbidden; do
        ! finds "$flags" "$header" || { echo "$layer can include $header, which its layer may not use"; failures=$((failures + 1)); }
    done
done
[ "$failures" -eq 0 ] && echo "every layer reaches what it may and nothing else"
exit "$failures"
