#!/usr/bin/env python3
"""Turns the benchmark JSON of one run into bench/RESULTS.md: throughput, the goal ratios, scaling."""
import json
import os
import platform
import sys
from datetime import date


def load(path):
    with open(path) as f:
        data = json.load(f)
    res = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name", "median") != "median":
            continue
        name = b.get("run_name", b["name"]).replace("/real_time", "").replace("/manual_time", "")
        res[name] = b
    return data.get("context", {}), res


def end_load(results_path):
    """The load average run.sh noted as the benchmarks ended (Linux only), kept beside the results."""
    try:
        with open(os.path.join(os.path.dirname(results_path), "bench-load-end.txt")) as f:
            return ", ".join(f.read().split()[:3])
    except OSError:
        return None


def gbps(b):
    return b.get("bytes_per_second", 0.0) / 1e9


def ns(b):
    unit = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    return b["real_time"] * unit


def main():
    ctx, r = load(sys.argv[1])
    out = []
    out.append("# kestcam benchmark results\n")
    out.append(f"Measured {date.today().isoformat()} on {ctx.get('num_cpus', '?')} CPUs "
               f"({platform.machine()}), {ctx.get('library_build_type', '')} Google Benchmark, "
               "median of the repetitions. Produced by "
               f"`{'BENCH_SET=' + os.environ['BENCH_SET'] + ' ' if os.environ.get('BENCH_SET') else ''}bench/run.sh`; "
               "all numbers come from one run.\n")
    load_start = ctx.get("load_avg")
    load_end = end_load(sys.argv[1])
    details = [f"row kernels in use: {ctx.get('row_kernels', 'unknown')}",
               f"OpenCV threads: {ctx.get('opencv_threads', 'unknown')}"]
    if load_start:
        details.append("load average at start: " + ", ".join(f"{v:.2f}" for v in load_start))
    if load_end:
        details.append("at end: " + load_end)
    out.append("; ".join(details) + ".\n")
    # A run of part of the benchmarks (BENCH_SET) shows the sections it measured.
    full_frame = ["BM_Readout_Mono8", "BM_Readout_16bitShift", "BM_Readout_16bitTable", "BM_Readout_8bitTable",
                  "BM_Readout_ColourBgr", "BM_Memcpy_Mono8", "BM_Memcpy_Colour", "BM_OpenCV_ConvertTo16to8",
                  "BM_OpenCV_Lut8", "BM_GrabLoop_Mono8"]
    if any(name in r for name in full_frame):
        out.append("## Full-frame throughput (8160 x 1000)\n")
        out.append("| benchmark | time per frame | GB/s delivered |")
        out.append("|---|---|---|")
        for name in full_frame:
            if name in r:
                out.append(f"| {name} | {ns(r[name]) / 1e6:.3f} ms | {gbps(r[name]):.2f} |")
        out.append("")

    def ratio(a, b, inverse=False):
        if a not in r or b not in r:
            return None
        return ns(r[a]) / ns(r[b]) if inverse else gbps(r[a]) / gbps(r[b])

    goals = [
        ("8-bit mono readout vs memcpy of the same rows", ratio("BM_Readout_Mono8", "BM_Memcpy_Mono8"), ">= 0.6", 0.6, True),
        ("16->8 shift readout vs OpenCV convertTo", ratio("BM_Readout_16bitShift", "BM_OpenCV_ConvertTo16to8"), ">= 1.5", 1.5, True),
        ("8-bit table readout vs cv::LUT", ratio("BM_Readout_8bitTable", "BM_OpenCV_Lut8"), ">= 1.0", 1.0, True),
        ("2-pixel span cost vs full 8160-pixel row", ratio("BM_RowCall_Span2", "BM_RowCall_FullRow", inverse=True), "<= 0.05", 0.05, False),
        ("grab loop vs memcpy bandwidth", ratio("BM_GrabLoop_Mono8", "BM_Memcpy_Mono8"), ">= 0.3", 0.3, True),
        ("sharing path vs one readout plus one memcpy of the frame",
         ratio("BM_Share_FramePath", "BM_Share_ReadoutPlusMemcpy"), ">= 0.8", 0.8, True),
        ("grabs/s with a sharing client that never reads vs sharing off",
         ratio("BM_Share_GrabLoop_ClientNeverReads", "BM_Share_GrabLoop_Off"), ">= 0.95", 0.95, True),
    ]
    out.append("## Goals\n")
    out.append("| ratio | measured | goal | met |")
    out.append("|---|---|---|---|")
    partial = os.environ.get("BENCH_SET") is not None
    for label, value, goal, limit, higher in goals:
        if value is None:
            if not partial:
                out.append(f"| {label} | not measured | {goal} | – |")
            continue
        met = value >= limit if higher else value <= limit
        out.append(f"| {label} | {value:.3f} | {goal} | {'yes' if met else 'no'} |")
    out.append("")

    limits = [("BM_Limit_Copy16Rows", "copy of the 16-bit rows into one staging row (what MbufGet2d does)"),
              ("BM_Limit_Copy16ThenShift", "that copy, then the driver's shift kernel: the readout without per-call costs"),
              ("BM_Limit_Shift16FromFrame", "the shift kernel reading the frame directly (no staging copy)")]
    if any(name in r for name, _ in limits):
        out.append("## What bounds the 16-bit readout (8160 x 1000, outside the driver)\n")
        out.append("| benchmark | what it does | time per frame | vs OpenCV convertTo |")
        out.append("|---|---|---|---|")
        for name, what in limits:
            if name in r:
                vs = ratio(name, "BM_OpenCV_ConvertTo16to8")
                out.append(f"| {name} | {what} | {ns(r[name]) / 1e6:.3f} ms | "
                           f"{'' if vs is None else f'{vs:.2f}'} |")
        out.append("")

    if any(name.startswith("BM_ReadoutWidth_Mono8/") for name in r):
        out.append("## Readout cost by width (8-bit mono, 1000 rows)\n")
        out.append("| width | time per frame | GB/s |")
        out.append("|---|---|---|")
        for w in [256, 1024, 4096, 8160, 16384]:
            name = f"BM_ReadoutWidth_Mono8/{w}"
            if name in r:
                out.append(f"| {w} | {ns(r[name]) / 1e3:.1f} us | {gbps(r[name]):.2f} |")
        out.append("")
    if any(name.startswith("BM_GrabLoopStack_Mono8/") for name in r):
        out.append("## Grab loop by HeightMultiplier (2048 x 1000 per frame)\n")
        out.append("| frames per grab | time per grab | time per frame | GB/s |")
        out.append("|---|---|---|---|")
        for m in [1, 5, 10, 25, 50]:
            name = f"BM_GrabLoopStack_Mono8/{m}"
            if name in r:
                out.append(f"| {m} | {ns(r[name]) / 1e6:.2f} ms | {ns(r[name]) / 1e6 / m:.2f} ms | "
                           f"{gbps(r[name]):.2f} |")
        out.append("")
    loops = ["BM_Share_GrabLoop_Off", "BM_Share_GrabLoop_ClientNeverReads", "BM_Share_GrabLoop_ClientKeepsUp"]
    if any(name in r for name in loops):
        out.append("## Frame sharing (2048 x 1000, simulator at full speed)\n")
        out.append("| grab loop | grabs/s | frames announced/s |")
        out.append("|---|---|---|")
        for name in loops:
            if name in r:
                grabs = r[name].get("items_per_second", 0.0)
                announced = r[name].get("announced")
                out.append(f"| {name} | {grabs:.0f} | {'' if announced is None else f'{announced:.0f}'} |")
        out.append("")
        out.append("| benchmark | time per frame | GB/s |")
        out.append("|---|---|---|")
        for name, what in [("BM_Share_FramePath", "sharing path: completion to notice at the client"),
                           ("BM_Share_ReadoutPlusMemcpy", "one readout of every row plus one memcpy"),
                           ("BM_Share_Memcpy", "memcpy of the frame")]:
            if name in r:
                out.append(f"| {what} | {ns(r[name]) / 1e6:.3f} ms | {gbps(r[name]):.2f} |")
        out.append("")
    notes = sys.argv[3] if len(sys.argv) > 3 else None
    if notes:
        with open(notes) as f:
            out.append(f.read())
    with open(sys.argv[2], "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
