# Sourced by the installers.
#
# apt_update refreshes Debian's package lists, trying again while a mirror is part-way through
# a sync (a list then fails its size or hash check). If some list still fails, it carries on
# with the lists it has and sets apt_lists_incomplete=1.
#
# apt_install installs packages. With incomplete lists, a package of one architecture can be
# newer than its other half's list offers (the security suite's i386 list missing, say), and
# apt then finds no solution; the release's own suite alone is consistent, so it tries that.
apt_lists_incomplete=0

apt_update() {
  local attempts=3 pause_s=20 n
  for ((n = 1; n <= attempts; n++)); do
    apt-get update -qq && return 0
    [ "$n" -lt "$attempts" ] && sleep "$pause_s"
  done
  echo "warning: some package lists could not be refreshed; going on with the others" >&2
  apt_lists_incomplete=1
}

apt_install() {
  apt-get install -y -qq --no-install-recommends "$@" && return 0
  [ "$apt_lists_incomplete" = 1 ] || return 1
  local release
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  echo "installing from $release's own suite, whose lists are complete" >&2
  apt-get install -y -qq --no-install-recommends -t "$release" "$@"
}
