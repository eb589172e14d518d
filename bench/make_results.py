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
    # Each benchmark's fastest repetition; a file of aggregates only (an older run) gives its medians.
    res = {}
    medians = {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"]).replace("/real_time", "").replace("/manual_time", "")
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                medians[name] = b
        elif b.get("error_occurred"):
            continue
        elif name not in res or b["real_time"] < res[name]["real_time"]:
            res[name] = b
    for name, b in medians.items():
        res.setdefault(name, b)
    return data.get("context", {}), res


def repetitions(results):
    """How many repetitions the benchmarks ran, from what load() kept of each."""
    return "/".join(str(c) for c in sorted({b.get("repetitions", 1) for b in results.values()}))


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
               f"the fastest of {repetitions(r)} repetitions each, run in random order. Produced by "
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
    if ctx.get("load_before"):
        details.append("uptime before the run: " + ctx["load_before"])
    out.append("; ".join(details) + ".\n")
    # A run of part of the benchmarks (BENCH_SET) shows the sections it measured.
    full_frame = ["BM_Readout_Mono8", "BM_Readout_16bitShift", "BM_Readout_16bitTable", "BM_Readout_8bitTable",
                  "BM_Readout_ColourBgr", "BM_Memcpy_Mono8", "BM_Memcpy_Colour", "BM_OpenCV_ConvertTo16to8",
                  "BM_OpenCV_ConvertTo16to8_OneThread", "BM_OpenCV_Lut8", "BM_GrabLoop_Mono8"]
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

    def cost(name):
        return ns(r[name]) if name in r else None

    def width_ratio(prefix, w):
        return ratio(f"{prefix}/{w}", f"BM_MemcpyWidth_Mono8/{w}")

    # (label, measured, goal text, limit, higher is better, first round's figure)
    goals = [
        ("driver's own fixed cost per row call (minimal backend, 2-pixel span), ns",
         cost("BM_RowCall_Span2_Minimal"), "<= 10", 10.0, False, None),
        ("fixed cost per row call with the simulator (2-pixel span), ns",
         cost("BM_RowCall_Span2"), "<= 25", 25.0, False, 53.0),
    ]
    for w in [2048, 4096, 8192, 16384]:
        goals.append((f"8-bit mono readout vs memcpy, minimal backend, width {w}",
                      width_ratio("BM_ReadoutWidthMinimal_Mono8", w), ">= 0.8", 0.8, True, None))
    for w in [2048, 4096, 8192, 16384]:
        goals.append((f"8-bit mono readout vs memcpy, simulator, width {w}",
                      width_ratio("BM_ReadoutWidth_Mono8", w), ">= 0.6", 0.6, True, None))
    goals += [
        ("16->8 shift readout vs OpenCV convertTo", ratio("BM_Readout_16bitShift", "BM_OpenCV_ConvertTo16to8"),
         ">= 1.6", 1.6, True, 1.499),
        ("8-bit mono readout vs memcpy of the same rows (8160 wide)", ratio("BM_Readout_Mono8", "BM_Memcpy_Mono8"),
         ">= 0.6", 0.6, True, 0.877),
        ("8-bit table readout vs cv::LUT", ratio("BM_Readout_8bitTable", "BM_OpenCV_Lut8"), ">= 1.0", 1.0, True, 2.847),
        ("2-pixel span cost vs full 8160-pixel row", ratio("BM_RowCall_Span2", "BM_RowCall_FullRow", inverse=True),
         "<= 0.05", 0.05, False, 0.183),
        ("grab loop vs memcpy bandwidth", ratio("BM_GrabLoop_Mono8", "BM_Memcpy_Mono8"), ">= 0.3", 0.3, True, 0.310),
        ("sharing path vs one readout plus one memcpy of the frame",
         ratio("BM_Share_FramePath", "BM_Share_ReadoutPlusMemcpy"), ">= 0.8", 0.8, True, None),
        ("grabs/s with a sharing client that never reads vs sharing off",
         ratio("BM_Share_GrabLoop_ClientNeverReads", "BM_Share_GrabLoop_Off"), ">= 0.95", 0.95, True, None),
    ]
    side = []
    for prefix, what in [("BM_ReadoutWidthMinimal_Mono8", "minimal backend"), ("BM_ReadoutWidth_Mono8", "simulator")]:
        v = width_ratio(prefix, 512)
        if v is not None:
            side.append(f"width 512 ({what}): {v:.3f} of memcpy")
    v = ratio("BM_Readout_16bitShift", "BM_OpenCV_ConvertTo16to8_OneThread")
    if v is not None:
        side.append(f"16->8 shift readout vs OpenCV convertTo held to one thread: {v:.3f}")
    wakes = [(what, r[name]) for name, what in [("BM_Limit_WakeFromIdleThread", "from an idle thread"),
                                                 ("BM_Limit_WakeFromBusyThread", "from a busy one")]
             if name in r]
    if wakes:
        side.append("a wake-up of a sleeping thread "
                    + ", ".join(f"{what} {ns(b) / 1e3:.1f} us" for what, b in wakes))
    out.append("## Goals\n")
    out.append("| figure | measured | goal | met | first round |")
    out.append("|---|---|---|---|---|")
    partial = os.environ.get("BENCH_SET") is not None
    for label, value, goal, limit, higher, before in goals:
        first = "–" if before is None else f"{before:.3f}"
        if value is None:
            if not partial:
                out.append(f"| {label} | not measured | {goal} | – | {first} |")
            continue
        met = value >= limit if higher else value <= limit
        out.append(f"| {label} | {value:.3f} | {goal} | {'yes' if met else 'no'} | {first} |")
    out.append("")
    if side:
        out.append("Reported beside the goals: " + "; ".join(side) + ".\n")
    calls = [("BM_RowCall_Span2_Minimal", "(a) the driver's own: export through the minimal backend (plain copy)"),
             ("BM_SimGet2d_Span2", "(b) the simulator's MbufGet2d alone, called directly"),
             ("BM_RowCall_Span2", "(c) the total: export through the simulator"),
             ("BM_RowCall_FullRow_Minimal", "full 8160-pixel row, minimal backend"),
             ("BM_RowCall_FullRow", "full 8160-pixel row, simulator")]
    if any(name in r for name, _ in calls):
        out.append("## Cost of one row call (2-pixel span unless said)\n")
        out.append("| what | benchmark | time per call |")
        out.append("|---|---|---|")
        for name, what in calls:
            if name in r:
                out.append(f"| {what} | {name} | {ns(r[name]):.1f} ns |")
        out.append("")

    limits = [("BM_Limit_Copy16Rows", "copy of the 16-bit rows into one staging row (what the simulator's MbufGet2d does)"),
              ("BM_Limit_Copy16Rows_Memcpy", "the same copy made by the C library's memcpy"),
              ("BM_Limit_Copy16ThenShift", "the simulator's copy, then the driver's shift kernel: the readout without per-call costs"),
              ("BM_Limit_Copy16ThenShift_Memcpy", "memcpy, then the driver's shift kernel"),
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
        out.append("| width | simulator | GB/s | minimal backend | GB/s | memcpy | GB/s | sim / memcpy | minimal / memcpy |")
        out.append("|---|---|---|---|---|---|---|---|---|")
        for w in [256, 512, 1024, 2048, 4096, 8192, 16384]:
            cells = []
            for prefix in ["BM_ReadoutWidth_Mono8", "BM_ReadoutWidthMinimal_Mono8", "BM_MemcpyWidth_Mono8"]:
                name = f"{prefix}/{w}"
                cells += [f"{ns(r[name]) / 1e3:.1f} us", f"{gbps(r[name]):.2f}"] if name in r else ["", ""]
            for prefix in ["BM_ReadoutWidth_Mono8", "BM_ReadoutWidthMinimal_Mono8"]:
                v = width_ratio(prefix, w)
                cells.append("" if v is None else f"{v:.3f}")
            out.append(f"| {w} | " + " | ".join(cells) + " |")
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
    loops = ["BM_Share_GrabLoop_Off", "BM_Share_GrabLoop_ClientNeverReads", "BM_Share_GrabLoop_ClientKeepsUp",
             "BM_Share_GrabReadLoop_ClientKeepsUp"]
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
