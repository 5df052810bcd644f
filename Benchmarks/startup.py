"""Measures the tool as scripts use it: whole processes, one per file.

For each benchmark movie it times ostrel, /bin/true and the peers in
interleaved rounds, counts the bytes and read calls the tool spends on the
movie (from strace), measures its peak memory, and checks the budgets. Then
it times the tool on the bounds cases (hostile files, and well-formed ones
with many tracks or fragments) against /bin/true, with their CPU time."""

import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import movies  # noqa: E402

BUDGET_RATIO_TO_TRUE = 2.0
BUDGET_SPEEDUP_OVER_FFPROBE = 50.0
BUDGET_BYTES_READ = 64 * 1024
BUDGET_READ_CALLS = 16
# Bounds cases with a budget of their own, in CPU seconds a whole run, in
# place of the ratio to /bin/true.
BUDGET_CPU = {
    "20000TracksOnlyTheLastGood": 0.025,
    # 5000 tracks to list and 100 000 movie fragments to walk, more boxes
    # than any other shape; about 4 ms.
    "thousandsOfTracksTimesThousandsOfFragments": 0.010,
    # Inflating a compressed movie header up to its 32 MiB limit: well under a second.
    "compressedMovieOf1GiBOfZeros": 0.25,
    "compressedMovieClaiming4GiB": 0.25,
    # Movie fragments of 2.4 million track fragments, walked once.
    "100MBOfTextTrackFragments": 0.3,
    "100MBOfTextTrackFragmentsThenAGoodOne": 0.3,
    "25MBOfTextTrackFragments": 0.075,
}
# Bounds cases that are almost all fragment metadata, read once in file
# order: no more read calls than 16 KiB blocks of the file, and a few more.
BUDGET_READS_PER_16_KIB = {"200TracksTimes200ScatteredFragments"}
# A walk through fragment metadata costs what its size says: (larger, smaller, size ratio).
LINEAR = [("100MBOfTextTrackFragments", "25MBOfTextTrackFragments", 4)]


def run_once(argv):
    devnull = os.open(os.devnull, os.O_WRONLY)
    try:
        started = time.perf_counter()
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 1), (os.POSIX_SPAWN_DUP2, devnull, 2)])
        os.waitpid(pid, 0)
        return time.perf_counter() - started
    finally:
        os.close(devnull)


def timings(commands, rounds):
    """commands: name -> argv. Interleaved so that machine noise hits all alike."""
    samples = {name: [] for name in commands}
    for name, argv in commands.items():  # warm the page cache and the loader
        run_once(argv)
    order = list(commands.items())
    shuffler = random.Random(0)
    for _ in range(rounds):
        # A new order each round, so that no command always follows a heavy one.
        shuffler.shuffle(order)
        for name, argv in order:
            samples[name].append(run_once(argv))
    return samples


