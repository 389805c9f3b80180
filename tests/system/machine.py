"""A booted Debian machine for one test: systemd-nspawn over an overlay.

The cached root (scripts/lib/debian_root.sh) stays untouched: each machine
writes into an overlay of its own, so every case starts from a clean
system. The nspawn process runs in control groups of its own (one per
hierarchy), so that two machines can run at once and everything they leave
behind can be found and removed. Commands run inside through nsenter.
close() shuts the machine down and removes the mount and the groups,
whatever state it is in.
"""
import os
import re
import shutil
import signal
import subprocess
import time

CGROUP_ROOT = "/sys/fs/cgroup"
PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


def cgroup_hierarchies():
    """The folders where a process gets a control group of its own: the
    unified hierarchy alone, or systemd's named one and the unified one."""
    if os.path.exists(os.path.join(CGROUP_ROOT, "cgroup.controllers")):
        return [CGROUP_ROOT]
    return [os.path.join(CGROUP_ROOT, h) for h in ("systemd", "unified")
            if os.path.isdir(os.path.join(CGROUP_ROOT, h))]


def remove_cgroup(path):
    """Removes a control group and the groups below it, killing what still
    runs there."""
    for _ in range(100):
        if not os.path.isdir(path):
            return
        pids = []
        for folder, _dirs, files in os.walk(path):
            if "cgroup.procs" in files:
                with open(os.path.join(folder, "cgroup.procs")) as procs:
                    pids += [int(p) for p in procs.read().split()]
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        try:
            for folder, _dirs, _files in os.walk(path, topdown=False):
                os.rmdir(folder)
            return
        except OSError:
            time.sleep(0.05)  # the killed processes have not left yet
    raise RuntimeError(f"control group {path} could not be removed")


class CommandFailed(AssertionError):
    pass


