"""The reference U-Net in PyTorch, served over stdin/stdout for compare.py.

    torch_unet.py FOLDER THREADS

FOLDER holds what `unet_compare_ours --export FOLDER` wrote: network.txt
(the walk of the network, one value per line) and the raw float32 weights,
biases and NCHW input. Writes FOLDER/unet.onnx (the same network for ONNX
Runtime), then answers the protocol of compare.py (see there).
"""
import os
import sys
import time
import warnings

import numpy as np
import torch
import torch.nn.functional as F


def read_floats(path, shape):
    return torch.from_numpy(np.fromfile(path, dtype=np.float32).reshape(shape))


class Walk(torch.nn.Module):
    """Replays network.txt: each line makes value N from earlier values."""

    def __init__(self, folder):
        super().__init__()
        self.steps = []
        self.convs = torch.nn.ModuleDict()
        with open(os.path.join(folder, "network.txt")) as f:
            for line in f:
                words = line.split()
                if not words:
                    continue
                if words[0] == "conv":
                    # conv VALUE FROM NAME IN OUT K RELU
                    _, value, source, name, cin, cout, k, relu = words
                    cin, cout, k = int(cin), int(cout), int(k)
                    conv = torch.nn.Conv2d(cin, cout, k, padding=k // 2)
                    with torch.no_grad():
                        conv.weight.copy_(read_floats(os.path.join(folder, name + ".weights.f32"), (cout, cin, k, k)))
                        conv.bias.copy_(read_floats(os.path.join(folder, name + ".bias.f32"), (cout,)))
                    self.convs[name] = conv
                    self.steps.append(("conv", int(value), [int(source)], name, relu == "1"))
                elif words[0] in ("pool", "up_concat", "output"):
                    self.steps.append((words[0], int(words[1]), [int(w) for w in words[2:]], None, False))
                elif words[0] == "input":
                    self.input_shape = [int(w) for w in words[2:]]
                    self.steps.append(("input", int(words[1]), [], None, False))
                else:
                    raise ValueError("unknown step: " + line)

    def forward(self, x):
        values = {}
        for kind, value, sources, name, relu in self.steps:
            args = [values[s] for s in sources]
            if kind == "input":
                values[value] = x
            elif kind == "conv":
                y = self.convs[name](args[0])
                values[value] = F.relu(y) if relu else y
            elif kind == "pool":
                values[value] = F.max_pool2d(args[0], 2)
            elif kind == "up_concat":
                values[value] = torch.cat([F.interpolate(args[0], scale_factor=2.0, mode="nearest"), args[1]], 1)
            else:
                return args[0]
        raise ValueError("network.txt has no output")


def serve(run, save, threads):
    print("ready", threads, flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words or words[0] == "quit":
            break
        if words[0] == "run":
            cpu0, t0 = time.process_time(), time.perf_counter()
            run()
            ms = (time.perf_counter() - t0) * 1e3
            print("ms %.3f cpu %.3f" % (ms, (time.process_time() - cpu0) * 1e3), flush=True)
        elif words[0] == "save":
            save(words[1])
            print("saved", flush=True)


def main():
    folder, threads = sys.argv[1], int(sys.argv[2])
    torch.set_num_threads(threads)
    net = Walk(folder).eval()
    x = read_floats(os.path.join(folder, "input_nchw.f32"), net.input_shape)
    with torch.no_grad():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # the exporter's notes on shape inference of constants
            torch.onnx.export(net, (x,), os.path.join(folder, "unet.onnx"), input_names=["input"],
                              output_names=["output"], opset_version=13)
        result = {}

        def run():
            result["y"] = net(x)

        run()
        serve(run, lambda path: result["y"].numpy().astype(np.float32).tofile(path), threads)


if __name__ == "__main__":
    main()
