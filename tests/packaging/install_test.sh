#!/usr/bin/env bash
# Installs the build into a scratch prefix and checks what the package holds:
# the programs, the desktop entry and its icons. Then runs the package's
# postinst on that tree (through DPKG_ROOT, as dpkg does for another root)
# with a setcap that only records its arguments, one that fails, and none.
#
# The installed programs are run (as root, the scans on loopback addresses
# only) to see that they write nothing beside themselves. The units of
# scheduled scans must pass systemd-analyze verify, from the package's tree
# and from another prefix. Last, where lintian is installed, the Debian
# package is built and must pass it without any error or warning.
#
# usage: install_test.sh <build dir> <postinst> <1 when the window is built>
set -euo pipefail
build=$1
postinst=$2
with_window=$3

scratch=$(mktemp -d)
vopal_pid=
# A vopal left running by a failed check must not outlive the test.
trap '[ -z "$vopal_pid" ] || kill -KILL "$vopal_pid" 2>/dev/null; rm -rf "$scratch"' EXIT
status=0
fail() {
  echo "FAIL: $*" >&2
  status=1
}

cmake --install "$build" --prefix "$scratch/usr" >/dev/null
bin=$scratch/usr/bin

programs=(vopal-scan nbtstat)
[ "$with_window" = 1 ] && programs+=(vopal)
for program in "${programs[@]}"; do
  [ -x "$bin/$program" ] || fail "$program is not installed in bin"
  page=$scratch/usr/share/man/man1/$program.1.gz
  gzip -dc "$page" 2>/dev/null | grep -q "^\.TH" || fail "no manual page $page"
done
# The window finds its help file in ../share/kestrune-durvane from bin.
grep -q '<html lang="ja">' "$bin/../share/kestrune-durvane/vopala.html" 2>/dev/null ||
  fail "the help file is not installed in share/kestrune-durvane"

# Width and height of a PNG: big-endian words at bytes 16 and 20.
png_size() {
  od -An -tu1 -j16 -N8 "$1" |
    awk '{ printf "%dx%d\n", (($1 * 256 + $2) * 256 + $3) * 256 + $4, (($5 * 256 + $6) * 256 + $7) * 256 + $8 }'
}

if [ "$with_window" = 1 ]; then
  [ -x "$bin/vopal" ] || fail "vopal is not installed in bin"
  desktop=$scratch/usr/share/applications/kestrune-durvane.desktop
  if [ -f "$desktop" ]; then
    program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
    [ -n "$program" ] && [ -x "$bin/$program" ] || fail "Exec=$program of the desktop entry is not installed"
    icon=$(sed -n 's/^Icon=//p' "$desktop")
    [ -n "$icon" ] || fail "the desktop entry names no icon"
    for size in 16 32 48 64 128 256; do
      file=$scratch/usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
      if [ ! -f "$file" ]; then
        fail "no icon $file"
      elif [ "$(png_size "$file")" != "${size}x${size}" ]; then
        fail "$file is $(png_size "$file"), not ${size}x${size}"
      fi
    done
    grep -qx 'Categories=Network;System;' "$desktop" || fail "the desktop entry's categories"
    grep -q '^Name\[ja\]=' "$desktop" || fail "the desktop entry has no Japanese name"
    grep -q '^Comment\[ja\]=' "$desktop" || fail "the desktop entry has no Japanese comment"
  else
    fail "no desktop entry"
  fi
else
  [ ! -e "$scratch/usr/share/applications/kestrune-durvane.desktop" ] ||
    fail "a desktop entry is installed without the window program"
fi

