# bash completion for quorvel-extractor: its options, the values some of
# them take, and folders and files where an option names one.
_quorvel_extractor()
{
    local cur prev
    _init_completion || return
    case $prev in
        -C | --game | -o | --output)
            _filedir -d
            return
            ;;
        --labels)
            _filedir 'tsv|txt'
            return
            ;;
        --export)
            COMPREPLY=($(compgen -W 'wav flac ogg opus mp3' -- "$cur"))
            return
            ;;
        --port | --max)
            return
            ;;
        --find | --replace-list)
            _filedir
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '-y --yes -n --no -C --game -o --output -l --list --json --pack --dry-run
            -q --quiet -O --to-stdout -k --keep-old-files -v --verbose -h --help --version --studio
            --labels --port --no-open --export --replace --replace-list --keep-loudness --fit-length
            --find --max' -- "$cur"))
        return
    fi
    _filedir
}
complete -F _quorvel_extractor quorvel-extractor
