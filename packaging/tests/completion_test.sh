#!/usr/bin/env bash
# The completion scripts under bash-completion: commands, options of the
# command at hand, values of --format and --geometry.
#   completion_test.sh COMPLETIONS_DIR
set -u
dir="$1"
# shellcheck source=/dev/null
source /usr/share/bash-completion/bash_completion
source "$dir/quorbit-cli"
source "$dir/camsim"

failed=0
# complete FUNCTION WORDS... : the words the function offers for the last one.
complete_words() {
    local fn="$1"
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE="${COMP_WORDS[*]}"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    "$fn" "${COMP_WORDS[0]}" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}
expect() {
    local want="$1"
    shift
    local got
    got="$(complete_words "$@")"
    if [ "$got" != "$want" ]; then
        echo "completing '${*:2}': got '$got', want '$want'"
        failed=1
    fi
}

expect "get get-all " _quorbit_cli quorbit-cli ge
expect "--filename --force --format " _quorbit_cli quorbit-cli get-all out --f
expect "--no-scale " _quorbit_cli quorbit-cli put --no
expect "jpeg " _quorbit_cli quorbit-cli get 1 --format j
expect "128 16 " _quorbit_cli quorbit-cli format 1
expect "recover repair " _quorbit_cli quorbit-cli re
expect "restore " _quorbit_cli quorbit-cli recover res
expect "16Mb 16MbLe " _camsim camsim make-card card.img --geometry 16
expect "make-card " _camsim camsim ma
exit $failed
