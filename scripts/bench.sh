#!/usr/bin/env bash
# Benchmarks on the loopback test server, side by side in one run:
#   - the query of 26 mapped drives (form and JSON) against --help, the
#     process-start floor;
#   - one add and one delete against "smbclient -c ls" on the same share with
#     the same account (the same session set-up and tree connect);
#   - the peak memory of each.
# Prints a Markdown table. Needs root (the test server switches users).
source "$(dirname "$0")/throwaway_share.sh" bench
runs=${BENCH_RUNS:-30}

bash "$fixture" start "$work/server" >/dev/null

user=$share_user
pass=$share_password
add_args=(--add --domain= --user=$user --password=$pass --host=127.0.0.1 --location='pub\docs'
  --volume=Bench --userid=1 --dsid=2)

# 26 drives for the query: every letter.
for letter in {A..Z}; do
  "$sm" "${add_args[@]}" --drive=$letter --outformat=json >/dev/null
done
count=$("$sm" --outformat=json | grep -o '"drive"' | wc -l)
[ "$count" -eq 26 ] || { echo "expected 26 mapped drives, got $count" >&2; exit 1; }

peak_kb() { /usr/bin/time -f '%M' "$@" 2>&1 >/dev/null | tail -n 1; }

q=$(printf '%q ' "$sm")
hyperfine -N --warmup 3 --runs "$runs" --export-json "$work/query.json" \
  -n 'sharemapper --help' "$q --help" \
  -n 'query, 26 drives, form' "$q" \
  -n 'query, 26 drives, json' "$q --outformat=json" >/dev/null

mem_help=$(peak_kb "$sm" --help)
mem_form=$(peak_kb "$sm")
mem_json=$(peak_kb "$sm" --outformat=json)

# Free the letters again, then time add and delete of one drive.
for letter in {A..Z}; do "$sm" --del --drive=$letter >/dev/null; done

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

python3 - "$work/query.json" "$work/add.json" "$mem_help" "$mem_form" "$mem_json" "$mem_smb" "$mem_add" "$mem_del" <<'PY'
import json, sys
q = json.load(open(sys.argv[1]))["results"]
a = json.load(open(sys.argv[2]))["results"]
mem = dict(zip(["sharemapper --help", "query, 26 drives, form", "query, 26 drives, json",
                "smbclient -c ls", "sharemapper --add", "sharemapper --del"], sys.argv[3:]))
def row(r, base):
    mean = r["mean"] * 1000
    sd = r["stddev"] * 1000 if r["stddev"] is not None else 0.0
    return f"| {r['command']} | {mean:.1f} ± {sd:.1f} | {r['median']*1000:.1f} | {r['mean']/base['mean']:.2f} | {int(mem[r['command']])/1024:.1f} |"
print("| command | mean ms | median ms | ratio to baseline | peak MiB |")
print("|---|---|---|---|---|")
for r in q: print(row(r, q[0]))
for r in a: print(row(r, a[0]))
ratio_q = max(r["mean"] for r in q[1:]) / q[0]["mean"]
ratio_a = a[1]["mean"] / a[0]["mean"]
print()
print(f"query of 26 drives / --help: {ratio_q:.2f} (target 1.5); add / smbclient: {ratio_a:.2f} (target 1.2)")
PY
