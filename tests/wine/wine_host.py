"""A Windows server under Wine for running the patch end to end.

`WinePrefix` is a throwaway 64-bit Wine prefix, as on the 64-bit Windows
Servers the add-on runs on, copied from the template that is made once per
test run (cmake/wine-prefix, as for cmake/wine-run), with a wineserver of its
own that lives for the whole scenario. The 32-bit programs
run in it under WOW64.

`Host` lays out in such a prefix everything the patch reaches on a server:
the registry values (imported with reg from .reg files, into the 32-bit view
the patch sees and, where a scenario asks, the 64-bit view), the host's and
the add-on's directories with their properties files, the service
"OV Quellmark" (the test service program, installed with sc), the fake
`zqtool` and `zqpassword` programs on the PATH, the test ADO provider
registered as the ADODB.Connection class (and under the OLE DB providers'
names), and the directory the patch is run
from with the new "qlxtools.xml". After a run it reads back what the patch
left: the log, the service state, the registry values, the files and the
calls the provider received.

Only the programs under test run through `wine`, the 32-bit loader, which
the emulator runs on machines without IA-32 support. The harness's own tools
(wineboot, reg, sc, cmd) run through `wine64` as the 64-bit programs of the
prefix, at native speed.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path, PureWindowsPath

SERVICE = "OV Quellmark"
HOST_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\Orvanta\Vantline\Settings"
# The ADODB.Connection class's server, in the 32-bit view the patch sees.
ADO_CONNECTION_CLASS = "{00000514-0000-0010-8000-00AA006D2EA4}"
ADO_CONNECTION_SERVER_KEY = (r"HKEY_LOCAL_MACHINE\SOFTWARE\Classes\CLSID"
                             rf"\{ADO_CONNECTION_CLASS}\InprocServer32")
ADDON_KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\OV\Quellmark"
UNINSTALL_KEY = (r"HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Windows\CurrentVersion"
                 r"\Uninstall\OV Quellmark_is1")
USER_ENVIRONMENT_KEY = r"HKEY_CURRENT_USER\Environment"

# How long the test service stays in STOP_PENDING once asked to stop.
SERVICE_STOP_DELAY_MS = 300
WINE_COMMAND_TIMEOUT = 120

# The 64-bit loader, which starts the prefix's own 64-bit programs. Debian
# puts no wine64 on the PATH, only into Wine's library directory.
WINE64 = shutil.which("wine64") or "/usr/lib/wine/wine64"

REG_SZ, REG_EXPAND_SZ, REG_DWORD = "REG_SZ", "REG_EXPAND_SZ", "REG_DWORD"

# The registry views of a 64-bit Windows, named by reg's switches. Every reg
# command names its view, so that none depends on the loader it runs under.
VIEW_32, VIEW_64 = "/reg:32", "/reg:64"


def wine_environment(prefix):
    env = dict(os.environ)
    env.update({
        "WINEPREFIX": str(prefix),
        "WINEDEBUG": "-all",
        "WINEARCH": "win64",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    })
    # Only the variables a scenario sets itself reach its programs.
    for name in ("WINEPATH", "QLX_ADO_RECORD", "QLX_ADO_FAIL", "QLX_ADO_HANG", "QLX_ADO_TABLE"):
        env.pop(name, None)
    return env


def without_permission_override():
    """The command prefix that starts a program without the capabilities that
    let root ignore file permissions, when running as root. Wine keeps the
    read-only attribute only in the Unix permissions and its server opens the
    files, so a server with these capabilities writes into read-only files,
    which Windows refuses to do even for an administrator."""
    if os.geteuid() != 0 or shutil.which("setpriv") is None:
        return []
    return ["setpriv", "--bounding-set=-dac_override,-dac_read_search,-fowner"]


class CommandResult:
    def __init__(self, args, returncode, stdout, stderr):
        self.args, self.returncode, self.stdout, self.stderr = args, returncode, stdout, stderr

    def text(self):
        return self.stdout.decode("latin-1")


def _quiet(args, env):
    return subprocess.run(args, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, check=False).returncode


WINE_PREFIX_SCRIPT = Path(__file__).resolve().parents[2] / "cmake" / "wine-prefix"


class WinePrefix:
    """A prefix of its own, copied from the test run's template by
    cmake/wine-prefix, with a persistent wineserver; stop() ends both. A
    prefix that a killed scenario leaves behind is removed by the run's
    cleanup fixture."""

    def __init__(self, wine_dir):
        self.wine_dir = Path(wine_dir)
        self.path = Path(subprocess.run([str(WINE_PREFIX_SCRIPT), str(self.wine_dir), "new"],
                                        check=True, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE).stdout.decode().strip())
        self.env = wine_environment(self.path)
        self.drive_c = self.path / "drive_c"
        try:
            # The server outlives every command of the scenario, so Wine's
            # services start once; its output goes nowhere, since Wine's
            # background processes inherit it and would hold a pipe open.
            if _quiet([*without_permission_override(), "wineserver", "-p"], self.env) != 0:
                _quiet(["wineserver", "-p"], self.env)
        except BaseException:
            self.stop()
            raise

    def stop(self):
        _quiet([str(WINE_PREFIX_SCRIPT), str(self.wine_dir), "end", str(self.path)], self.env)

    def run(self, *args, cwd=None, extra_env=None, timeout=WINE_COMMAND_TIMEOUT, loader="wine"):
        """Runs `wine args...`, a program under test, and waits for it. Output
        is collected in files, not pipes: a Windows process it starts (a
        service, a server) may inherit the handles and outlive it."""
        env = dict(self.env)
        env.update(extra_env or {})
        command = [loader, *map(str, args)]
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=err, timeout=timeout)
            out.seek(0)
            err.seek(0)
            return CommandResult(command, process.returncode, out.read(), err.read())

    def tool(self, *args, **kwargs):
        """Runs one of the prefix's own 64-bit programs (reg, sc, cmd) for the
        harness."""
        return self.run(*args, loader=WINE64, **kwargs)

    def check(self, *args, **kwargs):
        """Runs a harness tool (tool()) and insists that it succeeds."""
        result = self.tool(*args, **kwargs)
        if result.returncode != 0:
            raise RuntimeError(f"{result.args} failed with {result.returncode}: "
                               f"{result.stdout!r} {result.stderr!r}")
        return result

    def unix_path(self, windows_path):
        """The Unix path of a path on drive C:, as laid out by the harness."""
        path = PureWindowsPath(windows_path)
        if path.drive.upper() != "C:":
            raise ValueError(f"not on drive C: {windows_path}")
        return self.drive_c.joinpath(*path.parts[1:])


def reg_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def reg_hex(kind, data):
    return f"hex({kind}):" + ",".join(f"{b:02x}" for b in data)


def registry_file(keys):
    """A .reg file in the format regedit writes: the version 5 header, UTF-16
    with its byte order mark (expandable strings are UTF-16 inside, too)."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    for key, values in keys.items():
        lines.append(f"[{key}]")
        for name, (kind, data) in values.items():
            if kind == REG_SZ:
                encoded = reg_string(data)
            elif kind == REG_EXPAND_SZ:
                encoded = reg_hex(2, (data + "\0").encode("utf-16-le"))
            elif kind == REG_DWORD:
                encoded = f"dword:{data:08x}"
            else:
                raise ValueError(kind)
            lines.append(f"{reg_string(name) if name else '@'}={encoded}")
        lines.append("")
    return ("\r\n".join(lines) + "\r\n").encode("utf-16")


