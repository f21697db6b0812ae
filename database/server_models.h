#pragma once

namespace qlx {

// The two server models the patch adds to the add-on's database: each model's
// name and the statement that adds it.
struct ServerModel {
  const char* name;
  const char* insert;
};

constexpr ServerModel kServerModels[] = {
    {"TX540A1",
     "INSERT INTO Supported_Servers (Model_Name, Model_Support, Max_Processors, "
     "Hyper_Threading_Support)\tVALUES ('TX540A1', 'TX540A1x', 2 , 1)"},
    {"TX520A1",
     "INSERT INTO Supported_Servers (Model_Name, Model_Support, Max_Processors, "
     "Hyper_Threading_Support)\tVALUES ('TX520A1', 'TX520A1x', 2 , 1)"},
};

}  // namespace qlx
