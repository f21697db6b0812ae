"""scripts/rehearse on what an administrator brings from a 64-bit server: a
UTF-16 export whose keys lie under WOW6432Node, with paths on drive C, and a
copy of the drive whose directory names differ in letter case; then small
copies, each with one fault of the copy or of the server."""

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
HOST = r"C:\Program Files (x86)\Orvanta\Vantline"
ADDON = r"C:\Program Files (x86)\OV\Quellmark"


def export_from_64_bit_server(path, host=HOST, addon=ADDON, root=WOW, uninstall=True):
    lines = ["Windows Registry Editor Version 5.00", "",
             rf"[{WOW}\Orvanta\Vantline\Settings]",
             '"InstallPath"="' + host.replace("\\", "\\\\") + '"', "",
             rf"[{root}\OV\Quellmark]",
             '"ExtensionBase"="' + addon.replace("\\", "\\\\") + '"',
             '"Build"="4.2.0.1234"', '"Version"="4.2.0"', ""]
    if uninstall:
        lines += [rf"[{WOW}\Microsoft\Windows\CurrentVersion\Uninstall\OV Quellmark_is1]",
                  '"DisplayVersion"="4.2.0"', ""]
    path.write_bytes(b"\xff\xfe" + ("\r\n".join(lines) + "\r\n").encode("utf-16-le"))


def environment_export(path, folders):
    """The server's environment, its Path a REG_EXPAND_SZ as regedit writes it."""
    data = ",".join(f"{byte:02x}" for byte in (folders + "\0").encode("utf-16-le"))
    lines = ["Windows Registry Editor Version 5.00", "",
             r"[HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Session Manager\Environment]",
             f'"Path"=hex(2):{data}', '"PATHEXT"=".COM;.EXE;.BAT;.CMD"', ""]
    path.write_bytes(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))


def copy_of_drive_c(drive, canary, host="PROGRAM FILES (X86)/orvanta/VANTLINE",
                    addon="PROGRAM FILES (X86)/ov/QUELLMARK"):
    """The host's and the add-on's directories, spelt as a copy made on Linux
    may spell them, with a program the rehearsal must never run."""
    host, addon = drive / host, drive / addon
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
        self.assertIn(r"Quellmark\Query_Timeout.txt: created", report)
        self.assertIn(f'cmd /c "zqtool -r -f "{HOST}\\Tools\\qlxtools.xml"" > null  -> exit 0\n'
                      f'      here: {work}/bin/zqtool -r -f "{installed / "qlxtools.xml"}"', report)
        self.assertIn("('TX540A1', 'TX540A1x', 2, 1)\n  ('TX520A1', 'TX520A1x', 2, 1)", report)
        self.assertIn("OK   Database kind    dbType=SQLServer: the patch connects to SQL Server",
                      report)
        self.assertIn("OK   Last run         completed without a failure", report)
        self.assertIn("OV Quellmark: stop: running -> stopped", report)
        self.assertIn("OV Quellmark: start: stopped -> running", report)

        verdict = report[report.index("== Verdict ==\n"):]
        self.assertIn("Every step succeeded", verdict)
        self.assertNotIn("Worth a look", verdict)
        for unchecked in ("elevation", "the real service manager", "the OLE DB providers",
                          "the database logon", "the password store", "the server's Path"):
            self.assertIn(f"  - {unchecked}", verdict)



def a_folder(*parts, data=b""):
    def make(inputs):
        (inputs / "c" / Path(*parts[:-1])).mkdir(parents=True, exist_ok=True)
        (inputs / "c" / Path(*parts)).write_bytes(data)
    return make


