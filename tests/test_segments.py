"""The compacted-adjacency cache beside a database: its file format, when it is trusted,
and that no cache content, however wrong or hostile, changes what traversals answer."""
import os
import shutil
import struct

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _quillmere

MAGIC = b"QMSEG001"
MANIFEST = "version=quillmere-segment-v1\nnode_count={}\nedge_count={}\nfile=segment-v1.bin\n"
OLD = 1_000_000_000  # a modification time no rewrite can leave behind


def data_path(db):
    return str(db) + ".segments/segment-v1.bin"


def manifest_path(db):
    return str(db) + ".segments/manifest.txt"


def pack(node_count, arrays):
    out = MAGIC + struct.pack("<Q", node_count)
    for values in arrays:
        out += struct.pack(f"<Q{len(values)}Q", len(values), *values)
    return out


def unpack(data):
    assert data[:8] == MAGIC
    (n,) = struct.unpack_from("<Q", data, 8)
    pos, arrays = 16, []
    for _ in range(4):
        (length,) = struct.unpack_from("<Q", data, pos)
        arrays.append(list(struct.unpack_from(f"<{length}Q", data, pos + 8)))
        pos += 8 + 8 * length
    assert pos == len(data)
    return n, arrays


def write(path, content):
    with open(path, "wb") as f:
        f.write(content.encode() if isinstance(content, str) else content)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def build(db, node_count, edges):
    g = _quillmere.Graph(str(db))
    g.add_nodes([{}] * node_count)
    if edges:
        g.add_edges([{"source": s, "target": t, "edge_type": "R"} for s, t in edges])
    return g


def adjacency(g):
    return {v: (g.neighbors(v, "out"), g.neighbors(v, "in")) for v in g.node_ids()}


def age(db):
    for p in (data_path(db), manifest_path(db)):
        os.utime(p, (OLD, OLD))


def untouched(db):
    return all(os.stat(p).st_mtime == OLD for p in (data_path(db), manifest_path(db)))


# 3 node slots; edges 0: 0->1, 1: 0->2, 2: 2->1.
EXAMPLE_ARRAYS = [[0, 2, 2, 3], [0, 1, 2], [0, 0, 2, 3], [0, 2, 1]]


@pytest.fixture
def example(tmp_path):
    """The example graph compacted, with its cache on disk, and its true adjacency."""
    db = tmp_path / "g.db"
    g = build(db, 3, [(0, 1), (0, 2), (2, 1)])
    g.compact()
    return db, adjacency(g)


def assert_rebuilt(db, truth):
    """Open ignores the cache: answers are right and the files are rewritten."""
    g = _quillmere.Graph(str(db))
    assert adjacency(g) == truth
    assert g.k_hop(0, 2, "both") == [1, 2]
    assert unpack(read(data_path(db))) == (3, EXAMPLE_ARRAYS)
    assert read(manifest_path(db)).decode() == MANIFEST.format(3, 3)


def test_file_format(example, tmp_path):
    db, _ = example
    assert unpack(read(data_path(db))) == (3, EXAMPLE_ARRAYS)
    assert read(manifest_path(db)).decode() == MANIFEST.format(3, 3)

    empty = tmp_path / "empty.db"
    _quillmere.Graph(str(empty)).compact()
    assert read(data_path(empty)) == MAGIC + struct.pack("<7Q", 0, 1, 0, 0, 1, 0, 0)
    assert read(manifest_path(empty)).decode() == MANIFEST.format(0, 0)


def test_valid_cache_is_reused_with_lenient_manifest_forms(example):
    db, truth = example
    # CRLF endings, unknown keys, "+" signs, no final newline, and a later key replacing an
    # earlier one still name the valid cache.
    lenient = ("file=elsewhere.bin\r\nversion=quillmere-segment-v1\r\nnote=a=b\r\n"
               "node_count=+3\nedge_count=3\nfile=segment-v1.bin")
    for manifest in (None, lenient):
        if manifest:
            write(manifest_path(db), manifest)
        age(db)
        assert adjacency(_quillmere.Graph(str(db))) == truth
        assert untouched(db)


