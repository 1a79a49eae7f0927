"""Times ZARVELIN against find and bfs on one deterministic tree.

Every timed run starts from the whole tree (the THUMBS.DB files put back
outside the timed part) and is checked afterwards: all THUMBS.DB files and
nothing else gone. A failed check, a crash or a hung run makes the benchmark
exit non-zero; slow results never do.
"""

import argparse
import json
import os
import platform
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import tree as benchtree

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
DEFAULT_PAIRS = {"quick": 3, "default": 10, "large": 3}
DEFAULT_TIMEOUT = {"quick": 60, "default": 600, "large": 1800}
PERF_EVENTS = "task-clock,context-switches,cpu-migrations,page-faults,cycles,instructions"


class BenchFailure(Exception):
    """The tooling or a deletion check failed: the benchmark's result is void."""


def log(message):
    print(message, file=sys.stderr, flush=True)


# -- the tools ---------------------------------------------------------------


class Tool:
    def __init__(self, name, mode, argv, is_zarvelin):
        self.name = name
        self.mode = mode  # driver mode: pty, ptynull or plain
        self.argv = argv
        self.is_zarvelin = is_zarvelin


def make_tools(binary, root, peers):
    tools = [
        Tool("zarvelin-pty", "pty", [binary, root], True),
        Tool("zarvelin-nontty", "ptynull", [binary, root], True),
    ]
    for peer in peers:
        tools.append(Tool(peer, "plain", [peer, root, "-iname", "thumbs.db", "-type", "f", "-delete"], False))
    return tools


def find_binary(explicit):
    if explicit:
        candidates = [explicit]
    else:
        candidates = [os.path.join(REPO, "build-bench", "zarvelin"), os.path.join(REPO, "build", "zarvelin")]
    for path in candidates:
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return os.path.abspath(path)
    raise BenchFailure(f"no ZARVELIN binary at {' or '.join(candidates)} (build it, or pass --binary)")


def ensure_bfs():
    """bfs is a peer worth having: install it from the distribution when it
    is missing and this is root; otherwise leave it out with a warning."""
    if shutil.which("bfs"):
        return True
    if os.geteuid() == 0 and shutil.which("apt-get"):
        log("bfs is missing; installing the Debian package")
        quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL}
        if subprocess.run(["apt-get", "install", "-y", "bfs"], **quiet).returncode != 0:
            subprocess.run(["apt-get", "update"], **quiet)
            subprocess.run(["apt-get", "install", "-y", "bfs"], **quiet)
    if shutil.which("bfs"):
        return True
    log("WARNING: bfs is not installed and could not be installed; comparing with find only")
    return False


def build_driver(workdir):
    source = os.path.join(HERE, "driver.c")
    out = os.path.join(workdir, "driver")
    cc = os.environ.get("CC", "cc")
    for extra in (["-static"], []):
        result = subprocess.run([cc, "-O2", *extra, "-o", out, source], capture_output=True, text=True)
        if result.returncode == 0:
            return out
    raise BenchFailure(f"cannot compile the driver:\n{result.stderr}")


# -- one run -----------------------------------------------------------------


