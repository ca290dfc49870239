#!/usr/bin/env bash
# Usage: printer-manual.sh NVLOGO_PRINTER MANUAL
# The manual's OPTIONS must name the same long options as `nvlogo-printer --help`.
set -euo pipefail
printer=$1
manual=$2

from_help=$("$printer" --help | sed -nE 's/^ +(-[^-, ]+, )*--([a-z][a-z-]*).*/\2/p' | sort -u)
from_manual=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$manual" | awk '
    /^\.SH / { in_options = ($2 == "OPTIONS"); next }
    /^\.(TP|TQ)/ { tag = 1; next }
    tag && in_options {
        while (match($0, /--[a-z][a-z-]*/)) {
            print substr($0, RSTART + 2, RLENGTH - 2)
            $0 = substr($0, RSTART + RLENGTH)
        }
    }
    { tag = 0 }' | sort -u)
if [[ "$from_help" != "$from_manual" ]]; then
    echo "nvlogo-printer: --help and the manual disagree (< help, > manual):"
    diff <(echo "$from_help") <(echo "$from_manual") || true
    exit 1
fi
echo "$(wc -l <<<"$from_help") options in both"
