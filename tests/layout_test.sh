#!/usr/bin/env bash
# The source folders are layers (docs/architecture.md): fails, naming each
# offending line, when a file includes from a layer above its own.
set -u
src="$(dirname "$0")/../src"
bad=0
check() { # folder, forbidden include pattern
    local hits
    hits=$(grep -rnE "#include \"($2)/" "$src/$1" 2>/dev/null) || return 0
    echo "$hits" | sed "s#^$src/#src/#;s#\$#   <- $1/ must not include $2/#"
    bad=1
}
check base 'assets|media|render|special|effects|demo|app'
for layer in assets media render special; do check "$layer" 'effects|demo|app'; done
hits=$(grep -rn '#include "demo/' "$src/effects" | grep -v '"demo/effect.h"') && {
    echo "$hits   <- effects/ may include only demo/effect.h"; bad=1; }
check demo 'app'
[ $bad = 0 ] && echo "layout: every include points down"
exit $bad