def parse_registry_export(data):
    """The values of a regedit export (UTF-16): {(key, name): (type, data)}."""
    text = data.decode("utf-16")
    logical = re.sub(r"\\\r?\n\s*", "", text).splitlines()
    values = {}
    key = None
    for line in logical:
        if line.startswith("[") and line.endswith("]"):
            key = line[1:-1]
            continue
        match = re.match(r'^"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if not match or key is None:
            continue
        name = re.sub(r"\\(.)", r"\1", match.group(1))
        raw = match.group(2)
        if raw.startswith('"'):
            values[(key, name)] = (REG_SZ, re.sub(r"\\(.)", r"\1", raw[1:-1]))
        elif raw.startswith("dword:"):
            values[(key, name)] = (REG_DWORD, int(raw[6:], 16))
        elif raw.startswith("hex(2):"):
            # UTF-16 with its terminating zero; anything else is shown as it is.
            text = bytes(int(b, 16) for b in raw[7:].split(",") if b).decode("utf-16-le")
            values[(key, name)] = (REG_EXPAND_SZ, text[:-1] if text.endswith("\0") else
                                   text + "<no terminating zero>")
        else:
            values[(key, name)] = ("other", raw)
    return values


class Host:
    """A Vantline server with the OV Quellmark add-on in a Wine prefix.
    Change its attributes, then call run()."""

    def __init__(self, prefix, fake_tool, test_service, ado_provider):
        self.prefix = prefix
        self.fake_tool = Path(fake_tool)
        self.test_service = Path(test_service)
        self.ado_provider = Path(ado_provider)
        self.host_dir = r"C:\Orvanta\Vantline"
        self.addon_dir = r"C:\OV\Quellmark"
        self.work_dir = r"C:\Patch"
        self.tools_dir = r"C:\HostTools"
        self.service_dir = r"C:\TestService"
        self.ado_provider_path = r"C:\TestAdo\qlx_test_ado_provider.dll"
        # In the 32-bit registry view, where the 32-bit patch finds
        # HKLM\SOFTWARE on a 64-bit server (Wow6432Node).
        self.registry = {
            HOST_KEY: {"InstallPath": (REG_SZ, self.host_dir)},
            ADDON_KEY: {"ExtensionBase": (REG_SZ, self.addon_dir),
                        "Build": (REG_SZ, "4.2.0.1234"), "Version": (REG_SZ, "4.2.0")},
            UNINSTALL_KEY: {"DisplayVersion": (REG_SZ, "4.2.0")},
        }
        # Values only 64-bit programs see.
        self.registry_64 = {}
        # "running", "stopped", "disabled" (installed so, never started), or
        # None for a service that is not installed.
        self.service = "running"
        # How long the test service reports its stop under way.
        self.service_stop_delay_ms = SERVICE_STOP_DELAY_MS
        self.db_type = "SQLServer"
        self.files = {
            r"config\globalsettings.props": None,  # written from db_type
            r"config\database.props":
                b"ov.Database.hostName=DBSRV\r\nov.Database.portNumber=1433\r\n"
                b"ov.Database.username=sa\r\n",
            r"Tools\qlxtools.xml": b"<tools version=\"4.2\"/>\r\n",
        }
        self.addon_files = {
            "qlxdatabase.props":
                b"qlx.Database.username=scott\r\nqlx.Database.databaseName=QLXORA\r\n",
        }
        self.work_files = {"qlxtools.xml": b"<tools version=\"4.3.1\"/>\r\n"}
        # What the fake tools print and how they exit, by first argument.
        self.tool_output = {
            ("zqtool", "-r"): b"removed\r\n",
            ("zqtool", "-a"): b"added\r\n",
            ("zqpassword", "-e"): b"K3Y-4711\r\nQLX\r\n",
            ("zqpassword", "-l"): b"t1ger pw\r\nsecond line\r\n",
        }
        self.tool_exit = {}
        # What COMSPEC names for the patch, when set. With the recorder it is
        # the fake tool as "cmdrecorder.exe", which logs its command line and
        # hands the rest of it to the real interpreter.
        self.comspec = None
        self.command_interpreter_recorder = False
        self.database_record = r"C:\database.calls"
        # The table Supported_Servers, a model name a line: the INSERTs append.
        self.database_table = r"C:\database.table"
        # "<method> <HRESULT in hex>[ <description>]": the provider fails every
        # call of that method, with error information when there is a
        # description (tests/wine/test_ado_provider.cpp).
        self.database_failure = None

    # --- laying out -------------------------------------------------------
    def move_host(self, windows_dir):
        """Installs the host server in another directory."""
        self.host_dir = windows_dir
        self.registry[HOST_KEY]["InstallPath"] = (REG_SZ, windows_dir)

    def write(self, windows_path, content):
        path = self.prefix.unix_path(windows_path)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(content)

    def lay_out(self):
        for relative, content in self.files.items():
            if relative == r"config\globalsettings.props":
                if self.db_type is None:
                    continue
                content = f"dbType={self.db_type}\r\n".encode("latin-1")
            if content is not None:
                self.write(rf"{self.host_dir}\{relative}", content)
        self.prefix.unix_path(self.addon_dir).mkdir(parents=True, exist_ok=True)
        for name, content in self.addon_files.items():
            if content is not None:
                self.write(rf"{self.addon_dir}\{name}", content)
        self.prefix.unix_path(self.work_dir).mkdir(parents=True, exist_ok=True)
        for name, content in self.work_files.items():
            if content is not None:
                self.write(rf"{self.work_dir}\{name}", content)
        self.install_tools()
        self.write(self.ado_provider_path, self.ado_provider.read_bytes())
        self.import_registry()
        self.install_service()

    def install_tools(self):
        tools = self.prefix.unix_path(self.tools_dir)
        tools.mkdir(parents=True, exist_ok=True)
        for tool in ("zqtool", "zqpassword"):
            shutil.copyfile(self.fake_tool, tools / f"{tool}.exe")
        for (tool, argument), output in self.tool_output.items():
            (tools / f"{tool}{argument}.out").write_bytes(output)
        for (tool, argument), code in self.tool_exit.items():
            (tools / f"{tool}{argument}.exit").write_text(str(code))
        if self.command_interpreter_recorder:
            shutil.copyfile(self.fake_tool, tools / "cmdrecorder.exe")
            (tools / "cmdrecorder.forward").write_bytes(rb"C:\windows\system32\cmd.exe")

    def import_registry(self):
        keys = dict(self.registry)
        keys[ADO_CONNECTION_SERVER_KEY] = {"": (REG_SZ, self.ado_provider_path),
                                           "ThreadingModel": (REG_SZ, "Apartment")}
        # The OLE DB providers, named for the test provider's class: only
        # whether they can be created is asked.
        for provider in ("sqloledb", "OraOLEDB.Oracle"):
            keys[rf"HKEY_LOCAL_MACHINE\SOFTWARE\Classes\{provider}\CLSID"] = {
                "": (REG_SZ, ADO_CONNECTION_CLASS)}
        if self.command_interpreter_recorder:
            self.comspec = rf"{self.tools_dir}\cmdrecorder.exe"
        if self.comspec is not None:
            # The user's environment in the registry overrides the system's,
            # and Wine takes COMSPEC from there, not from the Unix one.
            keys[USER_ENVIRONMENT_KEY] = {"COMSPEC": (REG_SZ, self.comspec)}
        for view, view_keys in ((VIEW_32, keys), (VIEW_64, self.registry_64)):
            if not view_keys:
                continue
            self.write(r"C:\host.reg", registry_file(view_keys))
            self.prefix.check("reg", "import", r"C:\host.reg", view)
            missing = self.values_not_imported(view)
            if missing:
                # Seen once in some twenty runs, cause not found: a reg import
                # that succeeded while the values were not there afterwards.
                # It is said on stderr, and the import made once more.
                print(f"wine_host: reg import {view} lacked {missing}; importing again",
                      file=sys.stderr)
                self.prefix.check("reg", "import", r"C:\host.reg", view)
                missing = self.values_not_imported(view)
            if missing:
                raise RuntimeError(f"reg did not import {view}: {missing}")

    def values_not_imported(self, view):
        """The values the scenario wrote into the view that reg cannot read
        back, with what it reads instead."""
        wanted = self.registry if view == VIEW_32 else self.registry_64
        imported = self.registry_values(view)
        return {(key, name): imported.get((key, name))
                for key, values in wanted.items() for name, value in values.items()
                if imported.get((key, name)) != value}

    def install_service(self):
        if self.service is None:
            return
        self.prefix.unix_path(self.service_dir).mkdir(parents=True, exist_ok=True)
        shutil.copyfile(self.test_service,
                        self.prefix.unix_path(self.service_dir) / "qlx_test_service.exe")
        binary = rf"{self.service_dir}\qlx_test_service.exe {self.service_stop_delay_ms}"
        # Wine's sc has no "config": a disabled service is created so.
        disabled = ["start=", "disabled"] if self.service == "disabled" else []
        self.prefix.check("sc", "create", SERVICE, "binPath=", binary, *disabled)
        if self.service == "running":
            self.prefix.check("sc", "start", SERVICE)
            state = self.wait_for_service_state("RUNNING")
            if state != "RUNNING":
                raise RuntimeError(f"the test service did not start: {state}")

    def read_only(self, windows_path):
        self.prefix.check("cmd", "/c", "attrib", "+r", windows_path)

    # --- running ----------------------------------------------------------
    def run(self, program, *arguments):
        """Lays out the host and runs the program once from the work
        directory, with the fake tools' directory on the PATH."""
        self.lay_out()
        return self.run_again(program, *arguments)

    def run_again(self, program, *arguments):
        extra_env = {"WINEPATH": self.tools_dir, "QLX_ADO_RECORD": self.database_record,
                     "QLX_ADO_TABLE": self.database_table}
        if self.database_failure is not None:
            extra_env["QLX_ADO_FAIL"] = self.database_failure
        return self.prefix.run(program, *arguments, cwd=self.prefix.unix_path(self.work_dir),
                               extra_env=extra_env)

    # --- what the run left ------------------------------------------------
    def file_bytes(self, windows_path):
        path = self.prefix.unix_path(windows_path)
        return path.read_bytes() if path.exists() else None

    def log(self):
        return self.file_bytes(rf"{self.work_dir}\QLX_patch.log")

    def service_state(self):
        """The state word from `sc query` (RUNNING, STOPPED, ...), or None
        when the service is not installed."""
        result = self.prefix.tool("sc", "query", SERVICE)
        match = re.search(r"STATE\s*:\s*\d+\s+(\w+)", result.text())
        return match.group(1) if match else None

    def wait_for_service_state(self, wanted, limit_seconds=20):
        deadline = time.monotonic() + limit_seconds
        state = self.service_state()
        while state != wanted and time.monotonic() < deadline:
            time.sleep(0.2)
            state = self.service_state()
        return state

    def registry_values(self, view=VIEW_32):
        """{(key, name): (type, data)} for the three keys the patch touches, in
        one registry view; a key that the view does not hold has none."""
        values = {}
        for key in (HOST_KEY, ADDON_KEY, UNINSTALL_KEY):
            exported = self.prefix.tool("reg", "export", key, r"C:\export.reg", "/y", view)
            if exported.returncode == 0:
                values.update(parse_registry_export(self.file_bytes(r"C:\export.reg")))
        return values

    def tool_calls(self, tool):
        """The raw command lines the fake tool was started with."""
        data = self.file_bytes(rf"{self.tools_dir}\{tool}.calls")
        return data.decode("latin-1").split("\n")[:-1] if data is not None else []

    def tool_arguments(self, tool):
        """The arguments of each run of the fake tool, as its C runtime split
        them."""
        data = self.file_bytes(rf"{self.tools_dir}\{tool}.args")
        lines = data.decode("latin-1").split("\n")[:-1] if data is not None else []
        return [line.split("\t") for line in lines]

    def database_calls(self):
        """The calls the ADO provider received, one a line; None if none."""
        data = self.file_bytes(self.database_record)
        return data.decode("latin-1").split("\n")[:-1] if data is not None else None

    def temporary_directory(self):
        return self.prefix.check("cmd", "/c", "echo", "%TMP%").text().strip()

    def host_name(self):
        """What the interpreter's `hostname` prints, without its line end."""
        return self.prefix.check("cmd", "/c", "hostname").text().strip()

    def message_texts(self, message_text_program, codes):
        """The system's message texts for the codes, as FormatMessageA gives
        them here (None where there is none)."""
        result = self.prefix.run(message_text_program, *[hex(code) for code in codes])
        if result.returncode != 0:
            raise RuntimeError(f"{result.args} failed with {result.returncode}: {result.stderr!r}")
        texts = result.stdout.decode("latin-1").split("\0")[:-1]
        return {code: (text if text else None) for code, text in zip(codes, texts)}
