#!/bin/bash
# The bash completion ($1) as a table: the words typed, then what it offers,
# each offer in brackets. Names with blanks are offered whole.
source "$1"
cd "$(mktemp -d)" && trap 'rm -rf "$PWD"' EXIT
touch "film one.mp4" "film two.mkv" && mkdir "out dir"
status=0
while IFS='|' read -r typed expected; do
  read -ra COMP_WORDS <<<"$typed"
  [[ $typed == *' ' ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _tolvane
  got=$(printf '[%s]' "${COMPREPLY[@]}" | sed 's/^\[\]$//')
  [ "$got" = "$expected" ] || { echo "'$typed': offered '$got', not '$expected'"; status=1; }
done <<'TABLE'
tolvane fi|[film one.mp4][film two.mkv]
tolvane --convert -o ou|[out dir]
tolvane --convert -f m|[mp3][m4a]
tolvane --convert --loudness -|[-23][-16][-14]
tolvane --convert --existing |[skip][overwrite][rename]
tolvane --ke|[--keep-folders]
tolvane --convert --output-f|[--output-file]
tolvane --convert --output-file fi|[film one.mp4][film two.mkv]
tolvane --convert --progress j|[json]
tolvane --convert -b |
TABLE
exit $status
