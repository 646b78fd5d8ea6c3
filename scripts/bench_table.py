#!/usr/bin/env python3
"""Runs a peer benchmark binary and prints its figures as tables.

Usage: bench_table.py BINARY [--repetitions N] [--cpu C] [--json OUT] [--filter REGEX]
       bench_table.py --from-json FILE

Drawers (peer_bench): benchmarks named [<function>/]<work>/engine, .../peer and .../bound; each
figure is the median of the repetitions, in millions of destination pixels per second. An engine
benchmark's "target" counter is the engine-to-peer ratio it is meant to reach; the target column
shows it, with "met" or "missed".

Model loads (load_peer_bench): load/<work>/engine, .../peer (the peer importer without
post-processing) and .../peer_pp (with triangulation, vertex joining and smooth normals), medians
of CPU time; mem/<work>/<kind>, the peak resident memory of one load in a child process. The
tables carry each row's target and whether it is met.

The repetitions run interleaved in random order; with --cpu the binary runs pinned to that core
(taskset)."""
import argparse
import json
import math
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
           "--benchmark_enable_random_interleaving=true",
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
    if any(b["run_name"].startswith(("load/", "mem/")) for b in data["benchmarks"]):
        print_load_tables(data)
        return print_context(data, args)
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
    markdown(rows)
    return print_context(data, args)


def print_context(data, args):
    ctx = data.get("context", {})
    print(f"\n{ctx.get('num_cpus', '?')} CPUs at {ctx.get('mhz_per_cpu', '?')} MHz, "
          f"{b_reps(data)} repetitions, medians"
          + (f", pinned to CPU {args.cpu}" if args.cpu is not None else ""))
    return 0


def markdown(rows):
    widths = [max(len(row[i]) for row in rows) for i in range(len(rows[0]))]
    print("| " + " | ".join(rows[0][i].ljust(widths[i]) for i in range(len(widths))) + " |")
    print("|" + "|".join("-" * (w + 1) + (":" if i else "-") for i, w in enumerate(widths)) + "|")
    for row in rows[1:]:
        print("| " + row[0].ljust(widths[0]) + " | " +
              " | ".join(row[i].rjust(widths[i]) for i in range(1, len(widths))) + " |")


def print_load_tables(data):
    """The load table (CPU time medians) and the memory table (peak resident above the start)."""
    times, peaks, kept, info, order, verts = {}, {}, {}, {}, [], {}
    medians = any(b.get("aggregate_name") == "median" for b in data["benchmarks"])
    for b in data["benchmarks"]:
        if (b.get("aggregate_name") != "median") if medians else b.get("run_type") == "aggregate":
            continue
        section, work, kind = b["run_name"].split("/")[:3]
        if work not in info:
            info[work] = {k: b.get(k) for k in ("group", "has_normals", "triangles")}
            order.append(work)
        scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b.get("time_unit", "ns")]
        if section == "load":
            times.setdefault(work, {})[kind] = b["cpu_time"] * scale
            if "vertices" in b:
                verts[work] = b["vertices"]
        elif "peak_KiB" in b:
            peaks.setdefault(work, {})[kind] = b["peak_KiB"]
            if kind == "engine" and b.get("kept_KiB", -1) >= 0:
                kept[work] = b["kept_KiB"]

    # small, large, then the grids by format and size (the runs come interleaved)
    order.sort(key=lambda w: (info[w]["group"], w.rsplit("_", 1)[0], info[w]["triangles"] or 0, w))

    def f(v, style=",.0f"):
        return format(v, style) if v is not None else "-"

    def ok(good):
        return "yes" if good else "NO"

    rows = [("load (CPU time)", "vertices", "engine us", "peer us", "peer pp us", "ratio", "target",
             "met")]
    large = []
    for work in order:
        t = times.get(work)
        if not t:
            continue
        g, normals = info[work]["group"], info[work]["has_normals"]
        e, p, pp = t.get("engine"), t.get("peer"), t.get("peer_pp")
        ratio = target = met = None
        if g == 0 and e and p and pp:  # small X, textures removed
            ref = p if normals else pp
            ratio, target, met = e / ref, ("<= 1.00 raw" if normals else "<= 1.00 pp"), e <= ref
        elif g == 1 and e and p:  # large X as found
            ratio, target = e / p, "mean <= 0.45"
            large.append(ratio)
        elif work.startswith("grid_mqo_") and e:  # MQO against the same grid as text X
            xwork = work.replace("grid_mqo_", "grid_xtext_")
            x = times.get(xwork, {}).get("engine")
            if x:  # met only when both files made the same model
                same = verts.get(work) is not None and verts.get(work) == verts.get(xwork)
                ratio, target, met = e / x, "<= 1.50 X", e / x <= 1.5 and same
        elif e and p:
            ratio = e / p
        rows.append((work, f(verts.get(work)), f(e), f(p), f(pp), f(ratio, ".2f"), target or "",
                     ok(met) if met is not None else ""))
    if large:
        mean = math.exp(sum(math.log(r) for r in large) / len(large))
        rows.append((f"x_large geometric mean ({len(large)})", "", "", "", "", f(mean, ".2f"),
                     "<= 0.45 raw", ok(mean <= 0.45)))
    markdown(rows)
    print("\nsmall X: textures removed, against the peer's raw load when the file has normals, "
          "its post-processed load when not; ratio = engine / that. MQO grids: engine time per "
          "triangle against the same grid as text X without normals (met only when both make the same "
          "model: equal vertices, the vertices of the model's triangle lists).\n")
    if not peaks:
        return
    rows = [("memory (peak KiB)", "engine", "peer", "peer pp", "to raw", "target", "met",
             "engine kept", "kept to raw")]
    for work in order:
        m = peaks.get(work)
        if not m:
            continue
        e, p, pp = m.get("engine"), m.get("peer"), m.get("peer_pp")
        ratio = e / p if e is not None and p else None
        met = None if ratio is None or pp is None else (ratio <= 1.2 and e <= pp)
        k = kept.get(work)
        rows.append((work, f(e), f(p), f(pp), f(ratio, ".2f"), "<= 1.20 raw, <= pp",
                     ok(met) if met is not None else "", f(k), f(k / p if k is not None and p else None, ".2f")))
    markdown(rows)
    print("\nOne load in a fresh child process: peak resident memory above its resident memory "
          "just before the load (X files of 100 KB and more with their textures removed, and the "
          "generated X grids). Engine kept: the heap the load leaves in use, the loaded model (its "
          "base and the device's copies of its vertex and index buffers, as the model's layout has "
          "them); where that alone is above 1.2 times the peer's raw peak, no order of work within "
          "the load reaches the target.")


if __name__ == "__main__":
    sys.exit(main())