class Machine:
    """One booted container over the root folder, named vantrel-PID-N after
    the process that made it."""

    live = set()  # the machines not closed yet, for a run that is stopped

    def __init__(self, root, work, number):
        self.root = root
        self.name = f"vantrel-{os.getpid()}-{number}"
        self.dir = os.path.join(work, self.name)
        self.merged = os.path.join(self.dir, "merged")
        self.cgroups = [os.path.join(h, self.name) for h in cgroup_hierarchies()]
        self.nspawn = None
        self.leader = None
        self.log = None
        self.mounted = False

    # -- life ---------------------------------------------------------------

    def start(self):
        """Mounts the overlay and boots the machine until it runs."""
        self.mount()
        self.boot()

    def mount(self):
        """Mounts the overlay, so that files can be written before a boot."""
        Machine.live.add(self)
        for sub in ("upper", "work", "merged"):
            os.makedirs(os.path.join(self.dir, sub))
        subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                        f"lowerdir={self.root},upperdir={self.dir}/upper,workdir={self.dir}/work",
                        self.merged], check=True)
        self.mounted = True
        for group in self.cgroups:
            os.makedirs(group, exist_ok=True)

    def boot(self):
        """Starts systemd-nspawn on the overlay and waits for the boot to
        finish (a second or two)."""
        groups = list(self.cgroups)

        def enter_own_groups():
            for group in groups:
                with open(os.path.join(group, "cgroup.procs"), "w") as procs:
                    procs.write(str(os.getpid()))

        if self.log:
            self.log.close()
        self.log = open(os.path.join(self.dir, "console.log"), "ab")
        self.nspawn = subprocess.Popen(
            ["systemd-nspawn", "-D", self.merged, "-b", "--register=no", "--keep-unit",
             "--private-network", "--console=pipe", "--machine=" + self.name],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT,
            preexec_fn=enter_own_groups, env={"PATH": PATH})
        self.leader = None
        deadline = time.monotonic() + 60
        while self.leader is None:
            self.leader = self._container_init()
            self._check_alive(deadline, "to start its init")
        state = ""
        while state not in ("running", "degraded"):
            state = self.run("systemctl", "is-system-running", check=False).stdout.strip()
            self._check_alive(deadline, f"to boot (it is {state!r})")
        if state == "degraded":
            failed = self.run("systemctl", "--failed", "--no-pager", check=False).stdout
            raise AssertionError(f"the machine booted degraded:\n{failed}")

    def _container_init(self):
        """The container's PID 1 as the host sees it: the systemd that
        nspawn started, or None before it runs."""
        pending = [self.nspawn.pid]
        while pending:
            pid = pending.pop()
            try:
                with open(f"/proc/{pid}/comm") as comm:
                    if pid != self.nspawn.pid and comm.read().strip() == "systemd":
                        return pid
                for task in os.listdir(f"/proc/{pid}/task"):
                    with open(f"/proc/{pid}/task/{task}/children") as children:
                        pending += [int(c) for c in children.read().split()]
            except OSError:
                continue
        return None

    def _check_alive(self, deadline, what):
        if self.nspawn.poll() is not None:
            raise AssertionError(f"systemd-nspawn ended (code {self.nspawn.returncode}) waiting for "
                                 f"the machine {what}; its output:\n{self.console()}")
        if time.monotonic() > deadline:
            raise AssertionError(f"the machine took too long {what}")
        time.sleep(0.1)

    def reboot(self):
        """A reboot from inside: nspawn ends with code 133, and the same
        machine (the same overlay) boots again."""
        self.run("systemctl", "reboot", check=False)
        self._wait_for_nspawn(60)
        if self.nspawn.returncode != 133:
            raise AssertionError(f"systemd-nspawn ended with {self.nspawn.returncode}, not 133, on a reboot")
        self.boot()

    def _wait_for_nspawn(self, seconds):
        try:
            self.nspawn.wait(timeout=seconds)
            return True
        except subprocess.TimeoutExpired:
            return False

    def close(self):
        """Shuts the machine down (killing it when it does not go) and
        removes its mount, groups and files. Safe to call in any state."""
        errors = []
        if self.nspawn and self.nspawn.poll() is None:
            self.nspawn.send_signal(signal.SIGTERM)  # an orderly shutdown of a booted container
            if not self._wait_for_nspawn(30):
                if self.leader:
                    try:
                        os.kill(self.leader, signal.SIGKILL)  # ends every process of the machine
                    except ProcessLookupError:
                        pass
                self.nspawn.kill()
                self.nspawn.wait()
        if self.log:
            self.log.close()
        for group in self.cgroups:
            try:
                remove_cgroup(group)
            except (OSError, RuntimeError) as e:
                errors.append(str(e))
        if self.mounted:
            if subprocess.run(["umount", self.merged]).returncode != 0:
                subprocess.run(["umount", "-l", self.merged])
            self.mounted = False
        shutil.rmtree(self.dir, ignore_errors=True)
        Machine.live.discard(self)
        if errors:
            raise RuntimeError("; ".join(errors))

    @staticmethod
    def remove_stale(work):
        """Removes what a run that was killed left behind in work: machines
        whose process is gone (their mounts, groups and files)."""
        for name in os.listdir(work):
            found = re.fullmatch(r"vantrel-(\d+)-\d+", name)
            if not found or os.path.exists(f"/proc/{found.group(1)}"):
                continue
            merged = os.path.join(work, name, "merged")
            if os.path.ismount(merged):
                subprocess.run(["umount", "-l", merged])
            for hierarchy in cgroup_hierarchies():
                remove_cgroup(os.path.join(hierarchy, name))
            shutil.rmtree(os.path.join(work, name), ignore_errors=True)

    # -- inside -------------------------------------------------------------

    def run(self, *command, check=True, input=None, timeout=120):
        """Runs a command inside the machine with a plain environment;
        raises CommandFailed when check is set and it fails."""
        result = subprocess.run(
            ["nsenter", "-t", str(self.leader), "-m", "-u", "-i", "-n", "-p",
             "env", "-i", "PATH=" + PATH, "LANG=C.UTF-8", "SYSTEMD_PAGER=", "SYSTEMD_COLORS=0", *command],
            input=input, capture_output=True, text=True, timeout=timeout)
        if check and result.returncode != 0:
            raise CommandFailed(f"{' '.join(command)} ended with {result.returncode}:\n"
                                f"{result.stdout}{result.stderr}")
        return result

    def path(self, inside):
        """Where a file of the machine's disk lies on the host (not for
        /run or /tmp, which are the machine's own memory)."""
        return os.path.join(self.merged, inside.lstrip("/"))

    def put(self, source, inside):
        shutil.copy(source, self.path(inside))

    def read(self, inside):
        with open(self.path(inside), encoding="utf-8") as f:
            return f.read()

    def console(self):
        try:
            with open(os.path.join(self.dir, "console.log"), encoding="utf-8", errors="replace") as f:
                return f.read()[-4000:]
        except OSError:
            return ""
