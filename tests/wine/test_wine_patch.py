"""The 32-bit Windows program, run once under Wine on a laid-out host, in a
64-bit prefix as on the 64-bit Windows Servers the add-on supports, and
judged by everything it leaves: the log byte for byte, the service, the
registry values, the files and what the host's tools and its database
received. The database is the test ADO provider (tests/wine/test_ado_provider.cpp),
registered as the ADODB.Connection class: it records every call and fails
the one a scenario names.
"""

import difflib
import json
import os
import re
import sys
import unittest
from pathlib import Path, PureWindowsPath

sys.path.insert(0, str(Path(__file__).parent))
sys.path.insert(0, str(Path(__file__).parent.parent / "e2e"))
from expected_log import FIRST, ORACLE_PARAMETERS, SECOND, SUCCESSFUL_RUN  # noqa: E402
from wine_host import (ADDON_KEY, HOST_KEY, REG_DWORD, REG_EXPAND_SZ, REG_SZ,  # noqa: E402
                       UNINSTALL_KEY, VIEW_64, Host, WinePrefix)

PATCH = os.environ["QLX_PATCH"]
FAKE_TOOL = os.environ["QLX_FAKE_TOOL"]
MESSAGE_TEXT = os.environ["QLX_MESSAGE_TEXT"]
TEST_SERVICE = os.environ["QLX_TEST_SERVICE"]
ADO_PROVIDER = os.environ["QLX_ADO_PROVIDER"]
WINE_DIR = os.environ["QLX_WINE_DIR"]

SERVICE_DOES_NOT_EXIST = 1060
SERVICE_NOT_ACTIVE = 1062
FILE_NOT_FOUND = 2
E_FAIL = 0x80004005
DB_E_ERRORSINCOMMAND = 0x80040E14
SYNTAX_ERROR = "Incorrect syntax near the keyword 'VALUES'."

# The expected logs are as the program writes them; the file holds them in
# text mode, where every line feed becomes CR LF (see on_disk).

# Set by the fake zqpassword's output files (Host.tool_output): the "-e"
# output spread over two lines, the password with an inner blank and a
# second line.
KEY = "K3Y-4711QLX"
PASSWORD = "t1gerpw"

_message_texts = {}


def on_disk(text):
    """What a text written in text mode leaves in the file on Windows."""
    return text.replace("\n", "\r\n").encode("latin-1")


def system_error_entry(operation, code):
    """A Win32 error entry: the system's text ends in its own CR LF, and the
    entry's line feed follows it."""
    return f"{operation} failed with error {code}: {_message_texts[code]}\n"


def com_message(hresult):
    """The message of a COM error entry: the system's text without its line
    end, or the program's own text where the system has none."""
    text = _message_texts[hresult]
    if text is None:
        number = hresult - 0x80040200
        return (f"IDispatch error #{number}" if 0 < number <= 0xFDFF
                else f"Unknown error 0x{hresult:X}")
    if len(text) > 1 and text.endswith("\n"):
        text = text[:-1]
        if text.endswith("\r"):
            text = text[:-1]
    return text


def com_error_entry(operation, hresult, description=""):
    return (f"{operation} failed.\n"
            f"Error = {hresult & 0xFF}\n"
            f"Message = {com_message(hresult)}\n"
            f"Description = {description}\n")


SQL_SERVER_CONNECTION = ("Provider=sqloledb;Data Source=DBSRV,1433;"
                         "Initial Catalog=QLX_v3_0;Integrated Security=SSPI")


def opening_calls(connection_string=SQL_SERVER_CONNECTION, command_timeout=60):
    """What the provider receives up to Open: the three properties, each in
    its own slot, then Open with empty arguments and no options."""
    return [f'put_ConnectionString("{connection_string}")', "put_ConnectionTimeout(60)",
            f"put_CommandTimeout({command_timeout})", 'Open("", "", "", -1)']


