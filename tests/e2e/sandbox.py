"""A sandbox host for running the native patch end to end.

It lays out, in a temporary directory, everything the patch reaches on a
server: the registry file and the services file that stand in for the
Windows registry and service control manager, the host's and the add-on's
directories with their properties files, fake `zqtool` and `zqpassword`
programs on PATH that record what they receive, an SQLite database behind
the ODBC data sources the connection strings name, and the directory the
patch is run from with the new "qlxtools.xml".
"""

import os
import shutil
import sqlite3
import subprocess
import tempfile
import time
from pathlib import Path

SERVICE = "OV Quellmark"
HOST_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Orvanta\Vantline\Settings"
ADDON_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\OV\Quellmark"
UNINSTALL_KEY = (r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion"
                 r"\Uninstall\OV Quellmark_is1")

SCHEMA = ("CREATE TABLE Supported_Servers (Model_Name TEXT PRIMARY KEY, Model_Support TEXT, "
          "Max_Processors INTEGER, Hyper_Threading_Support INTEGER)")

# A tool told to hang on an option (a file "hang-<tool><option>") leaves its
# process id in "hanging.pid" and sleeps, still holding its output file; one
# told to pause ("pause-<tool><option>") does the same until a file "go"
# appears, and then goes on.
HANG = """if [ -e "{root}/hang-$(basename "$0")$1" ]; then
  echo $$ > "{root}/hanging.pid"
  exec sleep 300
fi
if [ -e "{root}/pause-$(basename "$0")$1" ]; then
  echo $$ > "{root}/hanging.pid"
  while [ ! -e "{root}/go" ]; do sleep 0.02; done
fi
"""

ZQTOOL = """#!/bin/sh
# Records its arguments, one per line, and exits with the chosen code.
printf '%s\\n' "$@" >> "{root}/zqtool.calls"
echo "zqtool output $1"
""" + HANG + """exit $(cat "{root}/zqtool.exit" 2>/dev/null || echo 0)
"""

