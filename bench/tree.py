"""The benchmark tree: built from a fixed seed, so the same parameters give the
same names in the same places on every machine.

The tree holds directories up to MAX_DEPTH levels below the root, ordinary
files with names of 5 to 40 characters, THUMBS.DB files in mixed letter case,
decoys that only look like them (THUMBS.DB.BAK, XTHUMBS.DB, thumbs.dbx ...),
a few symbolic links to files and dangling ones, and some empty directories.
Nothing but a regular file is ever named thumbs.db in any letter case.

Everything it deletes lies below its own directory, which is marked with a
stamp file naming the parameters it was built with.
"""

import json
import os
import random
import shutil
from dataclasses import asdict, dataclass, field

GENERATOR_VERSION = 1
MAX_DEPTH = 12
STAMP = "zarvelin-bench-tree.json"

# 64 characters, so one random byte masked to 6 bits picks one.
NAME_ALPHABET = b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._"
TO_NAME_BYTES = bytes(NAME_ALPHABET[b & 63] for b in range(256))
THUMBS = "thumbs.db"
DECOY_FILES = [
    "THUMBS.DB.BAK", "XTHUMBS.DB", "thumbs.dbx", "Thumbs.db~", "thumbs.d",
    "humbs.db", "thumbs db", "thumbs.db.tmp", "THUMBS_DB", ".thumbs.db",
    "thumbs.db ", " thumbs.db", "thumbs..db", "Thumbs.db.lnk",
]
DECOY_DIRS = ["Thumbs", "THUMBS.DB.d", "thumbs.db_old", "Thumbs.dbx"]
ODD_NAMES = ["résumé draft", "Ärger über Größe", "naïve café", "日本語のファイル"]


@dataclass(frozen=True)
class Size:
    files: int
    dirs: int
    thumbs: int
    seed: int = 20240611

    def tag(self):
        return f"f{self.files}-d{self.dirs}-t{self.thumbs}-s{self.seed}-v{GENERATOR_VERSION}"


SIZES = {
    "quick": Size(files=20_000, dirs=2_000, thumbs=200),
    "default": Size(files=200_000, dirs=20_000, thumbs=2_000),
    "large": Size(files=1_000_000, dirs=100_000, thumbs=10_000),
}


@dataclass
class Layout:
    """Where everything goes: dirs[i] is a path relative to the root ('' for
    the root), entries[i] the names directly in dirs[i]."""

    dirs: list = field(default_factory=list)
    entries: list = field(default_factory=list)
    thumbs: list = field(default_factory=list)  # (dir index, name)
    symlinks: list = field(default_factory=list)  # (dir index, name, target)
    plain_files: list = field(default_factory=list)  # (dir index, name)

    def entry_count(self):
        return sum(len(names) for names in self.entries)


class NameMaker:
    def __init__(self, rng):
        self.rng = rng

    def name(self):
        length = self.rng.randint(5, 40)
        name = self.rng.randbytes(length).translate(TO_NAME_BYTES).decode()
        roll = self.rng.random()
        if roll < 0.05:
            cut = self.rng.randrange(1, length)
            name = name[:cut] + " " + name[cut:]
        elif roll < 0.06:
            name = self.rng.choice(ODD_NAMES) + name[:8]
        return name

    def thumbs_variant(self):
        roll = self.rng.random()
        if roll < 0.4:
            return "Thumbs.db"
        if roll < 0.6:
            return "THUMBS.DB"
        if roll < 0.8:
            return "thumbs.db"
        return "".join(c.upper() if self.rng.random() < 0.5 else c for c in THUMBS)


def _free_name(names, make):
    while True:
        name = make()
        if name not in names and name.lower() != THUMBS:
            return name


