#!/usr/bin/env bash
# Each folder includes only itself and the folders under it, so that what may call what can be
# read off the tree: an include that runs upward or sideways fails here.
set -euo pipefail
cd "$(dirname "$0")/.."
declare -A under=(
  [app]="device report signal win32 resources"
  [device]="signal win32"
  [report]="win32"
  [signal]=""
  [win32]=""
)
failed=0 files=0
for dir in "${!under[@]}"; do
  for file in "$dir"/*.cpp "$dir"/*.h; do
    [ -e "$file" ] || continue
    files=$((files + 1))
    while IFS=: read -r line include; do
      folder=${include#*\"}
      folder=${folder%%/*}
      case " $dir ${under[$dir]} " in
        *" $folder "*) ;;
        *) echo "FAIL $file:$line includes $folder/, which is not under $dir/"; failed=$((failed + 1)) ;;
      esac
    done < <(grep -n '^#include "[^"]*/' "$file" || true)
  done
done
echo "layering: $files files, $failed includes that run upward or sideways"
# No file read would pass as no include running upward.
[ "$files" -gt 0 ] && [ "$failed" -eq 0 ]