ZQPASSWORD = """#!/bin/sh
# Records its arguments and the permissions of the file its output goes to;
# "-e HOST" prints a key, "-l ..." prints the password.
printf '%s\\n' "$*" >> "{root}/zqpassword.calls"
mode=$(stat -L -c %a /proc/$$/fd/1)
echo "$mode" >> "{root}/zqpassword.modes"
case "$1" in
  -e) printf '{key_prefix}KEY-%s\\r\\n' "$2" ;;
  -l) cat "{root}/password" ;;
esac
""" + HANG


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Sandbox:
    """A throwaway host. Change its attributes, then call run()."""

    def __init__(self, binary, root=None, host_name="host dir"):
        self.binary = str(binary)
        self.root = Path(root or tempfile.mkdtemp(prefix="qlx-sandbox-"))
        self.host = self.root / host_name
        self.addon = self.root / "addon"
        self.work = self.root / "work"
        self.temp = self.root / "tmp"
        self.bin = self.root / "bin"
        for directory in (self.host / "config", self.host / "Tools", self.addon, self.work,
                          self.temp, self.bin):
            directory.mkdir(parents=True, exist_ok=True)
        self.registry = {
            HOST_KEY: {"InstallPath": reg_string(str(self.host))},
            ADDON_KEY: {"ExtensionBase": reg_string(str(self.addon)),
                        "Build": reg_string("4.2.0.1234"), "Version": reg_string("4.2.0")},
            UNINSTALL_KEY: {"DisplayVersion": reg_string("4.2.0")},
        }
        # "ansi": a REGEDIT4 export in Windows-1252; "utf16": a version 5
        # export in UTF-16LE, as regedit writes them.
        self.export_encoding = "ansi"
        self.services = {SERVICE: "running"}
        self.db_type = "SQLServer"
        self.write(self.host / "config" / "database.props",
                   "ov.Database.hostName=DBSRV\r\nov.Database.portNumber=1433\r\n"
                   "ov.Database.username=sa\r\n")
        self.write(self.addon / "qlxdatabase.props",
                   "qlx.Database.username=scott\r\nqlx.Database.databaseName=QLX\r\n")
        self.write(self.host / "Tools" / "qlxtools.xml", "<tools version='4.2'/>\n")
        self.write(self.work / "qlxtools.xml", "<tools version='4.3.1'/>\n")
        self.write(self.root / "password", "tiger\r\n")
        self.zqtool_exit = 0
        self.key_prefix = ""  # what the "-e" key begins with
        self.odbc_dsns = {}
        self.odbc_ini = None  # the text of odbc.ini, when not made from odbc_dsns
        self.sqlite = None

    @staticmethod
    def write(path, text):
        Path(path).write_bytes(text.encode("latin-1"))

    # --- the database -----------------------------------------------------
    def use_sqlite(self):
        """Both data sources lead to one SQLite file holding the table, named
        by their own Database, so the SQL Server string's catalogue is not
        sent (it would name the same file, in the current directory)."""
        self.sqlite = self.work / "QLX_v3_0"
        with sqlite3.connect(self.sqlite) as db:
            db.execute(SCHEMA)
        for provider in ("sqloledb", "OraOLEDB.Oracle"):
            # The driver by the name Debian registers it under (odbcinst -q -d).
            self.odbc_dsns[provider] = {"Driver": "SQLite3", "Database": str(self.sqlite)}
        return self

    def rows(self):
        with sqlite3.connect(self.sqlite) as db:
            return db.execute("SELECT * FROM Supported_Servers ORDER BY rowid").fetchall()

    # --- running ----------------------------------------------------------
    def lay_out(self):
        unicode = self.export_encoding == "utf16"
        lines = ["Windows Registry Editor Version 5.00" if unicode else "REGEDIT4", ""]
        for key, values in self.registry.items():
            lines.append("[" + key + "]")
            lines.extend(reg_string(name) + "=" + data for name, data in values.items())
            lines.append("")
        text = "\r\n".join(lines) + "\r\n"
        (self.root / "registry.reg").write_bytes(
            b"\xff\xfe" + text.encode("utf-16-le") if unicode else text.encode("cp1252"))
        self.write(self.root / "services",
                   "".join(f"{name}={state}\n" for name, state in self.services.items()))
        if self.db_type is not None:
            self.write(self.host / "config" / "globalsettings.props", f"dbType={self.db_type}\r\n")
        self.write(self.root / "zqtool.exit", str(self.zqtool_exit))
        for name, text in (("zqtool", ZQTOOL), ("zqpassword", ZQPASSWORD)):
            path = self.bin / name
            self.write(path, text.format(root=self.root, key_prefix=self.key_prefix))
            path.chmod(0o755)
        self.write(self.root / "odbc.ini", self.odbc_ini if self.odbc_ini is not None else "".join(
            f"[{dsn}]\n" + "".join(f"{k}={v}\n" for k, v in attrs.items())
            for dsn, attrs in self.odbc_dsns.items()))

    def environment(self):
        env = dict(os.environ)
        env.pop("ODBCSYSINI", None)  # the system's registered drivers apply
        env.update({
            "QLX_REGISTRY_FILE": str(self.root / "registry.reg"),
            "QLX_SERVICES_FILE": str(self.root / "services"),
            "PATH": f"{self.bin}:{env.get('PATH', '/usr/bin:/bin')}",
            "TMPDIR": str(self.temp),
            "ODBCINI": str(self.root / "odbc.ini"),
        })
        return env

    def run(self, *arguments, laid_out=False, timeout=120, **streams):
        """Runs the patch to its end; `laid_out` keeps what the test changed
        after its own lay_out(), `streams` replaces the captured output."""
        if not laid_out:
            self.lay_out()
        return subprocess.run([self.binary, *arguments], cwd=self.work, env=self.environment(),
                              timeout=timeout, **(streams or {"capture_output": True}))

    def start(self):
        """Starts the patch in the background. Its output goes to files, not
        pipes, since a hanging tool would hold a pipe open."""
        self.lay_out()
        with open(self.root / "stdout", "wb") as out, open(self.root / "stderr", "wb") as err:
            return subprocess.Popen([self.binary], cwd=self.work, env=self.environment(),
                                    stdout=out, stderr=err)

    def hang(self, tool, option, how="hang"):
        (self.root / f"{how}-{tool}{option}").touch()

    def hanging_tool(self, timeout=20):
        """The process id of the tool that hangs, once it does."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            text = (self.root / "hanging.pid").read_text() if (self.root / "hanging.pid").exists() else ""
            if text.strip():
                return int(text)
            time.sleep(0.05)
        raise AssertionError("no tool hung")

    # --- what the run left ------------------------------------------------
    def log(self):
        path = self.work / "QLX_patch.log"
        return path.read_bytes().decode("latin-1") if path.exists() else None

    def registry_text(self):
        data = (self.root / "registry.reg").read_bytes()
        if data.startswith(b"\xff\xfe"):
            return data[2:].decode("utf-16-le")
        return data.decode("cp1252")

    def service_state(self):
        for line in (self.root / "services").read_text().splitlines():
            name, _, state = line.partition("=")
            if name == SERVICE:
                return state
        return None

    def tool_calls(self, tool):
        path = self.root / f"{tool}.calls"
        return path.read_text().splitlines() if path.exists() else []

    def password_file_modes(self):
        """The permissions of zqpassword's output file, octal, once a call."""
        path = self.root / "zqpassword.modes"
        return path.read_text().split() if path.exists() else []

    def remove(self):
        shutil.rmtree(self.root, ignore_errors=True)
