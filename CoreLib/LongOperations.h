// The unit's global string list, made when the unit starts and freed when it
// ends. Nothing in the program fills it.
#pragma once

#include <string>
#include <vector>

std::vector<std::string>& LongOperationStrings();
