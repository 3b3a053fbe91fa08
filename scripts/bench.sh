#!/usr/bin/env bash
# Benchmarks on the loopback test server, side by side in one run:
#   - --help against /bin/true, the floor of any process start;
#   - the query of 26 mapped drives (form and JSON) against --help;
#   - one add and one delete against "smbclient -c ls" on the same share with
#     the same account (the same session set-up and tree connect);
#   - the instructions each executes (valgrind's callgrind: they do not drift
#     with the machine's load) and its peak memory;
#   - the recycle-bin walk: bins of 100, 1,000 and 5,000 files (10 to a
#     folder) removed by an add against "smbclient -c 'deltree $RECYCLE.BIN'"
#     on the same tree, on loopback and behind scripts/latency_relay.py (5 ms
#     each way), with the SMB2 requests each sends per entry.
#   - at the end, the stress test (many runs at once) with larger counts:
#     STRESS_ROUNDS rounds of 8 racing "*" adds (50), STRESS_MIXED cycles of
#     the mixed load's 6 workers (40), STRESS_RACES deletes racing a re-add
#     (200).
# Prints Markdown tables and the stress test's "[stress]" lines. Needs root
# (the test server switches users). BENCH_PARTS picks the parts ("start walk
# stress", the default; "walk" alone, for example).
# shellcheck source=scripts/throwaway_share.sh
source "$(dirname "$0")/throwaway_share.sh" bench
runs=${BENCH_RUNS:-30}

parts=" ${BENCH_PARTS:-start walk stress} "
bash "$fixture" start "$work/server" >/dev/null

user=$share_user
pass=$share_password
add_args=(--add --domain= "--user=$user" "--password=$pass" --host=127.0.0.1 --location='pub\docs'
  --volume=Bench --userid=1 --dsid=2)

q=$(printf '%q ' "$sm")
del_cmd="$q --del --drive=E"

if [[ $parts == *" start "* ]]; then
# 26 drives for the query: every letter.
for letter in {A..Z}; do
  "$sm" "${add_args[@]}" "--drive=$letter" --outformat=json >/dev/null
done
count=$("$sm" --outformat=json | grep -o '"drive"' | wc -l)
[ "$count" -eq 26 ] || { echo "expected 26 mapped drives, got $count" >&2; exit 1; }

peak_kb() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }
instructions() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" 2>&1 >/dev/null | sed -n 's/.*Collected : //p' | tail -n 1
}

hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/query.json" \
  -n '/bin/true' '/bin/true' \
  -n 'sharemapper --help' "$q --help" \
  -n 'query, 26 drives, form' "$q" \
  -n 'query, 26 drives, json' "$q --outformat=json" >/dev/null

mem_help=$(peak_kb "$sm" --help)
mem_form=$(peak_kb "$sm")
mem_json=$(peak_kb "$sm" --outformat=json)
ins_true=$(instructions /bin/true)
ins_help=$(instructions "$sm" --help)
ins_form=$(instructions "$sm")
ins_json=$(instructions "$sm" --outformat=json)

# Free the letters again, then time add and delete of one drive.
for letter in {A..Z}; do "$sm" --del "--drive=$letter" >/dev/null; done

add_cmd="$q $(printf '%q ' "${add_args[@]}") --drive=E"
smb_cmd="smbclient //127.0.0.1/pub -U $user%$pass -s $work/server/client.conf -c ls"
# hyperfine takes one --prepare per command, in order.
hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/add.json" \
  --prepare true --prepare "sh -c '$del_cmd >/dev/null || true'" --prepare "sh -c '$add_cmd >/dev/null || true'" \
  -n 'smbclient -c ls' "$smb_cmd" \
  -n 'sharemapper --add' "$add_cmd" \
  -n 'sharemapper --del' "$del_cmd" >/dev/null
"$sm" --del --drive=E >/dev/null || true