def execute_call(statement):
    """Execute with the text, no count of records asked for, as adCmdText."""
    return f'Execute("{statement}", null, 1)'


def session_calls(connection_string=SQL_SERVER_CONNECTION):
    return (opening_calls(connection_string)
            + [execute_call(FIRST), execute_call(SECOND), "Close()"])


class WinePatchTestCase(unittest.TestCase):
    """One scenario: a fresh prefix with its own wineserver, a laid-out host,
    ended and removed afterwards."""

    maxDiff = None

    def setUp(self):
        self.prefix = WinePrefix(WINE_DIR)
        self.addCleanup(self.prefix.stop)
        self.host = Host(self.prefix, FAKE_TOOL, TEST_SERVICE, ADO_PROVIDER)
        if not _message_texts:
            _message_texts.update(self.host.message_texts(
                MESSAGE_TEXT, [SERVICE_DOES_NOT_EXIST, SERVICE_NOT_ACTIVE, FILE_NOT_FOUND,
                               E_FAIL, DB_E_ERRORSINCOMMAND]))
        self.installed_tools = rf"{self.host.host_dir}\Tools\qlxtools.xml"

    def run_patch(self, *arguments):
        result = self.host.run(PATCH, *arguments)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, b"")
        return result

    # --- checks -----------------------------------------------------------
    def assertLog(self, expected_text):
        """The whole log, byte for byte; a difference shows both side by
        side, a line each, with the line ends visible."""
        expected = on_disk(expected_text)
        actual = self.host.log()
        if actual == expected:
            return
        shown, found = _lines(expected), _lines(actual or b"")
        rows = "\n".join(f"{'' if a is None else repr(a):<64} {marker} "
                          f"{'' if b is None else repr(b)}"
                          for a, b, marker in _side_by_side(shown, found))
        self.fail(f"the log differs{' (there is none)' if actual is None else ''}\n"
                  f"{'expected':<64}   actual\n{rows}")

    def assertServiceRunning(self):
        self.assertEqual(self.host.wait_for_service_state("RUNNING"), "RUNNING")

    def assertRegistry(self, build, version, display_version):
        values = self.host.registry_values()
        self.assertEqual(values.get((ADDON_KEY, "Build")), build)
        self.assertEqual(values.get((ADDON_KEY, "Version")), version)
        self.assertEqual(values.get((UNINSTALL_KEY, "DisplayVersion")), display_version)
        self.assertEqual(values.get((HOST_KEY, "InstallPath")), (REG_SZ, self.host.host_dir))
        self.assertEqual(values.get((ADDON_KEY, "ExtensionBase")), (REG_SZ, self.host.addon_dir))

    def assertVersionUnchanged(self):
        self.assertRegistry((REG_SZ, "4.2.0.1234"), (REG_SZ, "4.2.0"), (REG_SZ, "4.2.0"))

    def assertVersionUpdated(self):
        self.assertRegistry((REG_SZ, "4.3.1"), (REG_SZ, "4.3.1"), (REG_SZ, "4.3.1"))

    def assertToolsUntouched(self):
        self.assertEqual(self.host.tool_calls("zqtool"), [])
        self.assertEqual(self.host.file_bytes(self.installed_tools), b"<tools version=\"4.2\"/>\r\n")

    def assertAddOnDirectory(self, names):
        """The add-on's directory holds these files and nothing else: no
        password file is left behind."""
        directory = self.prefix.unix_path(self.host.addon_dir)
        self.assertEqual(sorted(p.name for p in directory.iterdir()), sorted(names))

    def zqtool_line(self, action):
        """What the fake zqtool receives: the interpreter strips the outer
        quotes of the line and the redirection, and leaves the path quoted
        and the blank that stood before the redirection."""
        return f'zqtool {action} -f "{self.installed_tools}" '

    def assertToolsRegistered(self, actions=("-r", "-a")):
        self.assertEqual(self.host.tool_calls("zqtool"), [self.zqtool_line(a) for a in actions])
        self.assertEqual(self.host.tool_arguments("zqtool"),
                         [[action, "-f", self.installed_tools] for action in actions])

    def temporary_leftovers(self):
        """What the tools' runs left in the temporary directory: each ran in a
        private directory of its own there, removed with its "null" file."""
        directory = self.host.prefix.unix_path(self.host.temporary_directory())
        return sorted(p.name for p in directory.iterdir()
                      if p.name == "null" or p.name.startswith("qlxpatch-"))


