"""MinHashLSH and SimHashIndex against brute-force scans, and their index
files: round trips, and truncated, corrupted, crafted or foreign files."""

import itertools
import random
import struct

import numpy as np
import pytest
import reference as ref
import vorn

import vornkit

U64 = (1 << 64) - 1


def lsh_reference(signatures, keys, bands, rows):
    """Key pairs sharing the values of a band, from the values themselves."""
    pairs = set()
    for band in range(bands):
        groups = {}
        for key, row in zip(keys, signatures.tolist()):
            groups.setdefault(tuple(row[band * rows : (band + 1) * rows]), []).append(key)
        for members in groups.values():
            pairs.update((min(a, b), max(a, b)) for a, b in itertools.combinations(members, 2))
    return pairs


def filled_lsh(seed=2, threshold=0.6, num_hashes=64):
    texts = ref.planted_corpus(seed)
    signatures = vornkit.minhash_signatures(texts, 3, num_hashes)
    keys = np.array(random.Random(seed).sample(range(-(10**12), 10**12), len(texts)), dtype=np.int64)
    lsh = vornkit.MinHashLSH(threshold, num_hashes)
    lsh.add(keys, signatures)
    return lsh, keys, signatures


def as_pairs(first, second):
    return list(zip(first.tolist(), second.tolist()))


# ---- MinHashLSH ----


@pytest.mark.parametrize("threshold, num_hashes", [(0.6, 64), (0.8, 128), (0.3, 32)])
def test_lsh_candidates_are_the_pairs_sharing_a_band(threshold, num_hashes):
    lsh, keys, signatures = filled_lsh(int(threshold * 10), threshold, num_hashes)
    expected = lsh_reference(signatures, keys.tolist(), lsh.bands, lsh.rows)
    pairs = as_pairs(*lsh.pairs())
    assert pairs == sorted(expected)  # each once, i < j, in order
    for q in range(0, len(keys), 7):
        partners = {b if a == keys[q] else a for a, b in expected if keys[q] in (a, b)} | {int(keys[q])}
        assert lsh.query(signatures[q]).tolist() == sorted(partners)
    query_index, found = lsh.query_many(signatures[::5])
    assert np.all(np.diff(query_index) >= 0)
    for q in range(len(signatures[::5])):
        assert found[query_index == q].tolist() == lsh.query(signatures[5 * q]).tolist()


