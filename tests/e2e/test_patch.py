"""The native program, run once in a sandbox host, judged by what it leaves."""

import os
import re
import resource
import signal
import stat
import subprocess
import sys
import threading
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from expected_log import FIRST, ORACLE_PARAMETERS, SECOND, SUCCESSFUL_RUN  # noqa: E402
from sandbox import Sandbox  # noqa: E402

BINARY = os.environ["QLX_BINARY"]

NOT_STARTED = "The service has not been started.\r\n"
NO_SERVICE = "The specified service does not exist as an installed service.\r\n"


def readme_odbc_example():
    """The odbc.ini example of the stand-ins' description, as an administrator
    would copy it: the indented lines from its "# odbc.ini" comment on."""
    readme = (Path(__file__).parents[2] / "docs" / "stand-ins.md").read_text()
    start = readme.index("    # odbc.ini (")
    lines = []
    for line in readme[start:].splitlines():
        if line and not line.startswith("    "):
            break
        lines.append(line[4:])
    return "\n".join(lines).strip() + "\n"


def duplicate_entry(statement):
    return ("ExecuteQuery failed.\n"
            "Error = 47\n"
            "Message = IDispatch error #3119\n"
            "Description = [SQLite]UNIQUE constraint failed: Supported_Servers.Model_Name (19)\n"
            f"Query = {statement}\n")


class PatchTestCase(unittest.TestCase):
    def setUp(self):
        self.box = Sandbox(BINARY).use_sqlite()
        self.addCleanup(self.box.remove)

    def run_patch(self, *arguments):
        result = self.box.run(*arguments)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result

    def assertLog(self, expected):
        self.maxDiff = None
        self.assertEqual(self.box.log(), expected)

    def assertVersion(self, version):
        text = self.box.registry_text()
        for name in ("Build", "Version", "DisplayVersion"):
            self.assertIn(f'"{name}"="{version}"', text)

    def assertVersionUnchanged(self):
        text = self.box.registry_text()
        for name, old in (("Build", "4.2.0.1234"), ("Version", "4.2.0"), ("DisplayVersion", "4.2.0")):
            self.assertIn(f'"{name}"="{old}"', text)


class FullRun(PatchTestCase):
    def test_every_step_succeeds(self):
        result = self.run_patch()
        self.assertLog(SUCCESSFUL_RUN)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(self.box.rows(), [("TX540A1", "TX540A1x", 2, 1),
                                           ("TX520A1", "TX520A1x", 2, 1)])
        self.assertVersion("4.3.1")
        self.assertEqual(self.box.service_state(), "running")
        installed = str(self.box.host / "Tools" / "qlxtools.xml")
        self.assertEqual(self.box.tool_calls("zqtool"), ["-r", "-f", installed, "-a", "-f", installed])
        self.assertEqual((self.box.host / "Tools" / "qlxtools.xml").read_bytes(),
                         (self.box.work / "qlxtools.xml").read_bytes())
        self.assertEqual((self.box.temp / "null").read_text(), "zqtool output -a\n")
        self.assertEqual((self.box.addon / "Query_Timeout.txt").read_bytes(),
                         b"Query_Timeout_Value=60")

    def test_a_second_run_logs_the_duplicate_rows_and_still_updates(self):
        self.run_patch()
        self.box.registry[r"HKEY_LOCAL_MACHINE\SOFTWARE\OV\Quellmark"]["Build"] = '"4.2.0.1234"'
        self.run_patch()
        second = ("Updating QLX database...\n"
                  "Stopping QLX service...Successfully\n"
                  "Starting updation...\n"
                  + duplicate_entry(FIRST) + "Failed\n"
                  + duplicate_entry(SECOND) + "Failed\n"
                  "Updating QLX version...Successfully\n"
                  "Starting QLX service...Successfully\n"
                  "QLX database updation completed\n\n")
        self.assertLog(SUCCESSFUL_RUN + second)
        self.assertVersion("4.3.1")
        self.assertEqual(len(self.box.rows()), 2)

    def test_a_host_directory_outside_ascii_in_either_export(self):
        for encoding in ("ansi", "utf16"):
            with self.subTest(encoding):
                box = Sandbox(BINARY, host_name="\u00dcberwachung Vantline").use_sqlite()
                self.addCleanup(box.remove)
                box.export_encoding = encoding
                result = box.run()
                self.assertEqual(result.stdout, b"")
                self.assertEqual(box.log(), SUCCESSFUL_RUN)
                installed = str(box.host / "Tools" / "qlxtools.xml")
                self.assertEqual(box.tool_calls("zqtool"),
                                 ["-r", "-f", installed, "-a", "-f", installed])

    def test_arguments_make_no_difference(self):
        self.run_patch("/quiet", "--help")
        self.assertLog(SUCCESSFUL_RUN)