class ServiceStates(WinePatchTestCase):
    def test_a_stopped_service_is_reported_and_started(self):
        self.host.service = "stopped"
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace(
            "Stopping QLX service...Successfully\n",
            "Stopping QLX service..." + system_error_entry("ServiceStop", SERVICE_NOT_ACTIVE)
            + "Failed\n"))
        self.assertServiceRunning()

    def test_a_service_that_is_not_installed_fails_both_requests(self):
        self.host.service = None
        self.run_patch()
        expected = SUCCESSFUL_RUN.replace(
            "Stopping QLX service...Successfully\n",
            "Stopping QLX service..." + system_error_entry("ServiceStop", SERVICE_DOES_NOT_EXIST)
            + "Failed\n")
        expected = expected.replace(
            "Starting QLX service...Successfully\n",
            "Starting QLX service..." + system_error_entry("ServiceStart", SERVICE_DOES_NOT_EXIST)
            + "Failed\n")
        self.assertLog(expected)
        self.assertIsNone(self.host.service_state())


class DatabaseKinds(WinePatchTestCase):
    def test_the_oracle_kind_fetches_the_password_through_the_interpreter(self):
        self.host.db_type = "Oracle"
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Starting updation", ORACLE_PARAMETERS
                                              + "Starting updation"))
        host_name = self.host.host_name()
        self.assertTrue(host_name)
        # The interpreter hands each tool its line up to the redirection,
        # with the blank that stood before it.
        self.assertEqual(self.host.tool_calls("zqpassword"),
                         [f"zqpassword -e {host_name} ",
                          f"zqpassword -l -x ZqQLXPassword -k {KEY} "])
        self.assertEqual(self.host.tool_arguments("zqpassword"),
                         [["-e", host_name], ["-l", "-x", "ZqQLXPassword", "-k", KEY]])
        self.assertEqual(self.host.database_calls(), session_calls(
            "Provider=OraOLEDB.Oracle;User ID=scott;"
            f"Password={PASSWORD};Data Source=QLXORA"))
        self.assertAddOnDirectory(["qlxdatabase.props", "Query_Timeout.txt"])
        self.assertVersionUpdated()
        self.assertServiceRunning()

    def test_the_oracle_kind_hands_the_interpreter_the_exact_lines(self):
        # A recorder in front of the real interpreter, named by COMSPEC.
        self.host.db_type = "Oracle"
        self.host.command_interpreter_recorder = True
        self.run_patch()
        recorder = rf"{self.host.tools_dir}\cmdrecorder.exe"
        addon = self.host.addon_dir
        self.assertEqual(self.host.tool_calls("cmdrecorder"), [
            f'"{recorder}" /c hostname > "{addon}\\pass1.txt"',
            f'"{recorder}" /c zqpassword -e {self.host.host_name()} > "{addon}\\pass1.txt"',
            f'"{recorder}" /c zqpassword -l -x ZqQLXPassword -k {KEY} > "{addon}\\pass2.txt"',
        ])
        self.assertAddOnDirectory(["qlxdatabase.props", "Query_Timeout.txt"])

    def test_an_interpreter_that_does_not_start_gives_way_to_cmd(self):
        self.host.db_type = "Oracle"
        self.host.comspec = r"C:\Nowhere\cmd.exe"
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Starting updation", ORACLE_PARAMETERS
                                              + "Starting updation"))
        self.assertEqual(self.host.tool_arguments("zqpassword"),
                         [["-e", self.host.host_name()],
                          ["-l", "-x", "ZqQLXPassword", "-k", KEY]])
        self.assertToolsRegistered()
        self.assertAddOnDirectory(["qlxdatabase.props", "Query_Timeout.txt"])


