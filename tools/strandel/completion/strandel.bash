# bash completion for strandel                              -*- shell-script -*-
# Installed as share/bash-completion/completions/strandel, where bash-completion finds it
# when "strandel" is first completed.

_strandel_columns() {
  case $1 in
    volumes) echo "DEVICE NAME SIZE FORMAT MOUNTPOINT LOCATION ROLE" ;;
    registry) echo "CLASS DEVICE NAME KIND MOUNTPOINT" ;;
    container-members) echo "DEVICE NAME KIND MOUNTPOINT" ;;
  esac
}

_strandel() {
  local cur prev words cword
  _init_completion || return

  # The words before the current one: the global options, then up to two command words.
  local command="" sub="" i word
  for ((i = 1; i < cword; i++)); do
    word=${words[i]}
    case $word in
      --machine | --format | --os-version | --build | --product-name) ((i++)) ;;
      -*) ;;
      *)
        if [[ -z $command ]]; then
          command=$word
        elif [[ -z $sub ]]; then
          sub=$word
        fi
        ;;
    esac
  done

  case $prev in
    --machine) _filedir -d; return ;;
    --os-version | --build | --product-name) return ;;  # facts of the imported Mac, typed
    --format) COMPREPLY=($(compgen -W "text json plist" -- "$cur")); return ;;
    -o | --output)
      # A comma-separated list: complete the name after the last comma.
      local done_part="" last=$cur
      [[ $cur == *,* ]] && done_part=${cur%,*}, && last=${cur##*,}
      COMPREPLY=($(compgen -P "$done_part" -W "$(_strandel_columns "$command")" -- "$last"))
      compopt -o nospace
      return
      ;;
  esac

  if [[ -z $command ]]; then
    if [[ $cur == -* ]]; then
      COMPREPLY=($(compgen -W "--machine --format --help --help-all --version" -- "$cur"))
    else
      COMPREPLY=($(compgen -W "registry volumes container-members is-network-backup apfs os mount size bytes verify tmutil fda image" -- "$cur"))
    fi
    return
  fi

  local subs="" options="--help"
  case $command in
    apfs) subs="container is-apfs system data preboot recovery role" ;;
    os) subs="version info compare" ;;
    mount) subs="from on" ;;
    size) subs="total free used apfs-used total-text used-text" ;;
    image)
      subs="import guesses"
      [[ $sub == import ]] && options="--help --os-version --build --product-name --force -v --verbose"
      ;;
    registry | volumes) options="--help -o --output -n --noheadings -r --raw" ;;
    container-members) options="--help --as-listed -o --output -n --noheadings -r --raw" ;;
    bytes) options="--help --label --mb" ;;
    tmutil) return ;;  # its arguments are the Time Machine tool's
  esac
  if [[ -n $subs && -z $sub ]]; then
    COMPREPLY=($(compgen -W "$subs --help" -- "$cur"))
    return
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
  elif [[ ($command == image && $sub == import) || $command == size ]]; then
    _filedir
  fi
} && complete -F _strandel strandel
