#!/usr/bin/env bash
# Runs a command of this project in a fresh clone inside a Debian system of
# another release, made with debootstrap from Debian's own packages and kept
# for the next run.
#   tools/test-on-debian.sh trixie                      the whole suite on Debian 13
#   tools/test-on-debian.sh testing tools/build.sh      the next Debian: build only
#   tools/test-on-debian.sh 13 tools/test.sh -R fetcher the command runs in the clone
#   tools/test-on-debian.sh --fresh trixie              make the system anew first
#   tools/test-on-debian.sh --keep trixie ...           reuse the last clone and its build
# RELEASE is a codename or suite (bookworm, trixie, testing, sid) or 12 or 13.
# The clone holds the working tree: HEAD plus every uncommitted change and
# new file that git does not ignore. Runs as root (debootstrap, mounts, chroot). The systems live in
# ZHIWEI_DEBIAN_ROOTS (/var/cache/zhiweige-debian); each run happens in a
# mount and process namespace of its own, so nothing it mounted or started
# is left when it ends, however it ends.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
fresh=0 keep=0
while [[ ${1:-} == --* ]]; do
    case $1 in
        --fresh) fresh=1 ;;
        --keep) keep=1 ;;
        *) break ;;
    esac
    shift
done
if (($# < 1)); then
    sed -n '2,16s/^# \?//p' "${BASH_SOURCE[0]}" >&2
    exit 2
fi
case $1 in
    12) release=bookworm ;;
    13) release=trixie ;;
    *) release=$1 ;;
esac
shift
command=("$@")
((${#command[@]})) || command=(tools/test.sh)

if [[ $(id -u) -ne 0 ]]; then
    exec sudo --preserve-env=ZHIWEI_DEBIAN_ROOTS,ZHIWEI_DEBIAN_MIRROR "$0" "$@"
fi

for tool in debootstrap unshare; do
    if ! command -v "$tool" >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
            --no-install-recommends debootstrap util-linux >/dev/null
    fi
done

# The mirror this machine's own apt uses, so that no other host is needed.
mirror=${ZHIWEI_DEBIAN_MIRROR:-}
if [[ -z $mirror ]]; then
    mirror=$(sed -n 's/^URIs: *\([^ ]*\).*/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null |
        grep -v security | head -n1 || true)
fi
if [[ -z $mirror ]]; then
    mirror=$(sed -n 's/^deb \+\(\[[^]]*\] \+\)\?\(http[^ ]*\) .*/\2/p' /etc/apt/sources.list 2>/dev/null |
        grep -v security | head -n1 || true)
fi
mirror=${mirror:-http://deb.debian.org/debian}

# Root's own folder: no other user can plant anything in a system we chroot into.
base=${ZHIWEI_DEBIAN_ROOTS:-/var/cache/zhiweige-debian}
install -d -m 0755 "$base"
system=$base/$release
exec {lock}>"$base/$release.lock"
if ! flock -n "$lock"; then
    echo "Waiting for another run on $release to end"
    flock "$lock"
fi

if findmnt -rn -o TARGET | grep -q "^$system\(/\|$\)"; then
    echo "test-on-debian.sh: something is still mounted under $system; unmount it first" >&2
    exit 1
fi

if ((fresh)) || [[ ! -f $system/.zhiwei-ready ]]; then
    rm -rf --one-file-system "$system"
    echo "Making a Debian $release system in $system from $mirror"
    script=()
    # An older debootstrap may not know the newest codename yet; testing's
    # script serves every release after bookworm.
    [[ -e /usr/share/debootstrap/scripts/$release ]] || script=(/usr/share/debootstrap/scripts/testing)
    debootstrap --variant=minbase --include=ca-certificates,git,sudo,locales \
        "$release" "$system" "$mirror" "${script[@]}" >"$base/$release.debootstrap.log" 2>&1 || {
        tail -n 30 "$base/$release.debootstrap.log" >&2
        echo "test-on-debian.sh: debootstrap of $release failed (whole log: $base/$release.debootstrap.log)" >&2
        exit 1
    }
    # Installing a package must not start its daemon in here.
    printf '#!/bin/sh\nexit 101\n' >"$system/usr/sbin/policy-rc.d"
    chmod 755 "$system/usr/sbin/policy-rc.d"
    # The mirror's copy of testing can lag behind its Release file's date.
    echo 'Acquire::Check-Valid-Until "false";' >"$system/etc/apt/apt.conf.d/99zhiwei-valid-until"
    touch "$system/.zhiwei-ready"
fi
cp /etc/resolv.conf "$system/etc/resolv.conf"

# A fresh clone of the working tree as it is: HEAD, and on top of it a
# commit of every change and new file that git does not ignore.
clone=/root/zhiweige
index=$(mktemp)
cp "$(git -C "$root" rev-parse --path-format=absolute --git-path index)" "$index"
GIT_INDEX_FILE=$index git -C "$root" add -A
tree=$(GIT_INDEX_FILE=$index git -C "$root" write-tree)
rm -f "$index"
revision=$(git -C "$root" rev-parse HEAD)
if [[ $tree != $(git -C "$root" rev-parse 'HEAD^{tree}') ]]; then
    revision=$(git -C "$root" commit-tree "$tree" -p HEAD -m "The working tree")
fi
if ((!keep)) || [[ ! -d $system$clone/.git ]]; then
    rm -rf --one-file-system "$system$clone"
    git clone --quiet --no-checkout "$root" "$system$clone"
fi
git -C "$system$clone" fetch --quiet "$root" "$revision"
git -C "$system$clone" -c advice.detachedHead=false checkout --quiet "$revision"
echo "Running ${command[*]} on Debian $release ($(cat "$system/etc/debian_version")), in $clone at $(git -C "$root" rev-parse --short HEAD)$([[ $revision == $(git -C "$root" rev-parse HEAD) ]] || echo ' with uncommitted changes')"

inner=$(printf '%q ' "${command[@]}")
# /proc is mounted anew for the new process namespace; / of the system is a
# mount point of its own, as unshare -m inside the tests needs.
exec unshare --mount --pid --fork --kill-child --propagation private bash -euo pipefail -c '
    system=$1
    inner=$2
    mount --rbind "$system" "$system"
    mount --make-rprivate "$system"
    mount -t proc proc "$system/proc"
    mount --rbind /sys "$system/sys"
    mount --rbind /dev "$system/dev"
    mount -t tmpfs -o mode=1777 tmpfs "$system/dev/shm"
    mount -t tmpfs -o mode=0755 tmpfs "$system/run"
    mkdir -p "$system/run/netns" "$system/run/user" "$system/run/lock"
    mount -t tmpfs -o mode=1777 tmpfs "$system/tmp"
    # As a booted system has them (systemd-tmpfiles): X servers started at
    # once would otherwise race to make the socket folder.
    mkdir -m 1777 "$system/tmp/.X11-unix" "$system/tmp/.ICE-unix"
    exec chroot "$system" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        ZHIWEI_FUZZ_SECONDS="${ZHIWEI_FUZZ_SECONDS:-60}" \
        bash -c "cd /root/zhiweige && $inner"
' test-on-debian "$system" "$inner"