# The installed copy writes nothing beside itself, whoever runs it: the test
# runs as root, and the scratch bin is writable by whoever runs the test, just
# as /usr/bin is by root. Everything goes to the XDG_DATA_HOME it is given.
# Scans go to loopback addresses only.
run_home=$scratch/home
data=$run_home/data/kestrune-durvane
mkdir -p "$run_home/run"
chmod 700 "$run_home/run"
bin_before=$(ls -A "$bin")
installed_env=(env -u DISPLAY -u WAYLAND_DISPLAY HOME="$run_home" XDG_DATA_HOME="$run_home/data"
  XDG_CONFIG_HOME="$run_home/config" XDG_RUNTIME_DIR="$run_home/run" TMPDIR="$run_home"
  QT_QPA_PLATFORM=offscreen VOPAL_BOXES_ON_STDERR=1)
no_data_dir=(HOME="$run_home/file" XDG_DATA_HOME="$run_home/file/data"
  XDG_CONFIG_HOME="$run_home/config-without-data")
wrote_nothing_beside() {
  [ "$(ls -A "$bin")" = "$bin_before" ] ||
    fail "the installed programs wrote beside themselves: $(ls -A "$bin" | tr '\n' ' ')"
}

# vopal-scan takes its default list file from the data directory.
mkdir -p "$data"
printf '127.0.0.1,127.0.0.2\r\n' >"$data/iplist.lst"
if "${installed_env[@]}" "$bin/vopal-scan" --keep-silent --timeout 1000 >"$scratch/scan.csv" \
  2>"$scratch/err"; then
  for address in 127.0.0.1 127.0.0.2; do
    grep -q "^$address," "$scratch/scan.csv" ||
      fail "vopal-scan did not scan $address of the data directory's list file: $(cat "$scratch/scan.csv" "$scratch/err")"
  done
else
  fail "the installed vopal-scan failed on the data directory's list file: $(cat "$scratch/err")"
fi
rm -f "$data/iplist.lst"

# vopal started, then ended by the session (SIGTERM). It handles the signal
# from before it opens its log, so the log's appearance is the moment to send
# it; the settings it saves at the end name the data directory's list file.
if [ "$with_window" = 1 ]; then
  "${installed_env[@]}" "$bin/vopal" >/dev/null 2>"$scratch/err" &
  pid=$!
  vopal_pid=$pid
  for _ in $(seq 600); do
    [ -e "$data/vopal.log" ] && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    fail "vopal did not end after SIGTERM"
  fi
  code=0
  wait "$pid" || code=$?
  vopal_pid=
  shown=$(printf '%s' "$data/" | tr 'A-Z' 'a-z')
  if grep -qxF "ディレクトリ： $shown" "$data/vopal.log" 2>/dev/null; then
    [ "$code" = 0 ] || fail "vopal ended with $code after SIGTERM: $(cat "$scratch/err")"
    store=$run_home/config/BRELLOW/registry.reg
    grep -qxF "\"IpListFileName\"=\"$data/iplist.lst\"" "$store" 2>/dev/null ||
      fail "vopal's stored list file is not in the data directory: $(cat "$store" 2>/dev/null)"
  elif grep -q "IPアドレスを取得できません" "$data/vopal.log" 2>/dev/null; then
    echo "this machine has no address but 127.0.0.1: vopal ended at start-up, as it should"
  else
    fail "the installed vopal kept no full log in $data (exit $code): $(cat "$scratch/err")"
  fi
fi
wrote_nothing_beside

# Without a data directory (a plain file in its way) an installed copy stops
# rather than falling back to its own directory.
touch "$run_home/file"
code=0
"${installed_env[@]}" "${no_data_dir[@]}" "$bin/vopal-scan" >/dev/null 2>"$scratch/err" || code=$?
[ "$code" = 2 ] && grep -q "no program directory" "$scratch/err" ||
  fail "vopal-scan without a data directory: exit $code, $(cat "$scratch/err")"
if [ "$with_window" = 1 ]; then
  # It should stop at once; one that runs on is ended (exit 124) by timeout.
  code=0
  timeout 60 "${installed_env[@]}" "${no_data_dir[@]}" "$bin/vopal" >/dev/null 2>"$scratch/err" ||
    code=$?
  [ "$code" = 1 ] && grep -q "データを保存するディレクトリを作成できませんでした。" "$scratch/err" ||
    fail "vopal without a data directory: exit $code, $(cat "$scratch/err")"
