#!/usr/bin/env python3
"""Builds Quorvelc in a Debian chroot and runs the Python suite there (as root).

  chroot_host.py SESSION | HOST [WHEEL | --set-up]

A SESSION runs each of its HOSTS; with WHEEL one host tests that wheel, not
its own build; --set-up only readies the chroot. Chroots (QUORVELC_CHROOTS,
default /var/cache/quorvelc/chroots), one per release and architecture, are
made on first use and kept; foreign ones run under qemu-user-static, whose
binfmt handlers are registered when missing. Each host prints what pygame
reports ("compatibility: ..."); the exit status is the worst suite's.
"""

from __future__ import annotations

import collections
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
# Every chroot: a compiler, the suite's tools and Debian's pygame; the
# interpreter's own -dev and -venv packages come with each host.
PACKAGES = [
    "python3-pygame",
    "python3-pytest",
    "python3-pytest-xdist",
    "python3-mypy",
    "python3-numpy",
    "python3-hypothesis",
    "g++",
    "cmake",
    "ninja-build",
]
TOOLS = "pytest pytest-xdist mypy hypothesis"  # the suite's tools, where pip installs pygame
SDL2_PACKAGES, SDL3_PACKAGES = (
    [f"libsdl{v}{part}-dev" for part in ("", "-image", "-ttf", "-mixer")]
    + ["libportmidi-dev", "libfreetype-dev", "pkgconf"]
    for v in "23"
)
WHEEL = [f"--only-binary :all: {PYGAME_CE} {TOOLS}"]
SDIST = f"--no-binary pygame-ce {PYGAME_CE}"
SDL3_BUILD = [TOOLS, f"{SDIST} -Csetup-args=-Dsdl_api=3 -Csetup-args=-Dmixer=disabled"]
# A host: the nox session it belongs to (dist: only the portable wheels are
# tested there, as each architecture's and interpreter's own build is tested
# on another host), Debian architecture and release, the interpreter, the
# pygame it tests (None: Debian's python3-pygame, seen through the system's
# site-packages; otherwise `pip install` arguments, one install each) and the
# Debian packages that pygame's build needs.
Host = collections.namedtuple("Host", "session arch suite python pygame packages")
HOSTS = {
    "i386": Host("i386", "i386", "bookworm", "python3", None, []),
    "i386-pygame": Host("dist", "i386", "bookworm", "python3", [f"--only-binary :all: pygame==2.6.1 {TOOLS}"], []),
    "i386-pygame-ce": Host("dist", "i386", "bookworm", "python3", WHEEL, []),
    "py314-pygame": Host("py314", "amd64", "sid", "python3.14", None, []),
    "py314-pygame-ce": Host("dist", "amd64", "sid", "python3.14", WHEEL, []),
    "sdl3": Host("sdl3", "amd64", "sid", "python3.14", SDL3_BUILD, SDL3_PACKAGES),
    "arm64-pygame": Host("arm64", "arm64", "bookworm", "python3", None, []),
    "arm64-pygame-ce": Host("dist", "arm64", "bookworm", "python3", WHEEL, []),
    "s390x": Host("s390x", "s390x", "bookworm", "python3", None, []),
    "py315-pygame": Host("dist", "amd64", "sid", "python3.15", None, []),
    "py315-pygame-ce": Host("py315", "amd64", "sid", "python3.15", [TOOLS, SDIST], SDL2_PACKAGES),
}
# Architectures this machine runs natively; the others run under QEMU.
NATIVE = {"amd64", "i386"}
QEMU = {"arm64": "aarch64", "s390x": "s390x"}
BINFMT = Path("/proc/sys/fs/binfmt_misc")
CA_BUNDLE = "/etc/quorvelc-host-ca.crt"  # the host's CA bundle, for pip
ENV = [
    "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
    "HOME=/root",
    "LANG=C.UTF-8",
    "DEBIAN_FRONTEND=noninteractive",
    "PIP_CERT=" + CA_BUNDLE,
    "PIP_DISABLE_PIP_VERSION_CHECK=1",
    "SDL_VIDEODRIVER=dummy",
    "PYGAME_HIDE_SUPPORT_PROMPT=1",
]
# sid's Release may be past its date; these chroots are rebuilt, not crash-proofed.
APT = (
    "apt-get -y --no-install-recommends -o Acquire::Check-Valid-Until=false "
    "-o Acquire::Languages=none -o Dpkg::Options::=--force-unsafe-io"
)
# One line for the README's compatibility table: what pygame reports.
REPORT = (
    "import platform, pygame; print('compatibility: Python', platform.python_version(), "
    "'pygame-ce' if getattr(pygame, 'IS_CE', False) else 'pygame', pygame.version.ver, "
    "'SDL', '.'.join(map(str, pygame.get_sdl_version())))"
)


STARTED = time.monotonic()


def step(what: str) -> None:
    """Prints a step with the seconds since the script started."""
    print(f"[{time.monotonic() - STARTED:6.0f} s] {what}", file=sys.stderr, flush=True)


def run(*command: str) -> None:
    subprocess.run(command, check=True)