V1 = "version=quillmere-segment-v1\n"


@pytest.mark.parametrize("manifest", [
    MANIFEST.format(3, 3).replace("v1\n", "v2\n", 1),
    MANIFEST.format(3, 3).replace(V1, ""),
    MANIFEST.format(3, 4),
    MANIFEST.format(2, 3),
    V1 + "node_count=3\nedge_count=3\n",
    V1 + "node_count=3\nedge_count=3\nfile=\n",
    V1 + "node_count=3 \nedge_count=3\nfile=segment-v1.bin\n",
    V1 + "node_count=3\nedge_count=99999999999999999999\nfile=segment-v1.bin\n",
    MANIFEST.format(3, 3) + "junk\n",
    MANIFEST.format(3, 3).encode() + b"x=\xff\n",
    # A valid copy sits wherever these names lead; only the name check refuses them.
    MANIFEST.format(3, 3).replace("=segment", "=../other.segments/segment"),
    MANIFEST.format(3, 3).replace("=segment", "=sub/segment"),
    MANIFEST.format(3, 3).replace("=segment", "=sub\\segment"),
], ids=["other-version", "no-version", "edge-count", "node-count", "no-file", "empty-file",
         "not-a-number", "overflow", "line-without-equals", "not-text", "parent-dir", "subdir",
         "backslash"])
def test_unusable_manifest_is_ignored(example, tmp_path, manifest):
    db, truth = example
    shutil.copytree(str(db) + ".segments", str(tmp_path / "other.segments"))
    os.makedirs(str(db) + ".segments/sub")
    for name in ("sub/segment-v1.bin", "sub\\segment-v1.bin"):
        shutil.copy(data_path(db), str(db) + ".segments/" + name)
    write(manifest_path(db), manifest)
    assert_rebuilt(db, truth)


GOOD = pack(3, EXAMPLE_ARRAYS)


def with_length(at, length):
    """The valid file with one declared length replaced; its size stays right."""
    data = bytearray(GOOD)
    struct.pack_into("<Q", data, at, length)
    return bytes(data)


DAMAGED = {
    "truncated": GOOD[:-1],
    "other-magic": b"QMSEG002" + GOOD[8:],
    "trailing-word": GOOD + bytes(8),
    "node-count": GOOD[:8] + struct.pack("<Q", 2) + GOOD[16:],
    "huge-length": with_length(16, 1 << 60),
    "length-times-8-wraps": with_length(16, (1 << 61) + 1),
    "huge-last-length": with_length(len(GOOD) - 32, 1 << 62),
    "offsets-not-from-zero": pack(3, [[1, 2, 2, 3]] + EXAMPLE_ARRAYS[1:]),
    "offsets-past-edges": pack(3, [[0, 2, 2, 4]] + EXAMPLE_ARRAYS[1:]),
    "too-few-offsets": pack(3, [[0, 2, 3]] + EXAMPLE_ARRAYS[1:]),
    # Well formed, right counts, but not this graph's adjacency.
    "descending-within-node": pack(3, [[0, 2, 2, 3], [1, 0, 2], *EXAMPLE_ARRAYS[2:]]),
    "duplicate-edge": pack(3, [[0, 2, 2, 3], [0, 0, 2], *EXAMPLE_ARRAYS[2:]]),
    "missing-edge-id": pack(3, [[0, 2, 2, 3], [0, 1, 7], *EXAMPLE_ARRAYS[2:]]),
    "edge-under-other-source": pack(3, [[0, 1, 2, 3], [0, 2, 1], *EXAMPLE_ARRAYS[2:]]),
    "in-listed-by-source": pack(3, EXAMPLE_ARRAYS[:2] + [[0, 2, 2, 3], [0, 1, 2]]),
}