class DatabaseFailures(WinePatchTestCase):
    """The provider fails one kind of call; the COM error entries are the
    program's own, with the system's message for the HRESULT."""

    def test_an_open_that_fails_without_error_information(self):
        self.host.database_failure = f"Open {E_FAIL:X}"
        self.run_patch()
        self.assertLog("Updating QLX database...\n"
                       "Stopping QLX service...Successfully\n"
                       "KTRDatabaseInterface - OpenGlobalConnection failed\n"
                       + com_error_entry("OpenGlocalConnection", E_FAIL) +
                       "Failed to open database connection\n"
                       "Starting QLX service...Successfully\n"
                       "QLX database updation completed\n\n")
        self.assertEqual(self.host.database_calls(), opening_calls())
        self.assertVersionUnchanged()
        self.assertToolsUntouched()
        self.assertServiceRunning()

    def test_statements_that_fail_with_error_information(self):
        self.host.database_failure = f"Execute {DB_E_ERRORSINCOMMAND:X} {SYNTAX_ERROR}"
        self.run_patch()
        entry = com_error_entry("ExecuteQuery", DB_E_ERRORSINCOMMAND, SYNTAX_ERROR)
        self.assertLog(SUCCESSFUL_RUN.replace(
            "Starting updation...\nSuccessfully\nSuccessfully\n",
            f"Starting updation...\n{entry}Query = {FIRST}\nFailed\n"
            f"{entry}Query = {SECOND}\nFailed\n"))
        self.assertEqual(self.host.database_calls(), session_calls())
        self.assertVersionUpdated()
        self.assertServiceRunning()


class HostConfiguration(WinePatchTestCase):
    def aborted(self, before=""):
        return ("Updating QLX database...\n"
                "Stopping QLX service...Successfully\n"
                + before +
                "KTRDatabaseInterface - OpenGlobalConnection aborted (code 5, error 2)\n"
                "Failed to open database connection\n"
                "Starting QLX service...Successfully\n"
                "QLX database updation completed\n\n")

    def test_a_missing_database_settings_file_aborts_only_the_connection(self):
        self.host.files[r"config\database.props"] = None
        self.run_patch()
        self.assertLog(self.aborted())
        self.assertIsNone(self.host.database_calls())
        self.assertServiceRunning()
        self.assertVersionUnchanged()
        self.assertAddOnDirectory(["qlxdatabase.props"])

    def test_a_missing_database_settings_file_stops_the_oracle_path_before_any_tool(self):
        self.host.db_type = "Oracle"
        self.host.files[r"config\database.props"] = None
        self.run_patch()
        self.assertLog(self.aborted("KTRDatabaseInterface - GetOracleDatabaseParameters started\n"
                                    "KTRDatabaseInterface - GetPassword()\n"))
        self.assertEqual(self.host.tool_calls("zqpassword"), [])
        self.assertIsNone(self.host.database_calls())
        self.assertAddOnDirectory(["qlxdatabase.props"])
        self.assertServiceRunning()

    def test_missing_global_settings_give_the_one_console_message_and_sql_server(self):
        self.host.db_type = None
        result = self.host.run(PATCH)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, on_disk(
            f"Error in opening the file: {self.host.host_dir}\\config\\globalsettings.props\n"))
        self.assertLog(SUCCESSFUL_RUN)
        self.assertEqual(self.host.tool_calls("zqpassword"), [])
        self.assertEqual(self.host.database_calls(), session_calls())

    def test_an_existing_query_timeout_file_is_read_and_kept(self):
        self.host.addon_files["Query_Timeout.txt"] = b"Query_Timeout_Value = 1 20\r\n"
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN)
        # 120 s as the command time-out, the connection's own 60 s apart.
        self.assertEqual(self.host.database_calls()[:4], opening_calls(command_timeout=120))
        self.assertEqual(self.host.file_bytes(rf"{self.host.addon_dir}\Query_Timeout.txt"),
                         b"Query_Timeout_Value = 1 20\r\n")


