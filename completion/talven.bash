# bash completion for talven: options, then MODEL PORT MODE FILE PAUSE by position.
# Model names come from the program's own --help, device paths from /dev, files for FILE.

_talven_models() {
  # The rows of the model table: key, label, code, speed, compare.
  "$1" --help 2>/dev/null | awk '/^Models:/ { table = 1; next }
    table && /^$/ { exit }
    table && $1 != "key" { print $2; print $3 }'
}

# The models that have COMPARE, by label and by code.
_talven_compare_models() {
  "$1" --help 2>/dev/null | awk '/^Models:/ { table = 1; next }
    table && /^$/ { exit }
    table && $1 != "key" && $5 == "yes" { print $2; print $3 }'
}

# The serial devices under /dev, as paths.
_talven_devices() {
  compgen -G '/dev/ttyS[0-9]*'; compgen -G '/dev/ttyUSB*'; compgen -G '/dev/ttyACM*'
  compgen -G '/dev/cu.*'
}

_talven() {
  local cur prev word position=0 i model=
  cur=${COMP_WORDS[COMP_CWORD]}
  prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()

  # Bash splits "--backup=numbered" at its "=".
  if [[ $prev == --backup && $cur == = ]] || [[ $prev == = && ${COMP_WORDS[COMP_CWORD - 2]} == --backup ]]; then
    COMPREPLY=($(compgen -W "simple numbered" -- "${cur#=}"))
    return
  fi
  case $prev in
    --trace | --check | --diff)
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return
      ;;
  esac

  # The position of the word being completed among the arguments, past the options and their
  # values (--diff takes two).
  local options_done=
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ -z $options_done ]]; then
      case $word in
        --) options_done=1; continue ;;
        =) ((i++)); continue ;;  # an option's value after "="
        --trace | --check) ((i++)); continue ;;
        --diff) ((i += 2)); continue ;;
        -*) continue ;;
      esac
      options_done=1
    fi
    ((position == 0)) && model=$word
    ((position++))
  done
  # --diff's second file.
  if ((COMP_CWORD >= 3)) && [[ ${COMP_WORDS[COMP_CWORD - 2]} == --diff ]]; then
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
    return
  fi

  if [[ -z $options_done && $cur == -* ]]; then
    COMPREPLY=($(compgen -W "--help -h --version --list-ports --trace --exit-code --check --diff
      --no-verify --backup= --no-backup --" -- "$cur"))
    return
  fi
  case $position in
    0) COMPREPLY=($(compgen -W "$(_talven_models "${COMP_WORDS[0]}")" -- "$cur")) ;;
    1)
      # A path being typed: any file under it; nothing typed yet: the serial devices there are.
      if [[ $cur == /* ]]; then
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      elif [[ -z $cur ]]; then
        COMPREPLY=($(_talven_devices; compgen -G '/dev/serial/by-id/*'))
      elif [[ $cur != [0-9]* && $cur != [Cc][Oo][Mm]* ]]; then
        # A bare device name, which talven takes as the device of that name under /dev.
        for word in $(_talven_devices); do
          [[ -c $word && ${word#/dev/} == "$cur"* ]] && COMPREPLY+=("${word#/dev/}")
        done
      fi
      ;;
    2)
      local modes="MASTER SLAVE"
      [[ -n $model ]] && _talven_compare_models "${COMP_WORDS[0]}" | grep -qxF -- "$model" &&
        modes+=" COMPARE"
      COMPREPLY=($(compgen -W "$modes" -- "$cur"))
      ;;
    3) mapfile -t COMPREPLY < <(compgen -f -- "$cur") ;;
    4) COMPREPLY=($(compgen -W "0 1" -- "$cur")) ;;
  esac
}

complete -o filenames -o bashdefault -F _talven talven
