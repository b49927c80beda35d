#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# build_depends_test.sh SOURCE_DIR BUILD_DIR: every system header that the installed program,
# libraries and plug-ins include (the compiler's record of this Ninja build, tests, benchmarks
# and fuzz targets left out) comes from a package that "scripts/setup" (no --test: what
# scripts/demo installs on a new machine) installs, itself or through its dependencies.
set -euo pipefail
source=$1 build=$2
fail() { echo "build_depends_test: $*" >&2; exit 1; }

headers=$(cd "$build" && ninja -t deps | awk '
  /^[^ ].*: #deps/ { object = $1; keep = object !~ /^(tests|bench|fuzz)\// ; next }
  keep && NF { print $1 }' | grep '^/' | grep -v -e "^$source/" -e "^$build/" | sort -u)
[ -n "$headers" ] || fail "no system header in the dependencies Ninja recorded in $build"
owners=$(xargs realpath -s <<<"$headers" | xargs dpkg -S | sed 's/: .*//' | tr ',' '\n' | sed 's/^ *//; s/:.*//' | sort -u)

mapfile -t base < <("$source/scripts/setup" --list)
installed=$(apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts \
  --no-breaks --no-replaces --no-enhances "${base[@]}" | grep -v '^ ' | sed 's/:.*//' | sort -u)
missing=$(comm -23 <(echo "$owners") <(echo "$installed"))
[ -z "$missing" ] || fail "headers come from packages scripts/setup does not install: $(echo $missing)"