class LogAndArguments(WinePatchTestCase):
    def test_a_read_only_log_is_left_unchanged_and_the_run_completes(self):
        earlier = b"An earlier run\r\n"
        self.host.work_files["QLX_patch.log"] = earlier
        self.host.lay_out()
        self.host.read_only(rf"{self.host.work_dir}\QLX_patch.log")
        result = self.host.run_again(PATCH)
        self.assertEqual(result.returncode, 0)
        self.assertEqual(self.host.log(), earlier)
        self.assertServiceRunning()
        self.assertVersionUpdated()

    def test_arguments_make_no_difference(self):
        self.run_patch("/quiet", "--help", "two words")
        self.assertLog(SUCCESSFUL_RUN)
        self.assertServiceRunning()

    def test_a_second_run_appends_to_the_log(self):
        self.run_patch()
        self.assertServiceRunning()
        result = self.host.run_again(PATCH)
        self.assertEqual(result.returncode, 0)
        self.assertLog(SUCCESSFUL_RUN * 2)
        self.assertEqual(self.host.database_calls(), session_calls() * 2)


class VersionValues(WinePatchTestCase):
    def test_without_a_build_value_the_version_step_fails(self):
        del self.host.registry[ADDON_KEY]["Build"]
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Updating QLX version...Successfully",
                                              "Updating QLX version...Failed"))
        self.assertRegistry(None, (REG_SZ, "4.2.0"), (REG_SZ, "4.2.0"))
        self.assertToolsUntouched()
        self.assertServiceRunning()

    def test_a_longer_version_and_an_expandable_display_version_become_4_3_1(self):
        self.host.registry[ADDON_KEY]["Version"] = (REG_SZ, "4.2.0.1234 (hotfix 7)")
        self.host.registry[UNINSTALL_KEY]["DisplayVersion"] = (REG_EXPAND_SZ, "%QLX_BASE%4.2.0")
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN)
        self.assertRegistry((REG_SZ, "4.3.1"), (REG_SZ, "4.3.1"), (REG_EXPAND_SZ, "4.3.1"))
        self.assertToolsRegistered()

    def test_a_numeric_build_value_is_refused_and_kept(self):
        self.host.registry[ADDON_KEY]["Build"] = (REG_DWORD, 4201)
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Updating QLX version...Successfully",
                                              "Updating QLX version...Failed"))
        self.assertRegistry((REG_DWORD, 4201), (REG_SZ, "4.2.0"), (REG_SZ, "4.2.0"))
        self.assertToolsUntouched()

    def test_version_values_only_in_the_64_bit_view_are_not_seen(self):
        # The three values where a 64-bit installer would leave them; the
        # directories stay in the 32-bit view, the only one the 32-bit patch
        # sees. It must neither find the three nor create them.
        moved = ((ADDON_KEY, "Build"), (ADDON_KEY, "Version"), (UNINSTALL_KEY, "DisplayVersion"))
        for key, name in moved:
            self.host.registry_64.setdefault(key, {})[name] = self.host.registry[key].pop(name)
        del self.host.registry[UNINSTALL_KEY]
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Updating QLX version...Successfully",
                                              "Updating QLX version...Failed"))
        self.assertRegistry(None, None, None)
        self.assertEqual(self.host.registry_values(VIEW_64), {
            (ADDON_KEY, "Build"): (REG_SZ, "4.2.0.1234"),
            (ADDON_KEY, "Version"): (REG_SZ, "4.2.0"),
            (UNINSTALL_KEY, "DisplayVersion"): (REG_SZ, "4.2.0")})
        self.assertAddOnDirectory(["qlxdatabase.props", "Query_Timeout.txt"])
        self.assertToolsUntouched()