# The forms a log entry takes; a log on a full disk is a sequence of whole ones.
ENTRY = re.compile(
    r"Updating QLX database\.\.\.\n|Stopping QLX service\.\.\.|Starting updation\.\.\.\n"
    r"|Updating QLX version\.\.\.|Starting QLX service\.\.\.|Successfully\n|Failed\n"
    r"|Failed to open database connection\n|QLX database updation completed\n\n"
    r"|[A-Za-z]+ - [^\n]*\n"
    r"|[A-Za-z]+ failed with error -?[0-9]+: [^\n]*\r\n\n"
    r"|[A-Za-z]+ failed\.\nError = -?[0-9]+\nMessage = [^\n]*\nDescription = [^\n]*\n"
    r"(Query = [^\n]*\n)?")


def whole(log):
    at = 0
    while at < len(log):
        match = ENTRY.match(log, at)
        if not match:
            return False
        at = match.end()
    return True


class ServiceStates(PatchTestCase):
    def test_a_stopped_service_is_reported_and_started(self):
        self.box.services["OV Quellmark"] = "stopped"
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace(
            "Stopping QLX service...Successfully\n",
            f"Stopping QLX service...ServiceStop failed with error 1062: {NOT_STARTED}\nFailed\n"))
        self.assertEqual(self.box.service_state(), "running")

    def test_a_missing_service_fails_both_requests(self):
        self.box.services = {"Other": "running"}
        self.run_patch()
        expected = SUCCESSFUL_RUN.replace(
            "Stopping QLX service...Successfully\n",
            f"Stopping QLX service...ServiceStop failed with error 1060: {NO_SERVICE}\nFailed\n")
        expected = expected.replace(
            "Starting QLX service...Successfully\n",
            f"Starting QLX service...ServiceStart failed with error 1060: {NO_SERVICE}\nFailed\n")
        self.assertLog(expected)


