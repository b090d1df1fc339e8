#!/usr/bin/env bash
# Fails, listing every file that clang-format (with the repository's
# .clang-format) would change, over src/ tools/ tests/ bench/ fuzz/.
# Exit 77 (skipped) when clang-format is absent.
set -u
root="$(cd "$(dirname "$0")/.." && pwd)"
format=${CLANG_FORMAT:-clang-format}
command -v "$format" >/dev/null || { echo "format: $format not found, skipped"; exit 77; }
cd "$root" || exit 1
bad=0
while IFS= read -r file; do
    if ! "$format" --dry-run --Werror "$file" >/dev/null 2>&1; then
        echo "$file: not formatted ($format -i $file)"
        bad=1
    fi
done < <(git ls-files 'src/*.cpp' 'src/*.h' 'tools/*.cpp' 'tools/*.h' 'tests/*.cpp' 'tests/*.h' \
    'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h')
[ $bad = 0 ] && echo "format: every file is formatted"
exit $bad
