"""Which repetition of a benchmark the results take: the fastest that ran, else the run's median."""
import json

import pytest

import make_results


def rep(name, time, **extra):
    return dict(name=name, run_name=name, run_type="iteration", real_time=time, time_unit="ns", **extra)


def median(name, time):
    return dict(name=name + "_median", run_name=name, run_type="aggregate", aggregate_name="median",
                real_time=time, time_unit="ns")


@pytest.mark.parametrize("entries, expected", [
    ([rep("BM_A", 30.0), rep("BM_A", 10.0), rep("BM_A", 20.0)], 10.0),
    ([rep("BM_A/real_time", 12.0), rep("BM_A/real_time", 11.0)], 11.0),
    ([rep("BM_A", 5.0, error_occurred=True, error_message="a row was refused"), rep("BM_A", 9.0)], 9.0),
    ([rep("BM_A", 40.0), median("BM_A", 25.0)], 40.0),
    ([median("BM_A", 25.0), dict(median("BM_A", 99.0), aggregate_name="mean")], 25.0),
], ids=["fastest of three", "suffix dropped", "failed repetition ignored", "repetition before median",
        "median when no repetition"])
def test_results_take_the_fastest_repetition(tmp_path, entries, expected):
    path = tmp_path / "run.json"
    path.write_text(json.dumps({"context": {}, "benchmarks": entries}))
    _, results = make_results.load(str(path))
    assert results["BM_A"]["real_time"] == expected


@pytest.mark.parametrize("counts, expected", [([10, 10], "10"), ([5, 10], "5/10"), ([None], "1")],
                         ids=["one count", "counts differ", "count not recorded"])
def test_the_heading_says_how_many_repetitions_ran(tmp_path, counts, expected):
    entries = [rep(f"BM_{i}", 1.0) if n is None else rep(f"BM_{i}", 1.0, repetitions=n)
               for i, n in enumerate(counts)]
    path = tmp_path / "run.json"
    path.write_text(json.dumps({"context": {}, "benchmarks": entries}))
    _, results = make_results.load(str(path))
    assert make_results.repetitions(results) == expected
