#!/bin/sh
# windows-zip.sh STAGE ZIP FILE...: packs the FILEs of STAGE into ZIP, the same bytes for the
# same files wherever and whenever it runs, and writes ZIP.sha256 beside it.
set -eu
stage="$1"
zip="$2"
shift 2
epoch="${SOURCE_DATE_EPOCH:-1767225600}"
cd "$stage"
for f in "$@"; do
    case "$f" in
        *.exe) chmod 0755 "$f" ;;
        *) chmod 0644 "$f" ;;
    esac
    touch -d "@$epoch" "$f"
done
# zip keeps local time: the same time zone everywhere. -X: no owner ids or extra times.
printf '%s\n' "$@" | LC_ALL=C sort | TZ=UTC0 zip -X -q -D "$zip" -@
cd "$(dirname "$zip")"
sha256sum "$(basename "$zip")" >"$(basename "$zip").sha256"