class Configuration(PatchTestCase):
    def test_the_readme_odbc_example_works_as_written(self):
        # Its directory becomes the sandbox's; the current directory gets no
        # catalogue file of its own, for SQL Server nor for Oracle.
        for db_type, log in (("SQLServer", SUCCESSFUL_RUN),
                             ("Oracle", SUCCESSFUL_RUN.replace(
                                 "Starting updation", ORACLE_PARAMETERS + "Starting updation"))):
            with self.subTest(db_type):
                self.box = Sandbox(BINARY).use_sqlite()
                self.addCleanup(self.box.remove)
                self.box.db_type = db_type
                example = readme_odbc_example().replace("/srv/qlx", str(self.box.root))
                self.assertIn(f"ODBCINI={self.box.root}/odbc.ini", example)
                self.box.odbc_ini = example
                self.box.sqlite = self.box.sqlite.rename(self.box.root / "QLX_v3_0")
                self.run_patch()
                self.assertLog(log)
                self.assertEqual(len(self.box.rows()), 2)
                self.assertEqual(sorted(p.name for p in self.box.work.iterdir()),
                                 ["QLX_patch.log", "qlxtools.xml"])

    def test_missing_global_settings_name_their_path_once_on_standard_error(self):
        self.box.db_type = None
        result = self.run_patch()
        written = str(self.box.host) + "\\config\\globalsettings.props"
        self.assertEqual(result.stdout, f"Error in opening the file: {written}\n".encode())
        self.assertEqual(result.stderr, (
            f"qlxpatch: cannot open {self.box.host}/config/globalsettings.props, "
            "so the database is taken to be SQL Server\n").encode())
        self.assertLog(SUCCESSFUL_RUN)

    def test_a_missing_database_settings_file_aborts_only_the_connection(self):
        (self.box.host / "config" / "database.props").unlink()
        self.run_patch()
        self.assertLog("Updating QLX database...\n"
                       "Stopping QLX service...Successfully\n"
                       "KTRDatabaseInterface - OpenGlobalConnection aborted (code 5, error 2)\n"
                       "Failed to open database connection\n"
                       "Starting QLX service...Successfully\n"
                       "QLX database updation completed\n\n")
        self.assertVersionUnchanged()
        self.assertEqual(self.box.service_state(), "running")

    def test_the_oracle_path_fetches_the_password_and_leaves_no_password_file(self):
        self.box.db_type = "Oracle"
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Starting updation",
                                              ORACLE_PARAMETERS + "Starting updation"))
        hostname = os.uname().nodename
        self.assertEqual(self.box.tool_calls("zqpassword"),
                         [f"-e {hostname}", f"-l -x ZqQLXPassword -k KEY-{hostname}"])
        self.assertEqual(sorted(p.name for p in self.box.addon.iterdir()),
                         ["Query_Timeout.txt", "qlxdatabase.props"])
        self.assertEqual(len(self.box.rows()), 2)

    def test_texts_a_shell_would_act_on_reach_the_tools_as_written(self):
        # As Windows' cmd, the interpreter stand-in gives "$", backquotes and
        # "#" no meaning, in the host directory and in the password key.
        self.box = Sandbox(BINARY, host_name="vant$HOME `touch PWNED` #x").use_sqlite()
        self.addCleanup(self.box.remove)
        self.box.db_type = "Oracle"
        self.box.key_prefix = "#"
        result = self.run_patch()
        self.assertEqual((result.stdout, result.stderr), (b"", b""))
        self.assertLog(SUCCESSFUL_RUN.replace("Starting updation",
                                              ORACLE_PARAMETERS + "Starting updation"))
        hostname = os.uname().nodename
        self.assertEqual(self.box.tool_calls("zqpassword"),
                         [f"-e {hostname}", f"-l -x ZqQLXPassword -k #KEY-{hostname}"])
        self.assertEqual(self.box.password_file_modes(), ["600", "600"])
        installed = str(self.box.host / "Tools" / "qlxtools.xml")
        self.assertEqual(self.box.tool_calls("zqtool"), ["-r", "-f", installed, "-a", "-f", installed])
        self.assertEqual(list(self.box.root.rglob("PWNED")), [])

    def test_the_version_step_fails_without_a_build_value(self):
        del self.box.registry[r"HKEY_LOCAL_MACHINE\SOFTWARE\OV\Quellmark"]["Build"]
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Updating QLX version...Successfully",
                                              "Updating QLX version...Failed"))
        self.assertIn('"Version"="4.2.0"', self.box.registry_text())
        self.assertEqual(self.box.tool_calls("zqtool"), [])

    def test_a_failing_tool_removal_fails_the_version_step(self):
        self.box.zqtool_exit = 1
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Updating QLX version...Successfully",
                                              "Updating QLX version...Failed"))
        self.assertEqual(len(self.box.tool_calls("zqtool")), 3)  # -r -f path, no add
        self.assertEqual((self.box.host / "Tools" / "qlxtools.xml").read_text(),
                         "<tools version='4.2'/>\n")

    def test_an_unwritable_log_leaves_the_work_done(self):
        (self.box.work / "QLX_patch.log").mkdir()
        self.run_patch()
        self.assertVersion("4.3.1")
        self.assertEqual(len(self.box.rows()), 2)
        self.assertEqual(self.box.service_state(), "running")


