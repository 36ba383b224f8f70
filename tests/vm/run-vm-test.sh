#!/usr/bin/env bash
# Dials a real PPPoE link with the native adsl: boots Debian's own kernel under qemu (software
# emulation, no network card) from an initramfs of Debian packages plus the program, runs the
# scenarios of init.sh against pppoe-server on a veth pair inside the VM, and judges the RESULT lines
# it prints on the serial console.
#   run-vm-test.sh --work-dir DIR (--source-dir DIR | --adsl BINARY)
# --source-dir builds the release preset there and tests its adsl; --adsl tests the given binary.
# Exit 0: every scenario passed; 1: a scenario failed (the serial log is shown); 77: skipped, because
# qemu is not installed or the Debian packages cannot be fetched.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work= source_dir= adsl=
while [ $# -gt 0 ]; do
  case $1 in
    --work-dir) work=$2; shift 2 ;;
    --source-dir) source_dir=$2; shift 2 ;;
    --adsl) adsl=$2; shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
[ -n "$work" ] && { [ -n "$source_dir" ] || [ -n "$adsl" ]; } || {
  echo "usage: $0 --work-dir DIR (--source-dir DIR | --adsl BINARY)" >&2; exit 2; }
mkdir -p "$work"
work=$(realpath "$work")
cache=$work/cache
run=$work/run

# Every scenario, in the order init.sh runs them; each must print "RESULT <name> PASS".
scenarios=(baseline-pppd 1-right-password isolation 2-redial-with-link-up 3-wrong-password 4-pap
           5-no-peers-entry)

skip() { echo "SKIPPED: $*"; exit 77; }
command -v qemu-system-x86_64 >/dev/null ||
  skip "qemu-system-x86_64 is not installed (tools/install-deps.sh all installs qemu-system-x86)"
for tool in iconv base64 timeout realpath; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

if [ -z "$adsl" ]; then
  echo "Building the release preset"
  (cd "$source_dir" && cmake --preset native-release >/dev/null && cmake --build --preset native-release) ||
    { echo "the release build failed" >&2; exit 1; }
  adsl=$source_dir/build/native-release/adsl
fi
adsl=$(realpath "$adsl")
[ -x "$adsl" ] || { echo "no program at $adsl" >&2; exit 1; }

status=0
bash "$here/stage.sh" "$cache" || status=$?
[ "$status" -eq 77 ] && skip "the Debian packages for the VM cannot be fetched"
[ "$status" -eq 0 ] || { echo "staging the VM failed" >&2; exit 1; }
stage=$cache/stage
busybox=$stage/bin/busybox

# The second archive: /init, the program with the libraries it loads (from the staged packages, never
# the host's), and the fixed console texts as the program must write them to a file.
rm -rf "$run"
overlay=$run/overlay
mkdir -p "$overlay/usr/bin" "$overlay/expect"
cp "$here/init.sh" "$overlay/init"
chmod 755 "$overlay/init"
cp "$adsl" "$overlay/usr/bin/adsl"
libraries=$(bash "$here/stage.sh" "$cache" --libraries "$adsl") || {
  echo "the libraries of $adsl cannot all be found in the staged Debian packages" >&2; exit 1; }
for library in $libraries; do
  mkdir -p "$overlay/$(dirname "$library")"
  cp -L "$stage/$library" "$overlay/$library"
done
gbk() { printf "$1" | iconv -f UTF-8 -t CP936; }
gbk '账号：' >"$overlay/expect/account"
gbk '密码：' >"$overlay/expect/password"
gbk '提示：当前已经连接，将重新拨号！\r\r\n' >"$overlay/expect/connected"
gbk '提示：正在进行拨号。。。。\r\r\n' >"$overlay/expect/dialing"
gbk '提示：拨号成功！\r\r\n' >"$overlay/expect/success"
gbk '提示：拨号失败！\r\r\n' >"$overlay/expect/failure"
gbk '提示：程序将在3秒后自动退出！\r\r\n' >"$overlay/expect/closing"
(cd "$overlay" && find . | LC_ALL=C sort | "$busybox" cpio -o -H newc 2>/dev/null) >"$run/overlay.cpio"
# The kernel unpacks concatenated archives in order; uncompressed, nothing has to be inflated under
# emulation.
cat "$cache/base.cpio" "$run/overlay.cpio" >"$run/initrd"

echo "Booting the VM (software emulation)"
serial=$run/serial.log
start=${EPOCHREALTIME/./}
# Each serial line gets the seconds since qemu started, so the log itself holds the timings.
timeout 600 qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nic none -no-reboot \
    -display none -serial stdio -monitor none \
    -kernel "$cache/vmlinuz" -initrd "$run/initrd" -append 'console=ttyS0 quiet panic=-1' \
    </dev/null 2>"$run/qemu.err" |
  while IFS= read -r line || [ -n "$line" ]; do
    elapsed=$((${EPOCHREALTIME/./} - start))
    printf '[%4d.%02d] %s\n' $((elapsed / 1000000)) $((elapsed % 1000000 / 10000)) "${line%$'\r'}"
  done >"$serial" || true

# The serial log with each transcript decoded from base64 and code page 936, line ends made visible.
readable_log() {
  local line name= data=
  while IFS= read -r line; do
    case ${line#\[*\] } in
      "TRANSCRIPT "*) name=${line#*TRANSCRIPT }; data= ;;
      END-TRANSCRIPT)
        echo "transcript of run $name (CP936 decoded; CR shown as \\r):"
        printf '%s' "$data" | base64 -d | iconv -f CP936 -t UTF-8 | sed 's/\r/\\r/g; s/^/    | /'
        name= ;;
      *) if [ -n "$name" ]; then data+=${line#\[*\] }; else printf '%s\n' "$line"; fi ;;
    esac
  done <"$serial"
}

failures=()
for scenario in "${scenarios[@]}"; do
  grep -q "^\[[ 0-9.]*\] RESULT $scenario PASS\$" "$serial" || failures+=("$scenario")
done
grep -q '^\[[ 0-9.]*\] ALL-DONE$' "$serial" || failures+=("(the VM did not finish its run)")
if grep -q '^\[[ 0-9.]*\] RESULT .* FAIL' "$serial"; then
  failures+=("$(grep '^\[[ 0-9.]*\] RESULT .* FAIL' "$serial" | sed 's/^\[[ 0-9.]*\] //' | paste -sd';')")
fi

if [ ${#failures[@]} -gt 0 ]; then
  echo "=== serial console"
  readable_log
  echo "=== qemu's standard error"
  cat "$run/qemu.err"
  echo "FAILED: ${failures[*]}"
  exit 1
fi

echo "=== results"
grep -e '] RESULT ' -e '] BENCH ' -e '] peers in ' "$serial"
last_result=$(grep '] RESULT ' "$serial" | tail -n 1 | sed 's/^\[ *\([0-9.]*\)\].*/\1/')
echo "BENCH qemu start to the last RESULT line: $last_result s"
echo "BENCH qemu start to the end of the run (benchmark included): $(grep '] ALL-DONE$' "$serial" |
  sed 's/^\[ *\([0-9.]*\)\].*/\1/') s"
