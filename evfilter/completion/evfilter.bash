# bash completion for evfilter: sub-commands, options and format names.
_evfilter() {
  local cur prev command i
  cur="${COMP_WORDS[COMP_CWORD]}"
  prev="${COMP_WORDS[COMP_CWORD-1]}"
  command=""
  for ((i = 1; i < COMP_CWORD; i++)); do
    case "${COMP_WORDS[i]}" in
      match|show|intervals|hunt) command="${COMP_WORDS[i]}"; break ;;
    esac
  done
  case "$prev" in
    --input-format) COMPREPLY=($(compgen -W "csv tsv jsonl json evtx" -- "$cur")); return ;;
    --encoding) COMPREPLY=($(compgen -W "utf-8 latin1 cp1252" -- "$cur")); return ;;
    --output-format)
      if [[ "$command" == hunt ]]; then
        COMPREPLY=($(compgen -W "jsonl csv" -- "$cur"))
      else
        COMPREPLY=($(compgen -W "csv tsv jsonl" -- "$cur"))
      fi
      return ;;
    --min-level) COMPREPLY=($(compgen -W "informational low medium high critical" -- "$cur")); return ;;
    --rules|--rule|--exclude-ids|--filters|--report) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --type) COMPREPLY=($(compgen -W "=numeric =text =date =time" -- "$cur")); return ;;
    --filter) COMPREPLY=($(compgen -f -- "$cur")); return ;;
    --log-dir) COMPREPLY=($(compgen -d -- "$cur")); return ;;
    --product) COMPREPLY=($(compgen -W "windows linux zeek aws any" -- "$cur")); return ;;
    --where|-j|--jobs|--status|--id|--tag|--exclude-id|--since|--until|--max-rule-bytes|--placeholder|--fields|--limit|--count-by|--max-groups|--every) return ;;
  esac
  local common="--filter --where --type --log-dir --debug-log --help"
  case "$command" in
    "") COMPREPLY=($(compgen -W "match show intervals hunt --version -V --help" -- "$cur")) ;;
    match)
      if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "$common --count -v --invert --strict --allow-missing -H --with-input --input-format --encoding --output-format --utc -j --jobs --fields --limit --count-by --max-groups --every --stats -f --follow" -- "$cur"))
      else
        COMPREPLY=($(compgen -f -- "$cur"))
      fi ;;
    show) COMPREPLY=($(compgen -W "$common --json --rule --utc" -- "$cur")) ;;
    hunt)
      if [[ "$cur" == -* ]]; then
        COMPREPLY=($(compgen -W "--rules --min-level --status --id --tag --exclude-id --exclude-ids --filters --since --until --where --type --product --max-rule-bytes --placeholder --list --profile --per-event --sort --sort-memory --summary --report -f --follow --strict --input-format --encoding --output-format --utc -j --jobs --help" -- "$cur"))
      else
        COMPREPLY=($(compgen -f -- "$cur"))
      fi ;;
    intervals) COMPREPLY=($(compgen -W "$common" -- "$cur")) ;;
  esac
}
complete -o filenames -F _evfilter evfilter
