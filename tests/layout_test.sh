#!/usr/bin/env bash
# The source folders are layers (docs/architecture.md): fails, naming each
# offending line, when a file includes from a layer above its own, or across
# one of the ties that once ran back up: effects/ to demo/ (the effect base
# lives in effects/), media/ to render/ (the keyboard takes key events, not
# the window), assets/ to render/ (decoders hand out plain data; GL uploads
# and the meshes built for drawing live in render/).
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
check media 'render|special|effects|demo|app'
check assets 'render|special|effects|demo|app'
check render 'media|special|effects|demo|app'
check special 'effects|demo|app'
check effects 'demo|app'
check demo 'app'
[ $bad = 0 ] && echo "layout: every include points down"
exit $bad