class Runner:
    def __init__(self, driver, workdir, tree, timeout):
        self.driver = driver
        self.workdir = workdir
        self.tree = tree
        self.timeout = timeout

    def run(self, tool, wrapper=()):
        """One checked run of tool, from the whole tree. wrapper is a command
        (strace, perf) put in front of the tool's own."""
        if not self.tree.thumbs_present:
            self.tree.restore(missing_only=False)
        os.sync()
        errfile = os.path.join(self.workdir, f"{tool.name}.err")
        argv = [self.driver, tool.mode, str(self.timeout), errfile]
        if wrapper:
            argv.append("--follow")
        argv += ["--", *wrapper, *tool.argv]
        done = subprocess.run(argv, capture_output=True, text=True)
        if done.returncode != 0:
            raise BenchFailure(f"driver failed for {tool.name}: {done.stderr.strip()}")
        result = dict(field.split("=", 1) for field in done.stdout.split())
        result = {key: int(value) for key, value in result.items()}
        self.check(tool, result, errfile)
        return result

    def check(self, tool, result, errfile):
        problems = []
        if result["timed_out"]:
            problems.append(f"did not finish within {self.timeout} s")
        if result["exit"] != 0 or result["signal"] != 0:
            problems.append(f"exit status {result['exit']}, signal {result['signal']}")
        if result["canceled"]:
            problems.append("the sweep was canceled: the Enter key did not arrive as Enter")
        expected = len(self.tree.thumb_paths)
        if tool.mode == "pty" and result["deleted"] != expected:
            problems.append(f"the summary says {result['deleted']} files deleted, expected {expected}")
        if result["forced_keys"]:
            log(f"  note: {tool.name}: a key was sent without seeing the program wait for it")
        problems += self.tree.differences(thumbs_present=False)
        if not problems:
            self.tree.thumbs_present = False
        if problems:
            details = ""
            if os.path.exists(errfile):
                with open(errfile, "rb") as f:
                    details = f.read()[-2000:].decode(errors="replace")
            raise BenchFailure(
                f"{tool.name}: run check failed:\n  " + "\n  ".join(problems) + f"\n--- its last output ---\n{details}"
            )


# -- statistics --------------------------------------------------------------


def cpu_s(result):
    return (result["utime_us"] + result["stime_us"]) / 1e6


def wall_s(result):
    return result["wall_ns"] / 1e9


def summarise(tools, rounds):
    rows = {}
    for tool in tools:
        runs = [r[tool.name] for r in rounds]
        rows[tool.name] = {
            "runs": len(runs),
            "wall_median_s": statistics.median(wall_s(r) for r in runs),
            "wall_min_s": min(wall_s(r) for r in runs),
            "cpu_median_s": statistics.median(cpu_s(r) for r in runs),
            "user_median_s": statistics.median(r["utime_us"] / 1e6 for r in runs),
            "sys_median_s": statistics.median(r["stime_us"] / 1e6 for r in runs),
            "peak_rss_kib": max(r["maxrss_kb"] for r in runs),
            "drawn_bytes_median": statistics.median(r["out_bytes"] for r in runs),
        }
    ratios = {}
    for z in (t for t in tools if t.is_zarvelin):
        for peer in (t for t in tools if not t.is_zarvelin):
            wall = [wall_s(r[z.name]) / wall_s(r[peer.name]) for r in rounds]
            cpu = [cpu_s(r[z.name]) / max(cpu_s(r[peer.name]), 1e-6) for r in rounds]
            ratios[f"{z.name}/{peer.name}"] = {
                "wall_ratio_median": statistics.median(wall),
                "wall_ratio_min": min(wall),
                "wall_ratio_max": max(wall),
                "cpu_ratio_median": statistics.median(cpu),
            }
    return rows, ratios


def print_table(rows, ratios):
    print()
    print(f"{'tool':<17}{'runs':>5}{'wall med s':>12}{'wall min s':>12}{'u+s med s':>11}"
          f"{'user s':>9}{'sys s':>9}{'peak RSS KiB':>14}{'drawn bytes':>13}")
    for name, row in rows.items():
        print(f"{name:<17}{row['runs']:>5}{row['wall_median_s']:>12.3f}{row['wall_min_s']:>12.3f}"
              f"{row['cpu_median_s']:>11.3f}{row['user_median_s']:>9.3f}{row['sys_median_s']:>9.3f}"
              f"{row['peak_rss_kib']:>14}{int(row['drawn_bytes_median']):>13}")
    print()
    print(f"{'pair (median of per-pair ratios)':<34}{'wall':>8}{'min':>8}{'max':>8}{'u+s':>8}")
    for name, ratio in ratios.items():
        print(f"{name:<34}{ratio['wall_ratio_median']:>8.3f}{ratio['wall_ratio_min']:>8.3f}"
              f"{ratio['wall_ratio_max']:>8.3f}{ratio['cpu_ratio_median']:>8.3f}")


