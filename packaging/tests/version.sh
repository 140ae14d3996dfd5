#!/usr/bin/env bash
# The project's version (CMake) is the one source; these files repeat it and must agree: DKMS's
# configuration and the driver's MODULE_VERSION, the manual pages (their footer and the DKMS
# source folder they name), the newest release of the metainfo and of the Debian changelog.
# Usage: version.sh VERSION SOURCE_DIR
set -uo pipefail
version=${1:?usage: version.sh VERSION SOURCE_DIR}
cd "${2:?usage: version.sh VERSION SOURCE_DIR}" || exit 2

failures=0
expect() { # WHAT FOUND
    if [[ $2 != "$version" ]]; then
        printf 'FAIL %s: "%s", the project is %s\n' "$1" "$2" "$version"
        failures=$((failures + 1))
    fi
}

expect kernel/dkms.conf "$(sed -n 's/^PACKAGE_VERSION="\(.*\)"$/\1/p' kernel/dkms.conf)"
expect kernel/qrxvxd.c "$(sed -n 's/^MODULE_VERSION("\(.*\)");$/\1/p' kernel/qrxvxd.c)"
for page in packaging/man/*.[1-9]; do
    expect "$page .Os" "$(sed -n 's/^\.Os Quorix //p' "$page")"
    while read -r folder; do
        expect "$page $folder" "${folder#qrxvxd-}"
    done < <(grep -o 'qrxvxd-[0-9][0-9.]*[0-9]' "$page")
done
expect "metainfo's newest release" "$(grep -o -m1 '<release version="[^"]*"' \
    packaging/desktop/org.quorix.Quorix.metainfo.xml | cut -d'"' -f2)"
expect "changelog's newest entry" "$(sed -n '1s/^quorix (\(.*\)) .*/\1/p' packaging/debian/changelog)"

[ $failures -eq 0 ] || exit 1
echo "every file names version $version"
