#!/usr/bin/env bash
# The rooms of the source tree and the one rule between them: a folder
# includes and links only the folders below it. Prints each breach and
# exits 1 when there is any. Usage: scripts/check-layout.sh [SOURCE_DIR]
#
# Lowest first; the hosts on the top line share it and use none of each other.
# sim/, demo/, bench/ and tests/ stand beside the layers: they may use any of
# them, and no layer uses them.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

layers=(record link settings engine linedb ledger recipes events run supervisor "app cli station line")
# The layers that run without a display: no Qt header in them.
no_qt=(record link settings engine linedb ledger recipes events run supervisor cli)

declare -A rank
for i in "${!layers[@]}"; do
  for folder in ${layers[$i]}; do rank[$folder]=$i; done
done
breaches=0
breach() {
  echo "$1" >&2
  breaches=$((breaches + 1))
}

# May a file of folder `from` use folder `to`?
allowed() {
  local from=$1 to=$2
  [ "$from" = "$to" ] && return 0
  [ -n "${rank[$to]:-}" ] || return 1  # a folder beside the layers
  [ "${rank[$to]}" -lt "${rank[$from]}" ]
}

# Includes: "folder/file.h" names the folder it comes from.
for from in "${!rank[@]}"; do
  [ -d "$from" ] || continue
  while IFS=: read -r file line text; do
    to=${text#*\"}
    to=${to%%/*}
    allowed "$from" "$to" || breach "$file:$line: $from/ includes $to/: $text"
  done < <(grep -rn --include='*.h' --include='*.cpp' '^#include "[a-z_]*/' "$from" || true)
done
for folder in "${no_qt[@]}"; do
  [ -d "$folder" ] || continue
  while IFS= read -r hit; do
    breach "$hit: a Qt header in $folder/, which runs without a display"
  done < <(grep -rn --include='*.h' --include='*.cpp' -E '^#include <Q[A-Za-z]*(/|>)' "$folder" || true)
done

# Link lines: each target belongs to the folder whose CMakeLists.txt makes it.
declare -A home
for folder in "${!rank[@]}"; do
  [ -f "$folder/CMakeLists.txt" ] || continue
  for target in $(grep -oE 'add_(library|executable)\([A-Za-z0-9_]+' "$folder/CMakeLists.txt" | sed 's/.*(//'); do
    home[$target]=$folder
  done
done
for folder in "${!rank[@]}"; do
  [ -f "$folder/CMakeLists.txt" ] || continue
  # Each target_link_libraries(...) as one line: the target, then what it links.
  while read -r target linked; do
    for library in $linked; do
      to=${home[$library]:-}
      [ -n "$to" ] || continue  # a system library, or a keyword such as PUBLIC
      allowed "$folder" "$to" || breach "$folder/CMakeLists.txt: $target ($folder/) links $library ($to/)"
    done
  done < <(tr '\n' ' ' <"$folder/CMakeLists.txt" | grep -oE 'target_link_libraries\([^)]*\)' |
             sed -E 's/target_link_libraries\(//; s/\)$//')
done

if [ "$breaches" -gt 0 ]; then
  echo "$breaches breaches of the layers: ${layers[*]}" >&2
  exit 1
fi
echo "Every include and link line goes down: ${layers[*]}"
