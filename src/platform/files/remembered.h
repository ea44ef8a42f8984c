// What the program remembers for its user from one run to the next, such as the report
// form's last entries: text values by group and key, in the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config) as rmx7scope/remembered.conf.
#pragma once

#include <string>

// The value last remembered, or "" when there is none.
std::string RememberedValue(const char *group, const char *key);
// 0, or negative when the file cannot be written: the value is then not kept.
int RememberValue(const char *group, const char *key, const std::string &value);
