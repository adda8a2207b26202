#!/usr/bin/env python3
"""Builds Quorvelc inside a Debian chroot and runs the whole Python suite there.

Usage (as root, with debootstrap installed): python3 scripts/chroot_host.py HOST

  i386             Debian 12 i386: its 32-bit CPython, compiler and pygame
  py314-pygame     Debian sid: CPython 3.14 with Debian's pygame
  py314-pygame-ce  Debian sid: CPython 3.14 with pygame-ce's wheel
  sdl3             Debian sid: CPython 3.14 with pygame-ce built on SDL 3

Chroots are kept in QUORVELC_CHROOTS (default /var/cache/quorvelc/chroots)
and made again when missing or when their set-up did not finish. The sid
hosts share one chroot: Debian's pygame in its system Python, each pygame-ce
in a virtual environment of its own. Prints "host HOST: Python ..., pygame
..., SDL ..." and exits with the suite's status.
"""
import fcntl
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

CHROOTS = Path(os.environ.get("QUORVELC_CHROOTS", "/var/cache/quorvelc/chroots"))
MIRROR = "http://deb.debian.org/debian"
PYGAME_CE = "pygame-ce==2.5.8"
# Every chroot: an interpreter, a compiler, the suite's tools and Debian's pygame.
PACKAGES = ["python3", "python3-dev", "python3-venv", "python3-pygame", "python3-pytest",
            "python3-mypy", "g++", "cmake", "ninja-build"]
SDL3_PACKAGES = ["libsdl3-dev", "libsdl3-image-dev", "libsdl3-ttf-dev", "libsdl3-mixer-dev",
                 "libportmidi-dev", "libfreetype-dev", "pkgconf", "python3.14-dev"]
SDL3_BUILD = "--no-binary pygame-ce -Csetup-args=-Dsdl_api=3 -Csetup-args=-Dmixer=disabled"
# host: (chroot, architecture, suite, extra Debian packages, venv option,
#        `pip install` arguments after scikit-build-core's, one install each)
HOSTS = {
    "i386": ("bookworm-i386", "i386", "bookworm", [], "--system-site-packages", []),
    "py314-pygame": ("sid-amd64", "amd64", "sid", [], "--system-site-packages", []),
    "py314-pygame-ce": ("sid-amd64", "amd64", "sid", [], "",
                        [f"--only-binary :all: {PYGAME_CE} pytest mypy"]),
    "sdl3": ("sid-amd64", "amd64", "sid", SDL3_PACKAGES, "",
             ["pytest mypy", f"{SDL3_BUILD} {PYGAME_CE}"]),
}
CA_BUNDLE = "/etc/quorvelc-host-ca.crt"  # the host's CA bundle, for pip
ENV = ["PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
       "HOME=/root", "LANG=C.UTF-8", "DEBIAN_FRONTEND=noninteractive",
       "PIP_CERT=" + CA_BUNDLE, "PIP_DISABLE_PIP_VERSION_CHECK=1",
       "SDL_VIDEODRIVER=dummy", "PYGAME_HIDE_SUPPORT_PROMPT=1"]
# sid's Release may be past its date; these chroots are rebuilt, not crash-proofed.
APT = ("apt-get -y --no-install-recommends -o Acquire::Check-Valid-Until=false "
       "-o Acquire::Languages=none -o Dpkg::Options::=--force-unsafe-io")
REPORT = """import platform, pygame
flavour = "pygame-ce" if getattr(pygame, "IS_CE", False) else "pygame"
sdl = ".".join(map(str, pygame.get_sdl_version()))
print(f"host HOST: Python {platform.python_version()}, {flavour} {pygame.version.ver}, SDL {sdl}")
"""


def step(what, started=time.monotonic()):
    print(f"[{time.monotonic() - started:6.0f} s] {what}", file=sys.stderr, flush=True)


def run(*command):
    subprocess.run(command, check=True)


def inside(root, script, check=True):
    """Runs a shell script in the chroot with a clean environment."""
    personality = ["setarch", "i686"] if root.name.endswith("i386") else []  # uname says i686
    done = subprocess.run([*personality, "chroot", str(root), "/usr/bin/env", "-i", *ENV,
                           "sh", "-ec", script])
    if check and done.returncode:
        sys.exit(f"failed in {root} (exit {done.returncode}): {script}")
    return done.returncode


def unmount_all(root):
    """Unmounts whatever is still mounted in the chroot, innermost first."""
    with open("/proc/mounts") as mounts:
        points = [line.split()[1] for line in mounts]
    for point in sorted((p for p in points if p.startswith(f"{root}/")), reverse=True):
        run("umount", "--lazy", point)


def make_chroot(root, arch, suite):
    step(f"making {root} ({suite}, {arch})")
    unmount_all(root)
    shutil.rmtree(root, ignore_errors=True)
    run("debootstrap", f"--arch={arch}", "--variant=minbase", suite, str(root), MIRROR)


def set_up(root, host, packages, venv_option, installs):
    step(f"setting up {host} in {root}")
    shutil.copy("/etc/resolv.conf", root / "etc/resolv.conf")
    shutil.copy(os.environ.get("PIP_CERT", "/etc/ssl/certs/ca-certificates.crt"),
                root / CA_BUNDLE.lstrip("/"))
    # dpkg first finishes whatever an interrupted set-up left half done.
    inside(root, f"dpkg --configure -a && {APT} update && {APT} install {' '.join(packages)}"
                 " && apt-get clean")
    pip = f"/opt/{host}/bin/pip install"
    inside(root, "\n".join([f"python3 -m venv --clear {venv_option} /opt/{host}",
                            f"{pip} scikit-build-core", *(f"{pip} {a}" for a in installs)]))


def copy_sources(root):
    """Copies the working tree's tracked and unignored files to /root/quorvelc."""
    os.chdir(Path(__file__).resolve().parents[1])
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            check=True, capture_output=True, text=True).stdout
    target = root / "root/quorvelc"
    shutil.rmtree(target, ignore_errors=True)
    for name in filter(None, set(listed.split("\0"))):
        if os.path.isfile(name):
            (target / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(name, target / name)


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in HOSTS:
        sys.exit(f"usage: {sys.argv[0]} {{{','.join(HOSTS)}}}")
    host = sys.argv[1]
    name, arch, suite, extra, venv_option, installs = HOSTS[host]
    root = CHROOTS / name
    CHROOTS.mkdir(parents=True, exist_ok=True)
    with open(CHROOTS / f"{name}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # one run per chroot at a time
        if not (root / ".quorvelc-made").exists():
            make_chroot(root, arch, suite)
            (root / ".quorvelc-made").touch()
        stamp = root / f".quorvelc-{host}-ready"
        run("mount", "-t", "proc", "proc", str(root / "proc"))
        try:
            if not stamp.exists():
                set_up(root, host, PACKAGES + extra, venv_option, installs)
                stamp.touch()
            step(f"building and installing Quorvelc for {host}")
            copy_sources(root)
            inside(root, f"cd /root/quorvelc && /opt/{host}/bin/pip install --no-index "
                         "--no-build-isolation --no-deps .")
            step(f"running the Python suite on {host}")
            status = inside(root, f"cd /root/quorvelc && /opt/{host}/bin/python -m pytest "
                                  "-p no:cacheprovider tests/python", check=False)
            inside(root, f"/opt/{host}/bin/python -c '{REPORT.replace('HOST', host)}'")
        finally:
            unmount_all(root)
    step(f"suite on {host}: exit {status}")
    sys.exit(status)


if __name__ == "__main__":
    main()
