# bash completion for quillmoss-cli
_quillmoss_cli() {
    local cur prev words cword
    _init_completion || return

    local keys="ThreadCount TimeoutSec MinSizeKB MaxSizeKB NamePrefix NameSuffix ReplaceFrom ReplaceTo FolderPrefix FolderSuffix NameMode FolderMode"
    local flags="FixFormat FixOrder TitleListFile ListOnly OpenFolderWhenDone MainPicturesOnly SkipDownloaded LargePictures DescriptionPicturesOnly NoGallery"
    local globals="--demo --program-folder -P --version -V --help -h"

    # The command and, for settings and cookies, the action.
    local i command="" action=""
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            -P|--program-folder) ((i++)) ;;
            -*) ;;
            *) if [[ -z $command ]]; then command=${words[i]}; elif [[ -z $action ]]; then action=${words[i]}; fi ;;
        esac
    done

    # The value of the option before the cursor.
    local formats="table tsv json"
    [[ $command == download ]] && formats="table json"
    [[ $command == report ]] && formats="table tsv"
    case $prev in
        -k|--kind) COMPREPLY=($(compgen -W "qzone group weibo" -- "$cur")); return ;;
        -f|--format) COMPREPLY=($(compgen -W "$formats" -- "$cur")); return ;;
        -a|--albums) COMPREPLY=($(compgen -W "all" -- "$cur")); return ;;
        -b|--from-browser) COMPREPLY=($(compgen -W "firefox" -- "$cur")); return ;;
        -s|--save|-P|--program-folder|-p|--profile) _filedir -d; return ;;
        -i|--input) _filedir; return ;;
        --album-password) return ;;
        -d|--domain) COMPREPLY=($(compgen -W "qq.com qzone.qq.com" -- "$cur")); return ;;
    esac

    case $command in
        "") COMPREPLY=($(compgen -W "list download report gallery settings cookies help $globals" -- "$cur")) ;;
        list) COMPREPLY=($(compgen -W "--kind -k --format -f --yes -y --no -n --help -h $globals" -- "$cur")) ;;
        gallery) if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W "--save -s --help -h" -- "$cur")); fi ;;
        report) COMPREPLY=($(compgen -W "--save -s --format -f --help -h" -- "$cur")) ;;
        download) COMPREPLY=($(compgen -W "--save -s --kind -k --albums -a --format -f --refetch --retry-failed --input -i --album-password --verbose -v --yes -y --no -n --quiet -q --no-progress --no-gallery --help -h $globals" -- "$cur")) ;;
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