class ToolRegistration(WinePatchTestCase):
    def test_every_step_succeeds(self):
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN)
        self.assertServiceRunning()
        self.assertVersionUpdated()
        self.assertToolsRegistered()
        self.assertEqual(self.host.file_bytes(self.installed_tools),
                         self.host.work_files["qlxtools.xml"])
        self.assertEqual(self.temporary_leftovers(), [])
        self.assertEqual(self.host.database_calls(), session_calls())
        self.assertEqual(self.host.tool_calls("zqpassword"), [])
        self.assertAddOnDirectory(["qlxdatabase.props", "Query_Timeout.txt"])
        self.assertEqual(self.host.file_bytes(rf"{self.host.addon_dir}\Query_Timeout.txt"),
                         b"Query_Timeout_Value=60")

    def test_a_host_directory_with_blanks_reaches_the_tool_in_one_piece(self):
        self.host.move_host(r"C:\Program Files\Orvanta Vantline")
        self.installed_tools = rf"{self.host.host_dir}\Tools\qlxtools.xml"
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN)
        self.assertToolsRegistered()
        self.assertEqual(self.host.file_bytes(self.installed_tools),
                         self.host.work_files["qlxtools.xml"])

    def test_a_failing_removal_skips_the_copy_and_the_addition(self):
        self.host.tool_exit[("zqtool", "-r")] = 1
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace("Updating QLX version...Successfully",
                                              "Updating QLX version...Failed"))
        self.assertToolsRegistered(actions=("-r",))
        self.assertEqual(self.host.file_bytes(self.installed_tools),
                         b"<tools version=\"4.2\"/>\r\n")
        self.assertEqual(self.temporary_leftovers(), [])
        self.assertVersionUpdated()  # written before the refresh
        self.assertServiceRunning()

    def test_a_missing_new_definition_file_still_adds_and_fails(self):
        self.host.work_files["qlxtools.xml"] = None
        self.run_patch()
        self.assertLog(SUCCESSFUL_RUN.replace(
            "Updating QLX version...Successfully",
            "Updating QLX version..."
            + system_error_entry("RefreshToolRegistration", FILE_NOT_FOUND) + "Failed"))
        self.assertToolsRegistered()
        self.assertEqual(self.host.file_bytes(self.installed_tools),
                         b"<tools version=\"4.2\"/>\r\n")
        self.assertServiceRunning()


def _lines(data):
    """The lines of a file, each with its line end; only a line feed ends a
    line, so a lone carriage return stays visible inside its line."""
    return [line.decode("latin-1") for line in re.findall(rb"[^\n]*\n|[^\n]+$", data)]


def _side_by_side(left, right):
    """Rows (expected line, actual line, marker) aligned by difflib."""
    matcher = difflib.SequenceMatcher(a=left, b=right, autojunk=False)
    for tag, i1, i2, j1, j2 in matcher.get_opcodes():
        if tag == "equal":
            for a, b in zip(left[i1:i2], right[j1:j2]):
                yield a, b, "|"
            continue
        a, b = left[i1:i2], right[j1:j2]
        for k in range(max(len(a), len(b))):
            yield (a[k] if k < len(a) else None, b[k] if k < len(b) else None, "X")


