#pragma once
#include <string>

namespace standin {

// Saves what the screen shows as a 24-bit BMP file; false when it cannot.
bool SaveScreenshot(const std::string& path);

}  // namespace standin
