"""Writing reference cases: <name>.in<k>.npy for the inputs in op order,
<name>.out.npy (and <name>.out<k>.npy for further outputs), and one line
"<name> <op> attr=value ..." per case for a cases file. A value is a bool
(true/false), an int list in brackets or written as it is."""
import numpy as np


class Cases:
    def __init__(self):
        self.lines = []

    def save(self, name, op, inputs, outputs, **attrs):
        for k, a in enumerate(inputs):
            np.save(f"{name}.in{k}.npy", np.array(a, order="C"))
        if not isinstance(outputs, (list, tuple)):
            outputs = [outputs]
        for k, a in enumerate(outputs):
            np.save(f"{name}.out{k if k else ''}.npy", np.array(a, order="C"))
        parts = [name, op]
        for key, value in attrs.items():
            if isinstance(value, bool):
                parts.append(f"{key}={'true' if value else 'false'}")
            elif isinstance(value, (list, tuple)):
                parts.append(f"{key}=[{','.join(str(v) for v in value)}]")
            else:
                parts.append(f"{key}={value}")
        self.lines.append(" ".join(parts))

    def write(self, path):
        with open(path, "w") as f:
            f.write("\n".join(self.lines) + "\n")


def same_pads(size, k, stride, dilation):
    """TensorFlow SAME padding of one axis: the total split with the odd pixel at the end."""
    eff = (k - 1) * dilation + 1
    out = -(-size // stride)
    total = max((out - 1) * stride + eff - size, 0)
    return total // 2, total - total // 2
