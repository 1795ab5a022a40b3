#!/usr/bin/env bash
# Size of the test code against the product code: non-blank C++ lines that are not only a //
# comment, in tracked *.cpp and *.h files; tests/ and fuzz/ against everything else.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
    if [ $# -eq 0 ]; then echo 0; return; fi
    cat -- "$@" | grep -Ev '^[[:space:]]*(//.*)?$' | wc -l
}

mapfile -t all < <(git ls-files '*.cpp' '*.h')
tests=() product=()
for f in "${all[@]}"; do
    [ -f "$f" ] || continue
    case "$f" in
        tests/* | fuzz/*) tests+=("$f") ;;
        *) product+=("$f") ;;
    esac
done
t=$(count "${tests[@]}")
p=$(count "${product[@]}")
awk -v t="$t" -v p="$p" 'BEGIN { printf "test code %d lines, product code %d lines, ratio %.2f\n", t, p, t / p }'
