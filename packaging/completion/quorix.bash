# bash completion for the Quorix programs: qrxclwin and qrx (processor settings as switches
# with their values, and for qrx the stored profiles) and qrxsim (the simulated processor).
# Installed once and linked under each program's name, so bash-completion loads it on demand.

# qrxclwin and qrx read switches and value words without regard to case. A completion keeps
# what was typed and goes on in the case of the last letter typed, upper case when none was.
# Sets COMPREPLY to the WORDs that start with CUR.
_quorix_words() { # CUR WORD...
    local cur=$1 word rest letters=${1//[^[:alpha:]]/}
    shift
    COMPREPLY=()
    for word; do
        [[ ${word^^} == "${cur^^}"* ]] || continue
        rest=${word:${#cur}}
        if [[ ${letters: -1} == [[:lower:]] ]]; then
            rest=${rest,,}
        else
            rest=${rest^^}
        fi
        COMPREPLY+=("$cur$rest")
    done
}

# The profile names stored in the registry file, one a line. A profile is the key
# HKEY_CURRENT_USER\SOFTWARE\Tamsvold\QRX\Profiles\NAME; key names compare without regard to
# case. Only a regular file is read: a FIFO or a device in its place must not hang the shell.
_quorix_profiles() {
    local base=${XDG_CONFIG_HOME:-} line name blank=$' \t'
    [[ $base == /* ]] || base=${HOME:-}/.config # a relative XDG_CONFIG_HOME does not count
    local file=$base/quorix/registry.reg
    [[ -f $file && -r $file ]] || return 0
    local -A seen=()
    while IFS= read -r line; do
        line=${line#*[Pp][Rr][Oo][Ff][Ii][Ll][Ee][Ss]\\}
        line=${line%$'\r'}
        line=${line%"${line##*[!"$blank"]}"} # trailing blanks
        line=${line%]}
        name=${line%%\\*} # a deeper key still names its profile
        [[ -n $name && -z ${seen[${name^^}]:-} ]] || continue
        seen[${name^^}]=1
        printf '%s\n' "$name"
    done < <(LC_ALL=C grep -a -i -e '^[[:space:]]*\[HKEY_CURRENT_USER\\SOFTWARE\\Tamsvold\\QRX\\Profiles\\[^\\]' -- "$file" 2>/dev/null)
}

# Profile names as the shell must see them: the word typed so far may open a quote, and a name
# may hold blanks or quotes. Names are matched without regard to case, as qrx looks them up.
_quorix_profile_words() { # CUR
    local cur=$1 typed quote='' name
    case $cur in
    \"*) quote=\" typed=${cur:1} ;;
    \'*) quote=\' typed=${cur:1} ;;
    *) typed=${cur//\\/} ;;
    esac
    COMPREPLY=()
    while IFS= read -r name; do
        [[ ${name^^} == "${typed^^}"* ]] || continue
        case $quote in
        \") name=${name//\\/\\\\} name=${name//\"/\\\"} name=${name//\$/\\\$} name=${name//\`/\\\`}
            COMPREPLY+=("\"$name\"") ;;
        \') COMPREPLY+=("'${name//\'/\'\\\'\'}'") ;;
        *) COMPREPLY+=("$(printf '%q' "$name")") ;;
        esac
    done < <(_quorix_profiles)
}

# qrxclwin and qrx. Each switch takes its values from the parameters after it, whatever they
# hold, as the programs read them; so the parameters before the cursor are walked the same way.
_quorix_settings() {
    local cur=${COMP_WORDS[COMP_CWORD]} program=${1##*/}
    local switches=(/WA /MTRR0 /MTRR1 /M /L1 /L2 /WO /DP /DEBUG)
    [[ $program == qrx ]] && switches+=(/L /Q)
    local i=1 count switch='' at=0
    while ((i < COMP_CWORD)); do
        case ${COMP_WORDS[i]^^} in
        /WA) count=2 ;;
        /MTRR0 | /MTRR1) count=3 ;;
        /M | /L1 | /L2 | /WO | /DP) count=1 ;;
        /L) [[ $program == qrx ]] && count=1 || count=0 ;;
        *) count=0 ;;
        esac
        if ((COMP_CWORD - i <= count)); then
            switch=${COMP_WORDS[i]^^} at=$((COMP_CWORD - i))
            break
        fi
        i=$((i + count + 1))
    done
    # /SUGGEST stands alone: offered only as qrxclwin's first and only parameter.
    [[ $program == qrxclwin && $COMP_CWORD == 1 ]] && switches+=(/SUGGEST)
    case $switch:$at in
    :0) _quorix_words "$cur" "${switches[@]}" ;;
    /WA:2 | /L1:1 | /L2:1 | /DP:1) _quorix_words "$cur" 0 1 ;;
    /WO:1) _quorix_words "$cur" 0 1 2 ;;
    /M:1) _quorix_words "$cur" 2 2.0 3 3.0 3.5 4 4.0 4.5 5 5.0 5.5 6 6.0 ;;
    /MTRR?:2) _quorix_words "$cur" 128KB 256KB 512KB 1MB 2MB 4MB 8MB 16MB 32MB 64MB 128MB \
        256MB 512MB 1GB 2GB 4GB ;;
    /MTRR?:3) _quorix_words "$cur" N U W ;;
    /L:1) _quorix_profile_words "$cur" ;;
    *) COMPREPLY=() ;; # a limit or a start address: any number
    esac
}
complete -F _quorix_settings qrxclwin qrx