def inside(root: Path, script: str, check: bool = True) -> int:
    """Runs a shell script in the chroot with a clean environment."""
    personality = ["setarch", "i686"] if root.name.endswith("i386") else []  # uname says i686
    done = subprocess.run(
        [*personality, "chroot", str(root), "/usr/bin/env", "-i", *ENV, "sh", "-ec", script], check=False
    )
    if check and done.returncode:
        sys.exit(f"failed in {root} (exit {done.returncode}): {script}")
    return done.returncode


def unmount_all(root: Path) -> None:
    """Unmounts whatever is still mounted in the chroot, innermost first."""
    with open("/proc/mounts") as mounts:
        points = [line.split()[1] for line in mounts]
    for point in sorted((p for p in points if p.startswith(f"{root}/")), reverse=True):
        run("umount", "--lazy", point)


def qemu(arch: str) -> None:
    """Registers QEMU's binfmt handler for `arch` unless the kernel has one."""
    if not (BINFMT / "register").exists():
        run("mount", "-t", "binfmt_misc", "binfmt_misc", str(BINFMT))
    if not (BINFMT / f"qemu-{QEMU[arch]}").exists():
        # qemu-user-static's own rule; its package registers nothing here.
        rule = Path(f"/usr/lib/binfmt.d/qemu-{QEMU[arch]}.conf").read_text()
        (BINFMT / "register").write_text(rule.strip())


def set_up(root: Path, name: str, host: Host) -> None:
    step(f"setting up {name} in {root}")
    shutil.copy("/etc/resolv.conf", root / "etc/resolv.conf")
    shutil.copy(os.environ.get("PIP_CERT", "/etc/ssl/certs/ca-certificates.crt"), root / CA_BUNDLE.lstrip("/"))
    packages = [*PACKAGES, f"{host.python}-dev", f"{host.python}-venv", *host.packages]
    # dpkg first finishes whatever an interrupted set-up left half done.
    inside(root, f"dpkg --configure -a && {APT} update && {APT} install {' '.join(packages)} && apt-get clean")
    pip = f"/opt/{name}/bin/pip install"
    system = "--system-site-packages" if host.pygame is None else ""
    inside(
        root,
        "\n".join(
            [
                f"{host.python} -m venv --clear {system} /opt/{name}",
                f"{pip} scikit-build-core",
                *(f"{pip} {a}" for a in host.pygame or []),
            ]
        ),
    )


def copy_sources(root: Path) -> None:
    """Copies the working tree's tracked and unignored files to /root/quorvelc
    (a tracked file deleted from the tree is left out)."""
    target = root / "root/quorvelc"
    shutil.rmtree(target, ignore_errors=True)
    target.mkdir(parents=True)
    subprocess.run(
        "set -o pipefail; git ls-files -z --cached --others --exclude-standard | tar -c"
        f" --null -T - --ignore-failed-read | tar -x -C '{target}'",
        shell=True,
        check=True,
        executable="/bin/bash",
        cwd=Path(__file__).resolve().parents[1],
    )


def test(name: str, wheel: str | None = None) -> int:
    """The suite on one host: on its own build, or on `wheel`; gives its status."""
    host = HOSTS[name]
    root = CHROOTS / f"{host.suite}-{host.arch}"
    if host.arch not in NATIVE:
        qemu(host.arch)
    CHROOTS.mkdir(parents=True, exist_ok=True)
    with open(f"{root}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)  # one run per chroot at a time
        if not (root / ".quorvelc-made").exists():
            step(f"making {root} ({host.suite}, {host.arch})")
            unmount_all(root)
            shutil.rmtree(root, ignore_errors=True)
            run("debootstrap", f"--arch={host.arch}", "--variant=minbase", host.suite, str(root), MIRROR)
            (root / ".quorvelc-made").touch()
        # The host's row and the package list are its stamp: a change sets the host up again.
        stamp, row = root / f".quorvelc-{name}-ready", repr((host, PACKAGES))
        run("mount", "-t", "proc", "proc", str(root / "proc"))
        try:
            if not stamp.exists() or stamp.read_text() != row:
                set_up(root, name, host)
                stamp.write_text(row)
            if wheel == "--set-up":
                return 0
            copy_sources(root)
            pip = f"cd /root/quorvelc && /opt/{name}/bin/pip install --no-index --no-deps"
            if wheel:
                step(f"installing {Path(wheel).name} on {name}")
                shutil.copy(wheel, root / "root")
                inside(root, f"{pip} --force-reinstall /root/{Path(wheel).name}")
            else:
                step(f"building and installing Quorvelc for {name}")
                inside(root, f"{pip} --no-build-isolation .")
            # Two workers: the machine's two cores, which emulation needs most.
            step(f"running the Python suite on {name}")
            status = inside(
                root,
                f"cd /root/quorvelc && /opt/{name}/bin/python -m pytest -p no:cacheprovider -n 2 tests/python",
                check=False,
            )
            inside(root, f'/opt/{name}/bin/python -c "{REPORT}"')
        finally:
            unmount_all(root)
    step(f"suite on {name}: exit {status}")
    return status


def main() -> None:
    names = [n for n, h in HOSTS.items() if sys.argv[1:2] in ([n], [h.session])]
    if not names or len(sys.argv) > 2 + (sys.argv[1] in HOSTS):
        sys.exit(__doc__)
    statuses = [test(name, *sys.argv[2:]) for name in names]
    sys.exit(max(statuses))


if __name__ == "__main__":
    main()
