#!/bin/sh
# run-case.sh BIN_DIR CASE_DIR NAME
# The report of the umockdev testbed NAME.umockdev, whose /dev/ttyACM0 plays NAME.script,
# from a copy of the built host whose USB modem family table lists NAME.family.json, against
# NAME.expected.json.
set -eu
# The report locks the modem's port in /run/lock (or /var/lock). Where a mount namespace can
# be had (root), the case runs with lock directories of its own, so it never meets this
# machine's lock files or another run's.
if [ -z "${XR_CASE_PRIVATE_LOCKS:-}" ] && unshare -m true 2>/dev/null; then
  XR_CASE_PRIVATE_LOCKS=1 exec unshare -m --propagation private sh -c '
    for d in /run/lock /var/lock; do
      if [ -d "$d" ] && [ ! -L "$d" ]; then mount -t tmpfs tmpfs "$d"; fi
    done
    exec "$0" "$@"' "$0" "$@"
fi
bin=$1 dir=$2 name=$3
host=$(mktemp -d)
trap 'rm -rf "$host"' EXIT
cp -r "$bin/xrreport" "$bin/xrdrvxstat" "$bin/XRModem.xrplugin" "$host/"
cp "$dir/$name.family.json" "$host/usb-modem-family.json"
# The preload library comes after the sanitizer's runtime in a sanitizer build.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
umockdev-run -d "$dir/$name.umockdev" -s "/dev/ttyACM0=$dir/$name.script" -- "$host/xrreport" --format json \
  >"$host/report.json"
diff -u "$dir/$name.expected.json" "$host/report.json"