# qrxsim: commands and preset names are exact (lower case); register names are not.
# The presets come from the program itself, so the two cannot disagree.
_qrxsim() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    local program=$1
    # shellcheck disable=SC2088 # the word as typed: bash has not expanded its tilde
    [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}
    # --state FILE, --state=FILE: bash splits the second at "=" by default, and right after
    # the "=" the word to complete is the empty one that follows it.
    if [[ $prev == --state || ($prev == = && ${COMP_WORDS[COMP_CWORD - 2]} == --state) ]]; then
        [[ $cur == = ]] && cur=''
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return
    fi
    local i args=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
        --state) [[ ${COMP_WORDS[i + 1]} == = ]] && ((i++)); ((i++)) ;;
        --state=*) ;;
        *) args+=("${COMP_WORDS[i]}") ;;
        esac
    done
    local words=()
    case ${args[0]:-}:${#args[@]} in
    :0)
        if [[ $cur == -* ]]; then
            words=(--state --help)
        else
            words=(reset presets show get set fail log memory help)
        fi ;;
    reset:1) mapfile -t words < <("$program" presets 2>/dev/null | cut -d ' ' -f 1)
        words+=(custom) ;;
    reset:2) [[ ${args[1]} == custom ]] &&
        mapfile -t words < <("$program" presets 2>/dev/null | cut -d ' ' -f 2 | sort -u) ;;
    reset:7) [[ ${args[1]} == custom ]] && words=(0 1) ;;
    get:1 | set:1)
        _quorix_words "$cur" EFER WHCR UWCCR EPMR PSOR CR0 PORT \
            C0000080 C0000082 C0000085 C0000086 C0000087
        return ;;
    fail:*)
        local code
        for code in 1 2 3 4 5 6; do
            [[ " ${args[*]:1} " == *" $code "* ]] || words+=("$code")
        done ;;
    log:1) words=(clear) ;;
    memory:1) words=(none) ;;
    memory:*)
        # After MB: hole once, then "window BASE SIZE" groups; a size takes the console's words.
        local rest=("${args[@]:2}")
        if [[ ${rest[0]:-} == hole ]]; then rest=("${rest[@]:1}"); fi
        case $((${#rest[@]} % 3)) in
        0) words=(window)
            [[ ${args[1]} != none && ${#args[@]} == 2 ]] && words+=(hole) ;;
        2) words=(64KB 128KB 256KB 512KB 1MB 2MB 4MB 8MB 16MB 32MB 64MB 128MB 256MB 512MB 1GB) ;;
        esac ;;
    esac
    mapfile -t COMPREPLY < <(compgen -W "${words[*]}" -- "$cur")
}
complete -F _qrxsim qrxsim
