import os
import threading

import pytest

import _quillmere

# The sanitizer run must exercise the instrumented build, not an installed copy.
_expected = os.environ.get("QUILLMERE_EXPECT_BUILD")
if _expected and not os.path.realpath(_quillmere.__file__).startswith(os.path.realpath(_expected)):
    raise RuntimeError(f"tests imported {_quillmere.__file__}, expected a module from {_expected}")


@pytest.fixture
def q():
    return _quillmere


@pytest.fixture
def g():
    return _quillmere.Graph()


def run_in_thread(fn):
    """Runs fn on another thread; returns (result, exception)."""
    box = {}

    def target():
        try:
            box["result"] = fn()
        except BaseException as exc:  # the panic exception derives from BaseException
            box["error"] = exc

    t = threading.Thread(target=target)
    t.start()
    t.join()
    return box.get("result"), box.get("error")