def plan(size):
    """The whole tree as names only; nothing touches the disk."""
    rng = random.Random(size.seed)
    maker = NameMaker(rng)
    layout = Layout(dirs=[""], entries=[set()])
    depth = [0]
    parents = [0]  # directories that may still get subdirectories
    for _ in range(size.dirs - 1):
        parent = rng.choice(parents)
        names = layout.entries[parent]
        if rng.random() < 0.01:
            name = _free_name(names, lambda: rng.choice(DECOY_DIRS) + maker.name()[:3])
        else:
            name = _free_name(names, maker.name)
        names.add(name)
        index = len(layout.dirs)
        layout.dirs.append(os.path.join(layout.dirs[parent], name))
        layout.entries.append(set())
        depth.append(depth[parent] + 1)
        if depth[index] < MAX_DEPTH:
            parents.append(index)

    ndirs = len(layout.dirs)
    # One directory in fifty holds no files of its own.
    fileless = set(rng.sample(range(1, ndirs), ndirs // 50))

    def pick_dir():
        while True:
            where = rng.randrange(ndirs)
            if where not in fileless:
                return where

    for _ in range(size.thumbs):
        while True:
            where = pick_dir()
            name = maker.thumbs_variant()
            if name not in layout.entries[where]:
                break
        layout.entries[where].add(name)
        layout.thumbs.append((where, name))

    decoys = size.thumbs // 2
    for i in range(size.files - size.thumbs):
        where = pick_dir()
        names = layout.entries[where]
        if i < decoys:
            name = _free_name(names, lambda: rng.choice(DECOY_FILES))
        else:
            name = _free_name(names, maker.name)
        names.add(name)
        layout.plain_files.append((where, name))

    for _ in range(max(1, size.dirs // 100)):
        where = pick_dir()
        names = layout.entries[where]
        name = _free_name(names, lambda: maker.name() + ".lnk")
        target = "../missing-" + maker.name() if rng.random() < 0.3 else None
        names.add(name)
        layout.symlinks.append((where, name, target))
    _aim_symlinks_at_files(layout, rng)
    return layout


def _aim_symlinks_at_files(layout, rng):
    """A symbolic link that is not left dangling points at a plain file in
    its own directory (or dangles when its directory has none)."""
    files_in = {}
    for where, name in layout.plain_files:
        files_in.setdefault(where, []).append(name)
    for i, (where, name, target) in enumerate(layout.symlinks):
        if target is None:
            choices = sorted(files_in.get(where, []))
            target = rng.choice(choices) if choices else "missing-target"
        layout.symlinks[i] = (where, name, target)


def thumbs_content(index):
    return f"thumbnail cache {index}\n".encode() * 4


class Tree:
    """A built tree on disk, at BASE/TAG/tree, with its stamp beside it."""

    def __init__(self, base, size):
        self.size = size
        self.home = os.path.join(os.path.abspath(base), "zarvelin-bench", size.tag())
        self.root = os.path.join(self.home, "tree")
        self.layout = plan(size)
        # False once a checked run has deleted every THUMBS.DB file.
        self.thumbs_present = False
        self.thumb_paths = [
            os.path.join(self.root, self.layout.dirs[w], n) for w, n in self.layout.thumbs
        ]

    # -- building ---------------------------------------------------------

    def _stamp_path(self):
        return os.path.join(self.home, STAMP)

    def _stamp_matches(self):
        try:
            with open(self._stamp_path()) as f:
                return json.load(f) == asdict(self.size) | {"version": GENERATOR_VERSION}
        except (OSError, ValueError):
            return False

    def ensure(self, log):
        """Reuses the tree when it was built with the same parameters and is
        intact once its THUMBS.DB files are back; builds it anew otherwise."""
        if self._stamp_matches() and os.path.isdir(self.root):
            self.restore(missing_only=True)
            problems = self.differences(thumbs_present=True)
            if not problems:
                log(f"reusing tree {self.root}")
                return
            log(f"tree {self.root} differs from its plan ({problems[0]}); rebuilding")
        self._build(log)

    def _remove_own_home(self):
        # Only a directory this benchmark stamped (or left half-built) is removed.
        if os.path.isdir(self.home):
            marker = os.path.exists(self._stamp_path()) or os.listdir(self.home) in ([], ["tree"])
            if not marker:
                raise SystemExit(f"refusing to remove {self.home}: not a benchmark tree")
            shutil.rmtree(self.home)

    def _build(self, log):
        self._remove_own_home()
        os.makedirs(self.root)
        log(f"building tree {self.root} ({self.size.files} files, {self.size.dirs} dirs)")
        for rel in self.layout.dirs[1:]:
            os.mkdir(os.path.join(self.root, rel))
        by_dir = {}
        for where, name in self.layout.plain_files:
            by_dir.setdefault(where, []).append(name)
        flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC
        for where, names in by_dir.items():
            fd = os.open(os.path.join(self.root, self.layout.dirs[where]), os.O_RDONLY)
            try:
                for name in names:
                    os.close(os.open(name, flags, 0o644, dir_fd=fd))
            finally:
                os.close(fd)
        for where, name, target in self.layout.symlinks:
            os.symlink(target, os.path.join(self.root, self.layout.dirs[where], name))
        self.restore(missing_only=False)
        with open(self._stamp_path(), "w") as f:
            json.dump(asdict(self.size) | {"version": GENERATOR_VERSION}, f)
        os.sync()

    # -- between runs -----------------------------------------------------

    def restore(self, missing_only):
        """Puts back the THUMBS.DB files. After a checked run every one of
        them is gone, and finding one already there is an error."""
        flags = os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC
        for index, path in enumerate(self.thumb_paths):
            try:
                fd = os.open(path, flags, 0o644)
            except FileExistsError:
                if missing_only:
                    continue
                raise
            try:
                os.write(fd, thumbs_content(index))
            finally:
                os.close(fd)
        self.thumbs_present = True

    def differences(self, thumbs_present, limit=10):
        """Compares the tree on disk with the plan: every entry present, no
        entry added, and the THUMBS.DB files present or all gone."""
        problems = []
        thumbs_by_dir = {}
        for where, name in self.layout.thumbs:
            thumbs_by_dir.setdefault(where, set()).add(name)
        for where, rel in enumerate(self.layout.dirs):
            expected = self.layout.entries[where]
            if not thumbs_present:
                expected = expected - thumbs_by_dir.get(where, set())
            path = os.path.join(self.root, rel)
            try:
                actual = set(os.listdir(path))
            except OSError as error:
                problems.append(f"cannot list {path}: {error}")
                continue
            if actual != expected:
                for name in sorted(expected - actual)[:limit]:
                    problems.append(f"missing: {os.path.join(path, name)}")
                left = thumbs_by_dir.get(where, set())
                for name in sorted(actual - expected)[:limit]:
                    what = "not deleted" if name in left else "unexpected"
                    problems.append(f"{what}: {os.path.join(path, name)}")
            if len(problems) >= limit:
                break
        return problems
