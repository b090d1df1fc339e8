#!/usr/bin/env bash
# Writes the seed inputs of every fuzz target into fuzz/corpus/<target>/:
#   seed-*    small files made by the test builders (fuzz_seeds), committed;
#   shared-*  copies of ../shared/testdata when that folder is present (not
#             committed: those files come with their own licences). Files
#             over 64 KiB contribute their first 16 KiB only.
# Usage: fuzz/seed.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:?usage: fuzz/seed.sh BUILD_DIR}
corpus=fuzz/corpus

# Seeds already present are kept: some encoders (Ogg) never write the same
# bytes twice. Delete fuzz/corpus/*/seed-* to rewrite them all.
fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
"$build/fuzz/fuzz_seeds" "$fresh"
for dir in "$fresh"/*/; do
    target=$(basename "$dir")
    mkdir -p "$corpus/$target"
    cp -n "$dir"seed-* "$corpus/$target/"
done

shared=../shared/testdata
if [ ! -d "$shared" ]; then
    echo "seed.sh: $shared is absent; only the generated seeds are used"
    exit 0
fi
copy() { # target file
    local dest="$corpus/$1/shared-$(basename "$2")"
    if [ "$(stat -c %s "$2")" -le 65536 ]; then cp -f "$2" "$dest"; else head -c 16384 "$2" >"$dest"; fi
}
for f in "$shared"/3ds/*.3ds "$shared"/3ds/*.3DS; do [ -f "$f" ] && copy 3ds "$f"; done
for f in "$shared"/images/bmp/*.bmp; do copy bmp "$f"; done
for f in "$shared"/images/tga/*.tga; do copy tga "$f"; done
for f in "$shared"/images/jpeg/*.jpg "$shared"/3ds/*.jpg; do copy jpeg "$f"; done
for f in "$shared"/audio/*; do copy music "$f"; done
for f in "$shared"/music/*; do copy song "$f"; done
echo "seed.sh: seeds written under $corpus/"