fi
wrote_nothing_beside

# The postinst, with a setcap that records its arguments and exits with
# $SETCAP_STATUS.
fake=$scratch/fakebin
mkdir -p "$fake"
log=$scratch/setcap.log
cat >"$fake/setcap" <<FAKE
#!/bin/sh
echo "\$*" >>"$log"
exit \${SETCAP_STATUS:-0}
FAKE
chmod +x "$fake/setcap"

# Only the helper, and only as a permitted capability: nothing that links Qt
# (or loads anything the caller names) may hold one.
helper=$scratch/usr/lib/kestrune-durvane/vopal-icmp-helper
[ -x "$helper" ] || fail "the raw-socket helper is not installed in lib/kestrune-durvane"
if command -v ldd >/dev/null; then
  ! ldd "$helper" | grep -qi qt || fail "the helper links Qt"
fi
expected="cap_net_raw=p $helper"

if ! DPKG_ROOT=$scratch PATH="$fake:/usr/bin:/bin" sh "$postinst" configure 2>"$scratch/err"; then
  fail "postinst configure failed"
fi
[ "$(cat "$log" 2>/dev/null)" = "$expected" ] ||
  fail "postinst ran setcap as: $(cat "$log" 2>/dev/null) -- expected: $expected"
[ ! -s "$scratch/err" ] || fail "postinst complained although setcap worked: $(cat "$scratch/err")"

# Only configuring sets the capability.
rm -f "$log"
DPKG_ROOT=$scratch PATH="$fake:/usr/bin:/bin" sh "$postinst" abort-upgrade 2>/dev/null ||
  fail "postinst abort-upgrade failed"
[ ! -e "$log" ] || fail "postinst abort-upgrade ran setcap"

# setcap fails (a file system without extended attributes): a note, no failure.
if ! DPKG_ROOT=$scratch SETCAP_STATUS=1 PATH="$fake:/usr/bin:/bin" sh "$postinst" configure 2>"$scratch/err"; then
  fail "postinst fails when setcap fails"
fi
grep -q "could not give $helper the cap_net_raw capability" "$scratch/err" ||
  fail "no note when setcap fails: $(cat "$scratch/err")"

# No setcap at all: a note that names its package, no failure.
if PATH=/usr/bin:/bin command -v setcap >/dev/null; then
  echo "setcap is in /usr/bin or /bin here: the case without setcap is not tried"
else
  if ! DPKG_ROOT=$scratch PATH=/usr/bin:/bin sh "$postinst" configure 2>"$scratch/err"; then
    fail "postinst fails without setcap"
  fi
  grep -q "libcap2-bin" "$scratch/err" || fail "no note naming libcap2-bin without setcap"
  grep -q "ping_group_range" "$scratch/err" || fail "the note does not tell of ping_group_range"
fi

# The postinst reads new units into the running systemd (daemon-reload) and
# does nothing else with them: it never enables or starts them. A copy that
# looks for a running systemd in the scratch directory, with systemctl and
# setcap that only record their arguments, so nothing on this machine changes.
cat >"$fake/systemctl" <<FAKE
#!/bin/sh
echo "\$*" >>"$scratch/systemctl.log"
FAKE
chmod +x "$fake/systemctl"
sed "s|/run/systemd/system|$scratch/run-systemd|g" "$postinst" >"$scratch/postinst-here"
grep -q "$scratch/run-systemd" "$scratch/postinst-here" ||
  fail "the postinst does not look for a running systemd in /run/systemd/system"
