#!/usr/bin/env python3
"""Runs the peer benchmark binary and prints its figures as a table.

Usage: bench_table.py BINARY [--repetitions N] [--cpu C] [--json OUT] [--filter REGEX]
       bench_table.py --from-json FILE

Benchmarks are named [<function>/]<work>/engine, .../peer and .../bound; each figure is the median
of the repetitions, in millions of destination pixels per second. An engine benchmark's "target"
counter is the engine-to-peer ratio it is meant to reach; the target column shows it, with "met"
or "missed". With --cpu the binary runs pinned to that core (taskset)."""
import argparse
import json
import shutil
import subprocess
import sys


def b_reps(data):
    for b in data["benchmarks"]:
        if "repetitions" in b:
            return b["repetitions"]
    return "?"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("binary", nargs="?")
    ap.add_argument("--from-json", help="print the table of a kept benchmark output")
    ap.add_argument("--repetitions", type=int, default=5)
    ap.add_argument("--cpu", type=int)
    ap.add_argument("--json", help="keep the raw benchmark output here")
    ap.add_argument("--filter", default="")
    args = ap.parse_args()

    if args.from_json:
        with open(args.from_json) as f:
            return print_table(json.load(f), args)
    cmd = [args.binary, "--benchmark_format=json",
           f"--benchmark_repetitions={args.repetitions}",
           "--benchmark_report_aggregates_only=true"]
    if args.filter:
        cmd.append(f"--benchmark_filter={args.filter}")
    if args.cpu is not None and shutil.which("taskset"):
        cmd = ["taskset", "-c", str(args.cpu)] + cmd
    out = subprocess.run(cmd, check=True, stdout=subprocess.PIPE, text=True).stdout
    if args.json:
        with open(args.json, "w") as f:
            f.write(out)
    return print_table(json.loads(out), args)


def print_table(data, args):
    rates = {}  # work -> {engine|peer|bound: Mpix/s}
    targets = {}  # work -> the engine-to-peer ratio to reach
    order = []
    for b in data["benchmarks"]:
        if b.get("aggregate_name") != "median":
            continue
        name = b["run_name"]
        if "/" not in name:
            continue
        parts = name.split("/")
        work, kind = parts[-2], parts[-1]
        if work not in rates:
            rates[work] = {}
            order.append(work)
        rates[work][kind] = b["items_per_second"] / 1e6
        if kind == "engine" and "target" in b:
            targets[work] = b["target"]

    def fmt(v, style):
        return format(v, style) if v is not None else "-"

    def target(work, ratio):
        t = targets.get(work)
        if t is None:
            return "-"
        verdict = "" if ratio is None else (" met" if ratio >= t else " missed")
        return format(t, ".2f") + verdict

    rows = [("work", "engine Mpix/s", "peer Mpix/s", "ratio", "target", "ratio to bound")]
    for work in order:
        r = rates[work]
        e, p, bnd = r.get("engine"), r.get("peer"), r.get("bound")
        ratio = e / p if e and p else None
        rows.append((work, fmt(e, ",.0f"), fmt(p, ",.0f"), fmt(ratio, ".2f"), target(work, ratio),
                     fmt(e / bnd if e and bnd else None, ".2f")))
    cols = len(rows[0])
    widths = [max(len(row[i]) for row in rows) for i in range(cols)]
    print("| " + " | ".join(rows[0][i].ljust(widths[i]) for i in range(cols)) + " |")
    print("|" + "|".join("-" * (w + 1) + (":" if i else "-") for i, w in enumerate(widths)) + "|")
    for row in rows[1:]:
        print("| " + row[0].ljust(widths[0]) + " | " +
              " | ".join(row[i].rjust(widths[i]) for i in range(1, cols)) + " |")
    ctx = data.get("context", {})
    print(f"\n{ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz, "
          f"{b_reps(data)} repetitions, medians"
          + (f", pinned to CPU {args.cpu}" if args.cpu is not None else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
