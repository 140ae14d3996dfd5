#!/bin/sh
# Installs Quorix for the AMD K6 from this bundle, or takes it away again (--uninstall).
#
# Usage: ./install.sh [OPTION]...
#   --prefix DIR    where the programs go (default /usr/local): DIR/lib/quorix holds them with
#                   their driver module and help file, DIR/bin links to them, DIR/share/man
#                   holds the manual pages, DIR/src/qrxvxd-VERSION the kernel driver's source
#   --kernel DIR    the build tree of the kernel to build the driver for (default: the running
#                   kernel's, /lib/modules/RELEASE/build); without one the driver is not built
#   --no-driver     build and install no kernel driver
#   --root DIR      install into the system image at DIR (such as a Buildroot target folder)
#                   instead of this system: nothing outside DIR changes
#   --uninstall     take away everything an earlier run installed
#
# What it does: copies the programs and links them into DIR/bin; puts musl's loader at
# /lib/ld-musl-i386.so.1 unless the system has one already; builds the kernel driver qrxvxd.ko
# for the kernel and installs it under /lib/modules/RELEASE/extra; installs the udev rule that
# gives /dev/qrxvxd to group quorix and creates that group. A second run changes nothing more.
# What it created is listed in DIR/lib/quorix/installed, which --uninstall reads.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
version=@VERSION@
prefix=/usr/local
root=
kernel_tree=
driver=1
uninstall=0

usage() {
  sed -n '/^# Usage/,/^set /p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}
say() { echo "install.sh: $*"; }
die() {
  echo "install.sh: $*" >&2
  exit 1
}

while [ $# -gt 0 ]; do
  case $1 in
  --prefix | --kernel | --root)
    [ $# -ge 2 ] && [ -n "$2" ] || usage
    case $1 in
    --prefix) prefix=$2 ;;
    --kernel) kernel_tree=$2 ;;
    --root) root=$2 ;;
    esac
    shift
    ;;
  --no-driver) driver=0 ;;
  --uninstall) uninstall=1 ;;
  *) usage ;;
  esac
  shift
