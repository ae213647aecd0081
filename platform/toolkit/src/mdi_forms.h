#pragma once

#include <vector>

class TForm;

namespace toolkit_detail {

// The MDI child forms alive (forms.cpp), which the application counts and
// lists.
std::vector<TForm*>& MdiChildForms();

}  // namespace toolkit_detail