def summary(values):
    ordered = sorted(values)
    q1 = ordered[len(ordered) // 4]
    q3 = ordered[(3 * len(ordered)) // 4]
    return statistics.median(ordered), q3 - q1


def movie_reads(tool, path):
    """Bytes and read calls on the movie's descriptor, from strace."""
    with tempfile.NamedTemporaryFile("r", suffix=".strace") as log:
        subprocess.run(["strace", "-qq", "-e", "trace=openat,read,pread64,preadv,readv", "-o", log.name, tool, path],
                       stdout=subprocess.DEVNULL, check=True)
        fd = None
        calls = total = 0
        for line in log.read().splitlines():
            if line.startswith("openat(") and '"%s"' % path in line:
                m = re.search(r"= (\d+)$", line)
                fd = m.group(1) if m else None
            elif fd is not None and re.match(r"(p?readv?|pread64)\(%s," % fd, line):
                calls += 1
                m = re.search(r"= (\d+)$", line)
                total += int(m.group(1)) if m else 0
        return total, calls


def measure(helper, tool, path, runs=1):
    """Peak memory in KiB and the least CPU time in seconds over `runs` runs."""
    peak, cpu = 0, float("inf")
    for _ in range(runs):
        with tempfile.NamedTemporaryFile("r") as report:
            subprocess.run([helper, report.name, tool, path], stdout=subprocess.DEVNULL, check=True)
            kib, seconds = report.read().split()
            peak, cpu = max(peak, int(kib)), min(cpu, float(seconds))
    return peak, cpu


def bounds_cases(args, failures):
    """The bounds cases: each no slower than twice /bin/true, right, and small."""
    cases = [line.rstrip("\n").split("\t") for line in open(args.bounds_cases) if line.strip()]
    cpus, notes = {}, []
    print(f"## bounds cases: ostrel and /bin/true, median of {args.rounds} interleaved rounds")
    print(f"| {'case':<45} | {'answer':>8} | {'ostrel':>8} | {'true':>7} | {'ratio':>5} | {'CPU':>7} | {'peak KiB':>8} |")
    print(f"|{'-' * 47}|{'-' * 10}|{'-' * 10}|{'-' * 9}|{'-' * 7}|{'-' * 9}|{'-' * 10}|")
    for name, path, expected, extra_kib in cases:
        answer = subprocess.run([args.tool, path], capture_output=True, text=True).stdout
        results = {k: summary(v)[0] for k, v in
                   timings({"ostrel": [args.tool, path], "/bin/true": ["/bin/true"]}, args.rounds).items()}
        peak, cpu = measure(args.measure, args.tool, path, runs=5)
        ratio = results["ostrel"] / results["/bin/true"]
        print(f"| {name:<45} | {answer.strip():>8} | {results['ostrel'] * 1e3:8.3f} | "
              f"{results['/bin/true'] * 1e3:7.3f} | {ratio:5.2f} | {cpu * 1e3:7.2f} | {peak:8,} |")
        if answer != f"{expected}\n":
            failures.append(f"{name}: answered {answer!r}, expected {expected}")
        if name not in BUDGET_CPU and ratio > BUDGET_RATIO_TO_TRUE:
            failures.append(f"{name}: {ratio:.2f}x /bin/true")
        if name in BUDGET_CPU and cpu > BUDGET_CPU[name]:
            failures.append(f"{name}: {cpu * 1e3:.1f} ms of CPU")
        if peak >= args.peak_limit_kib + int(extra_kib):
            failures.append(f"{name}: peak memory {peak} KiB")
        cpus[name] = cpu
        if name in BUDGET_READS_PER_16_KIB:
            _, calls = movie_reads(args.tool, path)
            blocks = -(-os.path.getsize(path) // (16 << 10))
            notes.append(f"{name}: {calls} read calls for {blocks} blocks of 16 KiB")
            if calls > blocks + 8:
                failures.append(f"{name}: {calls} read calls for {blocks} blocks of 16 KiB")
    for larger, smaller, ratio in LINEAR:
        if larger in cpus and smaller in cpus:
            growth = cpus[larger] / cpus[smaller]
            notes.append(f"{larger}: {growth:.2f}x the CPU of {smaller}, {ratio}x its size")
            if growth > ratio * 1.5:
                failures.append(f"{larger}: {growth:.2f}x the CPU of {smaller}, which is {ratio}x smaller")
    print("times in ms; CPU is the least of 5 runs")
    for note in notes:
        print(note)
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--measure", required=True, help="the launcher that reports peak memory and CPU time")
    parser.add_argument("--peak-limit-kib", type=int, required=True, help="the peak memory budget")
    parser.add_argument("--files", required=True, help="folder for the generated movies")
    parser.add_argument("--bounds-cases", required=True, help="the bounds cases' list: name, path, answer")
    parser.add_argument("--rounds", type=int, default=25)
    args = parser.parse_args()

    ffprobe = shutil.which("ffprobe")
    mediainfo = shutil.which("mediainfo")
    failures = []
    print(f"machine: {os.uname().machine}, {os.cpu_count()} cores, kernel {os.uname().release}; "
          f"{args.rounds} interleaved rounds; times in ms (median ± interquartile range)\n")

    for name, path, expected in movies.generate(args.files):
        answer = subprocess.run([args.tool, path], capture_output=True, text=True).stdout
        commands = {"ostrel": [args.tool, path], "/bin/true": ["/bin/true"]}
        if ffprobe:
            commands["ffprobe"] = [ffprobe, "-v", "error", "-select_streams", "d", "-show_entries",
                                   "stream_tags=timecode", "-of", "csv=p=0", path]
        if mediainfo:
            commands["mediainfo"] = [mediainfo, "--Inform=Other;%TimeCode_FirstFrame%", path]
        results = {k: summary(v) for k, v in timings(commands, args.rounds).items()}
        read_bytes, read_calls = movie_reads(args.tool, path)
        peak, _ = measure(args.measure, args.tool, path)

        size = os.path.getsize(path)
        print(f"## {name} ({os.path.basename(path)}, {size / 2**20:,.1f} MiB, answer {answer.strip()})")
        print(f"| {'command':<10} | {'median':>9} | {'IQR':>7} | {'vs ostrel':>9} |")
        print(f"|{'-' * 12}|{'-' * 11}|{'-' * 9}|{'-' * 11}|")
        base = results["ostrel"][0]
        for command, (median, spread) in results.items():
            print(f"| {command:<10} | {median * 1e3:9.3f} | {spread * 1e3:7.3f} | {median / base:8.1f}x |")
        if not mediainfo:
            print(f"| {'mediainfo':<10} | {'not installed':>31} |")
        print(f"ostrel read {read_bytes:,} bytes of the movie in {read_calls} read calls; peak memory {peak:,} KiB\n")

        if answer != f"{expected}\n":
            failures.append(f"{name}: answered {answer!r}, stored {expected}")
        if base > BUDGET_RATIO_TO_TRUE * results["/bin/true"][0]:
            failures.append(f"{name}: {base / results['/bin/true'][0]:.2f}x /bin/true")
        if "ffprobe" in results and results["ffprobe"][0] < BUDGET_SPEEDUP_OVER_FFPROBE * base:
            failures.append(f"{name}: only {results['ffprobe'][0] / base:.1f}x faster than ffprobe")
        if read_bytes > BUDGET_BYTES_READ:
            failures.append(f"{name}: read {read_bytes} bytes")
        if read_calls > BUDGET_READ_CALLS:
            failures.append(f"{name}: {read_calls} read calls")
        if peak >= args.peak_limit_kib:
            failures.append(f"{name}: peak memory {peak} KiB")

    bounds_cases(args, failures)
    if not ffprobe:
        print("ffprobe not installed: its comparison was skipped")
    for failure in failures:
        print("over budget:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