@pytest.mark.parametrize("key_order", ["ascending", "shuffled", "crowded"])
@pytest.mark.parametrize("seed", [1, 2])
def test_lsh_pairs_found_in_many_bands_are_merged_once(seed, key_order):
    # Values from a tiny alphabet put each document in large buckets of
    # different partners in every band, so its partners come in many
    # interleaved runs; a third of the documents is then removed.
    r = np.random.default_rng(seed)
    n, bands, rows = 700, 11, 2
    signatures = r.integers(0, 4, size=(n, bands * rows + 3), dtype=np.uint64)
    keys = {
        "ascending": np.arange(n) * 5 - 2000,
        # Keys sharing their leading bits, some far away: crowded buckets
        # when the key table is sorted.
        "crowded": r.permutation(np.r_[np.arange(n - 50) + (1 << 40), -r.integers(1, 1 << 62, 50)]),
        "shuffled": r.permutation(n) - 300,
    }[key_order].astype(np.int64)
    lsh = vornkit.MinHashLSH(num_hashes=bands * rows + 3, bands=(bands, rows))
    lsh.add(keys[:500], signatures[:500])
    lsh.add(keys[500:], signatures[500:])
    gone = r.choice(n, n // 3, replace=False)
    lsh.remove(keys[gone])
    kept = np.setdiff1d(np.arange(n), gone)
    assert as_pairs(*lsh.pairs()) == sorted(lsh_reference(signatures[kept], keys[kept].tolist(), bands, rows))
    assert all(int(k) in lsh for k in keys[kept]) and not any(int(k) in lsh for k in keys[gone])


def test_lsh_add_in_pieces_and_remove_match_a_fresh_index():
    lsh, keys, signatures = filled_lsh()
    r = random.Random(5)
    removed = set(r.sample(range(len(keys)), 40))
    lsh.remove(keys[sorted(removed)])
    # Adding one at a time goes through the small sorted tail.
    again = sorted(removed)[:10]
    for i in again:
        lsh.add(keys[i], signatures[i])
    kept = [i for i in range(len(keys)) if i not in removed or i in again]
    fresh = vornkit.MinHashLSH(0.6, 64)
    fresh.add(keys[kept], signatures[kept])
    assert as_pairs(*lsh.pairs()) == as_pairs(*fresh.pairs())
    assert len(lsh) == len(kept) and sorted(lsh.keys().tolist()) == sorted(keys[kept].tolist())
    for i in range(0, len(keys), 3):
        assert lsh.query(signatures[i]).tolist() == fresh.query(signatures[i]).tolist()
        assert (int(keys[i]) in lsh) == (i in kept)


def test_lsh_survives_mass_removal_and_reuse_of_keys():
    # Removing most documents compacts the tables; keys may come back.
    signatures = vornkit.minhash_signatures([f"text {i} {i % 97}" for i in range(5000)], 3, 32)
    lsh = vornkit.MinHashLSH(0.5, 32)
    lsh.add(np.arange(5000), signatures)
    lsh.remove(np.arange(0, 5000, 2))
    lsh.remove(np.arange(1, 4001, 2))
    lsh.add(np.arange(0, 100, 2), signatures[1:100:2])
    fresh = vornkit.MinHashLSH(0.5, 32)
    fresh.add(
        np.r_[np.arange(4001, 5000, 2), np.arange(0, 100, 2)], np.r_[signatures[4001:5000:2], signatures[1:100:2]]
    )
    assert as_pairs(*lsh.pairs()) == as_pairs(*fresh.pairs())


@pytest.mark.parametrize(
    "action, error, message",
    [
        (lambda lsh, k, s: lsh.add(k[:1], s[:1]), ValueError, "already in the index"),
        (lambda lsh, k, s: lsh.add([1, 1], s[:2]), ValueError, "more than once"),
        (lambda lsh, k, s: lsh.add([1, 2], s[:1]), ValueError, "2 keys but 1"),
        (lambda lsh, k, s: lsh.add([1], s[:1, :10]), ValueError, "64 columns"),
        (lambda lsh, k, s: lsh.add([1.5], s[:1]), TypeError, "integers"),
        (lambda lsh, k, s: lsh.add([1], -s[:1].astype(np.int64) - 1), ValueError, "negative"),
        (lambda lsh, k, s: lsh.remove([k[0], 12345]), KeyError, "12345"),
        (lambda lsh, k, s: lsh.remove([k[0], k[0]]), KeyError, None),
        (lambda lsh, k, s: lsh.query(s[:2]), ValueError, "query_many"),
    ],
)
def test_lsh_refusals_change_nothing(action, error, message):
    lsh, keys, signatures = filled_lsh()
    before = as_pairs(*lsh.pairs())
    with pytest.raises(error, match=message):
        action(lsh, keys, signatures)
    assert as_pairs(*lsh.pairs()) == before and len(lsh) == len(keys)


def test_lsh_recall_on_planted_near_duplicates():
    # Pairs of exact Jaccard >= 0.8 are found about as often as the
    # S-curve of the band shape predicts.
    r = random.Random(11)
    texts, pairs = [], []
    for _ in range(300):
        base = ref.document(r, 150)
        copy = ref.near_copy(r, base, r.randint(0, 12))
        pairs.append((len(texts), len(texts) + 1))
        texts += [base, copy]
    lsh = vornkit.MinHashLSH(0.8, 128)
    lsh.add(np.arange(len(texts)), vornkit.minhash_signatures(texts))
    found = set(as_pairs(*lsh.pairs()))
    similar = []
    for a, b in pairs:
        sa, sb = set(ref.shingles(texts[a], 3)), set(ref.shingles(texts[b], 3))
        s = len(sa & sb) / len(sa | sb)
        if s >= 0.8:
            similar.append(((a, b), s))
    assert len(similar) > 200
    expected = sum(1 - (1 - s**lsh.rows) ** lsh.bands for _, s in similar)
    recall = sum(pair in found for pair, _ in similar)
    assert recall >= expected - 4 * np.sqrt(expected) and recall >= 0.85 * len(similar)


# ---- SimHashIndex ----


def clustered_fingerprints(seed, n):
    r = random.Random(seed)
    bases = [r.getrandbits(64) for _ in range(n // 8)]
    values = []
    for _ in range(n):
        v = r.choice(bases)
        for _ in range(r.randint(0, 6)):
            v ^= 1 << r.randrange(64)
        values.append(v)
    return np.array(values, dtype=np.uint64)


def distances_to(values, q):
    return np.bitwise_count(values ^ np.uint64(q)).astype(np.int64)


@pytest.mark.parametrize("max_distance", [0, 1, 3, 5, 9, 63])
def test_simhash_queries_and_pairs_are_the_scan(max_distance):
    values = clustered_fingerprints(max_distance, 1200)
    keys = np.arange(1200, dtype=np.int64) * 3 - 1000
    index = vornkit.SimHashIndex(max_distance)
    index.add(keys[:600], values[:600])
    for i in range(600, 1200):  # one at a time too
        index.add(keys[i], values[i])
    for q in list(values[::37]) + [0, U64]:
        near = distances_to(values, q) <= max_distance
        assert index.query(q).tolist() == keys[near].tolist()
    query_index, found, distance = index.query_many(values[:50])
    for q in range(50):
        d = distances_to(values, values[q])
        assert found[query_index == q].tolist() == keys[d <= max_distance].tolist()
        assert distance[query_index == q].tolist() == d[d <= max_distance].tolist()
    if max_distance <= 9:
        i, j, d = index.pairs()
        expected = [
            (int(keys[a]), int(keys[b]), int(distances_to(values[b : b + 1], values[a])[0]))
            for a in range(1200)
            for b in np.nonzero(distances_to(values[a + 1 :], values[a]) <= max_distance)[0] + a + 1
        ]
        assert list(zip(i.tolist(), j.tolist(), d.tolist())) == sorted(expected)


def test_simhash_remove_and_refusals():
    values = clustered_fingerprints(1, 3000)
    index = vornkit.SimHashIndex(3)
    index.add(np.arange(3000), values)
    index.remove(np.arange(0, 3000, 2))
    with pytest.raises(KeyError):
        index.remove([0])
    with pytest.raises(ValueError, match="already in the index"):
        index.add([1], values[:1])
    with pytest.raises(ValueError, match="max_distance"):
        vornkit.SimHashIndex(64)
    odd = np.arange(1, 3000, 2)
    for q in values[::101]:
        near = distances_to(values[odd], q) <= 3
        assert index.query(q).tolist() == odd[near].tolist()
    assert len(index) == 1500 and 1 in index and 0 not in index


# ---- index files ----


def checksum(data):
    """The index file checksum (documented in src/index/index_file.hpp)."""
    golden, prime = 0x9E3779B97F4A7C15, 0x100000001B3
    rotl = lambda x, k: ((x << k) | (x >> (64 - k))) & U64  # noqa: E731
    lanes = [golden * m & U64 for m in (1, 3, 5, 7)]
    n, p = len(data), 0
    while n - p >= 32:
        for lane in range(4):
            word = int.from_bytes(data[p + 8 * lane : p + 8 * lane + 8], "little")
            lanes[lane] = rotl((lanes[lane] ^ word) * prime & U64, 29)
        p += 32
    lane = 0
    while n - p >= 8:
        lanes[lane] = rotl((lanes[lane] ^ int.from_bytes(data[p : p + 8], "little")) * prime & U64, 29)
        p, lane = p + 8, lane + 1
    h = (n * golden & U64) ^ int.from_bytes(data[p:], "little")
    for value in lanes:
        h = (rotl((h ^ value) * prime & U64, 31) + golden) & U64
    return h


def sections(data):
    count = struct.unpack_from("<Q", data, 88)[0]
    return [struct.unpack_from("<QQQ", data, 96 + 24 * i) for i in range(count)]


def resealed(data):
    """data with every checksum recomputed (for crafted files)."""
    data = bytearray(data)
    for i, (offset, length, _) in enumerate(sections(data)):
        struct.pack_into("<Q", data, 96 + 24 * i + 16, checksum(bytes(data[offset : offset + length])))
    head = 96 + 24 * len(sections(data))
    struct.pack_into("<Q", data, head, checksum(bytes(data[:head])))
    return bytes(data)


def saved(tmp_path, kind):
    path = tmp_path / f"{kind}.idx"
    if kind == "lsh":
        index, _, signatures = filled_lsh()
        probes = signatures[::9]
    else:
        index = vornkit.SimHashIndex(3)
        probes = clustered_fingerprints(4, 500)
        index.add(np.arange(500) * 7, probes)
    index.save(path)
    return index, path, probes


def answers(index, probes):
    if isinstance(index, vornkit.MinHashLSH):
        return [x.tolist() for x in (*index.pairs(), *index.query_many(probes))]
    return [x.tolist() for x in (*index.pairs(), *index.query_many(probes))]


def load(kind, path):
    return (vornkit.MinHashLSH if kind == "lsh" else vornkit.SimHashIndex).load(path)


@pytest.mark.parametrize("kind", ["lsh", "sim"])
def test_files_round_trip_and_stay_usable(tmp_path, kind):
    index, path, probes = saved(tmp_path, kind)
    loaded = load(kind, str(path))
    assert answers(loaded, probes) == answers(index, probes) and repr(loaded) == repr(index)
    # A loaded index takes changes, and saves over its own file.
    keys = np.array([10**15, 10**15 + 1])
    if kind == "lsh":
        loaded.add(keys, probes[:2])
        index.add(keys, probes[:2])
    else:
        loaded.add(keys, probes[:2])
        index.add(keys, probes[:2])
    loaded.remove(keys[:1])
    index.remove(keys[:1])
    loaded.save(path)
    assert answers(load(kind, path), probes) == answers(index, probes)


@pytest.mark.parametrize("kind", ["lsh", "sim"])
def test_truncated_files_are_refused(tmp_path, kind):
    _, path, _ = saved(tmp_path, kind)
    data = path.read_bytes()
    cuts = {0, 1, 7, 8, 50, 95, 96, len(data) - 1}
    for offset, length, _ in sections(data):
        cuts |= {offset - 1, offset, offset + 1, offset + length - 1}
    bad = tmp_path / "bad.idx"
    for cut in sorted(c for c in cuts if 0 <= c < len(data)):
        bad.write_bytes(data[:cut])
        with pytest.raises(ValueError, match="truncated|not a vornkit index file"):
            load(kind, bad)
    bad.write_bytes(data + b"\0")
    with pytest.raises(ValueError, match="malformed"):
        load(kind, bad)


@pytest.mark.parametrize("kind", ["lsh", "sim"])
def test_every_flipped_byte_is_caught(tmp_path, kind):
    _, path, _ = saved(tmp_path, kind)
    data = path.read_bytes()
    r = random.Random(kind)
    bad = tmp_path / "bad.idx"
    positions = list(range(0, 200)) + r.sample(range(len(data)), 300)
    for position in positions:
        corrupted = bytearray(data)
        corrupted[position] ^= 1 << r.randrange(8)
        bad.write_bytes(corrupted)
        with pytest.raises(ValueError, match="corrupted|not a vornkit index file|malformed"):
            load(kind, bad)


def crafted(kind, data):
    """Files with valid checksums but inconsistent contents."""
    offsets = [offset for offset, _, _ in sections(data)]
    table = offsets[1 if kind == "lsh" else 2]
    out = {}
    swapped = bytearray(data)  # the first two entries of a table swapped: unsorted
    swapped[table : table + 24] = data[table + 12 : table + 24] + data[table : table + 12]
    out["unsorted"] = swapped
    far = bytearray(data)  # a slot beyond the documents
    struct.pack_into("<I", far, table + 8, 1 << 31)
    out["slot out of range"] = far
    repeated = bytearray(data)  # two documents with one key
    repeated[offsets[0] : offsets[0] + 8] = data[offsets[0] + 8 : offsets[0] + 16]
    out["repeated key"] = repeated
    params = bytearray(data)  # bands * rows beyond num_hashes / a distance beyond 63
    struct.pack_into("<Q", params, 24 + (16 if kind == "lsh" else 0), 200)
    out["parameters"] = params
    if kind == "sim":
        moved = bytearray(data)  # a fingerprint that its table entries do not match
        moved[offsets[1]] ^= 1
        out["fingerprint"] = moved
    return {name: resealed(bytes(value)) for name, value in out.items()}


@pytest.mark.parametrize("kind", ["lsh", "sim"])
def test_crafted_files_are_refused_not_trusted(tmp_path, kind):
    _, path, _ = saved(tmp_path, kind)
    data = path.read_bytes()
    assert resealed(data) == data  # the test's checksum is the file's
    bad = tmp_path / "bad.idx"
    for name, content in crafted(kind, data).items():
        bad.write_bytes(content)
        with pytest.raises(ValueError, match="malformed|corrupted"):
            load(kind, bad)
            pytest.fail(name)


def test_foreign_and_missing_files(tmp_path):
    _, lsh_path, _ = saved(tmp_path, "lsh")
    _, sim_path, _ = saved(tmp_path, "sim")
    with pytest.raises(ValueError, match="another kind"):
        vornkit.SimHashIndex.load(lsh_path)
    with pytest.raises(ValueError, match="another kind"):
        vornkit.MinHashLSH.load(sim_path)
    foreign = tmp_path / "foreign"
    for content in [b"", b"hello world, not an index", b"\x89PNG\r\n\x1a\n" + bytes(200)]:
        foreign.write_bytes(content)
        with pytest.raises(ValueError, match="not a vornkit index file"):
            vornkit.MinHashLSH.load(foreign)
    version = bytearray(sim_path.read_bytes())
    struct.pack_into("<I", version, 8, 2)
    foreign.write_bytes(resealed(bytes(version)))
    with pytest.raises(ValueError, match="unsupported index file version"):
        vornkit.SimHashIndex.load(foreign)
    with pytest.raises(FileNotFoundError):
        vornkit.MinHashLSH.load(tmp_path / "missing.idx")
    with pytest.raises(IsADirectoryError):
        vornkit.SimHashIndex.load(tmp_path)
    with pytest.raises(FileNotFoundError):
        vornkit.SimHashIndex(3).save(tmp_path / "no" / "such" / "dir.idx")


def test_empty_indexes_round_trip(tmp_path):
    for index in (vornkit.MinHashLSH(), vornkit.SimHashIndex()):
        index.save(tmp_path / "empty.idx")
        loaded = type(index).load(tmp_path / "empty.idx")
        assert len(loaded) == 0 and repr(loaded) == repr(index)


def test_signature_rows_from_vorn_lists_are_accepted():
    lsh = vornkit.MinHashLSH(0.5, 16)
    lsh.add([1, 2], [vorn.minhash_signature("abcdef", 3, 16), vorn.minhash_signature("abcdeg", 3, 16)])
    assert lsh.query(vorn.minhash_signature("abcdef", 3, 16)).tolist() in ([1], [1, 2])
