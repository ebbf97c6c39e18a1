#!/bin/sh
# Has the Jackcess judge read a file that a Windows test left, then extend a copy of it and read
# that again. usage: judge-result.sh JACKCESS_FOLDER FILE
# Exit 77 (a skip for CTest) when the judge or Java is missing, saying why.
set -u
judge="$1/judge.sh"
file=$2
if [ ! -x "$judge" ]; then
    echo "skipped: the Jackcess judge is missing ($judge)"
    exit 77
fi
"$judge" >/dev/null 2>&1
[ $? -eq 4 ] && { echo "skipped: the Jackcess judge needs Java"; exit 77; }
[ -f "$file" ] || { echo "no result to judge: $file"; exit 1; }
"$judge" read "$file" || exit 1
copy="$file.extended.mdb"
cp "$file" "$copy" && "$judge" write "$copy" --max-cols 40
