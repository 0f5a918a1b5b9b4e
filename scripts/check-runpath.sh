#!/usr/bin/env bash
# Refuses a run path that lets the loader look for libraries where it must not: an
# empty entry (the current folder), a relative one other than $ORIGIN..., or one inside
# a FORBIDDEN folder (the build or source tree). Every ELF file below DIR is read.
# Usage: check-runpath.sh DIR [FORBIDDEN...]
set -euo pipefail
dir=$1
shift
bad=0 count=0
while IFS= read -r -d '' file; do
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  count=$((count + 1))
  # "Library runpath: [a:b]" / "Library rpath: [a:b]"
  while IFS= read -r path; do
    rest=$path
    while :; do
      entry=${rest%%:*}
      reason=
      case $entry in
        '') reason="an empty entry (the current folder)" ;;
        '$ORIGIN' | '$ORIGIN/'* | '${ORIGIN}' | '${ORIGIN}/'*) ;;
        /*) for forbidden in "$@"; do
              [[ $entry == "$forbidden" || $entry == "$forbidden"/* ]] && reason="the folder $entry"
            done ;;
        *) reason="the relative folder $entry" ;;
      esac
      if [ -n "$reason" ]; then
        echo "check-runpath: ${file#"$dir"/} searches $reason (run path '$path')" >&2
        bad=1
      fi
      [[ $rest == *:* ]] || break
      rest=${rest#*:}
    done
  done < <(readelf -d "$file" 2>/dev/null | sed -n 's/.*Library r\(un\)\{0,1\}path: \[\(.*\)\]$/\2/p')
done < <(find "$dir" -type f -print0)
[ "$count" -gt 0 ] || { echo "check-runpath: no ELF file below $dir" >&2; exit 1; }
exit "$bad"