# -- system calls and counters -----------------------------------------------


def parse_strace_summary(path):
    """strace -c's table as {syscall: (calls, errors)}."""
    counts = {}
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 5 or not parts[0][0].isdigit() or parts[-1] == "total":
                continue
            numbers = parts[:-1]
            counts[parts[-1]] = (int(numbers[3]), int(numbers[4]) if len(numbers) > 4 else 0)
    return counts


def count_syscalls(runner, tools):
    counts = {}
    for tool in tools:
        out = os.path.join(runner.workdir, f"{tool.name}.strace")
        runner.run(tool, wrapper=["strace", "-c", "-f", "-o", out, "--"])
        counts[tool.name] = parse_strace_summary(out)
    return counts


def print_syscalls(counts, tree):
    names = sorted({n for c in counts.values() for n in c}, key=lambda n: -max(c.get(n, (0, 0))[0] for c in counts.values()))
    tools = list(counts)
    print()
    print("system calls (strace -c -f; calls, errors in brackets)")
    print(f"{'syscall':<20}" + "".join(f"{t:>18}" for t in tools))
    for name in names:
        cells = []
        for t in tools:
            calls, errors = counts[t].get(name, (0, 0))
            cells.append(f"{calls}" + (f" [{errors}]" if errors else ""))
        print(f"{name:<20}" + "".join(f"{c:>18}" for c in cells))
    totals = {t: sum(c for c, _ in counts[t].values()) for t in tools}
    print(f"{'total':<20}" + "".join(f"{totals[t]:>18}" for t in tools))
    if "bfs" in totals:
        entered = len(tree.layout.dirs) - 1
        tally_lines = tree.layout.entry_count() // 11
        budget = totals["bfs"] + entered + tally_lines
        print(f"budget: bfs {totals['bfs']} + {entered} directories entered + ~{tally_lines} tally lines = {budget}")
        for t in tools:
            if t.startswith("zarvelin"):
                verdict = "within" if totals[t] <= budget else "over"
                print(f"  {t}: {totals[t]} ({verdict}, {totals[t] / budget:.2f}x of budget)")
    return totals


def perf_counters(runner, tools):
    counters = {}
    for tool in tools:
        out = os.path.join(runner.workdir, f"{tool.name}.perf")
        runner.run(tool, wrapper=["perf", "stat", "-x", ",", "-e", PERF_EVENTS, "-o", out, "--"])
        values = {}
        with open(out) as f:
            for line in f:
                parts = line.strip().split(",")
                if len(parts) > 2 and parts[2]:
                    values[parts[2]] = parts[0]
        counters[tool.name] = values
    print()
    print("perf stat (one run each; <not supported> where the machine has no such counter)")
    events = PERF_EVENTS.split(",")
    print(f"{'tool':<17}" + "".join(f"{e:>17}" for e in events))
    for name, values in counters.items():
        print(f"{name:<17}" + "".join(f"{values.get(e, '-'):>17}" for e in events))
    return counters


# Kernel symbols that stand for one system call with all it calls; write and
# read may show only as ksys_write / ksys_read where the entry is inlined.
SYSCALL_SYMBOL = re.compile(r"__(?:x64|arm64)_sys_(\w+)|ksys_(write|read)")
ALL_SYSCALLS_SYMBOLS = ("do_syscall_64", "entry_SYSCALL_64_after_hwframe", "el0_svc")


