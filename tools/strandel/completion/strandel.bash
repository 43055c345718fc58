# bash completion for strandel                              -*- shell-script -*-
# Installed as share/bash-completion/completions/strandel, where bash-completion finds it
# when "strandel" is first completed.

# The columns a table command takes, as its --help lists them, in upper and in lower case:
# the tool matches them in any case, and a user types either.
_strandel_columns() {
  local names
  names=$("${_strandel_tool[@]}" "$1" --help 2>/dev/null | awk '
    /^Columns/ { inList = 1; next }
    inList && /^  [* ] [A-Z]/ { sub(/^  [* ] /, ""); print $1 }')
  echo "$names" "${names,,}"
}

# The machine's BSD names and mount points, asked of the tool itself with the machine the
# line names, so that a name offered is one the command will find. Raw tables write a blank
# as \x20; printf %b reads it back.
_strandel_devices() {
  "${_strandel_tool[@]}" registry -rn -o device 2>/dev/null | while IFS= read -r name; do
    [[ -n $name ]] && printf '%b\n' "$name"
  done
  "${_strandel_tool[@]}" volumes -rn -o device 2>/dev/null | while IFS= read -r name; do
    [[ -n $name ]] && printf '%b\n' "$name"
  done
}

_strandel_mount_points() {
  "${_strandel_tool[@]}" registry -rn -o mountpoint 2>/dev/null | while IFS= read -r name; do
    [[ -n $name ]] && printf '%b\n' "$name"
  done
}

# Offers the lines of a word list, blanks and all.
_strandel_offer() {
  local IFS=$'\n'
  COMPREPLY=($(compgen -W "$1" -- "$cur"))
}

_strandel() {
  local cur prev words cword
  _init_completion || return

  # The words before the current one: the global options (before or after the command), then
  # up to two command words. The tool asked for names is the one completed, with the machine
  # the line names.
  local command="" sub="" i word
  _strandel_tool=("${words[0]}")
  for ((i = 1; i < cword; i++)); do
    word=${words[i]}
    case $word in
      --machine | --disk) _strandel_tool+=("$word" "${words[i + 1]}"); ((i++)) ;;
      --format | --os-version | --build | --product-name) ((i++)) ;;
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
    --disk) _filedir; return ;;
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
      COMPREPLY=($(compgen -W "--machine --disk --format --help --help-all --version" -- "$cur"))
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
    is-network-backup | verify) ;;
    bytes) options="--help --label --mb" ;;
    tmutil) return ;;  # its arguments are the Time Machine tool's
  esac
  if [[ -n $subs && -z $sub ]]; then
    COMPREPLY=($(compgen -W "$subs --help" -- "$cur"))
    return
  fi
  options+=" --machine --disk --format"
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  case "$command $sub" in
    "container-members "* | "is-network-backup "* | "mount on" | "apfs container" | "apfs system" | \
      "apfs data" | "apfs preboot" | "apfs recovery" | "apfs role")
      _strandel_offer "$(_strandel_devices | sort -u)" ;;
    "mount from" | "apfs is-apfs") _strandel_offer "$(_strandel_mount_points | sort -u)" ;;
    "verify "*) _strandel_offer "$({ _strandel_devices; _strandel_mount_points; } | sort -u)" ;;
    "image "* | "size "*) _filedir ;;
  esac
} && complete -F _strandel strandel
