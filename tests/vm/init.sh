#!/bin/sh
# /init of the test VM (busybox sh). Builds a PPPoE access concentrator and a client in two network
# namespaces joined by a veth pair, dials through /usr/bin/adsl and prints one RESULT line a scenario
# on the serial console, then powers the VM off. The host reads the verdict from those lines.
#
# The server lives in its own mount namespace with its own /run and /etc/ppp: both pppds would
# otherwise write /run/ppp0.pid (unit numbers are per network namespace), and a dialer that hangs up
# every connection it finds there would kill the server's side of the link.

export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t devtmpfs devtmpfs /dev
exec </dev/console >/dev/console 2>&1
# What udev adds to every Debian system's /dev; pppd reads options from /dev/fd/N.
ln -s /proc/self/fd /dev/fd
ln -s /proc/self/fd/0 /dev/stdin
ln -s /proc/self/fd/1 /dev/stdout
ln -s /proc/self/fd/2 /dev/stderr
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
mkdir -p /run/lock

# busybox sh runs its own applet before any program of that name; its ip knows no network namespaces.
IP=/sbin/ip
SERVER_ADDRESS=10.64.0.1
POOL_FIRST=10.64.0.2
# Two accounts: a plain one, and one whose password holds every character with a meaning of its own
# in pppd's word syntax (blank, double quote, backslash, comment sign), so that it only gets through if
# the dialer quotes it.
ACCOUNT1=adsl0001
PASSWORD1=pw0001
ACCOUNT2=053712345678@163.gd
PASSWORD2='pa ss"w\rd#1'

die() {
  echo "RESULT setup FAIL: $*"
  dmesg | tail -n 30
  cat /tmp/messages 2>/dev/null
  poweroff -f
}

