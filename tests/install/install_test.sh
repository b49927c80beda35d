#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# install_test.sh BUILD_DIR BINDIR PLUGINDIR LIBEXECDIR DATADIR MANDIR DATAROOTDIR: "cmake
# --install" into a fresh prefix (the directories are the build's, relative to the prefix; the
# last four those of xrreport's own files, cmake/XrInstall.cmake), then, with no environment
# set, the installed xrreport reports on an installed example and lists both plug-ins; moved
# elsewhere, it still does. No installed file holds a path of the build tree, every RUNPATH is
# relative to its binary, the man page formats without warnings and lists the options of
# --help, and the bash completion completes.
set -euo pipefail
build=$(cd "$1" && pwd)
bindir=$2 plugindir=$3 libexecdir=$4 datadir=$5 mandir=$6 datarootdir=$7
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "install_test: $*" >&2; exit 1; }

# Under a umask that leaves files group-writable, as some users' does: the modes must not follow it.
(umask 0002 && cmake --install "$build" --prefix "$work/first" --strip >/dev/null)
prefix=$work/first
writable=$(find "$prefix" ! -type l -perm /022)
[ -z "$writable" ] || fail "installed with the installer's umask: $writable"
# What the checks below do not use: the program, the plug-ins and their string tables, the
# examples, the man page and the completion are used by them.
for f in "$libexecdir/modemsim" "$libexecdir/xrdrvxstat" "$datadir/usb-modem-family.json" \
  "$datarootdir/doc/xrreport/copyright"; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done

# A report and the plug-in list, from / with nothing in the environment.
check_runs() {
  local prefix=$1 example=$1/$datadir/examples/serial-pellan out
  out=$(cd / && env -i "$prefix/$bindir/xrreport" --machine "$example") || fail "xrreport in $prefix failed"
  [ "$out" = "$(cat "$example/expected.txt")" ] || fail "report from $prefix differs: $out"
  # A Linux machine's profile has its drivers listed by the installed lister's code.
  out=$(cd / && env -i "$prefix/$bindir/xrreport" --machine "$prefix/$datadir/examples/linux-ports") ||
    fail "xrreport in $prefix failed on linux-ports"
  grep -qF 6.1.0-28 <<<"$out" || fail "no driver version in the linux-ports report from $prefix: $out"
  out=$(cd / && env -i "$prefix/$bindir/xrreport" --version) || fail "xrreport --version in $prefix failed"
  for bundle in XRModem XRModemPorts; do
    grep -qF " $prefix/$plugindir/$bundle.xrplugin" <<<"$out" || fail "--version from $prefix: $out"
  done
}
check_runs "$prefix"
mv "$prefix" "$work/moved"
prefix=$work/moved
check_runs "$prefix"

# Sanitizer builds keep their source locations (UBSan's reports name the headers, which come
# from the build tree's include directories); they are never installed for use.
sanitize=$(sed -n 's/^XR_SANITIZE:[A-Z]*=//p' "$build/CMakeCache.txt")
if [ -z "$sanitize" ] && grep -rlF -e "$build" "$prefix"; then
  fail "installed files above name the build tree $build"
fi
while IFS= read -r -d '' f; do
  head -c4 "$f" | grep -q ELF || continue
  runpath=$(readelf -d "$f" | sed -n 's/.*R\(UN\)\{0,1\}PATH.*\[\(.*\)\]/\2/p')
  for entry in ${runpath//:/ }; do
    [[ $entry == '$ORIGIN'* ]] || fail "$f has the RUNPATH entry $entry"
  done
done < <(find "$prefix" -type f -print0)

warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$prefix/$mandir/man1/xrreport.1.gz" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page: $warnings"
# Its OPTIONS section lists the options --help shows ("  -h,--help  Print..."), no more, no fewer.
help_options=$(env -i "$prefix/$bindir/xrreport" --help | grep -E '^  -' | awk '{print $1}' | tr ',' '\n' | sort)
man_options=$(zcat "$prefix/$mandir/man1/xrreport.1.gz" |
  awk '/^\.SH/ {options = ($0 == ".SH OPTIONS")} options && previous == ".TP" {print} {previous = $0}' |
  grep -oE '\\-(\\-)?[a-z][-a-z]*' | tr -d '\\' | sort)
[ -n "$help_options" ] && [ "$help_options" = "$man_options" ] ||
  fail "options in --help and the man page differ: $help_options / $man_options"

# The completion: --format completes its two values, --machine directories only.
mkdir -p "$work/profiles/one" && touch "$work/profiles/file"
completions=$(cd "$work/profiles" && bash -c '
  source "$1"
  complete_words() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _xrreport; echo "${COMPREPLY[*]}"; }
  complete_words xrreport --format ""
  complete_words xrreport --format = j
  complete_words xrreport --machine ""
  complete_words xrreport --tr' _ "$prefix/$datarootdir/bash-completion/completions/xrreport")
[ "$completions" = $'text json\njson\none\n--trace' ] || fail "completions: $completions"
