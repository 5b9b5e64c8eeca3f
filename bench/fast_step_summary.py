#!/usr/bin/env python3
"""Summarises runs of orrelune-fast-bench (JSON from --benchmark_out, with repetitions) into one CSV.

On a shared machine a step is mostly slowed by other work, never sped up, so each case's fastest
repetition is the best estimate of its own cost; the median shows what a busy machine gives.
Ratios (fast against literal, fast against the square-root-plus-division ceiling on as many
threads) are taken from the fastest repetitions of one run, then the median and range over runs.

usage: fast_step_summary.py OUT.csv RUN.json [RUN.json ...]
"""
import csv
import json
import statistics
import sys


def parse(name):
    parts = name.split("/")
    fields = dict(p.split(":", 1) for p in parts[1:] if ":" in p and not p.startswith("iterations"))
    return (parts[0],) + tuple(sorted((k, int(v)) for k, v in fields.items()))


def load(path):
    with open(path) as f:
        data = json.load(f)
    runs = {}
    for b in data["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        runs.setdefault(parse(b["run_name"]), []).append(b)
    return runs


def fastest(entries):
    return min(entries, key=lambda b: b["real_time"])


def main():
    out, paths = sys.argv[1], sys.argv[2:]
    runs = [load(p) for p in paths]
    keys = []
    for r in runs:
        keys += [k for k in r if k not in keys]
    bound_key = lambda t: ("BM_SqrtDivBound", ("threads", t))
    rows = []
    for t in (1, 2):
        samples = [b["ns_per_pair"] for r in runs for b in r.get(bound_key(t), [])]
        if samples:
            rows.append({"group": "bound", "engine": "sqrt+div", "threads": t, "samples": len(samples),
                         "ns_per_live_pair_best": round(min(samples), 4),
                         "ns_per_live_pair_median": round(statistics.median(samples), 4)})
    for key in keys:
        family, args = key[0], dict(key[1:])
        if family == "BM_SqrtDivBound":
            continue
        times = [b["real_time"] for r in runs for b in r.get(key, [])]
        ns = [b["ns_per_pair"] for r in runs for b in r.get(key, [])]
        live = int(next(b for r in runs for b in r.get(key, []))["live"])
        speedups, fractions = [], []
        for r in runs:
            if key not in r or args["engine"] != 1:
                continue
            best = fastest(r[key])
            lit = dict(args, engine=0, threads=1)
            for family_name in ("BM_Step", "BM_Literal50000"):
                lk = (family_name,) + tuple(sorted(lit.items()))
                if lk in r:
                    speedups.append(fastest(r[lk])["real_time"] / best["real_time"])
            if bound_key(args["threads"]) in r:
                bound = min(b["ns_per_pair"] for b in r[bound_key(args["threads"])])
                fractions.append(bound / best["ns_per_pair"])
        rng = lambda v, d: f"{round(min(v), d)}..{round(max(v), d)}" if v else ""
        rows.append({
            "group": {"BM_Step": "cases", "BM_TickSizes": "tick", "BM_Literal50000": "cases"}[family],
            "engine": "fast" if args["engine"] == 1 else "literal",
            "threads": args["threads"],
            "count": args["count"],
            "radius": args["radius"] / 1000,
            "merge": args["merge"],
            "step": "first" if args["warm"] == 0 else "later",
            "live": live,
            "samples": len(times),
            "ms_best": round(min(times), 4),
            "ms_median": round(statistics.median(times), 4),
            "ms_worst": round(max(times), 4),
            "ns_per_live_pair_best": round(min(ns), 4),
            "ns_per_live_pair_median": round(statistics.median(ns), 4),
            "speedup_vs_literal": round(statistics.median(speedups), 2) if speedups else "",
            "speedup_range": rng(speedups, 1),
            "fraction_of_sqrt_div_bound": round(statistics.median(fractions), 3) if fractions else "",
            "fraction_range": rng(fractions, 2),
        })
    fields = list(rows[-1].keys())
    with open(out, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=fields)
        w.writeheader()
        for row in rows:
            w.writerow(row)


if __name__ == "__main__":
    main()
