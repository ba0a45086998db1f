// Pictures of the wizard for review: each page in its main states, driven against simulated
// receivers, written as PNG files.
#pragma once

#include <string>
#include <vector>

// Needs the application object. The names of the files written, in the order of the flow; on
// failure, what went wrong in error and the files written so far.
std::vector<std::string> RenderScreenshots(const std::string& folder, std::string* error);
