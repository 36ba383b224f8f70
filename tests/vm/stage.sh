#!/usr/bin/env bash
# Fetches the Debian packages the test VM is made of and turns them into a kernel image and a base
# initramfs archive, all cached in CACHE_DIR: a second run fetches and unpacks nothing.
#   stage.sh CACHE_DIR
#   stage.sh CACHE_DIR --libraries BINARY   prints the staged libraries BINARY loads, relative to stage
# Leaves CACHE_DIR/vmlinuz, CACHE_DIR/base.cpio and CACHE_DIR/stage (the unpacked packages, against
# which the program under test resolves its libraries). Exit 77: the packages cannot be fetched.
set -euo pipefail

cache=$(realpath -m "$1")
stage=$cache/stage
root=$cache/root

# Packages of the base image. The libraries are those that pppd, pppoe, pppoe-server and ip need, plus
# the C++ runtime that the program under test needs; resolve_libraries fails if one is missing.
packages=(busybox-static ppp pppoe iproute2
          libc6 libcrypt1 libpam0g libpcap0.8 libssl3 libsystemd0 libaudit1 libbpf1 libbsd0 libcap-ng0
          libcap2 libdbus-1-3 libelf1 libgcrypt20 libgpg-error0 liblz4-1 liblzma5 libmd0 libmnl0
          libzstd1 zlib1g libstdc++6 libgcc-s1)
# Loaded in this order: the kernel package ships no modules.dep, so busybox insmod gets them one by one.
modules=(drivers/net/slip/slhc.ko drivers/net/ppp/ppp_generic.ko drivers/net/ppp/ppp_async.ko
         drivers/net/ppp/pppox.ko drivers/net/ppp/pppoe.ko drivers/net/veth.ko)
programs=(usr/sbin/pppd usr/sbin/pppoe usr/sbin/pppoe-server bin/ip usr/lib/pppd/2.4.9/pppoe.so)

# Each library a binary loads, resolved by the staged dynamic loader against the staged library
# folders. A library found anywhere else (the host) or not at all is an error: the image would
# carry the host's copy, or lack one.
resolve_libraries() {
  local binary=$1 listing
  listing=$("$stage/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2" \
    --library-path "$stage/lib/x86_64-linux-gnu:$stage/usr/lib/x86_64-linux-gnu" --list "$binary") || {
    echo "cannot list the libraries of $binary" >&2; return 1; }
  local bad
  bad=$(printf '%s\n' "$listing" | grep -e '=> not found' -e '=> /' | grep -v -F "=> $stage/" || true)
  if [ -n "$bad" ]; then
    printf 'libraries of %s that are not in the staged packages:\n%s\n' "$binary" "$bad" >&2
    return 1
  fi
  printf '%s\n' "$listing" | sed -n "s|.*=> $stage/\([^ ]*\) .*|\1|p"
}

if [ "${2:-}" = --libraries ]; then
  bash "$0" "$cache" || exit
  resolve_libraries "$(realpath "$3")"
  exit
fi

# A change to this script or to the package list rebuilds the cache.
recipe=$( { cat "$0"; printf '%s\n' "${packages[@]}"; } | sha256sum | cut -d' ' -f1)
if [ -f "$cache/stamp" ] && [ "$(cat "$cache/stamp")" = "$recipe" ] &&
   [ -f "$cache/vmlinuz" ] && [ -f "$cache/base.cpio" ]; then
  exit 0
fi

skip() { echo "SKIPPED: $*" >&2; exit 77; }
for tool in apt-get apt-cache dpkg-deb tar sha256sum; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done

apt_options=()
[ "$(id -u)" -ne 0 ] || apt_options=(-o APT::Sandbox::User=root)

kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null | awk '/Depends: linux-image-[0-9]/ { print $2; exit }'
}

