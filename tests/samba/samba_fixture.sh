#!/usr/bin/env bash
# A private Samba server for the tests: smbd on 127.0.0.1:445 only, with its
# own configuration, state, password database and shares below STATE_DIR.
#
#   samba_fixture.sh start STATE_DIR   write the configuration, create the test
#                                      account, start smbd and wait until it
#                                      serves the share "pub"
#   samba_fixture.sh stop STATE_DIR    stop that smbd and every process it
#                                      started (idempotent)
#   samba_fixture.sh status STATE_DIR  exit 0 when that smbd is running
#
# The test account is a Unix system user (smbd switches to it for every
# session), created once with useradd when it is missing: "smtest", no login
# shell, no home. Its SMB password is TEST_PASSWORD below.
#
# Shares (all owned by the test account):
#   pub   writable, with the folder "docs"
#   team  writable
#   ro    read-only
#   denied  the test account may not connect to it
#   links      writable, Samba's own link settings (it follows links that
#              stay inside the share and shows them as plain entries)
#   widelinks  writable, "wide links = yes": links lead anywhere
#   nofollow   writable, "follow symlinks = no": links are not followed
#   dfs        a DFS root whose link "away" (also in "$RECYCLE.BIN") refers to
#              \\127.0.0.9\share, a loopback address where nothing listens
#
# Exit status: 0 on success, 77 when the server cannot be run here at all
# (not root, smbd missing), 1 on any other failure (with a message on stderr).
set -euo pipefail

# shellcheck source=tests/samba/test_account
. "$(dirname "$0")/test_account"
LISTEN_ADDRESS=127.0.0.1
PORT=445
START_TIMEOUT=20
# How long to wait for the test server of another build tree to go away.
OTHER_FIXTURE_WAIT=${SM_SAMBA_WAIT:-300}
MARKER=.sharemapper-samba-fixture

die() { echo "samba_fixture: $*" >&2; exit 1; }
skip() { echo "samba_fixture: $*" >&2; exit 77; }

usage() { echo "usage: $0 start|stop|status STATE_DIR" >&2; exit 2; }

