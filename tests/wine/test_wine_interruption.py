"""The 32-bit Windows program interrupted under Wine: a launcher shares the
patch's console and sends Ctrl+C to every process of it, or ends the session
as Wine does (wineboot --end-session: WM_QUERYENDSESSION and WM_ENDSESSION
to every top-level window, then the end of its process). Each run ends
interrupted: one interruption entry on a line of its own, the service as the
interruption leaves it (a logged 1056 does not count), and no password file
left. Wine 8 sends no CTRL_BREAK_EVENT (GenerateConsoleCtrlEvent fails with
error 6, to a group or to all), so Ctrl+Break is left to the core's sweep,
where it is taken as Ctrl+C is.
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

    def interrupt(self, event, trigger, **extra_env):
        """Lays out the host, runs the patch under the launcher, and sends the
        event once the trigger is there."""
        self.host.lay_out()
        copy = self.prefix.unix_path(PATCH_COPY)
        copy.parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(PATCH, copy)
        return self.prefix.run(LAUNCHER, event, trigger, PATCH_COPY,
                               cwd=self.prefix.unix_path(self.host.work_dir),
                               extra_env={"WINEPATH": self.host.tools_dir, **extra_env},
                               timeout=150)

    def assertInterrupted(self, result, what, service="RUNNING", exit_code=STATUS_CONTROL_C_EXIT):
        log = (self.host.log() or b"").decode("latin-1")
        self.assertNotEqual(result.returncode, EVENT_NOT_SENT,
                            "the console event could not be sent: "
                            + result.stderr.decode("latin-1")[-200:])
        # The program ends itself as Windows ends a process that a Ctrl+C
        # ended; a process that the session's end ends has what that gives.
        found = re.search(rb"exit code 0x([0-9A-F]{8})", result.stdout)
        self.assertIsNotNone(found, result.stdout)
        self.assertEqual(int(found.group(1), 16), exit_code, log)
        entry = f"QLXPatch - Run interrupted ({what})\r\n"
        self.assertEqual(log.count(entry), 1, log)
        self.assertEqual(log[log.index(entry) - 2:log.index(entry)], "\r\n", log)
        self.assertNotIn("error 1056", log)
        self.assertEqual(self.host.wait_for_service_state(service, 40), service, log)
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


    def test_ctrl_c_during_the_tool_removal_lets_the_registration_finish(self):
        tools = self.prefix.unix_path(self.host.tools_dir)
        tools.mkdir(parents=True, exist_ok=True)
        (tools / "zqtool-r.sleep").write_text("3000")
        result = self.interrupt("ctrl-c", rf"{self.host.tools_dir}\zqtool-r.hanging")
        log = self.assertInterrupted(result, "Ctrl+C")
        self.assertTrue(log.endswith("Updating QLX version...Successfully\r\n"
                                     "QLXPatch - Run interrupted (Ctrl+C)\r\n"
                                     "Starting QLX service...Successfully\r\n"), log)
        self.assertEqual([call.split()[1] for call in self.host.tool_calls("zqtool")],
                         ["-r", "-a"])
        self.assertEqual(self.host.file_bytes(rf"{self.host.host_dir}\Tools\qlxtools.xml"),
                         self.host.work_files["qlxtools.xml"])

    def test_a_session_that_ends_during_a_database_call_that_hangs(self):
        # The program's thread cannot leave the call: the handler of the
        # hidden window cleans up itself within its budget, and Wine ends a
        # session as a shutdown, when no start is made.
        leftover = rf"{self.host.addon_dir}\pass2.txt"
        self.host.write(leftover, b"secret\r\n")
        result = self.interrupt("end-session", rf"{self.host.database_record}.hanging",
                                QLX_ADO_RECORD=self.host.database_record, QLX_ADO_HANG="Execute")
        log = self.assertInterrupted(result, "shutdown", service="STOPPED", exit_code=0)
        self.assertTrue(log.endswith("Starting updation...\r\n"
                                     "QLXPatch - Run interrupted (shutdown)\r\n"
                                     "QLXPatch - Service left to its start type: the system is "
                                     "shutting down\r\n"), log)
        self.assertIsNone(self.host.file_bytes(leftover))


if __name__ == "__main__":
    unittest.main()
