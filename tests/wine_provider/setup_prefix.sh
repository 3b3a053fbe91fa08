#!/usr/bin/env bash
# Prepares the Wine prefix of the life-cycle tests, or stops it again:
#
#   setup_prefix.sh start PREFIX PROVIDER_DLL
#   setup_prefix.sh stop PREFIX
#
# start: creates the prefix if needed, installs the test network provider in
# it (its DLL in system32, registered with MPR under ProviderOrder), forgets
# the connections of an earlier run, and gives it the empty share folders
# dosdevices/unc/127.0.0.1/share, which \\127.0.0.1\share reaches, and
# stress0 to stress7 (eight shares for the stress test's racing adds).
# stop: ends the prefix's wineserver and whatever still runs in it.
set -euo pipefail
action=$1
prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
emulator=$here/../../cmake/wine_emulator.sh
wineserver=/usr/lib/wine/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

stop() { WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true; WINEPREFIX=$prefix "$wineserver" -w 2>/dev/null || true; }

case "$action" in
  stop) stop; exit 0 ;;
  start) ;;
  *) echo "usage: $0 start|stop PREFIX [PROVIDER_DLL]" >&2; exit 2 ;;
esac
dll=$3

stop
# Letters an earlier run left connected.
if [ -d "$prefix/dosdevices" ]; then
  for link in "$prefix"/dosdevices/?:; do
    [ -L "$link" ] || continue
    case "$(readlink "$link")" in unc/*) rm -f "$link" ;; esac
  done
fi

reg() { "$emulator" "$prefix" reg "$@" >/dev/null; }
# Creates the prefix on first use; an earlier run's records go.
"$emulator" "$prefix" reg delete 'HKLM\Software\Sharemapper Test Network' /f >/dev/null 2>&1 || true
"$emulator" "$prefix" reg delete 'HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\MountPoints2' /f >/dev/null 2>&1 || true

cp "$dll" "$prefix/drive_c/windows/system32/smtestnp.dll"
reg add 'HKLM\System\CurrentControlSet\Control\NetworkProvider\Order' /v ProviderOrder /t REG_SZ /d SharemapperTest /f
reg add 'HKLM\System\CurrentControlSet\Services\SharemapperTest\NetworkProvider' /v ProviderPath /t REG_SZ /d 'C:\windows\system32\smtestnp.dll' /f
reg add 'HKLM\System\CurrentControlSet\Services\SharemapperTest\NetworkProvider' /v Name /t REG_SZ /d 'Sharemapper Test Network' /f

chmod -R u+w "$prefix/dosdevices/unc" 2>/dev/null || true
for name in share stress0 stress1 stress2 stress3 stress4 stress5 stress6 stress7; do
  share=$prefix/dosdevices/unc/127.0.0.1/$name
  rm -rf "$share"
  mkdir -p "$share"
done
stop