@pytest.mark.parametrize("content", DAMAGED.values(), ids=DAMAGED.keys())
def test_damaged_or_wrong_data_file_is_ignored(example, content):
    db, truth = example
    write(data_path(db), content)
    assert_rebuilt(db, truth)


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(data=st.one_of(
    st.binary(max_size=200),
    st.tuples(st.integers(0, len(GOOD) - 1), st.binary(min_size=1, max_size=16)),
))
def test_random_data_files_never_break_open(example, data):
    db, truth = example
    if isinstance(data, tuple):  # overwrite a stretch of the valid file, keeping its size
        pos, patch = data
        data = (GOOD[:pos] + patch + GOOD[pos + len(patch):])[: len(GOOD)]
    write(data_path(db), data)
    write(manifest_path(db), MANIFEST.format(3, 3))
    assert_rebuilt(db, truth)


def test_cache_exists_only_once_there_are_edges(tmp_path):
    db = tmp_path / "nodes.db"
    build(db, 4, [])
    assert _quillmere.Graph(str(db)).node_count() == 4
    assert not os.path.exists(str(db) + ".segments")


def test_edge_past_the_uncompacted_limit_compacts_and_reopen_reuses_the_cache(tmp_path):
    db = tmp_path / "g.db"
    g = build(db, 50, [(i % 50, (i * 7 + 3) % 50) for i in range(1024)])
    assert not os.path.exists(manifest_path(db))
    g.add_edge(0, 1, "R")  # the 1025th uncompacted edge
    assert read(manifest_path(db)).decode() == MANIFEST.format(50, 1025)
    assert sorted(unpack(read(data_path(db)))[1][1]) == list(range(1025))
    truth = adjacency(g)
    age(db)
    assert adjacency(_quillmere.Graph(str(db))) == truth
    assert untouched(db)


def test_compaction_waits_until_uncompacted_edges_pass_a_quarter_of_the_compacted(tmp_path):
    # 2000 compacted edges: 500 more is exactly a quarter and stays uncompacted; the 501st
    # tips it (all well below the 1024 limit of uncompacted edges).
    db = tmp_path / "g.db"
    g = build(db, 40, [(i % 40, (i * 3 + 1) % 40) for i in range(2000)])
    assert read(manifest_path(db)).decode() == MANIFEST.format(40, 2000)
    g.add_edges([{"source": i % 40, "target": (i + 5) % 40, "edge_type": "R"} for i in range(500)])
    assert read(manifest_path(db)).decode() == MANIFEST.format(40, 2000)
    g.add_edge(0, 1, "R")
    assert read(manifest_path(db)).decode() == MANIFEST.format(40, 2501)
    g.add_edges([{"source": 1, "target": 2, "edge_type": "R"}] * 625)
    assert read(manifest_path(db)).decode() == MANIFEST.format(40, 2501)
    g.add_edges([{"source": 1, "target": 2, "edge_type": "R"}])
    assert read(manifest_path(db)).decode() == MANIFEST.format(40, 3127)


def test_save_failures_are_reported_by_compact(tmp_path):
    # A cache directory that cannot be created is reported as test_damaged_files shows.
    db = tmp_path / "g.db"
    g = build(db, 2, [(0, 1)])
    for blocker, message in [(data_path(db), f"failed to write segment file {data_path(db)}: Is a directory"),
                             (manifest_path(db), f"failed to write segment manifest {manifest_path(db)}: Is a directory")]:
        os.makedirs(blocker)
        with pytest.raises(ValueError) as info:
            g.compact()
        assert str(info.value) == message
        os.rmdir(blocker)
    # The data file is written before the manifest, so it is already current.
    assert unpack(read(data_path(db)))[0] == 2
    g.compact()
    assert read(manifest_path(db)).decode() == MANIFEST.format(2, 1)
