"""The 32-bit Windows program interrupted under Wine, from its console: a
launcher shares the patch's console and sends Ctrl+C to every process of it.
Each run ends interrupted: one interruption entry, the service running (a
logged 1056 does not count), and no password file left. Wine 8 sends no
CTRL_BREAK_EVENT (GenerateConsoleCtrlEvent fails with error 6, to a group or
to all), so Ctrl+Break is left to the core's interruption sweep, where the
handler takes it as it takes Ctrl+C.
"""

import os
import re
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from wine_host import Host, WinePrefix  # noqa: E402

PATCH = os.environ["QLX_PATCH"]
LAUNCHER = os.environ["QLX_LAUNCHER"]
FAKE_TOOL = os.environ["QLX_FAKE_TOOL"]
TEST_SERVICE = os.environ["QLX_TEST_SERVICE"]
ADO_PROVIDER = os.environ["QLX_ADO_PROVIDER"]
WINE_DIR = os.environ["QLX_WINE_DIR"]

PATCH_COPY = r"C:\PatchProgram\qlxpatch.exe"
STATUS_CONTROL_C_EXIT = 0xC000013A
# The launcher's exit code when the system refused to send the event.
EVENT_NOT_SENT = 4


class Interruptions(unittest.TestCase):
    def setUp(self):
        self.prefix = WinePrefix(WINE_DIR)
        self.addCleanup(self.prefix.stop)
        self.host = Host(self.prefix, FAKE_TOOL, TEST_SERVICE, ADO_PROVIDER)

    def interrupt(self, event, trigger):
        """Lays out the host, runs the patch under the launcher, and sends the
        event once the trigger file exists."""
        self.host.lay_out()
        copy = self.prefix.unix_path(PATCH_COPY)
        copy.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(PATCH, copy)
        return self.prefix.run(LAUNCHER, event, trigger, PATCH_COPY,
                               cwd=self.prefix.unix_path(self.host.work_dir),
                               extra_env={"WINEPATH": self.host.tools_dir}, timeout=150)

    def assertInterrupted(self, result, what):
        log = (self.host.log() or b"").decode("latin-1")
        self.assertNotEqual(result.returncode, EVENT_NOT_SENT,
                            "the console event could not be sent: "
                            + result.stderr.decode("latin-1")[-200:])
        # Windows ends an interrupted process with STATUS_CONTROL_C_EXIT; the
        # default handler of Wine 8 ends it with 0.
        exit_code = re.search(rb"exit code 0x([0-9A-F]{8})", result.stdout)
        self.assertIsNotNone(exit_code, result.stdout)
        self.assertIn(int(exit_code.group(1), 16), (STATUS_CONTROL_C_EXIT, 0), log)
        self.assertEqual(log.count(f"QLXPatch - Run interrupted ({what})\r\n"), 1, log)
        self.assertNotIn("error 1056", log)
        self.assertEqual(self.host.wait_for_service_state("RUNNING", 40), "RUNNING", log)
        addon = self.prefix.unix_path(self.host.addon_dir)
        self.assertEqual(sorted(p.name for p in addon.glob("pass*.txt")), [], log)
        return log

    def test_ctrl_c_while_the_password_tool_hangs_holding_its_output(self):
        self.host.db_type = "Oracle"
        tools = self.prefix.unix_path(self.host.tools_dir)
        tools.mkdir(parents=True, exist_ok=True)
        (tools / "zqpassword-l.hang").write_bytes(b"")
        result = self.interrupt("ctrl-c", rf"{self.host.tools_dir}\zqpassword-l.hanging")
        log = self.assertInterrupted(result, "Ctrl+C")
        self.assertTrue(log.endswith("QLXPatch - Run interrupted (Ctrl+C)\r\n"
                                     "Starting QLX service...Successfully\r\n"), log)

    def test_ctrl_c_during_a_slow_stop(self):
        # Longer than the 3 s an interruption used to wait.
        self.host.service_stop_delay_ms = 6000
        self.host.db_type = "Oracle"
        result = self.interrupt("ctrl-c", rf"{self.host.tools_dir}\zqpassword.calls")
        self.assertInterrupted(result, "Ctrl+C")


if __name__ == "__main__":
    unittest.main()
