#pragma once

#include <map>
#include <string>

#include "toolkit/layout.h"

namespace toolkit_detail {

// Adds the toolkit's classes that layouts can name, under their class names.
void AddToolkitClasses(std::map<std::string, TComponentFactory>& registry);

}  // namespace toolkit_detail
