"""Measures ostrel-explain over a whole archive, as pipelines use it: one
process for a tree of small movies, against the recipe of a tool process per
file and the peers that read a folder in one process. Checks its speed
budgets, and that its peak memory stays small and does not grow with the
number of files."""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

FIXTURES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "Tests", "Fixtures")
MOVIES = sorted(name for name in os.listdir(FIXTURES) if name.endswith((".mov", ".mp4")))

BUDGET_SPEEDUP_OVER_RECIPE = 20.0
BUDGET_SPEEDUP_OVER_MEDIAINFO = 40.0
BUDGET_PEAK_KIB = 16 * 1024
BUDGET_PEAK_GROWTH_KIB = 1024  # from 3000 files to 30 000


def make_tree(root, count):
    """count copies of the real fixtures, a hundred to a folder, two levels deep."""
    if os.path.isdir(root) and sum(len(files) for _, _, files in os.walk(root)) == count:
        return
    shutil.rmtree(root, ignore_errors=True)
    for i in range(count):
        folder = os.path.join(root, f"card{i // 1000:03d}", "DCIM", f"{i // 100 % 10:03d}")
        os.makedirs(folder, exist_ok=True)
        name = MOVIES[i % len(MOVIES)]
        shutil.copyfile(os.path.join(FIXTURES, name), os.path.join(folder, f"C{i:06d}{os.path.splitext(name)[1]}"))


def timed(argv, shell=False):
    started = time.perf_counter()
    subprocess.run(argv, shell=shell, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - started


def peak_kib(measure, argv):
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run([measure, report.name] + argv, stdout=subprocess.DEVNULL, check=False)
        return int(report.read().split()[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--explain", required=True)
    parser.add_argument("--measure", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    small, large = os.path.join(args.folder, "3000"), os.path.join(args.folder, "30000")
    make_tree(small, 3000)
    make_tree(large, 30000)
    files = 3000
    failures = []

    ours = {}
    for name, argv in [("ostrel-explain --json", [args.explain, "--json", small]),
                       ("ostrel-explain --csv", [args.explain, "--csv", small]),
                       ("ostrel-explain --json --jobs 1", [args.explain, "--json", "--jobs", "1", small])]:
        timed(argv)  # warm the page cache
        ours[name] = statistics.median(timed(argv) for _ in range(args.rounds))
    recipe = ("find '%s' -type f \\( -name '*.mov' -o -name '*.mp4' \\) -print0 | xargs -0 -n 1 -P \"$(nproc)\" "
              "sh -c 'printf \"%%s\\t%%s\\n\" \"$(%s \"$1\")\" \"$1\"' sh" % (small, os.path.abspath(args.tool)))
    peers = {"the xargs recipe (two shells and ostrel a file)": timed(recipe, shell=True)}
    if shutil.which("mediainfo"):
        peers["mediainfo --Output=JSON FOLDER"] = timed(["mediainfo", "--Output=JSON", small])
    if shutil.which("exiftool"):
        peers["exiftool -r -csv -TimeCode FOLDER"] = timed(["exiftool", "-r", "-csv", "-TimeCode", small])

    print(f"## an archive of {files} small movies, warm cache, {os.cpu_count()} cores")
    print(f"| {'command':<50} | {'total s':>8} | {'per file ms':>11} | {'vs --json':>9} |")
    print(f"|{'-' * 52}|{'-' * 10}|{'-' * 13}|{'-' * 11}|")
    base = ours["ostrel-explain --json"]
    for name, seconds in list(ours.items()) + list(peers.items()):
        print(f"| {name:<50} | {seconds:8.3f} | {seconds / files * 1e3:11.4f} | {seconds / base:8.1f}x |")
    peak_small = peak_kib(args.measure, [os.path.abspath(args.explain), "--json", small])
    peak_large = peak_kib(args.measure, [os.path.abspath(args.explain), "--json", large])
    print(f"peak memory: {peak_small:,} KiB over 3000 files, {peak_large:,} KiB over 30 000\n")

    recipe_seconds = peers["the xargs recipe (two shells and ostrel a file)"]
    if recipe_seconds < BUDGET_SPEEDUP_OVER_RECIPE * base:
        failures.append(f"only {recipe_seconds / base:.1f}x faster than the xargs recipe")
    mediainfo = peers.get("mediainfo --Output=JSON FOLDER")
    if mediainfo is not None and mediainfo < BUDGET_SPEEDUP_OVER_MEDIAINFO * base:
        failures.append(f"only {mediainfo / base:.1f}x faster than mediainfo")
    if max(peak_small, peak_large) >= BUDGET_PEAK_KIB:
        failures.append(f"peak memory {max(peak_small, peak_large)} KiB")
    if peak_large - peak_small > BUDGET_PEAK_GROWTH_KIB:
        failures.append(f"peak memory grew by {peak_large - peak_small} KiB from 3000 to 30 000 files")
    for failure in failures:
        print("over budget:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
