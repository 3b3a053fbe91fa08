#!/usr/bin/env bash
# Benchmarks on the loopback test server, side by side in one run:
#   - --help against /bin/true, the floor of any process start;
#   - the query of 26 mapped drives (form and JSON) against --help;
#   - one add and one delete against "smbclient -c ls" on the same share with
#     the same account (the same session set-up and tree connect);
#   - the instructions each executes (valgrind's callgrind: they do not drift
#     with the machine's load) and its peak memory;
#   - at the end, the stress test (many runs at once) with larger counts:
#     STRESS_ROUNDS rounds of 8 racing "*" adds (50), STRESS_MIXED cycles of
#     the mixed load's 6 workers (40), STRESS_RACES deletes racing a re-add
#     (200).
# Prints a Markdown table and the stress test's "[stress]" lines. Needs root
# (the test server switches users).
# shellcheck source=scripts/throwaway_share.sh
source "$(dirname "$0")/throwaway_share.sh" bench
runs=${BENCH_RUNS:-30}

bash "$fixture" start "$work/server" >/dev/null

user=$share_user
pass=$share_password
add_args=(--add --domain= "--user=$user" "--password=$pass" --host=127.0.0.1 --location='pub\docs'
  --volume=Bench --userid=1 --dsid=2)

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

q=$(printf '%q ' "$sm")
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
del_cmd="$q --del --drive=E"
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
