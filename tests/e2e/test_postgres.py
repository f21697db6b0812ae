"""The native program against a real PostgreSQL server on loopback, through
psqlODBC: the SQL Server path inserts both rows, and a statement that
outruns the command time-out from "Query_Timeout.txt" fails with the
time-out error. The server is started by the test fixture; its directory
is named by QLX_TEST_POSTGRES_DIR."""

import os
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).parent))
from expected_log import FIRST, SECOND, SUCCESSFUL_RUN  # noqa: E402
from sandbox import Sandbox  # noqa: E402

BINARY = os.environ["QLX_BINARY"]
SERVER = Path(os.environ["QLX_TEST_POSTGRES_DIR"])
DRIVER = "PostgreSQL Unicode"  # as Debian registers psqlODBC

SLOW_INSERTS = """
CREATE FUNCTION slow_insert() RETURNS trigger AS $$
BEGIN PERFORM pg_sleep(5); RETURN NEW; END $$ LANGUAGE plpgsql;
CREATE TRIGGER slow_insert BEFORE INSERT ON Supported_Servers
  FOR EACH ROW EXECUTE FUNCTION slow_insert();
"""


def connection_info():
    pairs = (line.partition("=") for line in (SERVER / "connection").read_text().splitlines())
    return {key: value for key, _, value in pairs}


class PostgresRun(unittest.TestCase):
    def setUp(self):
        self.info = connection_info()
        self.box = Sandbox(BINARY)
        self.addCleanup(self.box.remove)
        self.box.write(self.box.host / "config" / "database.props",
                       f"ov.Database.hostName=127.0.0.1\r\n"
                       f"ov.Database.portNumber={self.info['port']}\r\n")
        # Integrated security brings no credentials: the data source holds them.
        self.box.odbc_dsns["sqloledb"] = {
            "Driver": DRIVER, "Servername": "127.0.0.1", "Port": self.info["port"],
            "Database": self.info["database"], "Username": self.info["user"],
            "Password": self.info["password"]}
        self.sql("DROP TABLE IF EXISTS Supported_Servers CASCADE;"
                 "DROP FUNCTION IF EXISTS slow_insert CASCADE;"
                 "CREATE TABLE Supported_Servers (Model_Name VARCHAR(32) PRIMARY KEY,"
                 " Model_Support VARCHAR(32), Max_Processors INT, Hyper_Threading_Support INT)")

    def sql(self, statements):
        env = dict(os.environ, PGPASSWORD=self.info["password"])
        return subprocess.run(
            ["psql", "--no-psqlrc", "--quiet", "--tuples-only", "--no-align",
             "--set=ON_ERROR_STOP=1", "--host=127.0.0.1", f"--port={self.info['port']}",
             f"--username={self.info['user']}", f"--dbname={self.info['database']}",
             "--command", statements],
            env=env, check=True, capture_output=True, text=True).stdout

    def test_the_sql_server_path_inserts_both_rows(self):
        result = self.box.run()
        self.assertEqual(result.returncode, 0)
        self.maxDiff = None
        self.assertEqual(self.box.log(), SUCCESSFUL_RUN)
        self.assertEqual(self.sql("SELECT * FROM Supported_Servers ORDER BY Model_Name DESC"),
                         "TX540A1|TX540A1x|2|1\nTX520A1|TX520A1x|2|1\n")

    def test_a_statement_outrunning_the_command_timeout_fails(self):
        self.sql(SLOW_INSERTS)
        self.box.write(self.box.addon / "Query_Timeout.txt", "Query_Timeout_Value=1\r\n")
        self.box.run()
        entry = ("ExecuteQuery failed.\n"
                 "Error = 49\n"
                 "Message = IDispatch error #3121\n"
                 "Description = ERROR: canceling statement due to statement timeout;\n"
                 "Error while executing the query\n"
                 "Query = ")
        self.maxDiff = None
        self.assertEqual(self.box.log(), SUCCESSFUL_RUN.replace(
            "Starting updation...\nSuccessfully\nSuccessfully\n",
            f"Starting updation...\n{entry}{FIRST}\nFailed\n{entry}{SECOND}\nFailed\n"))
        self.assertEqual(self.sql("SELECT count(*) FROM Supported_Servers"), "0\n")


if __name__ == "__main__":
    unittest.main()
