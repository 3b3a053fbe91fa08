#!/usr/bin/env bash
# sharemapper.exe on a terminal, under Wine with the test network provider:
# a drive labelled "Café" is listed in both output forms with standard output
# a pseudo-terminal (Wine's console in front of it), and the terminal must get
# the label's characters: "Café" in the terminal's UTF-8, not the bytes of
# the ANSI page or of UTF-8 read as the console's OEM page ("CafΘ", "Caf├⌐").
#
#   console_pty_test.sh EMULATOR PREFIX SHAREMAPPER_EXE
#
# Exit status 77 (skipped) when `script` is missing.
set -euo pipefail
emulator=$1
prefix=$2
exe=$3

command -v script >/dev/null || { echo "no script(1) here: the terminal run is skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# The emulator sets the locale C.UTF-8: Wine hands the program its
# arguments in the ANSI page (1252) and writes the console's characters to
# the terminal as UTF-8.
sm() { bash "$emulator" "$prefix" "$exe" "$@"; }
# One run with a pseudo-terminal as standard output, wide enough that no
# line of the output wraps; what the terminal received goes to the file.
on_terminal() {
  local out=$1 command
  shift
  command="stty cols 400; $(printf '%q ' bash "$emulator" "$prefix" "$exe" "$@")"
  script -qec "$command" /dev/null </dev/null >"$out"
}
has() { LC_ALL=C grep -qF -- "$2" "$1"; }

failed=0
check() {  # check FILE WANTED UNWANTED...
  local file=$1 wanted=$2 bad=0
  shift 2
  if ! has "$file" "$wanted"; then
    echo "FAIL: $file lacks $(printf '%q' "$wanted")"
    bad=1
  fi
  for unwanted in "$@"; do
    if has "$file" "$unwanted"; then
      echo "FAIL: $file holds $(printf '%q' "$unwanted")"
      bad=1
    fi
  done
  if [ "$bad" != 0 ]; then
    od -c "$file" | head -40
    failed=1
  fi
}

sm --del --drive=x >/dev/null || true
add=$(sm --add --domain= --user=smtest --password=Sm-Test-Pass1 --host=127.0.0.1 --location=share \
  --drive=x --volume='Café' --userid=1001 --dsid=77)
[ "$add" = $'add success\r' ] || { echo "FAIL: add gave $(printf '%q' "$add")"; exit 1; }

garbled=($'Caf\xce\x98' $'Caf\xe2\x94\x9c\xe2\x8c\x90' $'Caf\xe9')
# The console turns the table's tabs into blanks on the terminal.
on_terminal form.out
check form.out $' Caf\xc3\xa9\r' "${garbled[@]}"
on_terminal json.out --outformat=json
check json.out $'"volumename":"Caf\xc3\xa9"' "${garbled[@]}"

# To a pipe the bytes stay as they are: the ANSI page in the form table,
# UTF-8 in JSON.
sm >pipe-form.out
check pipe-form.out $'\tCaf\xe9\r'
sm --outformat=json >pipe-json.out
check pipe-json.out $'"volumename":"Caf\xc3\xa9"'

sm --del --drive=x >/dev/null
exit "$failed"
