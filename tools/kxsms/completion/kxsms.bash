# bash completion for kxsms: commands, their options, and files after -f.
# tests/kxsms/frame/CommandLineDocsTest.cpp checks it against the options
# the commands define.
_kxsms()
{
    local cur prev words cword
    _init_completion 2>/dev/null || {
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
    }
    local commands="resources ls info backup restore list verify diff rm key"
    local global="--tsa -u --user --password-file --password-prompt --log -v --verbose --version --help"
    local command="" word
    for word in "${COMP_WORDS[@]:1:COMP_CWORD-1}"; do
        case " $commands " in *" $word "*) command=$word; break ;; esac
    done
    case $prev in
        --tsa) COMPREPLY=($(compgen -W "fs dir gw" -- "$cur")); return ;;
        --overwrite) COMPREPLY=($(compgen -W "always newer never" -- "$cur")); return ;;
        -f|--file|--password-file|--log|--passphrase-file|--key|--recipient) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --to) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    esac
    local options
    case $command in
        "") COMPREPLY=($(compgen -W "$commands $global" -- "$cur")); return ;;
        ls) options="-r --recursive -l --long --full-time --json" ;;
        info) options="--json" ;;
        backup) options="-f --file --exclude --since --incremental --clear-archive --zstd -n --dry-run -x --one-file-system --no-sync --encrypt --recipient --passphrase-file -j --jobs" ;;
        restore) options="-f --file --to --in-place --strip-components --overwrite --no-xattrs --exclude -n --dry-run --no-sync -j --jobs --passphrase-file --key --allow-gaps" ;;
        list) options="-f --file --exclude --json --full-time --passphrase-file --key" ;;
        verify) options="-f --file --passphrase-file --key" ;;
        diff) options="-f --file --json --passphrase-file --key" ;;
        rm) options="-r --recursive" ;;
        key) options="-o --output --no-passphrase --passphrase-file" ;;
        *) options="" ;;
    esac
    if [[ $command == key && $cur != -* && $prev == key ]]; then
        COMPREPLY=($(compgen -W "generate" -- "$cur"))
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
    else
        COMPREPLY=($(compgen -f -- "$cur"))
    fi
}
complete -F _kxsms kxsms