class DatabaseFailures(PatchTestCase):
    def open_failed(self, description):
        return ("KTRDatabaseInterface - OpenGlobalConnection failed\n"
                "OpenGlocalConnection failed.\n"
                "Error = 5\n"
                "Message = Unspecified error\n"
                f"Description = {description}\n"
                "Failed to open database connection\n")

    def test_a_data_source_that_does_not_exist(self):
        self.box.odbc_dsns.pop("sqloledb")
        result = self.run_patch()
        self.assertEqual(result.stderr, (
            'qlxpatch: no ODBC data source "sqloledb" in odbc.ini '
            f"(ODBCINI={self.box.root}/odbc.ini, ODBCSYSINI not set)\n").encode())
        log = self.box.log()
        self.assertIn("KTRDatabaseInterface - OpenGlobalConnection failed\n"
                      "OpenGlocalConnection failed.\nError = 5\nMessage = Unspecified error\n"
                      "Description = ", log)
        self.assertIn("Data source name not found", log)
        self.assertTrue(log.endswith("Failed to open database connection\n"
                                     "Starting QLX service...Successfully\n"
                                     "QLX database updation completed\n\n"))
        self.assertVersionUnchanged()

    def test_a_table_that_does_not_exist(self):
        import sqlite3
        with sqlite3.connect(self.box.sqlite) as db:
            db.execute("DROP TABLE Supported_Servers")
        self.run_patch()
        entry = ("ExecuteQuery failed.\nError = 20\nMessage = IDispatch error #3092\n"
                 "Description = [SQLite]no such table: Supported_Servers (1)\nQuery = ")
        self.assertLog(SUCCESSFUL_RUN.replace(
            "Starting updation...\nSuccessfully\nSuccessfully\n",
            f"Starting updation...\n{entry}{FIRST}\nFailed\n{entry}{SECOND}\nFailed\n"))


