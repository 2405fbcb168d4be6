#!/usr/bin/env python3
"""The bridge on real serial drivers, in a QEMU virtual machine.

The machine boots Debian's kernel with a busybox initramfs (see `init`); the
bridge runs there on the 8250 UART (QEMU's 16550) or on an FTDI USB adapter
(QEMU's usb-serial, driven by ftdi_sio). The device is the project's emulator
on the host, behind a Unix socket. Each scenario boots the machine once and
checks the bytes at all three ends. Exit 77 when QEMU, the kernel or a static
busybox cannot be had here.
"""
import argparse
import base64
import glob
import lzma
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]
SKIP = 77
GAME_STDOUT = b"Sorvanite\n1. ... e7e5\n2. ... d7d5\n"
# The game start with the device as Black and the first move, as every
# scenario with a game records them.
OPENING = (b"==> new\r\n==> level 40 5 0\r\n==> e2e4\r\n --> NEW 300 7 b\r\n <-- OK\r\n"
           b" --> MOVE e2e4\r\n")
GAME_RECORDS = OPENING + (b" <-- e7e5\r\n<== 1. ... e7e5\r\n==> d2d4\r\n --> MOVE d2d4\r\n"
                          b" <-- d7d5\r\n<== 2. ... d7d5\r\n==> quit\r\nSession ends\r\n")
START = b"New session\r\n<== Sorvanite\r\n"


def skip(why):
    print(f"serial_vm: SKIPPED: {why}")
    sys.exit(SKIP)


def run(command, **kwargs):
    return subprocess.run(command, check=True, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, **kwargs)


def is_static(path):
    """An ELF file without a program interpreter needs no libraries."""
    with open(path, "rb") as f:
        head = f.read(64)
        if head[:4] != b"\x7fELF" or head[4] != 2:
            return False
        phoff, = struct.unpack_from("<Q", head, 32)
        phentsize, phnum = struct.unpack_from("<HH", head, 54)
        for i in range(phnum):
            f.seek(phoff + i * phentsize)
            if struct.unpack("<I", f.read(4))[0] == 3:  # PT_INTERP
                return False
    return True


def fetch_kernel(cache):
    """Debian's current kernel, from its package, without installing it: the
    uncompressed vmlinux (booted directly by PVH) and the USB modules."""
    vmlinux = os.path.join(cache, "vmlinux")
    if os.path.exists(vmlinux) and all(os.path.exists(os.path.join(cache, m + ".ko")) for m in MODULES):
        print("serial_vm: kernel from the cache", cache)
        return vmlinux
    os.makedirs(cache, exist_ok=True)
    try:
        depends = run(["apt-cache", "depends", "linux-image-amd64"]).stdout.decode()
        image = re.search(r"Depends: (linux-image-\S+)", depends).group(1)
        download = tempfile.mkdtemp(dir=cache)
        run(["apt-get", "download", image], cwd=download)
        deb = glob.glob(os.path.join(download, "*.deb"))[0]
        tree = os.path.join(download, "tree")
        run(["dpkg-deb", "-x", deb, tree])
    except (subprocess.CalledProcessError, AttributeError, IndexError, FileNotFoundError) as error:
        skip(f"cannot fetch Debian's kernel package: {error}")
    vmlinuz = glob.glob(os.path.join(tree, "boot", "vmlinuz-*"))[0]
    data = open(vmlinuz, "rb").read()
    payload = data.find(b"\xfd7zXZ\x00")
    elf = lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(data[payload:])
    for module in MODULES:
        found = glob.glob(os.path.join(tree, "lib", "modules", "*", "kernel", "**", module + ".ko"), recursive=True)
        shutil.copy(found[0], os.path.join(cache, module + ".ko"))
    with open(vmlinux + ".part", "wb") as f:
        f.write(elf)
    os.rename(vmlinux + ".part", vmlinux)
    shutil.rmtree(download)
    print("serial_vm: kernel", image, "cached in", cache)
    return vmlinux


def newc(entries):
    """A cpio archive in the kernel's newc format: (name, mode, data) each."""
    out = bytearray()
    for number, (name, mode, data) in enumerate(entries + [("TRAILER!!!", 0, b"")], start=1):
        encoded = name.encode() + b"\0"
        fields = [number, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(encoded), 0]
        out += b"070701" + b"".join(b"%08X" % f for f in fields) + encoded
        out += b"\0" * (-len(out) % 4) + data
        out += b"\0" * (-len(out) % 4)
    return bytes(out)