LONG = "v" * 206  # its globalsettings.props is 265 characters, its database.props 259
# (what, export, copy, one more thing, arguments, exit status, text in the output)
COPIES = (
    ("D: unmapped", dict(host=r"D:\Vantline"), dict(host="../d/Vantline"), None, [],
     2, 'on drive D:, which no --drive maps. Copy the server\'s D:\\Vantline'),
    ("D: one level too high", dict(host=r"D:\Vantline"), dict(host="../d/Vantline"), None,
     ["--drive", "D={inputs}"], 2, "has no D:\\Vantline: D:\\ holds c, d, "),
    ("C: and D: swapped", dict(host=r"D:\Vantline"), dict(host="../d/Vantline"), None,
     ["--drive", "C={inputs}/d", "--drive", "D={inputs}/c"], 2, "has no C:\\Program Files (x86)"),
    ("the add-on not copied", {}, dict(addon="../elsewhere/Quellmark"), None, [],
     2, "(x86) holds orvanta. Copy the server's C:\\Program Files (x86)\\OV\\Quellmark to"),
    ("a Windows-1252 name", {}, {}, a_folder("PROGRAM FILES (X86)", "\udcdcbersicht"), [],
     2, '("\\xdcbersicht"): they were copied in another encoding'),
    ("the add-on's key from HKCU", dict(root=r"HKEY_CURRENT_USER\SOFTWARE"), {}, None, [],
     2, "which is not under HKEY_LOCAL_MACHINE; the patch reads HKLM alone. Export"),
    ("a .props file as an export", {}, {}, None, ["{inputs}/c/PROGRAM FILES (X86)/ov/QUELLMARK/qlxdatabase.props"],
     2, "is no registry export"),
    ("a case duplicate", {}, {}, a_folder("PROGRAM FILES (X86)", "orvanta", "VANTLINE", "Config", "x"),
     [], 2, 'holds "Config" and "config", which differ only in letter case'),
    ("a 265-character path", dict(host=r"C:\Program Files (x86)\Orvanta" + "\\" + LONG),
     dict(host="PROGRAM FILES (X86)/orvanta/" + LONG), None, [], 1,
     "read the database kind (dbType): FAILED\n      why: C:\\Program Files (x86)\\Orvanta\\vvv"),
    ("no uninstall key", dict(uninstall=False), {}, None, [], 1,
     'Uninstall\\OV Quellmark_is1 "DisplayVersion" -> in none of the exports: not found (code 2)'),
    ("a Path without the Tools folder", {}, {}, None, ["{inputs}/env.reg"], 1,
     "    why: cmd would not find zqtool on the server's Path (2 folders"),
    ("a Path with the Tools folder", {}, {},
     a_folder("PROGRAM FILES (X86)", "orvanta", "VANTLINE", "Tools", "zqtool.EXE"),
     ["{inputs}/env.reg", "--env", HOST + r"\Tools"], 0,
     r"zqtool: C:\Program Files (x86)\Orvanta\Vantline\Tools\zqtool.EXE (Path folder 3)"),
    ("a Path folder not copied", {}, {}, None, ["{inputs}/env.reg", "--env", r"C:\Oracle\bin"], 2,
     "The server's Path names C:\\Oracle\\bin, which the copy of drive C: lacks"),
    ("dbType=oracle", {}, {}, a_folder("PROGRAM FILES (X86)", "orvanta", "VANTLINE", "config",
                                       "globalsettings.props", data=b"dbType=oracle\r\n"), [], 1,
     'FAIL Database kind    dbType=oracle: the patch matches "Oracle" exactly'),
)


class Copies(unittest.TestCase):
    def test_each_fault_of_the_copy_or_the_server(self):
        for what, export, copy, extra, arguments, status, text in COPIES:
            with self.subTest(what):
                inputs = Path(tempfile.mkdtemp(prefix="qlx-rehearse-copy-"))
                self.addCleanup(shutil.rmtree, inputs, True)
                export_from_64_bit_server(inputs / "server.reg", **export)
                copy_of_drive_c(inputs / "c", inputs / "RAN", **copy)
                (inputs / "qlxtools.xml").write_bytes(b"<tools/>")
                (inputs / "out").mkdir()
                if extra:
                    extra(inputs)
                folders = arguments[arguments.index("--env") + 1] if "--env" in arguments else ""
                environment_export(inputs / "env.reg", r"%SystemRoot%\system32;%SystemRoot%;" + folders)
                arguments = [a.format(inputs=inputs) for a in arguments if a not in ("--env", folders)]
                result = subprocess.run(
                    [str(REHEARSE), "--binary", BINARY, "--into", str(inputs / "out"), "--tools",
                     str(inputs / "qlxtools.xml"), "--drive", f"C={inputs / 'c'}", *arguments,
                     str(inputs / "server.reg")], capture_output=True, text=True, timeout=300)
                output = result.stdout + result.stderr
                self.assertEqual(result.returncode, status, output)
                self.assertIn(text, output)
                self.assertNotIn("QLX_DRIVE", output)
                self.assertEqual(any((inputs / "out").iterdir()), status != 2)


if __name__ == "__main__":
    unittest.main()
