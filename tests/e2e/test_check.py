"""qlxcheck natively over the stand-ins, in sandbox hosts: a healthy host
passes and is left byte for byte as it was, each problem the check exists
for fails its own row with a fix, a host the patch already ran on warns and
passes, and --after passes after a full run and fails after runs that did
not put the result in place."""

import json
import os
import signal
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from sandbox import ADDON_KEY, Sandbox, reg_string  # noqa: E402

BINARY = os.environ["QLX_BINARY"]
CHECK = str(Path(BINARY).parent / "qlxcheck")


def files_below(root):
    """Every file's bytes, but for what the fake tools record of their calls."""
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*"))
            if p.is_file() and not p.name.startswith("zqpassword.")}


# (what is wrong, how the host is made so, the row that must fail)
PROBLEMS = (
    ("ExtensionBase names no directory",
     lambda box: box.registry[ADDON_KEY].update(ExtensionBase=reg_string("/nonexistent")),
     "Directories"),
    ("no Build value", lambda box: box.registry[ADDON_KEY].pop("Build"), "Version values"),
    ("dbType in lower case", lambda box: setattr(box, "db_type", "oracle"), "Database kind"),
    ("no database settings", lambda box: (box.host / "config" / "database.props").unlink(),
     "Connection"),
    ("a database that cannot be opened",
     lambda box: box.odbc_dsns["sqloledb"].update(Database="/nonexistent/QLX_v3_0"), "Database"),
    ("no such service", lambda box: setattr(box, "services", {"Other": "running"}), "Service"),
    ("no new qlxtools.xml", lambda box: (box.work / "qlxtools.xml").unlink(), "Tool files"),
)


class Check(unittest.TestCase):
    def sandbox(self, db_type="SQLServer"):
        box = Sandbox(BINARY).use_sqlite()
        self.addCleanup(box.remove)
        box.db_type = db_type
        return box

    def check(self, box, *arguments):
        """The check's exit status and its rows, by name, from its JSON."""
        result = subprocess.run([CHECK, "--json", *arguments], cwd=box.work, env=box.environment(),
                                capture_output=True, timeout=120)
        self.assertNotIn(b"tiger", result.stdout + result.stderr)  # the password
        document = json.loads(result.stdout)
        self.assertEqual(document["status"], result.returncode)
        return result.returncode, {row["name"]: row for row in document["rows"]}

    def test_a_healthy_host_passes_and_is_left_as_it_was(self):
        for db_type in ("SQLServer", "Oracle"):
            with self.subTest(db_type):
                box = self.sandbox(db_type)
                box.lay_out()
                before = files_below(box.root)
                status, rows = self.check(box)
                self.assertEqual(status, 0, rows)
                self.assertEqual(rows["Database kind"]["found"],
                                 f"dbType={db_type}: the patch connects to "
                                 f"{'Oracle' if db_type == 'Oracle' else 'SQL Server'}")
                self.assertEqual(files_below(box.root), before)
                table = subprocess.run([CHECK], cwd=box.work, env=box.environment(),
                                       capture_output=True, text=True, timeout=120).stdout
                self.assertRegex(table, r"(?m)^OK   Connection       Provider=")

    def test_each_problem_fails_its_row(self):
        for what, make, row in PROBLEMS:
            with self.subTest(what):
                box = self.sandbox()
                make(box)
                box.lay_out()
                status, rows = self.check(box)
                self.assertEqual(status, 1, rows)
                self.assertEqual(rows[row]["status"], "FAIL", rows[row])
                self.assertTrue(rows[row]["fix"])

    def test_a_patched_host_warns_and_passes(self):
        box = self.sandbox()
        box.run()
        status, rows = self.check(box)
        self.assertEqual(status, 0, rows)
        self.assertEqual((rows["Version values"]["status"], rows["Models"]["status"]),
                         ("WARN", "WARN"))

    def test_after_a_run_that_put_the_result_in_place_and_runs_that_did_not(self):
        box = self.sandbox()
        box.run()
        self.assertEqual(self.check(box, "--after")[0], 0)

        read_only = self.sandbox()
        read_only.lay_out()
        (read_only.root / "registry.reg").chmod(0o444)
        unreachable = self.sandbox()
        unreachable.odbc_dsns["sqloledb"]["Database"] = "/nonexistent/QLX_v3_0"
        interrupted = self.sandbox("Oracle")
        interrupted.hang("zqpassword", "-l")
        for box, row in ((read_only, "Version values"), (unreachable, "Models"),
                         (interrupted, "Last run")):
            with self.subTest(row):
                if box is interrupted:
                    patch = box.start()
                    box.hanging_tool()
                    patch.send_signal(signal.SIGTERM)
                    patch.wait(timeout=60)
                    (box.root / "hang-zqpassword-l").unlink()
                else:
                    box.run(laid_out=box is read_only)
                status, rows = self.check(box, "--after")
                self.assertEqual((status, rows[row]["status"]), (1, "FAIL"), rows)


if __name__ == "__main__":
    unittest.main()
