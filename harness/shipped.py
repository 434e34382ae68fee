"""The programs users get, as released: brand.exe and brandcli.exe taken out of the release zip
of the tree as it is (tools/release.sh), each checked to be byte for byte the build/win32 file the
static checks read, and put where the test user can run them.

    cli = shipped.program(session, "brandcli.exe")      # a winenv.WineSession's folder

They are 32-bit programs: they run in a WoW64 prefix (winenv.WineSession.new_wow64_prefix).
"""

import hashlib
import zipfile

import source_tree
import winenv


def program(session, name):
    """The released `name`, installed in `session`'s folder release/ (its bin/ holds the other
    builds' files of the same names); HarnessError when the zip is missing or holds another
    file than the build."""
    target = session.root / "release"
    if (target / name).exists():
        return target / name
    root = winenv.repo_root()
    path, label = source_tree.release_zip(root), source_tree.label(root)
    if not path.exists():
        raise winenv.HarnessError(
            "%s is missing: tools/release.sh makes it (tools/test.sh runs it)" % path)
    with zipfile.ZipFile(path) as archive:
        released = archive.read("Brand-%s/%s" % (label, name))
    built = (winenv.build_dir("win32") / name).read_bytes()
    if hashlib.sha256(released).digest() != hashlib.sha256(built).digest():
        raise winenv.HarnessError("%s holds another %s than %s" % (
            path.name, name, winenv.build_dir("win32")))
    target.mkdir(exist_ok=True)
    (target / name).write_bytes(released)
    for made in (target, target / name):
        winenv.chown_to_user(made)
    return target / name