# Hundredths of a second since boot; busybox date has no sub-second format.
now_cs() {
  local up fraction
  read -r up _ </proc/uptime
  fraction=${up#*.}
  echo $((${up%.*} * 100 + ${fraction#0}))
}
seconds() {
  if [ "$1" -lt 0 ]; then echo "(none)"; else printf '%d.%02d' $(($1 / 100)) $(($1 % 100)); fi
}

# wait_until TENTHS COMMAND...: polls COMMAND every 0.1 s, false once TENTHS polls have failed.
wait_until() {
  local tries=$1
  shift
  until "$@"; do
    [ "$tries" -gt 0 ] || return 1
    tries=$((tries - 1))
    sleep 0.1
  done
}

# Pids of the processes called $2 in network namespace $1.
pids_in() {
  local pid
  for pid in $($IP netns pids "$1"); do
    [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = "$2" ] && echo "$pid"
  done
}
count_in() { pids_in "$1" "$2" | wc -l; }
no_pppd_in() { [ -z "$(pids_in "$1" pppd)" ]; }
is_pppd() { [ "$(cat /proc/"$1"/comm 2>/dev/null)" = pppd ]; }

# pppd's own word syntax (options and secrets files): backslash and double quote escaped, in quotes.
ppp_word() { printf '"%s"' "$(printf '%s' "$1" | sed 's/[\\"]/\\&/g')"; }

client_address() {
  $IP -n cli -4 -o addr show | sed -n "s|.* inet \(10\.64\.0\.[0-9]*\) peer $SERVER_ADDRESS/32 .*|\1|p"
}
client_interface() { $IP -n cli -4 -o addr show | awk '/ inet 10\.64\.0\./ { print $2; exit }'; }

# The ppp interface of the client is up, with an address from the server's pool (four sessions).
link_up() {
  case $(client_address) in 10.64.0.[2-5]) ;; *) return 1 ;; esac
  $IP -n cli -o link show dev "$(client_interface)" | grep -q '<[^>]*LOWER_UP[^>]*>'
}
no_link() { [ -z "$(client_address)" ]; }
server_answers() { $IP netns exec cli ping -c 2 -W 2 "$SERVER_ADDRESS" >/dev/null 2>&1; }
server_listening() { server_running && [ "$($IP netns exec srv cat /proc/net/packet | wc -l)" -gt 1 ]; }
server_running() { [ "$(cat /proc/"$server_pid"/comm 2>/dev/null)" = pppoe-server ]; }

# The syslog lines, and the accounts the server let in, since mark_log.
mark_log() {
  log_mark=$(wc -l </tmp/messages)
  authenticated_mark=$(wc -l </tmp/authenticated)
}
server_let_in() { tail -n +$((authenticated_mark + 1)) /tmp/authenticated | grep -q -x -F "$1"; }
logged_since_mark() { tail -n +$((log_mark + 1)) /tmp/messages | grep -q -F "$1"; }
# The server's pppds in $server_pppd logged no signal since mark_log: a dialer that hangs up every
# pppd of the machine, not only its connections, would end the other side of the link.
server_not_signalled() {
  local pid
  [ -n "$server_pppd" ] || return 1
  for pid in $server_pppd; do
    ! logged_since_mark "pppd[$pid]: Terminating on signal" || return 1
  done
}
pppd_lines_since_mark() { tail -n +$((log_mark + 1)) /tmp/messages | grep -c 'pppd\['; }

start_server() {
  {
    echo "require-$1"
    echo "name pppoe-ac"
    # pppd's 3 s default restart timers would add seconds to every connect.
    echo "lcp-restart 1"
    echo "ipcp-restart 1"
  } >/srv/ppp/pppoe-server-options
  $IP netns exec srv /bin/sh -c "mount -t tmpfs tmpfs /run && mkdir /run/lock &&
    mount -o bind /srv/ppp /etc/ppp &&
    exec /usr/sbin/pppoe-server -F -I veth0 -L $SERVER_ADDRESS -R $POOL_FIRST -N 4 \
      -O /etc/ppp/pppoe-server-options" &
  server_pid=$!
  # A PADI sent before its packet socket is open is lost and costs the client a 5 s discovery retry.
  wait_until 100 server_listening || die "pppoe-server did not start"
}

stop_server() {
  kill "$server_pid"
  wait "$server_pid"
  wait_until 50 no_pppd_in srv || die "the server's pppd outlived pppoe-server"
}

# Ends the client's link from outside the program under test, as poff does, and waits until the
# server has seen it go.
hang_up_client() {
  for pid in $(pids_in cli pppd); do kill -TERM "$pid"; done
  wait_until 100 no_pppd_in cli || die "the client's pppd did not end on SIGTERM"
  wait_until 100 no_pppd_in srv || die "the server's pppd did not end after the client hung up"
}

# --- scenarios -------------------------------------------------------------------------------------
begin() {
  scenario=$1
  failed=
  mark_log
}
check() {
  local what=$1
  shift
  "$@" || failed="$failed [$what]"
}
finish() {
  if [ -z "$failed" ]; then
    echo "RESULT $scenario PASS"
  else
    echo "RESULT $scenario FAIL:$failed"
    any_failed=1
    echo "--- state after $scenario"
    ps
    $IP -n cli addr show
    ls -l /run
    tail -n 40 /tmp/messages
    echo "---"
  fi
}

# Runs the program under test in the client's namespace: run_adsl NAME ACCOUNT PASSWORD.
run_adsl() {
  out=/tmp/$1.out
  shift
  started=$(now_cs)
  timeout 60 $IP netns exec cli /usr/bin/adsl "$@" >"$out" 2>"$out.err"
  status=$?
  ended=$(now_cs)
  show_transcript "$out"
}

# Transcripts are code page 936 bytes: the host decodes them from base64 for the log.
show_transcript() {
  echo "TRANSCRIPT ${1##*/}"
  base64 "$1"
  echo "END-TRANSCRIPT"
  if [ -s "$1.err" ]; then
    echo "standard error of ${1##*/}:"
    cat "$1.err"
  fi
}

# The lines after the banner: the account and password echo, then the named fixed texts (files made on
# the host from the exact code page 936 bytes, each ending CR CR LF as a file receives CR LF).
expected_lines() {
  cat /expect/account
  printf '%s\r\r\n' "$1"
  cat /expect/password
  printf '%s\r\r\n' "$2"
  shift 2
  for text in "$@"; do cat "/expect/$text"; done
}

# transcript_is FILE ACCOUNT PASSWORD TEXT...: the file holds the two banner lines and then exactly
# these lines, nothing more.
transcript_is() {
  local file=$1 size total
  shift
  expected_lines "$@" >"$file.expected"
  size=$(($(wc -c <"$file.expected")))
  total=$(($(wc -c <"$file")))
  [ "$total" -ge "$size" ] || return 1
  tail -c "$size" "$file" | cmp -s - "$file.expected" || return 1
  [ "$(($(head -c $((total - size)) "$file" | tr -cd '\n' | wc -c)))" -eq 2 ]
}

list_seconds() { for value; do printf '%s ' "$(seconds "$value")"; done; }
# The mean of hundredths, in seconds; "(none)" when a dial did not come up.
mean() {
  local value sum=0
  for value; do
    [ "$value" -ge 0 ] || { echo "(none)"; return; }
    sum=$((sum + value))
  done
  seconds $((sum / $#))
}

# since LATER EARLIER: the hundredths between them, -1 when there is no later time.
since() { if [ "$1" -lt 0 ]; then echo -1; else echo $(($1 - $2)); fi; }

# When the link came up: the time pppd ran ip-up (client side only) for the first time since $1.
link_up_time() {
  local stamp whole fraction cs
  while read -r stamp _; do
    whole=${stamp%.*}
    fraction=${stamp#*.}
    cs=$((whole * 100 + ${fraction#0}))
    if [ "$cs" -ge "$1" ]; then
      echo "$cs"
      return
    fi
  done </tmp/ip-up.log
  echo -1
}

# --- the machine -------------------------------------------------------------------------------------
release=$(uname -r)
for module in slhc ppp_generic ppp_async pppox pppoe veth; do
  insmod "$(find /lib/modules/"$release" -name "$module.ko")" || die "insmod $module"
done
syslogd -O /tmp/messages
$IP netns add srv && $IP netns add cli || die "ip netns add"
$IP link add veth0 type veth peer name veth1 || die "ip link add veth"
$IP link set veth0 netns srv && $IP link set veth1 netns cli || die "ip link set netns"
for ns in srv cli; do $IP -n "$ns" link set lo up; done
$IP -n srv link set veth0 up && $IP -n cli link set veth1 up || die "ip link set up"

# The server: its own /etc/ppp with the test accounts, bind-mounted over /etc/ppp in its namespace.
mkdir -p /srv/ppp
: >/srv/ppp/options
# pppd hands its scripts the name the peer authenticated with.
cat >/srv/ppp/ip-up <<'EOF'
#!/bin/sh
echo "$PEERNAME" >>/tmp/authenticated
EOF
chmod 755 /srv/ppp/ip-up
: >/tmp/authenticated
for secrets in chap-secrets pap-secrets; do
  {
    echo "$(ppp_word "$ACCOUNT1") * $(ppp_word "$PASSWORD1") *"
    echo "$(ppp_word "$ACCOUNT2") * $(ppp_word "$PASSWORD2") *"
  } >/srv/ppp/$secrets
  chmod 600 /srv/ppp/$secrets
done

# The client: Debian's /etc/ppp (options with `auth`, ip-up), no secrets for the test accounts, and
# the peers entry pppoeconf writes. A second entry, `provider` as Debian's ppp sets up for a modem,
# is created first so that the directory's own order differs from the byte order of the names.
for secrets in chap-secrets pap-secrets; do
  : >/etc/ppp/$secrets
  chmod 600 /etc/ppp/$secrets
done
mkdir -p /etc/ppp/peers
cat >/etc/ppp/peers/provider <<'EOF'
# example configuration for a dialup connection authenticated with PAP or CHAP
noauth
connect "/usr/sbin/chat -v -f /etc/chatscripts/provider"
/dev/modem
115200
defaultroute
noipdefault
user "myusername@realm"
remotename provider
ipparam provider
persist
usepeerdns
EOF
cat >/etc/ppp/peers/dsl-provider <<'EOF'
# Minimalistic default options file for DSL/PPPoE connections

noipdefault
defaultroute
replacedefaultroute
hide-password
#lcp-echo-interval 30
#lcp-echo-failure 4
noauth
persist
#mtu 1492
#persist
#maxfail 0
#holdoff 20
plugin rp-pppoe.so
nic-veth1
usepeerdns
user "username"
EOF
# The server's pppd starts only once the session is open, too late for the client's first LCP
# request: pppd's 3 s default restart timer would add 3 s to every dial.
printf 'lcp-restart 1\nipcp-restart 1\n' >>/etc/ppp/peers/dsl-provider
chmod 640 /etc/ppp/peers/*
echo "peers in directory order: $(find /etc/ppp/peers -mindepth 1 | tr '\n' ' ')"
# Debian's ip-up hands over to ip-up.local: it stamps the moment the client's link is up.
cat >/etc/ppp/ip-up.local <<'EOF'
#!/bin/sh
read -r up _ </proc/uptime
echo "$up $1 $4" >>/tmp/ip-up.log
EOF
chmod 755 /etc/ppp/ip-up.local
: >/tmp/ip-up.log

start_server chap
any_failed=

# Baseline: pppd alone, as pon would start it, with the same peers entry. Proves the link and gives
# the time the program under test is compared with.
begin baseline-pppd
started=$(now_cs)
$IP netns exec cli pppd call dsl-provider user "$ACCOUNT1" password "$PASSWORD1" updetach maxfail 1 \
  >/tmp/baseline.out 2>&1
status=$?
ended=$(now_cs)
check "pppd exit status 0 (got $status)" [ "$status" -eq 0 ]
check "link up with an address from the pool" link_up
check "the server answers a ping" server_answers
check "the server let the account in" server_let_in "$ACCOUNT1"
[ "$failed" ] && cat /tmp/baseline.out
finish
hang_up_client

begin 1-right-password
run_adsl 1 "$ACCOUNT1" "$PASSWORD1"
check "exit code 0 (got $status)" [ "$status" -eq 0 ]
check "transcript: echo, dialing, success, closing" \
  transcript_is "$out" "$ACCOUNT1" "$PASSWORD1" dialing success closing
check "link up with an address from the pool after adsl ended" link_up
check "the server answers a ping" server_answers
check "one pppd of the client" [ "$(count_in cli pppd)" -eq 1 ]
check "the server let the account in" server_let_in "$ACCOUNT1"
check "by CHAP" logged_since_mark "CHAP authentication succeeded"
finish

# With a link up, every pid file in the client's /run is a client pppd, and the server's are elsewhere.
begin isolation
check "the server's pppd runs" [ "$(count_in srv pppd)" -ge 1 ]
pid_files=0
for file in /run/ppp*.pid; do
  [ -f "$file" ] || continue
  pid_files=$((pid_files + 1))
  pid=$(head -n 1 "$file")
  check "$file names a client pppd" eval 'pids_in cli pppd | grep -qx "$pid"'
done
check "the client's pid files are in /run" [ "$pid_files" -ge 1 ]
finish

begin 2-redial-with-link-up
old_pppd=$(pids_in cli pppd)
server_pppd=$(pids_in srv pppd)
run_adsl 2 "$ACCOUNT2" "$PASSWORD2"
check "exit code 0 (got $status)" [ "$status" -eq 0 ]
check "transcript: echo, already connected, dialing, success, closing" \
  transcript_is "$out" "$ACCOUNT2" "$PASSWORD2" connected dialing success closing
for pid in $old_pppd; do check "the old pppd $pid is gone" eval '! is_pppd "$pid"'; done
new_pppd=$(pids_in cli pppd)
check "one new pppd of the client" eval '[ "$(echo $new_pppd | wc -w)" -eq 1 ] && [ "$new_pppd" != "$old_pppd" ]'
check "link up with an address from the pool" link_up
check "the server answers a ping" server_answers
check "pppoe-server still runs" server_running
check "the server's pppd $server_pppd ended by the hang-up, not by a signal" server_not_signalled
check "the server let the second account in" server_let_in "$ACCOUNT2"
check "by CHAP" logged_since_mark "CHAP authentication succeeded"
finish

begin 3-wrong-password
server_pppd=$(pids_in srv pppd)
run_adsl 3 "$ACCOUNT1" wrong-password
check "exit code 0 (got $status)" [ "$status" -eq 0 ]
check "transcript: echo, already connected, dialing, failure, closing" \
  transcript_is "$out" "$ACCOUNT1" wrong-password connected dialing failure closing
# 20 s for the dial and the hang-up before it, 3 s for the closing pause.
check "ended within 23 s (took $(seconds $((ended - started))) s)" [ $((ended - started)) -le 2300 ]
check "no pppd of the client left" no_pppd_in cli
check "no link left" no_link
check "the server refused the password" logged_since_mark "Peer $ACCOUNT1 failed CHAP authentication"
check "pppoe-server still runs" server_running
check "the server's pppd $server_pppd ended by the hang-up, not by a signal" server_not_signalled
finish

stop_server
start_server pap
begin 4-pap
run_adsl 4 "$ACCOUNT1" "$PASSWORD1"
check "exit code 0 (got $status)" [ "$status" -eq 0 ]
check "transcript: echo, dialing, success, closing" \
  transcript_is "$out" "$ACCOUNT1" "$PASSWORD1" dialing success closing
check "link up with an address from the pool" link_up
check "the server answers a ping" server_answers
check "the server let the account in" server_let_in "$ACCOUNT1"
check "by PAP" logged_since_mark "PAP peer authentication succeeded for $ACCOUNT1"
finish

hang_up_client
mv /etc/ppp/peers /etc/ppp/peers.saved
mkdir /etc/ppp/peers
begin 5-no-peers-entry
run_adsl 5 "$ACCOUNT1" "$PASSWORD1"
check "exit code 0 (got $status)" [ "$status" -eq 0 ]
check "transcript: echo, dialing, failure, closing" \
  transcript_is "$out" "$ACCOUNT1" "$PASSWORD1" dialing failure closing
check "no pppd started (syslog has $(pppd_lines_since_mark) new pppd lines)" [ "$(pppd_lines_since_mark)" -eq 0 ]
check "no pppd of the client" no_pppd_in cli
check "no link" no_link
finish
rmdir /etc/ppp/peers
mv /etc/ppp/peers.saved /etc/ppp/peers

# Benchmark: from the start of a dial to the link up (pppd runs ip-up), bare pppd and adsl taking
# turns from nothing connected, so that a slow stretch of the host falls on both alike.
stop_server
start_server chap
bench_pppd=
bench_adsl=
bench_run=
for round in 1 2 3; do
  started=$(now_cs)
  $IP netns exec cli pppd call dsl-provider user "$ACCOUNT1" password "$PASSWORD1" updetach maxfail 1 \
    >/tmp/bench.out 2>&1 || { echo "pppd failed in round $round:"; cat /tmp/bench.out; }
  # pppd detaches as the link comes up and runs ip-up after that.
  wait_until 50 eval '[ "$(link_up_time "$started")" -ge 0 ]'
  bench_pppd="$bench_pppd $(since "$(link_up_time "$started")" "$started")"
  hang_up_client
  started=$(now_cs)
  timeout 60 $IP netns exec cli /usr/bin/adsl "$ACCOUNT1" "$PASSWORD1" >/dev/null 2>&1
  ended=$(now_cs)
  bench_adsl="$bench_adsl $(since "$(link_up_time "$started")" "$started")"
  bench_run="$bench_run $((ended - started))"
  hang_up_client
done
echo "BENCH link up, bare pppd call updetach: $(list_seconds $bench_pppd) s (mean $(mean $bench_pppd) s)"
echo "BENCH link up, adsl:                    $(list_seconds $bench_adsl) s (mean $(mean $bench_adsl) s)"
echo "BENCH whole adsl run (closing pause included): $(list_seconds $bench_run) s"
if [ "$any_failed" ]; then
  echo "--- syslog"
  cat /tmp/messages
fi
echo "ALL-DONE"
poweroff -f
