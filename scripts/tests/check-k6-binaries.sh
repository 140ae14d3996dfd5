#!/usr/bin/env bash
# Runs scripts/check-k6-binaries on small files made from each row of check-k6-binaries.table:
# assembled with the host's assembler (function f), or a C program linked statically against
# Debian's 32-bit C library, as the k6 preset once built them.
# Usage: check-k6-binaries.sh SOURCE_DIR
set -uo pipefail
src=${1:?usage: check-k6-binaries.sh SOURCE_DIR}
check=$src/scripts/check-k6-binaries
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp" || exit 2

failures=0 row=0
while IFS=$'\t' read -r kind source status expected; do
  [[ -z $kind || $kind == "#"* ]] && continue
  row=$((row + 1))
  file=row$row
  case $kind in
    asm) printf '.text\n.globl f\nf:\n%s\n' "${source//;/$'\n'}" | as --32 -o "$file" - ;;
    glibc) echo "$source" | gcc -m32 -static -O2 -x c -o "$file" - ;;
  esac || { echo "FAIL row $row: cannot build: $source"; failures=$((failures + 1)); continue; }
  output=$("$check" "$file" 2>&1)
  got=$?
  if [ "$got" != "$status" ] || { [ -n "$expected" ] && ! grep -qxF -- "$expected" <<<"$output" &&
    ! grep -qxF -- "  $expected" <<<"$output"; }; then
    printf 'FAIL row %d (%s): status %s, expected %s with "%s"; output:\n%s\n' \
      "$row" "$source" "$got" "$status" "$expected" "$output"
    failures=$((failures + 1))
  fi
done <"$src/scripts/tests/check-k6-binaries.table"

[ $failures -eq 0 ] || exit 1
echo "check-k6-binaries: $row files reported as expected"
