#!/bin/bash
# Checks the bash completion of tolv: completes command lines as bash would
# (words split at spaces and at "=") and compares the candidates.
# Usage: completion_test.sh COMPLETION_FILE
# Exit status 77 (skipped) without the bash-completion package.
set -u
completion_file=$1
helpers=/usr/share/bash-completion/bash_completion
if [[ ! -r $helpers ]]; then
    echo "SKIP: bash-completion is not installed"
    exit 77
fi
# shellcheck source=/dev/null
source "$helpers"
# shellcheck source=/dev/null
source "$completion_file"
# Outside a real completion compopt has nothing to set.
compopt() { :; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/files"
cd "$work/files" || exit 1
mkdir backup
touch settings.std lone.tfd

# A stand-in for tolv whose "ports" answers as on a machine with a receiver.
cat > ../fake-tolv <<'PORTS'
#!/bin/sh
[ "$1" = ports ] && printf 'USB  (receiver found)\n/dev/ttyS0\n/dev/ttyUSB0\n'
PORTS
chmod +x ../fake-tolv

failures=0

# complete LINE EXPECTED...: the sorted candidates for the end of LINE.
complete_line() {
    local line=$1 word
    shift
    COMP_LINE=$line
    COMP_POINT=${#line}
    COMP_WORDS=()
    for word in $line; do
        # readline makes "=" a word of its own
        while [[ $word == *=* ]]; do
            [[ ${word%%=*} ]] && COMP_WORDS+=("${word%%=*}")
            COMP_WORDS+=("=")
            word=${word#*=}
        done
        [[ $word ]] && COMP_WORDS+=("$word")
    done
    [[ $line == *" " || $line == *= ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _tolv ../fake-tolv "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    local got expected
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')
    expected=$(printf '%s\n' "$@" | sort | tr '\n' ' ')
    if [[ $got != "$expected" ]]; then
        echo "FAIL: \"$line\": expected [$expected], got [$got]"
        failures=$((failures + 1))
    fi
}

complete_line "tolv " info verify diff convert models ports download upload backup restore reboot --help --version
complete_line "tolv d" diff download
complete_line "tolv diff --" --json --help
complete_line "tolv diff settings.std b" backup background= block=
complete_line "tolv models -" --json --help
complete_line "tolv verify --" --json --help
complete_line "tolv --v" --version
complete_line "tolv up" upload
complete_line "tolv upload --f" --flash-to-defaults --force-model
complete_line "tolv upload --t" --timeout
complete_line "tolv upload --y" --yes
complete_line "tolv download -" --port --only --timeout --reboot --no-reboot --log --force -o --help
complete_line "tolv convert --f" --force --flash-to-defaults
complete_line "tolv backup -" --port --timeout --reboot --no-reboot --log --help
complete_line "tolv backup ba" backup
complete_line "tolv restore --d" --dry-run
complete_line "tolv restore --v" --verify
complete_line "tolv restore --no-v" --no-verify
complete_line "tolv upload --no-v" --no-verify
complete_line "tolv restore back" backup background=
complete_line "tolv restore --only settings,e" settings,eeprom
complete_line "tolv reboot --" --port --timeout --help
complete_line "tolv info --" --json --help
complete_line "tolv upload --port " USB /dev/ttyS0 /dev/ttyUSB0
complete_line "tolv reboot --port /dev/ttyU" /dev/ttyUSB0
complete_line "tolv download --only settings,e" settings,eeprom
complete_line "tolv download --only b"
complete_line "tolv upload --only b" background
complete_line "tolv convert --remove d" defaults
complete_line "tolv convert lo" loader= lone.tfd
complete_line "tolv convert bl" block=
complete_line "tolv convert loader=se" settings.std
complete_line "tolv convert settings.std -o bl" blocks=
complete_line "tolv convert settings.std -o b" backup blocks= background=
complete_line "tolv download --port USB -o back" backup
complete_line "tolv download --port USB -o f" flash= firmware=
complete_line "tolv verify s" settings.std

if [[ $failures -ne 0 ]]; then
    echo "$failures completion checks failed"
    exit 1
fi
echo "completion checks passed"
