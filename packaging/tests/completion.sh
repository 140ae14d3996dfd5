#!/usr/bin/env bash
# Feeds command lines to the bash completion of qrxclwin, qrx and qrxsim, as bash would when Tab
# is pressed at the end of the line, and checks the words offered. The words for the programs'
# values are also given to the built programs, so completion and programs cannot drift apart.
# Usage: completion.sh BIN_DIR   (the folder with the built qrxclwin, qrxsim and driver module)
# shellcheck source-path=SCRIPTDIR
set -uo pipefail
bin=$(cd "${1:?usage: completion.sh BIN_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)

# Everything the programs and the completion read or write lives in a folder of our own.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export HOME=$tmp/home XDG_CONFIG_HOME=$tmp/config XDG_STATE_HOME=$tmp/state
export QRX_SIM_STATE=$tmp/sim QRX_DRIVER=simulated PATH=$bin:$PATH
mkdir -p "$HOME" "$XDG_CONFIG_HOME/quorix"

# shellcheck source=../completion/quorix.bash
source "$here/../completion/quorix.bash"

failures=0 checks=0
check() { # NAME ACTUAL EXPECTED
    checks=$((checks + 1))
    if [[ $2 != "$3" ]]; then
        failures=$((failures + 1))
        printf 'FAIL %s\n  got:      %s\n  expected: %s\n' "$1" "$2" "$3"
    fi
}

# The words offered for LINE (the cursor at its end), sorted, on one line. LINE splits as
# bash splits it for a completion function: at blanks outside quotes, and "=" is a word.
complete_line() {
    local line=$1 words=('') quote='' c i
    for ((i = 0; i < ${#line}; i++)); do
        c=${line:i:1}
        if [[ -z $quote && $c == ' ' ]]; then
            [[ -n ${words[-1]} ]] && words+=('')
            continue
        fi
        if [[ -z $quote && ($c == = || ${words[-1]} == =) ]]; then
            [[ -n ${words[-1]} ]] && words+=('')
        fi
        if [[ $c == "$quote" ]]; then
            quote=''
        elif [[ -z $quote && ($c == '"' || $c == "'") ]]; then
            quote=$c
        fi
        words[-1]+=$c
    done
    local COMP_WORDS=("${words[@]}") COMP_CWORD=$((${#words[@]} - 1))
    local COMP_LINE=$line COMP_POINT=${#line}
    local spec function
    spec=$(complete -p "${words[0]}") || return
    function=${spec#*-F }
    function=${function%% *}
    COMPREPLY=()
    "$function" "${words[0]}" "${words[COMP_CWORD]}" "${words[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

cat >"$XDG_CONFIG_HOME/quorix/registry.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\SOFTWARE\Tamsvold\QRX]
"Version"="0.81"

[HKEY_CURRENT_USER\SOFTWARE\Tamsvold\QRX\Profiles\Fast]
"L1CacheEnabled"=dword:00000001

  [hkey_current_user\software\tamsvold\qrx\profiles\Fast and cool]  
"L1CacheEnabled"=dword:00000001

[HKEY_CURRENT_USER\SOFTWARE\Tamsvold\QRX\Profiles\FAST]

[HKEY_CURRENT_USER\SOFTWARE\Tamsvold\QRX\Profiles\Startup_Settings]

[HKEY_CURRENT_USER\SOFTWARE\Other\Profiles\Elsewhere]
EOF

mkdir "$tmp/files" && touch "$tmp/files/cpu" && cd "$tmp/files" || exit 1
"$bin/qrxsim" reset k6-3+ || exit 1
presets=$("$bin/qrxsim" presets | cut -d ' ' -f 1 | LC_ALL=C sort | paste -sd ' ')
[[ " $presets " == *" k6-2+ "* && " $presets " == *" amd-leaf0 "* ]] ||
    check "qrxsim presets lists the presets" "$presets" "k6-2+ ... amd-leaf0 ..."
sizes='128KB 128MB 16MB 1GB 1MB 256KB 256MB 2GB 2MB 32MB 4GB 4MB 512KB 512MB 64MB 8MB'
multipliers='2 2.0 3 3.0 3.5 4 4.0 4.5 5 5.0 5.5 6 6.0'
console_switches='/DEBUG /DP /L1 /L2 /M /MTRR0 /MTRR1 /WA /WO'

# Each row: the command line, then the words expected (sorted as by "LC_ALL=C sort").
rows=(
    "qrxclwin /MTRR0 E0000000 |$sizes"
    "qrxclwin /mtrr1 e0000000 5|512KB 512MB"
    "qrxclwin /mtrr1 e0000000 512m|512mb"
    "qrxclwin /MTRR1 0 4gb |N U W"
    "qrxclwin /MTRR1 0 4gb w|w"
    "qrxclwin /MTRR0 |"
    "qrxsim reset |$(LC_ALL=C sort <<<"${presets// /$'\n'}"$'\n'custom | paste -sd ' ')"
    "qrxsim reset k6-2|k6-2 k6-2+ k6-2-cxt"
    "qrxsim reset custom |AuthenticAMD GenuineIntel"
    "qrxsim reset custom AuthenticAMD 5 8 9 1 |0 1"
    "qrx /L |Fast Fast\\ and\\ cool Startup_Settings"
    "qrx /l fast|Fast Fast\\ and\\ cool"
    "qrx /L \"fast a|\"Fast and cool\""
    "qrx /L 'S|'Startup_Settings'"
    "qrxclwin /M |$multipliers"
    "qrxclwin |/DEBUG /DP /L1 /L2 /M /MTRR0 /MTRR1 /SUGGEST /WA /WO"
    "qrxclwin /s|/suggest"
    "qrxclwin /L1 1 /S|"
    "qrx |/DEBUG /DP /L /L1 /L2 /M /MTRR0 /MTRR1 /Q /WA /WO"
    "qrxclwin /l|/l1 /l2"
    "qrx /l|/l /l1 /l2"
    "qrx /Q /De|/Debug"
    "qrxclwin /WA |"
    "qrxclwin /WA 64 |0 1"
    "qrxclwin /WO |0 1 2"
    "qrxclwin /L1 /M |$console_switches"
    "qrxclwin /L1 1 /DP |0 1"
    "qrxsim |fail get help log memory presets reset set show"
    "qrxsim memory 64 |hole window"
    "qrxsim memory 64 hole window E0000000 |128KB 128MB 16MB 1GB 1MB 256KB 256MB 2MB 32MB 4MB 512KB 512MB 64KB 64MB 8MB"
    "qrxsim --state $tmp/x get |C0000080 C0000082 C0000085 C0000086 C0000087 CR0 EFER EPMR PORT PSOR UWCCR WHCR"
    "qrxsim set e|efer epmr"
    "qrxsim fail 2 5 |1 3 4 6"
    "qrxsim log |clear"
    "qrxsim --state $tmp/files/c|$tmp/files/cpu"
    "qrxsim --state=|cpu"
    "qrxsim --state=$tmp/files/c|$tmp/files/cpu"
    "qrxsim --state=$tmp/files/cpu get P|PORT PSOR"
    "qrxsim show |"
)
for row in "${rows[@]}"; do
    check "${row%%|*}" "$(complete_line "${row%%|*}")" "${row#*|}"
done

# Something other than a file in the registry file's place offers nothing, and never blocks.
rm "$XDG_CONFIG_HOME/quorix/registry.reg"
mkfifo "$XDG_CONFIG_HOME/quorix/registry.reg"
check "qrx /L with a FIFO as the registry" "$(timeout 5 bash -c "source '$here/../completion/quorix.bash'; _quorix_profiles")" ""

# Every value offered is one the programs accept, in either case.
settings="/DEBUG"
for size in $(complete_line "qrxclwin /MTRR0 0 "); do settings+=" /MTRR0 0 $size N"; done
for type in $(complete_line "qrxclwin /MTRR1 0 4GB "); do settings+=" /MTRR1 0 4GB $type"; done
for value in $(complete_line "qrxclwin /M "); do settings+=" /M $value"; done
for value in $(complete_line "qrxclwin /WA 4 "); do settings+=" /WA 4 $value"; done
for value in $(complete_line "qrxclwin /WO "); do settings+=" /WO $value"; done
for switch in /L1 /L2 /DP; do
    for value in $(complete_line "qrxclwin $switch "); do settings+=" $switch $value"; done
done
for line in "$settings" "${settings,,}"; do
    # shellcheck disable=SC2086 # one parameter per word
    output=$("$bin/qrxclwin" $line 2>&1)
    check "qrxclwin accepts $line" "$?$(grep -c 'Error' <<<"$output")" "00"
done
for register in $(complete_line "qrxsim get "); do
    "$bin/qrxsim" get "$register" >/dev/null
    check "qrxsim get $register" "$?" 0
done
accepted=$(for code in 0 1 2 3 4 5 6 7 8; do
    "$bin/qrxsim" fail "$code" 2>/dev/null && echo "$code"
done | paste -sd ' ')
check "qrxsim fail: the codes offered are those accepted" "$(complete_line "qrxsim fail ")" "$accepted"

echo "$((checks - failures)) passed, $failures failed"
[[ $failures -eq 0 ]]
