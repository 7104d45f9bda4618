#pragma once

// The one table of the program's settings: value names under the settings group.
namespace SettingName {
constexpr const char* KelmPath = "kelmpath";        // runner executable
constexpr const char* KelmSource = "kelmsource";    // directory given with -path; read by nothing
constexpr const char* DefHostname = "def_hostname"; // default kernel host; absent: "localhost"
constexpr const char* DefInstance = "def_instance"; // default kernel instance as text; absent: "0"
constexpr const char* DefLogon = "def_logon";       // exactly "on" uses the default kernel
constexpr const char* TagList = "taglist";          // tag-list file of the statement editor
constexpr const char* Hostname = "hostname";        // last host of the log-on dialog
constexpr const char* Instance = "instance";        // last instance of the log-on dialog
} // namespace SettingName

namespace SettingDefault {
constexpr const char* Hostname = "localhost";
constexpr const char* Instance = "0";
} // namespace SettingDefault
