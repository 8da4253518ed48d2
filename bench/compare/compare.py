#!/usr/bin/python3
"""The reference U-Net of bench/unet_reference in the built-in runtime, in
PyTorch and in ONNX Runtime, interleaved in the same run, with the ratios.

Optional and outside `make test`. Needs, besides a build with benchmarks:
  * PyTorch for /usr/bin/python3 (the ONNX export needs no onnx package);
  * ONNX Runtime for Node.js, installed outside the repository:
        mkdir -p /tmp/ort && cd /tmp/ort && npm install onnxruntime-node --ignore-scripts
    (its CPU library ships in the package; --ort names that folder).

    /usr/bin/python3 bench/compare/compare.py [--build build] [--ort /tmp/ort]
        [--rounds 10] [--threads N]

The runtime runs twice: with its default, reproducible direct NHWC
convolutions, and with the method of each convolution chosen by timing.
Every engine runs in its own process with the same thread count (default:
the CPUs this process may use) and the same weights and input, written by
build/bench/compare/unet_compare_ours. The processes answer one line at a
time on stdin/stdout:
    "run"       -> "ms WALL cpu CPU" (one inference; CPU = the process's
                   CPU milliseconds, every thread)
    "save PATH" -> "saved" (the last output as raw float32)
    "quit"
after printing "ready THREADS" once warmed up. Each round runs every engine
once, in an order rotated from round to round, with a pause between
runs so that one engine's spinning threads do not eat into the next one's
time. The outputs are compared with the runtime's before timing.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
# PyTorch's OpenMP threads go on spinning for about a quarter of a second
# after a run (measured: 0.24 CPU-seconds in the second after one); the pause
# outlasts that, so no engine runs beside another one's idle spinning.
PAUSE_S = 0.6


class Engine:
    def __init__(self, name, command, threads):
        self.name = name
        # The runtime's pool (like OpenMP) takes at most OMP_NUM_THREADS threads.
        env = dict(os.environ, OMP_NUM_THREADS=str(threads))
        self.proc = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1,
                                     env=env)
        words = self.answer().split()
        if words[:1] != ["ready"]:
            raise RuntimeError("%s did not start: %r" % (name, " ".join(words)))
        self.threads = int(words[1])
        self.wall, self.cpu = [], []

    def answer(self):
        line = self.proc.stdout.readline()
        if not line:
            raise RuntimeError("%s ended (exit %s)" % (self.name, self.proc.poll()))
        return line.strip()

    def ask(self, request):
        self.proc.stdin.write(request + "\n")
        self.proc.stdin.flush()
        return self.answer()

    def run(self, record=True):
        words = self.ask("run").split()
        if len(words) != 4 or words[0] != "ms" or words[2] != "cpu":
            raise RuntimeError("%s: unexpected answer %r" % (self.name, " ".join(words)))
        if record:
            self.wall.append(float(words[1]))
            self.cpu.append(float(words[3]))

    def output(self, path):
        if self.ask("save " + path) != "saved":
            raise RuntimeError("%s could not save its output" % self.name)
        return np.fromfile(path, dtype=np.float32)

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write("quit\n")
                self.proc.stdin.close()
                self.proc.wait(timeout=30)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()


def cpu_name():
    name, flags = "?", set()
    with open("/proc/cpuinfo") as f:
        for line in f:
            key, _, value = line.partition(":")
            if key.strip() == "model name" and name == "?":
                name = value.strip()
            elif key.strip() == "flags" and not flags:
                flags = set(value.split())
    vector = "AVX-512" if "avx512f" in flags else "AVX2+FMA" if {"avx2", "fma"} <= flags else "SSE2"
    return "%s (%s)" % (name, vector)


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "..", "build"))
    parser.add_argument("--ort", default="/tmp/ort")
    parser.add_argument("--rounds", type=int, default=10)
    parser.add_argument("--threads", type=int, default=len(os.sched_getaffinity(0)))
    args = parser.parse_args()

    ours_bin = os.path.join(args.build, "bench", "compare", "unet_compare_ours")
    if not os.access(ours_bin, os.X_OK):
        sys.exit("no %s: build the benchmarks first" % ours_bin)
    if not os.path.isdir(os.path.join(args.ort, "node_modules", "onnxruntime-node")):
        sys.exit("no onnxruntime-node under %s: see the install line at the top of this script" % args.ort)

    folder = tempfile.mkdtemp(prefix="unet_compare_")
    engines = []
    try:
        subprocess.run([ours_bin, "--export", folder], check=True)
        n = str(args.threads)
        engines.append(Engine("runtime", [ours_bin, "--serve"], n))
        # The same network with each convolution's method chosen by timing
        # (Winograd where it wins): faster, but not bit-reproducible.
        engines.append(Engine("runtime, measured", [ours_bin, "--serve", "--measured"], n))
        # torch_unet.py writes unet.onnx, which ONNX Runtime then loads.
        engines.append(Engine("PyTorch " + torch_version(), [sys.executable, os.path.join(HERE, "torch_unet.py"),
                                                            folder, n], n))
        engines.append(Engine("ONNX Runtime " + ort_version(args.ort),
                              ["node", os.path.join(HERE, "ort_unet.js"), args.ort, folder, n], n))

        reference = engines[0].output(os.path.join(folder, "out_runtime.f32"))
        scale = max(1.0, float(np.abs(reference).max()))
        for i, e in enumerate(engines[1:], 1):
            theirs = e.output(os.path.join(folder, "out_%d.f32" % i))
            if theirs.shape != reference.shape:
                sys.exit("%s gave %d values, the runtime %d" % (e.name, theirs.size, reference.size))
            diff = float(np.abs(theirs - reference).max())
            print("%s against the runtime: max |diff| %.3g (max |value| %.3g) -> %s" %
                  (e.name, diff, scale, "agree" if diff <= 1e-3 * scale else "DISAGREE"))

        print("CPU: %s; threads per engine: %s" % (cpu_name(), ", ".join("%s %d" % (e.name, e.threads)
                                                                         for e in engines)))
        load_start = load_average()
        for e in engines:  # a second warm-up each
            e.run(record=False)
        for r in range(args.rounds):
            for k in range(len(engines)):
                engines[(r + k) % len(engines)].run()
                time.sleep(PAUSE_S)
        load_end = load_average()

        print("%d rounds, rotating order; load average %.2f at start, %.2f at end" %
              (args.rounds, load_start, load_end))
        print("  %-22s %10s %10s %12s %14s %12s" % ("engine", "median ms", "min ms", "CPU ms/run",
                                                     "median/ours", "CPU/ours"))
        ours_med = statistics.median(engines[0].wall)
        ours_cpu = statistics.mean(engines[0].cpu)
        for e in engines:
            med, cpu = statistics.median(e.wall), statistics.mean(e.cpu)
            print("  %-22s %10.1f %10.1f %12.1f %13.2fx %11.2fx" % (e.name, med, min(e.wall), cpu, med / ours_med,
                                                                   cpu / ours_cpu))
        # The machine's speed drifts over a run of minutes; times of the same
        # round are seconds apart, so their ratios drift far less.
        print("speed-ups of the runtime, median over rounds of their time / the runtime's in the same round:")
        for ours in engines[:2]:
            print("  %-22s %s" % (ours.name, ", ".join(
                "%.2fx over %s" % (statistics.median(t / o for t, o in zip(e.wall, ours.wall)), e.name)
                for e in engines[2:])))
    finally:
        for e in engines:
            e.close()
        shutil.rmtree(folder, ignore_errors=True)


def torch_version():
    import torch
    return torch.__version__


def ort_version(ort):
    import json
    with open(os.path.join(ort, "node_modules", "onnxruntime-node", "package.json")) as f:
        return json.load(f)["version"]


if __name__ == "__main__":
    main()
