# SPDX-License-Identifier: MIT
# bash completion for xrreport. Self-contained: it needs nothing from bash-completion.
_xrreport() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # "--format=js" reaches us as "--format" "=" "js" (or "--format" "=" just after the "=").
  if [[ $cur == = ]]; then
    cur=
  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
    prev=${COMP_WORDS[COMP_CWORD - 2]}
  fi
  COMPREPLY=()
  case $prev in
    --machine | --capture)
      local IFS=$'\n'
      compopt -o filenames 2>/dev/null
      COMPREPLY=($(compgen -d -- "$cur"))
      return
      ;;
    --format)
      COMPREPLY=($(compgen -W 'text json' -- "$cur"))
      return
      ;;
  esac
  COMPREPLY=($(compgen -W '--machine --capture --format --trace --watch --probe --version --help' -- "$cur"))
}
complete -F _xrreport xrreport
