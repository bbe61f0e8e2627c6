# bash completion for quillmoss-cli
_quillmoss_cli() {
    local cur prev words cword
    _init_completion || return

    local keys="ThreadCount TimeoutSec MinSizeKB MaxSizeKB NamePrefix NameSuffix ReplaceFrom ReplaceTo FolderPrefix FolderSuffix NameMode FolderMode"
    local flags="FixFormat FixOrder TitleListFile ListOnly OpenFolderWhenDone MainPicturesOnly SkipDownloaded LargePictures DescriptionPicturesOnly"
    local globals="--demo --program-folder -P --version -V --help -h"

    case $prev in
        -k|--kind) COMPREPLY=($(compgen -W "qzone group weibo" -- "$cur")); return ;;
        -f|--format) COMPREPLY=($(compgen -W "table tsv json" -- "$cur")); return ;;
        -a|--albums) COMPREPLY=($(compgen -W "all" -- "$cur")); return ;;
        -b|--from-browser) COMPREPLY=($(compgen -W "firefox" -- "$cur")); return ;;
        -s|--save|-P|--program-folder|-p|--profile) _filedir -d; return ;;
        -d|--domain) COMPREPLY=($(compgen -W "qq.com qzone.qq.com" -- "$cur")); return ;;
    esac

    # The command and, for settings and cookies, the action.
    local i command="" action=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -P|--program-folder) ((i++)) ;;
            -*) ;;
            *) if [[ -z $command ]]; then command=${words[i]}; elif [[ -z $action ]]; then action=${words[i]}; fi ;;
        esac
    done

    case $command in
        "") COMPREPLY=($(compgen -W "list download report gallery settings cookies help $globals" -- "$cur")) ;;
        list) COMPREPLY=($(compgen -W "--kind -k --format -f --yes -y --no -n --help -h $globals" -- "$cur")) ;;
        gallery) if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "--save -s --help -h" -- "$cur")); fi ;;
        report) COMPREPLY=($(compgen -W "--save -s --format -f --help -h" -- "$cur")) ;;
        download) COMPREPLY=($(compgen -W "--save -s --kind -k --albums -a --yes -y --no -n --quiet -q --no-progress --no-gallery --help -h $globals" -- "$cur")) ;;
        settings)
            case $action in
                "") COMPREPLY=($(compgen -W "show set toggle --help" -- "$cur")) ;;
                set) [[ $prev == set ]] && COMPREPLY=($(compgen -W "$keys" -- "$cur")) ;;
                toggle) [[ $prev == toggle ]] && COMPREPLY=($(compgen -W "$flags" -- "$cur")) ;;
            esac ;;
        cookies)
            case $action in
                "") COMPREPLY=($(compgen -W "import list --help" -- "$cur")) ;;
                import)
                    if [[ $cur == -* ]]; then
                        COMPREPLY=($(compgen -W "--all-domains --domain -d --from-browser -b --profile -p --help" -- "$cur"))
                    else
                        _filedir
                    fi ;;
            esac ;;
        help) COMPREPLY=($(compgen -W "list download report gallery settings cookies" -- "$cur")) ;;
    esac
}
complete -F _quillmoss_cli quillmoss-cli