def build_initramfs(args, cache, path):
    def file(name):
        return open(name, "rb").read()
    entries = [(d, 0o40755, b"") for d in ["bin", "dev", "proc", "sys", "run", "lib"]]
    entries += [("init", 0o100755, file(args.init)),
                ("bin/busybox", 0o100755, file(args.busybox)),
                ("bin/sorvanite-ttyS0", 0o100755, file(args.bridge_ttyS0)),
                ("bin/sorvanite-ttyUSB0", 0o100755, file(args.bridge_ttyUSB0)),
                ("bin/probe", 0o100755, file(args.probe))]
    entries += [(f"lib/{m}.ko", 0o100644, file(os.path.join(cache, m + ".ko"))) for m in MODULES]
    with open(path, "wb") as f:
        f.write(newc(entries))


class Machine:
    """One boot: the emulator on the device socket, QEMU, and the console."""

    def __init__(self, args, vmlinux, initramfs, scenario, script):
        # Short paths: a Unix socket path has room for about 100 bytes.
        self.dir = tempfile.mkdtemp(prefix=f"serial-vm-{scenario}-")
        with open(os.path.join(self.dir, "script.txt"), "w") as f:
            f.write(script)
        device_socket = os.path.join(self.dir, "device.sock")
        self.device_log = open(os.path.join(self.dir, "device.log"), "w+")
        # Both sockets listen before QEMU starts, so nothing the guest sends is lost.
        self.emulator = subprocess.Popen(
            [args.emulator, "--socket", device_socket, "--script", os.path.join(self.dir, "script.txt"), "--log"],
            stdout=subprocess.PIPE, stderr=self.device_log)
        if b"serving" not in self.emulator.stdout.readline():
            raise RuntimeError("the emulator did not start")
        console_path = os.path.join(self.dir, "console.sock")
        self.console = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.console.bind(console_path)
        self.console.listen(1)
        usb = scenario.startswith("usb-")
        serial = ["-serial", "null" if usb else "chardev:dev", "-serial", "chardev:con"]
        adapter = ["-device", "qemu-xhci,id=xhci", "-device", "usb-serial,bus=xhci.0,chardev=dev,id=ftdi"] if usb else []
        self.qemu = subprocess.Popen(
            ["qemu-system-x86_64", "-accel", "tcg", "-cpu", "max", "-m", "256", "-nodefaults", "-display", "none",
             "-no-reboot", "-kernel", vmlinux, "-initrd", initramfs,
             "-append", f"console=ttyS1 loglevel=3 panic=-1 scenario={scenario}",
             "-chardev", f"socket,id=dev,path={device_socket}",
             "-chardev", f"socket,id=con,path={console_path}"] + serial + adapter,
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def results(self, timeout=90):
        """The files the guest sent back, by name; the console text if it
        never finished."""
        self.console.settimeout(timeout)
        deadline = time.monotonic() + timeout
        text = b""
        try:
            connection, _ = self.console.accept()
            while b"=== done" not in text and time.monotonic() < deadline:
                connection.settimeout(max(0.1, deadline - time.monotonic()))
                chunk = connection.recv(65536)
                if not chunk:
                    break
                text += chunk
        except socket.timeout:
            pass
        self.close()
        text = text.replace(b"\r", b"")
        files = {}
        for match in re.finditer(rb"=== (\S+)\n(.*?)=== end\n", text, re.S):
            files[match.group(1).decode()] = base64.b64decode(match.group(2))
        if b"=== done" not in text:
            files["console"] = text
        return files

    def device_traffic(self):
        """What reached the device, and when: (seconds, direction, bytes)."""
        self.device_log.seek(0)
        lines = []
        for line in self.device_log:
            seconds, direction, shown = line.rstrip("\n").split(" ", 2)
            lines.append((float(seconds), direction, shown))
        return lines

    def close(self):
        for process in (self.qemu, self.emulator):
            if process.poll() is None:
                process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        self.console.close()


def received(traffic):
    return [shown for _, direction, shown in traffic if direction == "<-"]


GAME_SCRIPT = "OK\ne7e5\nd7d5\n"
GAME_COMMANDS = ["NEW 300 7 b\\r", "MOVE e2e4\\r", "MOVE d2d4\\r"]


def expect(problems, files, name, expected):
    """Adds a problem unless the guest's file `name` holds exactly `expected`."""
    if files.get(name) != expected:
        problems.append(f"{name}: {files.get(name)!r}")


def check_game(files, traffic):
    problems = []
    expect(problems, files, "status", b"0\n")
    expect(problems, files, "stdout", GAME_STDOUT)
    expect(problems, files, "zormlog.txt", START + GAME_RECORDS)
    if received(traffic) != GAME_COMMANDS:
        problems.append(f"the device received {received(traffic)}")
    return problems


def check_settings(files, traffic):
    problems = []
    expect(problems, files, "probe.txt",
           b"speed 9600 cs8 -parenb -cstopb ixon ixoff -ixany -crtscts raw min 1 time 0 -dtr -rts\n")
    expect(problems, files, "status", b"0\n")
    return problems


def check_xoff(files, traffic):
    problems = []
    sent_xon = [t for t, direction, shown in traffic if direction == "->" and shown == "\\x11"]
    got_move = [t for t, direction, shown in traffic if direction == "<-" and shown == "MOVE e2e4\\r"]
    if not sent_xon or not got_move or got_move[0] < sent_xon[0]:
        problems.append(f"MOVE was not held back until the XON: {traffic}")
    expect(problems, files, "zormlog.txt",
           START + OPENING + b" <-- e7e5\r\n<== 1. ... e7e5\r\n==> quit\r\nSession ends\r\n")
    expect(problems, files, "stdout", b"Sorvanite\n1. ... e7e5\n")
    return problems


def check_stale(files, traffic):
    problems = check_game(files, [(0, "<-", c) for c in received(traffic)[1:]])
    if received(traffic)[:1] != ["HELLO\\r"]:
        problems.append(f"the stale answer was never asked for: {received(traffic)}")
    return problems


def check_term(files, traffic):
    problems = []
    expect(problems, files, "zormlog.txt", START + OPENING + b" <-- (err: 4)\nSession ends\r\n")
    expect(problems, files, "status", b"0\n")
    return problems


DEVICE_GONE = (b"tellusererror The chess device has gone: its serial line hung up or failed, "
               b"so the game cannot go on")


def check_unplug(files, traffic):
    """Told once, nothing relayed, nothing more sent, the run ended by itself."""
    problems = []
    expect(problems, files, "zormlog.txt", START + OPENING + b" <-- (err: 5)\n<== " + DEVICE_GONE +
           b"\r\nSession ends\r\n")
    expect(problems, files, "stdout", b"Sorvanite\n" + DEVICE_GONE + b"\n")
    expect(problems, files, "status", b"5\n")
    if received(traffic) != GAME_COMMANDS[:2]:
        problems.append(f"the device received {received(traffic)}")
    return problems


def check_killed(files, traffic):
    problems = []
    expect(problems, files, "status", b"0\n")
    expect(problems, files, "stdout", GAME_STDOUT)
    transcript = files.get("zormlog.txt", b"")
    if not transcript.endswith(START + GAME_RECORDS):
        problems.append(f"the run after the killed one: {transcript!r}")
    if received(traffic) != GAME_COMMANDS[:2] + GAME_COMMANDS:
        problems.append(f"the device received {received(traffic)}")
    return problems


# name: (device script, check)
SCENARIOS = {
    "ttyS0-game": (GAME_SCRIPT, check_game),
    "ttyS0-settings": ("", check_settings),
    # XOFF before the answer, XON half a second later.
    "ttyS0-xoff": ("\\x13OK\\r{pause 500}\\x11{nocr}\ne7e5\n", check_xoff),
    # The first answer goes to another program's command and is left waiting.
    "ttyS0-stale": ("e7e5\\r\\n{nocr}\nOK\ne7e5\nd7d5\n", check_stale),
    "ttyS0-term": ("OK\n{pause 30000}e7e5\n", check_term),
    "usb-game": (GAME_SCRIPT, check_game),
    "ttyS0-killed": ("OK\ne7e5\n" + GAME_SCRIPT, check_killed),
    # The adapter is unplugged while the device thinks: its socket closes.
    "usb-unplug": ("OK\n{pause 1000}{hangup}\n", check_unplug),
}


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for option in ["--bridge-ttyS0", "--bridge-ttyUSB0", "--probe", "--emulator", "--init", "--work"]:
        parser.add_argument(option, required=True)
    parser.add_argument("--busybox", default="/bin/busybox")
    parser.add_argument("scenarios", nargs="*", default=list(SCENARIOS))
    args = parser.parse_args()

    if not shutil.which("qemu-system-x86_64"):
        skip("qemu-system-x86_64 is missing (apt-get install qemu-system-x86)")
    if not os.path.exists(args.busybox) or not is_static(args.busybox):
        skip(f"no static busybox at {args.busybox} (apt-get install busybox-static)")
    os.makedirs(args.work, exist_ok=True)
    cache = os.path.join(args.work, "kernel")
    vmlinux = fetch_kernel(cache)
    initramfs = os.path.join(args.work, "initramfs.cpio")
    build_initramfs(args, cache, initramfs)

    failed = 0
    for name in args.scenarios:
        script, check = SCENARIOS[name]
        started = time.monotonic()
        machine = Machine(args, vmlinux, initramfs, name, script)
        files = machine.results()
        traffic = machine.device_traffic()
        problems = [f"the machine did not finish: {files['console'][-2000:]!r}"] if "console" in files else []
        problems = problems or check(files, traffic)
        verdict = "FAIL" if problems else "pass"
        print(f"serial_vm: {name:16} {verdict} {time.monotonic() - started:5.1f}s")
        for problem in problems:
            print("    " + problem)
        if problems:
            failed += 1
            print(f"    (kept in {machine.dir})")
        else:
            shutil.rmtree(machine.dir)
    print(f"serial_vm: {len(args.scenarios) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
