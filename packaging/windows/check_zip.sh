#!/usr/bin/env bash
# Checks the Windows zip: it holds the program, the README and every licence
# text, and the program in it runs under Wine with the texts a caller reads.
#
#   check_zip.sh ZIP WINEPREFIX
set -euo pipefail
zip=$1
prefix=$2
here=$(cd "$(dirname "$0")" && pwd)
emulator=$here/../../cmake/wine_emulator.sh
top=$(basename "$zip" .zip)

fail() { echo "check_zip: $*" >&2; exit 1; }
[ -f "$zip" ] || fail "no zip at $zip"

listing=$(cmake -E tar tf "$zip")
for entry in sharemapper.exe README.txt \
  licences/POCO-LICENSE.txt licences/log4cxx-LICENSE.txt licences/log4cxx-NOTICE.txt \
  licences/APR-LICENSE.txt licences/APR-NOTICE.txt licences/APR-util-LICENSE.txt \
  licences/APR-util-NOTICE.txt licences/expat-COPYING.txt; do
  grep -qx "$top/$entry" <<<"$listing" || fail "$zip lacks $top/$entry"
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
cd "$work/$top"

# Nothing but system DLLs: the program is linked statically.
imports=$(x86_64-w64-mingw32-objdump -p sharemapper.exe | sed -n 's/^\s*DLL Name: //p' | tr '[:upper:]' '[:lower:]' | sort -u)
for dll in $imports; do
  case "$dll" in
    kernel32.dll|advapi32.dll|mpr.dll|msvcrt.dll|ws2_32.dll|user32.dll|shell32.dll|rpcrt4.dll|mswsock.dll|odbc32.dll|ole32.dll|iphlpapi.dll|api-ms-win-*) ;;
    *) fail "sharemapper.exe needs $dll, which Windows does not have" ;;
  esac
done

# The version resource came along: its keys and the version of the zip's
# name, in the UTF-16 of the resource section (the test under Wine reads the
# values back through GetFileVersionInfoA).
version=${top#sharemapper-}
version=${version%-win64}
python3 - sharemapper.exe "$version" <<'PY' || fail "sharemapper.exe has no version resource for $version"
import sys
data = open(sys.argv[1], "rb").read()
texts = ["VS_VERSION_INFO", "FileVersion", "ProductVersion", "ProductName", "FileDescription",
         "OriginalFilename", "sharemapper.exe", sys.argv[2]]
missing = [t for t in texts if (t + "\0").encode("utf-16-le") not in data]
sys.exit(f"missing: {missing}" if missing else 0)
PY

# --help, byte for byte. The listing names the program by its full path,
# which under Wine is the Linux path on drive Z:.
# shellcheck disable=SC1003  # a single backslash in quotes, not an escape
program="Z:$(pwd | tr / '\\')\\sharemapper.exe"
"$emulator" "$prefix" sharemapper.exe --help >help.out
# The tests' golden listing, with Windows line ends.
golden=$here/../../tests/support/golden/help.txt
PROGRAM=$program python3 -c 'import os,sys; sys.stdout.buffer.write(open(sys.argv[1],"rb").read().replace(b"@PROGRAM@", os.environ["PROGRAM"].encode()).replace(b"\n", b"\r\n"))' \
  "$golden" >help.expected
cmp help.out help.expected || fail "--help differs from $golden: $(diff <(od -c help.expected) <(od -c help.out) | head -10)"

# The query with no drives, as JSON with CR LF.
"$emulator" "$prefix" sharemapper.exe --outformat=json >query.out
printf '{"data":[],"errorCode":0,"message":"query success","success":true}\r\n' >query.expected
cmp query.out query.expected || fail "the JSON query printed: $(od -c query.out | head -5)"
echo "check_zip: $zip holds the program (with its version resource), README and licences; --help and the JSON query are right"
