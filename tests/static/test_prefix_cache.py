"""The prefix cache against what the test user could plant, a copy that fails, a folder that
cannot be made and a run that copies while another replaces: a cache folder of the test's own and
a small stand-in prefix made by the test user, no Wine. Run as root (the cache is root's alone)."""

import fcntl
import os
import shutil
import subprocess
import threading

import pytest

import prefix_cache
import winenv


@pytest.fixture
def folders(tmp_path, monkeypatch):
    """(the cache, a folder of root's alone, a folder of the test user's)."""
    if os.geteuid() != 0:
        pytest.fail("needs root, as the test command runs")
    monkeypatch.delenv("BRAND_NO_PREFIX_CACHE", raising=False)
    mine = winenv.user_dir("brand-cache-test-")
    yield prefix_cache.PrefixCache("maker", winenv.as_user, tmp_path / "cache"), tmp_path, mine
    shutil.rmtree(mine)


def as_user(script, *args):
    subprocess.run(winenv.as_user(["sh", "-c", script, "sh"] + [str(a) for a in args]),
                   check=True, cwd="/")


def stand_in_prefix(folder, victim):
    """A prefix as the test user could leave it: Wine's link to / and a marker that is a link to
    a file root alone may write."""
    as_user('mkdir -p "$1/drive_c" && echo reg >"$1/system.reg" && ln -s / "$1/z:" && '
            'ln -s "$2" "$1/.brand-prefix-complete"', folder / "prefix", victim)
    return folder / "prefix"


def test_links_the_test_user_planted_are_never_followed_by_root(folders):
    cache, private, mine = folders
    cache.publish("x86_64-1", stand_in_prefix(mine, private / "victim"))
    assert not (private / "victim").exists(), "root wrote the marker through the user's link"

    assert cache.fetch("x86_64-1", mine / "copy")
    copy = mine / "copy"
    assert os.readlink(copy / "z:") == "/" and (copy / "system.reg").read_text() == "reg\n"
    assert {os.lstat(p).st_uid for p in (copy, copy / "z:", copy / "drive_c")} == {
        winenv.user_ids()[0]}
    assert not os.path.lexists(copy / prefix_cache.MARKER)

    (private / "root-only").mkdir(mode=0o700)
    (mine / "planted").symlink_to(private / "root-only")
    with pytest.warns(prefix_cache.PrefixCacheWarning, match="copying x86_64-1 out failed"):
        assert not cache.fetch("x86_64-1", mine / "planted")
    assert not os.listdir(private / "root-only"), "root copied through the user's link"


def test_a_failed_or_refused_copy_leaves_nothing_and_turns_the_cache_off(folders):
    cache, private, mine = folders
    dead = cache.root / (".x86_64-0.99999" + prefix_cache.TEMPORARY)
    dead.mkdir()
    with pytest.warns(prefix_cache.PrefixCacheWarning, match="still runs"):
        cache.publish("x86_64-1", stand_in_prefix(mine, "x"), lambda: [4242])
    assert sorted(os.listdir(cache.root)) == [dead.name]

    unreadable = private / "unreadable"  # the test user's tar fails at once, like a full disk
    unreadable.mkdir(mode=0o700)
    with pytest.warns(prefix_cache.PrefixCacheWarning, match="keeping x86_64-1 failed"):
        cache.publish("x86_64-1", unreadable)
    assert os.listdir(cache.root) == [] and not cache.enabled

    with pytest.warns(prefix_cache.PrefixCacheWarning, match="cannot make /proc/brand"):
        assert not prefix_cache.PrefixCache("maker", winenv.as_user, "/proc/brand").enabled


def test_an_entry_is_not_replaced_while_another_run_copies_from_it(folders):
    cache, _, mine = folders
    prefix = stand_in_prefix(mine, "x")
    cache.publish("x86_64-old", prefix)
    copying = os.open(cache.root, os.O_RDONLY)
    fcntl.flock(copying, fcntl.LOCK_SH)  # as a fetch holds it
    replacing = threading.Thread(target=cache.publish, args=("x86_64-new", prefix))
    replacing.start()
    replacing.join(0.5)
    assert os.listdir(cache.root) == ["x86_64-old"]
    os.close(copying)
    replacing.join(10)
    assert os.listdir(cache.root) == ["x86_64-new"]
