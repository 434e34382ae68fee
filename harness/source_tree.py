"""What the source tree says about itself, read here rather than taken from the build, so that the
tests can hold the release to it: its commit time, whether it has uncommitted changes, and so the
release's label and zip.

The same rules as cmake/build_stamp.cmake: only the repository whose top folder is the tree counts
(a repository further up says nothing about it), and where there is none the time is
SOURCE_DATE_EPOCH from the environment and the tree is taken as it is, unmarked.
"""

import os
import pathlib
import re
import subprocess

ROOT = pathlib.Path(__file__).resolve().parents[1]

# Variables through which git would read another repository than the tree's own.
_GIT_REDIRECTS = ("GIT_DIR", "GIT_WORK_TREE", "GIT_INDEX_FILE", "GIT_COMMON_DIR",
                  "GIT_OBJECT_DIRECTORY")


class SourceTreeError(RuntimeError):
    pass


def _git(root, *args):
    env = {k: v for k, v in os.environ.items() if k not in _GIT_REDIRECTS}
    result = subprocess.run(["git", "-C", str(root), "--no-optional-locks"] + list(args),
                            capture_output=True, text=True, env=env)
    if result.returncode != 0:
        raise SourceTreeError("git %s failed in %s: %s" % (" ".join(args), root,
                                                           result.stderr.strip()))
    return result.stdout


def has_repository(root=ROOT):
    return (pathlib.Path(root) / ".git").exists()


def commit_time(root=ROOT):
    """Seconds since 1970 that the release of `root` must be dated with."""
    if has_repository(root):
        return int(_git(root, "log", "-1", "--format=%ct"))
    given = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not given.isdigit():
        raise SourceTreeError("%s has no repository of its own and SOURCE_DATE_EPOCH is %r"
                              % (root, given))
    return int(given)


def is_dirty(root=ROOT):
    """True when `root`'s repository has uncommitted changes, untracked files included."""
    return has_repository(root) and _git(root, "status", "--porcelain",
                                         "--untracked-files=normal") != ""


def version(root=ROOT):
    """The project version in CMakeLists.txt (1.0.0.1)."""
    found = re.search(r"project\(Brand VERSION ([\d.]+)",
                      (pathlib.Path(root) / "CMakeLists.txt").read_text())
    if not found:
        raise SourceTreeError("CMakeLists.txt in %s names no project version" % root)
    return found.group(1)


def label(root=ROOT):
    """The version the release and brandcli --version show: 1.0.0.1, or 1.0.0.1-dirty."""
    return version(root) + ("-dirty" if is_dirty(root) else "")


def release_zip(root=ROOT):
    """The zip tools/release.sh makes of `root` as it is now."""
    return pathlib.Path(root) / "dist" / ("Brand-%s-win32.zip" % label(root))
