#!/usr/bin/env bash
# Makes a Debian 13 (trixie) root with Wine 10 once, outside the repository
# (PARVELO_DEBIAN13_ROOT, /var/lib/parvelo/debian13 unless told), for the
# end-to-end tests of recording the computer's sound (WASAPI loopback):
# Debian 12's Wine 8 accepts the loopback flag and delivers nothing, Wine 10
# captures what the default sink plays. The harness runs Windows programs
# under this root's Wine with bwrap (tests/e2e/harness.py, Session(wine10=True)).
#
# Idempotent: a root whose stamp names this package set is left as it is,
# at once. Anything else there (a half-made root, another package set) is
# removed and made again; the stamp is written only when everything is in.
# Commands inside the root run under bwrap, in a mount namespace of their
# own, so nothing stays mounted.
set -euo pipefail
source "$(dirname "$0")/apt.sh"

root=${PARVELO_DEBIAN13_ROOT:-/var/lib/parvelo/debian13}
suite=trixie
packages=(
  # Wine 10, both halves, and its sound through PulseAudio
  wine wine64 wine32:i386 libwine libpulse0 libpulse0:i386 pulseaudio-utils
  # OpenGL for wined3d (Direct3D and DirectDraw)
  libgl1 libglx-mesa0 libgl1-mesa-dri libgl1:i386 libglx-mesa0:i386 libgl1-mesa-dri:i386
  # the X extensions and font libraries Wine loads
  libxrandr2 libxrender1 libxcursor1 libxi6 libxcomposite1 libxinerama1 libxfixes3 libxxf86vm1
  libfreetype6 libfontconfig1
  libxrandr2:i386 libxrender1:i386 libxcursor1:i386 libxi6:i386 libxcomposite1:i386
  libxinerama1:i386 libxfixes3:i386 libxxf86vm1:i386 libfreetype6:i386 libfontconfig1:i386
  # the dialog's Ming face with SimSun's metrics
  fonts-arphic-uming
)
stamp=$root/.parvelo-ready
made_with="suite=$suite packages=${packages[*]}"
make_attempts=3
retry_pause_s=20

root_ready() { [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$made_with" ]; }
root_ready && exit 0

mkdir -p "$(dirname "$root")"
exec {lock}>"$root.lock"
flock "$lock"
root_ready && exit 0

# debian_mirror: the first mirror in the host's apt sources that serves the
# host's own release (its security and updates suites are other suites).
debian_mirror() {
  local release file mirror
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*; do
    [ -f "$file" ] || continue
    case $file in
      *.list)
        mirror=$(awk -v release="$release" \
          '$1 == "deb" { sub(/\[[^]]*\] */, ""); if ($3 == release) { print $2; exit } }' "$file") ;;
      *.sources)
        mirror=$(awk -v release="$release" '
          BEGIN { RS = ""; FS = "\n" }
          {
            types = uris = suites = ""; enabled = "yes"
            for (i = 1; i <= NF; i++) {
              if ($i ~ /^#/) continue
              key = tolower($i); sub(/:.*/, "", key)
              value = $i; sub(/^[^:]*:[ \t]*/, "", value)
              if (key == "types") types = value
              else if (key == "uris") uris = value
              else if (key == "suites") suites = value
              else if (key == "enabled") enabled = tolower(value)
            }
            if (enabled != "no" && (" " types " ") ~ / deb / && (" " suites " ") ~ (" " release " ")) {
              split(uris, first, " "); print first[1]; exit
            }
          }' "$file") ;;
      *) continue ;;
    esac
    if [ -n "$mirror" ]; then
      echo "$mirror"
      return
    fi
  done
  echo "debian13-root.sh: no mirror for $release in the host's apt sources" >&2
  return 1
}

# in_root <command...>: runs a command inside the root, as root with every
# capability (apt and dpkg change owners and drop privileges).
in_root() {
  bwrap --bind "$root" / --proc /proc --dev-bind /dev /dev \
    --ro-bind /etc/resolv.conf /etc/resolv.conf --cap-add ALL -- "$@"
}

# apt.sh's helpers run apt-get: here, the root's.
apt-get() { in_root apt-get "$@"; }

remove_root() {
  if awk -v root="$root" '$5 == root || index($5, root "/") == 1 { found = 1 } END { exit !found }' \
    /proc/self/mountinfo; then
    echo "debian13-root.sh: something is mounted under $root; unmount it first" >&2
    exit 1
  fi
  rm -rf "$root"
}

# make_root: one attempt, from nothing. debootstrap mounts /proc and /sys
# in the root while it works: in a mount namespace of its own.
make_root() {
  remove_root
  unshare -m debootstrap --variant=minbase --arch=amd64 "$suite" "$root" "$mirror" || return 1
  in_root dpkg --add-architecture i386 || return 1
  apt_lists_incomplete=0
  apt_update
  # The root knows only the release's own suite: nothing to fall back on.
  [ "$apt_lists_incomplete" = 0 ] || return 1
  apt_install "${packages[@]}" || return 1
  apt-get clean || return 1
  echo "$made_with" >"$stamp"
}

mirror=$(debian_mirror)
export DEBIAN_FRONTEND=noninteractive
for ((attempt = 1; ; attempt++)); do
  make_root && break
  if [ "$attempt" -ge "$make_attempts" ]; then
    remove_root
    echo "debian13-root.sh: could not make the Debian 13 root at $root" >&2
    exit 1
  fi
  sleep "$retry_pause_s"
done
echo "Debian 13 root with $(in_root wine --version) made at $root in $SECONDS s ($(du -sh "$root" | cut -f1))"
