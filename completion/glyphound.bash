# Bash completion for glyphound: the commands, their options, and file names
# where a file goes.
_glyphound() {
    local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD-1]}
    local search="-e --regexp -f --file -r --recursive --case --wildcard --width --order --match --gaps --help --version"
    if [[ $COMP_CWORD -eq 1 ]]; then
        mapfile -t COMPREPLY < <(compgen -W "find table dump encode insert pointers shift guess patch tiles help --help --version" -- "$current")
        mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -f -- "$current")
        return
    fi
    case $previous in
        --case) mapfile -t COMPREPLY < <(compgen -W "split ascii" -- "$current"); return ;;
        --match) mapfile -t COMPREPLY < <(compgen -W "relative order pattern" -- "$current"); return ;;
        --format) mapfile -t COMPREPLY < <(compgen -W "1bpp 2bpp-nes 2bpp-gb 4bpp-snes 4bpp-gba" -- "$current"); return ;;
        --width) mapfile -t COMPREPLY < <(compgen -W "8 16le 16be" -- "$current"); return ;;
        --map) mapfile -t COMPREPLY < <(compgen -W "auto linear linear:0x8000000 nes nes8 gb snes-lorom snes-hirom relative" -- "$current"); return ;;
        --ptr) mapfile -t COMPREPLY < <(compgen -W "16 24 32" -- "$current"); return ;;
        --endian) mapfile -t COMPREPLY < <(compgen -W "le be" -- "$current"); return ;;
        --format) mapfile -t COMPREPLY < <(compgen -W "ips ups bps" -- "$current"); return ;;
        --order)
            mapfile -t COMPREPLY < <(compgen -W "hiragana katakana hiragana-basic katakana-basic" -- "$current")
            mapfile -t -O "${#COMPREPLY[@]}" COMPREPLY < <(compgen -f -- "$current")
            return ;;
        -e|--regexp|--wildcard|--gaps|--A|--a|--0|--by|--start|--end|--min|--at|--room|--fill|--top|--pointers|--split|--stride|--to|--free|--free-fill|--metadata|--count|--columns|--scale) return ;;
    esac
    local options
    case ${COMP_WORDS[1]} in
        find) options="$search --json --table" ;;
        dump) options="-t --table --start --end --min --json --script -o --output -r --recursive --pointers --map --ptr --endian --split --stride --until-next --help --version" ;;
        encode) options="-t --table --end -o --output --help --version" ;;
        insert) options="-t --table --at --room --script --fill --free --free-fill --patch --help --version" ;;
        pointers) options="-t --table --map --ptr --endian --min --to --json --help --version" ;;
        table) options="$search -o --output --A --a --0" ;;
        shift) options="--A --by --back --help --version" ;;
        guess) options="--width --top --json --help --version" ;;
        patch)
            case ${COMP_WORDS[2]} in
                create) options="--format --metadata -o --output --help --version" ;;
                apply) options="--force --strip-header -o --output --help --version" ;;
                info) options="--json --help --version" ;;
                *)
                    [[ $COMP_CWORD -eq 2 ]] && mapfile -t COMPREPLY < <(compgen -W "create apply info --help" -- "$current")
                    return ;;
            esac ;;
        tiles) options="--format --start --count --columns --scale -t --table -o --output --help --version" ;;
        help) mapfile -t COMPREPLY < <(compgen -W "find table dump encode insert pointers shift guess patch tiles help --version" -- "$current"); return ;;
        *) return ;;
    esac
    if [[ $current == -* ]]; then
        mapfile -t COMPREPLY < <(compgen -W "$options" -- "$current")
    else
        mapfile -t COMPREPLY < <(compgen -f -- "$current")
    fi
}
complete -o filenames -F _glyphound glyphound