done
case $prefix in
/*) ;;
*) die "--prefix needs an absolute folder, not $prefix" ;;
esac
prefix=${prefix%/}
[ -z "$root" ] || { [ -d "$root" ] || die "no folder $root"; root=$(cd "$root" && pwd); }
[ -n "$root" ] || [ "$(id -u)" -eq 0 ] || die "run it as root (or with --root DIR for a system image)"

programs="qrxclwin qrxsim"
program_dir=$prefix/lib/quorix
manifest=$root$program_dir/installed
loader=/lib/ld-musl-i386.so.1
rule=/etc/udev/rules.d/60-qrxvxd.rules

# The manifest: one line per thing this script created, "file PATH", "dir PATH" or
# "group quorix", PATH as seen from the installed system.
created=
note() { created="$created$1
"; }

# copy SOURCE DEST MODE: installs a file unless the same bytes are already there.
copy() {
  if [ -f "$root$2" ] && [ ! -L "$root$2" ] && cmp -s "$1" "$root$2"; then
    chmod "$3" "$root$2"
  else
    mkdir -p "$(dirname "$root$2")"
    rm -f "$root$2.new"
    cp "$1" "$root$2.new"
    chmod "$3" "$root$2.new"
    mv -f "$root$2.new" "$root$2"
  fi
  note "file $2"
}

# link TARGET NAME: a symbolic link, made or corrected.
link() {
  if [ "$(readlink "$root$2" 2>/dev/null)" != "$1" ]; then
    mkdir -p "$(dirname "$root$2")"
    rm -f "$root$2"
    ln -s "$1" "$root$2"
  fi
  note "file $2"
}

# The relative path from folder $1 to folder $2, both absolute.
relative() {
  from=$1 to=$2 up=
  while [ "${to#"$from"/}" = "$to" ] && [ "$from" != / ]; do
    from=$(dirname "$from")
    up=../$up
  done
  if [ "$from" = / ]; then echo "$up${to#/}"; else echo "$up${to#"$from"/}"; fi
}

loader_version() { "$1" 2>&1 | sed -n 's/^Version //p' | head -n 1; }
# True when version $1 is at least $2 (both dotted numbers).
at_least() {
  [ "$(printf '%s\n%s\n' "$1" "$2" | sort -t. -k1,1n -k2,2n -k3,3n | head -n 1)" = "$2" ]
}

group_exists() {
  if [ -z "$root" ]; then getent group quorix >/dev/null 2>&1; else grep -q '^quorix:' "$root/etc/group" 2>/dev/null; fi
}

install_all() {
  [ -f "$here/lib/quorix/qrxclwin" ] || die "$here holds no Quorix bundle (no lib/quorix/qrxclwin)"
  for file in qrxclwin qrxsim qrxvxd.vxd; do
    copy "$here/lib/quorix/$file" "$program_dir/$file" 755
  done
  copy "$here/lib/quorix/qrx.hlp" "$program_dir/qrx.hlp" 644
  to_programs=$(relative "$prefix/bin" "$program_dir")
  for program in $programs; do
    link "$to_programs/$program" "$prefix/bin/$program"
  done
  for page in "$here"/share/man/man*/*.gz; do
    copy "$page" "$prefix/share/man/$(basename "$(dirname "$page")")/$(basename "$page")" 644
  done
  for file in "$here/src/qrxvxd-$version"/*; do
    copy "$file" "$prefix/src/qrxvxd-$version/$(basename "$file")" 644
  done
  note "dir $prefix/src/qrxvxd-$version"

  # The programs name musl's loader by its fixed path. A loader already there (the system's
  # own musl, or ours from an earlier run) stays when it is at least as new as ours: musl
  # runs programs linked against any older version.
  ours=$(loader_version "$here/lib/ld-musl-i386.so.1")
  if [ ! -e "$root$loader" ]; then
    copy "$here/lib/ld-musl-i386.so.1" "$loader" 755
  elif cmp -s "$here/lib/ld-musl-i386.so.1" "$root$loader"; then
    grep -qxF "file $loader" "$manifest" 2>/dev/null && note "file $loader"
  else
    theirs=$(loader_version "$root$loader")
    [ -n "$theirs" ] && at_least "$theirs" "$ours" ||
      die "$loader is musl ${theirs:-of an unknown version}, older than this bundle's $ours: update the system's musl first"
    say "using the system's musl $theirs at $loader"
  fi

  copy "$here/udev/60-qrxvxd.rules" "$rule" 644
  if ! group_exists; then
    if [ -n "$root" ]; then
      # A system image: the group is written into its files directly.
      gid=$(awk -F: '$3 >= 100 && $3 < 1000 { used[$3] = 1 } END { for (g = 999; g >= 100; g--) if (!used[g]) { print g; exit } }' "$root/etc/group" 2>/dev/null || echo 999)
      mkdir -p "$root/etc"
      echo "quorix:x:${gid:-999}:" >>"$root/etc/group"
    elif command -v groupadd >/dev/null; then
      groupadd --system quorix
    elif command -v addgroup >/dev/null; then
      addgroup -S quorix
    else
      die "cannot create group quorix: no groupadd or addgroup"
    fi
    note "group quorix"
    say "created group quorix; add the users who may tune the processor to it"
  elif grep -qxF "group quorix" "$manifest" 2>/dev/null; then
    note "group quorix"
  fi

  [ $driver -eq 0 ] || install_driver

  mkdir -p "$root$program_dir"
  # The manifest keeps what earlier runs created as well (the group, for example).
  { [ ! -f "$manifest" ] || cat "$manifest"; printf '%s' "$created"; } | sed '/^$/d' | sort -u >"$manifest.new"
  chmod 644 "$manifest.new"
  if cmp -s "$manifest.new" "$manifest"; then rm -f "$manifest.new"; else mv -f "$manifest.new" "$manifest"; fi

  if [ -z "$root" ] && [ -d /run/udev ] && command -v udevadm >/dev/null; then
    udevadm control --reload-rules || true
    udevadm trigger --subsystem-match=misc --sysname-match=qrxvxd || true
  fi
  say "installed Quorix $version into $root$prefix (programs in $prefix/bin)"
}

install_driver() {
  if [ -z "$kernel_tree" ]; then
    [ -z "$root" ] || { say "no kernel driver: name the image's kernel build tree with --kernel DIR"; return; }
    kernel_tree=/lib/modules/$(uname -r)/build
  fi
  if [ ! -f "$kernel_tree/Makefile" ]; then
    say "no kernel driver: $kernel_tree is no kernel build tree (install the running kernel's headers, or give --kernel DIR; then run this again)"
    return
  fi
  release=$(cat "$kernel_tree/include/config/kernel.release" 2>/dev/null) ||
    die "$kernel_tree has no include/config/kernel.release: is the kernel built there?"
  command -v make >/dev/null || die "building the kernel driver needs make and a C compiler"
  # Always the same folder, so that a second run builds the same bytes (the driver's file
  # names go into it) and finds nothing to install.
  build=$root$program_dir/driver-build
  rm -rf "$build"
  mkdir -p "$build"
  trap 'rm -rf "$build"' EXIT
  cp "$here/src/qrxvxd-$version"/* "$build"/
  if ! make -C "$build" KDIR="$kernel_tree" >"$build/build.log" 2>&1; then
    tail -n 20 "$build/build.log" >&2
    die "the kernel driver does not build for $release (the whole output: make -C $prefix/src/qrxvxd-$version KDIR=$kernel_tree)"
  fi
  module=/lib/modules/$release/extra/qrxvxd.ko
  if ! cmp -s "$build/qrxvxd.ko" "$root$module"; then
    copy "$build/qrxvxd.ko" "$module" 644
    if command -v depmod >/dev/null; then
      if [ -n "$root" ]; then depmod -b "$root" "$release"; else depmod "$release"; fi
    fi
  fi
  note "file $module"
  rm -rf "$build"
  trap - EXIT
  say "built the kernel driver for $release: $module"
  # On a K6 running this kernel it loads now; elsewhere it refuses (and loads at no boot).
  if [ -z "$root" ] && [ "$release" = "$(uname -r)" ] && command -v modprobe >/dev/null; then
    modprobe qrxvxd 2>/dev/null && say "loaded it: /dev/qrxvxd is ready" ||
      say "it did not load: it serves AMD K6-family processors only (see dmesg)"
  fi
}

uninstall_all() {
  [ -f "$manifest" ] || { say "nothing to take away: no $manifest"; return; }
  releases=
  while read -r kind path; do
    case $kind in
    file)
      rm -f "$root$path"
      case $path in /lib/modules/*/extra/qrxvxd.ko)
        release=${path#/lib/modules/}
        releases="$releases ${release%%/*}"
        ;;
      esac
      ;;
    dir) rm -rf "${root:?}$path" ;;
    group)
      # The group stays while it has members: they were added by hand, and go by hand.
      if [ -n "$root" ]; then members=$(sed -n 's/^quorix:[^:]*:[^:]*://p' "$root/etc/group" 2>/dev/null)
      else members=$(getent group quorix | cut -d: -f4); fi
      if [ -n "$members" ]; then
        say "group quorix stays: it has members ($members)"
      elif [ -n "$root" ]; then
        sed -i '/^quorix:/d' "$root/etc/group"
      elif command -v groupdel >/dev/null; then
        groupdel quorix 2>/dev/null || say "group quorix stays (it could not be removed)"
      elif command -v delgroup >/dev/null; then
        delgroup quorix 2>/dev/null || true
      fi
      ;;
    esac
  done <"$manifest"
  for release in $releases; do
    if command -v depmod >/dev/null && [ -d "$root/lib/modules/$release" ]; then
      if [ -n "$root" ]; then depmod -b "$root" "$release"; else depmod "$release"; fi
    fi
    rmdir "$root/lib/modules/$release/extra" 2>/dev/null || true
  done
  rm -f "$manifest"
  rm -rf "$root$program_dir/driver-build"
  rmdir "$root$program_dir" "$root$prefix/src" "$root$prefix/share/man/man1" \
    "$root$prefix/share/man/man4" 2>/dev/null || true
  if [ -z "$root" ] && [ -d /run/udev ] && command -v udevadm >/dev/null; then
    udevadm control --reload-rules || true
  fi
  say "took Quorix $version away from $root$prefix (a loaded driver stays loaded until the next boot)"
}

if [ $uninstall -eq 1 ]; then uninstall_all; else install_all; fi
