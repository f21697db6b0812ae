// The database session of the core over the real ADO, in a host installation
// made up in the test's own registry and temporary directory. Under Wine the
// open always fails, because Wine's ADO rejects the connection time-out; the
// failure must reach the patch log exactly as the session reports it.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "database/com_error_reporting.h"
#include "database/ktr_database_interface.h"
#include "platform/win32/ado_interfaces.h"

namespace qlx {
namespace {

namespace fs = std::filesystem;

constexpr char kHostKey[] = "SOFTWARE\\Orvanta\\Vantline\\Settings";
constexpr char kAddOnKey[] = "SOFTWARE\\OV\\Quellmark";
constexpr int32_t kENotImpl = static_cast<int32_t>(0x80004001);

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// A string value below HKEY_LOCAL_MACHINE. The keys on its path that did not
// exist before are deleted again, deepest first, when it goes out of scope.
class ScratchRegistryValue {
 public:
  ScratchRegistryValue(const std::string& key_path, const std::string& name,
                       const std::string& text) {
    for (std::string::size_type end = 0; end != std::string::npos;) {
      end = key_path.find('\\', end + 1);
      CreateLevel(key_path.substr(0, end));
    }
    ok_ =
        ok_ && RegSetKeyValueA(HKEY_LOCAL_MACHINE, key_path.c_str(), name.c_str(), REG_SZ,
                               text.c_str(), static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
  }
  ~ScratchRegistryValue() {
    for (auto level = created_.rbegin(); level != created_.rend(); ++level) {
      RegDeleteKeyA(HKEY_LOCAL_MACHINE, level->c_str());
    }
  }
  ScratchRegistryValue(const ScratchRegistryValue&) = delete;
  ScratchRegistryValue& operator=(const ScratchRegistryValue&) = delete;

  bool Stored() const { return ok_; }

 private:
  void CreateLevel(const std::string& path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS) {
      ok_ = false;
      return;
    }
    RegCloseKey(key);
    if (disposition == REG_CREATED_NEW_KEY) created_.push_back(path);
  }

  bool ok_ = true;
  std::vector<std::string> created_;
};

fs::path NewTemporaryDirectory() {
  std::random_device random;
  for (;;) {
    const fs::path candidate = fs::temp_directory_path() / ("qlx-ado-" + std::to_string(random()));
    if (fs::create_directory(candidate)) return candidate;
  }
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// Read in text mode: the log's line ends come back as "\n".
std::string ReadText(const fs::path& path) {
  std::ifstream file(path);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A SQL Server installation of the host and the add-on's directory, named in
// the registry; the test runs in the sandbox as its current directory.
class AdoSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunningUnderWine()) GTEST_SKIP() << "expects Wine's ADO, which cannot open";
    root_ = NewTemporaryDirectory();
    WriteText(root_ / "host" / "config" / "globalsettings.props", "dbType=SQLServer\n");
    WriteText(root_ / "host" / "config" / "database.props",
              "ov.Database.hostName=dbhost\nov.Database.portNumber=1433\n");
    WriteText(root_ / "addon" / "Query_Timeout.txt", "Query_Timeout_Value=30");
    host_value_.emplace(kHostKey, "InstallPath", (root_ / "host").string());
    addon_value_.emplace(kAddOnKey, "ExtensionBase", (root_ / "addon").string());
    ASSERT_TRUE(host_value_->Stored() && addon_value_->Stored());
    previous_directory_ = fs::current_path();
    fs::current_path(root_);
  }

  void TearDown() override {
    if (root_.empty()) return;
    fs::current_path(previous_directory_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  std::string Log() const { return ReadText(root_ / "QLX_patch.log"); }

 private:
  fs::path root_;
  fs::path previous_directory_;
  std::optional<ScratchRegistryValue> host_value_;
  std::optional<ScratchRegistryValue> addon_value_;
};

TEST_F(AdoSessionTest, AFailedOpenIsLoggedWithTheProviderResult) {
  KTRDatabaseInterface session;
  EXPECT_FALSE(session.OpenGlobalConnection());
  EXPECT_FALSE(session.IsConnected());
  EXPECT_EQ(CurrentConnectionString(),
            "Provider=sqloledb;Data Source=dbhost,1433;Initial Catalog=QLX_v3_0;"
            "Integrated Security=SSPI");
  EXPECT_EQ(Log(),
            "KTRDatabaseInterface - OpenGlobalConnection failed\n"
            "OpenGlocalConnection failed.\n"
            "Error = 1\n"
            "Message = " +
                FormatComErrorMessage(kENotImpl) +
                "\n"
                "Description = \n");
  EXPECT_EQ(session.LastErrorOperation(), "OpenGlocalConnection");
  EXPECT_EQ(session.LastErrorCode(), 1);
}

TEST_F(AdoSessionTest, AfterAFailedOpenNothingElseTouchesTheDatabase) {
  KTRDatabaseInterface session;
  ASSERT_FALSE(session.OpenGlobalConnection());
  const std::string log = Log();
  EXPECT_FALSE(session.ExecuteQuery("INSERT INTO Supported_Servers VALUES ('x')"));
  EXPECT_FALSE(session.CloseConnection());
  EXPECT_EQ(Log(), log);
}

TEST_F(AdoSessionTest, OpeningAgainLogsAgain) {
  KTRDatabaseInterface session;
  ASSERT_FALSE(session.OpenGlobalConnection());
  const std::string first = Log();
  EXPECT_FALSE(session.OpenGlobalConnection());
  EXPECT_EQ(Log(), first + first);
}

}  // namespace
}  // namespace qlx