class Surroundings(PatchTestCase):
    """Hostile surroundings, one table row each. Every run is bounded: a run
    that blocks fails its row by the time-out instead of hanging the suite."""

    RUN_LIMIT = 60

    def laid_out_box(self):
        box = Sandbox(BINARY).use_sqlite()
        self.addCleanup(box.remove)
        box.lay_out()
        return box

    def test_a_fifo_in_the_place_of_each_input_is_refused_without_blocking(self):
        rows = (("registry.reg", "OpenGlobalConnection aborted (code 5, error 3)\n"),
                ("services", "ServiceStop failed with error 5: Access is denied.\r\n"),
                ("host dir/config/database.props", "OpenGlobalConnection aborted (code 5, error 5)\n"),
                ("work/qlxtools.xml", "RefreshToolRegistration failed with error 5: "))
        for name, entry in rows:
            with self.subTest(name):
                box = self.laid_out_box()
                fifo = box.root / name
                fifo.unlink()
                os.mkfifo(fifo)
                result = box.run(laid_out=True, timeout=self.RUN_LIMIT)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertIn(entry, box.log())
                self.assertTrue(box.log().endswith("QLX database updation completed\n\n"))
                self.assertTrue(stat.S_ISFIFO(fifo.lstat().st_mode))
                if name != "services":
                    self.assertEqual(box.service_state(), "running")

    def test_a_closed_stdout_and_stderr_fail_the_writes_not_the_run(self):
        box = self.laid_out_box()
        (box.bin / "zqtool").unlink()  # the interpreter says so on stderr
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            result = box.run(laid_out=True, timeout=self.RUN_LIMIT, stdout=write_end,
                             stderr=write_end)
        finally:
            os.close(write_end)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(box.log(), SUCCESSFUL_RUN.replace("Updating QLX version...Successfully",
                                                           "Updating QLX version...Failed"))
        self.assertEqual(box.service_state(), "running")

    def test_a_tmpdir_others_may_change_is_not_where_the_tools_run(self):
        # "shared": a stand-in for TMPDIR=/tmp; the tools then run in its
        # qlxpatch-<uid>. "another user's": the tools run in /tmp/qlxpatch-<uid>.
        for what, mode, owner in (("shared", 0o1777, None), ("another user's", 0o755, 65534)):
            with self.subTest(what):
                box = self.laid_out_box()
                box.temp = box.root / "shared tmp"
                box.temp.mkdir()
                planted = box.temp / "zqtool"
                box.write(planted, f"#!/bin/sh\ntouch '{box.root}/PLANTED'\n")
                planted.chmod(0o755)
                victim = box.root / "victim"
                box.write(victim, "kept\n")
                (box.temp / "null").symlink_to(victim)
                box.temp.chmod(mode)
                if owner is not None:
                    os.chown(box.temp, owner, -1)
                result = box.run(laid_out=True, timeout=self.RUN_LIMIT)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(box.log(), SUCCESSFUL_RUN)
                self.assertFalse((box.root / "PLANTED").exists())
                self.assertEqual(victim.read_text(), "kept\n")
                self.assertEqual(box.tool_calls("zqtool")[::3], ["-r", "-a"])
                if owner is None:
                    own = box.temp / f"qlxpatch-{os.geteuid()}"
                    self.assertEqual(stat.S_IMODE(own.stat().st_mode), 0o700)
                    self.assertEqual((own / "null").read_text(), "zqtool output -a\n")

    def test_lines_another_program_appends_during_the_rewrites_are_kept(self):
        # The appender checks that the file it wrote to is still the one at
        # the path, and writes its line again if not, as a careful program
        # would; a line lost after that was lost to the patch.
        for name, line in (("services", "Other{}=running\n"), ("registry.reg", '"Extra{}"="x"\r\n')):
            for run in range(4):
                with self.subTest(name, run=run):
                    box = self.laid_out_box()
                    path = box.root / name
                    appended = self.append_during(path, line, lambda: box.run(
                        laid_out=True, timeout=self.RUN_LIMIT))
                    text = path.read_bytes().decode("latin-1")
                    self.assertGreater(len(appended), 0)
                    self.assertEqual([n for n in appended if line.format(n) not in text], [])
                    self.assertEqual(box.service_state(), "running")
                    if "Updating QLX version...Successfully" in box.log():
                        self.assertIn('"DisplayVersion"="4.3.1"', box.registry_text())

    @staticmethod
    def append_during(path, line, run):
        stop = threading.Event()
        appended = []

        def append():
            number = 0
            while not stop.is_set():
                fd = os.open(path, os.O_WRONLY | os.O_APPEND)
                try:
                    os.write(fd, line.format(number).encode("latin-1"))
                    if os.fstat(fd).st_ino != os.stat(path).st_ino:
                        continue  # renamed over meanwhile: write it again
                finally:
                    os.close(fd)
                appended.append(number)
                number += 1
                time.sleep(0.002)

        appender = threading.Thread(target=append)
        appender.start()
        try:
            run()
        finally:
            stop.set()
            appender.join()
        return appended

    def test_planted_pass_files_never_receive_the_password(self):
        for name in ("pass1.txt", "pass2.txt"):
            with self.subTest(link=name):
                box = Sandbox(BINARY).use_sqlite()
                self.addCleanup(box.remove)
                box.db_type = "Oracle"
                target = box.root / "target"
                target.write_text("untouched\n")
                target.chmod(0o644)
                (box.addon / name).symlink_to(target)
                result = box.run()
                self.assertEqual(result.returncode, 0)
                self.assertEqual(target.read_text(), "untouched\n")
                self.assertEqual(sorted(box.addon.glob("pass*.txt")), [])
                self.assertEqual(box.password_file_modes(), ["600"] * 2)
                self.assertIn("password extracted", box.log())

    def test_a_log_on_a_full_file_system_holds_whole_entries_only(self):
        box = Sandbox(BINARY).use_sqlite()
        self.addCleanup(box.remove)
        # The file size limit stands in for a full disk; the log starts
        # close to it, so that entries stop fitting midway.
        prefix = "x" * 4000 + "\n"
        Sandbox.write(box.work / "QLX_patch.log", prefix)
        for room in range(10, 140, 7):
            with self.subTest(room=room):
                Sandbox.write(box.work / "QLX_patch.log", prefix)
                limit = len(prefix) + room

                def limited():
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                    resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

                box.lay_out()
                result = subprocess.run([box.binary], cwd=box.work, env=box.environment(),
                                        capture_output=True, timeout=60, preexec_fn=limited)
                self.assertEqual(result.returncode, 0)
                log = box.log()
                self.assertTrue(log.startswith(prefix))
                self.assertTrue(whole(log[len(prefix):]), log[len(prefix):])


if __name__ == "__main__":
    unittest.main()