for case in "running configure" "running abort-upgrade" "stopped configure" "root configure"; do
  read -r manager action <<<"$case"
  rm -rf "$scratch/run-systemd" "$scratch/systemctl.log"
  [ "$manager" = stopped ] || mkdir -p "$scratch/run-systemd"
  root=()
  [ "$manager" = root ] && root=(DPKG_ROOT=$scratch)
  env "${root[@]}" PATH="$fake:/usr/bin:/bin" sh "$scratch/postinst-here" "$action" >/dev/null 2>&1 ||
    fail "postinst $action failed ($manager)"
  expected=
  [ "$case" = "running configure" ] && expected="--system daemon-reload"
  [ "$(cat "$scratch/systemctl.log" 2>/dev/null)" = "$expected" ] ||
    fail "postinst $action ($manager systemd) ran systemctl as: $(cat "$scratch/systemctl.log" 2>/dev/null) -- expected: ${expected:-nothing}"
done
rm -rf "$scratch/run-systemd"

# Scheduled scans: the watch file in etc and the units in lib/systemd/system
# beside usr, as Debian 12 keeps them; the service runs the installed
# program on the installed watch file.
units=$scratch/lib/systemd/system
service=$units/kestrune-durvane-watch.service
timer=$units/kestrune-durvane-watch.timer
watch_conf=$scratch/etc/kestrune-durvane/watch.conf
exec_line() {
  sed -n 's/^ExecStart=//p' "$1"
}
for file in "$service" "$timer" "$watch_conf"; do
  [ -f "$file" ] || fail "$file is not installed"
done
credential_line() {
  sed -n 's/^LoadCredential=watch.conf://p' "$1"
}
read -r exec_program exec_option exec_file <<<"$(exec_line "$service" 2>/dev/null)"
[ "$exec_program $exec_option $exec_file" = "/usr/bin/vopal-scan --watch %d/watch.conf" ] ||
  fail "the service runs: $(exec_line "$service" 2>/dev/null)"
[ -x "$scratch$exec_program" ] || fail "the service's program $exec_program is not installed"
# The watch file reaches the service as a credential; only root reads it.
credential=$(credential_line "$service")
[ "$credential" = /etc/kestrune-durvane/watch.conf ] ||
  fail "the service's watch file is \"$credential\""
[ -f "$scratch$credential" ] || fail "the service's watch file $credential is not installed"
[ "$(stat -c %a "$scratch$credential")" = 600 ] ||
  fail "the watch file's mode is $(stat -c %a "$scratch$credential"), not 600"

# systemd-analyze verify warns of unknown keys or bad values without failing:
# any output is a failure. It checks that the program exists, so the units are
# verified from a copy whose ExecStart names the scratch program, and that the
# manual page exists, in the scratch tree.
verify_units() {
  local dir=$1
  local output
  if ! output=$(MANPATH=$2 systemd-analyze verify "$dir/kestrune-durvane-watch.service" \
    "$dir/kestrune-durvane-watch.timer" 2>&1) || [ -n "$output" ]; then
    fail "systemd-analyze verify of the units in $dir: $output"
  fi
}
if ! command -v systemd-analyze >/dev/null; then
  echo "systemd-analyze is not installed (scripts/setup --test installs systemd): the units are not verified"
else
  mkdir -p "$scratch/verify"
  sed "s|^ExecStart=/usr/bin/vopal-scan |ExecStart=$bin/vopal-scan |" "$service" \
    >"$scratch/verify/kestrune-durvane-watch.service"
  cp "$timer" "$scratch/verify/"
  verify_units "$scratch/verify" "$scratch/usr/share/man"

  # A mistake must show: a misspelt key, and a program that is not there.
  printf 'ProtectSytem=strict\n' >>"$scratch/verify/kestrune-durvane-watch.service"
  output=$(MANPATH=$scratch/usr/share/man systemd-analyze verify \
    "$scratch/verify/kestrune-durvane-watch.service" 2>&1 || true)
  [[ "$output" == *ProtectSytem* ]] || fail "systemd-analyze verify does not report a misspelt key: $output"
  sed "s|^ExecStart=[^ ]*|ExecStart=$scratch/nowhere/vopal-scan|" "$service" \
    >"$scratch/verify/kestrune-durvane-watch.service"
  output=$(MANPATH=$scratch/usr/share/man systemd-analyze verify \
    "$scratch/verify/kestrune-durvane-watch.service" 2>&1 || true)
  [[ "$output" == *"$scratch/nowhere/vopal-scan"* ]] ||
    fail "systemd-analyze verify does not report a missing program: $output"
