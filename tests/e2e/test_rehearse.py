"""scripts/rehearse on what an administrator brings from a 64-bit server: a
UTF-16 export whose keys lie under WOW6432Node, with paths on drive C, and a
copy of the drive whose directory names differ in letter case."""

import hashlib
import os
import re
import shutil
import subprocess
import tempfile
import unittest
from pathlib import Path

BINARY = os.environ["QLX_BINARY"]
REHEARSE = Path(__file__).resolve().parents[2] / "scripts" / "rehearse"
WOW = r"HKEY_LOCAL_MACHINE\SOFTWARE\WOW6432Node"


def export_from_64_bit_server(path):
    lines = ["Windows Registry Editor Version 5.00", "",
             rf"[{WOW}\Orvanta\Vantline\Settings]",
             r'"InstallPath"="C:\\Program Files (x86)\\Orvanta\\Vantline"', "",
             rf"[{WOW}\OV\Quellmark]",
             r'"ExtensionBase"="C:\\Program Files (x86)\\OV\\Quellmark"',
             '"Build"="4.2.0.1234"', '"Version"="4.2.0"', "",
             rf"[{WOW}\Microsoft\Windows\CurrentVersion\Uninstall\OV Quellmark_is1]",
             '"DisplayVersion"="4.2.0"', ""]
    path.write_bytes(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))


def copy_of_drive_c(drive, canary):
    """The host's and the add-on's directories, spelt as a copy made on Linux
    may spell them, with a program the rehearsal must never run."""
    host = drive / "PROGRAM FILES (X86)" / "orvanta" / "VANTLINE"
    addon = drive / "PROGRAM FILES (X86)" / "ov" / "QUELLMARK"
    files = {
        host / "config" / "globalsettings.props": b"dbType=SQLServer\r\n",
        host / "config" / "database.props": b"ov.Database.hostName=DBSRV\r\nov.Database.portNumber=1433\r\n",
        host / "Tools" / "qlxtools.xml": b"<tools version='4.2'/>\r\n",
        host / "Tools" / "zqtool": f"#!/bin/sh\ntouch {canary}\n".encode(),
        addon / "qlxdatabase.props": b"qlx.Database.username=scott\r\n",
    }
    for path, data in files.items():
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    (host / "Tools" / "zqtool").chmod(0o755)


def inputs_as_they_are(root):
    """Every input file's content and mode, the rehearsal's output aside."""
    return {str(p.relative_to(root)): (hashlib.sha256(p.read_bytes()).hexdigest(), p.stat().st_mode)
            for p in sorted(root.rglob("*")) if p.is_file() and p.relative_to(root).parts[0] != "out"}


class Rehearsal(unittest.TestCase):
    def test_a_64_bit_server_export_with_a_differently_cased_copy(self):
        inputs = Path(tempfile.mkdtemp(prefix="qlx-rehearse-test-"))
        self.addCleanup(shutil.rmtree, inputs, True)
        canary = inputs / "RAN"
        export_from_64_bit_server(inputs / "server.reg")
        copy_of_drive_c(inputs / "c", canary)
        (inputs / "qlxtools.xml").write_bytes(b"<tools version='4.3.1'/>\r\n")
        (inputs / "out").mkdir()
        untouched = inputs_as_they_are(inputs)

        result = subprocess.run(
            [str(REHEARSE), "--binary", BINARY, "--into", str(inputs / "out"), "--tools",
             str(inputs / "qlxtools.xml"), "--drive", f"C={inputs / 'c'}", str(inputs / "server.reg")],
            capture_output=True, text=True, timeout=300)
        report = result.stdout
        self.assertEqual(result.returncode, 0, report + result.stderr)

        (work,) = (path.resolve() for path in (inputs / "out").iterdir())
        self.assertEqual(work.stat().st_mode & 0o777, 0o700)
        self.assertIn(f"Working copy (left in place): {work}", report)
        self.assertEqual(inputs_as_they_are(inputs), untouched)
        self.assertFalse(canary.exists())

        for key, name, before in ((r"OV\Quellmark", "Build", "4.2.0.1234"),
                                  (r"OV\Quellmark", "Version", "4.2.0"),
                                  (r"Microsoft\Windows\CurrentVersion\Uninstall\OV Quellmark_is1",
                                   "DisplayVersion", "4.2.0")):
            self.assertRegex(report, re.compile(
                rf'"{name}" \(SOFTWARE\\WOW6432Node\\{re.escape(key)} in 1-server\.reg, REG_SZ\): '
                rf'"{re.escape(before)}" -> "4\.3\.1"  written', re.IGNORECASE))
        self.assertRegex(report, re.compile(
            r'Settings "InstallPath" -> SOFTWARE\\WOW6432Node\\Orvanta\\Vantline\\Settings in '
            r'1-server\.reg: REG_SZ "C:\\Program Files \(x86\)\\Orvanta\\Vantline"', re.IGNORECASE))
        installed = work / "drives" / "c" / "PROGRAM FILES (X86)" / "orvanta" / "VANTLINE" / "Tools"
        self.assertEqual((installed / "qlxtools.xml").read_bytes(), b"<tools version='4.3.1'/>\r\n")
        self.assertIn(r"Quellmark\Query_Timeout.txt  created", report)
        self.assertIn(f'zqtool -r -f "{installed / "qlxtools.xml"}"  -> exit 0', report)
        self.assertIn("('TX540A1', 'TX540A1x', 2, 1)\n  ('TX520A1', 'TX520A1x', 2, 1)", report)
        self.assertIn("OV Quellmark: stop: running -> stopped", report)
        self.assertIn("OV Quellmark: start: stopped -> running", report)

        verdict = report[report.index("== Verdict ==\n"):]
        self.assertIn("Every step succeeded", verdict)
        self.assertNotIn("Worth a look", verdict)
        for unchecked in ("elevation", "the real service manager", "the OLE DB providers",
                          "the database logon", "the password store"):
            self.assertIn(f"  - {unchecked}", verdict)


if __name__ == "__main__":
    unittest.main()
