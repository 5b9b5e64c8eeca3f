#!/usr/bin/env python3
"""Summarises runs of orrelune-fast-bench (JSON from --benchmark_out, with repetitions) into one CSV.

On a shared machine a step is mostly slowed by other work, never sped up, so each case's fastest
repetition is the best estimate of its own cost; the median shows what a busy machine gives.
Ratios are taken from the fastest repetitions within one run, then the median and range over runs:
each engine against the literal step, the exact engine against the fast one, and each against its
ceiling on as many threads (one square root and one division per pair for the fast engine, one
square root and three divisions per ordered pair for the exact one).

usage: step_summary.py OUT.csv RUN.json [RUN.json ...]
"""
import csv
import json
import statistics
import sys

ENGINES = {0: "literal", 1: "fast", 2: "exact", 3: "exact built"}
BOUNDS = {1: "BM_SqrtDivBound", 2: "BM_SqrtThreeDivBound", 3: "BM_SqrtThreeDivBound"}


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


def key_of(family, args):
    return (family,) + tuple(sorted(args.items()))


def main():
    out, paths = sys.argv[1], sys.argv[2:]
    runs = [load(p) for p in paths]
    keys = []
    for r in runs:
        keys += [k for k in r if k not in keys]
    rng = lambda v, d: f"{round(min(v), d)}..{round(max(v), d)}" if v else ""
    rows = []
    for engine, family in list(BOUNDS.items())[:2]:
        for t in (1, 2):
            samples = [b["ns_per_pair"] for r in runs for b in r.get((family, ("threads", t)), [])]
            if samples:
                rows.append({"group": "bound", "engine": "sqrt+div" if engine == 1 else "sqrt+3div", "threads": t,
                             "samples": len(samples), "ns_per_pair_best": round(min(samples), 4),
                             "ns_per_pair_median": round(statistics.median(samples), 4)})
    for key in keys:
        family, args = key[0], dict(key[1:])
        if family in BOUNDS.values() or "engine" not in args:
            continue
        entries = [b for r in runs for b in r.get(key, [])]
        times = [b["real_time"] for b in entries]
        # Pairs the engine's ceiling counts: unordered for the fast one, ordered for the exact one.
        per_pair = "ns_per_ordered_pair" if args["engine"] >= 2 else "ns_per_pair"
        ns = [b[per_pair] for b in entries]
        speedups, versus_fast, fractions = [], [], []
        for r in runs:
            if key not in r or args["engine"] == 0:
                continue
            best = fastest(r[key])
            for literal_family in ("BM_Step", "BM_Literal50000"):
                literal = key_of(literal_family, dict(args, engine=0, threads=1))
                if literal in r:
                    speedups.append(fastest(r[literal])["real_time"] / best["real_time"])
            fast = key_of("BM_Step", dict(args, engine=1))
            if args["engine"] >= 2 and fast in r:
                versus_fast.append(best["real_time"] / fastest(r[fast])["real_time"])
            bound = (BOUNDS[args["engine"]], ("threads", args["threads"]))
            if bound in r:
                fractions.append(min(b["ns_per_pair"] for b in r[bound]) / best[per_pair])
        rows.append({
            "group": {"BM_Step": "cases", "BM_TickSizes": "tick", "BM_Literal50000": "cases",
                      "BM_ExactDivision": "division"}[family],
            "engine": ENGINES[args["engine"]],
            "threads": args["threads"],
            "count": args["count"],
            "radius": args["radius"] / 1000,
            "merge": args["merge"],
            "step": "first" if args["warm"] == 0 else "later",
            "live": int(entries[0]["live"]),
            "samples": len(times),
            "ms_best": round(min(times), 4),
            "ms_median": round(statistics.median(times), 4),
            "ms_worst": round(max(times), 4),
            "ns_per_pair_best": round(min(ns), 4),
            "ns_per_pair_median": round(statistics.median(ns), 4),
            "speedup_vs_literal": round(statistics.median(speedups), 2) if speedups else "",
            "speedup_range": rng(speedups, 1),
            "time_vs_fast": round(statistics.median(versus_fast), 2) if versus_fast else "",
            "time_vs_fast_range": rng(versus_fast, 2),
            "fraction_of_bound": round(statistics.median(fractions), 3) if fractions else "",
            "fraction_range": rng(fractions, 2),
        })
    fields = list(rows[-1].keys())
    with open(out, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=fields, restval="")
        w.writeheader()
        for row in rows:
            w.writerow(row)


if __name__ == "__main__":
    main()