fi

# Another prefix keeps everything inside itself, and its units name its own
# program and watch file.
other=$scratch/other
cmake --install "$build" --prefix "$other/opt" >/dev/null
outside=$(find "$other" -mindepth 1 -maxdepth 1 ! -name opt)
[ -z "$outside" ] || fail "an install to $other/opt wrote beside it: $outside"
[ "$(credential_line "$other/opt/lib/systemd/system/kestrune-durvane-watch.service")" = \
  "$other/opt/etc/kestrune-durvane/watch.conf" ] ||
  fail "the service installed to $other/opt reads $(credential_line "$other/opt/lib/systemd/system/kestrune-durvane-watch.service")"
[ "$(exec_line "$other/opt/lib/systemd/system/kestrune-durvane-watch.service" 2>/dev/null)" = \
  "$other/opt/bin/vopal-scan --watch %d/watch.conf" ] ||
  fail "the service installed to $other/opt runs: $(exec_line "$other/opt/lib/systemd/system/kestrune-durvane-watch.service" 2>/dev/null)"
[ -f "$other/opt/etc/kestrune-durvane/watch.conf" ] || fail "no watch file in $other/opt/etc"
if command -v systemd-analyze >/dev/null; then
  verify_units "$other/opt/lib/systemd/system" "$other/opt/share/man"
fi

# The Debian package, as `cpack -G DEB` makes it, into the scratch directory.
if ! command -v lintian >/dev/null; then
  echo "lintian is not installed (scripts/setup --test installs it): the package is not checked"
elif ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/deb" >"$scratch/cpack.log" 2>&1; then
  fail "cpack could not build the package: $(tail -n 20 "$scratch/cpack.log")"
else
  deb=$(find "$scratch/deb" -maxdepth 1 -name '*.deb' | head -n 1)
  # The changelog's latest entry is of the package's version.
  version=$(dpkg-deb -f "$deb" Version)
  entry=$(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/share/doc/kestrune-durvane/changelog.gz |
    gzip -dc | head -n 1)
  [[ "$entry" == "kestrune-durvane ($version) "* ]] ||
    fail "the changelog's latest entry is not of version $version: $entry"
  # Every file in etc is a conffile, so that an upgrade keeps what the
  # administrator wrote; the units are where Debian 12 keeps them, and nothing
  # enables them (no links in etc/systemd).
  paths=$(dpkg-deb -c "$deb" | awk '{ print substr($6, 2) }')
  in_etc=$(grep '^/etc/.*[^/]$' <<<"$paths" || true)
  conffiles=$(dpkg-deb -I "$deb" conffiles 2>/dev/null || true)
  [ -n "$in_etc" ] && [ "$conffiles" = "$in_etc" ] ||
    fail "the conffiles ($conffiles) are not the files in etc ($in_etc)"
  for unit in kestrune-durvane-watch.service kestrune-durvane-watch.timer; do
    grep -qx "/lib/systemd/system/$unit" <<<"$paths" || fail "the package has no /lib/systemd/system/$unit"
  done
  ! grep -q '^/etc/systemd/' <<<"$paths" || fail "the package enables units itself"
  # Exit 2: an error or warning was found; 1: lintian itself failed.
  code=0
  lintian --fail-on error,warning --no-tag-display-limit "$deb" >"$scratch/lintian.log" \
    2>"$scratch/lintian.err" || code=$?
  case $code in
    0) ;;
    2) fail "lintian: $(grep -E '^[EW]: ' "$scratch/lintian.log")" ;;
    *) fail "lintian did not run (exit $code): $(cat "$scratch/lintian.err")" ;;
  esac
fi

exit $status
