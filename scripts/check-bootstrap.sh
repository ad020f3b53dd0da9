#!/usr/bin/env bash
# Would scripts/bootstrap.sh be enough on a fresh Debian machine?
#
# A machine that already has packages hides a missing install step: the build
# finds them and passes. So this configures the whole project with CMake's
# trace, maps every CMake file the configure read from /usr to the Debian
# package that ships it, and fails, naming the package, when the bootstrap
# list neither names it nor pulls it in as a hard dependency (Depends or
# Pre-Depends; the bootstrap installs with --no-install-recommends).
#
# Usage: scripts/check-bootstrap.sh [extra CMake options]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
boot="$root/scripts/bootstrap.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Every optional part on, so that each package any of them reads is checked.
if ! cmake -S "$root" -B "$tmp/b" -G Ninja -DVEZE6_BUILD_TESTS=ON -DVEZE6_BUILD_BENCH=ON "$@" \
  --trace-expand >/dev/null 2>"$tmp/trace"; then
  echo "check-bootstrap: configure failed: $(grep -m1 -i -A3 'error' "$tmp/trace")"
  exit 1
fi

grep -o -E '/usr/[^ ()"]*\.cmake' "$tmp/trace" | grep -v -E '^/usr/share/cmake-[0-9.]+/' | sort -u |
  while read -r f; do
    [ -f "$f" ] || continue
    # A path dpkg does not know may be reached through a symbolic link.
    { dpkg -S "$f" 2>/dev/null || dpkg -S "$(readlink -f "$f")" 2>/dev/null; } | head -n1 | cut -d: -f1
  done | sort -u >"$tmp/used"

# The names inside the bootstrap's packages=( ... ) block.
sed -n '/^packages=(/,/^)/p' "$boot" | sed 's/#.*//' | tr -s ' ()\t' '\n' |
  grep -E '^[a-z0-9][a-z0-9.+-]+$' | grep -vx packages | sort -u >"$tmp/listed"

closure() {
  apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances $(cat "$tmp/listed") 2>/dev/null | grep -v '^ ' |
    sed 's/:amd64$//' | sort -u >"$tmp/closure"
}
closure
if [ ! -s "$tmp/closure" ] && [ "$(id -u)" -eq 0 ]; then
  apt-get update -qq >/dev/null && closure
fi
if [ ! -s "$tmp/closure" ]; then
  echo "check-bootstrap: cannot check without package lists (run apt-get update once)"
  exit 3
fi

missing=$(comm -23 "$tmp/used" "$tmp/closure")
if [ -n "$missing" ]; then
  echo "check-bootstrap: the configure reads CMake files from packages that scripts/bootstrap.sh would not install on a fresh machine:"
  for p in $missing; do
    echo "  $p ($(grep -o -E '/usr/[^ ()"]*\.cmake' "$tmp/trace" | sort -u |
      while read -r f; do dpkg -S "$f" 2>/dev/null | grep -q "^$p:" && echo "$f"; done | head -n1))"
  done
  echo "Add them to the packages list in scripts/bootstrap.sh."
  exit 1
fi
echo "check-bootstrap: the bootstrap covers every package the configure reads ($(wc -l <"$tmp/used") packages)"