mem_smb=$(peak_kb smbclient //127.0.0.1/pub -U "$user%$pass" -s "$work/server/client.conf" -c ls)
"$sm" --del --drive=E >/dev/null 2>&1 || true
mem_add=$(peak_kb "$sm" "${add_args[@]}" --drive=E)
mem_del=$(peak_kb "$sm" --del --drive=E)
ins_smb=$(instructions smbclient //127.0.0.1/pub -U "$user%$pass" -s "$work/server/client.conf" -c ls)
ins_add=$(instructions "$sm" "${add_args[@]}" --drive=E)
ins_del=$(instructions "$sm" --del --drive=E)

python3 - "$work/query.json" "$work/add.json" "$mem_help" "$mem_form" "$mem_json" "$mem_smb" "$mem_add" "$mem_del" \
  "$ins_true" "$ins_help" "$ins_form" "$ins_json" "$ins_smb" "$ins_add" "$ins_del" <<'PY'
import json, sys
q = json.load(open(sys.argv[1]))["results"]
a = json.load(open(sys.argv[2]))["results"]
names = ["/bin/true", "sharemapper --help", "query, 26 drives, form", "query, 26 drives, json",
         "smbclient -c ls", "sharemapper --add", "sharemapper --del"]
mem = dict(zip(names[1:], sys.argv[3:9]))
ins = dict(zip(names, (int(v) for v in sys.argv[9:16])))
by_name = {r["command"]: r for r in q + a}
# Each row's baseline: the process floor for --help, --help for the query,
# smbclient for the add and the delete.
base = {"/bin/true": "/bin/true", "sharemapper --help": "/bin/true",
        "query, 26 drives, form": "sharemapper --help", "query, 26 drives, json": "sharemapper --help",
        "smbclient -c ls": "smbclient -c ls", "sharemapper --add": "smbclient -c ls",
        "sharemapper --del": "smbclient -c ls"}
print("| command | mean ms | median ms | ratio (median) | instructions | ratio (instructions) | peak MiB |")
print("|---|---|---|---|---|---|---|")
for name in names:
    r, b = by_name[name], by_name[base[name]]
    sd = r["stddev"] * 1000 if r["stddev"] is not None else 0.0
    peak = f"{int(mem[name])/1024:.1f}" if name in mem else "-"
    print(f"| {name} | {r['mean']*1000:.1f} ± {sd:.1f} | {r['median']*1000:.1f} | {r['median']/b['median']:.2f} | "
          f"{ins[name]/1e6:.1f} M | {ins[name]/ins[base[name]]:.2f} | {peak} |")
def ratio(n): return by_name[n]["median"] / by_name[base[n]]["median"]
print()
print(f"--help / /bin/true: {ratio('sharemapper --help'):.2f} (goal 3); "
      f"query of 26 drives / --help: {max(ratio('query, 26 drives, form'), ratio('query, 26 drives, json')):.2f} (goal 1.3); "
      f"add / smbclient: {ratio('sharemapper --add'):.2f} (goal 0.9)")
PY
fi

if [[ $parts == *" walk "* ]]; then

# The walk. Each relay listens on port 445 of another loopback address (the
# program always dials 445): 127.0.0.2 delays by 5 ms each way, 127.0.0.3
# only counts.
walk_runs=${BENCH_WALK_RUNS:-3}
relays=()
start_relay() {
  python3 "$top/scripts/latency_relay.py" "$1:445" 127.0.0.1:445 "$2" "$work/count-$1" &
  relays+=("$!")
  for _ in $(seq 50); do [ -s "$work/count-$1" ] && return; sleep 0.1; done
  echo "the relay on $1 did not start" >&2
  exit 1
}
# shellcheck disable=SC2317  # called by the EXIT trap
stop_relays() { for pid in "${relays[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap 'stop_relays; cleanup' EXIT
start_relay 127.0.0.2 5
start_relay 127.0.0.3 0

share_dir="$work/server/shares/pub"
# A bin of $1 files, ten to a folder, owned by the test account; with a
# second argument, the drive E: is freed first. hyperfine runs its commands
# without a shell, hence a script of its own.
cat >"$work/make_bin.sh" <<EOF
set -e
[ -z "\${2:-}" ] || $q --del --drive=E >/dev/null 2>&1 || true
python3 - "$share_dir/\\\$RECYCLE.BIN" "\$1" <<'PY'
import os, shutil, sys
bin, files = sys.argv[1], int(sys.argv[2])
shutil.rmtree(bin, ignore_errors=True)
for f in range(files):
    folder = os.path.join(bin, "S-1-5-21-%04d" % (f // 10))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "\$R%02d.txt" % (f % 10)), "w") as out:
        out.write("x")
PY
chown -R "$user:" "$share_dir/\\\$RECYCLE.BIN"
EOF
make_bin() { bash "$work/make_bin.sh" "$@"; }
gone() { [ ! -e "$share_dir/\$RECYCLE.BIN" ]; }
# The SMB2 requests one command sends through the counting relay.
requests() {
  local before after
  before=$(cut -d' ' -f2 "$work/count-127.0.0.3")
  "$@" >/dev/null 2>&1 || true
  sleep 0.3
  after=$(cut -d' ' -f2 "$work/count-127.0.0.3")
  echo $((after - before))
}

walk_json=()
walk_counts=()
for address in 127.0.0.1 127.0.0.2; do
  add_walk="$q --add --domain= --user=$user --password=$pass --host=$address --location=pub --volume=Bench --userid=1 --dsid=2 --drive=E"
  smb_walk="smbclient //$address/pub -U $user%$pass -s $work/server/client.conf -c 'deltree \$RECYCLE.BIN'"
  for files in 100 1000 5000; do
    out="$work/walk-$address-$files.json"
    hyperfine -N --runs "$walk_runs" --export-json "$out" \
      --prepare "bash $work/make_bin.sh $files" \
      --prepare "bash $work/make_bin.sh $files free" \
      -n "smbclient deltree" "sh -c \"$smb_walk\"" \
      -n "sharemapper --add" "$add_walk" >/dev/null
    gone || { echo "the bin of $files files is still there after the add" >&2; exit 1; }
    "$sm" --del --drive=E >/dev/null 2>&1 || true
    walk_json+=("$out")
  done
done
# Requests per entry, once per tool and size, on loopback through the counter.
for files in 100 1000 5000; do
  make_bin "$files"
  smb=$(requests sh -c "smbclient //127.0.0.3/pub -U $user%$pass -s $work/server/client.conf -c 'deltree \$RECYCLE.BIN'")
  make_bin "$files"
  add=$(requests "$sm" --add --domain= "--user=$user" "--password=$pass" --host=127.0.0.3 --location=pub \
    --volume=Bench --userid=1 --dsid=2 --drive=E)
  "$sm" --del --drive=E >/dev/null 2>&1 || true
  walk_counts+=("$files:$smb:$add")
done

python3 - "${walk_counts[*]}" "${walk_json[@]}" <<'PY'
import json, sys
counts = {int(f): (int(s), int(a)) for f, s, a in (c.split(":") for c in sys.argv[1].split())}
print("| bin | where | smbclient deltree s | sharemapper --add s | ratio | requests/entry deltree | requests/entry add |")
print("|---|---|---|---|---|---|---|")
for path in sys.argv[2:]:
    where, files = path.rsplit("/", 1)[1][len("walk-"):-len(".json")].rsplit("-", 1)
    files = int(files)
    entries = files + files // 10 + 1  # the files, their folders and the bin
    r = {x["command"]: x["median"] for x in json.load(open(path))["results"]}
    smb, add = r["smbclient deltree"], r["sharemapper --add"]
    label = "loopback" if where == "127.0.0.1" else "relay, 5 ms each way"
    s, a = counts[files]
    print(f"| {files:,} files | {label} | {smb:.2f} | {add:.2f} | {add / smb:.2f} | {s / entries:.2f} | {a / entries:.2f} |")
PY
fi

[[ $parts == *" stress "* ]] || exit 0
# The stress test runs on the build tree's own test server; the throwaway
# one goes first, since both listen on 127.0.0.1:445.
bash "$fixture" stop "$work/server" >/dev/null
cmake --build "$top/build" -j"$(nproc 2>/dev/null || echo 2)" --target e2e_stress_tests >/dev/null
echo
set +e
SM_STRESS_ROUNDS=${STRESS_ROUNDS:-50} SM_STRESS_MIXED=${STRESS_MIXED:-40} SM_STRESS_RACES=${STRESS_RACES:-200} \
  "$top/build/tests/e2e/e2e_stress_tests" | grep -E '^\[stress\]|^\[  (FAILED|PASSED|SKIPPED) '
stress=${PIPESTATUS[0]}
set -e
exit "$stress"
