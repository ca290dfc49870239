#!/usr/bin/env bash
# Usage: completion.sh COMPLETION_FILE [QUEUE]
# Completes command lines with the nvlogo-cli completion, as bash-completion would; with QUEUE,
# also a print queue's name, from the nvlogo-cli on PATH and the print server of CUPS_SERVER.
set -uo pipefail
source /usr/share/bash-completion/bash_completion || exit 1
source "$1" || exit 1

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder" && touch logo.bmp coupon.GIF notes.txt && mkdir pictures

failed=0
expect() { # expected words (sorted, space-separated), then the command line's words
    local expected=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _nvlogo_cli
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    if [[ "$got" != "$expected" ]]; then
        echo "'$*': expected '$expected', got '$got'"
        failed=1
    fi
}

expect "double double-height double-width" nvlogo-cli print 1 --mode d
expect "--center --dither --fit --help --invert --nv-capacity --output --paper --rotate --threshold --trim --version" nvlogo-cli stream --
# Pictures and folders, not other files.
expect "coupon.GIF logo.bmp pictures" nvlogo-cli download --ip 10.0.0.50 ""
expect "--help --json --version --write-targets" nvlogo-cli printers --
if [[ -n "${2:-}" ]]; then
    expect "$2" nvlogo-cli status --port DRIVER --printer "${2%?}"
fi
exit $failed
