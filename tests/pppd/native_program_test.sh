#!/usr/bin/env bash
# The native program, over the system's own pppd roots, where there is nothing to dial: an empty
# peers directory, and pppd missing. Each run happens in a private mount namespace whose tmpfs
# mounts hide the machine's own /etc/ppp/peers and /usr/sbin, so the machine is never touched.
# Exits 77 (skipped) where mount namespaces cannot be had.
set -u
adsl=$1
if [ "$(id -u)" -ne 0 ] || ! unshare --mount --propagation private true 2>/dev/null; then
  echo "needs root and mount namespaces"
  exit 77
fi

gbk() { printf '%s' "$1" | iconv -f UTF-8 -t CP936; }
# Text mode: every LF the program writes reaches a pipe or file as CR LF.
expected=$(mktemp) actual=$(mktemp)
trap 'rm -f "$expected" "$actual"' EXIT
{
  gbk $'┏                欢迎使用Qov自动ADSL拨号             ┓\r\n┠──────────────────────────┨\r\n'
  gbk $'账号：acc@isp\r\n密码：p w\r\n提示：正在进行拨号。。。。\r\n提示：拨号失败！\r\n提示：程序将在3秒后自动退出！\r\n'
} | sed 's/\r$/\r\r/' >"$expected"

status=0
run() {
  local name=$1 setup=$2
  unshare --mount --propagation private bash -c "$setup && exec \"\$0\" acc@isp 'p w'" "$adsl" \
    >"$actual" 2>/dev/null </dev/null
  local code=$?
  if [ $code -ne 0 ]; then echo "FAIL $name: exit code $code"; status=1; fi
  if ! cmp -s "$expected" "$actual"; then
    echo "FAIL $name: output differs"; diff <(od -c "$expected") <(od -c "$actual") | head -20; status=1
  else
    echo "ok   $name"
  fi
}

run "empty peers directory" "mkdir -p /etc/ppp/peers && mount -t tmpfs none /etc/ppp/peers"
run "pppd missing" "mkdir -p /etc/ppp/peers && mount -t tmpfs none /etc/ppp/peers && printf 'noauth\n' >/etc/ppp/peers/dsl-provider && mount -t tmpfs none /usr/sbin"
exit $status
