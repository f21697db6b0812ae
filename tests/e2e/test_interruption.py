"""The native program interrupted by signals, at chosen points of a run.

A table of targeted points: a signal before and during whole runs, and one
or two while each host tool waits. The core's sweep covers every step
boundary; here the real signal thread, process groups and files show that
each run ends one of two ways, with the service running in both: finished
(exit 0, no interruption entry), or interrupted (killed by the first signal,
the log kept to its line grammar with the interruption's entry on a line of
its own and nothing after it but the clean-up's entries, every removal of
the tools followed by their addition unless a second signal abandoned it, no
password file, nothing else left).
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

# Every line of a log is one of these.
LINE = re.compile(
    r"((Stopping QLX service|Updating QLX version|Starting QLX service)\.\.\.)?"
    r"(Successfully|Failed|[A-Za-z]+ failed with error -?[0-9]+: [^\n]*\r)"
    r"|Updating QLX database\.\.\.|Starting updation\.\.\.|Failed to open database connection"
    r"|QLX database updation completed||[A-Za-z]+ - [^\n]*|[A-Za-z]+ failed\."
    r"|(Error|Message|Description|Query) = [^\n]*")
# What may follow the interruption's entry.
CLEAN_UP = re.compile(
    r"(QLXPatch - [^\n]* could not be deleted \([^\n]*\)\n"
    r"|Starting QLX service\.\.\.(Successfully|Failed|ServiceStart failed with error -?[0-9]+: "
    r"[^\n]*\r\n\nFailed)\n)*")
ABANDONED = "QLXPatch - Tool registration abandoned: the add-on's tools may be unregistered\n"
WAITING = b"qlxpatch: waiting for zqtool to finish the tool registration"

# What a run may add to the sandbox, besides the files it changes in place.
ALLOWED_NEW = {"work/QLX_patch.log", "zqtool.calls", "zqpassword.calls", "zqpassword.modes",
               "hanging.pid", "go", "tmp/null", "stdout", "stderr", "addon/Query_Timeout.txt",
               # The advisory lock of the export's rewrite stays, empty.
               "registry.reg.lock"}


def files_below(root):
    return {str(path.relative_to(root)) for path in root.rglob("*") if not path.is_dir()}


def gone(pid, timeout=5):
    """True once no process has the id (a killed child is reaped by init)."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            os.kill(pid, 0)
        except ProcessLookupError:
            return True
        time.sleep(0.05)
    return False


class InterruptionTable(unittest.TestCase):
    def sandbox(self, db_type):
        box = Sandbox(BINARY).use_sqlite()
        self.addCleanup(box.remove)
        box.db_type = db_type
        box.lay_out()
        box.before = files_below(box.root)
        return box

    def check(self, box, patch, signals, where):
        """The verdict on a run that got the signals; gives how it ended."""
        patch.wait(timeout=60)
        log = box.log() or ""
        entry = f"QLXPatch - Run interrupted ({signals[0].name})\n"
        for line in log.split("\n"):
            self.assertIsNotNone(LINE.fullmatch(line), f"{where}: {line!r}\n{log}")
        self.assertNotIn("error 1056", log, where)
        self.assertEqual(box.service_state(), "running", f"{where}\n{log}")
        self.assertEqual(sorted(box.root.rglob("pass*.txt")), [], where)
        self.assertLessEqual(files_below(box.root) - box.before, ALLOWED_NEW, where)
        calls = box.tool_calls("zqtool")
        for at, argument in enumerate(calls):
            if argument == "-r":
                self.assertTrue("-a" in calls[at:] or (len(signals) > 1 and ABANDONED in log),
                                f"{where}: -r without -a\n{log}")
        if patch.returncode == 0:
            self.assertNotIn(entry, log, where)
            self.assertTrue(log.endswith("QLX database updation completed\n\n"), where)
            return "finished"
        self.assertEqual(patch.returncode, -signals[0], f"{where}\n{log}")
        if log == "":
            return "killed before main"  # by the default action: nothing was done
        self.assertEqual(log.count(entry), 1, f"{where}\n{log}")
        at = log.index(entry)
        self.assertTrue(at == 0 or log[at - 1] == "\n", f"{where}: glued\n{log}")
        self.assertIsNotNone(CLEAN_UP.fullmatch(log[at + len(entry):]), f"{where}\n{log}")
        return "interrupted"

    def test_signals_during_whole_runs(self):
        endings = {"finished": 0, "interrupted": 0, "killed before main": 0}
        for db_type in ("SQLServer", "Oracle"):
            began = time.monotonic()
            self.sandbox(db_type).run(laid_out=True)
            whole_run_ms = int((time.monotonic() - began) * 1000)
            for sig, share in ((signal.SIGTERM, 0), (signal.SIGINT, 0.25), (signal.SIGHUP, 0.5),
                               (signal.SIGTERM, 0.75), (signal.SIGTERM, 1.2)):
                box = self.sandbox(db_type)
                patch = box.start()
                time.sleep(whole_run_ms * share / 1000)
                patch.send_signal(sig)
                endings[self.check(box, patch, [sig], f"{db_type} {sig.name} at {share}")] += 1
        print(f"\nrun endings: {endings}", file=sys.stderr)
        self.assertGreater(endings["interrupted"], 0)

    def test_signals_while_a_tool_waits(self):
        # (database, tool, option, how it waits, the signals, what the log ends with)
        started = "Starting QLX service...Successfully\n"
        interrupted = "QLXPatch - Run interrupted ({})\n"
        table = (
            ("Oracle", "zqpassword", "-e", "hang", [signal.SIGTERM], ""),
            ("Oracle", "zqpassword", "-l", "hang", [signal.SIGINT], ""),
            # The tool registration finishes first; its outcome is logged.
            ("SQLServer", "zqtool", "-r", "pause", [signal.SIGTERM],
             "Updating QLX version...Successfully\n"),
            # A second signal abandons it, and the tool is ended.
            ("SQLServer", "zqtool", "-r", "hang", [signal.SIGTERM, signal.SIGINT],
             "Updating QLX version...Failed\n" + ABANDONED),
            ("Oracle", "zqtool", "-a", "hang", [signal.SIGHUP, signal.SIGHUP],
             "Updating QLX version...Failed\n" + ABANDONED),
        )
        for db_type, tool, option, how, signals, before in table:
            where = f"{tool} {option} ({how}), {' '.join(s.name for s in signals)}"
            with self.subTest(where):
                box = self.sandbox(db_type)
                box.hang(tool, option, how)
                box.before = files_below(box.root)
                patch = box.start()
                waiting = box.hanging_tool()
                for sig in signals:
                    patch.send_signal(sig)
                    time.sleep(0.2)
                if how == "pause":
                    self.assertEqual(patch.poll(), None, "the tool registration was cut")
                    (box.root / "go").touch()
                self.assertEqual(self.check(box, patch, signals, where), "interrupted")
                self.assertTrue(gone(waiting), f"{where}: the tool outlived the patch")
                expected = before + interrupted.format(signals[0].name) + started
                self.assertTrue(box.log().endswith(expected), f"{where}\n{box.log()}")
                self.assertEqual(WAITING in (box.root / "stderr").read_bytes(), tool == "zqtool")


if __name__ == "__main__":
    unittest.main()
