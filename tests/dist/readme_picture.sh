#!/usr/bin/env bash
# The README's picture is what the driver draws now: its command stands in the README beside it,
# and run again it writes the same bytes as the committed file.
# Usage: readme_picture.sh SOURCE_DIR DRIVER WORK_DIR
set -u
source=$1
driver=$2
work=$3
rm -rf "$work" && mkdir -p "$work"
readme=$source/README.md

# `orrelune-sim OPTIONS --png docs/NAME.png`, once, in backquotes.
commands=$(grep -o '`orrelune-sim [^`]* --png docs/[a-z-]*\.png`' "$readme")
[ "$(grep -c . <<<"$commands")" -eq 1 ] || { echo "FAIL: not one picture command in the README: $commands"; exit 1; }
read -r -a words <<<"$(tr -d '`' <<<"$commands")"
picture=${words[-1]}
grep -qF "]($picture)" "$readme" || { echo "FAIL: the README shows no $picture"; exit 1; }
[ -f "$source/$picture" ] || { echo "FAIL: $picture is not committed"; exit 1; }

words[-1]=$work/now.png
"$driver" "${words[@]:1}" >"$work/run.log" 2>&1 || { echo "FAIL: the command fails: $(cat "$work/run.log")"; exit 1; }
if ! cmp -s "$work/now.png" "$source/$picture"; then
  echo "FAIL: $picture is not what '${commands//\`/}' draws now; write it again with that command"
  exit 1
fi
rm -rf "$work"
echo "$picture: as the driver draws it"