def syscall_shares(report):
    """perf report --children lines as {system call: % of samples}."""
    shares, everything = {}, 0.0
    for line in report.splitlines():
        match = re.match(r"\s*([\d.]+)%\s+[\d.]+%\s+\[k\] (\S+)\s", line)
        if not match:
            continue
        share, symbol = float(match.group(1)), match.group(2)
        if symbol in ALL_SYSCALLS_SYMBOLS:
            everything = max(everything, share)
        elif named := SYSCALL_SYMBOL.fullmatch(symbol):
            name = named.group(1) or named.group(2)
            shares[name] = max(shares.get(name, 0.0), share)
    shares["entry, exit, unattributed"] = max(0.0, everything - sum(shares.values()))
    shares["outside system calls"] = 100.0 - everything
    return shares


def profile_syscalls(runner, tools):
    """Where the CPU time goes: perf record's share of each tool's samples
    spent inside each system call (callees included), and outside any."""
    shares = {}
    for tool in tools:
        out = os.path.join(runner.workdir, f"{tool.name}.perf.data")
        runner.run(tool, wrapper=["perf", "record", "-q", "-g", "-F", "4999", "-e", "cpu-clock", "-o", out, "--"])
        report = subprocess.run(["perf", "report", "-i", out, "--children", "--sort", "symbol", "--stdio", "-g", "none"],
                                capture_output=True, text=True).stdout
        shares[tool.name] = syscall_shares(report)
    print()
    print("where the CPU time goes (perf record -g, % of each tool's samples, system calls with their callees)")
    rows = sorted({n for s in shares.values() for n in s}, key=lambda n: -max(s.get(n, 0) for s in shares.values()))
    print(f"{'':<27}" + "".join(f"{t:>17}" for t in shares))
    for row in rows:
        print(f"{row:<27}" + "".join(f"{shares[t].get(row, 0.0):>16.1f}%" for t in shares))
    return shares


def perf_works():
    if not shutil.which("perf"):
        return False
    probe = subprocess.run(["perf", "stat", "-e", "task-clock", "--", "true"], capture_output=True)
    return probe.returncode == 0


# -- the whole benchmark -----------------------------------------------------


