"""The texts a run of the patch writes, as both end-to-end suites expect
them: the two statements and the log of runs in which every step succeeds.
Line ends are single line feeds, as the program writes them."""

FIRST = ("INSERT INTO Supported_Servers (Model_Name, Model_Support, Max_Processors, "
         "Hyper_Threading_Support)\tVALUES ('TX540A1', 'TX540A1x', 2 , 1)")
SECOND = FIRST.replace("TX540A1", "TX520A1")

SUCCESSFUL_RUN = ("Updating QLX database...\n"
                  "Stopping QLX service...Successfully\n"
                  "Starting updation...\n"
                  "Successfully\n"
                  "Successfully\n"
                  "Updating QLX version...Successfully\n"
                  "Starting QLX service...Successfully\n"
                  "QLX database updation completed\n"
                  "\n")

ORACLE_PARAMETERS = ("KTRDatabaseInterface - GetOracleDatabaseParameters started\n"
                     "KTRDatabaseInterface - GetPassword()\n"
                     "KTRDatabaseInterface - password extracted\n"
                     "KTRDatabaseInterface - GetOracleDatabaseParameters finished\n")
