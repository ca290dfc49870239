#!/usr/bin/env bash
# Usage: cli-manual.sh NVLOGO_CLI MANUAL
# The manual must list the same commands as `nvlogo-cli --help`, and for each command the same
# long options as `nvlogo-cli COMMAND --help`. Names are compared, not wording.
set -euo pipefail
cli=$1
manual=$2

# Long option names at the start of the help's option lines ("  -o, --output <file>  ...").
help_options() {
    "$cli" "$1" --help | sed -nE 's/^ +(-[^-, ]+, )*--([a-z][a-z-]*).*/\2/p' | sort -u
}

# The manual's roff, one line per entry, with escapes and fonts removed.
plain_manual() {
    sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$manual"
}

# Long options of the tagged paragraphs (.TP/.TQ) in one section; with a command, only in that
# command's subsection.
manual_options() {
    plain_manual | awk -v section="$1" -v command="${2:-}" '
        /^\.SH / { in_section = ($2 == section); in_command = (command == ""); next }
        /^\.SS / { in_command = (command == "" || $2 == command); next }
        /^\.(TP|TQ)/ { tag = 1; next }
        tag && in_section && in_command {
            while (match($0, /--[a-z][a-z-]*/)) {
                print substr($0, RSTART + 2, RLENGTH - 2)
                $0 = substr($0, RSTART + RLENGTH)
            }
        }
        { tag = 0 }' | sort -u
}

failed=0
compare() { # what, from-help, from-manual
    if [[ "$2" != "$3" ]]; then
        echo "nvlogo-cli $1: --help and the manual disagree (< help, > manual):"
        diff <(echo "$2") <(echo "$3") || true
        failed=1
    fi
}

help_commands=$("$cli" --help | awk '/^Commands:/ { on = 1; next } on && /^  [a-z]/ { print $1 } on && /^$/ { on = 0 }' | sort)
manual_commands=$(plain_manual | awk '/^\.SH / { on = ($2 == "COMMANDS") } on && /^\.SS / { print $2 }' | sort)
[[ -n "$help_commands" ]] || { echo "nvlogo-cli --help lists no commands"; exit 1; }
compare "commands" "$help_commands" "$manual_commands"

common=$(manual_options OPTIONS)
for command in $help_commands; do
    from_help=$(help_options "$command")
    [[ -n "$from_help" ]] || { echo "nvlogo-cli $command --help lists no options"; failed=1; }
    from_manual=$(printf '%s\n%s\n' "$(manual_options COMMANDS "$command")" "$common" | sed '/^$/d' | sort -u)
    compare "$command" "$from_help" "$from_manual"
done
exit $failed
