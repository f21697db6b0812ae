"""The native program interrupted by a signal at every point of a run.

Each run ends one of two ways, and the service is running in both: finished
(exit 0, no interruption entry), or interrupted (killed by the signal, exactly
one interruption entry, the log whole, no password file and nothing else
left). A logged 1056 does not count as running.
"""

import os
import re
import signal
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from sandbox import Sandbox  # noqa: E402

BINARY = os.environ["QLX_BINARY"]

# The forms a log entry takes; a whole log is a sequence of them.
ENTRY = re.compile(
    r"Updating QLX database\.\.\.\n|Stopping QLX service\.\.\.|Starting updation\.\.\.\n"
    r"|Updating QLX version\.\.\.|Starting QLX service\.\.\.|Successfully\n|Failed\n"
    r"|Failed to open database connection\n|QLX database updation completed\n\n"
    r"|[A-Za-z]+ - [^\n]*\n"
    r"|[A-Za-z]+ failed with error -?[0-9]+: [^\n]*\r\n\n"
    r"|[A-Za-z]+ failed\.\nError = -?[0-9]+\nMessage = [^\n]*\nDescription = [^\n]*\n"
    r"(Query = [^\n]*\n)?")

# What a run may add to the sandbox, besides the files it changes in place.
ALLOWED_NEW = {"work/QLX_patch.log", "zqtool.calls", "zqpassword.calls", "zqpassword.modes",
               "hanging.pid", "started", "tmp/null", "stdout", "stderr",
               "addon/Query_Timeout.txt",
               # The advisory lock of the export's rewrite stays, empty.
               "registry.reg.lock"}

SLOW = """if [ -e "{root}/slow-$(basename "$0")$1" ]; then
  touch "{root}/started"
  sleep 0.3
fi
"""


def whole(log):
    at = 0
    while at < len(log):
        match = ENTRY.match(log, at)
        if not match:
            return False
        at = match.end()
    return True


def files_below(root):
    return {str(path.relative_to(root)) for path in root.rglob("*") if not path.is_dir()}


class InterruptionSweep(unittest.TestCase):
    runs = 0

    def sandbox(self, db_type):
        box = Sandbox(BINARY).use_sqlite()
        self.addCleanup(box.remove)
        box.db_type = db_type
        return box

    def start(self, box, preexec=None):
        box.lay_out()
        # zqpassword may be slowed down right before it prints (see SLOW).
        tool = box.bin / "zqpassword"
        text = tool.read_text()
        tool.write_text(text.replace('case "$1" in', SLOW.format(root=box.root) + 'case "$1" in'))
        box.before = files_below(box.root)
        with open(box.root / "stdout", "wb") as out, open(box.root / "stderr", "wb") as err:
            return subprocess.Popen([box.binary], cwd=box.work, env=box.environment(),
                                    stdout=out, stderr=err, preexec_fn=preexec)

    def check(self, box, patch, sig, where):
        InterruptionSweep.runs += 1
        patch.wait(timeout=60)
        log = box.log() or ""
        entry = f"QLXPatch - Run interrupted ({sig.name})\n"
        self.assertTrue(whole(log), f"{where}: not whole\n{log}")
        self.assertNotIn("error 1056", log, where)
        self.assertEqual(box.service_state(), "running", f"{where}\n{log}")
        self.assertEqual(sorted(box.root.rglob("pass*.txt")), [], where)
        self.assertLessEqual(files_below(box.root) - box.before, ALLOWED_NEW, where)
        if patch.returncode == 0:
            self.assertNotIn(entry, log, where)
            self.assertTrue(log.endswith("QLX database updation completed\n\n"), where)
            return "finished"
        self.assertEqual(patch.returncode, -sig, f"{where}\n{log}")
        if log == "":
            return "killed before main"  # by the default action: nothing was done
        self.assertEqual(log.count(entry), 1, f"{where}\n{log}")
        return "interrupted"

    def test_a_signal_at_every_point_of_a_run(self):
        endings = {"finished": 0, "interrupted": 0, "killed before main": 0}
        for db_type in ("SQLServer", "Oracle"):
            # Step boundaries: the whole run (and a little past its end) swept
            # in small time steps.
            box = self.sandbox(db_type)
            began = time.monotonic()
            box.run()
            whole_run_ms = int((time.monotonic() - began) * 1000 * 1.3)
            step_ms = max(2, whole_run_ms // 30)
            for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
                for delay_ms in range(0, whole_run_ms, step_ms):
                    box = self.sandbox(db_type)
                    patch = self.start(box)
                    time.sleep(delay_ms / 1000)
                    patch.send_signal(sig)
                    where = f"{db_type} {sig.name} after {delay_ms} ms"
                    endings[self.check(box, patch, sig, where)] += 1
        # The password tool's window, in small steps after it has started.
        for delay_ms in range(0, 400, 10):
            box = self.sandbox("Oracle")
            (box.root / "slow-zqpassword-l").touch()
            patch = self.start(box)
            deadline = time.monotonic() + 20
            while not (box.root / "started").exists() and time.monotonic() < deadline:
                time.sleep(0.001)
            time.sleep(delay_ms / 1000)
            patch.send_signal(signal.SIGTERM)
            where = f"zqpassword -l window, {delay_ms} ms in"
            endings[self.check(box, patch, signal.SIGTERM, where)] += 1
        # Inside each child wait: the tool hangs until the signal.
        for db_type, tool, option in (("Oracle", "zqpassword", "-e"),
                                      ("Oracle", "zqpassword", "-l"),
                                      ("SQLServer", "zqtool", "-r"),
                                      ("SQLServer", "zqtool", "-a")):
            box = self.sandbox(db_type)
            box.hang(tool, option)
            patch = self.start(box)
            hanging = box.hanging_tool()
            patch.send_signal(signal.SIGTERM)
            try:
                endings[self.check(box, patch, signal.SIGTERM, f"{tool} {option} hanging")] += 1
            finally:
                if tool == "zqtool":
                    os.kill(hanging, signal.SIGKILL)  # left running: it registers the tools
        print(f"\n{InterruptionSweep.runs} interrupted runs swept: {endings}", file=sys.stderr)
        self.assertGreater(endings["finished"], 0)
        self.assertGreater(endings["interrupted"], 0)


if __name__ == "__main__":
    unittest.main()
