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
    # The claim appears whole, its owner already written (a hard link of a
    # finished file), so no other process ever reads an empty claim.
    temporary = "%s.%d" % (path, me)
    with open(temporary, "w") as f:
        f.write(str(me))
    try:
        try:
            os.link(temporary, path)
            return True
        except FileExistsError:
            pass
        owner = _owner(path)
        if owner == me:
            return True
        if owner and _alive(owner):
            return False
        os.replace(temporary, path)
        return _owner(path) == me  # two takers of one stale claim: the last writer has it
    finally:
        if os.path.exists(temporary):
            os.remove(temporary)


def release(folder):
    """Gives up this process's claim on `folder` (a claim of another process stays)."""
    path = os.path.join(folder, CLAIM)
    if _owner(path) == os.getpid():
        os.remove(path)