# Downloads into a fresh folder and only then replaces the cached one, so an interrupted fetch never
# leaves a half set behind.
fetch() {
  local kernel
  kernel=$(kernel_package)
  [ -n "$kernel" ] || return 1
  rm -rf "$cache/debs.partial"
  mkdir -p "$cache/debs.partial"
  (cd "$cache/debs.partial" && apt-get "${apt_options[@]}" -q download "$kernel" "${packages[@]}") >&2 ||
    return 1
  rm -rf "$cache/debs"
  mv "$cache/debs.partial" "$cache/debs"
}

if [ ! -f "$cache/debs/complete" ]; then
  mkdir -p "$cache"
  if ! fetch; then
    # Package lists may be missing or stale (a new kernel version replaces the old one in the archive).
    [ "$(id -u)" -eq 0 ] && apt-get -q update >&2 || true
    fetch || skip "the Debian packages cannot be fetched (apt-get download failed)"
  fi
  touch "$cache/debs/complete"
fi

echo "Unpacking the packages into $stage" >&2
rm -rf "$stage" "$root"
mkdir -p "$stage"
for deb in "$cache"/debs/*.deb; do
  case $(basename "$deb") in
    linux-image-*)
      # 400 MB of modules unpacked would be thrown away: take only the kernel and the six modules.
      patterns=(./boot/vmlinuz-\*)
      for module in "${modules[@]}"; do patterns+=("./lib/modules/*/kernel/$module"); done
      dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$stage" --wildcards "${patterns[@]}" ;;
    *) dpkg-deb -x "$deb" "$stage" ;;
  esac
done

# Copies paths (relative to the staging root) into the image, following symbolic links, so every
# library lands as a real file under the name the loader asks for.
copy_into() {
  local to=$1; shift
  local path
  for path in "$@"; do
    mkdir -p "$to/$(dirname "$path")"
    cp -L "$stage/$path" "$to/$path"
  done
}

echo "Building the base image" >&2
mkdir -p "$root"/{bin,sbin,usr/bin,usr/sbin,lib64,dev,proc,sys,run,tmp,var,etc,srv}
ln -s /run "$root/var/run"
ln -s /run/lock "$root/var/lock"
cp "$stage/bin/busybox" "$root/bin/busybox"
libraries=()
for program in "${programs[@]}"; do
  mapfile -t -O "${#libraries[@]}" libraries < <(resolve_libraries "$stage/$program")
done
copy_into "$root" "${programs[@]}" $(printf '%s\n' "${libraries[@]}" | sort -u)
ln -s pppoe.so "$root/usr/lib/pppd/2.4.9/rp-pppoe.so"
ln -s /bin/ip "$root/sbin/ip"
ln -s /lib/x86_64-linux-gnu/ld-linux-x86-64.so.2 "$root/lib64/ld-linux-x86-64.so.2"
# The applet links go where busybox would put them, except where a real program of the image lives.
# They come after the programs: copying onto a link would follow it out of the image.
"$stage/bin/busybox" --list-full | while read -r applet; do
  [ -e "$root/$applet" ] || [ -L "$root/$applet" ] && continue
  mkdir -p "$root/$(dirname "$applet")"
  ln -s /bin/busybox "$root/$applet"
done
kernel_release=$(ls "$stage/lib/modules")
for module in "${modules[@]}"; do
  copy_into "$root" "lib/modules/$kernel_release/kernel/$module"
done
# Debian's own /etc/ppp (options with its `auth`, ip-up and friends) is what a real client has.
cp -a "$stage/etc/ppp" "$root/etc/ppp"
printf 'root:x:0:0:root:/root:/bin/sh\n' > "$root/etc/passwd"
printf 'root:x:0:\ndip:x:30:\n' > "$root/etc/group"

(cd "$root" && find . | LC_ALL=C sort | "$stage/bin/busybox" cpio -o -H newc) > "$cache/base.cpio.new" 2>/dev/null
mv "$cache/base.cpio.new" "$cache/base.cpio"
rm -rf "$root"
cp "$stage"/boot/vmlinuz-* "$cache/vmlinuz"
echo "$recipe" > "$cache/stamp"