[ $# -eq 2 ] || usage
action=$1
state=$2
case "$state" in
  /*) ;;
  *) state="$(pwd)/$state" ;;
esac
conf="$state/smb.conf"
pidfile="$state/pid/smbd.pid"

SMBD=$(command -v smbd || true)
[ -n "$SMBD" ] || SMBD=/usr/sbin/smbd

# The pid of our smbd when it is running, else nothing. The pid must belong
# to an smbd started with this configuration file, so a stale pid file that
# now names some other process is never acted on.
running_pid() {
  [ -r "$pidfile" ] || return 0
  local pid
  pid=$(tr -dc '0-9' <"$pidfile")
  [ -n "$pid" ] || return 0
  [ -r "/proc/$pid/cmdline" ] || return 0
  if tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "$conf"; then
    echo "$pid"
  fi
}

# Who listens where the test server must, as "ss" shows it (empty when
# nobody does): on $LISTEN_ADDRESS:$PORT itself, or on the port of every
# address (which takes that one too). A server on another address's port
# 445 is no obstacle.
listener() {
  ss -Hltnp "sport = :$PORT" 2>/dev/null |
    awk -v here="$LISTEN_ADDRESS:$PORT" -v port="$PORT" \
      '$4 == here || $4 == "0.0.0.0:" port || $4 == "*:" port || $4 == "[::]:" port' || true
}

# True when the port is held by the test server of another build tree (its
# configuration sits beside our marker file): that one will be stopped by
# its own tests, so it is worth waiting for.
held_by_other_fixture() {
  local pid conf_arg
  pid=$(listener | grep -o 'pid=[0-9]*' | head -n1 | cut -d= -f2 || true)
  [ -n "$pid" ] && [ -r "/proc/$pid/cmdline" ] || return 1
  conf_arg=$(tr '\0' '\n' <"/proc/$pid/cmdline" | sed -n 's/^--configfile=//p' | head -n1 || true)
  [ -n "$conf_arg" ] && [ -e "$(dirname "$conf_arg")/$MARKER" ]
}

answering() {
  smbclient "//$LISTEN_ADDRESS/pub" -U "$TEST_USER%$TEST_PASSWORD" -m SMB3 \
    -s "$state/client.conf" -c 'ls' >/dev/null 2>&1
}

write_config() {
  mkdir -p "$state"/{lock,state,cache,private,pid,log,ncalrpc,shares}
  chmod 0755 "$state" "$state/shares"
  chmod 0700 "$state/private"
  touch "$state/$MARKER"
  cat >"$conf" <<EOF
[global]
  server role = standalone server
  netbios name = SMTEST
  workgroup = SMTESTGROUP
  interfaces = $LISTEN_ADDRESS
  bind interfaces only = yes
  smb ports = $PORT
  disable netbios = yes
  server min protocol = SMB2_10
  lock directory = $state/lock
  state directory = $state/state
  cache directory = $state/cache
  private dir = $state/private
  pid directory = $state/pid
  ncalrpc dir = $state/ncalrpc
  log file = $state/log/smbd.log
  max log size = 1000
  log level = 1
  passdb backend = tdbsam:$state/private/passdb.tdb
  map to guest = never
  restrict anonymous = 2
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  rpc start on demand helpers = no
  store dos attributes = yes
  ea support = yes
  unix extensions = no
  follow symlinks = yes
  wide links = no
  allow insecure wide links = yes

[pub]
  path = $state/shares/pub
  read only = no
  valid users = $TEST_USER

[team]
  path = $state/shares/team
  read only = no
  valid users = $TEST_USER

[ro]
  path = $state/shares/ro
  read only = yes
  valid users = $TEST_USER

[denied]
  path = $state/shares/denied
  read only = yes
  valid users = root

[links]
  path = $state/shares/links
  read only = no
  valid users = $TEST_USER

[widelinks]
  path = $state/shares/widelinks
  read only = no
  valid users = $TEST_USER
  wide links = yes

[nofollow]
  path = $state/shares/nofollow
  read only = no
  valid users = $TEST_USER
  follow symlinks = no

[dfs]
  path = $state/shares/dfs
  read only = no
  valid users = $TEST_USER
  msdfs root = yes
EOF
  # The client tools read this instead of the machine's smb.conf.
  cat >"$state/client.conf" <<EOF
[global]
  name resolve order = host
  client min protocol = SMB2_10
EOF
}

ensure_account() {
  if ! id "$TEST_USER" >/dev/null 2>&1; then
    useradd --system --no-create-home --home-dir /nonexistent \
      --shell /usr/sbin/nologin "$TEST_USER" || id "$TEST_USER" >/dev/null 2>&1 ||
      die "cannot create the system user $TEST_USER"
  fi
  printf '%s\n%s\n' "$TEST_PASSWORD" "$TEST_PASSWORD" |
    smbpasswd -c "$conf" -s -a "$TEST_USER" >>"$state/log/start.log" 2>&1 ||
    die "cannot set the SMB password of $TEST_USER"
}

prepare_shares() {
  local share
  for share in pub team ro denied links widelinks nofollow dfs; do
    mkdir -p "$state/shares/$share"
  done
  mkdir -p "$state/shares/pub/docs"
  mkdir -p "$state/shares/dfs/\$RECYCLE.BIN"
  ln -sfn 'msdfs:127.0.0.9\share' "$state/shares/dfs/away"
  ln -sfn 'msdfs:127.0.0.9\share' "$state/shares/dfs/\$RECYCLE.BIN/away"
  chown -R "$TEST_USER:" "$state/shares"
}

do_start() {
  [ "$(id -u)" -eq 0 ] || skip "needs root (smbd switches to the test account)"
  [ -x "$SMBD" ] || skip "smbd is not installed"
  command -v smbclient >/dev/null || skip "smbclient is not installed"
  command -v smbpasswd >/dev/null || skip "smbpasswd is not installed"

  write_config
  if [ -n "$(running_pid)" ]; then
    if answering; then exit 0; fi
    do_stop
  fi

  local waited=0
  while [ -n "$(listener)" ] && held_by_other_fixture && [ $waited -lt "$OTHER_FIXTURE_WAIT" ]; do
    [ $waited -eq 0 ] && echo "samba_fixture: waiting for the test server of another build tree" >&2
    sleep 1
    waited=$((waited + 1))
  done

  local who
  who=$(listener)
  if [ -n "$who" ] && held_by_other_fixture; then
    die "port $PORT is still held by the test server of another build tree after ${OTHER_FIXTURE_WAIT}s: $who"
  fi
  if [ -n "$who" ]; then
    die "port $PORT is already in use, the test server cannot start: $who
(a system smbd from the samba package? stop it with 'service smbd stop')"
  fi

  ensure_account
  prepare_shares
  rm -f "$pidfile"
  "$SMBD" --daemon --configfile="$conf" </dev/null >>"$state/log/start.log" 2>&1 ||
    die "smbd did not start; see $state/log/"

  local deadline=$((SECONDS + START_TIMEOUT))
  while [ $SECONDS -lt $deadline ]; do
    if [ -n "$(running_pid)" ] && answering; then
      exit 0
    fi
    sleep 0.2
  done
  do_stop
  die "smbd did not answer within ${START_TIMEOUT}s; see $state/log/"
}

do_stop() {
  local pid
  pid=$(running_pid)
  [ -n "$pid" ] || { rm -f "$pidfile"; return 0; }
  # smbd runs as the leader of its own process group; its session children
  # are in the same group.
  kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
  local _
  for _ in $(seq 1 50); do
    if ! kill -0 -- "-$pid" 2>/dev/null; then
      rm -f "$pidfile"
      return 0
    fi
    sleep 0.1
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
  rm -f "$pidfile"
}

case "$action" in
  start) do_start ;;
  stop) do_stop ;;
  status) [ -n "$(running_pid)" ] ;;
  *) usage ;;
esac
