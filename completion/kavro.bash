# bash completion for kavro                                  -*- shell-script -*-
# Plain bash: needs no helper from the bash-completion package.

_kavro() {
    local cur=${COMP_WORDS[COMP_CWORD]} option=
    COMPREPLY=()

    if ((COMP_CWORD == 1)); then
        mapfile -t COMPREPLY < <(compgen -W \
            'addcode delcode lscodes vercode exportcodes importcodes --help --version' -- "$cur")
        return
    fi

    # With "=" among the word breaks, bash hands "--id=4" over as "--id" "=" "4", and "--id=" as
    # "--id" "=" with the cursor on the "=" itself. Without it, the value stays in the word.
    if [[ $cur == = ]]; then
        option=${COMP_WORDS[COMP_CWORD - 1]}
        cur=
    elif ((COMP_CWORD >= 3)) && [[ ${COMP_WORDS[COMP_CWORD - 1]} == = ]]; then
        option=${COMP_WORDS[COMP_CWORD - 2]}
    elif [[ $cur == --*=* ]]; then
        option=${cur%%=*}
    fi

    if [[ -n $option ]]; then
        # "-" reads the key from standard input, out of the process list and the history.
        if [[ $option == --key && ${COMP_WORDS[1]} == @(addcode|vercode) ]]; then
            [[ ${cur#--key=} == ?(-) ]] && COMPREPLY=("${cur%-}-")
            return
        fi
        if [[ $option == --format && ${COMP_WORDS[1]} == exportcodes ]]; then
            mapfile -t COMPREPLY < <(compgen -W 'uri migration' -- "${cur#--format=}")
            [[ $cur == --format=* ]] && COMPREPLY=("${COMPREPLY[@]/#/--format=}")
            return
        fi
        # Ids of the store that kavro would open here. Read-only, so that completing never
        # creates or changes the file; no output at all without the file or sqlite3. The file
        # may come from anyone: only whole numbers are taken from it, and nothing it holds is
        # ever expanded by the shell.
        if [[ ${COMP_WORDS[1]} == @(delcode|lscodes|exportcodes) && $option == --id &&
            -f kavro.db ]] && type -P sqlite3 >/dev/null; then
            local id
            while IFS= read -r id; do
                [[ $id == "${cur#--id=}"* ]] && COMPREPLY+=("$id")
            done < <(sqlite3 -init /dev/null -readonly -batch -noheader -list kavro.db \
                "SELECT id FROM records WHERE typeof(id) = 'integer' ORDER BY id" 2>/dev/null </dev/null)
            # The word that bash replaces still holds "--id=" when "=" is no word break.
            [[ $cur == --id=* ]] && COMPREPLY=("${COMPREPLY[@]/#/--id=}")
        fi
        return
    fi

    local options
    case ${COMP_WORDS[1]} in
    addcode) options='--key= --site= --account=' ;;
    delcode) options='--id=' ;;
    lscodes) options='--id= --site= --account=' ;;
    exportcodes) options='--id= --site= --account= --format=' ;;
    vercode) options='--code= --key=' ;;
    *) return ;;
    esac
    local word
    for word in "${COMP_WORDS[@]:2:COMP_CWORD-2}"; do
        [[ $word == --* ]] && options=${options/"${word%%=*}="/}
    done
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    # The value follows the "=" directly.
    compopt -o nospace 2>/dev/null
    return 0
}
complete -F _kavro kavro