def parse_args(argv):
    parser = argparse.ArgumentParser(prog="bench/run", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    size = parser.add_mutually_exclusive_group()
    size.add_argument("--quick", action="store_const", dest="size", const="quick",
                      help="20,000 files in 2,000 directories (smoke run)")
    size.add_argument("--large", action="store_const", dest="size", const="large",
                      help="1,000,000 files in 100,000 directories")
    parser.set_defaults(size="default")
    parser.add_argument("--pairs", type=int, help="timed rounds; each round runs every tool once "
                        "(default 10, --quick 3, --large 3)")
    parser.add_argument("--binary", help="ZARVELIN to time (default build-bench/zarvelin, else build/zarvelin)")
    parser.add_argument("--tree-dir", default=os.environ.get("TMPDIR", "/tmp"),
                        help="where the tree is built and kept for later runs (default $TMPDIR or /tmp)")
    parser.add_argument("--timeout", type=float, help="seconds before one run counts as hung "
                        "(default 600, --quick 60, --large 1800)")
    parser.add_argument("--warmup", type=int, default=1, help="untimed rounds first (default 1)")
    parser.add_argument("--no-strace", action="store_true", help="skip the system-call counts")
    parser.add_argument("--perf", choices=["auto", "yes", "no"], default="auto",
                        help="perf stat counters and a perf record profile per tool: auto runs them "
                        "except with --quick")
    parser.add_argument("--peers", default="find,bfs", help="comma-separated peers (default find,bfs)")
    parser.add_argument("--json", help="also write every result to this file")
    args = parser.parse_args(argv)
    if args.pairs is None:
        args.pairs = DEFAULT_PAIRS[args.size]
    if args.timeout is None:
        args.timeout = DEFAULT_TIMEOUT[args.size]
    if args.pairs < 1:
        parser.error("--pairs must be at least 1")
    return args


def machine_facts(root):
    facts = {"nproc": os.cpu_count(), "kernel": platform.release(), "python": platform.python_version()}
    try:
        with open("/proc/cpuinfo") as f:
            facts["cpu"] = next(l.split(":", 1)[1].strip() for l in f if l.startswith("model name"))
    except (OSError, StopIteration):
        facts["cpu"] = "unknown"
    df = subprocess.run(["df", "-T", root], capture_output=True, text=True).stdout.splitlines()
    facts["filesystem"] = df[-1].split()[1] if len(df) > 1 else "unknown"
    facts["loadavg_start"] = os.getloadavg()
    return facts


def main(argv):
    args = parse_args(argv)
    started = time.monotonic()
    peers = [p for p in args.peers.split(",") if p]
    if "bfs" in peers and not ensure_bfs():
        peers.remove("bfs")
    for peer in peers:
        if not shutil.which(peer):
            raise BenchFailure(f"peer {peer} is not installed")
    binary = find_binary(args.binary)
    size = benchtree.SIZES[args.size]
    tree = benchtree.Tree(args.tree_dir, size)
    tree.ensure(log)
    root = tree.root
    assert os.path.isabs(root) and os.path.isdir(root), "the program is only ever run with its own tree as ROOT"

    facts = machine_facts(root)
    facts.update(binary=binary, tree=root, size=args.size, pairs=args.pairs,
                 files=size.files, dirs=size.dirs, thumbs=size.thumbs, entries=tree.layout.entry_count())
    for tool in ("find", "bfs"):
        if tool in peers:
            version = subprocess.run([tool, "--version"], capture_output=True, text=True).stdout
            facts[f"{tool}_version"] = version.splitlines()[0] if version else "?"
    log(f"machine: {facts['nproc']} cpus, {facts['cpu']}, kernel {facts['kernel']}, {facts['filesystem']}")

    with tempfile.TemporaryDirectory(prefix="zarvelin-bench-") as workdir:
        driver = build_driver(workdir)
        runner = Runner(driver, workdir, tree, args.timeout)
        tools = make_tools(binary, root, peers)
        order = random.Random(size.seed)
        rounds = []
        for number in range(-args.warmup, args.pairs):
            shuffled = tools[:]
            order.shuffle(shuffled)
            results = {tool.name: runner.run(tool) for tool in shuffled}
            label = "warm-up" if number < 0 else f"round {number + 1}/{args.pairs}"
            log(f"{label}: " + "  ".join(f"{t.name} {wall_s(results[t.name]):.3f}s" for t in shuffled))
            if number >= 0:
                rounds.append(results)
        rows, ratios = summarise(tools, rounds)
        facts["loadavg_end"] = os.getloadavg()
        print(f"tree: {root}: {size.files} files ({size.thumbs} THUMBS.DB), {size.dirs} directories, "
              f"{tree.layout.entry_count()} entries")
        print(f"binary: {binary}   load average start {facts['loadavg_start'][0]:.2f}, "
              f"end {facts['loadavg_end'][0]:.2f}")
        print_table(rows, ratios)
        report = {"machine": facts, "tools": rows, "ratios": ratios, "rounds": rounds}
        if not args.no_strace and shutil.which("strace"):
            counts = count_syscalls(runner, tools)
            report["syscalls"] = {t: {n: list(v) for n, v in c.items()} for t, c in counts.items()}
            report["syscall_totals"] = print_syscalls(counts, tree)
        elif not args.no_strace:
            log("strace is not installed: no system-call counts")
        if args.perf == "yes" or (args.perf == "auto" and args.size != "quick" and perf_works()):
            report["perf"] = perf_counters(runner, tools)
            report["profile"] = profile_syscalls(runner, tools)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(report, f, indent=1)
    log(f"done in {time.monotonic() - started:.1f} s; every run deleted exactly the "
        f"{size.thumbs} THUMBS.DB files")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except BenchFailure as failure:
        log(f"BENCHMARK FAILED: {failure}")
        sys.exit(1)
