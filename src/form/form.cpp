#include "form/form.h"

#include "record/area.h"

namespace kav::form {

std::string_view form_name(std::string_view name) { return record::trim_right(name); }

Form* FormSet::find(std::string_view name) const {
  const std::string_view wanted = form_name(name);
  for (Form* f : forms_) {
    const std::string& n = f->design().name;
    if (n.size() != wanted.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < n.size() && same; ++i) {
      auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
      same = lower(n[i]) == lower(wanted[i]);
    }
    if (same) return f;
  }
  return nullptr;
}

}  // namespace kav::form
