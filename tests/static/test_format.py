"""Every C++ source of the project is formatted with clang-format (the repo's .clang-format)."""

import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def sources():
    listed = subprocess.run(["git", "ls-files", "*.cpp", "*.h"], cwd=ROOT, capture_output=True,
                            text=True)
    if listed.returncode != 0:
        pytest.skip("not a git checkout")
    return listed.stdout.split()


def test_sources_are_formatted():
    if not shutil.which("clang-format"):
        pytest.skip("clang-format is not installed")
    files = sources()
    assert files, "no C++ sources found"
    unformatted = [name for name in files if subprocess.run(
        ["clang-format", "--dry-run", "-Werror", name], cwd=ROOT, capture_output=True
    ).returncode != 0]
    assert not unformatted, "run clang-format -i on: " + " ".join(unformatted)
