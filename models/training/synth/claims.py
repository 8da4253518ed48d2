"""Claims on sample folders, so that several renders can share one seed range.

A render takes a seed by creating `.rendering` in its folder, holding its
process id; other renders skip the seed while that process lives. A claim
whose process is gone (a killed render) is taken over.
"""
import os

CLAIM = ".rendering"


def _alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


def _owner(path):
    try:
        with open(path) as f:
            return int(f.read().strip() or 0)
    except (OSError, ValueError):
        return 0


def claim(folder):
    """Takes `folder` for this process; False when another live process has it."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, CLAIM)
    me = os.getpid()
    try:
        fd = os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY)
    except FileExistsError:
        owner = _owner(path)
        if owner and owner != me and _alive(owner):
            return False
        temporary = "%s.%d" % (path, me)
        with open(temporary, "w") as f:
            f.write(str(me))
        os.replace(temporary, path)
        return _owner(path) == me  # two takers of one stale claim: the last writer has it
    with os.fdopen(fd, "w") as f:
        f.write(str(me))
    return True


def release(folder):
    """Gives up this process's claim on `folder` (a claim of another process stays)."""
    path = os.path.join(folder, CLAIM)
    if _owner(path) == os.getpid():
        os.remove(path)