class Check(WinePatchTestCase):
    """The shipped qlxcheck.exe before and after the patch: its rows, its exit
    status, and that it changes nothing the patch changes."""

    BEFORE = ("Elevation", "Directories", "Version values", "Database kind", "Connection",
              "Provider", "Database", "Models", "Service", "Host tools", "Tool files", "Log",
              "Folders")
    AFTER = ("Version values", "Models", "Service", "Tool files", "Last run")

    def check(self, *arguments):
        """The exit status and the JSON's rows as {name: status}."""
        result = self.host.run_again(os.environ["QLX_CHECK"], "--json", *arguments)
        rows = json.loads(result.stdout)["rows"]
        return result.returncode, {row["name"]: row["status"] for row in rows}

    def test_a_healthy_prefix_passes_before_and_after_the_patch(self):
        self.host.lay_out()
        for db_type in ("Oracle", "SQLServer"):
            self.host.write(rf"{self.host.host_dir}\config\globalsettings.props",
                            f"dbType={db_type}\r\n".encode())
            self.assertEqual(self.check(), (0, dict.fromkeys(self.BEFORE, "OK")))
        self.assertIsNone(self.host.log())
        self.assertIsNone(self.host.file_bytes(self.host.database_table))
        self.assertAddOnDirectory(["qlxdatabase.props"])
        self.assertVersionUnchanged()
        self.assertToolsUntouched()
        self.assertEqual(self.host.run_again(PATCH).returncode, 0)
        self.assertEqual(self.host.file_bytes(self.host.database_table), b"TX540A1\nTX520A1\n")
        self.assertEqual(self.check("--after"), (0, dict.fromkeys(self.AFTER, "OK")))

    def test_a_disabled_service_fails_its_row_with_a_fix(self):
        self.host.service = "disabled"
        self.host.lay_out()
        self.assertEqual(self.check(), (1, {**dict.fromkeys(self.BEFORE, "OK"), "Service": "FAIL"}))
        self.assertRegex(self.host.run_again(os.environ["QLX_CHECK"]).text(),
                         r'\nFAIL Service +"OV Quellmark" is disabled.*\r\n     fix: \S')


class PlantedPrograms(WinePatchTestCase):
    """An administrator runs the patch from a folder that other users may
    write to: programs planted in the exe's folder or the current directory
    under the names the patch runs are never started, whatever COMSPEC says,
    while the real tools are."""

    PLANTED = ("cmd", "hostname", "zqpassword", "zqtool")
    ENVIRONMENTS = (r"HKCU\Environment",
                    r"HKLM\System\CurrentControlSet\Control\Session Manager\Environment")

    def set_comspec(self, value):
        for key in self.ENVIRONMENTS:
            self.prefix.tool("reg", "delete", key, "/v", "COMSPEC", "/f")
        if value is not None:
            self.prefix.check("reg", "add", self.ENVIRONMENTS[0], "/v", "COMSPEC", "/d", value,
                              "/f")

    def test_programs_planted_beside_the_exe_or_in_the_current_directory_never_run(self):
        self.host.db_type = "Oracle"
        exe = r"C:\PatchProgram\qlxpatch.exe"
        planted_in = (str(PureWindowsPath(exe).parent), self.host.work_dir)
        self.host.lay_out()
        self.host.write(exe, Path(PATCH).read_bytes())
        for directory in planted_in:
            for name in self.PLANTED:
                self.host.write(rf"{directory}\{name}.exe", self.host.fake_tool.read_bytes())
        comspecs = (None, "cmd.exe", r"C:\windows\system32\cmd.exe")
        for runs, comspec in enumerate(comspecs, start=1):
            with self.subTest(comspec=comspec):
                self.set_comspec(comspec)
                self.assertEqual(self.host.run_again(exe).returncode, 0)
                started = [str(p) for d in planted_in
                           for p in self.prefix.unix_path(d).glob("*.calls")]
                self.assertEqual(started, [])
                self.assertEqual(len(self.host.tool_calls("zqpassword")), 2 * runs)
                self.assertEqual(len(self.host.tool_calls("zqtool")), 2 * runs)
        self.assertLog((SUCCESSFUL_RUN.replace("Starting updation", ORACLE_PARAMETERS
                                               + "Starting updation")) * len(comspecs))
        self.assertAddOnDirectory(["qlxdatabase.props", "Query_Timeout.txt"])
