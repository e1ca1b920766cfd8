# Bash completion for quokka-quokka: its options, and file or folder names after the options
# that name one.
_quokka_quokka()
{
    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]}
    case $previous in
        --geo-table|--geo-table-ipv6|--as-table|--json)
            COMPREPLY=($(compgen -f -- "$current"))
            return ;;
        --screenshot)
            COMPREPLY=($(compgen -d -- "$current"))
            return ;;
        --explore|--home|--monitor|--interval)
            COMPREPLY=()
            return ;;
    esac
    if [[ $current == -* ]]; then
        COMPREPLY=($(compgen -W '-h --help -v --version --explore --quit --report --json
            --screenshot --verbose --geo-table --as-table --lookup --home --monitor --interval --ipv6
            --geo-table-ipv6 --keep-tables' \
            -- "$current"))
    fi
}
complete -F _quokka_quokka quokka-quokka
